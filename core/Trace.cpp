#include "norv/Trace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "norv/FileVersion.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

int gNorvBaseTraceLevel = 0;
int gNorvPluginTraceLevel = 0;

DWORD Trace::m_TraceEnabled = 0;
NorvString Trace::m_TraceLocation;
DWORD Trace::m_TraceFileSize = Trace::kDefaultFileSize;
int Trace::m_TraceKeepFiles = 0;
NorvString Trace::m_TraceFileName;

namespace {

// The levels are plain exported ints that plugins read and write; inside
// the framework they are accessed atomically so that a worker thread's line
// and a failed rotation on another thread do not race.
int LoadLevel(int& level) { return std::atomic_ref<int>(level).load(std::memory_order_relaxed); }
void StoreLevel(int& level, int value) {
  std::atomic_ref<int>(level).store(value, std::memory_order_relaxed);
}

// A trace file: written with one write per line, so that a line is whole on
// disk as soon as it is written and nothing is lost when the process dies.
// An exclusive advisory lock keeps other cooperating writers out.
class TraceFile {
 public:
  ~TraceFile() { Close(); }

  bool Create(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Lock before truncating, so a file that someone else is writing is
    // left alone.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    size_ = 0;
    return true;
  }

  // Opens an existing file for appending (after a failed rotation).
  bool Append(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool IsOpen() const { return fd_ >= 0; }

  bool Write(const std::string& bytes) {
    if (fd_ < 0) return false;
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      p += n;
      left -= static_cast<size_t>(n);
      size_ += static_cast<uint64_t>(n);
    }
    return true;
  }

  uint64_t Size() const { return size_; }

