#include "NorvTreeCtrl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "NavigationFrame.h"
#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvMenu.h"
#include "norv/NorvTLItemList.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvTreePath.h"
#include "norv/Trace.h"
#include "platform/resources.h"

namespace {

// The wait cursor for a scope (only with a widget application).
class WaitCursor {
 public:
  explicit WaitCursor(bool on)
      : m_on(on && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    if (m_on) QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~WaitCursor() {
    if (m_on) QApplication::restoreOverrideCursor();
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool m_on;
};

// Forgets the items of a branch without touching them (they may be gone).
void DropItems(NorvTreeNode* node) {
  node->item = nullptr;
  for (auto& child : node->children) DropItems(child.get());
}

// Images of an image resource, `size` pixels square each; magenta is
// transparent in images without an alpha channel.
QList<QPixmap> LoadStrip(UINT id, int size) {
  QList<QPixmap> images;
  const BYTE* data = nullptr;
  std::size_t length = 0;
  if (id == 0 || !plat::FindResource(nullptr, plat::ResourceType::Image, id, &data, &length))
    return images;
  QImage strip;
  if (!strip.loadFromData(data, static_cast<int>(length), "PNG")) {
    NORV_BASE_TRACE(1, 0, NorvFormatString(L"Image %u is damaged", id));
    return images;
  }
  const bool keyed = !strip.hasAlphaChannel();
  strip = strip.convertToFormat(QImage::Format_ARGB32);
  if (keyed) {
    for (int y = 0; y < strip.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
      for (int x = 0; x < strip.width(); ++x)
        if ((line[x] & 0xFFFFFF) == 0xFF00FF) line[x] = 0;
    }
  }
  for (int x = 0; x + size <= strip.width(); x += size)
    images.append(QPixmap::fromImage(strip.copy(x, 0, size, std::min(size, strip.height()))));
  return images;
}

}  // namespace

// ===========================================================================
// CNorvTreeCtrl
// ===========================================================================

CNorvTreeCtrl::CNorvTreeCtrl(QWidget* parent) : QTreeView(parent) {
  m_model = new CNorvTreeModel(this);
  m_model->SetFetcher([this](NorvTreeNode* node) {
    // The view may ask more than once while it opens a node.
    if (m_failedNode == node) return;
    if (!ExpandNode(node)) {
      // The item could not give its children: the node stays as it was
      // and is asked again when opened again.
      m_failedNode = node;
      const QPersistentModelIndex index(m_model->IndexFromNode(node));
      QMetaObject::invokeMethod(
          this,
          [this, index] {
            m_failedNode = nullptr;
            collapse(index);
          },
          Qt::QueuedConnection);
    }
  });
  setModel(m_model);
  setItemDelegate(TreeView::NewItemDelegate(this));
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

CNorvTreeCtrl::~CNorvTreeCtrl() = default;

BOOL CNorvTreeCtrl::InitControl() {
  if (m_initialized) return FALSE;
  m_initialized = TRUE;
  SetFont(font(), FALSE);
  // The main window's small images, when the application has one.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* frame = dynamic_cast<INorvNavigationFrame*>(top)) {
      SetImageProvider([frame](int index) { return frame->GetImage(index); });
      break;
    }
  }
  return TRUE;
}

void CNorvTreeCtrl::SetImageProvider(std::function<QIcon(int)> provider) {
  m_model->SetImageProvider(std::move(provider));
}

void CNorvTreeCtrl::SetFont(const QFont& font, BOOL redraw) {
  setFont(font);
  m_boldFont = font;
  m_boldFont.setWeight(QFont::Bold);  // 700
  m_italicFont = font;
  m_italicFont.setItalic(true);
  m_boldItalicFont = m_boldFont;
  m_boldItalicFont.setItalic(true);
  m_model->SetFonts(font, m_boldFont, m_italicFont, m_boldItalicFont);
  if (redraw) viewport()->update();
}

NorvTreeNode* CNorvTreeCtrl::TopNode() const {
  return m_model->Top()->children.empty() ? nullptr : m_model->Top()->children[0].get();
}

NorvTreeNode* CNorvTreeCtrl::NodeOf(const CNorvTreeListItem* item) const {
  // The handle may be another tree's node.
  NorvTreeNode* node = CNorvTreeModel::NodeOf(item);
  return m_model->Owns(node) ? node : nullptr;
}

void CNorvTreeCtrl::UpdateNode(NorvTreeNode* node) {
  if (node == nullptr || node->item == nullptr) return;
  TreeView::ReadNode(node);
  m_model->NodeChanged(node);
}

bool CNorvTreeCtrl::FillBranch(NorvTreeNode* node, CNorvTreeListItem* item) {
  GetItemsResult result = GETITEMS_FAILED;
  {
    CNorvItemCallScope scope(item);
    result = NORV_ITEM_GETITEMS(item, TRUE);
  }
  if (result != GETITEMS_OK) return false;
  std::vector<NorvTreeNodeInit> inits;
  for (CNorvTreeListItem* child : item->GetItemList()) {
    if (child == nullptr || (child->GetItemListMask() & NORV_ITEMLIST_TREE) == 0) continue;
    inits.emplace_back();
    TreeView::FillNodeInit(child, inits.back());
  }
  BOOL sort = FALSE;
  if (inits.size() > 1) {
    CNorvItemCallScope scope(item);
    sort = item->SortTreeItems();
  }
  if (sort) {
    std::stable_sort(inits.begin(), inits.end(),
                     [](const NorvTreeNodeInit& a, const NorvTreeNodeInit& b) {
                       return TreeView::CompareFunc(a.item, b.item, 0x10000) < 0;
                     });
  }
  node->expandedOnce = true;
  const bool any = !inits.empty();
  NorvTreeNode* first = m_model->AppendChildren(node, inits);
  if (node != m_model->Top()) m_model->SetChildIndicator(node, any);
  // Colours and fonts of the new nodes.
  if (first != nullptr) {
    m_model->HoldChanges(true);
    for (auto& child : node->children) UpdateNode(child.get());
    m_model->HoldChanges(false);
  }
  return true;
}

BOOL CNorvTreeCtrl::ExpandNode(NorvTreeNode* node) {
  if (node == nullptr || node->item == nullptr || node->expandedOnce) return FALSE;
  WaitCursor wait(m_waitCursor != FALSE);
  return FillBranch(node, node->item) ? TRUE : FALSE;
}

BOOL CNorvTreeCtrl::ShowContents(CNorvTreeListItem* item, BOOL showRoot) {
  EraseContents();
  if (item == nullptr) return FALSE;
  WaitCursor wait(m_waitCursor != FALSE);
  m_root = item;
  if (showRoot) {
    std::vector<NorvTreeNodeInit> inits(1);
    TreeView::FillNodeInit(item, inits[0]);
    NorvTreeNode* node = m_model->AppendChildren(m_model->Top(), inits);
    UpdateNode(node);
    if (!FillBranch(node, item)) return FALSE;
    expand(m_model->IndexFromNode(node));
    return TRUE;
  }
  return FillBranch(m_model->Top(), item) ? TRUE : FALSE;
}

void CNorvTreeCtrl::EraseContents() {
  m_model->RemoveChildren(m_model->Top());
  m_model->Top()->expandedOnce = false;
  m_root = nullptr;
  m_failedNode = nullptr;
}

CNorvTreeListItem* CNorvTreeCtrl::GetTreeListItem(const QModelIndex& node) const {
  return GetTreeListItem(m_model->NodeFromIndex(node));
}

CNorvTreeListItem* CNorvTreeCtrl::GetTreeListItem(const NorvTreeNode* node) const {
  return node != nullptr ? node->item : nullptr;
}

CNorvTreeListItem* CNorvTreeCtrl::GetSelectedItem() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  return selected.isEmpty() ? nullptr : GetTreeListItem(selected.first());
}

