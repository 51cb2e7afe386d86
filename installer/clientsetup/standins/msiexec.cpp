// "msiexec.exe": the stand-in of the system's installer service for what the
// client setup asks of it, the removal of the old open-file agent:
//   msiexec.exe /qn /x {product code}|"package.msi" REMOVE=ALL ...
// It removes the agent's files unless their shared-library counter
// (HKEY_LOCAL_MACHINE "...\SharedDLLs") says another product still uses
// them, in which case it only counts them down, as the installer service
// does. Exit codes as the installer service's: 0, 1605 (unknown product),
// 1619 (package not found), 1639 (bad command line).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/winpath.h"

namespace {

constexpr const char* kProductCode = "{6D1F0A42-7C3B-4E95-A0D8-3B52E91C7F06}";
constexpr const char* kOfaKey = "SOFTWARE\\Velmora\\Orbaux\\CurrentVersion";
constexpr const char* kSharedDlls = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string ReadText(const char* keyName, const char* name) {
  std::string value;
  return plat::RegReadTextA(plat::HKEY_LOCAL_MACHINE, keyName, name, 261, &value) ? value : "";
}

// Removes a file of the product, or counts down its shared use.
void RemoveShared(const std::string& windowsPath) {
  if (windowsPath.empty()) return;
  plat::HKEY key = nullptr;
  plat::DWORD count = 0;
  bool counted = false;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, kSharedDlls, 0, plat::KEY_ALL_ACCESS, &key) ==
      plat::ERROR_SUCCESS) {
    plat::DWORD type = 0, size = sizeof count;
    counted = plat::RegQueryValueExA(key, windowsPath.c_str(), nullptr, &type,
                                     reinterpret_cast<plat::BYTE*>(&count), &size) ==
                  plat::ERROR_SUCCESS &&
              type == plat::REG_DWORD;
  }
  if (counted && count > 1) {
    --count;
    plat::RegSetValueExA(key, windowsPath.c_str(), 0, plat::REG_DWORD,
                         reinterpret_cast<const plat::BYTE*>(&count), sizeof count);
    std::printf("msiexec: %s still in use (%u)\n", windowsPath.c_str(), count);
  } else {
    if (counted) plat::RegDeleteValueA(key, windowsPath.c_str());
    std::string path = plat::WindowsPathToLinux(windowsPath);
    std::printf("msiexec: remove %s\n", path.c_str());
    unlink(path.c_str());
  }
  if (key) plat::RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
  std::string product;
  bool remove = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "/x") == 0 && i + 1 < argc) {
      remove = true;
      product = argv[++i];
    }
  }
  if (!remove || product.empty()) return 1639;
  if (product.front() == '{') {
    if (product != kProductCode) return 1605;
  } else {
    struct stat st {};
    if (stat(plat::WindowsPathToLinux(product).c_str(), &st) != 0) return 1619;
  }
  std::string servicePath = ReadText(kOfaKey, "ServicePath");
  const char* windir = std::getenv("windir");
  RemoveShared(servicePath);
  RemoveShared(std::string(windir && *windir ? windir : "C:\\Windows") +
               "\\system32\\drivers\\OFANT.sys");
  return 0;
}
