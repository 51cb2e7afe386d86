// The .reg text format both ways: value lines as regedit writes them, and a
// parser that turns a file into a list of operations or names the first
// line it cannot accept.
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/reg_file.h"
#include "platform/text.h"

namespace plat {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
// regedit breaks hex data once a line reaches this many columns, leaving
// room for the ",\" that ends it within 80.
constexpr size_t kHexLineLimit = 77;
constexpr size_t kMaxKeyNameChars = 255;

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

size_t Columns(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// The text of REG_SZ data when it can be written as a quoted string and
// read back to the same bytes: whole UTF-16 units, one terminating zero at
// the end and none before it, no unpaired surrogates.
bool StringForm(const std::vector<BYTE>& data, std::string* text) {
  if (data.size() < 2 || data.size() % 2) return false;
  std::u16string units;
  for (size_t i = 0; i + 1 < data.size(); i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  if (units.back() != 0) return false;
  units.pop_back();
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t c = units[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  *text = Utf16ToUtf8(units);
  return true;
}

std::vector<BYTE> Utf16LeTerminated(std::string_view utf8) {
  std::u16string units = Utf8ToUtf16(utf8);
  std::vector<BYTE> out;
  out.reserve(units.size() * 2 + 2);
  for (char16_t c : units) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.insert(out.end(), {0, 0});
  return out;
}

// Checks UTF-8 strictly; on failure *bad is the offset of the first bad byte.
bool ValidUtf8(std::string_view s, size_t* bad) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      *bad = i;
      return false;
    }
    if (s.size() - i <= extra) {
      *bad = i;
      return false;
    }
    char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) {
        *bad = i;
        return false;
      }
      cp = (cp << 6) | (d & 0x3F);
    }
    bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      *bad = i;
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to 8 hex digits as a number.
bool ParseHexNumber(std::string_view s, DWORD* value) {
  if (s.empty() || s.size() > 8) return false;
  DWORD v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  *value = v;
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, std::vector<RegFileOperation>* ops) : ops_(ops) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      lines_.push_back(text.substr(start, end - start));
      if (end == text.size()) break;
      start = end + 1;
    }
  }

  bool Run(std::string* error) {
    if (!Header()) return Fail(error);
    while (next_ < lines_.size()) {
      lineNo_ = static_cast<int>(next_) + 1;
      std::string_view line = Trim(lines_[next_++]);
      if (line.empty() || line[0] == ';') continue;
      bool ok = line[0] == '[' ? KeyLine(line) : (line[0] == '"' || line[0] == '@') ? ValueLine(line)
                                                                                   : Error("unexpected text \"" + Excerpt(line) + "\"");
      if (!ok) return Fail(error);
    }
    return true;
  }

 private:
  bool Fail(std::string* error) {
    if (error) *error = "line " + std::to_string(lineNo_) + ": " + message_;
    ops_->clear();
    return false;
  }
  bool Error(std::string message) {
    message_ = std::move(message);
    return false;
  }
  static std::string Excerpt(std::string_view s) {
    return s.size() > 40 ? std::string(s.substr(0, 40)) + "..." : std::string(s);
  }

  bool Header() {
    while (next_ < lines_.size()) {
      lineNo_ = static_cast<int>(next_) + 1;
      std::string_view line = Trim(lines_[next_++]);
      if (line.empty()) continue;
      if (line == kHeader) return true;
      if (line == "REGEDIT4")
        return Error("REGEDIT4 files are not supported; expected \"" + std::string(kHeader) + "\"");
      return Error("expected \"" + std::string(kHeader) + "\"");
    }
    lineNo_ = 1;
    return Error("empty file; expected \"" + std::string(kHeader) + "\"");
  }

  bool KeyLine(std::string_view line) {
    if (line.back() != ']') return Error("a key line must end with \"]\"");
    std::string_view path = line.substr(1, line.size() - 2);
    bool remove = !path.empty() && path[0] == '-';
    if (remove) path.remove_prefix(1);
    HKEY root = nullptr;
    std::string sub;
    if (!SplitRegistryPath(path, &root, &sub))
      return Error("unknown root key in \"" + Excerpt(path) + "\" (use HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS)");
    std::string full = RegistryRootName(root);
    if (!sub.empty()) {
      size_t start = 0;
      for (;;) {
        size_t end = sub.find('\\', start);
        std::string_view name = std::string_view(sub).substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty()) return Error("empty key name in \"" + Excerpt(path) + "\"");
        if (Utf8ToUtf16(name).size() > kMaxKeyNameChars) return Error("key name longer than 255 characters");
        if (end == std::string::npos) break;
        start = end + 1;
      }
      full += "\\" + sub;
    }
    RegFileOperation op;
    op.kind = remove ? RegFileOperation::Kind::kDeleteKey : RegFileOperation::Kind::kCreateKey;
    op.key = full;
    op.line = lineNo_;
    ops_->push_back(std::move(op));
    currentKey_ = remove ? std::string() : full;
    return true;
  }

  // A quoted string starting at s[*pos] == '"'; moves *pos past the closing quote.
  bool QuotedString(std::string_view s, size_t* pos, std::string* out) {
    out->clear();
    for (size_t i = *pos + 1; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c == '\\') {
        if (++i >= s.size()) break;
        switch (s[i]) {
          case '\\': *out += '\\'; break;
          case '"': *out += '"'; break;
          case 'n': *out += '\n'; break;
          case 'r': *out += '\r'; break;
          default: return Error(std::string("unknown escape \"\\") + s[i] + "\" in a quoted string");
        }
        continue;
      }
      *out += c;
    }
    return Error("a quoted string is not closed");
  }

  bool ValueLine(std::string_view line) {
    if (currentKey_.empty()) return Error("a value line outside a key section");
    RegFileOperation op;
    op.key = currentKey_;
    op.line = lineNo_;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!QuotedString(line, &pos, &op.value.name)) {
      return false;
    }
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return Error("expected \"=\" after the value name");
    ++pos;
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    std::string_view data = line.substr(pos);
    if (data == "-") {
      op.kind = RegFileOperation::Kind::kDeleteValue;
    } else if (!data.empty() && data[0] == '"') {
      std::string text;
      size_t end = 0;
      if (!QuotedString(data, &end, &text)) return false;
      if (!Trim(data.substr(end)).empty()) return Error("unexpected text after the closing quote");
      op.kind = RegFileOperation::Kind::kSetValue;
      op.value.type = REG_SZ;
      op.value.data = Utf16LeTerminated(text);
    } else if (StartsWithNoCase(data, "dword:")) {
      DWORD v = 0;
      if (!ParseHexNumber(data.substr(6), &v)) return Error("dword: needs 1 to 8 hexadecimal digits");
      op.kind = RegFileOperation::Kind::kSetValue;
      op.value.type = REG_DWORD;
      op.value.data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                       static_cast<BYTE>(v >> 24)};
    } else if (StartsWithNoCase(data, "hex")) {
      if (!HexValue(data.substr(3), &op.value)) return false;
      op.kind = RegFileOperation::Kind::kSetValue;
    } else {
      return Error("unrecognised value data \"" + Excerpt(data) + "\"");
    }
    ops_->push_back(std::move(op));
    return true;
  }

  // After "hex": an optional "(type)", a colon and comma-separated bytes,
  // possibly continued over following lines with a trailing backslash.
  bool HexValue(std::string_view s, RegValue* value) {
    value->type = REG_BINARY;
    if (!s.empty() && s[0] == '(') {
      size_t close = s.find(')');
      if (close == std::string_view::npos || !ParseHexNumber(s.substr(1, close - 1), &value->type))
        return Error("hex(type) needs a type of 1 to 8 hexadecimal digits");
      s.remove_prefix(close + 1);
    }
    if (s.empty() || s[0] != ':') return Error("expected \":\" after hex");
    std::string bytes(Trim(s.substr(1)));
    int firstLine = lineNo_;
    while (!bytes.empty() && bytes.back() == '\\') {
      bytes.pop_back();
      if (next_ >= lines_.size()) {
        lineNo_ = firstLine;
        return Error("hex data continue past the end of the file");
      }
      lineNo_ = static_cast<int>(next_) + 1;
      bytes += Trim(lines_[next_++]);
    }
    value->data.clear();
    std::string_view rest = bytes;
    if (Trim(rest).empty()) return true;
    size_t start = 0;
    for (;;) {
      size_t comma = rest.find(',', start);
      std::string_view item = Trim(rest.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      bool last = comma == std::string_view::npos;
      if (item.empty() && last && !value->data.empty()) break;  // a trailing comma
      if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 || (item.size() == 2 && HexDigit(item[1]) < 0))
        return Error("bad hex byte \"" + Excerpt(item) + "\"");
      value->data.push_back(static_cast<BYTE>(item.size() == 2 ? HexDigit(item[0]) * 16 + HexDigit(item[1])
                                                               : HexDigit(item[0])));
      if (last) break;
      start = comma + 1;
    }
    return true;
  }

  std::vector<std::string_view> lines_;
  std::vector<RegFileOperation>* ops_;
  size_t next_ = 0;
  int lineNo_ = 0;
  std::string message_;
  std::string currentKey_;
};

}  // namespace

