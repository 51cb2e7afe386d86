#include "MainFrm.h"

#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
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

#include "BookmarkView.h"
#include "CoolMenuManager.h"
#include "HistoryView.h"
#include "NavigationServices.h"
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
#include "platform/resources.h"

namespace {

QString Q(const NorvString& text) { return QString::fromStdWString(text); }
NorvString W(const QString& text) { return text.toStdWString(); }
QString Text(UINT id) { return Q(plat::LoadString(id)); }

// The request of WM_APP, as a posted event.
const QEvent::Type kRefreshRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

NorvString WithoutAmpersands(const NorvString& text) {
  NorvString out;
  for (wchar_t c : text)
    if (c != L'&') out.push_back(c);
  return out;
}

constexpr UINT kSizeMaximized = 65535;
constexpr UINT kSizeMinimized = 0xFFFFFFFFu;

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
  resize(900, 600);
  LoadSettings();
  InitImageLists();
  CreateToolBar();

  m_splitter = new QSplitter(Qt::Horizontal, this);
  m_splitter->setChildrenCollapsible(false);
  CreateExplorerBar();
  m_contentPane = new QStackedWidget(m_splitter);
  m_defaultView = new CEmptyContentView(m_contentPane);
  m_contentPane->addWidget(m_defaultView);
  m_splitter->addWidget(m_explorerBar);
  m_splitter->addWidget(m_contentPane);
  m_splitter->setStretchFactor(1, 1);
  m_splitter->setSizes({width() / 4, width() - width() / 4});
  setCentralWidget(m_splitter);
  CreateStatusBar();

  if (m_doc != nullptr) {
    m_doc->SetTreeView(m_tree);
    m_doc->SetHistoryView(m_history);
    m_doc->SetBookmarkView(m_bookmarks);
    m_doc->SetListView(m_defaultView);
    m_doc->SetCurrentView(m_defaultView);
    m_doc->SetViews(this);
  }
  CNorvNavigationServices::Instance().Attach(m_tree, this);

  // The menu until the first selection rebuilds it.
  CNorvMenu menu;
  BuildMainMenu(nullptr, menu);
  InstallMenu(menu);

  // Idle processing: a zero-interval timer runs when the event queue is
  // empty and stops when there is nothing left to do.
  m_idleTimer.setInterval(0);
  connect(&m_idleTimer, &QTimer::timeout, this, [this] { OnIdle(); });

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
  // The host may destroy the document first (it needs the views while it
  // destroys the root): only a document still alive is told.
  if (m_doc != nullptr && CNorvDoc::GetDoc() != m_doc) m_doc = nullptr;
  if (m_doc != nullptr) {
    m_doc->SetViews(nullptr);
    m_doc->SetTreeView(nullptr);
    m_doc->SetHistoryView(nullptr);
    m_doc->SetBookmarkView(nullptr);
    if (m_doc->GetListView() == m_defaultView) m_doc->SetListView(nullptr);
    if (m_doc->GetCurrentView() == m_defaultView) m_doc->SetCurrentView(nullptr);
  }
  if (theFrame == this) theFrame = nullptr;
}

void CMainFrame::LoadSettings() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings");
  UINT x = 0, y = 0;
  if (key.GetUIntValue(L"SizeX", x) && key.GetUIntValue(L"SizeY", y) && x != kSizeMaximized &&
      y != kSizeMaximized && x != kSizeMinimized && y != kSizeMinimized && x >= 200 && y >= 150 &&
      x <= 16384 && y <= 16384)
    resize(static_cast<int>(x), static_cast<int>(y));
}

void CMainFrame::SaveSettings() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_ALL_ACCESS);
  UINT x = static_cast<UINT>(frameGeometry().width());
  UINT y = static_cast<UINT>(frameGeometry().height());
  if (isMaximized()) x = y = kSizeMaximized;
  if (isMinimized()) x = y = kSizeMinimized;
  key.SetUIntValue(L"SizeX", x);
  key.SetUIntValue(L"SizeY", y);
  key.SetUIntValue(L"ExplorerBarVisible", m_explorerBar->isVisible() ? 1 : 0);
}

