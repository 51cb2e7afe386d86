// The installed handler. Everything from the signal to the decision runs on
// static buffers with plain system calls: the crashed thread may hold the
// heap's or any other lock, so the handler neither allocates nor locks.
// Work that needs both (symbol lookup, the dialog) runs in child processes.
#include "norv/NorvCrashHandler.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CrashReport.h"
#include "ProcessMaps.h"
#include "SafeText.h"
#include "StackWalk.h"

#define NORV_EXC_API extern "C" __attribute__((visibility("default")))

extern char** environ;

namespace norvexc {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT};
constexpr unsigned kAllOutputs = NORV_CRASH_OUTPUT_STDOUT | NORV_CRASH_OUTPUT_STDERR |
                                 NORV_CRASH_OUTPUT_DIALOG | NORV_CRASH_OUTPUT_EVENTLOG;
constexpr const char* kEventSource = "NORV2.1 Exception Handler";
constexpr int kSymbolTimeoutMs = 15000;
// Room for the handler, and for libdw in the symbol child, which runs on a
// copy of this stack.
constexpr size_t kAltStackSize = 512 * 1024;

// --- installation state (written under gInstallMutex, read by the handler) --
std::mutex gInstallMutex;
std::atomic<bool> gInstalled{false};
std::atomic<unsigned> gOutputFlags{0};
std::atomic<int> gDefaultDecision{NORV_CRASH_TERMINATE};
struct sigaction gPrevious[NSIG];
bool gLibrariesLoaded = false;
Unwinder gUnwinder;
Symbolizer gSymbolizer;
char gProgram[256] = "<UNKNOWN>";
char gDialogPath[4096];
char gSyslogPath[sizeof(sockaddr_un::sun_path)] = "/dev/log";
std::atomic<int64_t> gUtcOffset{0};

// --- crash state (only the thread that owns gOwner touches it) ---------------
std::atomic<pid_t> gOwner{0};
int gSignal = 0;
ProcessMaps gMaps;
StackFrame gFrames[kMaxFrames];
char gReason[1025];
char gRegisters[2048];
char gReport[kMaxFrames * 1200 + 8192];
char gEvent[sizeof gReport + 256];

pid_t ThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void WriteText(int fd, const char* text) { WriteAll(fd, text, Length(text)); }

// Ends the process with `signal` as if no handler were there.
[[noreturn]] void DieBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::syscall(SYS_tgkill, ::getpid(), ThreadId(), signal);
  ::_exit(128 + signal);
}

const char* Environment(const char* name) {
  size_t length = Length(name);
  for (char** entry = environ; entry && *entry; ++entry)
    if (std::strncmp(*entry, name, length) == 0 && (*entry)[length] == '=')
      return *entry + length + 1;
  return nullptr;
}