  void Close() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    fd_ = -1;
    size_ = 0;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Everything the writers share; one lock keeps lines from different threads
// apart and guards the indent and the files.
struct TraceState {
  std::mutex mutex;
  TraceFile log;
  TraceFile info;
  NorvString indent;
  std::set<std::string> dumpedModules;
  std::function<NorvString(int)> pluginName;
  // Cached "YYYY-mm-dd HH:MM:SS" of the last second a line was written in.
  time_t stampSecond = static_cast<time_t>(-1);
  std::string stamp;
};

TraceState& State() {
  static TraceState* state = new TraceState;  // lives until exit, for late lines
  return *state;
}

std::string Utf8Path(const NorvString& path) { return plat::ToUtf8(path); }

const std::string& TimeStamp(TraceState& s) {
  time_t now = time(nullptr);
  if (now != s.stampSecond) {
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    s.stamp = text;
    s.stampSecond = now;
  }
  return s.stamp;
}

// The application's message, or built-in wording when the host supplies no
// text, so that the user is still told.
NorvString MessageText(UINT id, const wchar_t* fallback) {
  NorvString text = plat::LoadString(id);
  return text.empty() ? NorvString(fallback) : text;
}

// Puts `value` in place of the one "%s" of a message text. The text comes
// from a resource module, so it is not handed to printf: a translation with
// a stray placeholder must not read arguments that are not there.
NorvString FillPlaceholder(const NorvString& format, const NorvString& value) {
  NorvString out;
  bool filled = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == L'%' && i + 1 < format.size()) {
      if (format[i + 1] == L'%') {
        out += L'%';
        ++i;
        continue;
      }
      if (format[i + 1] == L's' && !filled) {
        out += value;
        filled = true;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

NorvString PluginName(TraceState& s, int pluginId) {
  std::function<NorvString(int)> resolver;
  {
    // Copied out so that the resolver runs without the trace lock held.
    std::lock_guard<std::mutex> lock(s.mutex);
    resolver = s.pluginName;
  }
  NorvString name;
  if (resolver) name = resolver(pluginId);
  if (name.empty()) name = L"Plugin " + std::to_wstring(pluginId);
  return name;
}

std::string ComposeLine(const std::string& tag, const std::string& time, const NorvString& file,
                        int line, const NorvString& indent, const NorvString& itemInfo,
                        const NorvString& text) {
  std::string out;
  out.reserve(64 + text.size());
  out += '[';
  out += tag;
  out += "], ";
  out += time;
  out += ", ";
  out += plat::ToUtf8(file);
  out += '(';
  out += std::to_string(line);
  out += "), ";
  out += plat::ToUtf8(indent);
  if (!itemInfo.empty()) {
    out += plat::ToUtf8(itemInfo);
    out += ": ";
  }
  out += plat::ToUtf8(text);
  out += '\n';
  return out;
}

bool ReadSettingUInt(const CNorvRegistryKey& key, const wchar_t* name, UINT& value) {
  return key.GetUIntValue(name, value);
}

// The product type is a short string; anything over 128 bytes is not one.
bool ReadProductType(const CNorvRegistryKey& key, NorvString& value) {
  if (!key.IsOpen()) return false;
  DWORD type = 0;
  BYTE data[128];
  DWORD size = sizeof data;
  if (plat::RegQueryValueExW(key, L"ProductType", nullptr, &type, data, &size) !=
          plat::ERROR_SUCCESS ||
      (type != plat::REG_SZ && type != plat::REG_EXPAND_SZ))
    return false;
  std::u16string units;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  value = plat::FromUtf16(units);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Start and stop
// ---------------------------------------------------------------------------

BOOL Trace::Start(const CNorvCommandLineInfo* cmdInfo) {
  TraceState& s = State();
  std::unique_lock<std::mutex> lock(s.mutex);
  // A second Start begins afresh; the previous files are kept as they are.
  s.log.Close();
  s.info.Close();
  m_TraceEnabled = 0;
  m_TraceLocation.clear();
  m_TraceFileSize = kDefaultFileSize;
  m_TraceKeepFiles = 0;
  m_TraceFileName.clear();

  {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Trace", plat::KEY_ALL_ACCESS);
    UINT number = 0;
    if (ReadSettingUInt(key, L"Enabled", number)) m_TraceEnabled = number;
    NorvString location;
    if (key.GetStringValue(L"Location", location)) m_TraceLocation = location;
    if (ReadSettingUInt(key, L"FileSize", number)) m_TraceFileSize = number;
    if (ReadSettingUInt(key, L"KeepFiles", number)) m_TraceKeepFiles = static_cast<int>(number);
    if (ReadSettingUInt(key, L"Level", number)) {
      StoreLevel(gNorvBaseTraceLevel, static_cast<int>(number));
      StoreLevel(gNorvPluginTraceLevel, static_cast<int>(number));
    }
  }

  if (cmdInfo) {
    if (cmdInfo->m_bTraceEnabledGiven) m_TraceEnabled = cmdInfo->m_TraceEnabled;
    if (cmdInfo->m_bTraceLevelGiven) {
      StoreLevel(gNorvBaseTraceLevel, cmdInfo->m_TraceLevel);
      StoreLevel(gNorvPluginTraceLevel, cmdInfo->m_TraceLevel);
    }
    if (cmdInfo->m_bTraceLocationGiven) m_TraceLocation = cmdInfo->m_TraceLocation;
    if (cmdInfo->m_bTraceFileSizeGiven) m_TraceFileSize = cmdInfo->m_TraceFileSize;
    if (cmdInfo->m_bTraceKeepFilesGiven) m_TraceKeepFiles = cmdInfo->m_TraceKeepFiles;
  }

  // Messages are shown after the lock is released (a message box may run an
  // event loop that traces).
  NorvString message;
  if (m_TraceEnabled & kFiles) {
    if (m_TraceLocation.empty()) {
      message = MessageText(IDS_NORV_TRACE_NO_LOCATION,
                            L"Tracing is switched on, but no folder for the trace files is set. "
                            L"No trace files are written.");
      m_TraceEnabled &= ~kFiles;
    } else {
      if (m_TraceLocation.back() != L'/') m_TraceLocation += L'/';
      time_t now = time(nullptr);
      struct tm local;
      localtime_r(&now, &local);
      wchar_t stamp[32];
      wcsftime(stamp, 32, L"%Y%m%d_%H%M%S", &local);
      m_TraceFileName = plat::FormatW(L"%sNORV2.1_%s_%u", m_TraceLocation.c_str(), stamp,
                                      static_cast<unsigned>(getpid()));
      NorvString infoName = m_TraceFileName + L"_info.txt";
      NorvString logName = m_TraceFileName + L"_log.txt";
      const wchar_t* cannotCreate =
          L"The trace file %s could not be created. No trace files are written.";
      if (!s.info.Create(Utf8Path(infoName))) {
        message = FillPlaceholder(MessageText(IDS_NORV_TRACE_FILE_FAILED, cannotCreate), infoName);
        m_TraceEnabled &= ~kFiles;
      } else if (!s.log.Create(Utf8Path(logName))) {
        message = FillPlaceholder(MessageText(IDS_NORV_TRACE_FILE_FAILED, cannotCreate), logName);
        m_TraceEnabled &= ~kFiles;
        // The information file was made by this run and will never be
        // written or cleaned up by Stop: do not leave it behind.
        s.info.Close();
        ::unlink(Utf8Path(infoName).c_str());
      }
    }
  }

  BOOL result = TRUE;
  if (m_TraceEnabled == 0) {
    StoreLevel(gNorvBaseTraceLevel, -1);
    StoreLevel(gNorvPluginTraceLevel, -1);
    result = FALSE;
  }
  lock.unlock();
  if (!message.empty()) NorvAppMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
  return result;
}

void Trace::Stop() {
  TraceState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (m_TraceEnabled & kFiles) {
    s.info.Close();
    s.log.Close();
    if (m_TraceKeepFiles == 0) {
      for (const wchar_t* suffix : {L"_info.txt", L"_log.txt", L"_log.old"})
        ::unlink(Utf8Path(m_TraceFileName + suffix).c_str());
    }
    // The files are gone or closed for good: nothing may write to them now.
    m_TraceEnabled &= ~kFiles;
  }
  StoreLevel(gNorvBaseTraceLevel, -1);
  StoreLevel(gNorvPluginTraceLevel, -1);
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

void Trace::WriteLog(const char* file, int line, const NorvString& text) {
  if (LoadLevel(gNorvBaseTraceLevel) < 0) return;
  TraceState& s = State();
  NorvString fileName = StripFileName(file);
  std::lock_guard<std::mutex> lock(s.mutex);
  WriteLogUtf8(ComposeLine("Core", TimeStamp(s), fileName, line, s.indent, {}, text));
}

void Trace::WriteLog(int pluginId, const CNorvTreeListItem* item, const char* file, int line,
                     const NorvString& text) {
  if (LoadLevel(gNorvPluginTraceLevel) < 0) return;
  TraceState& s = State();
  NorvString fileName = StripFileName(file);
  NorvString name = PluginName(s, pluginId);
  NorvString itemInfo = item ? NorvGetItemTraceInfo(item) : NorvString();
  std::lock_guard<std::mutex> lock(s.mutex);
  WriteLogUtf8(
      ComposeLine(plat::ToUtf8(name), TimeStamp(s), fileName, line, s.indent, itemInfo, text));
}

void Trace::WriteLog(const NorvString& line) {
  std::lock_guard<std::mutex> lock(State().mutex);
  WriteLogUtf8(plat::ToUtf8(line));
}

// Called with the trace lock held.
void Trace::WriteLogUtf8(const std::string& line) {
  TraceState& s = State();
  if (m_TraceEnabled & kDebugger) {
    std::string copy = "NORV2.1 Log: " + line;
    if (copy.back() == '\n') copy.pop_back();
    plat::OutputDebugString(std::string_view(copy));
  }
  if (!(m_TraceEnabled & kFiles) || !s.log.IsOpen()) return;
  s.log.Write(line);
  if (s.log.Size() <= m_TraceFileSize) return;

  // Rotate: the full log becomes the one old generation (rename replaces a
  // previous one) and a new log starts. If the rename fails the log is
  // reopened for appending, so that its content is never truncated away.
  s.log.Close();
  std::string current = Utf8Path(m_TraceFileName + L"_log.txt");
  std::string old = Utf8Path(m_TraceFileName + L"_log.old");
  bool reopened = ::rename(current.c_str(), old.c_str()) == 0 ? s.log.Create(current)
                                                               : s.log.Append(current);
  if (!reopened) {
    StoreLevel(gNorvBaseTraceLevel, -1);
    StoreLevel(gNorvPluginTraceLevel, -1);
  }
}

void Trace::WriteInfo(const wchar_t* format, ...) {
  if (LoadLevel(gNorvBaseTraceLevel) < 0) return;
  va_list args;
  va_start(args, format);
  NorvString text = plat::FormatWV(format, args);
  va_end(args);
  WriteInfoText(text);
}

void Trace::WriteInfoText(const NorvString& text) {
  if (LoadLevel(gNorvBaseTraceLevel) < 0) return;
  TraceState& s = State();
  std::string utf8 = plat::ToUtf8(text);
  std::lock_guard<std::mutex> lock(s.mutex);
  if ((m_TraceEnabled & kFiles) && s.info.IsOpen()) s.info.Write(utf8);
  if (m_TraceEnabled & kDebugger) {
    std::string copy = "NORV2.1 Info: " + utf8;
    while (!copy.empty() && (copy.back() == '\n' || copy.back() == '\r')) copy.pop_back();
    plat::OutputDebugString(std::string_view(copy));
  }
}

// ---------------------------------------------------------------------------
// Indent, names
// ---------------------------------------------------------------------------

void Trace::Indent(int n) {
  TraceState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (n > 0) {
    s.indent.append(static_cast<size_t>(n), L' ');
  } else if (n < 0) {
    size_t remove = static_cast<size_t>(-static_cast<long long>(n));
    s.indent.resize(remove >= s.indent.size() ? 0 : s.indent.size() - remove);
  }
}

NorvString Trace::StripFileName(const NorvString& path) {
  size_t slash = path.find_last_of(L"/\\");
  return slash == NorvString::npos ? path : path.substr(slash + 1);
}

NorvString Trace::StripFileName(const char* path) {
  return StripFileName(plat::FromUtf8(path ? path : ""));
}

NorvString Trace::GetCmdName(UINT commandId) {
  if (const wchar_t* name = NorvItemCommandName(commandId)) return name;
  return plat::FormatW(L"%d (0x%X)", static_cast<int>(commandId), commandId);
}

void Trace::SetPluginNameResolver(std::function<NorvString(int)> resolver) {
  TraceState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.pluginName = std::move(resolver);
}

DWORD Trace::GetTraceEnabled() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return m_TraceEnabled;
}
NorvString Trace::GetTraceLocation() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return m_TraceLocation;
}
DWORD Trace::GetTraceFileSize() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return m_TraceFileSize;
}
int Trace::GetTraceKeepFiles() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return m_TraceKeepFiles;
}
NorvString Trace::GetTraceFileName() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return m_TraceFileName;
}
NorvString Trace::GetIndent() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().indent;
}