BOOL CNorvTreeCtrl::IsNodeExpanded(const NorvTreeNode* node) const {
  return node != nullptr && isExpanded(m_model->IndexFromNode(node)) ? TRUE : FALSE;
}

BOOL CNorvTreeCtrl::SelectItem(CNorvTreeListItem* item) {
  NorvTreeNode* node = NodeOf(item);
  if (node == nullptr) return FALSE;
  const QModelIndex index = m_model->IndexFromNode(node);
  setCurrentIndex(index);
  scrollTo(index);
  return TRUE;
}

BOOL CNorvTreeCtrl::ExpandItem(CNorvTreeListItem* item) {
  NorvTreeNode* node = NodeOf(item);
  if (node == nullptr) return FALSE;
  if (!node->expandedOnce && !ExpandNode(node)) return FALSE;
  expand(m_model->IndexFromNode(node));
  return TRUE;
}

BOOL CNorvTreeCtrl::CollapsItem(CNorvTreeListItem* item, BOOL reset) {
  NorvTreeNode* node = NodeOf(item);
  if (node == nullptr) return FALSE;
  collapse(m_model->IndexFromNode(node));
  if (reset) {
    // The nodes go before the item's list does, so that no node refers to
    // a destroyed child.
    m_model->RemoveChildren(node);
    node->expandedOnce = false;
    BOOL has = FALSE;
    {
      CNorvItemCallScope scope(item);
      has = item->HasTreeItems();
    }
    node->childIndicator = !has;  // make SetChildIndicator report the change
    m_model->SetChildIndicator(node, has != FALSE);
    item->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  }
  return TRUE;
}

