// The plugin host's answers about items, and the plugins' menu entries.
#include <mutex>

#include "norv/NorvMenu.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvRoot.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"

int CPluginHandler::FindItemPluginId(const CNorvTreeListItem* item) {
  if (item == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
  const auto it = classList.find(item->GetRuntimeClass());
  return it != classList.end() ? it->second : -1;
}

DWORD CPluginHandler::GetSDKBuild(const CNorvTreeListItem* item) {
  const int id = FindItemPluginId(item);
  if (id < 0 || id >= GetPluginCount()) return 0;
  return pluginList[id].sdkBuild;
}

void CPluginHandler::AppendPluginHelpMenus(CNorvMenu* menu) {
  CNorvMenu* helpMenu = menu != nullptr ? menu->GetSubMenu(4) : nullptr;
  CNorvMenu* target = helpMenu != nullptr ? helpMenu->GetSubMenu(0) : nullptr;
  for (int id = 0; id < GetPluginCount(); ++id) {
    NorvPluginRecord& record = pluginList[id];
    record.helpMenuCommand = ID_NORV_PLUGIN_HELP_FIRST + static_cast<UINT>(id);
    if (target == nullptr || record.entry.GetPluginCaption == nullptr) continue;
    wchar_t caption[NORV_PLUGIN_TEXT_CHARS] = {};
    {
      NorvResourceStack resources(record.resourceModule);
      record.entry.GetPluginCaption(caption, NORV_PLUGIN_TEXT_CHARS);
    }
    caption[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
    if (!record.helpFile.empty()) target->AppendItem(record.helpMenuCommand, caption);
  }
}

void CPluginHandler::AppendPluginAboutMenus(CNorvMenu* menu, CNorvTreeListItem* item) {
  if (menu == nullptr || item == nullptr) return;
  if (dynamic_cast<CNorvRoot*>(item) != nullptr) return;
  CNorvMenu* helpMenu = menu->GetSubMenu(4);
  CNorvMenu* target = helpMenu != nullptr ? helpMenu->GetSubMenu(4) : nullptr;
  if (target == nullptr) return;
  int enabled = 0;
  int checked = 0;
  NorvString caption;
  {
    CNorvItemCallScope scope(item);
    if (!item->InitMenuInfo(ID_NORV_PLUGIN_ABOUT, enabled, checked, 0) || !enabled) return;
    caption = item->GetPluginCaption();
  }
  target->AppendSeparator();
  target->AppendItem(ID_NORV_PLUGIN_ABOUT, caption);
}
