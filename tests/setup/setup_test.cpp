// The framework setup library with its installer: registrations read back
// from the registry, removal and the framework's uninstallation with the
// last plugin, the response files byte for byte (through a recording
// installer), refused values, and running explorers: closed by the
// broadcast before their files are replaced, left alone otherwise.
// Everything happens in scratch folders named by the environment.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "norv/norv21stp.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace plat;

namespace {

const char kFramework[] = "Software\\Velmora\\NORV2.1";

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// A registry value as stored: type and UTF-8 text of string data.
struct Stored {
  bool found = false;
  DWORD type = REG_NONE;
  std::string text;
  std::vector<BYTE> data;
};

Stored ReadValue(HKEY root, const std::string& key, const std::string& name) {
  Stored result;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return result;
  RegValue value;
  if (RegReadValue(handle, name, &value) == ERROR_SUCCESS) {
    result.found = true;
    result.type = value.type;
    result.data = value.data;
    std::u16string units;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2)
      units.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
    if (!units.empty() && units.back() == u'\0') units.pop_back();
    result.text = Utf16ToUtf8(units);
  }
  RegCloseKey(handle);
  return result;
}

void WriteValue(HKEY root, const std::string& key, const std::string& name,
                const std::string& text) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(handle, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The message folder is the same for the whole program: message ids are
// cached per process.
class MessageFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/norv-setup-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("NORV_RUNTIME_DIR", pattern, 1);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

// Counts the closing messages that reach this process.
class TerminateCounter {
 public:
  TerminateCounter()
      : id_(RegisterWindowMessage(std::string_view("NORV2.1_Terminate"))),
        listener_([this](UINT message, WPARAM, LPARAM) {
          if (message == id_) ++count_;
        }) {}
  bool IsOpen() const { return id_ != 0 && listener_.IsOpen(); }
  int Count() {
    listener_.Poll();
    return count_;
  }

 private:
  UINT id_;
  int count_ = 0;
  MessageListener listener_;
};

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-setup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder : {"registry", "drives", "ld.so.conf.d", "tmp", "image"})
      fs::create_directories(root_ / folder);
    setenv("NORV_REGISTRY_DIR", (root_ / "registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", (root_ / "drives").c_str(), 1);
    setenv("NORV_LDSOCONF_DIR", (root_ / "ld.so.conf.d").c_str(), 1);
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    image_ = root_ / "image";
    fs::copy_file(NORVSETUP_EXE, image_ / "NorvSetup.exe");
    WriteText(image_ / "NorvSetup.ini",
              "[Framework]\nVersion=2.1.0.7\nFolder=Norv21\nExePath=bin/explore\n\n"
              "[Files]\nFile1=libdemo.so\nFile2=bin/explore\n");
    WriteText(image_ / "libdemo.so", "framework library, first build\n");
    WriteText(image_ / "bin" / "explore", "#!/bin/sh\n");
  }
  void TearDown() override {
    for (const char* name : {"NORV_REGISTRY_DIR", "NORV_DRIVE_ROOT", "NORV_LDSOCONF_DIR", "TMPDIR"})
      unsetenv(name);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Drive(char letter) const { return root_ / "drives" / std::string(1, letter); }
  fs::path Installed() const { return Drive('c') / "VM_APPSW" / "Norv21"; }
  fs::path LoaderConfig() const { return root_ / "ld.so.conf.d" / "norv21.conf"; }

  int Register(const char* name, const char* locale, const fs::path& installer,
               uint32_t flags = 0) {
    const std::string plugin = std::string("/opt/plugins/lib") + name + ".so";
    const std::string resources = std::string("/opt/plugins/lib") + name + "_" + locale + ".so";
    return RegisterNorvPlugin(name, locale, flags, plugin.c_str(), resources.c_str(),
                              "/opt/plugins/help.html", "", installer.c_str());
  }

  // A stand-in installer that keeps each run's arguments and response file
  // and exits with the codes listed in "codes", one line per run.
  fs::path RecordingInstaller(const std::string& codes = "") {
    const fs::path folder = root_ / "recording";
    WriteText(folder / "NorvSetup.exe",
              "#!/bin/sh\n"
              "dir=$(dirname \"$0\")\n"
              "n=$(ls \"$dir\" | grep -c '^run-.*\\.args$')\n"
              "printf '%s\\n' \"$@\" > \"$dir/run-$n.args\"\n"
              "for a; do case \"$a\" in -R*) cp \"${a#-R}\" \"$dir/run-$n.response\";; esac; done\n"
              "code=$(sed -n \"$((n + 1))p\" \"$dir/codes\" 2>/dev/null)\n"
              "exit ${code:-0}\n");
    fs::permissions(folder / "NorvSetup.exe", fs::perms::owner_all);
    WriteText(folder / "codes", codes);
    return folder;
  }
  int Runs(const fs::path& recording) const {
    int runs = 0;
    while (fs::exists(recording / ("run-" + std::to_string(runs) + ".args"))) ++runs;
    return runs;
  }
  // Makes the framework look installed, for runs of the recording installer.
  void PretendInstalled() { WriteValue(HKEY_LOCAL_MACHINE, kFramework, "Version", "2.1.0.0"); }

  fs::path root_;
  fs::path image_;
};

