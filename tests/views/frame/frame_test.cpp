// The main frame offscreen: what it stores when it closes and applies at the
// next start, closing on another process's terminate broadcast, menu
// merging of two plugins' menus, and the bars' hide and show commands.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QStackedWidget>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "HtmlFrame.h"
#include "MainFrm.h"
#include "NorvHtmlSchemes.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "test_nav_items.h"

namespace {

std::string& Scratch() {
  static std::string scratch;
  return scratch;
}

void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Each test has its own settings key and configuration folder, so every
// test starts as a first start.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CNorvPrivateRegistryKey::SetRegistryKey(L"FrameTests\\" +
                                            NorvString(name.begin(), name.end()));
    const std::string config = Scratch() + "/config-" + name;
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    NavWorld::Get().Reset();
  }

  std::unique_ptr<CMainFrame> Open() {
    auto frame = std::make_unique<CMainFrame>(CNorvDoc::GetDoc());
    frame->show();
    Spin(30);
    return frame;
  }

  static UINT Stored(const wchar_t* name) {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings");
    UINT value = 12345;
    return key.GetUIntValue(name, value) ? value : 12345;
  }

  static QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

// ----- persisted values --------------------------------------------------------

TEST_F(FrameTest, SettingsWrittenOnCloseAreAppliedAtTheNextStart) {
  const QSize firstSize = [&] {
    auto frame = Open();
    // A first start: web page view on, large buttons without text, address
    // band hidden, view selector and explorer bar shown, tutorial column
    // hidden until a page has one, banner band hidden until a banner.
    EXPECT_TRUE(frame->CurrentSettings().viewAsWebPage);
    EXPECT_TRUE(frame->AddressBand()->isHidden());
    EXPECT_TRUE(frame->ClientBar()->IsViewSelectorShown());
    EXPECT_TRUE(frame->IsExplorerBarShown());
    EXPECT_FALSE(frame->IsTutorialBarShown());
    EXPECT_TRUE(frame->BannerBand()->isHidden());
    EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(20, 20));
    EXPECT_EQ(frame->ToolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_EQ(frame->PaneWindow()->GetRowSize(0), 90);
    EXPECT_TRUE(frame->VerticalSplitter()->IsDynamic());

    for (UINT command : {ID_NORV_CMD_ADDRESS_BAR, ID_NORV_CMD_VIEW_SELECTOR,
                         ID_NORV_CMD_EXPLORER_BAR, ID_NORV_CMD_SHOW_TEXT,
                         ID_NORV_CMD_LARGE_BUTTONS, ID_NORV_CMD_VIEW_AS_WEB_PAGE})
      EXPECT_TRUE(frame->OnCommand(command)) << command;
    BOOL enabled = FALSE, checked = TRUE;
    frame->OnUpdateCommand(ID_NORV_CMD_LARGE_BUTTONS, enabled, checked);
    EXPECT_FALSE(checked);
    frame->OnUpdateCommand(ID_NORV_CMD_ADDRESS_BAR, enabled, checked);
    EXPECT_TRUE(checked);
    EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(16, 16));
    EXPECT_EQ(frame->PaneWindow()->GetRowSize(0), 0);  // no web page: no margins
    frame->resize(410, 320);
    Spin(30);
    const QSize size = frame->frameGeometry().size();
    EXPECT_TRUE(frame->close());
    return size;
  }();
  EXPECT_EQ(Stored(L"SizeX"), static_cast<UINT>(firstSize.width()));
  EXPECT_EQ(Stored(L"SizeY"), static_cast<UINT>(firstSize.height()));
  EXPECT_EQ(Stored(L"AddressBarVisible"), 1u);
  EXPECT_EQ(Stored(L"ViewSelectorVisible"), 0u);
  EXPECT_EQ(Stored(L"ExplorerBarVisible"), 0u);
  EXPECT_EQ(Stored(L"ToolBarText"), 1u);
  EXPECT_EQ(Stored(L"ToolBarLargeButtons"), 0u);
  EXPECT_EQ(Stored(L"ViewAsWebPage"), 0u);
  EXPECT_EQ(Stored(L"TutorialEnabled"), 1u);

  auto frame = Open();
  EXPECT_EQ(frame->size(), firstSize);
  EXPECT_FALSE(frame->AddressBand()->isHidden());
  EXPECT_FALSE(frame->ClientBar()->IsViewSelectorShown());
  EXPECT_FALSE(frame->IsExplorerBarShown());
  EXPECT_EQ(frame->ToolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
  EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(16, 16));
  EXPECT_FALSE(frame->CurrentSettings().viewAsWebPage);
  // The explorer bar comes back with the width it had.
  frame->OnCommand(ID_NORV_CMD_EXPLORER_BAR);
  EXPECT_TRUE(frame->IsExplorerBarShown());
  EXPECT_GT(frame->VerticalSplitter()->sizes().value(0), 0);
}

