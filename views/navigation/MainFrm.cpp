#include "MainFrm.h"

#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "BookmarkView.h"
#include "CoolMenuManager.h"
#include "HistoryView.h"
#include "HtmlFrame.h"
#include "NorvHtmlView.h"
#include "NavigationServices.h"
#include "NorvCommandTarget.h"
#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/resources.h"

namespace {

QString Q(const NorvString& text) { return QString::fromStdWString(text); }
NorvString W(const QString& text) { return text.toStdWString(); }
QString Text(UINT id) { return Q(plat::LoadString(id)); }

// The request of WM_APP, as a posted event.
const QEvent::Type kRefreshRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// Sent to the current content view when the frame closes.
const QEvent::Type CMainFrame::kFrameClosingEvent =
    static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

NorvString WithoutAmpersands(const NorvString& text) {
  NorvString out;
  for (wchar_t c : text)
    if (c != L'&') out.push_back(c);
  return out;
}

constexpr int kMinimumWidth = 200;
constexpr int kMinimumHeight = 150;

// The frame's creation and closing lines carry the frame's source name and
// their own line numbers.
#define FRAME_TRACE(level, line, text)                                  \
  do {                                                                  \
    if ((level) <= gNorvBaseTraceLevel)                                 \
      NorvBaseTrace("NorvDll/MainFrm", (line), (level), 0, (text));     \
  } while (0)

}  // namespace

CMainFrame* CMainFrame::theFrame = nullptr;

// ===========================================================================
// The empty content view
// ===========================================================================

CEmptyContentView::CEmptyContentView(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
  setWordWrap(true);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  setMargin(12);
}

BOOL CEmptyContentView::ShowContents(CNorvTreeListItem* item) {
  if (item == nullptr) {
    clear();
    return TRUE;
  }
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT);
  }
  const QString name = p != nullptr ? Q(p->strText) : QString();
  setText(QStringLiteral("<b>%1</b><br><small>%2</small>")
              .arg(name.toHtmlEscaped(), Q(item->GetObjectAddress()).toHtmlEscaped()));
  return TRUE;
}

void CEmptyContentView::EraseContents() { clear(); }

// ===========================================================================
// Creation
// ===========================================================================

CMainFrame::CMainFrame(CNorvDoc* document, QWidget* parent) : QMainWindow(parent), m_doc(document) {
  theFrame = this;
  setWindowTitle(Text(IDS_NORV_CAPTION));
  setAcceptDrops(false);  // drops on the frame itself are refused
  resize(900, 600);
  LoadSettings();
  InitImageLists();

  // The menu until the first selection rebuilds it.
  CNorvMenu menu;
  BuildMainMenu(nullptr, menu);
  InstallMenu(menu);

  // A step that fails has written its line; the frame then stays as far as
  // it got (a Qt widget cannot refuse its construction).
  if (OnCreateBars()) OnCreateClient();

  if (m_doc != nullptr) {
    m_doc->SetTreeView(m_tree);
    m_doc->SetHistoryView(m_history);
    m_doc->SetBookmarkView(m_bookmarks);
    m_doc->SetListView(m_defaultView);
    m_doc->SetHtmlView(m_htmlView);
    m_doc->SetCurrentView(m_defaultView);
    m_doc->SetViews(this);
  }
  CreateListView();
  NorvSetHtmlHost(this);
  CNorvNavigationServices::Instance().Attach(m_tree, this);

  // Idle processing: a zero-interval timer runs when the event queue is
  // empty and stops when there is nothing left to do.
  m_idleTimer.setInterval(0);
  connect(&m_idleTimer, &QTimer::timeout, this, [this] { OnIdle(); });

#ifndef QT_NO_SESSIONMANAGER
  // The end of the desktop session asks first.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    if (!OnQueryEndSession() && manager.allowsInteraction()) manager.cancel();
  });
#endif

  // Moving the focus between the panes.
  auto* next = new QAction(this);
  next->setShortcut(QKeySequence(Qt::Key_F6));
  connect(next, &QAction::triggered, this, [this] { OnCommand(ID_NORV_CMD_NEXT_PANE); });
  auto* previous = new QAction(this);
  previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  connect(previous, &QAction::triggered, this, [this] { OnCommand(ID_NORV_CMD_PREVIOUS_PANE); });
  addActions({next, previous});

  // Registered messages from other processes.
  m_terminateMessage = plat::RegisterWindowMessage(std::wstring_view(L"NORV2.1_Terminate"));
  m_bookmarksMessage = BookmarkView::BookmarksUpdatedMessage();
  m_listener = std::make_unique<plat::MessageListener>(
      [this](UINT message, WPARAM wParam, LPARAM) { OnRegisteredMessage(message, wParam); });
  if (m_listener->IsOpen()) {
    m_notifier = new QSocketNotifier(m_listener->SocketFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { m_listener->Poll(); });
  }
  CCoolMenuManager::InstallOnFrame(this);  // toolbar images in every menu
  UpdateToolBar();
}

CMainFrame::~CMainFrame() {
  CNorvNavigationServices::Instance().Detach();
  ForgetListView();
  if (NorvGetHtmlHost() == this) NorvSetHtmlHost(nullptr);
  // The host may destroy the document first (it needs the views while it
  // destroys the root): only a document still alive is told.
  if (m_doc != nullptr && CNorvDoc::GetDoc() != m_doc) m_doc = nullptr;
  if (m_doc != nullptr) {
    m_doc->SetViews(nullptr);
    m_doc->SetTreeView(nullptr);
    m_doc->SetHistoryView(nullptr);
    m_doc->SetBookmarkView(nullptr);
    if (m_doc->GetListView() == m_defaultView) m_doc->SetListView(nullptr);
    if (m_doc->GetHtmlView() == m_htmlView) m_doc->SetHtmlView(nullptr);
    if (m_doc->GetCurrentView() == m_defaultView || m_doc->GetCurrentView() == m_htmlView)
      m_doc->SetCurrentView(nullptr);
  }
  if (theFrame == this) theFrame = nullptr;
}

// ----- persisted values -----------------------------------------------------

std::string CMainFrame::ProfileFileName() {
  std::string folder;
  if (const char* config = getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
    folder = config;
  else if (const char* home = getenv("HOME"); home != nullptr && *home != '\0')
    folder = std::string(home) + "/.config";
  else
    folder = "/tmp";
  folder += "/norv";
  QDir().mkpath(QString::fromStdString(folder));
  QString name = QCoreApplication::applicationName();
  if (name.isEmpty()) name = QStringLiteral("norvexplore");
  return folder + "/" + name.toStdString() + ".ini";
}

int CMainFrame::GetProfileInt(const char* section, const char* key, int defaultValue) {
  return static_cast<int>(
      plat::GetPrivateProfileIntA(section, key, defaultValue, ProfileFileName().c_str()));
}

BOOL CMainFrame::WriteProfileInt(const char* section, const char* key, int value) {
  return plat::WritePrivateProfileStringA(section, key, std::to_string(value).c_str(),
                                          ProfileFileName().c_str());
}

BOOL CMainFrame::FitStoredSize(UINT storedX, UINT storedY, const QRect& available,
                               QSize& size) {
  if (storedX == kSizeMaximized || storedY == kSizeMaximized || storedX == kSizeMinimized ||
      storedY == kSizeMinimized || storedX == 0 || storedY == 0)
    return FALSE;
  // A size stored on a larger screen (or written by hand) is pulled back
  // onto this one; a tiny one gets a usable minimum.
  int width = static_cast<int>(std::min<UINT>(storedX, 1u << 20));
  int height = static_cast<int>(std::min<UINT>(storedY, 1u << 20));
  if (available.isValid()) {
    width = std::min(width, available.width());
    height = std::min(height, available.height());
  }
  size = QSize(std::max(width, kMinimumWidth), std::max(height, kMinimumHeight));
  return TRUE;
}

void CMainFrame::LoadSettings() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings");
  UINT x = 0, y = 0;
  QSize size;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
  if (key.GetUIntValue(L"SizeX", x) && key.GetUIntValue(L"SizeY", y) &&
      FitStoredSize(x, y, available, size)) {
    resize(size);
    if (available.isValid() && !available.contains(QRect(pos(), size))) move(available.topLeft());
  }
  auto read = [&key](const wchar_t* name, BOOL defaultValue) {
    UINT value = defaultValue ? 1 : 0;
    key.GetUIntValue(name, value);
    return value != 0 ? TRUE : FALSE;
  };
  m_settings.viewAsWebPage = read(L"ViewAsWebPage", TRUE);
  m_settings.toolBarText = read(L"ToolBarText", FALSE);
  m_settings.toolBarLargeButtons = read(L"ToolBarLargeButtons", TRUE);
  m_settings.addressBarVisible = read(L"AddressBarVisible", FALSE);
  m_settings.viewSelectorVisible = read(L"ViewSelectorVisible", TRUE);
  m_settings.tutorialEnabled = read(L"TutorialEnabled", TRUE);
  m_settings.explorerBarVisible = read(L"ExplorerBarVisible", TRUE);
  m_settings.bannerPosition = GetProfileInt("Settings", "BannerPosition", 0);
  m_settings.dynamicSplitter = GetProfileInt("Settings", "DynamicSplitter", 1) != 0;
}

