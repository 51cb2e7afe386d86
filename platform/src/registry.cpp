// The Win32-shaped registry calls: handles, access rights, path handling and
// the conversions of the A calls. Storage is HiveStore's business.
#include "platform/registry.h"
#include "platform/registry_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/text.h"
#include "registry_paths.h"
#include "registry_store.h"

namespace plat {

using registry::HiveStore;
using registry::KeyId;
using registry::kHiveRoot;

struct RegKeyObject {
  enum class Kind { kKey, kUserList };
  Kind kind = Kind::kKey;
  HiveStore* hive = nullptr;
  KeyId id = kHiveRoot;
  DWORD access = 0;
};

const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
const HKEY HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003});

namespace {

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr DWORD kGenericRead = 0x80000000, kGenericWrite = 0x40000000, kGenericExecute = 0x20000000,
                kGenericAll = 0x10000000;

// Open handles, so that a stale or foreign pointer is refused instead of
// being followed.
std::mutex& HandleMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::unordered_set<RegKeyObject*>& LiveHandles() {
  static auto* handles = new std::unordered_set<RegKeyObject*>;
  return *handles;
}

HKEY NewHandle(const RegKeyObject& key) {
  auto* object = new RegKeyObject(key);
  std::lock_guard<std::mutex> lock(HandleMutex());
  LiveHandles().insert(object);
  return object;
}

// A copy of what a handle refers to, so that a concurrent close cannot pull
// the object away during a call.
LONG Resolve(HKEY handle, RegKeyObject* out) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER) {
    out->kind = RegKeyObject::Kind::kKey;
    out->hive = HiveStore::ForFile(handle == HKEY_LOCAL_MACHINE ? registry::MachineHivePath()
                                                                : registry::CurrentUserHivePath());
    out->id = kHiveRoot;
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (handle == HKEY_USERS) {
    out->kind = RegKeyObject::Kind::kUserList;
    out->hive = nullptr;
    out->id = kHiveRoot;
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> lock(HandleMutex());
  if (!handle || !LiveHandles().count(handle)) return ERROR_INVALID_HANDLE;
  *out = *handle;
  return ERROR_SUCCESS;
}

DWORD EffectiveAccess(DWORD access) {
  if (access & (MAXIMUM_ALLOWED | kGenericAll)) access |= KEY_ALL_ACCESS;
  if (access & (kGenericRead | kGenericExecute)) access |= KEY_READ;
  if (access & kGenericWrite) access |= KEY_WRITE;
  return access;
}

size_t Utf16Length(std::string_view utf8) { return Utf8ToUtf16(utf8).size(); }

// Splits a backslash path into key names; empty parts (doubled, leading or
// trailing backslashes) are ignored.
LONG SplitPath(std::string_view path, std::vector<std::string>* names) {
  names->clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty()) {
      if (Utf16Length(part) > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
      names->emplace_back(part);
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::string Narrow(const wchar_t* text) { return text ? ToUtf8(text) : std::string(); }
std::string Narrow(const char* text) { return text ? std::string(text) : std::string(); }

// Below HKEY_USERS the first name chooses the user's hive. The current
// user's hive is always there (it may still be empty); others must exist.
LONG Descend(const RegKeyObject& parent, std::vector<std::string>* names, RegKeyObject* base) {
  *base = parent;
  if (parent.kind != RegKeyObject::Kind::kUserList || names->empty()) return ERROR_SUCCESS;
  const std::string& user = names->front();
  if (!registry::IsValidHiveName(user)) return ERROR_FILE_NOT_FOUND;
  std::string file = registry::UserHivePath(user);
  struct stat st;
  if (!EqualsNoCase(user, registry::LoginName()) && ::stat(file.c_str(), &st) != 0)
    return ERROR_FILE_NOT_FOUND;
  base->kind = RegKeyObject::Kind::kKey;
  base->hive = HiveStore::ForFile(file);
  base->id = kHiveRoot;
  names->erase(names->begin());
  return ERROR_SUCCESS;
}

// Resolves `parent` and splits `subKey`: *base is where the remaining
// *names start (a user's hive when `parent` is HKEY_USERS). Only a missing
// hive gives ERROR_FILE_NOT_FOUND.
LONG Locate(HKEY parent, const std::string& subKey, RegKeyObject* from, RegKeyObject* base,
            std::vector<std::string>* names) {
  LONG rc = Resolve(parent, from);
  if (rc != ERROR_SUCCESS) return rc;
  if ((rc = SplitPath(subKey, names)) != ERROR_SUCCESS) return rc;
  return Descend(*from, names, base);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::vector<BYTE> Utf16LeBytesToUtf8(const std::vector<BYTE>& data) {
  std::u16string units(data.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::string utf8 = Utf16ToUtf8(units);
  return std::vector<BYTE>(utf8.begin(), utf8.end());
}

std::vector<BYTE> Utf8ToUtf16LeBytes(const BYTE* data, size_t size) {
  std::u16string units = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<BYTE> out(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = static_cast<BYTE>(units[i] & 0xFF);
    out[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
  }
  return out;
}

// Hands a value's type and data to the caller the Win32 way.
LONG Deliver(const RegValue& value, bool ansi, DWORD* type, BYTE* data, DWORD* dataSize) {
  std::vector<BYTE> converted;
  const std::vector<BYTE>* bytes = &value.data;
  if (ansi && IsStringType(value.type)) {
    converted = Utf16LeBytesToUtf8(value.data);
    bytes = &converted;
  }
  if (bytes->size() > 0xFFFFFFFFu) return ERROR_INVALID_DATA;
  DWORD size = static_cast<DWORD>(bytes->size());
  if (type) *type = value.type;
  if (data) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes->data(), size);
  }
  if (dataSize) *dataSize = size;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of `capacity` characters (with the
// terminating zero); *length gets the length without it.
template <typename Char>
LONG CopyName(const std::basic_string<Char>& text, Char* buffer, DWORD capacity, DWORD* length) {
  if (text.size() + 1 > capacity) return ERROR_MORE_DATA;
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = Char(0);
  if (length) *length = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

LONG OpenKey(HKEY parent, const std::string& subKey, DWORD access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegKeyObject from, base;
  std::vector<std::string> names;
  LONG rc = Locate(parent, subKey, &from, &base, &names);
  if (rc != ERROR_SUCCESS) return rc;
  base.access = EffectiveAccess(access);
  if (base.kind == RegKeyObject::Kind::kKey) {
    rc = base.hive->OpenKey(base.id, names, &base.id);
    if (rc != ERROR_SUCCESS) return rc;
  }
  *result = NewHandle(base);
  return ERROR_SUCCESS;
}

LONG CreateKey(HKEY parent, const std::string& subKey, DWORD access, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegKeyObject from, base;
  std::vector<std::string> names;
  LONG rc = Locate(parent, subKey, &from, &base, &names);
  if (rc != ERROR_SUCCESS)
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : rc;  // hives are not made here
  DWORD how = REG_OPENED_EXISTING_KEY;
  if (base.kind == RegKeyObject::Kind::kKey) {
    KeyId id = base.id;
    rc = base.hive->OpenKey(base.id, names, &id);
    if (rc == ERROR_FILE_NOT_FOUND) {
      if (!(from.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      bool created = false;
      rc = base.hive->CreateKey(base.id, names, &id, &created);
      if (created) how = REG_CREATED_NEW_KEY;
    }
    if (rc != ERROR_SUCCESS) return rc;
    base.id = id;
  }
  base.access = EffectiveAccess(access);
  *result = NewHandle(base);
  if (disposition) *disposition = how;
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const std::string& name, DWORD* reserved, DWORD* type, BYTE* data,
                DWORD* dataSize, bool ansi) {
  if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) return ERROR_FILE_NOT_FOUND;
  RegValue value;
  if ((rc = k.hive->GetValue(k.id, name, &value)) != ERROR_SUCCESS) return rc;
  return Deliver(value, ansi, type, data, dataSize);
}

LONG SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data, DWORD dataSize, bool ansi) {
  if (!data && dataSize) return ERROR_INVALID_PARAMETER;
  if (Utf16Length(name) > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_SET_VALUE) || k.kind == RegKeyObject::Kind::kUserList) return ERROR_ACCESS_DENIED;
  if (ansi && IsStringType(type)) {
    std::vector<BYTE> wide = Utf8ToUtf16LeBytes(data, dataSize);
    return k.hive->SetValue(k.id, name, type, wide.data(), wide.size());
  }
  return k.hive->SetValue(k.id, name, type, data, dataSize);
}

// The name of subkey `index`; below HKEY_USERS the user hives found.
LONG SubKeyAt(HKEY key, DWORD index, std::string* name, QWORD* lastWrite) {
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (lastWrite) *lastWrite = 0;
  if (k.kind == RegKeyObject::Kind::kUserList) {
    std::vector<std::string> users = registry::UserHiveNames();
    if (index >= users.size()) return ERROR_NO_MORE_ITEMS;
    *name = users[index];
    return ERROR_SUCCESS;
  }
  return k.hive->SubKeyAt(k.id, index, name, lastWrite);
}

LONG ValueAt(HKEY key, DWORD index, RegValue* value) {
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) return ERROR_NO_MORE_ITEMS;
  return k.hive->ValueAt(k.id, index, value);
}

void WriteFileTime(QWORD time, void* lastWriteTime) {
  if (!lastWriteTime) return;
  DWORD halves[2] = {static_cast<DWORD>(time & 0xFFFFFFFFu), static_cast<DWORD>(time >> 32)};
  std::memcpy(lastWriteTime, halves, sizeof halves);
}

template <typename Char>
void ClearClass(Char* className, DWORD* classChars) {
  if (className && classChars && *classChars) className[0] = Char(0);
  if (classChars) *classChars = 0;
}

template <typename Char, typename Convert>
LONG EnumKeyEx(HKEY key, DWORD index, Char* name, DWORD* nameChars, DWORD* reserved, Char* className,
               DWORD* classChars, void* lastWriteTime, Convert convert) {
  if (!name || !nameChars || reserved) return ERROR_INVALID_PARAMETER;
  std::string found;
  QWORD written = 0;
  LONG rc = SubKeyAt(key, index, &found, &written);
  if (rc != ERROR_SUCCESS) return rc;
  rc = CopyName(convert(found), name, *nameChars, nameChars);
  if (rc != ERROR_SUCCESS) return rc;
  ClearClass(className, classChars);
  WriteFileTime(written, lastWriteTime);
  return ERROR_SUCCESS;
}

template <typename Char, typename Convert>
LONG EnumValue(HKEY key, DWORD index, Char* name, DWORD* nameChars, DWORD* reserved, DWORD* type,
               BYTE* data, DWORD* dataSize, bool ansi, Convert convert) {
  if (!name || !nameChars || reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  RegValue value;
  LONG rc = ValueAt(key, index, &value);
  if (rc != ERROR_SUCCESS) return rc;
  rc = CopyName(convert(value.name), name, *nameChars, nameChars);
  if (rc != ERROR_SUCCESS) return rc;
  return Deliver(value, ansi, type, data, dataSize);
}

LONG DeleteKey(HKEY key, const std::string& subKey, bool tree) {
  RegKeyObject from, base;
  LONG rc = Resolve(key, &from);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(from.access & (DELETE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
  std::vector<std::string> names;
  if ((rc = SplitPath(subKey, &names)) != ERROR_SUCCESS) return rc;
  if ((rc = Descend(from, &names, &base)) != ERROR_SUCCESS) return rc;
  // A hive as a whole, or the list of hives, cannot be deleted.
  if (base.kind == RegKeyObject::Kind::kUserList ||
      (from.kind == RegKeyObject::Kind::kUserList && names.empty()))
    return ERROR_ACCESS_DENIED;
  return base.hive->DeleteKey(base.id, names, tree);
}

LONG DeleteValue(HKEY key, const std::string& name) {
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_SET_VALUE) || k.kind == RegKeyObject::Kind::kUserList) return ERROR_ACCESS_DENIED;
  return k.hive->DeleteValue(k.id, name);
}

std::wstring WideName(const std::string& utf8) { return FromUtf8(utf8); }
std::string SameName(const std::string& utf8) { return utf8; }

}  // namespace

LONG RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD, DWORD access, HKEY* result) {
  return OpenKey(parent, Narrow(subKey), access, result);
}

LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD, DWORD access, HKEY* result) {
  return OpenKey(parent, Narrow(subKey), access, result);
}

LONG RegCreateKeyExW(HKEY parent, const wchar_t* subKey, DWORD, wchar_t*, DWORD, DWORD access, void*,
                     HKEY* result, DWORD* disposition) {
  return CreateKey(parent, Narrow(subKey), access, result, disposition);
}

LONG RegCreateKeyExA(HKEY parent, const char* subKey, DWORD, char*, DWORD, DWORD access, void*, HKEY* result,
                     DWORD* disposition) {
  return CreateKey(parent, Narrow(subKey), access, result, disposition);
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(HandleMutex());
    if (!key || LiveHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const wchar_t* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
  return QueryValue(key, Narrow(valueName), reserved, type, data, dataSize, false);
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
  return QueryValue(key, Narrow(valueName), reserved, type, data, dataSize, true);
}

LONG RegSetValueExW(HKEY key, const wchar_t* valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  return SetValue(key, Narrow(valueName), type, data, dataSize, false);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  return SetValue(key, Narrow(valueName), type, data, dataSize, true);
}

LONG RegEnumKeyW(HKEY key, DWORD index, wchar_t* name, DWORD nameChars) {
  if (!name) return ERROR_INVALID_PARAMETER;
  std::string found;
  LONG rc = SubKeyAt(key, index, &found, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return CopyName(FromUtf8(found), name, nameChars, nullptr);
}

LONG RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                   wchar_t* className, DWORD* classChars, void* lastWriteTime) {
  return EnumKeyEx(key, index, name, nameChars, reserved, className, classChars, lastWriteTime, WideName);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* reserved, char* className,
                   DWORD* classChars, void* lastWriteTime) {
  return EnumKeyEx(key, index, name, nameChars, reserved, className, classChars, lastWriteTime, SameName);
}

LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  return EnumValue(key, index, name, nameChars, reserved, type, data, dataSize, false, WideName);
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  return EnumValue(key, index, name, nameChars, reserved, type, data, dataSize, true, SameName);
}

LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) {
    if (subKeys) *subKeys = static_cast<DWORD>(registry::UserHiveNames().size());
    if (values) *values = 0;
    return ERROR_SUCCESS;
  }
  return k.hive->CountKeyContents(k.id, subKeys, values);
}

LONG RegDeleteValueW(HKEY key, const wchar_t* valueName) { return DeleteValue(key, Narrow(valueName)); }
LONG RegDeleteValueA(HKEY key, const char* valueName) { return DeleteValue(key, Narrow(valueName)); }

LONG RegDeleteKeyW(HKEY key, const wchar_t* subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, Narrow(subKey), false);
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, Narrow(subKey), false);
}

