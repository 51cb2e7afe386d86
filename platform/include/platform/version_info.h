// Version records stamped into ELF files at build time, the Linux form of a
// Windows version resource. The record lives in the section ".norv_version"
// in the VS_VERSIONINFO layout (fixed file information, a StringFileInfo
// table for one translation, VarFileInfo\Translation), so that the reader can
// answer the same queries VerQueryValue answers.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"

namespace plat {

struct FixedFileInfo {  // VS_FIXEDFILEINFO
  DWORD signature = 0xFEEF04BD;
  DWORD strucVersion = 0x00010000;
  DWORD fileVersionMS = 0, fileVersionLS = 0;
  DWORD productVersionMS = 0, productVersionLS = 0;
  DWORD fileFlagsMask = 0x3F, fileFlags = 0;
  DWORD fileOS = 0x40004, fileType = 1, fileSubtype = 0;
  DWORD fileDateMS = 0, fileDateLS = 0;
};

static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO is 13 DWORDs");

// Reads the raw version block of a file: false when the file cannot be read
// or has no record (GetFileVersionInfo). Any file may be passed: anything
// that is not a 64-bit little-endian ELF file, or is truncated or malformed,
// just gives false.
bool GetFileVersionInfo(const std::string& path, std::vector<BYTE>* block);
// The same on an ELF image already in memory (a file's bytes).
bool GetVersionInfoFromImage(const BYTE* data, std::size_t size, std::vector<BYTE>* block);
// VerQueryValue on a block: "\\" gives the FixedFileInfo bytes,
// "\\VarFileInfo\\Translation" the 32-bit language/code-page pairs,
// "\\StringFileInfo\\040904b0\\ProductName" a UTF-16 string with its zero.
// Path components compare without regard to case. `length` is in bytes for
// binary values and in UTF-16 characters (the zero included) for strings,
// as on Windows. Values point into `block`; strings may be unaligned, so copy
// them out (VersionString does) rather than reading them in place.
bool VerQueryValue(const std::vector<BYTE>& block, const std::wstring& subBlock,
                   const BYTE** value, UINT* length);
// Conveniences over VerQueryValue: the fixed record ("\\"), the first
// translation as language << 16 | code page (0 without one), and a string
// value as wide text (false when absent or
// not text).
bool GetFixedFileInfo(const std::vector<BYTE>& block, FixedFileInfo* info);
DWORD FirstTranslation(const std::vector<BYTE>& block);
bool VersionString(const std::vector<BYTE>& block, const std::wstring& subBlock,
                   std::wstring* text);

// Builds a block (used by the build-time stamper and by tests).
struct VersionRecord {
  WORD fileVersion[4] = {0, 0, 0, 0};
  WORD productVersion[4] = {0, 0, 0, 0};
  DWORD fileType = 1;  // VFT_APP 1, VFT_DLL 2
  WORD language = 0x0409;
  WORD codePage = 0x04B0;
  std::vector<std::pair<std::wstring, std::wstring>> strings;
};
// The string table is keyed "%04x%04x" by language and code page and holds
// the strings in the given order; values are written with their zero.
// cmake/NorvVersionInfo.cmake writes byte-for-byte the same layout.
std::vector<BYTE> BuildVersionBlock(const VersionRecord& record);

}  // namespace plat
