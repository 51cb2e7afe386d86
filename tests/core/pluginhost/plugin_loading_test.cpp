// Loading plugins from the registry and from `loadplugin:` entries, the
// checks that refuse a plugin, and the class list.
#include <unistd.h>

#include <filesystem>

#include "norv/NorvRoot.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "platform/library.h"
#include "platform/text.h"
#include "pluginhost_test.h"

namespace pluginhost_test {
namespace {

using Names = std::vector<NorvString>;

NorvString Entry(const NorvString& name, const std::string& library, const std::string& res) {
  return name + L";" + W(library) + L";" + W(res);
}

// Calls a test hook the test plugins export.
template <typename R>
R Hook(int pluginId, const char* name) {
  auto fn = reinterpret_cast<R (*)()>(
      plat::GetProcAddress(CPluginHandler::pluginList.at(pluginId).pluginModule, name));
  EXPECT_NE(fn, nullptr) << name;
  return fn != nullptr ? fn() : R();
}

using LoadingTest = PluginHostTest;

TEST_F(LoadingTest, EnabledFlagDecidesAndMissingFlagLoads) {
  Register(L"Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  Register(L"Beta", Beta().library, {{L"enu", Beta().resources}}, 0);
  Register(L"Gamma", Gamma().library, {{L"enu", Gamma().resources}}, 1);
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, {}));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"Alpha");
  EXPECT_EQ(CPluginHandler::GetPluginName(1), L"Gamma");
  EXPECT_EQ(CNorvTreeListItem::GetLocale(), L"enu");
  EXPECT_TRUE(Messages().empty());
  // The plugin learnt its id and name.
  EXPECT_EQ(Hook<int>(1, "TestPluginId"), 1);
  EXPECT_EQ(NorvString(Hook<const wchar_t*>(1, "TestPluginName")), L"Gamma");
  // Out of range ids have no name.
  EXPECT_EQ(CPluginHandler::GetPluginName(2), L"");
  EXPECT_EQ(CPluginHandler::GetPluginName(-1), L"");
}

TEST_F(LoadingTest, LocaleKeyFallsBackToTwoCharacters) {
  Register(L"Alpha", Alpha().library, {{L"de", Alpha().resourcesDe}});
  // Three characters win over two when both exist.
  Register(L"Beta", Beta().library, {{L"deu", Beta().resources}, {L"de", "/nonexistent.so"}});
  // No key for the locale at all: not loaded, no message.
  Register(L"Gamma", Gamma().library, {{L"fr", Gamma().resources}});
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"deu", {}, {}));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  EXPECT_EQ(CPluginHandler::pluginList[0].resourceLibrary, W(Alpha().resourcesDe));
  EXPECT_EQ(CPluginHandler::pluginList[1].resourceLibrary, W(Beta().resources));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LoadingTest, NoLocaleKeyForAnyPluginFailsWith7059) {
  Register(L"Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  EXPECT_FALSE(CPluginHandler::LoadAllPlugins(L"fra", {}, {}));
  EXPECT_EQ(CPluginHandler::GetPluginCount(), 0);
  ASSERT_EQ(CountMessages(7059), 1);
  EXPECT_NE(Messages()[0].find(L"fra"), NorvString::npos);
  // An empty locale names no locale key (never the "Locale" key itself).
  Messages().clear();
  EXPECT_FALSE(CPluginHandler::LoadAllPlugins(L"", {}, {}));
  EXPECT_TRUE(HasMessage(7059));
}

TEST_F(LoadingTest, SdkVersionAndBuildTypeChecks) {
  Register(L"A-Sdk20", Sdk20Library(), {{L"enu", Alpha().resources}});
  Register(L"B-NoSdk", NoSdkLibrary(), {{L"enu", Alpha().resources}});
  Register(L"C-BadBuild", BadBuildLibrary(), {{L"enu", Alpha().resources}});
  Register(L"D-Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, {}));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"B-NoSdk");
  EXPECT_EQ(CPluginHandler::pluginList[0].sdkBuild, 0u);
  EXPECT_EQ(CPluginHandler::GetPluginName(1), L"D-Alpha");
  EXPECT_EQ(CPluginHandler::pluginList[1].sdkBuild, 0x00030004u);
  ASSERT_EQ(CountMessages(7107), 1);
  for (const auto& m : Messages()) {
    if (m.rfind(L"E7107 ", 0) == 0) {
      EXPECT_EQ(m, L"E7107 A-Sdk20 2.0 2.1");
    }
  }
  EXPECT_EQ(CountMessages(7108), 1);
  EXPECT_EQ(Messages().size(), 2u);
}

TEST_F(LoadingTest, MissingRequiredExportIsRefusedWith7065) {
  const size_t before = CPluginHandler::pluginList.size();
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"NoCaption", W(NoCaptionLibrary()),
                                          W(Alpha().resources), L"", L"", TRUE));
  EXPECT_EQ(CPluginHandler::pluginList.size(), before);
  ASSERT_EQ(CountMessages(7065), 1);
  EXPECT_NE(Messages()[0].find(L"GetPluginCaption"), NorvString::npos) << Messages()[0];
}