void CMainFrame::CreateExplorerBar() {
  m_explorerBar = new QWidget(m_splitter);
  auto* layout = new QVBoxLayout(m_explorerBar);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  auto* caption = new QHBoxLayout;
  caption->setContentsMargins(2, 2, 2, 0);
  m_paneSelector = new QComboBox(m_explorerBar);
  m_paneSelector->addItems(
      {Text(IDS_NORV_PANE_FOLDERS), Text(IDS_NORV_PANE_HISTORY), Text(IDS_NORV_PANE_BOOKMARKS)});
  m_paneSelector->setToolTip(Text(IDS_NORV_EXPLORER_BAR));
  auto* close = new QToolButton(m_explorerBar);
  close->setAutoRaise(true);
  close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  close->setToolTip(Text(IDS_NORV_EXPLORER_BAR));
  connect(close, &QToolButton::clicked, this, [this] { OnCommand(ID_NORV_CMD_EXPLORER_BAR); });
  caption->addWidget(m_paneSelector, 1);
  caption->addWidget(close);
  layout->addLayout(caption);

  m_panes = new QStackedWidget(m_explorerBar);
  m_tree = new TreeView(m_panes);
  m_tree->SetFrame(this);
  m_history = new HistoryView(m_panes);
  m_history->SetTree(m_tree);
  m_history->SetImageProvider([this](int index) { return GetImage(index); });
  m_bookmarks = new BookmarkView(m_panes);
  m_bookmarks->SetTree(m_tree);
  m_bookmarks->SetImageProvider([this](int index) { return GetImage(index); });
  m_panes->addWidget(m_tree);
  m_panes->addWidget(m_history);
  m_panes->addWidget(m_bookmarks);
  layout->addWidget(m_panes, 1);
  connect(m_paneSelector, &QComboBox::currentIndexChanged, this,
          [this](int index) { ShowExplorerPane(index); });
  connect(m_history, &HistoryView::HistoryChanged, this, [this] { UpdateToolBar(); });
  connect(m_bookmarks, &BookmarkView::ShowTreeRequested, this,
          [this] { ShowExplorerPane(PaneTree); });
  connect(m_tree, &TreeView::SelectionProcessed, this, [this] { UpdateToolBar(); });

  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings");
  UINT visible = 1;
  key.GetUIntValue(L"ExplorerBarVisible", visible);
  if (visible == 0) m_explorerBar->hide();
}