BOOL CNorvTreeCtrl::RefreshItem(CNorvTreeListItem* item, BOOL collapse, BOOL reset) {
  NorvTreeNode* node = NodeOf(item);
  if (item == nullptr) return FALSE;
  item->ClrFlags(NORV_ITEM_INVALID);
  // Child nodes that are about to be reset go first: the refresh may
  // destroy their items.
  if (node != nullptr && collapse && reset) CollapsItem(item, TRUE);
  BOOL refreshed = FALSE;
  {
    CNorvItemCallScope scope(item);
    refreshed = NORV_ITEM_REFRESH(item);
  }
  if (node != nullptr && NodeOf(item) == node) {
    // Children the refresh took out of the item's list are gone: read the
    // branch again.
    bool stale = false;
    for (auto& child : node->children) {
      bool listed = false;
      for (CNorvTreeListItem* c : item->GetItemList())
        if (c == child->item) listed = true;
      if (!listed) {
        DropItems(child.get());
        stale = true;
      }
    }
    if (stale) {
      const bool open = IsNodeExpanded(node) != FALSE;
      m_model->RemoveChildren(node);
      node->expandedOnce = false;
      if (open && !collapse) ExpandItem(item);
    }
    if (refreshed) UpdateNode(node);
    if (collapse) CollapsItem(item, reset);
  }
  return TRUE;
}

NorvTreeNode* CNorvTreeCtrl::FindChild(NorvTreeNode* parent, const NorvString& text) {
  return TreeView::FindChildNode(parent, text, [this](NorvTreeNode* node) { ExpandNode(node); });
}

