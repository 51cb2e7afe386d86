// Delivery of a built package: e-mail through the mail library, a copy in
// the storage folder, or direct installation through the deployment tool.
#include "zel/delivery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/library.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/winpath.h"
#include "qx/qxtrace.h"

namespace zel {
namespace {

// Result texts by string id (31..51, 77, 78).
const char* const kMailTexts[] = {
    "Ambiguous recipient",
    "Cannot continue\nSMTP error:  Attachment not found",
    "Cannot continue\nSMTP error:  Attachment open failure",
    "Cannot continue\nSMTP error:  Bad receipt type",
    "Cannot continue\nSMTP error:  Mail services not available.\nPlease check your mail server address.",
    "Cannot continue\nSMTP error:  Insufficient memory",
    "Cannot continue\nSMTP error:  Invalid recips",
    "Cannot continue\nSMTP error:  Login failure",
    "Cannot continue\nSMTP error:  Text too large",
    "Cannot continue\nSMTP error:  Too many files",
    "Cannot continue\nSMTP error:  Too many recipients",
    "Cannot continue\nSMTP error:  Unknown recipient",
    "Cannot continue\nSMTP error:  User abort",
    "Cannot continue\nSMTP error:  Initialization failure",
    "Cannot continue\nSMTP error:  Invalid session",
    "Cannot continue\nSMTP error:  Host lookup failure",
    "Cannot continue\nSMTP error:  Socket error",
    "Cannot continue\nSMTP error:  API missing",
    "Cannot continue\nSMTP error:  Connect failure",
    "Cannot continue\nSMTP error:  Disconnect failure",
    "Cannot continue\nSMTP error:  Unknown",
};
constexpr const char* kSendViaMapiFailed = "Failed to send Email via MAPI";  // 77
constexpr const char* kSendViaSmtpFailed = "Failed to send Email via SMTP";  // 78

std::atomic<int> gRoundWaitMs{1000};

// The Win32 error a failed file operation would have given.
int SystemErrorCode(int error) {
  switch (error) {
    case EACCES: case EPERM: case EROFS: return 5;  // ERROR_ACCESS_DENIED
    case ENOENT: return 3;                          // ERROR_PATH_NOT_FOUND
    case ENOTDIR: return 267;                       // ERROR_DIRECTORY
    case ENOSPC: case EDQUOT: return 112;           // ERROR_DISK_FULL
    case EIO: return 29;                            // ERROR_WRITE_FAULT
    default: return error;
  }
}

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

// Copies source to target through a temporary file in the target's folder,
// renamed over the target at the end. 0 or errno; nothing is left behind on
// failure.
int CopyAtomically(const std::string& source, const std::string& target) {
  Fd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return errno;
  struct stat st{};
  if (fstat(in.fd, &st) != 0) return errno;
  std::string temp = target + ".partXXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  Fd out(mkostemp(name.data(), O_CLOEXEC));
  if (out.fd < 0) return errno;
  std::string tempPath = name.data();
  auto fail = [&](int error) {
    unlink(tempPath.c_str());
    return error;
  };
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(in.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out.fd, buffer + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return fail(errno);
      }
      done += w;
    }
  }
  // The package is a program: it keeps its mode (mkostemp made it 0600).
  if (fchmod(out.fd, st.st_mode & 0777) != 0) return fail(errno);
  if (fsync(out.fd) != 0) return fail(errno);
  if (close(out.Release()) != 0) return fail(errno);
  if (rename(tempPath.c_str(), target.c_str()) != 0) return fail(errno);
  return 0;
}

bool RunsAsSystem() { return geteuid() == 0; }

// The deployment tool's exit status carries the low 8 bits of its Windows
// exit code; the codes the tool is known to give are read back in full.
int DeploymentExitCode(int status) {
  for (int code : {5, 1326, -103, -102, -101, -29, -22, -21})
    if ((code & 0xFF) == status) return code;
  return status;
}

}  // namespace

// --- mail library ---------------------------------------------------------------

std::string MailLibraryPath(const std::string& appDir) {
  if (const char* env = std::getenv("ZEL_QVMAPI_PATH"); env && *env) return env;
  return plat::WindowsPathToLinux(appDir + "\\qvmapi.dll");
}

