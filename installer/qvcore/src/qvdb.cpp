// Tree databases in SQLite: one table of entries (id, parent, name, type,
// content) and one of file information. Writable databases keep one
// transaction open from opening to closing, so a database that was not
// closed properly keeps its previous state.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qv/qvcore.h"

namespace {

struct Cursor {
  std::vector<unsigned char> data;
  std::size_t position = 0;
  bool dirty = false;
};

struct Database {
  sqlite3* db = nullptr;
  int mode = QV_DB_READ;
  std::map<int, Cursor> cursors;  // entries with content in memory
};

std::mutex gMutex;
std::map<int, std::unique_ptr<Database>> gDatabases;
int gNextHandle = 1;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS qv_entries("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL DEFAULT x'');"
    "CREATE INDEX IF NOT EXISTS qv_entries_by_name ON qv_entries(parent, name);"
    "CREATE TABLE IF NOT EXISTS qv_info(key TEXT PRIMARY KEY, value INTEGER NOT NULL);";

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, sqlite3_int64 value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, const char* text, int length) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text, length, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const void* data, std::size_t size) {
    if (stmt_) sqlite3_bind_blob64(stmt_, index, size ? data : "", size, SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  sqlite3_int64 Int(int column) { return sqlite3_column_int64(stmt_, column); }
  sqlite3_stmt* get() { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

Database* Find(int handle) {
  auto it = gDatabases.find(handle);
  return it == gDatabases.end() ? nullptr : it->second.get();
}

bool Writable(const Database* d) { return d->mode != QV_DB_READ; }

bool EntryExists(Database* d, int id) {
  Statement s(d->db, "SELECT 1 FROM qv_entries WHERE id=?");
  return s.Bind(1, id).Step() == SQLITE_ROW;
}

// Loads an entry's content into its cursor; null when there is no such entry.
Cursor* Open(Database* d, int id) {
  auto it = d->cursors.find(id);
  if (it != d->cursors.end()) return &it->second;
  Statement s(d->db, "SELECT data FROM qv_entries WHERE id=?");
  if (s.Bind(1, id).Step() != SQLITE_ROW) return nullptr;
  Cursor cursor;
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 0));
  int size = sqlite3_column_bytes(s.get(), 0);
  if (bytes && size > 0) cursor.data.assign(bytes, bytes + size);
  return &d->cursors.emplace(id, std::move(cursor)).first->second;
}

bool Store(Database* d, int id, Cursor& cursor) {
  if (!cursor.dirty) return true;
  Statement s(d->db, "UPDATE qv_entries SET data=? WHERE id=?");
  s.BindBlob(1, cursor.data.data(), cursor.data.size()).Bind(2, id);
  if (s.Step() != SQLITE_DONE) return false;
  cursor.dirty = false;
  return true;
}

bool StoreAll(Database* d) {
  bool ok = true;
  for (auto& [id, cursor] : d->cursors) ok = Store(d, id, cursor) && ok;
  return ok;
}

// Names may be empty (a package database's root tree has none) and siblings
// may share a name (both client groups can carry a file of the same name and
// date); lookups by name find the oldest.
int Create(int handle, int parent, const char* name, int type) {
  if (!name) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d) || parent < 0) return -1;
  if (parent != 0 && !EntryExists(d, parent)) return -1;
  Statement s(d->db, "INSERT INTO qv_entries(parent, name, type) VALUES(?,?,?)");
  s.Bind(1, parent).Bind(2, name, -1).Bind(3, type);
  if (s.Step() != SQLITE_DONE) return -1;
  sqlite3_int64 id = sqlite3_last_insert_rowid(d->db);
  return id > 0 && id <= INT_MAX ? static_cast<int>(id) : -1;
}

int FindChild(Database* d, int parent, const char* name, int length) {
  Statement s(d->db, "SELECT id FROM qv_entries WHERE parent=? AND name=? ORDER BY id LIMIT 1");
  s.Bind(1, parent).Bind(2, name, length);
  int rc = s.Step();
  if (rc == SQLITE_ROW) return static_cast<int>(s.Int(0));
  return rc == SQLITE_DONE ? 0 : -1;
}

}  // namespace

