// The call stack of the crashed thread: walked with libunwind (loaded by
// name when the handler is installed) from the signal context, else by the
// frame-pointer chain with every read checked against the mappings.
// Symbols and source lines come from libdw (elfutils), also loaded by name,
// in a child process forked from the handler: libdw allocates memory and
// takes locks, which the crashed process must not do.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ucontext.h>

#include "ProcessMaps.h"

namespace norvexc {

struct StackFrame {
  uintptr_t pc = 0;  // instruction address (the return address for callers)
  uintptr_t sp = 0;  // the frame's stack address
  char symbol[256] = {};
  int64_t symbolOffset = 0;
  bool hasSymbol = false;
  char file[512] = {};
  int line = 0;
  int64_t lineOffset = 0;
  bool hasLine = false;
};

constexpr size_t kMaxFrames = 64;

// libunwind's local unwinder.
class Unwinder {
 public:
  bool Load();  // at installation; false when the library or an entry point is missing
  void Unload();
  bool loaded() const { return handle_ != nullptr; }
  // Fills frames from the signal context; returns the count (0 on failure).
  size_t Walk(ucontext_t* context, const ProcessMaps& maps, StackFrame* frames, size_t max);

 private:
  void* handle_ = nullptr;
  int (*initLocal2_)(void* cursor, void* context, int flags) = nullptr;
  int (*step_)(void* cursor) = nullptr;
  int (*getReg_)(void* cursor, int reg, uint64_t* value) = nullptr;
  int (*getProcName_)(void* cursor, char* name, size_t size, uint64_t* offset) = nullptr;
};

// The frame-pointer chain, for when libunwind is missing or fails.
size_t WalkFramePointers(const ucontext_t* context, const ProcessMaps& maps, StackFrame* frames,
                         size_t max);

// libdw's symbol and line lookup.
class Symbolizer {
 public:
  bool Load();
  void Unload();
  bool loaded() const { return handle_ != nullptr; }
  // Forks a child that looks up every frame and sends the results back;
  // waits at most `timeoutMs`. Frames it could not name keep what they had.
  void Resolve(StackFrame* frames, size_t count, int timeoutMs);

 private:
  void LookUpInChild(const StackFrame* frames, size_t count, int fd);

  void* handle_ = nullptr;
  void* begin_ = nullptr;
  void* end_ = nullptr;
  void* reportBegin_ = nullptr;
  void* reportEnd_ = nullptr;
  void* procReport_ = nullptr;
  void* procFindElf_ = nullptr;
  void* findDebuginfo_ = nullptr;
  void* addrModule_ = nullptr;
  void* moduleAddrInfo_ = nullptr;
  void* moduleGetSrc_ = nullptr;
  void* lineInfo_ = nullptr;
  void* lineCompDir_ = nullptr;
};

// Sets the fatal signals back to their default action (in forked children).
void ResetFatalSignals();

}  // namespace norvexc
