// The Windows profile functions over ProfileDocument. Each call reads the
// file afresh (no cache, so other writers are seen at once); a write replaces
// the file atomically so that a crash never leaves half a settings file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/profile.h"

namespace plat {
namespace {

// Serialises read-modify-write cycles of this process, so that two threads
// writing different keys of one file do not lose each other's change.
std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

// Reads a whole file. A missing file reads as empty with `exists` false;
// other failures return false.
bool ReadWholeFile(const char* path, std::string* content, bool* exists) {
  content->clear();
  *exists = false;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      ::close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  *exists = true;
  return true;
}

ProfileDocument Load(const char* fileName) {
  std::string content;
  bool exists = false;
  if (!fileName || !ReadWholeFile(fileName, &content, &exists)) return {};
  return ProfileDocument::Parse(content);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes `content` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`, so readers see either the old or the new file.
bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  // A symbolic link stays a link: its target is what gets replaced.
  std::string target = path;
  struct stat lst;
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string prefix = (slash == std::string::npos ? std::string() : folder) + "." + base + ".tmp";

  struct stat old;
  bool hadFile = ::stat(target.c_str(), &old) == 0;

  static thread_local std::mt19937 random{std::random_device{}()};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + std::to_string(random() % 1000000000u);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (hadFile) {
    // Keep the permissions (and, when allowed, the owner) of the file replaced.
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
      (void)!::fchown(fd, old.st_uid, old.st_gid);
  }
  ok = ok && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return false;
  }
  // Make the rename itself durable.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// Reads the file, lets `edit` change the document and writes it back when
// anything changed. A missing file is created unless the edit left it empty.
template <typename Edit>
BOOL Modify(const char* fileName, Edit edit) {
  if (!fileName || !*fileName) {
    errno = EINVAL;
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WriteMutex());
  std::string content;
  bool exists = false;
  if (!ReadWholeFile(fileName, &content, &exists)) return FALSE;
  ProfileDocument doc = ProfileDocument::Parse(content);
  edit(doc);
  std::string updated = doc.Serialize();
  if (updated == content && (exists || updated.empty())) return TRUE;
  return ReplaceFileAtomically(fileName, updated) ? TRUE : FALSE;
}

DWORD CopyString(const std::string& text, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// Zero-separated strings ending in two zeros; a list that does not fit is cut
// and still ends in two zeros, and the result is size - 2.
DWORD CopyList(const std::vector<std::string>& items, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string joined;
  for (const std::string& item : items) {
    joined += item;
    joined += '\0';
  }
  if (joined.empty()) {
    buffer[0] = buffer[1] = '\0';
    return 0;
  }
  if (joined.size() + 1 <= size) {
    std::memcpy(buffer, joined.data(), joined.size());
    buffer[joined.size()] = '\0';
    return static_cast<DWORD>(joined.size());
  }
  std::memcpy(buffer, joined.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
  if (!buffer || size == 0) return 0;
  ProfileDocument doc = Load(fileName);
  if (!section) return CopyList(doc.SectionNames(), buffer, size);
  std::string fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  if (!key) {
    // Windows gives the default (as one string) for a section without keys.
    std::vector<std::string> keys = doc.Keys(section);
    if (!keys.empty() || fallback.empty()) return CopyList(keys, buffer, size);
    DWORD n = CopyString(fallback, buffer, size);
    if (n + 1 < size) buffer[n + 1] = '\0';  // still a valid list
    return n;
  }
  std::string value;
  // An empty key name always reads the default, as on Windows.
  if (*key && doc.Get(section, key, &value)) return CopyString(value, buffer, size);
  return CopyString(fallback, buffer, size);
}

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName) {
  if (!section || !key) return static_cast<UINT>(defaultValue);
  std::string value;
  if (!Load(fileName).Get(section, key, &value) || value.empty())
    return static_cast<UINT>(defaultValue);
  size_t i = 0;
  bool negative = false;
  if (value[i] == '-' || value[i] == '+') negative = value[i++] == '-';
  // Windows wraps around rather than saturating.
  UINT result = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    result = result * 10u + static_cast<UINT>(value[i] - '0');
  return negative ? 0u - result : result;
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
  if (!section) {
    // With everything null Windows only flushes its cache; there is none here.
    return (!key && !value) ? TRUE : FALSE;
  }
  std::string sectionName = section;
  if (!ProfileDocument::IsValidSectionName(sectionName)) {
    errno = EINVAL;
    return FALSE;
  }
  if (!key) return Modify(fileName, [&](ProfileDocument& doc) { doc.RemoveSection(sectionName); });
  std::string keyName = key;
  if (!ProfileDocument::IsValidKey(keyName)) {
    errno = EINVAL;
    return FALSE;
  }
  if (!value)
    return Modify(fileName, [&](ProfileDocument& doc) { doc.RemoveKey(sectionName, keyName); });
  std::string text = value;
  if (!ProfileDocument::IsValidValue(text)) {
    errno = EINVAL;
    return FALSE;
  }
  return Modify(fileName, [&](ProfileDocument& doc) { doc.Set(sectionName, keyName, text); });
}

DWORD GetPrivateProfileSectionA(const char* section, char* buffer, DWORD size,
                                const char* fileName) {
  if (!buffer || size == 0) return 0;
  std::vector<std::string> lines;
  if (section)
    for (const auto& [key, value] : Load(fileName).Entries(section))
      lines.push_back(key + "=" + value);
  return CopyList(lines, buffer, size);
}

BOOL WritePrivateProfileSectionA(const char* section, const char* keysAndValues,
                                 const char* fileName) {
  if (!section) {
    errno = EINVAL;
    return FALSE;
  }
  std::string sectionName = section;
  if (!ProfileDocument::IsValidSectionName(sectionName)) {
    errno = EINVAL;
    return FALSE;
  }
  if (!keysAndValues)
    return Modify(fileName, [&](ProfileDocument& doc) { doc.RemoveSection(sectionName); });
  std::vector<std::string> lines;
  for (const char* p = keysAndValues; *p; p += std::strlen(p) + 1) {
    std::string line = p;
    // Each string must stay one entry line.
    if (line.find_first_of("\r\n") != std::string::npos) {
      errno = EINVAL;
      return FALSE;
    }
    ProfileDocument probe = ProfileDocument::Parse(line);
    if (!probe.Lines().empty() && probe.Lines()[0].kind == ProfileDocument::Line::Section) {
      errno = EINVAL;
      return FALSE;
    }
    lines.push_back(std::move(line));
  }
  return Modify(fileName,
                [&](ProfileDocument& doc) { doc.ReplaceSectionLines(sectionName, lines); });
}

}  // namespace plat
