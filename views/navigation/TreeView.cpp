#include "TreeView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_set>

#include "NorvListView.h"
#include "NorvQtMenu.h"
#include "norv/NorvClipboard.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvTreePath.h"
#include "norv/NorvViewServices.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/resources.h"

using namespace norvcmd;

namespace {

constexpr DWORD MK_LBUTTON = 0x01;
constexpr DWORD MK_RBUTTON = 0x02;
constexpr DWORD MK_SHIFT = 0x04;
constexpr DWORD MK_CONTROL = 0x08;
constexpr DWORD MK_MBUTTON = 0x10;
constexpr DWORD MK_ALT = 0x20;
constexpr DWORD DROPEFFECT_COPY = 1;
constexpr DWORD DROPEFFECT_MOVE = 2;
constexpr DWORD DROPEFFECT_LINK = 4;

CNorvTreeListItem* gLastShownItem = nullptr;

// Items watched while plugin code runs: a destroyed item's watch is nulled.
std::vector<CNorvTreeListItem**>& Watches() {
  static std::vector<CNorvTreeListItem**> watches;
  return watches;
}

class ItemWatch {
 public:
  explicit ItemWatch(CNorvTreeListItem* item) : m_item(item) { Watches().push_back(&m_item); }
  ~ItemWatch() {
    auto& w = Watches();
    w.erase(std::find(w.begin(), w.end(), &m_item));
  }
  ItemWatch(const ItemWatch&) = delete;
  ItemWatch& operator=(const ItemWatch&) = delete;
  CNorvTreeListItem* get() const { return m_item; }
  explicit operator bool() const { return m_item != nullptr; }

 private:
  CNorvTreeListItem* m_item;
};

QString Q(const NorvString& text) { return QString::fromStdWString(text); }
NorvString W(const QString& text) { return text.toStdWString(); }

QColor ColorOf(DWORD value) {
  if (value == NORV_DEFAULT_COLOR) return {};
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

// The text and images `item` gives for its node (called in its scope).
void ReadNodeLabel(CNorvTreeListItem* item, QString& text, int& image, int& selectedImage) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  item->GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
  if (p == nullptr) p = &info;
  const int offset = item->GetImageListOffset();
  text = Q(p->strText);
  image = p->nImage != -1 ? p->nImage + offset : -1;
  selectedImage = p->nSelectedImage != -1 ? p->nSelectedImage + offset : -1;
}

CmdResult CallCommand(CNorvTreeListItem* item, CNorvTLItemList* list, UINT command, DWORD param,
                      void* pParam) {
  CNorvItemCallScope scope(item);
  return NORV_ITEM_COMMAND(item, list, command, param, pParam);
}

int InitMenuEnabled(CNorvTreeListItem* item, UINT command, int preset) {
  if (item == nullptr) return 0;
  int enabled = preset;
  int checked = 0;
  CNorvItemCallScope scope(item);
  item->InitMenuInfo(command, enabled, checked, 0);
  return enabled;
}

// Shows the selected image for the selected node.
class TreeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (option->state & QStyle::State_Selected) {
      const QVariant selected = index.data(CNorvTreeModel::SelectedImageRole);
      if (selected.isValid()) option->icon = selected.value<QIcon>();
    }
  }
};

}  // namespace

INorvNavigationFrame::~INorvNavigationFrame() = default;

INorvNavigationFrame* NorvNoNavigationFrame() {
  static INorvNavigationFrame none;
  return &none;
}

// Suspends both redraws and marks the refresh as running for a scope.
struct TreeView::RefreshGuard {
  explicit RefreshGuard(TreeView* view) : v(view) {
    v->SetRedrawStack(FALSE);
    v->SetViewRedrawStack(FALSE);
  }
  ~RefreshGuard() {
    v->SetViewRedrawStack(TRUE);
    v->SetRedrawStack(TRUE);
  }
  TreeView* v;
};

// ===========================================================================
// Construction
// ===========================================================================

TreeView::TreeView(QWidget* parent) : QTreeView(parent), m_frame(NorvNoNavigationFrame()) {
  m_model = new CNorvTreeModel(this);
  setModel(m_model);
  setItemDelegate(NewItemDelegate(this));
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setExpandsOnDoubleClick(true);
  setAutoScroll(false);  // drags scroll by the tree's own rule
  setFrameShape(QFrame::NoFrame);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  header()->setStretchLastSection(true);

  m_model->SetFetcher([this](NorvTreeNode* node) { ExpandNode(node); });
  m_model->SetEditHandler([this](NorvTreeNode* node, const QString& text) {
    CNorvTreeListItem* item = node->item;
    if (item == nullptr) return false;
    StopRefreshTimer();
    BOOL accepted = FALSE;
    {
      CNorvItemCallScope scope(item);
      accepted = item->EndEdit(W(text));
    }
    SetupRefreshTimer();
    return accepted != FALSE;
  });
  m_model->SetImageProvider([this](int index) { return m_frame->GetImage(index); });
  if (CNorvDoc* doc = CNorvDoc::GetDoc()) {
    setFont(doc->GetViewFont());
    m_model->SetFonts(doc->GetViewFont(), doc->GetBoldFont(), doc->GetItalicFont(),
                      doc->GetBoldItalicFont());
  }

  m_refreshTimer.setSingleShot(true);
  connect(&m_refreshTimer, &QTimer::timeout, this, [this] { OnRefreshTimer(); });
  m_selectionTimer.setSingleShot(true);
  connect(&m_selectionTimer, &QTimer::timeout, this,
          [this] { OnSelectionTimer(kUserSelectionTimer); });
  connect(&m_itemTimer, &QTimer::timeout, this, [this] { OnItemTimer(); });
  m_hoverTimer.setSingleShot(true);
  connect(&m_hoverTimer, &QTimer::timeout, this, [this] { OnHoverExpand(); });
}

TreeView::~TreeView() {
  // The items outlive the tree; the one last shown hears that it is no
  // longer shown (the frame's closing has usually told it already).
  ForgetLastShownItem(TRUE);
  ClearTree();
  if (m_droppedItems != nullptr) {
    m_droppedItems->ClearList();
    delete m_droppedItems;
  }
}

void TreeView::SetFrame(INorvNavigationFrame* frame) {
  m_frame = frame != nullptr ? frame : NorvNoNavigationFrame();
}

CNorvView* TreeView::ContentView() const {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  return doc != nullptr ? doc->GetCurrentView() : nullptr;
}

// ===========================================================================
// Building the tree
// ===========================================================================

void TreeView::FillNodeInit(CNorvTreeListItem* item, NorvTreeNodeInit& init) {
  CNorvItemCallScope scope(item);
  init.item = item;
  ReadNodeLabel(item, init.text, init.image, init.selectedImage);
  init.childIndicator = item->HasTreeItems() != FALSE;
}

QStyledItemDelegate* TreeView::NewItemDelegate(QObject* parent) { return new TreeDelegate(parent); }

void TreeView::InitTree(CNorvTreeListItem* root) {
  ClearTree();
  if (root == nullptr) return;
  std::vector<NorvTreeNodeInit> inits(1);
  FillNodeInit(root, inits[0]);
  NorvTreeNode* node = m_model->AppendChildren(m_model->Top(), inits);
  root->SetParent(nullptr);
  UpdateNode(node);
  SetNodeExpanded(node, true);
  const NorvString target = CNorvTreeListItem::TakeNavigationTarget();
  if (!target.empty() && NavigateTo(target, nullptr, NavigationOrdinary, -1) == NavigationOk)
    return;
  SelectNode(node);
}

void TreeView::ClearTree() {
  m_selectionTimer.stop();
  m_userSelectionPending = FALSE;
  m_lastSelected = nullptr;
  m_hoverNode = nullptr;
  m_waitingNode = nullptr;
  m_popupItem = nullptr;
  m_selectedItem = nullptr;
  ++m_ownUnlink;
  m_model->RemoveChildren(m_model->Top());
  --m_ownUnlink;
  viewport()->update();
}

void TreeView::RootDestroying() {
  ForgetLastShownItem(FALSE);
  ClearTree();
}

void TreeView::ExpandNode(NorvTreeNode* node) {
  if (node == nullptr || node->item == nullptr) return;
  ItemWatch item(node->item);
  const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
  bool failed = (item.get()->GetFlags() & NORV_ITEM_ACCESSERROR) != 0;
  if (!failed) {
    // Show that the tree waits for the plugin: the node says so and the
    // status bar names the object, painted before the call.
    node->waiting = true;
    m_waitingNode = node;
    const bool show = isVisible() && updatesEnabled();
    if (show) {
      m_model->NodeChanged(node);
      m_frame->ShowStatusText(W(tr("Reading %1 ...").arg(node->text)));
      viewport()->repaint();
    }
    QElapsedTimer clock;
    clock.start();
    GetItemsResult result = GETITEMS_FAILED;
    {
      CNorvItemCallScope scope(item.get());
      result = NORV_ITEM_GETITEMS(item.get(), TRUE);
    }
    const qint64 took = clock.elapsed();
    if (took >= kSlowGetItemsMs)
      NORV_BASE_TRACE(
          2, 0,
          NorvFormatString(L"TreeView::ExpandNode: GetItems took %d ms: %s", static_cast<int>(took),
                           NorvGetItemTraceInfo(item.get()).c_str()));
    m_waitingNode = nullptr;
    if (!item || CNorvTreeModel::NodeOf(item.get()) != node) {
      // The plugin destroyed the item or the tree dropped the node meanwhile.
      if (show) m_frame->ShowStatusText(NorvString());
      if (cursor) QApplication::restoreOverrideCursor();
      return;
    }
    node->waiting = false;
    if (show) {
      m_model->NodeChanged(node);
      m_frame->ShowStatusText(NorvString());
    }
    failed = result != GETITEMS_OK;
  }
  if (failed) {
    item.get()->SetFlags(NORV_ITEM_ACCESSERROR, FALSE);
    node->expandedOnce = true;
    m_model->SetChildIndicator(node, false);
    if (cursor) QApplication::restoreOverrideCursor();
    return;
  }
  std::vector<NorvTreeNodeInit> inits;
  inits.reserve(static_cast<std::size_t>(item.get()->GetItemList().GetCount()));
  for (CNorvTreeListItem* child : item.get()->GetItemList()) {
    if (child == nullptr || (child->GetItemListMask() & NORV_ITEMLIST_TREE) == 0) continue;
    if (CNorvTreeModel::NodeOf(child) != nullptr) continue;  // already shown
    inits.emplace_back();
    FillNodeInit(child, inits.back());
  }
  BOOL sort = FALSE;
  {
    CNorvItemCallScope scope(item.get());
    sort = item.get()->SortTreeItems();
  }
  if (sort && inits.size() > 1) {
    std::stable_sort(inits.begin(), inits.end(),
                     [](const NorvTreeNodeInit& a, const NorvTreeNodeInit& b) {
                       return CompareFunc(a.item, b.item, 0x10000) < 0;
                     });
  }
  node->expandedOnce = true;
  const bool any = !inits.empty() || !node->children.empty();
  m_model->AppendChildren(node, inits);
  m_model->SetChildIndicator(node, any);
  if (cursor) QApplication::restoreOverrideCursor();
}