std::string InstallResponse(const std::string& folder, bool first) {
  return "[bypassui]\n[bypass_no_write_access]\n[bypass_inuse_message]\n[product_list]\n1\n"
         "[destination_path]\n1,\"" + folder + "\"\n[always_replace_file]\n" +
         (first ? "\"Yes\"" : "\"No\"") + "\n[vmapps_path]\n\"" + folder + "\"\n";
}

TEST_F(SetupTest, RegistrationIsWrittenInThePluginHandlersLayout) {
  ASSERT_EQ(IsNorvInstalled(), 0);
  ASSERT_EQ(Register("Alpha", "enu", image_), 0);

  // The framework as the installer left it.
  char buffer[NORV_SETUP_PATH_SIZE];
  ASSERT_EQ(IsNorvInstalled(), 1);
  ASSERT_EQ(GetNorvVersion(buffer), 1);
  EXPECT_STREQ(buffer, "2.1.0.7");
  ASSERT_EQ(GetNorvPath(buffer), 1);
  EXPECT_EQ(fs::path(buffer), Installed());
  ASSERT_EQ(GetNorvCoreExecutable(buffer), 1);
  EXPECT_EQ(fs::path(buffer), Installed() / "bin" / "explore");
  EXPECT_EQ(ReadText(Installed() / "libdemo.so"), "framework library, first build\n");
  EXPECT_TRUE(fs::exists(Installed() / "NorvSetup.exe"));
  EXPECT_TRUE(fs::exists(ReadValue(HKEY_LOCAL_MACHINE, kFramework, "InstallLog").text));
  EXPECT_NE(ReadValue(HKEY_LOCAL_MACHINE, kFramework, "UninstallString").text.find(" -U "),
            std::string::npos);
  EXPECT_EQ(ReadText(LoaderConfig()), Installed().string() + "\n");

  // The plugin: strings as UTF-16 with their zero, the flags as a number.
  const std::string plugin = std::string(kFramework) + "\\Plugins\\Alpha";
  const Stored dll = ReadValue(HKEY_LOCAL_MACHINE, plugin, "PluginDLL");
  EXPECT_EQ(dll.type, REG_SZ);
  EXPECT_EQ(dll.text, "/opt/plugins/libAlpha.so");
  EXPECT_EQ(dll.data.size(), (dll.text.size() + 1) * 2);
  const Stored flags = ReadValue(HKEY_LOCAL_MACHINE, plugin, "RegFlag");
  EXPECT_EQ(flags.type, REG_DWORD);
  EXPECT_EQ(flags.data, (std::vector<BYTE>{0, 0, 0, 0}));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, plugin + "\\Locale\\enu", "ResourceDLL").text,
            "/opt/plugins/libAlpha_enu.so");
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, plugin + "\\Locale\\enu", "HelpFile").text,
            "/opt/plugins/help.html");
  const Stored messageHelp =
      ReadValue(HKEY_LOCAL_MACHINE, plugin + "\\Locale\\enu", "MessageHelpFile");
  EXPECT_TRUE(messageHelp.found);
  EXPECT_EQ(messageHelp.type, REG_SZ);
  EXPECT_EQ(messageHelp.text, "");

  // A second locale and a second plugin; the exports read them back.
  ASSERT_EQ(Register("Alpha", "deu", image_, 1), 0);
  ASSERT_EQ(Register("Beta", "enu", image_), 0);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, plugin, "RegFlag").data, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_EQ(GetNorvPluginNum(), 2);
  EXPECT_EQ(IsNorvPluginInstalled("alpha", "DEU"), 1);
  EXPECT_EQ(IsNorvPluginInstalled("Alpha", "fra"), 0);
  EXPECT_EQ(IsNorvPluginInstalled("Gamma", nullptr), 0);
  ASSERT_EQ(GetNorvPluginName(0, buffer), 1);
  EXPECT_STREQ(buffer, "Alpha");
  ASSERT_EQ(GetNorvPluginLocale("Alpha", 0, buffer), 1);
  EXPECT_STREQ(buffer, "deu");
  ASSERT_EQ(GetNorvPluginValue("Alpha", "deu", "ResourceDLL", buffer), 1);
  EXPECT_STREQ(buffer, "/opt/plugins/libAlpha_deu.so");
  EXPECT_EQ(GetNorvPluginName(2, buffer), 0);
  // The loader entry is not repeated.
  EXPECT_EQ(ReadText(LoaderConfig()), Installed().string() + "\n");
}

