// Reads the input as a filter text (bytes as characters). The records it
// yields, written out again and read back, must be the same records; the
// filter set built from it decides rows of cells taken from the input
// without reading outside them. The first byte, when a selector below 8,
// instead splits the rest into a wildcard pattern and a text, whose result
// must agree with trying every split of every star.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NorvFilterText.h"

namespace {

bool Naive(std::wstring_view p, std::wstring_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == L'*') {
    for (size_t taken = 0; taken <= t.size(); ++taken)
      if (Naive(p.substr(1), t.substr(taken))) return true;
    return false;
  }
  if (t.empty() || (p[0] != L'?' && p[0] != t[0])) return false;
  return Naive(p.substr(1), t.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));

  if (size > 0 && data[0] < 8) {
    const size_t split = std::min<size_t>(data[0] * 2 + 1, text.size());
    const std::wstring_view pattern = std::wstring_view(text).substr(1, split - 1);
    const std::wstring_view cell = std::wstring_view(text).substr(split);
    // The naive form is exponential in the stars: keep them few.
    size_t stars = 0;
    for (wchar_t c : pattern) stars += c == L'*';
    if (stars <= 3 && cell.size() <= 32 && NorvWildcardMatch(pattern, cell) != Naive(pattern, cell))
      std::abort();
    return 0;
  }

  std::string error;
  std::vector<NorvFilterRecord> records = NorvParseFilterRecords(text, &error);
  for (NorvFilterRecord& record : records) record.enabledToken = record.enabled ? L"1" : L"0";
  std::string again;
  if (NorvParseFilterRecords(NorvFormatFilterText(records), &again) != records || !again.empty())
    std::abort();

  CNorvFilterSet set;
  const bool whole = set.Parse(text, &error);
  if (whole != error.empty()) std::abort();
  size_t enabled = 0;
  for (const NorvFilterRecord& record : records) enabled += record.enabled;
  if (set.Count() != enabled) std::abort();
  std::vector<UINT> ids;
  std::vector<NorvFilterString> cells;
  for (size_t i = 0; i + 1 < size && cells.size() < 8; i += 2) {
    ids.push_back(data[i] % 4);
    cells.push_back(text.substr(i + 1, 16));
  }
  ids.push_back(0);  // a column without a cell
  set.RowPasses(ids, cells);
  return 0;
}
