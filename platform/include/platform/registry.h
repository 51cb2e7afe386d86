// The registry: Win32-shaped calls over hives stored in SQLite, one database
// file per hive. Names of keys and values are case-insensitive and keep their
// case; every value keeps its type and its bytes exactly. String values are
// stored as Windows stores them, UTF-16LE with a terminating zero; the W calls
// take and return that form, the A calls convert to and from UTF-8.
//
// Locations: HKEY_LOCAL_MACHINE in /var/lib/norv/registry/machine.db, the
// current user's hive in $XDG_DATA_HOME/norv/registry/user.db (default
// ~/.local/share; a hive in $XDG_CONFIG_HOME/norv/registry, where earlier
// versions kept it, stays in use while there is none there), HKEY_USERS lists
// the user hives found. When NORV_REGISTRY_DIR is
// set every hive lives below it instead: machine.db and users/<name>.db, where
// the current user's name is the login name.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat {

struct RegKeyObject;
using HKEY = RegKeyObject*;

// Predefined roots, as on Windows (handle values 0x80000001 and so on).
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_USERS;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr DWORD KEY_NOTIFY = 0x0010;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD DELETE = 0x10000;
constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;  // accepted; such keys persist like any other
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Subkey paths use backslashes, as on Windows; an empty or null subkey opens
// a new handle to the parent key itself. Every call returns a Win32 error
// code; a corrupt or unreadable hive is reported once on standard error and
// reads as empty (ERROR_FILE_NOT_FOUND), and writes to it fail with
// ERROR_BADDB: it is never overwritten.
LONG RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegCreateKeyExW(HKEY parent, const wchar_t* subKey, DWORD reserved, wchar_t* className,
                     DWORD options, DWORD access, void* security, HKEY* result, DWORD* disposition);
LONG RegCreateKeyExA(HKEY parent, const char* subKey, DWORD reserved, char* className,
                     DWORD options, DWORD access, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);

// Query: with data null only the type and size are returned; a buffer that
// is too small gives ERROR_MORE_DATA and the needed size in *dataSize.
LONG RegQueryValueExW(HKEY key, const wchar_t* valueName, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataSize);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataSize);
LONG RegSetValueExW(HKEY key, const wchar_t* valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize);

// Enumeration by index: subkeys in case-insensitive alphabetical order,
// values in creation order. Sizes are in characters, as on Windows.
LONG RegEnumKeyW(HKEY key, DWORD index, wchar_t* name, DWORD nameChars);
LONG RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                   wchar_t* className, DWORD* classChars, void* lastWriteTime);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* reserved,
                   char* className, DWORD* classChars, void* lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values);

LONG RegDeleteValueW(HKEY key, const wchar_t* valueName);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKeyW(HKEY key, const wchar_t* subKey);
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes a key with everything below it (SHDeleteKey).
LONG SHDeleteKeyW(HKEY key, const wchar_t* subKey);
LONG SHDeleteKeyA(HKEY key, const char* subKey);

// Convenience for C++ callers and tools: a whole value at once.
struct RegValue {
  std::string name;  // UTF-8
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Whole-key helpers for C++ callers and tools; each is one consistent read
// or one write. Data are exactly as stored (strings in UTF-16LE), names UTF-8.
LONG RegListSubKeys(HKEY key, std::vector<std::string>* names);  // in enumeration order
LONG RegListValues(HKEY key, std::vector<RegValue>* values);     // in creation order
LONG RegReadValue(HKEY key, const std::string& name, RegValue* value);
LONG RegWriteValue(HKEY key, const RegValue& value);

// Read, change and write one value as one transaction of the hive: no write
// of another thread or process comes between the read and the write, so two
// callers that each add to a value both find their addition afterwards.
// `change` gets the value as stored (empty when there is none; the name it
// holds is ignored) and edits it in place, or empties it to delete the value.
// It returns ERROR_SUCCESS to store the result; any other code leaves the
// hive as it was and is returned. `change` runs with the hive locked and must
// not call the registry. The handle needs KEY_QUERY_VALUE and KEY_SET_VALUE.
LONG RegUpdateValue(HKEY key, const std::string& name,
                    const std::function<LONG(std::optional<RegValue>* value)>& change);

// Folder holding the hives currently in use (honours NORV_REGISTRY_DIR).
std::string RegistryDirectory();
// The file of the hive behind HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER.
std::string RegistryHivePath(HKEY root);

}  // namespace plat