TEST_F(SetupTest, RemovingTheLastPluginUninstallsTheFramework) {
  // A folder with a blank in its name, from the shared-applications setting.
  WriteText(Drive('c') / "Windows" / "vmi.ini", "[VM_APPS]\nPATH=C:\\Shared Apps\n");
  const fs::path installed = Drive('c') / "Shared Apps" / "Norv21";
  ASSERT_EQ(Register("Alpha", "enu", image_), 0);
  ASSERT_EQ(Register("Alpha", "deu", image_), 0);
  ASSERT_EQ(Register("Beta", "enu", image_), 0);
  ASSERT_TRUE(fs::exists(installed / "libdemo.so"));
  const std::string log = ReadValue(HKEY_LOCAL_MACHINE, kFramework, "InstallLog").text;
  ASSERT_TRUE(fs::exists(log));
  // Settings of this user and a key of the framework's wide-text twin.
  WriteValue(HKEY_CURRENT_USER, std::string(kFramework) + "\\Settings", "Font", "Sans");
  WriteValue(HKEY_CURRENT_USER, std::string(kFramework) + " Unicode", "x", "y");
  WriteValue(HKEY_LOCAL_MACHINE, std::string(kFramework) + " Unicode", "x", "y");
  WriteValue(HKEY_CURRENT_USER, "Software\\Other", "kept", "yes");
  // Another user's hive with the same keys (a copy of this user's).
  const fs::path users = root_ / "registry" / "users";
  const fs::path ours = RegistryHivePath(HKEY_CURRENT_USER);
  for (const std::string suffix : {"", "-wal"})
    if (fs::exists(ours.string() + suffix))
      fs::copy_file(ours.string() + suffix, (users / "someone.db").string() + suffix);
  ASSERT_TRUE(KeyExists(HKEY_USERS, std::string("someone\\") + kFramework));
  TerminateCounter terminate;
  ASSERT_TRUE(terminate.IsOpen());

  // One locale at a time: the plugin goes with its last locale.
  EXPECT_EQ(DeregisterNorvPlugin("Alpha", "enu", 0), 1);
  EXPECT_EQ(IsNorvPluginInstalled("Alpha", nullptr), 1);
  EXPECT_EQ(DeregisterNorvPlugin("Alpha", "deu", 0), 1);
  EXPECT_EQ(IsNorvPluginInstalled("Alpha", nullptr), 0);
  EXPECT_EQ(GetNorvPluginNum(), 1);
  EXPECT_EQ(IsNorvInstalled(), 1);
  EXPECT_TRUE(fs::exists(installed / "libdemo.so"));
  EXPECT_EQ(terminate.Count(), 0);

  // The last one takes the framework: files, log, loader entry, keys of
  // the machine and of every user. Explorers are told to close first.
  EXPECT_EQ(DeregisterNorvPlugin("Beta", nullptr, 0), 1);
  EXPECT_EQ(terminate.Count(), 1);
  EXPECT_EQ(IsNorvInstalled(), 0);
  EXPECT_FALSE(fs::exists(installed));
  EXPECT_TRUE(fs::exists(installed.parent_path()));
  EXPECT_FALSE(fs::exists(log));
  EXPECT_FALSE(fs::exists(LoaderConfig()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kFramework) + " Unicode"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kFramework));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(kFramework) + " Unicode"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Other"));
  EXPECT_FALSE(KeyExists(HKEY_USERS, std::string("someone\\") + kFramework));
  EXPECT_FALSE(KeyExists(HKEY_USERS, std::string("someone\\") + kFramework + " Unicode"));
  EXPECT_TRUE(KeyExists(HKEY_USERS, "someone\\Software\\Other"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Velmora"));

  // The next plugin installs it again.
  ASSERT_EQ(Register("Gamma", "enu", image_), 0);
  EXPECT_TRUE(fs::exists(installed / "libdemo.so"));
}

TEST_F(SetupTest, PreviousVersionIsCleanedUpUnlessTheFlagSaysNo) {
  const std::string previous = "Software\\Velmora\\NORV2.0";
  WriteValue(HKEY_LOCAL_MACHINE, previous, "Version", "2.0.0.3");
  WriteValue(HKEY_LOCAL_MACHINE, previous + "\\Plugins\\Alpha\\Locale\\enu", "ResourceDLL", "a");
  WriteValue(HKEY_LOCAL_MACHINE, previous + "\\Plugins\\Other\\Locale\\enu", "ResourceDLL", "o");
  ASSERT_EQ(Register("Alpha", "enu", image_, NORV_SETUP_KEEP_PREVIOUS_VERSION), 0);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, previous + "\\Plugins\\Alpha"));
  ASSERT_EQ(Register("Alpha", "enu", image_), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, previous + "\\Plugins\\Alpha"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, previous));  // "Other" is still there
  ASSERT_EQ(Register("Other", "enu", image_), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, previous));
  EXPECT_EQ(GetNorvPluginNum(), 2);
}

