// The crash handler (libnorv21exc.so): catches the fatal signals of the host
// process, writes a crash report (reason, registers, symbolic call stack) to
// the outputs the host selects and lets the user, or the host's default,
// decide whether the process ends, retries the faulting instruction or
// passes the signal on.
//
// The host calls InstallCrashHandler once at start-up (from the main thread,
// which gets an alternate signal stack so that a stack overflow is reported
// too); each further thread that should survive a stack overflow long enough
// to be reported calls InstallCrashHandlerThread at its start and
// UninstallCrashHandlerThread before it ends.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Output flags.
#define NORV_CRASH_OUTPUT_STDOUT 1u
#define NORV_CRASH_OUTPUT_STDERR 2u
#define NORV_CRASH_OUTPUT_DIALOG 4u
#define NORV_CRASH_OUTPUT_EVENTLOG 8u

// Decision codes: the dialog's result, or the default decision without one.
// Any value other than terminate and retry continues the signal.
#define NORV_CRASH_CONTINUE 0
#define NORV_CRASH_TERMINATE 1
#define NORV_CRASH_RETRY 2

// Records the output flags and the default decision, loads the stack-walk
// and symbol libraries (once) and installs the handler unless it is already
// installed (installing again changes flags and decision but keeps the
// handlers remembered the first time). Returns 1 when symbols and source
// lines are available, 0 when reports will show addresses and module names
// only; the handler is installed either way.
int InstallCrashHandler(unsigned int outputFlags, int defaultDecision);

// Reinstates the handlers that were in place before and unloads the
// libraries. Returns 0.
int UninstallCrashHandler(void);

// Gives the calling thread an alternate signal stack (returns 1, or 0 when
// none could be made). Threads without one still get reports, except for a
// stack overflow of their own.
int InstallCrashHandlerThread(void);
// Removes the calling thread's alternate signal stack made by
// InstallCrashHandlerThread.
void UninstallCrashHandlerThread(void);

#ifdef __cplusplus
}
#endif
