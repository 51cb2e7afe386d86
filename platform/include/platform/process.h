// Starting programs and waiting for them (CreateProcess, WaitForSingleObject,
// GetExitCodeProcess) on posix_spawn and waitpid.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace plat {

// Splits a command line by the rules of CommandLineToArgvW: white space
// separates arguments, double quotes group, 2n backslashes before a quote
// give n backslashes and open or close the quote, 2n+1 give n backslashes and
// a literal quote, "" inside quotes gives a literal quote, other backslashes
// are literal. The first argument (the program) is taken up to the next
// quote or white space without backslash processing, as Windows does.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// The inverse: quotes each argument so that SplitCommandLine gives it back.
std::string JoinCommandLine(const std::vector<std::string>& argv);

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

// WAIT_OBJECT_0 when it ended, WAIT_TIMEOUT, or WAIT_FAILED.
DWORD WaitForProcess(const ProcessInfo& process, DWORD milliseconds);
// The exit code once it ended (a signal gives 128 + number), STILL_ACTIVE before.
BOOL GetProcessExitCode(const ProcessInfo& process, DWORD* exitCode);

}  // namespace plat
