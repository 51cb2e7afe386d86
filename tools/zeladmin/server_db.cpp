#include "server_db.h"

#include <cctype>
#include <cstdlib>
#include <utility>
#include <ctime>

namespace zeladmin {

// A prepared statement, finalized by its owner.
class ServerDb::Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return stmt_ != nullptr; }
  Statement& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int i, std::int64_t value) {
    sqlite3_bind_int64(stmt_, i, value);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::string Text(int column) {
    const unsigned char* t = sqlite3_column_text(stmt_, column);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  login TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
  organization TEXT NOT NULL DEFAULT '',
  config_database TEXT NOT NULL DEFAULT '',
  server_database_dir TEXT NOT NULL DEFAULT '',
  protected INTEGER NOT NULL DEFAULT 0,
  flags INTEGER NOT NULL DEFAULT 0,
  system_name TEXT NOT NULL DEFAULT '',
  email TEXT NOT NULL DEFAULT '',
  last_login INTEGER NOT NULL DEFAULT 0,
  deployment INTEGER NOT NULL DEFAULT 0,
  config_file TEXT NOT NULL DEFAULT '',
  last_host TEXT NOT NULL DEFAULT '',
  version TEXT NOT NULL DEFAULT '',
  data_dir TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL DEFAULT (datetime('now')));
CREATE TABLE IF NOT EXISTS domains(name TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS jobs(
  id INTEGER PRIMARY KEY, started TEXT NOT NULL DEFAULT (datetime('now')), description TEXT);
CREATE TABLE IF NOT EXISTS results(
  job INTEGER NOT NULL, seq INTEGER PRIMARY KEY, user_name TEXT, user_id INTEGER,
  status INTEGER, text TEXT);
)";

}  // namespace

std::string DomainOf(const std::string& userName) {
  std::size_t slash = userName.find('\\');
  if (slash != std::string::npos) return userName.substr(0, slash);
  std::size_t at = userName.rfind('@');
  if (at != std::string::npos) return userName.substr(at + 1);
  return "";
}

ServerDb::ServerDb(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : "cannot open " + path;
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec(kSchema)) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

ServerDb::~ServerDb() { sqlite3_close(db_); }

bool ServerDb::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error_ = message ? message : "SQLite error";
  sqlite3_free(message);
  return false;
}

