// The framework setup library: checks, installs and locates the framework,
// registers and removes plugins in the layout the plugin handler reads, and
// uninstalls the framework with its last plugin. The framework installer is
// the separate program "NorvSetup.exe", driven by response files.
#include "norv/norv21stp.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "response_file.h"
#include "search_path.h"
#include "setup_keys.h"

namespace fs = std::filesystem;
using namespace plat;
using namespace norvsetup;

namespace {

constexpr char kInstaller[] = "NorvSetup.exe";
constexpr char kTerminate21[] = "NORV2.1_Terminate";
constexpr char kTerminate20[] = "NORV2.0_Terminate";
constexpr int kInstallerBusy = 7;
constexpr unsigned kResponseUnique = 6617;
constexpr uint32_t kDiskSpaceRequired = 1300;

// One version of the framework: its key and its closing message.
struct Version {
  const char* key;
  const char* terminate;
};
constexpr Version kCurrent{kFrameworkKey, kTerminate21};
constexpr Version kPrevious{kPreviousKey, kTerminate20};

std::string PluginsKey(const Version& v) { return std::string(v.key) + kPluginsSubkey; }
std::string PluginKey(const Version& v, const std::string& name) {
  return PluginsKey(v) + "\\" + name;
}
std::string LocaleKey(const Version& v, const std::string& name, const std::string& locale) {
  return PluginKey(v, name) + "\\Locale\\" + locale;
}

// Text arguments must fit a path buffer; null reads as empty.
bool Fits(const char* text) { return !text || std::strlen(text) <= kMaxText; }
std::string Text(const char* text) { return text ? text : ""; }

// A name that names exactly one key below "Plugins" (or "Locale").
bool UsableKeyName(const char* name) {
  return name && *name && Fits(name) && !std::strchr(name, '\\');
}

int PluginCount(const Version& v) {
  Key plugins(HKEY_LOCAL_MACHINE, PluginsKey(v), KEY_READ);
  return plugins.IsOpen() ? static_cast<int>(plugins.SubKeys().size()) : 0;
}

// Copies a string value of the framework key into a caller's path buffer.
int CopyFrameworkValue(const char* valueName, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  std::string value;
  if (!Key(HKEY_LOCAL_MACHINE, kFrameworkKey, KEY_READ).ReadString(valueName, &value)) return 0;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return 1;
}

int CopyOut(const std::string& value, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  if (value.size() > kMaxText) return 0;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return 1;
}

// The drive letter of "ProgramFilesDir", "C" when it names none.
char ProgramFilesDrive() {
  std::string folder;
  Key(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ)
      .ReadString("ProgramFilesDir", &folder, 4096);
  if (folder.size() >= 2 && folder[1] == ':' && std::isalpha(static_cast<unsigned char>(folder[0])))
    return folder[0];
  return 'C';
}

// The shared-applications folder: "PATH" of section "VM_APPS" in "vmi.ini"
// in the Windows folder, else "<drive of ProgramFilesDir>:\VM_APPSW". False
// when the configured folder does not fit a path buffer.
bool SharedApplicationsFolder(std::string* folder) {
  const std::string ini = WindowsPathToLinux("C:\\Windows\\vmi.ini");
  std::error_code error;
  if (fs::is_regular_file(ini, error)) {
    std::string content;
    if (FILE* file = std::fopen(ini.c_str(), "rb")) {
      char chunk[4096];
      size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
      std::fclose(file);
    }
    std::string value;
    if (ProfileDocument::Parse(content).Get("VM_APPS", "PATH", &value) && !value.empty()) {
      if (value.size() > kMaxText) return false;
      *folder = value;
      return true;
    }
  }
  *folder = std::string(1, ProgramFilesDrive()) + ":\\VM_APPSW";
  return true;
}

// The response file's name, as GetTempFileName makes it from the prefix's
// first three characters and the unique number in hexadecimal.
std::string ResponseFilePath() {
  char name[32];
  std::snprintf(name, sizeof name, "NOR%X.TMP", kResponseUnique);
  return TempPath() + name;
}

// The response file, held open and locked while the installer reads it:
// its name is fixed, so installers started at the same time by several
// processes take turns instead of reading each other's answers. An
// existing file is only reused when it is a plain file of ours: a link
// planted in a shared temporary folder is refused.
class ResponseFile {
 public:
  ResponseFile(const std::string& path, const std::string& content) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct stat st;
    if (::flock(fd_, LOCK_EX) != 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || st.st_nlink != 1 || ::ftruncate(fd_, 0) != 0) {
      return;
    }
    size_t done = 0;
    while (done < content.size()) {
      ssize_t n = ::write(fd_, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
    ok_ = ::fsync(fd_) == 0;
  }
  ~ResponseFile() {
    if (fd_ >= 0) ::close(fd_);  // and with it the lock
  }
  ResponseFile(const ResponseFile&) = delete;
  ResponseFile& operator=(const ResponseFile&) = delete;
  bool Written() const { return ok_; }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

void Broadcast(const char* messageName) {
  if (UINT id = RegisterWindowMessage(std::string_view(messageName)))
    BroadcastMessage(id, 0, 0);
}

// The installer's folder: the given one, else this library's.
std::string InstallerFolder(const char* given) {
  if (given && *given) return WindowsPathToLinux(given);
  std::string folder = FolderOf(ModulePath(reinterpret_cast<const void*>(&InstallerFolder)));
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// Starts the installer once: found by the system's search with the current
// folder unchanged, else in the installer folder, else in its "NORV"
// subfolder (each then the child's current folder). -1 when none starts.
int RunInstallerOnce(const std::vector<std::string>& arguments, const std::string& folder) {
  struct Attempt {
    std::string program;
    std::string directory;
  };
  const std::vector<Attempt> attempts{{kInstaller, ""},
                                      {folder + "/" + kInstaller, folder},
                                      {folder + "/NORV/" + kInstaller, folder + "/NORV"}};
  for (const auto& attempt : attempts) {
    std::vector<std::string> argv{attempt.program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessOptions options;
    options.workingDirectory = attempt.directory;
    ProcessInfo process;
    if (StartProcess(argv, options, &process) != ERROR_SUCCESS) continue;
    WaitForProcess(process, INFINITE);
    DWORD code = 0;
    GetProcessExitCode(process, &code);
    ReleaseProcess(process);
    return static_cast<int>(code % 16);
  }
  return -1;
}

// Writes the response file and runs the installer with it; when the
// installer finds files in use, closes the running explorers and runs it
// once more.
int RunInstaller(const std::string& response, const char* installerFolder, bool copyImage) {
  if (!Fits(installerFolder)) return NORV_SETUP_NO_INSTALLER;
  const std::string folder = InstallerFolder(installerFolder);
  const std::string path = ResponseFilePath();
  if (path.size() > kMaxText) return NORV_SETUP_RESPONSE_FAILED;
  ResponseFile file(path, response);
  if (!file.Written()) return NORV_SETUP_RESPONSE_FAILED;
  std::vector<std::string> arguments;
  if (copyImage) arguments.push_back("-I" + folder + "/cpyimage.isc");
  for (const char* option : {"-O", "-A", "-V", "-XC"}) arguments.push_back(option);
  arguments.push_back("-R" + path);

  int result = RunInstallerOnce(arguments, folder);
  if (result == kInstallerBusy) {
    Broadcast(kTerminate21);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    result = RunInstallerOnce(arguments, folder);
  }
  return result < 0 ? NORV_SETUP_NO_INSTALLER : result;
}

// The install run shared by registering and InstallNorv (steps 3 and 4
// up to the registration): <0 to go on, else the result to return.
int InstallFramework(const char* installerFolder) {
  std::string folder;
  if (!SharedApplicationsFolder(&folder)) return NORV_SETUP_RESPONSE_FAILED;
  std::error_code ignored;
  fs::create_directories(WindowsPathToLinux(folder), ignored);
  if (!FitsResponseLine(folder)) return NORV_SETUP_RESPONSE_FAILED;
  OSVersionInfo os;
  GetVersionEx(&os);
  const std::string response = InstallResponseText(
      folder, os.platformId == VER_PLATFORM_WIN32_NT, PluginCount(kCurrent) == 0);
  const int result = RunInstaller(response, installerFolder, false);
  if (result == NORV_SETUP_NO_INSTALLER && !IsNorvInstalled()) return result;
  if (result != 0 && result != kInstallerBusy && result != NORV_SETUP_NO_INSTALLER) return result;
  if (!IsNorvInstalled()) return NORV_SETUP_REGISTRY_FAILED;
  return -result - 1;
}

// Runs the framework's uninstaller and removes its keys, for this user and
// every user. An uninstaller that cannot run (or fails) leaves the framework
// key in place, so that the framework still reads as installed and can be
// removed later: its files are still there.
void UninstallFramework(const Version& v) {
  const std::string unicodeKey = std::string(v.key) + kUnicodeSuffix;
  bool removed = true;
  if (KeyExists(HKEY_LOCAL_MACHINE, v.key)) {
    Broadcast(v.terminate);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // Both are read first: the uninstaller removes the values it wrote.
    Key framework(HKEY_LOCAL_MACHINE, v.key, KEY_READ);
    std::string uninstall;
    std::string log;
    framework.ReadString("InstallLog", &log);
    if (framework.ReadString("UninstallString", &uninstall) && !uninstall.empty()) {
      ProcessOptions options;
      options.detached = true;
      ProcessInfo process;
      DWORD code = 1;
      if (StartProcess(uninstall, options, &process) == ERROR_SUCCESS) {
        WaitForProcess(process, INFINITE);
        GetProcessExitCode(process, &code);
        ReleaseProcess(process);
      }
      removed = code == 0;
    } else if (framework.ReadString("UninstallString", &uninstall, 1 << 20)) {
      removed = false;  // present but too long to run
    }
    if (removed && !log.empty())
      ::unlink(WindowsPathToLinux(log).c_str());
  }
  DeleteTree(HKEY_LOCAL_MACHINE, PluginsKey(v));
  if (removed) DeleteTree(HKEY_LOCAL_MACHINE, v.key);
  DeleteTree(HKEY_LOCAL_MACHINE, unicodeKey);
  std::vector<std::string> users;
  RegListSubKeys(HKEY_USERS, &users);
  for (const auto& user : users) {
    DeleteTree(HKEY_USERS, user + "\\" + v.key);
    DeleteTree(HKEY_USERS, user + "\\" + unicodeKey);
  }
}

void Deregister(const Version& v, const std::string& name, const char* locale) {
  if (locale) {
    DeleteTree(HKEY_LOCAL_MACHINE, LocaleKey(v, name, locale));
    Key locales(HKEY_LOCAL_MACHINE, PluginKey(v, name) + "\\Locale", KEY_READ);
    if (locales.SubKeys().empty()) DeleteTree(HKEY_LOCAL_MACHINE, PluginKey(v, name));
  } else {
    DeleteTree(HKEY_LOCAL_MACHINE, PluginKey(v, name));
  }
  if (PluginCount(v) == 0) UninstallFramework(v);
}

// The previous version is only cleaned up where it left something behind.
void DeregisterPrevious(const std::string& name, const char* locale) {
  if (!KeyExists(HKEY_LOCAL_MACHINE, kPreviousKey)) return;
  Deregister(kPrevious, name, locale);
}

}  // namespace

extern "C" {

int IsNorvInstalled(void) { return KeyExists(HKEY_LOCAL_MACHINE, kFrameworkKey) ? 1 : 0; }

int GetNorvVersion(char* buffer) { return CopyFrameworkValue("Version", buffer); }
int GetNorvPath(char* buffer) { return CopyFrameworkValue("Path", buffer); }
int GetNorvCoreExecutable(char* buffer) { return CopyFrameworkValue("ExePath", buffer); }

int GetNorvPluginNum(void) { return PluginCount(kCurrent); }

int IsNorvPluginInstalled(const char* name, const char* locale) {
  if (!UsableKeyName(name)) return 0;
  if (locale) {
    if (!UsableKeyName(locale)) return 0;
    return KeyExists(HKEY_LOCAL_MACHINE, LocaleKey(kCurrent, name, locale)) ? 1 : 0;
  }
  return KeyExists(HKEY_LOCAL_MACHINE, PluginKey(kCurrent, name)) ? 1 : 0;
}

int CheckNorvPreReqs(void) {
  OSVersionInfo os;
  GetVersionEx(&os);
  if (os.platformId == VER_PLATFORM_WIN32_NT && os.majorVersion == 3) return NORV_SETUP_OLD_SYSTEM;
  // The framework brings its own page engine; a browser version recorded
  // in the registry is still honoured.
  std::string version;
  if (!Key(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer", KEY_READ)
           .ReadString("Version", &version)) {
    return 0;
  }
  return std::atoi(version.c_str()) > 4 ? 0 : NORV_SETUP_OLD_BROWSER;
}

int CopyNorvImage(const char* destination, const char* installerFolder) {
  if (!destination) return 1;
  if (!FitsResponseLine(destination)) return NORV_SETUP_RESPONSE_FAILED;
  return RunInstaller(ImageCopyResponseText(destination), installerFolder, true);
}

int GetNorvDiskSpaceRequired(NorvDiskSpace* record) {
  if (!record) return 0;
  std::string folder;
  char drive = ProgramFilesDrive();
  if (SharedApplicationsFolder(&folder) && folder.size() >= 2 && folder[1] == ':' &&
      std::isalpha(static_cast<unsigned char>(folder[0]))) {
    drive = folder[0];
  }
  std::snprintf(record->drive, sizeof record->drive, "%c:\\", drive);
  record->spaceRequired = IsNorvInstalled() ? 0 : kDiskSpaceRequired;
  return 1;
}

int InstallNorv(const char* installerFolder) {
  if (int prerequisites = CheckNorvPreReqs()) return prerequisites;
  const int result = InstallFramework(installerFolder);
  return result >= 0 ? result : -result - 1;
}

int RegisterNorvPlugin(const char* name, const char* locale, uint32_t flags,
                       const char* pluginLibrary, const char* resourceLibrary,
                       const char* helpFile, const char* messageHelpFile,
                       const char* installerFolder) {
  if (!locale || std::strlen(locale) != 3) return NORV_SETUP_BAD_LOCALE;
  // Everything is checked before anything changes: a value that would not
  // fit is refused, never cut.
  if (!UsableKeyName(name) || !UsableKeyName(locale) || !Fits(pluginLibrary) ||
      !Fits(resourceLibrary) || !Fits(helpFile) || !Fits(messageHelpFile)) {
    return NORV_SETUP_REGISTRY_FAILED;
  }
  if (int prerequisites = CheckNorvPreReqs()) return prerequisites;
  if (!(flags & NORV_SETUP_KEEP_PREVIOUS_VERSION)) DeregisterPrevious(name, locale);

  int result = InstallFramework(installerFolder);
  if (result >= 0) return result;
  result = -result - 1;

  // A failed registration takes back what it added, and only that: an
  // earlier registration of the plugin (other locales) stays.
  const std::string pluginPath = PluginKey(kCurrent, name);
  const std::string localePath = LocaleKey(kCurrent, name, locale);
  const bool hadPlugin = KeyExists(HKEY_LOCAL_MACHINE, pluginPath);
  const bool hadLocale = KeyExists(HKEY_LOCAL_MACHINE, localePath);
  Key plugin;
  Key localeKey;
  const bool written =
      Key::Create(HKEY_LOCAL_MACHINE, pluginPath, &plugin) &&
      plugin.WriteString("PluginDLL", Text(pluginLibrary)) &&
      plugin.WriteNumber("RegFlag", flags) &&
      Key::Create(HKEY_LOCAL_MACHINE, localePath, &localeKey) &&
      localeKey.WriteString("ResourceDLL", Text(resourceLibrary)) &&
      localeKey.WriteString("HelpFile", Text(helpFile)) &&
      localeKey.WriteString("MessageHelpFile", Text(messageHelpFile));
  if (!written) {
    if (!hadPlugin) DeleteTree(HKEY_LOCAL_MACHINE, pluginPath);
    else if (!hadLocale) DeleteTree(HKEY_LOCAL_MACHINE, localePath);
    return NORV_SETUP_REGISTRY_FAILED;
  }
  std::string path;
  if (Key(HKEY_LOCAL_MACHINE, kFrameworkKey, KEY_READ).ReadString("Path", &path) && !path.empty())
    AddToSearchPath(WindowsPathToLinux(path));
  return result;
}

int DeregisterNorvPlugin(const char* name, const char* locale, uint32_t flags) {
  if (!UsableKeyName(name) || (locale && !UsableKeyName(locale))) return 0;
  if (!(flags & NORV_SETUP_KEEP_PREVIOUS_VERSION)) DeregisterPrevious(name, locale);
  Deregister(kCurrent, name, locale);
  return 1;
}

int GetNorvPluginName(int index, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  const auto names = Key(HKEY_LOCAL_MACHINE, PluginsKey(kCurrent), KEY_READ).SubKeys();
  if (index < 0 || static_cast<size_t>(index) >= names.size()) return 0;
  return CopyOut(names[index], buffer);
}

int GetNorvPluginLocale(const char* name, int index, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  if (!UsableKeyName(name)) return 0;
  const auto names =
      Key(HKEY_LOCAL_MACHINE, PluginKey(kCurrent, name) + "\\Locale", KEY_READ).SubKeys();
  if (index < 0 || static_cast<size_t>(index) >= names.size()) return 0;
  return CopyOut(names[index], buffer);
}

int GetNorvPluginValue(const char* name, const char* locale, const char* valueName,
                       char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  if (!UsableKeyName(name) || !valueName || (locale && !UsableKeyName(locale))) return 0;
  const std::string path = locale ? LocaleKey(kCurrent, name, locale) : PluginKey(kCurrent, name);
  std::string value;
  if (!Key(HKEY_LOCAL_MACHINE, path, KEY_READ).ReadString(valueName, &value)) return 0;
  return CopyOut(value, buffer);
}

}  // extern "C"
