// Diagnostics output: the debugger channel (standard error here) and the
// event log (syslog).
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

#include "platform/sysinfo.h"
#include "platform/text.h"

namespace plat {

void OutputDebugString(std::string_view text) {
  // Built whole first: one write keeps it in one piece on the terminal or in
  // a log file shared with other threads and processes.
  std::string out;
  out.reserve(text.size() + 16);
  size_t pos = 0;
  do {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    out += "[debug] ";
    out += line;
    out += '\n';
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
  } while (pos < text.size());
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::write(STDERR_FILENO, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void OutputDebugString(std::wstring_view text) { OutputDebugString(ToUtf8(text)); }

void ReportEvent(std::string_view source, EventType type, std::string_view text) {
  // openlog keeps the pointer it is given, so every source name stays stored
  // for the life of the process; the lock keeps name and message together.
  static std::mutex mutex;
  static std::set<std::string>* names = new std::set<std::string>;
  int priority = type == EventType::Error ? LOG_ERR
                 : type == EventType::Warning ? LOG_WARNING
                                              : LOG_INFO;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string& ident = *names->emplace(source).first;
  ::openlog(ident.c_str(), LOG_PID, LOG_USER);
  std::string message(text);
  ::syslog(priority, "%s", message.c_str());
}

}  // namespace plat
