// The main sequence of the client start-up setup: checks, settings, the
// extraction of the client software, the client set-up, the clean-up of
// every file of the packing list and the first start of the client.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pending_ops.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "qvbind.h"
#include "setup_sequence.h"

namespace zelsetup {
namespace {

constexpr const char* kCaption = "ZEL Setup";

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

std::string Format(const char* format, const std::string& text, int number) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, text.c_str(), number);
  return buffer;
}

class Sequence {
 public:
  Sequence(const SetupOptions& options, SetupView& view) : options_(options), view_(view) {
    ctx_.log = &log_;
    ctx_.view = &view_;
    ctx_.tempDir = plat::TempPath();
  }

  int Run();

 private:
  bool Going() { return state_ == STATE_RUNNING && !view_.Closed(); }
  void Show(int id, int progressStep) {
    view_.SetStatus(SetupString(id));
    ctx_.Progress(ctx_.progress + progressStep);
  }
  void Fail(int state, const std::string& message) {
    state_ = state;
    view_.MessageBox(message, kCaption);
  }

  void DeterminePackage();
  void ReadZelIni();
  void ReadPackageDatabase();
  void ExtractBaseInstall();
  bool ExtractTree(int parent, const std::string& folder, std::FILE* list);
  void ReadUserDatabase();
  void ReadUserIni();
  void InstallClient();
  void CleanUp();
  std::string PackingListPath() const;
  std::string ClientFolderName() const { return win9x_ ? "client9x" : "client"; }

  const SetupOptions& options_;
  SetupView& view_;
  DebugLog log_;
  SetupContext ctx_;
  int state_ = STATE_RUNNING;

  std::string programFolder_;  // P, with trailing "/"
  bool compressed_ = false;
  bool ownFolder_ = false;         // setup.exe lies beside the program
  std::string storageFolder_;      // S, uncompressed form
  std::string userFolderName_;     // uncompressed form
  std::string extractFolder_;      // E
  bool coreStarted_ = false;
  int db_ = -1;

  std::string installDir_, databaseDir_;
  bool scheduler_ = false, expert_ = false, ofa_ = false, win9x_ = false;
  std::string orbUser_, userName_;
  bool repairFailed_ = false;
  bool setupRan_ = false;
  // Everything extracted, in packing-list order: cleaned up even when the
  // packing list cannot be written or read.
  std::vector<std::string> extracted_;
};

int Sequence::Run() {
  const std::string user = plat::UserName();
  // Step 2: the debug log.
  log_.Open(ctx_.tempDir + "zelDebug.txt");
  Show(127, 2);
  // Step 3: administrator check.
  if (user.empty()) {
    log_.Line("Unable to check administrator privileges; function GetUserName returns %d\n", 0);
  } else if (!IsUserAdministrator(user, log_)) {
    state_ = STATE_NO_ADMIN;
  }
  // Step 4: old open-file agent.
  if (Going() && DeleteOfaForVersion35(ctx_) == 0) log_.Line("Unable to delete ofa \n");
  // Steps 5 to 8.
  if (Going()) DeterminePackage();
  if (Going() && !compressed_) ReadZelIni();
  if (Going() && compressed_) ReadPackageDatabase();
  if (Going() && compressed_) ExtractBaseInstall();
  if (db_ > 0) {
    zel::QvApi()->qvDBFileClose(db_);
    db_ = -1;
  }
  // Steps 9 to 12.
  if (Going()) InstallClient();
  // Step 13. A cancel before the client set-up ran is no success.
  const bool cancelled = view_.Closed();
  if (cancelled && !setupRan_ && state_ == STATE_RUNNING) state_ = STATE_FAILED;
  view_.ShowCloseButton(SetupString(119));
  if (cancelled) view_.SetStatus(SetupString(114));
  // Step 14.
  int final = state_ == STATE_RUNNING || state_ == STATE_REBOOT || state_ == STATE_NO_ADMIN
                  ? state_
                  : STATE_FAILED;
  view_.SetStatus(SetupString(final));
  ctx_.Progress(100);
  // Step 15.
  if (compressed_ && state_ != STATE_CORE_FAILED) {
    if (state_ != STATE_DATABASE) CleanUp();
  }
  if (coreStarted_) zel::QvRelease();
  // Step 16.
  if (!options_.silent) {
    view_.WaitUntilClosed();
    if (state_ == STATE_RUNNING && !cancelled) {
      if (user != "SYSTEM")
        StartClientForUser(ctx_);
      else
        log_.Line("Don't start ORBClient for user %s\n", user.c_str());
    }
  }
  // Step 17.
  log_.Line("setup: exit code %d\n", ctx_.lastExitCode);
  log_.Close();
  return ctx_.lastExitCode;
}

