// The host's command-line parser: every option, quoting as a new explorer
// window receives it, and the errors for bad input.
#include <gtest/gtest.h>

#include "norv/NorvCommandLine.h"
#include "platform/text.h"

namespace {

using Args = std::vector<NorvString>;

TEST(CommandLineTest, EveryOptionFillsItsField) {
  CNorvCommandLineInfo info;
  NorvString error;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(
      Args{L"class:CDrive", L"id:C", L"locale:deu", L"param:p1", L"registrykey:Acme\\Explorer",
           L"traceEnabled:3", L"traceLevel:-1", L"traceLocation:/tmp/t/", L"traceFileSize:0x100",
           L"traceKeepFiles:1", L"plugin:Files", L"plugin:Mail", L"loadplugin:a;b.so;c.so",
           L"loadplugin:d;e.so;f.so;g.chm;h.chm", L"-nosplash", L"-notips", L"-quiet",
           L"/Computers/Drive C"},
      info, &error))
      << plat::ToUtf8(error);
  EXPECT_TRUE(info.m_bRootClassGiven);
  EXPECT_EQ(info.m_RootClass, L"CDrive");
  EXPECT_TRUE(info.m_bRootIdGiven);
  EXPECT_EQ(info.m_RootId, L"C");
  EXPECT_EQ(info.m_Locale, L"deu");
  EXPECT_EQ(info.m_Param, L"p1");
  EXPECT_EQ(info.m_RegistryKey, L"Acme\\Explorer");
  EXPECT_TRUE(info.m_bTraceEnabledGiven);
  EXPECT_EQ(info.m_TraceEnabled, 3u);
  EXPECT_TRUE(info.m_bTraceLevelGiven);
  EXPECT_EQ(info.m_TraceLevel, -1);
  EXPECT_EQ(info.m_TraceLocation, L"/tmp/t/");
  EXPECT_EQ(info.m_TraceFileSize, 256u);
  EXPECT_TRUE(info.m_bTraceKeepFilesGiven);
  EXPECT_EQ(info.m_TraceKeepFiles, 1);
  EXPECT_EQ(info.m_Plugins, (Args{L"Files", L"Mail"}));
  EXPECT_EQ(info.m_LoadPlugins, (Args{L"a;b.so;c.so", L"d;e.so;f.so;g.chm;h.chm"}));
  EXPECT_TRUE(info.m_bNoSplash);
  EXPECT_TRUE(info.m_bNoTips);
  EXPECT_TRUE(info.m_bQuiet);
  EXPECT_TRUE(info.m_bStartPathGiven);
  EXPECT_EQ(info.m_StartPath, L"/Computers/Drive C");
}

TEST(CommandLineTest, NothingGivenLeavesEveryFlagClear) {
  CNorvCommandLineInfo info;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(Args{}, info));
  EXPECT_FALSE(info.m_bRootClassGiven);
  EXPECT_FALSE(info.m_bStartPathGiven);
  EXPECT_FALSE(info.m_bTraceLevelGiven);
  EXPECT_FALSE(info.m_bQuiet);
  EXPECT_TRUE(info.m_Plugins.empty());
}

TEST(CommandLineTest, OptionNamesIgnoreCase) {
  CNorvCommandLineInfo info;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(
      Args{L"CLASS:X", L"TraceLevel:4", L"LoadPlugin:a;b;c", L"-NoSplash"}, info));
  EXPECT_EQ(info.m_RootClass, L"X");
  EXPECT_EQ(info.m_TraceLevel, 4);
  EXPECT_EQ(info.m_LoadPlugins.size(), 1u);
  EXPECT_TRUE(info.m_bNoSplash);
}

TEST(CommandLineTest, QuotedArgumentsStayWhole) {
  // As a new explorer window gets them: every argument in double quotes,
  // quotes inside values escaped with backslashes.
  CNorvCommandLineInfo info;
  NorvString error;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(
      Args{L"\"class:My Class\"", L"\"id:say \\\"hi\\\"\"", L"\"param:a\\\\\\\"b\"",
           L"\"-notips\"", L"\"/Top/Some Node\""},
      info, &error));
  EXPECT_EQ(info.m_RootClass, L"My Class");
  EXPECT_EQ(info.m_RootId, L"say \"hi\"");
  EXPECT_EQ(info.m_Param, L"a\\\"b");
  EXPECT_TRUE(info.m_bNoTips);
  EXPECT_EQ(info.m_StartPath, L"/Top/Some Node");
}