LONG SHDeleteKeyW(HKEY key, const wchar_t* subKey) { return DeleteKey(key, Narrow(subKey), true); }
LONG SHDeleteKeyA(HKEY key, const char* subKey) { return DeleteKey(key, Narrow(subKey), true); }

LONG RegListSubKeys(HKEY key, std::vector<std::string>* names) {
  if (!names) return ERROR_INVALID_PARAMETER;
  names->clear();
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) {
    *names = registry::UserHiveNames();
    return ERROR_SUCCESS;
  }
  return k.hive->SubKeys(k.id, names);
}

LONG RegListValues(HKEY key, std::vector<RegValue>* values) {
  if (!values) return ERROR_INVALID_PARAMETER;
  values->clear();
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) return ERROR_SUCCESS;
  return k.hive->Values(k.id, values);
}

LONG RegReadValue(HKEY key, const std::string& name, RegValue* value) {
  if (!value) return ERROR_INVALID_PARAMETER;
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (k.kind == RegKeyObject::Kind::kUserList) return ERROR_FILE_NOT_FOUND;
  return k.hive->GetValue(k.id, name, value);
}

BOOL RegReadTextA(HKEY root, const char* subKey, const char* valueName, size_t bufferSize,
                  std::string* value, bool* keyFound) {
  HKEY key = nullptr;
  const bool found = RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
  if (keyFound) *keyFound = found;
  if (!found || bufferSize < 2 || !value) {
    if (found) RegCloseKey(key);
    return FALSE;
  }
  std::vector<char> data(bufferSize, '\0');
  DWORD type = 0, size = static_cast<DWORD>(bufferSize - 1);
  LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return FALSE;
  data[bufferSize - 1] = '\0';
  *value = data.data();
  return TRUE;
}

LONG RegWriteValue(HKEY key, const RegValue& value) {
  if (value.data.size() > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
  return SetValue(key, value.name, value.type, value.data.data(), static_cast<DWORD>(value.data.size()), false);
}

LONG RegUpdateValue(HKEY key, const std::string& name,
                    const std::function<LONG(std::optional<RegValue>* value)>& change) {
  if (!change || Utf16Length(name) > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  RegKeyObject k;
  LONG rc = Resolve(key, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(k.access & KEY_QUERY_VALUE) || !(k.access & KEY_SET_VALUE) ||
      k.kind == RegKeyObject::Kind::kUserList)
    return ERROR_ACCESS_DENIED;
  return k.hive->UpdateValue(k.id, name, change);
}

std::string RegistryHivePath(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return registry::MachineHivePath();
  if (root == HKEY_CURRENT_USER) return registry::CurrentUserHivePath();
  return std::string();
}

}  // namespace plat
