// Starting programs and waiting for them (CreateProcess, WaitForSingleObject,
// GetExitCodeProcess) on posix_spawn and waitpid.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace plat {

// Splits a command line by the rules of CommandLineToArgvW: white space
// (space, tab) separates arguments, double quotes group, 2n backslashes
// before a quote give n backslashes and open or close the quote, 2n+1 give n
// backslashes and a literal quote, "" inside quotes gives a literal quote
// (and the quote goes on), other backslashes are literal; "" outside quotes
// is an empty argument. The first argument (the program) has no backslash
// processing, as Windows does: when it starts with a quote it runs to the
// next quote, otherwise to the next white space. Leading white space is
// skipped; an empty or blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// The inverse: quotes each argument so that SplitCommandLine gives it back.
// A program name can hold a double quote only when it holds no white space
// and does not start with one (Windows cannot express more); other quotes in
// it are dropped.
std::string JoinCommandLine(const std::vector<std::string>& argv);
// One argument quoted so that SplitCommandLine gives it back whole; plain
// arguments stay unquoted unless alwaysQuote is set.
std::string QuoteArgument(std::string_view arg, bool alwaysQuote = false);

// CreateProcess's answers for a program that is not executable and for a
// working directory that does not exist.
constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
constexpr LONG ERROR_DIRECTORY = 267;

// The child gets the caller's environment and standard streams (a detached
// one reads /dev/null), default signal handling, and none of the caller's
// other file descriptors. A relative program path is taken from the caller's
// folder, also when a working directory is given.
struct ProcessOptions {
  std::string workingDirectory;   // empty: the caller's
  bool detached = false;          // new session; not waited for, reaped by itself
  bool searchPath = true;         // look a bare program name up in PATH
};

struct ProcessInfo {
  int pid = -1;
};

// Starts argv[0] with argv. Returns ERROR_SUCCESS or a Win32-style error
// (ERROR_FILE_NOT_FOUND for a missing program).
LONG StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                  ProcessInfo* info);
LONG StartProcess(std::string_view commandLine, const ProcessOptions& options, ProcessInfo* info);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

// WAIT_OBJECT_0 when it ended, WAIT_TIMEOUT, or WAIT_FAILED. Works for
// detached processes too, and can be asked again after the end.
DWORD WaitForProcess(const ProcessInfo& process, DWORD milliseconds);
// The exit code once it ended (a signal gives 128 + number), STILL_ACTIVE before.
// The status is kept once collected, so it can be asked any number of times.
BOOL GetProcessExitCode(const ProcessInfo& process, DWORD* exitCode);
// For a process nobody will wait for (CloseHandle): it is reaped in the
// background when it ends, and its kept status is dropped.
void ReleaseProcess(const ProcessInfo& process);

}  // namespace plat
