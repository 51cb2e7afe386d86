// Filter texts as the list stores them, their scanner and parser, wildcard
// matching and the decision whether a row is shown.
#include <gtest/gtest.h>

#include "NorvFilterText.h"

namespace {

NorvFilterRecord Record(UINT id, bool enabled, UINT mode, const NorvFilterString& pattern) {
  NorvFilterRecord r;
  r.columnId = id;
  r.enabled = enabled;
  r.mode = mode;
  r.pattern = pattern;
  r.enabledToken = enabled ? L"1" : L"0";
  return r;
}

TEST(FilterText, RecordIsStoredInItsDocumentedForm) {
  EXPECT_EQ(NorvFormatFilterRecord(Record(3, true, 0, L"a\"b")), L"$3,1,0,\"a\\\"b\" ");
  EXPECT_EQ(NorvEscapeFilterPattern(L"\\\""), L"\\\\\\\"");
  EXPECT_EQ(NorvFormatFilterText({Record(1, false, 2, L"x"), Record(0xFFFFFFFF, true, 1, L"")}),
            L"$1,0,2,\"x\" $-1,1,1,\"\" ");
}

TEST(FilterText, PatternsWithQuotesAndBackslashesComeBackUnchanged) {
  const std::vector<NorvFilterRecord> records = {
      Record(0, true, 0, L"a\"b"),          Record(7, false, 2, L"\\\"\\\\\""),
      Record(2, true, 1, L"trailing\\"),    Record(4, true, 2, L"$1,1,0,\"x\" "),
      Record(5, true, 0, L""),              Record(0x7FFFFFFF, true, 2, L"[\\]]\\(")};
  std::string error = "stale";
  EXPECT_EQ(NorvParseFilterRecords(NorvFormatFilterText(records), &error), records);
  EXPECT_EQ(error, "");
}

TEST(FilterText, ScannerSkipsToOpeningAndHonoursBackslash) {
  NorvFilterString token;
  size_t close = 0;
  ASSERT_TRUE(NorvReadFilterToken(L"xx$12,rest", 0, L'$', L',', token, close));
  EXPECT_EQ(token, L"12");
  EXPECT_EQ(close, 5u);
  ASSERT_TRUE(NorvReadFilterToken(L"\"a\\\"b\\\\\" ", 0, L'"', L'"', token, close));
  EXPECT_EQ(token, L"a\"b\\");
  EXPECT_EQ(close, 7u);
  ASSERT_TRUE(NorvReadFilterToken(L"ab,", 0, 0, L',', token, close));  // open 0 skips nothing
  EXPECT_EQ(token, L"ab");
  EXPECT_FALSE(NorvReadFilterToken(L"no opening", 0, L'$', L',', token, close));
  EXPECT_FALSE(NorvReadFilterToken(L"$12", 0, L'$', L',', token, close));
  EXPECT_FALSE(NorvReadFilterToken(L"\"ab\\\"", 0, L'"', L'"', token, close));
  EXPECT_FALSE(NorvReadFilterToken(L"$1,", 9, L'$', L',', token, close));
}

TEST(FilterText, NumbersAreReadWithBaseDetection) {
  const auto records = NorvParseFilterRecords(L"$0x1A,1,02,\"p\" $010,0x0,1,\"q\" ");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].columnId, 26u);
  EXPECT_EQ(records[0].mode, 2u);
  EXPECT_EQ(records[1].columnId, 8u);
  EXPECT_FALSE(records[1].enabled);
  EXPECT_EQ(records[1].enabledToken, L"0x0");
}

