// The pieces of a crash report: the exception's name, the reason line, the
// register block and the call-stack lines, each written into a fixed buffer
// with nothing but the signal-safe text builder.
#pragma once
#include <csignal>
#include <cstdint>
#include <ucontext.h>

#include "ProcessMaps.h"
#include "SafeText.h"
#include "StackWalk.h"

namespace norvexc {

// The exception name for a signal and its cause ("EXCEPTION_ACCESS_VIOLATION"),
// or nullptr when no name fits (the reason line then shows the system's text
// for the signal).
const char* ExceptionName(int signal, const siginfo_t* info, const ucontext_t* context,
                          const ProcessMaps& maps);
// Whether a fault is the thread running out of stack: an access at the stack
// pointer, into a page that is not mapped or not accessible.
bool IsStackOverflow(int signal, const siginfo_t* info, const ucontext_t* context,
                     const ProcessMaps& maps);
// The system's text for a signal: "Aborted (SIGABRT)".
void AddSignalText(SafeText& text, int signal);

uintptr_t InstructionAddress(const ucontext_t* context);
uintptr_t StackAddress(const ucontext_t* context);
unsigned CodeSegment(const ucontext_t* context);

// "<program> caused an <name> in module <module> at CS:IP[, symbol][, source]"
void AddReasonLine(SafeText& text, const char* program, int signal, const char* exceptionName,
                   const ucontext_t* context, const ProcessMaps& maps, const StackFrame* first);
void AddRegisters(SafeText& text, const ucontext_t* context);
// One call-stack line, ended by "\r\n".
void AddStackLine(SafeText& text, unsigned codeSegment, const StackFrame& frame,
                  const ProcessMaps& maps);
// "%Y-%m-%d %H:%M:%S" of a UTC time shifted by `utcOffset` seconds.
void AddTime(SafeText& text, int64_t utcSeconds, int64_t utcOffset);

}  // namespace norvexc
