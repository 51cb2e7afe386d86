// Helper of the registry tests: writes COUNT values named PREFIX<n> with the
// data n into HKEY_LOCAL_MACHINE\Software\Shared, each write its own call.
#include <cstdio>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  using namespace plat;
  if (argc != 3) return 2;
  std::string prefix = argv[1];
  unsigned long count = std::stoul(argv[2]);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "create failed: %d\n", static_cast<int>(rc));
    return 1;
  }
  for (DWORD i = 0; i < count; ++i) {
    std::string name = prefix + std::to_string(i);
    rc = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
    if (rc != ERROR_SUCCESS) {
      std::fprintf(stderr, "write %s failed: %d\n", name.c_str(), static_cast<int>(rc));
      return 1;
    }
  }
  RegCloseKey(key);
  return 0;
}
