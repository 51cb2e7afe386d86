#include "registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace plat::registry {
namespace {

// Long enough for another process's burst of writes to finish, short enough
// that a wedged peer surfaces as an error instead of a hang.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kApplicationId = 0x4E524547;  // "NREG": marks our hive files
constexpr int kSchemaVersion = 1;

// Keys form a tree by parent id; names keep the caller's case and `fold`
// holds the case-folded form that lookups and ordering use. Ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key cannot silently land
// on a newer one. Values keep creation order through their id; an update
// changes the row in place and so keeps its place.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " written INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, fold);"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, fold);"
    "CREATE INDEX IF NOT EXISTS vals_in_order ON vals(key, id);";

// Last-write times are kept as Windows FILETIME values (100 ns since 1601).
QWORD FileTimeNow() {
  using namespace std::chrono;
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<QWORD>(since1970 / 100) + 116444736000000000ULL;
}

// Resets a cached statement when the call is done with it.
class Query {
 public:
  explicit Query(sqlite3_stmt* s) : s_(s) {}
  ~Query() {
    if (s_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool ok() const { return s_ != nullptr; }
  Query& Int(int i, std::int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Query& Text(int i, std::string_view v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& Blob(int i, const BYTE* data, size_t size) {
    // A null pointer would bind SQL NULL; an empty value is an empty blob.
    if (size == 0)
      sqlite3_bind_zeroblob(s_, i, 0);
    else
      sqlite3_bind_blob64(s_, i, data, size, SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(s_); }
  std::int64_t ColInt(int c) { return sqlite3_column_int64(s_, c); }
  std::string ColText(int c) {
    const unsigned char* t = sqlite3_column_text(s_, c);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s_, c)))
             : std::string();
  }
  std::vector<BYTE> ColBlob(int c) {
    const BYTE* b = static_cast<const BYTE*>(sqlite3_column_blob(s_, c));
    int n = sqlite3_column_bytes(s_, c);
    return b ? std::vector<BYTE>(b, b + n) : std::vector<BYTE>();
  }
  void ReadValue(RegValue* v) {
    v->name = ColText(0);
    v->type = static_cast<DWORD>(ColInt(1));
    v->data = ColBlob(2);
  }

 private:
  sqlite3_stmt* s_;
};

LONG MakeParentFolders(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
    std::string dir = file.substr(0, slash);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
      return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED
                                                                   : ERROR_CANTWRITE;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

class HiveStore::Transaction {
 public:
  Transaction(sqlite3* db, bool write) : db_(db) {
    rc_ = sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    open_ = rc_ == SQLITE_OK;
  }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  int rc() const { return rc_; }
  int Commit() {
    rc_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc_ == SQLITE_OK) open_ = false;
    return rc_;
  }

 private:
  sqlite3* db_;
  int rc_;
  bool open_;
};

HiveStore* HiveStore::ForFile(const std::string& path) {
  // Deliberately never freed: handles held in static objects of other
  // libraries may still be closed during exit.
  static std::mutex* mutex = new std::mutex;
  static auto* stores = new std::unordered_map<std::string, HiveStore*>;
  std::lock_guard<std::mutex> lock(*mutex);
  HiveStore*& store = (*stores)[path];
  if (!store) store = new HiveStore(path);
  return store;
}

void HiveStore::Close() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  writable_ = false;
  schema_ = false;
  stale_ = false;
}

void HiveStore::MarkBroken(const std::string& why) {
  // The connection may be in use by the running call; Prepare closes it.
  if (!broken_) {
    std::fprintf(stderr,
                 "norv registry: the hive file \"%s\" cannot be used (%s); it reads as empty and "
                 "is not written until it is repaired or removed.\n",
                 path_.c_str(), why.c_str());
  }
  broken_ = true;
  stale_ = true;
}

LONG HiveStore::MapError(int rc, Mode mode) {
  switch (rc & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      MarkBroken(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
      return ERROR_BADDB;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      stale_ = true;  // start over with a fresh connection next time
      break;
    default:
      break;
  }
  return mode == Mode::kWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
}

sqlite3_stmt* HiveStore::Statement(const char* sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return nullptr;
  }
  statements_[sql] = s;
  return s;
}

bool HiveStore::HasSchema() {
  Query q(Statement("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'vals'"));
  return q.ok() && q.Step() == SQLITE_ROW;
}

LONG HiveStore::CreateFile() {
  LONG rc = MakeParentFolders(path_);
  if (rc != ERROR_SUCCESS) return rc;
  // An empty file is an empty database; the schema follows in EnsureSchema.
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
  ::close(fd);
  return ERROR_SUCCESS;
}

LONG HiveStore::EnsureSchema() {
  if (HasSchema()) {
    schema_ = true;
    return ERROR_SUCCESS;
  }
  // WAL lets readers go on while one process writes; it is a property of
  // the file and so is set once, when the hive is first written.
  int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return MapError(rc, Mode::kWrite);
  Transaction t(db_, true);
  if (t.rc() != SQLITE_OK) return MapError(t.rc(), Mode::kWrite);
  std::string sql = std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
                    ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = t.Commit();
  if (rc != SQLITE_OK) return MapError(rc, Mode::kWrite);
  schema_ = true;
  return ERROR_SUCCESS;
}

HiveStore::Ready HiveStore::OpenExisting(Mode mode, LONG* error) {
  auto broken = [&](const std::string& why) {
    MarkBroken(why);
    *error = ERROR_BADDB;
    return mode == Mode::kRead ? Ready::kEmpty : Ready::kFailed;
  };
  // Look at the header first: SQLite would take page 1 from a leftover
  // write-ahead log and so accept (and later checkpoint into) any file put
  // in place of the hive.
  {
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return broken(std::strerror(errno));
    char header[16] = {};
    ssize_t n = ::read(fd, header, sizeof header);
    int readError = errno;
    ::close(fd);
    if (n < 0) return broken(std::strerror(readError));
    if (n > 0 && (n < 16 || std::memcmp(header, "SQLite format 3", 16) != 0))
      return broken("not a SQLite database");
  }
  int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  writable_ = rc == SQLITE_OK;
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return broken(why);
  }
  owner_ = ::getpid();
  if (writable_ && sqlite3_db_readonly(db_, "main") == 1) writable_ = false;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);

