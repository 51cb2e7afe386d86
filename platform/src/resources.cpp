// Resource modules: finding and checking a library's resource table, the
// process-wide current and host modules, and lookups through them.
#include "platform/resources.h"

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <string_view>

#include "platform/text.h"
#include "resource_table.h"

namespace plat {
namespace {

using resources::Table;
using resources::TableEntry;

std::atomic<HMODULE> gHostModule{nullptr};
std::atomic<HMODULE> gCurrentModule{nullptr};

// The module's own table, checked; null when it has none or it is damaged.
// dlsym on a handle also searches the libraries it depends on, so the
// symbol must come from the module itself. Checking every time costs a
// pass over the entries, but never trusts a handle that was freed and
// reused for another library.
const Table* ModuleTable(HMODULE module) {
  if (!module) return nullptr;
  void* symbol = dlsym(module, resources::kTableSymbol);
  if (!symbol) {
    dlerror();  // leave no stale text for the next caller
    return nullptr;
  }
  link_map* own = nullptr;
  link_map* owner = nullptr;
  Dl_info info;
  if (dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 ||
      !dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || own != owner)
    return nullptr;

  const auto* table = static_cast<const Table*>(symbol);
  if (table->magic != resources::kTableMagic || table->version != resources::kTableVersion ||
      table->entrySize != sizeof(TableEntry) || table->count > (1u << 24))
    return nullptr;
  if ((table->count > 0 && !table->entries) || (table->blobSize > 0 && !table->blob))
    return nullptr;
  for (std::uint32_t i = 0; i < table->count; ++i) {
    const TableEntry& e = table->entries[i];
    if (e.offset > table->blobSize || e.size > table->blobSize - e.offset) return nullptr;
    // The compiler writes entries sorted by type and id; lookups rely on it.
    if (i > 0) {
      const TableEntry& p = table->entries[i - 1];
      if (p.type > e.type || (p.type == e.type && p.id >= e.id)) return nullptr;
    }
  }
  return table;
}

const TableEntry* FindEntry(const Table* table, DWORD type, UINT id) {
  std::uint32_t low = 0, high = table->count;
  while (low < high) {
    std::uint32_t mid = low + (high - low) / 2;
    const TableEntry& e = table->entries[mid];
    if (e.type < type || (e.type == type && e.id < id)) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low < table->count && table->entries[low].type == type && table->entries[low].id == id)
    return &table->entries[low];
  return nullptr;
}

// Looks in `module` when given, then in the current module, then in the
// host's, skipping repeats: the way MFC finds a string the active resource
// library lacks in the program's own resources.
bool Lookup(HMODULE module, DWORD type, UINT id, const BYTE** data, std::size_t* size) {
  HMODULE chain[3] = {module, gCurrentModule.load(), gHostModule.load()};
  for (int i = 0; i < 3; ++i) {
    if (!chain[i] || (i > 0 && chain[i] == chain[0]) || (i > 1 && chain[i] == chain[1])) continue;
    const Table* table = ModuleTable(chain[i]);
    if (!table) continue;
    if (const TableEntry* e = FindEntry(table, type, id)) {
      if (data) *data = table->blob + e->offset;
      if (size) *size = e->size;
      return true;
    }
  }
  return false;
}

}  // namespace

HMODULE LoadResourceModule(const std::string& path) {
  HMODULE module = LoadLibrary(path);
  if (!module) return nullptr;
  if (!ModuleTable(module)) {
    const bool hasTable = GetProcAddress(module, resources::kTableSymbol) != nullptr;
    FreeLibrary(module);
    SetLibraryError(path + (hasTable ? ": its resource table " : ": not a resource module, no ") +
                    resources::kTableSymbol + (hasTable ? " is damaged" : ""));
    return nullptr;
  }
  return module;
}

void SetHostResourceModule(HMODULE module) { gHostModule.store(module); }
HMODULE HostResourceModule() { return gHostModule.load(); }

HMODULE CurrentResourceModule() { return gCurrentModule.load(); }
void SetCurrentResourceModule(HMODULE module) { gCurrentModule.store(module); }

std::wstring LoadString(UINT id, HMODULE module) {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  if (!Lookup(module, static_cast<DWORD>(ResourceType::String), id, &data, &size)) return {};
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
}

bool HasString(UINT id, HMODULE module) {
  return Lookup(module, static_cast<DWORD>(ResourceType::String), id, nullptr, nullptr);
}

bool FindResource(HMODULE module, ResourceType type, UINT id, const BYTE** data,
                  std::size_t* size) {
  return Lookup(module, static_cast<DWORD>(type), id, data, size);
}

bool IsResourceModule(HMODULE module) { return ModuleTable(module) != nullptr; }

}  // namespace plat
