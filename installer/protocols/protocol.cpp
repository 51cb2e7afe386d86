// A protocol library of the backup product ("qvfolder.dll", "qvmodem.dll",
// "qvmailpr.dll"): its settings import writes the protocol's entries of the
// configuration database ("Protocols" / <protocol> / <key> = text) into its
// settings file in the application directory's "admin" folder, section
// <protocol>, one key per entry.
//
// The library is loaded by the server's settings import while the core
// library is loaded in the same process; it uses that instance (the database
// handle it is given belongs to it) and never loads one of its own.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "platform/profile.h"
#include "qv/qvcore.h"

#ifndef PROTOCOL_NAME
#error "PROTOCOL_NAME and PROTOCOL_FILE name the protocol and its settings file"
#endif

namespace {

bool Writable(const std::string& text) {
  return text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void qvProtocolImportSettings(int db) {
  void* core = dlopen("qvcore32.dll", RTLD_NOW | RTLD_NOLOAD);
  if (!core) return;
  auto find = reinterpret_cast<decltype(&qvDBFindChildIDByName)>(dlsym(core, "qvDBFindChildIDByName"));
  auto first = reinterpret_cast<decltype(&qvDBGetFirstID)>(dlsym(core, "qvDBGetFirstID"));
  auto next = reinterpret_cast<decltype(&qvDBGetNextID)>(dlsym(core, "qvDBGetNextID"));
  auto readName = reinterpret_cast<decltype(&qvDBReadName)>(dlsym(core, "qvDBReadName"));
  auto read = reinterpret_cast<decltype(&qvDBRead)>(dlsym(core, "qvDBRead"));
  auto closeEntry = reinterpret_cast<decltype(&qvDBClose)>(dlsym(core, "qvDBClose"));
  auto appPath = reinterpret_cast<decltype(&qvGetAppPath)>(dlsym(core, "qvGetAppPath"));
  char app[QV_MAX_PATH] = {};
  if (find && first && next && readName && read && closeEntry && appPath &&
      appPath(app, sizeof app) > 0) {
    int protocols = find(db, 0, "Protocols", 0);
    int own = protocols > 0 ? find(db, protocols, PROTOCOL_NAME, 0) : 0;
    if (own > 0) {
      std::string section;
      for (int id = first(db, own); id > 0; id = next(db, own, id)) {
        char name[QV_MAX_PATH] = {}, value[QV_MAX_PATH] = {};
        if (readName(db, id, name, sizeof name) <= 0) continue;
        int n = read(db, id, value, sizeof value - 1);
        closeEntry(db, id);
        std::string key = name, text(value, n > 0 ? static_cast<std::size_t>(n) : 0);
        text = text.c_str();  // a stored terminator ends the text
        if (!plat::ProfileDocument::IsValidKey(key) || !Writable(text)) continue;
        section += key + "=" + text;
        section += '\0';
      }
      section += '\0';
      std::string file = std::string(app) + "/admin/" PROTOCOL_FILE;
      plat::WritePrivateProfileSectionA(PROTOCOL_NAME, section.c_str(), file.c_str());
    }
  }
  dlclose(core);
}
