// The table of entry points by which loaders bind the library. Slots without
// a function of their own fail cleanly instead of leaving a null pointer for
// a caller to jump to.
#include <cstdio>
#include <utility>

#include "qv/qvcore.h"
#include "qx/qxtrace.h"

namespace {

template <int Slot>
int Reserved() {
  qxtTrace("qvcore: entry %d (qvReserved%03d) is not provided by this library", Slot, Slot);
  return -1;
}

using Function = void (*)(void);

struct Table {
  QvEntry entries[QV_ENTRY_COUNT];
  char names[QV_ENTRY_COUNT][16];
};

template <int... Slots>
const Function* ReservedFunctions(std::integer_sequence<int, Slots...>) {
  static const Function functions[] = {reinterpret_cast<Function>(&Reserved<Slots>)...};
  return functions;
}

const Table& BuildTable() {
  static Table table = [] {
    Table t {};
    int slot = 0;
#define QV_ENTRY_ROW(name) t.entries[slot++] = QvEntry{#name, reinterpret_cast<Function>(&::name)};
    QV_FOR_EACH_ENTRY(QV_ENTRY_ROW)
#undef QV_ENTRY_ROW
    const Function* reserved = ReservedFunctions(std::make_integer_sequence<int, QV_ENTRY_COUNT>{});
    for (; slot < QV_ENTRY_COUNT; ++slot) {
      std::snprintf(t.names[slot], sizeof t.names[slot], "qvReserved%03d", slot);
      t.entries[slot] = QvEntry{t.names[slot], reserved[slot]};
    }
    return t;
  }();
  return table;
}

}  // namespace

extern "C" const QvEntry* qvGetEntryTable(int* count) {
  if (count) *count = QV_ENTRY_COUNT;
  return BuildTable().entries;
}
