// NorvRegExp: the small regular-expression matcher behind the list's
// "regular expression" column filters. A recursive-descent compiler emits a
// node program of 16-bit units in two passes (size, then emit); a
// backtracking interpreter walks it. Syntax: | * + ? ( ) ^ $ . [ ] [^ ] \c,
// nothing more; matching is exact and case-sensitive over UTF-16 units.
//
// One object is one compiled pattern: compile once per filter, match many
// cells. The object is not shared between threads.
#pragma once
#include <memory>
#include <string>
#include <string_view>

// Wide text as UTF-16 units, the matcher's unit: characters above 0xFFFF
// become surrogate pairs, values beyond Unicode U+FFFD.
std::u16string NorvToUtf16Units(std::wstring_view text);

class NorvRegExp {
 public:
  // Compiles `pattern`. IsValid tells whether it compiled; Error gives the
  // compiler's message ("unmatched ()", "nested *?+", ...) when it did not.
  explicit NorvRegExp(std::u16string_view pattern);
  explicit NorvRegExp(std::wstring_view pattern);
  ~NorvRegExp();
  NorvRegExp(NorvRegExp&&) noexcept;
  NorvRegExp& operator=(NorvRegExp&&) noexcept;

  bool IsValid() const;
  const std::string& Error() const;
  const std::u16string& Pattern() const;

  // TRUE when the expression matches somewhere in `text` from `start` on
  // (a pattern that did not compile matches nothing). After a match
  // GroupStart/GroupEnd give group n's bounds (0 = whole match; -1 unset).
  bool Match(std::u16string_view text, size_t start = 0);
  bool Match(std::wstring_view text, size_t start = 0);
  int GroupStart(int n) const;
  int GroupEnd(int n) const;

  // Bounds the work of one Match call to `steps` nodes walked (0, the
  // default, is no bound). A call that reaches the bound reports no match
  // and Error() says so. For callers that cannot wait, such as fuzzing:
  // backtracking over nested alternatives can take exponential time.
  void SetStepLimit(unsigned long long steps);

 private:
  struct Program;
  std::unique_ptr<Program> m_program;
  std::u16string m_pattern;
  std::string m_error;
};
