#include "pending_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"

namespace zel {
namespace {

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";
const char kPrefix[] = "\\??\\";

std::string StripPrefix(const std::string& text) {
  return text.rfind(kPrefix, 0) == 0 ? text.substr(std::strlen(kPrefix)) : text;
}

// Reads the value's strings; true also when the key or value is absent.
bool ReadStrings(std::vector<std::string>* strings) {
  strings->clear();
  plat::HKEY key = nullptr;
  plat::LONG rc = plat::RegOpenKeyExW(plat::HKEY_LOCAL_MACHINE, kKey, 0, plat::KEY_QUERY_VALUE, &key);
  if (rc == plat::ERROR_FILE_NOT_FOUND) return true;
  if (rc != plat::ERROR_SUCCESS) return false;
  plat::DWORD type = 0, size = 0;
  rc = plat::RegQueryValueExW(key, kValue, nullptr, &type, nullptr, &size);
  if (rc == plat::ERROR_FILE_NOT_FOUND) {
    plat::RegCloseKey(key);
    return true;
  }
  std::vector<plat::BYTE> data(size);
  if (rc == plat::ERROR_SUCCESS && size)
    rc = plat::RegQueryValueExW(key, kValue, nullptr, &type, data.data(), &size);
  plat::RegCloseKey(key);
  if (rc != plat::ERROR_SUCCESS || type != plat::REG_MULTI_SZ) return false;
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  *strings = ParseMultiString(text);
  return true;
}

bool WriteStrings(const std::vector<std::string>& strings) {
  plat::HKEY key = nullptr;
  if (plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, kKey, 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                            plat::KEY_SET_VALUE | plat::KEY_QUERY_VALUE, nullptr, &key,
                            nullptr) != plat::ERROR_SUCCESS)
    return false;
  plat::LONG rc;
  if (strings.empty()) {
    rc = plat::RegDeleteValueW(key, kValue);
    if (rc == plat::ERROR_FILE_NOT_FOUND) rc = plat::ERROR_SUCCESS;
  } else {
    std::u16string text = BuildMultiString(strings);
    std::vector<plat::BYTE> data(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
      data[2 * i] = static_cast<plat::BYTE>(text[i] & 0xFF);
      data[2 * i + 1] = static_cast<plat::BYTE>(text[i] >> 8);
    }
    rc = plat::RegSetValueExW(key, kValue, 0, plat::REG_MULTI_SZ, data.data(),
                              static_cast<plat::DWORD>(data.size()));
  }
  plat::RegCloseKey(key);
  return rc == plat::ERROR_SUCCESS;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

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
  if (start < body.size()) strings.push_back(plat::Utf16ToUtf8(std::u16string_view(body).substr(start)));
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
  if (path.empty()) return false;
  std::vector<std::string> strings;
  if (!ReadStrings(&strings)) return false;
  if (strings.size() % 2) strings.emplace_back();  // keep pairs aligned
  strings.push_back(kPrefix + path);
  strings.emplace_back();
  return WriteStrings(strings);
}

bool ReadPendingOperations(std::vector<PendingOperation>* operations) {
  operations->clear();
  std::vector<std::string> strings;
  if (!ReadStrings(&strings)) return false;
  for (std::size_t i = 0; i < strings.size(); i += 2) {
    PendingOperation op;
    op.source = StripPrefix(strings[i]);
    std::string target = i + 1 < strings.size() ? strings[i + 1] : std::string();
    if (!target.empty() && target[0] == '!') {
      op.replace = true;
      target.erase(0, 1);
    }
    op.target = StripPrefix(target);
    if (!op.source.empty()) operations->push_back(op);
  }
  return true;
}

int RunPendingOperations(std::vector<std::string>* failures) {
  std::vector<PendingOperation> operations;
  if (!ReadPendingOperations(&operations)) return -1;
  int failed = 0;
  auto fail = [&](const PendingOperation& op, const char* what, int error) {
    ++failed;
    if (failures)
      failures->push_back(op.source + ": " + what + ": " + std::strerror(error));
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
  if (!WriteStrings({})) return -1;
  return failed;
}

}  // namespace zel
