#include "NorvListView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDrag>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <algorithm>
#include <atomic>
#include <mutex>

#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvClipBoardItem.h"
#include "norv/NorvClipboard.h"
#include "norv/NorvColumns.h"
#include "norv/NorvDoc.h"
#include "norv/NorvFilterList.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMenu.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace {

constexpr const char* kSourceFile = "NorvDll/NorvListView";
constexpr const wchar_t* kWidthsKey = L"ColumnWidths";
constexpr const wchar_t* kOrdersKey = L"ColumnOrders";
constexpr const wchar_t* kSortingsKey = L"ListSortings";
constexpr const wchar_t* kFiltersKey = L"ColumnFilters";
constexpr const wchar_t* kAutoSizeValue = L"AutosizeListViewColumns";

// Key states of a drop, as items expect them.
constexpr DWORD kKeyLeftButton = 1;
constexpr DWORD kKeyRightButton = 2;
constexpr DWORD kKeyShift = 4;
constexpr DWORD kKeyControl = 8;
constexpr DWORD kKeyAlt = 32;

// Read from any thread (the view services of a worker that unlinks children).
std::atomic<CNorvListView*> gInstance{nullptr};

BOOL ReadArray(const wchar_t* subKey, const NorvString& name, NorvUIntArray& values) {
  if (name.empty()) return FALSE;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, subKey, plat::KEY_READ);
  return key.IsOpen() ? key.GetUIntArray(name, values) : FALSE;
}

BOOL WriteArray(const wchar_t* subKey, const NorvString& name, const NorvUIntArray& values) {
  if (name.empty()) return FALSE;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, subKey, plat::KEY_ALL_ACCESS);
  return key.IsOpen() ? key.SetUIntArray(name, values) : FALSE;
}

BOOL ReadFilterText(const NorvString& name, NorvString& text) {
  if (name.empty()) return FALSE;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, kFiltersKey, plat::KEY_READ);
  return key.IsOpen() ? key.GetStringValue(name, text) : FALSE;
}

QString Q(const NorvString& text) { return QString::fromStdWString(text); }

void TraceLine(int level, const NorvString& text) { NORV_BASE_TRACE(level, 0, text); }

DWORD KeyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  DWORD state = 0;
  if (buttons & Qt::LeftButton) state |= kKeyLeftButton;
  if (buttons & Qt::RightButton) state |= kKeyRightButton;
  if (modifiers & Qt::ShiftModifier) state |= kKeyShift;
  if (modifiers & Qt::ControlModifier) state |= kKeyControl;
  if (modifiers & Qt::AltModifier) state |= kKeyAlt;
  return state;
}

// The panes forward what the user does to the view.
template <class Base>
class NorvListPane : public Base {
 public:
  explicit NorvListPane(CNorvListView* owner) : Base(owner), m_owner(owner) {}

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    m_owner->PaneContextMenu(this, event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (this->state() == QAbstractItemView::EditingState || !m_owner->PaneKeyPress(this, event))
      Base::keyPressEvent(event);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    const QModelIndex index = this->indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
      m_owner->PaneDoubleClick(this, index);
      return;
    }
    Base::mouseDoubleClickEvent(event);
  }
  bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger,
            QEvent* event) override {
    const bool opens =
        (trigger & this->editTriggers()) != 0 || trigger == QAbstractItemView::AllEditTriggers;
    if (opens && index.isValid() && !m_owner->PaneEdit(index)) return false;
    return Base::edit(index, trigger, event);
  }
  void startDrag(Qt::DropActions) override { m_owner->PaneStartDrag(this); }
  void dragEnterEvent(QDragEnterEvent* event) override {
    m_owner->PaneDragMove(this, event, false);
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    Base::dragMoveEvent(event);  // auto-scroll near the edges
    m_owner->PaneDragMove(this, event, false);
  }
  void dragLeaveEvent(QDragLeaveEvent*) override { m_owner->PaneDragLeave(); }
  void dropEvent(QDropEvent* event) override { m_owner->PaneDragMove(this, event, true); }

 private:
  CNorvListView* m_owner;
};

class DetailsPane : public NorvListPane<QTreeView> {
 public:
  using NorvListPane<QTreeView>::NorvListPane;
};
class IconsPane : public NorvListPane<QListView> {
 public:
  using NorvListPane<QListView>::NorvListPane;
};

}  // namespace

INorvListFrame::~INorvListFrame() = default;

// Custom draw: each cell in the item's colours and the explorer font of its
// emphasis; drop-highlighted rows drawn selected.
class CNorvListView::Delegate : public CNorvListDelegate {
 public:
  explicit Delegate(CNorvListView* view)
      : CNorvListDelegate(view->m_model, &view->m_columnIds, view), m_view(view) {}

 protected:
  bool PrepareCell(QStyleOptionViewItem* option, const QModelIndex& index,
                   CNorvTreeListItem* item) const override {
    if (m_view->IsDropHighlighted(index.row())) option->state |= QStyle::State_Selected;
    if (m_view->m_stale) return false;
    if (item != nullptr && !m_view->m_cutItems.empty() && m_view->IsCutItem(item)) {
      // A cut row is drawn dimmed until it is pasted or another cut comes.
      option->palette.setColor(QPalette::Text,
                               option->palette.color(QPalette::Disabled, QPalette::Text));
      return false;
    }
    return true;
  }
  const QFont* CellFont(bool bold, bool italic) const override {
    CNorvDoc* doc = CNorvDoc::GetDoc();
    if (doc == nullptr) return nullptr;
    const QFont* font = EmphasisFont(bold, italic, &doc->GetViewFont(), &doc->GetBoldFont(),
                                     &doc->GetItalicFont(), &doc->GetBoldItalicFont());
    return font->family().isEmpty() ? nullptr : font;
  }

 private:
  CNorvListView* m_view;
};

// ===========================================================================
// Construction
// ===========================================================================

CNorvListView::CNorvListView(QWidget* parent) : QStackedWidget(parent) {
  m_model = new CNorvListModel(this);
  m_delegate = new Delegate(this);
  auto* details = new DetailsPane(this);
  m_details = details;
  m_details->setRootIsDecorated(false);
  m_details->setUniformRowHeights(true);
  m_details->setItemsExpandable(false);
  m_details->setAllColumnsShowFocus(true);
  m_details->setSortingEnabled(false);
  m_details->setModel(m_model);
  m_details->setItemDelegate(m_delegate);
  auto* icons = new IconsPane(this);
  m_icons = icons;
  m_icons->setModel(m_model);
  m_icons->setSelectionModel(m_details->selectionModel());
  m_icons->setItemDelegate(m_delegate);
  m_icons->setUniformItemSizes(true);
  m_icons->setLayoutMode(QListView::Batched);
  m_icons->setBatchSize(1000);
  m_icons->setResizeMode(QListView::Adjust);
  for (QAbstractItemView* pane :
       {static_cast<QAbstractItemView*>(m_details), static_cast<QAbstractItemView*>(m_icons)}) {
    pane->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pane->setSelectionBehavior(QAbstractItemView::SelectRows);
    pane->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    pane->setDragEnabled(true);
    pane->setAcceptDrops(true);
    pane->setDropIndicatorShown(false);
    pane->setDragDropMode(QAbstractItemView::DragDrop);
    pane->setAutoScroll(true);
    pane->setAutoScrollMargin(5);
  }
  addWidget(m_details);
  addWidget(m_icons);
  setCurrentWidget(m_details);

  QHeaderView* header = m_details->header();
  header->setStretchLastSection(false);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  header->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionClicked, this, [this](int v) { OnHeaderClicked(v); });
  connect(header, &QHeaderView::sectionResized, this,
          [this](int v, int oldSize, int newSize) { OnSectionResized(v, oldSize, newSize); });
  connect(header, &QHeaderView::sectionMoved, this,
          [this](int logical, int from, int to) { OnSectionMoved(logical, from, to); });
  connect(header, &QHeaderView::customContextMenuRequested, this,
          [this](const QPoint& pos) { ShowHeaderMenu(m_details->header()->mapToGlobal(pos)); });
  connect(m_details->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { OnSelectionChanged(); });

  m_model->SetIconProvider([this](int image) -> QIcon {
    if (image < 0 || m_frame == nullptr) return {};
    return m_frame->GetListImage(image);
  });
  m_model->SetEditHandler([this](int row, const NorvString& text) {
    CNorvTreeListItem* item = m_model->Item(row);
    if (item == nullptr || m_stale) return false;
    CNorvItemCallScope scope(item);
    return item->EndEdit(text) != FALSE;
  });

  m_selectionTimer.setSingleShot(true);
  m_selectionTimer.setInterval(kSelectionDelay);
  connect(&m_selectionTimer, &QTimer::timeout, this, [this] { OnSelectionTimer(); });

  UINT autoSize = 0;
  CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_READ);
  if (settings.IsOpen() && settings.GetUIntValue(kAutoSizeValue, autoSize))
    m_autoSize = autoSize != 0 ? TRUE : FALSE;
  if (CNorvDoc* doc = CNorvDoc::GetDoc())
    if (!doc->GetViewFont().family().isEmpty()) setFont(doc->GetViewFont());
  gInstance = this;
}

