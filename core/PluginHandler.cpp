// Loading and unloading plugins, and the table of loaded plugins. The parts
// that talk to items and menus are in PluginHandlerItems.cpp.
#include "norv/PluginHandler.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <system_error>
#include <type_traits>

#include "PluginHandlerMessages.h"
#include "norv/NorvHostIds.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvRuntimeClass.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"
#include "platform/library.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace fs = std::filesystem;

std::vector<NorvPluginRecord> CPluginHandler::pluginList;
std::map<const CNorvRuntimeClass*, int> CPluginHandler::classList;
NorvString CPluginHandler::m_Locale;

namespace {

// Restores the current directory when it goes out of scope: loading a
// plugin moves into the plugin's folder so that the libraries it names
// relative to itself are found.
class CurrentDirectoryScope {
 public:
  CurrentDirectoryScope() { saved_ = fs::current_path(error_); }
  ~CurrentDirectoryScope() {
    if (!error_) {
      std::error_code ignored;
      fs::current_path(saved_, ignored);
    }
  }
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::error_code error_;
  fs::path saved_;
};

void EnterFolderOf(const NorvString& file) {
  const fs::path folder = fs::path(plat::ToUtf8(file)).parent_path();
  if (folder.empty()) return;
  std::error_code ignored;
  fs::current_path(folder, ignored);
}

// Owns a loaded library until it is handed on (release) or the scope
// ends, so that no failure path frees a module by hand.
class ModuleOwner {
 public:
  explicit ModuleOwner(HMODULE module = nullptr) : m_module(module) {}
  ~ModuleOwner() { Reset(); }
  ModuleOwner(const ModuleOwner&) = delete;
  ModuleOwner& operator=(const ModuleOwner&) = delete;
  HMODULE Get() const { return m_module; }
  HMODULE Release() {
    HMODULE module = m_module;
    m_module = nullptr;
    return module;
  }
  void Reset(HMODULE module = nullptr) {
    if (m_module != nullptr) plat::FreeLibrary(m_module);
    m_module = module;
  }

 private:
  HMODULE m_module;
};

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

fs::path FrameworkFolder() {
  const void* self = reinterpret_cast<const void*>(&CPluginHandler::FindLibrary);
  const std::string path = plat::ModuleFileName(plat::ModuleFromAddress(self));
  return fs::path(path).parent_path();
}

fs::path HostFolder() { return fs::path(plat::ModuleFileName(nullptr)).parent_path(); }

// Calls visit(index, slot) for each slot of the entry-point table, in the
// order of kNorvPluginExportNames.
template <typename Entry, typename Visit>
void ForEachEntryPoint(Entry& entry, Visit visit) {
  int index = 0;
  auto each = [&](auto&... slot) {
    static_assert(sizeof...(slot) == std::size(kNorvPluginExportNames));
    (visit(index++, slot), ...);
  };
  each(entry.Initialize, entry.DeInitialize, entry.GetImageList, entry.SetImageListOffset,
       entry.SetPluginName, entry.SetHelpFile, entry.SetMessageHelpFile,
       entry.SetResourceInstanceHandle, entry.GetPluginCaption, entry.GetTipOfTheDayStartIndex,
       entry.GetSplashUrl, entry.QueryEndSession, entry.Idle, entry.SetPluginId,
       entry.GetBuildType, entry.GetSDKVersion);
}

// Fills the entry-point table from the library's exports.
void LookUpExports(HMODULE module, NorvPluginEntryPoints& entry) {
  ForEachEntryPoint(entry, [module](int index, auto& slot) {
    // Casting the addresses back to their function types is how exported
    // functions are called through dlsym.
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        plat::GetProcAddress(module, kNorvPluginExportNames[index]));
  });
}

// The names of the required exports that the table lacks, comma-separated.
NorvString MissingRequiredExports(const NorvPluginEntryPoints& entry) {
  NorvString missing;
  ForEachEntryPoint(entry, [&missing](int index, const auto& slot) {
    if (index >= kNorvPluginRequiredExports || slot != nullptr) return;
    if (!missing.empty()) missing += L", ";
    missing += plat::FromUtf8(kNorvPluginExportNames[index]);
  });
  return missing;
}

