// A library that looks like the core library but cannot be bound.
#include "qv/qvcore.h"

extern "C" __attribute__((visibility("default"))) int qvStartup(int) { return 0; }

#ifndef BADCORE_NO_TABLE
static int Nothing() { return -1; }
extern "C" __attribute__((visibility("default"))) const QvEntry* qvGetEntryTable(int* count) {
  static const QvEntry table[] = {{"qvStartup", reinterpret_cast<void (*)(void)>(&qvStartup)},
                                  {"qvShutDown", reinterpret_cast<void (*)(void)>(&Nothing)}};
  *count = 2;
  return table;
}
#endif
