// The stub on real packages: written by ZipTheSend from the built stub, run
// with a scratch temporary directory; zelpack on the same packages.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "package_reader.h"
#include "package_test_util.h"
#include "package_writer.h"
#include "pending_ops.h"
#include "platform/registry.h"

namespace {

class StubRun : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (const char* folder : {"app/client32", "build", "run"})
      std::filesystem::create_directories(Path(folder));
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE,
                                    "Software\\Velmora\\Orbserver\\CurrentVersion", 0, nullptr, 0,
                                    plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
    std::string app = Path("app");
    plat::RegSetValueExA(key, "InstallDir", 0, plat::REG_SZ,
                         reinterpret_cast<const plat::BYTE*>(app.c_str()),
                         static_cast<plat::DWORD>(app.size() + 1));
    plat::RegCloseKey(key);
    std::filesystem::copy_file(STUB_FILE, Path("app/client32/stub.zel"));
    std::filesystem::copy_file(FAKE_SETUP_FILE, Path("app/client32/setup.zel"));
    std::filesystem::copy_file(QVCORE_FILE, Path("app/qvcore32.dll"));
    std::filesystem::copy_file(QXTRACE_FILE_PATH, Path("app/qxTrace.dll"));
    std::string crypto;
    for (int i = 0; i < 300000; ++i) crypto += static_cast<char>((i * 31) ^ (i >> 7));
    WriteFile(Path("app/qvcryp32.dll"), crypto);
    WriteFile(Path("db.tmp"), "package database content");
    WriteFile(Path("db.copy"), "package database content");
  }

  std::string BuildPackage() {
    setenv("TMPDIR", Path("build").c_str(), 1);
    char packagePath[260] = {};
    EXPECT_EQ(ZipTheSend(Path("db.tmp").c_str(), packagePath), 0);
    unsetenv("TMPDIR");
    return packagePath;
  }

  // Runs a package with run/ as its temporary directory; a setup program it
  // starts writes its record into `setupOut`.
  pkgtest::RunResult RunPackage(const std::string& package,
                                const std::string& setupOut = "setup-args.txt") {
    std::set<std::string> before = PrivateDirs();
    auto result = pkgtest::Run({package},
                               {"TMPDIR=" + Path("run"), "NORV_REGISTRY_DIR=" + Path("registry"),
                                "FAKE_SETUP_OUT=" + Path(setupOut)},
                               Path("stub-output.txt"));
    std::set<std::string> made;
    for (const std::string& dir : PrivateDirs())
      if (!before.count(dir)) made.insert(dir);
    EXPECT_EQ(made.size(), 1u) << "private directories made by " << package;
    lastDir_ = made.size() == 1 ? *made.begin() + "/" : "none/";
    return result;
  }

  // The setup program runs detached; wait until it has written its record.
  std::string WaitForSetup(const std::string& setupOut = "setup-args.txt") {
    for (int i = 0; i < 1000 && !std::filesystem::exists(Path(setupOut)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ReadFile(Path(setupOut));
  }

  // The directories that stubs made below run/.
  std::set<std::string> PrivateDirs() {
    std::set<std::string> dirs;
    for (const auto& entry : std::filesystem::directory_iterator(Path("run")))
      if (entry.is_directory() && entry.path().filename().string().rfind("zel-", 0) == 0)
        dirs.insert(entry.path().string());
    return dirs;
  }
  // The private directory of the last run, with a trailing slash.
  const std::string& Dir() const { return lastDir_; }

  static std::vector<zel::PendingOperation> Pending() {
    std::vector<zel::PendingOperation> ops;
    EXPECT_TRUE(zel::ReadPendingOperations(zel::OwnPendingRecord(), &ops));
    return ops;
  }

  std::string lastDir_;
};

TEST_F(StubRun, ExtractsListsAndHandsOverInItsPrivateDirectory) {
  std::string package = BuildPackage();
  auto result = RunPackage(package);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");

  // A fresh directory of its own below the temporary directory, for this user only.
  std::string dir = Dir();
  struct stat st {};
  ASSERT_EQ(lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  EXPECT_EQ(ReadFile(dir + "install.cdb"), ReadFile(Path("db.copy")));
  EXPECT_EQ(ReadFile(dir + "qxTrace.dll"), ReadFile(QXTRACE_FILE_PATH));
  EXPECT_EQ(ReadFile(dir + "qvcryp32.dll"), ReadFile(Path("app/qvcryp32.dll")));
  EXPECT_EQ(ReadFile(dir + "qvcore32.dll"), ReadFile(QVCORE_FILE));
  EXPECT_EQ(ReadFile(dir + "OrbCSetup.exe"), ReadFile(FAKE_SETUP_FILE));

  // Same list, same order as ever; only the directory is new.
  EXPECT_EQ(ReadFile(dir + "PackingList.TXT"),
            dir + "install.cdb\r\n" + dir + "qxTrace.dll\r\n" + dir + "qvcryp32.dll\r\n" + dir +
                "qvcore32.dll\r\n" + dir + "OrbCSetup.exe\r\n" + dir + "PackingList.TXT\r\n");

  // The setup program gets the packing list's path and the private directory as TMPDIR.
  std::string privateDir = dir.substr(0, dir.size() - 1);
  EXPECT_EQ(WaitForSetup(),
            dir + "OrbCSetup.exe\n" + dir + "PackingList.TXT\n" + "TMPDIR=" + privateDir + "\n");

  // The package asks to be deleted at the next restart.
  auto ops = Pending();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, package);
  EXPECT_EQ(ops[0].target, "");

  // zelpack reads the same package.
  auto listed = pkgtest::Run({ZELPACK_FILE, "list", package}, {}, Path("zl.txt"));
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("install.cdb"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("5 member(s)"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find(" 300000 "), std::string::npos)
      << listed.output;  // qvcryp32.dll's size
  auto tested = pkgtest::Run({ZELPACK_FILE, "test", package}, {}, Path("zt.txt"));
  EXPECT_EQ(tested.status, 0) << tested.output;
  auto extracted = pkgtest::Run({ZELPACK_FILE, "extract", package, Path("zx")}, {}, Path("ze.txt"));
  EXPECT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(ReadFile(Path("zx/qvcryp32.dll")), ReadFile(Path("app/qvcryp32.dll")));
}

// Only a setup program that the run itself extracted is started. Programs
// of the setup's name planted in the temporary directory (by another user,
// or left by an earlier run) are never run: not by a bare stub, not by a
// package without a setup member, not by one whose chain breaks before it.
TEST_F(StubRun, OnlyASetupProgramItExtractedIsStarted) {
  for (const char* planted : {"OrbCSetup.EXE", "orbcsetup.exe", "OrbCSetup.exe"}) {
    std::filesystem::copy_file(FAKE_SETUP_FILE, Path("run/") + planted);
    std::filesystem::permissions(Path("run/") + planted, std::filesystem::perms::all);
  }
  std::string stub = ReadFile(STUB_FILE);

  std::filesystem::copy_file(STUB_FILE, Path("bare.exe"));
  EXPECT_EQ(RunPackage(Path("bare.exe"), "bare-setup.txt").status, 0);
  EXPECT_EQ(ReadFile(Dir() + "PackingList.TXT"), Dir() + "PackingList.TXT\r\n");

  WriteFile(Path("nosetup.exe"), stub + pkgtest::Member("read me", 1, "readme.txt"));
  std::filesystem::permissions(Path("nosetup.exe"), std::filesystem::perms::owner_all);
  EXPECT_EQ(RunPackage(Path("nosetup.exe"), "nosetup-setup.txt").status, 0);
  EXPECT_EQ(ReadFile(Dir() + "readme.txt"), "read me");

  // Break the chain at member 2 (qvcore32.dll): its trailer no longer
  // matches, so the walk ends quietly after members 5, 4 and 3.
  std::string package = BuildPackage();
  std::string bytes = ReadFile(package);
  zel::PackageInput input = zel::PackageInputFromMemory(bytes.data(), bytes.size());
  zel::PackageWalker walker(input);
  zel::MemberInfo m;
  while (walker.Next(&m) && m.sequence != 2) {
  }
  ASSERT_EQ(m.sequence, 2u);
  bytes[m.headerOffset + 16 + m.nameLength] ^= 0x01;
  WriteFile(package, bytes);
  auto broken = RunPackage(package, "broken-setup.txt");
  EXPECT_EQ(broken.status, 0);
  EXPECT_EQ(broken.output, "");  // a broken chain is no error

  std::string dir = Dir();
  EXPECT_EQ(ReadFile(dir + "PackingList.TXT"), dir + "install.cdb\r\n" + dir + "qxTrace.dll\r\n" +
                                                   dir + "qvcryp32.dll\r\n" + dir +
                                                   "PackingList.TXT\r\n");

  // A sound package run in the same place does start its own setup program,
  // so the planted ones would have had their chance by now.
  WriteFile(Path("db.tmp"), "package database content");
  EXPECT_EQ(RunPackage(BuildPackage(), "sound-setup.txt").status, 0);
  EXPECT_NE(WaitForSetup("sound-setup.txt"), "");
  for (const char* record : {"bare-setup.txt", "nosetup-setup.txt", "broken-setup.txt"})
    EXPECT_FALSE(std::filesystem::exists(Path(record))) << record;
}

TEST_F(StubRun, BadCrcStopsExtractionAndHandOver) {
  std::string package = BuildPackage();
  // Corrupt qvcryp32.dll (member 3): the stored CRC of its header.
  std::string bytes = ReadFile(package);
  zel::PackageInput input = zel::PackageInputFromMemory(bytes.data(), bytes.size());
  zel::PackageWalker walker(input);
  zel::MemberInfo m;
  while (walker.Next(&m) && std::string(m.name) != "qvcryp32.dll") {
  }
  ASSERT_STREQ(m.name, "qvcryp32.dll");
  bytes[m.headerOffset] ^= 0x01;
  WriteFile(package, bytes);

  auto result = RunPackage(package);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "Error From: client.exe: Bad CRC in qvcryp32.dll\n");
  std::string dir = Dir();
  EXPECT_EQ(ReadFile(dir + "PackingList.TXT"),
            dir + "install.cdb\r\n" + dir + "qxTrace.dll\r\n" + dir + "PackingList.TXT\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "qvcryp32.dll"));
  EXPECT_FALSE(std::filesystem::exists(dir + "OrbCSetup.exe"));  // never extracted, never started
  EXPECT_EQ(Pending().size(), 1u);                               // still scheduled for deletion

  auto tested = pkgtest::Run({ZELPACK_FILE, "test", package}, {}, Path("zt.txt"));
  EXPECT_EQ(tested.status, 1);
  EXPECT_NE(tested.output.find("Bad CRC in qvcryp32.dll"), std::string::npos) << tested.output;
}

// Names that would leave the directory, or take the packing list's place,
// are refused; links in the temporary directory are never written through.
TEST_F(StubRun, HostileNamesAreRefused) {
  std::string stub = ReadFile(STUB_FILE);
  WriteFile(Path("victim"), "precious");
  std::filesystem::create_symlink(Path("victim"), Path("run/inside.txt"));
  WriteFile(Path("evil.exe"), stub + pkgtest::Member("escaped", 1, "../escaped.txt") +
                                  pkgtest::Member("my own list", 2, "packinglist.TXT") +
                                  pkgtest::Member("fine", 3, "inside.txt"));
  std::filesystem::permissions(Path("evil.exe"), std::filesystem::perms::owner_all);
  auto result = RunPackage(Path("evil.exe"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "Error From: evil.exe: Bad File Name in packinglist.TXT\n");
  std::string dir = Dir();
  EXPECT_EQ(ReadFile(dir + "inside.txt"), "fine");
  EXPECT_EQ(ReadFile(dir + "PackingList.TXT"),
            dir + "inside.txt\r\n" + dir + "PackingList.TXT\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "packinglist.TXT"));
  EXPECT_EQ(ReadFile(Path("victim")), "precious");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("run/inside.txt")));

  WriteFile(Path("evil2.exe"), stub + pkgtest::Member("escaped", 1, "../escaped.txt"));
  std::filesystem::permissions(Path("evil2.exe"), std::filesystem::perms::owner_all);
  result = RunPackage(Path("evil2.exe"));
  EXPECT_EQ(result.output, "Error From: evil2.exe: Bad File Name in ../escaped.txt\n");
  EXPECT_FALSE(std::filesystem::exists(Path("run/escaped.txt")));
  EXPECT_FALSE(std::filesystem::exists(Path("escaped.txt")));
}

TEST_F(StubRun, NoTemporaryDirectoryMeansNothingHappens) {
  std::filesystem::copy_file(STUB_FILE, Path("bare.exe"));
  auto result =
      pkgtest::Run({Path("bare.exe")},
                   {"TMPDIR=" + Path("does-not-exist"), "NORV_REGISTRY_DIR=" + Path("registry")},
                   Path("out.txt"));
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(Pending().empty());
}

// Stubs that end at the same moment add to the one record of pending
// deletions; each read-modify-write is one transaction, so none is lost.
TEST_F(StubRun, StubsEndingAtOnceAllRecordTheirDeletion) {
  constexpr int kRounds = 6, kStubs = 3;
  std::vector<std::string> expected;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<pid_t> running;
    for (int i = 0; i < kStubs; ++i) {
      std::string name = Path("client_" + std::to_string(round) + "_" + std::to_string(i) + ".exe");
      std::filesystem::copy_file(STUB_FILE, name);
      expected.push_back(name);
      running.push_back(
          pkgtest::Start({name}, {"TMPDIR=" + Path("run"), "NORV_REGISTRY_DIR=" + Path("registry")},
                         name + ".out"));
    }
    for (pid_t pid : running) EXPECT_EQ(pkgtest::Wait(pid), 0);
  }
  std::vector<std::string> recorded;
  for (const auto& op : Pending()) recorded.push_back(op.source);
  std::sort(recorded.begin(), recorded.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(recorded, expected);
}

// zelpack create writes with the package writer: the stub runs the result,
// members are numbered in order, and an existing file is never overwritten.
TEST_F(StubRun, ZelpackCreateBuildsAPackageTheStubUnpacks) {
  WriteFile(Path("build/a.txt"), std::string(5000, 'a'));
  WriteFile(Path("build/b.bin"), "b-content");
  std::string package = Path("made.exe");
  auto created = pkgtest::Run(
      {ZELPACK_FILE, "create", package, STUB_FILE, Path("build/a.txt"), Path("build/b.bin")}, {},
      Path("zc.txt"));
  ASSERT_EQ(created.status, 0) << created.output;
  auto listed = pkgtest::Run({ZELPACK_FILE, "list", package}, {}, Path("zl.txt"));
  EXPECT_NE(listed.output.find("2 member(s)"), std::string::npos) << listed.output;
  auto result = RunPackage(package);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(Dir() + "a.txt"), std::string(5000, 'a'));
  EXPECT_EQ(ReadFile(Dir() + "b.bin"), "b-content");

  auto again = pkgtest::Run({ZELPACK_FILE, "create", package, STUB_FILE, Path("build/a.txt")}, {},
                            Path("zc2.txt"));
  EXPECT_EQ(again.status, 2);
  auto missing = pkgtest::Run({ZELPACK_FILE, "create", Path("other.exe"), STUB_FILE,
                               Path("build/a.txt"), Path("build/none")},
                              {}, Path("zc3.txt"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("1 of 2"), std::string::npos) << missing.output;
}

}  // namespace
