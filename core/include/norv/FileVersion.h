// Reads the version record of a file: its fixed version numbers and the
// strings of its translations (file description, product name, ...).
#pragma once
#include <memory>
#include <vector>

#include "norv/norvtypes.h"
#include "platform/version_info.h"

class NORV_API CFileVersion {
 public:
  CFileVersion();
  virtual ~CFileVersion();
  CFileVersion(const CFileVersion&) = delete;
  CFileVersion& operator=(const CFileVersion&) = delete;

  // Reads the version record and its first translation; FALSE (and closed)
  // when the file has no record or no translation.
  BOOL Open(const NorvString& path);
  void Close();
  BOOL IsOpen() const { return m_pVersionData != nullptr; }

  // "\StringFileInfo\<lang+codepage>\<name>" for the given translation
  // (language in the high half, code page in the low half), or the first
  // translation for 0. Empty when absent or not open.
  NorvString QueryValue(const NorvString& name, DWORD langCodePage = 0) const;

  NorvString GetFileDescription() const { return QueryValue(L"FileDescription"); }
  NorvString GetFileVersion() const { return QueryValue(L"FileVersion"); }
  NorvString GetProductName() const { return QueryValue(L"ProductName"); }
  NorvString GetProductVersion() const { return QueryValue(L"ProductVersion"); }
  NorvString GetInternalName() const { return QueryValue(L"InternalName"); }
  NorvString GetCompanyName() const { return QueryValue(L"CompanyName"); }
  NorvString GetLegalCopyright() const { return QueryValue(L"LegalCopyright"); }
  NorvString GetOriginalFilename() const { return QueryValue(L"OriginalFilename"); }

  BOOL GetFixedInfo(plat::FixedFileInfo& info) const;
  // "a.b.c.d" from the fixed record; empty without one.
  NorvString GetFixedFileVersion() const;
  NorvString GetFixedProductVersion() const;

  // The file's name and extension without its folder.
  NorvString GetFileName() const;
  // Language and code page of the first translation (0 when closed).
  DWORD GetLangCodePage() const { return m_dwLangCharset; }

 private:
  std::unique_ptr<std::vector<BYTE>> m_pVersionData;
  DWORD m_dwLangCharset = 0;
  NorvString m_strPath;
};