// ---------------------------------------------------------------------------
// Information file
// ---------------------------------------------------------------------------

void Trace::DumpWindowsVersion() {
  WriteInfo(L"Windows Version Information:\n\n");
  WriteInfo(L"Platform:    ");
  plat::OSVersionInfo version;
  if (!plat::GetVersionEx(&version)) return;
  switch (version.platformId) {
    case plat::VER_PLATFORM_WIN32s:
      WriteInfo(L"Win32s on 16 Bit Windows\n");
      break;
    case plat::VER_PLATFORM_WIN32_WINDOWS:
      WriteInfo(L"32 Bit Windows\n");
      break;
    case plat::VER_PLATFORM_WIN32_NT: {
      WriteInfo(L"Windows NT");
      CNorvRegistryKey key(plat::HKEY_LOCAL_MACHINE,
                           L"System\\CurrentControlSet\\Control\\ProductOptions", plat::KEY_READ);
      NorvString productType;
      if (ReadProductType(key, productType)) {
        if (plat::CompareNoCase(productType, L"WinNT") == 0)
          WriteInfo(L" Workstation");
        else if (plat::CompareNoCase(productType, L"ServerNT") == 0)
          WriteInfo(L" Server");
        else
          WriteInfo(L" Server - Domain Controller");
      }
      WriteInfo(L"\n");
      break;
    }
    default:
      WriteInfo(L"Unknown\n");
      break;
  }
  NorvString servicePack = plat::FromUtf8(version.servicePack);
  WriteInfo(L"Version:     %lu.%lu.%lu\nServicepack: %s\n\n",
            static_cast<unsigned long>(version.majorVersion),
            static_cast<unsigned long>(version.minorVersion),
            static_cast<unsigned long>(version.buildNumber & 0xFFFF), servicePack.c_str());
}

