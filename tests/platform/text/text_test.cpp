#include <gtest/gtest.h>

#include "platform/text.h"

using namespace plat;

TEST(Text, ConversionsRoundTripOutsideTheBasicPlane) {
  std::wstring wide = L"Gr\u00fc\u00dfe \U0001F600 \u4e2d";
  EXPECT_EQ(FromUtf8(ToUtf8(wide)), wide);
  std::u16string u16 = ToUtf16(wide);
  EXPECT_EQ(u16.size(), wide.size() + 1);  // one surrogate pair
  EXPECT_EQ(FromUtf16(u16), wide);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(ToUtf8(wide))), ToUtf8(wide));
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xC3"), L"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD");  // encoded surrogate
  EXPECT_EQ(FromUtf16(u"\xD800x"), L"\uFFFDx");    // lone high surrogate
}

TEST(Text, CaseInsensitiveComparison) {
  EXPECT_EQ(CompareNoCase(std::string_view("Software"), std::string_view("SOFTWARE")), 0);
  EXPECT_LT(CompareNoCase(std::string_view("abc"), std::string_view("ABD")), 0);
  EXPECT_LT(CompareNoCase(std::string_view("ab"), std::string_view("abc")), 0);
  EXPECT_EQ(CompareNoCase(std::wstring_view(L"\u00e4x"), std::wstring_view(L"\u00c4X")), 0);
  EXPECT_EQ(FoldCase("Trace"), FoldCase("TRACE"));
}

TEST(Text, WideFormatTakesWideStringsForPercentS) {
  EXPECT_EQ(FormatW(L"%s=%d %S", L"level", 3, "narrow"), L"level=3 narrow");
  EXPECT_EQ(FormatW(L"%d (0x%X)", 40007, 40007), L"40007 (0x9C47)");
  EXPECT_EQ(FormatW(L"100%%"), L"100%");
  std::wstring longText(5000, L'x');
  EXPECT_EQ(FormatW(L"[%s]", longText.c_str()).size(), 5002u);
  EXPECT_EQ(FormatA("%s-%u", "a", 7u), "a-7");
}
