#include "platform/winpath.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class WinPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/winpath-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("NORV_DRIVE_ROOT", (root_ + "/drives/").c_str(), 1);
    fs::create_directories(root_ + "/drives/c/Quovix/client32");
    std::ofstream(root_ + "/drives/c/Quovix/client32/Stub.zel") << "x";
  }
  void TearDown() override {
    unsetenv("NORV_DRIVE_ROOT");
    fs::remove_all(root_);
  }
  std::string root_;
};

TEST_F(WinPathTest, DrivePathsLiveUnderTheRootWithCaseMatchedComponents) {
  const std::string drives = root_ + "/drives";
  EXPECT_EQ(plat::DriveRoot(), drives);
  EXPECT_EQ(plat::WindowsPathToLinux("C:\\QUOVIX\\Client32\\stub.ZEL"),
            drives + "/c/Quovix/client32/Stub.zel");
  // Missing components are kept as written, after the last one that exists.
  EXPECT_EQ(plat::WindowsPathToLinux("c:\\quovix\\Admin\\New\\"), drives + "/c/Quovix/Admin/New/");
  EXPECT_EQ(plat::WindowsPathToLinux("C:\\FanrowStatus.txt"), drives + "/c/FanrowStatus.txt");
  EXPECT_EQ(plat::WindowsPathToLinux("C:"), drives + "/c");
  // Doubled separators and "." fold away; applying it twice changes nothing.
  const std::string once = plat::WindowsPathToLinux("C:\\\\quovix\\.\\CLIENT32//stub.zel");
  EXPECT_EQ(once, drives + "/c/Quovix/client32/Stub.zel");
  EXPECT_EQ(plat::WindowsPathToLinux(once), once);
}

TEST_F(WinPathTest, ExactMatchWinsOverOtherCase) {
  fs::create_directories(root_ + "/drives/c/Quovix/Client32");
  EXPECT_EQ(plat::WindowsPathToLinux("C:\\Quovix\\Client32"), root_ + "/drives/c/Quovix/Client32");
  EXPECT_EQ(plat::WindowsPathToLinux("C:\\Quovix\\client32"), root_ + "/drives/c/Quovix/client32");
  // No exact match: the first in byte order.
  EXPECT_EQ(plat::WindowsPathToLinux("C:\\Quovix\\CLIENT32"), root_ + "/drives/c/Quovix/Client32");
}

TEST_F(WinPathTest, LinuxAndRelativePaths) {
  EXPECT_EQ(plat::WindowsPathToLinux(root_ + "/DRIVES/C/quovix"), root_ + "/drives/c/Quovix");
  const std::string cwd = fs::current_path();
  ASSERT_EQ(chdir((root_ + "/drives/c").c_str()), 0);
  EXPECT_EQ(plat::WindowsPathToLinux("quovix\\client32\\"), "Quovix/client32/");
  EXPECT_EQ(plat::WindowsPathToLinux("..\\c\\QUOVIX"), "../c/Quovix");
  EXPECT_EQ(plat::WindowsPathToLinux(""), ".");
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(plat::WindowsPathToLinux("\\\\server\\share\\x"), "//server/share/x");
}

}  // namespace
