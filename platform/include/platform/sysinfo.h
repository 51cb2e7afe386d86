// System information and diagnostics output (GetVersionEx, GetUserName,
// GetComputerName, GetTempPath, GetModuleFileName, OutputDebugString, the
// event log).
#pragma once
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVersionInfo {
  DWORD majorVersion = 0;   // kernel release numbers: 6.1.55 gives 6, 1, 55
  DWORD minorVersion = 0;
  DWORD buildNumber = 0;
  DWORD platformId = VER_PLATFORM_WIN32_NT;  // Linux reports the NT family
  std::string servicePack;  // the kernel's version string (uname -v)
};
BOOL GetVersionEx(OSVersionInfo* info);

// The effective user's name from the user database, else LOGNAME or USER,
// else the numeric id.
std::string UserName();
std::string ComputerName();
// TMPDIR, else /tmp, always ending in a separator.
std::string TempPath();
// The running program's path; of the module containing `address` when given.
std::string ModulePath(const void* address = nullptr);
// The folder of a path, with a trailing separator ("/a/b" gives "/a/"; a
// bare name gives "", the current folder).
std::string FolderOf(std::string_view path);

// Debugger output: standard error, each line prefixed with "[debug] " and
// ended with a line break; one write per call, so texts of several threads
// or processes never mix.
void OutputDebugString(std::string_view text);
void OutputDebugString(std::wstring_view text);

enum class EventType { Error, Warning, Information };
// The event log: syslog under the given source name (LOG_ERR, LOG_WARNING,
// LOG_INFO).
void ReportEvent(std::string_view source, EventType type, std::string_view text);

}  // namespace plat
