// The conventions of an item's list columns (CNorvTreeListItem::
// ListColumns) and of sorting, shared by the list view, the tree and the
// console host.
//
// ListColumns hands back titles, widths, ids and formats (one entry per
// column) and returns the default sort column id or -1:
// - the top bit of a column id (NORV_COLUMN_DESCENDING) says the column is
//   sorted descending the first time; the id proper is the rest;
// - a width with the top bit set is negative: the column is hidden until
//   the user shows it, and its magnitude is the width it then gets;
// - the top bit of the result (NORV_COLUMNS_RESET) tells the list view to
//   ignore and overwrite the user's saved settings for these columns;
// - formats: 0 left, 1 right, 2 centred.
#pragma once
#include <vector>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

constexpr UINT NORV_COLUMN_DESCENDING = 0x80000000u;  // in a column id
constexpr UINT NORV_COLUMN_HIDDEN = 0x80000000u;      // in a width (its sign)
constexpr UINT NORV_COLUMNS_RESET = 0x80000000u;      // in ListColumns' result
constexpr UINT NORV_COLUMN_ID_MASK = 0x7FFFFFFFu;
// A column without a width entry.
constexpr UINT NORV_COLUMN_DEFAULT_WIDTH = 100;

// Column formats (header alignment).
constexpr int NORV_COLUMN_LEFT = 0;
constexpr int NORV_COLUMN_RIGHT = 1;
constexpr int NORV_COLUMN_CENTER = 2;

// Header item flags of the list view.
constexpr DWORD NORV_HEADER_SORTED_DESCENDING = 1;
constexpr DWORD NORV_HEADER_SORTED_ASCENDING = 2;
constexpr DWORD NORV_HEADER_FILTERED = 4;

// The id proper of a column id as ListColumns gives it.
constexpr UINT NorvColumnId(UINT rawId) { return rawId & NORV_COLUMN_ID_MASK; }
// TRUE when the column sorts ascending the first time.
constexpr BOOL NorvColumnAscendingFirst(UINT rawId) {
  return (rawId & NORV_COLUMN_DESCENDING) == 0 ? TRUE : FALSE;
}
constexpr BOOL NorvIsColumnHidden(UINT width) {
  return (width & NORV_COLUMN_HIDDEN) != 0 ? TRUE : FALSE;
}
// The width a column has when shown (the magnitude of a hidden width).
constexpr UINT NorvShownColumnWidth(UINT width) {
  return NorvIsColumnHidden(width) ? 0u - width : width;
}
// The width that hides a column of width `width` (0 stays 0, and so
// visible).
constexpr UINT NorvHiddenColumnWidth(UINT width) {
  return NorvIsColumnHidden(width) ? width : 0u - width;
}

// Sort parameters. The list sorts with direction * 65536 + (id & 65535);
// the tree with column 0, ascending (0x10000).
constexpr LPARAM NorvMakeSortParam(UINT columnId, BOOL ascending) {
  return static_cast<LPARAM>((ascending ? 0x10000u : 0u) | (columnId & 0xFFFFu));
}
constexpr int NorvSortParamColumn(LPARAM param) { return static_cast<int>(param & 0xFFFF); }
constexpr BOOL NorvSortParamAscending(LPARAM param) {
  return ((param >> 16) & 0xFFFF) != 0 ? TRUE : FALSE;
}
constexpr LPARAM NORV_TREE_SORT_PARAM = 0x10000;

// One column, decoded.
struct NORV_API NorvColumn {
  NorvString title;
  UINT id = 0;     // top bit cleared
  UINT width = 0;  // as given (hidden: negative)
  int format = NORV_COLUMN_LEFT;
  BOOL ascendingFirst = TRUE;
  BOOL hidden = FALSE;

  bool operator==(const NorvColumn&) const = default;
};

// What ListColumns returned, decoded.
struct NORV_API NorvColumnSet {
  std::vector<NorvColumn> columns;  // one per title, in order
  int defaultSortId = -1;           // top bit cleared; -1 = none
  BOOL reset = FALSE;               // ignore the saved settings
};

// Decodes ListColumns' arrays (any may be null or shorter than the
// titles: a missing id is the column's index, a missing width
// NORV_COLUMN_DEFAULT_WIDTH, a missing format left) and its result.
NORV_API NorvColumnSet NorvDecodeColumns(const NorvStringList* titles, const NorvUIntArray* widths,
                                         const NorvUIntArray* ids, const NorvUIntArray* formats,
                                         int result);
