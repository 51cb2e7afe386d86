// Items for the navigation tests: a world of objects named by their ids
// ("/A", "/A/B" ...). The world says which children each object has and
// what its text is; a worker thread may change texts under the item model
// lock and flag the objects.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "norv/NorvTlgItem.h"

struct NavWorld {
  // id -> child ids, in order.
  std::map<NorvString, std::vector<NorvString>> children;
  // id -> text (default: the last element of the id).
  std::map<NorvString, NorvString> texts;
  std::mutex textLock;
  int blockMs = 0;  // GetItems sleeps that long
  bool sawWaiting = false;

  // What the items were asked to do.
  struct Call {
    NorvString id;
    UINT command = 0;
    std::vector<NorvString> list;
    std::vector<NorvString> dropped;
    NorvString format;
    DWORD keyState = 0;
  };
  std::vector<Call> calls;
  std::vector<std::pair<NorvString, NorvString>> renames;

  void Reset();
  NorvString TextOf(const NorvString& id);
  void SetText(const NorvString& id, const NorvString& text);
  static NavWorld& Get();
};

class CNavItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CNavItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  BOOL Refresh() override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL HasTreeItems() override;
  GetItemsResult GetItems(BOOL treeOnly) override;
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;
  BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int selectedCount) override;
  CmdResult Drop(const NorvString& format, CNorvTLItemList* items, CNorvTLItemList* targets,
                 DWORD dropEffect, UINT commandId) override;
  NorvString GetClipboardFormat() override { return L"NavItem"; }
  CanDragFlag CanDrag() override { return DRAG_ITEM; }
  CanDropFlag CanDrop(const QMimeData* data, DWORD& effect, NorvString& format,
                      DWORD keyState) override;
  BOOL CanEdit() override { return TRUE; }
  BOOL EndEdit(const NorvString& newText) override;
  void Serialize(CNorvArchive& ar) override;

  NorvString text;
  int refreshed = 0;
};
