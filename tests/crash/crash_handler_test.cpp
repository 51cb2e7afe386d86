// The crash handler seen from outside: a child program crashes on purpose
// and the test reads its report and how it ended.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef NORVEXPLORE
#include "platform/registry.h"
#endif

extern char** environ;

namespace {

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
  bool exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  bool killedBy(int signal) const { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/norvcrashXXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs `args` (the program first); `env` adds to (or, with an empty value,
// removes from) the environment. Variables of the handler and the display
// are removed unless given.
Outcome RunProgram(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
  TempDir dir;
  std::string outPath = dir / "out", errPath = dir / "err";
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (name.rfind("NORV_CRASH_", 0) == 0 || name == "DISPLAY" || name == "WAYLAND_DISPLAY" ||
        env.count(name))
      continue;
    environment.push_back(text);
  }
  for (const auto& [name, value] : env)
    if (!value.empty()) environment.push_back(name + "=" + value);
  // Under the address sanitizer the handlers before ours are its own: the
  // child runs without them, as a program does in a normal build.
  if (!env.count("ASAN_OPTIONS")) {
    std::string options = "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0";
    if (const char* given = std::getenv("ASAN_OPTIONS")) options = std::string(given) + ":" + options;
    std::erase_if(environment, [](const std::string& text) { return text.rfind("ASAN_OPTIONS=", 0) == 0; });
    environment.push_back("ASAN_OPTIONS=" + options);
  }
  std::vector<char*> envp;
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string& program = args.front();

  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  Outcome outcome;
  // Never a hang: a child still running after two minutes fails the test.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    pid_t done = waitpid(child, &outcome.status, WNOHANG);
    if (done == child) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &outcome.status, 0);
      ADD_FAILURE() << program << " hung";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  outcome.out = ReadFile(outPath);
  outcome.err = ReadFile(errPath);
  return outcome;
}

// Runs the crash program in `mode` with the handler's output flags and
// default decision.
Outcome RunChild(const std::string& mode, unsigned flags, int decision,
                 std::map<std::string, std::string> env = {}) {
  return RunProgram({CRASH_CHILD, mode, std::to_string(flags), std::to_string(decision)},
                    std::move(env));
}

// "crash_child.cpp, line 0024": the lines marked "CRASH:<mode>" (a fault
// may happen on any of them).
std::vector<std::string> SourceLines(const std::string& mode) {
  std::string source = CRASH_CHILD_SOURCE;
  if (mode == "plugin") source = CRASH_PLUGIN_SOURCE;
#ifdef NORVEXPLORE
  if (mode == "explorer") source = CRASH_EXPLORER_PLUGIN_SOURCE;
#endif
  std::ifstream in(source);
  const std::string file = source.substr(source.rfind('/') + 1);
  std::vector<std::string> found;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number)
    if (line.find("// CRASH:" + mode) != std::string::npos) {
      char text[256];
      std::snprintf(text, sizeof text, "%s, line %04d", file.c_str(), number);
      found.push_back(text);
    }
  return found;
}

