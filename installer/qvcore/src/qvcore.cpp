// Start-up, paths, text and file operations of the core library. The tree
// databases are in qvdb.cpp, the entry table in entries.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/sysinfo.h"
#include "qv/qvcore.h"
#include "qvcore_internal.h"

namespace {

std::mutex gMutex;
int gStarts = 0;
int gServer = -1;  // mode of the first start; -1 before any

struct FindState {
  std::string path;
};
std::map<int, FindState> gFinds;
int gNextFind = 1;

int CopyOut(const std::string& text, char* buffer, int size) {
  if (!buffer || size <= 0 || text.size() >= static_cast<std::size_t>(size)) return -1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

std::string StripSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

// A value of the product's CurrentVersion key, the user's before the machine's.
std::string ProductValue(const char* valueName) {
  int server;
  {
    std::lock_guard lock(gMutex);
    server = gServer;
  }
  const char* keys[2];
  int keyCount = 0;
  if (server != 0) keys[keyCount++] = "Software\\Velmora\\Orbserver\\CurrentVersion";
  if (server != 1) keys[keyCount++] = "Software\\Velmora\\Orbclient\\CurrentVersion";
  for (int k = 0; k < keyCount; ++k) {
    for (plat::HKEY root : {plat::HKEY_CURRENT_USER, plat::HKEY_LOCAL_MACHINE}) {
      std::string value;
      if (qvcore::ReadRegistryString(root, keys[k], valueName, &value) && !value.empty())
        return value;
    }
  }
  return {};
}

std::uint32_t ToDos(time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  if (local.tm_year < 80) return (1u << 21) | (1u << 16);  // DOS dates start in 1980
  return (static_cast<std::uint32_t>(local.tm_year - 80) << 25) |
         (static_cast<std::uint32_t>(local.tm_mon + 1) << 21) |
         (static_cast<std::uint32_t>(local.tm_mday) << 16) |
         (static_cast<std::uint32_t>(local.tm_hour) << 11) |
         (static_cast<std::uint32_t>(local.tm_min) << 5) |
         static_cast<std::uint32_t>(local.tm_sec / 2);
}

bool FromDos(std::uint32_t dos, struct tm* out) {
  std::memset(out, 0, sizeof *out);
  out->tm_year = static_cast<int>(dos >> 25) + 80;
  out->tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  out->tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  out->tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  out->tm_min = static_cast<int>((dos >> 5) & 0x3F);
  out->tm_sec = static_cast<int>(dos & 0x1F) * 2;
  out->tm_isdst = -1;
  return out->tm_mon >= 0 && out->tm_mon < 12 && out->tm_mday >= 1 && out->tm_hour < 24 &&
         out->tm_min < 60 && out->tm_sec < 60;
}

}  // namespace

namespace qvcore {

bool ReadRegistryString(plat::HKEY root, const char* keyName, const char* valueName,
                        std::string* value) {
  return plat::RegReadTextA(root, keyName, valueName, 1024, value);
}

}  // namespace qvcore

// ---- Start-up --------------------------------------------------------------

extern "C" int qvStartup(int server) {
  std::lock_guard lock(gMutex);
  if (gStarts == 0) gServer = server ? 1 : 0;
  ++gStarts;
  return 0;
}

extern "C" int qvShutDown(void) {
  std::lock_guard lock(gMutex);
  if (gStarts == 0) return -1;
  if (--gStarts == 0) gServer = -1;
  return gStarts;
}

// ---- Paths and text --------------------------------------------------------

extern "C" int qvGetAppPath(char* buffer, int size) {
  std::string path = ProductValue("InstallDir");
  if (path.empty()) path = plat::FolderOf(plat::ModulePath(reinterpret_cast<const void*>(&qvGetAppPath)));
  return CopyOut(StripSeparator(path), buffer, size);
}

extern "C" int qvGetDataPath(char* buffer, int size) {
  std::string path = ProductValue("DataDir");
  if (path.empty()) return qvGetAppPath(buffer, size);
  return CopyOut(StripSeparator(path), buffer, size);
}

extern "C" int qvAddPathSeparator(char* path, int size) {
  if (!path || size <= 0) return -1;
  std::size_t length = strnlen(path, static_cast<std::size_t>(size));
  if (length >= static_cast<std::size_t>(size)) return -1;
  if (length > 0 && (path[length - 1] == '/' || path[length - 1] == '\\'))
    return static_cast<int>(length);
  if (length + 2 > static_cast<std::size_t>(size)) return -1;
  path[length] = '/';
  path[length + 1] = '\0';
  return static_cast<int>(length + 1);
}

extern "C" int qvGetFileName(const char* path, char* buffer, int size) {
  if (!path) return -1;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return CopyOut(name, buffer, size);
}

extern "C" int qvGetTempFileName(const char* folder, const char* prefix, char* buffer) {
  if (!buffer) return -1;
  std::string dir = folder && *folder ? std::string(folder) : plat::TempPath();
  if (dir.back() != '/') dir += '/';
  std::string pattern = dir + (prefix ? prefix : "") + "XXXXXX";
  if (pattern.size() >= static_cast<std::size_t>(QV_MAX_PATH)) return -1;
  char name[QV_MAX_PATH];
  std::memcpy(name, pattern.c_str(), pattern.size() + 1);
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) return -1;
  close(fd);
  std::memcpy(buffer, name, pattern.size() + 1);
  return 0;
}

