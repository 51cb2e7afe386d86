// Folder delivery, direct installation through the deployment tool (a
// scripted stand-in here, the real one over a private sshd below), ping and
// LaunchProgram.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>

#include <cstdlib>

#include "fanrow_config.h"
#include "platform/registry.h"
#include "servers.h"
#include "zel/delivery.h"

using namespace delivery_test;

namespace {

// A scratch registry, drive root and runtime folder for each test.
class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeScratch("delivery");
    setenv("NORV_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
    setenv("NORV_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    fs::create_directories(dir_ + "/drives/c");
    fs::create_directories(dir_ + "/run");
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    zel::SetDirectInstallRoundWait(10);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    zel::SetDirectInstallRoundWait(1000);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string RegistryValue(const char* name) {
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion",
                            0, plat::KEY_QUERY_VALUE, &key) != plat::ERROR_SUCCESS)
      return "";
    char data[512] = {};
    plat::DWORD type = 0, size = sizeof data - 1;
    plat::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<plat::BYTE*>(data), &size);
    plat::RegCloseKey(key);
    return data;
  }
  void SetRegistryValue(const char* name, const std::string& value) {
    plat::HKEY key = nullptr;
    plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion",
                          0, nullptr, 0, plat::KEY_SET_VALUE, nullptr, &key, nullptr);
    plat::RegSetValueExA(key, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(value.c_str()),
                         static_cast<plat::DWORD>(value.size() + 1));
    plat::RegCloseKey(key);
  }
  // A program on PATH ahead of the system's.
  void FakeOnPath(const std::string& name, const std::string& script) {
    fs::create_directories(dir_ + "/fakebin");
    WriteText(dir_ + "/fakebin/" + name, "#!/bin/sh\n" + script, 0755);
    setenv("PATH", (dir_ + "/fakebin:" + oldPath_).c_str(), 1);
  }
  std::string dir_;
  std::string oldPath_;
};

// ---- folder ------------------------------------------------------------------------

TEST_F(Scratch, FolderCopyReplacesAPackageWholeAndKeepsItRunnable) {
  std::string store = dir_ + "/store";
  fs::create_directories(store);
  WriteText(dir_ + "/client.exe", "new package bytes", 0755);
  WriteText(store + "/client_user1@MYDOM.exe", "old package", 0644);
  zel::DeliveryOutcome out =
      zel::DeliverToFolder(true, dir_ + "/client.exe", store, zel::UserFolderName("MYDOM\\user1"));
  EXPECT_EQ(out.status, zel::RESULT_STORED_OR_NO_ATTACHMENT);
  EXPECT_FALSE(out.jobFailed);
  EXPECT_EQ(ReadText(store + "/client_user1@MYDOM.exe"), "new package bytes");
  EXPECT_EQ(fs::status(store + "/client_user1@MYDOM.exe").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
  // A package that cannot be read leaves the earlier one as it was, and no part file.
  out = zel::DeliverToFolder(true, dir_ + "/gone.exe", store, "user1@MYDOM");
  EXPECT_EQ(out.status, zel::RESULT_FAILED);
  EXPECT_TRUE(out.jobFailed);
  EXPECT_EQ(out.text, "Creating " + store + "/client_user1@MYDOM.exe failed. Error code = 3");
  EXPECT_EQ(ReadText(store + "/client_user1@MYDOM.exe"), "new package bytes");
  EXPECT_EQ(std::distance(fs::directory_iterator(store), fs::directory_iterator()), 1);
}

TEST_F(Scratch, StorageFolderThatCannotBeWrittenFailsTheJob) {
  WriteText(dir_ + "/client.exe", "bytes", 0755);
  WriteText(dir_ + "/notafolder", "a file where the folder should be");
  zel::DeliveryOutcome out = zel::DeliverToFolder(true, dir_ + "/client.exe", dir_ + "/notafolder", "u");
  EXPECT_EQ(out.status, zel::RESULT_FAILED);
  EXPECT_TRUE(out.jobFailed);
  EXPECT_EQ(out.text, "Creating " + dir_ + "/notafolder/client_u.exe failed. Error code = 267");
  // The folder form was written by the builder: only reported.
  out = zel::DeliverToFolder(false, "", dir_ + "/store", "u");
  EXPECT_EQ(out.status, zel::RESULT_STORED_OR_NO_ATTACHMENT);
  EXPECT_TRUE(out.text.empty());
}

// ---- direct installation with a scripted deployment tool --------------------------------

class DirectInstallTest : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    tool_ = dir_ + "/fanrow";
    fs::create_directories(tool_);
    FakeOnPath("ping", "exit 0\n");
  }
  // The tool logs its arguments; deployment exits with `deployExit`; the check
  // writes `statusLines` into the status file.
  void Tool(int deployExit, const std::string& statusLines) {
    WriteText(tool_ + "/Fanrow.exe",
              "#!/bin/sh\necho \"$*\" >> " + dir_ + "/calls\n"
              "case \"$*\" in *-ma:1*) exit " + std::to_string(deployExit) + ";; esac\n"
              "printf '" + statusLines + "' > \"$NORV_DRIVE_ROOT/c/FanrowStatus.txt\"\nexit 0\n",
              0755);
  }
  int Calls() {
    std::string calls = ReadText(dir_ + "/calls");
    return static_cast<int>(std::count(calls.begin(), calls.end(), '\n'));
  }
  zel::DirectInstall Install() {
    zel::DirectInstall d;
    d.userName = "MYDOM\\user1";
    d.loginName = "user1";
    d.systemName = "pc01";
    d.fanrowInstallPath = tool_;
    return d;
  }
  std::string tool_;
};