void CMainFrame::CreateToolBar() {
  QToolBar* bar = addToolBar(Text(IDS_NORV_EXPLORER_BAR));
  bar->setObjectName(QStringLiteral("ToolBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  auto makeHistoryButton = [this, bar](UINT command, UINT text, QStyle::StandardPixmap icon,
                                       bool back) {
    auto* action = new QAction(style()->standardIcon(icon), Text(text), this);
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    auto* button = new QToolButton(bar);
    button->setDefaultAction(action);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    auto* menu = new QMenu(button);
    connect(menu, &QMenu::aboutToShow, this, [this, menu, back] { FillHistoryMenu(menu, back); });
    connect(menu, &QMenu::triggered, this,
            [this](QAction* chosen) { OnCommand(NorvActionCommand(chosen)); });
    button->setMenu(menu);
    bar->addWidget(button);
    m_toolActions[command] = action;
    return button;
  };
  m_backButton =
      makeHistoryButton(ID_NORV_CMD_BACK_FIRST, IDS_NORV_BUTTON_BACK, QStyle::SP_ArrowBack, true);
  m_forwardButton = makeHistoryButton(ID_NORV_CMD_FORWARD_FIRST, IDS_NORV_BUTTON_FORWARD,
                                      QStyle::SP_ArrowForward, false);
  auto addButton = [this, bar](UINT command, UINT text, QStyle::StandardPixmap icon) {
    QAction* action = bar->addAction(style()->standardIcon(icon), Text(text));
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    m_toolActions[command] = action;
  };
  addButton(ID_NORV_CMD_UP, IDS_NORV_BUTTON_UP, QStyle::SP_FileDialogToParent);
  addButton(ID_NORV_CMD_REFRESH, IDS_NORV_BUTTON_REFRESH, QStyle::SP_BrowserReload);
}

void CMainFrame::CreateStatusBar() {
  const int widths[3] = {160, 0, 140};
  for (int i = 0; i < 3; ++i) {
    m_statusPanes[i] = new QLabel(this);
    m_statusPanes[i]->setMinimumWidth(widths[i]);
    statusBar()->addPermanentWidget(m_statusPanes[i], i == 1 ? 1 : 0);
  }
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
    if (QMenu* popup = top->menu())
      connect(popup, &QMenu::aboutToShow, this, [this, popup] { UpdateMenuStates(popup); });
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
  if (m_tree == nullptr || m_history == nullptr) return;
  for (auto& [command, action] : m_toolActions) {
    BOOL enabled = TRUE, checked = FALSE;
    OnUpdateCommand(command, enabled, checked);
    action->setEnabled(enabled != FALSE);
  }
  if (m_backButton != nullptr)
    m_backButton->setEnabled(m_history != nullptr && m_history->CanGoBack());
  if (m_forwardButton != nullptr)
    m_forwardButton->setEnabled(m_history != nullptr && m_history->CanGoForward());
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

// ===========================================================================
// Commands
// ===========================================================================

void CMainFrame::ShowExplorerPane(int pane) {
  if (pane < PaneTree || pane > PaneBookmarks) return;
  m_explorerBar->show();
  m_panes->setCurrentIndex(pane);
  if (m_paneSelector->currentIndex() != pane) m_paneSelector->setCurrentIndex(pane);
  m_panes->currentWidget()->setFocus();
}

int CMainFrame::CurrentExplorerPane() const { return m_panes->currentIndex(); }

void CMainFrame::ShowExplorerBar(bool show) { m_explorerBar->setVisible(show); }

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

BOOL CMainFrame::OnCommand(UINT command) {
  if (command == 0) return FALSE;
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
    case ID_NORV_CMD_EXPLORER_BAR:
      ShowExplorerBar(!m_explorerBar->isVisible());
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
  return m_tree->OnCommand(command);
}

void CMainFrame::OnUpdateCommand(UINT command, BOOL& enabled, BOOL& checked) {
  enabled = TRUE;
  checked = FALSE;
  if (command >= ID_NORV_CMD_BACK_FIRST && command <= ID_NORV_CMD_BACK_LAST) {
    enabled = m_history->CanGoBack();
    return;
  }
  if (command >= ID_NORV_CMD_FORWARD_FIRST && command <= ID_NORV_CMD_FORWARD_LAST) {
    enabled = m_history->CanGoForward();
    return;
  }
  switch (command) {
    case ID_NORV_CMD_EXPLORER_BAR:
      checked = m_explorerBar->isVisible();
      return;
    case ID_NORV_CMD_EXPLORER_BAR_TREE:
    case ID_NORV_CMD_EXPLORER_BAR_HISTORY:
    case ID_NORV_CMD_EXPLORER_BAR_BOOKMARKS:
      checked = m_explorerBar->isVisible() &&
                CurrentExplorerPane() == static_cast<int>(command - ID_NORV_CMD_EXPLORER_BAR_TREE);
      return;
    case ID_NORV_CMD_BOOKMARK:
      enabled = m_tree->GetSelectedTreeItem() != nullptr;
      return;
    case kAppExit:
    case ID_NORV_CMD_NEW_WINDOW:
      return;
    default:
      break;
  }
  if (m_bookmarks->hasFocus() && m_bookmarks->OnUpdateCommand(command, enabled)) return;
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
  m_statusPanes[0]->setText(Q(path));
}

BOOL CMainFrame::GetAddressBarInfo(NorvString& text, int& image, int& selectedImage) {
  text = m_addressText;
  image = selectedImage = m_addressImage;
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
    NORV_BASE_TRACE(4, 0, L"CMainFrame::OnTerminate");
    close();
  } else if (message == m_bookmarksMessage && message != 0 &&
             wParam != static_cast<WPARAM>(getpid())) {
    LoadBookmarks();
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  NORV_BASE_TRACE(4, 0, L"CMainFrame::OnClose");
  if ((m_doc != nullptr && m_doc->IsBusy()) || !CPluginHandler::QueryEndSession()) {
    event->ignore();
    return;
  }
  m_closing = true;
  TreeView::ForgetLastShownItem(TRUE);
  SaveSettings();
  NORV_BASE_TRACE(4, 0, L"CMainFrame::OnClose: Application closing");
  event->accept();
}