bool DisplayPresent() {
  const char* x11 = Environment("DISPLAY");
  const char* wayland = Environment("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

void BuildReport(int signal, const siginfo_t* info, ucontext_t* context, const char* name) {
  size_t frames = gUnwinder.Walk(context, gMaps, gFrames, kMaxFrames);
  if (!frames) frames = WalkFramePointers(context, gMaps, gFrames, kMaxFrames);
  gSymbolizer.Resolve(gFrames, frames, kSymbolTimeoutMs);
  (void)info;

  SafeText reason(gReason, sizeof gReason);
  AddReasonLine(reason, gProgram, signal, name, context, gMaps, frames ? &gFrames[0] : nullptr);
  SafeText registers(gRegisters, sizeof gRegisters);
  AddRegisters(registers, context);

  SafeText report(gReport, sizeof gReport);
  report.Add("An Exception Occurred:\n\nTime:\n");
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  AddTime(report, now.tv_sec, gUtcOffset.load());
  report.Add("\n\nReason:\n");
  report.Add(reason.data());
  report.Add("\n\nRegisters:\n");
  report.Add(registers.data());
  report.Add("\n\nCall Stack:\n");
  unsigned cs = CodeSegment(context);
  for (size_t i = 0; i < frames; ++i) AddStackLine(report, cs, gFrames[i], gMaps);
}

void WriteEvent(const char* report) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  CopyText(address.sun_path, sizeof address.sun_path, gSyslogPath, Length(gSyslogPath));
  // LOG_USER | LOG_ERR, the source as the tag, the report as one message.
  SafeText event(gEvent, sizeof gEvent);
  event.Add("<11>");
  event.Add(kEventSource);
  event.Add('[');
  event.Dec(::getpid(), 0);
  event.Add("]: ");
  event.Add(report);
  event.Add('\n');
  ::sendto(fd, event.data(), event.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::close(fd);
}

// Starts the dialog program with the report on its standard input and waits
// for the user's choice; -1 when there is no dialog or no valid answer.
int RunDialog(const char* report) {
  if (!gDialogPath[0] || !DisplayPresent()) return -1;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  pid_t child = ::_Fork();
  if (child == 0) {
    ResetFatalSignals();
    ::dup2(fds[0], STDIN_FILENO);
    char* argv[] = {gDialogPath, nullptr};
    ::execve(gDialogPath, argv, environ);
    ::_exit(127);
  }
  ::close(fds[0]);
  if (child < 0) {
    ::close(fds[1]);
    return -1;
  }
  size_t length = Length(report);
  while (length) {
    ssize_t n = ::send(fds[1], report, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report += n;
    length -= static_cast<size_t>(n);
  }
  ::close(fds[1]);
  int status = 0;
  pid_t waited;
  while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited != child || !WIFEXITED(status)) return -1;
  int code = WEXITSTATUS(status);
  return code == NORV_CRASH_CONTINUE || code == NORV_CRASH_TERMINATE || code == NORV_CRASH_RETRY
             ? code
             : -1;
}

int Handle(int signal, siginfo_t* info, ucontext_t* context) {
  gMaps.Read();
  const char* name = ExceptionName(signal, info, context, gMaps);
  if (IsStackOverflow(signal, info, context, gMaps)) {
    // The debugger output of this platform is standard error.
    WriteText(STDERR_FILENO,
              "[debug] !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n"
              "[debug] EXCEPTION_STACK_OVERFLOW occurred\n"
              "[debug] !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n");
  }
  unsigned flags = gOutputFlags.load() & kAllOutputs;
  int decision = gDefaultDecision.load();
  // A dialog that cannot be shown is no output: nothing to build then.
  if ((flags & NORV_CRASH_OUTPUT_DIALOG) && (!gDialogPath[0] || !DisplayPresent()))
    flags &= ~NORV_CRASH_OUTPUT_DIALOG;
  if (!flags) return decision;

  BuildReport(signal, info, context, name);
  if (flags & NORV_CRASH_OUTPUT_STDOUT) WriteAll(STDOUT_FILENO, gReport, Length(gReport));
  if (flags & NORV_CRASH_OUTPUT_STDERR) WriteAll(STDERR_FILENO, gReport, Length(gReport));
  if (flags & NORV_CRASH_OUTPUT_EVENTLOG) WriteEvent(gReport);
  if (flags & NORV_CRASH_OUTPUT_DIALOG) {
    int answer = RunDialog(gReport);
    if (answer >= 0) decision = answer;
  }
  return decision;
}

// Hands the signal on: the handler that was there before gets it, for a
// fault by running the faulting instruction again, for a sent signal, a
// breakpoint or an abort by sending it again with its original information.
void PassOn(int signal, siginfo_t* info) {
  ::sigaction(signal, &gPrevious[signal], nullptr);
  bool refaults = (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE) &&
                  info->si_code > 0;
  if (!refaults) ::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), ThreadId(), signal, info);
}

void OnFatalSignal(int signal, siginfo_t* info, void* raw) {
  int savedErrno = errno;
  auto* context = static_cast<ucontext_t*>(raw);
  pid_t self = ThreadId();
  pid_t expected = 0;
  while (!gOwner.compare_exchange_strong(expected, self)) {
    // A fault while this thread builds its report: end with the first signal.
    if (expected == self) DieBySignal(gSignal);
    // Another thread is reporting: wait for it to end the process or finish.
    timespec pause{0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
    expected = 0;
  }
  gSignal = signal;
  if (!gInstalled.load()) {
    PassOn(signal, info);
    gOwner.store(0);
    errno = savedErrno;
    return;
  }

  // Writing to a closed pipe must not end the process with SIGPIPE.
  sigset_t pipeSet, oldMask, pendingBefore;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  ::sigpending(&pendingBefore);
  ::sigprocmask(SIG_BLOCK, &pipeSet, &oldMask);

  // The children started for symbols and the dialog are waited for here; a
  // host's SIGCHLD handler (or SIG_IGN, which discards their status) must
  // not take them.
  struct sigaction childDefault {}, childSaved {};
  childDefault.sa_handler = SIG_DFL;
  sigemptyset(&childDefault.sa_mask);
  ::sigaction(SIGCHLD, &childDefault, &childSaved);

  int decision = Handle(signal, info, context);

  ::sigaction(SIGCHLD, &childSaved, nullptr);

  sigset_t pendingAfter;
  ::sigpending(&pendingAfter);
  if (sigismember(&pendingAfter, SIGPIPE) && !sigismember(&pendingBefore, SIGPIPE)) {
    timespec zero{0, 0};
    ::sigtimedwait(&pipeSet, nullptr, &zero);
  }
  ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);

  if (decision == NORV_CRASH_TERMINATE) ::_exit(128 + signal);
  if (decision != NORV_CRASH_RETRY) PassOn(signal, info);
  gOwner.store(0);
  errno = savedErrno;
}