TEST_F(DirectInstallTest, ExitCodesGiveTheirReasonsAndTheJobGoesOn) {
  struct Case {
    int exitStatus;  // what the tool's process returns (the low 8 bits)
    std::string reason;
  } cases[] = {
      {5, " - Access is denied"},
      {1326 & 0xFF, " - Logon failure"},
      {-103 & 0xFF, " - install at target system failed"},
      {-102 & 0xFF, " - installation timeout"},
      {-101 & 0xFF, " - direct install already in progress"},
      {-29 & 0xFF, " - no response from primer"},
      {-22 & 0xFF, " - deploying the primer failed"},
      {77, " - Errorcode = 77"},
  };
  for (const Case& c : cases) {
    Tool(c.exitStatus, "");
    zel::DeliveryOutcome out = zel::DeliverDirectInstall(Install());
    EXPECT_EQ(out.text, "Direct install failed for user user1 on machine pc01" + c.reason);
    EXPECT_EQ(out.status, zel::RESULT_FAILED);
    EXPECT_FALSE(out.jobFailed);
  }
  EXPECT_EQ(RegistryValue("FanrowClient"), "MYDOM\\user1");
  EXPECT_NE(ReadText(dir_ + "/calls").find("-a1:pc01 -ma:1 -mp:1 -pn:ORBClient -pf:C:\\FanrowProgress.txt -q"),
            std::string::npos);
  // -21 depends on the account the job runs under.
  EXPECT_EQ(zel::DirectInstallFailureReason(-21, true),
            " - the TRELD service is logged in to the Local System account rather than to a user "
            "account with the required rights");
  EXPECT_EQ(zel::DirectInstallFailureReason(-21, false),
            " - the TRELD service has no rights to access the target system");
}

TEST_F(DirectInstallTest, StatusFileThatNeverNamesTheProductStillEndsInSuccess) {
  Tool(0, "pc01: checking\\r\\nno packages recorded\\r\\n");
  zel::DeliveryOutcome out = zel::DeliverDirectInstall(Install());
  EXPECT_EQ(out.text, "Direct install successful for local user user1 on machine pc01");
  EXPECT_EQ(out.status, zel::RESULT_INSTALLED_DIRECTLY);
  EXPECT_EQ(Calls(), 1 + 5);  // the deployment and five checks
  std::string calls = ReadText(dir_ + "/calls");
  EXPECT_NE(calls.find("-a1:pc01 -pn:ORBClient -pf:C:\\FanrowStatus.txt -q"), std::string::npos);
}

