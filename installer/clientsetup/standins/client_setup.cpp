// Stand-ins of the backup client's own programs, one program under two names:
//
// "setup.exe", the client set-up. It takes the command line the start-up
// setup computes:
//   setup.exe /SMS /w /s /v"/qn REINSTALLMODE=... PROP=\"value\" ... /l*v \"log\" "
// installs the client into INSTALLDIR (a copy of itself as "qvclient.exe"
// and "client.ini" with the user's settings), copies the settings and the
// user database, installs the explorer framework from the package through
// its installer "Norv2.1/NorvSetup.exe" when the package carries it (into
// INSTALLDIR's "Norv21" folder, with a response file of its own when the
// package has no "norv.rsp"), writes
// "Version" and "InstallDir" of HKEY_LOCAL_MACHINE
// "SOFTWARE\Velmora\Orbclient\CurrentVersion" and its log, and exits with 0,
// 3010 (restart needed) or an installer error code. For tests,
// NORV_CLIENT_SETUP_RESULT=3010 asks for a restart, another number fails
// with that code before anything is installed.
//
// "qvclient.exe", the installed client: "-login" appends one line to
// "login.txt" beside it and exits with 0.
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "msi_properties.h"
#include "response_file.h"

namespace fs = std::filesystem;

namespace {

using zelsetup::ParseProperties;
using zelsetup::Properties;

constexpr const char* kClientKey = "SOFTWARE\\Velmora\\Orbclient\\CurrentVersion";
constexpr const char* kVersion = "11.1";
constexpr const char* kDefaultInstallDir = "C:\\Program Files\\Velmora\\Orbclient";

std::FILE* gLog = nullptr;

void Log(const std::string& line) {
  if (gLog) {
    std::fprintf(gLog, "%s\n", line.c_str());
    std::fflush(gLog);
  }
}

std::string FileName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Get(const Properties& p, const char* name, const std::string& fallback = "") {
  auto it = p.values.find(name);
  return it == p.values.end() ? fallback : it->second;
}

bool SetValue(const char* name, const std::string& value) {
  plat::HKEY key = nullptr;
  if (plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, kClientKey, 0, nullptr, 0,
                            plat::KEY_ALL_ACCESS, nullptr, &key, nullptr) != plat::ERROR_SUCCESS)
    return false;
  bool ok = plat::RegSetValueExA(key, name, 0, plat::REG_SZ,
                                 reinterpret_cast<const plat::BYTE*>(value.c_str()),
                                 static_cast<plat::DWORD>(value.size() + 1)) == plat::ERROR_SUCCESS;
  plat::RegCloseKey(key);
  return ok;
}

std::string RegText(const char* name) {
  std::string value;
  return plat::RegReadTextA(plat::HKEY_LOCAL_MACHINE, kClientKey, name, 261, &value) ? value : "";
}

