#include "NorvListCtrl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QPainter>
#include <algorithm>

#include "NorvListView.h"
#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvColumns.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMenu.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace {

constexpr const char* kSourceFile = "NorvDll/NorvListCtrl";

}  // namespace

// Cells in the item's colours; emphasis in the control's own fonts, normal
// cells as the control draws them.
class CNorvListCtrl::Delegate : public CNorvListDelegate {
 public:
  explicit Delegate(CNorvListCtrl* control)
      : CNorvListDelegate(control->m_model, &control->m_columnIds, control), m_control(control) {}

 protected:
  const QFont* CellFont(bool bold, bool italic) const override {
    return EmphasisFont(bold, italic, nullptr, &m_control->m_boldFont, &m_control->m_italicFont,
                        &m_control->m_boldItalicFont);
  }

 private:
  CNorvListCtrl* m_control;
};

CNorvListCtrl::CNorvListCtrl(QWidget* parent) : QTreeView(parent) {
  m_model = new CNorvListModel(this);
  m_model->SetEditable(true);
  m_model->SetEditHandler([this](int row, const NorvString& text) {
    CNorvTreeListItem* item = m_model->Item(row);
    if (item == nullptr) return false;
    CNorvItemCallScope scope(item);
    return item->EndEdit(text) != FALSE;
  });
  m_delegate = new Delegate(this);
  setModel(m_model);
  setItemDelegate(m_delegate);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header(), &QHeaderView::customContextMenuRequested, this,
          [this](const QPoint& pos) { ShowHeaderMenu(header()->mapToGlobal(pos)); });
  connect(header(), &QHeaderView::sectionResized, this, [this] {
    if (!m_filling) SaveWidths();
  });
  connect(header(), &QHeaderView::sectionMoved, this, [this] {
    if (!m_filling) SaveOrder();
  });
  m_refreshTimer.setSingleShot(true);
  connect(&m_refreshTimer, &QTimer::timeout, this, [this] { OnRefreshTimer(); });
  SetFont(font(), FALSE);
}

CNorvListCtrl::~CNorvListCtrl() { m_refreshTimer.stop(); }

void CNorvListCtrl::InitControl() { SetFont(font(), TRUE); }

void CNorvListCtrl::SetFont(const QFont& font, BOOL redraw) {
  QTreeView::setFont(font);
  m_boldFont = font;
  m_boldFont.setWeight(QFont::Bold);  // 700
  m_boldItalicFont = m_boldFont;
  m_boldItalicFont.setItalic(true);
  m_italicFont = font;
  m_italicFont.setItalic(true);
  if (redraw) viewport()->update();
}

void CNorvListCtrl::EraseContents() {
  m_filling = true;
  m_model->SetColumns({}, {}, {});
  m_filling = false;
  m_container = nullptr;
  m_names.clear();
  m_widths.clear();
  m_columnIds.clear();
  m_columnOrder.clear();
  m_formats.clear();
  m_columnSetKey.clear();
}

void CNorvListCtrl::ReadRow(CNorvTreeListItem* child, std::vector<NorvString>& cells, int& image) {
  cells.assign(m_columnIds.size(), NorvString());
  image = -1;
  CNorvItemCallScope scope(child);
  bool first = true;
  for (int v = 0; v < m_model->VisibleCount(); ++v) {
    const auto n = static_cast<size_t>(m_model->VisibleColumn(v));
    treeListViewInfo info;
    treeListViewInfo* p = &info;
    child->GetListViewInfo(p, first ? (NORV_TLVI_TEXT | NORV_TLVI_IMAGE) : NORV_TLVI_TEXT,
                           static_cast<int>(m_columnIds[n]));
    if (p == nullptr) p = &info;
    cells[n] = p->strText;
    if (first && p->nImage >= 0) image = p->nImage + child->GetImageListOffset();
    first = false;
  }
}

