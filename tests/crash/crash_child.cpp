// A program that crashes on purpose, for the crash handler's tests.
//   crash_child <mode> <output flags> <default decision>
// It installs the handler, prints "installed <result>" and crashes as the
// mode says. Lines marked "CRASH:<mode>" are where the fault happens.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norv/NorvCrashHandler.h"

namespace {

std::atomic<bool> gCrashInHandler{false};

__attribute__((noinline)) void CrashNullWrite() {
  volatile int* target = nullptr;
  *target = 42;  // CRASH:nullwrite
}

__attribute__((noinline)) int CrashDivide(int divisor) {
  volatile int dividend = 7;
  volatile int by = divisor;
  return dividend / by;  // CRASH:divzero
}

// The stack runs out at whichever of the frame's writes first crosses the
// limit: the prologue's, the local's, or the call's return address.
volatile bool gKeepGoing = true;
__attribute__((noinline)) int CrashRecurse(int depth) {  // CRASH:overflow
  volatile char frame[2048];
  frame[0] = static_cast<char>(depth);  // CRASH:overflow
  return gKeepGoing ? CrashRecurse(depth + 1) + frame[0] : 0;  // CRASH:overflow
}

__attribute__((noinline)) void CrashAbort() {
  std::abort();  // CRASH:abort
}

void* CrashOnThread(void*) {
  InstallCrashHandlerThread();
  CrashNullWrite();
  return nullptr;
}

void* OverflowOnThread(void*) {
  InstallCrashHandlerThread();
  return reinterpret_cast<void*>(static_cast<intptr_t>(CrashRecurse(0)));
}

std::atomic<int> gReady{0};
void* CrashTogether(void*) {
  gReady.fetch_add(1);
  while (gReady.load() < 2) {
  }
  CrashNullWrite();
  return nullptr;
}

void* Unprotect(void* page) {
  usleep(300 * 1000);
  mprotect(page, static_cast<size_t>(getpagesize()), PROT_READ | PROT_WRITE);
  return nullptr;
}

void PreviousHandler(int) {
  static const char text[] = "previous handler\n";
  write(STDOUT_FILENO, text, sizeof text - 1);
  _exit(42);
}

}  // namespace

#if defined(__x86_64__)
// Faults on its first instruction: the report names it without a displacement.
asm(".text\n"
    ".globl CrashAtEntry\n"
    ".type CrashAtEntry, @function\n"
    "CrashAtEntry:\n"
    "  movl $42, 0\n"
    "  ret\n"
    ".size CrashAtEntry, .-CrashAtEntry\n");
extern "C" void CrashAtEntry();
#endif

// The handler names an abort with the system's text for the signal; this
// stand-in crashes instead, to see a fault inside the handler itself.
extern "C" const char* sigdescr_np(int signal) {
  if (gCrashInHandler.load()) CrashNullWrite();
  using Real = const char* (*)(int);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sigdescr_np"));
  return real ? real(signal) : "Unknown signal";
}

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: crash_child <mode> <flags> <decision>\n");
    return 2;
  }
  const char* mode = argv[1];
  unsigned flags = static_cast<unsigned>(std::atoi(argv[2]));
  int decision = std::atoi(argv[3]);

  if (std::strcmp(mode, "previous") == 0) std::signal(SIGSEGV, PreviousHandler);
  // A host that leaves its children to the system.
  if (std::getenv("CRASH_CHILD_IGNORE_SIGCHLD")) std::signal(SIGCHLD, SIG_IGN);
  int installed = InstallCrashHandler(flags, decision);
  if (std::strcmp(mode, "previous") == 0) installed = InstallCrashHandler(flags, decision);
  std::printf("installed %d\n", installed);
  std::fflush(stdout);

  if (std::strcmp(mode, "nullwrite") == 0 || std::strcmp(mode, "previous") == 0) {
    CrashNullWrite();
  } else if (std::strcmp(mode, "closedout") == 0) {
    // Standard output becomes a pipe that nobody reads.
    int fds[2];
    if (pipe(fds) != 0) return 3;
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    CrashNullWrite();
  } else if (std::strcmp(mode, "uninstall") == 0) {
    UninstallCrashHandler();
    CrashNullWrite();
  } else if (std::strcmp(mode, "divzero") == 0) {
    std::printf("%d\n", CrashDivide(0));
  } else if (std::strcmp(mode, "overflow") == 0) {
    std::printf("%d\n", CrashRecurse(0));
  } else if (std::strcmp(mode, "illegal") == 0) {
    __builtin_trap();  // CRASH:illegal
  } else if (std::strcmp(mode, "breakpoint") == 0) {
#if defined(__x86_64__)
    asm volatile("int3");  // CRASH:breakpoint
#else
    raise(SIGTRAP);
#endif
  } else if (std::strcmp(mode, "threadoverflow") == 0) {
    pthread_t thread;
    pthread_create(&thread, nullptr, OverflowOnThread, nullptr);
    pthread_join(thread, nullptr);
  } else if (std::strcmp(mode, "damaged") == 0) {
#if defined(__x86_64__)
    // Stack and frame pointers that point nowhere, then a fault.
    asm volatile("mov $0x10, %rsp\n mov $0x10, %rbp\n movl $42, 0");  // CRASH:damaged
#endif
  } else if (std::strcmp(mode, "entry") == 0) {
#if defined(__x86_64__)
    CrashAtEntry();
#endif
  } else if (std::strcmp(mode, "plugin") == 0) {
    void* plugin = dlopen(CRASH_PLUGIN, RTLD_NOW);
    if (!plugin) return 3;
    reinterpret_cast<void (*)()>(dlsym(plugin, "PluginEntry"))();
  } else if (std::strcmp(mode, "abort") == 0) {
    CrashAbort();
  } else if (std::strcmp(mode, "nested") == 0) {
    gCrashInHandler = true;
    CrashAbort();
  } else if (std::strcmp(mode, "thread") == 0) {
    pthread_t thread;
    pthread_create(&thread, nullptr, CrashOnThread, nullptr);
    pthread_join(thread, nullptr);
  } else if (std::strcmp(mode, "together") == 0) {
    pthread_t threads[2];
    for (pthread_t& thread : threads) pthread_create(&thread, nullptr, CrashTogether, nullptr);
    for (pthread_t& thread : threads) pthread_join(thread, nullptr);
  } else if (std::strcmp(mode, "retry") == 0) {
    // The write faults until the other thread makes the page writable; each
    // retry runs the faulting instruction again.
    auto* page = static_cast<volatile int*>(mmap(nullptr, static_cast<size_t>(getpagesize()),
                                                 PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    pthread_t thread;
    pthread_create(&thread, nullptr, Unprotect, const_cast<int*>(page));
    *page = 7;  // CRASH:retry
    pthread_join(thread, nullptr);
    std::printf("resumed %d\n", *page);
    return 0;
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
  }
  std::printf("survived\n");
  return 0;
}