  // Check the file before trusting it: it must be a sound SQLite database
  // and either ours or still empty. One snapshot, as another process may be
  // laying out the schema right now.
  std::int64_t appId = 0, version = 0;
  Transaction snapshot(db_, false);
  if (snapshot.rc() != SQLITE_OK) {
    if ((snapshot.rc() & 0xFF) == SQLITE_BUSY) {
      stale_ = true;
      *error = mode == Mode::kWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
      return Ready::kFailed;
    }
    return broken(sqlite3_errmsg(db_));
  }
  {
    Query q(Statement("PRAGMA application_id"));
    if (!q.ok()) return broken(sqlite3_errmsg(db_));
    rc = q.Step();
    if (rc != SQLITE_ROW) {
      if ((rc & 0xFF) == SQLITE_BUSY) {
        stale_ = true;
        *error = mode == Mode::kWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
        return Ready::kFailed;
      }
      return broken(sqlite3_errmsg(db_));
    }
    appId = q.ColInt(0);
  }
  {
    Query q(Statement("PRAGMA user_version"));
    if (q.ok() && q.Step() == SQLITE_ROW) version = q.ColInt(0);
  }
  {
    Query q(Statement("PRAGMA quick_check"));
    if (!q.ok()) return broken(sqlite3_errmsg(db_));
    rc = q.Step();
    if (rc != SQLITE_ROW) return broken(sqlite3_errmsg(db_));
    std::string result = q.ColText(0);
    if (result != "ok") return broken("damaged database: " + result);
  }
  if (appId != kApplicationId) {
    Query q(Statement("SELECT count(*) FROM sqlite_master"));
    bool empty = q.ok() && q.Step() == SQLITE_ROW && q.ColInt(0) == 0;
    if (appId != 0 || !empty) return broken("not a registry hive");
  } else if (version > kSchemaVersion) {
    return broken("written by a newer version of the registry");
  }
  schema_ = HasSchema();
  snapshot.Commit();
  // In WAL mode NORMAL never corrupts the file; a power cut may at most lose
  // the last writes, and it saves an fsync per write.
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  return Ready::kDatabase;
}

