// Walks arbitrary bytes as a package, from memory and from a file, and
// decodes every member found. Both inputs must give the same members; no
// member may lie outside the input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package_reader.h"

namespace {

bool Discard(const unsigned char*, std::size_t, void*) { return true; }

int MemoryFile(const std::uint8_t* data, std::size_t size) {
  static int fd = memfd_create("package", 0);
  if (fd < 0) return -1;
  if (ftruncate(fd, 0) != 0) return -1;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return -1;
    done += static_cast<std::size_t>(n);
  }
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zel::PackageInput memory = zel::PackageInputFromMemory(data, size);
  zel::PackageInput file;
  int fd = MemoryFile(data, size);
  bool haveFile = fd >= 0 && zel::PackageInputFromFile(fd, &file);

  zel::PackageWalker fromMemory(memory);
  zel::PackageWalker fromFile(file);
  zel::MemberInfo a, b;
  int members = 0;
  while (fromMemory.Next(&a)) {
    if (a.dataOffset > a.headerOffset || a.headerOffset + 20 + a.nameLength > size) std::abort();
    if (a.nameLength > zel::kMaxMemberName) std::abort();
    if (haveFile) {
      if (!fromFile.Next(&b)) std::abort();
      if (b.headerOffset != a.headerOffset || std::memcmp(a.name, b.name, sizeof a.name) != 0) std::abort();
    }
    zel::IsBareFileName(a.name, std::strlen(a.name));
    // Decoding is bounded by the member's own bytes; a few members suffice.
    if (++members <= 4) {
      std::uint64_t written = 0;
      int result = zel::DecodeMember(memory, a, Discard, nullptr, &written);
      if (result != zel::EXTRACT_OK && result != zel::EXTRACT_BAD_CRC) std::abort();
    }
  }
  if (haveFile && fromFile.Next(&b)) std::abort();
  return 0;
}
