#include "registry_paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/registry.h"
#include "platform/text.h"

namespace plat {
namespace registry {
namespace {

constexpr const char* kMachineFolder = "/var/lib/norv/registry";

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// NORV_REGISTRY_DIR moves every hive below one folder (tests, sandboxes).
std::string OverrideFolder() {
  std::string dir = Env("NORV_REGISTRY_DIR");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/";
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string UsersFolder() {
  std::string dir = OverrideFolder();
  return (dir.empty() ? std::string(kMachineFolder) : dir) + "/users";
}

}  // namespace

std::string LoginName() {
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name &&
      *found->pw_name)
    return found->pw_name;
  for (const char* var : {"LOGNAME", "USER"}) {
    std::string v = Env(var);
    if (IsValidHiveName(v)) return v;
  }
  return "uid" + std::to_string(geteuid());
}

std::string MachineHivePath() {
  std::string dir = OverrideFolder();
  return (dir.empty() ? std::string(kMachineFolder) : dir) + "/machine.db";
}

std::string CurrentUserHivePath() {
  std::string dir = OverrideFolder();
  if (!dir.empty()) return dir + "/users/" + LoginName() + ".db";
  // The user's hive is data, not configuration: it lives in the XDG data
  // folder. A hive kept where earlier versions put it (the XDG configuration
  // folder) stays in use while there is none in the data folder.
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') data = HomeFolder() + "/.local/share";
  std::string hive = data + "/norv/registry/user.db";
  if (FileExists(hive)) return hive;
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = HomeFolder() + "/.config";
  std::string earlier = config + "/norv/registry/user.db";
  return FileExists(earlier) ? earlier : hive;
}

bool IsValidHiveName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name[0] == '.') return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || c == '\0'; });
}

std::string UserHivePath(const std::string& name) {
  if (EqualsNoCase(name, LoginName())) return CurrentUserHivePath();
  return UsersFolder() + "/" + name + ".db";
}

std::vector<std::string> UserHiveNames() {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(UsersFolder().c_str())) {
    while (struct dirent* entry = ::readdir(dir)) {
      std::string file = entry->d_name;
      if (file.size() <= 3 || file.compare(file.size() - 3, 3, ".db") != 0) continue;
      std::string name = file.substr(0, file.size() - 3);
      if (IsValidHiveName(name) && FileExists(UsersFolder() + "/" + file)) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::string me = LoginName();
  bool listed = std::any_of(names.begin(), names.end(),
                            [&](const std::string& n) { return EqualsNoCase(n, me); });
  if (!listed && FileExists(CurrentUserHivePath())) names.push_back(me);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return FoldCase(a) < FoldCase(b); });
  return names;
}

}  // namespace registry

std::string RegistryDirectory() {
  std::string dir = registry::OverrideFolder();
  return dir.empty() ? std::string(registry::kMachineFolder) : dir;
}

}  // namespace plat