CNorvListView::~CNorvListView() {
  CNorvListView* self = this;
  gInstance.compare_exchange_strong(self, nullptr);
  m_selectionTimer.stop();
  ClearDrop();
  CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_ALL_ACCESS);
  if (settings.IsOpen()) settings.SetUIntValue(kAutoSizeValue, m_autoSize ? 1u : 0u);
}

CNorvListView* CNorvListView::Instance() { return gInstance.load(); }

void CNorvListView::SetFrame(INorvListFrame* frame) { m_frame = frame; }
void CNorvListView::SetTree(TreeView* tree) { m_tree = tree; }

TreeView* CNorvListView::Tree() const {
  if (m_tree) return m_tree.data();
  CNorvDoc* doc = CNorvDoc::GetDoc();
  return doc != nullptr ? qobject_cast<TreeView*>(doc->GetTreeView()) : nullptr;
}

CNorvTreeListItem* CNorvListView::SelectedTreeItem() const {
  if (TreeView* tree = Tree())
    if (CNorvTreeListItem* item = tree->GetSelectedTreeItem()) return item;
  return m_container;
}

void CNorvListView::LockTreeRedraw(BOOL redraw) {
  if (TreeView* tree = Tree()) tree->SetViewRedrawStack(redraw);
}
void CNorvListView::StopTreeTimer() {
  if (TreeView* tree = Tree()) tree->StopRefreshTimer();
}
void CNorvListView::StartTreeTimer() {
  if (TreeView* tree = Tree()) tree->SetupRefreshTimer();
}

QAbstractItemView* CNorvListView::CurrentPane() const {
  return m_style == kStyleDetails ? static_cast<QAbstractItemView*>(m_details)
                                  : static_cast<QAbstractItemView*>(m_icons);
}

// ===========================================================================
// Column-set key and saved settings
// ===========================================================================

NorvString CNorvListView::MakeColumnSetKey(const NorvString& className, const NorvUIntArray& ids) {
  QByteArray bytes;
  bytes.reserve(static_cast<qsizetype>(ids.size() * 4));
  for (UINT id : ids) {
    const UINT value = id & NORV_COLUMN_ID_MASK;
    for (int b = 0; b < 4; ++b) bytes.append(static_cast<char>((value >> (8 * b)) & 0xFF));
  }
  const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
  NorvString key = className + L":";
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  for (char c : digest) {
    const auto byte = static_cast<unsigned char>(c);
    key.push_back(kHex[byte >> 4]);
    key.push_back(kHex[byte & 0xF]);
  }
  return key;
}

BOOL CNorvListView::GetListItems(CNorvTreeListItem* item, const char* sourceFile, int line,
                                 const char* function) {
  const GetItemsResult got = gNorvBaseTraceLevel >= 3
                                 ? Trace_GetItems(sourceFile, line, function, item, FALSE)
                                 : item->GetItems(FALSE);
  if (got == GETITEMS_OK) return TRUE;
  item->SetFlags(NORV_ITEM_ACCESSERROR, FALSE);
  return FALSE;
}

NorvColumnSet CNorvListView::ReadColumns(CNorvTreeListItem* item, NorvStringList& names,
                                         NorvUIntArray& widths, NorvUIntArray& ids,
                                         std::vector<int>& formats) {
  NorvStringList* declaredTitles = nullptr;
  NorvUIntArray* declaredWidths = nullptr;
  NorvUIntArray* declaredIds = nullptr;
  NorvUIntArray* declaredFormats = nullptr;
  const int declared =
      item->ListColumns(declaredTitles, declaredWidths, declaredIds, declaredFormats);
  NorvColumnSet set =
      NorvDecodeColumns(declaredTitles, declaredWidths, declaredIds, declaredFormats, declared);
  for (const NorvColumn& column : set.columns) {
    names.push_back(column.title);
    widths.push_back(column.width);
    ids.push_back(column.id);
    formats.push_back(column.format);
  }
  return set;
}

void CNorvListView::AppendColumnItems(CNorvMenu& menu, const NorvStringList& names,
                                      const NorvUIntArray& widths, size_t most) {
  for (size_t n = 0; n < names.size() && n < most; ++n)
    menu.AppendItem(ID_NORV_COLUMN_TOGGLE_FIRST + static_cast<UINT>(n), names[n], TRUE,
                    NorvIsColumnHidden(widths[n]) ? FALSE : TRUE);
  menu.AppendSeparator();
  menu.AppendItem(ID_NORV_CMD_SHOW_ALL_COLUMNS, plat::LoadString(IDS_NORV_SHOW_ALL_COLUMNS));
  menu.AppendItem(ID_NORV_CMD_HIDE_ALL_COLUMNS, plat::LoadString(IDS_NORV_HIDE_ALL_COLUMNS));
  menu.AppendSeparator();
}

// ===========================================================================
// CNorvView
// ===========================================================================

BOOL CNorvListView::AllowTimerRefresh() { return GetSelectedCount() > 1 ? FALSE : TRUE; }

void CNorvListView::EraseContents() {
  m_selectionTimer.stop();
  m_cutItems.clear();
  ClearDrop();
  m_popupItem = nullptr;
  m_filling = true;
  m_model->SetColumns({}, {}, {});
  m_filling = false;
  m_container = nullptr;
  m_stale = false;
}

void CNorvListView::ClearColumns() {
  m_names.clear();
  m_columnIds.clear();
  m_widths.clear();
  m_formats.clear();
  m_columnOrder.clear();
  m_visibleIds.clear();
  m_defaultDirections.clear();
  m_columnSetKey.clear();
  m_filterText.clear();
  m_filters.Clear();
  m_userFilters = FALSE;
  m_sortColumn = 0;
  m_sortColumnId = 0;
  m_sortDirection = 1;
}

