// Temporary stand-in so that callers link; the matcher itself follows.
#include "NorvRegExp.h"

#include <regex>

struct NorvRegExp::Program {
  std::wregex re;
};

namespace {
std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
}  // namespace

NorvRegExp::NorvRegExp(std::u16string_view pattern) : m_pattern(pattern) {
  try {
    m_program = std::make_unique<Program>(Program{std::wregex(Wide(pattern), std::regex::extended)});
  } catch (const std::regex_error&) {
    m_error = "unmatched ()";
  }
}
NorvRegExp::NorvRegExp(std::wstring_view pattern)
    : NorvRegExp(std::u16string(pattern.begin(), pattern.end())) {}
NorvRegExp::~NorvRegExp() = default;
NorvRegExp::NorvRegExp(NorvRegExp&&) noexcept = default;
NorvRegExp& NorvRegExp::operator=(NorvRegExp&&) noexcept = default;
bool NorvRegExp::IsValid() const { return m_program != nullptr; }
const std::string& NorvRegExp::Error() const { return m_error; }
const std::u16string& NorvRegExp::Pattern() const { return m_pattern; }
bool NorvRegExp::Match(std::u16string_view text, size_t start) {
  return Match(std::wstring_view(Wide(text)), start);
}
bool NorvRegExp::Match(std::wstring_view text, size_t start) {
  if (!m_program || start > text.size()) return false;
  return std::regex_search(text.begin() + start, text.end(), m_program->re);
}
int NorvRegExp::GroupStart(int) const { return -1; }
int NorvRegExp::GroupEnd(int) const { return -1; }
