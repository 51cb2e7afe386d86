// One hive: a SQLite database file holding a tree of keys and their values.
//
// Every call is one transaction (writes take the write lock up front with
// BEGIN IMMEDIATE), so several processes can share a hive without losing
// writes. A process keeps one connection per hive, guarded by a mutex.
// A missing file reads as an empty hive and is created on the first write;
// a damaged file is reported once, reads as empty and is never written.
#pragma once
#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"

namespace plat::registry {

using KeyId = std::int64_t;
constexpr KeyId kHiveRoot = 0;  // the hive's top key; it has no row of its own

class HiveStore {
 public:
  // The store of a file, shared by every handle in the process. Stores live
  // as long as the process: handles may outlive anything else.
  static HiveStore* ForFile(const std::string& path);

  const std::string& path() const { return path_; }

  // Key paths are lists of names below `parent`. Calls on a key that no
  // longer exists return ERROR_KEY_DELETED.
  LONG OpenKey(KeyId parent, const std::vector<std::string>& names, KeyId* key);
  LONG CreateKey(KeyId parent, const std::vector<std::string>& names, KeyId* key, bool* created);
  // Deletes the key at `names` below `parent` (the parent itself when the
  // list is empty). Without `tree` a key with subkeys is refused.
  LONG DeleteKey(KeyId parent, const std::vector<std::string>& names, bool tree);

  LONG SubKeyAt(KeyId key, DWORD index, std::string* name, QWORD* lastWrite);
  LONG SubKeys(KeyId key, std::vector<std::string>* names);
  LONG CountKeyContents(KeyId key, DWORD* subKeys, DWORD* values);

  LONG GetValue(KeyId key, std::string_view name, RegValue* value);
  LONG ValueAt(KeyId key, DWORD index, RegValue* value);
  LONG Values(KeyId key, std::vector<RegValue>* values);
  LONG SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, size_t size);
  LONG DeleteValue(KeyId key, std::string_view name);
  // Reads the value, hands it to `change` and stores what it leaves, in one
  // write transaction (see RegUpdateValue).
  LONG UpdateValue(KeyId key, std::string_view name,
                   const std::function<LONG(std::optional<RegValue>*)>& change);

  HiveStore(const HiveStore&) = delete;
  HiveStore& operator=(const HiveStore&) = delete;

 private:
  explicit HiveStore(std::string path) : path_(std::move(path)) {}

  enum class Mode { kRead, kWrite };
  enum class Ready { kDatabase, kEmpty, kFailed };
  class Transaction;

  // Brings the connection in line with the file on disk and says how the
  // call may proceed; kFailed leaves the error code in *error.
  Ready Prepare(Mode mode, LONG* error);
  Ready OpenExisting(Mode mode, LONG* error);
  LONG CreateFile();
  LONG EnsureSchema();
  bool HasSchema();
  void Close();
  void MarkBroken(const std::string& why);
  LONG MapError(int rc, Mode mode);

  sqlite3_stmt* Statement(const char* sql);
  LONG Exists(KeyId key);
  LONG Find(KeyId parent, const std::vector<std::string>& names, KeyId* key);
  // Sets a key's last write time (inside a write transaction).
  LONG Touch(KeyId key, QWORD when);

  // Shared bodies of the read calls; they run inside a transaction.
  template <typename Body>
  LONG Read(KeyId key, LONG emptyResult, Body body);
  template <typename Body>
  LONG Write(Body body);

  const std::string path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  bool writable_ = false;
  bool schema_ = false;
  bool broken_ = false;  // the file at dev_/ino_ is damaged or unreadable
  bool stale_ = false;   // the connection is to be closed before the next call
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  pid_t owner_ = 0;      // the process that opened db_
  // While broken no connection holds the file open, so its inode number may
  // be reused by a new file: size, time and mode tell them apart.
  std::string brokenStamp_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace plat::registry
