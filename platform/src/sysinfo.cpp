// System information in the shape of the Windows calls the system was written
// against.
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/library.h"
#include "platform/sysinfo.h"

namespace plat {
namespace {

// Reads the leading decimal number of `s` from `pos`, moving past it and one
// following separator.
DWORD NextNumber(const char* s, size_t& pos) {
  DWORD value = 0;
  bool any = false;
  while (s[pos] >= '0' && s[pos] <= '9') {
    value = value * 10 + static_cast<DWORD>(s[pos++] - '0');
    any = true;
  }
  if (any && s[pos] == '.') ++pos;
  return value;
}

}  // namespace

BOOL GetVersionEx(OSVersionInfo* info) {
  if (!info) return FALSE;
  struct utsname names;
  if (::uname(&names) != 0) return FALSE;
  size_t pos = 0;
  info->majorVersion = NextNumber(names.release, pos);
  info->minorVersion = NextNumber(names.release, pos);
  info->buildNumber = NextNumber(names.release, pos);
  info->platformId = VER_PLATFORM_WIN32_NT;
  info->servicePack = names.version;
  return TRUE;
}

std::string UserName() {
  uid_t uid = ::geteuid();
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
  for (;;) {
    struct passwd entry;
    struct passwd* found = nullptr;
    int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc == 0 && found && found->pw_name && *found->pw_name) return found->pw_name;
    break;
  }
  for (const char* name : {"LOGNAME", "USER"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return std::to_string(uid);
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string TempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string ModulePath(const void* address) {
  if (!address) return ModuleFileName(nullptr);
  HMODULE module = ModuleFromAddress(address);
  return module ? ModuleFileName(module) : std::string();
}

std::string FolderOf(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

}  // namespace plat
