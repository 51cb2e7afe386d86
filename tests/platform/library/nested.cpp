// Loaded by the library tests: loads another library from its own static
// initialiser and records the loading path before, inside and after that.
#include <string>

#include "platform/library.h"

namespace {

struct Seen {
  std::string before, inner, after;
  plat::HMODULE inner_module = nullptr;
};

Seen& Paths() {
  static Seen seen;
  return seen;
}

struct Registration {
  Registration() {
    Seen& seen = Paths();
    seen.before = plat::CurrentlyLoadingPath();
    seen.inner_module = plat::LoadLibrary(LOADME_PATH);
    if (seen.inner_module) {
      auto inner = reinterpret_cast<const char* (*)()>(
          plat::GetProcAddress(seen.inner_module, "LoadmeSeenPath"));
      if (inner) seen.inner = inner();
    }
    seen.after = plat::CurrentlyLoadingPath();
  }
  ~Registration() {
    if (Paths().inner_module) plat::FreeLibrary(Paths().inner_module);
  }
} registration;

}  // namespace

extern "C" __attribute__((visibility("default"))) const char* NestedSeen(int which) {
  const Seen& seen = Paths();
  return (which == 0 ? seen.before : which == 1 ? seen.inner : seen.after).c_str();
}
