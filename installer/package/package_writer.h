// Writing a client package: the stub program followed by the compressed
// members (layout in package_reader.h).
#pragma once
#include <cstdint>

namespace zel {

// One member to append: the source file and the name it is stored under
// (null: the source's own file name).
struct PackageEntry {
  char source[260];
  const char* name;
};

// Appends the entries in order to the end of outputPath (created when
// missing) and returns the number of members written, which is also the
// last sequence number. A source that cannot be read, that is not a regular
// file or is a symbolic link, or whose name is not a bare file name, is left
// out and the next member takes its number; if writing the output fails, the
// unfinished member is cut off again and nothing more is written. Returns 0
// when the output cannot be opened; a symbolic link or anything else than a
// regular file at outputPath is refused, never written through.
int WritePackageMembers(const char* outputPath, int count, const PackageEntry* entries,
                        unsigned dictionarySize);
// The same into a regular file open for writing.
int AppendPackageMembers(int output, int count, const PackageEntry* entries,
                         unsigned dictionarySize);

// Removes a package that ZipTheSend wrote, and its private directory once it
// is empty. Returns false when the package could not be removed.
bool RemovePackage(const char* packagePath);

}  // namespace zel

// Writes the package for one user: the stub "client32/stub.zel" of the
// application directory copied to "client.exe" in a directory of its own,
// made fresh (mode 0700) below the temporary directory, then "OrbCSetup.exe"
// (client32/setup.zel), "qvcore32.dll", "qvcryp32.dll", "qxTrace.dll" of the
// application directory and the package database as "install.cdb". Stores
// the package path into packagePath (at least 260 bytes) and deletes the
// database. Returns 0, or -1 when there is no package to send (the core
// library or the stub program cannot be used, or a path does not fit in 260
// bytes). The package and its directory belong to the caller, who removes
// them with RemovePackage once the package is delivered.
extern "C" int ZipTheSend(const char* databasePath, char* packagePath);
