// Item classes shared by the item model tests.
#pragma once
#include <map>
#include <vector>

#include "norv/NorvTlgItem.h"

class CTestItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CTestItem)
 public:
  CTestItem() = default;
  explicit CTestItem(const NorvString& text) : treeText(text) {}
  ~CTestItem() override { ++destroyed; }

  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    activeDuringInitialize = GetActiveItem();
    SetParent(parent);
    m_strId = id;
    return initializeResult;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = treeText;
  }
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT, int column) override {
    auto it = columns.find(column);
    if (it == columns.end()) return FALSE;
    info->strText = it->second;
    return TRUE;
  }
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) override;
  BOOL InitMenuInfo(UINT commandId, int& enabled, int&, int) override {
    auto it = menuState.find(commandId);
    if (it == menuState.end()) return FALSE;
    enabled = it->second;
    return TRUE;
  }
  int GetImageListOffset() override { return imageOffset; }
  const wchar_t* GetHelpFile() override { return L"test.chm"; }
  void Serialize(CNorvArchive& ar) override {
    CNorvTreeListItem::Serialize(ar);
    if (ar.IsStoring())
      ar << m_strId << treeText;
    else
      ar >> m_strId >> treeText;
  }
  void SetId(const NorvString& id) { m_strId = id; }

  NorvString treeText;
  std::map<int, NorvString> columns;
  std::map<UINT, int> menuState;
  int imageOffset = 0;
  UINT lastCommand = 0;
  int lastListCount = -1;
  NorvString indentDuringCommand;

  // Every command any CTestItem received: the item and the command id.
  static std::vector<std::pair<const CNorvTreeListItem*, UINT>> commandLog;
  static int destroyed;
  static BOOL initializeResult;
  static CNorvTreeListItem* activeDuringInitialize;
};