void CMainFrame::SaveSettings() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_ALL_ACCESS);
  UINT x = static_cast<UINT>(frameGeometry().width());
  UINT y = static_cast<UINT>(frameGeometry().height());
  if (isMaximized()) x = y = kSizeMaximized;
  if (isMinimized()) x = y = kSizeMinimized;
  key.SetUIntValue(L"SizeX", x);
  key.SetUIntValue(L"SizeY", y);
  key.SetUIntValue(L"ViewAsWebPage", m_settings.viewAsWebPage ? 1 : 0);
  key.SetUIntValue(L"ToolBarText", m_settings.toolBarText ? 1 : 0);
  key.SetUIntValue(L"ToolBarLargeButtons", m_settings.toolBarLargeButtons ? 1 : 0);
  key.SetUIntValue(L"AddressBarVisible",
                   m_addressBand != nullptr && !m_addressBand->isHidden() ? 1 : 0);
  key.SetUIntValue(L"ViewSelectorVisible",
                   m_clientBar != nullptr && m_clientBar->IsViewSelectorShown() ? 1 : 0);
  key.SetUIntValue(L"ExplorerBarVisible", IsExplorerBarShown() ? 1 : 0);
  // The bar state: which bars are shown and where.
  plat::WritePrivateProfileStringA("ToolBar", "State", saveState().toBase64().constData(),
                                   ProfileFileName().c_str());
  key.SetUIntValue(L"TutorialEnabled", m_settings.tutorialEnabled ? 1 : 0);
}

// ----- bars -----------------------------------------------------------------

BOOL CMainFrame::OnCreateBars() {
  FRAME_TRACE(4, 400, L"Creating toolbar");
  m_toolBar = new CFixedToolBar(Text(IDS_NORV_BUTTON_FOLDERS), this);
  m_toolBar->setObjectName(QStringLiteral("Band1000"));
  connect(m_toolBar, &CFixedToolBar::CommandRequested, this, [this](UINT c) { OnCommand(c); });
  connect(m_toolBar, &CFixedToolBar::DropDownRequested, this,
          [this](UINT command, QMenu* menu) { OnDropDown(command, menu); });
  SetupToolbar();

  FRAME_TRACE(4, 432, L"Creating address bar");
  m_address = new CAddress(this);
  m_address->setObjectName(QStringLiteral("Address59398"));
  m_address->setMinimumWidth(250);
  connect(m_address, &CAddress::DropDownRequested, this, [this] { OnAddressDropDown(); });
  connect(m_address, &CAddress::EntryChosen, this,
          [this](const QString& path) { OnAddressSelect(path); });
  connect(m_address, &CAddress::Entered, this,
          [this](const QString& text) { OnAddressEnter(text); });
  connect(m_address, &CAddress::TextEdited, this, [this](const QString& text) {
    NorvString typed = W(text);
    if (m_tree != nullptr) m_tree->ItemCommand(ID_NORV_ITEMCMD_ADDRESS_CHANGE, 0, &typed);
  });

  FRAME_TRACE(4, 439, L"Creating banner");
  m_banner = new CHtmlFrame(ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_BANNER, this);
  m_banner->setObjectName(QStringLiteral("Banner59399"));
  // 53 pixels high; the band gives it the window's width.
  m_banner->setFixedHeight(53);
  m_banner->setMinimumWidth(53);
  m_banner->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  auto makeBannerBand = [this](int line) {
    FRAME_TRACE(4, line, L"Creating banner rebar");
    m_bannerBand = new QToolBar(QStringLiteral("Banner"), this);
    m_bannerBand->setObjectName(QStringLiteral("Band59396"));
    m_bannerBand->setMovable(false);
    m_bannerBand->setFloatable(false);
    m_bannerBand->addWidget(m_banner);
    addToolBar(Qt::TopToolBarArea, m_bannerBand);
    addToolBarBreak(Qt::TopToolBarArea);
  };
  if (m_settings.bannerPosition == 0) makeBannerBand(450);

  FRAME_TRACE(4, 460, L"Creating rebar and adding toolbar and address bar to it");
  addToolBar(Qt::TopToolBarArea, m_toolBar);
  addToolBarBreak(Qt::TopToolBarArea);
  m_addressBand = new QToolBar(Text(IDS_NORV_ADDRESS), this);
  m_addressBand->setObjectName(QStringLiteral("Band1001"));
  m_addressBand->setMovable(false);
  m_addressBand->setFloatable(false);
  auto* label = new QLabel(Text(IDS_NORV_ADDRESS) + QLatin1Char(' '), m_addressBand);
  label->setBuddy(m_address);
  m_addressBand->addWidget(label);
  m_addressBand->addWidget(m_address);
  m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  addToolBar(Qt::TopToolBarArea, m_addressBand);
  if (m_settings.bannerPosition != 0) {
    addToolBarBreak(Qt::TopToolBarArea);
    makeBannerBand(526);
  }

  // The banner band shows once a banner page is set.
  m_bannerBand->hide();
  m_addressBand->setVisible(m_settings.addressBarVisible != FALSE);

  FRAME_TRACE(4, 553, L"Creating status bar");
  if (!CreateStatusBar()) {
    FRAME_TRACE(1, 559, L"Failed to create status bar");
    return FALSE;
  }
  return TRUE;
}

void CMainFrame::SetupToolbar() {
  m_toolBar->SetupButtons(m_settings.toolBarLargeButtons != FALSE,
                          m_settings.toolBarText != FALSE);
  UpdateToolBar();
}

BOOL CMainFrame::CreateStatusBar() {
  // The panes 35014 (160 pixels), 35015 (stretching) and 35130 (140
  // pixels). The lock-key indicators are left out: the platform does not
  // tell a program the state of caps, num and scroll lock.
  const int widths[3] = {160, 0, 140};
  const UINT ids[3] = {ID_NORV_STATUS_COUNT, ID_NORV_STATUS_SELECTED, ID_NORV_STATUS_THIRD};
  statusBar()->setObjectName(QStringLiteral("StatusBar59393"));
  for (int i = 0; i < 3; ++i) {
    m_statusPanes[i] = new QLabel(this);
    m_statusPanes[i]->setObjectName(QStringLiteral("Pane%1").arg(ids[i]));
    if (widths[i] > 0) m_statusPanes[i]->setFixedWidth(widths[i]);
    statusBar()->addPermanentWidget(m_statusPanes[i], i == 1 ? 1 : 0);
  }
  return TRUE;
}

QLabel* CMainFrame::StatusPane(UINT id) const {
  switch (id) {
    case ID_NORV_STATUS_COUNT:
      return m_statusPanes[0];
    case ID_NORV_STATUS_SELECTED:
      return m_statusPanes[1];
    case ID_NORV_STATUS_THIRD:
      return m_statusPanes[2];
    default:
      return nullptr;
  }
}

// ----- client layout ----------------------------------------------------------