NorvTreeNode* TreeView::Insert(CNorvTreeListItem* item, NorvTreeNode* parent, bool select) {
  if (item == nullptr || parent == nullptr) return nullptr;
  std::vector<NorvTreeNodeInit> inits(1);
  FillNodeInit(item, inits[0]);
  NorvTreeNode* node = m_model->AppendChildren(parent, inits);
  if (select) SelectNode(node);
  return node;
}

void TreeView::UpdateNode(NorvTreeNode* node) {
  if (node == nullptr || node->item == nullptr) return;
  ReadNode(node);
  m_model->NodeChanged(node);
}

void TreeView::ReadNode(NorvTreeNode* node) {
  CNorvTreeListItem* item = node->item;
  CNorvItemCallScope scope(item);
  ReadNodeLabel(item, node->text, node->image, node->selectedImage);
  treeListViewInfo looks;
  treeListViewInfo* q = &looks;
  item->GetTreeViewInfo(q, NORV_TLVI_COLORS);
  if (q == nullptr) q = &looks;
  node->foreground = ColorOf(q->crText);
  node->background = ColorOf(q->crBackground);
  node->bold = q->bBold != FALSE;
  node->italic = q->bItalic != FALSE;
}

BOOL TreeView::IsNodeExpanded(const NorvTreeNode* node) const {
  return node != nullptr && isExpanded(m_model->IndexFromNode(node)) ? TRUE : FALSE;
}

void TreeView::SetNodeExpanded(NorvTreeNode* node, bool expanded) {
  if (node == nullptr) return;
  if (expanded && !node->expandedOnce && node->item != nullptr) ExpandNode(node);
  setExpanded(m_model->IndexFromNode(node), expanded);
}

// ===========================================================================
// Paths and navigation
// ===========================================================================

NorvString TreeView::GetItemPath(const NorvTreeNode* node) const {
  std::vector<NorvString> texts;
  for (const NorvTreeNode* n = node; n != nullptr && n->parent != nullptr &&
                                     n->parent != const_cast<CNorvTreeModel*>(m_model)->Top();
       n = n->parent)
    texts.push_back(W(n->text));
  std::reverse(texts.begin(), texts.end());
  return JoinTreePath(texts);
}

BOOL TreeView::ExtractSubPath(NorvString& path, NorvString& head) {
  return ::ExtractSubPath(path, head);
}

TreeView::NavigationResult TreeView::NavigateTo(const NorvString& path, NorvTreeNode* start,
                                                NavigationMethod method, int viewMode) {
  NorvTreeNode* top =
      m_model->Top()->children.empty() ? nullptr : m_model->Top()->children[0].get();
  NorvTreeNode* current = start;
  for (const NorvTreePathStep& step : ParseTreePath(path)) {
    if (step.kind == NorvTreePathStep::kRoot) {
      current = top;
      if (current == nullptr) return NavigationNotFound;
      continue;
    }
    if (step.kind == NorvTreePathStep::kSelection) {
      current = GetSelectedNode();
      if (current == nullptr) return NavigationNotFound;
      continue;
    }
    if (current == nullptr) current = GetSelectedNode();
    if (current == nullptr) return NavigationNotFound;
    if (step.kind == NorvTreePathStep::kParent) {
      if (current->parent == nullptr || current->parent == m_model->Top())
        return NavigationNotFound;
      current = current->parent;
      continue;
    }
    if (step.kind == NorvTreePathStep::kNearestAncestor) {
      // Climb to the nearest ancestor with exactly that text; without one
      // up to the top, the element is looked for below the top node.
      NorvTreeNode* found = nullptr;
      for (NorvTreeNode* p = current->parent; p != nullptr && p != m_model->Top(); p = p->parent) {
        if (W(p->text) == step.text) {
          found = p;
          break;
        }
      }
      if (found != nullptr) {
        current = found;
        continue;
      }
      NorvTreeNode* child = FindChild(top, step.text);
      if (child == nullptr) return NavigationNotFound;
      current = child;
      continue;
    }
    NorvTreeNode* child = FindChild(current, step.text);
    if (child == nullptr) return NavigationNotFound;
    current = child;
  }
  if (current == nullptr) current = GetSelectedNode();
  if (current == nullptr) return NavigationNotFound;
  return NavigateHere(current, method, viewMode);
}

NorvTreeNode* TreeView::FindChild(NorvTreeNode* parent, const NorvString& text) {
  return FindChildNode(parent, text, [this](NorvTreeNode* node) { ExpandNode(node); });
}

NorvTreeNode* TreeView::FindChildNode(NorvTreeNode* parent, const NorvString& text,
                                      const std::function<void(NorvTreeNode*)>& expand) {
  if (parent == nullptr) return nullptr;
  if (!parent->expandedOnce && parent->item != nullptr) {
    BOOL has = FALSE;
    {
      CNorvItemCallScope scope(parent->item);
      has = parent->item->HasTreeItems();
    }
    if (has) expand(parent);
  }
  const QString wanted = Q(text);
  for (auto& child : parent->children) {
    if (child->item == nullptr) continue;
    if (child->text.compare(wanted, Qt::CaseInsensitive) == 0) return child.get();
  }
  return nullptr;
}

TreeView::NavigationResult TreeView::NavigateHere(NorvTreeNode* node, NavigationMethod method,
                                                  int viewMode) {
  m_navigationMethod = method;
  CNorvTreeListItem* item = node->item;
  if (item == nullptr) return NavigationNotFound;
  const bool selected = GetSelectedNode() == node;
  if (viewMode != -1) {
    CNorvItemCallScope scope(item);
    if (viewMode != item->GetViewMode() && item->HasViewMode(viewMode)) {
      item->SetViewMode(viewMode);
      if (selected) {
        SetViewRedrawStack(FALSE);
        ShowSelection();
        SetViewRedrawStack(TRUE);
        if (method != NavigationHistory) m_frame->UpdateHistoryViewMode(viewMode);
      }
    }
  }
  if (!selected) {
    if (!SelectNode(node)) return NavigationRefused;
    scrollTo(m_model->IndexFromNode(node), QAbstractItemView::PositionAtTop);
  }
  return NavigationOk;
}

BOOL TreeView::RefreshClassPath(const NorvString& classPath, NorvTreeNode* start, DWORD flags) {
  std::size_t from = 0;
  while (from <= classPath.size()) {
    std::size_t end = classPath.find(L';', from);
    if (end == NorvString::npos) end = classPath.size();
    const NorvString one = classPath.substr(from, end - from);
    if (!one.empty()) ApplyClassPath(ParseTreePath(one), 0, start, flags);
    from = end + 1;
  }
  return TRUE;
}

void TreeView::ApplyClassPath(const std::vector<NorvTreePathStep>& steps, std::size_t at,
                              NorvTreeNode* current, DWORD flags) {
  NorvTreeNode* top =
      m_model->Top()->children.empty() ? nullptr : m_model->Top()->children[0].get();
  for (; at < steps.size(); ++at) {
    const NorvTreePathStep& step = steps[at];
    if (step.kind == NorvTreePathStep::kRoot) {
      current = top;
    } else if (step.kind == NorvTreePathStep::kSelection) {
      current = GetSelectedNode();
    } else {
      if (current == nullptr) current = GetSelectedNode();
      if (current == nullptr) return;
      if (step.kind == NorvTreePathStep::kParent) {
        if (current->parent == nullptr || current->parent == m_model->Top()) return;
        current = current->parent;
      } else if (step.kind == NorvTreePathStep::kNearestAncestor) {
        NorvTreeNode* found = nullptr;
        for (NorvTreeNode* p = current->parent; p != nullptr && p != m_model->Top();
             p = p->parent) {
          if (p->item != nullptr && p->item->GetClassName() == step.text) {
            found = p;
            break;
          }
        }
        if (found != nullptr) {
          current = found;
        } else {
          // Every child of the top node of that class takes the rest.
          if (top == nullptr) return;
          for (auto& child : top->children)
            if (child->item != nullptr && child->item->GetClassName() == step.text)
              ApplyClassPath(steps, at + 1, child.get(), flags);
          return;
        }
      } else {
        // Nodes are not expanded here; every child of the class goes on.
        for (auto& child : current->children)
          if (child->item != nullptr && child->item->GetClassName() == step.text)
            ApplyClassPath(steps, at + 1, child.get(), flags);
        return;
      }
    }
    if (current == nullptr) return;
  }
  if (current == nullptr) current = GetSelectedNode();
  if (current == nullptr || current->item == nullptr) return;
  CNorvTreeListItem* item = current->item;
  std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
  CNorvTreeListItem::ClassObjectFlag(item->GetClassName(), item->Id(), flags, NorvString(),
                                     NorvString());
}

// ===========================================================================
// Selection
// ===========================================================================

NorvTreeNode* TreeView::GetSelectedNode() const {
  if (selectionModel() == nullptr) return nullptr;
  const QModelIndexList rows = selectionModel()->selectedIndexes();
  return rows.isEmpty() ? nullptr : m_model->NodeFromIndex(rows.first());
}

CNorvTreeListItem* TreeView::GetSelectedTreeItem() const {
  NorvTreeNode* node = GetSelectedNode();
  return node != nullptr ? node->item : nullptr;
}

CNorvTreeListItem* TreeView::GetHitTreeItem(const QPoint& point) const {
  NorvTreeNode* node = m_model->NodeFromIndex(indexAt(point));
  return node != nullptr ? node->item : nullptr;
}

BOOL TreeView::GetChildItems(const NorvTreeNode* node, CNorvTLItemList& list) const {
  if (node == nullptr || !node->expandedOnce) return FALSE;
  for (const auto& child : node->children)
    if (child->item != nullptr) list.AddTail(child->item);
  return TRUE;
}

bool TreeView::AllowSelectionChange(NorvTreeNode* from) {
  if (from == nullptr || from->item == nullptr) return true;
  if (CPluginHandler::GetSDKBuild(from->item) <= 0xE0000) return true;
  CNorvTLItemList empty;
  return CallCommand(from->item, &empty, ID_NORV_ITEMCMD_TREEITEM_SELECTION_CHANGE, 0, nullptr) !=
         CMD_HANDLED;
}

BOOL TreeView::SelectNode(NorvTreeNode* node) {
  if (node == nullptr) return FALSE;
  NorvTreeNode* current = GetSelectedNode();
  if (current == node) return TRUE;
  if (!AllowSelectionChange(current)) return FALSE;
  const SelectionCause cause = m_inputCause;
  m_inputCause = SelectedByProgram;
  const QModelIndex index = m_model->IndexFromNode(node);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  m_inputCause = cause;
  return GetSelectedNode() == node ? TRUE : FALSE;
}

void TreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTreeView::currentChanged(current, previous);
}