BOOL CNorvListView::ShowContents(CNorvTreeListItem* item) {
  LockTreeRedraw(FALSE);
  const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
  EraseContents();
  ClearColumns();
  BOOL result = FALSE;
  if (item != nullptr && (item->GetFlags() & NORV_ITEM_ACCESSERROR) == 0) {
    m_container = item;
    CNorvItemCallScope scope(item);
    if (!GetListItems(item, kSourceFile, __LINE__, "CNorvListView::ShowContents")) {
      m_container = nullptr;
    } else {
      // Workers change child lists only under the item model lock.
      std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
      const int mode = item->GetViewMode();
      if (StyleOfViewMode(mode) >= 0) SetListView(static_cast<DWORD>(StyleOfViewMode(mode)));

      const NorvColumnSet set = ReadColumns(item, m_names, m_widths, m_columnIds, m_formats);
      for (const NorvColumn& column : set.columns)
        m_defaultDirections.push_back(column.ascendingFirst ? 1u : 0u);
      const size_t count = m_names.size();
      m_columnSetKey = MakeColumnSetKey(item->GetClassName(), m_columnIds);

      if (!set.reset && count > 0) {
        NorvUIntArray saved;
        if (ReadArray(kWidthsKey, m_columnSetKey, saved)) {
          // Longer arrays are cut; missing entries keep the item's widths.
          for (size_t n = 0; n < count && n < saved.size(); ++n) m_widths[n] = saved[n];
        }
        if (ReadArray(kOrdersKey, m_columnSetKey, saved)) m_columnOrder = saved;
      }

      if (item->HasFeature(kFeatureColumnFilters)) ReadFilterText(m_columnSetKey, m_filterText);
      std::string error;
      if (!m_filters.Parse(m_filterText, &error))
        TraceLine(2, L"CNorvListView::ShowContents: stored filters of " + m_columnSetKey +
                         L" break off: " + NorvString(error.begin(), error.end()));

      std::vector<int> visible;
      int sortColumn = 0;
      bool sortFound = false;
      for (size_t n = 0; n < count; ++n) {
        if (m_filters.NamesColumn(m_columnIds[n])) m_userFilters = TRUE;
        if (!NorvIsColumnHidden(m_widths[n])) {
          visible.push_back(static_cast<int>(n));
          m_visibleIds.push_back(m_columnIds[n]);
        }
        if (!sortFound && set.defaultSortId >= 0 &&
            m_columnIds[n] == static_cast<UINT>(set.defaultSortId)) {
          sortColumn = static_cast<int>(n);
          sortFound = true;
        }
      }
      m_filling = true;
      m_model->SetColumns(m_names, m_formats, visible);
      QHeaderView* header = m_details->header();
      for (size_t v = 0; v < visible.size(); ++v) {
        const UINT n = static_cast<UINT>(visible[v]);
        header->resizeSection(static_cast<int>(v), static_cast<int>(m_widths[n]));
        if (m_filters.NamesColumn(m_columnIds[n]))
          m_model->SetHeaderFlags(static_cast<int>(v), NORV_HEADER_FILTERED);
      }
      ApplyColumnOrder();
      header->setSectionsMovable(item->HasFeature(kFeatureReorderColumns) != FALSE);
      m_filling = false;

      CNorvFilterList* fixed = nullptr;
      if (item->GetDefaultFilter(fixed) && fixed != nullptr)
        for (const NorvColumnFilter& filter : *fixed)
          m_filters.Add(filter.columnId, filter.mode, filter.pattern);

      std::vector<CNorvTreeListItem*> children;
      children.reserve(static_cast<size_t>(item->GetItemList().GetCount()));
      for (CNorvTreeListItem* child : item->GetItemList())
        if (child != nullptr && (child->GetItemListMask() & NORV_ITEMLIST_LIST) != 0)
          children.push_back(child);
      AddRows(item, children);
      if (m_model->RowCount() > 0)
        m_details->selectionModel()->setCurrentIndex(m_model->index(0, 0),
                                                     QItemSelectionModel::NoUpdate);
      SortList(-1, sortColumn, set.reset);
      if (m_autoSize || item->HasFeature(kFeatureAutoSize)) AutoSizeColumns();
      ShowRowCount();
      if (m_frame != nullptr) m_frame->ShowFilterWarning(m_userFilters);
      result = TRUE;
    }
  }
  if (cursor) QApplication::restoreOverrideCursor();
  LockTreeRedraw(TRUE);
  emit ContentsChanged();
  return result;
}

void CNorvListView::ApplyColumnOrder() {
  QHeaderView* header = m_details->header();
  const int visible = m_model->VisibleCount();
  // A saved order must name each visible column once; anything else no
  // longer fits this column set.
  if (!m_columnOrder.empty()) {
    bool fits = m_columnOrder.size() == static_cast<size_t>(visible);
    std::vector<bool> seen(static_cast<size_t>(visible), false);
    for (size_t i = 0; fits && i < m_columnOrder.size(); ++i) {
      const UINT v = m_columnOrder[i];
      if (v >= static_cast<UINT>(visible) || seen[v])
        fits = false;
      else
        seen[v] = true;
    }
    if (!fits) {
      TraceLine(2, L"CNorvListView: the stored column order of " + m_columnSetKey +
                       L" does not fit the columns and is ignored");
      m_columnOrder.clear();
    }
  }
  if (m_columnOrder.empty()) {
    for (int i = 0; i < visible; ++i)
      m_columnOrder.push_back(
          static_cast<UINT>(header->logicalIndex(i) >= 0 ? header->logicalIndex(i) : i));
    return;
  }
  for (int i = 0; i < visible; ++i) {
    const int logical = static_cast<int>(m_columnOrder[static_cast<size_t>(i)]);
    const int from = header->visualIndex(logical);
    if (from != i && from >= 0) header->moveSection(from, i);
  }
}

BOOL CNorvListView::ReadRow(CNorvTreeListItem* child, std::vector<NorvString>& cells, int& image) {
  cells.resize(m_columnIds.size());
  CNorvItemCallScope scope(child);
  treeListViewInfo info;
  for (size_t n = 0; n < m_columnIds.size(); ++n) {
    info.strText.clear();
    treeListViewInfo* p = &info;
    child->GetListViewInfo(p, NORV_TLVI_TEXT, static_cast<int>(m_columnIds[n]));
    if (p != nullptr)
      cells[n].assign(p->strText);
    else
      cells[n].clear();
  }
  info.nImage = -1;
  treeListViewInfo* p = &info;
  child->GetListViewInfo(p, NORV_TLVI_IMAGE, 0);
  const int raw = p != nullptr ? p->nImage : -1;
  image = raw >= 0 ? raw + child->GetImageListOffset() : -1;
  return TRUE;
}

void CNorvListView::AddRows(CNorvTreeListItem* item,
                            const std::vector<CNorvTreeListItem*>& children) {
  std::vector<NorvString> cells;
  m_model->BeginFill(static_cast<int>(children.size()));
  for (CNorvTreeListItem* child : children) {
    int image = -1;
    ReadRow(child, cells, image);
    child->SetParent(item);
    if (!m_filters.RowPasses(m_columnIds, cells)) continue;
    child->SetListHandle(m_model->RowCount());
    m_model->AppendRow(child, image, cells);
  }
  m_model->EndFill();
}

BOOL CNorvListView::UpdateContents(CNorvTreeListItem* item) {
  if (item == nullptr || item != m_container) return FALSE;
  if ((item->GetFlags() & NORV_ITEM_ACCESSERROR) != 0) return FALSE;
  LockTreeRedraw(FALSE);
  {
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    CNorvItemCallScope scope(item);
    std::vector<const CNorvTreeListItem*> present;
    std::vector<CNorvTreeListItem*> listed;
    for (CNorvTreeListItem* child : item->GetItemList())
      if (child != nullptr && (child->GetItemListMask() & NORV_ITEMLIST_LIST) != 0) {
        present.push_back(child);
        listed.push_back(child);
      }
    std::sort(present.begin(), present.end());
    if (m_model->RemoveRowsNotIn(present) > 0) m_model->UpdateListHandles();
    m_stale = false;
    std::vector<const CNorvTreeListItem*> shown;
    for (int r = 0; r < m_model->RowCount(); ++r) shown.push_back(m_model->Item(r));
    std::sort(shown.begin(), shown.end());
    std::vector<CNorvTreeListItem*> added;
    for (CNorvTreeListItem* child : listed)
      if (!std::binary_search(shown.begin(), shown.end(), child)) added.push_back(child);
    if (!added.empty()) {
      m_filters.Clear();
      std::string error;
      m_filters.Parse(m_filterText, &error);
      CNorvFilterList* fixed = nullptr;
      if (item->GetDefaultFilter(fixed) && fixed != nullptr)
        for (const NorvColumnFilter& filter : *fixed)
          m_filters.Add(filter.columnId, filter.mode, filter.pattern);
      AddRows(item, added);
    }
  }
  ShowRowCount();
  LockTreeRedraw(TRUE);
  emit ContentsChanged();
  return TRUE;
}

BOOL CNorvListView::UpdateContainedItem(CNorvTreeListItem* item) {
  const int row = m_model->FindRow(item);
  if (row < 0) return FALSE;
  UpdateItem(row);
  SortList(-1, 0, FALSE);
  return TRUE;
}

