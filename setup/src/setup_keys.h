// Registry access for the setup library and the installer: an owner type for
// key handles and the few whole-value operations they need, all 8-bit
// (UTF-8) text over the Win32-shaped registry.
#pragma once
#include <string>
#include <vector>

#include "platform/registry.h"

namespace norvsetup {

// Keys of the framework, as the plugin handler reads them.
inline constexpr char kFrameworkKey[] = "Software\\Velmora\\NORV2.1";
inline constexpr char kPreviousKey[] = "Software\\Velmora\\NORV2.0";
inline constexpr char kUnicodeSuffix[] = " Unicode";
inline constexpr char kPluginsSubkey[] = "\\Plugins";

// Longest text that fits a path buffer with its terminating zero.
inline constexpr size_t kMaxText = 259;

// An open key, closed with its owner.
class Key {
 public:
  Key() = default;
  Key(plat::HKEY root, const std::string& path, plat::DWORD access);
  ~Key();
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

  // Opens or creates the key; false on failure.
  static bool Create(plat::HKEY root, const std::string& path, Key* key,
                     bool* created = nullptr);

  bool IsOpen() const { return handle_ != nullptr; }
  plat::HKEY Get() const { return handle_; }

  // A string value (REG_SZ or REG_EXPAND_SZ); false when it is missing, of
  // another type, or longer than `maxLength` bytes.
  bool ReadString(const std::string& name, std::string* value, size_t maxLength = kMaxText) const;
  bool WriteString(const std::string& name, const std::string& value) const;
  bool WriteNumber(const std::string& name, plat::DWORD value) const;
  std::vector<std::string> SubKeys() const;

 private:
  plat::HKEY handle_ = nullptr;
};

bool KeyExists(plat::HKEY root, const std::string& path);
// Deletes a key with everything below it; true when it is gone.
bool DeleteTree(plat::HKEY root, const std::string& path);

}  // namespace norvsetup