void TreeView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QTreeView::selectionChanged(selected, deselected);
  NorvTreeNode* node = GetSelectedNode();
  m_selectedItem = node != nullptr ? node->item : nullptr;
  if (node == m_lastSelected) return;
  m_lastSelected = node;
  StopRefreshTimer();
  m_itemTimer.stop();
  if (m_inputCause != SelectedByProgram) m_navigationMethod = NavigationOrdinary;
  switch (m_inputCause) {
    case SelectedByKeyboard:
      m_userSelectionPending = TRUE;
      m_selectionTimer.start(kKeyboardSelectionDelay);
      break;
    case SelectedByMouse:
      m_userSelectionPending = TRUE;
      m_selectionTimer.start(0);
      break;
    case SelectedByProgram:
      m_selectionTimer.stop();
      m_userSelectionPending = FALSE;
      OnSelectionTimer(kProgramSelection);
      break;
  }
}

void TreeView::ProcessPendingSelection() {
  if (m_userSelectionPending) OnSelectionTimer(kUserSelectionTimer);
}

BOOL TreeView::GetExpandOnSelect() {
  UINT value = 1;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Options");
  key.GetUIntValue(L"ExpandOnSelect", value);
  return value != 0 ? TRUE : FALSE;
}

void TreeView::OnSelectionTimer(int id) {
  m_selectionTimer.stop();
  if (id == kUserSelectionTimer && !m_userSelectionPending) return;
  m_userSelectionPending = FALSE;
  NorvTreeNode* node = GetSelectedNode();
  if (node == nullptr || node->item == nullptr) {
    ShowSelection();
    return;
  }
  ItemWatch item(node->item);
  if (HMODULE module = item.get()->GetResourceInstanceHandle())
    plat::SetCurrentResourceModule(module);
  NORV_BASE_TRACE(3, 0,
                  NorvFormatString(L"TreeView::OnTimer: Selection changed by %s: %s",
                                   id == kUserSelectionTimer ? L"User" : L"System",
                                   NorvGetItemTraceInfo(item.get()).c_str()));
  if (CNorvDoc* doc = CNorvDoc::GetDoc()) {
    NorvString caption;
    {
      CNorvItemCallScope scope(item.get());
      caption = item.get()->GetPluginCaption();
    }
    doc->SetActivePlugin(caption, W(node->text));
  }
  if (!item) return;
  m_frame->ResetMenuManager();
  m_frame->RebuildMainMenu(item.get());
  if (!item) return;
  const NorvString path = GetItemPath(node);
  if (m_navigationMethod != NavigationHistory) {
    int viewMode = NORV_VIEWMODE_REPORT;
    {
      CNorvItemCallScope scope(item.get());
      viewMode = item.get()->GetViewMode();
    }
    m_frame->AddHistoryEntry(path, node->image, node->selectedImage, viewMode);
  }
  m_frame->SelectMatchingBookmark(path);
  {
    CNorvTLItemList empty;
    CNorvItemCallScope scope(item.get());
    item.get()->ItemSelected(&empty);
  }
  if (!item) return;
  CNorvDoc* doc = CNorvDoc::GetDoc();
  const bool refreshOnSelect = doc == nullptr || doc->GetRefreshListOnSelect();
  if (id == kUserSelectionTimer && item.get()->HasFeature(kFeatureRefreshOnSelect) &&
      refreshOnSelect && !m_refreshing) {
    OnViewRefresh();
  } else if (!ShowSelectionSuspended() && item) {
    AutoRefresh(item.get(), FALSE);
  }
  if (!item) return;
  if (id == kUserSelectionTimer && GetExpandOnSelect()) {
    NorvTreeNode* now = CNorvTreeModel::NodeOf(item.get());
    if (now != nullptr) SetNodeExpanded(now, true);
  }
  SetupRefreshTimer();
  emit SelectionProcessed(item.get());
}

BOOL TreeView::ShowSelectionSuspended() {
  SetViewRedrawStack(FALSE);
  const BOOL shown = ShowSelection();
  SetViewRedrawStack(TRUE);
  return shown;
}

CNorvTreeListItem* TreeView::GetLastShownItem() { return gLastShownItem; }

void TreeView::ForgetLastShownItem(BOOL sendDeselected) {
  CNorvTreeListItem* item = gLastShownItem;
  gLastShownItem = nullptr;
  if (item != nullptr && sendDeselected) {
    CNorvTLItemList empty;
    CallCommand(item, &empty, ID_NORV_ITEMCMD_TREEITEM_DESELECTED, 0, nullptr);
  }
}

BOOL TreeView::ShowSelection() {
  NorvTreeNode* node = GetSelectedNode();
  CNorvTreeListItem* selected = node != nullptr ? node->item : nullptr;
  if (gLastShownItem != nullptr && gLastShownItem != selected) ForgetLastShownItem(TRUE);
  CNorvView* current = ContentView();
  if (selected == nullptr) {
    if (current != nullptr) current->EraseContents();
    return TRUE;
  }
  ItemWatch item(selected);
  CNorvDoc* doc = CNorvDoc::GetDoc();
  int mode = NORV_VIEWMODE_REPORT;
  CNorvView* target = nullptr;
  std::vector<std::pair<NorvString, UINT>> selector;
  {
    CNorvItemCallScope scope(item.get());
    mode = item.get()->GetViewMode();
    item.get()->GetViewModeExtendedStyle(mode);
    if (doc != nullptr) {
      if (mode == NORV_VIEWMODE_HTML)
        target = doc->GetHtmlView();
      else if (mode == NORV_VIEWMODE_CUSTOM)
        target = item.get()->GetCustomView();
      else
        target = doc->GetListView();
    }
    for (int m = 0; m <= NORV_VIEWMODE_CUSTOM; ++m) {
      if (item.get()->HasViewMode(m))
        selector.emplace_back(plat::LoadString(7071 + static_cast<UINT>(m)),
                              m == NORV_VIEWMODE_CUSTOM ? static_cast<UINT>(-1)
                                                        : kViewStyleFirst + static_cast<UINT>(m));
    }
  }
  m_frame->SetViewSelector(selector, mode);
  if (!item) return FALSE;
  if (doc != nullptr && target != nullptr && target != doc->GetCurrentView()) {
    doc->SwitchToView(target);
    CNorvTLItemList empty;
    CNorvItemCallScope scope(item.get());
    item.get()->ItemSelected(&empty);
  }
  if (!item) return FALSE;
  {
    QRect margins;
    int flag = 0;
    {
      CNorvItemCallScope scope(item.get());
      item.get()->GetFrameMargins(margins, flag);
    }
    m_frame->SetViewMargins(margins, flag);
    m_frame->ShowFilterWarning(FALSE);
  }
  current = ContentView();
  const BOOL result = current != nullptr ? current->ShowContents(item.get()) : FALSE;
  if (!item) return result;
  {
    CNorvItemCallScope scope(item.get());
    htmlViewInfo empty;
    htmlViewInfo info;
    htmlViewInfo* p = &info;
    item.get()->GetHtmlViewInfo(p, 1);
    m_frame->SetFrame(p != nullptr ? *p : empty);
    info = {};
    p = &info;
    item.get()->GetHtmlViewInfo(p, 0);
    m_frame->SetBanner(p != nullptr ? *p : empty);
    info = {};
    p = &info;
    if (CPluginHandler::GetSDKBuild(item.get()) > 0x170000) {
      item.get()->GetHtmlViewInfo(p, 3);
      m_frame->SetTutorial(p != nullptr ? *p : empty);
    } else {
      m_frame->SetTutorial(empty);
    }
  }
  CNorvTreeListItem::ClearInvalidatedViews();
  if (!item) return result;
  node = CNorvTreeModel::NodeOf(item.get());
  if (node != nullptr) m_frame->SetAddressBar(GetItemPath(node), node->image);
  if (gLastShownItem == nullptr) {
    gLastShownItem = item.get();
    CNorvTLItemList empty;
    CallCommand(item.get(), &empty, ID_NORV_ITEMCMD_TREEITEM_SELECTED, 0, nullptr);
    if (!item) return result;
    if (CallCommand(item.get(), &empty, ID_NORV_ITEMCMD_SET_OUTPUT_VIEW, 0, nullptr) != CMD_HANDLED)
      m_frame->HideOutputView();
  }
  if (QWidget* widget = dynamic_cast<QWidget*>(ContentView())) {
    widget->update();
    widget->raise();
  }
  return result;
}

// ===========================================================================
// Refresh
// ===========================================================================

void TreeView::OnViewRefresh() {
  StopRefreshTimer();
  NorvTreeNode* node = GetSelectedNode();
  if (node == nullptr || node->item == nullptr) {
    SetupRefreshTimer();
    return;
  }
  ItemWatch item(node->item);
  CNorvTreeListItem::PushActiveItem(item.get());
  item.get()->ClrFlags(NORV_ITEM_INVALID | NORV_ITEM_ACCESSERROR);
  {
    RefreshGuard guard(this);
    RefreshView(item.get(), FALSE);
    if (item) AutoRefresh(item.get(), FALSE);
  }
  CNorvTreeListItem::PopActiveItem();
  SetupRefreshTimer();
}

BOOL TreeView::RefreshView(CNorvTreeListItem* target, BOOL skipItemRefresh) {
  NorvTreeNode* node = CNorvTreeModel::NodeOf(target);
  if (node == nullptr) return TRUE;
  ItemWatch item(target);
  BOOL result = TRUE;
  if (!skipItemRefresh && (item.get()->GetFlags() & NORV_ITEM_ACCESSERROR) == 0) {
    BOOL ok = FALSE;
    {
      CNorvItemCallScope scope(item.get());
      ok = NORV_ITEM_REFRESH(item.get());
    }
    if (!item) return FALSE;
    if (!ok) {
      item.get()->SetFlags(NORV_ITEM_ACCESSERROR, TRUE);
      result = FALSE;
    }
  }
  node = CNorvTreeModel::NodeOf(item.get());
  if (node == nullptr) return result;
  const bool wasExpanded = IsNodeExpanded(node) || node->parent == m_model->Top();
  if (!skipItemRefresh) UpdateNode(node);
  // Collapse-reset: the branch is fetched anew.
  ResetBranch(node);
  collapse(m_model->IndexFromNode(node));
  node->expandedOnce = false;
  ++m_ownUnlink;
  item.get()->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  --m_ownUnlink;
  if (node == GetSelectedNode()) {
    {
      CNorvTLItemList empty;
      CNorvItemCallScope scope(item.get());
      item.get()->ItemSelected(&empty);
    }
    if (!item) return result;
    BOOL has = FALSE;
    if (ShowSelectionSuspended() && item) {
      CNorvItemCallScope scope(item.get());
      has = item.get()->HasTreeItems();
    }
    if (!item) return result;
    node = CNorvTreeModel::NodeOf(item.get());
    if (node == nullptr) return result;
    if (has) {
      m_model->SetChildIndicator(node, true);
      ExpandNode(node);
    } else {
      node->expandedOnce = true;
      m_model->SetChildIndicator(node, false);
    }
  } else {
    BOOL has = FALSE;
    {
      CNorvItemCallScope scope(item.get());
      has = item.get()->HasTreeItems();
    }
    m_model->SetChildIndicator(node, has != FALSE);
  }
  if (!item) return result;
  node = CNorvTreeModel::NodeOf(item.get());
  if (node != nullptr && wasExpanded && item.get()->IsValid()) SetNodeExpanded(node, true);
  return result;
}

