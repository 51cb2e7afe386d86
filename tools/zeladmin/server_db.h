// The demonstration server's users, domains and send results in SQLite.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zeladmin {

struct User {
  std::int64_t id = 0;
  std::string name, login, organization, configDatabase, serverDatabaseDir, systemName, email;
  int protectedMode = 0;
  int flags = 0;
  int lastLogin = 0;
  int deployment = 0;
  std::string configFile, lastHost, version, dataDir;
};

struct Result {
  std::int64_t job = 0;
  std::string userName;
  std::int64_t userId = 0;
  int status = 0;
  std::string text;
};

// Results of CreateUser, as the server window answers.
constexpr long kCreated = 0;
constexpr long kLoginExists = -2;
constexpr long kDomainUserInvalid = -10;
constexpr long kDatabaseFailure = -1;

class ServerDb {
 public:
  // Opens (creating when missing) the database file; check IsOpen and Error.
  explicit ServerDb(const std::string& path);
  ~ServerDb();
  ServerDb(const ServerDb&) = delete;
  ServerDb& operator=(const ServerDb&) = delete;

  bool IsOpen() const { return db_ != nullptr; }
  std::string Error() const { return error_; }

  // Creates the user unless its name or login exists (kLoginExists), or it
  // must be a domain user (flags 0x20) and its domain is unknown
  // (kDomainUserInvalid). On kCreated the new identifier is in user->id.
  long CreateUser(User* user);
  std::optional<User> FindUser(const std::string& name);
  std::vector<User> Users();
  // Sets one property ("last-login", "deployment", "version", "last-host",
  // "config-file", "data-dir", "system", "email", "login"); false for an
  // unknown user or property.
  bool SetProperty(const std::string& name, const std::string& property, const std::string& value);
  bool AddDomain(const std::string& domain);
  bool KnowsDomain(const std::string& domain);

  std::int64_t StartJob(const std::string& description);
  bool AddResult(const Result& result);
  std::vector<Result> Results(std::int64_t job);
  std::int64_t LastJob();

 private:
  class Statement;
  bool Exec(const char* sql);
  sqlite3* db_ = nullptr;
  std::string error_;
  std::mutex mutex_;  // the server window is called from the send job's thread
};

// The domain part of a domain user name ("DOM\\user" or "user@dom"), else empty.
std::string DomainOf(const std::string& userName);

}  // namespace zeladmin
