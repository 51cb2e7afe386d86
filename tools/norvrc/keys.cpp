#include "keys.h"

#include <cctype>
#include <cstdlib>

namespace norvrc {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct NamedKey {
  const char* name;
  std::uint32_t code;
};

// Qt::Key values, so that the framework can build key sequences directly.
constexpr NamedKey kKeys[] = {
    {"ESC", 0x01000000},       {"ESCAPE", 0x01000000},   {"TAB", 0x01000001},
    {"BACKSPACE", 0x01000003}, {"RETURN", 0x01000004},   {"ENTER", 0x01000005},
    {"INS", 0x01000006},       {"INSERT", 0x01000006},   {"DEL", 0x01000007},
    {"DELETE", 0x01000007},    {"PAUSE", 0x01000008},    {"PRINT", 0x01000009},
    {"HOME", 0x01000010},      {"END", 0x01000011},      {"LEFT", 0x01000012},
    {"UP", 0x01000013},        {"RIGHT", 0x01000014},    {"DOWN", 0x01000015},
    {"PGUP", 0x01000016},      {"PAGEUP", 0x01000016},   {"PGDOWN", 0x01000017},
    {"PAGEDOWN", 0x01000017},  {"SPACE", 0x20},          {"PLUS", '+'},
    {"MINUS", '-'},
};

bool KeyCode(const std::string& name, std::uint32_t* key) {
  if (name.size() == 1 && std::isgraph(static_cast<unsigned char>(name[0]))) {
    *key = static_cast<unsigned char>(name[0]);  // already upper case
    return true;
  }
  if (name.size() >= 2 && name.size() <= 3 && name[0] == 'F' &&
      std::isdigit(static_cast<unsigned char>(name[1])) &&
      (name.size() == 2 || std::isdigit(static_cast<unsigned char>(name[2])))) {
    int n = std::atoi(name.c_str() + 1);
    if (n < 1 || n > 24) return false;
    *key = 0x01000030 + static_cast<std::uint32_t>(n - 1);
    return true;
  }
  for (const NamedKey& k : kKeys) {
    if (name == k.name) {
      *key = k.code;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseKeyCombination(const std::string& text, std::uint32_t* modifiers, std::uint32_t* key) {
  std::string rest = Upper(text);
  *modifiers = 0;
  for (;;) {
    std::size_t plus = rest.find('+');
    // A lone "+" at the end is the key itself ("Ctrl++").
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    std::string part = rest.substr(0, plus);
    if (part == "CTRL" || part == "CONTROL") {
      *modifiers |= kCtrl;
    } else if (part == "SHIFT") {
      *modifiers |= kShift;
    } else if (part == "ALT") {
      *modifiers |= kAlt;
    } else if (part == "META") {
      *modifiers |= kMeta;
    } else {
      return false;
    }
    rest = rest.substr(plus + 1);
  }
  return KeyCode(rest, key);
}

}  // namespace norvrc
