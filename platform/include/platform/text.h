// Conversions between the text forms the system meets: UTF-8 (Linux file
// names, the installer's 8-bit text), wide text (wchar_t, the framework's
// text) and UTF-16 (what Windows stores in the registry and in archives).
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>

namespace plat {

std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);
std::u16string ToUtf16(std::wstring_view wide);
std::wstring FromUtf16(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Case-insensitive comparison the way Windows compares registry and profile
// names: simple per-character upper-casing, not locale collation.
int CompareNoCase(std::wstring_view a, std::wstring_view b);
int CompareNoCase(std::string_view a, std::string_view b);  // UTF-8 input
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string FoldCase(std::string_view utf8);  // the key used to compare names

// Formats printf-style into a string (the buffer grows as needed).
std::string FormatA(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Wide formats follow the Windows convention: %s and %c take wide text,
// %S and %C narrow text.
std::wstring FormatW(const wchar_t* format, ...);
std::wstring FormatWV(const wchar_t* format, va_list args);

}  // namespace plat