HiveStore::Ready HiveStore::Prepare(Mode mode, LONG* error) {
  if (db_ && owner_ != ::getpid()) {
    // A forked child must not touch its parent's connection (closing it
    // would drop the parent's file locks): leave it and start afresh.
    db_ = nullptr;
    statements_.clear();
    dev_ = ino_ = 0;
  }
  if (stale_) {
    Close();
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) {
      int e = errno;
      if (e != ENOENT && e != ENOTDIR) {
        // The path exists in some form but cannot be looked at.
        if (dev_ != 0 || ino_ != 0 || !broken_) {
          Close();
          dev_ = ino_ = 0;
          broken_ = false;
          MarkBroken(std::strerror(e));
        }
        *error = ERROR_BADDB;
        return mode == Mode::kRead ? Ready::kEmpty : Ready::kFailed;
      }
      Close();
      dev_ = ino_ = 0;
      broken_ = false;
      if (mode == Mode::kRead) return Ready::kEmpty;
      LONG rc = attempt == 0 ? CreateFile() : ERROR_CANTWRITE;
      if (rc != ERROR_SUCCESS) {
        *error = rc;
        return Ready::kFailed;
      }
      continue;
    }
    std::string stamp = std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_mode);
    if (st.st_dev != dev_ || st.st_ino != ino_ || (broken_ && stamp != brokenStamp_)) {
      // Another file than the one we knew (created, replaced or restored).
      Close();
      broken_ = false;
      dev_ = st.st_dev;
      ino_ = st.st_ino;
      brokenStamp_ = stamp;
      if (!S_ISREG(st.st_mode)) {
        MarkBroken("not a regular file");
      } else {
        Ready r = OpenExisting(mode, error);
        if (r != Ready::kDatabase) {
          if (stale_ && !broken_) dev_ = ino_ = 0;  // transient: look again next call
          return r;
        }
      }
    }
    if (broken_) {
      Close();
      *error = ERROR_BADDB;
      return mode == Mode::kRead ? Ready::kEmpty : Ready::kFailed;
    }
    if (!db_) {
      dev_ = ino_ = 0;  // closed after an I/O error: reopen from scratch
      if (attempt == 0) continue;
      *error = mode == Mode::kWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
      return Ready::kFailed;
    }
    if (mode == Mode::kWrite) {
      if (!writable_) {
        *error = ERROR_ACCESS_DENIED;
        return Ready::kFailed;
      }
      if (!schema_) {
        LONG rc = EnsureSchema();
        if (rc != ERROR_SUCCESS) {
          *error = rc;
          return Ready::kFailed;
        }
      }
    } else if (!schema_ && !(schema_ = HasSchema())) {
      return Ready::kEmpty;
    }
    return Ready::kDatabase;
  }
  *error = mode == Mode::kWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
  return Ready::kFailed;
}

LONG HiveStore::Exists(KeyId key) {
  if (key == kHiveRoot) return ERROR_SUCCESS;
  Query q(Statement("SELECT 1 FROM keys WHERE id = ?1"));
  if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
  int rc = q.Int(1, key).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return MapError(rc, Mode::kRead);
}

