// Where the hives live. Every hive is one database file; HKEY_USERS maps a
// user name to that user's hive file.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace plat::registry {

// The login name of the effective user (passwd entry, else $LOGNAME/$USER).
std::string LoginName();

std::string MachineHivePath();
std::string CurrentUserHivePath();

// A name usable below HKEY_USERS: a plain file name, no separators, not
// starting with a dot.
bool IsValidHiveName(std::string_view name);
// The hive file of a user below HKEY_USERS; the current user's name maps to
// the current user's hive.
std::string UserHivePath(const std::string& name);
// The user hives that exist, by name.
std::vector<std::string> UserHiveNames();

}  // namespace plat::registry