std::string Sequence::PackingListPath() const {
  // The command line is the packing list's path; "-silent" is no part of it.
  std::string line = options_.commandLine;
  for (std::size_t at; (at = line.find("-silent")) != std::string::npos;) line.erase(at, 7);
  std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::size_t last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

void Sequence::DeterminePackage() {
  programFolder_ = plat::FolderOf(options_.programPath);
  if (programFolder_.empty()) programFolder_ = "./";
  std::string zelIni = plat::WindowsPathToLinux(programFolder_ + "zel.ini");
  log_.Line("Package evaluation -> zel.ini file location %s \n", zelIni.c_str());
  compressed_ = !Exists(zelIni);
  if (compressed_) {
    if (zel::QvBindFrom(programFolder_, 0) != zel::QV_BIND_OK) {
      state_ = STATE_CORE_FAILED;
      return;
    }
    coreStarted_ = true;
    log_.Line("Package evaluation -> Package type is compressed \n");
    return;
  }
  log_.Line("Package evaluation -> Package type is uncompressed \n");
  ownFolder_ = Exists(plat::WindowsPathToLinux(programFolder_ + "setup.exe"));
  if (ownFolder_) {
    log_.Line("Package evaluation -> Sdo installation \n");
  } else {
    std::string userFolder = WithoutTrailingSeparator(programFolder_);
    std::size_t slash = userFolder.find_last_of('/');
    userFolderName_ = slash == std::string::npos ? userFolder : userFolder.substr(slash + 1);
    storageFolder_ = plat::FolderOf(userFolder);
  }
}

void Sequence::ReadZelIni() {
  Show(126, 5);
  std::string ini = plat::WindowsPathToLinux(programFolder_ + "zel.ini");
  auto read = [&](const char* key, const char* fallback) {
    char buffer[261] = {};
    plat::GetPrivateProfileStringA("ZELSetup", key, fallback, buffer, sizeof buffer, ini.c_str());
    return std::string(buffer);
  };
  installDir_ = read("INSTALLDIR", "");
  databaseDir_ = read("DATABASEDIR", "");
  scheduler_ = read("SchedulerInStartup", "no") == "yes";
  expert_ = read("UserMode", "default") == "expert";
  ofa_ = read("InstallOfa", "no") == "yes";
  win9x_ = read("OperatingSystem", "WinXp") == "Win9x";
  log_.Line("Read zel file -> Finished successful \n");
}

void Sequence::ReadPackageDatabase() {
  Show(112, 2);
  const zel::QvCore* qv = zel::QvApi();
  char path[QV_MAX_PATH] = {};
  std::snprintf(path, sizeof path, "%s", (programFolder_ + "install.cdb").c_str());
  std::string shown = path;
  db_ = qv->qvDBFileOpen(path, QV_DB_READ);
  if (db_ <= 0) {
    db_ = -1;
    Fail(STATE_DATABASE, Format("Open %s failed with error %d", shown, STATE_DATABASE));
    return;
  }
  int root = qv->qvDBFindChildIDByName(db_, 0, "", 0);
  if (root <= 0) root = qv->qvDBGetFirstID(db_, 0);
  auto value = [&](const char* name, int size, std::string* out) {
    int id = root > 0 ? qv->qvDBFindChildIDByName(db_, root, name, 0) : 0;
    if (id <= 0) {
      char text[128];
      std::snprintf(text, sizeof text, "Find %s failed with error %d", name, STATE_ENTRY_MISSING);
      Fail(STATE_ENTRY_MISSING, text);
      return false;
    }
    char buffer[QV_MAX_PATH] = {};
    int n = qv->qvDBRead(db_, id, buffer, size);
    qv->qvDBClose(db_, id);
    *out = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    return true;
  };
  Show(110, 2);
  if (!value("ClientInstallDir", QV_MAX_PATH - 1, &installDir_)) return;
  Show(111, 2);
  if (!value("ClientDatabaseDir", QV_MAX_PATH - 1, &databaseDir_)) return;
  std::string text;
  if (!value("UserMode", 10, &text)) return;
  expert_ = text == "expert";
  if (!value("InstallOfa", 10, &text)) return;
  ofa_ = text == "yes";
  if (!value("OperatingSystem", 10, &text)) return;
  win9x_ = text == "Win9x";
}

void Sequence::ExtractBaseInstall() {
  const zel::QvCore* qv = zel::QvApi();
  Show(117, 2);
  extractFolder_ = programFolder_ + "ORBClient";
  if (qv->qvDirectoryCreateIfNotExist(extractFolder_.c_str()) != 0) {
    Fail(STATE_EXTRACT_FOLDER,
         Format("Create directory %s failed with error %d", extractFolder_, STATE_EXTRACT_FOLDER));
    return;
  }
  view_.SetStatus(SetupString(107));
  char shortened[QV_MAX_PATH] = {};
  qv->qvDirectoryNameTrim(extractFolder_.c_str(), shortened, 60);
  view_.SetDetail(shortened);
  int root = qv->qvDBFindChildIDByName(db_, 0, "", 0);
  if (root <= 0) root = qv->qvDBGetFirstID(db_, 0);
  int base = root > 0 ? qv->qvDBFindChildIDByName(db_, root, "BaseInstall", 0) : 0;
  if (base <= 0) {
    char text[128];
    std::snprintf(text, sizeof text, "Find BaseInstall failed with error %d", STATE_NO_BASEINSTALL);
    Fail(STATE_NO_BASEINSTALL, text);
    return;
  }
  log_.Line("setup: InstallIt (...,%s)\n", extractFolder_.c_str());
  std::FILE* list = std::fopen(PackingListPath().c_str(), "a");
  if (list) std::fputs("\n", list);
  bool ok = ExtractTree(base, extractFolder_, list);
  if (list) {
    std::fprintf(list, "%s\n", extractFolder_.c_str());
    std::fclose(list);
  } else {
    log_.Line("setup: cannot append to the packing list %s\n", PackingListPath().c_str());
  }
  if (!ok) return;  // state and message set by ExtractTree
  log_.Line("Get Scheduler in Startup Info.\n");
  ReadUserDatabase();
}

bool Sequence::ExtractTree(int parent, const std::string& folder, std::FILE* list) {
  const zel::QvCore* qv = zel::QvApi();
  for (int id = qv->qvDBGetFirstID(db_, parent); id > 0; id = qv->qvDBGetNextID(db_, parent, id)) {
    char name[QV_MAX_PATH] = {};
    if (qv->qvDBReadName(db_, id, name, sizeof name) <= 0 || !name[0]) continue;
    if (qv->qvDBGetType(db_, id) == QV_TYPE_FILE) {
      std::string fileName;
      std::uint32_t dos = 0;
      if (!SplitFileEntryName(name, &fileName, &dos)) {
        log_.Line("--> Bad entry name: %s\n", name);
        Fail(STATE_FAILED, Format("Extract %s failed with error %d", name, STATE_FAILED));
        return false;
      }
      std::string path = folder + "/" + fileName;
      int written = qv->qvDBWriteIDToFile(db_, id, path.c_str());
      qv->qvDBClose(db_, id);
      if (list) std::fprintf(list, "%s\n", path.c_str());
      extracted_.push_back(path);
      if (written < 0) {
        log_.Line("--> Extract File failed: %s\n", path.c_str());
        Fail(STATE_FAILED, Format("Extract %s failed with error %d", path, STATE_FAILED));
        return false;
      }
      if (dos != 0) qv->qvFileSetDateTime(path.c_str(), dos);
      log_.Line("--> Extract File: %s\n", path.c_str());
    } else {
      if (!IsBareEntryName(name)) {
        log_.Line("--> Bad entry name: %s\n", name);
        Fail(STATE_FAILED, Format("Extract %s failed with error %d", name, STATE_FAILED));
        return false;
      }
      std::string path = folder + "/" + name;
      if (qv->qvDirectoryCreateIfNotExist(path.c_str()) != 0) {
        Fail(STATE_EXTRACT_FOLDER,
             Format("Create directory %s failed with error %d", path, STATE_EXTRACT_FOLDER));
        return false;
      }
      log_.Line("--> Create Directory: %s\n", path.c_str());
      bool ok = ExtractTree(id, path, list);
      if (list) std::fprintf(list, "%s\n", path.c_str());
      extracted_.push_back(path);
      if (!ok) return false;
    }
  }
  return true;
}

void Sequence::ReadUserDatabase() {
  // Where the package builder puts the user's database first, then the
  // place directly in the extraction folder.
  const zel::QvCore* qv = zel::QvApi();
  for (const std::string& candidate :
       {extractFolder_ + "\\" + ClientFolderName() + "\\Data\\local.cdb",
        extractFolder_ + "\\data\\local.cdb"}) {
    char path[QV_MAX_PATH] = {};
    std::snprintf(path, sizeof path, "%s", plat::WindowsPathToLinux(candidate).c_str());
    if (!Exists(path)) continue;
    int db = qv->qvDBFileOpen(path, QV_DB_READ);
    if (db <= 0) continue;
    int config = qv->qvDBFindChildIDByName(db, 0, "Config", 0);
    if (config > 0) {
      scheduler_ = true;
      int entry = qv->qvDBFindChildIDByName(db, config, "ScheduleInStartup", 0);
      if (entry <= 0) entry = qv->qvDBFindChildIDByName(db, config, "SchedulerInStartup", 0);
      if (entry > 0) {
        char text[32] = {};
        int n = qv->qvDBRead(db, entry, text, sizeof text - 1);
        qv->qvDBClose(db, entry);
        if (n > 0) scheduler_ = std::atoi(text) != 0;
      }
    }
    qv->qvDBFileClose(db);
    if (config > 0) return;
  }
}

void Sequence::ReadUserIni() {
  std::vector<std::string> candidates;
  if (compressed_) {
    candidates = {extractFolder_ + "\\" + ClientFolderName() + "\\Config\\user.ini",
                  extractFolder_ + "\\Config\\user.ini"};
  } else {
    candidates = {programFolder_ + "Config\\user.ini"};
  }
  for (const std::string& candidate : candidates) {
    std::string ini = plat::WindowsPathToLinux(candidate);
    if (!Exists(ini)) continue;
    char buffer[81] = {};
    plat::GetPrivateProfileStringA("User", "OrbUser", "", buffer, sizeof buffer, ini.c_str());
    orbUser_ = buffer;
    plat::GetPrivateProfileStringA("User", "UserName", "", buffer, sizeof buffer, ini.c_str());
    userName_ = buffer;
    return;
  }
  if (!compressed_ && !ownFolder_) userName_ = userFolderName_;
}

void Sequence::InstallClient() {
  Show(113, 5);
  if (!RepairClientVersion(ctx_)) {
    repairFailed_ = true;
    state_ = STATE_FAILED;  // the installation is skipped: no success
    return;
  }
  ReadUserIni();
  ClientSetupInput in;
  std::string base;
  if (compressed_) {
    base = extractFolder_;
  } else if (ownFolder_) {
    base = WithoutTrailingSeparator(programFolder_);
  } else {
    base = storageFolder_;
  }
  in.sourceFolder = ownFolder_ ? base
                               : plat::WindowsPathToLinux(WithoutTrailingSeparator(base) +
                                                          "\\Client" + (win9x_ ? "9x" : ""));
  in.installDir = installDir_;
  in.databaseDir = databaseDir_;
  in.scheduler = scheduler_;
  in.expert = expert_;
  in.ofa = ofa_;
  in.win9x = win9x_;
  in.orbUser = orbUser_;
  in.winUser = userName_;
  bool ok = RunClientSetup(ctx_, in);
  setupRan_ = true;
  view_.SetStatus(SetupString(ok ? 115 : 116));
  ctx_.Progress(90);
  if (!scheduler_ && view_.Interactive()) {
    // The scheduler's autostart entry of the user.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = config && *config ? config : std::string(home ? home : "") + "/.config";
    std::string shortcut = folder + "/autostart/Orb Scheduler.desktop";
    log_.Line("--> Remove Scheduler entry from Startup Group...\n");
    log_.Line(">>> Delete file %s\n", shortcut.c_str());
    unlink(shortcut.c_str());
  }
  int code = ctx_.lastExitCode;
  state_ = code == 0 ? STATE_RUNNING : (code == 3010 || code == -3010) ? STATE_REBOOT : STATE_FAILED;
}

void Sequence::CleanUp() {
  const zel::QvCore* qv = zel::QvApi();
  auto remove = [&](const std::string& path) {
    log_.Line("Cleanup: qvFileDelete (%s)\n", path.c_str());
    bool done = (qv && qv->qvFileDelete(path.c_str()) == 0) ||
                (IsDirectory(path) && rmdir(path.c_str()) == 0);
    if (!done) {
      log_.Line("Cleanup: DeleteAtReboot (%s)\n", path.c_str());
      zel::ScheduleDeleteAtRestart(path);
    }
  };
  std::string listPath = PackingListPath();
  if (std::FILE* list = std::fopen(listPath.c_str(), "r")) {
    char line[QV_MAX_PATH + 2];
    while (std::fgets(line, sizeof line, list)) {
      std::size_t n = std::strlen(line);
      while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
      if (n > 0) remove(line);
    }
    std::fclose(list);
  }
  for (const std::string& path : extracted_) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) remove(path);
  }
  if (!extractFolder_.empty()) {
    std::string qvinit = extractFolder_ + "/qvinit.exe";
    if (Exists(qvinit)) remove(qvinit);
    if (IsDirectory(extractFolder_)) remove(extractFolder_);
  }
}

}  // namespace

bool IsBareEntryName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  return true;
}

bool SplitFileEntryName(const std::string& entry, std::string* fileName, std::uint32_t* dos) {
  std::size_t slash = entry.find_last_of('\\');
  *dos = 0;
  *fileName = entry.substr(0, slash);
  if (slash != std::string::npos)  // signed decimal, as the builder writes it
    *dos = static_cast<std::uint32_t>(std::strtoll(entry.c_str() + slash + 1, nullptr, 10));
  return IsBareEntryName(*fileName);
}

int RunSetup(const SetupOptions& options, SetupView& view) {
  Sequence sequence(options, view);
  return sequence.Run();
}

}  // namespace zelsetup