void CNorvListView::UpdateItem(int row) {
  CNorvTreeListItem* item = m_model->Item(row);
  if (item == nullptr) return;
  const size_t count = m_columnIds.size();
  std::vector<NorvString> cells(count);
  std::vector<bool> keep(count, true);
  int image = m_model->Image(row);
  CNorvItemCallScope scope(item);
  for (int v = 0; v < m_model->VisibleCount(); ++v) {
    const auto n = static_cast<size_t>(m_model->VisibleColumn(v));
    treeListViewInfo info;
    treeListViewInfo* p = &info;
    item->GetListViewInfo(p, v == 0 ? (NORV_TLVI_TEXT | NORV_TLVI_IMAGE) : NORV_TLVI_TEXT,
                          static_cast<int>(m_columnIds[n]));
    if (p == nullptr) p = &info;
    cells[n] = p->strText;
    keep[n] = false;
    if (v == 0) image = p->nImage >= 0 ? p->nImage + item->GetImageListOffset() : -1;
  }
  m_model->SetRow(row, image, cells, keep);
}

BOOL CNorvListView::RemoveContainedItem(CNorvTreeListItem* item) {
  // The item may be on its way out: found by pointer, never called.
  const int row = m_model->FindRow(item, false);
  if (row < 0) return FALSE;
  m_dropHighlight.erase(std::remove(m_dropHighlight.begin(), m_dropHighlight.end(), item),
                        m_dropHighlight.end());
  m_cutItems.erase(std::remove(m_cutItems.begin(), m_cutItems.end(), item), m_cutItems.end());
  if (m_popupItem == item) m_popupItem = nullptr;
  m_model->RemoveRow(row);
  m_model->UpdateListHandles();
  ShowRowCount();
  return TRUE;
}

void CNorvListView::ChildrenRemoving(CNorvTreeListItem* parent) {
  if (parent == nullptr || parent != m_container) return;
  // Until the list is read again no row's item may be called.
  m_stale = true;
  if (!NorvIsUserInterfaceThread()) {
    QMetaObject::invokeMethod(
        this, [this, parent] { ChildrenRemoved(parent); }, Qt::QueuedConnection);
  }
}

void CNorvListView::ChildrenRemoved(CNorvTreeListItem* parent) {
  if (!NorvIsUserInterfaceThread() || parent == nullptr || parent != m_container || !m_stale)
    return;
  std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
  std::vector<const CNorvTreeListItem*> present;
  for (CNorvTreeListItem* child : parent->GetItemList()) present.push_back(child);
  std::sort(present.begin(), present.end());
  m_dropHighlight.clear();
  m_cutItems.clear();
  if (m_popupItem != nullptr && !std::binary_search(present.begin(), present.end(), m_popupItem) &&
      m_popupItem != parent)
    m_popupItem = nullptr;
  if (m_model->RemoveRowsNotIn(present) > 0) m_model->UpdateListHandles();
  m_stale = false;
  ShowRowCount();
}

// ===========================================================================
// Styles
// ===========================================================================

int CNorvListView::StyleOfViewMode(int mode) {
  switch (mode) {
    case NORV_VIEWMODE_ICON:
      return static_cast<int>(kStyleIcon);
    case NORV_VIEWMODE_SMALLICON:
      return static_cast<int>(kStyleSmallIcon);
    case NORV_VIEWMODE_LIST:
      return static_cast<int>(kStyleList);
    case NORV_VIEWMODE_REPORT:
      return static_cast<int>(kStyleDetails);
    default:
      return -1;
  }
}

void CNorvListView::SetListView(DWORD style) {
  style &= 3;
  m_style = style;
  if (style == kStyleDetails) {
    setCurrentWidget(m_details);
    return;
  }
  if (style == kStyleIcon) {
    m_icons->setViewMode(QListView::IconMode);
    m_icons->setIconSize(QSize(32, 32));
    m_icons->setFlow(QListView::LeftToRight);
    m_icons->setWrapping(true);
    m_icons->setGridSize(QSize(96, 72));
    m_icons->setWordWrap(true);
  } else {
    m_icons->setViewMode(QListView::ListMode);
    m_icons->setIconSize(QSize(16, 16));
    m_icons->setGridSize(QSize());
    m_icons->setWordWrap(false);
    m_icons->setWrapping(true);
    // Small icons run in lines, the list in columns.
    m_icons->setFlow(style == kStyleSmallIcon ? QListView::LeftToRight : QListView::TopToBottom);
  }
  m_icons->setMovement(QListView::Static);
  m_icons->setModelColumn(0);
  setCurrentWidget(m_icons);
}

void CNorvListView::SetListViewCmdUI(BOOL& checked, DWORD style) const {
  checked = m_style == (style & 3) ? TRUE : FALSE;
}

// ===========================================================================
// Sorting
// ===========================================================================

void CNorvListView::SortList(int column, int defaultColumn, BOOL reset) {
  const auto count = static_cast<int>(m_columnIds.size());
  if (count == 0) return;
  NorvUIntArray saved;
  auto defaultDirection = [this](size_t n) {
    return n < m_defaultDirections.size() ? m_defaultDirections[n] : 1u;
  };
  bool have = !reset && ReadArray(kSortingsKey, m_columnSetKey, saved) && !saved.empty();
  if (have && saved[0] >= static_cast<UINT>(count)) {
    TraceLine(2, L"CNorvListView: the stored sorting of " + m_columnSetKey +
                     L" names a column that does not exist and is ignored");
    have = false;
  }
  if (column >= count) column = -1;
  if (have) {
    const bool again = column >= 0 && saved[0] == static_cast<UINT>(column);
    if (column < 0) column = static_cast<int>(saved[0]);
    while (saved.size() < static_cast<size_t>(column) + 2)
      saved.push_back(defaultDirection(saved.size() - 1));
    UINT& direction = saved[static_cast<size_t>(column) + 1];
    if (again) direction = direction != 0 ? 0u : 1u;
    saved[0] = static_cast<UINT>(column);
  } else {
    if (column < 0) column = defaultColumn;
    if (column < 0 || column >= count) column = 0;
    saved.assign(1, static_cast<UINT>(column));
    for (size_t n = 0; n < static_cast<size_t>(count); ++n) saved.push_back(defaultDirection(n));
  }
  WriteArray(kSortingsKey, m_columnSetKey, saved);
  m_sortDirection = saved[static_cast<size_t>(column) + 1] != 0 ? 1u : 0u;
  m_sortColumn = column;
  m_sortColumnId = m_columnIds[static_cast<size_t>(column)];
  SetSortColumn(m_model->VisiblePosition(column), m_sortDirection != 0);

  if (m_stale || m_model->RowCount() < 2) {
    m_model->UpdateListHandles();
    return;
  }
  const int id = static_cast<int>(m_sortColumnId & 0xFFFF);
  const BOOL ascending = m_sortDirection != 0 ? TRUE : FALSE;
  // The rows are the container's children: one resource bracket for all.
  CNorvItemCallScope scope(m_container);
  m_model->SortRows([id, ascending](CNorvTreeListItem* a, CNorvTreeListItem* b) {
    return a->Compare(b, id, ascending) < 0;
  });
  m_model->UpdateListHandles();
}

void CNorvListView::SetSortColumn(int v, BOOL ascending) {
  for (int i = 0; i < m_model->VisibleCount(); ++i) {
    DWORD flags =
        m_model->HeaderFlags(i) & ~(NORV_HEADER_SORTED_ASCENDING | NORV_HEADER_SORTED_DESCENDING);
    if (i == v) flags |= ascending ? NORV_HEADER_SORTED_ASCENDING : NORV_HEADER_SORTED_DESCENDING;
    m_model->SetHeaderFlags(i, flags);
  }
  QHeaderView* header = m_details->header();
  header->setSortIndicatorShown(v >= 0);
  if (v >= 0) header->setSortIndicator(v, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CNorvListView::OnHeaderClicked(int v) {
  const int n = m_model->VisibleColumn(v);
  if (n < 0) return;
  SortList(n, 0, FALSE);
}

// ===========================================================================
// Header: widths, order, columns shown
// ===========================================================================

bool CNorvListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_details->header()->viewport()) HeaderEvent(watched, event);
  return QStackedWidget::eventFilter(watched, event);
}

bool CNorvListView::HeaderEvent(QObject*, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    m_tracking = true;
  } else if (event->type() == QEvent::MouseButtonRelease) {
    // The divider drag ended: keep the final widths.
    if (m_tracking) {
      m_tracking = false;
      SaveWidths();
    }
  }
  return false;
}

