// The installation steps: the client set-up's command line, the
// administrator check and the removal of an old open-file agent.
#include <gtest/gtest.h>
#include <grp.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "msi_properties.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "setup_core.h"
#include "setup_sequence.h"

namespace {

using zelsetup::ClientSetupArguments;
using zelsetup::ClientSetupInput;

ClientSetupInput Input(bool expert, bool ofa, bool scheduler) {
  ClientSetupInput in;
  in.sourceFolder = "/tmp/pkg/ORBClient/client";
  in.installDir = "C:\\Program Files\\Halvorn";
  in.orbUser = "Ann Example";
  in.winUser = "EXAMPLE\\ann";
  in.expert = expert;
  in.ofa = ofa;
  in.scheduler = scheduler;
  in.logFile = "/tmp/u/ORBClientInstall.log";
  return in;
}

TEST(ClientSetupCommandLine, DefaultAndExpertUsersWithAndWithoutTheAgent) {
  EXPECT_EQ(zelsetup::ClientSetupProgram(Input(false, false, false)),
            R"("/tmp/pkg/ORBClient/client/setup.exe")");
  EXPECT_EQ(ClientSetupArguments(Input(false, false, false)),
            R"(/SMS /w /s /v"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S )"
            R"(MYSOURCEDIR=\"/tmp/pkg/ORBClient/client\" INSTALLDIR=\"C:\Program Files\Halvorn\"  )"
            R"(ADDLOCAL=\"Client,FCR\" INSTALLLEVEL=100 ORBSCHEDULE=\"\" ORBUSER=\"Ann Example\" )"
            R"(WINUSER=\"ann@EXAMPLE\" /l*v \"/tmp/u/ORBClientInstall.log\" ")");
  EXPECT_EQ(ClientSetupArguments(Input(false, true, true)),
            R"(/SMS /w /s /v"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S )"
            R"(MYSOURCEDIR=\"/tmp/pkg/ORBClient/client\" INSTALLDIR=\"C:\Program Files\Halvorn\"  )"
            R"(ADDLOCAL=\"Client,FCR,Ofa\" INSTALLLEVEL=100  ORBUSER=\"Ann Example\" )"
            R"(WINUSER=\"ann@EXAMPLE\" /l*v \"/tmp/u/ORBClientInstall.log\" ")");
  // The expert chooses the features himself: the agent is not named.
  for (bool ofa : {false, true}) {
    EXPECT_EQ(ClientSetupArguments(Input(true, ofa, false)),
              R"(/SMS /w /s /v"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S )"
              R"(MYSOURCEDIR=\"/tmp/pkg/ORBClient/client\" INSTALLDIR=\"C:\Program Files\Halvorn\"  )"
              R"( INSTALLLEVEL=200 ORBSCHEDULE=\"\" ORBUSER=\"Ann Example\" )"
              R"(WINUSER=\"ann@EXAMPLE\" /l*v \"/tmp/u/ORBClientInstall.log\" ")");
  }
  ClientSetupInput bare = Input(false, false, true);
  bare.installDir.clear();
  bare.orbUser.clear();
  bare.winUser.clear();
  bare.databaseDir = "D:\\Orb Data";
  EXPECT_EQ(ClientSetupArguments(bare),
            R"(/SMS /w /s /v"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S )"
            R"(MYSOURCEDIR=\"/tmp/pkg/ORBClient/client\"  DATABASEDIR=\"D:\Orb Data\" )"
            R"(ADDLOCAL=\"Client,FCR\" INSTALLLEVEL=100    /l*v \"/tmp/u/ORBClientInstall.log\" ")");
  ClientSetupInput again = Input(false, true, false);
  again.reinstall = true;
  EXPECT_EQ(ClientSetupArguments(again),
            R"(/SMS /w /s /v"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S )"
            R"(/l*v \"/tmp/u/ORBClientInstall.log\" ")");
}

