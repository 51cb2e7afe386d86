// TreeView: the explorer bar's tree of objects, starting at the document's
// root. It fills itself lazily from the items (GetItems), keeps every node
// bound to its item, turns selection changes into content-pane switches,
// menu rebuilds and history entries, refreshes items on request, on a
// per-class timer and after plugins flagged objects as changed, resolves
// tree paths, and routes commands, context menus, label edits, the
// clipboard and drag-and-drop to the item under the user's hand.
//
// Everything here runs on the user-interface thread. Plugin threads only
// set flags under the item model lock and call InvokeRefresh; AutoRefresh
// applies them under the same lock.
#pragma once
#include <QElapsedTimer>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <functional>
#include <memory>
#include <unordered_set>

#include "NavigationFrame.h"
#include "NorvTreeModel.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvTLItemList.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvTreePath.h"
#include "norv/NorvView.h"
#include "norv/norvtypes.h"

class CNorvMenu;
class CNorvTreeListItem;
class QMenu;
class QMimeData;

// Command ids of the host's menus and toolbar that the tree handles, by
// the short names the navigation panes use.
namespace norvcmd {
constexpr UINT kRefresh = ID_NORV_CMD_REFRESH;
constexpr UINT kRefreshRate = ID_NORV_CMD_REFRESH_RATE;
constexpr UINT kApplicationKey = ID_NORV_CMD_CONTEXT_MENU;
constexpr UINT kDelete = ID_NORV_CMD_DELETE;
constexpr UINT kProperties = ID_NORV_CMD_PROPERTIES;
constexpr UINT kUpOneLevel = ID_NORV_CMD_UP;
constexpr UINT kClearPopupItem = ID_NORV_CMD_CLEAR_POPUP;
constexpr UINT kDefaultDrop = ID_NORV_CMD_DROPPED;
constexpr UINT kNew = ID_NORV_CMD_NEW;
constexpr UINT kPaste = ID_NORV_CMD_PASTE;
constexpr UINT kCut = ID_NORV_CMD_CUT;
constexpr UINT kCopy = ID_NORV_CMD_COPY;
constexpr UINT kViewStyleFirst = ID_NORV_CMD_VIEW_STYLE_FIRST;
constexpr UINT kBackFirst = ID_NORV_CMD_BACK_FIRST;
constexpr UINT kBackLast = ID_NORV_CMD_BACK_LAST;
constexpr UINT kForwardFirst = ID_NORV_CMD_FORWARD_FIRST;
constexpr UINT kForwardLast = ID_NORV_CMD_FORWARD_LAST;
constexpr UINT kExploreFromHere = ID_NORV_CMD_EXPLORE_FROM_HERE;
constexpr UINT kExpandAll = ID_NORV_CMD_EXPAND_ALL;
constexpr UINT kObjectInformation = ID_NORV_CMD_OBJECT_INFORMATION;
constexpr UINT kRename = ID_NORV_CMD_RENAME;
constexpr UINT kCustomMenuFirst = ID_NORV_CUSTOM_MENU_FIRST;
constexpr UINT kCustomMenuLast = ID_NORV_CUSTOM_MENU_LAST;
constexpr UINT kFeatureRefresh = NORV_FEATURE_REFRESH;
constexpr UINT kFeatureTimedRefresh = NORV_FEATURE_TIMED_REFRESH;
constexpr UINT kFeatureRefreshOnSelect = NORV_FEATURE_REFRESH_ON_SELECT;
}  // namespace norvcmd

class NORV_API TreeView : public QTreeView {
  Q_OBJECT

 public:
  enum NavigationResult { NavigationOk = 0, NavigationNotFound = 1, NavigationRefused = 2 };
  enum NavigationMethod {
    NavigationOrdinary = 0,
    NavigationAddress = 1,
    NavigationHistory = 3,
  };
  // How a selection change came about.
  enum SelectionCause { SelectedByProgram, SelectedByKeyboard, SelectedByMouse };
  // Timer ids, as trace lines and tests name them.
  static constexpr int kRefreshTimer = 5911;
  static constexpr int kUserSelectionTimer = 5912;
  static constexpr int kProgramSelection = 5913;
  static constexpr int kHoverExpandTimer = 5920;
  static constexpr int kItemTimer = 5921;
  static constexpr int kKeyboardSelectionDelay = 1000;
  static constexpr int kHoverExpandDelay = 2000;

  explicit TreeView(QWidget* parent = nullptr);
  ~TreeView() override;

  // The window around the tree (null: none).
  void SetFrame(INorvNavigationFrame* frame);
  INorvNavigationFrame* Frame() const { return m_frame; }
  CNorvTreeModel* Model() const { return m_model; }

