#include "test_nav_items.h"

#include <chrono>
#include <thread>

#include "NavigationServices.h"
#include "TreeView.h"
#include "norv/NorvClipboard.h"

NORV_IMPLEMENT_SERIAL(CNavItem, CNorvTreeListItem, 1)

NavWorld& NavWorld::Get() {
  static NavWorld world;
  return world;
}

void NavWorld::Reset() {
  std::lock_guard<std::mutex> lock(textLock);
  children.clear();
  texts.clear();
  blockMs = 0;
  sawWaiting = false;
  calls.clear();
  renames.clear();
}

NorvString NavWorld::TextOf(const NorvString& id) {
  std::lock_guard<std::mutex> lock(textLock);
  auto it = texts.find(id);
  if (it != texts.end()) return it->second;
  const std::size_t slash = id.rfind(L'/');
  return slash == NorvString::npos ? id : id.substr(slash + 1);
}

void NavWorld::SetText(const NorvString& id, const NorvString& text) {
  std::lock_guard<std::mutex> lock(textLock);
  texts[id] = text;
}

BOOL CNavItem::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  SetParent(parent);
  m_strId = id;
  text = NavWorld::Get().TextOf(id);
  return TRUE;
}

BOOL CNavItem::Refresh() {
  ++refreshed;
  text = NavWorld::Get().TextOf(m_strId);
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}

void CNavItem::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (mask & NORV_TLVI_TEXT) info->strText = text;
}

BOOL CNavItem::HasTreeItems() {
  auto& world = NavWorld::Get();
  auto it = world.children.find(m_strId);
  return it != world.children.end() && !it->second.empty();
}

GetItemsResult CNavItem::GetItems(BOOL) {
  auto& world = NavWorld::Get();
  if (world.blockMs > 0) {
    // A plugin that takes its time: the tree says it is waiting.
    if (TreeView* tree = CNorvNavigationServices::Instance().Tree())
      world.sawWaiting = tree->IsWaitingForItems() != FALSE;
    std::this_thread::sleep_for(std::chrono::milliseconds(world.blockMs));
  }
  if (IsListValid() && !GetItemList().IsEmpty()) return GETITEMS_OK;
  GetItemList().ClearList();
  for (const NorvString& child : world.children[m_strId]) {
    CNorvTreeListItem* item = CreateObject(this, L"CNavItem", child);
    if (item != nullptr) GetItemList().AddTail(item);
  }
  SetListValid();
  return GETITEMS_OK;
}

CmdResult CNavItem::Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) {
  NavWorld::Call call;
  call.id = m_strId;
  call.command = commandId;
  if (list != nullptr)
    for (CNorvTreeListItem* item : *list) call.list.push_back(item->Id());
  NavWorld::Get().calls.push_back(call);
  if (commandId == 35009) {  // delete: the object goes
    SetDeleted();
    return CMD_HANDLED;
  }
  return commandId == 35026 || commandId == 35025 ? CMD_HANDLED : CMD_NOT_HANDLED;
}

BOOL CNavItem::InitMenuInfo(UINT commandId, int& enabled, int&, int) {
  switch (commandId) {
    case 35009:
    case 35025:
    case 35026:
    case 35027:
      enabled = TRUE;
      return TRUE;
    default:
      return FALSE;
  }
}

CmdResult CNavItem::Drop(const NorvString& format, CNorvTLItemList* items, CNorvTLItemList* targets,
                         DWORD dropEffect, UINT commandId) {
  NavWorld::Call call;
  call.id = m_strId;
  call.command = commandId;
  call.format = format;
  call.keyState = dropEffect;
  if (targets != nullptr)
    for (CNorvTreeListItem* item : *targets) call.list.push_back(item->Id());
  if (items != nullptr)
    for (CNorvTreeListItem* item : *items) call.dropped.push_back(item->Id());
  NavWorld::Get().calls.push_back(call);
  return CMD_NOT_HANDLED;
}

CanDropFlag CNavItem::CanDrop(const QMimeData* data, DWORD& effect, NorvString& format, DWORD) {
  format = L"NavItem";
  if (!CheckItemsOnClipboard(CNorvClipBoardItem::dragdrop, format, data)) return DROP_NONE;
  effect = 1;  // copy
  return DROP_ITEM;
}

BOOL CNavItem::EndEdit(const NorvString& newText) {
  if (newText.empty()) return FALSE;
  NavWorld::Get().renames.emplace_back(m_strId, newText);
  text = newText;
  return TRUE;
}

void CNavItem::Serialize(CNorvArchive& ar) {
  CNorvTreeListItem::Serialize(ar);
  if (ar.IsStoring())
    ar << m_strId << text;
  else
    ar >> m_strId >> text;
}
