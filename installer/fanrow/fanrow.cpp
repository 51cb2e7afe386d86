// "Fanrow.exe": the deployment tool stand-in. It installs a client package
// on a target machine over OpenSSH (key-based, batch mode) and tells whether
// a product is installed there, with the deployment tool's command lines,
// exit codes and status files:
//
//   Fanrow.exe -a1:MACHINE -ma:1 -mp:1 -pn:PRODUCT -pf:PROGRESSFILE -q   deploy
//   Fanrow.exe -a1:MACHINE -pn:PRODUCT -pf:STATUSFILE -q                 check
//
// Deploy copies the user's uncompressed package (named by "FanrowClient"
// and "DataDir" of the server's registry key) to the target, runs its
// setup program there and marks the product installed. Check writes one
// line per finding to the status file; only a line about an installed
// product names the product. The exit status is the low 8 bits of the
// tool's Windows exit code (0; 5 access denied; 1326 logon failure; -103
// install failed; -102 timeout; -101 already in progress; -29 no response;
// -22 deploying failed; 87 bad command line).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <string>
#include <vector>

#include "fanrow_config.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"

namespace {

constexpr int kOk = 0;
constexpr int kAccessDenied = 5;
constexpr int kBadCommandLine = 87;
constexpr int kLogonFailure = 1326;
constexpr int kInstallFailed = -103;
constexpr int kTimeout = -102;
constexpr int kInProgress = -101;
constexpr int kNoResponse = -29;
constexpr int kDeployFailed = -22;

bool gQuiet = false;

void Say(const std::string& text) {
  if (!gQuiet) std::printf("%s\n", text.c_str());
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

std::string ReadAll(std::FILE* f) {
  std::string out;
  std::rewind(f);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

struct RunResult {
  int exitCode = -1;  // -1: could not start
  bool timedOut = false;
  std::string out, err;
};

// Runs argv with stdin from stdinFile (or /dev/null), collecting its output;
// killed after timeoutSeconds.
RunResult Run(const std::vector<std::string>& argv, std::FILE* stdinFile, int timeoutSeconds) {
  RunResult result;
  File out(std::tmpfile()), err(std::tmpfile());
  if (!out || !err) return result;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    setpgid(0, 0);
    int in = stdinFile ? fileno(stdinFile) : open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(fileno(out.get()), 1);
    dup2(fileno(err.get()), 2);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return result;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= timeoutSeconds) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    timespec pause{0, 20 * 1000000};
    nanosleep(&pause, nullptr);
  }
  if (!result.timedOut) result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(out.get());
  result.err = ReadAll(err.get());
  return result;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> SshCommand(const fanrow::Target& t, const std::string& remoteCommand) {
  std::vector<std::string> argv = {"ssh", "-o", "BatchMode=yes", "-o", "LogLevel=ERROR",
                                   "-o", "ConnectTimeout=" + std::to_string(t.connectTimeout),
                                   "-o", "StrictHostKeyChecking=" + t.hostKeyCheck,
                                   "-p", std::to_string(t.port)};
  if (!t.knownHosts.empty()) argv.insert(argv.end(), {"-o", "UserKnownHostsFile=" + t.knownHosts});
  if (!t.identity.empty()) argv.insert(argv.end(), {"-o", "IdentitiesOnly=yes", "-i", t.identity});
  if (!t.user.empty()) argv.insert(argv.end(), {"-l", t.user});
  argv.insert(argv.end(), {t.host, "--", remoteCommand});
  return argv;
}

// ssh ends with 255 when it could not run the command; its message tells why.
int SshFailure(const RunResult& r) {
  if (r.timedOut) return kTimeout;
  if (r.err.find("Permission denied") != std::string::npos) return kLogonFailure;
  if (r.err.find("Host key verification failed") != std::string::npos ||
      r.err.find("REMOTE HOST IDENTIFICATION HAS CHANGED") != std::string::npos)
    return kAccessDenied;
  return kNoResponse;
}

std::string RegistryText(const char* valueName) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion",
                          0, plat::KEY_QUERY_VALUE, &key) != plat::ERROR_SUCCESS)
    return "";
  char data[1024] = {};
  plat::DWORD type = 0, size = sizeof data - 1;
  plat::LONG rc = plat::RegQueryValueExA(key, valueName, nullptr, &type,
                                         reinterpret_cast<plat::BYTE*>(data), &size);
  plat::RegCloseKey(key);
  return rc == plat::ERROR_SUCCESS && type == plat::REG_SZ ? data : "";
}

