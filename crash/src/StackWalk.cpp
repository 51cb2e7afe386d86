#include "StackWalk.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <filesystem>
#include <string>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "SafeText.h"

namespace norvexc {

void ResetFatalSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGPIPE})
    ::sigaction(sig, &action, nullptr);
}

// --- libunwind -------------------------------------------------------------

namespace {

#if defined(__x86_64__)
constexpr const char* kUnwindLibrary = "libunwind.so.8";
constexpr const char* kUnwindPrefix = "_ULx86_64_";
constexpr int kRegIp = 16;  // UNW_X86_64_RIP
constexpr int kRegSp = 7;   // UNW_X86_64_RSP
#define NORV_HAVE_LIBUNWIND 1
#endif
constexpr int kInitSignalFrame = 1;  // UNW_INIT_SIGNAL_FRAME
constexpr int kCacheNone = 0;        // UNW_CACHE_NONE

// Room for libunwind's cursor (127 words on x86_64) with a margin.
alignas(16) uint64_t gCursor[512];

void* Symbol(void* handle, const char* prefix, const char* name) {
  char full[96];
  SafeText text(full, sizeof full);
  text.Add(prefix);
  text.Add(name);
  return ::dlsym(handle, full);
}

bool SkipFrame(const ProcessMaps& maps, size_t index, uintptr_t pc) {
  // The walk ends at a frame whose return address is 0 or lies in no module.
  return index > 0 && (pc == 0 || !maps.InModule(pc));
}

}  // namespace

bool Unwinder::Load() {
#ifdef NORV_HAVE_LIBUNWIND
  if (handle_) return true;
  void* handle = ::dlopen(kUnwindLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  initLocal2_ = reinterpret_cast<decltype(initLocal2_)>(Symbol(handle, kUnwindPrefix, "init_local2"));
  step_ = reinterpret_cast<decltype(step_)>(Symbol(handle, kUnwindPrefix, "step"));
  getReg_ = reinterpret_cast<decltype(getReg_)>(Symbol(handle, kUnwindPrefix, "get_reg"));
  getProcName_ =
      reinterpret_cast<decltype(getProcName_)>(Symbol(handle, kUnwindPrefix, "get_proc_name"));
  auto setCaching = reinterpret_cast<int (*)(void*, int)>(
      Symbol(handle, kUnwindPrefix, "set_caching_policy"));
  auto localSpace = static_cast<void**>(Symbol(handle, kUnwindPrefix, "local_addr_space"));
  if (!initLocal2_ || !step_ || !getReg_ || !getProcName_ || !setCaching || !localSpace) {
    ::dlclose(handle);
    return false;
  }
  // The shared cache is guarded by a lock that another thread may hold when
  // this one crashes; without a cache the walk takes none of libunwind's.
  setCaching(*localSpace, kCacheNone);
  handle_ = handle;
  return true;
#else
  return false;
#endif
}

void Unwinder::Unload() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

size_t Unwinder::Walk(ucontext_t* context, const ProcessMaps& maps, StackFrame* frames,
                      size_t max) {
#ifdef NORV_HAVE_LIBUNWIND
  if (!handle_ || initLocal2_(gCursor, context, kInitSignalFrame) != 0) return 0;
  size_t count = 0;
  while (count < max) {
    uint64_t pc = 0, sp = 0;
    if (getReg_(gCursor, kRegIp, &pc) != 0 || getReg_(gCursor, kRegSp, &sp) != 0) break;
    if (SkipFrame(maps, count, pc)) break;
    StackFrame& frame = frames[count++];
    frame = StackFrame{};
    frame.pc = pc;
    frame.sp = sp;
    uint64_t offset = 0;
    if (getProcName_(gCursor, frame.symbol, sizeof frame.symbol, &offset) == 0) {
      frame.hasSymbol = true;
      frame.symbolOffset = static_cast<int64_t>(offset);
    } else {
      frame.symbol[0] = '\0';
    }
    if (step_(gCursor) <= 0) break;
  }
  return count;
#else
  (void)context, (void)maps, (void)frames, (void)max;
  return 0;
#endif
}

size_t WalkFramePointers(const ucontext_t* context, const ProcessMaps& maps, StackFrame* frames,
                         size_t max) {
  uintptr_t pc = 0, sp = 0, fp = 0;
#if defined(__x86_64__)
  pc = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
  sp = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
  fp = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RBP]);
#elif defined(__aarch64__)
  pc = context->uc_mcontext.pc;
  sp = context->uc_mcontext.sp;
  fp = context->uc_mcontext.regs[29];
#else
  (void)context;
#endif
  if (!max) return 0;
  size_t count = 0;
  frames[count] = StackFrame{};
  frames[count].pc = pc;
  frames[count].sp = sp;
  ++count;