TEST(ClientSetupCommandLine, TheClientSetUpReadsBackEveryProperty) {
  // What setup writes is what the client set-up understands, quotes and all.
  ClientSetupInput in = Input(false, true, false);
  in.databaseDir = "D:\\Orb Data";
  auto argv = plat::SplitCommandLine(zelsetup::ClientSetupProgram(in) + " " +
                                     ClientSetupArguments(in));
  ASSERT_EQ(argv.size(), 5u);
  EXPECT_EQ(argv[0], "/tmp/pkg/ORBClient/client/setup.exe");
  ASSERT_EQ(argv[4].substr(0, 2), "/v");
  zelsetup::Properties p = zelsetup::ParseProperties(argv[4].substr(2));
  EXPECT_EQ(p.values["MYSOURCEDIR"], "/tmp/pkg/ORBClient/client");
  EXPECT_EQ(p.values["INSTALLDIR"], "C:\\Program Files\\Halvorn");
  EXPECT_EQ(p.values["DATABASEDIR"], "D:\\Orb Data");
  EXPECT_EQ(p.values["ADDLOCAL"], "Client,FCR,Ofa");
  EXPECT_EQ(p.values["INSTALLLEVEL"], "100");
  EXPECT_EQ(p.values["ORBSCHEDULE"], "");
  EXPECT_EQ(p.values["ORBUSER"], "Ann Example");
  EXPECT_EQ(p.values["WINUSER"], "ann@EXAMPLE");
  EXPECT_EQ(p.logFile, "/tmp/u/ORBClientInstall.log");
}

TEST(ClientSetupCommandLine, EntryNamesMustBeBareNames) {
  std::string name;
  std::uint32_t dos = 1;
  EXPECT_TRUE(zelsetup::SplitFileEntryName("setup.exe\\1215787018", &name, &dos));
  EXPECT_EQ(name, "setup.exe");
  EXPECT_EQ(dos, 1215787018u);
  // Dates from 2044 on are written as negative numbers.
  EXPECT_TRUE(zelsetup::SplitFileEntryName("late.txt\\-1", &name, &dos));
  EXPECT_EQ(dos, 0xFFFFFFFFu);
  EXPECT_TRUE(zelsetup::SplitFileEntryName("modem.ini", &name, &dos));
  EXPECT_EQ(dos, 0u);
  EXPECT_FALSE(zelsetup::SplitFileEntryName("..\\0", &name, &dos));
  EXPECT_FALSE(zelsetup::SplitFileEntryName("a\\b\\0", &name, &dos));

  for (const char* good : {"client", "setup.exe", "Norv2.1", "a b", "..x", "x.."})
    EXPECT_TRUE(zelsetup::IsBareEntryName(good)) << good;
  for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "/etc", "a\tb", "\x7f"})
    EXPECT_FALSE(zelsetup::IsBareEntryName(bad)) << bad;
}

class Steps : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelsteps-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/registry");
    std::filesystem::create_directories(dir_ + "/drives");
    setenv("NORV_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
    oldPath_ = getenv("PATH") ? getenv("PATH") : "";
    std::string bin = std::filesystem::path(MSIEXEC_FILE).parent_path().string();
    setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    ASSERT_TRUE(log_.Open(dir_ + "/zelDebug.txt"));
    ctx_.log = &log_;
    ctx_.tempDir = dir_ + "/";
  }
  void TearDown() override {
    log_.Close();
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("NORV_DRIVE_ROOT");
    unsetenv("NORV_ADMIN_GROUP");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Log() {
    std::ifstream in(dir_ + "/zelDebug.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void SetDword(const char* key, const std::string& name, plat::DWORD value) {
    plat::HKEY k = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                                    plat::KEY_ALL_ACCESS, nullptr, &k, nullptr),
              plat::ERROR_SUCCESS);
    plat::RegSetValueExA(k, name.c_str(), 0, plat::REG_DWORD,
                         reinterpret_cast<const plat::BYTE*>(&value), sizeof value);
    plat::RegCloseKey(k);
  }
  plat::DWORD GetDword(const char* key, const std::string& name) {
    plat::HKEY k = nullptr;
    plat::DWORD value = 0, type = 0, size = sizeof value;
    if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, key, 0, plat::KEY_READ, &k) != 0) return 0;
    plat::RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<plat::BYTE*>(&value),
                           &size);
    plat::RegCloseKey(k);
    return value;
  }

  std::string dir_, oldPath_;
  zelsetup::DebugLog log_;
  zelsetup::SetupContext ctx_;
};

TEST_F(Steps, AdministratorCheck) {
  EXPECT_TRUE(zelsetup::IsUserAdministrator("SYSTEM", log_));
  EXPECT_NE(Log().find("Don't check administrator privileges for user SYSTEM\n"), std::string::npos);
  if (geteuid() == 0) {
    EXPECT_TRUE(zelsetup::IsUserAdministrator("root", log_));
    return;  // root passes whoever it claims to be; the other cases need another user
  }
  struct group* own = getgrgid(getgid());
  ASSERT_NE(own, nullptr);
  setenv("NORV_ADMIN_GROUP", own->gr_name, 1);  // a member by primary group
  EXPECT_TRUE(zelsetup::IsUserAdministrator(plat::UserName(), log_));
  setenv("NORV_ADMIN_GROUP", "norv-no-such-group", 1);
  EXPECT_FALSE(zelsetup::IsUserAdministrator(plat::UserName(), log_));
  EXPECT_NE(Log().find("is not a member of the norv-no-such-group group\n"), std::string::npos);
}

