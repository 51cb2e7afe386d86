#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/version_info.h"

using namespace plat;

namespace {

std::vector<std::pair<std::wstring, std::wstring>> StandardStrings(const std::wstring& description,
                                                                   const std::wstring& internal,
                                                                   const std::wstring& original) {
  std::wstring version = FromUtf8(NORV_TEST_VERSION);
  return {{L"FileDescription", description},
          {L"FileVersion", version},
          {L"ProductName", L"Norv 2.1"},
          {L"ProductVersion", version},
          {L"InternalName", internal},
          {L"CompanyName", L"Velmora"},
          {L"LegalCopyright", L"Copyright (C) 2026 Velmora"},
          {L"OriginalFilename", original}};
}

std::wstring Query(const std::vector<BYTE>& block, const std::wstring& name) {
  std::wstring text;
  return VersionString(block, L"\\StringFileInfo\\040904b0\\" + name, &text) ? text : L"<absent>";
}

std::vector<BYTE> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

class TempFile {
 public:
  explicit TempFile(const std::vector<BYTE>& bytes) {
    char name[] = "/tmp/norv-version-XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    if (fd >= 0) {
      if (!bytes.empty()) {
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
      }
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

VersionRecord SampleRecord() {
  VersionRecord r;
  r.fileVersion[0] = 2;
  r.fileVersion[1] = 1;
  r.fileVersion[2] = 7;
  r.fileVersion[3] = 300;
  r.productVersion[0] = 2;
  r.productVersion[1] = 1;
  r.fileType = 2;
  r.strings = {{L"FileDescription", L"Sample"}, {L"Comments", L""}, {L"ProductName", L"Norv 2.1"}};
  return r;
}

}  // namespace

TEST(VersionBlock, StandardQueriesOnABuiltBlock) {
  std::vector<BYTE> block = BuildVersionBlock(SampleRecord());
  ASSERT_GE(block.size(), 92u);
  EXPECT_EQ(block[0] | (block[1] << 8), int(block.size()));  // wLength covers the block

  FixedFileInfo fixed;
  ASSERT_TRUE(GetFixedFileInfo(block, &fixed));
  EXPECT_EQ(fixed.signature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.fileVersionMS, 0x00020001u);
  EXPECT_EQ(fixed.fileVersionLS, (7u << 16) | 300u);
  EXPECT_EQ(fixed.productVersionMS, 0x00020001u);
  EXPECT_EQ(fixed.productVersionLS, 0u);
  EXPECT_EQ(fixed.fileType, 2u);

  const BYTE* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(block, L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(value[0] | (value[1] << 8) | (value[2] << 16) | (value[3] << 24), 0x04B00409);
  EXPECT_EQ(FirstTranslation(block), 0x040904B0u);

  // String lengths count UTF-16 characters with the zero, as on Windows.
  ASSERT_TRUE(VerQueryValue(block, L"\\StringFileInfo\\040904b0\\ProductName", &value, &length));
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(value[16], 0);
  EXPECT_EQ(Query(block, L"FileDescription"), L"Sample");
  EXPECT_EQ(Query(block, L"Comments"), L"");
  // Windows compares the path without regard to case.
  std::wstring text;
  EXPECT_TRUE(VersionString(block, L"\\stringfileinfo\\040904B0\\PRODUCTNAME", &text));
  EXPECT_EQ(text, L"Norv 2.1");
  EXPECT_TRUE(VersionString(block, L"\\StringFileInfo\\\\040904b0\\ProductName\\", &text));

  EXPECT_FALSE(VerQueryValue(block, L"\\StringFileInfo\\040904b0\\CompanyName", &value, &length));
  EXPECT_FALSE(VerQueryValue(block, L"\\StringFileInfo\\040704b0\\ProductName", &value, &length));
  EXPECT_FALSE(VerQueryValue(block, L"\\Nothing", &value, &length));
  EXPECT_FALSE(VersionString(block, L"\\VarFileInfo\\Translation", &text));  // binary
  EXPECT_FALSE(VersionString(block, L"\\", &text));
}

TEST(VersionBlock, DamagedBlocksAreRefusedWithoutReadingOutside) {
  std::vector<BYTE> block = BuildVersionBlock(SampleRecord());
  // Every truncation and every single-byte corruption of the length words
  // must be answered from inside the block (ASan checks the reads).
  for (std::size_t n = 0; n < block.size(); ++n) {
    std::vector<BYTE> cut(block.begin(), block.begin() + n);
    const BYTE* value = nullptr;
    UINT length = 0;
    if (VerQueryValue(cut, L"\\StringFileInfo\\040904b0\\ProductName", &value, &length))
      ADD_FAILURE() << "a block cut to " << n << " bytes still answered";
    std::wstring text;
    VersionString(cut, L"\\VarFileInfo\\Translation", &text);
  }
  for (std::size_t at = 0; at < block.size(); ++at) {
    for (BYTE v : {BYTE(0), BYTE(1), BYTE(5), BYTE(0x7F), BYTE(0xFF)}) {
      std::vector<BYTE> bad = block;
      bad[at] = v;
      std::wstring text;
      VersionString(bad, L"\\StringFileInfo\\040904b0\\ProductName", &text);
      VersionString(bad, L"\\VarFileInfo\\Translation", &text);
      FixedFileInfo fixed;
      GetFixedFileInfo(bad, &fixed);
    }
  }
  std::vector<BYTE> empty;
  EXPECT_FALSE(GetFixedFileInfo(empty, nullptr));
  EXPECT_EQ(FirstTranslation(empty), 0u);
}

TEST(VersionFile, StampedProgramCarriesTheBuildersExactBlock) {
  std::vector<BYTE> block;
  ASSERT_TRUE(GetFileVersionInfo("/proc/self/exe", &block));

  VersionRecord expected;
  expected.fileVersion[0] = expected.productVersion[0] = 2;
  expected.fileVersion[1] = expected.productVersion[1] = 1;
  expected.fileType = 1;
  expected.strings = StandardStrings(FromUtf8("Versionsprüfung ✓ 𝄞"), L"vitest", L"test_version_info");
  // The CMake writer and the C++ builder must agree byte for byte.
  EXPECT_EQ(block, BuildVersionBlock(expected));

  EXPECT_EQ(Query(block, L"FileDescription"), FromUtf8("Versionsprüfung ✓ 𝄞"));
  EXPECT_EQ(Query(block, L"FileVersion"), FromUtf8(NORV_TEST_VERSION));
  EXPECT_EQ(Query(block, L"LegalCopyright"), L"Copyright (C) 2026 Velmora");
}

TEST(VersionFile, StampedLibraryIsMarkedAsLibrary) {
  std::vector<BYTE> block;
  ASSERT_TRUE(GetFileVersionInfo(NORV_TEST_PROBE, &block));
  FixedFileInfo fixed;
  ASSERT_TRUE(GetFixedFileInfo(block, &fixed));
  EXPECT_EQ(fixed.fileType, 2u);  // VFT_DLL
  EXPECT_EQ(fixed.fileVersionMS, 0x00020001u);
  EXPECT_EQ(Query(block, L"OriginalFilename"), L"libversion_probe.so");
  EXPECT_EQ(Query(block, L"InternalName"), L"version_probe");
  EXPECT_EQ(Query(block, L"FileDescription"), L"Version probe library");
  EXPECT_EQ(Query(block, L"ProductName"), L"Norv 2.1");
  EXPECT_EQ(Query(block, L"CompanyName"), L"Velmora");
}

TEST(VersionFile, FilesWithoutARecordFail) {
  std::vector<BYTE> block = {1, 2, 3};
  EXPECT_FALSE(GetFileVersionInfo("/bin/true", &block));  // ELF, but no record
  EXPECT_FALSE(GetFileVersionInfo("/nonexistent/file", &block));
  EXPECT_FALSE(GetFileVersionInfo("/tmp", &block));
  EXPECT_FALSE(GetFileVersionInfo("/dev/zero", &block));
  TempFile empty({});
  EXPECT_FALSE(GetFileVersionInfo(empty.path(), &block));
  TempFile text({'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(GetFileVersionInfo(text.path(), &block));
  // A bare block is not an ELF file.
  TempFile bare(BuildVersionBlock(SampleRecord()));
  EXPECT_FALSE(GetFileVersionInfo(bare.path(), &block));
}

TEST(VersionFile, TruncatedAndDamagedFilesFailWithoutCrashing) {
  std::vector<BYTE> image = ReadAll(NORV_TEST_PROBE);
  ASSERT_GT(image.size(), 1024u);
  std::vector<BYTE> block;
  ASSERT_TRUE(GetVersionInfoFromImage(image.data(), image.size(), &block));

  // The section headers sit at the end: any cut loses them.
  for (std::size_t n : {std::size_t(0), std::size_t(4), std::size_t(63), std::size_t(64),
                        image.size() / 2, image.size() - 64, image.size() - 1}) {
    TempFile cut(std::vector<BYTE>(image.begin(), image.begin() + n));
    EXPECT_FALSE(GetFileVersionInfo(cut.path(), &block)) << "cut to " << n;
  }

  auto damaged = [&](std::size_t at, std::size_t bytes, BYTE fill) {
    std::vector<BYTE> bad = image;
    std::memset(bad.data() + at, fill, bytes);
    return bad;
  };
  // Section header offset, entry size, count and name index far off.
  for (auto [at, bytes] : {std::pair{0x28u, 8u}, std::pair{0x3Au, 2u}, std::pair{0x3Cu, 2u},
                           std::pair{0x3Eu, 2u}}) {
    std::vector<BYTE> bad = damaged(at, bytes, 0xFF);
    EXPECT_FALSE(GetVersionInfoFromImage(bad.data(), bad.size(), &block)) << "at " << at;
  }
  // 32-bit class and big-endian data are not read.
  EXPECT_FALSE(GetVersionInfoFromImage(damaged(4, 1, 1).data(), image.size(), &block));
  EXPECT_FALSE(GetVersionInfoFromImage(damaged(5, 1, 2).data(), image.size(), &block));

  // Scribbling over every section header in turn never reads outside.
  std::uint64_t shoff = 0;
  std::memcpy(&shoff, image.data() + 0x28, 8);
  for (std::size_t at = shoff; at + 8 <= image.size(); at += 8) {
    std::vector<BYTE> bad = damaged(at, 8, 0xFF);
    GetVersionInfoFromImage(bad.data(), bad.size(), &block);
  }
  EXPECT_FALSE(GetVersionInfoFromImage(nullptr, 0, &block));
}

TEST(VersionFile, HandMadeMinimalFilesAreRead) {
  // The fuzzing seeds: a minimal ELF file, and one that keeps its section
  // count and name-table index in section 0 as files with many sections do.
  for (const char* name : {"minimal_elf", "extended_numbering"}) {
    std::vector<BYTE> block;
    ASSERT_TRUE(GetFileVersionInfo(std::string(NORV_TEST_CORPUS) + "/" + name, &block)) << name;
    EXPECT_EQ(Query(block, L"OriginalFilename"), L"libversion_probe.so");
  }
}
