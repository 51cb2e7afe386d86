// CNorvListView: the content pane that lists the children of the item
// selected in the tree. One table model (CNorvListModel) is shown by a
// QTreeView in the details style and by a QListView in the icon and list
// styles; both share one selection. The view fills the rows from the item's
// ListColumns, GetItems and GetListViewInfo, applies the user's saved
// widths, order, sorting and filters of the column set, sorts through the
// items' Compare and turns what the user does on the rows into item calls.
//
// Settings of a column set live under the private key, each value named by
// the column-set key (see ColumnSetKey): "ColumnWidths", "ColumnOrders",
// "ListSortings" and "ColumnFilters"; "Settings\AutosizeListViewColumns"
// holds the auto-size switch.
//
// Everything here runs on the user-interface thread.
#pragma once
#include <QIcon>
#include <QListView>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <memory>
#include <vector>

#include "NorvFilterText.h"
#include "NorvListModel.h"
#include "norv/NorvColumns.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvTLItemList.h"
#include "norv/NorvView.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;
class CNorvMenu;
class QHeaderView;
class QMimeData;
class TreeView;

// What the list view asks of the window around it. Every method has a
// do-nothing default, so the view works on its own (tests, plugin hosts).
class NORV_API INorvListFrame {
 public:
  virtual ~INorvListFrame();
  // Status bar pane `textId` (35014 rows, 35015 selected rows) shows the
  // text of that id with `number`.
  virtual void SetStatusBarCount(UINT /*textId*/, int /*number*/) {}
  // The filter warning: the user's saved filters hide rows of this list.
  virtual void ShowFilterWarning(BOOL /*show*/) {}
  // Image `index` (offset already added) of the shared image lists.
  virtual QIcon GetListImage(int /*index*/) { return {}; }
};

class NORV_API CNorvListView : public QStackedWidget, public CNorvView {
  Q_OBJECT

 public:
  // List styles (the low two style bits of the list control).
  static constexpr DWORD kStyleIcon = 0;
  static constexpr DWORD kStyleDetails = 1;
  static constexpr DWORD kStyleSmallIcon = 2;
  static constexpr DWORD kStyleList = 3;
  static constexpr int kSelectionTimer = 5911;
  static constexpr int kSelectionDelay = 200;
  // Item features that switch list behaviour.
  static constexpr UINT kFeatureHeaderMenu = 50001;
  static constexpr UINT kFeatureColumnFilters = 50002;
  static constexpr UINT kFeatureReorderColumns = 50003;
  static constexpr UINT kFeatureAutoSize = 50004;
  // The header menu lists this many columns at most.
  static constexpr int kHeaderMenuColumns = 10;

  explicit CNorvListView(QWidget* parent = nullptr);
  ~CNorvListView() override;

  void SetFrame(INorvListFrame* frame);
  // The tree whose selection the list shows (null: the document's tree).
  void SetTree(TreeView* tree);

  // --- CNorvView ---
  BOOL AllowTimerRefresh() override;
  BOOL UpdateContainedItem(CNorvTreeListItem* item) override;
  BOOL RemoveContainedItem(CNorvTreeListItem* item) override;
  BOOL ShowContents(CNorvTreeListItem* item) override;
  void EraseContents() override;
  // Brings the rows in line with the item's children without rebuilding
  // the columns: rows of children that went are deleted, new children are
  // appended (filtered). Existing rows are not read again.
  virtual BOOL UpdateContents(CNorvTreeListItem* item);

  // --- styles ---
  void SetListView(DWORD style);
  DWORD GetListView() const { return m_style; }
  // TRUE in `checked` when the current style is `style`.
  void SetListViewCmdUI(BOOL& checked, DWORD style) const;
  // The style of a view mode (NORV_VIEWMODE_ICON ... REPORT), or -1.
  static int StyleOfViewMode(int mode);

