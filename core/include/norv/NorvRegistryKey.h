// Typed access to registry values. CNorvRegistryKey opens (or, with write
// access, creates) one key and reads and writes its values by type;
// CNorvPrivateRegistryKey does the same below the framework's own settings
// root, which the host names once at start-up.
#pragma once
#include <vector>

#include "norv/NorvRuntimeClass.h"
#include "norv/norvtypes.h"

using NorvStringArray = std::vector<NorvString>;
using NorvUIntArray = std::vector<UINT>;

class NORV_API CNorvRegistryKey : public CNorvObject {
 public:
  // The largest data the readers accept; longer values read as failures
  // rather than being cut, so a caller never acts on half a value.
  static constexpr DWORD kMaxStringBytes = 1024;
  static constexpr DWORD kMaxArrayBytes = 4096;
  static constexpr DWORD kMaxEnumChars = 256;

  // With KEY_SET_VALUE or KEY_CREATE_SUB_KEY in `access` a missing key is
  // created; otherwise it is only opened. IsOpen tells whether that worked.
  CNorvRegistryKey(HKEY parent, const NorvString& subKey, DWORD access = plat::KEY_READ);
  virtual ~CNorvRegistryKey();
  CNorvRegistryKey(const CNorvRegistryKey&) = delete;
  CNorvRegistryKey& operator=(const CNorvRegistryKey&) = delete;

  operator HKEY() const { return m_hKey; }
  BOOL IsOpen() const { return m_hKey != nullptr; }

  // Every reader returns FALSE, and leaves its output untouched, when the key
  // is not open, the value is missing, its type differs or it is too long.
  BOOL GetStringValue(const NorvString& name, NorvString& value) const;  // REG_SZ only
  BOOL GetUIntValue(const NorvString& name, UINT& value) const;          // REG_DWORD
  BOOL GetStringArray(const NorvString& name, NorvStringArray& values) const;  // REG_MULTI_SZ
  BOOL GetUIntArray(const NorvString& name, NorvUIntArray& values) const;      // REG_BINARY
  // Every value of the key, names and data side by side; string data as
  // text, numbers in decimal, other types empty. Entries whose name or data
  // exceed kMaxEnumChars characters are left out.
  BOOL GetEnumStrings(NorvStringArray& names, NorvStringArray& values) const;
  // Every subkey name (names longer than kMaxEnumChars are left out).
  BOOL GetEnumKeys(NorvStringArray& names) const;

  BOOL SetStringValue(const NorvString& name, const NorvString& value);
  BOOL SetUIntValue(const NorvString& name, UINT value);
  BOOL SetStringArray(const NorvString& name, const NorvStringArray& values);
  BOOL SetUIntArray(const NorvString& name, const NorvUIntArray& values);

 protected:
  HKEY m_hKey = nullptr;
};

class NORV_API CNorvPrivateRegistryKey : public CNorvRegistryKey {
 public:
  // `subKey` is relative to the private root ("SOFTWARE\<key>\").
  CNorvPrivateRegistryKey(HKEY parent, const NorvString& subKey, DWORD access = plat::KEY_READ);

  // Names the framework's settings key, for example "Velmora\NORV2.1".
  static void SetRegistryKey(const NorvString& key);
  // "SOFTWARE\<key>\", or empty before SetRegistryKey.
  static NorvString GetPrivateRoot();
  // The full path of `subKey` below the private root, without a trailing
  // backslash.
  static NorvString PrivatePath(const NorvString& subKey);
};
