// The system search path for the framework's libraries: on Linux, one file
// in the dynamic loader's configuration folder listing the framework folder.
// $NORV_LDSOCONF_DIR moves that folder (tests use a scratch one); only for
// the real folder is the loader's cache rebuilt.
#pragma once
#include <string>

namespace norvsetup {

// The folder ($NORV_LDSOCONF_DIR, else /etc/ld.so.conf.d) and our file in it.
std::string LoaderConfigFolder();
std::string LoaderConfigFile();

// Adds `folder` as a line of the file unless a line already names it.
// False when the file cannot be written; *changed tells whether it was.
bool AddToSearchPath(const std::string& folder, bool* changed = nullptr);
// Removes the line naming `folder`, and the file when no line is left.
bool RemoveFromSearchPath(const std::string& folder);

}  // namespace norvsetup
