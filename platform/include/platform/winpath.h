// Windows-style paths on Linux.
//
// The system's code names files the Windows way ("C:\\FanrowStatus.txt",
// "%s\\Client32\\%s", "admin\\"). This is the one place that turns such a
// name into a Linux path; no other code translates paths.
//
// - Backslashes become slashes; runs of separators fold into one.
// - A drive path ("C:\\x", "c:/x", "C:" alone) lives under the drive root:
//   <root>/c/x, the drive letter in lower case. The root is
//   $NORV_DRIVE_ROOT when set, else /var/lib/norv/drives.
// - A UNC path ("\\\\host\\share\\x") keeps its host and share as the first
//   two components under "//host/share/x"; it has no meaning of its own here.
// - Each component of the part of the path that exists is matched without
//   regard to case, as Windows file systems do: "Client32" finds an existing
//   "client32". An exact match always wins; among several case-insensitive
//   matches the first in byte order is taken. Once a component is missing,
//   the rest is kept as written.
// - "." components are dropped; ".." is kept and matching goes on through it.
// - Paths that are already Linux paths (no backslash, no drive) pass through
//   the same matching, so calling this twice changes nothing.
#pragma once
#include <string>
#include <string_view>

namespace plat {

// The folder under which drive letters are mapped (no trailing slash).
std::string DriveRoot();

// The Linux path for a Windows-style path; relative paths stay relative
// (matched against the current directory).
std::string WindowsPathToLinux(std::string_view windowsPath);

}  // namespace plat
