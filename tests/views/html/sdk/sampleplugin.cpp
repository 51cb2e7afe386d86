// One object whose graphical view is start.html out of the plugin's own
// resource module. Item command 41000 answers 41; 41001 answers the length
// of the text the page passed; once the page has loaded the item writes
// into it through the document it is handed.
#include <QVariant>

#include "norv/NorvHtmlDocument.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"
#include "platform/library.h"
#include "platform/text.h"

namespace {
NorvPluginGlobals gPlugin;
constexpr UINT IDS_CAPTION = 100;
}  // namespace

class CHtmlSample : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CHtmlSample)

 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    SetViewMode(NORV_VIEWMODE_HTML);
    return TRUE;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = L"HTML Sample";
  }
  BOOL HasViewMode(int mode) override { return mode == NORV_VIEWMODE_HTML; }
  void GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags) override {
    if (flags != 2 || info == nullptr) return;
    std::string file = plat::ModuleFileName(gPlugin.resourceModule);
    file.erase(0, file.rfind('/') + 1);
    info->url = L"res://" + plat::FromUtf8(file) + L"/start.html";
    info->assignments = {L"filled=assigned"};
  }
  CmdResult Command(CNorvTLItemList*, UINT commandId, DWORD param, void* pParam) override {
    if (commandId == 41000) return static_cast<CmdResult>(41);
    if (commandId == 41001 && param == static_cast<DWORD>(-1) && pParam != nullptr)
      return static_cast<CmdResult>(static_cast<QVariant*>(pParam)->toString().size());
    if (commandId == ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL &&
        param == static_cast<DWORD>(-2) && pParam != nullptr) {
      auto* document = static_cast<INorvHtmlDocument*>(pParam);
      NorvString filled;
      document->GetElement(L"filled", L"", filled);
      document->SetElement(L"filled", L"data-item", filled + L" and seen");
      return CMD_HANDLED;
    }
    return CMD_NOT_HANDLED;
  }
  NorvString GetPluginName() override { return gPlugin.name; }
  HMODULE GetResourceInstanceHandle() override { return gPlugin.resourceModule; }
};
NORV_IMPLEMENT_SERIAL(CHtmlSample, CNorvTreeListItem, 1)

NORV_PLUGIN_STANDARD_EXPORTS(gPlugin)
NORV_PLUGIN_CAPTION_FROM_STRING(gPlugin, IDS_CAPTION)
NORV_PLUGIN_NO_IMAGES

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, L"CHtmlSample");
  NorvPluginCopyText(rootId, chars, L"");
  return TRUE;
}