int LoadMailLibrary(const std::string& appDir, MailLibrary* library) {
  *library = MailLibrary{};
  void* module = plat::LoadLibrary(MailLibraryPath(appDir));
  if (!module) return MAIL_LOAD_NOT_FOUND;
  library->module = module;
  library->qvSMAPIInstalled =
      reinterpret_cast<QvSMAPIInstalledFn>(plat::GetProcAddress(module, "qvSMAPIInstalled"));
  library->MySMAPIInit = reinterpret_cast<MySMAPIInitFn>(plat::GetProcAddress(module, "MySMAPIInit"));
  library->MySMAPIShutdown =
      reinterpret_cast<MySMAPIShutdownFn>(plat::GetProcAddress(module, "MySMAPIShutdown"));
  library->MySMAPISend = reinterpret_cast<MySMAPISendFn>(plat::GetProcAddress(module, "MySMAPISend"));
  library->qvSMAPISendMessage =
      reinterpret_cast<QvSMAPISendMessageFn>(plat::GetProcAddress(module, "qvSMAPISendMessage"));
  if (!library->qvSMAPIInstalled || !library->MySMAPIInit || !library->MySMAPIShutdown ||
      !library->MySMAPISend || !library->qvSMAPISendMessage) {
    UnloadMailLibrary(library);
    return MAIL_LOAD_MISSING_ENTRY;
  }
  library->mapiInstalled = library->qvSMAPIInstalled(0) != 0;
  return MAIL_LOAD_OK;
}

void UnloadMailLibrary(MailLibrary* library) {
  if (library->module) plat::FreeLibrary(library->module);
  *library = MailLibrary{};
}

int MailResultStringId(int code) {
  if (code <= -1 && code >= -15) return 31 + (-code - 1);
  if (code <= -20 && code >= -24) return 46 + (-code - 20);
  return 51;
}

const char* MailResultText(int code) { return kMailTexts[MailResultStringId(code) - 31]; }

std::string MailFailureText(bool useMapi, int code) {
  return std::string(useMapi ? kSendViaMapiFailed : kSendViaSmtpFailed) + ": " +
         MailResultText(code);
}

std::string UserFolderName(const std::string& userName) {
  std::size_t slash = userName.find('\\');
  if (slash == std::string::npos) return userName;
  return userName.substr(slash + 1) + "@" + userName.substr(0, slash);
}

std::string ReplaceUserNamePlaceholder(const std::string& body, const std::string& userName,
                                       bool* found) {
  static const std::string kPlaceholder = "<username>";
  std::size_t at = body.find(kPlaceholder);
  if (found) *found = at != std::string::npos;
  if (at == std::string::npos) return body;
  std::string out = body;
  out.replace(at, kPlaceholder.size(), UserFolderName(userName));
  return out;
}

DeliveryOutcome DeliverByMail(const MailDelivery& mail) {
  DeliveryOutcome outcome;
  std::string body = mail.messageBody;
  bool attach = mail.compressed;
  if (attach) {
    qxtTrace("ZELManageSendThread: Send Email and attach file %s", mail.packagePath.c_str());
  } else {
    qxtTrace("ZELManageSendThread: Send Email with no attachment !");
    bool found = false;
    body = ReplaceUserNamePlaceholder(mail.messageBody, mail.userName, &found);
    if (found)
      qxtTrace("ZELManageSendThread: MessageBody set to %s", body.c_str());
    else
      qxtTrace("ZELManageSendThread: <username> not found in message");
  }
  QvMailMessage message{};
  message.subject = mail.subject.c_str();
  message.body = body.c_str();
  message.sender = mail.fromAddress.c_str();
  message.recipient = mail.emailAddress.c_str();
  message.attachment = attach ? mail.packagePath.c_str() : nullptr;
  message.receipt = mail.requestReceipt ? 1 : 0;
  message.server = mail.server.c_str();
  message.port = mail.port;
  message.reserved3 = 3;
  message.reserved2 = 2;
  message.reserved1 = 1;

  int rc;
  if (!mail.library || !mail.library->MySMAPISend || !mail.library->qvSMAPISendMessage) {
    rc = MAIL_E_API_MISSING;
  } else if (mail.useMapi) {
    qxtTrace("ZELManageSendThread: Sending Email via MAPI (MySMAPISend)...");
    if (mail.mapiBusy) mail.mapiBusy->store(1);
    rc = mail.library->MySMAPISend(&message);
    if (mail.mapiBusy) mail.mapiBusy->store(0);
  } else {
    qxtTrace("ZELManageSendThread: Sending Email via MAPI (qvSMAPISendMessage)...");
    rc = mail.library->qvSMAPISendMessage(&message, 1);
  }
  if (rc == 0) {
    if (attach) {
      outcome.status = RESULT_SENT_WITH_ATTACHMENT;
      qxtTrace("ZELManageSendThread: Email send successfully via MAPI ...");
    } else {
      outcome.status = RESULT_STORED_OR_NO_ATTACHMENT;
      qxtTrace("ZELManageSendThread: send successfully via MAPI with no attachment !");
    }
    return outcome;
  }
  outcome.text = MailFailureText(mail.useMapi, rc);
  qxtTrace("ZELManageSendThread: %s !", outcome.text.c_str());
  outcome.jobFailed = true;
  outcome.status = RESULT_FAILED;
  return outcome;
}

