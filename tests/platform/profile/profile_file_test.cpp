#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/profile.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-profile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/settings.ini";
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  void Write(const std::string& content) {
    std::ofstream(path_, std::ios::binary) << content;
  }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }
  std::string Get(const char* section, const char* key, const char* def = "") {
    char buffer[256];
    DWORD n = GetPrivateProfileStringA(section, key, def, buffer, sizeof buffer, path_.c_str());
    return std::string(buffer, n);
  }

  std::string dir_, path_;
};

}  // namespace

TEST_F(ProfileFile, ReadsValuesAndDefaults) {
  Write("[Setup]\r\nINSTALLDIR = C:\\Program Files\\App \r\nMode=\"expert\"\r\nCount=42\r\n");
  EXPECT_EQ(Get("setup", "installdir"), "C:\\Program Files\\App");
  EXPECT_EQ(Get("SETUP", "mode"), "expert");
  EXPECT_EQ(Get("Setup", "missing", "fallback  "), "fallback");  // trailing blanks dropped
  EXPECT_EQ(Get("Nowhere", "mode", nullptr), "");
  EXPECT_EQ(GetPrivateProfileIntA("Setup", "Count", 7, path_.c_str()), 42u);
  EXPECT_EQ(GetPrivateProfileIntA("Setup", "missing", 7, path_.c_str()), 7u);

  char buffer[8];
  EXPECT_EQ(GetPrivateProfileStringA("a", "b", "dflt", buffer, sizeof buffer,
                                     (dir_ + "/absent.ini").c_str()),
            4u);
  EXPECT_STREQ(buffer, "dflt");
}

TEST_F(ProfileFile, ParsesIntegersLikeWindows) {
  Write("[N]\nplain=12\nsigned=-5\nplus=+9\ntrailing=34abc\nword=abc\nempty=\nquoted=\"8\"\n"
        "huge=4294967297\n");
  auto get = [&](const char* key) { return GetPrivateProfileIntA("N", key, 99, path_.c_str()); };
  EXPECT_EQ(get("plain"), 12u);
  EXPECT_EQ(get("signed"), static_cast<UINT>(-5));
  EXPECT_EQ(get("plus"), 9u);
  EXPECT_EQ(get("trailing"), 34u);
  EXPECT_EQ(get("word"), 0u);
  EXPECT_EQ(get("empty"), 99u);
  EXPECT_EQ(get("quoted"), 8u);
  EXPECT_EQ(get("huge"), 1u);  // wraps around
}

TEST_F(ProfileFile, ListsSectionsAndKeysWithTwoZerosAtTheEnd) {
  Write("[One]\na=1\nB=2\n[Two]\n[one]\nc=3\n");
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD n = GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::string(buffer, n + 1), std::string("One\0Two\0\0", 9));

  n = GetPrivateProfileStringA("ONE", nullptr, nullptr, buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(std::string(buffer, n + 1), std::string("a\0B\0c\0\0", 7));

  n = GetPrivateProfileStringA("Two", nullptr, nullptr, buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '\0');

  // Windows quirks: the default stands in for an empty key list and an empty key.
  n = GetPrivateProfileStringA("Two", nullptr, "none", buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(std::string(buffer, n + 2), std::string("none\0\0", 6));
  Write("[One]\n=empty key\na=1\nB=2\n[Two]\n[one]\nc=3\n");
  EXPECT_EQ(Get("One", "", "dflt"), "dflt");

  n = GetPrivateProfileSectionA("one", buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(std::string(buffer, n + 1), std::string("=empty key\0a=1\0B=2\0c=3\0\0", 24));
}

TEST_F(ProfileFile, TruncatesLikeWindows) {
  Write("[Section]\nkey=abcdefgh\n[Second]\n");
  char buffer[16];
  // A value: size - 1 characters and a zero.
  EXPECT_EQ(GetPrivateProfileStringA("Section", "key", "", buffer, 5, path_.c_str()), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(GetPrivateProfileStringA("Section", "key", "", buffer, 9, path_.c_str()), 8u);
  EXPECT_STREQ(buffer, "abcdefgh");
  EXPECT_EQ(GetPrivateProfileStringA("Section", "none", "long default", buffer, 5, path_.c_str()),
            4u);
  EXPECT_STREQ(buffer, "long");
  EXPECT_EQ(GetPrivateProfileStringA("Section", "key", "", buffer, 0, path_.c_str()), 0u);

  // A list: size - 2, the last name cut, two zeros at the end.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 12, path_.c_str()), 10u);
  EXPECT_EQ(std::string(buffer, 12), std::string("Section\0Se\0\0", 12));
  // Exactly fitting is not truncated ("Section\0Second\0\0" is 16 bytes).
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 16, path_.c_str()), 15u);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 15, path_.c_str()), 13u);
  EXPECT_EQ(GetPrivateProfileSectionA("Section", buffer, 6, path_.c_str()), 4u);
  EXPECT_EQ(std::string(buffer, 6), std::string("key=\0\0", 6));
}