TEST_F(DirectInstallTest, StatusLineNamingTheProductEndsTheChecks) {
  // An empty line ends the file's reading: the product line after it is not seen.
  Tool(0, "first\\r\\nORBClient installed\\r\\n\\r\\nORBClient again\\r\\n");
  EXPECT_EQ(zel::DeliverDirectInstall(Install()).status, zel::RESULT_INSTALLED_DIRECTLY);
  EXPECT_EQ(Calls(), 2);
}

TEST_F(DirectInstallTest, UnreachableMachineIsNotDeployedTo) {
  Tool(0, "");
  FakeOnPath("ping", "exit 1\n");
  zel::DeliveryOutcome out = zel::DeliverDirectInstall(Install());
  EXPECT_EQ(out.text, "Cannot reach machine pc01 to Direct install ");
  EXPECT_EQ(out.status, zel::RESULT_FAILED);
  EXPECT_FALSE(out.jobFailed);
  EXPECT_EQ(Calls(), 0);
  // A ping that does not answer in time counts as unreachable too.
  FakeOnPath("ping", "exec sleep 30\n");
  EXPECT_EQ(pingClientMachine("pc01"), 0);
  EXPECT_EQ(pingClientMachine(nullptr), 1);
  EXPECT_EQ(pingClientMachine("-f"), 0);  // never an option for ping
}

TEST_F(Scratch, PingAsksTheSystemsPing) {
  std::string out;
  if (RunProgram({"ping", "-c", "1", "-W", "2", "127.0.0.1"}, &out) != 0)
    GTEST_SKIP() << "ping does not work here: " << out;
  EXPECT_EQ(pingClientMachine("127.0.0.1"), 1);
  FakeOnPath("ping", "echo \"$@\" > " + dir_ + "/ping-args\nexit 0\n");
  EXPECT_EQ(pingClientMachine("pc01"), 1);
  EXPECT_EQ(ReadText(dir_ + "/ping-args"), "-c 1 -W 2 pc01\n");
}

TEST_F(Scratch, LaunchProgramReturnsTheExitCode) {
  WriteText(dir_ + "/prog", "#!/bin/sh\necho \"$#:$1:$2\" > " + dir_ + "/args\nexit 7\n", 0755);
  EXPECT_EQ(LaunchProgram((dir_ + "/prog").c_str(), "\"a b\" c"), 7);
  EXPECT_EQ(ReadText(dir_ + "/args"), "2:a b:c\n");
  EXPECT_EQ(LaunchProgram((dir_ + "/missing").c_str(), "x"), -1);
  EXPECT_EQ(LaunchProgram(nullptr, nullptr), -1);
}

// ---- the deployment tool over a private sshd ---------------------------------------------