void TreeView::AutoRefresh(CNorvTreeListItem* target, BOOL skipFixup) {
  if (target == nullptr)
    NORV_BASE_TRACE(3, 0, L"TreeView::AutoRefresh: Started, asynchronous");
  else
    NORV_BASE_TRACE(3, 0,
                    NorvFormatString(L"TreeView::AutoRefresh: Started, item = %s",
                                     NorvGetItemTraceInfo(target).c_str()));
  std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
  const BOOL wasRefreshing = m_refreshing;
  {
    RefreshGuard guard(this);
    m_refreshing = TRUE;
    ItemWatch item(target != nullptr ? target : GetSelectedTreeItem());
    if (!skipFixup) FixupViews();
    if (item && item.get() == GetSelectedTreeItem()) {
      const DWORD mask = CNorvTreeListItem::GetInvalidatedViews();
      if (mask != 0) {
        CNorvTreeListItem::ClearInvalidatedViews();
        RefreshViews(item.get(), mask);
      }
    }
  }
  const NorvString navigation = CNorvTreeListItem::TakeNavigationTarget();
  if (!navigation.empty()) {
    NORV_BASE_TRACE(3, 0,
                    NorvFormatString(L"TreeView::AutoRefresh: NavigateTo %s", navigation.c_str()));
    NavigateTo(navigation, nullptr, NavigationOrdinary, -1);
  }
  m_refreshing = wasRefreshing;
  NORV_BASE_TRACE(3, 0, L"TreeView::AutoRefresh: Completed");
}

BOOL TreeView::FixupViews() {
  // The table is taken whole under the lock: flags that plugin code sets
  // while this pass runs land in a fresh table for the next pass.
  const NorvObjectFlagTable table = CNorvTreeListItem::TakeObjectFlagTable();
  if (m_model->Top()->children.empty() || m_model->Top()->children[0]->item == nullptr) return TRUE;
  SetRedrawStack(FALSE);
  CNorvTreeListItem* root = m_model->Top()->children[0]->item;
  m_destroyed.clear();
  m_pendingListInvalid.clear();
  if (!table.empty()) UpdateTree(root, table);
  bool changed = false;
  const BOOL result = RefreshTree(root, changed, nullptr);
  m_pendingListInvalid.clear();
  m_destroyed.clear();
  SetRedrawStack(TRUE);
  return result;
}

void TreeView::UpdateTree(CNorvTreeListItem* item, const NorvObjectFlagTable& table) {
  auto byClass = table.find(item->GetClassName());
  if (byClass != table.end()) {
    auto byId = byClass->second.find(item->Id());
    if (byId != byClass->second.end()) {
      const NorvObjectFlagEntry& entry = byId->second;
      DWORD set = entry.flags & (NORV_ITEM_DELETED | NORV_ITEM_INVALID | NORV_ITEM_REDRAW |
                                 NORV_ITEM_LISTUPDATED);
      if ((entry.flags & NORV_ITEM_REMOVED) != 0 && item->GetParent() != nullptr) {
        CNorvTreeListItem* parent = item->GetParent();
        auto from = entry.removedFrom.find(parent->GetClassName());
        if (from != entry.removedFrom.end() && from->second.count(parent->Id()) != 0)
          set |= NORV_ITEM_REMOVED;
      }
      if (set != 0) item->SetFlags(set, TRUE);
      // A list flag is noted, not set: setting it here would discard the
      // children while their nodes still show them.
      if ((entry.flags & NORV_ITEM_LISTINVALID) != 0) m_pendingListInvalid.insert(item);
    }
  }
  const DWORD flags = item->GetFlags();
  if ((flags & (NORV_ITEM_DELETED | NORV_ITEM_REMOVED)) != 0 || m_pendingListInvalid.count(item))
    return;
  if ((flags & NORV_ITEM_LISTINVALID) != 0 && CNorvTreeModel::NodeOf(item) != nullptr &&
      !CNorvTreeModel::NodeOf(item)->expandedOnce)
    return;
  for (CNorvTreeListItem* child : item->GetItemList())
    if (child != nullptr) UpdateTree(child, table);
}

BOOL TreeView::RefreshTree(CNorvTreeListItem* item, bool& changed, CNorvTreeListItem* parent) {
  DWORD flags = item->GetFlags();
  if (m_pendingListInvalid.count(item)) flags |= NORV_ITEM_LISTINVALID;
  if ((flags & (NORV_ITEM_DELETED | NORV_ITEM_REMOVED)) != 0) return RemoveObject(item, parent);
  ItemWatch watch(item);
  if ((flags & (NORV_ITEM_INVALID | NORV_ITEM_REDRAW)) != 0) {
    const bool invalid = (flags & NORV_ITEM_INVALID) != 0;
    if (!UpdateObject(item, invalid ? TRUE : FALSE)) return FALSE;
    if (!watch) return TRUE;
    if (invalid) changed = true;
  }
  if ((flags & NORV_ITEM_LISTINVALID) != 0) {
    const bool flagged = m_pendingListInvalid.erase(item) != 0;
    NorvTreeNode* node = CNorvTreeModel::NodeOf(item);
    if (node != nullptr && (node->expandedOnce || GetSelectedNode() == node)) {
      RefreshView(item, TRUE);
    } else if (node != nullptr && flagged) {
      // A node that never showed its children has nothing to reset; only
      // its expand button may change. (A list never read is LISTINVALID
      // from the start: those nodes are left alone.)
      BOOL has = FALSE;
      {
        CNorvItemCallScope scope(item);
        has = item->HasTreeItems();
      }
      m_model->SetChildIndicator(node, has != FALSE);
    }
    return TRUE;
  }
  if ((flags & NORV_ITEM_LISTUPDATED) != 0) {
    UpdateView(item);
    if (!watch) return TRUE;
    item->ClrFlags(NORV_ITEM_LISTUPDATED);
  }
  std::vector<CNorvTreeListItem*> children;
  children.reserve(static_cast<std::size_t>(item->GetItemList().GetCount()));
  for (CNorvTreeListItem* child : item->GetItemList())
    if (child != nullptr) children.push_back(child);
  bool anyChanged = false;
  for (CNorvTreeListItem* child : children) {
    if (!watch) return TRUE;
    if (m_destroyed.count(child) != 0) continue;
    bool childChanged = false;
    if (!RefreshTree(child, childChanged, item)) return FALSE;
    anyChanged = anyChanged || childChanged;
  }
  if (anyChanged && watch) {
    BOOL sort = FALSE;
    {
      CNorvItemCallScope scope(item);
      sort = item->SortTreeItems();
    }
    if (sort) SortNode(CNorvTreeModel::NodeOf(item));
  }
  return TRUE;
}

void TreeView::SortNode(NorvTreeNode* node) {
  if (node == nullptr) return;
  m_model->SortChildren(node, [](const NorvTreeNode* a, const NorvTreeNode* b) {
    if (a->item == nullptr || b->item == nullptr) return a->item != nullptr;
    return CompareFunc(a->item, b->item, 0x10000) < 0;
  });
}

BOOL TreeView::UpdateObject(CNorvTreeListItem* target, BOOL refresh) {
  ItemWatch item(target);
  if (refresh) {
    item.get()->ClrFlags(NORV_ITEM_INVALID);
    if ((item.get()->GetFlags() & NORV_ITEM_ACCESSERROR) == 0) {
      BOOL ok = FALSE;
      {
        CNorvItemCallScope scope(item.get());
        ok = NORV_ITEM_REFRESH(item.get());
      }
      if (!item) return TRUE;
      if (!ok) {
        item.get()->SetFlags(NORV_ITEM_ACCESSERROR, TRUE);
        return FALSE;
      }
    }
  }
  if (NorvTreeNode* node = CNorvTreeModel::NodeOf(item.get())) UpdateNode(node);
  if (CNorvView* view = ContentView()) view->UpdateContainedItem(item.get());
  if (item) item.get()->ClrFlags(NORV_ITEM_REDRAW);
  return TRUE;
}

void TreeView::UpdateView(CNorvTreeListItem* item) {
  NorvTreeNode* node = CNorvTreeModel::NodeOf(item);
  if (node == nullptr) return;
  if (node->expandedOnce) MergeChildNodes(item, node);
  // The list showing the selected item merges the changed child list too,
  // whether or not the branch was ever expanded (its rows need not be tree
  // nodes).
  if (GetSelectedNode() != node) return;
  CNorvDoc* doc = CNorvDoc::GetDoc();
  if (doc == nullptr || doc->GetCurrentView() != doc->GetListView()) return;
  if (auto* list = dynamic_cast<CNorvListView*>(doc->GetListView())) list->UpdateContents(item);
}

void TreeView::MergeChildNodes(CNorvTreeListItem* item, NorvTreeNode* node) {
  std::unordered_set<CNorvTreeListItem*> present;
  std::vector<NorvTreeNodeInit> inits;
  for (CNorvTreeListItem* child : item->GetItemList()) {
    if (child == nullptr) continue;
    present.insert(child);
    if ((child->GetItemListMask() & NORV_ITEMLIST_TREE) == 0) continue;
    if (CNorvTreeModel::NodeOf(child) != nullptr) continue;
    inits.emplace_back();
    FillNodeInit(child, inits.back());
  }
  std::vector<NorvTreeNode*> gone;
  for (auto& child : node->children)
    if (child->item == nullptr || present.count(child->item) == 0) gone.push_back(child.get());
  for (NorvTreeNode* dead : gone) {
    if (dead->item == nullptr) {
      m_model->RemoveNode(dead);
      continue;
    }
    // Not in the list any more: the node goes, the item stays with whoever
    // holds it now.
    CNorvTreeListItem* deadItem = dead->item;
    if (GetSelectedNode() == dead) {
      if (CNorvView* view = ContentView()) view->EraseContents();
      SelectNode(node);
    }
    m_model->RemoveNode(dead);
    if (CNorvView* view = ContentView()) view->RemoveContainedItem(deadItem);
  }
  m_model->AppendChildren(node, inits);
  m_model->SetChildIndicator(node, !node->children.empty());
}