BOOL CNorvTreeCtrl::NavigateTo(const NorvString& path, NorvTreeNode* start) {
  m_navigation = path;
  // Without the root shown, the top nodes are the children of the
  // invisible top: "/" stands for it.
  const bool rootShown = m_root != nullptr && NodeOf(m_root) != nullptr;
  NorvTreeNode* top = rootShown ? TopNode() : m_model->Top();
  NorvTreeNode* selected = m_model->NodeFromIndex(currentIndex());
  NorvTreeNode* current = start;
  for (const NorvTreePathStep& step : ParseTreePath(path)) {
    switch (step.kind) {
      case NorvTreePathStep::kRoot:
        current = top;
        break;
      case NorvTreePathStep::kSelection:
        current = selected;
        break;
      case NorvTreePathStep::kParent:
        if (current == nullptr) current = selected;
        if (current == nullptr || current == top || current->parent == nullptr ||
            current->parent == m_model->Top())
          return FALSE;
        current = current->parent;
        break;
      case NorvTreePathStep::kNearestAncestor:
        return FALSE;  // not offered by the control
      case NorvTreePathStep::kChild:
        if (current == nullptr) current = selected != nullptr ? selected : top;
        current = FindChild(current, step.text);
        break;
    }
    if (current == nullptr) return FALSE;
  }
  if (current == nullptr) current = selected;
  if (current == nullptr || current == m_model->Top()) return FALSE;
  const QModelIndex index = m_model->IndexFromNode(current);
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  setCurrentIndex(index);
  scrollTo(index);
  return currentIndex() == index ? TRUE : FALSE;
}

void CNorvTreeCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F5 && !(event->modifiers() & Qt::ShiftModifier)) {
    if (CNorvTreeListItem* item = GetSelectedItem()) {
      NorvTreeNode* node = NodeOf(item);
      setUpdatesEnabled(false);
      const bool open = IsNodeExpanded(node) != FALSE;
      RefreshItem(item, TRUE, TRUE);
      if (open) ExpandItem(item);
      setUpdatesEnabled(true);
    }
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_F10 && (event->modifiers() & Qt::ShiftModifier)) ||
      event->key() == Qt::Key_Menu) {
    if (CNorvTreeListItem* item = GetSelectedItem()) {
      const QRect rect = visualRect(currentIndex());
      DisplayPopupMenu(item, viewport()->mapToGlobal(QPoint(rect.left(), rect.center().y())));
    }
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void CNorvTreeCtrl::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_popupMenus) {
    event->ignore();
    return;
  }
  if (event->reason() == QContextMenuEvent::Mouse) {
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (CNorvTreeListItem* item = GetTreeListItem(index))
      DisplayPopupMenu(item, event->globalPos());
  } else if (CNorvTreeListItem* item = GetSelectedItem()) {
    const QRect rect = visualRect(currentIndex());
    DisplayPopupMenu(item, viewport()->mapToGlobal(QPoint(rect.left(), rect.center().y())));
  }
  event->accept();
}

void CNorvTreeCtrl::DisplayPopupMenu(CNorvTreeListItem* item, const QPoint& globalPos) {
  if (!m_popupMenus || item == nullptr) return;
  // The item's resources are current and it is the active item while its
  // menu is open.
  CNorvItemCallScope scope(item);
  CNorvMenu own;
  CNorvMenu* menu = item->CtrlMenuInfo(&own, CTRL_TREE);
  if (menu == nullptr || menu->IsEmpty()) return;
  TreeView::InitiateItemPopupMenu(item, menu, 1);
  const UINT command = NorvTrackPopupMenu(*menu, globalPos, this);
  if (command == 0) return;
  CNorvTLItemList list;
  list.AddTail(item);
  NORV_ITEM_COMMAND(item, &list, command, 0, nullptr);
  list.RemoveAll();
}

// ===========================================================================
// CNorvTreeOptionsCtrl
// ===========================================================================

CNorvTreeOptionsCtrl::CNorvTreeOptionsCtrl(QWidget* parent) : QTreeView(parent) {
  m_model = new QStandardItemModel(this);
  setModel(m_model);
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(kImageSize, kImageSize));
}

CNorvTreeOptionsCtrl::~CNorvTreeOptionsCtrl() = default;

