// Tree paths and the column conventions: plain C++, so the sanitizer build
// runs them too.
#include <gtest/gtest.h>

#include "norv/NorvColumns.h"
#include "norv/NorvTreePath.h"

namespace {

using Step = NorvTreePathStep;
using Steps = std::vector<NorvTreePathStep>;

Step Child(const wchar_t* text) { return {Step::kChild, text}; }
Step Root() { return {Step::kRoot, {}}; }
Step Selection() { return {Step::kSelection, {}}; }
Step Parent() { return {Step::kParent, {}}; }
Step Ancestor(const wchar_t* text) { return {Step::kNearestAncestor, text}; }

TEST(TreePath, ExtractSubPathSplitsAtTheFirstSingleSlash) {
  NorvString path = L"a//b/c/d";
  NorvString head;
  EXPECT_TRUE(ExtractSubPath(path, head));
  EXPECT_EQ(head, L"a/b");
  EXPECT_EQ(path, L"c/d");
  path = L"x//y";
  EXPECT_FALSE(ExtractSubPath(path, head));
  EXPECT_EQ(head, L"x/y");
  EXPECT_EQ(path, L"");
  // Pairs are taken from the left: "a" + "//" + "/" + "b".
  path = L"a///b";
  EXPECT_TRUE(ExtractSubPath(path, head));
  EXPECT_EQ(head, L"a/");
  EXPECT_EQ(path, L"b");
}

TEST(TreePath, StepsOfEveryForm) {
  const struct {
    const wchar_t* path;
    Steps steps;
  } cases[] = {
      {L"", {}},
      {L"/", {Root()}},
      {L"/A/b c", {Root(), Child(L"A"), Child(L"b c")}},
      {L"/A/", {Root(), Child(L"A")}},
      {L"A/B", {Child(L"A"), Child(L"B")}},
      {L".", {Selection()}},
      {L"./x", {Selection(), Child(L"x")}},
      {L"..", {Parent()}},
      {L"../../x", {Parent(), Parent(), Child(L"x")}},
      {L".../E/x", {Ancestor(L"E"), Child(L"x")}},
      {L".../E//F", {Ancestor(L"E/F")}},
      {L"A/../B", {Child(L"A"), Parent(), Child(L"B")}},
      {L"A/.", {Child(L"A"), Selection()}},
      {L"../", {Parent()}},
      {L"...", {Child(L"...")}},
      {L"..x/.y", {Child(L"..x"), Child(L".y")}},
      {L"/Disk//C:/x", {Root(), Child(L"Disk/C:"), Child(L"x")}},
      // A text that begins with "/" (the path the tree gives it).
      {L"///etc/x", {Root(), Child(L"/etc"), Child(L"x")}},
      {L"..//x", {Parent(), Root(), Child(L"x")}},
      {L"//x", {Root(), Root(), Child(L"x")}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseTreePath(c.path), c.steps) << c.path;
}

TEST(TreePath, JoinAndSplitRoundTrip) {
  const std::vector<std::vector<NorvString>> cases = {
      {}, {L"A"}, {L"a/b", L"c"}, {L"/etc", L"x//y/"}, {L"..", L"."}};
  for (const auto& texts : cases) {
    const NorvString path = JoinTreePath(texts);
    EXPECT_EQ(SplitTreePath(path), texts) << path;
    // Parsed as steps, a joined path is the root and one child per text,
    // except where a text reads as a relative form (see the header).
    Steps expected{Root()};
    for (const auto& t : texts) expected.push_back({Step::kChild, t});
    if (texts.empty() || texts[0] != L"..") {
      EXPECT_EQ(ParseTreePath(path), expected) << path;
    }
  }
  EXPECT_EQ(JoinTreePath({}), L"/");
  EXPECT_EQ(JoinTreePath({L"a/b", L"c"}), L"/a//b/c");
  EXPECT_EQ(EscapeTreePathElement(L"//"), L"////");
}

TEST(Columns, BitsOfIdsWidthsAndTheResult) {
  const NorvStringList titles = {L"Name", L"Size", L"Date", L"Extra"};
  const NorvUIntArray widths = {200, 0u - 80u, 0};
  const NorvUIntArray ids = {7026, 7027 | NORV_COLUMN_DESCENDING, 3};
  const NorvUIntArray formats = {0, 1};
  NorvColumnSet set = NorvDecodeColumns(&titles, &widths, &ids, &formats,
                                        static_cast<int>(7027 | NORV_COLUMNS_RESET));
  EXPECT_TRUE(set.reset);
  EXPECT_EQ(set.defaultSortId, 7027);
  ASSERT_EQ(set.columns.size(), 4u);
  EXPECT_EQ(set.columns[0].id, 7026u);
  EXPECT_TRUE(set.columns[0].ascendingFirst);
  EXPECT_FALSE(set.columns[0].hidden);
  EXPECT_EQ(set.columns[1].id, 7027u);
  EXPECT_FALSE(set.columns[1].ascendingFirst);
  EXPECT_TRUE(set.columns[1].hidden);
  EXPECT_EQ(NorvShownColumnWidth(set.columns[1].width), 80u);
  EXPECT_EQ(set.columns[1].format, NORV_COLUMN_RIGHT);
  EXPECT_FALSE(set.columns[2].hidden);  // width 0 is visible
  // Entries missing from the shorter arrays.
  EXPECT_EQ(set.columns[3].id, 3u);
  EXPECT_EQ(set.columns[3].width, NORV_COLUMN_DEFAULT_WIDTH);
  EXPECT_EQ(set.columns[3].format, NORV_COLUMN_LEFT);

  set = NorvDecodeColumns(&titles, nullptr, nullptr, nullptr, -1);
  EXPECT_FALSE(set.reset);
  EXPECT_EQ(set.defaultSortId, -1);
  EXPECT_EQ(NorvDecodeColumns(nullptr, nullptr, nullptr, nullptr, 0).columns.size(), 0u);

  EXPECT_EQ(NorvHiddenColumnWidth(120), 0u - 120u);
  EXPECT_EQ(NorvHiddenColumnWidth(0u - 120u), 0u - 120u);  // already hidden
  EXPECT_EQ(NorvHiddenColumnWidth(0), 0u);
  EXPECT_EQ(NorvMakeSortParam(7027 | NORV_COLUMN_DESCENDING, TRUE), 0x10000 + (7027 & 0xFFFF));
  EXPECT_EQ(NorvSortParamColumn(NORV_TREE_SORT_PARAM), 0);
  EXPECT_TRUE(NorvSortParamAscending(NORV_TREE_SORT_PARAM));
  EXPECT_FALSE(NorvSortParamAscending(NorvMakeSortParam(5, FALSE)));
}

}  // namespace
