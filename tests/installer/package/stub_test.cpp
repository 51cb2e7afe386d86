// The stub on real packages: written by ZipTheSend from the built stub, run
// with a scratch temporary directory; zelpack on the same packages.
#include <chrono>
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
    for (const char* folder : {"app/client32", "build", "run"}) std::filesystem::create_directories(Path(folder));
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\Orbserver\\CurrentVersion", 0,
                                    nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
    std::string app = Path("app");
    plat::RegSetValueExA(key, "InstallDir", 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(app.c_str()),
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

  pkgtest::RunResult RunPackage(const std::string& package) {
    return pkgtest::Run({package}, {"TMPDIR=" + Path("run"), "NORV_REGISTRY_DIR=" + Path("registry"),
                           "FAKE_SETUP_OUT=" + Path("setup-args.txt")},
               Path("stub-output.txt"));
  }

  // The setup program runs detached; wait until it has written its record.
  std::string WaitForSetup() {
    for (int i = 0; i < 1000 && !std::filesystem::exists(Path("setup-args.txt")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ReadFile(Path("setup-args.txt"));
  }

  std::string Run_(const std::string& name) { return Path("run/" + name); }
};

TEST_F(StubRun, ExtractsListsAndHandsOver) {
  std::string package = BuildPackage();
  auto result = RunPackage(package);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");

  EXPECT_EQ(ReadFile(Run_("install.cdb")), ReadFile(Path("db.copy")));
  EXPECT_EQ(ReadFile(Run_("qxTrace.dll")), ReadFile(QXTRACE_FILE_PATH));
  EXPECT_EQ(ReadFile(Run_("qvcryp32.dll")), ReadFile(Path("app/qvcryp32.dll")));
  EXPECT_EQ(ReadFile(Run_("qvcore32.dll")), ReadFile(QVCORE_FILE));
  EXPECT_EQ(ReadFile(Run_("OrbCSetup.exe")), ReadFile(FAKE_SETUP_FILE));

  std::string dir = Path("run") + "/";
  EXPECT_EQ(ReadFile(Run_("PackingList.TXT")),
            dir + "install.cdb\r\n" + dir + "qxTrace.dll\r\n" + dir + "qvcryp32.dll\r\n" + dir +
                "qvcore32.dll\r\n" + dir + "OrbCSetup.exe\r\n" + dir + "PackingList.TXT\r\n");

  // The setup program gets the packing list's path.
  EXPECT_EQ(WaitForSetup(), dir + "OrbCSetup.exe\n" + dir + "PackingList.TXT\n");

  // The package asks to be deleted at the next restart.
  std::vector<zel::PendingOperation> ops;
  ASSERT_TRUE(zel::ReadPendingOperations(zel::OwnPendingRecord(), &ops));
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, package);
  EXPECT_EQ(ops[0].target, "");

  // zelpack reads the same package.
  auto listed = pkgtest::Run({ZELPACK_FILE, "list", package}, {}, Path("zl.txt"));
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("install.cdb"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("5 member(s)"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find(" 300000 "), std::string::npos) << listed.output;  // qvcryp32.dll's size
  auto tested = pkgtest::Run({ZELPACK_FILE, "test", package}, {}, Path("zt.txt"));
  EXPECT_EQ(tested.status, 0) << tested.output;
  auto extracted = pkgtest::Run({ZELPACK_FILE, "extract", package, Path("zx")}, {}, Path("ze.txt"));
  EXPECT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(ReadFile(Path("zx/qvcryp32.dll")), ReadFile(Path("app/qvcryp32.dll")));
}

TEST_F(StubRun, BareStubListsOnlyItself) {
  std::filesystem::copy_file(STUB_FILE, Path("bare.exe"));
  auto result = RunPackage(Path("bare.exe"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(Run_("PackingList.TXT")), Path("run") + "/PackingList.TXT\r\n");
  EXPECT_FALSE(std::filesystem::exists(Run_("OrbCSetup.EXE")));  // the start fails silently
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
  std::string dir = Path("run") + "/";
  EXPECT_EQ(ReadFile(Run_("PackingList.TXT")),
            dir + "install.cdb\r\n" + dir + "qxTrace.dll\r\n" + dir + "PackingList.TXT\r\n");
  EXPECT_FALSE(std::filesystem::exists(Run_("qvcryp32.dll")));
  EXPECT_FALSE(std::filesystem::exists(Run_("OrbCSetup.exe")));  // never extracted, never started
  std::vector<zel::PendingOperation> ops;
  ASSERT_TRUE(zel::ReadPendingOperations(zel::OwnPendingRecord(), &ops));
  EXPECT_EQ(ops.size(), 1u);  // still scheduled for deletion

  auto tested = pkgtest::Run({ZELPACK_FILE, "test", package}, {}, Path("zt.txt"));
  EXPECT_EQ(tested.status, 1);
  EXPECT_NE(tested.output.find("Bad CRC in qvcryp32.dll"), std::string::npos) << tested.output;
}

TEST_F(StubRun, HostileNamesAndPlantedLinksStayInside) {
  std::string stub = ReadFile(STUB_FILE);
  WriteFile(Path("victim"), "precious");
  std::filesystem::create_symlink(Path("victim"), Run_("inside.txt"));
  WriteFile(Path("evil.exe"), stub + pkgtest::Member("escaped", 1, "../escaped.txt") +
                                  pkgtest::Member("fine", 2, "inside.txt"));
  std::filesystem::permissions(Path("evil.exe"), std::filesystem::perms::owner_all);
  auto result = RunPackage(Path("evil.exe"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "Error From: evil.exe: Bad File Name in ../escaped.txt\n");
  EXPECT_EQ(ReadFile(Path("victim")), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(Run_("inside.txt")));
  EXPECT_EQ(ReadFile(Run_("inside.txt")), "fine");
  EXPECT_FALSE(std::filesystem::exists(Path("escaped.txt")));
  EXPECT_EQ(ReadFile(Run_("PackingList.TXT")),
            Path("run") + "/inside.txt\r\n" + Path("run") + "/PackingList.TXT\r\n");
}

TEST_F(StubRun, NoTemporaryDirectoryMeansNothingHappens) {
  std::filesystem::copy_file(STUB_FILE, Path("bare.exe"));
  auto result = pkgtest::Run({Path("bare.exe")}, {"TMPDIR=" + Path("does-not-exist"), "NORV_REGISTRY_DIR=" + Path("registry")},
                    Path("out.txt"));
  EXPECT_EQ(result.status, 0);
  std::vector<zel::PendingOperation> ops;
  ASSERT_TRUE(zel::ReadPendingOperations(zel::OwnPendingRecord(), &ops));
  EXPECT_TRUE(ops.empty());
}

}  // namespace

// zelpack create writes with the package writer: the stub runs the result,
// members are numbered in order, and an existing file is never overwritten.
TEST_F(StubRun, ZelpackCreateBuildsAPackageTheStubUnpacks) {
  WriteFile(Path("build/a.txt"), std::string(5000, 'a'));
  WriteFile(Path("build/b.bin"), "b-content");
  std::string package = Path("made.exe");
  auto created = pkgtest::Run({ZELPACK_FILE, "create", package, STUB_FILE, Path("build/a.txt"),
                               Path("build/b.bin")},
                              {}, Path("zc.txt"));
  ASSERT_EQ(created.status, 0) << created.output;
  auto listed = pkgtest::Run({ZELPACK_FILE, "list", package}, {}, Path("zl.txt"));
  EXPECT_NE(listed.output.find("2 member(s)"), std::string::npos) << listed.output;
  auto result = RunPackage(package);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(Run_("a.txt")), std::string(5000, 'a'));
  EXPECT_EQ(ReadFile(Run_("b.bin")), "b-content");

  auto again = pkgtest::Run({ZELPACK_FILE, "create", package, STUB_FILE, Path("build/a.txt")}, {},
                            Path("zc2.txt"));
  EXPECT_EQ(again.status, 2);
  auto missing = pkgtest::Run({ZELPACK_FILE, "create", Path("other.exe"), STUB_FILE,
                               Path("build/a.txt"), Path("build/none")},
                              {}, Path("zc3.txt"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("1 of 2"), std::string::npos) << missing.output;
}