// The message for a library that would not load, with the system's text
// for the failure (string 7056 when there is none).
void ShowLoadFailure(UINT message, const NorvString& name, const NorvString& file,
                     const std::string& systemText) {
  const NorvString text = systemText.empty() ? norvhost::StringText(IDS_NORV_NO_ERROR_TEXT)
                                             : plat::FromUtf8(systemText);
  norvhost::ShowMessage(message, name.c_str(), file.c_str(), text.c_str());
}

// A locale subkey name must name one key directly below "Locale".
bool UsableLocaleKey(const NorvString& key) {
  return !key.empty() && key.find(L'\\') == NorvString::npos;
}

bool SameLibrary(const std::string& registered, const NorvPluginRecord& record) {
  if (registered.empty()) return false;
  if (registered == record.loadedPath) return true;
  std::error_code e1;
  std::error_code e2;
  const fs::path a = fs::weakly_canonical(registered, e1);
  const fs::path b = fs::weakly_canonical(record.loadedPath, e2);
  return !e1 && !e2 && a == b;
}

}  // namespace

NorvString CPluginHandler::FindLibrary(const NorvString& name) {
  if (name.empty()) return {};
  const fs::path given(plat::ToUtf8(name));
  std::vector<fs::path> candidates{given};
  if (given.is_relative()) {
    candidates.push_back(FrameworkFolder() / given);
    candidates.push_back(HostFolder() / given);
  }
  for (const auto& candidate : candidates) {
    if (!IsFile(candidate)) continue;
    std::error_code error;
    const fs::path absolute = fs::absolute(candidate, error);
    return plat::FromUtf8((error ? candidate : absolute).lexically_normal().string());
  }
  return {};
}

