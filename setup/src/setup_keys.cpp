#include "setup_keys.h"

#include "platform/text.h"

namespace norvsetup {

using namespace plat;

Key::Key(HKEY root, const std::string& path, DWORD access) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, access, &handle) == ERROR_SUCCESS) handle_ = handle;
}

Key::~Key() {
  if (handle_) RegCloseKey(handle_);
}

bool Key::Create(HKEY root, const std::string& path, Key* key, bool* created) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &handle, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  if (key->handle_) RegCloseKey(key->handle_);
  key->handle_ = handle;
  if (created) *created = disposition == REG_CREATED_NEW_KEY;
  return true;
}

bool Key::ReadString(const std::string& name, std::string* value, size_t maxLength) const {
  if (!handle_) return false;
  RegValue raw;
  if (RegReadValue(handle_, name, &raw) != ERROR_SUCCESS) return false;
  if (raw.type != REG_SZ && raw.type != REG_EXPAND_SZ) return false;
  std::u16string units(raw.data.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(raw.data[2 * i] | (raw.data[2 * i + 1] << 8));
  // Up to the first zero, as a string read into a buffer ends there.
  if (size_t zero = units.find(u'\0'); zero != std::u16string::npos) units.resize(zero);
  std::string text = Utf16ToUtf8(units);
  if (text.size() > maxLength) return false;
  *value = std::move(text);
  return true;
}

bool Key::WriteString(const std::string& name, const std::string& value) const {
  if (!handle_) return false;
  return RegSetValueExA(handle_, name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool Key::WriteNumber(const std::string& name, DWORD value) const {
  if (!handle_) return false;
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                        static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return RegSetValueExA(handle_, name.c_str(), 0, REG_DWORD, data, 4) == ERROR_SUCCESS;
}

std::vector<std::string> Key::SubKeys() const {
  std::vector<std::string> names;
  if (handle_) RegListSubKeys(handle_, &names);
  return names;
}

bool KeyExists(HKEY root, const std::string& path) {
  return Key(root, path, KEY_READ).IsOpen();
}

bool DeleteTree(HKEY root, const std::string& path) {
  if (path.empty()) return false;  // never the root itself
  const LONG rc = SHDeleteKeyA(root, path.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace norvsetup