  // --- building the tree ---
  void InitTree(CNorvTreeListItem* root);
  void ClearTree();
  void ExpandNode(NorvTreeNode* node);
  NorvTreeNode* Insert(CNorvTreeListItem* item, NorvTreeNode* parent, bool select);
  void UpdateNode(NorvTreeNode* node);
  // The pieces other trees of items share with this one. What a new node of
  // `item` shows; the text, images, colours and emphasis of a node's item,
  // read into the node; the child of `parent` with that text (ignoring
  // case), where a parent never expanded whose item has tree children goes
  // through `expand` first; a delegate that shows the selected image of the
  // selected node.
  static void FillNodeInit(CNorvTreeListItem* item, NorvTreeNodeInit& init);
  static void ReadNode(NorvTreeNode* node);
  static NorvTreeNode* FindChildNode(NorvTreeNode* parent, const NorvString& text,
                                     const std::function<void(NorvTreeNode*)>& expand);
  static QStyledItemDelegate* NewItemDelegate(QObject* parent);

  // --- paths ---
  NorvString GetItemPath(const NorvTreeNode* node) const;
  // Splits the first element off `path` ("//" in it becomes "/"); FALSE
  // when there is no further element.
  static BOOL ExtractSubPath(NorvString& path, NorvString& head);
  NavigationResult NavigateTo(const NorvString& path, NorvTreeNode* start = nullptr,
                              NavigationMethod method = NavigationOrdinary, int viewMode = -1);
  BOOL RefreshClassPath(const NorvString& classPath, NorvTreeNode* start, DWORD flags);

  // --- refresh ---
  BOOL RefreshView(CNorvTreeListItem* item, BOOL skipItemRefresh);
  BOOL ShowSelection();
  void AutoRefresh(CNorvTreeListItem* item, BOOL skipFixup);
  BOOL FixupViews();
  void RefreshViews(CNorvTreeListItem* item, DWORD mask);
  void OnViewRefresh();
  void SetupRefreshTimer();
  void StopRefreshTimer();
  BOOL SetItemTimer(UINT milliseconds);
  // The refresh period of an item class in seconds (0: none) and the
  // slider position of the refresh-rate dialog for it.
  static UINT GetRefreshRate(const NorvString& className);
  static void SetRefreshRate(const NorvString& className, UINT seconds);
  static int RateToPosition(UINT seconds);
  static UINT PositionToRate(int position);
  void OnViewRefreshRate();

  // --- redraw suppression ---
  void SetRedrawStack(BOOL redraw);
  void SetViewRedrawStack(BOOL redraw);
  int GetRedrawStack() const { return m_treeRedrawCount; }
  int GetViewRedrawStack() const { return m_viewRedrawCount; }

  // --- lookups ---
  CNorvTreeListItem* GetSelectedTreeItem() const;
  NorvTreeNode* GetSelectedNode() const;
  CNorvTreeListItem* GetHitTreeItem(const QPoint& point) const;
  BOOL GetChildItems(const NorvTreeNode* node, CNorvTLItemList& list) const;
  BOOL ExpandCurrentNode(CNorvTreeListItem* item);
  BOOL ContractCurrentNode();
  BOOL EditItem(CNorvTreeListItem* item);
  // Selects a node as the program does (processed at once).
  BOOL SelectNode(NorvTreeNode* node);
  BOOL IsNodeExpanded(const NorvTreeNode* node) const;
  void SetNodeExpanded(NorvTreeNode* node, bool expanded);