std::vector<NorvString> CPluginHandler::SplitLoadEntry(const NorvString& entry) {
  std::vector<NorvString> fields;
  size_t start = 0;
  while (fields.size() < 4) {
    const size_t semicolon = entry.find(L';', start);
    if (semicolon == NorvString::npos) break;
    fields.push_back(entry.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  fields.push_back(entry.substr(start));
  fields.resize(5);
  return fields;
}

BOOL CPluginHandler::LoadAllPlugins(const NorvString& locale,
                                    const std::vector<NorvString>& filter,
                                    const std::vector<NorvString>& loadList) {
  SetLocale(locale);
  Trace::SetPluginNameResolver([](int id) { return CPluginHandler::GetPluginName(id); });
  {
    CurrentDirectoryScope directory;
    if (!loadList.empty()) {
      for (const auto& entry : loadList) {
        const std::vector<NorvString> f = SplitLoadEntry(entry);
        // An entry without any name cannot be told apart in messages.
        const NorvString& name = f[0].empty() ? entry : f[0];
        LoadPlugin(name, f[1], f[2], f[3], f[4], FALSE);
      }
    } else {
      LoadRegisteredPlugins(locale, filter);
    }
  }
  if (pluginList.empty()) {
    norvhost::ShowMessage(IDS_NORV_NO_PLUGIN_LOADED, locale.c_str());
    return FALSE;
  }
  BuildClassList();
  return TRUE;
}

void CPluginHandler::LoadRegisteredPlugins(const NorvString& locale,
                                           const std::vector<NorvString>& filter) {
  NorvStringArray names;
  {
    CNorvPrivateRegistryKey plugins(plat::HKEY_LOCAL_MACHINE, L"Plugins", plat::KEY_READ);
    if (!plugins.IsOpen()) {
      NORV_BASE_TRACE(1, 0, L"The plugin registration key \"" +
                                CNorvPrivateRegistryKey::PrivatePath(L"Plugins") +
                                L"\" cannot be opened.");
      return;
    }
    plugins.GetEnumKeys(names);
  }
  const NorvString locale3 = locale.substr(0, 3);
  const NorvString locale2 = locale.substr(0, 2);
  for (const auto& name : names) {
    if (!filter.empty() &&
        std::none_of(filter.begin(), filter.end(), [&](const NorvString& wanted) {
          return plat::CompareNoCase(wanted, name) == 0;
        })) {
      continue;
    }
    const NorvString keyPath = L"Plugins\\" + name;
    CNorvPrivateRegistryKey pluginKey(plat::HKEY_LOCAL_MACHINE, keyPath, plat::KEY_READ);
    if (!pluginKey.IsOpen()) continue;
    UINT enabled = 1;
    if (pluginKey.GetUIntValue(L"PluginEnabled", enabled) && enabled == 0) {
      NORV_BASE_TRACE(3, 0, L"Plugin " + name + L" is disabled.");
      continue;
    }
    NorvString pluginLibrary;
    pluginKey.GetStringValue(L"PluginDLL", pluginLibrary);

    std::unique_ptr<CNorvPrivateRegistryKey> localeKey;
    for (const NorvString* candidate : {&locale3, &locale2}) {
      if (!UsableLocaleKey(*candidate)) continue;
      auto key = std::make_unique<CNorvPrivateRegistryKey>(
          plat::HKEY_LOCAL_MACHINE, keyPath + L"\\Locale\\" + *candidate, plat::KEY_READ);
      if (key->IsOpen()) {
        localeKey = std::move(key);
        break;
      }
    }
    if (!localeKey) {
      NORV_BASE_TRACE(2, 0, L"Plugin " + name + L" has no resources for the locale \"" +
                                locale + L"\" and is not loaded.");
      continue;
    }
    NorvString resourceLibrary;
    NorvString helpFile;
    NorvString messageHelpFile;
    localeKey->GetStringValue(L"ResourceDLL", resourceLibrary);
    localeKey->GetStringValue(L"HelpFile", helpFile);
    localeKey->GetStringValue(L"MessageHelpFile", messageHelpFile);
    LoadPlugin(name, pluginLibrary, resourceLibrary, helpFile, messageHelpFile, TRUE);
  }
}

BOOL CPluginHandler::LoadPlugin(const NorvString& name, const NorvString& pluginLibrary,
                                const NorvString& resourceLibrary, const NorvString& helpFile,
                                const NorvString& messageHelpFile, BOOL fromRegistry) {
  const int id = GetPluginCount();
  if (pluginLibrary.empty()) {
    norvhost::ShowMessage(
        fromRegistry ? IDS_NORV_NO_PLUGIN_LIBRARY : IDS_NORV_LOADPLUGIN_INCOMPLETE, name.c_str());
    return FALSE;
  }
  if (resourceLibrary.empty()) {
    norvhost::ShowMessage(
        fromRegistry ? IDS_NORV_NO_RESOURCE_LIBRARY : IDS_NORV_LOADPLUGIN_INCOMPLETE, name.c_str());
    return FALSE;
  }
  CurrentDirectoryScope directory;

  NorvPluginRecord record;
  record.name = name;
  record.pluginLibrary = pluginLibrary;
  record.resourceLibrary = resourceLibrary;
  record.helpFile = helpFile;
  record.messageHelpFile = messageHelpFile;

  NorvString pluginPath = FindLibrary(pluginLibrary);
  if (pluginPath.empty()) {
    pluginPath = pluginLibrary;  // left to the system's library search
  } else {
    EnterFolderOf(pluginPath);
  }
  NORV_BASE_TRACE(3, 0,
                  NorvFormatString(L"Loading plugin dll for plugin %s (id %d), file = %s",
                                   name.c_str(), id, pluginPath.c_str()));
  record.loadedPath = plat::ToUtf8(pluginPath);
  ModuleOwner pluginModule(plat::LoadLibrary(record.loadedPath));
  ModuleOwner resourceModule;
  record.pluginModule = pluginModule.Get();
  if (record.pluginModule == nullptr) {
    ShowLoadFailure(IDS_NORV_PLUGIN_LOAD_FAILED, name, pluginPath, plat::LibraryError());
    return FALSE;
  }
  // Failing from here on unloads the libraries (the owners above).

  LookUpExports(record.pluginModule, record.entry);
  NorvPluginEntryPoints& entry = record.entry;

  if (entry.GetSDKVersion != nullptr) {
    DWORD version = 0;
    DWORD build = 0;
    entry.GetSDKVersion(&version, &build);
    if (version != NORV_SDK_VERSION) {
      norvhost::ShowMessage(
          IDS_NORV_SDK_VERSION_MISMATCH, name.c_str(), static_cast<unsigned>(version >> 16),
          static_cast<unsigned>(version & 0xFFFF), NORV_SDK_VERSION_MAJOR, NORV_SDK_VERSION_MINOR);
      return FALSE;
    }
    record.sdkBuild = build;
    NORV_BASE_TRACE(3, 0,
                    NorvFormatString(L"Plugin %s (id %d) is built using NORV %u.%u.%u.%u SDK.",
                                     name.c_str(), id, NORV_SDK_VERSION_MAJOR,
                                     NORV_SDK_VERSION_MINOR, static_cast<unsigned>(build >> 16),
                                     static_cast<unsigned>(build & 0xFFFF)));
  } else {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"Plugin %s (id %d) has no NORV SDK version information.",
                                     name.c_str(), id));
  }

  if (entry.GetBuildType != nullptr) {
    DWORD first = 0;
    DWORD second = 0;
    entry.GetBuildType(&first, &second);
    if (first != 0) {
      norvhost::ShowMessage(IDS_NORV_PLUGIN_DEBUG_BUILD, name.c_str());
      return FALSE;
    }
    if (second == 0) {
      norvhost::ShowMessage(IDS_NORV_PLUGIN_NOT_WIDE, name.c_str());
      return FALSE;
    }
  }

  const NorvString missing = MissingRequiredExports(entry);
  if (!missing.empty()) {
    norvhost::ShowMessage(IDS_NORV_PLUGIN_EXPORTS_MISSING, name.c_str(), missing.c_str());
    return FALSE;
  }

  if (entry.SetPluginId != nullptr) {
    entry.SetPluginId(id);
  } else {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"Plugin %s (id %d) is missing exported SetPluginId() "
                                     L"function. No tracing can be performed in the plugin.",
                                     name.c_str(), id));
  }
  entry.SetPluginName(name.c_str());
  entry.SetHelpFile(helpFile.c_str());
  entry.SetMessageHelpFile(messageHelpFile.c_str());

  // Relative resource library names are found next to the plugin first.
  NorvString resourcePath = FindLibrary(resourceLibrary);
  if (resourcePath.empty()) {
    resourcePath = resourceLibrary;
  } else {
    EnterFolderOf(resourcePath);
  }
  NORV_BASE_TRACE(3, 0,
                  NorvFormatString(L"Loading resource dll for plugin %s (id %d), file = %s",
                                   name.c_str(), id, resourcePath.c_str()));
  resourceModule.Reset(plat::LoadResourceModule(plat::ToUtf8(resourcePath)));
  record.resourceModule = resourceModule.Get();
  if (record.resourceModule == nullptr) {
    ShowLoadFailure(IDS_NORV_RESOURCE_LOAD_FAILED, name, resourcePath, plat::LibraryError());
    return FALSE;
  }
  entry.SetResourceInstanceHandle(record.resourceModule);

  {
    std::lock_guard<std::mutex> lock(PluginListLock());
    pluginList.push_back(std::move(record));
  }
  // The list owns both libraries now (UnloadPlugins, RemovePlugin).
  pluginModule.Release();
  resourceModule.Release();
  return TRUE;
}

