// CNorvFilterList: the column filters an item proposes for its list
// (CNorvTreeListItem::GetDefaultFilter). The list view adds them to the
// filters the user set; they filter rows but mark no header.
//
// Each entry is a column id (as the item's ListColumns names it), a mode
// (0 the cell must match the wildcard pattern, 1 it must not, 2 it must
// contain a match of the regular expression) and the pattern.
//
// The list owns its entries: AddFilter copies, RemoveAll and the destructor
// free them. An item usually keeps one list as a member and hands out a
// pointer to it, so the pointer stays valid as long as the item.
#pragma once
#include <cstddef>
#include <list>

#include "norv/NorvArchive.h"
#include "norv/NorvRuntimeClass.h"
#include "norv/norvtypes.h"

// Filter modes.
constexpr UINT NORV_FILTER_MATCH = 0;
constexpr UINT NORV_FILTER_NOT_MATCH = 1;
constexpr UINT NORV_FILTER_REGEX = 2;

struct NORV_API NorvColumnFilter {
  UINT columnId = 0;
  UINT mode = NORV_FILTER_MATCH;
  NorvString pattern;

  bool operator==(const NorvColumnFilter&) const = default;
};

class NORV_API CNorvFilterList : public CNorvObject {
  NORV_DECLARE_SERIAL(CNorvFilterList)

 public:
  using const_iterator = std::list<NorvColumnFilter>::const_iterator;

  CNorvFilterList();
  CNorvFilterList(const CNorvFilterList& other);
  CNorvFilterList& operator=(const CNorvFilterList& other);
  ~CNorvFilterList() override;

  int GetCount() const { return static_cast<int>(m_filters.size()); }
  BOOL IsEmpty() const { return m_filters.empty() ? TRUE : FALSE; }

  // Appends a filter; returns its index. A mode above 2 is refused (-1):
  // the list view would not know how to apply it.
  int AddFilter(UINT columnId, UINT mode, const NorvString& pattern);
  int AddFilter(const NorvColumnFilter& filter);
  // Appends every entry of another list.
  void AddTail(const CNorvFilterList& other);
  // The entry at `index` (from 0), or null.
  const NorvColumnFilter* GetAt(int index) const;
  // FALSE for an index out of range.
  BOOL RemoveAt(int index);
  void RemoveAll();

  // TRUE when some entry filters the column with that id.
  BOOL NamesColumn(UINT columnId) const;

  const_iterator begin() const { return m_filters.begin(); }
  const_iterator end() const { return m_filters.end(); }

  // The count (32-bit), then per entry the column id, the mode (32-bit
  // each) and the pattern. Reading appends; an entry with a mode above 2
  // is damaged data (CNorvArchiveException::badSchema).
  void Serialize(CNorvArchive& ar) override;

 private:
  std::list<NorvColumnFilter> m_filters;
};