BOOL TreeView::RemoveObject(CNorvTreeListItem* item, CNorvTreeListItem* parent) {
  if (NorvTreeNode* node = CNorvTreeModel::NodeOf(item)) {
    if (GetSelectedNode() == node) {
      if (CNorvView* view = ContentView()) view->EraseContents();
      if (node->parent != nullptr && node->parent != m_model->Top()) SelectNode(node->parent);
    }
    node = CNorvTreeModel::NodeOf(item);
    if (node != nullptr) m_model->RemoveNode(node);
  }
  CNorvTreeListItem* root =
      m_model->Top()->children.empty() ? nullptr : m_model->Top()->children[0]->item;
  if (parent != nullptr) {
    ++m_ownUnlink;
    const BOOL removed = parent->GetItemList().Remove(item);
    --m_ownUnlink;
    if (!removed) return FALSE;
    if (CNorvView* view = ContentView()) view->RemoveContainedItem(item);
    if (NorvTreeNode* parentNode = CNorvTreeModel::NodeOf(parent)) {
      if (parentNode->children.empty()) {
        BOOL has = FALSE;
        {
          CNorvItemCallScope scope(parent);
          has = parent->HasTreeItems();
        }
        collapse(m_model->IndexFromNode(parentNode));
        parentNode->expandedOnce = false;
        m_model->SetChildIndicator(parentNode, has != FALSE);
      }
    }
  }
  if (item == root || (parent != nullptr && parent == root &&
                       parent->GetClassName() == L"CNorvRoot" && parent->GetItemList().IsEmpty())) {
    m_frame->RequestExplorerEmpty();
    if (item == root) return TRUE;
  }
  if (!item->IsStatic()) {
    m_destroyed.insert(item);
    if (gLastShownItem == item) gLastShownItem = nullptr;
    CNorvTreeListItem::NotifyDeselectedIfWithin(item);
    ++m_ownUnlink;
    {
      CNorvItemCallScope scope(item);
      delete item;
    }
    --m_ownUnlink;
  }
  return TRUE;
}

void TreeView::RefreshViews(CNorvTreeListItem* item, DWORD mask) {
  // One of the item's pages (0 banner, 1 frame, 3 tutorial) handed to the
  // frame inside the item's call scope; a plugin that is not asked, or that
  // answers with no page, leaves the pane empty.
  using Show = void (INorvNavigationFrame::*)(const htmlViewInfo&);
  auto showPage = [&](int kind, bool ask, Show show) {
    htmlViewInfo info;
    htmlViewInfo* p = &info;
    CNorvItemCallScope scope(item);
    if (ask) item->GetHtmlViewInfo(p, kind);
    (m_frame->*show)(p != nullptr ? *p : htmlViewInfo());
  };
  if (mask & 1) showPage(0, true, &INorvNavigationFrame::SetBanner);
  if (mask & 2) showPage(1, true, &INorvNavigationFrame::SetFrame);
  if (mask & 8)
    showPage(3, CPluginHandler::GetSDKBuild(item) > 0x170000, &INorvNavigationFrame::SetTutorial);
  if (mask & 4) {
    if (CNorvView* view = ContentView()) view->ShowContents(item);
  }
}

void TreeView::ItemDestroyed(CNorvTreeListItem* item) {
  if (m_selectedItem.load() == item) m_selectedItem = nullptr;
  NorvTreeNode* node = CNorvTreeModel::NodeOf(item);
  if (!NorvIsUserInterfaceThread()) {
    // A plugin's worker destroys items under the item model lock: drop the
    // pointer and let the user-interface thread rebuild.
    if (node != nullptr) node->item = nullptr;
    if (gLastShownItem == item) gLastShownItem = nullptr;
    SchedulePurge();
    return;
  }
  for (CNorvTreeListItem** watch : Watches())
    if (*watch == item) *watch = nullptr;
  m_destroyed.insert(item);
  if (m_popupItem == item) m_popupItem = nullptr;
  if (gLastShownItem == item) gLastShownItem = nullptr;
  if (node == nullptr) return;
  const bool selected = GetSelectedNode() == node;
  m_model->ForgetItem(item);
  if (selected) {
    if (CNorvView* view = ContentView()) view->EraseContents();
  }
  SchedulePurge();
}

void TreeView::ChildrenRemoving(CNorvTreeListItem* parent) {
  NorvTreeNode* node = CNorvTreeModel::NodeOf(parent);
  if (node == nullptr || !m_model->Owns(node)) return;
  if (!NorvIsUserInterfaceThread()) {
    // Drop every pointer below; the branch is read anew on the
    // user-interface thread.
    std::vector<NorvTreeNode*> stack;
    for (auto& child : node->children) stack.push_back(child.get());
    while (!stack.empty()) {
      NorvTreeNode* n = stack.back();
      stack.pop_back();
      n->item = nullptr;
      for (auto& child : n->children) stack.push_back(child.get());
    }
    node->rebuild = true;
    SchedulePurge();
    return;
  }
  // The tree's own changes have already removed the nodes.
  if (m_ownUnlink > 0 || node->children.empty()) return;
  const bool expanded = IsNodeExpanded(node);
  ResetBranch(node);
  node->rebuild = true;
  node->reexpand = node->reexpand || expanded;
}

void TreeView::ChildrenRemoved(CNorvTreeListItem* /*parent*/) {
  // The branch is read anew once the list holds what it will hold.
  SchedulePurge();
}

void TreeView::ResetBranch(NorvTreeNode* node) {
  if (node == nullptr || node->children.empty()) return;
  NorvTreeNode* selected = GetSelectedNode();
  bool inside = false;
  for (NorvTreeNode* n = selected; n != nullptr; n = n->parent)
    if (n->parent == node) inside = true;
  if (inside && selected->item != nullptr) {
    // The selected item goes with the branch: it hears so while whole.
    if (gLastShownItem == selected->item) gLastShownItem = nullptr;
    selected->item->NotifyDeselected();
  }
  collapse(m_model->IndexFromNode(node));
  m_model->RemoveChildren(node);
  node->expandedOnce = false;
  if (inside) SelectNode(node);
}

void TreeView::SchedulePurge() {
  if (m_purgePending.exchange(true)) return;
  QMetaObject::invokeMethod(
      this, [this] { PurgeDeadNodes(); }, Qt::QueuedConnection);
}

void TreeView::PurgeDeadNodes() {
  m_purgePending = false;
  // Under the lock: no worker destroys items while the tree looks at them.
  std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
  std::vector<NorvTreeNode*> dead;
  std::vector<NorvTreeNode*> stack{m_model->Top()};
  while (!stack.empty()) {
    NorvTreeNode* node = stack.back();
    stack.pop_back();
    for (auto& child : node->children) {
      if (child->item == nullptr)
        dead.push_back(child.get());
      else
        stack.push_back(child.get());
    }
  }
  NorvTreeNode* selected = GetSelectedNode();
  for (NorvTreeNode* node : dead) {
    NorvTreeNode* parent = node->parent;
    bool holdsSelection = false;
    for (NorvTreeNode* n = selected; n != nullptr; n = n->parent)
      if (n == node) holdsSelection = true;
    if (holdsSelection && parent != m_model->Top()) SelectNode(parent);
    m_model->RemoveNode(node);
    if (parent != m_model->Top() && parent->children.empty() && parent->item != nullptr) {
      collapse(m_model->IndexFromNode(parent));
      parent->expandedOnce = false;
      parent->rebuild = true;
    }
  }
  // Branches whose lists changed behind the tree: the expand button from
  // the item, the children anew where the node was open.
  std::vector<NorvTreeNode*> rebuild;
  stack.assign(1, m_model->Top());
  while (!stack.empty()) {
    NorvTreeNode* node = stack.back();
    stack.pop_back();
    if (node->rebuild) rebuild.push_back(node);
    for (auto& child : node->children) stack.push_back(child.get());
  }
  for (NorvTreeNode* node : rebuild) {
    node->rebuild = false;
    const bool reexpand = node->reexpand;
    node->reexpand = false;
    if (node->item == nullptr) continue;
    if (!node->children.empty()) continue;
    node->expandedOnce = false;
    BOOL has = FALSE;
    {
      CNorvItemCallScope scope(node->item);
      has = node->item->HasTreeItems();
    }
    m_model->SetChildIndicator(node, has != FALSE);
    if (has && reexpand) SetNodeExpanded(node, true);
  }
}

// ===========================================================================
// Timers
// ===========================================================================

UINT TreeView::GetRefreshRate(const NorvString& className) {
  UINT value = 0;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"RefreshRates");
  key.GetUIntValue(className, value);
  return value;
}

void TreeView::SetRefreshRate(const NorvString& className, UINT seconds) {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"RefreshRates", plat::KEY_ALL_ACCESS);
  key.SetUIntValue(className, seconds);
}

int TreeView::RateToPosition(UINT seconds) {
  return seconds < 60 ? static_cast<int>(seconds / 5) : static_cast<int>(seconds / 60 + 6);
}

UINT TreeView::PositionToRate(int position) {
  if (position <= 0) return 0;
  if (position <= 6) return static_cast<UINT>(5 * position);
  return static_cast<UINT>(60 * position - 360);
}

void TreeView::SetupRefreshTimer() {
  m_refreshTimer.stop();
  CNorvTreeListItem* item = GetSelectedTreeItem();
  if (item == nullptr) return;
  const UINT rate = GetRefreshRate(item->GetClassName());
  if (rate != 0) m_refreshTimer.start(static_cast<int>(std::min<UINT>(rate, 24 * 3600)) * 1000);
}

void TreeView::StopRefreshTimer() { m_refreshTimer.stop(); }

void TreeView::OnRefreshTimer() {
  CNorvTreeListItem* item = GetSelectedTreeItem();
  CNorvView* view = ContentView();
  if (item != nullptr && !m_frame->IsMainWindowMinimized() &&
      (view == nullptr || view->AllowTimerRefresh()) && item->HasFeature(kFeatureTimedRefresh) &&
      InitMenuEnabled(item, kRefresh, TRUE))
    OnViewRefresh();
  SetupRefreshTimer();
}

BOOL TreeView::SetItemTimer(UINT milliseconds) {
  if (milliseconds == 0)
    m_itemTimer.stop();
  else
    m_itemTimer.start(static_cast<int>(std::min<UINT>(milliseconds, 0x7FFFFFFF)));
  return TRUE;
}

void TreeView::OnItemTimer() {
  CNorvTreeListItem* item = GetSelectedTreeItem();
  if (item == nullptr) return;
  CNorvTLItemList empty;
  CallCommand(item, &empty, ID_NORV_ITEMCMD_TIMER, 0, nullptr);
}

void TreeView::OnViewRefreshRate() {
  CNorvTreeListItem* item = GetSelectedTreeItem();
  if (item == nullptr) return;
  StopRefreshTimer();
  const NorvString className = item->GetClassName();
  QDialog dialog(this);
  dialog.setWindowTitle(Q(plat::LoadString(7039)));
  auto* layout = new QVBoxLayout(&dialog);
  auto* slider = new QSlider(Qt::Horizontal, &dialog);
  slider->setRange(0, 11);
  slider->setPageStep(1);
  slider->setTickPosition(QSlider::TicksBelow);
  auto* label = new QLabel(&dialog);
  auto describe = [label](int p) {
    if (p == 0)
      label->setText(Q(plat::LoadString(7008)));
    else if (p <= 6)
      label->setText(Q(NorvFormatString(plat::LoadString(7012).c_str(), 5 * p)));
    else
      label->setText(Q(NorvFormatString(plat::LoadString(7013).c_str(), p - 6)));
  };
  connect(slider, &QSlider::valueChanged, &dialog, describe);
  slider->setValue(std::min(11, RateToPosition(GetRefreshRate(className))));
  describe(slider->value());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(slider);
  layout->addWidget(label);
  layout->addWidget(buttons);
  dialog.exec();
  // Whatever button closed it, the slider's position is stored.
  SetRefreshRate(className, PositionToRate(slider->value()));
  SetupRefreshTimer();
}

