// Registry names and codes in the words users see: root key names, full key
// paths and explanations of error codes.
#include <string>

#include "platform/reg_file.h"
#include "platform/text.h"

namespace plat {

bool SplitRegistryPath(std::string_view path, HKEY* root, std::string* subKey) {
  size_t slash = path.find('\\');
  std::string_view head = path.substr(0, slash);
  static const struct {
    const char* longName;
    const char* shortName;
    HKEY key;
  } roots[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
      {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
      {"HKEY_USERS", "HKU", HKEY_USERS},
  };
  for (const auto& r : roots) {
    if (EqualsNoCase(head, r.longName) || EqualsNoCase(head, r.shortName)) {
      *root = r.key;
      subKey->assign(slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1));
      return true;
    }
  }
  return false;
}

std::string RegistryRootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return std::string();
}

std::string RegistryErrorText(LONG code) {
  switch (code) {
    case ERROR_SUCCESS: return "the operation completed successfully";
    case ERROR_FILE_NOT_FOUND: return "the key or value does not exist";
    case ERROR_ACCESS_DENIED: return "access is denied";
    case ERROR_INVALID_HANDLE: return "the key handle is not valid";
    case ERROR_NOT_ENOUGH_MEMORY: return "not enough memory";
    case ERROR_INVALID_DATA: return "the data cannot be represented";
    case ERROR_INVALID_PARAMETER: return "a name or argument is not valid";
    case ERROR_MORE_DATA: return "the data do not fit the buffer";
    case ERROR_NO_MORE_ITEMS: return "no more items";
    case ERROR_BADDB: return "the registry hive file is damaged or not a registry database";
    case ERROR_CANTREAD: return "the registry hive cannot be read";
    case ERROR_CANTWRITE: return "the registry hive cannot be written";
    case ERROR_KEY_DELETED: return "the key has been deleted";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace plat