LONG HiveStore::Find(KeyId parent, const std::vector<std::string>& names, KeyId* key) {
  KeyId id = parent;
  for (const std::string& name : names) {
    Query q(Statement("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    int rc = q.Int(1, id).Text(2, FoldCase(name)).Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return MapError(rc, Mode::kRead);
    id = q.ColInt(0);
  }
  *key = id;
  return ERROR_SUCCESS;
}

template <typename Body>
LONG HiveStore::Read(KeyId key, LONG emptyResult, Body body) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error = ERROR_SUCCESS;
  Ready ready = Prepare(Mode::kRead, &error);
  if (ready == Ready::kFailed) return error;
  // An empty hive still has its top key; any other key a handle names is gone
  // (unless the hive is damaged, which reads as empty throughout).
  if (ready == Ready::kEmpty) return (key == kHiveRoot || broken_) ? emptyResult : ERROR_KEY_DELETED;
  Transaction t(db_, false);
  if (t.rc() != SQLITE_OK) return MapError(t.rc(), Mode::kRead);
  LONG rc = Exists(key);
  if (rc == ERROR_SUCCESS) rc = body();
  if (rc == ERROR_BADDB) return emptyResult;
  if (rc == ERROR_SUCCESS && t.Commit() != SQLITE_OK) return MapError(t.rc(), Mode::kRead);
  return rc;
}

template <typename Body>
LONG HiveStore::Write(Body body) {
  std::lock_guard<std::mutex> lock(mutex_);
  LONG error = ERROR_SUCCESS;
  if (Prepare(Mode::kWrite, &error) != Ready::kDatabase) return error;
  Transaction t(db_, true);
  if (t.rc() != SQLITE_OK) return MapError(t.rc(), Mode::kWrite);
  LONG rc = body();
  if (rc != ERROR_SUCCESS) return rc;
  if (t.Commit() != SQLITE_OK) return MapError(t.rc(), Mode::kWrite);
  return ERROR_SUCCESS;
}

LONG HiveStore::OpenKey(KeyId parent, const std::vector<std::string>& names, KeyId* key) {
  KeyId found = parent;
  LONG rc = Read(parent, names.empty() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
                 [&] { return Find(parent, names, &found); });
  if (rc == ERROR_SUCCESS) *key = found;
  return rc;
}

// Sets a key's last write time; the hive's top key keeps none.
LONG HiveStore::Touch(KeyId key, QWORD when) {
  if (key == kHiveRoot) return ERROR_SUCCESS;
  Query touch(Statement("UPDATE keys SET written = ?2 WHERE id = ?1"));
  if (!touch.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
  int s = touch.Int(1, key).Int(2, static_cast<std::int64_t>(when)).Step();
  return s == SQLITE_DONE ? ERROR_SUCCESS : MapError(s, Mode::kWrite);
}

LONG HiveStore::CreateKey(KeyId parent, const std::vector<std::string>& names, KeyId* key, bool* created) {
  KeyId id = parent;
  bool made = false;
  LONG rc = Write([&]() -> LONG {
    LONG r = Exists(parent);
    if (r != ERROR_SUCCESS) return r;
    QWORD now = FileTimeNow();
    for (const std::string& name : names) {
      std::string fold = FoldCase(name);
      {
        Query q(Statement("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"));
        if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
        int s = q.Int(1, id).Text(2, fold).Step();
        if (s == SQLITE_ROW) {
          id = q.ColInt(0);
          made = false;
          continue;
        }
        if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
      }
      if ((r = Touch(id, now)) != ERROR_SUCCESS) return r;
      Query insert(Statement("INSERT INTO keys(parent, name, fold, written) VALUES(?1, ?2, ?3, ?4)"));
      if (!insert.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      int s = insert.Int(1, id).Text(2, name).Text(3, fold).Int(4, static_cast<std::int64_t>(now)).Step();
      if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
      id = sqlite3_last_insert_rowid(db_);
      made = true;
    }
    return ERROR_SUCCESS;
  });
  if (rc == ERROR_SUCCESS) {
    *key = id;
    if (created) *created = made;
  }
  return rc;
}

LONG HiveStore::DeleteKey(KeyId parent, const std::vector<std::string>& names, bool tree) {
  return Write([&]() -> LONG {
    LONG r = Exists(parent);
    if (r != ERROR_SUCCESS) return r;
    KeyId target = parent;
    r = Find(parent, names, &target);
    if (r != ERROR_SUCCESS) return r;
    if (target == kHiveRoot) return ERROR_ACCESS_DENIED;  // a hive's top key stays
    if (!tree) {
      Query q(Statement("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"));
      if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      int s = q.Int(1, target).Step();
      if (s == SQLITE_ROW) return ERROR_ACCESS_DENIED;
      if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
    }
    KeyId owner = 0;
    {
      Query q(Statement("SELECT parent FROM keys WHERE id = ?1"));
      if (!q.ok() || q.Int(1, target).Step() != SQLITE_ROW) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      owner = q.ColInt(0);
    }
    // Values first: the key rows are what the recursive walk follows.
    const char* statements[] = {
        "WITH RECURSIVE below(id) AS (SELECT ?1 UNION ALL "
        "SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) "
        "DELETE FROM vals WHERE key IN (SELECT id FROM below)",
        "WITH RECURSIVE below(id) AS (SELECT ?1 UNION ALL "
        "SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) "
        "DELETE FROM keys WHERE id IN (SELECT id FROM below)",
    };
    for (const char* sql : statements) {
      Query q(Statement(sql));
      if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      int s = q.Int(1, target).Step();
      if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
    }
    return Touch(owner, FileTimeNow());
  });
}

LONG HiveStore::SubKeyAt(KeyId key, DWORD index, std::string* name, QWORD* lastWrite) {
  return Read(key, ERROR_NO_MORE_ITEMS, [&]() -> LONG {
    Query q(Statement("SELECT name, written FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    int s = q.Int(1, key).Int(2, index).Step();
    if (s == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (s != SQLITE_ROW) return MapError(s, Mode::kRead);
    *name = q.ColText(0);
    if (lastWrite) *lastWrite = static_cast<QWORD>(q.ColInt(1));
    return ERROR_SUCCESS;
  });
}

LONG HiveStore::SubKeys(KeyId key, std::vector<std::string>* names) {
  names->clear();
  return Read(key, ERROR_SUCCESS, [&]() -> LONG {
    Query q(Statement("SELECT name FROM keys WHERE parent = ?1 ORDER BY fold"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    q.Int(1, key);
    int s;
    while ((s = q.Step()) == SQLITE_ROW) names->push_back(q.ColText(0));
    if (s != SQLITE_DONE) {
      names->clear();
      return MapError(s, Mode::kRead);
    }
    return ERROR_SUCCESS;
  });
}

LONG HiveStore::CountKeyContents(KeyId key, DWORD* subKeys, DWORD* values) {
  DWORD k = 0, v = 0;
  LONG rc = Read(key, ERROR_SUCCESS, [&]() -> LONG {
    Query q(Statement("SELECT (SELECT count(*) FROM keys WHERE parent = ?1), "
                      "(SELECT count(*) FROM vals WHERE key = ?1)"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    int s = q.Int(1, key).Step();
    if (s != SQLITE_ROW) return MapError(s, Mode::kRead);
    k = static_cast<DWORD>(q.ColInt(0));
    v = static_cast<DWORD>(q.ColInt(1));
    return ERROR_SUCCESS;
  });
  if (rc == ERROR_SUCCESS) {
    if (subKeys) *subKeys = k;
    if (values) *values = v;
  }
  return rc;
}

LONG HiveStore::GetValue(KeyId key, std::string_view name, RegValue* value) {
  return Read(key, ERROR_FILE_NOT_FOUND, [&]() -> LONG {
    Query q(Statement("SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    int s = q.Int(1, key).Text(2, FoldCase(name)).Step();
    if (s == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (s != SQLITE_ROW) return MapError(s, Mode::kRead);
    q.ReadValue(value);
    return ERROR_SUCCESS;
  });
}

LONG HiveStore::ValueAt(KeyId key, DWORD index, RegValue* value) {
  return Read(key, ERROR_NO_MORE_ITEMS, [&]() -> LONG {
    Query q(Statement("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    int s = q.Int(1, key).Int(2, index).Step();
    if (s == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (s != SQLITE_ROW) return MapError(s, Mode::kRead);
    q.ReadValue(value);
    return ERROR_SUCCESS;
  });
}

LONG HiveStore::Values(KeyId key, std::vector<RegValue>* values) {
  values->clear();
  return Read(key, ERROR_SUCCESS, [&]() -> LONG {
    Query q(Statement("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kRead);
    q.Int(1, key);
    int s;
    while ((s = q.Step()) == SQLITE_ROW) {
      values->emplace_back();
      q.ReadValue(&values->back());
    }
    if (s != SQLITE_DONE) {
      values->clear();
      return MapError(s, Mode::kRead);
    }
    return ERROR_SUCCESS;
  });
}

LONG HiveStore::SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, size_t size) {
  return Write([&]() -> LONG {
    LONG r = Exists(key);
    if (r != ERROR_SUCCESS) return r;
    Query q(Statement("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                      "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
    int s = q.Int(1, key).Text(2, name).Text(3, FoldCase(name)).Int(4, type).Blob(5, data, size).Step();
    if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
    return Touch(key, FileTimeNow());
  });
}

LONG HiveStore::DeleteValue(KeyId key, std::string_view name) {
  return Write([&]() -> LONG {
    LONG r = Exists(key);
    if (r != ERROR_SUCCESS) return r;
    Query q(Statement("DELETE FROM vals WHERE key = ?1 AND fold = ?2"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
    int s = q.Int(1, key).Text(2, FoldCase(name)).Step();
    if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
    if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
    return Touch(key, FileTimeNow());
  });
}

LONG HiveStore::UpdateValue(KeyId key, std::string_view name,
                            const std::function<LONG(std::optional<RegValue>*)>& change) {
  return Write([&]() -> LONG {
    LONG r = Exists(key);
    if (r != ERROR_SUCCESS) return r;
    std::optional<RegValue> value;
    {
      Query q(Statement("SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2"));
      if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      int s = q.Int(1, key).Text(2, FoldCase(name)).Step();
      if (s == SQLITE_ROW) {
        value.emplace();
        q.ReadValue(&*value);
      } else if (s != SQLITE_DONE) {
        return MapError(s, Mode::kWrite);
      }
    }
    bool existed = value.has_value();
    if ((r = change(&value)) != ERROR_SUCCESS) return r;  // rolled back by Write
    if (!value) {
      if (!existed) return ERROR_SUCCESS;
      Query q(Statement("DELETE FROM vals WHERE key = ?1 AND fold = ?2"));
      if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
      int s = q.Int(1, key).Text(2, FoldCase(name)).Step();
      if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
      return Touch(key, FileTimeNow());
    }
    if (value->data.size() > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
    Query q(Statement("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                      "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"));
    if (!q.ok()) return MapError(sqlite3_errcode(db_), Mode::kWrite);
    int s = q.Int(1, key)
                .Text(2, name)
                .Text(3, FoldCase(name))
                .Int(4, value->type)
                .Blob(5, value->data.data(), value->data.size())
                .Step();
    if (s != SQLITE_DONE) return MapError(s, Mode::kWrite);
    return Touch(key, FileTimeNow());
  });
}

}  // namespace plat::registry
