// Shared libraries through dlopen. LoadLibrary names the library being loaded
// for the duration of dlopen, because the framework's class registrations run
// in static initialisers, before any handle exists to attribute them to.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/library.h"

namespace plat {
namespace {

// A stack, since an initialiser may itself load a library.
thread_local std::vector<std::string> tLoading;
thread_local std::string tError;

void SetError(std::string text) { tError = std::move(text); }

void SetDlError(const std::string& fallback) {
  const char* text = dlerror();
  SetError(text ? text : fallback);
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

struct LoadingScope {
  explicit LoadingScope(const std::string& path) { tLoading.push_back(path); }
  ~LoadingScope() { tLoading.pop_back(); }
  LoadingScope(const LoadingScope&) = delete;
  LoadingScope& operator=(const LoadingScope&) = delete;
};

}  // namespace

HMODULE LoadLibrary(const std::string& path) {
  if (path.empty()) {
    SetError("no library name given");
    return nullptr;
  }
  LoadingScope scope(path);
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) SetDlError(path + ": cannot load library");
  return handle;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) {
    SetError(module ? "no symbol name given" : "no library handle given");
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(module, name);
  if (!symbol) SetDlError(std::string(name) + ": symbol has no address");
  return symbol;
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) {
    SetError("no library handle given");
    return FALSE;
  }
  dlerror();
  if (dlclose(module) != 0) {
    SetDlError("cannot unload library");
    return FALSE;
  }
  return TRUE;
}

std::string LibraryError() { return tError; }

void SetLibraryError(std::string text) { SetError(std::move(text)); }

std::string CurrentlyLoadingPath() { return tLoading.empty() ? std::string() : tLoading.back(); }

std::string ModuleFileName(HMODULE module) {
  if (!module) return ExecutablePath();
  struct link_map* map = nullptr;
  dlerror();
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
    SetDlError("not a library handle");
    return {};
  }
  std::string name = map->l_name ? map->l_name : "";
  if (name.empty()) return ExecutablePath();  // the main program's own entry
  if (name[0] != '/') {
    if (char* resolved = ::realpath(name.c_str(), nullptr)) {
      name = resolved;
      std::free(resolved);
    }
  }
  return name;
}

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info;
  struct link_map* map = nullptr;
  if (!address || !dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) ||
      !map) {
    SetError("no loaded module contains the address");
    return nullptr;
  }
  const char* name = map->l_name && *map->l_name ? map->l_name : nullptr;
  // RTLD_NOLOAD only finds the loaded module; the reference it adds is given
  // back at once, so the handle stays valid exactly as long as the module.
  void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) {
    SetDlError("cannot find the module of the address");
    return nullptr;
  }
  dlclose(handle);
  return handle;
}

}  // namespace plat