int CPluginHandler::BuildClassList() {
  std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
  classList.clear();
  int count = 0;
  for (const auto& library : CNorvClassRegistry::GetLibraries()) {
    for (int id = 0; id < GetPluginCount(); ++id) {
      if (!SameLibrary(library, pluginList[id])) continue;
      for (const CNorvRuntimeClass* pClass : CNorvClassRegistry::GetClasses(library)) {
        if (classList.emplace(pClass, id).second) ++count;
      }
    }
  }
  return count;
}

int CPluginHandler::FindClassPluginId(const NorvString& className) {
  std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
  const CNorvRuntimeClass* pClass = CNorvRuntimeClass::FromName(className);
  if (pClass == nullptr) return -1;
  const auto it = classList.find(pClass);
  return it != classList.end() ? it->second : -1;
}

HMODULE CPluginHandler::FindClassDLL(const NorvString& className) {
  std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
  const CNorvRuntimeClass* pClass = CNorvRuntimeClass::FromName(className);
  if (pClass == nullptr) return nullptr;
  return plat::ModuleFromAddress(pClass);
}

std::mutex& CPluginHandler::PluginListLock() {
  // Never destroyed: plugin threads may trace during static destruction.
  static std::mutex* lock = new std::mutex;
  return *lock;
}

NorvString CPluginHandler::GetPluginName(int pluginId) {
  std::lock_guard<std::mutex> lock(PluginListLock());
  if (pluginId < 0 || pluginId >= static_cast<int>(pluginList.size())) return {};
  return pluginList[pluginId].name;
}

