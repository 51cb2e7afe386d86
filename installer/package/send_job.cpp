// The send job: ZELManageSend checks the request and starts one worker
// thread, which reads the e-mail file line by line, registers each user with
// the server window, builds the user's package and delivers it; the caller
// polls ZELGetProgress for the progress value and text and may cancel.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "email_file.h"
#include "package_writer.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/sysinfo.h"
#include "platform/window.h"
#include "qvbind.h"
#include "qx/qxtrace.h"
#include "zel/delivery.h"
#include "zel/server_window.h"
#include "zel/zelinst.h"

namespace zel {
namespace {

namespace sw = zel::server;

const char kDashes[] = "-------------------------------------------------------------";  // 61

// ---- Progress state shared with the caller's thread -------------------------

std::atomic<int> gProgress{100};
std::atomic<int> gCancel{0};
std::atomic<int> gMapiBusy{0};
std::atomic<int> gPollCount{0};
std::mutex gTextMutex;
char gText[kZelTextSize] = "";

// The job: its request and thread. One at a time.
std::mutex gJobMutex;
SendRequest gRequest;
std::thread gWorker;
std::atomic<bool> gRunning{false};
int gPauseMs = 2000;

void SetText(const char* text) {
  std::lock_guard lock(gTextMutex);
  std::snprintf(gText, sizeof gText, "%s", text);
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  char buffer[kZelTextSize * 2];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

void Pause() {
  if (gPauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gPauseMs));
}

void CopyText(char* target, std::size_t size, const char* text) {
  std::snprintf(target, size, "%s", text ? text : "");
}

// Sockets are part of every Linux system; the probe asks for one.
bool SocketsAvailable() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Removes a package written by ZipTheSend, and the private folder it may
// have been written into ("zelpkg-..."), once that is empty.
void RemoveTemporaryPackage(const std::string& package) {
  if (package.empty()) return;
  unlink(package.c_str());
  std::size_t slash = package.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  std::string folder = package.substr(0, slash);
  std::size_t nameStart = folder.rfind('/');
  if (folder.compare(nameStart == std::string::npos ? 0 : nameStart + 1, 7, "zelpkg-") == 0)
    rmdir(folder.c_str());
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += "\\";
  return folder;
}

bool ReadHklmText(const char* keyName, const char* valueName, std::string* value, bool* keyFound) {
  return plat::RegReadTextA(plat::HKEY_LOCAL_MACHINE, keyName, valueName, 260, value, keyFound);
}

// ---- The worker -------------------------------------------------------------

class SendJob {
 public:
  explicit SendJob(const SendRequest& request) : r_(request) {}
  // Runs the job; returns the progress it ends with (100 or -1), which the
  // caller publishes once the job no longer counts as running.
  int Run();

 private:
  // Ends the job after a failure: progress -1 with the text.
  void Fail(const std::string& text) {
    SetText(text.c_str());
    finalProgress_ = -1;
  }
  void ProcessLines();
  // One user line; false when line processing must end.
  bool ProcessUser(const EmailUser& parsed);
  void Report(unsigned char* user, int status);
  void UpdateProgress() {
    if (fileSize_ == 0) return;
    unsigned long long percent = processed_ * 100 / fileSize_;
    // 100 tells the caller that the job has ended: while it runs, 99 at most.
    if (percent >= 1 && percent <= 100) gProgress = static_cast<int>(percent < 100 ? percent : 99);
  }

