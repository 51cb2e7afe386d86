// Loaded by the library tests: remembers which library the loader named
// while this one's static initialisers ran.
#include <string>

#include "platform/library.h"

namespace {

std::string& SeenPath() {
  static std::string path;
  return path;
}

struct Registration {
  Registration() { SeenPath() = plat::CurrentlyLoadingPath(); }
} registration;

}  // namespace

extern "C" __attribute__((visibility("default"))) const char* LoadmeSeenPath() {
  return SeenPath().c_str();
}

extern "C" __attribute__((visibility("default"))) int LoadmeAnswer() { return 42; }