NorvString CPluginHandler::GetPluginHelpFile(UINT helpMenuCommand) {
  for (const auto& record : pluginList) {
    if (record.helpMenuCommand != 0 && record.helpMenuCommand == helpMenuCommand)
      return record.helpFile;
  }
  return {};
}

BOOL CPluginHandler::RunIdle(long count) {
  BOOL more = FALSE;
  for (const auto& record : pluginList) {
    if (record.entry.Idle == nullptr) continue;
    NorvResourceStack resources(record.resourceModule);
    if (record.entry.Idle(count)) more = TRUE;
  }
  return more;
}

BOOL CPluginHandler::QueryEndSession() {
  for (const auto& record : pluginList) {
    if (record.entry.QueryEndSession == nullptr) continue;
    NorvResourceStack resources(record.resourceModule);
    if (!record.entry.QueryEndSession()) return FALSE;
  }
  return TRUE;
}

void CPluginHandler::UnloadPlugins() {
  {
    // The class records live in the libraries about to go.
    std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
    classList.clear();
  }
  for (auto& record : pluginList) {
    if (record.entry.DeInitialize != nullptr) {
      NorvResourceStack resources(record.resourceModule);
      record.entry.DeInitialize();
    }
    if (record.resourceModule != nullptr) plat::FreeLibrary(record.resourceModule);
    if (record.pluginModule != nullptr) plat::FreeLibrary(record.pluginModule);
  }
  std::vector<NorvPluginRecord> gone;
  {
    std::lock_guard<std::mutex> lock(PluginListLock());
    gone.swap(pluginList);
  }
}

void CPluginHandler::RemovePlugin(int pluginId) {
  if (pluginId < 0 || pluginId >= GetPluginCount()) return;
  {
    std::lock_guard<std::recursive_mutex> lock(NorvFrameworkLock());
    std::map<const CNorvRuntimeClass*, int> moved;
    for (const auto& [pClass, id] : classList) {
      if (id < pluginId) moved.emplace(pClass, id);
      if (id > pluginId) moved.emplace(pClass, id - 1);
    }
    classList.swap(moved);
  }
  NorvPluginRecord record;
  {
    // The plugin's own worker may be tracing under its id right now.
    std::lock_guard<std::mutex> lock(PluginListLock());
    record = std::move(pluginList[pluginId]);
    pluginList.erase(pluginList.begin() + pluginId);
  }
  // Unloading may wait for that worker: not under the lock.
  if (record.resourceModule != nullptr) plat::FreeLibrary(record.resourceModule);
  if (record.pluginModule != nullptr) plat::FreeLibrary(record.pluginModule);
  // The plugins behind it trace under their new ids from now on.
  for (int id = pluginId; id < GetPluginCount(); ++id) {
    if (pluginList[id].entry.SetPluginId != nullptr) pluginList[id].entry.SetPluginId(id);
  }
}

void CPluginHandler::SetLocale(const NorvString& locale) {
  m_Locale = locale;
  CNorvTreeListItem::SetLocale(locale);
}
