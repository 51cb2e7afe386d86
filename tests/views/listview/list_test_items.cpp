#include "list_test_items.h"

#include <algorithm>
#include <set>

#include "norv/NorvItemCommands.h"

NORV_IMPLEMENT_SERIAL(CListItem, CNorvTreeListItem, 1)

ListWorld& ListWorld::Get() {
  static ListWorld world;
  return world;
}

void ListWorld::Reset() { *this = ListWorld(); }

BOOL CListItem::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  SetParent(parent);
  m_strId = id;
  return TRUE;
}

BOOL CListItem::Refresh() {
  ++ListWorld::Get().refreshes;
  return ListWorld::Get().refreshResult;
}

BOOL CListItem::GetDefaultFilter(CNorvFilterList*& filter) {
  const auto& fixed = ListWorld::Get().fixedFilters;
  if (fixed.empty()) return FALSE;
  m_filter.RemoveAll();
  for (const auto& f : fixed) m_filter.AddFilter(f);
  filter = &m_filter;
  return TRUE;
}

BOOL CListItem::InitMenuInfo(UINT commandId, int& enabled, int&, int) {
  const auto& features = ListWorld::Get().features;
  auto it = features.find(commandId);
  if (it == features.end()) return FALSE;
  enabled = it->second;
  return TRUE;
}

void CListItem::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (mask & NORV_TLVI_TEXT) info->strText = m_strId;
}

NorvString CListItem::Cell(UINT column) const {
  const auto& cells = ListWorld::Get().cells;
  auto row = cells.find(m_strId);
  if (row == cells.end()) return {};
  auto cell = row->second.find(column & 0x7FFFFFFFu);
  return cell != row->second.end() ? cell->second : NorvString();
}

BOOL CListItem::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (mask & NORV_TLVI_TEXT) {
    ++ListWorld::Get().textReads;
    info->strText = Cell(static_cast<UINT>(column));
  }
  if (mask & NORV_TLVI_IMAGE) info->nImage = 2;
  return TRUE;
}

int CListItem::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                           NorvUIntArray*& formats) {
  const ListWorld& world = ListWorld::Get();
  m_names = world.names;
  m_widths = world.widths;
  m_ids = world.ids;
  m_formats = world.formats;
  titles = &m_names;
  widths = &m_widths;
  ids = &m_ids;
  formats = &m_formats;
  return world.sortResult;
}

void CListItem::Sync() {
  const auto& wanted = ListWorld::Get().children[m_strId];
  const std::set<NorvString> wantedSet(wanted.begin(), wanted.end());
  std::vector<CNorvTreeListItem*> gone;
  std::set<NorvString> have;
  for (CNorvTreeListItem* child : GetItemList()) {
    if (wantedSet.count(child->Id()) == 0)
      gone.push_back(child);
    else
      have.insert(child->Id());
  }
  for (CNorvTreeListItem* child : gone) {
    GetItemList().Remove(child);
    delete child;
  }
  for (const NorvString& id : wanted) {
    if (have.count(id) != 0) continue;
    auto* child = new CListItem;
    child->Initialize(this, id);
    GetItemList().AddTail(child);
  }
}

GetItemsResult CListItem::GetItems(BOOL) {
  Sync();
  SetListValid();
  return GETITEMS_OK;
}

CmdResult CListItem::Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) {
  ListWorld::Call call;
  call.id = m_strId;
  call.command = commandId;
  if (list != nullptr)
    for (CNorvTreeListItem* item : *list) call.list.push_back(item->Id());
  ListWorld::Get().calls.push_back(call);
  return CMD_NOT_HANDLED;
}

void CListItem::ItemSelected(CNorvTLItemList* list) {
  std::vector<NorvString> ids;
  if (list != nullptr)
    for (CNorvTreeListItem* item : *list) ids.push_back(item->Id());
  ListWorld::Get().selections.emplace_back(m_strId, ids);
}

int CListItem::Compare(CNorvTreeListItem* other, int column, BOOL ascending) {
  ListWorld& world = ListWorld::Get();
  if (world.brokenCompare) {
    // Neither consistent nor antisymmetric.
    world.seed = world.seed * 1103515245u + 12345u;
    return static_cast<int>((world.seed >> 16) % 3) - 1;
  }
  const auto* that = static_cast<CListItem*>(other);
  const int r = Cell(static_cast<UINT>(column)).compare(that->Cell(static_cast<UINT>(column)));
  const int sign = r < 0 ? -1 : r > 0 ? 1 : 0;
  return ascending ? sign : -sign;
}

BOOL CListItem::EndEdit(const NorvString& newText) {
  if (newText.empty()) return FALSE;
  ListWorld::Get().cells[m_strId][0] = newText;
  return TRUE;
}