TEST_F(LoadingTest, EmptyLibraryNamesAndUnloadableFiles) {
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"P", L"", W(Alpha().resources), L"", L"", TRUE));
  EXPECT_TRUE(HasMessage(7084));
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"P", W(Alpha().library), L"", L"", L"", TRUE));
  EXPECT_TRUE(HasMessage(7083));
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"P", L"", L"", L"", L"", FALSE));
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"P", W(Alpha().library), L"", L"", L"", FALSE));
  EXPECT_EQ(CountMessages(7099), 2);

  Messages().clear();
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"Gone", L"/nonexistent/libgone.so",
                                          W(Alpha().resources), L"", L"", TRUE));
  ASSERT_EQ(CountMessages(7067), 1);
  EXPECT_NE(Messages()[0].find(L"/nonexistent/libgone.so"), NorvString::npos);

  // A plugin library whose resource library will not load is given back.
  Messages().clear();
  EXPECT_FALSE(CPluginHandler::LoadPlugin(L"NoRes", W(Alpha().library), L"/nonexistent/res.so",
                                          L"", L"", TRUE));
  ASSERT_EQ(Messages().size(), 1u);
  // The test host's text for 7064 has a placeholder of the wrong kind, so
  // the built-in text is used instead of reading the wrong arguments.
  EXPECT_EQ(Messages()[0].rfind(L"The resource library of plugin NoRes", 0), 0u)
      << Messages()[0];
  EXPECT_EQ(CPluginHandler::GetPluginCount(), 0);
}

TEST_F(LoadingTest, FilterSelectsRegisteredNamesAndIgnoresUnknownOnes) {
  Register(L"Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  Register(L"Beta", Beta().library, {{L"enu", Beta().resources}});
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", Names{L"nosuch", L"BETA"}, {}));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 1);
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"Beta");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LoadingTest, LoadListReplacesTheRegistry) {
  Register(L"Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  const Names list{Entry(L"Gamma", Gamma().library, Gamma().resources) + L";help.chm;msg.chm",
                   Entry(L"Beta", Beta().library, Beta().resources), L"Broken;only-a-library.so"};
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, list));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"Gamma");
  EXPECT_EQ(CPluginHandler::pluginList[0].helpFile, L"help.chm");
  EXPECT_EQ(CPluginHandler::pluginList[0].messageHelpFile, L"msg.chm");
  EXPECT_EQ(CPluginHandler::GetPluginName(1), L"Beta");
  EXPECT_EQ(CPluginHandler::pluginList[1].helpFile, L"");
  // The entry without a resource library is refused as incomplete.
  EXPECT_EQ(CountMessages(7099), 1);
}

TEST(LoadEntryTest, FieldsAreSplitAtSemicolons) {
  using F = std::vector<NorvString>;
  EXPECT_EQ(CPluginHandler::SplitLoadEntry(L"n;p;r;h;m"), (F{L"n", L"p", L"r", L"h", L"m"}));
  // Missing trailing fields are empty.
  EXPECT_EQ(CPluginHandler::SplitLoadEntry(L"n;p;r"), (F{L"n", L"p", L"r", L"", L""}));
  EXPECT_EQ(CPluginHandler::SplitLoadEntry(L"n"), (F{L"n", L"", L"", L"", L""}));
  EXPECT_EQ(CPluginHandler::SplitLoadEntry(L""), (F{L"", L"", L"", L"", L""}));
  // A sixth field stays with the fifth.
  EXPECT_EQ(CPluginHandler::SplitLoadEntry(L"n;p;r;h;m;x"), (F{L"n", L"p", L"r", L"h", L"m;x"}));
}