  const SendRequest& r_;
  MailLibrary mail_;
  bool mailLoaded_ = false;
  plat::HWND window_ = nullptr;
  std::FILE* file_ = nullptr;
  unsigned long long fileSize_ = 0;
  unsigned long long processed_ = 0;
  bool jobFailed_ = false;
  int finalProgress_ = 100;
  int packages_ = 0;
  std::string lastDeliveryText_;
  std::vector<unsigned char> user_ = std::vector<unsigned char>(sw::kUserRecordSize);
};

void SendJob::Report(unsigned char* user, int status) {
  unsigned char* result = user + sw::user::kResultRecord;
  sw::PutInt(result, sw::result::kStatus, status);
  plat::SendMessageA(window_, sw::kReportResult, 0, reinterpret_cast<plat::LPARAM>(result));
}

bool SendJob::ProcessUser(const EmailUser& parsed) {
  std::string userName = parsed.userName;
  std::string loginName = parsed.loginName;
  const std::string& address = parsed.address;
  unsigned char* user = user_.data();

  SetText(Format("%s %s", ZelString(74), userName.c_str()).c_str());
  const bool domainAccount = r_.Flags & USERFLAG_DOMAIN_ACCOUNT;
  if (domainAccount && loginName.empty()) loginName = userName;

  // Domain rules.
  const bool hasDomain = userName.find('\\') != std::string::npos ||
                         userName.find('@') != std::string::npos;
  std::string refusal;
  if (domainAccount && !hasDomain) refusal = Format("%s %s", ZelString(81), userName.c_str());
  else if (domainAccount && userName != loginName)
    refusal = Format("%s %s.", ZelString(80), loginName.c_str());
  else if (!domainAccount && hasDomain) refusal = Format("%s %s", ZelString(85), userName.c_str());
  if (!refusal.empty()) {
    Pause();
    SetText(refusal.c_str());
    qxtTrace("ZELManageSendThread: %s", refusal.c_str());
    Pause();
    return true;
  }

  // Register the user.
  sw::PutText(user, sw::user::kName, userName.c_str());
  sw::PutText(user, sw::user::kOrganization, r_.Organization);
  sw::PutText(user, sw::user::kConfigDatabase, r_.configDatabase);
  sw::PutText(user, sw::user::kServerDatabaseDir, r_.ServerDatabaseDir);
  sw::PutInt(user, sw::user::kProtectedMode, r_.protectedMode ? 1 : 0);
  sw::PutInt(user, sw::user::kFlags, r_.Flags | 0x1);
  sw::PutText(user, sw::user::kLoginName, loginName.c_str());
  sw::PutText(user, sw::user::kSystemName, parsed.systemName.c_str());
  sw::PutText(user, sw::user::kEmailAddress, address.c_str());
  auto created = static_cast<int>(
      plat::SendMessageA(window_, sw::kCreateUser, 0, reinterpret_cast<plat::LPARAM>(user)));

  if (created == -10) {
    Pause();
    SetText(ZelString(86));
    qxtTrace("ZELManageSendThread: %s", ZelString(86));
    Pause();
    return false;
  }
  bool existing = created != 0;
  bool upgrade = false;
  if (created == -2) {
    qxtTrace("ZELManageSendThread: %s - USER_LOGIN_ALREADY_EXISTS", userName.c_str());
    if (r_.UseFanrow) {
      unsigned char* props = user + sw::user::kPropertiesRecord;
      std::memset(props, 0, sw::kPropertiesRecordSize);
      sw::PutText(props, sw::properties::kUserName, userName.c_str());
      plat::SendMessageA(window_, sw::kGetUserProperties, 0, reinterpret_cast<plat::LPARAM>(props));
      int lastLogin = sw::GetInt(props, sw::properties::kLastLoginDate);
      int deployment = sw::GetInt(props, sw::properties::kDeployment);
      char configName[260], lastHost[80], version[40];
      sw::GetText(props, sw::properties::kConfigFileName, configName, sizeof configName);
      sw::GetText(props, sw::properties::kLastHost, lastHost, sizeof lastHost);
      sw::GetText(props, sw::properties::kClientVersion, version, sizeof version);
      qxtTrace("ZELManageSendThread: User Property LastLoginDate\t\t= %d", lastLogin);
      qxtTrace("ZELManageSendThread: User Property Deployment\t\t= %d", deployment);
      qxtTrace("ZELManageSendThread: User Property ConfigFileName    = %s", configName);
      qxtTrace("ZELManageSendThread: User Property LastHost\t\t\t= %s", lastHost);
      qxtTrace("ZELManageSendThread: User Property Version\t\t\t= %s", version);
      if (deployment == sw::kDeploymentRetry) {
        SetText(ZelString(82));
        existing = false;  // build again, with the configuration
      } else if (version[0]) {
        if (IsObjectUpgradeable(version) == 1) {
          SetText(ZelString(84));
          existing = false;
          upgrade = true;
        }
      } else if (lastLogin != 0) {
        SetText(ZelString(83));
        existing = false;
        upgrade = true;
      }
    }
  }
  if (existing) {
    Pause();
    std::string text = Format("%s%s", ZelString(59), userName.c_str());
    SetText(text.c_str());
    qxtTrace("ZELManageSendThread: %s %d", text.c_str(), created);
    Pause();
    return true;
  }

  // Build.
  const auto identifier = static_cast<std::uint32_t>(sw::GetInt(user, sw::user::kIdentifier));
  unsigned char* result = user + sw::user::kResultRecord;
  std::memset(result, 0, sw::kResultRecordSize);
  sw::PutText(result, sw::result::kUserName, userName.c_str());
  char at176[sw::result::kText.size];
  sw::GetText(user, sw::user::kTextAt176, at176, sizeof at176);
  sw::PutText(result, sw::result::kText, at176);
  sw::PutInt(result, sw::result::kIdentifier, static_cast<std::int32_t>(identifier));
  sw::PutInt(result, sw::result::kStatus, sw::kStatusFailed);
  std::string text = Format("%s%s", ZelString(58), userName.c_str());
  SetText(text.c_str());
  qxtTrace("ZELManageSendThread: %s", text.c_str());

  std::string localCdb;
  int scheduler = 1;
  const QvCore* qv = QvApi();
  if (!upgrade) {
    char dataDir[260] = {};
    plat::SendMessageA(window_, sw::kGetUserDataDir, identifier,
                       reinterpret_cast<plat::LPARAM>(dataDir));
    dataDir[sizeof dataDir - 1] = '\0';
    std::string folder = dataDir;
    if (folder.empty()) {
      char hex[16] = {};
      qv->qvULongToHexString(identifier, hex);
      folder = DataPath() + "\\" + "users\\" + hex;
    }
    qv->qvDirectoryCreateIfNotExist(LinuxPath(folder).c_str());
    localCdb = LinuxPath(WithSeparator(folder) + "local.cdb");
    scheduler = PrepareUserDatabase(r_.configDatabase, localCdb.c_str(), userName.c_str(),
                                    r_.Flags | 0x1, identifier, r_.protectedMode);
    if (scheduler < 0) {
      // A package without the user's configuration would install a client
      // that cannot log in: report the user as failed and go on.
      text = Format("Unable to prepare the configuration for %s", userName.c_str());
      SetText(text.c_str());
      qxtTrace("ZELManageSendThread: %s", text.c_str());
      Report(user, sw::kStatusFailed);
      return true;
    }
  } else {
    qxtTrace("ZELManageSendThread: Upgrade Installation so don't include a configuration(local.cdb)");
  }
  qxtTrace("ZELManageSendThread: writing loginName %s to user.ini", loginName.c_str());
  WriteUserIni((WithSeparator(AppPath()) + "admin").c_str(), userName.c_str(), loginName.c_str(),
               r_.configDatabase, r_.Flags | 0x1);
  qxtTrace("ZELManageSendThread: Now do BuildPackage");
  SetText(ZelString(75));

  const bool compressed = r_.CompressFiles & 0x1;
  const std::string userFolder = UserFolderFor(userName);
  // A stored package is named by the user: a name that is no file name
  // would put it somewhere else.
  if ((r_.localStorage == 1 || r_.UseFanrow == 1) &&
      (userFolder.empty() || userFolder == "." || userFolder == ".." ||
       userFolder.find('/') != std::string::npos)) {
    text = Format("Unable to build the package for %s", userName.c_str());
    SetText(text.c_str());
    qxtTrace("ZELManageSendThread: %s: the name is no folder name", text.c_str());
    Report(user, sw::kStatusFailed);
    return true;
  }
  std::string packagePath;
  std::string uncompressedDir;
  bool built = false;
  if (compressed) {
    char tempPath[260] = {};
    BuildPackage(localCdb.c_str(), tempPath, r_.ClientInstallDir, r_.ClientDatabaseDir,
                 r_.userModeExpert, r_.selectedAddOns);
    if (tempPath[0]) {
      qxtTrace("ZELManageSendThread: Now do ZipTheSend");
      SetText(ZelString(76));
      char package[260] = {};
      if (ZipTheSend(tempPath, package) == 0 && package[0]) {
        packagePath = package;
        built = true;
      } else {
        RemoveTemporaryPackage(package);
        qv->qvFileDelete(tempPath);
      }
    }
  } else {
    uncompressedDir = r_.localStorageDir;
    if (r_.UseFanrow) uncompressedDir = std::string(r_.FanrowPackagePath) + "\\" + userFolder;
    built = BuildPackageUncompressed(userName.c_str(), localCdb.c_str(), scheduler,
                                     uncompressedDir.c_str(), r_.ClientInstallDir,
                                     r_.ClientDatabaseDir, r_.userModeExpert, r_.selectedAddOns,
                                     r_.UseFanrow);
  }
  if (!built) {
    text = Format("Unable to build the package for %s", userName.c_str());
    SetText(text.c_str());
    qxtTrace("ZELManageSendThread: %s", text.c_str());
    Report(user, sw::kStatusFailed);
    SetFirstPackage(false);
    return true;
  }

  text = Format("%s%s", ZelString(60), userName.c_str());
  SetText(text.c_str());
  qxtTrace("ZELManageSendThread: %s using %s", text.c_str(), address.c_str());

  DeliveryOutcome outcome;
  if (r_.UseFanrow == 1) {
    DirectInstall install;
    install.userName = userName;
    install.loginName = loginName;
    install.systemName = parsed.systemName;
    install.fanrowInstallPath = r_.FanrowInstallPath;
    outcome = DeliverDirectInstall(install);
  } else if (r_.localStorage == 1) {
    outcome = DeliverToFolder(compressed, packagePath, r_.localStorageDir, userFolder,
                              uncompressedDir);
  } else {
    MailDelivery m;
    m.library = &mail_;
    m.useMapi = r_.UseMAPI == 1;
    m.compressed = compressed;
    m.packagePath = packagePath;
    m.userName = userName;
    m.emailAddress = address;
    m.fromAddress = r_.FromAddress;
    m.subject = r_.Subject;
    m.messageBody = r_.MessageBody;
    m.requestReceipt = r_.RequestReceipt == 1;
    m.server = r_.IPAddress;
    m.port = r_.IP_Port;
    m.mapiBusy = &gMapiBusy;
    outcome = DeliverByMail(m);
  }
  if (!outcome.text.empty()) SetText(outcome.text.c_str());
  lastDeliveryText_ = outcome.text;
  Report(user, outcome.status);

  ++packages_;
  SetFirstPackage(false);
  RemoveTemporaryPackage(packagePath);
  if (outcome.jobFailed) {
    jobFailed_ = true;
    return false;
  }
  return true;
}

void SendJob::ProcessLines() {
  std::string line;
  std::size_t bytes = 0;
  bool tooLong = false;
  int lineNumber = 0;
  while (!gCancel && ReadEmailLine(file_, &line, &bytes, &tooLong)) {
    ++lineNumber;
    qxtTrace("%s", kDashes);
    qxtTrace("ZELManageSendThread: Create %3d. package --------------------", packages_ + 1);
    SetText(Format("%s %d", ZelString(73), packages_).c_str());
    std::memset(user_.data(), 0, sw::kUserClearedBytes);
    processed_ += bytes;

    EmailUser parsed;
    EmailLineResult parse = tooLong ? EmailLineResult::TooLong : ParseEmailLine(line, &parsed);
    bool goOn = true;
    switch (parse) {
      case EmailLineResult::Ok:
        goOn = ProcessUser(parsed);
        break;
      case EmailLineResult::Blank:
        qxtTrace("ZELManageSendThread: UserName is empty or contains only blanks");
        break;
      case EmailLineResult::TooLong:
        qxtTrace("ZELManageSendThread: line %d is longer than 1024 bytes and is skipped", lineNumber);
        break;
      case EmailLineResult::FieldTooLong:
        qxtTrace("ZELManageSendThread: line %d has a field too long for the server and is skipped",
                 lineNumber);
        break;
      case EmailLineResult::BadByte:
        qxtTrace("ZELManageSendThread: line %d holds control characters and is skipped", lineNumber);
        break;
    }
    if (!goOn) break;
    UpdateProgress();
    std::string current;
    {
      std::lock_guard lock(gTextMutex);
      current = gText;
    }
    qxtTrace("ZELManageSendThread: %s", current.c_str());
  }
}

int SendJob::Run() {
  qxtTrace("ZELManageSendThread: ------- Start -------");
  qxtTrace("ZELManageSendThread: - User Name: %s", plat::UserName().c_str());
  qxtTrace("ZELManageSendThread: - Computer Name: %s", plat::ComputerName().c_str());
  qxtTrace("ZELManageSendThread: - Process Id: %d", static_cast<int>(getpid()));
  qxtTrace("ZELManageSendThread: - Thread Id: %d", static_cast<int>(syscall(SYS_gettid)));
  SetText(ZelString(66));
  gProgress = 5;
  const bool sockets = SocketsAvailable();

  if (QvBind(1) != QV_BIND_OK) {
    Fail(ZelString(67));
    qxtTrace("ZELManageSendThread: Failed: %s", ZelString(67));
    return finalProgress_;
  }
  const std::string app = AppPath();
  auto release = [&] {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (mailLoaded_) UnloadMailLibrary(&mail_);
    mailLoaded_ = false;
    QvRelease();
  };

  if (r_.localStorage == 0 && r_.UseFanrow == 0) {
    qxtTrace("ZELManageSendThread: Check if this computer supports MAPI or SMTP");
    int loaded = LoadMailLibrary(app, &mail_);
    std::string path = MailLibraryPath(app);
    if (loaded == MAIL_LOAD_NOT_FOUND) {
      Fail(ZelString(69));
      qxtTrace("ZELManageSendThread: Failed: %s %s", ZelString(69), path.c_str());
      release();
      return finalProgress_;
    }
    if (loaded != MAIL_LOAD_OK) {
      Fail(ZelString(68));
      qxtTrace("ZELManageSendThread: Failed: %s %s", ZelString(68), path.c_str());
      release();
      return finalProgress_;
    }
    mailLoaded_ = true;
    qxtTrace("ZELManageSendThread: Successfully loaded library %s", path.c_str());
    if (!sockets && !mail_.mapiInstalled) {
      Fail(ZelString(69));
      qxtTrace("ZELManageSendThread: Failed(MAPI or SMTP: %s %s", ZelString(69), path.c_str());
      release();
      return finalProgress_;
    }
  }

  CreateProtocolFiles(r_.configDatabase, (WithSeparator(app) + "admin").c_str());
  for (int group : {GROUP_SETTINGS, GROUP_CLIENT_9X, GROUP_CLIENT_NT, GROUP_FRAMEWORK,
                    GROUP_FRAMEWORK_DEU, GROUP_FRAMEWORK_ENU, GROUP_RUNTIME, GROUP_FOLDER,
                    GROUP_MODEM, GROUP_TCPIP, GROUP_SCHEDULE, GROUP_SETUP})
    GatherComponentInfo(group);

  qxtTrace("ZELManageSendThread: FindWindow(%s)", sw::kWindowClass);
  window_ = plat::FindWindowA(sw::kWindowClass, nullptr);
  if (!window_) {
    std::string text = Format("Retrieving a handle to %s failed", sw::kWindowClass);
    Fail(text);
    qxtTrace("ZELManageSendThread: Failed: %s", text.c_str());
    release();
    return finalProgress_;
  }

  SetText(ZelString(70));
  std::string emailFile = LinuxPath(r_.EmailFile);
  file_ = std::fopen(emailFile.c_str(), "rbe");
  if (!file_) {
    Fail(ZelString(71));
    qxtTrace("ZELManageSendThread: Failed: %s %s", ZelString(71), emailFile.c_str());
    release();
    return finalProgress_;
  }
  fileSize_ = QvApi()->qvFileGetSize(emailFile.c_str());

  if (r_.localStorage == 0 && r_.UseMAPI == 1) {
    SetText(ZelString(72));
    qxtTrace("ZELManageSendThread: %s", ZelString(72));
    if (mail_.MySMAPIInit && mail_.MySMAPIInit() != 0) {
      qxtTrace("ZELManageSendThread: Successfully initialized MAPI");
    } else {
      jobFailed_ = true;
      bool keyFound = false;
      std::string profile;
      plat::HKEY key = nullptr;
      const char* profiles =
          "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
      std::string text;
      if (plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, profiles, 0, plat::KEY_QUERY_VALUE, &key) !=
          plat::ERROR_SUCCESS) {
        text = "Registry Key missing";
      } else {
        keyFound = true;
        char data[256] = {};
        plat::DWORD type = 0, size = sizeof data - 1;
        if (plat::RegQueryValueExA(key, "DefaultProfile", nullptr, &type,
                                   reinterpret_cast<plat::BYTE*>(data), &size) == plat::ERROR_SUCCESS)
          text = Format("%s; DefaultProfile = %s", ZelString(68), data);
        else
          text = "No Default Messaging Profile - Please assign an appropriate account to the service";
        plat::RegCloseKey(key);
      }
      (void)keyFound;
      SetText(text.c_str());
      qxtTrace("ZELManageSendThread: %s", text.c_str());
    }
  }

