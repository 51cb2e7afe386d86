#include <gtest/gtest.h>

#include <random>

#include "platform/profile.h"

using namespace plat;

namespace {

std::string RoundTrip(const std::string& text) { return ProfileDocument::Parse(text).Serialize(); }

}  // namespace

TEST(ProfileDocument, SerializeGivesBackEveryByte) {
  const char* samples[] = {
      "",
      "\n",
      "\r\n\r\n",
      "[a]\r\nk=v\r\n",
      "[a]\nk=v",  // no final line end
      "\xEF\xBB\xBF[a]\nk = v \n",
      "; comment\n# other\n\n[s]\r\n  key  =  \"quoted\"  \nno equals here\n[broken\n=\n",
      "mixed\r\nends\nhere\r\n\r",
      "\r\r\n\0x=y\n",
  };
  for (const char* sample : samples) EXPECT_EQ(RoundTrip(sample), sample) << sample;
  std::string withNul("[a]\n\0k=\0v\n", 10);
  EXPECT_EQ(RoundTrip(withNul), withNul);

  // Random bytes from a small alphabet hit the structural characters often.
  std::mt19937 random(7);
  const char alphabet[] = "[]=;# \t\r\nab\"'\xEF\xBB\xBF";
  for (int n = 0; n < 2000; ++n) {
    std::string text;
    int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) text += alphabet[random() % (sizeof alphabet - 1)];
    ASSERT_EQ(RoundTrip(text), text);
  }
}

TEST(ProfileDocument, ClassifiesLines) {
  auto doc = ProfileDocument::Parse(
      "\xEF\xBB\xBF[ First ] ; note\n; c\n#c\n  \nKey = Value  \nstray\n[open\n");
  const auto& lines = doc.Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].kind, ProfileDocument::Line::Section);
  EXPECT_EQ(lines[0].name, "First");
  EXPECT_EQ(lines[1].kind, ProfileDocument::Line::Comment);
  EXPECT_EQ(lines[2].kind, ProfileDocument::Line::Comment);
  EXPECT_EQ(lines[3].kind, ProfileDocument::Line::Blank);
  EXPECT_EQ(lines[4].kind, ProfileDocument::Line::Entry);
  EXPECT_EQ(lines[4].name, "Key");
  EXPECT_EQ(lines[4].value, "Value");
  EXPECT_EQ(lines[5].kind, ProfileDocument::Line::Other);
  EXPECT_EQ(lines[6].kind, ProfileDocument::Line::Other);  // no closing bracket
}

TEST(ProfileDocument, LookupsIgnoreCaseAndRemoveMatchingQuotes) {
  auto doc = ProfileDocument::Parse(
      "k=outside\n[Settings]\nName = \"  padded \"\nSingle='x'\nHalf=\"x\nMixed=\"x'\n"
      "Empty=\"\"\n[settings]\nLater=1\nname=second\n");
  std::string value;
  ASSERT_TRUE(doc.Get("SETTINGS", "NAME", &value));
  EXPECT_EQ(value, "  padded ");
  ASSERT_TRUE(doc.Get("settings", "single", &value));
  EXPECT_EQ(value, "x");
  ASSERT_TRUE(doc.Get("settings", "half", &value));
  EXPECT_EQ(value, "\"x");
  ASSERT_TRUE(doc.Get("settings", "mixed", &value));
  EXPECT_EQ(value, "\"x'");
  ASSERT_TRUE(doc.Get("settings", "empty", &value));
  EXPECT_EQ(value, "");
  // A repeated section continues the first; the first key wins.
  ASSERT_TRUE(doc.Get("Settings", "later", &value));
  EXPECT_EQ(value, "1");
  ASSERT_TRUE(doc.Get("Settings", "name", &value));
  EXPECT_EQ(value, "  padded ");
  // Keys before the first section belong to none.
  EXPECT_FALSE(doc.Get("", "k", &value));
  EXPECT_FALSE(doc.Get("Settings", "missing", &value));
  EXPECT_FALSE(doc.Get("Other", "name", &value));

  EXPECT_EQ(doc.SectionNames(), (std::vector<std::string>{"Settings"}));
  EXPECT_EQ(doc.Keys("SETTINGS"),
            (std::vector<std::string>{"Name", "Single", "Half", "Mixed", "Empty", "Later"}));
  auto entries = doc.Entries("settings");
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"Name", "\"  padded \""}));
}

