#include "norv/NorvRegistryKey.h"

#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace {

// The registry keeps string data as UTF-16LE with a terminating zero.
std::vector<BYTE> ToRegString(const NorvString& text) {
  std::u16string units = plat::ToUtf16(text);
  std::vector<BYTE> bytes;
  bytes.reserve((units.size() + 1) * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::u16string UnitsOf(const BYTE* data, DWORD size) {
  std::u16string units;
  units.reserve(size / 2);
  for (DWORD i = 0; i + 1 < size; i += 2)
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return units;
}

// String data up to its first zero (a stored value need not carry one).
NorvString FromRegString(const BYTE* data, DWORD size) {
  std::u16string units = UnitsOf(data, size);
  auto zero = units.find(u'\0');
  if (zero != std::u16string::npos) units.resize(zero);
  return plat::FromUtf16(units);
}

// Reads a value of the expected type whose data fits in `maxBytes`.
bool QueryTyped(HKEY key, const NorvString& name, DWORD wantedType, DWORD maxBytes,
                std::vector<BYTE>& data) {
  if (!key) return false;
  DWORD type = plat::REG_NONE;
  DWORD size = 0;
  if (plat::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) !=
      plat::ERROR_SUCCESS)
    return false;
  if (type != wantedType || size > maxBytes) return false;
  data.assign(size, 0);
  DWORD got = size;
  if (plat::RegQueryValueExW(key, name.c_str(), nullptr, &type, size ? data.data() : nullptr,
                             &got) != plat::ERROR_SUCCESS)
    return false;
  // The value may have changed between the two calls.
  if (type != wantedType || got > size) return false;
  data.resize(got);
  return true;
}

std::mutex& RootMutex() {
  static std::mutex m;
  return m;
}

NorvString& PrivateRoot() {
  static NorvString root;
  return root;
}

}  // namespace

CNorvRegistryKey::CNorvRegistryKey(HKEY parent, const NorvString& subKey, DWORD access) {
  HKEY key = nullptr;
  LONG rc;
  if (access & (plat::KEY_SET_VALUE | plat::KEY_CREATE_SUB_KEY)) {
    DWORD disposition = 0;
    rc = plat::RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                               access, nullptr, &key, &disposition);
  } else {
    rc = plat::RegOpenKeyExW(parent, subKey.c_str(), 0, access, &key);
  }
  m_hKey = rc == plat::ERROR_SUCCESS ? key : nullptr;
}

CNorvRegistryKey::~CNorvRegistryKey() {
  if (m_hKey) plat::RegCloseKey(m_hKey);
}

BOOL CNorvRegistryKey::GetStringValue(const NorvString& name, NorvString& value) const {
  std::vector<BYTE> data;
  if (!QueryTyped(m_hKey, name, plat::REG_SZ, kMaxStringBytes, data)) return FALSE;
  value = FromRegString(data.data(), static_cast<DWORD>(data.size()));
  return TRUE;
}

BOOL CNorvRegistryKey::GetUIntValue(const NorvString& name, UINT& value) const {
  std::vector<BYTE> data;
  if (!QueryTyped(m_hKey, name, plat::REG_DWORD, 4, data) || data.size() != 4) return FALSE;
  value = static_cast<UINT>(data[0]) | (static_cast<UINT>(data[1]) << 8) |
          (static_cast<UINT>(data[2]) << 16) | (static_cast<UINT>(data[3]) << 24);
  return TRUE;
}

BOOL CNorvRegistryKey::GetStringArray(const NorvString& name, NorvStringArray& values) const {
  std::vector<BYTE> data;
  if (!QueryTyped(m_hKey, name, plat::REG_MULTI_SZ, kMaxArrayBytes, data)) return FALSE;
  std::u16string units = UnitsOf(data.data(), static_cast<DWORD>(data.size()));
  // Each element ends in a zero and the list in one more. Only the final
  // terminators are dropped, so an empty element inside the list survives
  // the round trip instead of cutting the list short.
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  NorvStringArray result;
  if (!units.empty()) {
    size_t start = 0;
    while (true) {
      size_t zero = units.find(u'\0', start);
      if (zero == std::u16string::npos) {
        result.push_back(plat::FromUtf16(std::u16string_view(units).substr(start)));
        break;
      }
      result.push_back(plat::FromUtf16(std::u16string_view(units).substr(start, zero - start)));
      start = zero + 1;
    }
  }
  values = std::move(result);
  return TRUE;
}

BOOL CNorvRegistryKey::GetUIntArray(const NorvString& name, NorvUIntArray& values) const {
  std::vector<BYTE> data;
  if (!QueryTyped(m_hKey, name, plat::REG_BINARY, kMaxArrayBytes, data)) return FALSE;
  NorvUIntArray result;
  for (size_t i = 0; i + 4 <= data.size(); i += 4)
    result.push_back(static_cast<UINT>(data[i]) | (static_cast<UINT>(data[i + 1]) << 8) |
                     (static_cast<UINT>(data[i + 2]) << 16) |
                     (static_cast<UINT>(data[i + 3]) << 24));
  values = std::move(result);
  return TRUE;
}