extern "C" int qvULongToHexString(std::uint32_t value, char* buffer) {
  if (!buffer) return -1;
  std::snprintf(buffer, 9, "%08X", value);
  return 8;
}

extern "C" std::uint32_t qvPtrToUInt32(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

extern "C" int qvDirectoryNameTrim(const char* path, char* buffer, int maxChars) {
  if (!path || !buffer || maxChars < 0) return -1;
  std::string text = path;
  if (text.size() <= static_cast<std::size_t>(maxChars)) return CopyOut(text, buffer, maxChars + 1);
  // Keep the first folder and as many trailing parts as fit, "..." between.
  std::size_t firstEnd = text.find('/', 1);
  std::string head = firstEnd == std::string::npos ? std::string() : text.substr(0, firstEnd + 1);
  std::size_t tailStart = text.size();
  for (std::size_t pos = text.size(); pos-- > 0;) {
    if (text[pos] != '/') continue;
    if (head.size() + 3 + (text.size() - pos) > static_cast<std::size_t>(maxChars)) break;
    tailStart = pos;
  }
  std::string result;
  if (tailStart < text.size() && tailStart >= head.size()) {
    result = head + "..." + text.substr(tailStart);
  } else if (maxChars >= 3) {
    result = "..." + text.substr(text.size() - static_cast<std::size_t>(maxChars - 3));
  } else {
    result = text.substr(text.size() - static_cast<std::size_t>(maxChars));
  }
  return CopyOut(result, buffer, maxChars + 1);
}

extern "C" std::uint32_t qvGetCurrentDosDateTime(void) { return ToDos(std::time(nullptr)); }

extern "C" int qvDateTimeToString(std::uint32_t dosDateTime, char* buffer, int size) {
  struct tm t {};
  FromDos(dosDateTime, &t);
  char text[64];
  int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                             t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return CopyOut(std::string(text, static_cast<std::size_t>(length)), buffer, size);
}

// ---- Files and folders -----------------------------------------------------

extern "C" int qvFileCheckExist(const char* path) {
  struct stat st {};
  return path && stat(path, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

extern "C" std::uint32_t qvFileGetSize(const char* path) {
  struct stat st {};
  if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return st.st_size > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(st.st_size);
}

extern "C" int qvFileFindFirst(const char* pattern) {
  if (!pattern || !*pattern) return -1;
  glob_t found {};
  std::string path;
  if (glob(pattern, GLOB_NOSORT, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc && path.empty(); ++i) {
      struct stat st {};
      if (stat(found.gl_pathv[i], &st) == 0 && S_ISREG(st.st_mode)) path = found.gl_pathv[i];
    }
  }
  globfree(&found);
  if (path.empty()) return -1;
  std::lock_guard lock(gMutex);
  int handle = gNextFind++;
  if (gNextFind <= 0) gNextFind = 1;
  gFinds[handle] = FindState{path};
  return handle;
}

extern "C" std::uint32_t qvFileFindGetDosDateTime(int findHandle) {
  std::string path;
  {
    std::lock_guard lock(gMutex);
    auto it = gFinds.find(findHandle);
    if (it == gFinds.end()) return 0;
    path = it->second.path;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return ToDos(st.st_mtime);
}

extern "C" int qvFileFindClose(int findHandle) {
  std::lock_guard lock(gMutex);
  return gFinds.erase(findHandle) ? 0 : -1;
}

extern "C" int qvFileCopy(const char* source, const char* target, int failIfExists) {
  if (!source || !target) return -1;
  // Neither end is followed through a symbolic link: a link planted where a
  // copy is read or written must not lead it to another file.
  int in = open(source, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat from {};
  if (fstat(in, &from) != 0 || !S_ISREG(from.st_mode)) {
    close(in);
    return -1;
  }
  // Copying a file onto itself would truncate it before it is read.
  struct stat to {};
  if (stat(target, &to) == 0 && to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
    close(in);
    return -1;
  }
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = open(target, flags, from.st_mode & 0777);
  if (out < 0) {
    close(in);
    return -1;
  }
  // A replaced file keeps its own mode through O_TRUNC; take the source's.
  fchmod(out, from.st_mode & 0777);
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  if (ok) {
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    futimens(out, times);
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) unlink(target);
  return ok ? 0 : -1;
}

extern "C" int qvFileDelete(const char* path) { return path && unlink(path) == 0 ? 0 : -1; }

extern "C" int qvFileSetDateTime(const char* path, std::uint32_t dosDateTime) {
  struct tm t {};
  if (!path || !FromDos(dosDateTime, &t)) return -1;
  time_t when = mktime(&t);
  if (when == static_cast<time_t>(-1)) return -1;
  struct timespec times[2] = {{when, 0}, {when, 0}};
  return utimensat(AT_FDCWD, path, times, 0) == 0 ? 0 : -1;
}

extern "C" int qvDirectoryCreateIfNotExist(const char* path) {
  if (!path || !*path) return 1;
  std::string dir = StripSeparator(path);
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return 1;
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : 1;
}

extern "C" int qvDirectoryCreate(const char* path) {
  return path && mkdir(StripSeparator(path).c_str(), 0755) == 0 ? 1 : 0;
}