long ServerDb::CreateUser(User* user) {
  std::lock_guard lock(mutex_);
  if (!db_) return kDatabaseFailure;
  {
    Statement s(db_, "SELECT 1 FROM users WHERE name = ?1 OR (?2 <> '' AND login = ?2)");
    if (!s.Ok()) return kDatabaseFailure;
    s.Bind(1, user->name).Bind(2, user->login);
    int rc = s.Step();
    if (rc == SQLITE_ROW) return kLoginExists;
    if (rc != SQLITE_DONE) return kDatabaseFailure;
  }
  if (user->flags & 0x20) {
    std::string domain = DomainOf(user->name);
    Statement s(db_, "SELECT 1 FROM domains WHERE name = ?1");
    if (!s.Ok()) return kDatabaseFailure;
    s.Bind(1, domain);
    if (domain.empty() || s.Step() != SQLITE_ROW) return kDomainUserInvalid;
  }
  Statement s(db_,
              "INSERT INTO users(id, name, login, organization, config_database, "
              "server_database_dir, protected, flags, system_name, email) VALUES("
              "max(4096, (SELECT coalesce(max(id), 0) FROM users)) + 1, "
              "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  if (!s.Ok()) return kDatabaseFailure;
  s.Bind(1, user->name).Bind(2, user->login).Bind(3, user->organization).Bind(4, user->configDatabase);
  s.Bind(5, user->serverDatabaseDir).Bind(6, std::int64_t{user->protectedMode});
  s.Bind(7, std::int64_t{user->flags}).Bind(8, user->systemName).Bind(9, user->email);
  if (s.Step() != SQLITE_DONE) {
    error_ = sqlite3_errmsg(db_);
    return kDatabaseFailure;
  }
  user->id = sqlite3_last_insert_rowid(db_);
  return kCreated;
}

namespace {
constexpr const char* kUserColumns =
    "id, name, login, organization, config_database, server_database_dir, protected, flags, "
    "system_name, email, last_login, deployment, config_file, last_host, version, data_dir";
}

std::optional<User> ServerDb::FindUser(const std::string& name) {
  std::vector<User> all = Users();
  for (User& u : all) {
    if (u.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(u.name[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    if (same) return u;
  }
  return std::nullopt;
}

std::vector<User> ServerDb::Users() {
  std::lock_guard lock(mutex_);
  std::vector<User> users;
  if (!db_) return users;
  Statement s(db_, (std::string("SELECT ") + kUserColumns + " FROM users ORDER BY id").c_str());
  while (s.Step() == SQLITE_ROW) {
    User u;
    u.id = s.Int(0);
    u.name = s.Text(1);
    u.login = s.Text(2);
    u.organization = s.Text(3);
    u.configDatabase = s.Text(4);
    u.serverDatabaseDir = s.Text(5);
    u.protectedMode = static_cast<int>(s.Int(6));
    u.flags = static_cast<int>(s.Int(7));
    u.systemName = s.Text(8);
    u.email = s.Text(9);
    u.lastLogin = static_cast<int>(s.Int(10));
    u.deployment = static_cast<int>(s.Int(11));
    u.configFile = s.Text(12);
    u.lastHost = s.Text(13);
    u.version = s.Text(14);
    u.dataDir = s.Text(15);
    users.push_back(std::move(u));
  }
  return users;
}

bool ServerDb::SetProperty(const std::string& name, const std::string& property,
                           const std::string& value) {
  static const std::pair<const char*, const char*> kColumns[] = {
      {"last-login", "last_login"}, {"deployment", "deployment"}, {"version", "version"},
      {"last-host", "last_host"},   {"config-file", "config_file"}, {"data-dir", "data_dir"},
      {"system", "system_name"},    {"email", "email"},           {"login", "login"}};
  const char* column = nullptr;
  for (auto& [p, c] : kColumns)
    if (property == p) column = c;
  if (!column) return false;
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, (std::string("UPDATE users SET ") + column + " = ?1 WHERE name = ?2").c_str());
  if (!s.Ok()) return false;
  bool numeric = property == "last-login" || property == "deployment";
  if (numeric)
    s.Bind(1, static_cast<std::int64_t>(std::strtoll(value.c_str(), nullptr, 10)));
  else
    s.Bind(1, value);
  s.Bind(2, name);
  return s.Step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool ServerDb::AddDomain(const std::string& domain) {
  std::lock_guard lock(mutex_);
  if (!db_ || domain.empty()) return false;
  Statement s(db_, "INSERT OR IGNORE INTO domains(name) VALUES(?1)");
  s.Bind(1, domain);
  return s.Step() == SQLITE_DONE;
}

bool ServerDb::KnowsDomain(const std::string& domain) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, "SELECT 1 FROM domains WHERE name = ?1");
  s.Bind(1, domain);
  return s.Step() == SQLITE_ROW;
}

std::int64_t ServerDb::StartJob(const std::string& description) {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  Statement s(db_, "INSERT INTO jobs(description) VALUES(?1)");
  s.Bind(1, description);
  return s.Step() == SQLITE_DONE ? sqlite3_last_insert_rowid(db_) : 0;
}

std::int64_t ServerDb::LastJob() {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  Statement s(db_, "SELECT coalesce(max(id), 0) FROM jobs");
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

bool ServerDb::AddResult(const Result& r) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  Statement s(db_, "INSERT INTO results(job, user_name, user_id, status, text) VALUES(?1, ?2, ?3, ?4, ?5)");
  s.Bind(1, r.job).Bind(2, r.userName).Bind(3, r.userId).Bind(4, std::int64_t{r.status}).Bind(5, r.text);
  if (s.Step() != SQLITE_DONE) return false;
  // The deployment state follows the outcome: installed, or to be retried.
  if (r.status == 32 || r.status == 16) {
    Statement u(db_, "UPDATE users SET deployment = ?1 WHERE name = ?2");
    u.Bind(1, std::int64_t{r.status}).Bind(2, r.userName);
    u.Step();
  }
  return true;
}

std::vector<Result> ServerDb::Results(std::int64_t job) {
  std::lock_guard lock(mutex_);
  std::vector<Result> out;
  if (!db_) return out;
  Statement s(db_, "SELECT job, user_name, user_id, status, text FROM results WHERE job = ?1 ORDER BY seq");
  s.Bind(1, job);
  while (s.Step() == SQLITE_ROW)
    out.push_back({s.Int(0), s.Text(1), s.Int(2), static_cast<int>(s.Int(3)), s.Text(4)});
  return out;
}

}  // namespace zeladmin
