#include "norv/NorvHostResources.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

BOOL NorvLoadHostResources(const NorvString& locale) {
  const std::string folder = plat::FolderOf(plat::ModulePath());
  std::string language = plat::ToUtf8(locale.substr(0, 3));
  std::transform(language.begin(), language.end(), language.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string& name : {language, std::string("enu")}) {
    if (name.empty()) continue;
    HMODULE module = plat::LoadResourceModule(folder + "libnorvhost_" + name + ".so");
    if (module != nullptr) {
      plat::SetHostResourceModule(module);
      return TRUE;
    }
  }
  return FALSE;
}
