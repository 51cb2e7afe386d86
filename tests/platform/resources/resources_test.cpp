#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/version_info.h"

using namespace plat;

namespace {

std::vector<BYTE> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t U32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint16_t U16(const BYTE* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    enu_ = LoadResourceModule(NORV_TEST_ENU);
    deu_ = LoadResourceModule(NORV_TEST_DEU);
  }
  static void TearDownTestSuite() {
    FreeLibrary(enu_);
    FreeLibrary(deu_);
  }
  void SetUp() override {
    ASSERT_NE(enu_, nullptr) << LibraryError();
    ASSERT_NE(deu_, nullptr) << LibraryError();
  }
  void TearDown() override {
    SetCurrentResourceModule(nullptr);
    SetHostResourceModule(nullptr);
  }
  static HMODULE enu_, deu_;
};
HMODULE Resources::enu_ = nullptr;
HMODULE Resources::deu_ = nullptr;

}  // namespace

TEST_F(Resources, StringsByNumber) {
  EXPECT_EQ(LoadString(7026, enu_), L"Name");
  EXPECT_EQ(LoadString(7027, enu_), L"Description");
  EXPECT_EQ(LoadString(7105, enu_), L"Line one\nLine \"two\"\t\u00e9 \U0001F600 AA");
  EXPECT_EQ(LoadString(7106, enu_), L"Joined from pieces");
  EXPECT_EQ(LoadString(0xFFFF, enu_), L"Gr\u00fc\u00dfe");
  // An empty string is there; a missing one is not.
  EXPECT_TRUE(HasString(7107, enu_));
  EXPECT_EQ(LoadString(7107, enu_), L"");
  EXPECT_FALSE(HasString(9999, enu_));
  EXPECT_EQ(LoadString(9999, enu_), L"");
  EXPECT_EQ(LoadString(7026), L"");  // no module at all
}

TEST_F(Resources, CurrentModuleFallsBackToTheHost) {
  SetHostResourceModule(enu_);
  EXPECT_EQ(HostResourceModule(), enu_);
  EXPECT_EQ(LoadString(7027), L"Description");

  SetCurrentResourceModule(deu_);
  EXPECT_EQ(CurrentResourceModule(), deu_);
  EXPECT_EQ(LoadString(7027), L"Beschreibung");
  // Missing in the German module: the host's text.
  EXPECT_TRUE(HasString(7105));
  EXPECT_EQ(LoadString(7105), LoadString(7105, enu_));
  EXPECT_EQ(LoadString(7105, deu_), LoadString(7105, enu_));
  // An explicit module comes first.
  EXPECT_EQ(LoadString(7027, enu_), L"Description");

  SetCurrentResourceModule(nullptr);
  EXPECT_EQ(LoadString(7027), L"Description");
  SetHostResourceModule(nullptr);
  EXPECT_FALSE(HasString(7027));
}

TEST_F(Resources, ImagesAndPagesAreTheFilesBytes) {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  ASSERT_TRUE(FindResource(enu_, ResourceType::Image, 300, &data, &size));
  EXPECT_EQ(std::vector<BYTE>(data, data + size), ReadFile(NORV_TEST_SOURCE "/pixel.png"));
  ASSERT_TRUE(FindResource(enu_, ResourceType::Html, 400, &data, &size));
  EXPECT_EQ(std::vector<BYTE>(data, data + size), ReadFile(NORV_TEST_SOURCE "/page.html"));
  // A named page is numbered by the documented hash of its name in upper
  // case ("START.HTML"), which the res: scheme computes too.
  ASSERT_TRUE(FindResource(enu_, ResourceType::Html, 0xAC75FFEEu, &data, &size));
  EXPECT_EQ(std::vector<BYTE>(data, data + size), ReadFile(NORV_TEST_SOURCE "/page.html"));
  EXPECT_FALSE(FindResource(enu_, ResourceType::Image, 301, &data, &size));
  EXPECT_FALSE(FindResource(enu_, ResourceType::String, 300, &data, &size));
  EXPECT_FALSE(FindResource(deu_, ResourceType::Dialog, 300, &data, &size));
  // Through the host, as strings are.
  SetHostResourceModule(enu_);
  EXPECT_TRUE(FindResource(nullptr, ResourceType::Image, 300, &data, &size));
}

