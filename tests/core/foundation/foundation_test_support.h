// Helpers shared by the foundation tests: a scratch folder per test and a
// registry of its own, so that no test sees another's settings.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace norvtest {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norv-foundation-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made) ADD_FAILURE() << "mkdtemp failed";
    path_ = made ? made : "";
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points the registry at a fresh folder for the lifetime of a test.
class FreshRegistry {
 public:
  FreshRegistry() { setenv("NORV_REGISTRY_DIR", dir_.path().c_str(), 1); }
  ~FreshRegistry() { unsetenv("NORV_REGISTRY_DIR"); }
  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
};

inline void Put(std::vector<unsigned char>& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The smallest ELF file that carries a version record: a header, the record
// section, the section-name table and three section headers.
inline std::vector<unsigned char> ElfWithRecord(const std::vector<unsigned char>& record) {
  const char names[] = "\0.norv_version\0.shstrtab\0";
  const size_t namesSize = sizeof names;
  size_t recordAt = 64;
  size_t namesAt = recordAt + record.size();
  size_t headersAt = (namesAt + namesSize + 7) & ~size_t{7};
  std::vector<unsigned char> file(headersAt + 3 * 64, 0);
  std::memcpy(file.data(), "\x7F" "ELF", 4);
  file[4] = 2;  // 64-bit
  file[5] = 1;  // little-endian
  file[6] = 1;
  Put(file, 0x10, 3, 2);  // shared object
  Put(file, 0x28, headersAt, 8);
  Put(file, 0x34, 64, 2);
  Put(file, 0x3A, 64, 2);
  Put(file, 0x3C, 3, 2);
  Put(file, 0x3E, 2, 2);
  std::memcpy(file.data() + recordAt, record.data(), record.size());
  std::memcpy(file.data() + namesAt, names, namesSize);
  size_t h1 = headersAt + 64, h2 = headersAt + 128;
  Put(file, h1 + 0, 1, 4);  // ".norv_version"
  Put(file, h1 + 4, 1, 4);  // PROGBITS
  Put(file, h1 + 24, recordAt, 8);
  Put(file, h1 + 32, record.size(), 8);
  Put(file, h2 + 0, 15, 4);  // ".shstrtab"
  Put(file, h2 + 4, 3, 4);   // STRTAB
  Put(file, h2 + 24, namesAt, 8);
  Put(file, h2 + 32, namesSize, 8);
  return file;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace norvtest