BOOL CNorvRegistryKey::GetEnumStrings(NorvStringArray& names, NorvStringArray& values) const {
  if (!m_hKey) return FALSE;
  NorvStringArray resultNames, resultValues;
  // Sizes are asked for first, so a value too long for the limits is skipped
  // on its own rather than ending the walk.
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxEnumChars + 1];
    DWORD nameChars = kMaxEnumChars + 1;
    DWORD type = plat::REG_NONE;
    DWORD size = 0;
    LONG rc = plat::RegEnumValueW(m_hKey, index, name, &nameChars, nullptr, &type, nullptr, &size);
    if (rc == plat::ERROR_NO_MORE_ITEMS) break;
    if (rc == plat::ERROR_MORE_DATA) continue;  // name too long
    if (rc != plat::ERROR_SUCCESS) return FALSE;  // for example no right to read
    std::vector<BYTE> data(size);
    DWORD got = size;
    nameChars = kMaxEnumChars + 1;
    rc = plat::RegEnumValueW(m_hKey, index, name, &nameChars, nullptr, &type,
                             size ? data.data() : nullptr, &got);
    if (rc != plat::ERROR_SUCCESS) continue;
    data.resize(got < size ? got : size);
    NorvString text;
    if (type == plat::REG_SZ || type == plat::REG_EXPAND_SZ) {
      text = FromRegString(data.data(), static_cast<DWORD>(data.size()));
    } else if (type == plat::REG_DWORD && data.size() == 4) {
      UINT v = static_cast<UINT>(data[0]) | (static_cast<UINT>(data[1]) << 8) |
               (static_cast<UINT>(data[2]) << 16) | (static_cast<UINT>(data[3]) << 24);
      text = std::to_wstring(v);
    }
    if (text.size() > kMaxEnumChars) continue;
    resultNames.emplace_back(name, nameChars);
    resultValues.push_back(std::move(text));
  }
  names = std::move(resultNames);
  values = std::move(resultValues);
  return TRUE;
}

BOOL CNorvRegistryKey::GetEnumKeys(NorvStringArray& names) const {
  if (!m_hKey) return FALSE;
  NorvStringArray result;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxEnumChars + 1];
    DWORD nameChars = kMaxEnumChars + 1;
    LONG rc = plat::RegEnumKeyExW(m_hKey, index, name, &nameChars, nullptr, nullptr, nullptr,
                                  nullptr);
    if (rc == plat::ERROR_NO_MORE_ITEMS) break;
    if (rc == plat::ERROR_MORE_DATA) continue;  // name too long
    if (rc != plat::ERROR_SUCCESS) return FALSE;
    result.emplace_back(name, nameChars);
  }
  names = std::move(result);
  return TRUE;
}

BOOL CNorvRegistryKey::SetStringValue(const NorvString& name, const NorvString& value) {
  if (!m_hKey) return FALSE;
  std::vector<BYTE> data = ToRegString(value);
  return plat::RegSetValueExW(m_hKey, name.c_str(), 0, plat::REG_SZ, data.data(),
                              static_cast<DWORD>(data.size())) == plat::ERROR_SUCCESS;
}

BOOL CNorvRegistryKey::SetUIntValue(const NorvString& name, UINT value) {
  if (!m_hKey) return FALSE;
  BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                  static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return plat::RegSetValueExW(m_hKey, name.c_str(), 0, plat::REG_DWORD, data, 4) ==
         plat::ERROR_SUCCESS;
}

BOOL CNorvRegistryKey::SetStringArray(const NorvString& name, const NorvStringArray& values) {
  if (!m_hKey) return FALSE;
  std::vector<BYTE> data;
  for (const NorvString& v : values) {
    std::vector<BYTE> one = ToRegString(v);
    data.insert(data.end(), one.begin(), one.end());
  }
  data.push_back(0);  // the list's own terminator
  data.push_back(0);
  return plat::RegSetValueExW(m_hKey, name.c_str(), 0, plat::REG_MULTI_SZ, data.data(),
                              static_cast<DWORD>(data.size())) == plat::ERROR_SUCCESS;
}

BOOL CNorvRegistryKey::SetUIntArray(const NorvString& name, const NorvUIntArray& values) {
  if (!m_hKey) return FALSE;
  std::vector<BYTE> data;
  data.reserve(values.size() * 4);
  for (UINT v : values) {
    data.push_back(static_cast<BYTE>(v));
    data.push_back(static_cast<BYTE>(v >> 8));
    data.push_back(static_cast<BYTE>(v >> 16));
    data.push_back(static_cast<BYTE>(v >> 24));
  }
  return plat::RegSetValueExW(m_hKey, name.c_str(), 0, plat::REG_BINARY,
                              data.empty() ? nullptr : data.data(),
                              static_cast<DWORD>(data.size())) == plat::ERROR_SUCCESS;
}

CNorvPrivateRegistryKey::CNorvPrivateRegistryKey(HKEY parent, const NorvString& subKey,
                                                 DWORD access)
    : CNorvRegistryKey(parent, PrivatePath(subKey), access) {}

void CNorvPrivateRegistryKey::SetRegistryKey(const NorvString& key) {
  std::lock_guard<std::mutex> lock(RootMutex());
  PrivateRoot() = L"SOFTWARE\\" + key + L"\\";
}

NorvString CNorvPrivateRegistryKey::GetPrivateRoot() {
  std::lock_guard<std::mutex> lock(RootMutex());
  return PrivateRoot();
}

NorvString CNorvPrivateRegistryKey::PrivatePath(const NorvString& subKey) {
  NorvString path = GetPrivateRoot() + subKey;
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}