TEST_F(Resources, MenusAcceleratorsAndToolbarsInTheDocumentedLayout) {
  const BYTE* p = nullptr;
  std::size_t size = 0;
  ASSERT_TRUE(FindResource(enu_, ResourceType::Menu, 128, &p, &size));
  ASSERT_GE(size, 8u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 4, 0u);  // fields may be read in place
  EXPECT_EQ(U32(p), 1u);      // version
  EXPECT_EQ(U32(p + 4), 2u);  // top-level items: "&File" and "&Help"
  struct Item {
    unsigned kind, flags, id, children;
    std::string text;
  };
  std::vector<Item> items;
  for (std::size_t at = 8; at < size;) {
    ASSERT_LE(at + 16, size);
    Item item{U16(p + at), U16(p + at + 2), U32(p + at + 4), U32(p + at + 8), ""};
    std::uint32_t length = U32(p + at + 12);
    ASSERT_LE(at + 16 + length, size);
    item.text.assign(reinterpret_cast<const char*>(p + at + 16), length);
    at += (16 + length + 3) & ~std::size_t(3);
    items.push_back(item);
  }
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].kind, 1u);
  EXPECT_EQ(items[0].text, "&File");
  EXPECT_EQ(items[0].children, 3u);
  EXPECT_EQ(items[1].text, "&Open\tCtrl+O");
  EXPECT_EQ(items[1].id, 35001u);
  EXPECT_EQ(items[2].kind, 2u);  // separator
  EXPECT_EQ(items[3].kind, 1u);
  EXPECT_EQ(items[3].flags, 1u);  // grayed
  EXPECT_EQ(items[3].children, 1u);
  EXPECT_EQ(items[4].flags, 2u);  // checked
  EXPECT_EQ(items[4].id, 35002u);
  EXPECT_EQ(items[5].text, "&Help");
  EXPECT_EQ(items[5].kind, 0u);

  ASSERT_TRUE(FindResource(enu_, ResourceType::Accelerator, 128, &p, &size));
  ASSERT_EQ(size, 8u + 4 * 12);
  EXPECT_EQ(U32(p + 4), 4u);
  const std::uint32_t expected[4][3] = {{35001, 2, 'O'},
                                        {35002, 2 | 1, 0x01000034},  // Qt::Key_F5
                                        {35003, 4, 0x01000012},      // Qt::Key_Left
                                        {35004, 2, '+'}};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(U32(p + 8 + 12 * i + 4 * k), expected[i][k]) << i << "," << k;

  ASSERT_TRUE(FindResource(enu_, ResourceType::Toolbar, 128, &p, &size));
  ASSERT_EQ(size, 14u);
  const std::uint16_t words[7] = {1, 16, 15, 3, 35001, 0, 35002};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(U16(p + 2 * i), words[i]);
}

TEST_F(Resources, OtherLibrariesAreRefused) {
  EXPECT_EQ(LoadResourceModule(NORV_TEST_PLAIN), nullptr);
  EXPECT_NE(LibraryError().find("norv_resource_table"), std::string::npos) << LibraryError();
  EXPECT_EQ(LoadResourceModule(NORV_TEST_BADMAGIC), nullptr);
  EXPECT_EQ(LoadResourceModule(NORV_TEST_BADOFFSET), nullptr);
  EXPECT_EQ(LoadResourceModule("/nonexistent/libnothing.so"), nullptr);
  EXPECT_FALSE(LibraryError().empty());

  // Loaded the plain way, such a library is skipped by lookups.
  HMODULE plain = LoadLibrary(NORV_TEST_BADOFFSET);
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(IsResourceModule(plain));
  EXPECT_TRUE(IsResourceModule(enu_));
  SetHostResourceModule(enu_);
  SetCurrentResourceModule(plain);
  EXPECT_EQ(LoadString(7026), L"Name");
  EXPECT_FALSE(IsResourceModule(nullptr));
  SetCurrentResourceModule(nullptr);
  FreeLibrary(plain);
}

