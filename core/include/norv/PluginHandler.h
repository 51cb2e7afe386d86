// The plugin host: finds the registered plugins (or the ones named on the
// command line), loads them, checks their SDK build, hands each its plugin
// id, keeps the table of loaded plugins and maps every item class to the
// plugin that defines it. Plugin ids are indexes into pluginList, in load
// order from 0.
//
// Registry layout, below the framework key (HKEY_LOCAL_MACHINE, the private
// root that the host names with CNorvPrivateRegistryKey::SetRegistryKey):
//   Plugins\<name>            PluginDLL (string), PluginEnabled (number,
//                             0 = do not load), RegFlag (not read here)
//   Plugins\<name>\Locale\<l> ResourceDLL, HelpFile, MessageHelpFile
// where <l> is the first three characters of the locale, or, when that key
// does not exist, the first two.
#pragma once
#include <map>
#include <mutex>
#include <vector>

#include "norv/NorvHostCommands.h"
#include "norv/NorvPluginSdk.h"
#include "norv/norvtypes.h"

class CNorvMenu;
class CNorvTreeListItem;
struct CNorvRuntimeClass;

// One loaded plugin.
struct NORV_API NorvPluginRecord {
  NorvString name;             // the plugin's registry key name
  NorvString pluginLibrary;    // "PluginDLL" as given
  NorvString resourceLibrary;  // "ResourceDLL" as given
  NorvString helpFile;
  NorvString messageHelpFile;
  HMODULE pluginModule = nullptr;
  HMODULE resourceModule = nullptr;
  UINT helpMenuCommand = 0;  // 39900 + plugin id, once the help menu is built
  DWORD sdkBuild = 0;        // as reported by GetSDKVersion (0 without it)
  NorvString defaultRootClass;  // filled by the plugin's Initialize
  NorvString defaultRootId;
  NorvPluginEntryPoints entry;
  // Where the plugin library was found and loaded from (absolute path).
  std::string loadedPath;
};

class NORV_API CPluginHandler {
 public:
  // The loaded plugins; the index is the plugin id. Changed only on the
  // user-interface thread, by the handler's own functions and under its
  // lock; other threads (a plugin's worker tracing under its id) read it
  // only through GetPluginName.
  static std::vector<NorvPluginRecord> pluginList;
  // Item class -> id of the plugin that registers it.
  static std::map<const CNorvRuntimeClass*, int> classList;

  // Loads every plugin (see the file comment) and returns FALSE only when
  // none could be loaded. `locale` becomes the running program's locale.
  // `filter`: plugin names from `plugin:` (empty = all registered ones);
  // `loadList`: `loadplugin:` entries "name;PluginDLL;ResourceDLL;HelpFile;
  // MessageHelpFile", which replace the registry when not empty.
  static BOOL LoadAllPlugins(const NorvString& locale, const std::vector<NorvString>& filter,
                             const std::vector<NorvString>& loadList);
  // Loads one plugin and appends it to pluginList; FALSE (with a message)
  // leaves the list unchanged. `fromRegistry` picks the message texts.
  static BOOL LoadPlugin(const NorvString& name, const NorvString& pluginLibrary,
                         const NorvString& resourceLibrary, const NorvString& helpFile,
                         const NorvString& messageHelpFile, BOOL fromRegistry);
  // Splits a `loadplugin:` entry at ";" into its five fields; missing
  // trailing fields are empty, text after a fifth ";" stays in the last
  // field.
  static std::vector<NorvString> SplitLoadEntry(const NorvString& entry);

  // Rebuilds classList; returns the number of classes entered.
  static int BuildClassList();
  static int FindClassPluginId(const NorvString& className);
  static int FindItemPluginId(const CNorvTreeListItem* item);
  // The loaded library that registers a class of that name (the module
  // that holds the class's record), or null. Like GetModuleHandle the
  // handle is not counted: never pass it to FreeLibrary.
  static HMODULE FindClassDLL(const NorvString& className);
  // Empty for an id outside the table. Safe on any thread, also while the
  // list changes.
  static NorvString GetPluginName(int pluginId);
  // The SDK build of the item's plugin, 0 when unknown.
  static DWORD GetSDKBuild(const CNorvTreeListItem* item);
  // The help file of the plugin whose help entry has that command (empty
  // when there is none).
  static NorvString GetPluginHelpFile(UINT helpMenuCommand);
  static int GetPluginCount() { return static_cast<int>(pluginList.size()); }

  // Adds the plugins' help entries to the first popup of the fifth
  // top-level menu.
  static void AppendPluginHelpMenus(CNorvMenu* menu);
  // Adds the About entry (40007) of the item's plugin to the fifth popup of
  // the fifth top-level menu, when the item enables it.
  static void AppendPluginAboutMenus(CNorvMenu* menu, CNorvTreeListItem* item);

  static BOOL RunIdle(long count);
  static BOOL QueryEndSession();
  // DeInitialize, then unload resource and plugin libraries; empties the
  // tables.
  static void UnloadPlugins();

  // Unloads one plugin (DeInitialize is not called: the plugin never
  // initialised) and removes it; the plugins behind it move up one id and
  // are told their new id. Used when Initialize fails at set-up.
  static void RemovePlugin(int pluginId);

  // Where a library named in the registry is searched: as given, then in
  // the framework's folder, then in the host program's folder. Returns the
  // absolute path of the first file found, or empty.
  static NorvString FindLibrary(const NorvString& name);

  // The locale that LoadAllPlugins received.
  static NorvString GetLocale() { return m_Locale; }

 private:
  // Guards changes of pluginList against GetPluginName on other threads.
  // Never held while plugin code runs (a plugin library's unloading may
  // wait for a worker that is tracing).
  static std::mutex& PluginListLock();
  static void SetLocale(const NorvString& locale);
  static void LoadRegisteredPlugins(const NorvString& locale,
                                    const std::vector<NorvString>& filter);
  static NorvString m_Locale;
};
