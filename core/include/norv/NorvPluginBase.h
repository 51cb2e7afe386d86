// CNorvPluginBase: the plugin-level answers for items that belong to the
// framework itself rather than to a plugin (the framework's root). Their
// texts come from the host program's resources.
#pragma once
#include "norv/NorvTlgItem.h"

class NORV_API CNorvPluginBase : public CNorvTreeListItem {
  NORV_DECLARE_DYNAMIC(CNorvPluginBase)

 public:
  int GetImageListOffset() override;
  NorvString GetPluginName() override;
  // The host's resource module as it was when the views were set up.
  HMODULE GetResourceInstanceHandle() override;
  const wchar_t* GetMessageHelpFile() override;
  const wchar_t* GetHelpFile() override;
  // String 7035 of the host's resources.
  NorvString GetPluginCaption() override;

  // Recorded by CNorvDoc::SetupViews (null: the host's own resources).
  static void SetHostResourceHandle(HMODULE module);
  static HMODULE GetHostResourceHandle();

 private:
  static HMODULE s_hHostResources;
};
