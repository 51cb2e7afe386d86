// CNorvListCtrl: a list of one item's children for plugin dialogs and
// property pages. The same columns and column-set key as the list view and,
// when enabled, the same saved widths and order; no sorting and no filters:
// rows stay in the order of the child list. Commands go straight to the
// items.
//
// Everything here runs on the user-interface thread.
#pragma once
#include <QFont>
#include <QTimer>
#include <QTreeView>
#include <functional>

#include "NorvListModel.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvTLItemList.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API CNorvListCtrl : public QTreeView {
  Q_OBJECT

 public:
  // Styles as for the list view: 0 large icons, 1 details, 2 small icons,
  // 3 list. The control shows details; the other styles show the first
  // column only.
  static constexpr DWORD kStyleDetails = 1;
  // Called by the refresh timer instead of RefreshList(TRUE); FALSE ends
  // the timed refresh for good.
  using RefreshCallback = std::function<BOOL(void* parameter)>;

  explicit CNorvListCtrl(QWidget* parent = nullptr);
  ~CNorvListCtrl() override;

  // Once, after creation: takes the control's font.
  void InitControl();
  BOOL ShowContents(CNorvTreeListItem* item);
  // With `full` the container's list is read anew; otherwise every row's
  // item is refreshed and re-read when it changed.
  void RefreshList(BOOL full);
  BOOL RefreshItem(CNorvTreeListItem* item);
  void EraseContents();
  CNorvTreeListItem* GetContainer() const { return m_container; }

  void SetStyle(DWORD style);
  DWORD GetStyle() const { return m_style; }
  void EnableCheckBoxes(BOOL enable);
  BOOL HasCheckBoxes() const { return m_model->IsCheckable() ? TRUE : FALSE; }
  void EnableGridLines(BOOL enable);
  BOOL HasGridLines() const { return m_gridLines; }
  void EnableFullRowSelect(BOOL enable);
  BOOL HasFullRowSelect() const { return m_fullRowSelect; }
  void EnableColumnReordering(BOOL enable);
  BOOL IsColumnReorderingEnabled() const { return m_reordering; }
  void EnableAutoSizeColumns(BOOL enable);
  BOOL IsAutoSizeColumnsEnabled() const { return m_autoSize; }
  void EnableHeaderMenu(BOOL enable) { m_headerMenu = enable; }
  BOOL IsHeaderMenuEnabled() const { return m_headerMenu; }
  void EnableColumnSettingsPersistency(BOOL enable) { m_persistent = enable; }
  BOOL IsColumnSettingsPersistencyEnabled() const { return m_persistent; }
  void EnableWaitCursor(BOOL enable) { m_waitCursor = enable; }
  BOOL IsWaitCursorEnabled() const { return m_waitCursor; }
  void EnablePopupMenus(BOOL enable) { m_popupMenus = enable; }
  BOOL HasPopupMenus() const { return m_popupMenus; }
  // The font of normal cells; bold, bold italic and italic are made from it.
  void SetFont(const QFont& font, BOOL redraw = TRUE);
  void SizeColumnsToFit();

  CNorvTreeListItem* GetListItem(int row) const;
  CNorvTreeListItem* GetHitListItem(const QPoint& point) const;
  CNorvTreeListItem* GetFirstSelectedItem() const;
  CNorvTreeListItem* GetFocusedItem() const;
  void GetSelectedItems(CNorvTLItemList& list) const;
  BOOL SelectItems(CNorvTLItemList* list);
  void SelectAllItems(BOOL select);
  void GetCheckedItems(CNorvTLItemList& list) const;
  BOOL SetCheck(CNorvTreeListItem* item, BOOL checked);
  BOOL GetCheck(CNorvTreeListItem* item) const;

  // A non-zero interval starts the refresh timer; 0 stops and clears it.
  void SetRefreshTimer(UINT milliseconds, RefreshCallback callback = {}, void* parameter = nullptr);
  BOOL IsRefreshTimerEnabled() const { return m_refreshInterval != 0 ? TRUE : FALSE; }
  void StopRefreshTimer();
  void StartRefreshTimer();

  CNorvListModel* Model() const { return m_model; }
  const NorvUIntArray& Widths() const { return m_widths; }
  const NorvUIntArray& ColumnOrder() const { return m_columnOrder; }
  const NorvString& ColumnSetKey() const { return m_columnSetKey; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

 private:
  class Delegate;
  // Columns from the members, rows from the container's child list.
  void Fill(CNorvTreeListItem* item);
  void ReadRow(CNorvTreeListItem* child, std::vector<NorvString>& cells, int& image);
  void UpdateRow(int row);
  void SaveWidths();
  void SaveOrder();
  void ShowHeaderMenu(const QPoint& globalPos);
  void OnRefreshTimer();

  CNorvListModel* m_model = nullptr;
  Delegate* m_delegate = nullptr;
  CNorvTreeListItem* m_container = nullptr;
  DWORD m_style = kStyleDetails;
  NorvStringList m_names;
  NorvUIntArray m_widths;
  NorvUIntArray m_columnIds;
  NorvUIntArray m_columnOrder;
  std::vector<int> m_formats;
  NorvString m_columnSetKey;
  BOOL m_gridLines = FALSE;
  BOOL m_fullRowSelect = FALSE;
  BOOL m_reordering = FALSE;
  BOOL m_autoSize = FALSE;
  BOOL m_headerMenu = FALSE;
  BOOL m_persistent = FALSE;
  BOOL m_waitCursor = TRUE;
  BOOL m_popupMenus = FALSE;
  bool m_filling = false;
  QFont m_boldFont, m_boldItalicFont, m_italicFont;
  QTimer m_refreshTimer;
  UINT m_refreshInterval = 0;
  RefreshCallback m_refreshCallback;
  void* m_refreshParameter = nullptr;
};