std::string UserFolderName(const std::string& userName) {
  std::size_t slash = userName.find('\\');
  if (slash == std::string::npos) return userName;
  return userName.substr(slash + 1) + "@" + userName.substr(0, slash);
}

std::string Now() {
  char buffer[64];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
  return buffer;
}

// The report file (progress or status), written whole.
class Report {
 public:
  explicit Report(std::string path) : path_(std::move(path)) {}
  void Line(const std::string& text) {
    lines_ += text + "\r\n";
    Say(text);
    if (path_.empty()) return;
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << lines_;
  }

 private:
  std::string path_;
  std::string lines_;
};

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder with "zel.ini" inside the package: the user folder ("" when
// the package itself has it, "\x01" when none has).
std::string FindUserFolder(const std::string& package) {
  if (std::ifstream(plat::WindowsPathToLinux(package + "\\zel.ini"))) return "";
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(plat::WindowsPathToLinux(package), ec))
    if (entry.is_directory(ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    if (std::ifstream(plat::WindowsPathToLinux(package + "\\" + name + "\\zel.ini"))) return name;
  return "\x01";
}

int Deploy(const std::string& machine, const std::string& product, const fanrow::Target& t,
           Report& report) {
  report.Line("Deploying " + product + " to machine " + machine + " (" + Now() + ")");
  // One deployment per machine at a time.
  std::error_code ec;
  std::filesystem::create_directories(plat::MessageDirectory(), ec);
  std::string lockPath = plat::MessageDirectory() + "/fanrow-" + machine + ".lock";
  Fd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.fd < 0) {
    report.Line("Cannot create " + lockPath + ": " + std::strerror(errno));
    return kDeployFailed;
  }
  if (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
    report.Line("A deployment to machine " + machine + " is already in progress");
    return kInProgress;
  }
  std::string user = RegistryText("FanrowClient");
  std::string dataDir = RegistryText("DataDir");
  std::string root = dataDir.empty() ? std::string("C:\\temp\\Fanrow") : dataDir + "\\Fanrow";
  if (user.empty()) {
    report.Line("No client user named for the deployment");
    return kDeployFailed;
  }
  std::string folder = UserFolderName(user);
  std::string package = root + "\\" + folder;
  std::string packageLinux = plat::WindowsPathToLinux(package);
  std::string userFolder = FindUserFolder(package);
  if (!IsDirectory(packageLinux) || userFolder == "\x01") {
    report.Line("No package for user " + user + " in " + packageLinux);
    return kDeployFailed;
  }
  // The package travels as a tar stream into the target's package folder.
  File archive(std::tmpfile());
  if (!archive) return kDeployFailed;
  std::string parent = packageLinux.substr(0, packageLinux.find_last_of('/'));
  std::string base = packageLinux.substr(packageLinux.find_last_of('/') + 1);
  std::vector<std::string> tarArgv = {"tar", "-C", parent, "-cf", "-", "--", base};
  RunResult tar = Run(tarArgv, nullptr, 600);
  if (tar.exitCode != 0) {
    report.Line("Packing " + packageLinux + " failed: " + tar.err);
    return kDeployFailed;
  }
  std::fwrite(tar.out.data(), 1, tar.out.size(), archive.get());
  std::fflush(archive.get());
  std::rewind(archive.get());
  std::string remotePackages = t.remoteDir + "/packages";
  std::string remotePackage = remotePackages + "/" + base;
  std::string copy = "mkdir -p " + ShellQuote(remotePackages) + " && rm -rf " +
                     ShellQuote(remotePackage) + " && tar -xf - -C " + ShellQuote(remotePackages);
  RunResult sent = Run(SshCommand(t, copy), archive.get(), t.connectTimeout + 600);
  if (sent.exitCode == 255 || sent.timedOut) {
    report.Line("Machine " + machine + " refused or did not answer: " + sent.err);
    return SshFailure(sent);
  }
  if (sent.exitCode != 0) {
    report.Line("Copying the package to machine " + machine + " failed: " + sent.err);
    return kDeployFailed;
  }
  report.Line("Package copied to " + machine + ":" + remotePackage);
  std::string setupDir = userFolder.empty() ? remotePackage : remotePackage + "/" + userFolder;
  std::string mark = t.remoteDir + "/installed";
  std::string install =
      "cd " + ShellQuote(setupDir) + " && mkdir -p " + ShellQuote(t.remoteDir + "/tmp") +
      " && chmod +x OrbCSetup.exe 2>/dev/null; TMPDIR=" + ShellQuote(t.remoteDir + "/tmp") +
      " " + t.setup + "; rc=$?; if [ $rc -eq 0 ]; then mkdir -p " + ShellQuote(mark) +
      " && printf '%s\\n' " + ShellQuote(product + " installed for " + user + " on " + Now()) +
      " > " + ShellQuote(mark + "/" + product) + "; fi; exit $rc";
  RunResult ran = Run(SshCommand(t, install), nullptr, t.connectTimeout + t.setupTimeout);
  if (ran.timedOut) {
    report.Line("The setup on machine " + machine + " did not end in time");
    return kTimeout;
  }
  if (ran.exitCode == 255) {
    report.Line("Machine " + machine + " refused or did not answer: " + ran.err);
    return SshFailure(ran);
  }
  if (ran.exitCode != 0) {
    report.Line("The setup on machine " + machine + " ended with " + std::to_string(ran.exitCode) +
                ": " + ran.err);
    return kInstallFailed;
  }
  report.Line("Setup finished on machine " + machine);
  return kOk;
}

int Check(const std::string& machine, const std::string& product, const fanrow::Target& t,
          Report& report) {
  std::string mark = t.remoteDir + "/installed/" + product;
  RunResult r = Run(SshCommand(t, "cat " + ShellQuote(mark) + " 2>/dev/null; exit 0"), nullptr,
                    t.connectTimeout + 60);
  if (r.exitCode != 0) {
    report.Line("Machine " + machine + " cannot be asked");
    return r.exitCode == 255 || r.timedOut ? SshFailure(r) : kInstallFailed;
  }
  std::string first = r.out.substr(0, r.out.find('\n'));
  if (first.find(product) != std::string::npos)
    report.Line(first);
  else
    report.Line("Nothing installed by the deployment on machine " + machine);
  return kOk;
}

bool ValidName(const std::string& s) {
  if (s.empty() || s[0] == '-') return false;
  for (unsigned char c : s)
    if (!(std::isalnum(c) || c == '.' || c == '_' || c == '-')) return false;
  return true;
}

int Main(int argc, char** argv) {
  std::string machine, product, reportFile;
  bool deploy = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* prefix) -> const char* {
      std::size_t n = std::strlen(prefix);
      return a.compare(0, n, prefix) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("-a1:")) machine = v;
    else if (const char* v = value("-ma:")) deploy = deploy || std::strcmp(v, "1") == 0;
    else if (const char* v = value("-mp:")) deploy = deploy || std::strcmp(v, "1") == 0;
    else if (const char* v = value("-pn:")) product = v;
    else if (const char* v = value("-pf:")) reportFile = v;
    else if (a == "-q") gQuiet = true;
    else {
      std::fprintf(stderr, "Fanrow.exe: unknown argument %s\n", a.c_str());
      return kBadCommandLine;
    }
  }
  if (!ValidName(machine) || !ValidName(product)) {
    std::fprintf(stderr,
                 "usage: Fanrow.exe -a1:MACHINE [-ma:1 -mp:1] -pn:PRODUCT [-pf:FILE] [-q]\n");
    return kBadCommandLine;
  }
  std::string configPath;
  if (const char* env = std::getenv("FANROW_CONFIG"); env && *env)
    configPath = env;
  else
    configPath = plat::FolderOf(plat::ModulePath()) + "/fanrow.conf";
  std::string text;
  if (std::ifstream in{configPath}) {
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
  }
  std::string errors;
  fanrow::Config config = fanrow::ParseConfig(text, &errors);
  if (!errors.empty()) std::fprintf(stderr, "Fanrow.exe: %s:\n%s", configPath.c_str(), errors.c_str());
  fanrow::Target target = fanrow::TargetFor(config, machine);
  Report report(reportFile.empty() ? "" : plat::WindowsPathToLinux(reportFile));
  return deploy ? Deploy(machine, product, target, report) : Check(machine, product, target, report);
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv) & 0xFF; }