  if (!jobFailed_ || r_.localStorage == 1 || r_.UseFanrow == 1) ProcessLines();

  if (r_.localStorage == 0 && r_.UseMAPI == 1 && mail_.MySMAPIShutdown) mail_.MySMAPIShutdown();
  release();

  std::string final;
  if (gCancel) {
    final = Format("%s%d", ZelString(79), packages_);
  } else if (jobFailed_) {
    std::lock_guard lock(gTextMutex);
    final = gText;
  } else if (packages_ == 0) {
    final = ZelString(15);
  } else if (packages_ == 1) {
    final = r_.UseFanrow == 1 ? lastDeliveryText_ : ZelString(r_.localStorage == 1 ? 64 : 14);
  }
  if (packages_ > 1) final = Format("%d %s", packages_, ZelString(62));
  SetText(final.c_str());
  qxtTrace("ZELManageSendThread: Finish: %s", final.c_str());
  return 100;
}

void WorkerMain() {
  SendJob job(gRequest);
  int progress = job.Run();
  gRunning = false;
  gProgress = progress;
}

// Waits for a job still running when the library goes away.
struct WorkerGuard {
  ~WorkerGuard() {
    gCancel = 1;
    std::lock_guard lock(gJobMutex);
    if (gWorker.joinable()) gWorker.join();
  }
} gWorkerGuard;

}  // namespace
}  // namespace zel

