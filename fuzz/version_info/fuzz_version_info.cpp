// Feeds arbitrary bytes to the version-record reader twice: as an ELF file
// and as a bare version block, then asks every standard query.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/version_info.h"

namespace {

void QueryAll(const std::vector<plat::BYTE>& block) {
  plat::FixedFileInfo fixed;
  plat::GetFixedFileInfo(block, &fixed);
  plat::DWORD translation = plat::FirstTranslation(block);
  wchar_t table[16];
  swprintf(table, 16, L"%08x", translation);
  std::wstring text;
  for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"ProductName", L"ProductVersion",
                              L"InternalName", L"CompanyName", L"LegalCopyright",
                              L"OriginalFilename"}) {
    plat::VersionString(block, std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name, &text);
  }
  const plat::BYTE* value = nullptr;
  plat::UINT length = 0;
  plat::VerQueryValue(block, L"\\StringFileInfo", &value, &length);
  plat::VerQueryValue(block, L"\\VarFileInfo\\Translation", &value, &length);
  plat::VersionString(block, L"\\VarFileInfo\\Translation", &text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<plat::BYTE> block;
  if (plat::GetVersionInfoFromImage(data, size, &block)) QueryAll(block);
  QueryAll(std::vector<plat::BYTE>(data, data + size));
  return 0;
}