TEST_F(FrameTest, MaximizedMinimizedAndOversizedWindowsStartAtAUsableSize) {
  QSize defaultSize;
  {
    auto frame = Open();
    defaultSize = frame->size();
    frame->showMaximized();
    Spin(30);
    ASSERT_TRUE(frame->isMaximized());
    EXPECT_TRUE(frame->close());
  }
  EXPECT_EQ(Stored(L"SizeX"), CMainFrame::kSizeMaximized);
  EXPECT_EQ(Stored(L"SizeY"), CMainFrame::kSizeMaximized);
  {
    auto frame = Open();
    EXPECT_EQ(frame->size(), defaultSize);  // not 65535 x 65535
    frame->showMinimized();
    Spin(30);
    ASSERT_TRUE(frame->isMinimized());
    EXPECT_TRUE(frame->close());
  }
  EXPECT_EQ(Stored(L"SizeX"), CMainFrame::kSizeMinimized);
  EXPECT_EQ(Stored(L"SizeY"), CMainFrame::kSizeMinimized);
  {
    auto frame = Open();
    EXPECT_EQ(frame->size(), defaultSize);
    frame->close();
  }

  // A size from a larger screen is pulled back onto this one.
  {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_ALL_ACCESS);
    key.SetUIntValue(L"SizeX", 20000);
    key.SetUIntValue(L"SizeY", 15000);
  }
  auto frame = Open();
  EXPECT_LE(frame->width(), Available().width());
  EXPECT_LE(frame->height(), Available().height());
  EXPECT_TRUE(Available().contains(frame->geometry().topLeft()));

  QSize fitted;
  EXPECT_FALSE(CMainFrame::FitStoredSize(0, 300, QRect(0, 0, 1024, 768), fitted));
  ASSERT_TRUE(CMainFrame::FitStoredSize(5000, 20, QRect(0, 0, 1024, 768), fitted));
  EXPECT_EQ(fitted, QSize(1024, 150));
  ASSERT_TRUE(CMainFrame::FitStoredSize(800, 600, QRect(0, 0, 1024, 768), fitted));
  EXPECT_EQ(fitted, QSize(800, 600));
}

TEST_F(FrameTest, ProfileValuesPlaceTheBannerAndChooseTheSplitterMode) {
  const std::string profile = CMainFrame::ProfileFileName();
  ASSERT_TRUE(plat::WritePrivateProfileStringA("Settings", "BannerPosition", "1", profile.c_str()));
  ASSERT_TRUE(plat::WritePrivateProfileStringA("Settings", "DynamicSplitter", "0", profile.c_str()));
  auto frame = Open();
  EXPECT_FALSE(frame->VerticalSplitter()->IsDynamic());
  EXPECT_FALSE(frame->HorizontalSplitter()->IsDynamic());
  htmlViewInfo banner;
  banner.url = L"about:blank";
  frame->SetBanner(banner);
  Spin(30);
  ASSERT_FALSE(frame->BannerBand()->isHidden());
  // Below the toolbar.
  EXPECT_GT(frame->BannerBand()->geometry().top(), frame->ToolBar()->geometry().top());
  EXPECT_TRUE(frame->close());
  // The bar state went into the profile.
  char state[16] = {};
  plat::GetPrivateProfileStringA("ToolBar", "State", "", state, sizeof state, profile.c_str());
  EXPECT_NE(state[0], '\0');
}