BOOL CNorvListCtrl::ShowContents(CNorvTreeListItem* item) {
  const bool cursor =
      m_waitCursor && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
  setUpdatesEnabled(false);
  EraseContents();
  BOOL result = FALSE;
  if (item != nullptr && (item->GetFlags() & NORV_ITEM_ACCESSERROR) == 0) {
    m_container = item;
    CNorvItemCallScope scope(item);
    if (CNorvListView::GetListItems(item, kSourceFile, __LINE__, "CNorvListCtrl::ShowContents")) {
      const NorvColumnSet set =
          CNorvListView::ReadColumns(item, m_names, m_widths, m_columnIds, m_formats);
      m_columnSetKey = CNorvListView::MakeColumnSetKey(item->GetClassName(), m_columnIds);
      if (m_persistent && !set.reset && !m_names.empty()) {
        CNorvPrivateRegistryKey widthsKey(plat::HKEY_CURRENT_USER, L"ColumnWidths");
        NorvUIntArray saved;
        if (widthsKey.IsOpen() && widthsKey.GetUIntArray(m_columnSetKey, saved))
          for (size_t n = 0; n < m_widths.size() && n < saved.size(); ++n) m_widths[n] = saved[n];
        CNorvPrivateRegistryKey ordersKey(plat::HKEY_CURRENT_USER, L"ColumnOrders");
        if (m_reordering && ordersKey.IsOpen())
          ordersKey.GetUIntArray(m_columnSetKey, saved);
        else
          saved.clear();
        m_columnOrder = saved;
      }
      Fill(item);
      result = TRUE;
    }
  }
  setUpdatesEnabled(true);
  if (cursor) QApplication::restoreOverrideCursor();
  return result;
}

void CNorvListCtrl::Fill(CNorvTreeListItem* item) {
  std::vector<int> visible;
  for (size_t n = 0; n < m_widths.size(); ++n)
    if (!NorvIsColumnHidden(m_widths[n])) visible.push_back(static_cast<int>(n));
  m_filling = true;
  m_model->SetColumns(m_names, m_formats, visible);
  for (size_t v = 0; v < visible.size(); ++v)
    header()->resizeSection(static_cast<int>(v),
                            static_cast<int>(m_widths[static_cast<size_t>(visible[v])]));
  // A saved order is applied when it names each visible column once.
  std::vector<bool> seen(visible.size(), false);
  bool fits = m_columnOrder.size() == visible.size();
  for (UINT v : m_columnOrder) {
    if (v >= visible.size() || seen[v]) {
      fits = false;
      break;
    }
    seen[v] = true;
  }
  if (fits) {
    for (size_t i = 0; i < m_columnOrder.size(); ++i) {
      const int from = header()->visualIndex(static_cast<int>(m_columnOrder[i]));
      if (from >= 0 && from != static_cast<int>(i))
        header()->moveSection(from, static_cast<int>(i));
    }
  } else {
    m_columnOrder.clear();
    for (size_t v = 0; v < visible.size(); ++v) m_columnOrder.push_back(static_cast<UINT>(v));
  }
  m_filling = false;
  std::vector<NorvString> cells;
  m_model->BeginFill(item->GetItemList().GetCount());
  for (CNorvTreeListItem* child : item->GetItemList()) {
    if (child == nullptr || (child->GetItemListMask() & NORV_ITEMLIST_LIST) == 0) continue;
    int image = -1;
    ReadRow(child, cells, image);
    child->SetParent(item);
    child->SetListHandle(m_model->RowCount());
    m_model->AppendRow(child, image, cells);
  }
  m_model->EndFill();
  if (m_model->RowCount() > 0)
    selectionModel()->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
  if (m_autoSize) SizeColumnsToFit();
}

