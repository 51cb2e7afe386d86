// Finding the version record in an ELF file: the section ".norv_version"
// written by cmake/NorvVersionInfo.cmake. Files come from anywhere (the crash
// handler reads every loaded module), so every offset and size is checked
// against the file before use and nothing large is trusted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/version_info.h"

namespace plat {
namespace {

constexpr char kSectionName[] = ".norv_version";
constexpr std::uint64_t kMaxSectionBytes = 1 << 20;      // a record is a few hundred bytes
constexpr std::uint64_t kMaxTableBytes = 16u << 20;      // section headers or their names
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kSectionHeaderSize = 64;
constexpr DWORD kShtNobits = 8;
constexpr WORD kShnXindex = 0xFFFF;

// Reads `size` bytes at `offset`; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t size, BYTE* out)>;

std::uint64_t Le(const BYTE* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct Section {
  DWORD name, type;
  std::uint64_t offset, size;
  DWORD link;
};

Section ParseSection(const BYTE* p) {
  return Section{static_cast<DWORD>(Le(p, 4)), static_cast<DWORD>(Le(p + 4, 4)), Le(p + 24, 8),
                 Le(p + 32, 8), static_cast<DWORD>(Le(p + 40, 4))};
}

bool ReadRange(const ReadAt& read, std::uint64_t offset, std::uint64_t size, std::uint64_t limit,
               std::vector<BYTE>* out) {
  if (size > limit) return false;
  out->resize(static_cast<std::size_t>(size));
  return size == 0 || read(offset, out->size(), out->data());
}

bool FindVersionSection(const ReadAt& read, std::vector<BYTE>* block) {
  BYTE header[kElfHeaderSize];
  if (!read(0, sizeof header, header)) return false;
  if (std::memcmp(header, "\x7F" "ELF", 4) != 0) return false;
  if (header[4] != 2 || header[5] != 1) return false;  // ELF64, little-endian only
  std::uint64_t shoff = Le(header + 0x28, 8);
  std::uint64_t shentsize = Le(header + 0x3A, 2);
  std::uint64_t shnum = Le(header + 0x3C, 2);
  std::uint64_t shstrndx = Le(header + 0x3E, 2);
  if (shoff == 0 || shentsize < kSectionHeaderSize) return false;

  // Many sections: the real count and name-table index sit in section 0.
  if (shnum == 0 || shstrndx == kShnXindex) {
    BYTE first[kSectionHeaderSize];
    if (!read(shoff, sizeof first, first)) return false;
    if (shnum == 0) shnum = Le(first + 32, 8);
    if (shstrndx == kShnXindex) shstrndx = Le(first + 40, 4);
  }
  if (shnum == 0 || shstrndx >= shnum) return false;
  if (shnum > kMaxTableBytes / shentsize) return false;

  std::vector<BYTE> table;
  if (!ReadRange(read, shoff, shnum * shentsize, kMaxTableBytes, &table)) return false;
  Section names = ParseSection(table.data() + shstrndx * shentsize);
  if (names.type == kShtNobits) return false;
  std::vector<BYTE> strtab;
  if (!ReadRange(read, names.offset, names.size, kMaxTableBytes, &strtab)) return false;

  for (std::uint64_t i = 0; i < shnum; ++i) {
    Section s = ParseSection(table.data() + i * shentsize);
    if (s.name >= strtab.size() || s.type == kShtNobits) continue;
    std::size_t room = strtab.size() - s.name;
    if (room < sizeof kSectionName ||
        std::memcmp(strtab.data() + s.name, kSectionName, sizeof kSectionName) != 0)
      continue;
    std::vector<BYTE> data;
    if (!ReadRange(read, s.offset, s.size, kMaxSectionBytes, &data) || data.size() < 6) return false;
    // The section may be padded; the block's own length says where it ends.
    std::size_t length = static_cast<std::size_t>(Le(data.data(), 2));
    if (length < 6 || length > data.size()) return false;
    data.resize(length);
    *block = std::move(data);
    return true;
  }
  return false;
}

}  // namespace

bool GetVersionInfoFromImage(const BYTE* data, std::size_t size, std::vector<BYTE>* block) {
  if (!data || !block) return false;
  return FindVersionSection(
      [data, size](std::uint64_t offset, std::size_t count, BYTE* out) {
        if (offset > size || count > size - offset) return false;
        std::memcpy(out, data + offset, count);
        return true;
      },
      block);
}

bool GetFileVersionInfo(const std::string& path, std::vector<BYTE>* block) {
  if (!block) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = false;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    auto size = static_cast<std::uint64_t>(st.st_size);
    ok = FindVersionSection(
        [fd, size](std::uint64_t offset, std::size_t count, BYTE* out) {
          if (offset > size || count > size - offset) return false;
          std::size_t done = 0;
          while (done < count) {
            ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
          }
          return true;
        },
        block);
  }
  ::close(fd);
  return ok;
}

}  // namespace plat
