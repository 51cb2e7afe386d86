// Compiles the first part of the input as a pattern and matches it against
// the rest. Byte 0 picks the form: bit 7 reads the input as 16-bit units
// (so that surrogates and wide characters occur), the low six bits give the
// pattern's length. For small valid patterns whether a match exists must
// agree with std::regex (ECMAScript) on the same pattern translated: both
// search exhaustively, so they differ only where one of them is wrong.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "NorvRegExp.h"

namespace {

std::wstring Unit(unsigned c) {
  wchar_t buffer[8];
  std::swprintf(buffer, 8, L"\\u%04X", c);
  return buffer;
}

// The pattern in ECMAScript: every literal as \uXXXX, the set spelled out.
std::wstring ToEcmaScript(const std::u16string& p) {
  std::wstring out;
  for (size_t i = 0; i < p.size(); ++i) {
    const char16_t c = p[i];
    if (c == u'\\') {
      out += Unit(p[++i]);
    } else if (c == u'.') {
      out += L"[\\s\\S]";
    } else if (c == u'[') {
      ++i;
      out += L"[";
      if (p[i] == u'^') out += L"^", ++i;
      if (p[i] == u']' || p[i] == u'-') out += Unit(p[i++]);
      for (; p[i] != u']'; ++i) {
        if (p[i] == u'-') {
          ++i;
          if (p[i] == u']') {
            out += Unit(u'-');
            --i;
          } else if (p[i - 2] < p[i]) {
            out += Unit(p[i - 2] + 1) + L"-" + Unit(p[i]);
          }
        } else {
          out += Unit(p[i]);
        }
      }
      out += L"]";
    } else if (std::u16string_view(u"^$()|*+?").find(c) != std::u16string_view::npos) {
      out += static_cast<wchar_t>(c);
    } else {
      out += Unit(c);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool wide = data[0] & 0x80;
  const size_t patternLength = data[0] & 0x3F;
  std::u16string units;
  for (size_t i = 1; i < size;) {
    if (wide) {
      if (i + 1 >= size) break;
      units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
      i += 2;
    } else {
      units.push_back(static_cast<char16_t>(data[i++]));
    }
  }
  if (units.size() < patternLength || units.size() - patternLength > 512) return 0;
  const std::u16string pattern = units.substr(0, patternLength);
  const std::u16string text = units.substr(patternLength);

  NorvRegExp re{std::u16string_view(pattern)};
  if (!re.IsValid()) {
    if (re.Error().empty()) std::abort();
    return 0;
  }
  re.SetStepLimit(200000);
  const bool found = re.Match(std::u16string_view(text));
  const bool limited = !re.Error().empty();
  size_t effective = text.find(u'\0');
  if (effective == std::u16string::npos) effective = text.size();
  if (found) {
    const int s = re.GroupStart(0), e = re.GroupEnd(0);
    if (s < 0 || s > e || static_cast<size_t>(e) > effective) std::abort();
    for (int n = 1; n < 10; ++n)
      if (re.GroupEnd(n) > static_cast<int>(effective)) std::abort();
  }

  // The same through wide text, as the list passes its cells.
  std::wstring wideText;
  bool plain = true;
  for (char16_t c : text) {
    if (c >= 0xD800 && c < 0xE000) plain = false;
    wideText.push_back(static_cast<wchar_t>(c));
  }
  if (plain && !limited && re.Match(std::wstring_view(wideText)) != found) std::abort();

  // Against std::regex, where it is cheap and both read the text alike.
  std::wstring widePattern(pattern.begin(), pattern.end());
  if (!plain || limited || pattern.size() > 20 || effective > 24 ||
      pattern.find(u'\0') != std::u16string::npos || widePattern.find_first_of(L"\x2028\x2029") != std::wstring::npos)
    return 0;
  for (char16_t c : pattern)
    if (c >= 0xD800 && c < 0xE000) return 0;
  try {
    const std::wregex reference(ToEcmaScript(pattern), std::regex::ECMAScript);
    const std::wstring cell = wideText.substr(0, effective);
    if (std::regex_search(cell, reference) != found) {
      std::fprintf(stderr, "std::regex disagrees: %ls\n", ToEcmaScript(pattern).c_str());
      std::abort();
    }
  } catch (const std::regex_error&) {
    // A form ECMAScript refuses (a quantified anchor) or a search too deep.
  }
  return 0;
}
