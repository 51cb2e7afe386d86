// Forwarding wrappers that the package builder and the client setup program
// export for the administration program and the client, under the decorated
// names their callers import (_name@bytes of arguments). Each forwards to
// the bound core library and fails with -1 (0 for the date) while none is
// bound.
//
// Linkers take "@" in a symbol name as a version suffix, so the functions
// are defined under plain names here and given their decorated names at
// link time (see package.cmake).
#include <cstdint>

#include "qvbind.h"

#define ZELQV_EXPORT extern "C" __attribute__((visibility("default"), used))

ZELQV_EXPORT int zelqv_qvDBClose_8(int db, int id) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBClose(db, id) : -1;
}

ZELQV_EXPORT int zelqv_qvDBFindChildIDByName_16(int db, int parent, const char* name, int length) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBFindChildIDByName(db, parent, name, length) : -1;
}

ZELQV_EXPORT int zelqv_qvDBGetFirstID_8(int db, int parent) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBGetFirstID(db, parent) : -1;
}

ZELQV_EXPORT int zelqv_qvDBGetNextID_12(int db, int parent, int id) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBGetNextID(db, parent, id) : -1;
}

ZELQV_EXPORT int zelqv_qvDBIsTree_8(int db, int id) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBIsTree(db, id) : -1;
}

ZELQV_EXPORT int zelqv_qvDBReadName_16(int db, int id, char* buffer, int size) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDBReadName(db, id, buffer, size) : -1;
}

ZELQV_EXPORT int zelqv_qvDateTimeToString_12(std::uint32_t dosDateTime, char* buffer, int size) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvDateTimeToString(dosDateTime, buffer, size) : -1;
}

ZELQV_EXPORT std::uint32_t zelqv_qvGetCurrentDosDateTime_0(void) {
  const zel::QvCore* qv = zel::QvApi();
  return qv ? qv->qvGetCurrentDosDateTime() : 0;
}