void CNorvListCtrl::UpdateRow(int row) {
  CNorvTreeListItem* item = m_model->Item(row);
  if (item == nullptr) return;
  std::vector<NorvString> cells;
  int image = -1;
  ReadRow(item, cells, image);
  std::vector<bool> keep(cells.size(), false);
  for (size_t n = 0; n < cells.size(); ++n)
    keep[n] = m_model->VisiblePosition(static_cast<int>(n)) < 0;
  m_model->SetRow(row, image, cells, keep);
}

void CNorvListCtrl::RefreshList(BOOL full) {
  setUpdatesEnabled(false);
  if (full && m_container != nullptr) {
    CNorvTreeListItem* container = m_container;
    container->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
    ShowContents(container);
  } else {
    for (int row = 0; row < m_model->RowCount(); ++row) {
      CNorvTreeListItem* item = m_model->Item(row);
      item->ClrFlags(NORV_ITEM_INVALID);
      CNorvItemCallScope scope(item);
      const BOOL changed =
          gNorvBaseTraceLevel >= 3
              ? Trace_Refresh(kSourceFile, __LINE__, "CNorvListCtrl::RefreshList", item)
              : item->Refresh();
      if (changed) UpdateRow(row);
    }
  }
  setUpdatesEnabled(true);
}

BOOL CNorvListCtrl::RefreshItem(CNorvTreeListItem* item) {
  const int row = m_model->FindRow(item);
  if (row < 0) return FALSE;
  item->ClrFlags(NORV_ITEM_INVALID);
  CNorvItemCallScope scope(item);
  const BOOL changed = gNorvBaseTraceLevel >= 3 ? Trace_Refresh(kSourceFile, __LINE__,
                                                                "CNorvListCtrl::RefreshItem", item)
                                                : item->Refresh();
  if (changed) UpdateRow(row);
  return TRUE;
}

void CNorvListCtrl::SetStyle(DWORD style) {
  m_style = style & 3;
  // Only the details style shows the header and every column.
  setHeaderHidden(m_style != kStyleDetails);
  for (int v = 1; v < m_model->VisibleCount(); ++v) setColumnHidden(v, m_style != kStyleDetails);
}

void CNorvListCtrl::EnableCheckBoxes(BOOL enable) { m_model->SetCheckable(enable != FALSE); }

void CNorvListCtrl::EnableGridLines(BOOL enable) {
  m_gridLines = enable;
  viewport()->update();
}

void CNorvListCtrl::EnableFullRowSelect(BOOL enable) {
  m_fullRowSelect = enable;
  setSelectionBehavior(enable ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  setAllColumnsShowFocus(enable != FALSE);
}

void CNorvListCtrl::EnableColumnReordering(BOOL enable) {
  m_reordering = enable;
  header()->setSectionsMovable(enable != FALSE);
}

void CNorvListCtrl::EnableAutoSizeColumns(BOOL enable) {
  m_autoSize = enable;
  if (enable) SizeColumnsToFit();
}

void CNorvListCtrl::SizeColumnsToFit() {
  for (int v = 0; v < m_model->VisibleCount(); ++v) resizeColumnToContents(v);
}

void CNorvListCtrl::SaveWidths() {
  for (int v = 0; v < m_model->VisibleCount(); ++v) {
    const int n = m_model->VisibleColumn(v);
    if (n >= 0 && static_cast<size_t>(n) < m_widths.size())
      m_widths[static_cast<size_t>(n)] = static_cast<UINT>(std::max(0, header()->sectionSize(v)));
  }
  if (!m_persistent || m_columnSetKey.empty() || m_widths.empty()) return;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"ColumnWidths", plat::KEY_ALL_ACCESS);
  if (key.IsOpen()) key.SetUIntArray(m_columnSetKey, m_widths);
}

void CNorvListCtrl::SaveOrder() {
  m_columnOrder.clear();
  for (int i = 0; i < m_model->VisibleCount(); ++i)
    m_columnOrder.push_back(static_cast<UINT>(header()->logicalIndex(i)));
  if (m_columnSetKey.empty()) return;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"ColumnOrders", plat::KEY_ALL_ACCESS);
  if (key.IsOpen()) key.SetUIntArray(m_columnSetKey, m_columnOrder);
}