BOOL CMainFrame::OnCreateClient() {
  const int width = std::max(this->width(), 400);
  const int height = std::max(this->height(), 300);

  FRAME_TRACE(4, 651, L"Creating vertical splitter");
  m_vertSplitter = new CSplitterWndEx(Qt::Horizontal, this);
  m_vertSplitter->setObjectName(QStringLiteral("Splitter59648"));

  FRAME_TRACE(4, 659, L"Creating explorer bar");
  if (!CreateExplorerBar()) {
    FRAME_TRACE(1, 662, L"Failed to create explorer bar");
    return FALSE;
  }
  m_vertSplitter->SetPane(0, m_explorerBar, width / 4);

  FRAME_TRACE(4, 666, L"Creating tutorial bar");
  m_tutorialBar = new CBarFrame(m_vertSplitter);
  m_tutorialBar->setObjectName(QStringLiteral("TutorialBar"));

  FRAME_TRACE(4, 673, L"Creating horizontal splitter");
  m_horzSplitter = new CSplitterWndEx(Qt::Vertical, m_vertSplitter);
  m_horzSplitter->setObjectName(QStringLiteral("Splitter59649"));
  m_horzSplitter->setFrameShape(QFrame::StyledPanel);
  m_vertSplitter->SetPane(1, m_horzSplitter, 2 * (width / 4));
  m_vertSplitter->SetPane(2, m_tutorialBar, 100);
  m_vertSplitter->setStretchFactor(1, 1);

  FRAME_TRACE(4, 680, L"Creating client bar and output bar");
  m_clientBar = new CClientFrame(m_horzSplitter);
  m_clientBar->setObjectName(QStringLiteral("ClientBar"));
  m_outputBar = new CBarFrame(m_horzSplitter);
  m_outputBar->setObjectName(QStringLiteral("OutputBar"));
  m_horzSplitter->SetPane(0, m_clientBar, 2 * (height / 3));
  m_horzSplitter->SetPane(1, m_outputBar, height / 3);
  m_horzSplitter->setStretchFactor(0, 1);
  connect(m_clientBar, &CClientFrame::CommandRequested, this, [this](UINT c) { OnCommand(c); });

  FRAME_TRACE(4, 692, L"Creating pane window");
  CPaneWnd* panes = m_clientBar->PaneWindow();

  FRAME_TRACE(4, 708, L"Creating tutorial window");
  m_tutorial = new CHtmlFrame(0, m_tutorialBar);
  m_tutorial->setObjectName(QStringLiteral("Tutorial12"));
  m_tutorialBar->SetChild(m_tutorial);
  m_tutorialBar->SetTitle(Text(IDS_NORV_TUTORIAL));
  m_tutorialBar->SetCloseCommand(ID_NORV_CMD_TUTORIAL_BAR, Text(IDS_NORV_TUTORIAL));
  m_explorerBar->SetCloseCommand(ID_NORV_CMD_EXPLORER_BAR, Text(IDS_NORV_EXPLORER_BAR));
  m_outputBar->SetCloseCommand(ID_NORV_CMD_OUTPUT_BAR, QString());
  for (CBarFrame* bar : {m_tutorialBar, m_outputBar})
    connect(bar, &CBarFrame::CommandRequested, this, [this](UINT c) { OnCommand(c); });
  connect(m_explorerBar, &CComboFrame::CommandRequested, this, [this](UINT c) { OnCommand(c); });

  m_vertSplitter->SetDynamic(m_settings.dynamicSplitter);
  m_horzSplitter->SetDynamic(m_settings.dynamicSplitter);
  m_vertSplitter->HideColumn(2);

  // The pane window: fixed outer rows and columns around the content view
  // (10, 90, 10 and 10 pixels until an item gives its own), the HTML frame
  // behind all of them.
  panes->SetColumn(1, 0, true);
  panes->SetRow(1, 0, true);
  m_margins = QRect(QPoint(10, 90), QPoint(10, 10));

  FRAME_TRACE(4, 782, L"Creating default view view");
  m_contentPane = new QStackedWidget(panes);
  m_contentPane->setObjectName(QStringLiteral("ContentPane"));
  m_defaultView = new CEmptyContentView(m_contentPane);
  m_contentPane->addWidget(m_defaultView);
  panes->SetCell(1, 1, m_contentPane);

  // The content view of the item's own (graphical) view mode.
  FRAME_TRACE(4, 799, L"Creating HTML view");
  m_htmlView = new CNorvHtmlView(m_contentPane);
  m_htmlView->setObjectName(QStringLiteral("HtmlView"));
  m_contentPane->addWidget(m_htmlView);

  FRAME_TRACE(4, 810, L"Creating HTML frame");
  m_htmlFrame = new CHtmlFrame(ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_FRAME, panes);
  m_htmlFrame->setObjectName(QStringLiteral("HtmlFrame"));
  panes->SetBackground(m_htmlFrame);
  ApplyViewMargins();

  setCentralWidget(m_vertSplitter);
  m_clientBar->ShowViewSelector(m_settings.viewSelectorVisible != FALSE);
  if (!m_settings.explorerBarVisible) m_vertSplitter->HideColumn(0);
  m_horzSplitter->HideRow(1);
  m_vertSplitter->ApplyIdealSizes();
  m_horzSplitter->ApplyIdealSizes();

  // The bar state of the last run.
  char state[8192] = {};
  plat::GetPrivateProfileStringA("ToolBar", "State", "", state, sizeof state,
                                 ProfileFileName().c_str());
  if (state[0] != '\0') restoreState(QByteArray::fromBase64(QByteArray(state)));
  // The settings decide the address and banner bands, whatever the state says.
  m_addressBand->setVisible(m_settings.addressBarVisible != FALSE);
  m_bannerBand->hide();
  m_defaultView->setFocus();
  return TRUE;
}

BOOL CMainFrame::CreateExplorerBar() {
  m_explorerBar = new CComboFrame(m_vertSplitter);
  m_explorerBar->setObjectName(QStringLiteral("ExplorerBar"));
  FRAME_TRACE(4, 741, L"Creating tree view");
  m_tree = new TreeView(m_explorerBar);
  m_tree->SetFrame(this);
  FRAME_TRACE(4, 751, L"Creating history view");
  m_history = new HistoryView(m_explorerBar);
  m_history->SetTree(m_tree);
  m_history->SetImageProvider([this](int index) { return GetImage(index); });
  FRAME_TRACE(4, 761, L"Creating bookmark view");
  m_bookmarks = new BookmarkView(m_explorerBar);
  m_bookmarks->SetTree(m_tree);
  m_bookmarks->SetImageProvider([this](int index) { return GetImage(index); });
  m_explorerBar->AddPane(Text(IDS_NORV_PANE_FOLDERS), m_tree);
  m_explorerBar->AddPane(Text(IDS_NORV_PANE_HISTORY), m_history);
  m_explorerBar->AddPane(Text(IDS_NORV_PANE_BOOKMARKS), m_bookmarks);
  connect(m_explorerBar, &CComboFrame::PaneSelected, this,
          [this](int index) { ShowExplorerPane(index); });
  connect(m_history, &HistoryView::HistoryChanged, this, [this] { UpdateToolBar(); });
  connect(m_bookmarks, &BookmarkView::ShowTreeRequested, this,
          [this] { ShowExplorerPane(PaneTree); });
  connect(m_tree, &TreeView::SelectionProcessed, this, [this] { UpdateToolBar(); });
  return TRUE;
}

// ===========================================================================
// Image lists
// ===========================================================================

BOOL CMainFrame::InitImageLists() {
  m_smallImages.clear();
  m_largeImages.clear();
  m_iconCache.clear();
  // Each plugin's images start at its offset, the same in both lists.
  for (int id = 0; id < CPluginHandler::GetPluginCount(); ++id) {
    const NorvPluginRecord& record = CPluginHandler::pluginList[static_cast<std::size_t>(id)];
    NorvResourceStack resources(record.resourceModule);
    const int offset = static_cast<int>(m_smallImages.size());
    NorvSetPluginImageOffset(id, offset);
    if (record.entry.SetImageListOffset != nullptr) record.entry.SetImageListOffset(offset);
    if (record.entry.GetImageList != nullptr)
      record.entry.GetImageList(IMAGELIST_SMALL, &m_smallImages);
  }
  for (int id = 0; id < CPluginHandler::GetPluginCount(); ++id) {
    const NorvPluginRecord& record = CPluginHandler::pluginList[static_cast<std::size_t>(id)];
    NorvResourceStack resources(record.resourceModule);
    // Pad so that the plugin's large images take the indexes of its small
    // ones even when a plugin before it gave fewer large images.
    const int offset = NorvGetPluginImageOffset(id);
    while (static_cast<int>(m_largeImages.size()) < offset) m_largeImages.append(QImage());
    if (record.entry.GetImageList != nullptr)
      record.entry.GetImageList(IMAGELIST_LARGE, &m_largeImages);
  }
  if (m_smallImages.size() != m_largeImages.size())
    NorvAppMessageBox(NorvFormatString(plat::LoadString(IDS_NORV_IMAGE_COUNTS_DIFFER).c_str(),
                                       static_cast<int>(m_smallImages.size()),
                                       static_cast<int>(m_largeImages.size())),
                      MB_OK | MB_ICONEXCLAMATION);
  return TRUE;
}