extern "C" int qvDBFileOpen(char* path, int mode) {
  if (!path || mode < QV_DB_READ || mode > QV_DB_UPDATE) return -1;
  std::string file = path;
  if (mode == QV_DB_NEW) {
    if (file.empty()) {
      char temp[QV_MAX_PATH];
      if (qvGetTempFileName(nullptr, "qvdb", temp) != 0) return -1;
      file = temp;
    } else if (unlink(file.c_str()) != 0 && errno != ENOENT) {
      return -1;
    }
  } else {
    struct stat st {};
    if (file.empty() || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  }
  int flags = mode == QV_DB_READ ? SQLITE_OPEN_READONLY
              : mode == QV_DB_NEW ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                  : SQLITE_OPEN_READWRITE;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return -1;
  }
  bool ok = true;
  if (mode == QV_DB_NEW) {
    // A temporary database is rebuilt from scratch if anything goes wrong.
    ok = sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  if (ok) {
    // Refuse files that are not our databases.
    Statement s(db, "SELECT count(*) FROM sqlite_master WHERE name IN ('qv_entries','qv_info')");
    ok = s.Step() == SQLITE_ROW && s.Int(0) == 2;
  }
  if (ok && mode != QV_DB_READ)
    ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) {
    sqlite3_close(db);
    return -1;
  }
  if (mode == QV_DB_NEW && !*path) std::memcpy(path, file.c_str(), file.size() + 1);

  std::lock_guard lock(gMutex);
  int handle = gNextHandle;
  while (gDatabases.count(handle) || handle <= 0) handle = handle == INT_MAX ? 1 : handle + 1;
  gNextHandle = handle == INT_MAX ? 1 : handle + 1;
  auto database = std::make_unique<Database>();
  database->db = db;
  database->mode = mode;
  gDatabases[handle] = std::move(database);
  return handle;
}

extern "C" int qvDBFileClose(int handle) {
  std::unique_ptr<Database> d;
  {
    std::lock_guard lock(gMutex);
    auto it = gDatabases.find(handle);
    if (it == gDatabases.end()) return -1;
    d = std::move(it->second);
    gDatabases.erase(it);
  }
  bool ok = true;
  if (Writable(d.get())) {
    ok = StoreAll(d.get()) && sqlite3_exec(d->db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) sqlite3_exec(d->db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  ok = sqlite3_close(d->db) == SQLITE_OK && ok;
  return ok ? 0 : -1;
}

extern "C" int qvDBSetFileTypeAndVersion(int handle, std::uint32_t fileType, std::uint32_t version) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d)) return -1;
  Statement s(d->db, "INSERT OR REPLACE INTO qv_info(key, value) VALUES('filetype',?),('version',?)");
  s.Bind(1, fileType).Bind(2, version);
  return s.Step() == SQLITE_DONE ? 0 : -1;
}

extern "C" int qvDBGetFileTypeAndVersion(int handle, std::uint32_t* fileType, std::uint32_t* version) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  Statement s(d->db, "SELECT key, value FROM qv_info WHERE key IN ('filetype','version')");
  int found = 0;
  while (s.Step() == SQLITE_ROW) {
    const char* key = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    auto value = static_cast<std::uint32_t>(s.Int(1));
    if (key && std::strcmp(key, "filetype") == 0) {
      if (fileType) *fileType = value;
      ++found;
    } else if (key) {
      if (version) *version = value;
      ++found;
    }
  }
  return found == 2 ? 0 : -1;
}

extern "C" int qvDBCreateTree(int db, int parent, const char* name) {
  return Create(db, parent, name, QV_TYPE_TREE);
}

extern "C" int qvDBCreateNode(int db, int parent, const char* name, int type) {
  return Create(db, parent, name, type);
}

extern "C" int qvDBCreateNodeIfNotExist(int handle, int parent, const char* name, int type) {
  if (!name) return -1;
  {
    std::lock_guard lock(gMutex);
    Database* d = Find(handle);
    if (!d) return -1;
    int id = FindChild(d, parent, name, -1);
    if (id != 0) return id;
  }
  return Create(handle, parent, name, type);
}

extern "C" int qvDBFindChildIDByName(int handle, int parent, const char* name, int nameLength) {
  if (!name || nameLength < 0) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  return FindChild(d, parent, name, nameLength == 0 ? -1 : nameLength);
}

extern "C" int qvDBGetType(int handle, int id) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  Statement s(d->db, "SELECT type FROM qv_entries WHERE id=?");
  return s.Bind(1, id).Step() == SQLITE_ROW ? static_cast<int>(s.Int(0)) : -1;
}

extern "C" int qvDBIsTree(int handle, int id) {
  int type = qvDBGetType(handle, id);
  return type < 0 ? -1 : type == QV_TYPE_TREE ? 1 : 0;
}

extern "C" int qvDBGetFirstID(int handle, int parent) { return qvDBGetNextID(handle, parent, 0); }

extern "C" int qvDBGetNextID(int handle, int parent, int id) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  Statement s(d->db, "SELECT id FROM qv_entries WHERE parent=? AND id>? ORDER BY id LIMIT 1");
  int rc = s.Bind(1, parent).Bind(2, id).Step();
  if (rc == SQLITE_ROW) return static_cast<int>(s.Int(0));
  return rc == SQLITE_DONE ? 0 : -1;
}

extern "C" int qvDBReadName(int handle, int id, char* buffer, int size) {
  if (!buffer || size <= 0) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  Statement s(d->db, "SELECT name FROM qv_entries WHERE id=?");
  if (s.Bind(1, id).Step() != SQLITE_ROW) return -1;
  const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
  int length = sqlite3_column_bytes(s.get(), 0);
  if (!name || length >= size) return -1;
  std::memcpy(buffer, name, static_cast<std::size_t>(length));
  buffer[length] = '\0';
  return length;
}

