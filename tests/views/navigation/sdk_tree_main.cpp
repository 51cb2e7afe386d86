// Loads a plugin built outside this tree against the installed SDK into
// the explorer window and checks that its objects appear in the tree and
// that they receive their selection and commands.
//   test_views_navigation_sdk <plugin library> <resource library>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "MainFrm.h"
#include "TreeView.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "platform/text.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PLUGIN RESOURCES\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The frame's HTML panes: the browser engine runs as root only without
  // its sandbox.
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  char pattern[] = "/tmp/norv-navsdk-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::string scratch = pattern;
  setenv("NORV_REGISTRY_DIR", pattern, 1);
  setenv("NORV_RUNTIME_DIR", pattern, 1);
  const std::string log = scratch + "/commands.txt";
  setenv("NAV_SDK_LOG", log.c_str(), 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    std::fprintf(stderr, "message: %s\n", plat::ToUtf8(text).c_str());
    return IDOK;
  });
  {
    CNorvPrivateRegistryKey key(plat::HKEY_LOCAL_MACHINE, L"Plugins\\Sample", plat::KEY_ALL_ACCESS);
    key.SetStringValue(L"PluginDLL", plat::FromUtf8(argv[1]));
    CNorvPrivateRegistryKey locale(plat::HKEY_LOCAL_MACHINE, L"Plugins\\Sample\\Locale\\en",
                                   plat::KEY_ALL_ACCESS);
    locale.SetStringValue(L"ResourceDLL", plat::FromUtf8(argv[2]));
  }
  Check(CPluginHandler::LoadAllPlugins(L"enu", {}, {}) != FALSE, "the plugin loads");
  if (CPluginHandler::GetPluginCount() == 1) {
    CNorvCommandLineInfo info;
    info.m_bQuiet = TRUE;
    auto doc = std::make_unique<CNorvDoc>();
    auto frame = std::make_unique<CMainFrame>(doc.get());
    frame->show();
    Check(doc->SetupViews(info) != FALSE, "set-up succeeds");
    TreeView* tree = frame->Tree();
    CNorvTreeListItem* root = tree->GetSelectedTreeItem();
    Check(root != nullptr && root->GetClassName() == L"CNavSample",
          "the plugin's root is selected");
    Check(tree->NavigateTo(L"/Second") == TreeView::NavigationOk, "its child is in the tree");
    CNorvTreeListItem* second = tree->GetSelectedTreeItem();
    Check(second != nullptr && second->Id() == L"Second", "the child is selected");
    frame->OnCommand(41000);  // an item command of the plugin's own
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 100) QCoreApplication::processEvents();
    const std::string heard = ReadAll(log);
    Check(heard.find("Second 40010") != std::string::npos, "the child hears its selection");
    Check(heard.find("Second 41000") != std::string::npos, "the child receives its command");
    frame->close();
    doc.reset();
    frame.reset();
  }
  CPluginHandler::UnloadPlugins();
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  if (failures == 0) std::printf("sdk plugin shown in the tree and checked\n");
  return failures == 0 ? 0 : 1;
}
