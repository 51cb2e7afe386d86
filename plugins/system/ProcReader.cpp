#include "ProcReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <set>

namespace sysplugin {

namespace {

// /proc/<pid>/stat is a few hundred bytes; the limit only guards against a
// file that is not what it claims to be.
constexpr std::size_t kStatLimit = 64 * 1024;
// Mount tables of container hosts run to a few thousand lines.
constexpr std::size_t kMountInfoLimit = 16 * 1024 * 1024;

template <typename T>
bool ParseNumber(std::string_view text, T* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

// Splits at runs of spaces (the kernel writes single spaces, but a stray
// double one must not shift every field after it).
std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\n')) ++i;
    if (i >= text.size()) break;
    std::size_t j = i;
    while (j < text.size() && text[j] != ' ' && text[j] != '\n') ++j;
    fields.push_back(text.substr(i, j - i));
    i = j;
  }
  return fields;
}

bool IsPidName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

std::uint64_t PageSizeKb() {
  const long size = sysconf(_SC_PAGESIZE);
  return size >= 1024 ? static_cast<std::uint64_t>(size) / 1024 : 4;
}

}  // namespace

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  char buffer[8192];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;  // ESRCH: the process ended while we read
      break;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > limit) {
      ok = false;
      break;
    }
  }
  close(fd);
  if (ok) *out = std::move(data);
  return ok;
}

bool ParseStat(std::string_view text, std::uint64_t pageSizeKb, ProcessInfo* out) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return false;
  ProcessInfo info;
  std::string_view pidText = text.substr(0, open);
  while (!pidText.empty() && pidText.back() == ' ') pidText.remove_suffix(1);
  if (!ParseNumber(pidText, &info.pid) || info.pid <= 0) return false;
  info.name.assign(text.substr(open + 1, close - open - 1));

  // Fields from the state on; field n of proc(5) is rest[n - 3].
  const std::vector<std::string_view> rest = SplitFields(text.substr(close + 1));
  constexpr std::size_t kState = 0, kThreads = 17, kStartTime = 19, kRss = 21;
  if (rest.size() <= kRss) return false;
  if (rest[kState].size() != 1) return false;
  info.state = rest[kState][0];
  std::int64_t rssPages = 0;
  if (!ParseNumber(rest[kThreads], &info.threads) || !ParseNumber(rest[kStartTime], &info.startTime) ||
      !ParseNumber(rest[kRss], &rssPages))
    return false;
  // A kernel thread reports 0; a negative count would be nonsense.
  info.rssKb = rssPages > 0 ? static_cast<std::uint64_t>(rssPages) * pageSizeKb : 0;
  *out = std::move(info);
  return true;
}

std::string DecodeMountEscapes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        result.push_back(static_cast<char>(((a - '0') << 6) | ((b - '0') << 3) | (c - '0')));
        i += 3;
        continue;
      }
    }
    result.push_back(text[i]);
  }
  return result;
}

bool ParseMountInfoLine(std::string_view line, MountInfo* out) {
  const std::vector<std::string_view> f = SplitFields(line);
  // id, parent, major:minor, root, mount point, options, [optional...], "-",
  // type, source, super options.
  if (f.size() < 7) return false;
  std::size_t dash = 6;
  while (dash < f.size() && f[dash] != "-") ++dash;
  if (dash >= f.size() || f.size() - dash < 3) return false;
  MountInfo info;
  if (!ParseNumber(f[0], &info.id) || info.id < 0) return false;
  info.mountPoint = DecodeMountEscapes(f[4]);
  info.type = DecodeMountEscapes(f[dash + 1]);
  info.device = DecodeMountEscapes(f[dash + 2]);
  info.options = std::string(f[5]);
  if (dash + 3 < f.size()) {
    // The super-block options repeat some per-mount ones ("rw"); name each
    // once, per-mount first, as the classic mount table does.
    std::set<std::string_view> seen;
    for (std::string_view rest = f[5];;) {
      const std::size_t comma = rest.find(',');
      seen.insert(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    for (std::string_view rest = f[dash + 3];;) {
      const std::size_t comma = rest.find(',');
      const std::string_view option = rest.substr(0, comma);
      if (!option.empty() && seen.insert(option).second) {
        if (!info.options.empty()) info.options.push_back(',');
        info.options.append(option);
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  *out = std::move(info);
  return true;
}

ProcessMap ReadProcesses(const std::string& procRoot, bool* ok) {
  ProcessMap processes;
  DIR* dir = opendir(procRoot.c_str());
  if (ok != nullptr) *ok = dir != nullptr;
  if (dir == nullptr) return processes;
  const std::uint64_t pageKb = PageSizeKb();
  std::string text;
  while (const dirent* entry = readdir(dir)) {
    if (!IsPidName(entry->d_name)) continue;
    // Gone since the listing, or not ours to read: leave it out.
    if (!ReadSmallFile(procRoot + "/" + entry->d_name + "/stat", kStatLimit, &text)) continue;
    ProcessInfo info;
    if (!ParseStat(text, pageKb, &info)) continue;
    // The directory name is the authority; a stat file that disagrees is
    // not this process's.
    if (std::to_string(info.pid) != entry->d_name) continue;
    processes[info.pid] = std::move(info);
  }
  closedir(dir);
  return processes;
}

MountMap ReadMounts(const std::string& mountInfoPath, bool* ok) {
  MountMap mounts;
  std::string text;
  const bool read = ReadSmallFile(mountInfoPath, kMountInfoLimit, &text);
  if (ok != nullptr) *ok = read;
  if (!read) return mounts;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    const std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    MountInfo info;
    if (ParseMountInfoLine(line, &info)) mounts[info.id] = std::move(info);
  }
  return mounts;
}

SystemSnapshot ReadSystem() {
  SystemSnapshot snapshot;
  snapshot.processes = ReadProcesses("/proc", &snapshot.processesOk);
  snapshot.mounts = ReadMounts("/proc/self/mountinfo", &snapshot.mountsOk);
  return snapshot;
}

SystemChanges Compare(const SystemSnapshot& before, const SystemSnapshot& after) {
  SystemChanges changes;
  // Both maps are ordered by key: one merge pass each.
  auto pb = before.processes.begin();
  auto pa = after.processes.begin();
  while (pb != before.processes.end() || pa != after.processes.end()) {
    if (pa == after.processes.end() || (pb != before.processes.end() && pb->first < pa->first)) {
      changes.removedProcesses.push_back(pb->first);
      ++pb;
    } else if (pb == before.processes.end() || pa->first < pb->first) {
      changes.addedProcesses.push_back(pa->first);
      ++pa;
    } else {
      if (pb->second.startTime != pa->second.startTime) {
        changes.removedProcesses.push_back(pa->first);
        changes.addedProcesses.push_back(pa->first);
      } else if (!(pb->second == pa->second)) {
        changes.changedProcesses.push_back(pa->first);
      }
      ++pb;
      ++pa;
    }
  }
  auto mb = before.mounts.begin();
  auto ma = after.mounts.begin();
  while (mb != before.mounts.end() || ma != after.mounts.end()) {
    if (ma == after.mounts.end() || (mb != before.mounts.end() && mb->first < ma->first)) {
      changes.removedMounts.push_back(mb->first);
      ++mb;
    } else if (mb == before.mounts.end() || ma->first < mb->first) {
      changes.addedMounts.push_back(ma->first);
      ++ma;
    } else {
      if (!(mb->second == ma->second)) changes.changedMounts.push_back(ma->first);
      ++mb;
      ++ma;
    }
  }
  return changes;
}

}  // namespace sysplugin