const QList<QImage>& CMainFrame::GetImageList(ImageListType type) const {
  return type == IMAGELIST_LARGE ? m_largeImages : m_smallImages;
}

QIcon CMainFrame::GetImage(int index) {
  if (index < 0 || index >= static_cast<int>(m_smallImages.size())) return {};
  auto it = m_iconCache.find(index);
  if (it != m_iconCache.end()) return it->second;
  // The large image goes into the same icon: on a high-density screen the
  // view draws it scaled down instead of the small one scaled up.
  QIcon icon(QPixmap::fromImage(m_smallImages[index]));
  if (index < static_cast<int>(m_largeImages.size()) && !m_largeImages[index].isNull())
    icon.addPixmap(QPixmap::fromImage(m_largeImages[index]));
  m_iconCache[index] = icon;
  return icon;
}

BOOL CMainFrame::ModifyImageList(ImageListType type, int index, const QIcon& icon) {
  QList<QImage>& list = type == IMAGELIST_LARGE ? m_largeImages : m_smallImages;
  if ((type != IMAGELIST_SMALL && type != IMAGELIST_LARGE) || index < 0 ||
      index >= static_cast<int>(list.size()))
    return FALSE;
  const int size = type == IMAGELIST_LARGE ? 32 : 16;
  list[index] = icon.pixmap(size, size).toImage();
  m_iconCache.erase(index);
  if (m_tree != nullptr) m_tree->viewport()->update();
  return TRUE;
}

// ===========================================================================
// Menus
// ===========================================================================

BOOL CMainFrame::MergeMenu(CNorvMenu* destination, const CNorvMenu* source, BOOL topLevel) {
  if (destination == nullptr || source == nullptr) return FALSE;
  if (!topLevel && destination->GetItemCount() > 0) destination->AppendSeparator();
  for (int i = 0; i < source->GetItemCount(); ++i) {
    if (source->IsSeparator(i)) {
      destination->AppendSeparator();
      continue;
    }
    const CNorvMenu* sub = source->GetSubMenu(i);
    const NorvString text = source->GetItemText(i);
    if (sub == nullptr) {
      destination->AppendItem(source->GetItemId(i), text, source->IsEnabled(i),
                              source->IsChecked(i));
      continue;
    }
    if (!topLevel) {
      destination->AppendPopup(text, *sub);
      continue;
    }
    // A top-level popup joins the destination's popup of the same title
    // ("&" ignored), else goes in before "Window" or "Help".
    const NorvString bare = WithoutAmpersands(text);
    int same = -1;
    int before = -1;
    for (int j = 0; j < destination->GetItemCount(); ++j) {
      const NorvString other = WithoutAmpersands(destination->GetItemText(j));
      if (same < 0 && other == bare) same = j;
      if (before < 0 &&
          (other == L"Window" || other == L"Help" || other == L"Fenster" || other == L"Hilfe"))
        before = j;
    }
    if (same >= 0 && destination->GetSubMenu(same) != nullptr) {
      MergeMenu(destination->GetSubMenu(same), sub, FALSE);
      continue;
    }
    CNorvMenu& popup =
        before >= 0 ? destination->InsertPopup(before, text) : destination->AppendPopup(text);
    MergeMenu(&popup, sub, FALSE);
  }
  return TRUE;
}

BOOL CMainFrame::BuildMainMenu(CNorvTreeListItem* item, CNorvMenu& menu) {
  menu.Clear();
  NorvLoadMenuResource(kMainMenu, menu);
  CPluginHandler::AppendPluginHelpMenus(&menu);
  if (item == nullptr) return TRUE;
  CPluginHandler::AppendPluginAboutMenus(&menu, item);
  CNorvMenu own;
  CNorvMenu* shown = nullptr;
  {
    CNorvItemCallScope scope(item);
    shown = item->AppMenuInfo(&own);
  }
  if (shown != nullptr && !shown->IsEmpty()) return MergeMenu(&menu, shown, TRUE);
  return TRUE;
}

void CMainFrame::InstallMenu(const CNorvMenu& menu) {
  QMenuBar* bar = menuBar();
  NorvFillMenuBar(bar, menu);
  disconnect(bar, &QMenuBar::triggered, nullptr, nullptr);
  connect(bar, &QMenuBar::triggered, this,
          [this](QAction* action) { OnCommand(NorvActionCommand(action)); });
  for (QAction* top : bar->actions()) {
    QMenu* popup = top->menu();
    if (popup == nullptr) continue;
    connect(popup, &QMenu::aboutToShow, this, [this, popup] { UpdateMenuStates(popup); });
    // The entry under the mouse explains itself in the status bar.
    std::vector<QMenu*> menus{popup};
    for (std::size_t i = 0; i < menus.size(); ++i)
      for (QAction* action : menus[i]->actions())
        if (QMenu* sub = action->menu()) menus.push_back(sub);
    for (QMenu* menu : menus) {
      connect(menu, &QMenu::hovered, this, [this](QAction* action) {
        const UINT command = NorvActionCommand(action);
        if (command != 0) ShowStatusText(GetMessageString(command, W(action->statusTip())));
      });
      connect(menu, &QMenu::aboutToHide, this, [this] { ShowStatusText(NorvString()); });
    }
  }
}

void CMainFrame::RebuildMainMenu(CNorvTreeListItem* item) {
  CNorvMenu menu;
  BuildMainMenu(item, menu);
  InstallMenu(menu);
}

void CMainFrame::UpdateMenuStates(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      UpdateMenuStates(sub);
      continue;
    }
    const UINT command = NorvActionCommand(action);
    if (command == 0) continue;
    BOOL enabled = TRUE, checked = FALSE;
    OnUpdateCommand(command, enabled, checked);
    action->setEnabled(enabled != FALSE);
    if (checked || action->isCheckable()) {
      action->setCheckable(true);
      action->setChecked(checked != FALSE);
    }
  }
}

void CMainFrame::UpdateToolBar() {
  if (m_tree == nullptr || m_history == nullptr || m_toolBar == nullptr) return;
  for (const auto& button : CFixedToolBar::kButtons) {
    QAction* action = m_toolBar->Action(button.command);
    if (action == nullptr) continue;
    BOOL enabled = TRUE, checked = FALSE;
    OnUpdateCommand(button.command, enabled, checked);
    action->setEnabled(enabled != FALSE);
  }
  if (QToolButton* back = m_toolBar->Button(ID_NORV_CMD_BACK_FIRST))
    back->setEnabled(m_history->CanGoBack());
  if (QToolButton* forward = m_toolBar->Button(ID_NORV_CMD_FORWARD_FIRST))
    forward->setEnabled(m_history->CanGoForward());
}

void CMainFrame::FillHistoryMenu(QMenu* menu, bool back) {
  menu->clear();
  NorvStringList paths;
  if (back)
    m_history->GetBackList(HistoryView::kDropDownEntries, paths);
  else
    m_history->GetForwardList(HistoryView::kDropDownEntries, paths);
  const UINT first = back ? ID_NORV_CMD_BACK_FIRST : ID_NORV_CMD_FORWARD_FIRST;
  for (std::size_t i = 0; i < paths.size(); ++i)
    menu->addAction(Q(paths[i]))->setData(first + static_cast<UINT>(i));
}