std::string FormatRegValue(const RegValue& value) {
  std::string out = value.name.empty() ? std::string("@") : Quote(value.name);
  out += '=';
  std::string text;
  if (value.type == REG_SZ && StringForm(value.data, &text)) return out + Quote(text);
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (static_cast<DWORD>(value.data[3]) << 24);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    return out + buffer;
  }
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    out += buffer;
  }
  size_t column = Columns(out);
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < value.data.size(); ++i) {
    out += digits[value.data[i] >> 4];
    out += digits[value.data[i] & 0xF];
    if (i + 1 == value.data.size()) break;
    out += ',';
    column += 3;
    if (column >= kHexLineLimit) {
      out += "\\\n  ";
      column = 2;
    }
  }
  return out;
}

bool ParseRegFile(std::string_view content, std::vector<RegFileOperation>* operations, std::string* error) {
  operations->clear();
  std::string converted;
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    if (content.size() % 2) {
      if (error) *error = "line 1: a UTF-16 file must have an even number of bytes";
      return false;
    }
    std::u16string units;
    for (size_t i = 2; i + 1 < content.size(); i += 2)
      units += static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                     (static_cast<unsigned char>(content[i + 1]) << 8));
    converted = Utf16ToUtf8(units);
    content = converted;
  } else if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFE &&
             static_cast<unsigned char>(content[1]) == 0xFF) {
    if (error) *error = "line 1: UTF-16 big-endian files are not supported; use UTF-8 or UTF-16LE";
    return false;
  } else if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") {
    content.remove_prefix(3);
  }
  size_t bad = std::string_view::npos;
  ValidUtf8(content, &bad);
  size_t nul = content.find('\0');
  size_t at = std::min(bad, nul);
  if (at != std::string_view::npos) {
    size_t line = 1;
    for (size_t i = 0; i < at; ++i)
      if (content[i] == '\n') ++line;
    if (error) *error = "line " + std::to_string(line) + (at == nul ? ": a NUL character" : ": text that is not UTF-8");
    return false;
  }
  Parser parser(content, operations);
  return parser.Run(error);
}

}  // namespace plat
