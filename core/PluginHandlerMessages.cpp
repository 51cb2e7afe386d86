#include "PluginHandlerMessages.h"

#include <cstring>
#include <cwchar>

#include "norv/NorvHostStrings.h"
#include "norv/NorvMessageBox.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace norvhost {
namespace {

struct MessageEntry {
  UINT id;
  const char* signature;  // what the text is formatted with
  const wchar_t* text;    // built-in English text
};

// The texts the framework falls back on; hosts translate them in their
// string resources under the same numbers.
const MessageEntry kMessages[] = {
    {IDS_NORV_COLUMN_NAME, "", L"Name"},
    {IDS_NORV_COLUMN_DESCRIPTION, "", L"Description"},
    {IDS_NORV_CAPTION, "", L"Norv Explorer"},
    {IDS_NORV_ROOT_NAME, "", L"Norv"},
    {IDS_NORV_NO_ERROR_TEXT, "", L"No description of the error is available."},
    {IDS_NORV_ROOT_NOT_CREATED, "ss", L"The root object %s://%s could not be created."},
    {IDS_NORV_NO_PLUGIN_LOADED, "s", L"No plugin could be loaded for the language \"%s\"."},
    {IDS_NORV_PLUGIN_INIT_FAILED, "s",
     L"The plugin %s could not be initialized and will not be used."},
    {IDS_NORV_RESOURCE_LOAD_FAILED, "sss",
     L"The resource library of plugin %s could not be loaded.\nFile: %s\n%s"},
    {IDS_NORV_PLUGIN_EXPORTS_MISSING, "ss",
     L"The plugin %s is not a valid Norv plugin and will not be used.\nMissing functions: %s"},
    {IDS_NORV_NO_FONT, "", L"No font could be created for the explorer views."},
    {IDS_NORV_PLUGIN_LOAD_FAILED, "sss",
     L"The plugin library of plugin %s could not be loaded.\nFile: %s\n%s"},
    {IDS_NORV_NO_RESOURCE_LIBRARY, "s", L"No resource library is registered for the plugin %s."},
    {IDS_NORV_NO_PLUGIN_LIBRARY, "s", L"No plugin library is registered for the plugin %s."},
    {IDS_NORV_LOADPLUGIN_INCOMPLETE, "s",
     L"The plugin entry \"%s\" on the command line is incomplete. It must be written as "
     L"name;PluginDLL;ResourceDLL;HelpFile;MessageHelpFile."},
    {IDS_NORV_SDK_VERSION_MISMATCH, "sdddd",
     L"The plugin %s was built with Norv SDK %u.%u and cannot be used with this Norv, which "
     L"needs SDK %u.%u."},
    {IDS_NORV_PLUGIN_DEBUG_BUILD, "s",
     L"The plugin %s is a debug build (its C++ library does not fit this Norv) and will not "
     L"be used."},
    {IDS_NORV_PLUGIN_NOT_WIDE, "s",
     L"The plugin %s was not built for wide text and will not be used."},
};

const MessageEntry* FindSpec(UINT id) {
  for (const auto& entry : kMessages) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

// The format to use: the host's text when it fits the arguments.
NorvString FormatFor(UINT id, const MessageEntry* entry) {
  const HMODULE host = plat::HostResourceModule();
  NorvString text;
  if (host != nullptr) text = plat::LoadString(id, host);
  if (entry == nullptr) return text;
  if (text.empty() || !FormatFits(text, entry->signature)) return entry->text;
  return text;
}

NorvString FormatV(UINT id, va_list args) {
  const MessageEntry* entry = FindSpec(id);
  const NorvString format = FormatFor(id, entry);
  if (entry == nullptr || entry->signature[0] == '\0') {
    // Nothing to format with: a literal "%" must stay as it is.
    return format;
  }
  return plat::FormatWV(format.c_str(), args);
}

}  // namespace

bool FormatFits(const NorvString& format, const char* signature) {
  const size_t expected = std::strlen(signature);
  size_t used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') continue;
    ++i;
    if (i < format.size() && format[i] == L'%') continue;
    // flags
    while (i < format.size() && std::wcschr(L"-+ #0", format[i]) != nullptr) ++i;
    // width and precision: digits only (no "*", which would read an argument,
    // and no "n$" positions)
    while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') ++i;
    if (i < format.size() && format[i] == L'.') {
      ++i;
      while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') ++i;
    }
    if (i >= format.size()) return false;
    bool longModifier = false;
    if (format[i] == L'l') {
      longModifier = true;
      ++i;
      if (i >= format.size()) return false;
    }
    char kind = 0;
    switch (format[i]) {
      case L's':
        kind = 's';
        break;
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
        // "%ld" would read a long where an int was passed.
        if (longModifier) return false;
        kind = 'd';
        break;
      default:
        return false;
    }
    if (used >= expected || signature[used] != kind) return false;
    ++used;
  }
  return true;
}

NorvString DefaultText(UINT id) {
  const MessageEntry* entry = FindSpec(id);
  return entry != nullptr ? NorvString(entry->text) : NorvString();
}

NorvString MessageText(UINT id, ...) {
  va_list args;
  va_start(args, id);
  NorvString text = FormatV(id, args);
  va_end(args);
  return text;
}

int ShowMessage(UINT id, ...) {
  va_list args;
  va_start(args, id);
  const NorvString text = FormatV(id, args);
  va_end(args);
  return NorvAppMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

NorvString StringText(UINT id, HMODULE module) {
  if (module == nullptr) module = plat::HostResourceModule();
  NorvString text;
  if (module != nullptr) text = plat::LoadString(id, module);
  if (text.empty()) text = DefaultText(id);
  return text;
}

}  // namespace norvhost