void CMainFrame::OnDropDown(UINT command, QMenu* menu) {
  switch (command) {
    case ID_NORV_CMD_BACK_FIRST:
      FillHistoryMenu(menu, true);
      return;
    case ID_NORV_CMD_FORWARD_FIRST:
      FillHistoryMenu(menu, false);
      return;
    case ID_NORV_CMD_NEXT_VIEW: {
      // The host menu's view modes: the styles the item accepts.
      menu->clear();
      CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
      int current = -1;
      if (item != nullptr) {
        CNorvItemCallScope scope(item);
        current = item->GetViewMode();
      }
      for (int mode = 0; mode <= 4; ++mode) {
        bool accepted = false;
        if (item != nullptr) {
          CNorvItemCallScope scope(item);
          accepted = item->HasViewMode(mode) != FALSE;
        }
        QAction* action =
            menu->addAction(Text(IDS_NORV_VIEW_MODE_FIRST + static_cast<UINT>(mode)));
        action->setData(ID_NORV_CMD_VIEW_STYLE_FIRST + static_cast<UINT>(mode));
        action->setEnabled(accepted);
        action->setCheckable(true);
        action->setChecked(mode == current);
      }
      return;
    }
    default:
      return;
  }
}

// ===========================================================================
// Commands
// ===========================================================================

void CMainFrame::ShowExplorerPane(int pane) {
  if (pane < PaneTree || pane > PaneBookmarks) return;
  ShowExplorerBar(true);
  m_explorerBar->SelectPane(pane);
  m_explorerBar->GetCurrentPaneWindow()->setFocus();
}

int CMainFrame::CurrentExplorerPane() const { return m_explorerBar->GetCurrentPane(); }

void CMainFrame::ShowExplorerBar(bool show) {
  if (show)
    m_vertSplitter->ShowColumn(0);
  else
    m_vertSplitter->HideColumn(0);
}

BOOL CMainFrame::IsExplorerBarShown() const {
  return m_vertSplitter != nullptr ? m_vertSplitter->IsColumnVisible(0) : FALSE;
}

void CMainFrame::ShowAddressBar(bool show) { m_addressBand->setVisible(show); }

void CMainFrame::ShowTutorialBar(bool show) {
  if (show)
    m_vertSplitter->ShowColumn(2);
  else
    m_vertSplitter->HideColumn(2);
}

BOOL CMainFrame::IsTutorialBarShown() const { return m_vertSplitter->IsColumnVisible(2); }

BOOL CMainFrame::IsOutputBarShown() const { return m_horzSplitter->IsRowVisible(1); }

void CMainFrame::ShowViewSelector(bool show) {
  m_clientBar->ShowViewSelector(show);
  m_settings.viewSelectorVisible = show ? TRUE : FALSE;
}

void CMainFrame::SetViewAsWebPage(BOOL on) {
  m_settings.viewAsWebPage = on ? TRUE : FALSE;
  QRect margins;
  int flag = 0;
  if (on) {
    if (CNorvTreeListItem* item = m_tree->GetSelectedTreeItem()) {
      CNorvItemCallScope scope(item);
      item->GetFrameMargins(margins, flag);
    }
  }
  SetViewMargins(margins, flag);
}

void CMainFrame::EnableTraceLog(BOOL on) {
  // Switching off keeps the levels, so switching on restores them.
  static int baseLevel = -1;
  static int pluginLevel = -1;
  if (!on) {
    if (gNorvBaseTraceLevel < 0 && gNorvPluginTraceLevel < 0) return;
    baseLevel = gNorvBaseTraceLevel;
    pluginLevel = gNorvPluginTraceLevel;
    gNorvBaseTraceLevel = -1;
    gNorvPluginTraceLevel = -1;
    return;
  }
  if (gNorvBaseTraceLevel >= 0) return;
  gNorvBaseTraceLevel = baseLevel >= 0 ? baseLevel : 1;
  gNorvPluginTraceLevel = pluginLevel >= 0 ? pluginLevel : 1;
}

BOOL CMainFrame::IsTraceLogEnabled() {
  return Trace::GetTraceEnabled() != 0 && gNorvBaseTraceLevel >= 0 ? TRUE : FALSE;
}

BOOL CMainFrame::OnBookmark() {
  CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
  NorvTreeNode* node = m_tree->GetSelectedNode();
  if (item == nullptr || node == nullptr) return FALSE;
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  int view = 0;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_IMAGE);
    view = item->GetViewMode();
  }
  const int icon = p != nullptr && p->nImage >= 0 ? p->nImage : 0;
  m_bookmarks->AddBookmark(item->GetClassName(), m_tree->GetItemPath(node), icon, view);
  return TRUE;
}

QWidget* CMainFrame::CurrentContentWidget() const {
  CNorvView* view = m_doc != nullptr ? m_doc->GetCurrentView() : nullptr;
  if (auto* widget = dynamic_cast<QWidget*>(view)) return widget;
  return m_contentPane != nullptr ? m_contentPane->currentWidget() : nullptr;
}

INorvCommandTarget* CMainFrame::FocusedCommandTarget() const {
  for (QWidget* w = QApplication::focusWidget(); w != nullptr && w != this;
       w = w->parentWidget())
    if (auto* target = dynamic_cast<INorvCommandTarget*>(w)) return target;
  return nullptr;
}

void CMainFrame::SendToLastShownItem(UINT command) {
  CNorvTreeListItem* item = TreeView::GetLastShownItem();
  if (item == nullptr) return;
  CNorvTLItemList empty;
  CNorvItemCallScope scope(item);
  NORV_ITEM_COMMAND(item, &empty, command, 0, nullptr);
}

void CMainFrame::OnViewOutputBar() {
  const bool show = !IsOutputBarShown();
  if (show)
    m_horzSplitter->ShowRow(1);
  else
    m_horzSplitter->HideRow(1);
  SendToLastShownItem(show ? ID_NORV_ITEMCMD_OUTPUT_VIEW_SHOW : ID_NORV_ITEMCMD_OUTPUT_VIEW_HIDE);
}