void CNorvListCtrl::ShowHeaderMenu(const QPoint& globalPos) {
  if (!m_headerMenu || m_names.empty()) return;
  CNorvMenu menu;
  CNorvListView::AppendColumnItems(menu, m_names, m_widths, m_names.size());
  menu.AppendItem(ID_NORV_CMD_AUTO_SIZE_COLUMNS, plat::LoadString(IDS_NORV_AUTO_SIZE_COLUMNS), TRUE,
                  m_autoSize);
  const UINT chosen = NorvTrackPopupMenu(menu, globalPos, this);
  if (chosen == 0) return;
  if (chosen == ID_NORV_CMD_AUTO_SIZE_COLUMNS) {
    EnableAutoSizeColumns(m_autoSize ? FALSE : TRUE);
    return;
  }
  for (size_t n = 0; n < m_widths.size(); ++n) {
    const bool hidden = NorvIsColumnHidden(m_widths[n]) != FALSE;
    bool hide = hidden;
    if (chosen == ID_NORV_COLUMN_TOGGLE_FIRST + n) hide = !hidden;
    if (chosen == ID_NORV_CMD_SHOW_ALL_COLUMNS) hide = false;
    if (chosen == ID_NORV_CMD_HIDE_ALL_COLUMNS) hide = m_widths[n] != 0;
    if (hide != hidden) m_widths[n] = 0u - m_widths[n];
  }
  if (m_persistent && !m_columnSetKey.empty()) {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"ColumnWidths", plat::KEY_ALL_ACCESS);
    if (key.IsOpen()) key.SetUIntArray(m_columnSetKey, m_widths);
  }
  // The visible set changed: the order starts afresh.
  m_columnOrder.clear();
  if (m_container != nullptr) {
    setUpdatesEnabled(false);
    Fill(m_container);
    setUpdatesEnabled(true);
  }
}

CNorvTreeListItem* CNorvListCtrl::GetListItem(int row) const { return m_model->Item(row); }

CNorvTreeListItem* CNorvListCtrl::GetHitListItem(const QPoint& point) const {
  const QModelIndex index = indexAt(point);
  return index.isValid() ? m_model->Item(index.row()) : nullptr;
}

CNorvTreeListItem* CNorvListCtrl::GetFirstSelectedItem() const {
  int first = -1;
  for (const QModelIndex& index : selectionModel()->selectedIndexes())
    if (first < 0 || index.row() < first) first = index.row();
  return first >= 0 ? m_model->Item(first) : nullptr;
}

CNorvTreeListItem* CNorvListCtrl::GetFocusedItem() const {
  const QModelIndex index = currentIndex();
  return index.isValid() ? m_model->Item(index.row()) : nullptr;
}

void CNorvListCtrl::GetSelectedItems(CNorvTLItemList& list) const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int row : rows) list.AddTail(m_model->Item(row));
}

BOOL CNorvListCtrl::SelectItems(CNorvTLItemList* list) {
  int first = -1;
  selectionModel()->select(m_model->RowSelection(list, &first),
                           QItemSelectionModel::ClearAndSelect);
  return first >= 0 ? TRUE : FALSE;
}

void CNorvListCtrl::SelectAllItems(BOOL select) {
  if (select)
    selectAll();
  else
    clearSelection();
}

void CNorvListCtrl::GetCheckedItems(CNorvTLItemList& list) const {
  for (int row = 0; row < m_model->RowCount(); ++row)
    if (m_model->IsChecked(m_model->Item(row))) list.AddTail(m_model->Item(row));
}

BOOL CNorvListCtrl::SetCheck(CNorvTreeListItem* item, BOOL checked) {
  const int row = m_model->FindRow(item);
  if (row < 0 || !m_model->IsCheckable()) return FALSE;
  m_model->SetChecked(row, checked != FALSE);
  return TRUE;
}

