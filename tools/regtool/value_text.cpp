#include "value_text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace regtool {
namespace {

using plat::BYTE;
using plat::DWORD;

constexpr DWORD kDwordBigEndian = 5, kLink = 6, kResourceList = 8, kFullResourceDescriptor = 9,
                kResourceRequirementsList = 10;

const struct {
  DWORD type;
  const char* name;
} kTypes[] = {
    {plat::REG_NONE, "REG_NONE"},
    {plat::REG_SZ, "REG_SZ"},
    {plat::REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {plat::REG_BINARY, "REG_BINARY"},
    {plat::REG_DWORD, "REG_DWORD"},
    {kDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {kLink, "REG_LINK"},
    {plat::REG_MULTI_SZ, "REG_MULTI_SZ"},
    {kResourceList, "REG_RESOURCE_LIST"},
    {kFullResourceDescriptor, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {kResourceRequirementsList, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {plat::REG_QWORD, "REG_QWORD"},
};

std::u16string Units(const std::vector<BYTE>& data) {
  std::u16string units;
  for (size_t i = 0; i + 1 < data.size(); i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return units;
}

void AppendUtf16(std::vector<BYTE>* out, std::string_view utf8) {
  for (char16_t c : plat::Utf8ToUtf16(utf8)) {
    out->push_back(static_cast<BYTE>(c & 0xFF));
    out->push_back(static_cast<BYTE>(c >> 8));
  }
  out->insert(out->end(), {0, 0});
}

std::string Hex(const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (BYTE b : data) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

// Decimal, or hexadecimal with 0x; no sign, no trailing text.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno || *end || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

std::string TypeName(DWORD type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return plat::FormatA("REG_0x%X", type);
}

std::optional<DWORD> ParseTypeName(const std::string& name) {
  for (const auto& t : kTypes)
    if (plat::EqualsNoCase(name, t.name)) return t.type;
  std::uint64_t v = 0;
  std::string number = name;
  if (plat::EqualsNoCase(name.substr(0, 4), "REG_")) number = name.substr(4);
  if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X') &&
      ParseNumber(number, 0xFFFFFFFFu, &v))
    return static_cast<DWORD>(v);
  return std::nullopt;
}

std::string DisplayData(const plat::RegValue& value) {
  const std::vector<BYTE>& d = value.data;
  switch (value.type) {
    case plat::REG_SZ:
    case plat::REG_EXPAND_SZ: {
      std::u16string units = Units(d);
      return plat::Utf16ToUtf8(units.substr(0, units.find(u'\0')));
    }
    case plat::REG_MULTI_SZ: {
      std::u16string units = Units(d);
      while (!units.empty() && units.back() == 0) units.pop_back();
      std::string out;
      size_t start = 0;
      for (;;) {
        size_t zero = units.find(u'\0', start);
        out += plat::Utf16ToUtf8(units.substr(start, zero == std::u16string::npos ? zero : zero - start));
        if (zero == std::u16string::npos) break;
        out += "\\0";
        start = zero + 1;
      }
      return out;
    }
    case plat::REG_DWORD:
      if (d.size() == 4)
        return plat::FormatA("0x%x", d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<DWORD>(d[3]) << 24));
      break;
    case kDwordBigEndian:
      if (d.size() == 4)
        return plat::FormatA("0x%x", d[3] | (d[2] << 8) | (d[1] << 16) | (static_cast<DWORD>(d[0]) << 24));
      break;
    case plat::REG_QWORD:
      if (d.size() == 8) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | d[static_cast<size_t>(i)];
        return plat::FormatA("0x%" PRIx64, v);
      }
      break;
    default:
      break;
  }
  return Hex(d);
}

bool ParseData(DWORD type, const std::string& text, const std::string& separator, std::vector<BYTE>* data,
               std::string* error) {
  data->clear();
  switch (type) {
    case plat::REG_SZ:
    case plat::REG_EXPAND_SZ:
      AppendUtf16(data, text);
      return true;
    case plat::REG_MULTI_SZ: {
      if (!text.empty()) {
        size_t start = 0;
        for (;;) {
          size_t at = text.find(separator, start);
          std::string item = text.substr(start, at == std::string::npos ? at : at - start);
          if (item.empty()) {
            *error = "REG_MULTI_SZ items cannot be empty";
            return false;
          }
          AppendUtf16(data, item);
          if (at == std::string::npos) break;
          start = at + separator.size();
        }
      }
      data->insert(data->end(), {0, 0});
      return true;
    }
    case plat::REG_DWORD:
    case kDwordBigEndian: {
      std::uint64_t v = 0;
      if (!ParseNumber(text, 0xFFFFFFFFu, &v)) {
        *error = "\"" + text + "\" is not a 32-bit number (decimal, or hexadecimal with 0x)";
        return false;
      }
      for (int i = 0; i < 4; ++i) data->push_back(static_cast<BYTE>(v >> (8 * i)));
      if (type == kDwordBigEndian) std::swap((*data)[0], (*data)[3]), std::swap((*data)[1], (*data)[2]);
      return true;
    }
    case plat::REG_QWORD: {
      std::uint64_t v = 0;
      if (!ParseNumber(text, UINT64_MAX, &v)) {
        *error = "\"" + text + "\" is not a 64-bit number (decimal, or hexadecimal with 0x)";
        return false;
      }
      for (int i = 0; i < 8; ++i) data->push_back(static_cast<BYTE>(v >> (8 * i)));
      return true;
    }
    default: {
      // Every other type takes its bytes as hexadecimal digits.
      if (text.size() % 2) {
        *error = "binary data need an even number of hexadecimal digits";
        return false;
      }
      for (size_t i = 0; i < text.size(); i += 2) {
        auto digit = [](char c) {
          return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) {
          *error = "\"" + text + "\" is not hexadecimal data";
          return false;
        }
        data->push_back(static_cast<BYTE>(hi * 16 + lo));
      }
      return true;
    }
  }
}

}  // namespace regtool