// ===========================================================================
// Redraw stacks
// ===========================================================================

void TreeView::SetRedrawStack(BOOL redraw) {
  if (!redraw) {
    if (m_treeRedrawCount++ == 0) {
      NORV_BASE_TRACE(3, 0, L"SetRedraw(TreeView): FALSE");
      m_model->HoldChanges(true);
      m_holding = true;
      setUpdatesEnabled(false);
    }
    return;
  }
  if (m_treeRedrawCount > 0) --m_treeRedrawCount;
  if (m_treeRedrawCount == 0) {
    NORV_BASE_TRACE(3, 0, L"SetRedraw(TreeView): TRUE");
    if (m_holding) {
      m_holding = false;
      m_model->HoldChanges(false);
    }
    setUpdatesEnabled(true);
    viewport()->update();
  }
}

void TreeView::SetViewRedrawStack(BOOL redraw) {
  QWidget* view = dynamic_cast<QWidget*>(ContentView());
  const NorvString name = view != nullptr ? W(view->metaObject()->className()) : L"CNorvView";
  if (!redraw) {
    if (m_viewRedrawCount++ == 0) {
      NORV_BASE_TRACE(3, 0, NorvFormatString(L"SetRedraw(%s): FALSE", name.c_str()));
      if (view != nullptr) view->setUpdatesEnabled(false);
    }
    return;
  }
  if (m_viewRedrawCount > 0) --m_viewRedrawCount;
  if (m_viewRedrawCount == 0) {
    NORV_BASE_TRACE(3, 0, NorvFormatString(L"SetRedraw(%s): TRUE", name.c_str()));
    if (view != nullptr) {
      view->setUpdatesEnabled(true);
      view->update();
    }
  }
}

// ===========================================================================
// Commands
// ===========================================================================

CNorvTreeListItem* TreeView::GetTargetItem() const {
  return m_popupItem != nullptr ? m_popupItem : GetSelectedTreeItem();
}

BOOL TreeView::ExpandCurrentNode(CNorvTreeListItem* child) {
  NorvTreeNode* node = GetSelectedNode();
  if (node == nullptr) return FALSE;
  SetNodeExpanded(node, true);
  for (auto& c : node->children)
    if (c->item == child) return SelectNode(c.get());
  return FALSE;
}

BOOL TreeView::ContractCurrentNode() {
  NorvTreeNode* node = GetSelectedNode();
  if (node == nullptr || node->parent == nullptr || node->parent == m_model->Top()) return FALSE;
  return SelectNode(node->parent);
}

BOOL TreeView::EditItem(CNorvTreeListItem* item) {
  NorvTreeNode* node = CNorvTreeModel::NodeOf(item);
  if (node == nullptr || item == nullptr) return FALSE;
  BOOL can = FALSE;
  {
    CNorvItemCallScope scope(item);
    can = item->CanEdit();
  }
  if (!can) return FALSE;
  const QModelIndex index = m_model->IndexFromNode(node);
  scrollTo(index);
  m_editAllowed = true;
  const bool ok = QTreeView::edit(index, QAbstractItemView::AllEditTriggers, nullptr);
  m_editAllowed = false;
  return ok ? TRUE : FALSE;
}

bool TreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger == QAbstractItemView::NoEditTriggers || m_editAllowed)
    return QTreeView::edit(index, trigger, event);
  if (!(editTriggers() & trigger)) return false;
  NorvTreeNode* node = m_model->NodeFromIndex(index);
  if (node == nullptr || node->item == nullptr) return false;
  BOOL can = FALSE;
  {
    CNorvItemCallScope scope(node->item);
    can = node->item->CanEdit();
  }
  return can ? QTreeView::edit(index, trigger, event) : false;
}

void TreeView::IndicateCutItems(CNorvTLItemList* list) {
  // Only the latest cut shows dimmed.
  std::vector<NorvTreeNode*> stack{m_model->Top()};
  while (!stack.empty()) {
    NorvTreeNode* node = stack.back();
    stack.pop_back();
    for (auto& child : node->children) {
      if (child->cut) {
        child->cut = false;
        m_model->NodeChanged(child.get());
      }
      stack.push_back(child.get());
    }
  }
  if (list == nullptr) return;
  for (CNorvTreeListItem* item : *list) {
    if (NorvTreeNode* node = CNorvTreeModel::NodeOf(item)) {
      node->cut = true;
      m_model->NodeChanged(node);
    }
  }
}

int TreeView::CompareFunc(CNorvTreeListItem* a, CNorvTreeListItem* b, LPARAM sort) {
  if (a == nullptr || b == nullptr) return 0;
  CNorvItemCallScope scope(a);
  return a->Compare(b, static_cast<int>(sort & 0xFFFF), (sort >> 16) != 0 ? TRUE : FALSE);
}

CmdResult TreeView::ItemCommand(UINT command, DWORD param, void* pParam) {
  CNorvTreeListItem* target = GetTargetItem();
  if (m_userSelectionPending) {
    ProcessPendingSelection();
    if (GetTargetItem() != target) return CMD_NOT_HANDLED;
  }
  if (target == nullptr) {
    if (m_dropPending) {
      m_dropPending = FALSE;
      if (m_droppedItems != nullptr) {
        m_droppedItems->ClearList();
        delete m_droppedItems;
        m_droppedItems = nullptr;
      }
    }
    return CMD_NOT_HANDLED;
  }
  StopRefreshTimer();
  ItemWatch item(target);
  CNorvItemCallScope scope(target);
  m_popupItem = nullptr;
  CNorvTLItemList list;
  list.AddTail(target);
  CmdResult result = CMD_NOT_HANDLED;
  bool called = true;
  if (m_dropPending) {
    m_dropPending = FALSE;
    if (command != ID_NORV_ITEMCMD_CANCEL) {
      // Drop takes the dropped items first and the items dropped on second,
      // as every item class implements it.
      result = gNorvBaseTraceLevel >= 3
                   ? Trace_Drop(__FILE__, __LINE__, "TreeView::ItemCommand", target, m_dropFormat,
                                m_droppedItems, &list, m_dropKeyState, command)
                   : target->Drop(m_dropFormat, m_droppedItems, &list, m_dropKeyState, command);
    }
    if (m_droppedItems != nullptr) {
      m_droppedItems->ClearList();
      delete m_droppedItems;
      m_droppedItems = nullptr;
    }
  } else {
    CNorvDoc* doc = CNorvDoc::GetDoc();
    if (doc != nullptr && !doc->CancelCommand(target, command)) {
      SetupRefreshTimer();
      return CMD_NOT_HANDLED;
    }
    if (command >= kCustomMenuFirst && command <= kCustomMenuLast) {
      ExecuteCustomMenu(command, target);
      called = false;
    } else if (command == kExploreFromHere) {
      NorvString parameter;
      if (NORV_ITEM_COMMAND(target, &list, ID_NORV_ITEMCMD_GET_EXPLORE_FROM_PARAM,
                            static_cast<DWORD>(-4), &parameter) != CMD_HANDLED)
        parameter.clear();
      if (item) CNorvTreeListItem::ExploreFrom(target->GetClassName(), target->Id(), parameter);
      called = false;
    } else if (command == kPaste) {
      NorvStringList files;
      if (target->CanDropFiles() && CheckFilesOnClipboard() && GetFilesFromClipboard(files))
        result = target->DropFiles(files);
      else
        result = NORV_ITEM_COMMAND(target, &list, command, param, pParam);
    } else if (command == kCut || command == kCopy) {
      CNorvTLItemList onClipboard;
      onClipboard.AddTail(target);
      CNorvTreeListItem* parent = target->GetParent();
      const BOOL copied = CopyItemsToClipboard(
          &onClipboard, nullptr, QPoint(),
          command == kCut ? CNorvClipBoardItem::cut : CNorvClipBoardItem::copy,
          parent != nullptr ? parent->GetClassName() : NorvString(),
          parent != nullptr ? parent->Id() : NorvString(), FALSE, target->GetClipboardFormat());
      onClipboard.RemoveAll();
      if (command == kCut) {
        if (copied) IndicateCutItems(&list);
        if (item) result = NORV_ITEM_COMMAND(target, &list, command, param, pParam);
      } else {
        called = false;
      }
    } else if (command == ID_NORV_ITEMCMD_ADDRESS_CHANGE || command == ID_NORV_ITEMCMD_TIMER) {
      NORV_ITEM_COMMAND(target, &list, command, param, pParam);
      list.RemoveAll();
      SetupRefreshTimer();
      return CMD_HANDLED;
    } else {
      result = NORV_ITEM_COMMAND(target, &list, command, param, pParam);
    }
  }
  list.RemoveAll();
  if (called) {
    if (result == CMD_MOVED && item) {
      CNorvTreeListItem::ClassObjectInvalidateList(target->GetClassName(), target->Id(), FALSE);
      AutoRefresh(target, FALSE);
    } else if (result != CMD_NOT_HANDLED) {
      AutoRefresh(item ? target : nullptr, FALSE);
    }
  }
  SetupRefreshTimer();
  return result;
}

BOOL TreeView::OnCommand(UINT command) {
  switch (command) {
    case kRefresh:
      OnViewRefresh();
      return TRUE;
    case kRefreshRate:
      OnViewRefreshRate();
      return TRUE;
    case kApplicationKey: {
      NorvTreeNode* node = GetSelectedNode();
      if (node == nullptr || node->item == nullptr) return TRUE;
      m_popupItem = node->item;
      const QRect rect = visualRect(m_model->IndexFromNode(node));
      DisplayPopupMenu(node->item, viewport()->mapToGlobal(rect.bottomLeft()));
      return TRUE;
    }
    case kUpOneLevel:
      ContractCurrentNode();
      return TRUE;
    case kClearPopupItem:
      m_popupItem = nullptr;
      return TRUE;
    case kDefaultDrop:
      ItemCommand(ID_NORV_ITEMCMD_DEFAULTDROP, 0, nullptr);
      return TRUE;
    case kExpandAll: {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_Asterisk, Qt::KeypadModifier);
      QTreeView::keyPressEvent(&key);
      return TRUE;
    }
    case kObjectInformation:
      ShowObjectInformation(GetTargetItem());
      return TRUE;
    case kRename: {
      CNorvTreeListItem* target = GetTargetItem();
      m_popupItem = nullptr;
      EditItem(target);
      return TRUE;
    }
    case kDelete:
    case kProperties:
    case kNew:
    case kPaste:
    case kCut:
    case kCopy:
    case kExploreFromHere:
      ItemCommand(command, 0, nullptr);
      return TRUE;
    default:
      break;
  }
  if ((command >= kCustomMenuFirst && command <= kCustomMenuLast) ||
      (command >= ID_NORV_ITEMCMD_START && command <= 50000)) {
    ItemCommand(command, 0, nullptr);
    return TRUE;
  }
  return FALSE;
}