BOOL CNorvListCtrl::GetCheck(CNorvTreeListItem* item) const {
  return m_model->IsChecked(item) ? TRUE : FALSE;
}

void CNorvListCtrl::SetRefreshTimer(UINT milliseconds, RefreshCallback callback, void* parameter) {
  m_refreshTimer.stop();
  m_refreshInterval = milliseconds;
  m_refreshCallback = milliseconds != 0 ? std::move(callback) : RefreshCallback();
  m_refreshParameter = milliseconds != 0 ? parameter : nullptr;
  if (milliseconds != 0) m_refreshTimer.start(static_cast<int>(milliseconds));
}

void CNorvListCtrl::StopRefreshTimer() { m_refreshTimer.stop(); }

void CNorvListCtrl::StartRefreshTimer() {
  if (m_refreshInterval != 0) m_refreshTimer.start(static_cast<int>(m_refreshInterval));
}

void CNorvListCtrl::OnRefreshTimer() {
  m_refreshTimer.stop();
  if (!m_refreshCallback) {
    RefreshList(TRUE);
  } else if (!m_refreshCallback(m_refreshParameter)) {
    SetRefreshTimer(0);
    return;
  }
  StartRefreshTimer();
}

void CNorvListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_popupMenus) return;
  CNorvTreeListItem* item = GetHitListItem(event->pos());
  const bool onRow = item != nullptr;
  if (item == nullptr) item = m_container;
  if (item == nullptr) return;
  CNorvTLItemList selected;
  GetSelectedItems(selected);
  CNorvMenu menu;
  {
    CNorvMenu empty;
    CNorvItemCallScope scope(item);
    CNorvMenu* shown = item->ListMenuInfo(&empty, onRow ? selected.GetCount() : 0);
    if (shown != nullptr) menu = *shown;
  }
  UINT chosen = 0;
  if (!menu.IsEmpty()) {
    TreeView::InitiateItemPopupMenu(item, &menu, selected.GetCount());
    StopRefreshTimer();
    chosen = NorvTrackPopupMenu(menu, event->globalPos(), this);
    StartRefreshTimer();
  }
  if (chosen != 0) {
    CNorvTLItemList list;
    if (selected.IsEmpty()) list.AddTail(item);
    CNorvItemCallScope scope(item);
    item->Command(selected.IsEmpty() ? &list : &selected, chosen, 0, nullptr);
    list.RemoveAll();
  }
  selected.RemoveAll();
}

void CNorvListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  CNorvTreeListItem* item = GetHitListItem(event->position().toPoint());
  if (item == nullptr || event->button() != Qt::LeftButton) {
    QTreeView::mouseDoubleClickEvent(event);
    return;
  }
  CNorvTLItemList list;
  GetSelectedItems(list);
  if (list.IsEmpty()) list.AddTail(item);
  CNorvItemCallScope scope(item);
  item->Command(&list, ID_NORV_ITEMCMD_DBLCLK, 0, nullptr);
  list.RemoveAll();
}

bool CNorvListCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool opens = (trigger & editTriggers()) != 0 || trigger == AllEditTriggers;
  if (opens && index.isValid()) {
    CNorvTreeListItem* item = m_model->Item(index.row());
    if (item == nullptr) return false;
    CNorvItemCallScope scope(item);
    if (!item->CanEdit()) return false;
  }
  return QTreeView::edit(index, trigger, event);
}

void CNorvListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  QTreeView::drawRow(painter, option, index);
  if (!m_gridLines) return;
  painter->save();
  painter->setPen(palette().color(QPalette::Mid));
  painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
  for (int v = 0; v < m_model->VisibleCount(); ++v) {
    const int x = columnViewportPosition(v) + columnWidth(v) - 1;
    painter->drawLine(x, option.rect.top(), x, option.rect.bottom());
  }
  painter->restore();
}