void CNorvListView::OnSectionResized(int, int, int) {
  if (m_filling || m_tracking) return;
  SaveWidths();
}

void CNorvListView::SaveWidths() {
  QHeaderView* header = m_details->header();
  for (int v = 0; v < m_model->VisibleCount(); ++v) {
    const int n = m_model->VisibleColumn(v);
    if (n >= 0 && static_cast<size_t>(n) < m_widths.size())
      m_widths[static_cast<size_t>(n)] = static_cast<UINT>(std::max(0, header->sectionSize(v)));
  }
  if (!m_columnSetKey.empty() && !m_widths.empty())
    WriteArray(kWidthsKey, m_columnSetKey, m_widths);
}

void CNorvListView::OnSectionMoved(int, int, int) {
  if (m_filling) return;
  QHeaderView* header = m_details->header();
  m_columnOrder.clear();
  for (int i = 0; i < m_model->VisibleCount(); ++i)
    m_columnOrder.push_back(static_cast<UINT>(header->logicalIndex(i)));
  if (!m_columnSetKey.empty()) WriteArray(kOrdersKey, m_columnSetKey, m_columnOrder);
}

void CNorvListView::SaveWidthsAndOrder() {
  if (m_columnSetKey.empty()) return;
  if (!m_widths.empty()) WriteArray(kWidthsKey, m_columnSetKey, m_widths);
  if (!m_columnOrder.empty()) WriteArray(kOrdersKey, m_columnSetKey, m_columnOrder);
}

void CNorvListView::AddToColumnOrder(UINT v) {
  for (UINT& entry : m_columnOrder)
    if (entry >= v) ++entry;
  const size_t at = std::min(static_cast<size_t>(v), m_columnOrder.size());
  m_columnOrder.insert(m_columnOrder.begin() + static_cast<long>(at), v);
}

void CNorvListView::RemoveFromColumnOrder(UINT v) {
  m_columnOrder.erase(std::remove(m_columnOrder.begin(), m_columnOrder.end(), v),
                      m_columnOrder.end());
  for (UINT& entry : m_columnOrder)
    if (entry > v) --entry;
}

void CNorvListView::ShowSelectedAgain() {
  if (CNorvTreeListItem* item = SelectedTreeItem()) ShowContents(item);
}

void CNorvListView::ToggleColumn(int n) {
  if (SelectedTreeItem() == nullptr || n < 0 || static_cast<size_t>(n) >= m_widths.size()) return;
  UINT& width = m_widths[static_cast<size_t>(n)];
  // A column of width 0 stays visible.
  if (width == 0) return;
  UINT v = 0;
  for (int i = 0; i < n; ++i)
    if (!NorvIsColumnHidden(m_widths[static_cast<size_t>(i)])) ++v;
  width = 0u - width;
  if (NorvIsColumnHidden(width))
    RemoveFromColumnOrder(v);
  else
    AddToColumnOrder(v);
  SaveWidthsAndOrder();
  ShowSelectedAgain();
}

void CNorvListView::ShowAllColumns() {
  if (SelectedTreeItem() == nullptr) return;
  for (size_t n = 0; n < m_widths.size(); ++n) {
    if (!NorvIsColumnHidden(m_widths[n])) continue;
    m_widths[n] = NorvShownColumnWidth(m_widths[n]);
    AddToColumnOrder(static_cast<UINT>(n));
  }
  SaveWidthsAndOrder();
  ShowSelectedAgain();
}

void CNorvListView::HideAllColumns() {
  if (SelectedTreeItem() == nullptr) return;
  UINT v = 0;  // visible columns left before the current one
  for (size_t n = 0; n < m_widths.size(); ++n) {
    if (NorvIsColumnHidden(m_widths[n])) continue;
    if (m_widths[n] == 0) {
      ++v;
      continue;
    }
    m_widths[n] = NorvHiddenColumnWidth(m_widths[n]);
    RemoveFromColumnOrder(v);
  }
  SaveWidthsAndOrder();
  ShowSelectedAgain();
}

void CNorvListView::AutoSizeColumns() {
  if (m_style != kStyleDetails) return;
  LockTreeRedraw(FALSE);
  for (int v = 0; v < m_model->VisibleCount(); ++v) m_details->resizeColumnToContents(v);
  LockTreeRedraw(TRUE);
}

void CNorvListView::ShowHeaderMenu(const QPoint& globalPos) {
  CNorvTreeListItem* item = SelectedTreeItem();
  if (m_names.empty() || item == nullptr) return;
  {
    CNorvItemCallScope scope(item);
    if (!item->HasFeature(kFeatureHeaderMenu)) return;
  }
  CNorvMenu menu;
  AppendColumnItems(menu, m_names, m_widths, static_cast<size_t>(kHeaderMenuColumns));
  BOOL enabled = TRUE, checked = FALSE;
  OnUpdateCommand(ID_NORV_CMD_AUTO_SIZE_COLUMNS, enabled, checked);
  menu.AppendItem(ID_NORV_CMD_AUTO_SIZE_COLUMNS, plat::LoadString(IDS_NORV_AUTO_SIZE_COLUMNS),
                  enabled, checked);
  menu.AppendSeparator();
  menu.AppendItem(ID_NORV_CMD_COLUMN_FILTER, plat::LoadString(IDS_NORV_COLUMN_FILTER));
  menu.AppendSeparator();
  menu.AppendItem(ID_NORV_CMD_COLUMN_SETTINGS, plat::LoadString(IDS_NORV_MORE_COLUMNS));
  const UINT chosen = NorvTrackPopupMenu(menu, globalPos, this);
  if (chosen != 0) OnCommand(chosen);
}

// ===========================================================================
// Selection
// ===========================================================================

int CNorvListView::GetSelectedCount() const {
  int count = 0;
  for (const QItemSelectionRange& range : m_details->selectionModel()->selection())
    if (range.left() == 0) count += range.height();
  return count;
}

void CNorvListView::GetSelectedItems(CNorvTLItemList& list) const {
  QModelIndexList rows = m_details->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : rows)
    if (CNorvTreeListItem* item = m_model->Item(index.row())) list.AddTail(item);
}

CNorvTreeListItem* CNorvListView::GetFirstSelectedListItem() const {
  int first = -1;
  for (const QItemSelectionRange& range : m_details->selectionModel()->selection())
    if (first < 0 || range.top() < first) first = range.top();
  return first >= 0 ? m_model->Item(first) : nullptr;
}

