// Helper of the registry tests, writing into HKEY_LOCAL_MACHINE\Software\Shared
// with each write its own call:
//   registry_test_writer PREFIX COUNT          values PREFIX<n> with the data n
//   registry_test_writer --append PREFIX COUNT "PREFIX<n>;" added COUNT times
//                                              to the value "Log" by
//                                              read-modify-write
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  using namespace plat;
  bool append = argc == 4 && std::strcmp(argv[1], "--append") == 0;
  if (argc != 3 && !append) return 2;
  std::string prefix = argv[append ? 2 : 1];
  unsigned long count = std::stoul(argv[append ? 3 : 2]);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "create failed: %d\n", static_cast<int>(rc));
    return 1;
  }
  for (DWORD i = 0; i < count; ++i) {
    std::string name = prefix + std::to_string(i);
    if (append) {
      rc = RegUpdateValue(key, "Log", [&](std::optional<RegValue>* value) -> LONG {
        if (!*value) value->emplace().type = REG_BINARY;
        std::string entry = name + ";";
        (*value)->data.insert((*value)->data.end(), entry.begin(), entry.end());
        return ERROR_SUCCESS;
      });
    } else {
      rc = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
    }
    if (rc != ERROR_SUCCESS) {
      std::fprintf(stderr, "write %s failed: %d\n", name.c_str(), static_cast<int>(rc));
      return 1;
    }
  }
  RegCloseKey(key);
  return 0;
}
