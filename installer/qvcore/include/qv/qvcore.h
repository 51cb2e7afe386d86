// The backup core library "qvcore32.dll": paths, files and the tree
// databases that carry a client installation. Installer programs do not link
// it; they load it at run time (see installer/package/qvbind.h) and call it
// through its table of entry points.
//
// Conventions of every call:
// - handles and ids are 32-bit; -1 is failure unless a call says otherwise;
// - text is 8-bit (UTF-8 on this system), zero-terminated; output buffers
//   are at least QV_MAX_PATH (260) bytes unless a size is passed;
// - database entries: a database holds trees and nodes; parent 0 is the
//   root. An entry's content is read and written through a cursor that
//   starts at 0 and is reset by qvDBClose (closing the entry, not the file).
#pragma once
#include <cstdint>

#define QV_API extern "C" __attribute__((visibility("default")))

constexpr int QV_MAX_PATH = 260;

// Database open modes.
constexpr int QV_DB_READ = 0;    // existing database, read only
constexpr int QV_DB_NEW = 1;     // new database; an empty path gets a temporary file
constexpr int QV_DB_UPDATE = 2;  // existing database, read and write

// Entry types. A tree is an entry meant to hold children; a file entry
// carries the content of one file. Other values are the caller's own.
constexpr int QV_TYPE_TREE = 256;
constexpr int QV_TYPE_FILE = 512;

// ---- Start-up and release --------------------------------------------------
// qvStartup(1) for the server, qvStartup(0) for the client. Every start is
// counted; qvShutDown counts down and returns the starts still open (0 when
// this was the last), -1 when nothing was started.
QV_API int qvStartup(int server);
QV_API int qvShutDown(void);

// ---- Paths and text --------------------------------------------------------
// Application directory: "InstallDir" of the product's CurrentVersion key
// (server or client, as started; HKEY_CURRENT_USER before
// HKEY_LOCAL_MACHINE), else the folder of this library. No trailing
// separator. Returns the length or -1.
QV_API int qvGetAppPath(char* buffer, int size);
// Data path: "DataDir" of the same key, else the application directory.
QV_API int qvGetDataPath(char* buffer, int size);
// Appends "/" unless the path already ends in a separator; returns the new
// length or -1 when it does not fit in size bytes.
QV_API int qvAddPathSeparator(char* path, int size);
// The part of a path after its last "/" or "\"; returns its length.
QV_API int qvGetFileName(const char* path, char* buffer, int size);
// Creates a new empty file "<folder>/<prefix>XXXXXX" and stores its path;
// a null or empty folder means the temporary directory. 0 or -1.
QV_API int qvGetTempFileName(const char* folder, const char* prefix, char* buffer);
// Eight upper-case hexadecimal digits; returns 8.
QV_API int qvULongToHexString(std::uint32_t value, char* buffer);
// The low 32 bits of a pointer (for ids handed through 32-bit fields).
QV_API std::uint32_t qvPtrToUInt32(const void* pointer);
// Shortens a path for display to at most maxChars characters by replacing
// middle folders with "...": "/home/.../client/file.txt". Returns the length.
QV_API int qvDirectoryNameTrim(const char* path, char* buffer, int maxChars);

// DOS date and time: date in the high 16 bits (years since 1980 << 9,
// month << 5, day), time in the low 16 bits (hour << 11, minute << 5,
// seconds / 2), local time.
QV_API std::uint32_t qvGetCurrentDosDateTime(void);
// "YYYY-MM-DD HH:MM:SS"; returns the length or -1 (size too small).
QV_API int qvDateTimeToString(std::uint32_t dosDateTime, char* buffer, int size);

// ---- Files and folders -----------------------------------------------------
QV_API int qvFileCheckExist(const char* path);          // nonzero when a file exists
QV_API std::uint32_t qvFileGetSize(const char* path);   // 0 when absent
// Find handle for one file (a plain path or a pattern with * and ?);
// -1 when nothing matches.
QV_API int qvFileFindFirst(const char* pattern);
QV_API std::uint32_t qvFileFindGetDosDateTime(int findHandle);  // 0 for a bad handle
QV_API int qvFileFindClose(int findHandle);                     // 0 or -1
// Copies a file (replacing the target unless failIfExists); keeps its time
// and its permission bits, so programs stay executable. A symbolic link at
// either path is refused, never followed.
QV_API int qvFileCopy(const char* source, const char* target, int failIfExists);  // 0 or -1
QV_API int qvFileDelete(const char* path);                                         // 0 or -1
QV_API int qvFileSetDateTime(const char* path, std::uint32_t dosDateTime);         // 0 or -1
// Creates the folder and any missing parents: 0 done (or present), nonzero failure.
QV_API int qvDirectoryCreateIfNotExist(const char* path);
// Creates one folder: nonzero done, 0 failure.
QV_API int qvDirectoryCreate(const char* path);

