#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"

using namespace plat;
namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

namespace {

class Process : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-process-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Runs a shell snippet and returns its exit code.
  DWORD Run(const std::string& script, const ProcessOptions& options = {}) {
    ProcessInfo info;
    EXPECT_EQ(StartProcess(Argv{"sh", "-c", script}, options, &info), ERROR_SUCCESS);
    EXPECT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
    DWORD code = 12345;
    EXPECT_TRUE(GetProcessExitCode(info, &code));
    return code;
  }
  std::string dir_;
};

}  // namespace

TEST_F(Process, ReportsExitCodesAndSignals) {
  EXPECT_EQ(Run("exit 0"), 0u);
  EXPECT_EQ(Run("exit 42"), 42u);
  EXPECT_EQ(Run("kill -TERM $$"), 128u + SIGTERM);

  ProcessInfo info;
  ASSERT_EQ(StartProcess(std::string_view("/bin/sh -c \"exit 7\""), {}, &info), ERROR_SUCCESS);
  EXPECT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
  // The status is kept: every later question gets the same answer.
  DWORD code = 0;
  EXPECT_TRUE(GetProcessExitCode(info, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(WaitForProcess(info, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(GetProcessExitCode(info, &code));
  EXPECT_EQ(code, 7u);
}

TEST_F(Process, WaitTimesOutWhileTheChildRuns) {
  ProcessInfo info;
  ASSERT_EQ(StartProcess(Argv{"sleep", "30"}, {}, &info), ERROR_SUCCESS);
  EXPECT_EQ(WaitForProcess(info, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForProcess(info, 50), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetProcessExitCode(info, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  kill(info.pid, SIGKILL);
  EXPECT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetProcessExitCode(info, &code));
  EXPECT_EQ(code, 128u + SIGKILL);
}

TEST_F(Process, MissingProgramsAndFoldersFailAsOnWindows) {
  ProcessInfo info;
  EXPECT_EQ(StartProcess(Argv{"no-such-program-norv"}, {}, &info), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(info.pid, -1);
  EXPECT_EQ(StartProcess(Argv{dir_ + "/missing"}, {}, &info), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StartProcess(std::string_view("\"/no/such dir/prog\" arg"), {}, &info),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StartProcess(Argv{dir_}, {}, &info), ERROR_ACCESS_DENIED);  // a folder
  EXPECT_EQ(StartProcess(std::vector<std::string>{}, {}, &info), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(StartProcess(std::string_view("   "), {}, &info), ERROR_INVALID_PARAMETER);

  ProcessOptions badFolder;
  badFolder.workingDirectory = dir_ + "/nowhere";
  EXPECT_EQ(StartProcess(Argv{"/bin/true"}, badFolder, &info), ERROR_DIRECTORY);

  // An executable file the kernel cannot run.
  std::string junk = dir_ + "/junk";
  std::ofstream(junk) << "\x7f" "ELF garbage";
  fs::permissions(junk, fs::perms::owner_all);
  EXPECT_EQ(StartProcess(Argv{junk}, {}, &info), ERROR_BAD_EXE_FORMAT);

  ProcessOptions noSearch;
  noSearch.searchPath = false;
  EXPECT_EQ(StartProcess(Argv{"sh", "-c", "true"}, noSearch, &info), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WaitForProcess(ProcessInfo{}, 0), WAIT_FAILED);
}

TEST_F(Process, RunsInTheGivenFolderWithTheCallersEnvironment) {
  ProcessOptions options;
  options.workingDirectory = dir_;
  setenv("NORV_PROCESS_TEST", "inherited", 1);
  EXPECT_EQ(Run("pwd > here.txt; printf %s \"$NORV_PROCESS_TEST\" > env.txt", options), 0u);
  EXPECT_EQ(ReadFile(dir_ + "/here.txt"), fs::canonical(dir_).string() + "\n");
  EXPECT_EQ(ReadFile(dir_ + "/env.txt"), "inherited");
}

TEST_F(Process, ArgumentsArriveUnchanged) {
  std::string out = dir_ + "/args.txt";
  std::vector<std::string> argv{"/bin/sh", "-c", "for a; do printf '[%s]' \"$a\"; done > \"$0\"",
                                out, "two words", "", "q\"uote", "back\\slash"};
  // Through the command-line form as well: join, then start.
  ProcessInfo info;
  ASSERT_EQ(StartProcess(JoinCommandLine(argv), {}, &info), ERROR_SUCCESS);
  ASSERT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ReadFile(out), "[two words][][q\"uote][back\\slash]");
}

TEST_F(Process, ChildGetsNoOtherDescriptorsAndDefaultSignals) {
  // An inheritable descriptor of the caller must not reach the child.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::string fd = std::to_string(pipeFds[1]);
  EXPECT_EQ(Run("[ -e /proc/self/fd/" + fd + " ] && exit 1; exit 0"), 0u);
  close(pipeFds[0]);
  close(pipeFds[1]);

  // An ignored SIGTERM in the caller is not inherited.
  signal(SIGTERM, SIG_IGN);
  EXPECT_EQ(Run("kill -TERM $$; exit 3"), 128u + SIGTERM);
  signal(SIGTERM, SIG_DFL);
}

TEST_F(Process, DetachedProcessRunsInItsOwnSessionAndIsReaped) {
  ProcessOptions options;
  options.detached = true;
  options.workingDirectory = dir_;
  ProcessInfo info;
  ASSERT_EQ(StartProcess(Argv{"sh", "-c", "ps -o sid= -p $$ > sid.txt 2>/dev/null || "
                                      "cut -d' ' -f6 /proc/$$/stat > sid.txt; exit 5"},
                         options, &info),
            ERROR_SUCCESS);
  ASSERT_GT(info.pid, 0);
  // It can still be waited for; the background reaper collected its status.
  EXPECT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetProcessExitCode(info, &code));
  EXPECT_EQ(code, 5u);
  std::string sid = ReadFile(dir_ + "/sid.txt");
  EXPECT_EQ(std::atoi(sid.c_str()), info.pid);  // session leader
  // No zombie is left behind.
  EXPECT_EQ(waitpid(info.pid, nullptr, WNOHANG), -1);
}

TEST_F(Process, ReleasedProcessLeavesNoZombie) {
  ProcessInfo info;
  ASSERT_EQ(StartProcess(Argv{"sh", "-c", "exit 0"}, {}, &info), ERROR_SUCCESS);
  ReleaseProcess(info);
  // The reaper thread collects it; wait for that through the kept status.
  EXPECT_EQ(WaitForProcess(info, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(waitpid(info.pid, nullptr, WNOHANG), -1);
}

TEST_F(Process, WaitsForProcessesThatAreNotChildren) {
  // Our parent (the test runner or a shell) is not our child: its end can be
  // waited for, but it has no exit code for us.
  ProcessInfo parent{getppid()};
  EXPECT_EQ(WaitForProcess(parent, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_FALSE(GetProcessExitCode(parent, &code));
}