class FanrowTest : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    sshd_ = std::make_unique<SshServer>();
    if (!sshd_->Ready()) return;
    passwd* pw = getpwuid(getuid());
    setenv("FANROW_CONFIG", (dir_ + "/none.conf").c_str(), 1);
    setenv("FANROW_SSH_HOST", "127.0.0.1", 1);
    setenv("FANROW_SSH_PORT", std::to_string(sshd_->Port()).c_str(), 1);
    setenv("FANROW_SSH_USER", pw ? pw->pw_name : "root", 1);
    setenv("FANROW_SSH_KEY", sshd_->UserKey().c_str(), 1);
    setenv("FANROW_SSH_KNOWN_HOSTS", sshd_->KnownHosts().c_str(), 1);
    setenv("FANROW_REMOTE_DIR", (dir_ + "/target").c_str(), 1);
    // The server side: DataDir\Fanrow\<user folder> as the builder leaves it.
    SetRegistryValue("DataDir", dir_ + "/data");
    SetRegistryValue("FanrowClient", "MYDOM\\user1");
    std::string s = dir_ + "/data/Fanrow/user1@MYDOM";
    fs::create_directories(s + "/Halvorn/Client");
    fs::create_directories(s + "/user1@MYDOM/Config");
    WriteText(s + "/Halvorn/Client/client.bin", "client files");
    WriteText(s + "/user1@MYDOM/zel.ini", "[ZEL]\r\nINSTALLDIR=C:\\Halvorn\r\n");
    Setup(0);
  }
  void TearDown() override {
    for (const char* v : {"FANROW_CONFIG", "FANROW_SSH_HOST", "FANROW_SSH_PORT", "FANROW_SSH_USER",
                          "FANROW_SSH_KEY", "FANROW_SSH_KNOWN_HOSTS", "FANROW_REMOTE_DIR"})
      unsetenv(v);
    sshd_.reset();
    Scratch::TearDown();
  }
  // The package's setup program: records where and how it ran.
  void Setup(int exitCode) {
    WriteText(dir_ + "/data/Fanrow/user1@MYDOM/user1@MYDOM/OrbCSetup.exe",
              "#!/bin/sh\necho \"$(pwd) $* $TMPDIR\" > " + dir_ + "/setup-ran\nexit " +
                  std::to_string(exitCode) + "\n",
              0644);  // the tool makes it executable on the target
  }
  int Fanrow(const std::string& args) {
    return RunProgram({"/bin/sh", "-c", std::string(FANROW_FILE) + " " + args});
  }
  std::unique_ptr<SshServer> sshd_;
};

#define REQUIRE_SSHD()                                   \
  if (!sshd_ || !sshd_->Ready()) GTEST_SKIP() << "no private sshd: " << sshd_->Why()

TEST_F(FanrowTest, DeploysOverSshAndTheCheckNamesTheProduct) {
  REQUIRE_SSHD();
  std::string status = dir_ + "/drives/c/FanrowStatus.txt";
  // Before: the status file does not name the product.
  EXPECT_EQ(Fanrow("'-a1:pc01' '-pn:ORBClient' '-pf:C:\\FanrowStatus.txt' -q"), 0);
  EXPECT_EQ(ReadText(status).find("ORBClient"), std::string::npos) << ReadText(status);

  EXPECT_EQ(Fanrow("-a1:pc01 -ma:1 -mp:1 -pn:ORBClient '-pf:C:\\FanrowProgress.txt' -q"), 0)
      << ReadText(dir_ + "/drives/c/FanrowProgress.txt");
  std::string target = dir_ + "/target/packages/user1@MYDOM";
  EXPECT_EQ(ReadText(target + "/Halvorn/Client/client.bin"), "client files");
  EXPECT_EQ(ReadText(dir_ + "/setup-ran"),
            target + "/user1@MYDOM -silent " + dir_ + "/target/tmp\n");
  EXPECT_NE(ReadText(dir_ + "/drives/c/FanrowProgress.txt").find("Setup finished"), std::string::npos);

  EXPECT_EQ(Fanrow("-a1:pc01 -pn:ORBClient '-pf:C:\\FanrowStatus.txt' -q"), 0);
  EXPECT_EQ(ReadText(status).rfind("ORBClient installed for MYDOM\\user1", 0), 0u) << ReadText(status);
}