TEST(CommandLineTest, QuoteAndSplitRoundTrip) {
  const Args values{L"plain", L"with space", L"quote\"inside", L"trailing\\",
                    L"back\\\\slashes\\\"", L"", L"C:\\Program Files\\x"};
  NorvString line = L"explorer";
  for (const auto& v : values) line += L" " + CNorvCommandLineParser::Quote(v);
  const Args split = CNorvCommandLineParser::SplitCommandLine(line);
  ASSERT_EQ(split.size(), values.size() + 1);
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(split[i + 1], values[i]) << i;
  // Unquote on single arguments agrees.
  for (const auto& v : values) {
    EXPECT_EQ(CNorvCommandLineParser::Unquote(CNorvCommandLineParser::Quote(v)), v);
  }
  // Backslashes away from quotes are plain text (Windows paths).
  EXPECT_EQ(CNorvCommandLineParser::Unquote(L"C:\\dir\\file"), L"C:\\dir\\file");
}

TEST(CommandLineTest, ArgvFormConvertsFromUtf8AndSkipsProgram) {
  const char* argv[] = {"explorer", "class:Gr\xc3\xbc\xc3\x9f", "-quiet"};
  CNorvCommandLineInfo info;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(3, argv, info));
  EXPECT_EQ(info.m_RootClass, L"Gr\u00fc\u00df");
  EXPECT_TRUE(info.m_bQuiet);
  EXPECT_FALSE(info.m_bStartPathGiven);
}

TEST(CommandLineTest, BadInputIsAnErrorAndChangesNothing) {
  struct Case {
    Args args;
    const wchar_t* mentions;
  };
  const Case cases[] = {
      {{L"colour:red"}, L"colour:"},
      {{L"-fast"}, L"-fast"},
      {{L"traceLevel:high"}, L"traceLevel:"},
      {{L"traceLevel:"}, L"traceLevel:"},
      {{L"traceFileSize:-1"}, L"traceFileSize:"},
      {{L"traceEnabled:99999999999"}, L"traceEnabled:"},
      {{L"/a", L"/b"}, L"/b"},
      {{L"class:A", L"class:B"}, L"class:"},
  };
  for (const auto& c : cases) {
    CNorvCommandLineInfo info;
    info.m_Param = L"kept";
    NorvString error;
    EXPECT_FALSE(CNorvCommandLineParser::Parse(c.args, info, &error)) << c.args[0];
    EXPECT_NE(error.find(c.mentions), NorvString::npos) << error;
    EXPECT_FALSE(info.m_bTraceLevelGiven);
    EXPECT_FALSE(info.m_bRootClassGiven);
    EXPECT_FALSE(info.m_bStartPathGiven);
    EXPECT_EQ(info.m_Param, L"kept");
  }
}

TEST(CommandLineTest, EmptyValuesAreGivenButEmpty) {
  CNorvCommandLineInfo info;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(Args{L"class:", L"plugin:"}, info));
  EXPECT_TRUE(info.m_bRootClassGiven);
  EXPECT_TRUE(info.m_RootClass.empty());
  EXPECT_EQ(info.m_Plugins, Args{L""});
}

TEST(CommandLineTest, RelativeStartPathsAreNotOptions) {
  // A first element with a colon is a path when more elements follow.
  for (const wchar_t* path : {L"./Child", L"../Sibling", L".../Far", L"Node:With colon/x",
                              L"Disk:1/Files", L"./Disk:1"}) {
    CNorvCommandLineInfo info;
    NorvString error;
    EXPECT_TRUE(CNorvCommandLineParser::Parse(Args{path}, info, &error)) << error;
    EXPECT_EQ(info.m_StartPath, path);
  }
  // A lone word and a colon reads as a mistyped option, never silently as
  // a path; the message says how to write such a path. Known options stay
  // options even with a "/" in the value.
  CNorvCommandLineInfo info;
  NorvString error;
  EXPECT_FALSE(CNorvCommandLineParser::Parse(Args{L"Disk:1"}, info, &error));
  EXPECT_NE(error.find(L"./Disk:1"), NorvString::npos) << error;
  ASSERT_TRUE(CNorvCommandLineParser::Parse(Args{L"class:A/B"}, info, &error));
  EXPECT_EQ(info.m_RootClass, L"A/B");
  EXPECT_FALSE(info.m_bStartPathGiven);
}

}  // namespace