void CNorvTreeOptionsCtrl::EnsureStateImages() {
  if (m_images.size() >= 4) return;
  m_images = LoadStrip(kStateImages, kImageSize).mid(0, 4);
  if (m_images.size() == 4) return;
  // Drawn by the style: radio off, radio on, check box off, check box on.
  m_images.clear();
  for (int i = 0; i < 4; ++i) {
    QPixmap pixmap(kImageSize, kImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = QRect(1, 1, kImageSize - 2, kImageSize - 2);
    option.state = QStyle::State_Enabled | (i % 2 ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(i < 2 ? QStyle::PE_IndicatorRadioButton : QStyle::PE_IndicatorCheckBox,
                           &option, &painter, this);
    m_images.append(pixmap);
  }
}

BOOL CNorvTreeOptionsCtrl::InitImageList(UINT bitmapId) {
  if (m_imageListInitialized) return FALSE;
  m_imageListInitialized = TRUE;
  EnsureStateImages();
  m_images = m_images.mid(0, 4);
  const QList<QPixmap> groups = LoadStrip(bitmapId, kImageSize);
  if (bitmapId != 0 && groups.isEmpty())
    NORV_BASE_TRACE(
        2, 0, NorvFormatString(L"CNorvTreeOptionsCtrl::InitImageList: no images in %u", bitmapId));
  m_images.append(groups);
  // Nodes added before take their images now.
  std::function<void(QStandardItem*)> walk = [&](QStandardItem* node) {
    for (int r = 0; r < node->rowCount(); ++r) {
      QStandardItem* child = node->child(r);
      SetImage(child, child->data(ImageRole).toInt());
      walk(child);
    }
  };
  walk(m_model->invisibleRootItem());
  return TRUE;
}

void CNorvTreeOptionsCtrl::SetImage(QStandardItem* node, int image) {
  node->setData(image, ImageRole);
  node->setIcon(image >= 0 && image < m_images.size() ? QIcon(m_images[image]) : QIcon());
}

int CNorvTreeOptionsCtrl::ImageOf(const QStandardItem* node) const {
  return node != nullptr ? node->data(ImageRole).toInt() : -1;
}

QStandardItem* CNorvTreeOptionsCtrl::AddGroup(QStandardItem* parent, const QString& text,
                                              int groupImage, int kind) {
  EnsureStateImages();
  auto* node = new QStandardItem(text);
  node->setData(kind, KindRole);
  node->setEditable(false);
  SetImage(node, groupImage >= 0 ? groupImage + 4 : -1);  // -1: no group image
  (parent != nullptr ? parent : m_model->invisibleRootItem())->appendRow(node);
  expand(node->index());
  return node;
}

QStandardItem* CNorvTreeOptionsCtrl::AddRadioGroup(QStandardItem* parent, const QString& text,
                                                   int groupImage) {
  return AddGroup(parent, text, groupImage, kRadioGroup);
}

QStandardItem* CNorvTreeOptionsCtrl::AddCheckGroup(QStandardItem* parent, const QString& text,
                                                   int groupImage) {
  return AddGroup(parent, text, groupImage, kCheckGroup);
}

QStandardItem* CNorvTreeOptionsCtrl::AddEntry(QStandardItem* group, const QString& text,
                                              int* value) {
  if (group == nullptr || value == nullptr) return nullptr;
  const int kind = group->data(KindRole).toInt();
  if (kind != kRadioGroup && kind != kCheckGroup) return nullptr;
  EnsureStateImages();
  auto* node = new QStandardItem(text);
  node->setEditable(false);
  node->setData(0, KindRole);
  node->setData(QVariant::fromValue(static_cast<void*>(value)), ValueRole);
  const bool on = *value != 0;
  SetImage(node, kind == kRadioGroup ? (on ? RadioOn : RadioOff) : (on ? CheckOn : CheckOff));
  group->appendRow(node);
  expand(group->index());
  return node;
}

int CNorvTreeOptionsCtrl::IsChecked(const QStandardItem* node) const {
  if (node == nullptr) return 0;
  const int* value = static_cast<const int*>(node->data(ValueRole).value<void*>());
  return value != nullptr ? *value : 0;
}

BOOL CNorvTreeOptionsCtrl::IsRadio(const QStandardItem* node) const {
  if (node == nullptr || node->data(KindRole).toInt() != 0) return FALSE;
  const int image = ImageOf(node);
  return image == RadioOff || image == RadioOn ? TRUE : FALSE;
}

BOOL CNorvTreeOptionsCtrl::IsCheck(const QStandardItem* node) const {
  if (node == nullptr || node->data(KindRole).toInt() != 0) return FALSE;
  const int image = ImageOf(node);
  return image == CheckOff || image == CheckOn ? TRUE : FALSE;
}

BOOL CNorvTreeOptionsCtrl::ActivateEntry(QStandardItem* node) {
  if (m_readOnly || node == nullptr) return FALSE;
  auto* value = static_cast<int*>(node->data(ValueRole).value<void*>());
  if (value == nullptr) return FALSE;
  if (IsRadio(node)) {
    QStandardItem* group = node->parent();
    if (group == nullptr) return FALSE;
    for (int r = 0; r < group->rowCount(); ++r) {
      QStandardItem* sibling = group->child(r);
      auto* other = static_cast<int*>(sibling->data(ValueRole).value<void*>());
      if (other == nullptr || !IsRadio(sibling)) continue;
      *other = sibling == node ? 1 : 0;
      SetImage(sibling, sibling == node ? RadioOn : RadioOff);
    }
    emit EntryChanged(node);
    return TRUE;
  }
  if (IsCheck(node)) {
    *value = *value != 0 ? 0 : 1;
    SetImage(node, *value != 0 ? CheckOn : CheckOff);
    emit EntryChanged(node);
    return TRUE;
  }
  return FALSE;
}

void CNorvTreeOptionsCtrl::UpdateFromValues() {
  std::function<void(QStandardItem*)> walk = [&](QStandardItem* node) {
    for (int r = 0; r < node->rowCount(); ++r) {
      QStandardItem* child = node->child(r);
      const auto* value = static_cast<const int*>(child->data(ValueRole).value<void*>());
      if (value != nullptr) {
        if (IsRadio(child)) SetImage(child, *value != 0 ? RadioOn : RadioOff);
        if (IsCheck(child)) SetImage(child, *value != 0 ? CheckOn : CheckOff);
      }
      walk(child);
    }
  };
  walk(m_model->invisibleRootItem());
}

void CNorvTreeOptionsCtrl::mousePressEvent(QMouseEvent* event) {
  m_pressed = indexAt(event->position().toPoint());
  QTreeView::mousePressEvent(event);
}

void CNorvTreeOptionsCtrl::mouseReleaseEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  const bool click = event->button() == Qt::LeftButton && index.isValid() && index == m_pressed &&
                     !m_afterDoubleClick;
  m_afterDoubleClick = false;
  m_pressed = QPersistentModelIndex();
  QTreeView::mouseReleaseEvent(event);
  if (click) ActivateEntry(m_model->itemFromIndex(index));
}

void CNorvTreeOptionsCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  QStandardItem* node = m_model->itemFromIndex(index);
  if (event->button() == Qt::LeftButton && node != nullptr && node->data(KindRole).toInt() == 0) {
    // One action for the double click; the release that ends it is no
    // click of its own.
    m_afterDoubleClick = true;
    ActivateEntry(node);
    event->accept();
    return;
  }
  QTreeView::mouseDoubleClickEvent(event);
}

void CNorvTreeOptionsCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    ActivateEntry(m_model->itemFromIndex(currentIndex()));
    event->accept();  // handled, also when nothing changed
    return;
  }
  QTreeView::keyPressEvent(event);
}
