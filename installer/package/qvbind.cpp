#include "qvbind.h"

#include <cstring>
#include <mutex>

#include "platform/library.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "qx/qxtrace.h"

namespace zel {
namespace {

std::mutex gMutex;
plat::HMODULE gModule = nullptr;
QvCore gApi;
std::string gPath;
int gCount = 0;

std::string InstallDir(plat::HKEY root, const std::string& keyName) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(root, keyName.c_str(), 0, plat::KEY_QUERY_VALUE, &key) !=
      plat::ERROR_SUCCESS)
    return {};
  char value[QV_MAX_PATH] = {};
  plat::DWORD type = 0, size = sizeof value - 1;
  plat::LONG rc = plat::RegQueryValueExA(key, "InstallDir", nullptr, &type,
                                         reinterpret_cast<plat::BYTE*>(value), &size);
  plat::RegCloseKey(key);
  if (rc != plat::ERROR_SUCCESS || (type != plat::REG_SZ && type != plat::REG_EXPAND_SZ)) return {};
  return value;
}

void AddFolder(std::vector<std::string>* out, std::string folder) {
  if (folder.empty()) return;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  if (folder != "/") folder += '/';
  out->push_back(folder + "qvcore32.dll");
  out->push_back(folder + "ocore32.dll");
}

// Resolves every slot of the entry table; false when one is missing.
bool Resolve(plat::HMODULE module, QvCore* api) {
  using TableFunction = const QvEntry* (*)(int*);
  auto getTable = reinterpret_cast<TableFunction>(plat::GetProcAddress(module, "qvGetEntryTable"));
  if (!getTable) return false;
  int count = 0;
  const QvEntry* table = getTable(&count);
  if (!table || count != QV_ENTRY_COUNT) return false;
  for (int i = 0; i < count; ++i)
    if (!table[i].name || !table[i].address) return false;
  auto lookup = [&](const char* name) -> void (*)(void) {
    for (int i = 0; i < count; ++i)
      if (std::strcmp(table[i].name, name) == 0) return table[i].address;
    return nullptr;
  };
  QvCore result;
  bool complete = true;
#define QV_BIND_RESOLVE(name)                                                  \
  if (auto address = lookup(#name))                                            \
    result.name = reinterpret_cast<decltype(result.name)>(address);            \
  else                                                                         \
    complete = false;
  QV_FOR_EACH_ENTRY(QV_BIND_RESOLVE)
#undef QV_BIND_RESOLVE
  if (complete) *api = result;
  return complete;
}

}  // namespace

std::vector<std::string> QvCandidatePaths(const std::string& programFolder, int server) {
  std::vector<std::string> out;
  AddFolder(&out, programFolder);
  const std::string keys[2] = {
      server ? "Software\\Velmora\\Orbserver\\CurrentVersion" : "Software\\Velmora\\Orbclient\\CurrentVersion",
      server ? "Software\\Velmora\\Quovix Server\\2.00" : "Software\\Velmora\\Quovix Client\\2.00"};
  for (const std::string& key : keys)
    for (plat::HKEY root : {plat::HKEY_CURRENT_USER, plat::HKEY_LOCAL_MACHINE})
      AddFolder(&out, InstallDir(root, key));
  out.push_back("qvcore32.dll");
  out.push_back("ocore32.dll");
  return out;
}

int QvBindCandidates(const std::vector<std::string>& candidates, int server) {
  std::lock_guard lock(gMutex);
  if (gModule) {
    ++gCount;
    return QV_BIND_OK;
  }
  plat::HMODULE module = nullptr;
  std::string path;
  for (const std::string& candidate : candidates) {
    module = plat::LoadLibrary(candidate);
    if (module) {
      path = candidate;
      break;
    }
  }
  if (!module) {
    qxtTrace("QvBind: the core library could not be loaded");
    return QV_BIND_NOT_FOUND;
  }
  QvCore api;
  if (!Resolve(module, &api)) {
    qxtTrace("QvBind: %s lacks entry points", path.c_str());
    plat::FreeLibrary(module);
    return QV_BIND_MISSING_ENTRY;
  }
  gModule = module;
  gApi = api;
  gPath = plat::ModuleFileName(module);
  if (gPath.empty()) gPath = path;
  gCount = 1;
  gApi.qvStartup(server ? 1 : 0);
  qxtTrace("QvBind: %s bound", gPath.c_str());
  return QV_BIND_OK;
}

int QvBindFrom(const std::string& programFolder, int server) {
  {
    std::lock_guard lock(gMutex);
    if (gModule) {
      ++gCount;
      return QV_BIND_OK;
    }
  }
  return QvBindCandidates(QvCandidatePaths(programFolder, server), server);
}

int QvBind(int server) { return QvBindFrom(plat::FolderOf(plat::ModulePath()), server); }

void QvRelease() {
  std::lock_guard lock(gMutex);
  if (!gModule || --gCount > 0) return;
  gApi.qvShutDown();
  plat::FreeLibrary(gModule);
  gModule = nullptr;
  gApi = QvCore();
  gPath.clear();
  gCount = 0;
}

const QvCore* QvApi() {
  std::lock_guard lock(gMutex);
  return gModule ? &gApi : nullptr;
}

std::string QvBoundPath() {
  std::lock_guard lock(gMutex);
  return gPath;
}

int QvBindCount() {
  std::lock_guard lock(gMutex);
  return gCount;
}

}  // namespace zel
