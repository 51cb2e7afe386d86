// The table that every resource library exports as "norv_resource_table",
// written by tools/norvrc (see docs/resources.md). Entries index a byte blob.
#pragma once
#include <cstdint>

namespace plat::resources {

constexpr std::uint32_t kTableMagic = 0x5352564E;  // "NVRS"
constexpr std::uint32_t kTableVersion = 1;
constexpr char kTableSymbol[] = "norv_resource_table";

struct TableEntry {
  std::uint32_t type;
  std::uint32_t id;
  std::uint32_t offset;  // into the blob
  std::uint32_t size;
};

struct Table {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t entrySize;  // sizeof(TableEntry) in this version
  std::uint32_t count;
  std::uint64_t blobSize;
  const TableEntry* entries;
  const unsigned char* blob;
};

}  // namespace plat::resources
