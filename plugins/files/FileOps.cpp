// File system operations of the Files plugin.
#include "FileOps.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <memory>

namespace files {
namespace {

std::string ErrorText(const std::string& path, int error) {
  return path + ": " + strerror(error);
}

bool Fail(std::string& error, const std::string& path, int code) {
  error = ErrorText(path, code);
  errno = code;
  return false;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

EntryInfo FromStat(const struct stat& st) {
  EntryInfo info;
  info.exists = true;
  info.isDir = S_ISDIR(st.st_mode);
  info.size = info.isDir ? 0 : static_cast<std::uint64_t>(st.st_size);
  info.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return info;
}

void KeepTimes(const std::string& path, const struct stat& st) {
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool CopyFile(const std::string& from, const std::string& to, const struct stat& st,
              std::string& error) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(error, from, errno);
  // O_EXCL: never write into something that appeared meanwhile.
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    const int e = errno;
    close(in);
    return Fail(error, to, e);
  }
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  bool ok = true;
  int e = 0;
  for (;;) {
    const ssize_t n = read(in, buffer.get(), 1 << 16);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      e = errno;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer.get() + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        e = errno;
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0 && ok) {
    e = errno;
    ok = false;
  }
  if (!ok) {
    unlink(to.c_str());  // no half copy left behind under the new name
    return Fail(error, to, e);
  }
  KeepTimes(to, st);
  return true;
}

}  // namespace

EntryInfo Stat(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return FromStat(st);
  if (lstat(path.c_str(), &st) == 0) return FromStat(st);
  return {};
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries, int& error) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    error = errno;
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* ent = readdir(dir);
    if (ent == nullptr) {
      if (errno != 0) {
        error = errno;
        closedir(dir);
        return false;
      }
      break;
    }
    const std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    const EntryInfo info = Stat(Join(path, name));
    if (!info.exists) continue;  // gone since the folder was read
    entries.push_back({name, info});
  }
  closedir(dir);
  return true;
}

std::string BaseName(const std::string& path) {
  if (path == "/" || path.empty()) return path;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string Normalize(const std::string& path) {
  if (path.empty() || path[0] != '/') return {};
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool IsSameOrInside(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  if (folder == "/") return !path.empty() && path[0] == '/';
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

bool IsValidName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 255 &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string FreeName(const std::string& folder, const std::string& base, bool isDir) {
  if (!Exists(Join(folder, base))) return base;
  std::string stem = base, ext;
  const std::size_t dot = base.rfind('.');
  if (!isDir && dot != std::string::npos && dot > 0) {
    stem = base.substr(0, dot);
    ext = base.substr(dot);
  }
  for (int n = 2; n < 10000; ++n) {
    const std::string name = stem + " (" + std::to_string(n) + ")" + ext;
    if (!IsValidName(name)) return {};
    if (!Exists(Join(folder, name))) return name;
  }
  return {};
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0777) != 0) return Fail(error, path, errno);
  return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return Fail(error, from, errno);
  // File systems without the flag: check, then rename (a small window, but
  // better than replacing unconditionally).
  if (Exists(to)) return Fail(error, to, EEXIST);
  if (rename(from.c_str(), to.c_str()) != 0) return Fail(error, from, errno);
  return true;
}

bool CopyEntry(const std::string& from, const std::string& to, std::string& error) {
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return Fail(error, from, errno);
  if (S_ISLNK(st.st_mode)) {
    std::string target(4096, '\0');
    const ssize_t n = readlink(from.c_str(), target.data(), target.size());
    if (n < 0) return Fail(error, from, errno);
    target.resize(static_cast<std::size_t>(n));
    if (symlink(target.c_str(), to.c_str()) != 0) return Fail(error, to, errno);
    return true;
  }
  if (S_ISREG(st.st_mode)) return CopyFile(from, to, st, error);
  if (!S_ISDIR(st.st_mode)) return Fail(error, from, ENOTSUP);  // devices, sockets, pipes
  if (IsSameOrInside(to, from)) return Fail(error, to, EINVAL);  // would never end
  if (mkdir(to.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0) return Fail(error, to, errno);
  std::vector<FolderEntry> entries;
  int e = 0;
  if (!ListFolder(from, entries, e)) return Fail(error, from, e);
  for (const FolderEntry& entry : entries)
    if (!CopyEntry(Join(from, entry.name), Join(to, entry.name), error)) return false;
  chmod(to.c_str(), st.st_mode & 07777);
  KeepTimes(to, st);
  return true;
}

bool MoveEntry(const std::string& from, const std::string& to, std::string& error) {
  if (IsSameOrInside(to, from)) return Fail(error, to, EINVAL);
  if (RenameNoReplace(from, to, error)) return true;
  if (errno != EXDEV) return false;
  // Checked first, so that the clean-up below only ever removes what this
  // copy made.
  if (Exists(to)) return Fail(error, to, EEXIST);
  if (!CopyEntry(from, to, error)) {
    std::string ignored;
    DeleteEntry(to, ignored);
    return false;
  }
  return DeleteEntry(from, error);
}

bool DeleteEntry(const std::string& path, std::string& error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(error, path, errno);
  if (!S_ISDIR(st.st_mode)) {
    if (unlink(path.c_str()) != 0) return Fail(error, path, errno);
    return true;
  }
  std::vector<FolderEntry> entries;
  int e = 0;
  if (!ListFolder(path, entries, e)) return Fail(error, path, e);
  for (const FolderEntry& entry : entries)
    if (!DeleteEntry(Join(path, entry.name), error)) return false;
  if (rmdir(path.c_str()) != 0) return Fail(error, path, errno);
  return true;
}

}  // namespace files
