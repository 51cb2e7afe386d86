// Key combinations of accelerator tables, written like "Ctrl+Shift+F5".
#pragma once
#include <cstdint>
#include <string>

namespace norvrc {

// Modifier bits stored in accelerator entries.
constexpr std::uint32_t kShift = 1, kCtrl = 2, kAlt = 4, kMeta = 8;

// Splits a combination into modifier bits and a key code (Qt::Key numbering:
// letters and digits as upper-case ASCII, named keys from 0x01000000 on).
// Names compare without regard to case. False for an unknown key.
bool ParseKeyCombination(const std::string& text, std::uint32_t* modifiers, std::uint32_t* key);

}  // namespace norvrc
