#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/library.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using plat::HMODULE;
using plat::UINT;

HMODULE LoadTexts(const char* language) {
  fs::path path = fs::path(plat::ModuleFileName(nullptr)).parent_path() /
                  (std::string("libnorvhost_") + language + ".so");
  HMODULE module = plat::LoadResourceModule(path.string());
  EXPECT_NE(module, nullptr) << path << ": " << plat::LibraryError();
  return module;
}

// The printf conversions of a text, in order ("%%" is not one).
std::wstring Placeholders(const std::wstring& text) {
  std::wstring found;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'%') continue;
    if (text[i + 1] == L'%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < text.size() && std::wstring(L"-+ #0123456789.lh").find(text[j]) != std::wstring::npos) ++j;
    if (j < text.size()) found += text.substr(i, j - i + 1);
    i = j;
  }
  return found;
}

// A translation that drops or reorders a placeholder would misformat its
// arguments, so both languages must define the same texts with the same
// conversions.
TEST(HostTextsTest, BothLanguagesDefineTheSameMessagesWithTheSamePlaceholders) {
  HMODULE english = LoadTexts("enu");
  HMODULE german = LoadTexts("deu");
  ASSERT_TRUE(english && german);
  int defined = 0;
  for (UINT id = 7000; id <= 7110; ++id) {
    bool inEnglish = plat::HasString(id, english);
    EXPECT_EQ(inEnglish, plat::HasString(id, german)) << id;
    if (!inEnglish) continue;
    ++defined;
    std::wstring en = plat::LoadString(id, english);
    std::wstring de = plat::LoadString(id, german);
    EXPECT_FALSE(en.empty()) << id;
    EXPECT_FALSE(de.empty()) << id;
    EXPECT_EQ(Placeholders(en), Placeholders(de)) << id << ": " << plat::ToUtf8(de);
  }
  EXPECT_GT(defined, 60);
  // The trace's own messages: 7106 takes the file name, 7105 nothing.
  EXPECT_EQ(Placeholders(plat::LoadString(7106, english)), L"%s");
  EXPECT_EQ(Placeholders(plat::LoadString(7105, english)), L"");
  EXPECT_EQ(Placeholders(plat::LoadString(7058, english)), L"%s%s");
  EXPECT_EQ(Placeholders(plat::LoadString(7107, english)), L"%s%u%u%u%u");
  EXPECT_EQ(plat::LoadString(7079, english).find(L"\"%s\""), 11u);  // quotes kept
}

// The host's scripts carry numbers only: every string the framework names
// must be there in both languages.
TEST(HostTextsTest, EveryNamedStringIsInBothLanguages) {
  HMODULE english = LoadTexts("enu");
  HMODULE german = LoadTexts("deu");
  ASSERT_TRUE(english && german);
  std::ifstream header(HOST_STRINGS_HEADER);
  ASSERT_TRUE(header) << HOST_STRINGS_HEADER;
  std::stringstream text;
  text << header.rdbuf();
  const std::string source = text.str();
  const std::regex named("constexpr UINT (IDS_NORV_[A-Z_]+) = ([0-9]+);");
  int count = 0;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), named);
       it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[1];
    const UINT id = static_cast<UINT>(std::stoul((*it)[2]));
    ++count;
    if (name == "IDS_NORV_VIEW_MODE_FIRST") {
      for (UINT mode = 0; mode < 6; ++mode) EXPECT_TRUE(plat::HasString(id + mode, english)) << id;
      continue;
    }
    EXPECT_TRUE(plat::HasString(id, english)) << name << " " << id;
    EXPECT_TRUE(plat::HasString(id, german)) << name << " " << id;
  }
  EXPECT_GT(count, 60);
}

}  // namespace
