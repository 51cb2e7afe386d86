// ZipTheSend: the five members in their order, left-out sources, the stub
// image kept as it is, the database deleted.
#include <sys/stat.h>

#include <cstdio>

#include "package_reader.h"
#include "package_test_util.h"
#include "package_writer.h"
#include "platform/registry.h"

namespace {

class ZipTheSendTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    std::filesystem::create_directories(Path("app/client32"));
    std::filesystem::create_directories(Path("tmp"));
    setenv("TMPDIR", Path("tmp").c_str(), 1);
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\Orbserver\\CurrentVersion", 0,
                                    nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
    std::string app = Path("app");
    plat::RegSetValueExA(key, "InstallDir", 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(app.c_str()),
                         static_cast<plat::DWORD>(app.size() + 1));
    plat::RegCloseKey(key);
    WriteFile(Path("app/client32/stub.zel"), "stub image");
    WriteFile(Path("app/client32/setup.zel"), "setup program");
    WriteFile(Path("app/qvcore32.dll"), "core");
    WriteFile(Path("app/qvcryp32.dll"), "crypto");
    WriteFile(Path("app/qxTrace.dll"), "trace");
    WriteFile(Path("db.tmp"), "database");
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    ScratchTest::TearDown();
  }
  std::vector<std::pair<std::string, std::uint32_t>> Members(const std::string& package) {
    zel::PackageInput input = zel::PackageInputFromMemory(package.data(), package.size());
    zel::PackageWalker walker(input);
    zel::MemberInfo m;
    std::vector<std::pair<std::string, std::uint32_t>> out;
    while (walker.Next(&m)) out.emplace_back(m.name, m.sequence);
    return out;
  }
};

TEST_F(ZipTheSendTest, FiveMembersInOrderInAPrivateDirectory) {
  char packagePath[260] = {};
  EXPECT_EQ(ZipTheSend(Path("db.tmp").c_str(), packagePath), 0);
  // client.exe in a fresh directory of its own below the temporary directory.
  std::filesystem::path written = packagePath;
  EXPECT_EQ(written.filename(), "client.exe");
  EXPECT_EQ(written.parent_path().parent_path(), Path("tmp"));
  EXPECT_EQ(written.parent_path().filename().string().rfind("zelpkg-", 0), 0u) << written;
  struct stat st {};
  ASSERT_EQ(lstat(written.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_FALSE(std::filesystem::exists(Path("db.tmp")));
  std::string package = ReadFile(packagePath);
  EXPECT_EQ(package.compare(0, 10, "stub image"), 0);
  EXPECT_EQ(package.substr(package.size() - 4), std::string("\x1B\0\0\0", 4));
  using Seq = std::vector<std::pair<std::string, std::uint32_t>>;
  EXPECT_EQ(Members(package), (Seq{{"install.cdb", 5}, {"qxTrace.dll", 4}, {"qvcryp32.dll", 3},
                                   {"qvcore32.dll", 2}, {"OrbCSetup.exe", 1}}));
  ASSERT_EQ(stat(packagePath, &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);  // the package is a program

  // Every package gets a place of its own; removing one takes its directory.
  WriteFile(Path("db.tmp"), "database 2");
  char second[260] = {};
  EXPECT_EQ(ZipTheSend(Path("db.tmp").c_str(), second), 0);
  EXPECT_STRNE(second, packagePath);
  EXPECT_EQ(Members(ReadFile(second)).size(), 5u);
  EXPECT_EQ(ReadFile(packagePath), package);
  EXPECT_TRUE(zel::RemovePackage(packagePath));
  EXPECT_FALSE(std::filesystem::exists(written.parent_path()));
  EXPECT_TRUE(std::filesystem::exists(second));
}

// A link planted where a package or a copy would be written is not followed:
// not at the old fixed name in the temporary directory, not at the writer's
// output, and a source that is a link is left out.
TEST_F(ZipTheSendTest, PlantedLinksAreNotFollowed) {
  WriteFile(Path("victim"), "precious");
  std::filesystem::create_symlink(Path("victim"), Path("tmp/client.exe"));
  std::filesystem::create_symlink(Path("victim"), Path("db.link"));
  char packagePath[260] = {};
  EXPECT_EQ(ZipTheSend(Path("db.link").c_str(), packagePath), 0);
  EXPECT_NE(std::string(packagePath), Path("tmp/client.exe"));
  EXPECT_EQ(Members(ReadFile(packagePath)).size(), 4u);  // the database link is left out
  EXPECT_EQ(ReadFile(Path("victim")), "precious");

  WriteFile(Path("member"), "member");
  zel::PackageEntry entries[1] = {};
  std::snprintf(entries[0].source, sizeof entries[0].source, "%s", Path("member").c_str());
  EXPECT_EQ(zel::WritePackageMembers(Path("tmp/client.exe").c_str(), 1, entries, 4096), 0);
  EXPECT_EQ(ReadFile(Path("victim")), "precious");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("tmp/client.exe")));
}

TEST_F(ZipTheSendTest, MissingSourceIsLeftOutAndNumbersStayContiguous) {
  std::filesystem::remove(Path("app/qvcryp32.dll"));
  char packagePath[260] = {};
  EXPECT_EQ(ZipTheSend(Path("db.tmp").c_str(), packagePath), 0);
  using Seq = std::vector<std::pair<std::string, std::uint32_t>>;
  EXPECT_EQ(Members(ReadFile(packagePath)),
            (Seq{{"install.cdb", 4}, {"qxTrace.dll", 3}, {"qvcore32.dll", 2}, {"OrbCSetup.exe", 1}}));
}

TEST_F(ZipTheSendTest, NoStubProgramMeansNoPackage) {
  std::filesystem::remove(Path("app/client32/stub.zel"));
  char packagePath[260] = {};
  EXPECT_EQ(ZipTheSend(Path("db.tmp").c_str(), packagePath), -1);
  EXPECT_FALSE(std::filesystem::exists(Path("db.tmp")));  // the temporary database goes anyway
  EXPECT_STREQ(packagePath, "");
}

}  // namespace