TEST_F(FrameTest, HtmlPanesNavigateOnlyToANewAddress) {
  auto frame = Open();
  QTemporaryDir pages;
  ASSERT_TRUE(pages.isValid());
  const QString file = pages.filePath(QStringLiteral("banner.html"));
  {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("<html><body><p id='who'>nobody</p></body></html>");
  }
  htmlViewInfo info;
  info.url = QUrl::fromLocalFile(file).toString().toStdWString();
  info.assignments = {L"who=first"};
  CHtmlFrame* banner = frame->Banner();
  QSignalSpy loaded(banner, &CNorvHtmlWnd::documentComplete);
  frame->SetBanner(info);
  EXPECT_FALSE(frame->BannerBand()->isHidden());
  ASSERT_TRUE(loaded.wait(30000));
  auto text = [&] {
    QVariant answer;
    banner->Page()->RunScriptSync(QStringLiteral("document.getElementById('who').innerText"),
                                  &answer);
    return answer.toString();
  };
  EXPECT_EQ(text(), QStringLiteral("first"));
  // The same address: the assignments again, no new navigation.
  info.assignments = {L"who=second"};
  frame->SetBanner(info);
  EXPECT_EQ(banner->GetNavigationCount(), 1);
  EXPECT_EQ(text(), QStringLiteral("second"));
  // An empty address changes nothing; one that differs in case navigates.
  frame->SetBanner(htmlViewInfo{});
  EXPECT_EQ(banner->GetNavigationCount(), 1);
  htmlViewInfo upper = info;
  upper.url += L"?A";
  frame->SetBanner(upper);
  htmlViewInfo lower = info;
  lower.url += L"?a";
  frame->SetBanner(lower);
  EXPECT_EQ(banner->GetNavigationCount(), 3);
  frame->close();
}

// ----- closing on another process's broadcast ------------------------------------

TEST_F(FrameTest, TerminateFromAnotherProcessClosesWithSettingsWritten) {
  auto frame = Open();
  frame->OnCommand(ID_NORV_CMD_ADDRESS_BAR);
  frame->resize(430, 330);
  Spin(30);
  QProcess sender;
  sender.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--terminate-sender")});
  ASSERT_TRUE(sender.waitForFinished(30000));
  ASSERT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().toStdString();
  for (int i = 0; i < 100 && frame->isVisible(); ++i) Spin(20);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_TRUE(frame->IsClosing());
  EXPECT_EQ(Stored(L"AddressBarVisible"), 1u);
  EXPECT_EQ(Stored(L"SizeX"), static_cast<UINT>(frame->frameGeometry().width()));
}

TEST_F(FrameTest, BusyDocumentRefusesToClose) {
  auto frame = Open();
  CNorvDoc::GetDoc()->SetBusy(TRUE);
  EXPECT_FALSE(frame->close());
  EXPECT_EQ(Stored(L"SizeX"), 12345u);  // nothing written
  CNorvDoc::GetDoc()->SetBusy(FALSE);
  EXPECT_TRUE(frame->close());
  EXPECT_NE(Stored(L"SizeX"), 12345u);
}

// ----- menus -----------------------------------------------------------------------

TEST(FrameMenus, TwoPluginsMergeIntoTheHostMenu) {
  CNorvMenu host;
  host.AppendPopup(L"&File").AppendItem(1, L"Open");
  host.AppendPopup(L"&View").AppendItem(2, L"Refresh");
  host.AppendPopup(L"&Window").AppendItem(3, L"Cascade");
  host.AppendPopup(L"&Help").AppendItem(4, L"About");

  CNorvMenu first;
  first.AppendPopup(L"F&ile").AppendItem(40100, L"Export");
  CNorvMenu& tools = first.AppendPopup(L"&Tools");
  tools.AppendItem(40101, L"Check");
  tools.AppendPopup(L"More").AppendItem(40102, L"Deep");
  CNorvMenu second;
  second.AppendPopup(L"Too&ls").AppendItem(40200, L"Scan");
  second.AppendItem(40201, L"Top-level command");

  ASSERT_TRUE(CMainFrame::MergeMenu(&host, &first, TRUE));
  ASSERT_TRUE(CMainFrame::MergeMenu(&host, &second, TRUE));

  // File, View, Tools (before Window), Window, Help, then the command.
  ASSERT_EQ(host.GetItemCount(), 6);
  EXPECT_EQ(host.GetItemText(2), L"&Tools");
  EXPECT_EQ(host.GetItemText(3), L"&Window");
  EXPECT_EQ(host.GetItemId(5), 40201u);
  const CNorvMenu* file = host.GetSubMenu(0);
  ASSERT_EQ(file->GetItemCount(), 3);  // Open, separator, Export
  EXPECT_TRUE(file->IsSeparator(1));
  const CNorvMenu* merged = host.GetSubMenu(2);
  // Check, More >, then the second plugin's part after a separator.
  ASSERT_EQ(merged->GetItemCount(), 4);
  EXPECT_EQ(merged->GetItemId(0), 40101u);
  ASSERT_NE(merged->GetSubMenu(1), nullptr);
  EXPECT_EQ(merged->GetSubMenu(1)->GetItemId(0), 40102u);
  EXPECT_TRUE(merged->IsSeparator(2));
  EXPECT_EQ(merged->GetItemId(3), 40200u);
}