BOOL CNorvListView::SelectItems(CNorvTLItemList* list) {
  int first = -1;
  const QItemSelection selection = m_model->RowSelection(list, &first);
  m_details->selectionModel()->select(
      selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (first >= 0) {
    m_details->selectionModel()->setCurrentIndex(m_model->index(first, 0),
                                                 QItemSelectionModel::NoUpdate);
    CurrentPane()->scrollTo(m_model->index(first, 0));
  }
  return first >= 0 ? TRUE : FALSE;
}

void CNorvListView::OnSelectionChanged() {
  if (m_frame != nullptr) m_frame->SetStatusBarCount(ID_NORV_STATUS_SELECTED, GetSelectedCount());
  m_selectionTimer.start();
}

void CNorvListView::OnSelectionTimer() {
  CNorvTreeListItem* item = SelectedTreeItem();
  if (item == nullptr || m_stale) return;
  CNorvTLItemList list;
  GetSelectedItems(list);
  {
    CNorvItemCallScope scope(item);
    item->ItemSelected(&list);
  }
  list.RemoveAll();
  if (TreeView* tree = Tree()) tree->AutoRefresh(item, TRUE);
}

void CNorvListView::ShowRowCount() {
  if (m_frame != nullptr) m_frame->SetStatusBarCount(ID_NORV_STATUS_COUNT, m_model->RowCount());
}

// ===========================================================================
// Commands
// ===========================================================================

CNorvTreeListItem* CNorvListView::GetTargetItem(UINT command) const {
  if (m_popupItem != nullptr) return m_popupItem;
  if (CNorvTreeListItem* item = GetFirstSelectedListItem()) return item;
  if (command == ID_NORV_CMD_CUT || command == ID_NORV_CMD_COPY || command == ID_NORV_CMD_DELETE)
    return nullptr;
  return SelectedTreeItem();
}

void CNorvListView::PostCommand(UINT command) {
  QMetaObject::invokeMethod(
      this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
}

CmdResult CNorvListView::ItemCommand(UINT command, DWORD param, void* pParam) {
  CNorvTreeListItem* target = GetTargetItem(command);
  m_popupItem = nullptr;
  if (command == ID_NORV_CMD_SELECT_ALL) {
    CurrentPane()->selectAll();
    return CMD_HANDLED;
  }
  if (command == ID_NORV_CMD_INVERT_SELECTION) {
    QItemSelection all(
        m_model->index(0, 0),
        m_model->index(m_model->RowCount() - 1, std::max(0, m_model->VisibleCount() - 1)));
    if (m_model->RowCount() > 0)
      m_details->selectionModel()->select(all, QItemSelectionModel::Toggle);
    return CMD_HANDLED;
  }
  if (target == nullptr) {
    ClearDrop();
    return CMD_NOT_HANDLED;
  }
  StopTreeTimer();
  CNorvItemCallScope scope(target);
  CmdResult result = CMD_NOT_HANDLED;
  bool called = true;
  CNorvTLItemList selected;
  GetSelectedItems(selected);
  if (m_dropPending) {
    m_dropPending = FALSE;
    if (command != ID_NORV_ITEMCMD_CANCEL) {
      CNorvTLItemList targets;
      for (CNorvTreeListItem* item : m_dropHighlight) targets.AddTail(item);
      if (targets.IsEmpty()) targets.AddTail(target);
      result = gNorvBaseTraceLevel >= 3
                   ? Trace_Drop(kSourceFile, __LINE__, "CNorvListView::ItemCommand", target,
                                m_dropFormat, m_droppedItems, &targets, m_dropKeyState, command)
                   : target->Drop(m_dropFormat, m_droppedItems, &targets, m_dropKeyState, command);
      targets.RemoveAll();
      if (result == CMD_MOVED)
        CNorvTreeListItem::ClassObjectInvalidateList(CNorvClipBoardItem::parentClass,
                                                     CNorvClipBoardItem::parentId, FALSE);
    }
    ClearDropHighlight();
    ClearDrop();
    selected.RemoveAll();
    StartTreeTimer();
    return result;
  }
  CNorvDoc* doc = CNorvDoc::GetDoc();
  if (doc != nullptr && !doc->CancelCommand(target, command)) {
    selected.RemoveAll();
    StartTreeTimer();
    return CMD_NOT_HANDLED;
  }
  auto callCommand = [&](CNorvTLItemList* list, UINT id, DWORD p, void* pp) {
    return gNorvBaseTraceLevel >= 3
               ? Trace_Command(kSourceFile, __LINE__, "CNorvListView::ItemCommand", target, list,
                               id, p, pp)
               : target->Command(list, id, p, pp);
  };
  if (command >= ID_NORV_CUSTOM_MENU_FIRST && command <= ID_NORV_CUSTOM_MENU_LAST) {
    TreeView::ExecuteCustomMenu(command, target);
    called = false;
  } else if (command == ID_NORV_CMD_CUT || command == ID_NORV_CMD_COPY) {
    CNorvTLItemList items;
    for (CNorvTreeListItem* item : selected)
      if (item->CanCopy() || item->CanDrag() != DRAG_NONE) items.AddTail(item);
    if (items.IsEmpty() && target->CanCopy()) items.AddTail(target);
    CNorvTLItemList marked(items);
    CNorvTreeListItem* parent = SelectedTreeItem();
    const BOOL copied = CopyItemsToClipboard(
        &items, nullptr, QPoint(),
        command == ID_NORV_CMD_CUT ? CNorvClipBoardItem::cut : CNorvClipBoardItem::copy,
        parent != nullptr ? parent->GetClassName() : NorvString(),
        parent != nullptr ? parent->Id() : NorvString(), FALSE, target->GetClipboardFormat());
    items.RemoveAll();
    if (command == ID_NORV_CMD_CUT) {
      // Only the latest cut shows dimmed.
      if (copied) IndicateCutItems(&marked);
      result = callCommand(&marked, ID_NORV_CMD_CUT, 0, nullptr);
    } else {
      called = false;
    }
    marked.RemoveAll();
  } else if (command == ID_NORV_CMD_PASTE) {
    NorvStringList files;
    if (target->CanDropFiles() && CheckFilesOnClipboard() && GetFilesFromClipboard(files)) {
      result = target->DropFiles(files);
    } else {
      CNorvTLItemList list;
      if (selected.IsEmpty())
        list.AddTail(target);
      else
        list.AddTail(selected);
      result = callCommand(&list, command, 0, nullptr);
      list.RemoveAll();
    }
  } else if (command == ID_NORV_CMD_EXPLORE_FROM_HERE) {
    NorvString parameter;
    CNorvTLItemList empty;
    if (callCommand(&empty, ID_NORV_ITEMCMD_GET_EXPLORE_FROM_PARAM, static_cast<DWORD>(-4),
                    &parameter) != CMD_HANDLED)
      parameter.clear();
    CNorvTreeListItem::ExploreFrom(target->GetClassName(), target->Id(), parameter);
    called = false;
  } else if (command == ID_NORV_ITEMCMD_DBLCLK) {
    int enabled = 0, checked = 0;
    const BOOL newSdk = CPluginHandler::GetSDKBuild(target) >= 0x2A0000;
    if (newSdk &&
        target->InitMenuInfo(ID_NORV_ITEMCMD_DBLCLK, enabled, checked, selected.GetCount()) &&
        enabled) {
      result = callCommand(&selected, ID_NORV_ITEMCMD_DBLCLK, 0, nullptr);
    } else {
      TreeView* tree = Tree();
      if (tree == nullptr || !tree->ExpandCurrentNode(target)) {
        CNorvTLItemList list;
        list.AddTail(target);
        result =
            callCommand(selected.IsEmpty() ? &list : &selected, ID_NORV_CMD_PROPERTIES, 0, nullptr);
        list.RemoveAll();
      } else {
        called = false;
      }
    }
  } else {
    CNorvTLItemList list;
    if (selected.IsEmpty()) list.AddTail(target);
    result = callCommand(selected.IsEmpty() ? &list : &selected, command, param, pParam);
    list.RemoveAll();
  }
  selected.RemoveAll();
  if (called) {
    if (result == CMD_MOVED)
      CNorvTreeListItem::ClassObjectInvalidateList(CNorvClipBoardItem::parentClass,
                                                   CNorvClipBoardItem::parentId, FALSE);
    else if (result != CMD_NOT_HANDLED)
      if (TreeView* tree = Tree()) tree->AutoRefresh(target, FALSE);
  }
  StartTreeTimer();
  return result;
}

BOOL CNorvListView::OnCommand(UINT command) {
  if (command >= ID_NORV_COLUMN_TOGGLE_FIRST && command <= ID_NORV_COLUMN_TOGGLE_LAST) {
    ToggleColumn(static_cast<int>(command - ID_NORV_COLUMN_TOGGLE_FIRST));
    return TRUE;
  }
  switch (command) {
    case ID_NORV_CMD_CONTEXT_MENU: {
      QAbstractItemView* pane = CurrentPane();
      const QModelIndex current = pane->currentIndex();
      if (current.isValid() && pane->selectionModel()->isRowSelected(current.row(), {})) {
        const QRect rect = pane->visualRect(current);
        ShowContextMenu(rect.center(), pane->viewport()->mapToGlobal(rect.center()), true);
      } else {
        ShowContextMenu(QPoint(-1, -1), pane->viewport()->mapToGlobal(QPoint(0, 0)), true);
      }
      return TRUE;
    }
    case ID_NORV_CMD_CLEAR_POPUP:
      m_popupItem = nullptr;
      return TRUE;
    case ID_NORV_CMD_DROPPED:
      ItemCommand(ID_NORV_ITEMCMD_DEFAULTDROP, 0, nullptr);
      return TRUE;
    case ID_NORV_CMD_SELECT_ALL:
    case ID_NORV_CMD_INVERT_SELECTION:
      ItemCommand(command, 0, nullptr);
      return TRUE;
    case ID_NORV_CMD_SHOW_ALL_COLUMNS:
      ShowAllColumns();
      return TRUE;
    case ID_NORV_CMD_HIDE_ALL_COLUMNS:
      HideAllColumns();
      return TRUE;
    case ID_NORV_CMD_AUTO_SIZE_COLUMNS:
      m_autoSize = m_autoSize ? FALSE : TRUE;
      if (m_autoSize) AutoSizeColumns();
      return TRUE;
    case ID_NORV_CMD_COPY_AS_TEXT:
      OnCopyAsText();
      return TRUE;
    case ID_NORV_CMD_COLUMN_SETTINGS:
      OnColumnSettings();
      return TRUE;
    case ID_NORV_CMD_COLUMN_FILTER:
      OnColumnFilter();
      return TRUE;
    case ID_NORV_CMD_OBJECT_INFORMATION: {
      CNorvTreeListItem* item = GetFirstSelectedListItem();
      if (item == nullptr) item = SelectedTreeItem();
      if (TreeView* tree = Tree(); tree != nullptr && item != nullptr)
        tree->ShowObjectInformation(item);
      return TRUE;
    }
    case ID_NORV_CMD_RENAME: {
      CNorvTreeListItem* item = GetTargetItem(command);
      const int row = m_model->FindRow(item);
      m_popupItem = nullptr;
      if (row >= 0) CurrentPane()->edit(m_model->index(row, 0));
      return TRUE;
    }
    case ID_NORV_CMD_DELETE:
    case ID_NORV_CMD_PROPERTIES:
    case ID_NORV_CMD_NEW:
    case ID_NORV_CMD_PASTE:
    case ID_NORV_CMD_CUT:
    case ID_NORV_CMD_COPY:
    case ID_NORV_CMD_EXPLORE_FROM_HERE:
      ItemCommand(command, 0, nullptr);
      return TRUE;
    default:
      break;
  }
  if ((command >= ID_NORV_CUSTOM_MENU_FIRST && command <= ID_NORV_CUSTOM_MENU_LAST) ||
      (command >= ID_NORV_ITEMCMD_START && command <= 50000)) {
    ItemCommand(command, 0, nullptr);
    return TRUE;
  }
  return FALSE;
}

BOOL CNorvListView::OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked) {
  enabled = TRUE;
  checked = FALSE;
  if (command >= ID_NORV_COLUMN_TOGGLE_FIRST && command <= ID_NORV_COLUMN_TOGGLE_LAST) {
    const size_t n = command - ID_NORV_COLUMN_TOGGLE_FIRST;
    enabled = n < m_widths.size() ? TRUE : FALSE;
    checked = enabled && !NorvIsColumnHidden(m_widths[n]) ? TRUE : FALSE;
    return TRUE;
  }
  auto fromTarget = [&](UINT id) {
    CNorvTreeListItem* target = GetTargetItem(id);
    if (target == nullptr) {
      enabled = FALSE;
      return;
    }
    int e = 0, c = 0;
    CNorvItemCallScope scope(target);
    target->InitMenuInfo(id, e, c, GetSelectedCount());
    enabled = e != 0 ? TRUE : FALSE;
    checked = c != 0 ? TRUE : FALSE;
  };
  switch (command) {
    case ID_NORV_CMD_COPY:
    case ID_NORV_CMD_CUT:
    case ID_NORV_CMD_DELETE:
    case ID_NORV_CMD_PASTE:
    case ID_NORV_CMD_NEW:
    case ID_NORV_CMD_PROPERTIES:
    case ID_NORV_CMD_EXPLORE_FROM_HERE:
      fromTarget(command);
      return TRUE;
    case ID_NORV_CMD_RENAME: {
      CNorvTreeListItem* target = GetTargetItem(command);
      enabled = target != nullptr && target->CanEdit() ? TRUE : FALSE;
      return TRUE;
    }
    case ID_NORV_CMD_COPY_AS_TEXT:
      enabled = GetSelectedCount() > 0 ? TRUE : FALSE;
      return TRUE;
    case ID_NORV_CMD_AUTO_SIZE_COLUMNS: {
      checked = m_autoSize;
      CNorvTreeListItem* item = SelectedTreeItem();
      if (item != nullptr) {
        CNorvItemCallScope scope(item);
        enabled = item->HasFeature(kFeatureAutoSize) ? FALSE : TRUE;
      }
      return TRUE;
    }
    case ID_NORV_CMD_COLUMN_FILTER:
    case ID_NORV_CMD_COLUMN_SETTINGS:
    case ID_NORV_CMD_SHOW_ALL_COLUMNS:
    case ID_NORV_CMD_HIDE_ALL_COLUMNS:
      enabled = m_names.empty() ? FALSE : TRUE;
      return TRUE;
    case ID_NORV_CMD_SELECT_ALL:
    case ID_NORV_CMD_INVERT_SELECTION:
      enabled = m_model->RowCount() > 0 ? TRUE : FALSE;
      return TRUE;
    default:
      break;
  }
  if (command >= ID_NORV_ITEMCMD_START && command <= 50000) {
    fromTarget(command);
    return TRUE;
  }
  return FALSE;
}

NorvString CNorvListView::CopyAsText() const {
  QHeaderView* header = m_details->header();
  std::vector<int> display;  // visible columns in display order
  for (int i = 0; i < m_model->VisibleCount(); ++i) {
    const int v = header->logicalIndex(i);
    display.push_back(v >= 0 ? v : i);
  }
  NorvString out;
  auto line = [&](auto&& field) {
    NorvString text;
    for (int v : display) {
      const NorvString value = field(v);
      if (!text.empty()) text += L"\t";
      text += value;
    }
    out += text + L"\r\n";
  };
  line([&](int v) { return m_names[static_cast<size_t>(m_model->VisibleColumn(v))]; });
  QModelIndexList rows = m_details->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : rows)
    line([&](int v) { return m_model->CellText(index.row(), m_model->VisibleColumn(v)); });
  return out;
}