void Trace::DumpLoadedModules(const NorvString& title) {
  // Reading every module's version record is not free; skip it when nothing
  // would be written.
  if (LoadLevel(gNorvBaseTraceLevel) < 0) return;
  TraceState& s = State();
  // Each file once, at the address of its first mapping (the maps are in
  // address order). Only file-backed mappings are modules.
  std::vector<std::pair<std::string, unsigned long long>> modules;
  {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    std::set<std::string> seen;
    while (std::getline(maps, line)) {
      unsigned long long start = 0, end = 0;
      int pathAt = -1;
      if (std::sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %n", &start, &end, &pathAt) < 2 ||
          pathAt < 0 || static_cast<size_t>(pathAt) >= line.size())
        continue;
      std::string path = line.substr(static_cast<size_t>(pathAt));
      if (path.empty() || path[0] != '/') continue;  // anonymous, [heap], [stack], ...
      if (path.size() > 10 && path.compare(path.size() - 10, 10, " (deleted)") == 0) continue;
      if (!seen.insert(path).second) continue;
      modules.emplace_back(path, start);
    }
  }

  bool headerWritten = false;
  for (const auto& [path, base] : modules) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (!s.dumpedModules.insert(path).second) continue;
    }
    CFileVersion version;
    if (!version.Open(plat::FromUtf8(path))) continue;
    if (!headerWritten) {
      WriteInfo(L"%s:\n\n", title.c_str());
      WriteInfo(L"Module       Base Address File Version        Product Version     Path\n");
      WriteInfo(L"------------ ------------ ------------------- ---------------     ----\n");
      headerWritten = true;
    }
    // Addresses are printed whole: on a 64-bit system they need more than
    // eight digits.
    WriteInfo(L"%-12s 0x%08llX   %-19s %-19s %s\r\n", version.GetFileName().c_str(), base,
              version.GetFixedFileVersion().c_str(), version.GetFixedProductVersion().c_str(),
              plat::FromUtf8(path).c_str());
  }
  WriteInfo(L"\n");
}