  // --- commands ---
  CmdResult ItemCommand(UINT command, DWORD param, void* pParam);
  // A command of the host's menus while the tree has the focus; FALSE when
  // it is not the tree's.
  BOOL OnCommand(UINT command);
  // Enabled and checked state of a command; FALSE when not the tree's.
  BOOL OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked);
  CNorvTreeListItem* GetTargetItem() const;
  CNorvTreeListItem* GetPopupItem() const { return m_popupItem; }
  void DisplayPopupMenu(CNorvTreeListItem* item, const QPoint& globalPos);
  static void AppendCustomMenus(CNorvMenu* menu, CNorvTreeListItem* item);
  static BOOL ExecuteCustomMenu(UINT command, CNorvTreeListItem* item);
  static void InitiateItemPopupMenu(CNorvTreeListItem* item, CNorvMenu* menu, int selectedCount);
  void ShowObjectInformation(CNorvTreeListItem* item);
  static NorvString ObjectInformationText(CNorvTreeListItem* item);
  void IndicateCutItems(CNorvTLItemList* list);
  static int CompareFunc(CNorvTreeListItem* a, CNorvTreeListItem* b, LPARAM sort);

  // From the view services, on the thread that destroys or unlinks (see
  // docs/view-interfaces.md): an item the tree shows is destroyed; the
  // children of an item are about to be unlinked, and were unlinked.
  void ItemDestroyed(CNorvTreeListItem* item);
  void ChildrenRemoving(CNorvTreeListItem* parent);
  void ChildrenRemoved(CNorvTreeListItem* parent);
  // The selected item, readable from any thread.
  CNorvTreeListItem* GetSelectedItemAnyThread() const { return m_selectedItem.load(); }
  // The document drops the root: forget every node.
  void RootDestroying();

  // The item last shown in the content pane (process-wide; the frame's
  // closing sends it TREEITEM_DESELECTED and forgets it).
  static CNorvTreeListItem* GetLastShownItem();
  static void ForgetLastShownItem(BOOL sendDeselected);

  // Selection processing state, for the frame and for tests.
  BOOL IsUserSelectionPending() const { return m_userSelectionPending; }
  BOOL IsRefreshing() const { return m_refreshing; }
  NavigationMethod GetNavigationMethod() const { return m_navigationMethod; }
  // Processes a pending keyboard selection now (as its timer would).
  void ProcessPendingSelection();
  // "ExpandOnSelect" of the user's options.
  static BOOL GetExpandOnSelect();

  // Whether the tree is waiting in a plugin's GetItems, and for how long
  // a call may take before the trace says so.
  BOOL IsWaitingForItems() const { return m_waitingNode != nullptr; }
  static constexpr int kSlowGetItemsMs = 2000;

 signals:
  // A selection was processed (after the content was shown).
  void SelectionProcessed(CNorvTreeListItem* item);

 protected:
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct RefreshGuard;
  void OnSelectionTimer(int id);
  void OnRefreshTimer();
  void OnItemTimer();
  void OnHoverExpand();
  bool AllowSelectionChange(NorvTreeNode* from);
  // The child of `parent` with that text (ignoring case), expanding it
  // first when it was never expanded.
  NorvTreeNode* FindChild(NorvTreeNode* parent, const NorvString& text);
  NavigationResult NavigateHere(NorvTreeNode* node, NavigationMethod method, int viewMode);
  void ApplyClassPath(const std::vector<NorvTreePathStep>& steps, std::size_t at,
                      NorvTreeNode* current, DWORD flags);
  void UpdateTree(CNorvTreeListItem* item, const NorvObjectFlagTable& table);
  BOOL RefreshTree(CNorvTreeListItem* item, bool& changed, CNorvTreeListItem* parent);
  BOOL UpdateObject(CNorvTreeListItem* item, BOOL refresh);
  void UpdateView(CNorvTreeListItem* item);
  // UpdateView's part for the nodes of an expanded branch.
  void MergeChildNodes(CNorvTreeListItem* item, NorvTreeNode* node);
  BOOL RemoveObject(CNorvTreeListItem* item, CNorvTreeListItem* parent);
  void SortNode(NorvTreeNode* node);
  BOOL ShowSelectionSuspended();
  void SetDropHighlight(NorvTreeNode* node);
  DWORD KeyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) const;
  bool HandleDragOver(QDropEvent* event, bool drop);
  void PostCommand(UINT command);
  CNorvView* ContentView() const;
  // Removes the nodes whose items were destroyed behind the tree's back
  // and reads changed branches anew (queued to the user-interface thread).
  void PurgeDeadNodes();
  void SchedulePurge();
  // Removes a node's children; a selection inside moves to the node.
  void ResetBranch(NorvTreeNode* node);

  CNorvTreeModel* m_model = nullptr;
  INorvNavigationFrame* m_frame = nullptr;
  BOOL m_dropHighlightShown = FALSE;
  BOOL m_refreshing = FALSE;
  BOOL m_dropPending = FALSE;
  BOOL m_userSelectionPending = FALSE;
  CNorvTreeListItem* m_popupItem = nullptr;
  NorvString m_dropFormat;
  CNorvTLItemList* m_droppedItems = nullptr;
  DWORD m_dragKeyState = 0;
  DWORD m_dropKeyState = 0;
  int m_treeRedrawCount = 0;
  int m_viewRedrawCount = 0;
  NavigationMethod m_navigationMethod = NavigationOrdinary;

  SelectionCause m_inputCause = SelectedByProgram;
  QTimer m_refreshTimer;
  QTimer m_selectionTimer;
  QTimer m_itemTimer;
  QTimer m_hoverTimer;
  NorvTreeNode* m_hoverNode = nullptr;
  NorvTreeNode* m_waitingNode = nullptr;
  NorvTreeNode* m_lastSelected = nullptr;
  bool m_clickOnSelected = false;
  bool m_inSelectionProcessing = false;
  bool m_editAllowed = false;
  bool m_holding = false;
  std::atomic<bool> m_purgePending{false};
  std::atomic<CNorvTreeListItem*> m_selectedItem{nullptr};
  int m_ownUnlink = 0;  // the tree itself unlinks children
  // Items destroyed during the current fix-up pass.
  std::unordered_set<CNorvTreeListItem*> m_destroyed;
  // Items whose list the object flag table invalidated in this pass.
  std::unordered_set<CNorvTreeListItem*> m_pendingListInvalid;
};
