// The column filter list.
#include "norv/NorvFilterList.h"

#include <iterator>

NORV_IMPLEMENT_SERIAL(CNorvFilterList, CNorvObject, 1)

CNorvFilterList::CNorvFilterList() = default;
CNorvFilterList::CNorvFilterList(const CNorvFilterList& other) = default;
CNorvFilterList& CNorvFilterList::operator=(const CNorvFilterList& other) = default;
CNorvFilterList::~CNorvFilterList() = default;

int CNorvFilterList::AddFilter(UINT columnId, UINT mode, const NorvString& pattern) {
  if (mode > NORV_FILTER_REGEX) return -1;
  m_filters.push_back({columnId, mode, pattern});
  return GetCount() - 1;
}

int CNorvFilterList::AddFilter(const NorvColumnFilter& filter) {
  return AddFilter(filter.columnId, filter.mode, filter.pattern);
}

void CNorvFilterList::AddTail(const CNorvFilterList& other) {
  if (&other == this) {
    const std::list<NorvColumnFilter> copy = m_filters;
    m_filters.insert(m_filters.end(), copy.begin(), copy.end());
    return;
  }
  m_filters.insert(m_filters.end(), other.m_filters.begin(), other.m_filters.end());
}

const NorvColumnFilter* CNorvFilterList::GetAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &*std::next(m_filters.begin(), index);
}

BOOL CNorvFilterList::RemoveAt(int index) {
  if (index < 0 || index >= GetCount()) return FALSE;
  m_filters.erase(std::next(m_filters.begin(), index));
  return TRUE;
}

void CNorvFilterList::RemoveAll() { m_filters.clear(); }

BOOL CNorvFilterList::NamesColumn(UINT columnId) const {
  for (const NorvColumnFilter& f : m_filters)
    if (f.columnId == columnId) return TRUE;
  return FALSE;
}

void CNorvFilterList::Serialize(CNorvArchive& ar) {
  CNorvObject::Serialize(ar);
  if (ar.IsStoring()) {
    ar << static_cast<DWORD>(m_filters.size());
    for (const NorvColumnFilter& f : m_filters) ar << f.columnId << f.mode << f.pattern;
    return;
  }
  DWORD count = 0;
  ar >> count;
  // No reservation from the count: it comes from outside, and every entry
  // takes at least nine bytes, so a false count ends at endOfFile.
  for (DWORD i = 0; i < count; ++i) {
    NorvColumnFilter f;
    ar >> f.columnId >> f.mode >> f.pattern;
    if (f.mode > NORV_FILTER_REGEX)
      throw CNorvArchiveException(CNorvArchiveException::badSchema, "column filter mode");
    m_filters.push_back(std::move(f));
  }
}
