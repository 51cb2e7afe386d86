// A plugin registered with norvreg, as the plugin handler reads it: the
// Files demo plugin registered for two locales through the framework
// installer of this build (bin/ is its installation image), then loaded by
// CPluginHandler and by the installed explorer, which keeps working while
// another plugin is registered; and norvreg's listing and removal.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QGuiApplication>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

std::vector<NorvString>& Messages() {
  static std::vector<NorvString> messages;
  return messages;
}

struct Result {
  int status = -1;
  std::string output;
};

// Runs norvreg with the words (quoted for the shell) and its output.
Result Norvreg(const std::vector<std::string>& words) {
  std::string command = std::string("'") + NORVREG + "'";
  for (const auto& word : words) command += " '" + word + "'";
  command += " 2>&1";
  Result run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 512> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.output.append(chunk.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class NorvregTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-setup-plugins-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder : {"registry", "drives", "ld.so.conf.d", "run", "tmp"})
      fs::create_directories(root_ / folder);
    fs::permissions(root_ / "run", fs::perms::owner_all);
    setenv("NORV_REGISTRY_DIR", (root_ / "registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", (root_ / "drives").c_str(), 1);
    setenv("NORV_LDSOCONF_DIR", (root_ / "ld.so.conf.d").c_str(), 1);
    setenv("NORV_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    Messages().clear();
  }
  void TearDown() override {
    CPluginHandler::UnloadPlugins();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Result RegisterFiles() {
    return Norvreg({"register", "Files", "--plugin", FILES_PLUGIN, "--installer", IMAGE_FOLDER,
                    "--locale", "enu", "--resources", FILES_ENU, "--locale", "deu",
                    "--resources", FILES_DEU, "--help", "/opt/files/hilfe.html"});
  }
  fs::path root_;
};

TEST_F(NorvregTest, RegisteredPluginLoadsThroughThePluginHandler) {
  const Result registered = RegisterFiles();
  ASSERT_EQ(registered.status, 0) << registered.output;

  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"deu", {}, {}));
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 1);
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"Files");
  const NorvPluginRecord& record = CPluginHandler::pluginList[0];
  EXPECT_EQ(record.pluginLibrary, plat::FromUtf8(FILES_PLUGIN));
  EXPECT_EQ(record.resourceLibrary, plat::FromUtf8(FILES_DEU));
  EXPECT_EQ(record.helpFile, L"/opt/files/hilfe.html");
  EXPECT_GE(CPluginHandler::FindClassPluginId(L"CFilesFolder"), 0);
  EXPECT_TRUE(Messages().empty());

  // The framework is installed from this build, and found again.
  const Result located = Norvreg({"locate"});
  EXPECT_EQ(located.status, 0);
  const fs::path path = root_ / "drives" / "c" / "VM_APPSW" / "Norv21";
  EXPECT_NE(located.output.find("Path=" + path.string() + "\n"), std::string::npos)
      << located.output;
  EXPECT_TRUE(fs::exists(path / "libnorv21.so"));
  const Result check = Norvreg({"check"});
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.output.find("installed, version 2.1.0.0, 1 plugin(s)"), std::string::npos)
      << check.output;

  const Result listed = Norvreg({"list"});
  EXPECT_EQ(listed.output, std::string("Files\n  PluginDLL=") + FILES_PLUGIN +
                               "\n  deu: ResourceDLL=" + FILES_DEU +
                               " HelpFile=/opt/files/hilfe.html\n  enu: ResourceDLL=" + FILES_ENU +
                               "\n");
}

TEST_F(NorvregTest, RegisteringWhileTheInstalledExplorerRunsLeavesItWorking) {
  ASSERT_EQ(RegisterFiles().status, 0);
  const fs::path installed = root_ / "drives" / "c" / "VM_APPSW" / "Norv21";
  const fs::path explorer = installed / "norvexplore-cli";
  ASSERT_TRUE(fs::exists(explorer));
  struct stat before;
  ASSERT_EQ(stat((installed / "libnorv21.so").c_str(), &before), 0);

  // The installed explorer, with the plugin registered above, waits a while
  // after printing its tree; meanwhile another plugin is registered.
  const std::string command = "'" + explorer.string() + "' --depth 1 --watch 2 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char line[512];
  while (output.find("Watching") == std::string::npos && fgets(line, sizeof line, pipe))
    output += line;
  const Result second = Norvreg({"register", "Other", "--plugin", "/opt/other/libother.so",
                                 "--installer", IMAGE_FOLDER, "--locale", "enu", "--resources",
                                 "/opt/other/libother_enu.so"});
  EXPECT_EQ(second.status, 0) << second.output;
  while (fgets(line, sizeof line, pipe)) output += line;
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  EXPECT_NE(output.find("[CFilesFolder://"), std::string::npos) << output;
  // Its files were left in place.
  struct stat after;
  ASSERT_EQ(stat((installed / "libnorv21.so").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_NE(Norvreg({"check"}).output.find("2 plugin(s)"), std::string::npos);
}

TEST_F(NorvregTest, RemovalLeavesNothingToLoad) {
  ASSERT_EQ(RegisterFiles().status, 0);
  const Result removed = Norvreg({"remove", "Files", "--locale", "enu"});
  ASSERT_EQ(removed.status, 0) << removed.output;
  // The other locale still loads; the removed one does not.
  ASSERT_FALSE(CPluginHandler::LoadAllPlugins(L"enu", {}, {}));
  EXPECT_EQ(Messages().size(), 1u);
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"deu", {}, {}));
  CPluginHandler::UnloadPlugins();

  ASSERT_EQ(Norvreg({"remove", "Files"}).status, 0);
  EXPECT_EQ(Norvreg({"check"}).status, 1);
  EXPECT_FALSE(fs::exists(root_ / "drives" / "c" / "VM_APPSW" / "Norv21"));
  const Result again = Norvreg({"remove", "Files"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("no plugin \"Files\""), std::string::npos) << again.output;
}

TEST_F(NorvregTest, MalformedCommandLinesAndRefusedValues) {
  EXPECT_EQ(Norvreg({"register", "Files", "--locale", "enu", "--resources", "x"}).status, 2);
  EXPECT_EQ(Norvreg({"register", "Files", "--plugin", "p"}).status, 2);
  EXPECT_EQ(Norvreg({"register", "Files", "--resources", "x", "--plugin", "p"}).status, 2);
  EXPECT_EQ(Norvreg({"bogus"}).status, 2);
  const Result longValue =
      Norvreg({"register", "Files", "--plugin", std::string(300, 'p'), "--installer",
               IMAGE_FOLDER, "--locale", "enu", "--resources", "r"});
  EXPECT_EQ(longValue.status, 1);
  EXPECT_NE(longValue.output.find("code 11"), std::string::npos) << longValue.output;
  const Result shortLocale = Norvreg({"register", "Files", "--plugin", "p", "--installer",
                                   IMAGE_FOLDER, "--locale", "en", "--resources", "r"});
  EXPECT_EQ(shortLocale.status, 1);
  EXPECT_NE(shortLocale.output.find("code 1:"), std::string::npos) << shortLocale.output;
  EXPECT_EQ(Norvreg({"check"}).status, 1);  // nothing was installed
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    Messages().push_back(text);
    return IDOK;
  });
  return RUN_ALL_TESTS();
}