// Owns a file descriptor: closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A response file of this set-up's own, for a package that carries none:
// removed when the installer has read it.
class OwnResponseFile {
 public:
  ~OwnResponseFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Writes the answers for installing the framework below `destination`
  // into a new file in the temporary directory.
  bool Write(const std::string& destination) {
    if (!norvsetup::FitsResponseLine(destination)) {
      Log("Framework folder too long for a response file: " + destination);
      return false;
    }
    std::string pattern = plat::TempPath();
    if (!pattern.empty() && pattern.back() != '/') pattern += '/';
    pattern += "NORVXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Descriptor file(::mkstemp(name.data()));
    if (file.get() < 0) {
      Log("Cannot create a response file in " + plat::TempPath() + ": " + std::strerror(errno));
      return false;
    }
    path_ = name.data();
    const std::string text = norvsetup::InstallResponseText(destination, true, true);
    bool ok = ::write(file.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = file.Close() && ok;
    if (!ok) Log("Cannot write the response file " + path_);
    return ok;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs the framework installer and waits for it; what it reports on its
// error stream goes into this set-up's log. Returns its exit code, or -1
// when it cannot be started.
int RunInstaller(const std::vector<std::string>& argv, const std::string& folder) {
  Log("Framework: " + plat::JoinCommandLine(argv));
  if (gLog) {
    std::fflush(gLog);
    std::fflush(stderr);
  }
  Descriptor savedError(gLog ? ::dup(STDERR_FILENO) : -1);
  if (savedError.get() >= 0) ::dup2(::fileno(gLog), STDERR_FILENO);
  plat::ProcessOptions options;
  options.workingDirectory = folder;
  options.searchPath = false;
  plat::ProcessInfo process;
  const plat::LONG started = plat::StartProcess(argv, options, &process);
  plat::DWORD code = 0;
  if (started == plat::ERROR_SUCCESS) {
    plat::WaitForProcess(process, plat::INFINITE);
    plat::GetProcessExitCode(process, &code);
    plat::ReleaseProcess(process);
  }
  if (savedError.get() >= 0) ::dup2(savedError.get(), STDERR_FILENO);
  if (started != plat::ERROR_SUCCESS) {
    Log("Framework installer cannot be started (error " + std::to_string(started) + ")");
    return -1;
  }
  return static_cast<int>(code);
}

// The framework from the package, through its own installer, into the
// "Norv21" folder of the client's installation folder. The package's own
// response file "norv.rsp" is used when it has one (a package keeps an
// empty entry for a file the server lacks); otherwise this set-up answers.
int InstallFramework(const std::string& source, const std::string& installDir) {
  std::string folder = source + "/Norv2.1";
  std::string installer = folder + "/NorvSetup.exe";
  std::error_code ec;
  if (!fs::is_regular_file(installer, ec) || fs::file_size(installer, ec) == 0) {
    Log("Framework installer not in the package; framework not installed: " + installer);
    return 0;
  }
  chmod(installer.c_str(), 0755);
  std::string response = folder + "/norv.rsp";
  OwnResponseFile own;
  if (!fs::is_regular_file(response, ec) || fs::file_size(response, ec) == 0) {
    if (!own.Write(installDir)) return 1603;
    response = own.path();
    Log("Framework response file written for " + installDir + ": " + response);
  }
  int code = RunInstaller({installer, "-O", "-A", "-V", "-XC", "-R" + response}, folder);
  Log("Framework installer returned " + std::to_string(code));
  return code == 0 ? 0 : 1603;
}

void CopyTree(const std::string& from, const std::string& to, bool keepExisting) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return;
  fs::create_directories(to, ec);
  auto options = fs::copy_options::recursive |
                 (keepExisting ? fs::copy_options::skip_existing
                               : fs::copy_options::overwrite_existing);
  fs::copy(from, to, options, ec);
  if (ec) Log("Copy " + from + " to " + to + " failed: " + ec.message());
}

int ClientSetup(int argc, char** argv, const std::string& self) {
  std::string propertyText;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "/v", 2) == 0) propertyText = argv[i] + 2;
  Properties p = ParseProperties(propertyText);
  if (!p.logFile.empty()) {
    // A new log, appended to: the framework installer writes into it too.
    if (std::FILE* fresh = std::fopen(p.logFile.c_str(), "w")) std::fclose(fresh);
    gLog = std::fopen(p.logFile.c_str(), "a");
  }
  Log("Halvorn Client set-up " + std::string(kVersion));
  std::string commandLine;
  for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
  Log("Command line: " + commandLine);

  if (const char* forced = std::getenv("NORV_CLIENT_SETUP_RESULT")) {
    int code = std::atoi(forced);
    if (code != 0 && code != 3010) {
      Log("Installation failed with " + std::to_string(code));
      return code;
    }
  }
  const bool reinstall = !p.values.count("MYSOURCEDIR");
  std::string source = reinstall ? plat::FolderOf(self) : plat::WindowsPathToLinux(Get(p, "MYSOURCEDIR"));
  while (source.size() > 1 && source.back() == '/') source.pop_back();
  std::string installDir = Get(p, "INSTALLDIR");
  if (installDir.empty()) installDir = RegText("InstallDir");
  if (installDir.empty()) installDir = kDefaultInstallDir;
  installDir = plat::WindowsPathToLinux(installDir);
  while (installDir.size() > 1 && installDir.back() == '/') installDir.pop_back();
  std::string databaseDir = Get(p, "DATABASEDIR");
  databaseDir = databaseDir.empty() ? installDir + "/Data" : plat::WindowsPathToLinux(databaseDir);
  Log("Source: " + source);
  Log("INSTALLDIR: " + installDir);
  Log("DATABASEDIR: " + databaseDir);

