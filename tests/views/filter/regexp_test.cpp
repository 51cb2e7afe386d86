// The pattern matcher: each construct, each compile error and the cases
// where its design makes a difference (repetition of one character,
// first-character and must-have shortcuts, groups' last pass).
#include <gtest/gtest.h>

#include <string>

#include "NorvRegExp.h"

namespace {

// Whether `pattern` compiles and matches somewhere in `text`.
bool Finds(const wchar_t* pattern, const wchar_t* text) {
  NorvRegExp re{std::wstring_view(pattern)};
  EXPECT_TRUE(re.IsValid()) << pattern << ": " << re.Error();
  return re.Match(std::wstring_view(text));
}

std::string CompileError(std::wstring_view pattern) {
  NorvRegExp re(pattern);
  EXPECT_FALSE(re.IsValid()) << std::string(pattern.begin(), pattern.end());
  EXPECT_FALSE(re.Match(std::wstring_view(L"anything")));
  return re.Error();
}

struct Case {
  const wchar_t* pattern;
  const wchar_t* text;
  bool match;
};

TEST(RegExp, EachConstructMatchesWhatItShould) {
  const Case cases[] = {
      // Literals, anywhere in the text, case-sensitive.
      {L"b", L"abc", true}, {L"A", L"a", false}, {L"abc", L"xxabcxx", true},
      {L"abd", L"abcabd", true}, {L"", L"", true}, {L"", L"x", true},
      // Anchors: ^ only at the very start, $ only at the end.
      {L"^b", L"ab", false}, {L"^a", L"ab", true}, {L"b$", L"ab", true}, {L"a$", L"ab", false},
      {L"^$", L"", true}, {L"^$", L"x", false}, {L"a^", L"a", false},
      // Any character.
      {L"a.c", L"abc", true}, {L"a.c", L"ac", false}, {L"^.$", L"", false},
      // Repetitions apply to the last character of a run.
      {L"ab*", L"a", true}, {L"^ab*$", L"abbb", true}, {L"^ab*$", L"abab", false},
      {L"^(ab)*$", L"ababab", true}, {L"^(ab)*$", L"ababa", false}, {L"^(ab)*$", L"", true},
      {L"^ab+$", L"a", false}, {L"^ab+$", L"abb", true}, {L"^(ab)+$", L"", false},
      {L"^(ab)+$", L"abab", true}, {L"^ab?c$", L"ac", true}, {L"^ab?c$", L"abbc", false},
      {L"^(ab)?c$", L"abc", true}, {L"^(ab)?c$", L"bc", false},
      {L"^a*a$", L"aaaa", true},       // the star gives back
      {L"^.*b.*c$", L"abxbyc", true}, {L"^[ab]*b$", L"aabab", true},
      {L"^[^x]+y$", L"abcy", true},  {L"^[^x]+y$", L"axy", false},
      // Alternation, groups.
      {L"cat|dog", L"hotdog", true}, {L"^(cat|dog)s$", L"cats", true},
      {L"^(cat|dog)s$", L"cows", false}, {L"^(a|ab)(c|bcd)$", L"abcd", true},
      {L"^(|a)b$", L"b", true}, {L"x|", L"zzz", true},
      // Sets: a leading ] or - is literal, ranges, a trailing - is literal.
      {L"[]a]", L"]", true}, {L"[]a]", L"a", true}, {L"[]a]", L"b", false},
      {L"[a-]", L"-", true}, {L"[-a]", L"-", true}, {L"[^]a]", L"]", false},
      {L"[^]a]", L"b", true}, {L"^[a-c]+$", L"abcba", true}, {L"[a-c]", L"d", false},
      {L"[a-a]", L"a", true}, {L"[a-c-e]", L"d", true}, {L"[^a-z]", L"abc", false},
      {L"[^a]", L"", false}, {L"[.*]", L"*", true}, {L"[.*]", L"x", false},
      // Escapes.
      {L"a\\.c", L"abc", false}, {L"a\\.c", L"a.c", true}, {L"\\(\\)", L"()", true},
      {L"\\\\", L"a\\b", true}, {L"^\\^", L"^", true}, {L"a\\*", L"a*", true},
      // Characters that are plain here.
      {L"a{2}", L"a{2}", true}, {L"\\d", L"d", true}, {L"]", L"]", true},
      {L"-}", L"a-}", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Finds(c.pattern, c.text), c.match) << c.pattern << " in " << c.text;
}

TEST(RegExp, EveryCompileErrorHasItsMessage) {
  EXPECT_EQ(CompileError(L"a**"), "nested *?+");
  EXPECT_EQ(CompileError(L"a*?"), "nested *?+");
  EXPECT_EQ(CompileError(L"(a*)*"), "*+ operand could be empty");
  EXPECT_EQ(CompileError(L"(a?)+"), "*+ operand could be empty");
  EXPECT_EQ(CompileError(L"^*"), "*+ operand could be empty");
  EXPECT_EQ(CompileError(L"()+"), "*+ operand could be empty");
  EXPECT_EQ(CompileError(L"*a"), "?+* follows nothing");
  EXPECT_EQ(CompileError(L"a|+"), "?+* follows nothing");
  EXPECT_EQ(CompileError(L"(?)"), "?+* follows nothing");
  EXPECT_EQ(CompileError(L"ab\\"), "trailing \\");
  EXPECT_EQ(CompileError(L"[z-a]"), "invalid [] range");
  EXPECT_EQ(CompileError(L"[ab"), "unmatched []");
  EXPECT_EQ(CompileError(L"[]"), "unmatched []");
  EXPECT_EQ(CompileError(L"(ab"), "unmatched ()");
  EXPECT_EQ(CompileError(L"ab)"), "unmatched ()");
  EXPECT_EQ(CompileError(L"(1)(2)(3)(4)(5)(6)(7)(8)(9)(10)"), "too many ()");
  EXPECT_EQ(CompileError(std::wstring(32756, L'a')), "regexp too big");
  EXPECT_EQ(CompileError(L"[\u0001-\uffff]"), "regexp too big");
  // What may repeat: a group that can be empty, with a question mark.
  EXPECT_TRUE(NorvRegExp(std::wstring_view(L"(a*)?")).IsValid());
  EXPECT_TRUE(NorvRegExp(std::wstring_view(L"(1)(2)(3)(4)(5)(6)(7)(8)(9)")).IsValid());
  // The magic unit, BRANCH, EXACTLY with its terminator and END: 32766
  // units, the largest program there is.
  EXPECT_TRUE(NorvRegExp(std::wstring(32755, L'a')).IsValid());
}

TEST(RegExp, GroupsHoldTheirLastPass) {
  NorvRegExp re{std::wstring_view(L"x(a|b)*(c)")};
  ASSERT_TRUE(re.Match(std::wstring_view(L"zzxabbcz")));
  EXPECT_EQ(re.GroupStart(0), 2);
  EXPECT_EQ(re.GroupEnd(0), 7);
  EXPECT_EQ(re.GroupStart(1), 5);  // the last b
  EXPECT_EQ(re.GroupEnd(1), 6);
  EXPECT_EQ(re.GroupStart(2), 6);
  EXPECT_EQ(re.GroupStart(3), -1);
  // A group on an alternative not taken stays unset, also after backing up.
  NorvRegExp alt{std::wstring_view(L"(a)x|ay")};
  ASSERT_TRUE(alt.Match(std::wstring_view(L"ay")));
  EXPECT_EQ(alt.GroupStart(1), -1);
  EXPECT_FALSE(alt.Match(std::wstring_view(L"az")));
  EXPECT_EQ(alt.GroupStart(0), -1);
  // Start offset: the search begins there, ^ still means the text's start.
  NorvRegExp b{std::wstring_view(L"b")};
  ASSERT_TRUE(b.Match(std::wstring_view(L"abab"), 2));
  EXPECT_EQ(b.GroupStart(0), 3);
  EXPECT_FALSE(NorvRegExp(std::wstring_view(L"^a")).Match(std::wstring_view(L"aa"), 1));
}

TEST(RegExp, ShortcutsDoNotChangeResults) {
  // First character: only positions holding it are tried.
  EXPECT_TRUE(Finds(L"ab+c", L"aabbc"));
  // Must-have literal of an expression that begins with a repetition: the
  // longest, and the last of equally long ones.
  EXPECT_TRUE(Finds(L"x*abc.*de", L"zzabcqde"));
  EXPECT_FALSE(Finds(L"x*abc.*de", L"zzabcqd"));
  EXPECT_FALSE(Finds(L"x*ab.*cd", L"xxab"));
  EXPECT_TRUE(Finds(L".*cd", L"abcd"));
  EXPECT_FALSE(Finds(L".*cd", L"abc"));
  // The must-have test at the very end of the text.
  EXPECT_FALSE(Finds(L"a*xyz", L"xy"));
  // Positions whose unit cannot begin a match are skipped: every way in
  // must be counted, and a pattern that may match empty tries them all.
  const Case starts[] = {
      {L"x*y", L"zzy", true},         {L"(ab)*c", L"zzc", true},   {L"(a|b*)c", L"zc", true},
      {L"a?b", L"zb", true},          {L"(a|bc)+d", L"xbcad", true}, {L"[^a]", L"a\u4e2d", true},
      {L"[^a]", L"aa", false},        {L"[a\u4e2d]", L"x\u4e2d", true}, {L"a|$", L"zz", true},
      {L"(x|^)b", L"bq", true},       {L"(x|^)b", L"qb", false},   {L"b*", L"", true},
      {L"((a)|b)c", L"zbc", true},    {L"x+|y", L"zy", true},
  };
  for (const Case& c : starts)
    EXPECT_EQ(Finds(c.pattern, c.text), c.match) << c.pattern << " in " << c.text;
  // Repetition before a literal tries only counts the literal can follow.
  EXPECT_TRUE(Finds(L"^a*ab$", L"aaab"));
  EXPECT_TRUE(Finds(L"^[ab]+b", L"ab"));
}

TEST(RegExp, TextIsCountedInUtf16Units) {
  // A character beyond 16 bits is two units: one dot does not take it.
  EXPECT_FALSE(Finds(L"^.$", L"\U0001F600"));
  EXPECT_TRUE(Finds(L"^..$", L"\U0001F600"));
  EXPECT_TRUE(Finds(L"x\U0001F600", L"ax\U0001F600"));
  NorvRegExp re{std::wstring_view(L"b")};
  ASSERT_TRUE(re.Match(std::wstring_view(L"\U0001F600ab")));
  EXPECT_EQ(re.GroupStart(0), 2);  // in the wide characters given
  ASSERT_TRUE(re.Match(std::u16string_view(u"\U0001F600ab")));
  EXPECT_EQ(re.GroupStart(0), 3);  // in UTF-16 units
  // A zero unit ends text and pattern, as in stored strings.
  EXPECT_FALSE(Finds(L"b", std::wstring(L"a\0b", 3).c_str()));
  NorvRegExp zero{std::wstring_view(L"a\0b", 3)};
  EXPECT_TRUE(zero.Match(std::wstring_view(L"a")));
  EXPECT_FALSE(NorvRegExp(std::wstring_view(L"b")).Match(std::wstring_view(L"a\0b", 3)));
}

TEST(RegExp, LongTextsDoNotExhaustTheStack) {
  const std::wstring text = std::wstring(100000, L'a') + L"b";
  EXPECT_TRUE(Finds(L"^(a|c)*b$", text.c_str()));
  EXPECT_TRUE(Finds(L"^(aa|a)+b", text.c_str()));
  EXPECT_FALSE(Finds(L"^(a|c)*d", text.c_str()));
  NorvRegExp moved{std::wstring_view(L"(b)")};
  NorvRegExp other = std::move(moved);
  EXPECT_TRUE(other.Match(text));
  EXPECT_EQ(other.GroupStart(1), 100000);
}

}  // namespace