BOOL TreeView::OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked) {
  checked = FALSE;
  CNorvTreeListItem* selected = GetSelectedTreeItem();
  CNorvTreeListItem* target = GetTargetItem();
  switch (command) {
    case kRefresh:
      enabled = selected != nullptr && selected->HasFeature(kFeatureRefresh) &&
                InitMenuEnabled(selected, kRefresh, TRUE);
      return TRUE;
    case kRefreshRate:
      enabled = selected != nullptr && selected->HasFeature(kFeatureTimedRefresh) &&
                InitMenuEnabled(selected, kRefresh, TRUE);
      return TRUE;
    case kApplicationKey:
      enabled = TRUE;
      return TRUE;
    case kUpOneLevel: {
      NorvTreeNode* node = GetSelectedNode();
      enabled = node != nullptr && node->parent != nullptr && node->parent != m_model->Top();
      return TRUE;
    }
    case kExpandAll:
    case kObjectInformation:
      enabled = TRUE;
      return TRUE;
    case kRename: {
      enabled = FALSE;
      if (target != nullptr) {
        CNorvItemCallScope scope(target);
        enabled = target->CanEdit();
      }
      return TRUE;
    }
    case kDelete:
    case kProperties:
    case kNew:
    case kPaste:
    case kCut:
    case kCopy:
    case kExploreFromHere: {
      int on = FALSE;
      int check = FALSE;
      if (target != nullptr) {
        CNorvItemCallScope scope(target);
        target->InitMenuInfo(command, on, check, 0);
      }
      enabled = on;
      checked = check;
      return TRUE;
    }
    default:
      break;
  }
  if (command >= ID_NORV_ITEMCMD_START && command <= 50000) {
    // While a popup or a dialog is open the state is left as it is.
    if (m_popupItem != nullptr || m_frame->GetModalDialogCount() > 0) return FALSE;
    int on = FALSE;
    int check = FALSE;
    if (target != nullptr) {
      CNorvItemCallScope scope(target);
      target->InitMenuInfo(command, on, check, 0);
    }
    enabled = on;
    checked = check;
    return TRUE;
  }
  return FALSE;
}

void TreeView::PostCommand(UINT command) {
  QMetaObject::invokeMethod(
      this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
}

void TreeView::InitiateItemPopupMenu(CNorvTreeListItem* item, CNorvMenu* menu, int selectedCount) {
  if (item == nullptr || menu == nullptr) return;
  for (int i = 0; i < menu->GetItemCount(); ++i) {
    if (CNorvMenu* sub = menu->GetSubMenu(i)) {
      InitiateItemPopupMenu(item, sub, selectedCount);
      continue;
    }
    if (menu->IsSeparator(i)) continue;
    const UINT id = menu->GetItemId(i);
    // Custom menu entries are always available.
    if (id >= kCustomMenuFirst && id <= kCustomMenuLast) continue;
    int enabled = FALSE;
    int checked = FALSE;
    CNorvItemCallScope scope(item);
    item->InitMenuInfo(id, enabled, checked, selectedCount);
    menu->EnableItem(i, enabled ? TRUE : FALSE);
    menu->CheckItem(i, checked ? TRUE : FALSE);
  }
}

void TreeView::AppendCustomMenus(CNorvMenu* menu, CNorvTreeListItem* item) {
  if (menu == nullptr || item == nullptr) return;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"CustomMenus\\" + item->GetClassName());
  NorvStringArray names, values;
  if (!key.IsOpen() || !key.GetEnumStrings(names, values)) return;
  CNorvMenu sub;
  NorvString title;
  UINT index = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      title = values[i];
      continue;
    }
    sub.AppendItem(kCustomMenuFirst + index++, names[i]);
    if (kCustomMenuFirst + index > kCustomMenuLast) break;
  }
  if (sub.IsEmpty()) return;
  if (title.empty()) title = plat::LoadString(7086);
  menu->InsertSeparator(0);
  CNorvMenu& popup = menu->InsertPopup(0, title);
  popup.AppendMenu(sub);
}

BOOL TreeView::ExecuteCustomMenu(UINT command, CNorvTreeListItem* item) {
  if (item == nullptr) return FALSE;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"CustomMenus\\" + item->GetClassName());
  NorvStringArray names, values;
  if (!key.IsOpen() || !key.GetEnumStrings(names, values)) return FALSE;
  NorvString line;
  UINT index = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) continue;
    if (kCustomMenuFirst + index++ == command) {
      line = values[i];
      break;
    }
  }
  if (line.empty()) return FALSE;
  CNorvTreeListItem* parent = item->GetParent();
  if (parent != nullptr) {
    // %Column title% becomes the item's text in that column of its parent.
    NorvStringList* titles = nullptr;
    NorvUIntArray *widths = nullptr, *ids = nullptr, *formats = nullptr;
    {
      CNorvItemCallScope scope(parent);
      parent->ListColumns(titles, widths, ids, formats);
    }
    NorvString out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] != L'%') {
        out.push_back(line[i]);
        continue;
      }
      const std::size_t close = line.find(L'%', i + 1);
      if (close == NorvString::npos) {
        out.append(line.substr(i));
        break;
      }
      const NorvString name = line.substr(i + 1, close - i - 1);
      i = close;
      if (name.empty()) {
        out.push_back(L'%');
        continue;
      }
      if (titles == nullptr) continue;
      for (std::size_t c = 0; c < titles->size(); ++c) {
        if (Q((*titles)[c]).compare(Q(name), Qt::CaseInsensitive) != 0) continue;
        const int column = ids != nullptr && c < ids->size()
                               ? static_cast<int>((*ids)[c] & 0x7FFFFFFF)
                               : static_cast<int>(c);
        treeListViewInfo info;
        treeListViewInfo* p = &info;
        CNorvItemCallScope scope(item);
        if (item->GetListViewInfo(p, NORV_TLVI_TEXT, column) && p != nullptr)
          out.append(p->strText);
        break;
      }
    }
    line = out;
  }
  QStringList arguments = QProcess::splitCommand(Q(line));
  if (arguments.isEmpty()) return FALSE;
  const QString program = arguments.takeFirst();
  if (!QProcess::startDetached(program, arguments)) {
    NorvAppMessageBox(plat::LoadString(7087), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  return TRUE;
}

void TreeView::DisplayPopupMenu(CNorvTreeListItem* item, const QPoint& globalPos) {
  if (item == nullptr) {
    m_popupItem = nullptr;
    return;
  }
  StopRefreshTimer();
  CNorvMenu menu;
  {
    CNorvMenu empty;
    CNorvItemCallScope scope(item);
    CNorvMenu* shown = item->TreeMenuInfo(&empty);
    if (shown != nullptr) menu = *shown;
  }
  AppendCustomMenus(&menu, item);
  UINT chosen = 0;
  if (!menu.IsEmpty()) {
    InitiateItemPopupMenu(item, &menu, 0);
    chosen = NorvTrackPopupMenu(menu, globalPos, this);
  }
  if (chosen != 0) {
    PostCommand(chosen);
    PostCommand(kClearPopupItem);
  } else {
    m_popupItem = nullptr;
  }
  SetupRefreshTimer();
}

NorvString TreeView::ObjectInformationText(CNorvTreeListItem* item) {
  if (item == nullptr) return {};
  auto line = [](const NorvString& text) { return text.substr(0, 1024); };
  NorvString out;
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
  }
  if (p == nullptr) p = &info;
  out += line(NorvFormatString(L"Name:\t%s\n", p->strText.c_str()));
  out += line(NorvFormatString(L"Address:\t0x%p\n\n", static_cast<void*>(item)));
  const int pluginId = CPluginHandler::FindItemPluginId(item);
  if (pluginId >= 0 && pluginId < CPluginHandler::GetPluginCount()) {
    const NorvPluginRecord& record = CPluginHandler::pluginList[static_cast<std::size_t>(pluginId)];
    out += line(NorvFormatString(L"Plugin Name:\t%s\n", record.name.c_str()));
    out += line(NorvFormatString(L"Plugin DLL:\t%s\n", record.pluginLibrary.c_str()));
    out += line(NorvFormatString(L"Plugin Resource:\t%s\n\n", record.resourceLibrary.c_str()));
  }
  out += line(NorvFormatString(L"Tree Images:\t%d (Normal), %d (Selected)\n", p->nImage,
                               p->nSelectedImage));
  treeListViewInfo listInfo;
  treeListViewInfo* l = &listInfo;
  {
    CNorvItemCallScope scope(item);
    item->GetListViewInfo(l, NORV_TLVI_IMAGE, 0);
  }
  out += line(NorvFormatString(L"List Image:\t%d\n", l != nullptr ? l->nImage : -1));
  out += line(NorvFormatString(L"Tree Handle:\t0x%p\n", item->GetTreeHandle()));
  out += line(NorvFormatString(L"List Index:\t%d\n", item->GetListHandle()));
  UINT help = 0;
  {
    CNorvItemCallScope scope(item);
    help = item->GetContextHelpId();
  }
  out += line(NorvFormatString(L"Help Id:\t%d\n", static_cast<int>(help)));
  static const wchar_t* const kNames[] = {L"INVALID ", L"LISTINVALID ", L"DELETED ",
                                          L"REMOVED ", L"REDRAW ",      L"ACCESSERROR ",
                                          L"STATIC ",  L"LISTUPDATED "};
  NorvString flags = L"Flags:\t";
  const DWORD value = item->GetFlags();
  if ((value & 0xFF) == 0) flags += L"<NONE>";
  for (int bit = 0; bit < 8; ++bit)
    if (value & (1u << bit)) flags += kNames[bit];
  out += line(flags + L"\n\n");
  out += line(NorvFormatString(L"Id:\t%s\n", item->Id().c_str()));
  out += line(NorvFormatString(L"Class:\t%s\n", item->GetClassName().c_str()));
  NorvString indent;
  const CNorvRuntimeClass* runtime = item->GetRuntimeClass();
  for (const CNorvRuntimeClass* base = runtime != nullptr ? runtime->m_pBaseClass : nullptr;
       base != nullptr; base = base->m_pBaseClass) {
    out += line(NorvFormatString(L"\t%s |--%s\n", indent.c_str(), base->GetClassName().c_str()));
    indent += L"    ";
  }
  return out;
}