TEST_F(ProfileFile, WritesKeepTheRestOfTheFile) {
  const std::string original = "; keep me\n\n[General]\nName=old  ; not a comment\n# and me\n\n[Other]\nx=1\n";
  Write(original);
  EXPECT_TRUE(WritePrivateProfileStringA("general", "name", "new", path_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("General", "Added", "yes", path_.c_str()));
  EXPECT_EQ(Read(), "; keep me\n\n[General]\nName=new\nAdded=yes\n# and me\n\n[Other]\nx=1\n");

  EXPECT_TRUE(WritePrivateProfileStringA("General", "Added", nullptr, path_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("Other", nullptr, nullptr, path_.c_str()));
  EXPECT_EQ(Read(), "; keep me\n\n[General]\nName=new\n# and me\n\n");
  EXPECT_EQ(Get("General", "Name"), "new");
}

TEST_F(ProfileFile, CreatesAMissingFileOnlyWhenSomethingIsWritten) {
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", nullptr, path_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("S", nullptr, nullptr, path_.c_str()));
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "v", path_.c_str()));
  EXPECT_EQ(Read(), "[S]\r\nk=v\r\n");
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", (dir_ + "/no/such/folder.ini").c_str()));
}

TEST_F(ProfileFile, RefusesValuesThatWouldInjectLines) {
  Write("[S]\nk=v\n");
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "x\n[Other]\ny=1", path_.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "a=b", "1", path_.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("S]x", "a", "1", path_.c_str()));
  const char bad[] = "ok=1\0two\nlines=2\0";
  EXPECT_FALSE(WritePrivateProfileSectionA("S", bad, path_.c_str()));
  EXPECT_EQ(Read(), "[S]\nk=v\n");
}

TEST_F(ProfileFile, SectionWritesReplaceEntries) {
  Write("[rename]\r\n; list\r\nA=1\r\n[Next]\r\nz=9\r\n");
  char buffer[256];
  DWORD n = GetPrivateProfileSectionA("RENAME", buffer, sizeof buffer, path_.c_str());
  // Append an entry the way a caller extends a section it read.
  std::string list(buffer, n);
  list += std::string("NUL=/tmp/x") + '\0' + '\0';
  EXPECT_TRUE(WritePrivateProfileSectionA("rename", list.c_str(), path_.c_str()));
  EXPECT_EQ(Read(), "[rename]\r\n; list\r\nA=1\r\nNUL=/tmp/x\r\n[Next]\r\nz=9\r\n");
  EXPECT_TRUE(WritePrivateProfileSectionA("rename", nullptr, path_.c_str()));
  EXPECT_EQ(Read(), "[Next]\r\nz=9\r\n");
}

TEST_F(ProfileFile, WritesAreAtomicAndLeaveNoTemporaryFile) {
  Write("[S]\nk=1\n");
  chmod(path_.c_str(), 0640);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", path_.c_str()));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"settings.ini"});
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A symbolic link keeps pointing at the file, which gets the new content.
  std::string link = dir_ + "/link.ini";
  ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "3", link.c_str()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(), "[S]\nk=3\n");

  // The final rename fails (the name is a folder), even for root: nothing
  // may be left behind and the folder stays as it was.
  std::string folder = dir_ + "/folder.ini";
  fs::create_directory(folder);
  fs::remove(link);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "4", folder.c_str()));
  auto entries = FolderEntries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"folder.ini", "settings.ini"}));
}

TEST_F(ProfileFile, ReadOnlyFolderKeepsTheOriginal) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into read-only folders";
  Write("[S]\nk=1\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "2", path_.c_str()));
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_EQ(Read(), "[S]\nk=1\n");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProfileFile, FailedWriteKeepsTheOriginal) {
  // A file size limit binds root too: the temporary file cannot be written.
  const std::string original = "[S]\nk=1\n";
  Write(original);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  BOOL written = WritePrivateProfileStringA("S", "k", std::string(100, 'x').c_str(), path_.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(Read(), original);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProfileFile, ConcurrentWritersLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
        WritePrivateProfileStringA("S", key.c_str(), "v", path_.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto doc = ProfileDocument::Parse(Read());
  EXPECT_EQ(doc.Keys("S").size(), 40u);
}
