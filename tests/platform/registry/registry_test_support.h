// Shared helpers of the registry tests: a private registry folder per test
// and conversions between text and the bytes the registry stores.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace regtest {

// Points NORV_REGISTRY_DIR at a fresh folder for the duration of a test.
class RegistryFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "norv-registry-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("NORV_REGISTRY_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NORV_REGISTRY_DIR");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
};

inline std::vector<plat::BYTE> Utf16Bytes(std::u16string_view text, bool terminate = true) {
  std::vector<plat::BYTE> out;
  for (char16_t c : text) {
    out.push_back(static_cast<plat::BYTE>(c & 0xFF));
    out.push_back(static_cast<plat::BYTE>(c >> 8));
  }
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

inline std::vector<plat::BYTE> Bytes(std::string_view text) {
  return std::vector<plat::BYTE>(text.begin(), text.end());
}

}  // namespace regtest
