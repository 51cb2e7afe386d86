#include "qx/qxtrace.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

// The file is looked up on every call: the environment or the registry may
// change while a long-running host keeps the library loaded.
std::string TraceFileName() {
  if (const char* env = std::getenv("QXTRACE_FILE"); env && *env) return env;
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\qxTrace", 0,
                          plat::KEY_QUERY_VALUE, &key) != plat::ERROR_SUCCESS)
    return {};
  char value[1024] = {};
  plat::DWORD type = 0, size = sizeof value - 1;
  plat::LONG rc = plat::RegQueryValueExA(key, "TraceFile", nullptr, &type,
                                         reinterpret_cast<plat::BYTE*>(value), &size);
  plat::RegCloseKey(key);
  if (rc != plat::ERROR_SUCCESS || (type != plat::REG_SZ && type != plat::REG_EXPAND_SZ))
    return {};
  return std::string(value);  // stops at the terminating zero
}

}  // namespace

extern "C" int qxtTrace(const char* format, ...) {
  if (!format) return -1;
  std::string path = TraceFileName();
  if (path.empty()) return 0;

  struct timeval now {};
  gettimeofday(&now, nullptr);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  char prefix[64];
  int prefixLength = std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%d] ",
                                   local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec,
                                   static_cast<int>(now.tv_usec / 1000), static_cast<int>(getpid()));

  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int textLength = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (textLength < 0) {
    va_end(args);
    return -1;
  }
  std::vector<char> text(static_cast<std::size_t>(textLength) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  std::string line(prefix, static_cast<std::size_t>(prefixLength));
  line.append(text.data(), static_cast<std::size_t>(textLength));
  // A text that already ends its line keeps it; every line ends with one newline.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  line += '\n';

  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
  return written == static_cast<ssize_t>(line.size()) ? static_cast<int>(written) : -1;
}
