// Test main and shared helpers: a GUI application on the offscreen
// platform (fonts need one), message boxes captured instead of shown, and
// the test host's string resources installed as the host program's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <filesystem>

#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "pluginhost_test.h"

namespace pluginhost_test {

TestPlugin Alpha() { return {TEST_ALPHA, TEST_ALPHA_RES, TEST_ALPHA_RES_DE}; }
TestPlugin Beta() { return {TEST_BETA, TEST_BETA_RES, TEST_BETA_RES}; }
TestPlugin Gamma() { return {TEST_GAMMA, TEST_GAMMA_RES, TEST_GAMMA_RES}; }
std::string Sdk20Library() { return TEST_SDK20; }
std::string NoSdkLibrary() { return TEST_NOSDK; }
std::string NoCaptionLibrary() { return TEST_NOCAPTION; }
std::string BadBuildLibrary() { return TEST_BADBUILD; }
std::string InitFailsLibrary() { return TEST_INITFAILS; }
std::string TracerLibrary() { return TEST_TRACER; }
std::string HostResources() { return TEST_HOST_RES; }

std::vector<NorvString>& Messages() {
  static std::vector<NorvString> messages;
  return messages;
}

int CountMessages(UINT id) {
  const NorvString prefix = L"E" + std::to_wstring(id) + L" ";
  int n = 0;
  for (const auto& m : Messages()) {
    if (m.rfind(prefix, 0) == 0) ++n;
  }
  return n;
}

bool HasMessage(UINT id) { return CountMessages(id) > 0; }

NorvString W(const std::string& utf8) { return plat::FromUtf8(utf8); }

void Register(const NorvString& name, const std::string& library,
              const std::vector<std::pair<NorvString, std::string>>& locales, int enabled,
              const NorvString& helpFile) {
  CNorvPrivateRegistryKey key(plat::HKEY_LOCAL_MACHINE, L"Plugins\\" + name,
                              plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  if (!library.empty()) key.SetStringValue(L"PluginDLL", W(library));
  if (enabled >= 0) key.SetUIntValue(L"PluginEnabled", static_cast<UINT>(enabled));
  key.SetUIntValue(L"RegFlag", 0);
  for (const auto& [locale, resources] : locales) {
    CNorvPrivateRegistryKey localeKey(plat::HKEY_LOCAL_MACHINE,
                                      L"Plugins\\" + name + L"\\Locale\\" + locale,
                                      plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(localeKey.IsOpen());
    localeKey.SetStringValue(L"ResourceDLL", W(resources));
    localeKey.SetStringValue(L"HelpFile", helpFile);
    localeKey.SetStringValue(L"MessageHelpFile", L"");
  }
}

void SetFrameworkValue(const NorvString& name, const NorvString& value) {
  CNorvPrivateRegistryKey key(plat::HKEY_LOCAL_MACHINE, L"", plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  key.SetStringValue(name, value);
}

void PluginHostTest::SetUp() {
  char pattern[] = "/tmp/norv-pluginhost-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  registryDir_ = pattern;
  setenv("NORV_REGISTRY_DIR", registryDir_.c_str(), 1);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  Messages().clear();
}

void PluginHostTest::TearDown() {
  CPluginHandler::UnloadPlugins();
  std::error_code ignored;
  std::filesystem::remove_all(registryDir_, ignored);
}

}  // namespace pluginhost_test

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    pluginhost_test::Messages().push_back(text);
    return IDOK;
  });
  HMODULE host = plat::LoadResourceModule(pluginhost_test::HostResources());
  if (host == nullptr) {
    fprintf(stderr, "cannot load the test host's resources: %s\n", plat::LibraryError().c_str());
    return 2;
  }
  plat::SetHostResourceModule(host);
  return RUN_ALL_TESTS();
}
