// The package builder: the component table, the package database (compressed
// form), the folder form with "zel.ini", the per-user settings and
// configuration database, and the upgrade decision.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "qvbind.h"
#include "qx/qxtrace.h"
#include "zel/zelinst.h"

namespace zel {
namespace {

// The rows of every group, each group ended by an empty row. The framework
// group is the framework's installation image: its installer "NorvSetup.exe",
// the image's file list "NorvSetup.ini" and every file that list may name
// (the Linux framework deliverables under their own names, the crash
// handler under the name the explorer loads it by), all in one folder as
// the installer expects them beside itself; then the installer's response
// file, which a client set-up writes itself when the package carries none.
#define ROW(name, code) {name, "", code, 0}
#define END(code) {"", "", code, 0}
ComponentRow gSettings[] = {ROW("protocol.ini", 4), ROW("mail.ini", 4), ROW("user.ini", 4), END(4)};
ComponentRow gSetup[] = {ROW("Setup.zel", 5), END(5)};
ComponentRow gClientNt[] = {ROW("Orbclient.msi", 2), ROW("Data1.cab", 2), ROW("setup.bmp", 2),
                            ROW("setup.exe", 2), ROW("setup.inf", 2), END(2)};
ComponentRow gClient9x[] = {ROW("Orbclient.msi", 3), ROW("Data1.cab", 3), ROW("setup.bmp", 3),
                            ROW("setup.exe", 3), ROW("setup.inf", 3), END(3)};
ComponentRow gFramework[] = {
    ROW("libnorv21.so", 6),       ROW("libnorv21exc.so.2", 6),  ROW("libnorv21stp.so", 6),
    ROW("libnorvplatform.so", 6), ROW("norvexplore", 6),        ROW("norvexplore-cli", 6),
    ROW("norvcrashdlg", 6),       ROW("libnorvhost_enu.so", 6), ROW("libnorvhost_deu.so", 6),
    ROW("NorvSetup.exe", 6),      ROW("NorvSetup.ini", 6),      ROW("norv.rsp", 6),
    END(6)};
ComponentRow gDeu[] = {ROW("Norv21deu.chm", 7), ROW("norv21Res.dll", 7), ROW("norv21Reu.dll", 7), END(7)};
ComponentRow gEnu[] = {ROW("Norv21enu.chm", 8), ROW("norv21Res.dll", 8), ROW("norv21Reu.dll", 8), END(8)};
ComponentRow gRuntime[] = {ROW("Mfc42.dll", 9),   ROW("mfc42u.dll", 9), ROW("Msvcirt.dll", 9),
                           ROW("Msvcp60.dll", 9), ROW("Msvcrt.dll", 9), END(9)};
ComponentRow gFolder[] = {ROW("folder.ini", 4), END(4)};
ComponentRow gModem[] = {ROW("modem.ini", 4), END(4)};
ComponentRow gTcpip[] = {ROW("tcpip.ini", 4), END(4)};
ComponentRow gSchedule[] = {ROW("schedule.ini", 1), END(1)};
#undef ROW
#undef END

ComponentRow* const gGroups[GROUP_COUNT] = {gSettings,  gSetup,  gClientNt, gClient9x,
                                            gFramework, gDeu,    gEnu,      gRuntime,
                                            gFolder,    gModem,  gTcpip,    gSchedule};

std::atomic<bool> gFirstPackage{true};

const QvCore* Qv() { return QvApi(); }

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

// Writes a text value entry under parent; skipped when it cannot be created.
void WriteValue(int db, int parent, const char* name, const char* value) {
  const QvCore* qv = Qv();
  int id = qv->qvDBCreateNode(db, parent, name, 0);
  if (id <= 0) return;
  qv->qvDBWrite(db, id, value, static_cast<int>(std::strlen(value)));
  qv->qvDBClose(db, id);
}

// Adds a group's rows below parent; absent rows get an empty entry when
// `keepAbsent`, else they are left out.
void AddGroup(int db, int parent, int group, bool keepAbsent) {
  for (ComponentRow* row = ComponentGroupRows(group); row && row->fileName[0]; ++row) {
    if (!row->sourcePath[0] && !keepAbsent) continue;
    WriteFileToNode(db, parent, row->fileName, row->sourcePath);
  }
}

// Copies a group's resolved rows into folder.
void CopyGroup(const std::string& folder, int group) {
  for (ComponentRow* row = ComponentGroupRows(group); row && row->fileName[0]; ++row)
    if (row->sourcePath[0]) CopyFileUncompressed(folder.c_str(), row->fileName, row->sourcePath);
}

bool MakeFolder(const std::string& windowsPath) {
  return Qv()->qvDirectoryCreateIfNotExist(LinuxPath(windowsPath).c_str()) == 0;
}

// A folder is built under a temporary name beside its final place and moved
// there only when complete, so an interrupted build never looks like a
// package. An existing folder of that name is replaced.
class FolderUnderConstruction {
 public:
  explicit FolderUnderConstruction(const std::string& finalLinuxPath) : final_(finalLinuxPath) {
    std::string pattern = final_ + ".partial-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) temp_ = name.data();
  }
  ~FolderUnderConstruction() {
    if (!temp_.empty()) Remove(temp_);
  }
  FolderUnderConstruction(const FolderUnderConstruction&) = delete;
  FolderUnderConstruction& operator=(const FolderUnderConstruction&) = delete;

