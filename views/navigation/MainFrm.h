// CMainFrame: the explorer's top-level window. It owns the explorer bar
// (tree, history and bookmark panes behind a selector), the content pane,
// the menu bar built from the host's menu resource, the toolbar, the status
// bar and the shared image lists, and it shuts the framework down in order
// (closing, "NORV2.1_Terminate"). It is the document's windows side
// (INorvDocViews), the tree's frame (INorvNavigationFrame) and the item
// model's window services (through CNorvNavigationServices).
//
// Other threads reach it only through InvokeRefresh (a posted event whose
// refresh runs when the event loop is idle) and the registered messages.
#pragma once
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>

#include "NavigationFrame.h"
#include "norv/NorvDocViews.h"
#include "norv/NorvView.h"
#include "norv/NorvViewServices.h"

class BookmarkView;
class CNorvDoc;
class CNorvMenu;
class HistoryView;
class QComboBox;
class QMenu;
class QSocketNotifier;
class QSplitter;
class QStackedWidget;
class QToolButton;
class TreeView;
namespace plat {
class MessageListener;
}

// The content pane until a list view exists: shows which object is
// selected.
class NORV_API CEmptyContentView : public QLabel, public CNorvView {
  Q_OBJECT

 public:
  explicit CEmptyContentView(QWidget* parent = nullptr);
  BOOL ShowContents(CNorvTreeListItem* item) override;
  void EraseContents() override;
};

class NORV_API CMainFrame : public QMainWindow,
                            public INorvDocViews,
                            public INorvNavigationFrame,
                            public INorvViewServices {
  Q_OBJECT

 public:
  // The explorer bar's panes, in selector order.
  enum ExplorerPane { PaneTree = 0, PaneHistory = 1, PaneBookmarks = 2 };
  static constexpr UINT kMainMenu = 128;
  static constexpr UINT kAppExit = 57665;

  // The process's one frame (null when there is none).
  static CMainFrame* theFrame;

  explicit CMainFrame(CNorvDoc* document, QWidget* parent = nullptr);
  ~CMainFrame() override;

  TreeView* Tree() const { return m_tree; }
  HistoryView* History() const { return m_history; }
  BookmarkView* Bookmarks() const { return m_bookmarks; }
  CEmptyContentView* DefaultView() const { return m_defaultView; }
  QStackedWidget* ContentPane() const { return m_contentPane; }

  // --- image lists ---
  BOOL InitImageLists();
  const QList<QImage>& GetImageList(ImageListType type) const;

  // --- menus ---
  // Merges `source` into `destination` (see the design note).
  static BOOL MergeMenu(CNorvMenu* destination, const CNorvMenu* source, BOOL topLevel);
  // The host's menu plus the plugins' help and About entries plus the
  // item's own menu.
  static BOOL BuildMainMenu(CNorvTreeListItem* item, CNorvMenu& menu);

  // --- commands ---
  BOOL OnCommand(UINT command);
  // Enabled and checked state of a command (TRUE, FALSE when nobody says).
  void OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked);
  void ShowExplorerPane(int pane);
  int CurrentExplorerPane() const;
  void ShowExplorerBar(bool show);
  BOOL OnBookmark();

  // --- refresh requests ---
  // Runs the tree's AutoRefresh when a refresh was requested; TRUE when it
  // did.
  BOOL AsyncRefresh();
  int RefreshRunCount() const { return m_refreshRuns; }
  BOOL IsExplorerEmptyRequested() const { return m_explorerEmpty; }

  // --- INorvDocViews ---
  BOOL InitTreeView(CNorvTreeListItem* root) override;
  BOOL LoadBookmarks() override;
  BOOL NavigateTree(const NorvString& path) override;
  void RootDestroying(CNorvTreeListItem* root) override;
  NorvString GetViewClassName(CNorvView* view) override;
  BOOL IsActiveView(CNorvView* view) override;
  BOOL IsTreeRedrawEnabled() override;
  BOOL HasViewWindow(CNorvView* view) override;
  void ActivateContentView(CNorvView* previous, CNorvView* view, BOOL create,
                           BOOL makeActive) override;
  void SetMainWindowTitle(const NorvString& title) override;
  BOOL ConfirmDelete(CNorvTreeListItem* item) override;

  // --- INorvNavigationFrame ---
  void ResetMenuManager() override {}
  void RebuildMainMenu(CNorvTreeListItem* item) override;
  void AddHistoryEntry(const NorvString& path, int image, int selectedImage, int viewMode) override;
  void UpdateHistoryViewMode(int viewMode) override;
  void SelectMatchingBookmark(const NorvString& path) override;
  void GoBack(int steps) override;
  void GoForward(int steps) override;
  void SetAddressBar(const NorvString& path, int image) override;
  void ShowStatusText(const NorvString& text) override;
  BOOL IsMainWindowMinimized() override;
  int GetModalDialogCount() override { return m_modalDialogs; }
  // The framework's dialogs count themselves in and out while they run.
  void CountModalDialog(int delta) { m_modalDialogs += delta; }
  QIcon GetImage(int index) override;
  void RequestExplorerEmpty() override;

  // --- INorvViewServices (the frame's part) ---
  void InvokeRefresh() override;
  BOOL SetStatusBarText(const NorvString& text) override;
  BOOL ModifyImageList(ImageListType type, int index, const QIcon& icon) override;
  BOOL GetAddressBarInfo(NorvString& text, int& image, int& selectedImage) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateExplorerBar();
  void CreateToolBar();
  void CreateStatusBar();
  void InstallMenu(const CNorvMenu& menu);
  void UpdateMenuStates(QMenu* menu);
  void UpdateToolBar();
  void FillHistoryMenu(QMenu* menu, bool back);
  void OnRegisteredMessage(UINT message, WPARAM wParam);
  void OnIdle();
  void LoadSettings();
  void SaveSettings();

  CNorvDoc* m_doc = nullptr;
  TreeView* m_tree = nullptr;
  HistoryView* m_history = nullptr;
  BookmarkView* m_bookmarks = nullptr;
  CEmptyContentView* m_defaultView = nullptr;
  QSplitter* m_splitter = nullptr;
  QWidget* m_explorerBar = nullptr;
  QComboBox* m_paneSelector = nullptr;
  QStackedWidget* m_panes = nullptr;
  QStackedWidget* m_contentPane = nullptr;
  QToolButton* m_backButton = nullptr;
  QToolButton* m_forwardButton = nullptr;
  std::map<UINT, QAction*> m_toolActions;
  QLabel* m_statusPanes[3] = {nullptr, nullptr, nullptr};

  QList<QImage> m_smallImages;
  QList<QImage> m_largeImages;
  std::map<int, QIcon> m_iconCache;

  std::atomic<bool> m_refreshPosted{false};
  BOOL m_refreshRequested = FALSE;
  int m_refreshRuns = 0;
  QTimer m_idleTimer;
  long m_idleCount = 0;
  int m_modalDialogs = 0;
  BOOL m_explorerEmpty = FALSE;
  bool m_closing = false;
  NorvString m_addressText;
  int m_addressImage = -1;

  std::unique_ptr<plat::MessageListener> m_listener;
  QSocketNotifier* m_notifier = nullptr;
  UINT m_terminateMessage = 0;
  UINT m_bookmarksMessage = 0;
};