#if defined(__x86_64__)
  // A call through a bad pointer faults outside every module; its caller's
  // return address is still on top of the stack.
  uintptr_t top = 0;
  if (!maps.InModule(pc) && maps.ReadWord(sp, &top) && maps.InModule(top) && count < max) {
    frames[count] = StackFrame{};
    frames[count].pc = top;
    frames[count].sp = sp + sizeof(uintptr_t);
    ++count;
  }
#endif
  // Each frame record holds the caller's frame pointer and the return address.
  while (count < max) {
    uintptr_t next = 0, ret = 0;
    if (!maps.ReadWord(fp, &next) || !maps.ReadWord(fp + sizeof(uintptr_t), &ret)) break;
    if (SkipFrame(maps, count, ret)) break;
    frames[count] = StackFrame{};
    frames[count].pc = ret;
    frames[count].sp = fp + 2 * sizeof(uintptr_t);
    ++count;
    if (next <= fp) break;  // the stack grows down: a chain going up has ended
    fp = next;
  }
  return count;
}

// --- libdw -------------------------------------------------------------------

namespace {

constexpr const char* kDwLibrary = "libdw.so.1";

struct DwflCallbacks {  // Dwfl_Callbacks
  void* findElf;
  void* findDebuginfo;
  void* sectionAddress;
  char** debuginfoPath;
};

char gResolved[kMaxFrames * 1024];

// A demangled name without its parameter list ("ns::f(int) const" gives
// "ns::f"): the report adds "()" itself.
void StripParameters(char* name) {
  size_t n = std::strlen(name);
  ssize_t close = -1;
  for (ssize_t i = static_cast<ssize_t>(n) - 1; i >= 0; --i)
    if (name[i] == ')') {
      close = i;
      break;
    }
  if (close < 0) return;
  int depth = 0;
  for (ssize_t i = close; i >= 0; --i) {
    if (name[i] == ')') ++depth;
    else if (name[i] == '(' && --depth == 0) {
      if (i > 0) name[i] = '\0';
      return;
    }
  }
}

// Splits the next tab- or line-ended field off `p`.
char* NextField(char*& p) {
  char* field = p;
  while (*p && *p != '\t' && *p != '\n') ++p;
  if (*p) *p++ = '\0';
  return field;
}

int64_t ParseDec(const char* text) {
  bool negative = *text == '-';
  if (negative) ++text;
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + (*text++ - '0');
  return negative ? -value : value;
}

}  // namespace