void CMainFrame::OnViewNext() {
  // The modes after the current one, wrapping after the item's own view.
  CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
  if (item == nullptr) return;
  CNorvItemCallScope scope(item);
  const int current = item->GetViewMode();
  for (int step = 1; step <= 4; ++step) {
    const int mode = (current + step) % 5;
    if (item->HasViewMode(mode)) {
      const UINT command = ID_NORV_CMD_VIEW_STYLE_FIRST + static_cast<UINT>(mode);
      QMetaObject::invokeMethod(
          this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
      return;
    }
  }
}

BOOL CMainFrame::OnCommand(UINT command) {
  if (command == 0) return FALSE;
  if (OnContentCommand(command)) return TRUE;
  if (OnToolsCommand(command)) return TRUE;
  if (command >= ID_NORV_CMD_BACK_FIRST && command <= ID_NORV_CMD_BACK_LAST) {
    GoBack(static_cast<int>(command - ID_NORV_CMD_BACK_FIRST + 1));
    return TRUE;
  }
  if (command >= ID_NORV_CMD_FORWARD_FIRST && command <= ID_NORV_CMD_FORWARD_LAST) {
    GoForward(static_cast<int>(command - ID_NORV_CMD_FORWARD_FIRST + 1));
    return TRUE;
  }
  switch (command) {
    case kAppExit:
      close();
      return TRUE;
    case ID_NORV_CMD_LARGE_BUTTONS:
      m_settings.toolBarLargeButtons = !m_settings.toolBarLargeButtons;
      SetupToolbar();
      return TRUE;
    case ID_NORV_CMD_SHOW_TEXT:
      m_settings.toolBarText = !m_settings.toolBarText;
      SetupToolbar();
      return TRUE;
    case ID_NORV_CMD_REFRESH_ON_SELECT:
      if (m_doc != nullptr) m_doc->SetRefreshListOnSelect(!m_doc->GetRefreshListOnSelect());
      return TRUE;
    case ID_NORV_CMD_WEB_PAGE:
      // The outer cells and the content view's edge, for this item only.
      m_outerCellsHidden = !m_outerCellsHidden;
      ApplyViewMargins();
      return TRUE;
    case ID_NORV_CMD_NEXT_VIEW:
      OnViewNext();
      return TRUE;
    case ID_NORV_CMD_BAR:
      m_toolBar->setVisible(m_toolBar->isHidden());
      return TRUE;
    case ID_NORV_CMD_VIEW_AS_WEB_PAGE:
      SetViewAsWebPage(!m_settings.viewAsWebPage);
      return TRUE;
    case ID_NORV_CMD_ADDRESS_BAR:
      ShowAddressBar(m_addressBand->isHidden());
      return TRUE;
    case ID_NORV_CMD_TRACE_LOG:
      EnableTraceLog(!IsTraceLogEnabled());
      return TRUE;
    case ID_NORV_CMD_EXPLORER_BAR:
      ShowExplorerBar(!IsExplorerBarShown());
      return TRUE;
    case ID_NORV_CMD_OUTPUT_BAR:
      OnViewOutputBar();
      return TRUE;
    case ID_NORV_CMD_EXPLORER_BAR_TREE:
      ShowExplorerPane(PaneTree);
      return TRUE;
    case ID_NORV_CMD_EXPLORER_BAR_HISTORY:
      ShowExplorerPane(PaneHistory);
      return TRUE;
    case ID_NORV_CMD_EXPLORER_BAR_BOOKMARKS:
      ShowExplorerPane(PaneBookmarks);
      return TRUE;
    case ID_NORV_CMD_TUTORIAL_BAR: {
      const bool show = !IsTutorialBarShown();
      m_settings.tutorialEnabled = show ? TRUE : FALSE;
      ShowTutorialBar(show && m_tutorialAvailable);
      return TRUE;
    }
    case ID_NORV_CMD_NEXT_PANE:
    case ID_NORV_CMD_PREVIOUS_PANE: {
      const int from = GetActivePane();
      ActivateNextPane(from < 0 ? FocusContentView : from, command == ID_NORV_CMD_PREVIOUS_PANE);
      return TRUE;
    }
    case ID_NORV_CMD_VIEW_SELECTOR:
      ShowViewSelector(!m_clientBar->IsViewSelectorShown());
      return TRUE;
    case ID_NORV_CMD_BOOKMARK:
      return OnBookmark();
    case ID_NORV_CMD_NEW_WINDOW: {
      CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
      if (item != nullptr) CNorvTreeListItem::ExploreFrom(item->GetClassName(), item->Id());
      return TRUE;
    }
    default:
      break;
  }
  // The bookmark pane's own commands while it has the focus.
  if (m_bookmarks->hasFocus() && m_bookmarks->OnCommand(command)) return TRUE;
  if (command >= ID_NORV_PLUGIN_HELP_FIRST && command < ID_NORV_PLUGIN_HELP_LAST) {
    const NorvString file = CPluginHandler::GetPluginHelpFile(command);
    if (!NorvGetViewServices()->ShowHelp(0, 0, file))
      ShowStatusText(file.empty() ? NorvString() : file);
    return TRUE;
  }
  // The file and edit commands and the item commands go to the view with
  // the focus: a content view that handles them, else the tree.
  if (INorvCommandTarget* target = FocusedCommandTarget())
    if (target->OnTargetCommand(command)) return TRUE;
  return m_tree->OnCommand(command);
}

void CMainFrame::OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked) {
  enabled = TRUE;
  checked = FALSE;
  if (OnUpdateContentCommand(command, enabled, checked)) return;
  if (OnUpdateToolsCommand(command, enabled, checked)) return;
  if (command >= ID_NORV_CMD_BACK_FIRST && command <= ID_NORV_CMD_BACK_LAST) {
    enabled = m_history->CanGoBack();
    return;
  }
  if (command >= ID_NORV_CMD_FORWARD_FIRST && command <= ID_NORV_CMD_FORWARD_LAST) {
    enabled = m_history->CanGoForward();
    return;
  }
  switch (command) {
    case ID_NORV_CMD_LARGE_BUTTONS:
      checked = m_settings.toolBarLargeButtons;
      return;
    case ID_NORV_CMD_SHOW_TEXT:
      checked = m_settings.toolBarText;
      return;
    case ID_NORV_CMD_REFRESH_ON_SELECT: {
      CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
      enabled = item != nullptr && item->HasFeature(NORV_FEATURE_REFRESH_ON_SELECT);
      checked = m_doc != nullptr && m_doc->GetRefreshListOnSelect();
      return;
    }
    case ID_NORV_CMD_BAR:
      checked = !m_toolBar->isHidden();
      return;
    case ID_NORV_CMD_VIEW_AS_WEB_PAGE:
      checked = m_settings.viewAsWebPage;
      return;
    case ID_NORV_CMD_ADDRESS_BAR:
      checked = !m_addressBand->isHidden();
      return;
    case ID_NORV_CMD_TRACE_LOG:
      checked = IsTraceLogEnabled();
      return;
    case ID_NORV_CMD_EXPLORER_BAR:
      checked = IsExplorerBarShown();
      return;
    case ID_NORV_CMD_OUTPUT_BAR:
      enabled = m_outputView != nullptr;
      checked = IsOutputBarShown();
      return;
    case ID_NORV_CMD_EXPLORER_BAR_TREE:
    case ID_NORV_CMD_EXPLORER_BAR_HISTORY:
    case ID_NORV_CMD_EXPLORER_BAR_BOOKMARKS:
      checked = IsExplorerBarShown() &&
                CurrentExplorerPane() == static_cast<int>(command - ID_NORV_CMD_EXPLORER_BAR_TREE);
      return;
    case ID_NORV_CMD_TUTORIAL_BAR:
      enabled = m_tutorialAvailable;
      checked = IsTutorialBarShown();
      return;
    case ID_NORV_CMD_VIEW_SELECTOR:
      checked = m_clientBar->IsViewSelectorShown();
      return;
    case ID_NORV_CMD_BOOKMARK:
      enabled = m_tree->GetSelectedTreeItem() != nullptr;
      return;
    case kAppExit:
    case ID_NORV_CMD_WEB_PAGE:
    case ID_NORV_CMD_NEXT_VIEW:
    case ID_NORV_CMD_NEXT_PANE:
    case ID_NORV_CMD_PREVIOUS_PANE:
    case ID_NORV_CMD_NEW_WINDOW:
      return;
    default:
      break;
  }
  if (m_bookmarks->hasFocus() && m_bookmarks->OnUpdateCommand(command, enabled)) return;
  if (INorvCommandTarget* target = FocusedCommandTarget())
    if (target->OnUpdateTargetCommand(command, enabled, checked)) return;
  m_tree->OnUpdateCommand(command, enabled, checked);
}

// ===========================================================================
// The tree's frame
// ===========================================================================

void CMainFrame::AddHistoryEntry(const NorvString& path, int image, int selectedImage,
                                 int viewMode) {
  m_history->AddEntry(path, image, selectedImage, viewMode);
}

void CMainFrame::UpdateHistoryViewMode(int viewMode) { m_history->UpdateCurrentViewMode(viewMode); }

void CMainFrame::SelectMatchingBookmark(const NorvString& path) {
  m_bookmarks->SelectMatchingBookmark(path);
}

void CMainFrame::GoBack(int steps) {
  m_history->GoBack(steps);
  UpdateToolBar();
}

void CMainFrame::GoForward(int steps) {
  m_history->GoForward(steps);
  UpdateToolBar();
}

void CMainFrame::SetAddressBar(const NorvString& path, int image) {
  m_addressText = path;
  m_addressImage = image;
  if (m_address != nullptr) m_address->SetAddress(Q(path), GetImage(image));
}

BOOL CMainFrame::GetAddressBarInfo(NorvString& text, int& image, int& selectedImage) {
  text = m_addressText;
  image = selectedImage = m_addressImage;
  return TRUE;
}

BOOL CMainFrame::SetAddressBarInfo(const NorvString& text, int image, int /*selectedImage*/,
                                   int /*indent*/, const NorvString& /*path*/) {
  SetAddressBar(text, image);
  return TRUE;
}

void CMainFrame::ShowStatusText(const NorvString& text) {
  m_statusPanes[1]->setText(Q(text));
  if (!text.empty()) m_statusPanes[1]->repaint();
}

BOOL CMainFrame::SetStatusBarText(const NorvString& text) {
  ShowStatusText(text);
  return TRUE;
}

NorvString CMainFrame::ShowStatusBarText(const NorvString& text) {
  const NorvString previous = W(m_statusPanes[1]->text());
  ShowStatusText(text);
  return previous;
}