// ----- hideable columns and rows ------------------------------------------------------

TEST_F(FrameTest, BarCommandsHideAndShowSplitterColumnsAndRows) {
  NavWorld::Get().children[L"R"] = {L"R/A"};
  auto frame = Open();
  CNorvTreeListItem* root = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
  ASSERT_NE(root, nullptr);
  frame->InitTreeView(root);
  ASSERT_EQ(frame->Tree()->NavigateTo(L"/A"), TreeView::NavigationOk);

  // Explorer bar, content side, tutorial bar; client bar over output bar.
  CSplitterWndEx* columns = frame->VerticalSplitter();
  ASSERT_EQ(columns->count(), 3);
  EXPECT_EQ(columns->widget(0), frame->ExplorerBar());
  EXPECT_EQ(columns->widget(1), frame->HorizontalSplitter());
  EXPECT_EQ(columns->widget(2), frame->TutorialBar());
  EXPECT_EQ(frame->HorizontalSplitter()->widget(0), frame->ClientBar());
  EXPECT_EQ(frame->HorizontalSplitter()->widget(1), frame->OutputBar());
  // The explorer bar column keeps its width while hidden.
  const int width = columns->sizes().value(0);
  ASSERT_GT(width, 0);
  frame->OnCommand(ID_NORV_CMD_EXPLORER_BAR);
  EXPECT_FALSE(columns->IsColumnVisible(0));
  EXPECT_FALSE(frame->IsPaneVisible(CMainFrame::FocusExplorerPane));
  frame->OnCommand(ID_NORV_CMD_EXPLORER_BAR_HISTORY);  // shows the bar with that pane
  EXPECT_TRUE(columns->IsColumnVisible(0));
  EXPECT_EQ(frame->CurrentExplorerPane(), CMainFrame::PaneHistory);
  EXPECT_EQ(columns->sizes().value(0), width);

  // The output row: only with an output view; the item shown last hears it.
  BOOL enabled = TRUE, checked = TRUE;
  frame->OnUpdateCommand(ID_NORV_CMD_OUTPUT_BAR, enabled, checked);
  EXPECT_FALSE(enabled);
  EXPECT_FALSE(frame->ShowOutputView(TRUE));
  auto* output = new QWidget;
  ASSERT_TRUE(frame->SetOutputView(output, OUTPUT_HEADER_TOP, L"Log", 0));
  EXPECT_EQ(output->parentWidget(), frame->OutputBar());
  EXPECT_EQ(frame->OutputBar()->GetTitle(), QStringLiteral("Log"));
  NavWorld::Get().calls.clear();
  frame->OnCommand(ID_NORV_CMD_OUTPUT_BAR);
  EXPECT_TRUE(frame->HorizontalSplitter()->IsRowVisible(1));
  EXPECT_TRUE(frame->IsOutputViewVisible(output));
  EXPECT_GT(frame->HorizontalSplitter()->sizes().value(1), 0);
  frame->OnCommand(ID_NORV_CMD_OUTPUT_BAR);
  EXPECT_FALSE(frame->IsOutputViewVisible(output));
  ASSERT_EQ(NavWorld::Get().calls.size(), 2u);
  EXPECT_EQ(NavWorld::Get().calls[0].command, ID_NORV_ITEMCMD_OUTPUT_VIEW_SHOW);
  EXPECT_EQ(NavWorld::Get().calls[1].command, ID_NORV_ITEMCMD_OUTPUT_VIEW_HIDE);
  EXPECT_EQ(NavWorld::Get().calls[1].id, L"R/A");
  frame->DetachOutputView(output);
  EXPECT_EQ(output->parentWidget(), nullptr);
  delete output;

  // The tutorial column: shown with a tutorial page, closed by its command,
  // which is remembered; an empty page hides it.
  htmlViewInfo tutorial;
  tutorial.url = L"file:///tutorial.html";
  frame->SetTutorial(tutorial);
  EXPECT_TRUE(frame->IsTutorialBarShown());
  frame->OnCommand(ID_NORV_CMD_TUTORIAL_BAR);
  EXPECT_FALSE(frame->IsTutorialBarShown());
  frame->SetTutorial(tutorial);  // not enabled: stays hidden
  EXPECT_FALSE(frame->IsTutorialBarShown());
  frame->OnCommand(ID_NORV_CMD_TUTORIAL_BAR);
  EXPECT_TRUE(frame->IsTutorialBarShown());
  frame->SetTutorial(htmlViewInfo{});
  EXPECT_FALSE(frame->IsTutorialBarShown());
  EXPECT_FALSE(frame->IsTutorialAvailable());

  // Margins of the web page view, and 35022 taking them off and back.
  frame->SetViewMargins(QRect(QPoint(12, 40), QPoint(14, 8)), 1);
  EXPECT_EQ(frame->PaneWindow()->GetColumnSize(0), 12);
  EXPECT_EQ(frame->PaneWindow()->GetRowSize(0), 40);
  EXPECT_EQ(frame->PaneWindow()->GetColumnSize(2), 14);
  EXPECT_EQ(frame->PaneWindow()->GetRowSize(2), 8);
  frame->OnCommand(ID_NORV_CMD_WEB_PAGE);
  EXPECT_EQ(frame->PaneWindow()->GetRowSize(0), 0);
  frame->OnCommand(ID_NORV_CMD_WEB_PAGE);
  EXPECT_EQ(frame->PaneWindow()->GetRowSize(0), 40);

  EXPECT_TRUE(frame->close());
  EXPECT_EQ(Stored(L"TutorialEnabled"), 1u);
  frame->RootDestroying(root);
  delete root;
}

