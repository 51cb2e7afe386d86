// Profile (INI) files with the semantics of the Windows profile functions:
// sections and keys compare case-insensitively, a missing key yields the
// default, a null section or key lists the names as zero-separated strings
// ending in two zeros. Values are read trimmed, and a value enclosed in
// matching double (or single) quotes loses them. A write keeps every other
// line (comments, blank lines, order, the file's own line ends) and replaces
// the file atomically (temporary file in the same folder, fsync, rename).
// Text is 8-bit (UTF-8), as the installer side uses it.
//
// Lines starting with ";" or "#" are comments. Keys before the first section
// belong to no section. Sections of the same name count as one, in file order.
#pragma once
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat {

// Returns the number of characters copied, not counting the final zero
// (size - 1 when truncated; size - 2 for truncated name lists). Trailing
// blanks of the default are dropped, as Windows does; like Windows, an empty
// key reads the default, and so does the key list of a section without keys.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);
// Leading decimal digits with an optional sign ("12abc" gives 12, "abc" 0);
// the default when the key is missing or empty.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);
// A null key deletes the section; a null value deletes the key. A missing
// file is created. Names or values that would break the line structure (line
// breaks; "=" or a leading "[", ";" or "#" in a key; "]" in a section) are
// refused with FALSE and the file is left alone.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
// Whole section: "key=value" strings separated by zeros, two zeros at the end.
DWORD GetPrivateProfileSectionA(const char* section, char* buffer, DWORD size,
                                const char* fileName);
// Replaces the entries of a section with the given zero-separated
// "key=value" list (its comments stay); a null list deletes the section.
BOOL WritePrivateProfileSectionA(const char* section, const char* keysAndValues,
                                 const char* fileName);

// The parsed form, for C++ callers and the fuzzer: keeps every line.
class ProfileDocument {
 public:
  struct Line {
    enum Kind { Blank, Comment, Section, Entry, Other } kind = Other;
    std::string text;     // the line as it stood (without the line end)
    std::string name;     // section name or key
    std::string value;    // entry value, trimmed (quotes kept)
    std::string end;      // "\r\n", "\n" or empty for a last line without one
  };
  // Keeps every byte: Parse(x).Serialize() == x for any input.
  static ProfileDocument Parse(const std::string& content);
  std::string Serialize() const;

  // Whether a name can be written without changing the structure of the file.
  static bool IsValidSectionName(const std::string& section);
  static bool IsValidKey(const std::string& key);
  static bool IsValidValue(const std::string& value);

  // Names are trimmed before they are compared. Get returns the value
  // unquoted; Entries returns the values as they stand (trimmed). Set,
  // ReplaceSection and ReplaceSectionLines change nothing when a name or value
  // is refused by the checks above, so a document stays parseable. A new key
  // goes after the last entry of its section (blank and comment lines that
  // close a section stay where they are, as they usually head the next one);
  // a new section goes at the end.
  bool Get(const std::string& section, const std::string& key, std::string* value) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  bool RemoveKey(const std::string& section, const std::string& key);
  bool RemoveSection(const std::string& section);
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> Keys(const std::string& section) const;
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;
  void ReplaceSection(const std::string& section,
                      const std::vector<std::pair<std::string, std::string>>& entries);

  // Replaces the section's entries with raw lines ("key=value" or text).
  void ReplaceSectionLines(const std::string& section, const std::vector<std::string>& lines);

  const std::vector<Line>& Lines() const { return lines_; }

 private:
  // Index ranges [header, end) of every section with that name.
  std::vector<std::pair<size_t, size_t>> SectionRanges(const std::string& section) const;
  void InsertLine(size_t at, Line line);
  Line MakeLine(std::string text) const;

  std::vector<Line> lines_;
  std::string lineEnd_ = "\r\n";
};

}  // namespace plat