TEST_F(SetupTest, ResponseFilesByteForByte) {
  const fs::path recording = RecordingInstaller();
  PretendInstalled();
  ASSERT_EQ(Register("Alpha", "enu", recording), 0);
  ASSERT_EQ(Register("Beta", "enu", recording), 0);
  ASSERT_EQ(Runs(recording), 2);
  EXPECT_EQ(ReadText(recording / "run-0.response"), InstallResponse("C:\\VM_APPSW", true));
  EXPECT_EQ(ReadText(recording / "run-1.response"), InstallResponse("C:\\VM_APPSW", false));
  const std::string responseFile = (root_ / "tmp" / "NOR19D9.TMP").string();
  EXPECT_EQ(ReadText(recording / "run-0.args"), "-O\n-A\n-V\n-XC\n-R" + responseFile + "\n");
  // The file stays as the last run left it.
  EXPECT_EQ(ReadText(responseFile), InstallResponse("C:\\VM_APPSW", false));
  EXPECT_TRUE(fs::is_directory(Drive('c') / "VM_APPSW"));

  // The drive of the program files folder, then the shared-applications
  // setting.
  WriteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
             "ProgramFilesDir", "E:\\Program Files");
  ASSERT_EQ(Register("Gamma", "enu", recording), 0);
  EXPECT_EQ(ReadText(recording / "run-2.response"), InstallResponse("E:\\VM_APPSW", false));
  WriteText(Drive('c') / "Windows" / "vmi.ini", "[VM_APPS]\r\nPATH=D:\\Shared\\Apps\r\n");
  ASSERT_EQ(Register("Delta", "enu", recording), 0);
  EXPECT_EQ(ReadText(recording / "run-3.response"), InstallResponse("D:\\Shared\\Apps", false));
  EXPECT_TRUE(fs::is_directory(Drive('d') / "Shared" / "Apps"));
  NorvDiskSpace space;
  ASSERT_EQ(GetNorvDiskSpaceRequired(&space), 1);
  EXPECT_STREQ(space.drive, "D:\\");
  EXPECT_EQ(space.spaceRequired, 0u);

  // Copying the image.
  EXPECT_EQ(CopyNorvImage(nullptr, recording.c_str()), 1);
  ASSERT_EQ(CopyNorvImage("F:\\Image", recording.c_str()), 0);
  EXPECT_EQ(ReadText(recording / "run-4.response"),
            "[bypassui]\n[destination_path]\n1,\"F:\\Image\"\n[always_replace_file]\n\"Yes\"\n"
            "[vmapps_path]\n\"C:\\VM_APPSW\"\n");
  EXPECT_EQ(ReadText(recording / "run-4.args"), "-I" + recording.string() +
                                                    "/cpyimage.isc\n-O\n-A\n-V\n-XC\n-R" +
                                                    responseFile + "\n");
}

