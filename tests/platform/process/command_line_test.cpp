#include <gtest/gtest.h>

#include <random>

#include "platform/process.h"

using namespace plat;
using Args = std::vector<std::string>;

// The documented examples of how a Windows program splits its command line
// (argv[1] onwards; "p" stands for the program).
TEST(CommandLine, SplitsTheDocumentedCases) {
  EXPECT_EQ(SplitCommandLine(R"(p "a b c" d e)"), (Args{"p", "a b c", "d", "e"}));
  EXPECT_EQ(SplitCommandLine(R"(p "ab\"c" "\\" d)"), (Args{"p", "ab\"c", "\\", "d"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\b d"e f"g h)"), (Args{"p", R"(a\\\b)", "de fg", "h"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b c d)"), (Args{"p", R"(a\"b)", "c", "d"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\\"b c" d e)"), (Args{"p", R"(a\\b c)", "d", "e"}));
  EXPECT_EQ(SplitCommandLine(R"(p a"b"" c d)"), (Args{"p", "ab\" c d"}));
}

TEST(CommandLine, EmptyQuotesTrailingBackslashesAndBlanks) {
  EXPECT_EQ(SplitCommandLine(R"(p "" x "")"), (Args{"p", "", "x", ""}));
  EXPECT_EQ(SplitCommandLine("p a\\ b\\\\"), (Args{"p", "a\\", "b\\\\"}));
  EXPECT_EQ(SplitCommandLine(R"(p "dir\\" next)"), (Args{"p", "dir\\", "next"}));
  EXPECT_EQ(SplitCommandLine("p \"unterminated arg"), (Args{"p", "unterminated arg"}));
  EXPECT_EQ(SplitCommandLine("  p\t a \t b  "), (Args{"p", "a", "b"}));
  EXPECT_EQ(SplitCommandLine(""), Args{});
  EXPECT_EQ(SplitCommandLine(" \t "), Args{});
}

TEST(CommandLine, TheProgramNameHasNoEscapes) {
  EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\app\" x)"), (Args{"C:\\Program Files\\app\\", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(C:\dir\"app x)"), (Args{"C:\\dir\\\"app", "x"}));
  EXPECT_EQ(SplitCommandLine(R"("/opt/my app"arg next)"), (Args{"/opt/my app", "arg", "next"}));
  EXPECT_EQ(SplitCommandLine(R"("" x)"), (Args{"", "x"}));
}

TEST(CommandLine, JoinQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(JoinCommandLine({"/usr/bin/prog", "plain", "two words", "", "q\"uote", "dir\\"}),
            R"(/usr/bin/prog plain "two words" "" "q\"uote" dir\)");
  EXPECT_EQ(JoinCommandLine({"/opt/my app", "a\\ b\\"}), R"("/opt/my app" "a\ b\\")");
  EXPECT_EQ(JoinCommandLine({}), "");
}

TEST(CommandLine, JoinThenSplitGivesTheArgumentsBack) {
  std::mt19937 random(1234);
  const std::string alphabet = "ab \t\"\\x\\\"'";
  auto word = [&](bool program) {
    std::string s;
    int length = static_cast<int>(random() % 8);
    for (int i = 0; i < length; ++i) s += alphabet[random() % alphabet.size()];
    if (program) {
      // A program name cannot hold quotes together with white space.
      if (s.find_first_of(" \t") != std::string::npos || (!s.empty() && s[0] == '"'))
        std::erase(s, '"');
      if (s.empty()) s = "prog";
    }
    return s;
  };
  for (int n = 0; n < 5000; ++n) {
    Args argv{word(true)};
    int count = static_cast<int>(random() % 5);
    for (int i = 0; i < count; ++i) argv.push_back(word(false));
    std::string line = JoinCommandLine(argv);
    ASSERT_EQ(SplitCommandLine(line), argv) << line;
  }
}
