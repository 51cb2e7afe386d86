// Pending deletions: recorded as Windows records them, in the machine record
// for root and in the user's own hive for everyone else, carried out and
// cleared by norv-pending-deletes.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "package_test_util.h"
#include "pending_ops.h"
#include "platform/registry.h"

namespace {

using zel::PendingRecord;

class Pending : public ScratchTest {
 protected:
  pkgtest::RunResult Tool(const std::vector<std::string>& options) {
    std::vector<std::string> argv = {PENDING_TOOL_FILE};
    argv.insert(argv.end(), options.begin(), options.end());
    return pkgtest::Run(argv, {"NORV_REGISTRY_DIR=" + Path("registry")}, Path("tool.txt"));
  }
};

std::u16string RawValue(plat::HKEY root) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(root, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                          plat::KEY_READ, &key) != plat::ERROR_SUCCESS)
    return u"<no key>";
  plat::RegValue value;
  plat::LONG rc = plat::RegReadValue(key, "PendingFileRenameOperations", &value);
  plat::RegCloseKey(key);
  if (rc != plat::ERROR_SUCCESS) return u"<no value>";
  EXPECT_EQ(value.type, plat::REG_MULTI_SZ);
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2)
    text += static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
  return text;
}

TEST_F(Pending, RecordedAsPairsWithEmptyTargetsInEachRecord) {
  EXPECT_EQ(zel::OwnPendingRecord(),
            geteuid() == 0 ? PendingRecord::kMachine : PendingRecord::kUser);
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart("/tmp/a/client.exe", PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart("/tmp/b", PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart("/home/u/client.exe", PendingRecord::kUser));
  EXPECT_EQ(RawValue(plat::HKEY_LOCAL_MACHINE),
            std::u16string(u"\\??\\/tmp/a/client.exe\0\0\\??\\/tmp/b\0\0\0", 36));
  EXPECT_EQ(RawValue(plat::HKEY_CURRENT_USER),
            std::u16string(u"\\??\\/home/u/client.exe\0\0\0", 25));
  std::vector<zel::PendingOperation> ops;
  ASSERT_TRUE(zel::ReadPendingOperations(PendingRecord::kMachine, &ops));
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].source, "/tmp/a/client.exe");
  EXPECT_EQ(ops[0].target, "");
  ASSERT_TRUE(zel::ReadPendingOperations(PendingRecord::kUser, &ops));
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, "/home/u/client.exe");
  EXPECT_EQ(zel::ParseMultiString(zel::BuildMultiString({"x", "", "y", "!z"})),
            (std::vector<std::string>{"x", "", "y", "!z"}));
}

// --machine and --user take one record each; without either, root takes
// both and any other user the own.
TEST_F(Pending, ToolCarriesOutAndClearsEachRecord) {
  for (const char* name : {"m1.exe", "m2.exe", "u1.exe", "m3.exe", "u2.exe"})
    WriteFile(Path(name), name);
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("m1.exe"), PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("gone-already.exe"), PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("m2.exe"), PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("u1.exe"), PendingRecord::kUser));

  auto listed = Tool({"--machine", "--list"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("delete " + Path("m2.exe")), std::string::npos) << listed.output;
  EXPECT_EQ(listed.output.find("u1.exe"), std::string::npos) << listed.output;
  EXPECT_TRUE(std::filesystem::exists(Path("m1.exe")));

  auto user = Tool({"--user"});
  EXPECT_EQ(user.status, 0) << user.output;
  EXPECT_FALSE(std::filesystem::exists(Path("u1.exe")));
  EXPECT_TRUE(std::filesystem::exists(Path("m1.exe")));
  EXPECT_EQ(RawValue(plat::HKEY_CURRENT_USER), u"<no value>");

  auto machine = Tool({"--machine"});
  EXPECT_EQ(machine.status, 0) << machine.output;
  EXPECT_FALSE(std::filesystem::exists(Path("m1.exe")));
  EXPECT_FALSE(std::filesystem::exists(Path("m2.exe")));
  EXPECT_EQ(RawValue(plat::HKEY_LOCAL_MACHINE), u"<no value>");

  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("m3.exe"), PendingRecord::kMachine));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("u2.exe"), PendingRecord::kUser));
  auto both = Tool({});
  EXPECT_EQ(both.status, 0) << both.output;
  EXPECT_FALSE(std::filesystem::exists(Path("u2.exe")));
  EXPECT_EQ(std::filesystem::exists(Path("m3.exe")), geteuid() != 0);

  EXPECT_EQ(Tool({"--user", "--machine"}).status, 2);
}

// Runs a program as the user "nobody" (65534) and waits for it; -1 when it
// cannot be started.
int RunAsNobody(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> args = argv, environment = env;
  std::vector<char*> argp, envp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0)
      execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A package run by an ordinary user, who cannot write the machine hive,
// records itself in that user's hive, and the user's log-in run of the
// processor deletes it.
TEST_F(Pending, AnOrdinaryUsersPackageRecordsAndGoesInTheOwnHive) {
  if (geteuid() != 0) GTEST_SKIP() << "runs a package as another user, which needs root";
  std::filesystem::create_directories(Path("home/tmp"));
  std::filesystem::copy_file(STUB_FILE, Path("home/client.exe"));
  for (const std::string& path : {dir_, Path("registry"), Path("home"), Path("home/tmp")})
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
  ASSERT_EQ(chmod(Path("home/client.exe").c_str(), 0755), 0);
  std::vector<std::string> env = {"LOGNAME=nobody", "USER=nobody", "HOME=" + Path("home"),
                                  "NORV_REGISTRY_DIR=" + Path("registry"),
                                  "TMPDIR=" + Path("home/tmp")};

  ASSERT_EQ(RunAsNobody({Path("home/client.exe")}, env), 0);
  plat::HKEY key = nullptr;
  ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_USERS,
                                "nobody\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                plat::KEY_READ, &key),
            plat::ERROR_SUCCESS);
  plat::RegValue value;
  EXPECT_EQ(plat::RegReadValue(key, "PendingFileRenameOperations", &value), plat::ERROR_SUCCESS);
  plat::RegCloseKey(key);
  std::string expected = "\\??\\" + Path("home/client.exe");
  std::string recorded;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2)
    recorded += static_cast<char>(value.data[i]);
  EXPECT_NE(recorded.find(expected), std::string::npos) << recorded;
  EXPECT_EQ(RawValue(plat::HKEY_LOCAL_MACHINE), u"<no key>");

  EXPECT_EQ(RunAsNobody({PENDING_TOOL_FILE, "--user"}, env), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("home/client.exe")));
}

}  // namespace