NorvString CMainFrame::GetMessageString(UINT command, const NorvString& defaultPrompt) {
  NorvString prompt = defaultPrompt;
  CNorvTreeListItem* target = m_tree != nullptr ? m_tree->GetTargetItem() : nullptr;
  if (target == nullptr) return prompt;
  // The item is asked for the prompt of the command under the mouse; it
  // gets the default text to change.
  (void)command;
  NorvString text = defaultPrompt;
  CNorvTLItemList empty;
  CmdResult result = CMD_NOT_HANDLED;
  {
    CNorvItemCallScope scope(target);
    result = NORV_ITEM_COMMAND(target, &empty, ID_NORV_ITEMCMD_GET_MESSAGE_STRING,
                               static_cast<DWORD>(-5), &text);
  }
  if (result == CMD_HANDLED) prompt = text;
  return prompt;
}

// ----- the address bar -------------------------------------------------------

void CMainFrame::OnAddressDropDown() {
  // The hierarchy: the top level, its children, and under the child that
  // leads to the selection the chain down to the selected node.
  NorvTreeNode* top = m_tree->Model()->Top();
  if (top == nullptr) return;
  NorvTreeNode* first = top->children.empty() ? nullptr : top->children.front().get();
  if (first == nullptr) return;
  m_address->AddEntry(QStringLiteral("/ (%1)").arg(first->text), QStringLiteral("/"),
                      GetImage(first->image), 0);
  std::vector<NorvTreeNode*> chain;
  for (NorvTreeNode* n = m_tree->GetSelectedNode(); n != nullptr && n != first && n != top;
       n = n->parent)
    chain.insert(chain.begin(), n);
  for (const auto& child : first->children) {
    m_address->AddEntry(child->text, Q(m_tree->GetItemPath(child.get())),
                        GetImage(child->image), 1);
    if (chain.empty() || chain.front() != child.get()) continue;
    for (std::size_t i = 1; i < chain.size(); ++i)
      m_address->AddEntry(chain[i]->text, Q(m_tree->GetItemPath(chain[i])),
                          GetImage(chain[i]->image), static_cast<int>(i) + 1);
  }
}

void CMainFrame::FocusAfterAddress() {
  if (IsExplorerBarShown())
    m_tree->setFocus();
  else if (QWidget* view = CurrentContentWidget())
    view->setFocus();
}

void CMainFrame::OnAddressSelect(const QString& path) {
  if (m_tree->NavigateTo(W(path)) == TreeView::NavigationOk) FocusAfterAddress();
}

void CMainFrame::OnAddressEnter(const QString& text) {
  NorvString typed = W(text);
  if (m_tree->ItemCommand(ID_NORV_ITEMCMD_ADDRESS_ENTER, 0, &typed) != CMD_NOT_HANDLED) return;
  if (typed.empty()) {
    FocusAfterAddress();
    return;
  }
  if (m_tree->NavigateTo(typed, nullptr, TreeView::NavigationAddress, -1) ==
      TreeView::NavigationOk)
    FocusAfterAddress();
  else
    QApplication::beep();
}

// ----- panes and focus -------------------------------------------------------

BOOL CMainFrame::IsPaneVisible(int index) const {
  switch (index) {
    case FocusExplorerPane:
    case FocusExplorerSelector:
      return IsExplorerBarShown();
    case FocusContentView:
      return TRUE;
    case FocusHtmlFrame:
      return m_settings.viewAsWebPage && (m_margins.left() > 0 || m_margins.top() > 0 ||
                                          m_margins.right() > 0 || m_margins.bottom() > 0)
                 ? TRUE
                 : FALSE;
    case FocusOutputView:
      return m_outputView != nullptr && IsOutputBarShown() ? TRUE : FALSE;
    case FocusViewSelector:
      return m_clientBar->IsViewSelectorShown() ? TRUE : FALSE;
    case FocusAddressBar:
      return !m_addressBand->isHidden() ? TRUE : FALSE;
    case FocusTutorial:
      return m_settings.tutorialEnabled;
    default:
      return FALSE;
  }
}

BOOL CMainFrame::ActivatePane(int index) {
  QWidget* target = nullptr;
  switch (index) {
    case FocusExplorerPane:
      target = m_explorerBar->GetCurrentPaneWindow();
      break;
    case FocusContentView:
      target = CurrentContentWidget();
      break;
    case FocusHtmlFrame:
      target = m_htmlFrame;
      break;
    case FocusOutputView:
      target = m_outputView;
      break;
    case FocusViewSelector:
      target = m_clientBar->ViewSelector();
      break;
    case FocusAddressBar:
      target = m_address;
      break;
    case FocusExplorerSelector:
      target = m_explorerBar->Selector();
      break;
    case FocusTutorial:
      target = m_tutorial;
      break;
    default:
      return FALSE;
  }
  // A pane whose window is not on the screen (the tutorial column without
  // a page) cannot take the focus.
  if (target == nullptr || !IsPaneVisible(index) || !target->isVisible()) return FALSE;
  if (target->focusPolicy() == Qt::NoFocus) target->setFocusPolicy(Qt::StrongFocus);
  target->setFocus(Qt::OtherFocusReason);
  return TRUE;
}

BOOL CMainFrame::ActivateNextPane(int index, BOOL backwards) {
  int next = index;
  for (;;) {
    next = backwards ? (next + 7) % 8 : (next + 1) % 8;
    if (next == index) return FALSE;
    if (IsPaneVisible(next) && ActivatePane(next)) return TRUE;
  }
}

int CMainFrame::GetActivePane() const {
  QWidget* focus = QApplication::focusWidget();
  if (focus == nullptr) return -1;
  auto within = [focus](const QWidget* pane) {
    return pane != nullptr && (focus == pane || pane->isAncestorOf(focus));
  };
  if (within(CurrentContentWidget()) || within(m_contentPane)) return FocusContentView;
  if (within(m_htmlFrame)) return FocusHtmlFrame;
  if (within(m_tutorial)) return FocusTutorial;
  if (m_outputView != nullptr && within(m_outputView)) return FocusOutputView;
  if (within(m_address)) return FocusAddressBar;
  if (within(m_clientBar->ViewSelector())) return FocusViewSelector;
  if (within(m_explorerBar->Selector())) return FocusExplorerSelector;
  if (focus->window() == this) return FocusExplorerPane;
  return -1;
}

// ----- HTML panes, margins, view selector ---------------------------------------

void CMainFrame::SetViewMargins(const QRect& margins, int flag) {
  m_margins = margins;
  m_marginFlag = flag;
  m_outerCellsHidden = false;
  ApplyViewMargins();
}

void CMainFrame::ApplyViewMargins() {
  if (m_clientBar == nullptr) return;
  // The rectangle carries the four margins as its left(), top(), right()
  // and bottom(), like a Windows RECT: QRect(QPoint(left, top),
  // QPoint(right, bottom)). Negative values count as 0.
  const bool on = m_settings.viewAsWebPage && !m_outerCellsHidden;
  CPaneWnd* panes = PaneWindow();
  panes->SetColumn(0, on ? m_margins.left() : 0, false);
  panes->SetColumn(2, on ? m_margins.right() : 0, false);
  panes->SetRow(0, on ? m_margins.top() : 0, false);
  panes->SetRow(2, on ? m_margins.bottom() : 0, false);
  m_contentPane->setFrameShape(on && m_marginFlag != 0 ? QFrame::Panel : QFrame::NoFrame);
  m_contentPane->setFrameShadow(QFrame::Sunken);
}

void CMainFrame::SetBanner(const htmlViewInfo& info) {
  if (info.url.empty()) return;
  if (m_bannerBand->isHidden()) m_bannerBand->show();
  m_banner->ShowPage(info, 2);
}

void CMainFrame::SetFrame(const htmlViewInfo& info) {
  if (info.url.empty()) return;
  m_htmlFrame->ShowPage(info, 2);
}

void CMainFrame::SetTutorial(const htmlViewInfo& info) {
  if (info.url.empty()) {
    m_tutorialAvailable = FALSE;
    ShowTutorialBar(false);
    return;
  }
  m_tutorial->ShowPage(info, 0);
  m_tutorialAvailable = TRUE;
  if (m_settings.tutorialEnabled) ShowTutorialBar(true);
}

void CMainFrame::SetViewSelector(const std::vector<std::pair<NorvString, UINT>>& entries,
                                 int current) {
  m_clientBar->SetViewSelector(entries, current);
}