void ReadInstallSettings() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    path[n] = '\0';
    const char* base = BaseName(path);
    CopyText(gProgram, sizeof gProgram, base, Length(base));
  }

  gDialogPath[0] = '\0';
  if (const char* dialog = std::getenv("NORV_CRASH_DIALOG")) {
    CopyText(gDialogPath, sizeof gDialogPath, dialog, Length(dialog));
  } else {
    // The dialog program is installed beside this library.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&InstallCrashHandler), &info) && info.dli_fname) {
      SafeText text(gDialogPath, sizeof gDialogPath);
      const char* base = BaseName(info.dli_fname);
      text.Add(info.dli_fname, static_cast<size_t>(base - info.dli_fname));
      text.Add("norvcrashdlg");
      if (text.cut()) gDialogPath[0] = '\0';
    }
  }
  if (gDialogPath[0] && ::access(gDialogPath, X_OK) != 0) gDialogPath[0] = '\0';

  if (const char* socketPath = std::getenv("NORV_CRASH_SYSLOG_SOCKET"))
    CopyText(gSyslogPath, sizeof gSyslogPath, socketPath, Length(socketPath));

  // The report's time is local time; the offset is taken now because the
  // time-zone functions are not safe in a signal handler.
  time_t now = std::time(nullptr);
  tm local{};
  if (::localtime_r(&now, &local)) gUtcOffset.store(local.tm_gmtoff);
}

}  // namespace
}  // namespace norvexc

using namespace norvexc;

NORV_EXC_API int InstallCrashHandler(unsigned int outputFlags, int defaultDecision) {
  std::lock_guard<std::mutex> lock(gInstallMutex);
  gOutputFlags.store(outputFlags);
  gDefaultDecision.store(defaultDecision);
  if (!gLibrariesLoaded) {
    // NORV_CRASH_NO_LIBUNWIND / NORV_CRASH_NO_LIBDW leave a library unloaded,
    // to see the report as it is on a system without it.
    auto isSet = [](const char* name) {
      const char* value = std::getenv(name);
      return value && *value;
    };
    if (!isSet("NORV_CRASH_NO_LIBUNWIND")) gUnwinder.Load();
    if (!isSet("NORV_CRASH_NO_LIBDW")) gSymbolizer.Load();
    gLibrariesLoaded = true;
  }
  ReadInstallSettings();
  InstallCrashHandlerThread();
  if (!gInstalled.load()) {
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // Nothing else blocked: a fault of another kind inside the handler
    // must reach it, to end the process with the first signal.
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) ::sigaction(signal, &action, &gPrevious[signal]);
    gInstalled.store(true);
  }
  return gSymbolizer.loaded() ? 1 : 0;
}

NORV_EXC_API int UninstallCrashHandler(void) {
  std::lock_guard<std::mutex> lock(gInstallMutex);
  if (gInstalled.load()) {
    for (int signal : kFatalSignals) ::sigaction(signal, &gPrevious[signal], nullptr);
    gInstalled.store(false);
  }
  if (gLibrariesLoaded) {
    gUnwinder.Unload();
    gSymbolizer.Unload();
    gLibrariesLoaded = false;
  }
  return 0;
}

NORV_EXC_API int InstallCrashHandlerThread(void) {
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
      current.ss_size >= kAltStackSize)
    return 1;
  // A guard page below the stack turns an overflow of the handler itself
  // into a plain fault instead of damage to other memory.
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  void* memory = ::mmap(nullptr, kAltStackSize + page, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return 0;
  ::mprotect(memory, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(memory) + page;
  stack.ss_size = kAltStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, kAltStackSize + page);
    return 0;
  }
  return 1;
}

NORV_EXC_API void UninstallCrashHandlerThread(void) {
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) ||
      current.ss_size != kAltStackSize)
    return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  if (::sigaltstack(&off, nullptr) != 0) return;
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  ::munmap(static_cast<char*>(current.ss_sp) - page, kAltStackSize + page);
}