  bool ok() const { return !temp_.empty(); }
  const std::string& path() const { return temp_; }

  bool Commit() {
    if (temp_.empty()) return false;
    chmod(temp_.c_str(), 0755);
    std::string old;
    struct stat st {};
    if (lstat(final_.c_str(), &st) == 0) {
      old = final_ + ".old-" + std::to_string(getpid()) + "-" + std::to_string(++counter_);
      if (rename(final_.c_str(), old.c_str()) != 0) return false;
    }
    if (rename(temp_.c_str(), final_.c_str()) != 0) {
      if (!old.empty()) rename(old.c_str(), final_.c_str());
      return false;
    }
    temp_.clear();
    if (!old.empty()) Remove(old);
    return true;
  }

 private:
  static void Remove(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  static inline std::atomic<int> counter_{0};
  std::string final_;
  std::string temp_;
};

bool ReadRegistryText(const char* keyName, const char* valueName, std::string* value) {
  return plat::RegReadTextA(plat::HKEY_LOCAL_MACHINE, keyName, valueName, QV_MAX_PATH, value);
}

std::string ReadHostName(char* path);

// Reads an entry's content as text (at most 259 bytes).
std::string ReadText(int db, int id) {
  char buffer[QV_MAX_PATH] = {};
  int n = Qv()->qvDBRead(db, id, buffer, sizeof buffer - 1);
  Qv()->qvDBClose(db, id);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The host name configured in the configuration database, else empty. The
// answer is kept for as long as the database file stays the same.
std::string ConfiguredHostName(const char* configDatabase) {
  char path[QV_MAX_PATH] = {};
  std::snprintf(path, sizeof path, "%s", LinuxPath(configDatabase ? configDatabase : "").c_str());
  if (!path[0]) return {};
  struct Cached {
    std::string path;
    struct stat st {};
    std::string host;
  };
  static std::mutex mutex;
  static Cached cached;
  struct stat st {};
  if (stat(path, &st) != 0) return {};
  {
    std::lock_guard lock(mutex);
    if (cached.path == path && cached.st.st_ino == st.st_ino && cached.st.st_size == st.st_size &&
        cached.st.st_mtim.tv_sec == st.st_mtim.tv_sec && cached.st.st_mtim.tv_nsec == st.st_mtim.tv_nsec)
      return cached.host;
  }
  std::string host = ReadHostName(path);
  std::lock_guard lock(mutex);
  cached = Cached{path, st, host};
  return host;
}

std::string ReadHostName(char* path) {
  const QvCore* qv = Qv();
  int db = qv->qvDBFileOpen(path, QV_DB_READ);
  if (db <= 0) return {};
  std::string host;
  int protocols = qv->qvDBFindChildIDByName(db, 0, "Protocols", 0);
  int tcpip = protocols > 0 ? qv->qvDBFindChildIDByName(db, protocols, "TCP/IP", 0) : 0;
  int name = tcpip > 0 ? qv->qvDBFindChildIDByName(db, tcpip, "HostName", 0) : 0;
  if (name > 0) host = ReadText(db, name);
  qv->qvDBFileClose(db);
  return host;
}

}  // namespace

// ---- Paths -----------------------------------------------------------------

std::string LinuxPath(const std::string& windowsPath) {
  return windowsPath.empty() ? std::string() : plat::WindowsPathToLinux(windowsPath);
}

std::string AppPath() {
  char buffer[QV_MAX_PATH] = {};
  const QvCore* qv = Qv();
  if (!qv || qv->qvGetAppPath(buffer, sizeof buffer) < 0) return {};
  return buffer;
}

std::string DataPath() {
  char buffer[QV_MAX_PATH] = {};
  const QvCore* qv = Qv();
  if (!qv || qv->qvGetDataPath(buffer, sizeof buffer) < 0) return {};
  return buffer;
}

std::string UserFolderFor(const std::string& userName) {
  std::size_t slash = userName.find('\\');
  if (slash == std::string::npos) return userName;
  return userName.substr(slash + 1) + "@" + userName.substr(0, slash);
}

// ---- Component table -------------------------------------------------------

ComponentRow* ComponentGroupRows(int group) {
  return group >= 0 && group < GROUP_COUNT ? gGroups[group] : nullptr;
}

const char* ComponentFolderText(int code) {
  switch (code) {
    case 0: return "ClientSoftware\\";
    case 1: return "ClientSoftware\\TRELD\\Client\\Config\\";
    case 2: return "ClientSoftware\\TRELD\\Client\\";
    case 3: return "ClientSoftware\\TRELD\\Client9x\\";
    case 4: return "admin\\";
    case 5: return "Client32\\";
    case 6: return "ClientSoftware\\TRELD\\Client\\Norv2.1\\";
    case 7: return "ClientSoftware\\TRELD\\Client\\Norv2.1\\nls\\deu\\";
    case 8: return "ClientSoftware\\TRELD\\Client\\Norv2.1\\nls\\enu\\";
    case 9: return "ClientSoftware\\TRELD\\Client\\Norv2.1\\redist\\";
    default: return "";
  }
}

void GatherComponentInfo(int group) {
  ComponentRow* rows = ComponentGroupRows(group);
  const QvCore* qv = Qv();
  if (!rows || !qv) return;
  std::string app = AppPath();
  if (!app.empty() && app.back() != '\\' && app.back() != '/') app += "\\";
  std::uint64_t total = 0;
  for (ComponentRow* row = rows; row->fileName[0]; ++row) {
    std::string source = LinuxPath(app + ComponentFolderText(row->folderCode) + row->fileName);
    std::uint32_t size = qv->qvFileGetSize(source.c_str());
    if (size == 0 || source.size() >= sizeof row->sourcePath) {
      qxtTrace("GatherComponentInfo: File not found: %s", source.c_str());
      row->sourcePath[0] = '\0';
    } else {
      std::memcpy(row->sourcePath, source.c_str(), source.size() + 1);
    }
    total += size;
  }
  rows[0].totalKb = total / 1024;
  qxtTrace("GatherComponentInfo: Total File Size for this Group: %d",
           static_cast<int>(total > INT_MAX ? INT_MAX : total));
}

void SetFirstPackage(bool first) { gFirstPackage = first; }
bool IsFirstPackage() { return gFirstPackage; }

// ---- Compressed form -------------------------------------------------------

int WriteFileToNode(int db, int parent, const char* fileName, const char* sourcePath) {
  const QvCore* qv = Qv();
  char name[2 * QV_MAX_PATH];
  int find = sourcePath && sourcePath[0] ? qv->qvFileFindFirst(sourcePath) : -1;
  if (find > 0) {
    std::snprintf(name, sizeof name, "%s\\%d", fileName,
                  static_cast<int>(qv->qvFileFindGetDosDateTime(find)));
    qv->qvFileFindClose(find);
  } else {
    std::snprintf(name, sizeof name, "%s", fileName);
  }
  int node = qv->qvDBCreateNode(db, parent, name, QV_TYPE_FILE);
  if (node > 0) {
    if (find > 0) qv->qvDBWriteFileToID(db, node, sourcePath);
    if (IsFirstPackage()) qxtTrace("WriteFileToNode: %-18s Path: %s", fileName, sourcePath);
    qv->qvDBClose(db, node);
  }
  return node;
}

void BuildPackage(const char* userDatabasePath, char* tempPath, const char* installDir,
                  const char* databaseDir, int expert, int addOns) {
  const QvCore* qv = Qv();
  qxtTrace("BuildPackage: Start");
  tempPath[0] = '\0';
  if (!qv) return;
  char path[QV_MAX_PATH] = {};
  int db = -1;
  if (qv->qvGetTempFileName(nullptr, "zel", path) == 0) db = qv->qvDBFileOpen(path, QV_DB_NEW);
  if (db <= 0) {
    qxtTrace("BuildPackage: Unable to open temp file: %s", path);
    if (path[0]) qv->qvFileDelete(path);
    return;
  }
  int root = qv->qvDBCreateTree(db, 0, "");
  if (root <= 0) {
    qv->qvDBFileClose(db);
    qv->qvFileDelete(path);
    return;
  }
  const bool is9x = addOns & ADDON_CLIENT_9X;
  WriteValue(db, root, "ClientInstallDir", installDir ? installDir : "");
  WriteValue(db, root, "ClientDatabaseDir", databaseDir ? databaseDir : "");
  qxtTrace("BuildPackage: Create user mode flag");
  WriteValue(db, root, "UserMode", expert ? "expert" : "default");
  qxtTrace("BuildPackage: Create Ofa installation flag");
  WriteValue(db, root, "InstallOfa", (addOns & ADDON_OPEN_FILE) ? "yes" : "no");
  qxtTrace("BuildPackage: Create operating system flag");
  WriteValue(db, root, "OperatingSystem", is9x ? "Win9x" : "WinXp");

  int base = qv->qvDBCreateTree(db, root, "BaseInstall");
  if (base > 0) {
    qxtTrace("BuildPackage: Add BaseInstall files");
    const char* clientName = is9x ? "client9x" : "client";
    int client = qv->qvDBCreateTree(db, base, clientName);
    if (client > 0) {
      qxtTrace("BuildPackage: Directory Halvorn\\%s created", clientName);
      if (is9x) {
        qxtTrace("BuildPackage: Add MBCS files");
        AddGroup(db, client, GROUP_CLIENT_9X, false);
      }
      if (addOns & ADDON_CLIENT_NT) {
        qxtTrace("BuildPackage: Add Unicode files");
        AddGroup(db, client, GROUP_CLIENT_NT, false);
      }
      int norv = qv->qvDBCreateTree(db, client, "Norv2.1");
      if (norv > 0) {
        AddGroup(db, norv, GROUP_FRAMEWORK, true);
        qxtTrace("BuildPackage: Directory Common/Norv2.1 created");
        int nls = qv->qvDBCreateTree(db, norv, "nls");
        if (nls > 0) {
          qxtTrace("BuildPackage: Directory Common/Norv2.1/nls created");
          int deu = qv->qvDBCreateTree(db, nls, "deu");
          if (deu > 0) {
            qxtTrace("BuildPackage: Add Common/Norv2.1/nls/deu files");
            AddGroup(db, deu, GROUP_FRAMEWORK_DEU, false);
          }
          int enu = qv->qvDBCreateTree(db, nls, "enu");
          if (enu > 0) {
            qxtTrace("BuildPackage: Add Common/Norv2.1/nls/enu files");
            AddGroup(db, enu, GROUP_FRAMEWORK_ENU, false);
          }
        }
        int redist = qv->qvDBCreateTree(db, norv, "redist");
        if (redist > 0) {
          qxtTrace("BuildPackage: Add Common/Norv2.1/redist files");
          AddGroup(db, redist, GROUP_RUNTIME, false);
        }
      }
      int config = qv->qvDBCreateTree(db, client, "Config");
      if (config > 0) {
        qxtTrace("BuildPackage: Add protocol.ini file");
        AddGroup(db, config, GROUP_SETTINGS, false);
        qxtTrace("BuildPackage: Add Folder DLL's");
        AddGroup(db, config, GROUP_FOLDER, true);
        qxtTrace("BuildPackage: Add Modem DLL's");
        AddGroup(db, config, GROUP_MODEM, true);
        qxtTrace("BuildPackage: Add TCP/IP DLL's");
        AddGroup(db, config, GROUP_TCPIP, true);
        qxtTrace("BuildPackage: Add schedule.ini");
        AddGroup(db, config, GROUP_SCHEDULE, true);
      }
      int data = qv->qvDBCreateTree(db, client, "Data");
      if (data > 0) WriteFileToNode(db, data, "local.cdb", userDatabasePath ? userDatabasePath : "");
    }
  }
  if (qv->qvDBFileClose(db) != 0) {
    // Not committed: the file is no package database.
    qxtTrace("BuildPackage: Unable to write temp file: %s", path);
    qv->qvFileDelete(path);
    return;
  }
  std::memcpy(tempPath, path, std::strlen(path) + 1);
}

// ---- Folder form -----------------------------------------------------------

bool CopyFileUncompressed(const char* folder, const char* fileName, const char* sourcePath) {
  std::string target = LinuxPath(Join(folder, fileName));
  qxtTrace("CopyFileUncompressed: %-18s Path: %s", fileName, sourcePath);
  return Qv()->qvFileCopy(sourcePath, target.c_str(), 0) == 0;
}

bool BuildPackageUncompressed(const char* userName, const char* userDatabasePath,
                              int schedulerInStartup, const char* storageDir,
                              const char* installDir, const char* databaseDir, int expert,
                              int addOns, int directInstall) {
  qxtTrace("BuildPackageUncompressed: Start; store package in %s", storageDir);
  if (!MakeFolder(storageDir)) {
    qxtTrace("BuildPackageUncompressed: Unable to create %s", storageDir);
    return false;
  }
  const std::string storage = LinuxPath(storageDir);
  const bool is9x = addOns & ADDON_CLIENT_9X;

  qxtTrace("BuildPackageUncompressed: Add Halvorn Client files");
  if (IsFirstPackage() || directInstall) {
    FolderUnderConstruction client(LinuxPath(Join(storage, is9x ? "Client9x" : "Client")));
    if (!client.ok()) {
      qxtTrace("BuildPackageUncompressed: Unable to create the client folder in %s", storageDir);
      return false;
    }
    qxtTrace("BuildPackageUncompressed: Directory Halvorn\\Client created");
    if (is9x) {
      qxtTrace("BuildPackageUncompressed: Add MBCS files");
      CopyGroup(client.path(), GROUP_CLIENT_9X);
    }
    if (addOns & ADDON_CLIENT_NT) {
      qxtTrace("BuildPackageUncompressed: Add Unicode files");
      CopyGroup(client.path(), GROUP_CLIENT_NT);
    }
    std::string norv = Join(client.path(), "Norv2.1");
    if (!MakeFolder(norv)) return false;
    CopyGroup(norv, GROUP_FRAMEWORK);
    qxtTrace("BuildPackageUncompressed: Directory Common/Norv2.1 created");
    std::string nls = Join(norv, "nls");
    if (!MakeFolder(nls)) return false;
    qxtTrace("BuildPackageUncompressed: Directory Common/Norv2.1/nls created");
    if (!MakeFolder(Join(nls, "deu")) || !MakeFolder(Join(nls, "enu"))) return false;
    qxtTrace("BuildPackageUncompressed: Add Common/Norv2.1/nls/deu files");
    CopyGroup(Join(nls, "deu"), GROUP_FRAMEWORK_DEU);
    qxtTrace("BuildPackageUncompressed: Add Common/Norv2.1/nls/enu files");
    CopyGroup(Join(nls, "enu"), GROUP_FRAMEWORK_ENU);
    std::string redist = Join(norv, "redist");
    if (!MakeFolder(redist)) return false;
    qxtTrace("BuildPackageUncompressed: Add Common/Norv2.1/redist files");
    CopyGroup(redist, GROUP_RUNTIME);
    if (!client.Commit()) {
      qxtTrace("BuildPackageUncompressed: Unable to complete the client folder in %s", storageDir);
      return false;
    }
  }

  const std::string userFolderName = UserFolderFor(userName ? userName : "");
  qxtTrace("BuildPackageUncompressed: Not Fanrow, so create subfolder for user %s", userName);
  FolderUnderConstruction user(LinuxPath(Join(storage, userFolderName)));
  if (userFolderName.empty() || userFolderName == "." || userFolderName == ".." ||
      userFolderName.find('/') != std::string::npos || !user.ok()) {
    qxtTrace("BuildPackageUncompressed: Unable to create the folder for user %s", userName);
    return false;
  }
  for (ComponentRow* row = ComponentGroupRows(GROUP_SETUP); row->fileName[0]; ++row) {
    if (!row->sourcePath[0]) continue;
    std::string target = LinuxPath(Join(user.path(), "OrbCSetup.exe"));
    qxtTrace("BuildPackageUncompressed: Copy %s to %s", row->sourcePath, target.c_str());
    if (!CopyFileUncompressed(user.path().c_str(), "OrbCSetup.exe", row->sourcePath)) return false;
    chmod(target.c_str(), 0755);  // the program the client runs
  }
  std::string config = Join(user.path(), "Config");
  if (!MakeFolder(config)) return false;
  qxtTrace("BuildPackageUncompressed: Add protocol.ini file");
  CopyGroup(config, GROUP_SETTINGS);
  qxtTrace("BuildPackageUncompressed: Add Folder DLL's");
  CopyGroup(config, GROUP_FOLDER);
  qxtTrace("BuildPackageUncompressed: Add Modem DLL's");
  CopyGroup(config, GROUP_MODEM);
  qxtTrace("BuildPackageUncompressed: Add TCP/IP DLL's");
  CopyGroup(config, GROUP_TCPIP);
  qxtTrace("BuildPackageUncompressed: Add schedule.ini");
  CopyGroup(config, GROUP_SCHEDULE);

  if (userDatabasePath && userDatabasePath[0]) {
    std::string data = Join(user.path(), "Data");
    if (!MakeFolder(data)) return false;
    qxtTrace("CopyFileUncompressed: Copy local.cdb to %s", data.c_str());
    if (!CopyFileUncompressed(data.c_str(), "local.cdb", userDatabasePath)) return false;
  } else {
    qxtTrace("CopyFileUncompressed: Upgrade Installation, so don't copy local.cdb to data folder");
  }

  qxtTrace("BuildPackageUncompressed: Write INSTALLDIR and DATABASEDIR to ZEL.ini");
  std::string ini = LinuxPath(Join(user.path(), "zel.ini"));
  if (!plat::WritePrivateProfileStringA("ZELSetup", "INSTALLDIR", installDir ? installDir : "",
                                        ini.c_str()))
    return false;
  bool written =
      plat::WritePrivateProfileStringA("ZELSetup", "DATABASEDIR", databaseDir ? databaseDir : "",
                                       ini.c_str()) &&
      plat::WritePrivateProfileStringA("ZELSetup", "SchedulerInStartup",
                                       schedulerInStartup ? "yes" : "no", ini.c_str()) &&
      plat::WritePrivateProfileStringA("ZELSetup", "UserMode", expert ? "expert" : "default",
                                       ini.c_str()) &&
      plat::WritePrivateProfileStringA("ZELSetup", "InstallOfa",
                                       (addOns & ADDON_OPEN_FILE) ? "yes" : "no", ini.c_str()) &&
      plat::WritePrivateProfileStringA("ZELSetup", "OperatingSystem", is9x ? "Win9x" : "WinXp",
                                       ini.c_str());
  if (!written || !user.Commit()) {
    qxtTrace("BuildPackageUncompressed: Unable to complete the folder for user %s", userName);
    return false;
  }
  return true;
}

// ---- Per-user settings -----------------------------------------------------

bool WriteUserIni(const char* adminFolder, const char* userName, const char* loginName,
                  const char* configDatabase, int userFlags) {
  std::string system = ConfiguredHostName(configDatabase);
  if (system.empty()) system = plat::ComputerName();
  std::string section;
  auto add = [&](const char* key, const std::string& value) {
    section += key;
    section += '=';
    section += value;
    section += '\0';
  };
  add("OrbUser", userName ? userName : "");
  add("UserName", loginName ? loginName : "");
  add("SystemName", system);
  add("RestoreUser", "No");
  add("UseDomainAccount", (userFlags & USERFLAG_DOMAIN_ACCOUNT) ? "Yes" : "No");
  add("NoPasswordForRestore", (userFlags & USERFLAG_NO_RESTORE_PASSWORD) ? "Yes" : "No");
  // The file is written anew for every user and packed at once: it is
  // written whole under a temporary name and renamed, without the flush to
  // disk a lasting settings file gets (that flush took as long as the rest
  // of the per-user work together).
  std::string path = LinuxPath(Join(adminFolder, "user.ini"));
  std::string text = "[User]\r\n";
  for (std::size_t pos = 0; pos < section.size();) {
    std::size_t end = section.find('\0', pos);
    std::string entry = section.substr(pos, end - pos);
    if (entry.find_first_of("\r\n") != std::string::npos) return false;
    text += entry + "\r\n";
    pos = end + 1;
  }
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0644) == 0 && write(fd, text.data(), text.size()) ==
                                         static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(name.data(), path.c_str()) != 0) {
    unlink(name.data());
    return false;
  }
  return true;
}

int PrepareUserDatabase(const char* configDatabase, const char* localCdb, const char* userName,
                        int userFlags, std::uint32_t userId, int protectedMode) {
  const QvCore* qv = Qv();
  std::string source = LinuxPath(configDatabase);
  char path[QV_MAX_PATH] = {};
  std::snprintf(path, sizeof path, "%s", LinuxPath(localCdb).c_str());
  if (qv->qvFileCopy(source.c_str(), path, 0) != 0) {
    qxtTrace("ZELManageSendThread: Unable to copy %s to %s", source.c_str(), path);
    return -1;
  }
  int db = qv->qvDBFileOpen(path, QV_DB_UPDATE);
  if (db <= 0) {
    qxtTrace("ZELManageSendThread: Unable to open %s", path);
    qv->qvFileDelete(path);
    return -1;
  }
  int scheduler = 1;
  int config = qv->qvDBCreateNodeIfNotExist(db, 0, "Config", QV_TYPE_TREE);
  if (config > 0) {
    auto entry = [&](const char* name) {
      int id = qv->qvDBCreateNodeIfNotExist(db, config, name, 0);
      if (id > 0) qv->qvDBTruncate(db, id);  // the cursor is at 0: cut everything
      return id;
    };
    if (int id = entry("UserName"); id > 0) {
      qv->qvDBWriteUTF8(db, id, userName);
      qv->qvDBClose(db, id);
    }
    if (int id = entry("UserStatus"); id > 0) {
      std::int32_t value = userFlags;
      qv->qvDBWrite(db, id, &value, 4);
      qv->qvDBClose(db, id);
    }
    if (int id = entry("UserID"); id > 0) {
      qv->qvDBWrite(db, id, &userId, 4);
      qv->qvDBClose(db, id);
    }
    if (int id = entry("Password"); id > 0) qv->qvDBClose(db, id);
    if (protectedMode == 1) {
      if (int id = entry("ProtectedMode"); id > 0) qv->qvDBClose(db, id);
    } else {
      int id;
      while ((id = qv->qvDBFindChildIDByName(db, config, "ProtectedMode", 0)) > 0)
        if (qv->qvDBDelete(db, id) != 0) break;
    }
    int schedule = qv->qvDBFindChildIDByName(db, config, "ScheduleInStartup", 0);
    if (schedule > 0) {
      std::string text = ReadText(db, schedule);
      if (!text.empty()) scheduler = std::atoi(text.c_str());
    }
  }
  qv->qvDBSetFileTypeAndVersion(db, 1, 0);
  if (qv->qvDBFileClose(db) != 0) {
    qxtTrace("ZELManageSendThread: Unable to write %s", path);
    qv->qvFileDelete(path);
    return -1;
  }
  return scheduler;
}

// ---- Upgrade decision ------------------------------------------------------

int VersionNumber(const char* version) {
  long long parts[3] = {0, 0, 0};
  const char* p = version ? version : "";
  for (int i = 0; i < 3; ++i) {
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
      if (value < 1000000000) value = value * 10 + (*p - '0');
      ++p;
    }
    parts[i] = value;
    while (*p && *p != '.') ++p;  // the rest of a part that is not a number
    if (*p != '.') break;
    ++p;
  }
  long long number = parts[0] * 100000 + parts[1] * 1000 + parts[2];
  return number > INT_MAX ? INT_MAX : static_cast<int>(number);
}

