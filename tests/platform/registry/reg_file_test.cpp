#include <fstream>

#include "platform/reg_file.h"
#include "registry_test_support.h"

using namespace plat;
using regtest::Utf16Bytes;

namespace {

class RegFile : public regtest::RegistryFolder {};

void Set(HKEY key, const std::string& name, DWORD type, std::vector<BYTE> data) {
  ASSERT_EQ(RegWriteValue(key, RegValue{name, type, std::move(data)}), ERROR_SUCCESS) << name;
}

TEST(RegFileFormat, ValueLinesAsRegeditWritesThem) {
  EXPECT_EQ(FormatRegValue({"", REG_SZ, Utf16Bytes(u"C:\\Program \"Files\"")}),
            "@=\"C:\\\\Program \\\"Files\\\"\"");
  EXPECT_EQ(FormatRegValue({"n", REG_DWORD, {0x2a, 0, 0, 0x80}}), "\"n\"=dword:8000002a");
  EXPECT_EQ(FormatRegValue({"b", REG_BINARY, {0, 0xab}}), "\"b\"=hex:00,ab");
  EXPECT_EQ(FormatRegValue({"e", REG_EXPAND_SZ, Utf16Bytes(u"%A%")}), "\"e\"=hex(2):25,00,41,00,25,00,00,00");
  EXPECT_EQ(FormatRegValue({"q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}), "\"q\"=hex(b):01,00,00,00,00,00,00,00");
  EXPECT_EQ(FormatRegValue({"x", 0x20001, {}}), "\"x\"=hex(20001):");
  // Text that a quoted string cannot carry exactly stays hex(1).
  EXPECT_EQ(FormatRegValue({"s", REG_SZ, Utf16Bytes(u"ab", false)}), "\"s\"=hex(1):61,00,62,00");
  EXPECT_EQ(FormatRegValue({"s", REG_SZ, {}}), "\"s\"=hex(1):");
  EXPECT_EQ(FormatRegValue({"d", REG_DWORD, {1, 2}}), "\"d\"=hex(4):01,02");

  // Long data wrap before column 80 with two-space continuation lines of 25 bytes.
  std::string line = FormatRegValue({"bin", REG_BINARY, std::vector<BYTE>(60, 0x11)});
  std::vector<std::string> rows;
  size_t start = 0, end;
  while ((end = line.find('\n', start)) != std::string::npos) {
    rows.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  rows.push_back(line.substr(start));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].size(), 80u);
  EXPECT_EQ(rows[0].substr(0, 13), "\"bin\"=hex:11,");
  EXPECT_EQ(rows[0].back(), '\\');
  EXPECT_EQ(rows[1], "  " + std::string(25 * 3, ',').replace(0, 75, [] {
              std::string s;
              for (int i = 0; i < 25; ++i) s += "11,";
              return s;
            }()) + "\\");
  EXPECT_EQ(rows[2], "  11,11,11,11,11,11,11,11,11,11,11,11");  // 23 + 25 + 12
}

TEST(RegFileFormat, ParserReadsEveryForm) {
  std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\A]\r\n"
      "@=\"def\"\r\n"
      "\"s\" = \"a\\\\b\\\"c\\n\"\r\n"
      "\"d\"=DWORD:2A\r\n"
      "\"h\"=hex:01,2,\\\r\n"
      "   ff\r\n"
      "\"t\"=hex(7):61,00,00,00,00,00\r\n"
      "\"gone\"=-\r\n"
      "[-HKCU\\Software\\B]\r\n";
  std::vector<RegFileOperation> ops;
  std::string error;
  ASSERT_TRUE(ParseRegFile(text, &ops, &error)) << error;
  ASSERT_EQ(ops.size(), 8u);
  EXPECT_EQ(ops[0].kind, RegFileOperation::Kind::kCreateKey);
  EXPECT_EQ(ops[0].key, "HKEY_CURRENT_USER\\Software\\A");
  EXPECT_EQ(ops[1].value.name, "");
  EXPECT_EQ(ops[1].value.data, Utf16Bytes(u"def"));
  EXPECT_EQ(ops[2].value.data, Utf16Bytes(u"a\\b\"c\n"));
  EXPECT_EQ(ops[3].value.type, REG_DWORD);
  EXPECT_EQ(ops[3].value.data, std::vector<BYTE>({0x2a, 0, 0, 0}));
  EXPECT_EQ(ops[4].value.data, std::vector<BYTE>({1, 2, 0xff}));
  EXPECT_EQ(ops[5].value.type, REG_MULTI_SZ);
  EXPECT_EQ(ops[6].kind, RegFileOperation::Kind::kDeleteValue);
  EXPECT_EQ(ops[6].line, 11);
  EXPECT_EQ(ops[7].kind, RegFileOperation::Kind::kDeleteKey);
  EXPECT_EQ(ops[7].key, "HKEY_CURRENT_USER\\Software\\B");

  // The same in UTF-16LE with a byte order mark.
  std::u16string wide = u"\uFEFFWindows Registry Editor Version 5.00\n[HKEY_USERS\\x]\n\"\u00e9\"=\"\u00e9\"\n";
  std::string bytes;
  for (char16_t c : wide) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  ASSERT_TRUE(ParseRegFile(bytes, &ops, &error)) << error;
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[1].value.name, "\xC3\xA9");
}

