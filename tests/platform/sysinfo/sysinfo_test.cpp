#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sysinfo.h"

using namespace plat;

TEST(SysInfo, VersionComesFromTheKernelRelease) {
  OSVersionInfo info;
  ASSERT_TRUE(GetVersionEx(&info));
  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  std::string release = names.release;
  std::string expected = std::to_string(info.majorVersion) + "." + std::to_string(info.minorVersion);
  EXPECT_EQ(release.rfind(expected, 0), 0u) << release;
  EXPECT_GE(info.majorVersion, 3u);
  EXPECT_EQ(info.platformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(info.servicePack, names.version);
  EXPECT_FALSE(GetVersionEx(nullptr));
}

TEST(SysInfo, UserAndComputerNames) {
  const passwd* pw = getpwuid(geteuid());
  if (pw) {
    EXPECT_EQ(UserName(), pw->pw_name);
  }
  EXPECT_FALSE(UserName().empty());
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(ComputerName(), host);
}

TEST(SysInfo, TempPathEndsInASeparator) {
  const char* saved = getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempPath(), "/var/tmp/");
  setenv("TMPDIR", "/scratch/", 1);
  EXPECT_EQ(TempPath(), "/scratch/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempPath(), "/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempPath(), "/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST(SysInfo, ModulePathsAndFolders) {
  std::string self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(ModulePath(), self);
  static int here;
  EXPECT_EQ(ModulePath(&here), self);
  // A function of the platform library lies in that library.
  std::string lib = ModulePath(reinterpret_cast<const void*>(&TempPath));
  EXPECT_NE(lib.find("libnorvplatform"), std::string::npos) << lib;

  EXPECT_EQ(FolderOf("/usr/lib/x.so"), "/usr/lib/");
  EXPECT_EQ(FolderOf("/x"), "/");
  EXPECT_EQ(FolderOf("dir/"), "dir/");
  EXPECT_EQ(FolderOf("bare"), "");
  EXPECT_EQ(FolderOf(""), "");
  EXPECT_EQ(FolderOf(self) + std::filesystem::path(self).filename().string(), self);
}

namespace {

// Captures what the calls write to standard error.
std::string CaptureStandardError(const std::function<void()>& body) {
  char name[] = "/tmp/norv-stderr-XXXXXX";
  int fd = mkstemp(name);
  int saved = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  body();
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fd);
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  unlink(name);
  return s.str();
}

}  // namespace

TEST(SysInfo, DebugOutputIsPrefixedLineByLine) {
  std::string out = CaptureStandardError([] {
    OutputDebugString(std::string_view("plain"));
    OutputDebugString(std::string_view("ends\n"));
    OutputDebugString(std::string_view("two\nlines"));
    OutputDebugString(std::wstring_view(L"wide \u00e4\u20ac"));
  });
  EXPECT_EQ(out,
            "[debug] plain\n[debug] ends\n[debug] two\n[debug] lines\n"
            "[debug] wide \xC3\xA4\xE2\x82\xAC\n");
}

TEST(SysInfo, DebugOutputOfThreadsNeverMixes) {
  std::string out = CaptureStandardError([] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([t] {
        std::string text(500, static_cast<char>('a' + t));
        for (int i = 0; i < 50; ++i) OutputDebugString(std::string_view(text));
      });
    for (auto& thread : threads) thread.join();
  });
  std::istringstream lines(out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.size(), 8u + 500u);
    ASSERT_EQ(line.rfind("[debug] ", 0), 0u);
    ASSERT_EQ(line.find_first_not_of(line[8], 8), std::string::npos);
    ++count;
  }
  EXPECT_EQ(count, 200);
}

TEST(SysInfo, EventsGoToTheSystemLogWithoutFailing) {
  // Whether a log daemon listens is up to the machine; the calls must not
  // disturb the caller either way, also with format characters in the text.
  ReportEvent("norv-test", EventType::Error, "an error %s %n");
  ReportEvent("norv-test-2", EventType::Warning, "a warning");
  ReportEvent("norv-test", EventType::Information, "");
  SUCCEED();
}