  std::error_code ec;
  fs::create_directories(installDir, ec);
  fs::create_directories(databaseDir, ec);
  if (ec) {
    Log("Cannot create the folders: " + ec.message());
    return 1603;
  }
  std::string client = installDir + "/qvclient.exe";
  fs::copy_file(self, client + ".new", fs::copy_options::overwrite_existing, ec);
  if (ec || chmod((client + ".new").c_str(), 0755) != 0 ||
      std::rename((client + ".new").c_str(), client.c_str()) != 0) {
    Log("Cannot install " + client);
    return 1603;
  }
  Log("Installed " + client);
  if (!reinstall) {
    std::string ini = installDir + "/client.ini";
    const bool scheduler = !p.values.count("ORBSCHEDULE");
    bool ok = plat::WritePrivateProfileStringA("Client", "OrbUser", Get(p, "ORBUSER").c_str(), ini.c_str()) &&
              plat::WritePrivateProfileStringA("Client", "WinUser", Get(p, "WINUSER").c_str(), ini.c_str()) &&
              plat::WritePrivateProfileStringA("Client", "Scheduler", scheduler ? "yes" : "no", ini.c_str()) &&
              plat::WritePrivateProfileStringA("Client", "Features", Get(p, "ADDLOCAL").c_str(), ini.c_str()) &&
              plat::WritePrivateProfileStringA("Client", "InstallLevel", Get(p, "INSTALLLEVEL").c_str(), ini.c_str()) &&
              plat::WritePrivateProfileStringA("Client", "DatabaseDir", databaseDir.c_str(), ini.c_str());
    if (!ok) {
      Log("Cannot write " + ini);
      return 1603;
    }
    CopyTree(source + "/Config", installDir + "/Config", false);
    CopyTree(source + "/Data", databaseDir, true);  // the user's database is kept
  }
  if (int code = InstallFramework(source, installDir); code != 0) return code;
  if (!SetValue("Version", kVersion) || !SetValue("InstallDir", installDir + "/")) {
    Log("Cannot write the registry");
    return 1603;
  }
  const char* forced = std::getenv("NORV_CLIENT_SETUP_RESULT");
  int code = forced && std::atoi(forced) == 3010 ? 3010 : 0;
  Log("Installation finished with " + std::to_string(code));
  return code;
}

int Client(int argc, char** argv, const std::string& self) {
  bool login = false;
  for (int i = 1; i < argc; ++i) login = login || std::strcmp(argv[i], "-login") == 0;
  if (!login) {
    std::printf("Halvorn Client %s\n", kVersion);
    return 0;
  }
  std::string folder = plat::FolderOf(self);
  char orbUser[81] = {};
  plat::GetPrivateProfileStringA("Client", "OrbUser", "", orbUser, sizeof orbUser,
                                 (folder + "client.ini").c_str());
  std::FILE* f = std::fopen((folder + "login.txt").c_str(), "a");
  if (!f) return 1;
  char when[32] = {};
  std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::fprintf(f, "%s -login %s OrbUser=%s\n", when, plat::UserName().c_str(), orbUser);
  return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string self = plat::ModulePath();
  if (self.empty()) self = argv[0];
  std::string name = FileName(self);
  int code = strcasecmp(name.c_str(), "qvclient.exe") == 0 ? Client(argc, argv, self)
                                                            : ClientSetup(argc, argv, self);
  if (gLog) std::fclose(gLog);
  return code;
}
