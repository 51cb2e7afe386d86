// Decoding an item's list columns.
#include "norv/NorvColumns.h"

NorvColumnSet NorvDecodeColumns(const NorvStringList* titles, const NorvUIntArray* widths,
                                const NorvUIntArray* ids, const NorvUIntArray* formats,
                                int result) {
  NorvColumnSet set;
  if (result != -1) {
    const UINT raw = static_cast<UINT>(result);
    set.reset = (raw & NORV_COLUMNS_RESET) != 0 ? TRUE : FALSE;
    set.defaultSortId = static_cast<int>(NorvColumnId(raw));
  }
  const std::size_t n = titles != nullptr ? titles->size() : 0;
  set.columns.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    NorvColumn c;
    c.title = (*titles)[i];
    const UINT rawId = ids != nullptr && i < ids->size() ? (*ids)[i] : static_cast<UINT>(i);
    c.id = NorvColumnId(rawId);
    c.ascendingFirst = NorvColumnAscendingFirst(rawId);
    c.width = widths != nullptr && i < widths->size() ? (*widths)[i] : NORV_COLUMN_DEFAULT_WIDTH;
    c.hidden = NorvIsColumnHidden(c.width);
    c.format = formats != nullptr && i < formats->size() ? static_cast<int>((*formats)[i])
                                                         : NORV_COLUMN_LEFT;
    set.columns.push_back(std::move(c));
  }
  return set;
}
