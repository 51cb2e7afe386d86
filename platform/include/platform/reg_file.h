// Registry export files in regedit's text format ("Windows Registry Editor
// Version 5.00"): key lines [HKEY_...\path], value lines "name"=data with
// @ for the default value, dword:, hex: and hex(N): data wrapped at 80
// columns with "\" continuations, [-key] and "name"=- for deletions.
// Files are written as UTF-8; UTF-8 and UTF-16LE with byte order mark are read.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace plat {

// Splits a full key path ("HKEY_CURRENT_USER\Software\X", also "HKCU\...")
// into its root and the subkey path below it. Roots are HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER and HKEY_USERS, long or short, in any case.
bool SplitRegistryPath(std::string_view path, HKEY* root, std::string* subKey);
// "HKEY_LOCAL_MACHINE" and so on; empty for other handles.
std::string RegistryRootName(HKEY root);
// A short explanation of a registry error code, for messages to users.
std::string RegistryErrorText(LONG code);

// One value as a .reg line (continuation lines included, no final newline).
// The form keeps every type and byte: text that would not survive as a
// quoted string is written as hex(1):.
std::string FormatRegValue(const RegValue& value);

struct RegFileOperation {
  enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kCreateKey;
  std::string key;  // full path with the long root name
  RegValue value;   // name and data for kSetValue, name for kDeleteValue
  int line = 0;     // where it stands in the file
};

// Parses a .reg file's bytes. On bad input returns false with "line N: ..."
// in *error and leaves *operations empty.
bool ParseRegFile(std::string_view content, std::vector<RegFileOperation>* operations, std::string* error);

// The text of the key at `keyPath` with everything below it.
LONG ExportRegText(const std::string& keyPath, std::string* text);
bool ExportRegFile(const std::string& keyPath, const std::string& file, std::string* error);

// Parses the whole input first and changes nothing when it is malformed;
// then applies it in order, stopping at the first key or value the registry
// refuses (reported with its line).
bool ImportRegText(std::string_view content, std::string* error);
bool ImportRegFile(const std::string& file, std::string* error);

}  // namespace plat
