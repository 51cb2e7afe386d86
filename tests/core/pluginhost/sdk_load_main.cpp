// Loads a plugin built outside this tree against the installed SDK and
// checks what the framework learns from it.
//   test_core_pluginhost_sdkload <plugin library> <resource library>
#include <stdlib.h>

#include <QGuiApplication>
#include <cstdio>
#include <filesystem>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PLUGIN RESOURCES\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  char pattern[] = "/tmp/norv-sdkload-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  setenv("NORV_REGISTRY_DIR", pattern, 1);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    std::fprintf(stderr, "message: %s\n", plat::ToUtf8(text).c_str());
    ++failures;
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
  Check(CPluginHandler::GetPluginCount() == 1, "one plugin");
  if (CPluginHandler::GetPluginCount() == 1) {
    Check(CPluginHandler::pluginList[0].sdkBuild == NORV_SDK_BUILD, "SDK build reported");
    Check(CPluginHandler::FindClassPluginId(L"CSampleRoot") == 0, "its class is known");
    CNorvCommandLineInfo info;
    info.m_bQuiet = TRUE;
    {
      CNorvDoc doc;
      Check(doc.SetupViews(info) != FALSE, "set-up succeeds");
      Check(CNorvDoc::GetRoot() != nullptr && CNorvDoc::GetRoot()->GetClassName() == L"CSampleRoot",
            "the plugin's root is the root");
      Check(CNorvDoc::GetRoot() != nullptr &&
                CNorvDoc::GetRoot()->GetPluginCaption() == L"Sample Plugin",
            "the caption comes from the plugin's resources");
    }
  }
  CPluginHandler::UnloadPlugins();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  if (failures == 0) std::printf("sdk plugin loaded and checked\n");
  return failures == 0 ? 0 : 1;
}