TEST(FilterText, BrokenTextKeepsTheRecordsBeforeIt) {
  const NorvFilterString good = L"$1,1,0,\"a*\" $2,0,1,\"b\" ";
  const NorvFilterString tails[] = {L"$3,1,2,\"open", L"$3,1", L"$3", L"$x,1,0,\"c\" ",
                                    L"$3,1,08,\"c\" ", L"junk"};
  for (const NorvFilterString& tail : tails) {
    std::string error;
    const auto records = NorvParseFilterRecords(good + tail, &error);
    EXPECT_EQ(records.size(), 2u) << error;
    EXPECT_NE(error.find("character 23"), std::string::npos) << error;
  }
  std::string error = "stale";
  EXPECT_TRUE(NorvParseFilterRecords(L"", &error).empty());
  EXPECT_EQ(error, "");
  EXPECT_EQ(NorvParseFilterRecords(good + L"  ", &error).size(), 2u);
  EXPECT_EQ(error, "");

  CNorvFilterSet set;
  EXPECT_FALSE(set.Parse(good + L"$3,1,2,\"open", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(set.Count(), 1u);  // the enabled record before the break
  EXPECT_TRUE(set.NamesColumn(1));
  EXPECT_FALSE(set.NamesColumn(2));
}

TEST(Wildcard, MatchesTheWholeTextCaseSensitively) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* text;
    bool match;
  } cases[] = {
      {L"a*", L"abc", true},     {L"a*", L"a", true},       {L"a*", L"ba", false},
      {L"ABC", L"abc", false},   {L"", L"", true},          {L"", L"a", false},
      {L"*", L"", true},         {L"*", L"anything", true}, {L"?", L"", false},
      {L"?", L"x", true},        {L"a?c", L"abc", true},    {L"a?c", L"ac", false},
      {L"*.txt", L"a.txt", true}, {L"*.txt", L"a.txt.gz", false},
      {L"*a*b", L"xaybab", true}, {L"a*b*c", L"abxbc", true}, {L"a*b*c", L"acb", false},
      {L"\\*", L"\\x", true},    {L"\\*", L"*", false},     {L"**?", L"z", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NorvWildcardMatch(c.pattern, c.text), c.match) << c.pattern << " / " << c.text;
  // A character beyond 16 bits is two units, as the stored text has it.
  EXPECT_FALSE(NorvWildcardMatch(L"?", L"\U0001F600"));
  EXPECT_TRUE(NorvWildcardMatch(L"??", L"\U0001F600"));
  EXPECT_TRUE(NorvWildcardMatch(L"\U0001F600*", L"\U0001F600x"));
  // Long texts with many stars stay linear enough to finish.
  EXPECT_FALSE(NorvWildcardMatch(std::wstring(40, L'*') + L"b", std::wstring(20000, L'a')));
}

TEST(FilterSet, ModesDecideWhetherARowPasses) {
  const std::vector<UINT> ids = {10, 11};
  auto passes = [&](const NorvFilterString& text, const NorvFilterString& a,
                    const NorvFilterString& b) {
    CNorvFilterSet set;
    set.Parse(text);
    return set.RowPasses(ids, {a, b});
  };
  EXPECT_TRUE(passes(L"$10,1,0,\"a*\" ", L"abc", L""));
  EXPECT_FALSE(passes(L"$10,1,0,\"a*\" ", L"ba", L""));
  EXPECT_FALSE(passes(L"$10,1,1,\"a*\" ", L"abc", L""));
  EXPECT_TRUE(passes(L"$10,1,1,\"a*\" ", L"ba", L""));
  EXPECT_FALSE(passes(L"$10,1,0,\"ABC\" ", L"abc", L""));
  EXPECT_TRUE(passes(L"$10,1,2,\"b\" ", L"abc", L""));
  EXPECT_FALSE(passes(L"$10,1,2,\"^b\" ", L"abc", L""));
  EXPECT_TRUE(passes(L"$10,1,2,\"(\" ", L"abc", L""));     // does not compile: no effect
  EXPECT_TRUE(passes(L"$10,1,7,\"zzz\" ", L"abc", L""));   // unknown mode: no effect
  EXPECT_TRUE(passes(L"$10,0,0,\"zzz\" ", L"abc", L""));   // disabled: no effect
  EXPECT_TRUE(passes(L"$99,1,0,\"zzz\" ", L"abc", L""));   // no such column
  // Two filters on two columns: both must hold.
  const NorvFilterString both = L"$10,1,0,\"a*\" $11,1,2,\"[0-9]$\" ";
  EXPECT_TRUE(passes(both, L"ab", L"x1"));
  EXPECT_FALSE(passes(both, L"ab", L"x"));
  EXPECT_FALSE(passes(both, L"b", L"x1"));
}

TEST(FilterSet, FixedFiltersRepeatedColumnsAndShortRows) {
  CNorvFilterSet set;
  set.Parse(L"$5,1,0,\"*.txt\" ");
  set.Add(6, 2, L"x+y");
  EXPECT_EQ(set.Count(), 2u);
  EXPECT_TRUE(set.NamesColumn(6));
  EXPECT_TRUE(set.RowPasses({5, 6}, {L"a.txt", L"axxy"}));
  EXPECT_FALSE(set.RowPasses({5, 6}, {L"a.txt", L"ay"}));
  // Every column with the id is checked.
  EXPECT_FALSE(set.RowPasses({5, 5, 6}, {L"a.txt", L"b.doc", L"xy"}));
  // Cells missing at the end of a row are not read.
  EXPECT_TRUE(set.RowPasses({6, 5}, {L"xy"}));
  CNorvFilterSet moved = std::move(set);
  EXPECT_FALSE(moved.RowPasses({5, 6}, {L"a.doc", L"xy"}));
  moved.Clear();
  EXPECT_TRUE(moved.IsEmpty());
}

}  // namespace
