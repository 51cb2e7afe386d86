#include "pending_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/registry.h"
#include "platform/text.h"

namespace zel {
namespace {

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kValueName[] = "PendingFileRenameOperations";
const char kPrefix[] = "\\??\\";

std::string StripPrefix(const std::string& text) {
  return text.rfind(kPrefix, 0) == 0 ? text.substr(std::strlen(kPrefix)) : text;
}

plat::HKEY Root(PendingRecord record) {
  return record == PendingRecord::kMachine ? plat::HKEY_LOCAL_MACHINE : plat::HKEY_CURRENT_USER;
}

// The strings of a stored value; false for a value of another type, which is
// left alone rather than overwritten. An absent value is an empty list.
bool StringsOf(const std::optional<plat::RegValue>& value, std::vector<std::string>* strings) {
  strings->clear();
  if (!value) return true;
  if (value->type != plat::REG_MULTI_SZ) return false;
  const std::vector<plat::BYTE>& data = value->data;
  std::u16string text(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  *strings = ParseMultiString(text);
  return true;
}

// Stores the strings into *value, or removes the value when there are none.
void SetStrings(const std::vector<std::string>& strings, std::optional<plat::RegValue>* value) {
  if (strings.empty()) {
    value->reset();
    return;
  }
  std::u16string text = BuildMultiString(strings);
  value->emplace();
  (*value)->type = plat::REG_MULTI_SZ;
  (*value)->data.resize(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    (*value)->data[2 * i] = static_cast<plat::BYTE>(text[i] & 0xFF);
    (*value)->data[2 * i + 1] = static_cast<plat::BYTE>(text[i] >> 8);
  }
}

// Reads the value's strings; true also when the key or value is absent.
bool ReadStrings(PendingRecord record, std::vector<std::string>* strings) {
  strings->clear();
  plat::HKEY key = nullptr;
  plat::LONG rc = plat::RegOpenKeyExW(Root(record), kKey, 0, plat::KEY_QUERY_VALUE, &key);
  if (rc == plat::ERROR_FILE_NOT_FOUND) return true;
  if (rc != plat::ERROR_SUCCESS) return false;
  std::optional<plat::RegValue> value;
  value.emplace();
  rc = plat::RegReadValue(key, kValueName, &*value);
  plat::RegCloseKey(key);
  if (rc == plat::ERROR_FILE_NOT_FOUND)
    value.reset();
  else if (rc != plat::ERROR_SUCCESS)
    return false;
  return StringsOf(value, strings);
}

// Takes the record's strings and clears it in one transaction.
bool TakeStrings(PendingRecord record, std::vector<std::string>* strings) {
  strings->clear();
  plat::HKEY key = nullptr;
  plat::LONG rc =
      plat::RegOpenKeyExW(Root(record), kKey, 0, plat::KEY_SET_VALUE | plat::KEY_QUERY_VALUE, &key);
  if (rc == plat::ERROR_FILE_NOT_FOUND) return true;
  if (rc != plat::ERROR_SUCCESS) return false;
  rc = plat::RegUpdateValue(key, kValueName, [&](std::optional<plat::RegValue>* value) {
    if (!StringsOf(*value, strings)) return plat::ERROR_INVALID_DATA;
    value->reset();
    return plat::ERROR_SUCCESS;
  });
  plat::RegCloseKey(key);
  if (rc != plat::ERROR_SUCCESS) strings->clear();
  return rc == plat::ERROR_SUCCESS;
}

std::vector<PendingOperation> OperationsOf(const std::vector<std::string>& strings) {
  std::vector<PendingOperation> operations;
  for (std::size_t i = 0; i < strings.size(); i += 2) {
    PendingOperation op;
    op.source = StripPrefix(strings[i]);
    std::string target = i + 1 < strings.size() ? strings[i + 1] : std::string();
    if (!target.empty() && target[0] == '!') {
      op.replace = true;
      target.erase(0, 1);
    }
    op.target = StripPrefix(target);
    if (!op.source.empty()) operations.push_back(op);
  }
  return operations;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

PendingRecord OwnPendingRecord() {
  return geteuid() == 0 ? PendingRecord::kMachine : PendingRecord::kUser;
}

std::vector<std::string> ParseMultiString(const std::u16string& data) {
  // Every string ends with a zero and the list with one more; empty strings
  // inside the list are kept, since they mark deletions.
  std::u16string body = data;
  if (!body.empty() && body.back() == u'\0') body.pop_back();
  std::vector<std::string> strings;
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != u'\0') continue;
    strings.push_back(plat::Utf16ToUtf8(std::u16string_view(body).substr(start, i - start)));
    start = i + 1;
  }
  if (start < body.size())
    strings.push_back(plat::Utf16ToUtf8(std::u16string_view(body).substr(start)));
  return strings;
}

std::u16string BuildMultiString(const std::vector<std::string>& strings) {
  std::u16string text;
  for (const std::string& s : strings) {
    text += plat::Utf8ToUtf16(s);
    text += u'\0';
  }
  text += u'\0';
  return text;
}

bool ScheduleDeleteAtRestart(const std::string& path) {
  return ScheduleDeleteAtRestart(path, OwnPendingRecord());
}

bool ScheduleDeleteAtRestart(const std::string& path, PendingRecord record) {
  if (path.empty()) return false;
  plat::HKEY key = nullptr;
  if (plat::RegCreateKeyExW(Root(record), kKey, 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                            plat::KEY_SET_VALUE | plat::KEY_QUERY_VALUE, nullptr, &key,
                            nullptr) != plat::ERROR_SUCCESS)
    return false;
  plat::LONG rc = plat::RegUpdateValue(key, kValueName, [&](std::optional<plat::RegValue>* value) {
    std::vector<std::string> strings;
    if (!StringsOf(*value, &strings)) return plat::ERROR_INVALID_DATA;
    if (strings.size() % 2) strings.emplace_back();  // keep pairs aligned
    strings.push_back(kPrefix + path);
    strings.emplace_back();
    SetStrings(strings, value);
    return plat::ERROR_SUCCESS;
  });
  plat::RegCloseKey(key);
  return rc == plat::ERROR_SUCCESS;
}

bool ReadPendingOperations(PendingRecord record, std::vector<PendingOperation>* operations) {
  operations->clear();
  std::vector<std::string> strings;
  if (!ReadStrings(record, &strings)) return false;
  *operations = OperationsOf(strings);
  return true;
}

int RunPendingOperations(PendingRecord record, std::vector<std::string>* failures) {
  std::vector<std::string> strings;
  if (!TakeStrings(record, &strings)) return -1;
  std::vector<PendingOperation> operations = OperationsOf(strings);
  int failed = 0;
  auto fail = [&](const PendingOperation& op, const char* what, int error) {
    ++failed;
    if (failures) failures->push_back(op.source + ": " + what + ": " + std::strerror(error));
  };
  for (const PendingOperation& op : operations) {
    if (op.target.empty()) {
      struct stat st {};
      if (lstat(op.source.c_str(), &st) != 0) {
        if (errno != ENOENT) fail(op, "cannot delete", errno);  // already gone is fine
        continue;
      }
      int rc = S_ISDIR(st.st_mode) ? rmdir(op.source.c_str()) : unlink(op.source.c_str());
      if (rc != 0) fail(op, "cannot delete", errno);
    } else {
      if (!op.replace && Exists(op.target)) {
        fail(op, "cannot move", EEXIST);
        continue;
      }
      if (rename(op.source.c_str(), op.target.c_str()) != 0) fail(op, "cannot move", errno);
    }
  }
  return failed;
}

}  // namespace zel
