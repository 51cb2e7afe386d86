// The process's mappings, read from /proc/self/maps with plain system calls
// into static storage, so that the signal handler can name the module that
// holds an address and check that memory is readable before reading it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace norvexc {

struct MapRegion {
  uintptr_t start = 0;
  uintptr_t end = 0;
  uint64_t offset = 0;
  bool readable = false;
  bool writable = false;
  bool executable = false;
  const char* path = "";  // into the read text; "" for anonymous memory
};

class ProcessMaps {
 public:
  // Reads the current mappings; false when /proc cannot be read (then every
  // lookup finds nothing).
  bool Read();
  const MapRegion* Find(uintptr_t address) const;
  // The first mapping that starts above `address`, or nullptr.
  const MapRegion* NextAbove(uintptr_t address) const;
  // A file-backed mapping (or the vDSO) that holds the address.
  bool InModule(uintptr_t address) const;
  // The module's file name without folder, or nullptr.
  const char* ModuleName(uintptr_t address) const;
  // The address where the module holding `address` is loaded (its mapping
  // of file offset 0), or 0.
  uintptr_t ModuleBase(uintptr_t address) const;
  // Whether [address, address + size) lies in readable mappings.
  bool Readable(uintptr_t address, size_t size) const;
  bool ReadWord(uintptr_t address, uintptr_t* value) const;

 private:
  static constexpr size_t kTextSize = 1 << 20;
  static constexpr size_t kMaxRegions = 8192;
  char text_[kTextSize];
  MapRegion regions_[kMaxRegions];
  size_t count_ = 0;
};

}  // namespace norvexc
