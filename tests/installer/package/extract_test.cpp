// Extraction into a folder: only bare names, never through a planted link,
// never outside the folder, and nothing left of a member that failed.
#include <sys/stat.h>

#include "package_reader.h"
#include "package_test_util.h"

namespace {

class Extract : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    std::filesystem::create_directories(Path("out"));
    dirFd_ = open(Path("out").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd_, 0);
  }
  void TearDown() override {
    close(dirFd_);
    ScratchTest::TearDown();
  }
  // Extracts the last member of package; returns the result code.
  int ExtractLast(const std::string& package) {
    package_ = package;
    input_ = zel::PackageInputFromMemory(package_.data(), package_.size());
    zel::PackageWalker walker(input_);
    zel::MemberInfo m;
    if (!walker.Next(&m)) return -1;
    return zel::ExtractMember(input_, m, dirFd_, false, nullptr);
  }
  std::string package_;
  zel::PackageInput input_;
  int dirFd_ = -1;
};

TEST_F(Extract, WritesTheContentAndReplacesAnExistingFile) {
  WriteFile(Path("out/a.txt"), "old content that is longer");
  EXPECT_EQ(ExtractLast("STUB" + pkgtest::Member("new", 1, "a.txt")), zel::EXTRACT_OK);
  EXPECT_EQ(ReadFile(Path("out/a.txt")), "new");
}

TEST_F(Extract, NamesThatAreNotBareFileNamesAreRefused) {
  std::filesystem::create_directories(Path("out/sub"));
  for (const std::string& name : {std::string("../evil"), std::string("sub/x"), std::string(".."),
                                 std::string("."), std::string("a\\b"), std::string("bell\a"),
                                 std::string("nul\0byte", 8), std::string("/tmp/abs")}) {
    EXPECT_EQ(ExtractLast("STUB" + pkgtest::Member("payload", 1, name)), zel::EXTRACT_BAD_NAME) << name;
  }
  EXPECT_EQ(ExtractLast("STUB" + pkgtest::RawMember("", 0, 1, "")), zel::EXTRACT_BAD_NAME);
  EXPECT_STREQ(zel::ExtractResultText(zel::EXTRACT_BAD_NAME), "Bad File Name");
  EXPECT_FALSE(std::filesystem::exists(Path("evil")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("out/sub")));
}

TEST_F(Extract, PlantedLinkIsReplacedNotFollowed) {
  WriteFile(Path("victim"), "precious");
  std::filesystem::create_symlink(Path("victim"), Path("out/qvcore32.dll"));
  std::filesystem::create_symlink(Path("nowhere"), Path("out/install.cdb"));
  EXPECT_EQ(ExtractLast("STUB" + pkgtest::Member("library", 1, "qvcore32.dll")), zel::EXTRACT_OK);
  EXPECT_EQ(ExtractLast("STUB" + pkgtest::Member("db", 1, "install.cdb")), zel::EXTRACT_OK);
  EXPECT_EQ(ReadFile(Path("victim")), "precious");
  EXPECT_FALSE(std::filesystem::exists(Path("nowhere")));
  EXPECT_FALSE(std::filesystem::is_symlink(Path("out/qvcore32.dll")));
  EXPECT_EQ(ReadFile(Path("out/qvcore32.dll")), "library");
}

TEST_F(Extract, FailedMemberLeavesNoFileAndFolderInTheWayFails) {
  std::string good = pkgtest::Member("content", 1, "bad.bin");
  good[good.size() - 4 - 7 - 16] ^= 0x55;  // stored CRC
  EXPECT_EQ(ExtractLast("STUB" + good), zel::EXTRACT_BAD_CRC);
  EXPECT_FALSE(std::filesystem::exists(Path("out/bad.bin")));

  std::filesystem::create_directories(Path("out/dir.bin/inner"));
  EXPECT_EQ(ExtractLast("STUB" + pkgtest::Member("x", 1, "dir.bin")), zel::EXTRACT_CREATE_FAILED);
  EXPECT_TRUE(std::filesystem::is_directory(Path("out/dir.bin/inner")));
}

}  // namespace
