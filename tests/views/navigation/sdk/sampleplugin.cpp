// A root with two children ("First", "Second"); every command an item
// receives is appended to $NAV_SDK_LOG as "<id> <command>".
#include <stdlib.h>

#include <cstdio>

#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

namespace {
NorvPluginGlobals gPlugin;
constexpr UINT IDS_CAPTION = 100;
}  // namespace

class CNavSample : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CNavSample)

 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = m_strId.empty() ? L"Sample" : m_strId;
  }
  BOOL HasTreeItems() override { return m_strId.empty(); }
  GetItemsResult GetItems(BOOL) override {
    if (!m_strId.empty() || (IsListValid() && !GetItemList().IsEmpty())) return GETITEMS_OK;
    GetItemList().ClearList();
    for (const wchar_t* id : {L"First", L"Second"})
      GetItemList().AddTail(CreateObject(this, L"CNavSample", id));
    SetListValid();
    return GETITEMS_OK;
  }
  CmdResult Command(CNorvTLItemList*, UINT commandId, DWORD, void*) override {
    if (const char* log = getenv("NAV_SDK_LOG")) {
      if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%ls %u\n", m_strId.empty() ? L"Sample" : m_strId.c_str(), commandId);
        std::fclose(f);
      }
    }
    return CMD_NOT_HANDLED;
  }
  BOOL InitMenuInfo(UINT commandId, int& enabled, int&, int) override {
    if (commandId != 41000) return FALSE;
    enabled = TRUE;
    return TRUE;
  }
  NorvString GetPluginName() override { return gPlugin.name; }
  HMODULE GetResourceInstanceHandle() override { return gPlugin.resourceModule; }
  NorvString GetPluginCaption() override {
    return plat::LoadString(IDS_CAPTION, gPlugin.resourceModule);
  }
};
NORV_IMPLEMENT_SERIAL(CNavSample, CNorvTreeListItem, 1)

NORV_PLUGIN_STANDARD_EXPORTS(gPlugin)
NORV_PLUGIN_CAPTION_FROM_STRING(gPlugin, IDS_CAPTION)
NORV_PLUGIN_NO_IMAGES

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, L"CNavSample");
  NorvPluginCopyText(rootId, chars, L"");
  return TRUE;
}