// ----- the output pane ---------------------------------------------------------

BOOL CMainFrame::SetOutputView(QWidget* view, OutputViewHeaderPosition position,
                               const NorvString& caption, int /*flags*/) {
  if (view == nullptr) return FALSE;
  m_outputBar->SetChild(view);
  m_outputBar->SetTitle(Q(caption));
  m_outputBar->SetHeaderPosition(position);
  if (m_outputView != view) m_restoreOutputHeight = TRUE;
  m_outputView = view;
  return TRUE;
}

void CMainFrame::DetachOutputView(QWidget* view) {
  if (view == nullptr || view != m_outputView) return;
  m_horzSplitter->HideRow(1);
  m_outputBar->SetChild(nullptr);
  view->setParent(nullptr);
  m_outputView = nullptr;
}

BOOL CMainFrame::ShowOutputView(BOOL show) {
  if (!show) {
    m_horzSplitter->HideRow(1);
    return TRUE;
  }
  if (m_outputView == nullptr) return FALSE;
  m_horzSplitter->ShowRow(1);
  if (m_restoreOutputHeight) {
    // A new view starts at a third of the content side once.
    m_restoreOutputHeight = FALSE;
    m_horzSplitter->SetPaneSize(1, std::max(60, m_horzSplitter->height() / 3));
  }
  return TRUE;
}

BOOL CMainFrame::IsOutputViewVisible(QWidget* view) {
  return view != nullptr && view == m_outputView && IsOutputBarShown() ? TRUE : FALSE;
}

QWidget* CMainFrame::GetOutputViewParent() { return m_outputBar; }

void CMainFrame::HideOutputView() { ShowOutputView(FALSE); }

// ----- the page commands of the HTML views ----------------------------------------

CNorvTreeListItem* CMainFrame::GetSelectedTreeItem() {
  return m_tree != nullptr ? m_tree->GetSelectedItemAnyThread() : nullptr;
}

CmdResult CMainFrame::TreeItemCommand(UINT command, DWORD param, void* pParam) {
  return m_tree != nullptr ? m_tree->ItemCommand(command, param, pParam) : CMD_NOT_HANDLED;
}

void CMainFrame::PostTreeCommand(UINT command) {
  QMetaObject::invokeMethod(
      this, [this, command] { m_tree->OnCommand(command); }, Qt::QueuedConnection);
}

void CMainFrame::PostMainCommand(UINT command) {
  QMetaObject::invokeMethod(
      this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
}

BOOL CMainFrame::IsMainWindowMinimized() { return isMinimized() ? TRUE : FALSE; }

void CMainFrame::RequestExplorerEmpty() {
  // The last object went: nothing is left to explore.
  m_explorerEmpty = TRUE;
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

// ===========================================================================
// The document's windows side
// ===========================================================================

BOOL CMainFrame::InitTreeView(CNorvTreeListItem* root) {
  m_tree->InitTree(root);
  return TRUE;
}

BOOL CMainFrame::LoadBookmarks() {
  CNorvTreeListItem* root = CNorvDoc::GetRoot();
  if (root == nullptr) return FALSE;
  m_bookmarks->SetRootObject(root->GetClassName(), root->Id());
  return m_bookmarks->LoadBookmarks();
}

BOOL CMainFrame::NavigateTree(const NorvString& path) {
  return m_tree->NavigateTo(path) == TreeView::NavigationOk ? TRUE : FALSE;
}

void CMainFrame::RootDestroying(CNorvTreeListItem*) { m_tree->RootDestroying(); }

NorvString CMainFrame::GetViewClassName(CNorvView* view) {
  if (auto* widget = dynamic_cast<QWidget*>(view)) return W(widget->metaObject()->className());
  return view != nullptr ? NorvString(L"CNorvView") : NorvString(L"(none)");
}

BOOL CMainFrame::IsActiveView(CNorvView* view) {
  auto* widget = dynamic_cast<QWidget*>(view);
  return widget != nullptr && widget->hasFocus() ? TRUE : FALSE;
}

BOOL CMainFrame::IsTreeRedrawEnabled() { return m_tree->GetRedrawStack() == 0 ? TRUE : FALSE; }

BOOL CMainFrame::HasViewWindow(CNorvView* view) {
  auto* widget = dynamic_cast<QWidget*>(view);
  return widget != nullptr && m_contentPane->indexOf(widget) >= 0 ? TRUE : FALSE;
}

void CMainFrame::ActivateContentView(CNorvView* /*previous*/, CNorvView* view, BOOL /*create*/,
                                     BOOL makeActive) {
  auto* widget = dynamic_cast<QWidget*>(view);
  if (widget == nullptr) return;
  if (m_contentPane->indexOf(widget) < 0) m_contentPane->addWidget(widget);
  widget->setUpdatesEnabled(m_tree->GetViewRedrawStack() == 0);
  m_contentPane->setCurrentWidget(widget);
  if (makeActive) widget->setFocus();
}

void CMainFrame::SetMainWindowTitle(const NorvString& title) { setWindowTitle(Q(title)); }

BOOL CMainFrame::ConfirmDelete(CNorvTreeListItem* item) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT);
  }
  ++m_modalDialogs;
  const int answer =
      NorvAppMessageBox(W(tr("Delete \"%1\"?").arg(p != nullptr ? Q(p->strText) : QString())),
                        MB_OKCANCEL | MB_ICONQUESTION);
  --m_modalDialogs;
  return answer == IDOK ? TRUE : FALSE;
}

// ===========================================================================
// Refresh requests, idle time, messages, closing
// ===========================================================================

void CMainFrame::InvokeRefresh() {
  // Any thread. Requests before the next idle time are answered by one
  // refresh.
  if (m_refreshPosted.exchange(true)) return;
  QCoreApplication::postEvent(this, new QEvent(kRefreshRequestEvent));
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == kRefreshRequestEvent) {
    m_refreshPosted = false;
    m_refreshRequested = TRUE;
    m_idleTimer.start();
    return true;
  }
  return QMainWindow::event(event);
}

BOOL CMainFrame::AsyncRefresh() {
  if (!m_refreshRequested) return FALSE;
  m_refreshRequested = FALSE;
  ++m_refreshRuns;
  m_tree->AutoRefresh(nullptr, FALSE);
  return TRUE;
}

void CMainFrame::OnIdle() {
  AsyncRefresh();
  if (!CPluginHandler::RunIdle(m_idleCount++) && !m_refreshRequested) {
    m_idleTimer.stop();
    m_idleCount = 0;
  }
}

void CMainFrame::OnRegisteredMessage(UINT message, WPARAM wParam) {
  if (message == m_terminateMessage && message != 0) {
    FRAME_TRACE(4, 1064, L"CMainFrame::OnTerminate");
    close();
  } else if (message == m_bookmarksMessage && message != 0 &&
             wParam != static_cast<WPARAM>(getpid())) {
    LoadBookmarks();
  }
}

BOOL CMainFrame::OnQueryEndSession() {
  FRAME_TRACE(4, 1070, L"CMainFrame::QueryEndSession");
  if (!CPluginHandler::QueryEndSession()) {
    FRAME_TRACE(4, 1080, L"CMainFrame::QueryEndSession: Returns FALSE");
    return FALSE;
  }
  FRAME_TRACE(4, 1084, L"CMainFrame::QueryEndSession: Returns TRUE");
  return TRUE;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  FRAME_TRACE(4, 990, L"CMainFrame::OnClose");
  if ((m_doc != nullptr && m_doc->IsBusy()) || !CPluginHandler::QueryEndSession()) {
    event->ignore();
    return;
  }
  m_closing = true;
  // The current content view hears that the frame closes (WM_APP + 2).
  if (QWidget* view = CurrentContentWidget()) {
    QEvent closing(kFrameClosingEvent);
    QCoreApplication::sendEvent(view, &closing);
  }
  TreeView::ForgetLastShownItem(TRUE);
  SaveSettings();
  // Dialogs left open (the tip of the day) go with the window, so that the
  // application ends with it.
  for (QDialog* dialog : findChildren<QDialog*>())
    if (dialog->isVisible()) dialog->reject();
  FRAME_TRACE(4, 1058, L"CMainFrame::OnClose: Application closing");
  event->accept();
}