bool Symbolizer::Load() {
  if (handle_) return true;
  void* handle = ::dlopen(kDwLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  void** slots[] = {&begin_,     &end_,         &reportBegin_,    &reportEnd_,
                    &procReport_, &procFindElf_, &findDebuginfo_,  &addrModule_,
                    &moduleAddrInfo_, &moduleGetSrc_, &lineInfo_, &lineCompDir_};
  const char* names[] = {"dwfl_begin",           "dwfl_end",
                         "dwfl_report_begin",    "dwfl_report_end",
                         "dwfl_linux_proc_report", "dwfl_linux_proc_find_elf",
                         "dwfl_standard_find_debuginfo", "dwfl_addrmodule",
                         "dwfl_module_addrinfo", "dwfl_module_getsrc",
                         "dwfl_lineinfo", "dwfl_line_comp_dir"};
  for (size_t i = 0; i < sizeof slots / sizeof slots[0]; ++i) {
    *slots[i] = ::dlsym(handle, names[i]);
    if (!*slots[i]) {
      ::dlclose(handle);
      for (void** slot : slots) *slot = nullptr;
      return false;
    }
  }
  handle_ = handle;
  return true;
}

void Symbolizer::Unload() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

void Symbolizer::LookUpInChild(const StackFrame* frames, size_t count, int fd) {
  // Runs in the forked child only: allocation and locks are allowed here.
  using Dwfl = void;
  using DwflModule = void;
  auto begin = reinterpret_cast<Dwfl* (*)(const DwflCallbacks*)>(begin_);
  auto end = reinterpret_cast<void (*)(Dwfl*)>(end_);
  auto reportBegin = reinterpret_cast<void (*)(Dwfl*)>(reportBegin_);
  auto reportEnd = reinterpret_cast<int (*)(Dwfl*, void*, void*)>(reportEnd_);
  auto procReport = reinterpret_cast<int (*)(Dwfl*, pid_t)>(procReport_);
  auto addrModule = reinterpret_cast<DwflModule* (*)(Dwfl*, uint64_t)>(addrModule_);
  auto addrInfo = reinterpret_cast<const char* (*)(DwflModule*, uint64_t, uint64_t*, Elf64_Sym*,
                                                   uint32_t*, void**, uint64_t*)>(moduleAddrInfo_);
  auto getSrc = reinterpret_cast<void* (*)(DwflModule*, uint64_t)>(moduleGetSrc_);
  auto lineInfo = reinterpret_cast<const char* (*)(void*, uint64_t*, int*, int*, uint64_t*,
                                                   uint64_t*)>(lineInfo_);
  auto lineCompDir = reinterpret_cast<const char* (*)(void*)>(lineCompDir_);

  char* debuginfoPath = nullptr;
  DwflCallbacks callbacks{procFindElf_, findDebuginfo_, nullptr, &debuginfoPath};
  Dwfl* dwfl = begin(&callbacks);
  if (!dwfl) return;
  reportBegin(dwfl);
  // The child's mappings are the crashed process's.
  if (procReport(dwfl, ::getpid()) != 0 || reportEnd(dwfl, nullptr, nullptr) != 0) {
    end(dwfl);
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    // A caller's address is its return address: look up the call itself.
    uint64_t address = frames[i].pc - (i > 0 ? 1 : 0);
    DwflModule* module = addrModule(dwfl, address);
    if (!module) continue;
    uint64_t offset = 0;
    Elf64_Sym sym{};
    const char* name = addrInfo(module, address, &offset, &sym, nullptr, nullptr, nullptr);
    std::string symbol;
    const bool found = name != nullptr;
    if (found) {
      // "__libc_start_main@@GLIBC_2.34": the symbol version is not part of the name.
      std::string plain(name);
      if (size_t at = plain.find('@'); at != std::string::npos && at > 0) plain.resize(at);
      name = plain.c_str();
      int status = -1;
      char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
      if (demangled && status == 0) {
        StripParameters(demangled);
        symbol = demangled;
      } else {
        symbol = name;
      }
      std::free(demangled);
      offset += i > 0 ? 1 : 0;
    }
    std::string file;
    int line = 0;
    uint64_t lineAddress = 0;
    if (void* src = getSrc(module, address)) {
      if (const char* path = lineInfo(src, &lineAddress, &line, nullptr, nullptr, nullptr)) {
        // Relative names are relative to the folder the unit was compiled in.
        const char* folder = path[0] != '/' ? lineCompDir(src) : nullptr;
        file = folder && folder[0] ? std::string(folder) + "/" + path : std::string(path);
        // "/src/build/../app/main.cpp" reads better as "/src/app/main.cpp".
        file = std::filesystem::path(file).lexically_normal().string();
      }
    }
    for (char& c : symbol)
      if (c == '\t' || c == '\n') c = ' ';
    for (char& c : file)
      if (c == '\t' || c == '\n') c = ' ';
    char record[1400];
    int n = std::snprintf(record, sizeof record, "%zu\t%d\t%.300s\t%lld\t%d\t%.600s\t%d\t%lld\n", i,
                          found ? 1 : 0, symbol.c_str(), static_cast<long long>(offset),
                          file.empty() ? 0 : 1, file.c_str(), line,
                          static_cast<long long>(frames[i].pc - lineAddress));
    if (n > 0) WriteAll(fd, record, static_cast<size_t>(n) < sizeof record ? n : sizeof record - 1);
  }
  end(dwfl);
}

void Symbolizer::Resolve(StackFrame* frames, size_t count, int timeoutMs) {
  if (!handle_ || !count) return;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
  pid_t child = ::_Fork();
  if (child == 0) {
    ::close(fds[0]);
    ResetFatalSignals();
    LookUpInChild(frames, count, fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  if (child < 0) {
    ::close(fds[0]);
    return;
  }
  // Read until the child closes its end or the time is up.
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  size_t used = 0;
  bool timedOut = false;
  for (;;) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= timeoutMs) {
      timedOut = true;
      break;
    }
    pollfd pfd{fds[0], POLLIN, 0};
    int ready = ::poll(&pfd, 1, static_cast<int>(timeoutMs - elapsed));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    if (used + 1 >= sizeof gResolved) break;
    ssize_t n = ::read(fds[0], gResolved + used, sizeof gResolved - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fds[0]);
  if (timedOut) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  gResolved[used] = '\0';

  // Only whole lines count: a child killed half-way leaves its last line out.
  char* p = gResolved;
  while (*p) {
    char* lineEnd = std::strchr(p, '\n');
    if (!lineEnd) break;
    *lineEnd = '\0';
    size_t index = static_cast<size_t>(ParseDec(NextField(p)));
    bool hasSymbol = ParseDec(NextField(p)) != 0;
    char* symbol = NextField(p);
    int64_t offset = ParseDec(NextField(p));
    bool hasLine = ParseDec(NextField(p)) != 0;
    char* file = NextField(p);
    int line = static_cast<int>(ParseDec(NextField(p)));
    int64_t lineOffset = ParseDec(NextField(p));
    p = lineEnd + 1;
    if (index >= count) continue;
    StackFrame& frame = frames[index];
    if (hasSymbol) {
      CopyText(frame.symbol, sizeof frame.symbol, symbol, Length(symbol));
      frame.symbolOffset = offset;
      frame.hasSymbol = true;
    }
    if (hasLine) {
      CopyText(frame.file, sizeof frame.file, file, Length(file));
      frame.line = line;
      frame.lineOffset = lineOffset;
      frame.hasLine = true;
    }
  }
}

}  // namespace norvexc
