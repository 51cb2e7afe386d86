// A library built from the wrappers, to see what they export; it binds the
// core library on request so that the wrappers have something to call.
#include <string>

#include "qvbind.h"

extern "C" __attribute__((visibility("default"))) int wrappers_probe_bind(const char* path) {
  return zel::QvBindCandidates({path}, 0);
}
extern "C" __attribute__((visibility("default"))) void wrappers_probe_release() { zel::QvRelease(); }
