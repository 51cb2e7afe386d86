// Column filter texts: scanner, parser, formatter, wildcard matching and the
// active filter set.
//
// The parser reads records with the same token scanner the filter dialog
// uses, so that both see a stored text alike. Numbers are read the way C's
// strtol reads them with base 0 (0x hexadecimal, a leading 0 octal, else
// decimal, an optional sign); a token that is not a whole number ends the
// text there, as a record that breaks off does, rather than being read as 0
// and applied to whatever column has id 0.
//
// Regular-expression patterns are compiled once, when they enter the set,
// and every cell is matched against that one program.
#include "NorvFilterText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "NorvRegExp.h"

namespace {

// Reads a whole token as a number with base detection. Accepts what fits
// an int (as written by "%d") or an unsigned int.
bool ReadNumber(const NorvFilterString& token, UINT& value) {
  const wchar_t* begin = token.c_str();
  while (*begin == L' ' || *begin == L'\t') ++begin;
  if (*begin == 0) return false;
  wchar_t* end = nullptr;
  errno = 0;
  const long long number = std::wcstoll(begin, &end, 0);
  if (errno != 0 || end == begin) return false;
  while (*end == L' ' || *end == L'\t') ++end;
  if (*end != 0) return false;
  if (number < INT_MIN || number > static_cast<long long>(UINT_MAX)) return false;
  value = static_cast<UINT>(number);
  return true;
}

std::string Where(const char* what, size_t index) {
  return std::string("filter text breaks off in the record at character ") + std::to_string(index) +
         ": " + what;
}

bool OnlySpaces(const NorvFilterString& text, size_t from) {
  for (size_t i = from; i < text.size(); ++i)
    if (text[i] != L' ' && text[i] != L'\t' && text[i] != L'\r' && text[i] != L'\n') return false;
  return true;
}

// Wildcard matching over units of one type. Greedy with a return to the
// last star: when the rest fails after a star, that star takes one more
// character and the rest is tried again. Earlier stars never need to take
// more, since the last star can take over anything they would, so this
// finds a match whenever trying every split would, in at most
// pattern length x text length steps.
template <typename Unit>
bool WildcardUnits(const Unit* p, size_t pn, const Unit* t, size_t tn) {
  size_t pi = 0, ti = 0;
  size_t starP = SIZE_MAX, starT = 0;
  while (ti < tn) {
    if (pi < pn && p[pi] == Unit('*')) {
      starP = pi++;
      starT = ti;
    } else if (pi < pn && (p[pi] == Unit('?') || p[pi] == t[ti])) {
      ++pi;
      ++ti;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < pn && p[pi] == Unit('*')) ++pi;
  return pi == pn;
}

bool HasWideUnits(std::wstring_view text) {
  for (wchar_t c : text)
    if (static_cast<std::uint32_t>(c) > 0xFFFF) return true;
  return false;
}

}  // namespace

bool NorvReadFilterToken(const NorvFilterString& text, size_t start, wchar_t open, wchar_t close,
                         NorvFilterString& token, size_t& closeIndex) {
  token.clear();
  size_t i = start;
  if (open != 0) {
    if (start >= text.size()) return false;
    const size_t at = text.find(open, start);
    if (at == NorvFilterString::npos) return false;
    i = at + 1;
  }
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\\') {
      if (++i == text.size()) break;
      token.push_back(text[i]);
    } else if (c == close) {
      closeIndex = i;
      return true;
    } else {
      token.push_back(c);
    }
  }
  if (close != 0) return false;
  closeIndex = text.size();
  return true;
}

std::vector<NorvFilterRecord> NorvParseFilterRecords(const NorvFilterString& text,
                                                     std::string* error) {
  std::vector<NorvFilterRecord> records;
  if (error) error->clear();
  auto fail = [&](const char* what, size_t index) {
    if (error) *error = Where(what, index);
    return records;
  };
  size_t pos = 0;
  for (;;) {
    NorvFilterString id, enabled, mode, pattern;
    size_t idEnd = 0, enabledEnd = 0, modeEnd = 0, patternEnd = 0;
    const size_t dollar = text.find(L'$', pos);
    if (dollar == NorvFilterString::npos) {
      // No further record: the text ends here, or holds something that
      // is not one.
      if (OnlySpaces(text, pos)) return records;
      if (error)
        *error = "filter text holds no record at character " +
                 std::to_string(text.find_first_not_of(L" \t\r\n", pos));
      return records;
    }
    if (!NorvReadFilterToken(text, dollar, L'$', L',', id, idEnd))
      return fail("no comma after the column id", dollar);
    if (!NorvReadFilterToken(text, idEnd, L',', L',', enabled, enabledEnd))
      return fail("no comma after the enabled flag", dollar);
    if (!NorvReadFilterToken(text, enabledEnd, L',', L',', mode, modeEnd))
      return fail("no comma after the mode", dollar);
    if (!NorvReadFilterToken(text, modeEnd, L'"', L'"', pattern, patternEnd))
      return fail("the pattern has no closing double quote", dollar);
    NorvFilterRecord record;
    UINT on = 0;
    if (!ReadNumber(id, record.columnId)) return fail("the column id is not a number", dollar);
    if (!ReadNumber(enabled, on)) return fail("the enabled flag is not a number", dollar);
    if (!ReadNumber(mode, record.mode)) return fail("the mode is not a number", dollar);
    record.enabled = on != 0;
    record.enabledToken = enabled;
    record.pattern = std::move(pattern);
    records.push_back(std::move(record));
    pos = patternEnd + 1;
  }
}