// ---------------------------------------------------------------------------
// Free functions
// ---------------------------------------------------------------------------

void NorvBaseTrace(const char* file, int line, int level, int indent, const NorvString& text) {
  if (level > LoadLevel(gNorvBaseTraceLevel)) return;
  if (indent < 0) Trace::Indent(indent);
  Trace::WriteLog(file, line, text);
  if (indent > 0) Trace::Indent(indent);
}

void NorvPluginTrace(int pluginId, const CNorvTreeListItem* item, const char* file, int line,
                     int level, const NorvString& text) {
  if (level > LoadLevel(gNorvPluginTraceLevel)) return;
  Trace::WriteLog(pluginId, item, file, line, text);
}

NorvString NorvFormatStringV(const wchar_t* format, va_list args) {
  if (!format) return {};
  return plat::FormatWV(format, args);
}

NorvString NorvFormatString(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  NorvString text = NorvFormatStringV(format, args);
  va_end(args);
  return text;
}

NorvString NorvFormatString(UINT formatId, ...) {
  NorvString format = plat::LoadString(formatId);
  if (format.empty()) return {};
  va_list args;
  va_start(args, formatId);
  NorvString text = NorvFormatStringV(format.c_str(), args);
  va_end(args);
  return text;
}

NorvString NorvFormatItemTraceInfo(const void* address, const NorvString& className,
                                   const NorvString& id, const wchar_t* prefix) {
  // The address in the fixed-width upper-case form Windows prints for %p.
  NorvString pointer = plat::FormatW(L"%0*llX", static_cast<int>(sizeof(void*) * 2),
                                     static_cast<unsigned long long>(
                                         reinterpret_cast<uintptr_t>(address)));
  NorvString text = L"[" + className + L"://" + id + L"] @ 0x" + pointer;
  return prefix ? NorvString(prefix) + L": " + text : text;
}

NorvString NorvGetItemTraceInfo(const CNorvTreeListItem* item, const wchar_t* prefix) {
  if (!item) return prefix ? NorvString(prefix) + L": <NULL>" : NorvString(L"<NULL>");
  return NorvFormatItemTraceInfo(item, item->GetClassName(), item->Id(), prefix);
}

// ---------------------------------------------------------------------------
// Application message boxes
// ---------------------------------------------------------------------------

namespace {

std::mutex gHookMutex;
NorvMessageBoxHook& Hook() {
  static NorvMessageBoxHook hook;
  return hook;
}

int DefaultButton(UINT type) {
  int index = static_cast<int>((type & MB_DEFMASK) >> 8);
  static const int buttons[][3] = {
      {IDOK, IDOK, IDOK},           {IDOK, IDCANCEL, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},      {IDYES, IDNO, IDNO},        {IDRETRY, IDCANCEL, IDCANCEL}};
  UINT kind = type & MB_TYPEMASK;
  if (kind > 5) return IDOK;
  return buttons[kind][index > 2 ? 0 : index];
}

}  // namespace

NorvMessageBoxHook NorvSetMessageBoxHook(NorvMessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  NorvMessageBoxHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

int NorvAppMessageBox(const NorvString& text, UINT type) {
  NorvMessageBoxHook hook;
  {
    std::lock_guard<std::mutex> lock(gHookMutex);
    hook = Hook();
  }
  NorvString caption = MessageText(IDS_NORV_CAPTION, L"Norv Explorer");
  if (hook) return hook(text, caption, type);
  std::string line = plat::ToUtf8(caption) + ": " + plat::ToUtf8(text) + "\n";
  ::write(STDERR_FILENO, line.data(), line.size());
  return DefaultButton(type);
}

int NorvAppMessageBox(UINT id, UINT type) { return NorvAppMessageBox(plat::LoadString(id), type); }