BOOL CNorvListView::OnCopyAsText() {
  if (GetSelectedCount() == 0) return FALSE;
  QClipboard* clipboard = NorvGetClipboard();
  if (clipboard == nullptr) return FALSE;
  auto* data = new QMimeData;
  data->setData(QStringLiteral("text/plain;charset=utf-8"), Q(CopyAsText()).toUtf8());
  data->setText(Q(CopyAsText()));
  clipboard->setMimeData(data);
  return TRUE;
}

// ===========================================================================
// Context menus, keys, editing
// ===========================================================================

void CNorvListView::ShowContextMenu(const QPoint& viewportPos, const QPoint& globalPos,
                                    bool keyboard) {
  QAbstractItemView* pane = CurrentPane();
  const QModelIndex index = viewportPos.x() >= 0 ? pane->indexAt(viewportPos) : QModelIndex();
  CNorvTreeListItem* item = index.isValid() ? m_model->Item(index.row()) : nullptr;
  const bool onRow = item != nullptr;
  if (item == nullptr) item = SelectedTreeItem();
  if (item == nullptr || m_stale) return;
  Q_UNUSED(keyboard);
  StopTreeTimer();
  m_popupItem = item;
  const int selectedCount = GetSelectedCount();
  CNorvMenu menu;
  {
    CNorvMenu empty;
    CNorvItemCallScope scope(item);
    CNorvMenu* shown = item->ListMenuInfo(&empty, onRow ? selectedCount : 0);
    if (shown != nullptr) menu = *shown;
  }
  TreeView::AppendCustomMenus(&menu, item);
  UINT chosen = 0;
  if (!menu.IsEmpty()) {
    TreeView::InitiateItemPopupMenu(item, &menu, selectedCount);
    chosen = NorvTrackPopupMenu(menu, globalPos, this);
  }
  if (chosen != 0) {
    PostCommand(chosen);
    PostCommand(ID_NORV_CMD_CLEAR_POPUP);
  } else {
    m_popupItem = nullptr;
  }
  StartTreeTimer();
}

void CNorvListView::PaneContextMenu(QAbstractItemView* pane, QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    OnCommand(ID_NORV_CMD_CONTEXT_MENU);
    return;
  }
  ShowContextMenu(event->pos(), event->globalPos(), false);
  Q_UNUSED(pane);
}