TEST_F(FanrowTest, RefusedLoginUnreachableTargetAndFailingSetupGiveTheirCodes) {
  REQUIRE_SSHD();
  const std::string deploy = "-a1:pc01 -ma:1 -mp:1 -pn:ORBClient '-pf:C:\\FanrowProgress.txt' -q";
  setenv("FANROW_SSH_KEY", sshd_->OtherKey().c_str(), 1);
  EXPECT_EQ(Fanrow(deploy), 1326 & 0xFF);
  setenv("FANROW_SSH_KEY", sshd_->UserKey().c_str(), 1);
  setenv("FANROW_SSH_PORT", std::to_string(FreePort()).c_str(), 1);
  EXPECT_EQ(Fanrow(deploy), -29 & 0xFF);
  setenv("FANROW_SSH_PORT", std::to_string(sshd_->Port()).c_str(), 1);
  Setup(3);
  EXPECT_EQ(Fanrow(deploy), -103 & 0xFF);
  // A failed setup leaves no installed mark.
  EXPECT_EQ(Fanrow("-a1:pc01 -pn:ORBClient '-pf:C:\\FanrowStatus.txt' -q"), 0);
  EXPECT_EQ(ReadText(dir_ + "/drives/c/FanrowStatus.txt").find("ORBClient"), std::string::npos);
  // No package for the user named in the registry.
  SetRegistryValue("FanrowClient", "nobody");
  EXPECT_EQ(Fanrow(deploy), -22 & 0xFF);
  EXPECT_EQ(Fanrow("-a1:pc01 -bogus"), 87);
}

TEST_F(FanrowTest, DeliveryInstallsThroughTheRealTool) {
  REQUIRE_SSHD();
  std::string out;
  if (RunProgram({"ping", "-c", "1", "-W", "2", "127.0.0.1"}, &out) != 0)
    GTEST_SKIP() << "ping does not work here: " << out;
  zel::DirectInstall d;
  d.userName = "MYDOM\\user1";
  d.loginName = "user1";
  d.systemName = "127.0.0.1";
  d.fanrowInstallPath = fs::path(FANROW_FILE).parent_path().string();
  zel::DeliveryOutcome result = zel::DeliverDirectInstall(d);
  EXPECT_EQ(result.text, "Direct install successful for local user user1 on machine 127.0.0.1");
  EXPECT_EQ(result.status, zel::RESULT_INSTALLED_DIRECTLY);
  EXPECT_TRUE(fs::exists(dir_ + "/setup-ran"));
  EXPECT_NE(ReadText(dir_ + "/drives/c/FanrowStatus.txt").find("ORBClient"), std::string::npos);
}

TEST_F(Scratch, SecondDeploymentToAMachineWhileOneRunsIsRefused) {
  // The tool holds this lock while it deploys to pc01.
  int fd = open((dir_ + "/run/fanrow-pc01.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(RunProgram({FANROW_FILE, "-a1:pc01", "-ma:1", "-mp:1", "-pn:ORBClient", "-q"}), -101 & 0xFF);
  close(fd);
  // Free again: this time it gets as far as looking for the package.
  EXPECT_EQ(RunProgram({FANROW_FILE, "-a1:pc01", "-ma:1", "-mp:1", "-pn:ORBClient", "-q"}), -22 & 0xFF);
}

TEST(FanrowConfig, SectionsOverrideDefaultsAndBadLinesAreReported) {
  std::string errors;
  fanrow::Config c = fanrow::ParseConfig(
      "# targets\nport = 2222\nuser = admin\n[machine PC01]\nhost = 127.0.0.1\nport=2200\n"
      "[machine]\nhost = x\n[nonsense\nport = 99999\nremote_dir = relative\nwhat = 1\nno equals\n"
      "identity = /keys/id\n",
      &errors);
  unsetenv("FANROW_SSH_HOST");
  fanrow::Target pc = fanrow::TargetFor(c, "pc01");
  EXPECT_EQ(pc.host, "127.0.0.1");
  EXPECT_EQ(pc.port, 2200);
  EXPECT_EQ(pc.user, "admin");
  EXPECT_EQ(pc.identity, "");  // after a bad section header nothing is applied
  fanrow::Target other = fanrow::TargetFor(c, "pc02");
  EXPECT_EQ(other.host, "pc02");
  EXPECT_EQ(other.port, 2222);
  EXPECT_EQ(errors,
            "line 7: bad section \"[machine]\"\nline 9: bad section \"[nonsense\"\n"
            "line 13: no \"=\" in \"no equals\"\n");
}

}  // namespace