NorvFilterString NorvEscapeFilterPattern(const NorvFilterString& pattern) {
  NorvFilterString escaped;
  escaped.reserve(pattern.size() + 8);
  for (wchar_t c : pattern) {
    if (c == L'\\' || c == L'"') escaped.push_back(L'\\');
    escaped.push_back(c);
  }
  return escaped;
}

NorvFilterString NorvFormatFilterRecord(const NorvFilterRecord& record) {
  NorvFilterString text = L"$";
  text += std::to_wstring(static_cast<int>(record.columnId));
  text += record.enabled ? L",1," : L",0,";
  text += std::to_wstring(static_cast<int>(record.mode));
  text += L",\"";
  text += NorvEscapeFilterPattern(record.pattern);
  text += L"\" ";
  return text;
}

NorvFilterString NorvFormatFilterText(const std::vector<NorvFilterRecord>& records) {
  NorvFilterString text;
  for (const NorvFilterRecord& record : records) text += NorvFormatFilterRecord(record);
  return text;
}

bool NorvWildcardMatch(std::wstring_view pattern, std::wstring_view text) {
  // Characters beyond 16 bits count as their two UTF-16 units, so that a ?
  // means the same here as on the system's other platform.
  if (HasWideUnits(pattern) || HasWideUnits(text)) {
    const std::u16string p = NorvToUtf16Units(pattern), t = NorvToUtf16Units(text);
    return WildcardUnits(p.data(), p.size(), t.data(), t.size());
  }
  return WildcardUnits(pattern.data(), pattern.size(), text.data(), text.size());
}

struct CNorvFilterSet::Entry {
  UINT columnId = 0;
  UINT mode = 0;
  NorvFilterString pattern;
  std::unique_ptr<NorvRegExp> expression;  // mode 2 only
};

CNorvFilterSet::CNorvFilterSet() = default;
CNorvFilterSet::~CNorvFilterSet() = default;
CNorvFilterSet::CNorvFilterSet(CNorvFilterSet&&) noexcept = default;
CNorvFilterSet& CNorvFilterSet::operator=(CNorvFilterSet&&) noexcept = default;

bool CNorvFilterSet::Parse(const NorvFilterString& text, std::string* error) {
  Clear();
  std::string message;
  for (const NorvFilterRecord& record : NorvParseFilterRecords(text, &message))
    if (record.enabled) Add(record.columnId, record.mode, record.pattern);
  if (error) *error = message;
  return message.empty();
}

void CNorvFilterSet::Add(UINT columnId, UINT mode, const NorvFilterString& pattern) {
  auto entry = std::make_unique<Entry>();
  entry->columnId = columnId;
  entry->mode = mode;
  entry->pattern = pattern;
  if (mode == 2) entry->expression = std::make_unique<NorvRegExp>(std::wstring_view(pattern));
  m_entries.push_back(std::move(entry));
}

void CNorvFilterSet::Clear() { m_entries.clear(); }
bool CNorvFilterSet::IsEmpty() const { return m_entries.empty(); }
size_t CNorvFilterSet::Count() const { return m_entries.size(); }

bool CNorvFilterSet::NamesColumn(UINT columnId) const {
  for (const auto& entry : m_entries)
    if (entry->columnId == columnId) return true;
  return false;
}

bool CNorvFilterSet::RowPasses(const std::vector<UINT>& columnIds,
                               const std::vector<NorvFilterString>& cells) const {
  // A row with fewer cells than columns is checked on the cells it has.
  const size_t columns = std::min(columnIds.size(), cells.size());
  for (const auto& entry : m_entries) {
    for (size_t column = 0; column < columns; ++column) {
      if (columnIds[column] != entry->columnId) continue;
      const NorvFilterString& cell = cells[column];
      switch (entry->mode) {
        case 0:
          if (!NorvWildcardMatch(entry->pattern, cell)) return false;
          break;
        case 1:
          if (NorvWildcardMatch(entry->pattern, cell)) return false;
          break;
        case 2:
          if (entry->expression->IsValid() && !entry->expression->Match(std::wstring_view(cell)))
            return false;
          break;
        default:
          break;
      }
    }
  }
  return true;
}
