// The per-user folder of the registered-message service and the checks on
// the socket files in it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "messages_internal.h"
#include "platform/messages.h"

namespace plat {

std::string MessageDirectory() {
  const char* own = std::getenv("NORV_RUNTIME_DIR");
  if (own && *own) return own;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/norv";
  return "/tmp/norv-" + std::to_string(static_cast<unsigned long>(geteuid()));
}

namespace messages {
namespace {

// mkdir -p, each new level private to the user.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return false;
  if (!MakeFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Seconds since the epoch at which process `pid` started; 0 when unknown.
std::time_t ProcessStartTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // The command name may hold spaces and parentheses: fields follow the last ')'.
  std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  unsigned long long startTicks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) startTicks = std::strtoull(field.c_str(), nullptr, 10);
  }
  std::ifstream global("/proc/stat");
  unsigned long long bootTime = 0;
  while (std::getline(global, line)) {
    if (line.compare(0, 6, "btime ") == 0) bootTime = std::strtoull(line.c_str() + 6, nullptr, 10);
  }
  long ticks = sysconf(_SC_CLK_TCK);
  if (bootTime == 0 || startTicks == 0 || ticks <= 0) return 0;
  return static_cast<std::time_t>(bootTime + startTicks / static_cast<unsigned long long>(ticks));
}

}  // namespace

bool PrepareDirectory(std::string* dir) {
  *dir = MessageDirectory();
  if (!MakeFolders(*dir)) return false;
  struct stat st {};
  if (::lstat(dir->c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    errno = EACCES;
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(dir->c_str(), 0700) != 0) return false;
  return true;
}

bool ParseSocketName(const char* name, pid_t* pid) {
  // Exactly: digits, '-', digits, ".sock".
  unsigned long long value = 0;
  const char* p = name;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 0x7FFFFFFF) return false;
  }
  if (p == name || *p++ != '-') return false;
  const char* serial = p;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == serial || std::strcmp(p, ".sock") != 0 || value == 0) return false;
  *pid = static_cast<pid_t>(value);
  return true;
}

bool SocketIsOrphaned(const std::string& path, pid_t pid) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
  // The pid is in use again: the file is an orphan if it is clearly older
  // than the process now carrying that pid (a second of slack for rounding).
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  std::time_t started = ProcessStartTime(pid);
  return started != 0 && st.st_mtime + 2 < started;
}

}  // namespace messages
}  // namespace plat