  // --- rows ---
  BOOL SelectItems(CNorvTLItemList* list);
  CNorvTreeListItem* GetFirstSelectedListItem() const;
  void GetSelectedItems(CNorvTLItemList& list) const;
  int GetSelectedCount() const;
  void AutoSizeColumns();
  // Sorts by column number `column` (-1: the saved one), `defaultColumn`
  // when nothing is saved; `reset` replaces the saved sorting.
  void SortList(int column, int defaultColumn, BOOL reset);
  // A click on the header at visible position `v`.
  void OnHeaderClicked(int v);

  // --- commands ---
  BOOL OnCommand(UINT command);
  // FALSE when the command is not the list's.
  BOOL OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked);
  CmdResult ItemCommand(UINT command, DWORD param, void* pParam);
  void OnColumnFilter();
  void OnColumnSettings();
  void ToggleColumn(int n);
  void ShowAllColumns();
  void HideAllColumns();
  // The selected rows as text: header line and one line per row, visible
  // columns in display order, tab-separated, CR LF after each line.
  NorvString CopyAsText() const;
  // Puts CopyAsText on the clipboard as UTF-8 text.
  BOOL OnCopyAsText();
  // The header's column menu at `globalPos` (after a right click).
  void ShowHeaderMenu(const QPoint& globalPos);
  // The context menu of the row at `viewportPos` in the shown pane (no row:
  // the container's), at `globalPos`.
  void ShowContextMenu(const QPoint& viewportPos, const QPoint& globalPos, bool keyboard);

  // --- state (tests and the frame) ---
  CNorvListModel* Model() const { return m_model; }
  QTreeView* Details() const { return m_details; }
  QListView* Icons() const { return m_icons; }
  QAbstractItemView* CurrentPane() const;
  CNorvTreeListItem* Container() const { return m_container; }
  const NorvString& ColumnSetKey() const { return m_columnSetKey; }
  const NorvUIntArray& ColumnIds() const { return m_columnIds; }
  const NorvUIntArray& Widths() const { return m_widths; }
  const NorvUIntArray& ColumnOrder() const { return m_columnOrder; }
  const NorvUIntArray& VisibleColumnIds() const { return m_visibleIds; }
  const NorvString& FilterText() const { return m_filterText; }
  UINT SortColumnId() const { return m_sortColumnId; }
  BOOL SortAscending() const { return m_sortDirection != 0; }
  int SortColumn() const { return m_sortColumn; }
  BOOL IsAutoSize() const { return m_autoSize; }
  CNorvTreeListItem* GetPopupItem() const { return m_popupItem; }
  // The item commands target (popup item, else first selected row, else
  // for most commands the container).
  CNorvTreeListItem* GetTargetItem(UINT command) const;

  // "class:" and the 32 upper-case hexadecimal digits of the MD5 digest of
  // the ids (each 32-bit little-endian, top bit cleared).
  static NorvString MakeColumnSetKey(const NorvString& className, const NorvUIntArray& ids);
  // Shared with the list control. Asks `item` (in its call scope) for its
  // children, traced as `function` at `sourceFile`:`line`; a failure marks
  // the item inaccessible and gives FALSE.
  static BOOL GetListItems(CNorvTreeListItem* item, const char* sourceFile, int line,
                           const char* function);
  // Reads the item's columns and appends them to the arrays.
  static NorvColumnSet ReadColumns(CNorvTreeListItem* item, NorvStringList& names,
                                   NorvUIntArray& widths, NorvUIntArray& ids,
                                   std::vector<int>& formats);
  // The header menu's column part: a check item for each of the first
  // `most` columns, then show all and hide all between separators.
  static void AppendColumnItems(CNorvMenu& menu, const NorvStringList& names,
                                const NorvUIntArray& widths, size_t most);

  // Called by the views' services when children of `parent` are unlinked
  // (see docs/view-interfaces.md); off the user-interface thread only
  // pointers are dropped.
  void ChildrenRemoving(CNorvTreeListItem* parent);
  void ChildrenRemoved(CNorvTreeListItem* parent);
  // The list view of the process (the last one created), or null.
  static CNorvListView* Instance();

  // Used by the panes (internal).
  void PaneContextMenu(QAbstractItemView* pane, QContextMenuEvent* event);
  bool PaneKeyPress(QAbstractItemView* pane, QKeyEvent* event);
  void PaneDoubleClick(QAbstractItemView* pane, const QModelIndex& index);
  bool PaneEdit(const QModelIndex& index);
  void PaneStartDrag(QAbstractItemView* pane);
  void PaneDragMove(QAbstractItemView* pane, QDropEvent* event, bool drop);
  void PaneDragLeave();
  bool IsDropHighlighted(int row) const;
  // Rows of the latest cut are drawn dimmed.
  void IndicateCutItems(CNorvTLItemList* list);
  BOOL IsCutItem(const CNorvTreeListItem* item) const;

 signals:
  // The rows were filled (ShowContents) or changed (UpdateContents).
  void ContentsChanged();

 private:
  class Delegate;
  void ClearColumns();
  void ApplyColumnOrder();
  void AddRows(CNorvTreeListItem* item, const std::vector<CNorvTreeListItem*>& children);
  BOOL ReadRow(CNorvTreeListItem* child, std::vector<NorvString>& cells, int& image);
  void BuildFilters(CNorvTreeListItem* item);
  void SetSortColumn(int v, BOOL ascending);
  void UpdateItem(int row);
  void SaveWidths();
  void SaveWidthsAndOrder();
  void AddToColumnOrder(UINT v);
  void RemoveFromColumnOrder(UINT v);
  void ShowSelectedAgain();
  void OnSelectionChanged();
  void OnSelectionTimer();
  void OnSectionResized(int v, int oldSize, int newSize);
  void OnSectionMoved(int logical, int oldVisual, int newVisual);
  void ShowRowCount();
  void PostCommand(UINT command);
  void DropFilesOn(CNorvTreeListItem* item, const NorvStringList& files, bool rightButton,
                   const QPoint& globalPos, DWORD keyState);
  void ClearDropHighlight();
  void ClearDrop();
  void StopTreeTimer();
  void StartTreeTimer();
  void LockTreeRedraw(BOOL redraw);
  TreeView* Tree() const;
  CNorvTreeListItem* SelectedTreeItem() const;
  bool HeaderEvent(QObject* watched, QEvent* event);
  bool eventFilter(QObject* watched, QEvent* event) override;

  CNorvListModel* m_model = nullptr;
  QTreeView* m_details = nullptr;
  QListView* m_icons = nullptr;
  Delegate* m_delegate = nullptr;
  INorvListFrame* m_frame = nullptr;
  QPointer<TreeView> m_tree;
  DWORD m_style = kStyleDetails;

  CNorvTreeListItem* m_container = nullptr;
  NorvStringList m_names;
  NorvUIntArray m_widths;
  NorvUIntArray m_columnIds;
  std::vector<int> m_formats;
  NorvUIntArray m_columnOrder;
  NorvUIntArray m_visibleIds;
  NorvUIntArray m_defaultDirections;
  NorvString m_columnSetKey;
  NorvString m_filterText;
  CNorvFilterSet m_filters;
  BOOL m_userFilters = FALSE;
  UINT m_sortDirection = 1;
  UINT m_sortColumnId = 0;
  int m_sortColumn = 0;
  BOOL m_autoSize = FALSE;
  bool m_filling = false;
  bool m_tracking = false;
  // Children went behind the view's back (set from any thread).
  std::atomic<bool> m_stale{false};

  CNorvTreeListItem* m_popupItem = nullptr;
  NorvString m_dropFormat;
  CNorvTLItemList* m_droppedItems = nullptr;
  DWORD m_dropKeyState = 0;
  DWORD m_dragKeyState = 0;
  BOOL m_dropPending = FALSE;
  std::vector<CNorvTreeListItem*> m_dropHighlight;
  std::vector<const CNorvTreeListItem*> m_cutItems;
  QTimer m_selectionTimer;
};