using namespace zel;

extern "C" ZEL_EXPORT int ZELManageSend(
    const char* emailFile, int protectedMode, const char* autoConfigFile, const char* organization,
    const char* clientInstallDir, const char* clientDatabaseDir, const char* serverDatabaseDir,
    int selectedProtocols, int selectedPlugIns, int selectedAddOns, int useMapi,
    const char* ipAddress, int ipPort, int localStorage, char* localStorageDir, int useFanrow,
    const char* fromAddress, const char* subject, const char* messageBody, int requestReceipt,
    int compressFiles, int flags, char* errorText) {
  auto s = [](const char* text) { return text ? text : ""; };
  std::lock_guard job(gJobMutex);
  char error[kZelTextSize] = "";
  auto fail = [&](const std::string& text) {
    std::snprintf(error, sizeof error, "%s", text.c_str());
    if (errorText) std::memcpy(errorText, error, std::strlen(error) + 1);
    return 0;
  };
  if (gRunning) {
    qxtTrace("ZELManageSend: Failed: a send job is already running");
    return fail("A send job is already running");
  }
  if (gWorker.joinable()) gWorker.join();
  if (const char* pause = std::getenv("ZEL_MESSAGE_PAUSE_MS")) gPauseMs = std::atoi(pause);
  else gPauseMs = 2000;

  SetFirstPackage(true);
  qxtTrace("%s", kDashes);
  qxtTrace("ZELManageSend: Halvorn automatic client installation");
  qxtTrace("%s", kDashes);
  qxtTrace("ZELManageSend: EmailFile        =%s", s(emailFile));
  qxtTrace("ZELManageSend: AutoConfigFile   =%s", s(autoConfigFile));
  qxtTrace("ZELManageSend: Organization\t   =%s", s(organization));
  qxtTrace("ZELManageSend: ClientInstallDir =%s", s(clientInstallDir));
  qxtTrace("ZELManageSend: ClientDatabaseDir=%s", s(clientDatabaseDir));
  qxtTrace("ZELManageSend: ServerDatabaseDir=%s", s(serverDatabaseDir));
  qxtTrace("ZELManageSend: selectedProtocols=%d", selectedProtocols);
  qxtTrace("ZELManageSend: selectedPlugIns  =%d", selectedPlugIns);
  qxtTrace("ZELManageSend: selectedAddOns   =%d", selectedAddOns);
  qxtTrace("ZELManageSend: UseMAPI          =%d", useMapi);
  qxtTrace("ZELManageSend: IPAddress        =%s", s(ipAddress));
  qxtTrace("ZELManageSend: IP_Port          =%d", ipPort);
  qxtTrace("ZELManageSend: localStorage     =%d", localStorage);
  qxtTrace("ZELManageSend: localStorageDir  =%s", s(localStorageDir));
  qxtTrace("ZELManageSend: UseFanrow       =%d", useFanrow);
  qxtTrace("ZELManageSend: FromAddress      =%s", s(fromAddress));
  qxtTrace("ZELManageSend: Subject          =%s", s(subject));
  qxtTrace("ZELManageSend: MessageBody      =%s", s(messageBody));
  qxtTrace("ZELManageSend: RequestReceipt   =%d", requestReceipt);
  qxtTrace("ZELManageSend: CompressFiles\t   =%d", compressFiles);
  qxtTrace("ZELManageSend: Flags\t\t\t\t=%d", flags);
  if (errorText) errorText[0] = '\0';

  SendRequest& r = gRequest;
  std::memset(&r, 0, sizeof r);
  CopyText(r.localStorageDir, sizeof r.localStorageDir, localStorageDir);
  if (useFanrow == 1) {
    qxtTrace("ZELManageSend: UseFanrow == TRUE - Setting localStorage to TRUE");
    qxtTrace("ZELManageSend: UseFanrow == TRUE - Setting UseMAPI to FALSE");
    qxtTrace("ZELManageSend: UseFanrow == TRUE - Setting compressFiles to 0");
    std::string installPath;
    bool keyFound = false;
    if (!ReadHklmText("SOFTWARE\\Velmora\\Plenwick\\Fanrow", "InstallPath", &installPath,
                      &keyFound)) {
      std::string text = keyFound ? "Unable to determine Fanrow install path" : "Fanrow not installed";
      qxtTrace("ZELManageSend: Failed: %s", text.c_str());
      return fail(text);
    }
    qxtTrace("ZELManageSend: FanrowInstallPath: %s", installPath.c_str());
    std::string dataDir, packagePath;
    if (!ReadHklmText("SOFTWARE\\Velmora\\Orbserver\\CurrentVersion", "DataDir", &dataDir,
                      &keyFound)) {
      if (!keyFound) {
        qxtTrace("ZELManageSend: Failed: %s", "Unable to determine DataDir");
        return fail("Unable to determine DataDir");
      }
      qxtTrace("ZELManageSend: Unable to determine FanrowSoftwarePackagePath");
      packagePath = "C:\\temp\\Fanrow";
    } else {
      packagePath = dataDir + "\\Fanrow";
    }
    packagePath = LinuxPath(packagePath);
    qxtTrace("ZELManageSend: FanrowSoftwarePackagePath: %s", packagePath.c_str());
    qxtTrace("ZELManageSend: UseFanrow == TRUE - Setting localStorageDir to FanrowSoftwarePackagePath");
    CopyText(r.FanrowInstallPath, sizeof r.FanrowInstallPath, installPath.c_str());
    CopyText(r.FanrowPackagePath, sizeof r.FanrowPackagePath, packagePath.c_str());
    CopyText(r.localStorageDir, sizeof r.localStorageDir, packagePath.c_str());
    if (localStorageDir) CopyText(localStorageDir, 260, packagePath.c_str());
    useMapi = 0;
    localStorage = 1;
    compressFiles = 0;
  }

  if (QvBind(1) != QV_BIND_OK) {
    qxtTrace("ZELManageSend: Failed: %s", "qvCoreStartup failed");
    return fail("qvCoreStartup failed");
  }
  const std::string app = AppPath();
  const std::string data = DataPath();
  for (auto [format, name] : {std::pair{"%s\\Client32\\%s", "stub.zel"},
                              std::pair{"%s\\client32\\%s", "setup.zel"}}) {
    char windowsPath[600];
    std::snprintf(windowsPath, sizeof windowsPath, format, app.c_str(), name);
    std::string path = LinuxPath(windowsPath);
    if (!QvApi()->qvFileCheckExist(path.c_str())) {
      qxtTrace("ZELManageSend: Failed: %s, %s", ZelString(17), path.c_str());
      QvRelease();
      return fail(ZelString(17));
    }
  }
  std::string email = LinuxPath(s(emailFile));
  if (std::FILE* f = std::fopen(email.c_str(), "rbe")) {
    std::fclose(f);
  } else {
    std::string text = Format("Unable to open Email file %s", s(emailFile));
    qxtTrace("ZELManageSend: Failed: %s", text.c_str());
    QvRelease();
    return fail(text);
  }
  QvRelease();

  if (r.localStorageDir[0]) {
    std::string dir = LinuxPath(r.localStorageDir);
    if (QvBind(1) != QV_BIND_OK || QvApi()->qvDirectoryCreateIfNotExist(dir.c_str()) != 0) {
      QvRelease();
      std::string text = Format("Unable to create directory %s on server machine", r.localStorageDir);
      qxtTrace("ZELManageSend: Failed: %s", text.c_str());
      return fail(text);
    }
    QvRelease();
    qxtTrace("ZELManageSend: Directory %s created", r.localStorageDir);
  }

  // Fill the request.
  CopyText(r.EmailFile, sizeof r.EmailFile, s(emailFile));
  r.protectedMode = protectedMode;
  char configDatabase[600];
  std::snprintf(configDatabase, sizeof configDatabase, "%s\\config\\%s.cdb", data.c_str(),
                s(autoConfigFile));
  CopyText(r.configDatabase, sizeof r.configDatabase, LinuxPath(configDatabase).c_str());
  CopyText(r.Organization, sizeof r.Organization, organization);
  CopyText(r.ClientInstallDir, sizeof r.ClientInstallDir, clientInstallDir);
  CopyText(r.ClientDatabaseDir, sizeof r.ClientDatabaseDir, clientDatabaseDir);
  CopyText(r.ServerDatabaseDir, sizeof r.ServerDatabaseDir, serverDatabaseDir);
  r.userModeExpert = 0;
  r.selectedProtocols = selectedProtocols;
  r.selectedPlugIns = selectedPlugIns;
  r.selectedAddOns = selectedAddOns;
  r.UseMAPI = useMapi;
  CopyText(r.IPAddress, sizeof r.IPAddress, ipAddress);
  r.IP_Port = ipPort;
  r.localStorage = localStorage;
  r.UseFanrow = useFanrow;
  CopyText(r.FromAddress, sizeof r.FromAddress, fromAddress);
  CopyText(r.Subject, sizeof r.Subject, subject);
  CopyText(r.MessageBody, sizeof r.MessageBody, messageBody);
  r.RequestReceipt = requestReceipt;
  r.CompressFiles = compressFiles;
  r.Flags = flags;

  gCancel = 0;
  gMapiBusy = 0;
  gPollCount = 0;
  SetText(ZelString(66));
  gProgress = 5;
  gRunning = true;
  try {
    gWorker = std::thread(WorkerMain);
  } catch (...) {
    gRunning = false;
    gProgress = 100;
    qxtTrace("ZELManageSend: Failed: %s", "Unable to start the send thread");
    return fail("Unable to start the send thread");
  }
  qxtTrace("ZELManageSend: return TRUE");
  return 1;
}

extern "C" ZEL_EXPORT int ZELGetProgress(int cancel, char* text) {
  if (gMapiBusy) {
    int polls = ++gPollCount;
    qxtTrace("ZELGetProgress: Waiting for MAPISendMail since %d seconds", polls);
    if (polls > 600) {
      gPollCount = 0;
      gMapiBusy = 0;
      gCancel = 1;
      const char* message = "MAPISendMail not responding, Cancel initiated";
      if (text) std::snprintf(text, kZelTextSize, "%s", message);
      qxtTrace("ZELGetProgress: %s", message);
      return -1;
    }
  } else {
    gPollCount = 0;
  }
  if (cancel) {
    gCancel = 1;
    if (text) std::snprintf(text, kZelTextSize, "%s", "Cancel initiated");
    qxtTrace("ZELGetProgress: Cancel initiated");
    return -1;
  }
  int progress = gProgress;
  std::string current;
  {
    std::lock_guard lock(gTextMutex);
    current = gText;
  }
  if (text) std::snprintf(text, kZelTextSize, "%s", current.c_str());
  qxtTrace("ZELGetProgress: %d, %s", progress, current.c_str());
  return progress;
}
