// Settings import: before the first package of a job the chosen
// configuration database becomes the plain settings files in the
// application directory's "admin" folder ("protocol.ini", a neutral
// "user.ini", what the protocol libraries write, and "tcpip.ini").
#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/profile.h"
#include "qvbind.h"
#include "qx/qxtrace.h"
#include "zel/zelinst.h"

namespace zel {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += "\\";
  return folder;
}

}  // namespace

void CreateProtocolFiles(const char* configDatabase, const char* adminFolder) {
  const QvCore* qv = QvApi();
  if (!qv) return;
  char path[QV_MAX_PATH] = {};
  std::snprintf(path, sizeof path, "%s", LinuxPath(configDatabase ? configDatabase : "").c_str());
  qxtTrace("CreateProtocolFiles: Opening %s ", path);
  int db = path[0] ? qv->qvDBFileOpen(path, QV_DB_UPDATE) : -1;
  if (db <= 0) {
    qxtTrace("CreateProtocolFiles: Unanble to open %s ", path);
    return;
  }
  int protocols = qv->qvDBFindChildIDByName(db, 0, "Protocols", 0);
  if (protocols <= 0) {
    qxtTrace("CreateProtocolFiles: Cannot find ID Protocols ");
  } else {
    int def = qv->qvDBFindChildIDByName(db, protocols, "Default", 0);
    if (def <= 0) {
      qxtTrace("CreateProtocolFiles: Cannot find ID Default ");
    } else {
      char name[QV_MAX_PATH] = {};
      int n = qv->qvDBRead(db, def, name, sizeof name - 1);
      name[n > 0 ? n : 0] = '\0';
      qv->qvDBClose(db, def);
      // A value that would break the profile file's line structure is cut at the break.
      name[std::strcspn(name, "\r\n")] = '\0';
      std::string file = LinuxPath(WithSeparator(adminFolder) + "protocol.ini");
      qxtTrace("CreateProtocolFiles: Create %s (with ProtocolName=%s)", file.c_str(), name);
      if (!plat::WritePrivateProfileStringA("Client", "ConnectType", name, file.c_str()))
        qxtTrace("CreateProtocolFiles: Unable to write %s", file.c_str());
      ImportProtocolSettings(db, adminFolder);
    }
    qv->qvDBClose(db, protocols);
  }
  qv->qvDBFileClose(db);

  std::string userIni = LinuxPath(WithSeparator(adminFolder) + "user.ini");
  qxtTrace("CreateProtocolFiles: Create user.ini file under %s ", adminFolder);
  static const char kNeutral[] = "OrbUser=\0UserName=\0SystemName=\0RestoreUser=No\0";
  if (!plat::WritePrivateProfileSectionA("User", kNeutral, userIni.c_str()))
    qxtTrace("CreateProtocolFiles: Unable to write %s", userIni.c_str());
}

void ImportProtocolSettings(int db, const char* /*adminFolder*/) {
  // The copies always go to the application directory's "admin" folder.
  const QvCore* qv = QvApi();
  if (!qv) return;
  const std::string app = AppPath();
  const std::string pattern = app + "\\qv*.dll";
  qxtTrace("ImportProtocolSettings: Query DLL's using  %s ", pattern.c_str());
  std::vector<std::string> names;
  {
    std::string folder = LinuxPath(app);
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
    while (dir) {
      dirent* entry = readdir(dir.get());
      if (!entry) break;
      if (fnmatch("qv*.dll", entry->d_name, FNM_CASEFOLD) == 0) names.push_back(entry->d_name);
    }
  }
  using ImportFunction = void (*)(int);
  for (const std::string& name : names) {
    std::string source = LinuxPath(app + "\\" + name);
    std::string copy = LinuxPath(app + "\\admin\\" + name);
    qxtTrace("ImportProtocolSettings: Copy %s to %s", source.c_str(), copy.c_str());
    qv->qvFileCopy(source.c_str(), copy.c_str(), 0);
    plat::HMODULE module = plat::LoadLibrary(copy);
    if (module) {
      auto import = reinterpret_cast<ImportFunction>(
          plat::GetProcAddress(module, "qvProtocolImportSettings"));
      if (import) {
        qxtTrace("ImportProtocolSettings: Executing qvProtocolImportSettings from %s", copy.c_str());
        import(db);
      } else {
        qxtTrace("ImportProtocolSettings: Unable to find function qvProtocolImportSettings in library %s",
                 copy.c_str());
      }
      plat::FreeLibrary(module);
    } else {
      qxtTrace("ImportProtocolSettings: Unable to load library %s", copy.c_str());
    }
    qv->qvFileDelete(copy.c_str());
  }
  atcpImportSettings(db);
}

void atcpImportSettings(int db) {
  const QvCore* qv = QvApi();
  if (!qv) return;
  std::string file = LinuxPath(WithSeparator(AppPath()) + "admin\\tcpip.ini");
  qxtTrace("atcpImportSettings: Creating settings in %s", file.c_str());
  int plugIns = qv->qvDBFindChildIDByName(db, 0, "PlugIns", 7);
  if (plugIns <= 0) return;
  int autoTcp = qv->qvDBFindChildIDByName(db, plugIns, "AutoTCP", 7);
  if (autoTcp <= 0) {
    qv->qvDBClose(db, plugIns);
    return;
  }
  static const char* const kKeys[] = {"Enable", "SendOncePerDay", "CheckServerOnConnect",
                                      "PromptBeforeSend", "ShowTrayIcon"};
  for (const char* key : kKeys) {
    int id = qv->qvDBFindChildIDByName(db, autoTcp, key, 0);
    if (id <= 0) continue;
    unsigned char byte = 0;
    int n = qv->qvDBRead(db, id, &byte, 1);
    plat::WritePrivateProfileStringA("AutoTCPIP", key, n == 1 && byte ? "1" : "0", file.c_str());
    qv->qvDBClose(db, id);
  }
  qv->qvDBClose(db, autoTcp);
  qv->qvDBClose(db, plugIns);
}

}  // namespace zel
