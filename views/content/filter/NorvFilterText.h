// Column filters of the list: their stored text, the scanner both the
// parser and the filter dialog use, wildcard matching and the active filter
// set that decides whether a row is shown.
//
// Stored text: one record per filter, each
//   $<id>,<enabled 0|1>,<mode>,"<pattern>"<space>
// where the pattern has every backslash doubled and then a backslash put
// before every double quote. Modes: 0 the cell matches the wildcard
// pattern, 1 it does not, 2 it contains a match of the regular expression.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

using plat::UINT;

using NorvFilterString = std::wstring;

struct NorvFilterRecord {
  UINT columnId = 0;
  bool enabled = true;
  UINT mode = 0;
  NorvFilterString pattern;
  // The enabled token exactly as stored (the dialog checks a line only
  // when it is the digit 1).
  NorvFilterString enabledToken = L"1";

  bool operator==(const NorvFilterRecord&) const = default;
};

// Reads one token: skips up to and including the first `open` at or after
// `start` (open 0 skips nothing), then collects up to `close`, a backslash
// taking the next character literally. FALSE at the end of the text when
// `open` was not found or `close` not reached; else the token and the
// index of its closing character.
bool NorvReadFilterToken(const NorvFilterString& text, size_t start, wchar_t open, wchar_t close,
                         NorvFilterString& token, size_t& closeIndex);

// Every record of a filter text, enabled or not, in order. Parsing stops at
// the first record that breaks off; `error` (when given) then says where
// and why, and stays empty for a text that parsed to its end.
std::vector<NorvFilterRecord> NorvParseFilterRecords(const NorvFilterString& text,
                                                     std::string* error = nullptr);
// One record as stored, and a whole text.
NorvFilterString NorvFormatFilterRecord(const NorvFilterRecord& record);
NorvFilterString NorvFormatFilterText(const std::vector<NorvFilterRecord>& records);
// Escaping of a pattern inside its quotes.
NorvFilterString NorvEscapeFilterPattern(const NorvFilterString& pattern);

// Whole-text wildcard match: * any run (also none), ? one character,
// everything else itself; case-sensitive, no escape.
bool NorvWildcardMatch(std::wstring_view pattern, std::wstring_view text);

// The filters that apply to a list: the enabled records of the stored text
// plus the item's fixed filters. Patterns of mode 2 are compiled once, when
// they are added.
class CNorvFilterSet {
 public:
  CNorvFilterSet();
  ~CNorvFilterSet();
  CNorvFilterSet(CNorvFilterSet&&) noexcept;
  CNorvFilterSet& operator=(CNorvFilterSet&&) noexcept;

  // Replaces the set with the enabled records of `text`. Returns false (and
  // the parser's message in `error`) when the text breaks off; the records
  // before that point are kept.
  bool Parse(const NorvFilterString& text, std::string* error = nullptr);
  void Add(UINT columnId, UINT mode, const NorvFilterString& pattern);
  void Clear();
  bool IsEmpty() const;
  size_t Count() const;
  bool NamesColumn(UINT columnId) const;

  // Whether a row is shown: `columnIds` and `cells` in column order, one
  // cell per column (hidden columns included). Every filter must hold.
  bool RowPasses(const std::vector<UINT>& columnIds,
                 const std::vector<NorvFilterString>& cells) const;

 private:
  struct Entry;
  std::vector<std::unique_ptr<Entry>> m_entries;
};