// ----- the address bar and the panes' focus ----------------------------------------------

TEST_F(FrameTest, AddressBarListsTheHierarchyAndNavigatesOnEnter) {
  NavWorld& world = NavWorld::Get();
  world.texts[L"R"] = L"Root";
  world.children[L"R"] = {L"R/A", L"R/B"};
  world.children[L"R/A"] = {L"R/A/A1"};
  world.children[L"R/A/A1"] = {L"R/A/A1/deep"};
  auto frame = Open();
  CNorvTreeListItem* root = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
  ASSERT_NE(root, nullptr);
  frame->InitTreeView(root);
  frame->OnCommand(ID_NORV_CMD_ADDRESS_BAR);
  ASSERT_EQ(frame->Tree()->NavigateTo(L"/A/A1"), TreeView::NavigationOk);
  CAddress* address = frame->AddressBar();
  EXPECT_EQ(address->currentText(), QStringLiteral("/A/A1"));

  // Enter: the item is asked first, then the typed path is navigated to.
  world.calls.clear();
  address->setFocus();
  address->setEditText(QStringLiteral("/B"));
  QTest::keyClick(address, Qt::Key_Return);
  ASSERT_FALSE(world.calls.empty());
  EXPECT_EQ(world.calls[0].command, ID_NORV_ITEMCMD_ADDRESS_ENTER);
  EXPECT_EQ(world.calls[0].id, L"R/A/A1");
  ASSERT_NE(frame->Tree()->GetSelectedTreeItem(), nullptr);
  EXPECT_EQ(frame->Tree()->GetSelectedTreeItem()->Id(), L"R/B");
  EXPECT_EQ(address->currentText(), QStringLiteral("/B"));
  // A path that leads nowhere leaves the selection alone.
  address->setEditText(QStringLiteral("/nowhere"));
  QTest::keyClick(address, Qt::Key_Return);
  EXPECT_EQ(frame->Tree()->GetSelectedTreeItem()->Id(), L"R/B");

  // Dropped down from /A/A1/deep: the top level, its children and the
  // chain under the child that leads to the selection.
  ASSERT_EQ(frame->Tree()->NavigateTo(L"/A/A1/deep"), TreeView::NavigationOk);
  address->showPopup();
  QStringList paths;
  for (int i = 0; i < address->count(); ++i)
    paths << address->itemData(i, CAddress::PathRole).toString();
  EXPECT_EQ(paths, (QStringList{QStringLiteral("/"), QStringLiteral("/A"),
                                QStringLiteral("/A/A1"), QStringLiteral("/A/A1/deep"),
                                QStringLiteral("/B")}));
  EXPECT_EQ(address->itemText(0), QStringLiteral("/ (Root)"));
  emit address->activated(4);  // choosing /B navigates there
  address->hidePopup();
  Spin(20);
  EXPECT_EQ(frame->Tree()->GetSelectedTreeItem()->Id(), L"R/B");
  EXPECT_EQ(address->count(), 1);  // the list is gone, the path stays
  EXPECT_EQ(address->currentText(), QStringLiteral("/B"));

  frame->close();
  frame->RootDestroying(root);
  delete root;
}