// --- local storage --------------------------------------------------------------

DeliveryOutcome DeliverToFolder(bool compressed, const std::string& packagePath,
                                const std::string& storageDir, const std::string& userFolder,
                                const std::string& uncompressedDir) {
  DeliveryOutcome outcome;
  if (!compressed) {
    outcome.status = RESULT_STORED_OR_NO_ATTACHMENT;
    std::string where = uncompressedDir.empty()
                            ? plat::WindowsPathToLinux(storageDir + "\\" + userFolder)
                            : plat::WindowsPathToLinux(uncompressedDir);
    qxtTrace("ZELManageSendThread: Package uncompressed saved to %s", where.c_str());
    return outcome;
  }
  std::string target = plat::WindowsPathToLinux(storageDir + "\\client_" + userFolder + ".exe");
  int error = userFolder.empty() || userFolder.find('/') != std::string::npos
                  ? EINVAL : CopyAtomically(plat::WindowsPathToLinux(packagePath), target);
  if (error == 0) {
    outcome.status = RESULT_STORED_OR_NO_ATTACHMENT;
    qxtTrace("ZELManageSendThread: Package saved to %s", target.c_str());
    return outcome;
  }
  outcome.text = plat::FormatA("Creating %s failed. Error code = %d", target.c_str(), SystemErrorCode(error));
  qxtTrace("ZELManageSendThread: %s", outcome.text.c_str());
  outcome.jobFailed = true;
  outcome.status = RESULT_FAILED;
  return outcome;
}

// --- direct installation ----------------------------------------------------------

void SetDirectInstallRoundWait(int milliseconds) { gRoundWaitMs = milliseconds < 0 ? 0 : milliseconds; }

std::string DirectInstallFailureReason(int exitCode, bool runsAsSystem) {
  switch (exitCode) {
    case 5: return " - Access is denied";
    case 1326: return " - Logon failure";
    case -103: return " - install at target system failed";
    case -102: return " - installation timeout";
    case -101: return " - direct install already in progress";
    case -29: return " - no response from primer";
    case -22: return " - deploying the primer failed";
    case -21:
      return runsAsSystem ? " - the TRELD service is logged in to the Local System account rather "
                            "than to a user account with the required rights"
                          : " - the TRELD service has no rights to access the target system";
    default: return plat::FormatA(" - Errorcode = %d", exitCode);
  }
}