TEST_F(SetupTest, InstallerResultsDecideTheRegistration) {
  TerminateCounter terminate;
  ASSERT_TRUE(terminate.IsOpen());
  // Files in use: the explorers are told to close and the installer runs
  // once more.
  fs::path recording = RecordingInstaller("7\n0\n");
  PretendInstalled();
  EXPECT_EQ(Register("Alpha", "enu", recording), 0);
  EXPECT_EQ(Runs(recording), 2);
  EXPECT_EQ(terminate.Count(), 1);
  EXPECT_EQ(IsNorvPluginInstalled("Alpha", "enu"), 1);

  // Still in use the second time: registered all the same, and said so.
  recording = RecordingInstaller("7\n7\n");
  fs::remove_all(recording / "run-0.args"), fs::remove_all(recording / "run-1.args");
  EXPECT_EQ(Register("Beta", "enu", recording), 7);
  EXPECT_EQ(terminate.Count(), 2);
  EXPECT_EQ(IsNorvPluginInstalled("Beta", "enu"), 1);

  // Any other failure registers nothing; codes are taken modulo 16.
  recording = RecordingInstaller("19\n");
  fs::remove_all(recording / "run-0.args"), fs::remove_all(recording / "run-1.args");
  EXPECT_EQ(Register("Gamma", "enu", recording), 3);
  EXPECT_EQ(IsNorvPluginInstalled("Gamma", nullptr), 0);

  // No installer at all: fine while the framework is there, 13 otherwise.
  const fs::path empty = root_ / "empty";
  fs::create_directories(empty);
  EXPECT_EQ(Register("Delta", "enu", empty), NORV_SETUP_NO_INSTALLER);
  EXPECT_EQ(IsNorvPluginInstalled("Delta", "enu"), 1);
  ASSERT_TRUE(fs::remove_all(root_ / "registry") > 0);
  EXPECT_EQ(Register("Delta", "enu", empty), NORV_SETUP_NO_INSTALLER);
  EXPECT_EQ(IsNorvInstalled(), 0);
  EXPECT_EQ(GetNorvPluginNum(), 0);

  // An installer that succeeds without installing anything.
  recording = RecordingInstaller("0\n");
  fs::remove_all(recording / "run-0.args");
  EXPECT_EQ(Register("Delta", "enu", recording), NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(IsNorvInstalled(), 0);
}

TEST_F(SetupTest, BadInputIsRefusedAndChangesNothing) {
  const fs::path recording = RecordingInstaller();
  PretendInstalled();
  // Locales of other lengths.
  EXPECT_EQ(Register("Alpha", "en", recording), NORV_SETUP_BAD_LOCALE);
  EXPECT_EQ(RegisterNorvPlugin("Alpha", nullptr, 0, "a", "b", "", "", recording.c_str()),
            NORV_SETUP_BAD_LOCALE);
  EXPECT_EQ(Register("Alpha", "engl", recording), NORV_SETUP_BAD_LOCALE);
  // Values that do not fit a path buffer are refused, not cut.
  const std::string longest(NORV_SETUP_PATH_SIZE - 1, 'x');
  const std::string tooLong(NORV_SETUP_PATH_SIZE, 'x');
  EXPECT_EQ(RegisterNorvPlugin("Alpha", "enu", 0, tooLong.c_str(), "r", "", "",
                               recording.c_str()),
            NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(RegisterNorvPlugin("Alpha", "enu", 0, "p", "r", "", tooLong.c_str(),
                               recording.c_str()),
            NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(RegisterNorvPlugin(tooLong.c_str(), "enu", 0, "p", "r", "", "", recording.c_str()),
            NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(RegisterNorvPlugin("A\\B", "enu", 0, "p", "r", "", "", recording.c_str()),
            NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(RegisterNorvPlugin("", "enu", 0, "p", "r", "", "", recording.c_str()),
            NORV_SETUP_REGISTRY_FAILED);
  EXPECT_EQ(Runs(recording), 0);
  EXPECT_EQ(GetNorvPluginNum(), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kFramework) + "\\Plugins"));

  // A shared-applications setting too long for the response file.
  WriteText(Drive('c') / "Windows" / "vmi.ini", "[VM_APPS]\nPATH=C:\\" + longest + "\n");
  EXPECT_EQ(Register("Alpha", "enu", recording), NORV_SETUP_RESPONSE_FAILED);
  EXPECT_EQ(Runs(recording), 0);
  fs::remove(Drive('c') / "Windows" / "vmi.ini");

  // The longest value fits exactly; one more is refused with an empty buffer.
  char buffer[NORV_SETUP_PATH_SIZE];
  WriteValue(HKEY_LOCAL_MACHINE, kFramework, "Version", longest);
  EXPECT_EQ(GetNorvVersion(buffer), 1);
  EXPECT_EQ(std::string(buffer), longest);
  WriteValue(HKEY_LOCAL_MACHINE, kFramework, "Version", tooLong);
  EXPECT_EQ(GetNorvVersion(buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetNorvPath(buffer), 0);  // missing
  EXPECT_EQ(GetNorvVersion(nullptr), 0);
  EXPECT_EQ(GetNorvDiskSpaceRequired(nullptr), 0);

  // Removing with a name that names no single plugin touches nothing.
  ASSERT_EQ(Register("Alpha", "enu", recording), 0);
  EXPECT_EQ(DeregisterNorvPlugin("", nullptr, 0), 0);
  EXPECT_EQ(DeregisterNorvPlugin(nullptr, nullptr, 0), 0);
  EXPECT_EQ(DeregisterNorvPlugin("Alpha\\Locale", nullptr, 0), 0);
  EXPECT_EQ(IsNorvPluginInstalled("Alpha", "enu"), 1);

  // The installer refuses a response file with a line too long for it.
  WriteText(root_ / "long.rsp",
            "[bypassui]\n[destination_path]\n1,\"C:\\" + longest + "\"\n");
  ProcessInfo process;
  const std::string installer = (image_ / "NorvSetup.exe").string();
  ASSERT_EQ(StartProcess({installer, "-R" + (root_ / "long.rsp").string()}, {}, &process),
            ERROR_SUCCESS);
  WaitForProcess(process, INFINITE);
  DWORD code = 0;
  GetProcessExitCode(process, &code);
  EXPECT_EQ(code, 2u);
  EXPECT_FALSE(fs::exists(Drive('c') / "x"));
}

TEST_F(SetupTest, PrerequisitesFollowTheRecordedBrowserVersion) {
  EXPECT_EQ(CheckNorvPreReqs(), 0);  // nothing recorded: the framework brings its own
  const char* key = "SOFTWARE\\Microsoft\\Internet Explorer";
  WriteValue(HKEY_LOCAL_MACHINE, key, "Version", "4.72.3110.8");
  EXPECT_EQ(CheckNorvPreReqs(), NORV_SETUP_OLD_BROWSER);
  const fs::path recording = RecordingInstaller();
  EXPECT_EQ(Register("Alpha", "enu", recording), NORV_SETUP_OLD_BROWSER);
  EXPECT_EQ(Runs(recording), 0);
  WriteValue(HKEY_LOCAL_MACHINE, key, "Version", "11.0.9600.0");
  EXPECT_EQ(CheckNorvPreReqs(), 0);
}

// A running explorer: a child that maps a framework file and closes on the
// message. Started and stopped by its owner.
class Explorer {
 public:
  explicit Explorer(const fs::path& file) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(EXPLORER_STANDIN, EXPLORER_STANDIN, file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char text[16] = {};
    ready_ = pid_ > 0 && read(out[0], text, sizeof text - 1) > 0 && std::string(text) == "ready\n";
    close(out[0]);
  }
  ~Explorer() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Ready() const { return ready_; }
  bool Running() {
    if (ended_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    ended_ = true;
    status_ = status;
    return false;
  }
  // True when it ended because it was told to close.
  bool Closed() {
    for (int i = 0; i < 50 && Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
  bool ended_ = false;
  int status_ = 0;
};

TEST_F(SetupTest, RunningExplorersAreClosedOnlyBeforeTheirFilesAreReplaced) {
  ASSERT_EQ(InstallNorv(image_.c_str()), 0);
  ASSERT_EQ(ReadText(Installed() / "libdemo.so"), "framework library, first build\n");

  // A new build of the image while an explorer uses the installed one. The
  // first plugin replaces files, so the explorer is closed before.
  WriteText(image_ / "libdemo.so", "framework library, second build\n");
  {
    Explorer explorer(Installed() / "libdemo.so");
    ASSERT_TRUE(explorer.Ready());
    ASSERT_EQ(Register("Alpha", "enu", image_), 0);
    EXPECT_TRUE(explorer.Closed());
  }
  EXPECT_EQ(ReadText(Installed() / "libdemo.so"), "framework library, second build\n");

  // Later plugins replace nothing: a running explorer keeps working.
  WriteText(image_ / "libdemo.so", "framework library, third build\n");
  Explorer explorer(Installed() / "libdemo.so");
  ASSERT_TRUE(explorer.Ready());
  TerminateCounter terminate;
  ASSERT_EQ(Register("Beta", "enu", image_), 0);
  ASSERT_EQ(Register("Beta", "deu", image_), 0);
  EXPECT_EQ(terminate.Count(), 0);
  EXPECT_TRUE(explorer.Running());
  EXPECT_EQ(ReadText(Installed() / "libdemo.so"), "framework library, second build\n");
  EXPECT_EQ(IsNorvPluginInstalled("Beta", "deu"), 1);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new MessageFolder);
  return RUN_ALL_TESTS();
}
