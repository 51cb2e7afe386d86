// The trace log of a run: a log file with one line per traced event, an
// information file with the system version and the loaded modules, and
// optionally a copy of every line on the debugger output (standard error).
// Plugins write into the same log under their own name.
//
// Callers test the level before they build a line:
//
//   NORV_BASE_TRACE(3, 2, NorvFormatString(L"Expanding %s", name.c_str()));
//
// Levels: 1 errors, 2 warnings, 3 calls into items (indented), 4 details,
// -1 off.
#pragma once
#include <cstdarg>
#include <functional>
#include <string>

#include "norv/norvtypes.h"

class CNorvCommandLineInfo;
class CNorvTreeListItem;

// Highest level written for framework lines and for plugin lines; -1 = off.
// The host and the plugins may read and change them at any time.
NORV_API extern int gNorvBaseTraceLevel;
NORV_API extern int gNorvPluginTraceLevel;

class NORV_API Trace {
 public:
  // Output switches of m_TraceEnabled.
  static constexpr DWORD kFiles = 1;
  static constexpr DWORD kDebugger = 2;
  static constexpr DWORD kDefaultFileSize = 1048576;

  // Reads the user's "Trace" settings, applies the command line's overrides
  // (cmdInfo may be null) and opens the files. TRUE when tracing is on.
  static BOOL Start(const CNorvCommandLineInfo* cmdInfo);
  // Closes the files, deletes them unless they are to be kept, and switches
  // tracing off for the rest of the run.
  static void Stop();

  // Write the system version and the table of loaded modules (only those not
  // listed before) to the information file.
  static void DumpWindowsVersion();
  static void DumpLoadedModules(const NorvString& title);

  // A framework line and a plugin line (item may be null). The caller has
  // already checked the level.
  static void WriteLog(const char* file, int line, const NorvString& text);
  static void WriteLog(int pluginId, const CNorvTreeListItem* item, const char* file, int line,
                       const NorvString& text);

  // n > 0 adds n spaces to the indent, n < 0 removes |n| (down to none).
  static void Indent(int n);
  // The part of `path` after its last '/' or '\'; the whole path without one.
  static NorvString StripFileName(const NorvString& path);
  static NorvString StripFileName(const char* path);
  // "ID_NORV_ITEMCMD_..." for an item command, "<n> (0x<N>)" for any other id.
  static NorvString GetCmdName(UINT commandId);

  // Where plugin names come from (the plugin handler installs this); until
  // then plugin lines carry "Plugin <id>".
  static void SetPluginNameResolver(std::function<NorvString(int)> resolver);

  // The run's settings and state, for the host's diagnostics and tests.
  static DWORD GetTraceEnabled();
  static NorvString GetTraceLocation();
  static DWORD GetTraceFileSize();
  static int GetTraceKeepFiles();
  // Path and base name of this run's files, without suffix.
  static NorvString GetTraceFileName();
  static NorvString GetIndent();

 private:
  // One finished line to the debugger output and the log, with rotation.
  static void WriteLog(const NorvString& line);
  static void WriteLogUtf8(const std::string& line);  // with the trace lock held
  // Formatted text to the information file and the debugger output.
  static void WriteInfo(const wchar_t* format, ...);
  static void WriteInfoText(const NorvString& text);

  static DWORD m_TraceEnabled;
  static NorvString m_TraceLocation;
  static DWORD m_TraceFileSize;
  static int m_TraceKeepFiles;
  static NorvString m_TraceFileName;
};

// The level filters every trace line goes through. NorvBaseTrace: with a
// negative indent the line is outdented first, with a positive one the
// following lines are indented afterwards.
NORV_API void NorvBaseTrace(const char* file, int line, int level, int indent,
                            const NorvString& text);
NORV_API void NorvPluginTrace(int pluginId, const CNorvTreeListItem* item, const char* file,
                              int line, int level, const NorvString& text);

// printf-style formatting into a new string, with the Windows convention
// for wide formats (%s takes wide text, %S narrow). The second form takes
// the format from string resource `formatId` of the current resource module.
NORV_API NorvString NorvFormatString(const wchar_t* format, ...);
NORV_API NorvString NorvFormatString(UINT formatId, ...);
NORV_API NorvString NorvFormatStringV(const wchar_t* format, va_list args);

// "[class://id] @ 0x<address>", with "<prefix>: " in front when a prefix is
// given; "<NULL>" for a null item.
NORV_API NorvString NorvGetItemTraceInfo(const CNorvTreeListItem* item,
                                         const wchar_t* prefix = nullptr);
// The same text for any object from its parts.
NORV_API NorvString NorvFormatItemTraceInfo(const void* address, const NorvString& className,
                                            const NorvString& id,
                                            const wchar_t* prefix = nullptr);

// Only build the text when the line will be written.
#define NORV_BASE_TRACE(level, indent, text)                              \
  do {                                                                    \
    if ((level) <= gNorvBaseTraceLevel)                                   \
      NorvBaseTrace(__FILE__, __LINE__, (level), (indent), (text));       \
  } while (0)
#define NORV_PLUGIN_TRACE(pluginId, item, level, text)                    \
  do {                                                                    \
    if ((level) <= gNorvPluginTraceLevel)                                 \
      NorvPluginTrace((pluginId), (item), __FILE__, __LINE__, (level), (text)); \
  } while (0)
