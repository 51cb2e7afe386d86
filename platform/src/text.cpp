#include "platform/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <wctype.h>
#include <vector>

namespace plat {
namespace {

// Decodes one code point from UTF-8; malformed bytes become U+FFFD.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = (c >= 0xF0 && c < 0xF8) ? 3 : (c >= 0xE0) ? 2 : (c >= 0xC2 && c < 0xE0) ? 1 : -1;
  if (extra < 0) return 0xFFFD;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void EncodeUtf16(char32_t cp, std::u16string& out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

template <typename Sink>
void DecodeUtf16(std::u16string_view s, Sink sink) {
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    sink(c);
  }
}

// Upper-casing must not depend on the process's locale: names compare the
// same whatever LC_CTYPE the host set, so use the C.UTF-8 tables explicitly.
char32_t Upper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8) return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8));
  return static_cast<char32_t>(std::towupper(static_cast<wint_t>(c)));
}

// Rewrites a format written for Windows' wide printf, where %s and %c take
// wide arguments, into the C library's form (%ls, %lc); %S and %C, which
// take narrow arguments there, become %s and %c.
std::wstring WindowsWideFormat(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p; ++p) {
    out += *p;
    if (*p != L'%') continue;
    ++p;
    if (*p == L'%') { out += L'%'; continue; }
    bool hasLength = false;
    while (*p && std::wcschr(L"-+ #0123456789.*hlLqjzt", *p)) {
      if (std::wcschr(L"hlLqjzt", *p)) hasLength = true;
      out += *p++;
    }
    if (!*p) break;
    if ((*p == L's' || *p == L'c') && !hasLength) out += L'l';
    if (*p == L'S') { out += L's'; continue; }
    if (*p == L'C') { out += L'c'; continue; }
    out += *p;
  }
  return out;
}

}  // namespace

std::string ToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t w : wide) EncodeUtf8(static_cast<char32_t>(w) > 0x10FFFF ? 0xFFFD : static_cast<char32_t>(w), out);
  return out;
}

std::wstring FromUtf8(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out += static_cast<wchar_t>(DecodeUtf8(utf8, i));
  return out;
}

std::u16string ToUtf16(std::wstring_view wide) {
  std::u16string out;
  out.reserve(wide.size());
  for (wchar_t w : wide) EncodeUtf16(static_cast<char32_t>(w) > 0x10FFFF ? 0xFFFD : static_cast<char32_t>(w), out);
  return out;
}

std::wstring FromUtf16(std::u16string_view utf16) {
  std::wstring out;
  out.reserve(utf16.size());
  DecodeUtf16(utf16, [&](char32_t c) { out += static_cast<wchar_t>(c); });
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) EncodeUtf16(DecodeUtf8(utf8, i), out);
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  DecodeUtf16(utf16, [&](char32_t c) { EncodeUtf8(c, out); });
  return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char32_t ca = Upper(static_cast<char32_t>(a[i])), cb = Upper(static_cast<char32_t>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca = Upper(DecodeUtf8(a, i)), cb = Upper(DecodeUtf8(b, j));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) == 0; }

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) EncodeUtf8(Upper(DecodeUtf8(utf8, i)), out);
  return out;
}

std::string FormatA(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::wstring FormatWV(const wchar_t* format, va_list args) {
  std::wstring fmt = WindowsWideFormat(format);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(buffer.data(), buffer.size(), fmt.c_str(), copy);
    va_end(copy);
    if (n >= 0) return std::wstring(buffer.data(), static_cast<size_t>(n));
    // vswprintf gives no size hint: grow until it fits, with a sane ceiling.
    if (buffer.size() > (1u << 24)) return std::wstring();
    buffer.resize(buffer.size() * 4);
  }
}

std::wstring FormatW(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring out = FormatWV(format, args);
  va_end(args);
  return out;
}

}  // namespace plat