DeliveryOutcome DeliverDirectInstall(const DirectInstall& install) {
  DeliveryOutcome outcome;
  const char* system = install.systemName.c_str();
  const char* login = install.loginName.c_str();
  outcome.text = plat::FormatA("Now directly install the Client on machine %s for local user %s", system, login);
  qxtTrace("ZELManageSendThread: %s", outcome.text.c_str());
  if (!pingClientMachine(system)) {
    outcome.text = plat::FormatA("Cannot reach machine %s to Direct install ", system);
    qxtTrace("ZELManageSendThread: %s", outcome.text.c_str());
    return outcome;
  }
  // Tells the deployment tool's package which server user it installs.
  plat::HKEY key = nullptr;
  plat::LONG rc = plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE,
                                        "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion", 0, nullptr,
                                        0, plat::KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc == plat::ERROR_SUCCESS) {
    rc = plat::RegSetValueExA(key, "FanrowClient", 0, plat::REG_SZ,
                              reinterpret_cast<const plat::BYTE*>(install.userName.c_str()),
                              static_cast<plat::DWORD>(install.userName.size() + 1));
    plat::RegCloseKey(key);
  }
  if (rc != plat::ERROR_SUCCESS)
    qxtTrace("Could not create Registry Entry for Fanrow Plugin  %d", static_cast<int>(rc));

  std::string program = install.fanrowInstallPath + "\\Fanrow.exe";
  std::string arguments =
      plat::FormatA("-a1:%s -ma:1 -mp:1 -pn:ORBClient -pf:C:\\FanrowProgress.txt -q", system);
  int exitCode = DeploymentExitCode(LaunchProgram(program.c_str(), arguments.c_str()));
  if (exitCode == 0) {
    std::string check = plat::FormatA("-a1:%s -pn:ORBClient -pf:C:\\FanrowStatus.txt -q", system);
    std::string statusFile = plat::WindowsPathToLinux("C:\\FanrowStatus.txt");
    for (int round = 0; round < 5; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(gRoundWaitMs.load()));
      int checked = LaunchProgram(program.c_str(), check.c_str());
      qxtTrace("ZELManageSendThread: check if installed returned %d", checked);
      std::ifstream in(statusFile);
      std::string line;
      bool installed = false;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        if (line.find("ORBClient") != std::string::npos) {
          qxtTrace("ZELManageSendThread: FanrowCheck.txt: installed because: %s", line.c_str());
          installed = true;
          break;
        }
        qxtTrace("ZELManageSendThread: FanrowCheck.txt: %s", line.c_str());
      }
      if (installed) break;
    }
    outcome.text = plat::FormatA("Direct install successful for local user %s on machine %s", login, system);
    outcome.status = RESULT_INSTALLED_DIRECTLY;
  } else {
    outcome.text = plat::FormatA("Direct install failed for user %s on machine %s%s", login, system,
                          DirectInstallFailureReason(exitCode, RunsAsSystem()).c_str());
    outcome.status = RESULT_FAILED;
  }
  qxtTrace("ZELManageSendThread: %s", outcome.text.c_str());
  return outcome;
}

}  // namespace zel

// --- ping and programs --------------------------------------------------------------

extern "C" int pingClientMachine(const char* machine) {
  if (!machine) return 1;
  // ping waits at most 2 seconds for the answer; the wait here adds a little
  // for the program's own start.
  zel::ChildProcess ping;
  int exitCode = -1;
  bool ok = *machine && *machine != '-' &&
            ping.Start({"ping", "-c", "1", "-W", "2", machine}) && ping.Wait(2500, 10, &exitCode) &&
            exitCode == 0;
  if (ok) {
    qxtTrace("pingClientMachine: Sucessfully pinged machine %s", machine);
    return 1;
  }
  qxtTrace("pingClientMachine: Ping timed out for machine %s", machine);
  return 0;
}

extern "C" int LaunchProgram(const char* programPath, const char* arguments) {
  std::string program = programPath ? programPath : "";
  std::string args = arguments ? arguments : "";
  qxtTrace("LaunchProgram: ProgramPath - %s ", program.c_str());
  qxtTrace("LaunchProgram: CommandLine - %s ", args.c_str());
  std::string complete = program.empty() ? args : args.empty() ? program : program + " " + args;
  qxtTrace("LaunchProgram: CompleteCommandLine - %s ", complete.c_str());
  std::vector<std::string> argv;
  if (!program.empty()) {
    argv.push_back(plat::WindowsPathToLinux(program));
    std::vector<std::string> rest = plat::SplitCommandLine("x " + args);
    argv.insert(argv.end(), rest.begin() + (rest.empty() ? 0 : 1), rest.end());
  } else {
    argv = plat::SplitCommandLine(args);
    if (!argv.empty()) argv[0] = plat::WindowsPathToLinux(argv[0]);
  }
  zel::ChildProcess child;
  int exitCode = -1;
  if (argv.empty() || !child.Start(argv) || !child.Wait(-1, 10, &exitCode)) exitCode = -1;
  qxtTrace("LaunchProgram: dwExitCode - %d ", exitCode);
  return exitCode;
}