TEST_F(FrameTest, NextPaneSkipsHiddenPanesAndWraps) {
  auto frame = Open();
  frame->activateWindow();
  // Shown: explorer pane and selector, content view, view selector; the
  // HTML frame has no margins, no output view, address band and tutorial
  // column hidden.
  frame->SetViewMargins(QRect(), 0);
  ASSERT_TRUE(frame->ActivatePane(CMainFrame::FocusContentView));
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusContentView);
  EXPECT_FALSE(frame->ActivatePane(CMainFrame::FocusAddressBar));  // hidden
  EXPECT_FALSE(frame->ActivatePane(8));
  ASSERT_TRUE(frame->ActivateNextPane(CMainFrame::FocusContentView, FALSE));
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusViewSelector);
  ASSERT_TRUE(frame->ActivateNextPane(CMainFrame::FocusContentView, TRUE));
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusExplorerPane);
  frame->OnCommand(ID_NORV_CMD_ADDRESS_BAR);
  frame->OnCommand(ID_NORV_CMD_VIEW_SELECTOR);  // hides it
  ASSERT_TRUE(frame->ActivatePane(CMainFrame::FocusContentView));
  frame->OnCommand(ID_NORV_CMD_NEXT_PANE);
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusAddressBar);
  frame->OnCommand(ID_NORV_CMD_NEXT_PANE);
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusExplorerSelector);
  frame->OnCommand(ID_NORV_CMD_NEXT_PANE);  // past the hidden tutorial to 0
  EXPECT_EQ(frame->GetActivePane(), CMainFrame::FocusExplorerPane);
  frame->close();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc > 1 && std::string(argv[1]) == "--terminate-sender") {
    // Another process: the framework's installer closing running explorers.
    const UINT message = plat::RegisterWindowMessage(std::wstring_view(L"NORV2.1_Terminate"));
    return message != 0 && plat::BroadcastMessage(message, 0, 0) > 0 ? 0 : 3;
  }
  char pattern[] = "/tmp/norv-frame-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  Scratch() = pattern;
  std::filesystem::create_directories(Scratch() + "/registry");
  setenv("NORV_REGISTRY_DIR", (Scratch() + "/registry").c_str(), 1);
  std::filesystem::create_directories(Scratch() + "/runtime");
  setenv("NORV_RUNTIME_DIR", (Scratch() + "/runtime").c_str(), 1);
  // The HTML panes' browser engine runs as root here only without its
  // sandbox.
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  NorvRegisterHtmlSchemes();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  NorvSetMessageBoxHook([](const NorvString&, const NorvString&, UINT) { return IDOK; });
  int rc = 0;
  {
    CNorvDoc doc;
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(Scratch(), ignored);
  return rc;
}