TEST(ProfileDocument, EditsKeepCommentsOrderAndLineEnds) {
  const std::string original =
      "; settings of the tool\r\n"
      "[A]\r\n"
      "one=1\r\n"
      "; old=0\r\n"
      "\r\n"
      "; about B\r\n"
      "[B]\r\n"
      "two = 2\r\n";
  auto doc = ProfileDocument::Parse(original);
  doc.Set("a", "ONE", "uno");      // replaced in place, spelling of the key kept
  doc.Set("A", "three", "3");      // after the last entry of A
  doc.Set("b", "four", "4");       // at the end of the file's last section
  doc.Set("C", "five", "5");       // a new section at the end
  EXPECT_EQ(doc.Serialize(),
            "; settings of the tool\r\n"
            "[A]\r\n"
            "one=uno\r\n"
            "three=3\r\n"
            "; old=0\r\n"
            "\r\n"
            "; about B\r\n"
            "[B]\r\n"
            "two = 2\r\n"
            "four=4\r\n"
            "[C]\r\n"
            "five=5\r\n");

  EXPECT_TRUE(doc.RemoveKey("A", "three"));
  EXPECT_FALSE(doc.RemoveKey("A", "three"));
  EXPECT_TRUE(doc.RemoveSection("c"));
  EXPECT_FALSE(doc.RemoveSection("c"));
  EXPECT_TRUE(doc.RemoveSection("B"));
  EXPECT_EQ(doc.Serialize(),
            "; settings of the tool\r\n"
            "[A]\r\n"
            "one=uno\r\n"
            "; old=0\r\n"
            "\r\n"
            "; about B\r\n");
}

TEST(ProfileDocument, NewLinesFollowTheFilesLineEnds) {
  auto lf = ProfileDocument::Parse("[A]\nx=1");  // LF, last line unterminated
  lf.Set("A", "y", "2");
  EXPECT_EQ(lf.Serialize(), "[A]\nx=1\ny=2\n");

  auto empty = ProfileDocument::Parse("");
  empty.Set("S", "k", "v");
  EXPECT_EQ(empty.Serialize(), "[S]\r\nk=v\r\n");

  auto blankTail = ProfileDocument::Parse("[A]\nx=1\n\n\n");
  blankTail.Set("A", "y", "2");
  EXPECT_EQ(blankTail.Serialize(), "[A]\nx=1\ny=2\n\n\n");
}

TEST(ProfileDocument, RemovingAKeyRemovesEveryCopy) {
  auto doc = ProfileDocument::Parse("[A]\nk=1\nK=2\n[a]\nk=3\n");
  EXPECT_TRUE(doc.RemoveKey("A", "k"));
  std::string value;
  EXPECT_FALSE(doc.Get("A", "k", &value));
  EXPECT_EQ(doc.Serialize(), "[A]\n[a]\n");
}

TEST(ProfileDocument, ReplaceSectionKeepsItsCommentsAndPlace) {
  auto doc = ProfileDocument::Parse("[A]\n; head\nx=1\ny=2\n[B]\nz=3\n");
  doc.ReplaceSection("a", {{"p", "1"}, {"q", "2"}});
  EXPECT_EQ(doc.Serialize(), "[A]\n; head\np=1\nq=2\n[B]\nz=3\n");
  doc.ReplaceSection("New", {{"n", "v"}});
  EXPECT_EQ(doc.Serialize(), "[A]\n; head\np=1\nq=2\n[B]\nz=3\n[New]\nn=v\n");
  doc.ReplaceSection("B", {});
  EXPECT_EQ(doc.Serialize(), "[A]\n; head\np=1\nq=2\n[B]\n[New]\nn=v\n");
}

TEST(ProfileDocument, RefusesTextThatWouldBreakTheStructure) {
  EXPECT_FALSE(ProfileDocument::IsValidSectionName("a]b"));
  EXPECT_FALSE(ProfileDocument::IsValidSectionName("a\nb"));
  EXPECT_FALSE(ProfileDocument::IsValidKey("a=b"));
  EXPECT_FALSE(ProfileDocument::IsValidKey(" ;x"));
  EXPECT_FALSE(ProfileDocument::IsValidKey("[x"));
  EXPECT_FALSE(ProfileDocument::IsValidValue("1\r\n[Evil]"));
  EXPECT_TRUE(ProfileDocument::IsValidValue("a=b;c#d[e]"));

  auto doc = ProfileDocument::Parse("[A]\nk=1\n");
  doc.Set("A", "k", "2\n[Injected]\nx=1");
  doc.Set("A", "k=", "2");
  doc.Set("A]", "k", "2");
  doc.ReplaceSection("A", {{"ok", "1"}, {"bad", "x\ny"}});
  EXPECT_EQ(doc.Serialize(), "[A]\nk=1\n");
}
