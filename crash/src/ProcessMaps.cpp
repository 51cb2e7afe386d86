#include "ProcessMaps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "SafeText.h"

namespace norvexc {
namespace {

uint64_t ParseHex(const char*& p) {
  uint64_t value = 0;
  for (;; ++p) {
    char c = *p;
    if (c >= '0' && c <= '9') value = value * 16 + static_cast<uint64_t>(c - '0');
    else if (c >= 'a' && c <= 'f') value = value * 16 + static_cast<uint64_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') value = value * 16 + static_cast<uint64_t>(c - 'A' + 10);
    else return value;
  }
}

void SkipBlanks(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
}
void SkipField(const char*& p) {
  while (*p && *p != ' ' && *p != '\t' && *p != '\n') ++p;
}

}  // namespace

bool ProcessMaps::Read() {
  count_ = 0;
  int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t used = 0;
  for (;;) {
    if (used + 1 >= kTextSize) break;
    ssize_t n = ::read(fd, text_ + used, kTextSize - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  text_[used] = '\0';

  // "start-end perms offset dev inode path": each line is split in place,
  // the path ended with a zero where its line ended.
  char* line = text_;
  while (*line && count_ < kMaxRegions) {
    char* end = std::strchr(line, '\n');
    if (end) *end = '\0';
    const char* p = line;
    MapRegion region;
    region.start = ParseHex(p);
    if (*p == '-') {
      ++p;
      region.end = ParseHex(p);
      SkipBlanks(p);
      region.readable = p[0] == 'r';
      region.writable = p[0] && p[1] == 'w';
      region.executable = p[0] && p[1] && p[2] == 'x';
      SkipField(p);
      SkipBlanks(p);
      region.offset = ParseHex(p);
      SkipBlanks(p);
      SkipField(p);  // device
      SkipBlanks(p);
      SkipField(p);  // inode
      SkipBlanks(p);
      region.path = p;
      if (region.end > region.start) regions_[count_++] = region;
    }
    if (!end) break;
    line = end + 1;
  }
  return count_ != 0;
}

const MapRegion* ProcessMaps::Find(uintptr_t address) const {
  // The kernel lists mappings in address order.
  size_t low = 0, high = count_;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (address < regions_[mid].start) high = mid;
    else if (address >= regions_[mid].end) low = mid + 1;
    else return &regions_[mid];
  }
  return nullptr;
}

const MapRegion* ProcessMaps::NextAbove(uintptr_t address) const {
  size_t low = 0, high = count_;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (regions_[mid].start <= address) low = mid + 1;
    else high = mid;
  }
  return low < count_ ? &regions_[low] : nullptr;
}

bool ProcessMaps::InModule(uintptr_t address) const {
  const MapRegion* region = Find(address);
  return region && (region->path[0] == '/' || StartsWith(region->path, "[vdso]"));
}

const char* ProcessMaps::ModuleName(uintptr_t address) const {
  const MapRegion* region = Find(address);
  if (!region) return nullptr;
  if (region->path[0] == '/') return BaseName(region->path);
  if (StartsWith(region->path, "[vdso]")) return region->path;
  return nullptr;
}

uintptr_t ProcessMaps::ModuleBase(uintptr_t address) const {
  const MapRegion* region = Find(address);
  if (!region || !region->path[0]) return 0;
  // The module's mappings are adjacent; its first one maps offset 0.
  const MapRegion* first = region;
  while (first > regions_ && std::strcmp((first - 1)->path, region->path) == 0 &&
         first->offset != 0)
    --first;
  return first->offset == 0 ? first->start : 0;
}

bool ProcessMaps::Readable(uintptr_t address, size_t size) const {
  uintptr_t end = address + size;
  if (end < address) return false;
  while (address < end) {
    const MapRegion* region = Find(address);
    if (!region || !region->readable) return false;
    address = region->end;
  }
  return true;
}

// Reads stack words that belong to no object of the program (saved frame
// records, spill slots): the address sanitizer must not count them as faults.
__attribute__((no_sanitize("address"))) bool ProcessMaps::ReadWord(uintptr_t address,
                                                                   uintptr_t* value) const {
  if (address % sizeof(uintptr_t) || !Readable(address, sizeof(uintptr_t))) return false;
  *value = *reinterpret_cast<const uintptr_t*>(address);
  return true;
}

}  // namespace norvexc