void TreeView::ShowObjectInformation(CNorvTreeListItem* item) {
  if (item == nullptr) return;
  QDialog dialog(this);
  dialog.setWindowTitle(tr("Object Information"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(7, 7, 7, 7);
  auto* list = new QListWidget(&dialog);
  for (const QString& text : Q(ObjectInformationText(item)).split(QLatin1Char('\n')))
    list->addItem(text);
  layout->addWidget(list);
  dialog.resize(480, 360);
  dialog.exec();
}

// ===========================================================================
// Input
// ===========================================================================

void TreeView::keyPressEvent(QKeyEvent* event) {
  if (state() == QAbstractItemView::EditingState) {
    QTreeView::keyPressEvent(event);
    return;
  }
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (mods == Qt::AltModifier && event->key() == Qt::Key_Left) {
    m_frame->GoBack(1);
    return;
  }
  if (mods == Qt::AltModifier && event->key() == Qt::Key_Right) {
    m_frame->GoForward(1);
    return;
  }
  if (mods == Qt::NoModifier) {
    switch (event->key()) {
      case Qt::Key_F5:
        OnCommand(kRefresh);
        return;
      case Qt::Key_F2:
        OnCommand(kRename);
        return;
      case Qt::Key_Delete: {
        BOOL enabled = FALSE, checked = FALSE;
        OnUpdateCommand(kDelete, enabled, checked);
        if (enabled) OnCommand(kDelete);
        return;
      }
      case Qt::Key_Menu:
        OnCommand(kApplicationKey);
        return;
      default:
        break;
    }
  }
  if (mods == Qt::ShiftModifier && event->key() == Qt::Key_F10) {
    OnCommand(kApplicationKey);
    return;
  }
  const SelectionCause cause = m_inputCause;
  m_inputCause = SelectedByKeyboard;
  QTreeView::keyPressEvent(event);
  m_inputCause = cause;
}

void TreeView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  NorvTreeNode* node = m_model->NodeFromIndex(index);
  m_clickOnSelected = event->button() == Qt::LeftButton && node != nullptr &&
                      node == GetSelectedNode() &&
                      visualRect(index).contains(event->position().toPoint());
  const SelectionCause cause = m_inputCause;
  m_inputCause = SelectedByMouse;
  QTreeView::mousePressEvent(event);
  m_inputCause = cause;
}

void TreeView::mouseReleaseEvent(QMouseEvent* event) {
  const bool clickOnSelected = m_clickOnSelected;
  m_clickOnSelected = false;
  const SelectionCause cause = m_inputCause;
  m_inputCause = SelectedByMouse;
  QTreeView::mouseReleaseEvent(event);
  m_inputCause = cause;
  if (!clickOnSelected || state() == QAbstractItemView::EditingState) return;
  NorvTreeNode* node = GetSelectedNode();
  if (node == nullptr || node->item == nullptr || !GetExpandOnSelect()) return;
  BOOL has = FALSE;
  {
    CNorvItemCallScope scope(node->item);
    has = node->item->HasTreeItems();
  }
  if (has) SetNodeExpanded(node, true);
}

void TreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (GetExpandOnSelect()) {
    event->accept();
    return;
  }
  QTreeView::mouseDoubleClickEvent(event);
}

void TreeView::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    OnCommand(kApplicationKey);
    return;
  }
  CNorvTreeListItem* item = GetHitTreeItem(event->pos());
  if (item == nullptr) return;
  m_popupItem = item;
  DisplayPopupMenu(item, event->globalPos());
}

// ===========================================================================
// Drag and drop
// ===========================================================================

DWORD TreeView::KeyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) const {
  DWORD state = 0;
  if (buttons & Qt::LeftButton) state |= MK_LBUTTON;
  if (buttons & Qt::RightButton) state |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) state |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) state |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) state |= MK_CONTROL;
  if (modifiers & Qt::AltModifier) state |= MK_ALT;
  return state;
}

void TreeView::startDrag(Qt::DropActions) {
  NorvTreeNode* node = m_model->NodeFromIndex(currentIndex());
  if (node == nullptr || node->item == nullptr) return;
  CNorvTreeListItem* item = node->item;
  {
    CNorvItemCallScope scope(item);
    if (item->CanDrag() == DRAG_NONE) return;
  }
  StopRefreshTimer();
  CNorvTLItemList list;
  list.AddTail(item);
  CNorvTreeListItem* parent = item->GetParent();
  CDragImage image;
  const QIcon icon = m_model->data(currentIndex(), Qt::DecorationRole).value<QIcon>();
  if (!icon.isNull()) image.SetImage(icon.pixmap(iconSize()).toImage());
  QMimeData* data = nullptr;
  CopyItemsToClipboard(&list, &image, QPoint(0, 0), CNorvClipBoardItem::dragdrop,
                       parent != nullptr ? parent->GetClassName() : NorvString(),
                       parent != nullptr ? parent->Id() : NorvString(), TRUE,
                       item->GetClipboardFormat(), nullptr, &data);
  list.RemoveAll();
  if (data != nullptr) {
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    if (!icon.isNull()) drag->setPixmap(icon.pixmap(iconSize()));
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
  }
  SetupRefreshTimer();
}

void TreeView::SetDropHighlight(NorvTreeNode* node) {
  if (node == m_hoverNode) return;
  if (m_hoverNode != nullptr && CNorvTreeModel::NodeOf(m_hoverNode->item) == m_hoverNode) {
    m_hoverNode->dropHighlight = false;
    m_model->NodeChanged(m_hoverNode);
  }
  m_hoverNode = node;
  m_dropHighlightShown = node != nullptr;
  if (node != nullptr) {
    node->dropHighlight = true;
    m_model->NodeChanged(node);
    m_hoverTimer.start(kHoverExpandDelay);
  } else {
    m_hoverTimer.stop();
  }
}

void TreeView::OnHoverExpand() {
  NorvTreeNode* node = m_hoverNode;
  if (node == nullptr || node->item == nullptr) return;
  if (node->children.empty() && !node->childIndicator) return;
  SetNodeExpanded(node, true);
}

bool TreeView::HandleDragOver(QDropEvent* event, bool drop) {
  const QPoint pos = event->position().toPoint();
  if (!drop) {
    // Scroll one line when the pointer is near an edge.
    constexpr int margin = 12;
    const QRect area = viewport()->rect();
    if (pos.y() < area.top() + margin)
      verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    else if (pos.y() > area.bottom() - margin)
      verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    if (pos.x() < area.left() + margin)
      horizontalScrollBar()->setValue(horizontalScrollBar()->value() -
                                      horizontalScrollBar()->singleStep());
    else if (pos.x() > area.right() - margin)
      horizontalScrollBar()->setValue(horizontalScrollBar()->value() +
                                      horizontalScrollBar()->singleStep());
  }
  NorvTreeNode* node = m_model->NodeFromIndex(indexAt(pos));
  if (node == nullptr || node->item == nullptr) {
    SetDropHighlight(nullptr);
    event->ignore();
    return false;
  }
  if (!drop) SetDropHighlight(node);
  const DWORD keyState = KeyStateOf(event->buttons(), event->modifiers()) |
                         (m_dragKeyState & (MK_LBUTTON | MK_RBUTTON));
  m_dropKeyState = keyState & 0x13;
  const QMimeData* data = event->mimeData();
  DWORD effect = 0;
  const Qt::DropAction proposed = event->proposedAction();
  if (proposed == Qt::MoveAction)
    effect = DROPEFFECT_MOVE;
  else if (proposed == Qt::LinkAction)
    effect = DROPEFFECT_LINK;
  else
    effect = DROPEFFECT_COPY;
  bool ok = false;
  CNorvItemCallScope scope(node->item);
  if (CheckFilesOnClipboard(data) &&
      !CheckItemsOnClipboard(CNorvClipBoardItem::dragdrop, NorvString(), data)) {
    ok = node->item->CanDropFiles() != FALSE;
    m_dropFormat = NORV_FILEDROP_FORMAT_NAME;
  } else {
    NorvString format;
    ok = node->item->CanDrop(data, effect, format, keyState) != DROP_NONE && effect != 0;
    m_dropFormat = format;
  }
  if (!ok) {
    event->ignore();
    return false;
  }
  Qt::DropAction action = Qt::CopyAction;
  const Qt::DropActions possible = event->possibleActions();
  if ((effect & DROPEFFECT_MOVE) && (possible & Qt::MoveAction))
    action = Qt::MoveAction;
  else if ((effect & DROPEFFECT_COPY) && (possible & Qt::CopyAction))
    action = Qt::CopyAction;
  else if ((effect & DROPEFFECT_LINK) && (possible & Qt::LinkAction))
    action = Qt::LinkAction;
  event->setDropAction(action);
  event->accept();
  return true;
}

void TreeView::dragEnterEvent(QDragEnterEvent* event) {
  StopRefreshTimer();
  m_dragKeyState = KeyStateOf(event->buttons(), event->modifiers());
  HandleDragOver(event, false);
  event->setAccepted(true);  // later moves decide per node
}

void TreeView::dragMoveEvent(QDragMoveEvent* event) { HandleDragOver(event, false); }

void TreeView::dragLeaveEvent(QDragLeaveEvent* event) {
  SetDropHighlight(nullptr);
  event->accept();
  SetupRefreshTimer();
}

void TreeView::dropEvent(QDropEvent* event) {
  const bool ok = HandleDragOver(event, true);
  NorvTreeNode* node = m_model->NodeFromIndex(indexAt(event->position().toPoint()));
  SetDropHighlight(nullptr);
  m_hoverTimer.stop();
  if (!ok || node == nullptr || node->item == nullptr) {
    event->ignore();
    SetupRefreshTimer();
    return;
  }
  CNorvTreeListItem* item = node->item;
  const QMimeData* data = event->mimeData();
  if (m_dropFormat == NORV_FILEDROP_FORMAT_NAME) {
    NorvStringList files;
    CmdResult result = CMD_NOT_HANDLED;
    if (GetFilesFromClipboard(files, data)) {
      ItemWatch watch(item);
      {
        CNorvItemCallScope scope(item);
        result = item->DropFiles(files);
      }
      if (result != CMD_NOT_HANDLED) AutoRefresh(watch.get(), FALSE);
    }
    event->acceptProposedAction();
    SetupRefreshTimer();
    return;
  }
  if (m_droppedItems != nullptr) {
    m_droppedItems->ClearList();
    delete m_droppedItems;
    m_droppedItems = nullptr;
  }
  try {
    CNorvTLItemList* list = nullptr;
    const BOOL read = GetItemsFromClipboard(list, CNorvClipBoardItem::dragdrop, data, m_dropFormat);
    if (!read && list != nullptr) {
      list->ClearList();
      delete list;
      list = nullptr;
    }
    m_droppedItems = list;
  } catch (const std::exception&) {
    m_droppedItems = nullptr;
  }
  if (m_droppedItems == nullptr) {
    event->ignore();
    SetupRefreshTimer();
    return;
  }
  m_popupItem = item;
  event->accept();
  if ((m_dragKeyState & MK_RBUTTON) != 0) {
    CNorvMenu menu;
    {
      CNorvMenu empty;
      CNorvItemCallScope scope(item);
      CNorvMenu* shown =
          item->DropMenuInfo(&empty, m_dropFormat,
                             KeyStateOf({}, event->modifiers()) & (MK_SHIFT | MK_CONTROL | MK_ALT));
      if (shown != nullptr) menu = *shown;
    }
    const UINT chosen =
        menu.IsEmpty() ? 0
                       : NorvTrackPopupMenu(menu, mapToGlobal(event->position().toPoint()), this);
    if (chosen != 0) {
      m_dropPending = TRUE;
      PostCommand(chosen);
      PostCommand(kClearPopupItem);
    } else {
      m_popupItem = nullptr;
      m_droppedItems->ClearList();
      delete m_droppedItems;
      m_droppedItems = nullptr;
    }
  } else {
    m_dropPending = TRUE;
    PostCommand(kDefaultDrop);
  }
  SetupRefreshTimer();
}
