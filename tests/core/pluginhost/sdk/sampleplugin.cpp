// The smallest useful plugin: one item class, the root of its objects.
#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

namespace {
NorvPluginGlobals gPlugin;
constexpr UINT IDS_CAPTION = 100;
}  // namespace

class CSampleRoot : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CSampleRoot)

 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  NorvString GetPluginName() override { return gPlugin.name; }
  HMODULE GetResourceInstanceHandle() override { return gPlugin.resourceModule; }
  NorvString GetPluginCaption() override {
    return plat::LoadString(IDS_CAPTION, gPlugin.resourceModule);
  }
};
NORV_IMPLEMENT_SERIAL(CSampleRoot, CNorvTreeListItem, 1)

NORV_PLUGIN_STANDARD_EXPORTS(gPlugin)
NORV_PLUGIN_CAPTION_FROM_STRING(gPlugin, IDS_CAPTION)
NORV_PLUGIN_NO_IMAGES

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, L"CSampleRoot");
  NorvPluginCopyText(rootId, chars, L"");
  return TRUE;
}
