// Profile (INI) files with the semantics of the Windows profile functions:
// sections and keys compare case-insensitively, a missing key yields the
// default, a null section or key lists the names as zero-separated strings
// ending in two zeros. A write keeps every other line (comments and order
// included) and replaces the file atomically (temporary file, then rename).
// Text is 8-bit (UTF-8), as the installer side uses it.
#pragma once
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat {

// Returns the number of characters copied, not counting the final zero
// (size - 1 when truncated; size - 2 for truncated name lists).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);
// A null key deletes the section; a null value deletes the key.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
// Whole section: "key=value" strings separated by zeros, two zeros at the end.
DWORD GetPrivateProfileSectionA(const char* section, char* buffer, DWORD size,
                                const char* fileName);
// Replaces a section with the given zero-separated "key=value" list.
BOOL WritePrivateProfileSectionA(const char* section, const char* keysAndValues,
                                 const char* fileName);

// The parsed form, for C++ callers and the fuzzer: keeps every line.
class ProfileDocument {
 public:
  struct Line {
    enum Kind { Blank, Comment, Section, Entry, Other } kind = Other;
    std::string text;     // the line as it stood (without the line end)
    std::string name;     // section name or key
    std::string value;    // entry value, trimmed
  };
  static ProfileDocument Parse(const std::string& content);
  std::string Serialize() const;

  bool Get(const std::string& section, const std::string& key, std::string* value) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  bool RemoveKey(const std::string& section, const std::string& key);
  bool RemoveSection(const std::string& section);
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> Keys(const std::string& section) const;
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;
  void ReplaceSection(const std::string& section,
                      const std::vector<std::pair<std::string, std::string>>& entries);

  const std::vector<Line>& Lines() const { return lines_; }

 private:
  std::vector<Line> lines_;
  std::string lineEnd_ = "\r\n";
};

}  // namespace plat
