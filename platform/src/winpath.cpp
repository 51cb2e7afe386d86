#include "platform/winpath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace plat {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The name under which `component` exists in `folder`, or empty when none does.
std::string MatchInFolder(const std::string& folder, const std::string& component) {
  const std::string base = folder.empty() ? "." : folder;
  std::string exact = (folder.empty() || folder.back() == '/') ? folder + component
                                                               : folder + "/" + component;
  if (Exists(exact)) return component;
  Dir dir(opendir(base.c_str()));
  if (!dir) return {};
  std::string best;
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (EqualsNoCase(name, component) && (best.empty() || name < best)) best = name;
  }
  return best;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

std::string DriveRoot() {
  const char* root = std::getenv("NORV_DRIVE_ROOT");
  std::string result = (root && *root) ? root : "/var/lib/norv/drives";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string WindowsPathToLinux(std::string_view windowsPath) {
  std::string path(windowsPath);
  for (char& c : path)
    if (c == '\\') c = '/';

  std::string prefix;  // what precedes the matched components
  size_t pos = 0;
  const bool isDrive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (isDrive) {
    prefix = DriveRoot() + "/" + static_cast<char>(path[0] | 0x20);
    pos = 2;
  } else if (path.size() >= 2 && path[0] == '/' && path[1] == '/' &&
             windowsPath.size() >= 2 && windowsPath[0] == '\\' && windowsPath[1] == '\\') {
    prefix = "//";  // UNC: "//host/share/..." keeps its leading double slash
    pos = 2;
  } else if (!path.empty() && path[0] == '/') {
    prefix = "/";
    pos = 1;
  }

  std::vector<std::string> components;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string component = path.substr(pos, next - pos);
    if (!component.empty() && component != ".") components.push_back(component);
    pos = next + 1;
  }
  const bool trailingSlash = !path.empty() && path.back() == '/' && !components.empty();

  std::string result = prefix;
  bool matching = prefix != "//";  // nothing to match a network name against
  for (const std::string& component : components) {
    if (matching) {
      std::string found = MatchInFolder(result, component);
      if (found.empty()) {
        matching = false;
      } else {
        result = Join(result, found);
        continue;
      }
    }
    result = Join(result, component);
  }
  if (trailingSlash) result += "/";
  if (result.empty()) result = isDrive ? prefix : ".";
  return result;
}

}  // namespace plat
