// File system operations of the Files plugin, on POSIX calls. Paths are
// UTF-8 byte strings. Nothing here ever replaces an existing file: a name
// that is taken makes the operation pick another name or fail.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace files {

struct EntryInfo {
  bool exists = false;
  bool isDir = false;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970
};

// stat, following symbolic links; a dangling link is described by itself.
EntryInfo Stat(const std::string& path);

struct FolderEntry {
  std::string name;
  EntryInfo info;
};
// Reads the entries of a folder (without "." and ".."). FALSE with errno's
// value in `error` when the folder cannot be opened or read; entries that
// vanish while being read are left out.
bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries, int& error);

// Last path element ("/" for the root) and the folder above ("/" for the
// root and for entries directly below it).
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);
// Folder + "/" + name without doubling the slash.
std::string Join(const std::string& folder, const std::string& name);
// An absolute path without trailing or doubled slashes; empty when `path`
// is not absolute.
std::string Normalize(const std::string& path);
// TRUE when `path` is `folder` or lies below it.
bool IsSameOrInside(const std::string& path, const std::string& folder);

// A name that can be created in one folder: not empty, not "." or "..",
// without "/" or NUL, at most 255 bytes.
bool IsValidName(const std::string& name);
// `base` when nothing in `folder` is called so; otherwise the first free of
// "<stem> (2)<ext>", "<stem> (3)<ext>", ... (folders keep their whole
// name as stem). Empty when no free name is found.
std::string FreeName(const std::string& folder, const std::string& base, bool isDir);

// Creates a folder; fails (EEXIST) when the name is taken.
bool MakeFolder(const std::string& path, std::string& error);
// Renames without replacing an existing entry.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error);
// Copies a file or a whole folder to `to`, which must not exist. Modes and
// modification times are kept; symbolic links are copied as links.
bool CopyEntry(const std::string& from, const std::string& to, std::string& error);
// Moves by renaming, or across file systems by copying and then deleting
// the source.
bool MoveEntry(const std::string& from, const std::string& to, std::string& error);
// Deletes a file, a link or a whole folder.
bool DeleteEntry(const std::string& path, std::string& error);

}  // namespace files