int IsObjectUpgradeable(const char* clientVersion) {
  if (!clientVersion || !clientVersion[0]) {
    qxtTrace("IsObjectUpgradeable: No client version - do the upgrade");
    return 1;
  }
  qxtTrace("IsObjectUpgradeable: Orb Client version already installed on Agent = %s", clientVersion);
  const char* key = "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion";
  plat::HKEY handle = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, key, 0, plat::KEY_QUERY_VALUE, &handle) !=
      plat::ERROR_SUCCESS) {
    qxtTrace("IsObjectUpgradeable: Cannot determine ClientVersion - Object in not upgradeable");
    return 0;
  }
  plat::RegCloseKey(handle);
  std::string current;
  if (ReadRegistryText(key, "ClientVersion", &current)) {
    qxtTrace("IsObjectUpgradeable: ClientVersion read from CurrentVersion\\ClientVersion is %s",
             current.c_str());
  } else if (ReadRegistryText(key, "Version", &current)) {
    qxtTrace("IsObjectUpgradeable: ClientVersion read from CurrentVersion\\Version(Server Version) is %s",
             current.c_str());
  } else {
    qxtTrace("IsObjectUpgradeable: Unable to determine ClientVersion from Registry");
    return 0;
  }
  int installed = VersionNumber(clientVersion);
  int server = VersionNumber(current.c_str());
  qxtTrace("IsObjectUpgradeable: versionInstalled = %d", installed);
  qxtTrace("IsObjectUpgradeable: currentVersion   = %d", server);
  if (installed < server) {
    qxtTrace("IsObjectUpgradeable: Version installed is old - do the upgrade");
    return 1;
  }
  qxtTrace("IsObjectUpgradeable: Same (or newer?) Version - do nothing");
  return 0;
}

}  // namespace zel
