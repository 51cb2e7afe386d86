// Items for the list view tests: a container whose children, columns,
// cells and features come from one shared world, and which records what
// the view asked of it.
#pragma once
#include <map>
#include <vector>

#include "norv/NorvFilterList.h"
#include "norv/NorvTlgItem.h"

struct ListWorld {
  // Columns of every container.
  NorvStringList names;
  NorvUIntArray widths;
  NorvUIntArray ids;  // as ListColumns gives them (top bit: descending first)
  NorvUIntArray formats;
  int sortResult = -1;  // ListColumns' result
  // container id -> child ids, in order.
  std::map<NorvString, std::vector<NorvString>> children;
  // child id -> column id (top bit cleared) -> text.
  std::map<NorvString, std::map<UINT, NorvString>> cells;
  // Features the items answer (feature id -> enabled); others: default.
  std::map<UINT, int> features;
  std::vector<NorvColumnFilter> fixedFilters;
  bool brokenCompare = false;
  BOOL refreshResult = TRUE;  // what Refresh answers
  int refreshes = 0;
  unsigned seed = 1;
  int textReads = 0;

  struct Call {
    NorvString id;
    UINT command = 0;
    std::vector<NorvString> list;
  };
  std::vector<Call> calls;
  std::vector<std::pair<NorvString, std::vector<NorvString>>> selections;

  void Reset();
  static ListWorld& Get();
};

class CListItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CListItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  BOOL Refresh() override;
  BOOL GetDefaultFilter(CNorvFilterList*& filter) override;
  BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int selectedCount) override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;
  GetItemsResult GetItems(BOOL treeOnly) override;
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;
  void ItemSelected(CNorvTLItemList* list) override;
  int Compare(CNorvTreeListItem* other, int column, BOOL ascending) override;
  BOOL CanEdit() override { return TRUE; }
  BOOL EndEdit(const NorvString& newText) override;

  // Reads the children from the world again: keeps those still there,
  // destroys the others and appends new ones.
  void Sync();
  NorvString Cell(UINT column) const;

 private:
  NorvStringList m_names;
  NorvUIntArray m_widths, m_ids, m_formats;
  CNorvFilterList m_filter;
};