TEST_F(Steps, OldAgentOfClient40IsRemovedByProductCodeKeepingSharedFiles) {
  const char* client = "SOFTWARE\\Velmora\\Orbclient\\CurrentVersion";
  const char* ofa = "SOFTWARE\\Velmora\\Orbaux\\CurrentVersion";
  const char* shared = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  ASSERT_TRUE(zelsetup::WriteRegText(true, client, "Version", "4.0.12"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, client, "InstallDir", "C:\\Orb"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, ofa, "Version", "10.0"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, ofa, "ServicePath", "C:\\Ofa\\ofasvc.exe"));
  SetDword(shared, "C:\\Ofa\\ofasvc.exe", 1);
  SetDword(shared, "C:\\Windows\\system32\\drivers\\OFANT.sys", 2);
  std::filesystem::create_directories(dir_ + "/drives/c/Ofa");
  std::ofstream(dir_ + "/drives/c/Ofa/ofasvc.exe") << "service";
  std::filesystem::create_directories(dir_ + "/drives/c/Windows/system32/drivers");
  std::ofstream(dir_ + "/drives/c/Windows/system32/drivers/OFANT.sys") << "driver";

  EXPECT_EQ(zelsetup::DeleteOfaForVersion35(ctx_), 1);
  std::string log = Log();
  EXPECT_NE(log.find("DeleteOfaForVersion35 -> Start ofa uninstall routine msiexec.exe /qn /x "
                     "{6D1F0A42-7C3B-4E95-A0D8-3B52E91C7F06} REMOVE=ALL PRODUCTS=5 PRODUCTSUBTYPE=3\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("DeleteOfaForVersion35 -> Uninstallation returned with 0\n"), std::string::npos);
  // The counted files stay and keep their counts; the agent's key is gone.
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/drives/c/Ofa/ofasvc.exe"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/drives/c/Windows/system32/drivers/OFANT.sys"));
  EXPECT_EQ(GetDword(shared, "C:\\Ofa\\ofasvc.exe"), 1u);
  EXPECT_EQ(GetDword(shared, "C:\\Windows\\system32\\drivers\\OFANT.sys"), 2u);
  EXPECT_FALSE(zelsetup::RegKeyExists(true, ofa));
}

TEST_F(Steps, OldAgentOfClient35NeedsItsPackageFile) {
  const char* client = "SOFTWARE\\Velmora\\Orbclient\\CurrentVersion";
  const char* ofa = "SOFTWARE\\Velmora\\Orbaux\\CurrentVersion";
  ASSERT_TRUE(zelsetup::WriteRegText(true, client, "Version", "3.5"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, client, "InstallDir", "C:\\Orb"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, ofa, "Version", "10.0"));
  EXPECT_EQ(zelsetup::DeleteOfaForVersion35(ctx_), 0);
  EXPECT_NE(Log().find("DeleteOfaForVersion35 -> Ofa package not found: C:\\Orb\\Ofa\\OrbauxNTAG.msi\n"),
            std::string::npos);
  EXPECT_TRUE(zelsetup::RegKeyExists(true, ofa));

  std::filesystem::create_directories(dir_ + "/drives/c/Orb/Ofa");
  std::ofstream(dir_ + "/drives/c/Orb/Ofa/OrbauxNTAG.msi") << "msi";
  EXPECT_EQ(zelsetup::DeleteOfaForVersion35(ctx_), 1);
  EXPECT_NE(Log().find("msiexec.exe /qn /x \"C:\\Orb\\Ofa\\OrbauxNTAG.msi\" REMOVE=ALL"),
            std::string::npos);
  EXPECT_FALSE(zelsetup::RegKeyExists(true, ofa));
}

TEST_F(Steps, VersionRepairOfAnOlderClient) {
  const char* old = "Software\\Tessmoor\\Quovix Client\\CurrentVersion";
  const char* uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quovix Client";
  EXPECT_TRUE(zelsetup::RepairClientVersion(ctx_));  // nothing installed
  ASSERT_TRUE(zelsetup::WriteRegText(false, old, "Path", "C:\\Quovix"));
  ASSERT_TRUE(zelsetup::WriteRegText(true, uninstall, "DisplayName", "Quovix Client 3"));
  EXPECT_TRUE(zelsetup::RepairClientVersion(ctx_));
  std::string version;
  EXPECT_TRUE(zelsetup::ReadRegText(false, old, "Version", &version));
  EXPECT_EQ(version, "3.3");
}

}  // namespace
