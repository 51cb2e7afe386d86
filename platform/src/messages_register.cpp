// RegisterWindowMessage: one id per name for every process of the user. The
// table lives in SQLite in the message directory; registration takes the
// write lock first (BEGIN IMMEDIATE) so that two processes registering new
// names at once cannot hand out the same id, and waits for each other.
#include <sqlite3.h>

#include <map>
#include <mutex>

#include "messages_internal.h"
#include "platform/messages.h"
#include "platform/text.h"

namespace plat {
namespace {

constexpr UINT kFirstId = 0xC000;
constexpr UINT kLastId = 0xFFFF;
constexpr int kBusyMilliseconds = 10000;

// Ids never change once handed out, so each process remembers them; the key
// holds the folder too, since the folder can differ between calls.
std::mutex gCacheMutex;
std::map<std::string, UINT>& Cache() {
  static std::map<std::string, UINT> cache;
  return cache;
}

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      return;
    }
    sqlite3_busy_timeout(db_, kBusyMilliseconds);
  }
  ~Database() {
    if (db_) sqlite3_close(db_);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  bool Ok() const { return db_ != nullptr; }
  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  // Runs a statement with text parameters; the first column of the first
  // row goes to *result when given. -1: failed, 0: no row, 1: a row.
  int Step(const char* sql, std::initializer_list<std::string_view> params, sqlite3_int64* result) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) return -1;
    int index = 1;
    for (std::string_view p : params)
      sqlite3_bind_text(stmt, index++, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    int outcome = rc == SQLITE_ROW ? 1 : rc == SQLITE_DONE ? 0 : -1;
    if (outcome == 1 && result) *result = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return outcome;
  }

 private:
  sqlite3* db_ = nullptr;
};

UINT LookUpOrAdd(const std::string& dir, const std::string& name, const std::string& folded) {
  Database db(dir + "/messages.db");
  if (!db.Ok() || !db.Exec("BEGIN IMMEDIATE")) return 0;
  sqlite3_int64 id = 0;
  bool ok = db.Exec(
      "CREATE TABLE IF NOT EXISTS message_names("
      "id INTEGER PRIMARY KEY, folded TEXT NOT NULL UNIQUE, name TEXT NOT NULL)");
  int found = ok ? db.Step("SELECT id FROM message_names WHERE folded = ?1", {folded}, &id) : -1;
  if (found == 0) {
    sqlite3_int64 last = 0;
    ok = db.Step("SELECT coalesce(max(id), 0) FROM message_names", {}, &last) == 1;
    id = last < kFirstId ? kFirstId : last + 1;
    // Every id taken: registration fails, as on Windows.
    ok = ok && id <= kLastId &&
         db.Step("INSERT INTO message_names(id, folded, name) VALUES (?1, ?2, ?3)",
                 {std::to_string(id), folded, name}, nullptr) == 0;
  } else if (found < 0 || id < kFirstId || id > kLastId) {
    ok = false;
  }
  if (!ok || !db.Exec("COMMIT")) {
    db.Exec("ROLLBACK");
    return 0;
  }
  return static_cast<UINT>(id);
}

}  // namespace

UINT RegisterWindowMessage(std::string_view name) {
  if (name.empty()) return 0;
  std::string dir;
  if (!messages::PrepareDirectory(&dir)) return 0;
  std::string folded = FoldCase(name);
  std::string key = dir + '\0' + folded;
  {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    auto it = Cache().find(key);
    if (it != Cache().end()) return it->second;
  }
  UINT id = LookUpOrAdd(dir, std::string(name), folded);
  if (id != 0) {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    Cache().emplace(key, id);
  }
  return id;
}

UINT RegisterWindowMessage(std::wstring_view name) { return RegisterWindowMessage(ToUtf8(name)); }

}  // namespace plat