bool CNorvListView::PaneKeyPress(QAbstractItemView* pane, QKeyEvent* event) {
  Q_UNUSED(pane);
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    if (GetTargetItem(ID_NORV_ITEMCMD_DBLCLK) != nullptr)
      ItemCommand(ID_NORV_ITEMCMD_DBLCLK, 0, nullptr);
    return true;
  }
  if (event->key() == Qt::Key_Menu ||
      (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
    OnCommand(ID_NORV_CMD_CONTEXT_MENU);
    return true;
  }
  return false;
}

void CNorvListView::PaneDoubleClick(QAbstractItemView*, const QModelIndex&) {
  if (GetTargetItem(ID_NORV_ITEMCMD_DBLCLK) != nullptr)
    ItemCommand(ID_NORV_ITEMCMD_DBLCLK, 0, nullptr);
}

bool CNorvListView::PaneEdit(const QModelIndex& index) {
  CNorvTreeListItem* item = m_model->Item(index.row());
  if (item == nullptr || m_stale) return false;
  CNorvItemCallScope scope(item);
  return item->CanEdit() != FALSE;
}

// ===========================================================================
// Drag and drop
// ===========================================================================

void CNorvListView::IndicateCutItems(CNorvTLItemList* list) {
  m_cutItems.clear();
  if (list != nullptr)
    for (CNorvTreeListItem* item : *list) m_cutItems.push_back(item);
  CurrentPane()->viewport()->update();
}

BOOL CNorvListView::IsCutItem(const CNorvTreeListItem* item) const {
  return std::find(m_cutItems.begin(), m_cutItems.end(), item) != m_cutItems.end() ? TRUE : FALSE;
}

bool CNorvListView::IsDropHighlighted(int row) const {
  if (m_dropHighlight.empty()) return false;
  CNorvTreeListItem* item = m_model->Item(row);
  return std::find(m_dropHighlight.begin(), m_dropHighlight.end(), item) != m_dropHighlight.end();
}

void CNorvListView::ClearDropHighlight() {
  if (m_dropHighlight.empty()) return;
  m_dropHighlight.clear();
  CurrentPane()->viewport()->update();
}

void CNorvListView::ClearDrop() {
  m_dropPending = FALSE;
  if (m_droppedItems != nullptr) {
    m_droppedItems->ClearList();
    delete m_droppedItems;
    m_droppedItems = nullptr;
  }
}

void CNorvListView::PaneStartDrag(QAbstractItemView* pane) {
  const QModelIndex current = pane->currentIndex();
  CNorvTreeListItem* item = current.isValid() ? m_model->Item(current.row()) : nullptr;
  if (item == nullptr || m_stale) return;
  CanDragFlag flag = DRAG_NONE;
  {
    CNorvItemCallScope scope(item);
    flag = item->CanDrag();
  }
  const int selectedCount = GetSelectedCount();
  if (!(flag == 2 || (flag == DRAG_ITEM && selectedCount == 1))) return;
  CNorvTLItemList list;
  GetSelectedItems(list);
  CNorvTreeListItem* parent = SelectedTreeItem();
  Qt::DropAction action = Qt::IgnoreAction;
  StopTreeTimer();
  CopyItemsToClipboard(&list, nullptr, QPoint(), CNorvClipBoardItem::dragdrop,
                       parent != nullptr ? parent->GetClassName() : NorvString(),
                       parent != nullptr ? parent->Id() : NorvString(), TRUE,
                       item->GetClipboardFormat(), this, nullptr, &action);
  list.RemoveAll();
  StartTreeTimer();
}

void CNorvListView::PaneDragLeave() { ClearDropHighlight(); }

void CNorvListView::PaneDragMove(QAbstractItemView* pane, QDropEvent* event, bool drop) {
  const QPoint pos = event->position().toPoint();
  const QModelIndex index = pane->indexAt(pos);
  CNorvTreeListItem* item = index.isValid() ? m_model->Item(index.row()) : nullptr;
  const bool overRow = item != nullptr;
  if (item == nullptr) item = SelectedTreeItem();
  const QMimeData* data = event->mimeData();
  const DWORD keyState = KeyStateOf(event->buttons(), event->modifiers());
  if (!drop) m_dragKeyState = keyState;
  if (item == nullptr || m_stale || data == nullptr) {
    ClearDropHighlight();
    event->ignore();
    return;
  }
  CNorvItemCallScope scope(item);
  const bool files = item->CanDropFiles() && CheckFilesOnClipboard(data);
  CanDropFlag flag = DROP_NONE;
  DWORD effect = static_cast<DWORD>(event->proposedAction());
  NorvString format;
  if (!files) flag = item->CanDrop(data, effect, format, keyState);
  if (!files && flag == DROP_NONE) {
    ClearDropHighlight();
    event->ignore();
    return;
  }
  std::vector<CNorvTreeListItem*> highlight;
  if (overRow) {
    if (flag == DROP_SELECTION && pane->selectionModel()->isRowSelected(index.row(), {})) {
      CNorvTLItemList selected;
      GetSelectedItems(selected);
      for (CNorvTreeListItem* s : selected) highlight.push_back(s);
      selected.RemoveAll();
    } else {
      highlight.push_back(item);
    }
  }
  if (highlight != m_dropHighlight) {
    m_dropHighlight = highlight;
    pane->viewport()->update();
  }
  event->acceptProposedAction();
  if (!drop) return;

  // The drop itself. The button that carried the drag is no longer held:
  // a right-button drag is told by the key state saved when it moved.
  const bool rightButton = (m_dragKeyState & kKeyRightButton) != 0;
  const QPoint globalPos = pane->viewport()->mapToGlobal(pos);
  if (files) {
    NorvStringList list;
    GetFilesFromClipboard(list, data);
    ClearDropHighlight();
    DropFilesOn(item, list, rightButton, globalPos, keyState);
    return;
  }
  CNorvTLItemList* dropped = nullptr;
  if (!GetItemsFromClipboard(dropped, CNorvClipBoardItem::dragdrop, data, format) ||
      dropped == nullptr) {
    if (dropped != nullptr) {
      dropped->ClearList();
      delete dropped;
    }
    ClearDropHighlight();
    return;
  }
  ClearDrop();
  m_droppedItems = dropped;
  m_dropFormat = format;
  m_popupItem = item;
  if (!rightButton) {
    m_dropKeyState = keyState;
    m_dropPending = TRUE;
    PostCommand(ID_NORV_CMD_DROPPED);
    return;
  }
  CNorvMenu menu;
  {
    CNorvMenu empty;
    CNorvMenu* shown =
        item->DropMenuInfo(&empty, format, keyState & (kKeyShift | kKeyControl | kKeyAlt));
    if (shown != nullptr) menu = *shown;
  }
  const UINT chosen = menu.IsEmpty() ? 0 : NorvTrackPopupMenu(menu, globalPos, this);
  if (chosen == 0) {
    m_popupItem = nullptr;
    ClearDrop();
    ClearDropHighlight();
    return;
  }
  m_dropKeyState = keyState;
  m_dropPending = TRUE;
  PostCommand(chosen);
  PostCommand(ID_NORV_CMD_CLEAR_POPUP);
}

void CNorvListView::DropFilesOn(CNorvTreeListItem* item, const NorvStringList& files,
                                bool rightButton, const QPoint& globalPos, DWORD keyState) {
  if (item == nullptr || files.empty() || !item->CanDropFiles()) return;
  if (rightButton) {
    CNorvMenu menu;
    CNorvMenu empty;
    CNorvMenu* shown = item->DropMenuInfo(&empty, L"#CF_HDROP", keyState);
    if (shown != nullptr) menu = *shown;
    const UINT chosen = menu.IsEmpty() ? 0 : NorvTrackPopupMenu(menu, globalPos, this);
    if (chosen == 0 || chosen == ID_NORV_ITEMCMD_CANCEL) return;
  }
  NorvStringList names;
  for (const NorvString& file : files) names.push_back(file.substr(0, 256));
  item->DropFiles(names);
  if (TreeView* tree = Tree()) tree->AutoRefresh(item, FALSE);
}