TEST(RegFileFormat, BadInputIsRejectedWithItsLine) {
  const std::string head = "Windows Registry Editor Version 5.00\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "line 1: empty file"},
      {"REGEDIT4\n", "line 1: REGEDIT4 files are not supported"},
      {"hello\n", "line 1: expected"},
      {head + "\"v\"=\"x\"\n", "line 2: a value line outside a key"},
      {head + "[HKEY_CLASSES_ROOT\\x]\n", "line 2: unknown root key"},
      {head + "[HKCU\\a\\\\b]\n", "line 2: empty key name"},
      {head + "[HKCU\\a\n", "line 2: a key line must end"},
      {head + "[HKCU\\a]\n\"v\"=dword:123456789\n", "line 3: dword: needs"},
      {head + "[HKCU\\a]\n\"v\"=hex:1,xyz\n", "line 3: bad hex byte \"xyz\""},
      {head + "[HKCU\\a]\n\"v\"=hex(zz):00\n", "line 3: hex(type)"},
      {head + "[HKCU\\a]\n\"v\"=hex:00,\\", "line 3: hex data continue past the end"},
      {head + "[HKCU\\a]\n\"v\"=\"open\n", "line 3: a quoted string is not closed"},
      {head + "[HKCU\\a]\n\"v\"=\"a\\tb\"\n", "line 3: unknown escape"},
      {head + "[HKCU\\a]\n\"v\"=\"a\" tail\n", "line 3: unexpected text after"},
      {head + "[HKCU\\a]\n\"v\" \"x\"\n", "line 3: expected \"=\""},
      {head + "[HKCU\\a]\n\"v\"=word:1\n", "line 3: unrecognised value data"},
      {head + "[HKCU\\a]\n\n\"v\"=\"\xC3\"\n", "line 4: text that is not UTF-8"},
      {head + std::string("[HKCU\\a]\0\n", 10), "line 2: a NUL character"},
      {"\xFE\xFF\x00W", "line 1: UTF-16 big-endian"},
  };
  for (const auto& c : cases) {
    std::vector<RegFileOperation> ops;
    std::string error;
    EXPECT_FALSE(ParseRegFile(c.text, &ops, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error << "\nfor: " << c.text;
    EXPECT_TRUE(ops.empty());
  }
}

TEST_F(RegFile, ExportImportExportGivesTheSameText) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Export", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  Set(key, "", REG_SZ, Utf16Bytes(u"default \"quoted\" C:\\path"));
  Set(key, "multi line", REG_SZ, Utf16Bytes(u"one\ntwo\r\n"));
  Set(key, "unterminated", REG_SZ, Utf16Bytes(u"raw", false));
  Set(key, "lone surrogate", REG_SZ, Utf16Bytes(std::u16string(1, char16_t(0xD800))));
  Set(key, "expand", REG_EXPAND_SZ, Utf16Bytes(u"%HOME%\\bin"));
  Set(key, "multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"a\0b\0\0", 5), false));
  Set(key, "dword", REG_DWORD, {0xef, 0xbe, 0xad, 0xde});
  Set(key, "qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
  Set(key, "binary", REG_BINARY, std::vector<BYTE>(100, 0x5a));
  Set(key, "none", REG_NONE, {});
  Set(key, "odd type", 0x12345, {1});
  Set(key, "Gr\xC3\xBC\xC3\x9F" "e", REG_SZ, Utf16Bytes(u"\u4e2d\U0001F600"));
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExA(key, "Sub\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  Set(sub, "x", REG_DWORD, {1, 0, 0, 0});
  RegCloseKey(sub);
  RegCloseKey(key);

  std::string first;
  ASSERT_EQ(ExportRegText("hkcu\\SOFTWARE\\export", &first), ERROR_SUCCESS);
  EXPECT_EQ(first.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Export]\n", 0), 0u)
      << first;
  EXPECT_NE(first.find("[HKEY_CURRENT_USER\\Software\\Export\\Sub\\Deeper]\n\"x\"=dword:00000001\n"),
            std::string::npos);

  std::string file = (dir_ / "export.reg").string();
  std::string error;
  ASSERT_TRUE(ExportRegFile("HKEY_CURRENT_USER\\Software\\Export", file, &error)) << error;
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Export"), ERROR_SUCCESS);
  ASSERT_TRUE(ImportRegFile(file, &error)) << error;
  std::string second;
  ASSERT_EQ(ExportRegText("HKEY_CURRENT_USER\\Software\\Export", &second), ERROR_SUCCESS);
  EXPECT_EQ(second, first);

  // The bytes, not only the text, came back.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Export", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegValue v;
  ASSERT_EQ(RegReadValue(key, "unterminated", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, Utf16Bytes(u"raw", false));
  ASSERT_EQ(RegReadValue(key, "odd type", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.type, 0x12345u);
  RegCloseKey(key);
}

TEST_F(RegFile, ImportAppliesDeletionsAndStopsAtRefusals) {
  std::string error;
  ASSERT_TRUE(ImportRegText("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Imp\\Old]\n\"a\"=\"1\"\n\"b\"=\"2\"\n",
                            &error))
      << error;
  ASSERT_TRUE(ImportRegText("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Imp]\n\"keep\"=dword:1\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Imp\\Old]\n\"a\"=-\n\"never there\"=-\n"
                            "[-HKEY_LOCAL_MACHINE\\Software\\Imp\\Missing]\n",
                            &error))
      << error;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Imp\\Old", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<RegValue> values;
  RegListValues(key, &values);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "b");
  RegCloseKey(key);
  ASSERT_TRUE(ImportRegText("Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\Software\\Imp]\n", &error));
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Imp", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  // A malformed file changes nothing, even where its start is fine.
  EXPECT_FALSE(ImportRegText("Windows Registry Editor Version 5.00\n[HKCU\\Software\\Half]\n\"a\"=\"1\"\n\"b\"=oops\n",
                             &error));
  EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Half", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  // The registry's refusal is reported with the line.
  EXPECT_FALSE(ImportRegText("Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\nobody\\x]\n", &error));
  EXPECT_EQ(error.rfind("line 3: cannot create key \"HKEY_USERS\\nobody\\x\"", 0), 0u) << error;
  EXPECT_FALSE(ImportRegFile((dir_ / "missing.reg").string(), &error));
  EXPECT_NE(error.find("missing.reg"), std::string::npos);
}

}  // namespace
