// CMainFrame: the explorer's top-level window. It owns the command bars
// (toolbar, address bar, banner band, status bar), the client layout (a
// splitter of explorer bar, content side and tutorial bar; the content side
// splits into the client bar with the pane window and the output bar), the
// menu bar built from the host's menu resource, the shared image lists and
// the persisted window settings, and it shuts the framework down in order
// (closing, "NORV2.1_Terminate"). It is the document's windows side
// (INorvDocViews), the tree's frame (INorvNavigationFrame) and the item
// model's window services (through CNorvNavigationServices).
//
// Other threads reach it only through InvokeRefresh (a posted event whose
// refresh runs when the event loop is idle) and the registered messages.
#pragma once
#include <QEvent>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "FrameBars.h"
#include "FrameToolBars.h"
#include "NavigationFrame.h"
#include "NorvHtmlHost.h"
#include "SplitterWndEx.h"
#include "norv/NorvDocViews.h"
#include "norv/NorvView.h"
#include "norv/NorvViewServices.h"

class BookmarkView;
class CHtmlFrame;
class CNorvHtmlView;
class CNorvDoc;
class CNorvListView;
class CNorvMenu;
class HistoryView;
class QComboBox;
class QMenu;
class QSocketNotifier;
class INorvCommandTarget;
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
                            public INorvViewServices,
                            public INorvHtmlHost {
  Q_OBJECT

 public:
  // The explorer bar's panes, in selector order.
  enum ExplorerPane { PaneTree = 0, PaneHistory = 1, PaneBookmarks = 2 };
  static constexpr UINT kMainMenu = 128;
  static constexpr UINT kAppExit = 57665;
  // The panes that ActivatePane knows, by index.
  enum FocusPane {
    FocusExplorerPane = 0,
    FocusContentView = 1,
    FocusHtmlFrame = 2,
    FocusOutputView = 3,
    FocusViewSelector = 4,
    FocusAddressBar = 5,
    FocusExplorerSelector = 6,
    FocusTutorial = 7,
  };
  // Window sizes stored for a maximized and a minimized close.
  static constexpr UINT kSizeMaximized = 65535;
  static constexpr UINT kSizeMinimized = 0xFFFFFFFFu;
  // The persisted values, as read at creation and written at closing.
  struct Settings {
    BOOL viewAsWebPage = TRUE;
    BOOL toolBarText = FALSE;
    BOOL toolBarLargeButtons = TRUE;
    BOOL addressBarVisible = FALSE;
    BOOL viewSelectorVisible = TRUE;
    BOOL tutorialEnabled = TRUE;
    BOOL explorerBarVisible = TRUE;
    int bannerPosition = 0;  // 0: the banner above the toolbar, else below
    BOOL dynamicSplitter = TRUE;
  };

  // The event sent to the current content view when the frame closes.
  static const QEvent::Type kFrameClosingEvent;
  // The process's one frame (null when there is none).
  static CMainFrame* theFrame;

  explicit CMainFrame(CNorvDoc* document, QWidget* parent = nullptr);
  ~CMainFrame() override;

  TreeView* Tree() const { return m_tree; }
  HistoryView* History() const { return m_history; }
  BookmarkView* Bookmarks() const { return m_bookmarks; }
  CEmptyContentView* DefaultView() const { return m_defaultView; }
  CNorvHtmlView* HtmlView() const { return m_htmlView; }
  QStackedWidget* ContentPane() const { return m_contentPane; }
  CFixedToolBar* ToolBar() const { return m_toolBar; }
  CAddress* AddressBar() const { return m_address; }
  QToolBar* AddressBand() const { return m_addressBand; }
  QToolBar* BannerBand() const { return m_bannerBand; }
  CHtmlFrame* Banner() const { return m_banner; }
  CHtmlFrame* HtmlFrame() const { return m_htmlFrame; }
  CHtmlFrame* TutorialWindow() const { return m_tutorial; }
  CSplitterWndEx* VerticalSplitter() const { return m_vertSplitter; }
  CSplitterWndEx* HorizontalSplitter() const { return m_horzSplitter; }
  CComboFrame* ExplorerBar() const { return m_explorerBar; }
  CClientFrame* ClientBar() const { return m_clientBar; }
  CBarFrame* OutputBar() const { return m_outputBar; }
  CBarFrame* TutorialBar() const { return m_tutorialBar; }
  CPaneWnd* PaneWindow() const { return m_clientBar->PaneWindow(); }
  QLabel* StatusPane(UINT id) const;
  const Settings& CurrentSettings() const { return m_settings; }

  // --- persisted values ---
  // The host application's profile (an INI file in the user's
  // configuration folder: $XDG_CONFIG_HOME, else ~/.config, then
  // "norv/<application name>.ini").
  static std::string ProfileFileName();
  static int GetProfileInt(const char* section, const char* key, int defaultValue);
  static BOOL WriteProfileInt(const char* section, const char* key, int value);
  // A stored window size made to fit the available screen area; FALSE when
  // the stored values are not to be applied (missing, maximized,
  // minimized).
  static BOOL FitStoredSize(UINT storedX, UINT storedY, const QRect& available, QSize& size);

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
  BOOL IsExplorerBarShown() const;
  BOOL OnBookmark();
  void SetupToolbar();
  void ShowAddressBar(bool show);
  void ShowTutorialBar(bool show);
  BOOL IsTutorialBarShown() const;
  BOOL IsOutputBarShown() const;
  void ShowViewSelector(bool show);
  void SetViewAsWebPage(BOOL on);
  // Toggles the trace log (35123): off keeps the levels for switching on.
  static void EnableTraceLog(BOOL on);
  static BOOL IsTraceLogEnabled();

  // --- panes and focus ---
  BOOL ActivatePane(int index);
  BOOL ActivateNextPane(int index, BOOL backwards);
  int GetActivePane() const;
  BOOL IsPaneVisible(int index) const;

  // --- HTML panes and margins ---
  void SetViewMargins(const QRect& margins, int flag) override;
  void SetBanner(const htmlViewInfo& info) override;
  void SetFrame(const htmlViewInfo& info) override;
  void SetTutorial(const htmlViewInfo& info) override;
  void SetViewSelector(const std::vector<std::pair<NorvString, UINT>>& entries,
                       int current) override;
  void HideOutputView() override;
  BOOL IsTutorialAvailable() const { return m_tutorialAvailable; }

  // --- status bar ---
  // Shows `text` in the stretching pane; returns the text it replaces.
  NorvString ShowStatusBarText(const NorvString& text);
  // The status prompt of a command: the default, or the target item's own.
  NorvString GetMessageString(UINT command, const NorvString& defaultPrompt);

  // --- tools: options, help, tip of the day, splash, icon, print (MainFrmTools.cpp) ---
  BOOL OnToolsCommand(UINT command);
  BOOL OnUpdateToolsCommand(UINT command, BOOL& enabled, BOOL& checked);
  void ShowSplash(const NorvString& url, const NorvString& options) override;
  void ShowTipDialog(BOOL atStartup) override;
  BOOL ShowHelp(DWORD data, UINT command, const NorvString& helpFile) override;

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
  BOOL SetAddressBarInfo(const NorvString& text, int image, int selectedImage, int indent,
                         const NorvString& path) override;
  BOOL SetOutputView(QWidget* view, OutputViewHeaderPosition position, const NorvString& caption,
                     int flags) override;
  void DetachOutputView(QWidget* view) override;
  BOOL ShowOutputView(BOOL show) override;
  BOOL IsOutputViewVisible(QWidget* view) override;
  QWidget* GetOutputViewParent() override;

  // --- INorvHtmlHost (the tree and the main window; the page commands of
  // the HTML views and panes) ---
  CNorvTreeListItem* GetSelectedTreeItem() override;
  CmdResult TreeItemCommand(UINT command, DWORD param, void* pParam) override;
  void PostTreeCommand(UINT command) override;
  void PostMainCommand(UINT command) override;
  BOOL IsExplorerBarVisible() override { return IsExplorerBarShown(); }

  // --- closing ---
  // Writes the persisted values (done by closing).
  void SaveSettings();
  BOOL IsClosing() const { return m_closing; }
  // The end of the desktop session: FALSE when a plugin refuses.
  BOOL OnQueryEndSession();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  BOOL OnCreateBars();
  BOOL OnCreateClient();
  BOOL CreateExplorerBar();
  BOOL CreateStatusBar();
  void OnAddressDropDown();
  void OnAddressSelect(const QString& path);
  void OnAddressEnter(const QString& text);
  void FocusAfterAddress();
  void OnDropDown(UINT command, QMenu* menu);
  void OnViewOutputBar();
  void OnViewNext();
  void SendToLastShownItem(UINT command);
  INorvCommandTarget* FocusedCommandTarget() const;
  QWidget* CurrentContentWidget() const;
  void ApplyViewMargins();
  void InstallMenu(const CNorvMenu& menu);
  void UpdateMenuStates(QMenu* menu);
  void UpdateToolBar();
  void FillHistoryMenu(QMenu* menu, bool back);
  void OnRegisteredMessage(UINT message, WPARAM wParam);
  void OnIdle();
  void LoadSettings();

  CNorvDoc* m_doc = nullptr;
  TreeView* m_tree = nullptr;
  HistoryView* m_history = nullptr;
  BookmarkView* m_bookmarks = nullptr;
  CEmptyContentView* m_defaultView = nullptr;
  CNorvHtmlView* m_htmlView = nullptr;
  CSplitterWndEx* m_vertSplitter = nullptr;
  CSplitterWndEx* m_horzSplitter = nullptr;
  CComboFrame* m_explorerBar = nullptr;
  CClientFrame* m_clientBar = nullptr;
  CBarFrame* m_outputBar = nullptr;
  CBarFrame* m_tutorialBar = nullptr;
  CHtmlFrame* m_tutorial = nullptr;
  CHtmlFrame* m_htmlFrame = nullptr;
  CHtmlFrame* m_banner = nullptr;
  QStackedWidget* m_contentPane = nullptr;
  CFixedToolBar* m_toolBar = nullptr;
  QToolBar* m_addressBand = nullptr;
  QToolBar* m_bannerBand = nullptr;
  CAddress* m_address = nullptr;
  QLabel* m_statusPanes[3] = {nullptr, nullptr, nullptr};
  QWidget* m_outputView = nullptr;
  Settings m_settings;
  QRect m_margins;
  int m_marginFlag = 0;
  BOOL m_tutorialAvailable = FALSE;
  BOOL m_restoreOutputHeight = FALSE;
  bool m_outerCellsHidden = false;

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

  // --- the list view (MainFrmContent.cpp) ---
 public:
  CNorvListView* ListView() const { return m_listView; }
  // Status pane 35014 or 35015 shows its text with `number`.
  void SetStatusBarCount(UINT textId, int number);
  void ShowFilterWarning(BOOL show) override;
  BOOL GetListSorting(int& column, int& ascending) override;
  BOOL SelectListViewItems(CNorvTLItemList* list) override;

 private:
  void CreateListView();
  void ForgetListView();
  // View styles, column filter, selection and the list's own commands.
  BOOL OnContentCommand(UINT command);
  BOOL OnUpdateContentCommand(UINT command, BOOL& enabled, BOOL& checked);
  CNorvListView* m_listView = nullptr;
  QLabel* m_filterWarning = nullptr;
};
