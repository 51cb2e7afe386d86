#include "norv/FileVersion.h"

#include <cstring>

#include "platform/text.h"

CFileVersion::CFileVersion() = default;

CFileVersion::~CFileVersion() { Close(); }

BOOL CFileVersion::Open(const NorvString& path) {
  Close();
  m_strPath = path;
  auto block = std::make_unique<std::vector<BYTE>>();
  if (!plat::GetFileVersionInfo(plat::ToUtf8(path), block.get()) || block->empty())
    return FALSE;
  const BYTE* value = nullptr;
  UINT length = 0;
  if (!plat::VerQueryValue(*block, L"\\VarFileInfo\\Translation", &value, &length) || !value ||
      length < 4)
    return FALSE;
  // Each entry is a language word followed by a code-page word.
  WORD language, codePage;
  std::memcpy(&language, value, 2);
  std::memcpy(&codePage, value + 2, 2);
  m_dwLangCharset = (static_cast<DWORD>(language) << 16) | codePage;
  m_pVersionData = std::move(block);
  return TRUE;
}

void CFileVersion::Close() {
  m_pVersionData.reset();
  m_dwLangCharset = 0;
}

NorvString CFileVersion::QueryValue(const NorvString& name, DWORD langCodePage) const {
  if (!m_pVersionData) return NorvString();
  if (langCodePage == 0) langCodePage = m_dwLangCharset;
  wchar_t translation[16];
  std::swprintf(translation, 16, L"%08lx", static_cast<unsigned long>(langCodePage));
  NorvString subBlock = L"\\StringFileInfo\\" + NorvString(translation) + L"\\" + name;
  const BYTE* value = nullptr;
  UINT length = 0;
  if (!plat::VerQueryValue(*m_pVersionData, subBlock, &value, &length) || !value) return {};
  // The value is UTF-16LE ending in a zero; read up to that zero, never past
  // the end of the block, whatever unit `length` counts in.
  const BYTE* begin = m_pVersionData->data();
  const BYTE* end = begin + m_pVersionData->size();
  if (value < begin || value >= end) return {};
  size_t available = static_cast<size_t>(end - value);
  std::u16string units;
  for (size_t i = 0; i + 1 < available; i += 2) {
    char16_t u;
    std::memcpy(&u, value + i, 2);
    if (u == 0) break;
    units.push_back(u);
  }
  return plat::FromUtf16(units);
}

BOOL CFileVersion::GetFixedInfo(plat::FixedFileInfo& info) const {
  if (!m_pVersionData) return FALSE;
  const BYTE* value = nullptr;
  UINT length = 0;
  if (!plat::VerQueryValue(*m_pVersionData, L"\\", &value, &length) || !value ||
      length < sizeof(plat::FixedFileInfo))
    return FALSE;
  std::memcpy(&info, value, sizeof info);
  return TRUE;
}

namespace {
NorvString FourPart(DWORD ms, DWORD ls) {
  wchar_t text[64];
  std::swprintf(text, 64, L"%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}
}  // namespace

NorvString CFileVersion::GetFixedFileVersion() const {
  plat::FixedFileInfo info;
  if (!GetFixedInfo(info)) return {};
  return FourPart(info.fileVersionMS, info.fileVersionLS);
}

NorvString CFileVersion::GetFixedProductVersion() const {
  plat::FixedFileInfo info;
  if (!GetFixedInfo(info)) return {};
  return FourPart(info.productVersionMS, info.productVersionLS);
}

NorvString CFileVersion::GetFileName() const {
  size_t slash = m_strPath.find_last_of(L"/\\");
  return slash == NorvString::npos ? m_strPath : m_strPath.substr(slash + 1);
}