// Whether `text` names one of the marked lines of `mode`.
testing::AssertionResult NamesLine(const std::string& text, const std::string& mode) {
  for (const std::string& line : SourceLines(mode))
    if (text.find(line) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no line marked " << mode << " in: " << text;
}

// Whether `text` names `function` as a symbol, with a displacement
// ("f()+0012 byte(s)") or at its first byte ("f ").
testing::AssertionResult NamesFunction(const std::string& text, const std::string& function) {
  if (text.find(function + "()+") != std::string::npos || text.find(function + " ,") != std::string::npos)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no " << function << " in: " << text;
}

std::string Section(const std::string& report, const std::string& heading) {
  size_t start = report.find(heading + ":\n");
  if (start == std::string::npos) return {};
  start += heading.size() + 2;
  size_t end = report.find("\n\n", start);
  return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

constexpr unsigned kStdout = 1, kStderr = 2, kDialog = 4, kEventLog = 8;
constexpr int kContinue = 0, kTerminate = 1, kRetry = 2;

// The report names the exception and the crashing function with its source
// line, in the reason line and at the top of the call stack.
void ExpectSymbolicReport(const std::string& report, const std::string& exception,
                          const std::string& function, const std::string& mode,
                          bool calledFromMain = true) {
  std::string reason = Section(report, "Reason");
  EXPECT_EQ(reason.rfind("crash_child caused an " + exception + " in module crash_child at 0033:", 0),
            0u)
      << report;
  EXPECT_TRUE(NamesFunction(reason, function));
  EXPECT_TRUE(NamesLine(reason, mode));
  std::string stack = Section(report, "Call Stack");
  std::string first = stack.substr(0, stack.find("\r\n"));
  EXPECT_NE(first.find(" crash_child, "), std::string::npos) << first;
  EXPECT_TRUE(NamesFunction(first, function));
  EXPECT_TRUE(NamesLine(first, mode));
  if (calledFromMain) {
    EXPECT_NE(stack.find(", main()+"), std::string::npos) << stack;
  }
  std::string registers = Section(report, "Registers");
#if defined(__x86_64__)
  for (const char* name : {"RAX=", "RSP=", "RIP=", "FLG=", "CS =0033"})
    EXPECT_NE(registers.find(name), std::string::npos) << name << "\n" << registers;
#endif
}

TEST(CrashReport, NullWriteIsAnAccessViolation) {
  Outcome run = RunChild("nullwrite", kStdout, kTerminate);
  EXPECT_NE(run.out.find("installed 1\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("An Exception Occurred:\n\nTime:\n"), run.out.find("installed 1\n") + 12);
  ExpectSymbolicReport(run.out, "EXCEPTION_ACCESS_VIOLATION", "CrashNullWrite", "nullwrite");
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
  EXPECT_EQ(run.err, "");
}

TEST(CrashReport, IntegerDivisionByZero) {
  Outcome run = RunChild("divzero", kStderr, kTerminate);
  ExpectSymbolicReport(run.err, "EXCEPTION_INT_DIVIDE_BY_ZERO", "CrashDivide", "divzero");
  EXPECT_TRUE(run.exited(128 + SIGFPE)) << run.status;
}

TEST(CrashReport, StackOverflowIsAnnouncedThenReported) {
  Outcome run = RunChild("overflow", kStderr, kTerminate);
  const std::string announce =
      "[debug] !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n"
      "[debug] EXCEPTION_STACK_OVERFLOW occurred\n"
      "[debug] !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n";
  EXPECT_EQ(run.err.rfind(announce + "An Exception Occurred:\n", 0), 0u) << run.err.substr(0, 400);
  ExpectSymbolicReport(run.err, "EXCEPTION_STACK_OVERFLOW", "CrashRecurse", "overflow", false);
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
}

TEST(CrashReport, StackOverflowOnAThreadWithItsOwnSignalStack) {
  Outcome run = RunChild("threadoverflow", kStdout, kTerminate);
  ExpectSymbolicReport(run.out, "EXCEPTION_STACK_OVERFLOW", "CrashRecurse", "overflow", false);
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
}

TEST(CrashReport, ADamagedStackStillGivesAReport) {
#if defined(__x86_64__)
  // Stack and frame pointer near address 0: the fault is no stack overflow,
  // and the walk reads nothing it must not.
  Outcome run = RunChild("damaged", kStdout, kTerminate);
  ExpectSymbolicReport(run.out, "EXCEPTION_ACCESS_VIOLATION", "main", "damaged", false);
  EXPECT_NE(Section(run.out, "Registers").find("RSP=0000000000000010"), std::string::npos);
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
  Outcome bare = RunChild("damaged", kStdout, kTerminate, {{"NORV_CRASH_NO_LIBUNWIND", "1"}});
  EXPECT_TRUE(bare.exited(128 + SIGSEGV)) << bare.status;
  EXPECT_NE(bare.out.find("EXCEPTION_ACCESS_VIOLATION"), std::string::npos);
#endif
}

TEST(CrashReport, AbortUsesTheSystemTextAndContinuesToTheDefaultAction) {
  Outcome run = RunChild("abort", kStdout, kContinue);
  std::string reason = Section(run.out, "Reason");
  EXPECT_EQ(reason.rfind("crash_child caused an Aborted (SIGABRT) in module libc.so.6 at ", 0), 0u)
      << reason;
  std::string stack = Section(run.out, "Call Stack");
  EXPECT_NE(stack.find("CrashAbort()+"), std::string::npos) << stack;
  EXPECT_TRUE(NamesLine(stack, "abort"));
  // Continue: the original signal ends the process, as without a handler.
  EXPECT_TRUE(run.killedBy(SIGABRT)) << run.status;
}

TEST(CrashReport, CrashOnASecondThread) {
  Outcome run = RunChild("thread", kStdout, kTerminate);
  ExpectSymbolicReport(run.out, "EXCEPTION_ACCESS_VIOLATION", "CrashNullWrite", "nullwrite",
                       false);
  EXPECT_NE(Section(run.out, "Call Stack").find("CrashOnThread()+"), std::string::npos) << run.out;
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
}

TEST(CrashReport, APluginLoadedAfterInstallingIsNamedWithItsFunction) {
  Outcome run = RunChild("plugin", kStdout, kTerminate);
  std::string reason = Section(run.out, "Reason");
  EXPECT_EQ(reason.rfind("crash_child caused an EXCEPTION_ACCESS_VIOLATION in module "
                         "libcrash_plugin.so at ",
                         0),
            0u)
      << reason;
  EXPECT_NE(reason.find("crashplugin::CrashInPlugin()+"), std::string::npos) << reason;
  EXPECT_TRUE(NamesLine(reason, "plugin"));
  std::string stack = Section(run.out, "Call Stack");
  EXPECT_NE(stack.find(" libcrash_plugin.so, PluginEntry()+"), std::string::npos) << stack;
  EXPECT_NE(stack.find(" crash_child, main()+"), std::string::npos) << stack;
}

TEST(CrashReport, OtherFaults) {
  Outcome illegal = RunChild("illegal", kStdout, kTerminate);
  EXPECT_NE(Section(illegal.out, "Reason").find(" caused an EXCEPTION_ILLEGAL_INSTRUCTION in module crash_child "),
            std::string::npos)
      << illegal.out;
  EXPECT_TRUE(illegal.exited(128 + SIGILL)) << illegal.status;
#if defined(__x86_64__)
  // A breakpoint is passed on by sending it again: the process ends by it.
  Outcome breakpoint = RunChild("breakpoint", kStdout, kContinue);
  EXPECT_NE(Section(breakpoint.out, "Reason").find(" caused an EXCEPTION_BREAKPOINT in module crash_child "),
            std::string::npos)
      << breakpoint.out;
  EXPECT_TRUE(breakpoint.killedBy(SIGTRAP)) << breakpoint.status;

  // A fault at a function's first byte: the symbol without "()+".
  Outcome entry = RunChild("entry", kStdout, kTerminate);
  std::string reason = Section(entry.out, "Reason");
  EXPECT_NE(reason.find(", CrashAtEntry "), std::string::npos) << reason;
  EXPECT_EQ(reason.find("CrashAtEntry()"), std::string::npos) << reason;
#endif
}

TEST(CrashReport, AClosedStandardOutputDoesNotChangeTheEnd) {
  // Writing the report into a pipe nobody reads must not end the process
  // with SIGPIPE instead of the decision.
  Outcome run = RunChild("closedout", kStdout | kStderr, kTerminate);
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
  EXPECT_NE(run.err.find("EXCEPTION_ACCESS_VIOLATION"), std::string::npos);
}

TEST(CrashReport, TwoThreadsCrashingAtOnceGiveOneReportAndAnEnd) {
  for (int round = 0; round < 3; ++round) {
    Outcome run = RunChild("together", kStdout, kTerminate);
    EXPECT_EQ(Count(run.out, "An Exception Occurred:"), 1) << run.out;
    EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
  }
}

TEST(CrashReport, WithoutTheLibrariesAddressesAndModulesRemain) {
  Outcome run = RunChild("nullwrite", kStdout, kTerminate,
                    {{"NORV_CRASH_NO_LIBUNWIND", "1"}, {"NORV_CRASH_NO_LIBDW", "1"}});
  EXPECT_NE(run.out.find("installed 0\n"), std::string::npos) << run.out;
  std::string reason = Section(run.out, "Reason");
  EXPECT_EQ(reason.rfind("crash_child caused an EXCEPTION_ACCESS_VIOLATION in module crash_child at "
                         "0033:",
                         0),
            0u)
      << reason;
  EXPECT_EQ(reason.find("()+"), std::string::npos) << reason;
  EXPECT_NE(Section(run.out, "Registers").find("RIP="), std::string::npos);
  // The frame-pointer chain: the fault, its caller and beyond, each with
  // its module and the address within it.
  std::string stack = Section(run.out, "Call Stack");
  EXPECT_GE(Count(stack, " crash_child, 0x"), 2) << stack;
  EXPECT_TRUE(run.exited(128 + SIGSEGV)) << run.status;
}

TEST(CrashReport, EitherLibraryAloneStillNamesTheFunction) {
  // libunwind alone: names from the symbol tables, without source lines.
  Outcome unwind = RunChild("nullwrite", kStdout, kTerminate, {{"NORV_CRASH_NO_LIBDW", "1"}});
  EXPECT_NE(unwind.out.find("installed 0\n"), std::string::npos);
  std::string first = Section(unwind.out, "Call Stack");
  first = first.substr(0, first.find("\r\n"));
  EXPECT_NE(first.find("CrashNullWrite"), std::string::npos) << first;
  // libdw alone: the frame-pointer chain, named with source lines.
  Outcome dw = RunChild("nullwrite", kStdout, kTerminate, {{"NORV_CRASH_NO_LIBUNWIND", "1"}});
  EXPECT_NE(dw.out.find("installed 1\n"), std::string::npos);
  ExpectSymbolicReport(dw.out, "EXCEPTION_ACCESS_VIOLATION", "CrashNullWrite", "nullwrite");
}

TEST(CrashDecision, ContinuePassesTheOriginalSignalOn) {
  Outcome run = RunChild("nullwrite", 0, kContinue);
  EXPECT_TRUE(run.killedBy(SIGSEGV)) << run.status;
  EXPECT_EQ(run.out, "installed 1\n");  // no output flag: no report
  EXPECT_EQ(run.err, "");
}

TEST(CrashDecision, ContinueReachesThePreviousHandlerRememberedAtTheFirstInstall) {
  Outcome run = RunChild("previous", kStdout, kContinue);
  EXPECT_EQ(Count(run.out, "An Exception Occurred:"), 1);
  EXPECT_NE(run.out.find("previous handler\n"), std::string::npos) << run.out;
  EXPECT_TRUE(run.exited(42)) << run.status;
}

TEST(CrashDecision, RetryRunsTheFaultingInstructionAgain) {
  // Faults until another thread makes the page writable, then goes on.
  Outcome run = RunChild("retry", 0, kRetry);
  EXPECT_TRUE(run.exited(0)) << run.status << run.err;
  EXPECT_NE(run.out.find("resumed 7\n"), std::string::npos) << run.out;
}

TEST(CrashDecision, UninstallReinstatesThePreviousHandler) {
  Outcome run = RunChild("uninstall", kStdout, kTerminate);
  EXPECT_EQ(run.out, "installed 1\n");
  EXPECT_TRUE(run.killedBy(SIGSEGV)) << run.status;
}

TEST(CrashDecision, AFaultInsideTheHandlerEndsWithTheOriginalSignal) {
  // The handler faults while naming the abort; the process still ends by
  // SIGABRT, not by the fault and not by the terminate decision's exit.
  Outcome run = RunChild("nested", kStdout, kTerminate);
  EXPECT_TRUE(run.killedBy(SIGABRT)) << run.status;
}

TEST(CrashOutputs, EventLogGetsTheReportAsOneErrorMessage) {
  TempDir dir;
  std::string socketPath = dir / "log";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Outcome run = RunChild("nullwrite", kEventLog, kTerminate, {{"NORV_CRASH_SYSLOG_SOCKET", socketPath}});
  EXPECT_EQ(run.out, "installed 1\n");
  std::vector<char> buffer(1 << 20);
  ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
  close(fd);
  ASSERT_GT(n, 0);
  std::string message(buffer.data(), static_cast<size_t>(n));
  EXPECT_EQ(message.rfind("<11>NORV2.1 Exception Handler[", 0), 0u) << message.substr(0, 80);
  EXPECT_NE(message.find("]: An Exception Occurred:\n"), std::string::npos);
  EXPECT_NE(message.find("EXCEPTION_ACCESS_VIOLATION"), std::string::npos);
  EXPECT_TRUE(run.exited(128 + SIGSEGV));
}

TEST(CrashOutputs, DialogGetsTheReportAndItsAnswerDecides) {
  TempDir dir;
  std::string script = dir / "dialog.sh", saved = dir / "report.txt";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\ncat > '" << saved << "'\nexit \"$ANSWER\"\n";
  }
  chmod(script.c_str(), 0700);
  std::map<std::string, std::string> env = {{"NORV_CRASH_DIALOG", script}, {"DISPLAY", ":77"}};

  env["ANSWER"] = "0";  // continue, over a default of terminate
  Outcome pass = RunChild("nullwrite", kDialog, kTerminate, env);
  EXPECT_TRUE(pass.killedBy(SIGSEGV)) << pass.status;
  std::string report = ReadFile(saved);
  EXPECT_EQ(report.rfind("An Exception Occurred:\n", 0), 0u);
  EXPECT_NE(Section(report, "Reason").find("EXCEPTION_ACCESS_VIOLATION"), std::string::npos);
  EXPECT_EQ(pass.out, "installed 1\n");  // the dialog flag alone writes nothing else

  // Also when the host discards its children's exit status.
  env["CRASH_CHILD_IGNORE_SIGCHLD"] = "1";
  EXPECT_TRUE(RunChild("nullwrite", kDialog, kTerminate, env).killedBy(SIGSEGV));
  env["CRASH_CHILD_IGNORE_SIGCHLD"] = "";

  env["ANSWER"] = "1";  // terminate, over a default of continue
  EXPECT_TRUE(RunChild("nullwrite", kDialog, kContinue, env).exited(128 + SIGSEGV));

  env["ANSWER"] = "3";  // no answer: the default decision holds
  EXPECT_TRUE(RunChild("nullwrite", kDialog, kContinue, env).killedBy(SIGSEGV));

  // Without a display the dialog is not started and the default holds.
  std::remove(saved.c_str());
  env["ANSWER"] = "0";
  env["DISPLAY"] = "";
  EXPECT_TRUE(RunChild("nullwrite", kDialog, kTerminate, env).exited(128 + SIGSEGV));
  EXPECT_EQ(ReadFile(saved), "");
}

#ifdef NORVEXPLORE
// An open registry key, closed when it goes.
class RegistryKey {
 public:
  explicit RegistryKey(const std::string& path) {
    plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                          plat::KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~RegistryKey() {
    if (key_) plat::RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  bool Set(const std::string& name, const std::string& text) {
    return key_ && plat::RegSetValueExA(key_, name.c_str(), 0, plat::REG_SZ,
                                        reinterpret_cast<const plat::BYTE*>(text.c_str()),
                                        static_cast<plat::DWORD>(text.size() + 1)) == 0;
  }
  bool Set(const std::string& name, plat::DWORD number) {
    return key_ && plat::RegSetValueExA(key_, name.c_str(), 0, plat::REG_DWORD,
                                        reinterpret_cast<const plat::BYTE*>(&number),
                                        sizeof number) == 0;
  }

 private:
  plat::HKEY key_ = nullptr;
};

// The explorer installs the handler at start-up: a registered plugin whose
// root item crashes when the tree asks for its children is reported on
// standard error and in the system log, with the plugin's function and
// source line, and the explorer ends (no display, so no dialog).
TEST(CrashReport, TheExplorerReportsAPluginThatCrashes) {
  TempDir dir;
  const std::string registry = dir / "registry", run = dir / "run", logPath = dir / "log";
  ASSERT_EQ(mkdir(registry.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
  {
    const char* previous = std::getenv("NORV_REGISTRY_DIR");
    const std::string saved = previous ? previous : "";
    setenv("NORV_REGISTRY_DIR", registry.c_str(), 1);
    const std::string key = "SOFTWARE\\Velmora\\NORV2.1\\Plugins\\CrashTest";
    RegistryKey plugin(key);
    EXPECT_TRUE(plugin.Set("PluginDLL", CRASH_EXPLORER_PLUGIN));
    EXPECT_TRUE(plugin.Set("RegFlag", plat::DWORD{0}));
    RegistryKey locale(key + "\\Locale\\enu");
    EXPECT_TRUE(locale.Set("ResourceDLL", CRASH_EXPLORER_PLUGIN_RES));
    EXPECT_TRUE(locale.Set("HelpFile", ""));
    EXPECT_TRUE(locale.Set("MessageHelpFile", ""));
    if (previous)
      setenv("NORV_REGISTRY_DIR", saved.c_str(), 1);
    else
      unsetenv("NORV_REGISTRY_DIR");
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, logPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  Outcome explorer = RunProgram({NORVEXPLORE, "-nosplash", "-notips"},
                                {{"NORV_REGISTRY_DIR", registry},
                                 {"NORV_RUNTIME_DIR", run},
                                 {"NORV_CRASH_SYSLOG_SOCKET", logPath},
                                 {"NORV_TEST_PLUGIN_CRASH", "1"},
                                 {"QT_QPA_PLATFORM", "offscreen"}});
  std::vector<char> buffer(1 << 20);
  ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
  close(fd);

  EXPECT_TRUE(explorer.exited(128 + SIGSEGV)) << explorer.status << "\n" << explorer.err;
  const std::string reason = Section(explorer.err, "Reason");
  EXPECT_EQ(reason.rfind("norvexplore caused an EXCEPTION_ACCESS_VIOLATION in module "
                         "libcrash_explorer_plugin.so at ",
                         0),
            0u)
      << explorer.err;
  EXPECT_TRUE(NamesFunction(reason, "crashexplorer::FillRoot"));
  EXPECT_TRUE(NamesLine(reason, "explorer"));
  const std::string stack = Section(explorer.err, "Call Stack");
  EXPECT_NE(stack.find(" libcrash_explorer_plugin.so, CCrashRootItem::GetItems("),
            std::string::npos)
      << stack;
  EXPECT_NE(stack.find(" norvexplore, main()+"), std::string::npos) << stack;
  ASSERT_GT(n, 0);
  const std::string message(buffer.data(), static_cast<size_t>(n));
  EXPECT_NE(message.find("EXCEPTION_ACCESS_VIOLATION in module libcrash_explorer_plugin.so"),
            std::string::npos)
      << message.substr(0, 200);
}
#endif

}  // namespace