TEST_F(LoadingTest, ClassListMapsEveryPluginClass) {
  Register(L"Alpha", Alpha().library, {{L"enu", Alpha().resources}});
  Register(L"Beta", Beta().library, {{L"enu", Beta().resources}});
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, {}));
  EXPECT_EQ(CPluginHandler::classList.size(), 2u);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CTestAlphaItem"), 0);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CTestBetaItem"), 1);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"ctestbetaitem"), -1);
  // Framework classes are no plugin's.
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CNorvRoot"), -1);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"NoSuchClass"), -1);

  EXPECT_EQ(CPluginHandler::FindClassDLL(L"CTestBetaItem"),
            CPluginHandler::pluginList[1].pluginModule);
  EXPECT_EQ(CPluginHandler::FindClassDLL(L"NoSuchClass"), nullptr);

  CNorvTreeListItem* item = CNorvTreeListItem::CreateObject(nullptr, L"CTestBetaItem", L"x");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(CPluginHandler::FindItemPluginId(item), 1);
  EXPECT_EQ(CPluginHandler::GetSDKBuild(item), 0x00030004u);
  delete item;
  EXPECT_EQ(CPluginHandler::FindItemPluginId(nullptr), -1);
  CNorvRoot root;
  EXPECT_EQ(CPluginHandler::FindItemPluginId(&root), -1);
  EXPECT_EQ(CPluginHandler::GetSDKBuild(&root), 0u);
  EXPECT_EQ(CPluginHandler::BuildClassList(), 2);
}

TEST_F(LoadingTest, IdleEndSessionAndUnload) {
  const Names list{Entry(L"Alpha", Alpha().library, Alpha().resources),
                   Entry(L"Beta", Beta().library, Beta().resources)};
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, list));
  // Alpha wants more idle time, Beta does not; both are asked.
  const int betaIdle = Hook<int>(1, "TestIdleCalls");
  EXPECT_TRUE(CPluginHandler::RunIdle(1));
  EXPECT_EQ(Hook<int>(1, "TestIdleCalls"), betaIdle + 1);
  // Beta vetoes the end of the session.
  EXPECT_FALSE(CPluginHandler::QueryEndSession());
  CPluginHandler::UnloadPlugins();
  EXPECT_EQ(CPluginHandler::GetPluginCount(), 0);
  EXPECT_TRUE(CPluginHandler::classList.empty());
  EXPECT_TRUE(CPluginHandler::QueryEndSession());
  EXPECT_FALSE(CPluginHandler::RunIdle(2));
}

TEST_F(LoadingTest, RelativeResourceLibraryIsFoundNextToThePlugin) {
  // A copy of a plugin in a folder of its own, with a resource library
  // whose name exists nowhere else.
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("norv-plugin-copy-" + std::to_string(getpid()));
  fs::create_directories(folder);
  fs::copy_file(Gamma().library, folder / "libcopied.so", fs::copy_options::overwrite_existing);
  fs::copy_file(Gamma().resources, folder / "copied-resources.so",
                fs::copy_options::overwrite_existing);
  const fs::path before = fs::current_path();
  ASSERT_TRUE(CPluginHandler::LoadPlugin(L"Copy", W((folder / "libcopied.so").string()),
                                         L"copied-resources.so", L"", L"", TRUE));
  EXPECT_NE(CPluginHandler::pluginList[0].resourceModule, nullptr);
  EXPECT_EQ(CPluginHandler::pluginList[0].loadedPath, (folder / "libcopied.so").string());
  // The current directory is as it was.
  EXPECT_EQ(fs::current_path(), before);
  CPluginHandler::UnloadPlugins();
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pluginhost_test