// ---- Tree databases --------------------------------------------------------
// Opens a database file and returns its handle. QV_DB_NEW replaces the file;
// with an empty path (path must then be a QV_MAX_PATH buffer) it creates a
// temporary file and stores its name into path.
QV_API int qvDBFileOpen(char* path, int mode);
// Commits and closes; 0 or -1.
QV_API int qvDBFileClose(int db);
// Stamps the database with a file type and version, read back by qvDBGetFileTypeAndVersion.
QV_API int qvDBSetFileTypeAndVersion(int db, std::uint32_t fileType, std::uint32_t version);
QV_API int qvDBGetFileTypeAndVersion(int db, std::uint32_t* fileType, std::uint32_t* version);

// New child entries of parent (0 = root); names compare without regard to
// case. A name may be empty, and siblings may share a name: lookups by name
// then find the oldest. Return the new id, -1 on failure.
QV_API int qvDBCreateTree(int db, int parent, const char* name);
QV_API int qvDBCreateNode(int db, int parent, const char* name, int type);
// The existing child of that name, or a new node of that type.
QV_API int qvDBCreateNodeIfNotExist(int db, int parent, const char* name, int type);
// Child by name; nameLength 0 means zero-terminated. The id, 0 when there is
// no such child, -1 on failure.
QV_API int qvDBFindChildIDByName(int db, int parent, const char* name, int nameLength);
QV_API int qvDBIsTree(int db, int id);  // 1 tree, 0 other entry, -1 failure
QV_API int qvDBGetType(int db, int id);  // the entry's type, -1 failure

// Walk: children in creation order. 0 when there are no (more) children.
QV_API int qvDBGetFirstID(int db, int parent);
QV_API int qvDBGetNextID(int db, int parent, int id);
// The entry's name into buffer (size bytes, zero-terminated); its length or -1.
QV_API int qvDBReadName(int db, int id, char* buffer, int size);

// Content at the entry's cursor. Read returns the bytes read (0 at the end);
// Write the bytes written; WriteUTF8 writes a zero-terminated text without
// its terminator; Truncate cuts the content at the cursor.
QV_API int qvDBRead(int db, int id, void* buffer, int size);
QV_API int qvDBWrite(int db, int id, const void* buffer, int size);
QV_API int qvDBWriteUTF8(int db, int id, const char* text);
QV_API int qvDBTruncate(int db, int id);
// Stores the entry's content and resets its cursor; 0 or -1.
QV_API int qvDBClose(int db, int id);
// Deletes the entry with everything below it; 0 or -1.
QV_API int qvDBDelete(int db, int id);
QV_API int qvDBGetSize(int db, int id);  // content length, -1 failure

// Whole files: the file's content replaces the entry's; the entry's content
// replaces the file. Return the byte count or -1.
QV_API int qvDBWriteFileToID(int db, int id, const char* path);
QV_API int qvDBWriteIDToFile(int db, int id, const char* path);

// ---- Entry table -----------------------------------------------------------
// The library's 246 entry points, by which loaders bind it. Slots the
// installer does not use are named "qvReservedNNN" (NNN the slot) and hold a
// function that fails with -1 and writes a trace line naming the slot.
constexpr int QV_ENTRY_COUNT = 246;
struct QvEntry {
  const char* name;
  void (*address)(void);
};
// Stores the number of entries into *count and returns the table.
QV_API const QvEntry* qvGetEntryTable(int* count);

// The named entry points, in table order (the first slots of the table).
#define QV_FOR_EACH_ENTRY(X)                                                          \
  X(qvStartup) X(qvShutDown) X(qvGetAppPath) X(qvGetDataPath) X(qvAddPathSeparator)    \
  X(qvGetFileName) X(qvGetTempFileName) X(qvULongToHexString) X(qvPtrToUInt32)         \
  X(qvDirectoryNameTrim) X(qvGetCurrentDosDateTime) X(qvDateTimeToString)              \
  X(qvFileCheckExist) X(qvFileGetSize) X(qvFileFindFirst) X(qvFileFindGetDosDateTime)  \
  X(qvFileFindClose) X(qvFileCopy) X(qvFileDelete) X(qvFileSetDateTime)                \
  X(qvDirectoryCreateIfNotExist) X(qvDirectoryCreate) X(qvDBFileOpen) X(qvDBFileClose) \
  X(qvDBSetFileTypeAndVersion) X(qvDBGetFileTypeAndVersion) X(qvDBCreateTree)          \
  X(qvDBCreateNode) X(qvDBCreateNodeIfNotExist) X(qvDBFindChildIDByName) X(qvDBIsTree) \
  X(qvDBGetType) X(qvDBGetFirstID) X(qvDBGetNextID) X(qvDBReadName) X(qvDBRead)        \
  X(qvDBWrite) X(qvDBWriteUTF8) X(qvDBTruncate) X(qvDBClose) X(qvDBDelete)             \
  X(qvDBGetSize) X(qvDBWriteFileToID) X(qvDBWriteIDToFile)

#undef QV_API
