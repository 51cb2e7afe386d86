#include <gtest/gtest.h>

#include "foundation_test_support.h"
#include "norv/FileVersion.h"
#include "platform/version_info.h"

namespace {

using norvtest::ElfWithRecord;
using norvtest::WriteFile;

TEST(FileVersionTest, FileWithoutRecordFailsAndEveryQueryIsEmpty) {
  norvtest::ScratchDir dir;
  std::filesystem::path plain = dir.path() / "plain.txt";
  WriteFile(plain, {'h', 'e', 'l', 'l', 'o'});
  for (const std::filesystem::path& path : {plain, dir.path() / "missing.so"}) {
    CFileVersion version;
    EXPECT_FALSE(version.Open(path.wstring()));
    EXPECT_FALSE(version.IsOpen());
    EXPECT_EQ(version.GetFileDescription(), L"");
    EXPECT_EQ(version.GetProductName(), L"");
    EXPECT_EQ(version.QueryValue(L"CompanyName", 0x040904B0), L"");
    EXPECT_EQ(version.GetFixedFileVersion(), L"");
    EXPECT_EQ(version.GetFixedProductVersion(), L"");
    plat::FixedFileInfo info;
    EXPECT_FALSE(version.GetFixedInfo(info));
  }
}

TEST(FileVersionTest, RecordGivesStringsFixedVersionsAndFileName) {
  norvtest::ScratchDir dir;
  plat::VersionRecord record;
  record.fileVersion[0] = 2, record.fileVersion[1] = 1, record.fileVersion[2] = 65535,
  record.fileVersion[3] = 7;
  record.productVersion[0] = 2, record.productVersion[1] = 1;
  record.language = 0x0407;
  record.codePage = 0x04B0;
  record.strings = {{L"FileDescription", L"Prüfmodul"},
                    {L"CompanyName", L"Velmora"},
                    {L"ProductName", L"Norv"},
                    {L"LegalCopyright", L""}};
  std::filesystem::path path = dir.path() / "libsample.so.2";
  WriteFile(path, ElfWithRecord(plat::BuildVersionBlock(record)));

  CFileVersion version;
  ASSERT_TRUE(version.Open(path.wstring()));
  EXPECT_EQ(version.GetLangCodePage(), 0x040704B0u);
  EXPECT_EQ(version.GetFileDescription(), L"Prüfmodul");
  EXPECT_EQ(version.GetCompanyName(), L"Velmora");
  EXPECT_EQ(version.GetProductName(), L"Norv");
  EXPECT_EQ(version.QueryValue(L"ProductName", 0x040704B0), L"Norv");
  EXPECT_EQ(version.GetLegalCopyright(), L"");
  EXPECT_EQ(version.GetInternalName(), L"");                   // absent
  EXPECT_EQ(version.QueryValue(L"ProductName", 0x040904B0), L"");  // other translation
  EXPECT_EQ(version.GetFixedFileVersion(), L"2.1.65535.7");
  EXPECT_EQ(version.GetFixedProductVersion(), L"2.1.0.0");
  EXPECT_EQ(version.GetFileName(), L"libsample.so.2");

  version.Close();
  EXPECT_EQ(version.GetProductName(), L"");
  EXPECT_EQ(version.GetFixedFileVersion(), L"");
}

}  // namespace