TEST_F(Resources, ModulesCarryAVersionRecord) {
  std::vector<BYTE> block;
  ASSERT_TRUE(GetFileVersionInfo(NORV_TEST_DEU, &block));
  std::wstring text;
  ASSERT_TRUE(VersionString(block, L"\\StringFileInfo\\040904b0\\FileDescription", &text));
  EXPECT_EQ(text, L"German test resources");
  FixedFileInfo fixed;
  ASSERT_TRUE(GetFixedFileInfo(block, &fixed));
  EXPECT_EQ(fixed.fileType, 2u);
  EXPECT_NE(std::string(NORV_TEST_DEU).find("/modules/"), std::string::npos);
}

namespace {

// Runs norvrc on a script; returns its exit code and what it printed.
int Compile(const std::string& script, std::string* messages) {
  char folder[] = "/tmp/norvrc-test-XXXXXX";
  if (!mkdtemp(folder)) return -1;
  std::string dir = folder;
  std::ofstream(dir + "/t.rc") << script;
  std::ofstream(dir + "/fake.png") << "GIF89a not a png";
  std::string command = std::string(NORV_TEST_NORVRC) + " " + dir + "/t.rc -o " + dir +
                        "/t.cpp --depfile " + dir + "/t.d 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[512];
  messages->clear();
  while (pipe && fgets(buffer, sizeof buffer, pipe)) *messages += buffer;
  int status = pipe ? pclose(pipe) : -1;
  bool wrote = access((dir + "/t.cpp").c_str(), F_OK) == 0;
  std::string cleanup = "rm -rf " + dir;
  if (std::system(cleanup.c_str()) != 0) return -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && wrote) return -2;  // output despite errors
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ResourceCompiler, BadScriptsFailWithTheirPlace) {
  struct Case {
    const char* script;
    const char* message;
  } cases[] = {
      {"STRINGTABLE {\n  1 \"open\n}", "2:5: string is not closed"},
      {"STRINGTABLE { 1 \"\\q\" }", "1:18: unknown escape"},
      {"STRINGTABLE { 1 \"a\" 1 \"b\" }", "1:21: resource 1 is defined twice"},
      {"STRINGTABLE { 1 \"\xC3\" }", "text is not valid UTF-8"},
      {"STRINGTABLE { 0x100000000 \"x\" }", "larger than 32 bits"},
      {"STRINGTABLE { 1 }", "expected the string's text"},
      {"STRINGTABLE { 1 \"x\"", "expected a string id"},
      {"ACCELERATORS 1 { \"Ctrl+Hyper+X\" 5 }", "unknown key"},
      {"TOOLBAR 1 16 15 { BUTTON 70000 }", "larger than 65535"},
      {"IMAGE 1 \"fake.png\"", "is not a PNG file"},
      {"IMAGE 1 \"missing.png\"", "cannot read"},
      {"HTML \"a.html\" \"fake.png\" HTML \"A.HTML\" \"fake.png\"", "is defined twice"},
      {"HTML \"\" \"fake.png\"", "empty resource name"},
      {"IMAGE \"a.png\" \"fake.png\"", "expected a resource id"},
      {"DIALOG 5 {}", "unknown statement DIALOG"},
      {"MENU 1 { MENUITEM \"x\" }", "expected a command id"},
      {"/* never closed", "comment is not closed"},
      {"STRINGTABLE { 1 \"x\" } @", "unexpected character"},
  };
  for (const Case& c : cases) {
    std::string messages;
    EXPECT_EQ(Compile(c.script, &messages), 1) << c.script;
    EXPECT_NE(messages.find(c.message), std::string::npos) << c.script << "\n" << messages;
  }
  std::string messages;
  EXPECT_EQ(Compile("// nothing but a comment\nSTRINGTABLE BEGIN END", &messages), 0) << messages;
}