extern "C" int qvDBRead(int handle, int id, void* buffer, int size) {
  if (!buffer || size < 0) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  Cursor* c = d ? Open(d, id) : nullptr;
  if (!c) return -1;
  std::size_t available = c->position < c->data.size() ? c->data.size() - c->position : 0;
  std::size_t n = std::min(available, static_cast<std::size_t>(size));
  if (n) std::memcpy(buffer, c->data.data() + c->position, n);
  c->position += n;
  return static_cast<int>(n);
}

extern "C" int qvDBWrite(int handle, int id, const void* buffer, int size) {
  if ((!buffer && size > 0) || size < 0) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d)) return -1;
  Cursor* c = Open(d, id);
  if (!c) return -1;
  std::size_t end = c->position + static_cast<std::size_t>(size);
  if (end > static_cast<std::size_t>(INT_MAX)) return -1;
  if (end > c->data.size()) c->data.resize(end);
  if (size) std::memcpy(c->data.data() + c->position, buffer, static_cast<std::size_t>(size));
  c->position = end;
  c->dirty = true;
  return size;
}

extern "C" int qvDBWriteUTF8(int handle, int id, const char* text) {
  if (!text) return -1;
  std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(INT_MAX)) return -1;
  // 8-bit text on this system is already UTF-8.
  return qvDBWrite(handle, id, text, static_cast<int>(length));
}

extern "C" int qvDBTruncate(int handle, int id) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d)) return -1;
  Cursor* c = Open(d, id);
  if (!c) return -1;
  if (c->position < c->data.size()) {
    c->data.resize(c->position);
    c->dirty = true;
  }
  return 0;
}

extern "C" int qvDBClose(int handle, int id) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  auto it = d->cursors.find(id);
  if (it == d->cursors.end()) return EntryExists(d, id) ? 0 : -1;
  bool ok = Store(d, id, it->second);
  d->cursors.erase(it);
  return ok ? 0 : -1;
}

extern "C" int qvDBGetSize(int handle, int id) {
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d) return -1;
  auto it = d->cursors.find(id);
  if (it != d->cursors.end()) return static_cast<int>(it->second.data.size());
  Statement s(d->db, "SELECT length(data) FROM qv_entries WHERE id=?");
  return s.Bind(1, id).Step() == SQLITE_ROW ? static_cast<int>(s.Int(0)) : -1;
}

extern "C" int qvDBDelete(int handle, int id) {
  if (id <= 0) return -1;
  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d) || !EntryExists(d, id)) return -1;
  std::vector<int> doomed;
  {
    Statement s(d->db,
                "WITH RECURSIVE sub(id) AS (SELECT ? UNION ALL "
                "SELECT e.id FROM qv_entries e JOIN sub ON e.parent=sub.id) SELECT id FROM sub");
    s.Bind(1, id);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) doomed.push_back(static_cast<int>(s.Int(0)));
    if (rc != SQLITE_DONE) return -1;
  }
  for (int victim : doomed) {
    Statement s(d->db, "DELETE FROM qv_entries WHERE id=?");
    if (s.Bind(1, victim).Step() != SQLITE_DONE) return -1;
    d->cursors.erase(victim);
  }
  return 0;
}

extern "C" int qvDBWriteFileToID(int handle, int id, const char* path) {
  if (!path) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::vector<unsigned char> content;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= INT_MAX;
  if (ok) content.reserve(static_cast<std::size_t>(st.st_size));
  unsigned char buffer[65536];
  while (ok) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content.insert(content.end(), buffer, buffer + n);
    if (content.size() > static_cast<std::size_t>(INT_MAX)) ok = false;
  }
  close(fd);
  if (!ok) return -1;

  std::lock_guard lock(gMutex);
  Database* d = Find(handle);
  if (!d || !Writable(d)) return -1;
  Statement s(d->db, "UPDATE qv_entries SET data=? WHERE id=?");
  s.BindBlob(1, content.data(), content.size()).Bind(2, id);
  if (s.Step() != SQLITE_DONE || sqlite3_changes(d->db) != 1) return -1;
  d->cursors.erase(id);
  return static_cast<int>(content.size());
}

extern "C" int qvDBWriteIDToFile(int handle, int id, const char* path) {
  if (!path) return -1;
  std::vector<unsigned char> content;
  {
    std::lock_guard lock(gMutex);
    Database* d = Find(handle);
    if (!d) return -1;
    auto it = d->cursors.find(id);
    if (it != d->cursors.end()) {
      content = it->second.data;
    } else {
      Statement s(d->db, "SELECT data FROM qv_entries WHERE id=?");
      if (s.Bind(1, id).Step() != SQLITE_ROW) return -1;
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 0));
      int size = sqlite3_column_bytes(s.get(), 0);
      if (bytes && size > 0) content.assign(bytes, bytes + size);
    }
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  std::size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    ssize_t w = write(fd, content.data() + done, content.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(w);
  }
  if (close(fd) != 0) ok = false;
  return ok ? static_cast<int>(content.size()) : -1;
}
