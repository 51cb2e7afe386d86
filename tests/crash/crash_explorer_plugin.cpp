// A plugin of the explorer that crashes when its root is expanded, with
// NORV_TEST_PLUGIN_CRASH set: the explorer's crash handler must name it.
#include <cstdlib>

#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

namespace {
NorvPluginGlobals gPlugin;
constexpr UINT kCaptionString = 100;
}  // namespace

namespace crashexplorer {

__attribute__((noinline)) void FillRoot(int* children) {
  *children = 1;  // CRASH:explorer
}

}  // namespace crashexplorer

class CCrashRootItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CCrashRootItem)

 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  BOOL HasTreeItems() override { return TRUE; }
  GetItemsResult GetItems(BOOL treeOnly) override {
    if (std::getenv("NORV_TEST_PLUGIN_CRASH") != nullptr) {
      volatile int* none = nullptr;
      crashexplorer::FillRoot(const_cast<int*>(none));
    }
    return CNorvTreeListItem::GetItems(treeOnly);
  }
  NorvString GetPluginName() override { return gPlugin.name; }
  HMODULE GetResourceInstanceHandle() override { return gPlugin.resourceModule; }
  int GetImageListOffset() override { return gPlugin.imageListOffset; }
  NorvString GetPluginCaption() override {
    return plat::LoadString(kCaptionString, gPlugin.resourceModule);
  }
  UINT GetIcon() override { return 0; }
};

NORV_IMPLEMENT_SERIAL(CCrashRootItem, CNorvTreeListItem, 1)

NORV_PLUGIN_EXPORT void GetSDKVersion(DWORD* version, DWORD* build) {
  *version = NORV_SDK_VERSION;
  *build = 0;
}
NORV_PLUGIN_EXPORT void GetBuildType(DWORD* first, DWORD* second) {
  *first = NORV_PLUGIN_BUILD_ABI_MISMATCH;
  *second = NORV_PLUGIN_BUILD_WIDE_TEXT;
}
NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, L"CCrashRootItem");
  NorvPluginCopyText(rootId, chars, L"crash-root");
  return TRUE;
}
NORV_PLUGIN_EXPORT void DeInitialize() {}
NORV_PLUGIN_EXPORT BOOL GetImageList(int, QList<QImage>*) { return FALSE; }
NORV_PLUGIN_SETTER_EXPORTS(gPlugin)
NORV_PLUGIN_EXPORT void GetPluginCaption(wchar_t* caption, unsigned chars) {
  NorvPluginCopyText(caption, chars, plat::LoadString(kCaptionString).c_str());
}
NORV_PLUGIN_EXPORT BOOL Idle(long) { return FALSE; }
NORV_PLUGIN_EXPORT BOOL QueryEndSession() { return TRUE; }
