#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/registry_text.h"
#include "platform/text.h"
#include "registry_test_support.h"

using namespace plat;
using regtest::Bytes;
using regtest::Utf16Bytes;

extern char** environ;

namespace {

class Registry : public regtest::RegistryFolder {
 protected:
  HKEY Create(HKEY parent, const wchar_t* path, DWORD access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    return key;
  }
  static std::vector<BYTE> Query(HKEY key, const wchar_t* name, DWORD* type) {
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS);
    std::vector<BYTE> data(size);
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
    data.resize(size);
    return data;
  }
  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(Registry, EveryTypeKeepsItsBytesAndType) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Types");
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {L"sz", REG_SZ, Utf16Bytes(u"Gr\u00fc\u00dfe \U0001F600")},
      {L"sz without terminator", REG_SZ, Utf16Bytes(u"abc", false)},
      {L"expand", REG_EXPAND_SZ, Utf16Bytes(u"%HOME%\\x")},
      {L"multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"one\0two\0\0", 9), false)},
      {L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
      {L"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0x80}},
      {L"binary", REG_BINARY, {0, 0xFF, 0, 0x10}},
      {L"none", REG_NONE, {}},
      {L"big endian", 5, {0, 0, 0, 1}},
      {L"odd type", 0xDEADBEEF, {9, 8, 7}},
      {L"", REG_SZ, Utf16Bytes(u"default")},
  };
  for (const Case& c : cases)
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  for (const Case& c : cases) {
    DWORD type = 0;
    EXPECT_EQ(Query(key, c.name, &type), c.data) << ToUtf8(c.name);
    EXPECT_EQ(type, c.type);
  }
  // Enumeration hands back the same, in creation order.
  for (DWORD i = 0; i < std::size(cases); ++i) {
    wchar_t name[64];
    DWORD nameChars = 64, type = 0, size = 64;
    BYTE data[64];
    ASSERT_EQ(RegEnumValueW(key, i, name, &nameChars, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), cases[i].name);
    EXPECT_EQ(nameChars, std::wcslen(cases[i].name));
    EXPECT_EQ(type, cases[i].type);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), cases[i].data);
  }
  wchar_t name[8];
  DWORD nameChars = 8;
  EXPECT_EQ(RegEnumValueW(key, std::size(cases), name, &nameChars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Registry, QueryReportsSizesAndShortBuffers) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Sizes");
  std::vector<BYTE> value = Utf16Bytes(u"twelve chars");
  ASSERT_EQ(RegSetValueExW(key, L"v", 0, REG_SZ, value.data(), static_cast<DWORD>(value.size())),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 26u);
  BYTE small[10];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 26u);
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, &type, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, L"v", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  // Short name buffers in enumeration.
  wchar_t name[1];
  DWORD nameChars = 1;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(key);
}

TEST_F(Registry, AnsiCallsConvertStringsOnly) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Ansi");
  std::vector<BYTE> wide = Utf16Bytes(u"Gr\u00fc\u00dfe");
  ASSERT_EQ(RegSetValueExW(key, L"w", 0, REG_SZ, wide.data(), static_cast<DWORD>(wide.size())), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "w", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);  // "Grüße" is 7 bytes of UTF-8, plus the zero
  std::vector<BYTE> narrow(size);
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "w", nullptr, &type, narrow.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  ASSERT_EQ(RegQueryValueExA(key, "w", nullptr, &type, narrow.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(narrow, Bytes(std::string("Gr\xC3\xBC\xC3\x9F" "e", 8)));

  std::string multi("a\xC3\xA9\0b\0\0", 7);
  ASSERT_EQ(RegSetValueExA(key, "m", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()), 7),
            ERROR_SUCCESS);
  EXPECT_EQ(Query(key, L"m", &type), Utf16Bytes(std::u16string(u"a\u00e9\0b\0\0", 6), false));
  EXPECT_EQ(type, REG_MULTI_SZ);

  BYTE raw[] = {0xC3, 0xBC, 0, 0};
  ASSERT_EQ(RegSetValueExA(key, "bin", 0, REG_BINARY, raw, 4), ERROR_SUCCESS);
  EXPECT_EQ(Query(key, L"bin", &type), std::vector<BYTE>(raw, raw + 4));

  char name[16];
  DWORD nameChars = sizeof name;
  BYTE data[16];
  size = sizeof data;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameChars, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "w");
  EXPECT_EQ(std::vector<BYTE>(data, data + size), narrow);
  RegCloseKey(key);

  // Text through a fixed buffer whose last byte stays zero: just fitting,
  // one byte too long (never cut), no text, missing value and missing key.
  std::string text = "old";
  bool keyFound = false;
  EXPECT_TRUE(RegReadTextA(HKEY_CURRENT_USER, "Software\\Ansi", "w", 9, &text, &keyFound));
  EXPECT_EQ(text, "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_FALSE(RegReadTextA(HKEY_CURRENT_USER, "Software\\Ansi", "w", 8, &text, &keyFound));
  EXPECT_TRUE(keyFound);
  EXPECT_FALSE(RegReadTextA(HKEY_CURRENT_USER, "Software\\Ansi", "bin", 64, &text));
  EXPECT_FALSE(RegReadTextA(HKEY_CURRENT_USER, "Software\\Ansi", "none", 64, &text));
  EXPECT_FALSE(RegReadTextA(HKEY_CURRENT_USER, "Software\\Missing", "w", 64, &text, &keyFound));
  EXPECT_FALSE(keyFound);
  EXPECT_EQ(text, "Gr\xC3\xBC\xC3\x9F" "e");
}

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\MyApp\\Settings");
  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\myapp\\settings", 0, KEY_READ, &again), ERROR_SUCCESS);
  DWORD disposition = 0;
  HKEY created = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"software\\MYAPP", 0, nullptr, 0, KEY_READ, nullptr, &created,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  wchar_t name[32];
  ASSERT_EQ(RegEnumKeyW(created, 0, name, 32), ERROR_SUCCESS);
  EXPECT_STREQ(name, L"Settings");

  DWORD one = 1, two = 2;
  ASSERT_EQ(RegSetValueExW(key, L"Width", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"Height", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"WIDTH", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query(again, L"width", &type), std::vector<BYTE>({2, 0, 0, 0}));
  wchar_t valueName[32];
  DWORD chars = 32;
  ASSERT_EQ(RegEnumValueW(again, 0, valueName, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(valueName, L"Width");  // first spelling kept, first place kept
  DWORD subKeys = 9, values = 9;
  ASSERT_EQ(RegQueryInfoKeyW(again, &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 2u);
  // Case folding is not limited to ASCII.
  HKEY umlaut = Create(HKEY_CURRENT_USER, L"Software\\\u00c4rger");
  HKEY lower = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\\u00e4RGER", 0, KEY_READ, &lower), ERROR_SUCCESS);
  for (HKEY k : {key, again, created, umlaut, lower}) RegCloseKey(k);
}

TEST_F(Registry, SubkeysEnumerateAlphabeticallyValuesInCreationOrder) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Order");
  for (const wchar_t* sub : {L"beta", L"Alpha", L"gamma", L"Delta", L"alphabet"}) RegCloseKey(Create(key, sub));
  std::vector<std::wstring> names;
  wchar_t name[32];
  for (DWORD i = 0; RegEnumKeyW(key, i, name, 32) == ERROR_SUCCESS; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"alphabet", L"beta", L"Delta", L"gamma"}));
  std::vector<std::string> listed;
  ASSERT_EQ(RegListSubKeys(key, &listed), ERROR_SUCCESS);
  EXPECT_EQ(listed, (std::vector<std::string>{"Alpha", "alphabet", "beta", "Delta", "gamma"}));

  BYTE b = 1;
  for (const wchar_t* v : {L"zulu", L"alpha", L"mike"}) RegSetValueExW(key, v, 0, REG_BINARY, &b, 1);
  RegSetValueExW(key, L"alpha", 0, REG_BINARY, &b, 1);  // an update keeps its place
  RegDeleteValueW(key, L"zulu");
  RegSetValueExW(key, L"zulu", 0, REG_BINARY, &b, 1);  // re-created: now last
  std::vector<RegValue> values;
  ASSERT_EQ(RegListValues(key, &values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "alpha");
  EXPECT_EQ(values[1].name, "mike");
  EXPECT_EQ(values[2].name, "zulu");

  DWORD chars = 3;  // "Alpha" does not fit
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  chars = 32;
  DWORD lastWrite[2] = {0, 0};
  ASSERT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, lastWrite), ERROR_SUCCESS);
  EXPECT_EQ(chars, 5u);
  EXPECT_NE(lastWrite[1], 0u);
  EXPECT_EQ(RegEnumKeyW(key, 5, name, 32), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Registry, DeletingKeysAndTrees) {
  HKEY top = Create(HKEY_CURRENT_USER, L"Software\\Tree");
  HKEY leaf = Create(top, L"a\\b\\c");
  BYTE b = 7;
  ASSERT_EQ(RegSetValueExW(leaf, L"v", 0, REG_BINARY, &b, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(top, L"a"), ERROR_ACCESS_DENIED);  // has subkeys
  EXPECT_EQ(RegDeleteKeyW(top, L"missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(top, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), ERROR_ACCESS_DENIED);  // a hive's top key stays
  ASSERT_EQ(SHDeleteKeyW(top, L"a"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(top, L"a\\b", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(gone, nullptr);
  // The handle to the deleted key knows it, even after a key of the same
  // name is made again.
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(leaf, L"v", nullptr, &type, nullptr, nullptr), ERROR_KEY_DELETED);
  RegCloseKey(Create(top, L"a\\b\\c"));
  EXPECT_EQ(RegSetValueExW(leaf, L"v", 0, REG_BINARY, &b, 1), ERROR_KEY_DELETED);
  wchar_t name[8];
  EXPECT_EQ(RegEnumKeyW(leaf, 0, name, 8), ERROR_KEY_DELETED);
  RegCloseKey(leaf);
  // A key without subkeys goes with RegDeleteKey, and so does a key by its
  // own handle (empty subkey).
  ASSERT_EQ(RegDeleteKeyW(top, L"a\\b\\c"), ERROR_SUCCESS);
  HKEY b2 = Create(top, L"a\\b");
  ASSERT_EQ(RegDeleteKeyW(b2, L""), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryInfoKeyW(b2, nullptr, nullptr), ERROR_KEY_DELETED);
  RegCloseKey(b2);
  DWORD subKeys = 9;
  ASSERT_EQ(RegQueryInfoKeyW(top, &subKeys, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);  // "a" is left
  ASSERT_EQ(SHDeleteKeyW(top, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tree", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegCloseKey(top);
}

TEST_F(Registry, AccessRightsOfTheHandleAreHonoured) {
  RegCloseKey(Create(HKEY_CURRENT_USER, L"Software\\Rights\\Sub"));
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Rights", 0, KEY_READ, &reader), ERROR_SUCCESS);
  BYTE b = 1;
  EXPECT_EQ(RegSetValueExW(reader, L"v", 0, REG_BINARY, &b, 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader, L"v"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(reader, L"Sub"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SHDeleteKeyW(reader, L"Sub"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExW(reader, L"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_ACCESS_DENIED);
  // Opening an existing key through it is reading, not writing.
  ASSERT_EQ(RegCreateKeyExW(reader, L"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(sub, L"v", 0, REG_BINARY, &b, 1), ERROR_SUCCESS);
  RegCloseKey(sub);

  HKEY writer = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Rights", 0, KEY_WRITE, &writer), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(writer, L"v", 0, REG_BINARY, &b, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(writer, L"v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  wchar_t name[8];
  EXPECT_EQ(RegEnumKeyW(writer, 0, name, 8), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExW(reader, L"v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  RegCloseKey(reader);
  RegCloseKey(writer);
}

TEST_F(Registry, HandlesAreCheckedAndEmptySubkeyReopens) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Handles");
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
  EXPECT_NE(same, key);
  HKEY same2 = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &same2), ERROR_SUCCESS);
  DWORD v = 5;
  ASSERT_EQ(RegSetValueExW(key, L"n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(same2, L"n", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(same), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(same, L"n", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(nullptr, L"n", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined: nothing to do
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER), 0x80000001u);
  EXPECT_EQ(RegOpenKeyExW(key, L"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  std::wstring tooLong(256, L'k');
  HKEY bad = nullptr;
  EXPECT_EQ(RegCreateKeyExW(key, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(same2);
  RegCloseKey(key);
}

TEST_F(Registry, LocationsFollowTheEnvironmentAndReadsCreateNothing) {
  EXPECT_EQ(RegistryDirectory(), dir_.string());
  EXPECT_EQ(RegistryHivePath(HKEY_LOCAL_MACHINE), (dir_ / "machine.db").string());
  std::string user = RegistryHivePath(HKEY_CURRENT_USER);
  EXPECT_EQ(user.rfind((dir_ / "users").string() + "/", 0), 0u) << user;

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
  wchar_t name[8];
  EXPECT_EQ(RegEnumKeyW(key, 0, name, 8), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegQueryValueExW(key, L"", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, L"x"), ERROR_ACCESS_DENIED);  // opened for reading
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));

  RegCloseKey(Create(HKEY_LOCAL_MACHINE, L"Software"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "machine.db"));

  // Without the override the user's hive is in the XDG data folder; one
  // that earlier versions kept in the configuration folder stays in use
  // until the data folder has one.
  unsetenv("NORV_REGISTRY_DIR");
  const std::string data = (dir_ / "data").string(), config = (dir_ / "config").string();
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), data + "/norv/registry/user.db");
  EXPECT_EQ(RegistryHivePath(HKEY_LOCAL_MACHINE), "/var/lib/norv/registry/machine.db");
  std::filesystem::create_directories(config + "/norv/registry");
  std::ofstream(config + "/norv/registry/user.db").put('\0');
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), config + "/norv/registry/user.db");
  std::filesystem::create_directories(data + "/norv/registry");
  std::ofstream(data + "/norv/registry/user.db").put('\0');
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), data + "/norv/registry/user.db");
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  setenv("XDG_DATA_HOME", "relative", 1);
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/nonexistent-home", 1);
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER),
            "/nonexistent-home/.local/share/norv/registry/user.db");
  if (home) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
  unsetenv("XDG_DATA_HOME");
  setenv("NORV_REGISTRY_DIR", dir_.c_str(), 1);
}

TEST_F(Registry, UsersListsTheUserHives) {
  HKEY mine = Create(HKEY_CURRENT_USER, L"Software\\Mine");
  DWORD v = 42;
  ASSERT_EQ(RegSetValueExW(mine, L"answer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  RegCloseKey(mine);
  std::filesystem::path userFile = RegistryHivePath(HKEY_CURRENT_USER);
  std::string login = userFile.stem().string();
  // Another user's hive: a copy of ours (with its write-ahead log).
  std::filesystem::copy_file(userFile, dir_ / "users" / "zoe.db");
  std::filesystem::copy_file(userFile.string() + "-wal", dir_ / "users" / "zoe.db-wal");

  std::vector<std::string> users;
  ASSERT_EQ(RegListSubKeys(HKEY_USERS, &users), ERROR_SUCCESS);
  std::vector<std::string> expected{login, "zoe"};
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return FoldCase(a) < FoldCase(b); });
  EXPECT_EQ(users, expected);

  HKEY zoe = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "zoe\\Software\\Mine", 0, KEY_ALL_ACCESS, &zoe), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query(zoe, L"answer", &type), std::vector<BYTE>({42, 0, 0, 0}));
  v = 7;
  ASSERT_EQ(RegSetValueExW(zoe, L"answer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  RegCloseKey(zoe);
  HKEY me = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (login + "\\Software\\Mine").c_str(), 0, KEY_READ, &me), ERROR_SUCCESS);
  EXPECT_EQ(Query(me, L"answer", &type), std::vector<BYTE>({42, 0, 0, 0}));  // hives are separate
  RegCloseKey(me);

  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, L"nobody", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, L"..\\x", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCreateKeyExW(HKEY_USERS, L"nobody\\x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &none, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SHDeleteKeyW(HKEY_USERS, L"zoe"), ERROR_ACCESS_DENIED);
  BYTE b = 0;
  EXPECT_EQ(RegSetValueExW(HKEY_USERS, L"x", 0, REG_BINARY, &b, 1), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "users" / "nobody.db"));
}

TEST_F(Registry, CorruptHiveIsReportedReadsEmptyAndIsNeverWritten) {
  std::filesystem::path file = dir_ / "machine.db";
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919) % 251);
  std::ofstream(file, std::ios::binary) << garbage;

  testing::internal::CaptureStderr();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  wchar_t name[8];
  EXPECT_EQ(RegEnumKeyW(HKEY_LOCAL_MACHINE, 0, name, 8), ERROR_NO_MORE_ITEMS);
  DWORD subKeys = 9;
  EXPECT_EQ(RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, &subKeys, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_BADDB);
  BYTE b = 1;
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"v", 0, REG_BINARY, &b, 1), ERROR_BADDB);
  EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software"), ERROR_BADDB);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find(file.string()), std::string::npos) << errors;
  EXPECT_EQ(errors.find(file.string()), errors.rfind(file.string())) << "reported more than once: " << errors;
  EXPECT_EQ(ReadFile(file), garbage);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "machine.db-wal"));

  // Once the damaged file is replaced the hive works again.
  std::filesystem::remove(file);
  HKEY fresh = Create(HKEY_LOCAL_MACHINE, L"Software");
  EXPECT_NE(fresh, nullptr);
  RegCloseKey(fresh);
}

TEST_F(Registry, HiveReplacedWhileInUseIsCheckedAgain) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Swap");
  BYTE b = 1;
  ASSERT_EQ(RegSetValueExW(key, L"v", 0, REG_BINARY, &b, 1), ERROR_SUCCESS);
  std::filesystem::path file = dir_ / "machine.db", replacement = dir_ / "new.db";
  std::ofstream(replacement, std::ios::binary) << std::string(4096, '\x5a');
  std::filesystem::rename(replacement, file);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(key, L"v", 0, REG_BINARY, &b, 1), ERROR_BADDB);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(file.string()), std::string::npos);
  EXPECT_EQ(ReadFile(file), std::string(4096, '\x5a'));
  RegCloseKey(key);

  // A folder where the hive should be is no hive either.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"v", 0, REG_BINARY, &b, 1), ERROR_BADDB);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not a regular file"), std::string::npos);
}

TEST_F(Registry, ForeignDatabaseIsNotTakenForAHive) {
  std::filesystem::path file = dir_ / "machine.db";
  {
    // A sound SQLite file that is not ours, written through the sqlite3 shell
    // format-free way: an existing hive of another layout.
    std::string sql = "sqlite3 '" + file.string() + "' 'CREATE TABLE t(x); INSERT INTO t VALUES(1);'";
    if (std::system(sql.c_str()) != 0) GTEST_SKIP() << "no sqlite3 shell";
  }
  std::string before = ReadFile(file);
  testing::internal::CaptureStderr();
  BYTE b = 1;
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"v", 0, REG_BINARY, &b, 1), ERROR_BADDB);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("not a registry hive"), std::string::npos) << errors;
  EXPECT_EQ(ReadFile(file), before);
}

TEST_F(Registry, ThreadsShareHandlesAndHives) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([key, t] {
      HKEY own = nullptr;
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Threads", 0, KEY_ALL_ACCESS, &own);
      for (DWORD i = 0; i < 250; ++i) {
        std::wstring name = L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i);
        RegSetValueExW(i % 2 ? own : key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4);
      }
      RegCloseKey(own);
    });
  }
  for (auto& t : threads) t.join();
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 1000u);
  RegCloseKey(key);
}

// A child made by fork() after the parent used a hive opens its own
// connection; both go on working.
TEST_F(Registry, ForkedChildUsesItsOwnConnection) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Fork");
  DWORD v = 1;
  ASSERT_EQ(RegSetValueExW(key, L"parent", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    DWORD c = 2;
    LONG rc = RegSetValueExW(key, L"child", 0, REG_DWORD, reinterpret_cast<BYTE*>(&c), 4);
    _exit(rc == ERROR_SUCCESS ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(RegSetValueExW(key, L"after", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 3u);
  RegCloseKey(key);
}

// Two processes write one hive at once; every write must arrive.
TEST_F(Registry, TwoProcessesWritingOneHiveLoseNothing) {
  constexpr int kWrites = 10000;
  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    std::string count = std::to_string(kWrites);
    char* argv[] = {const_cast<char*>(REGISTRY_WRITER), const_cast<char*>(prefix), count.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, REGISTRY_WRITER, nullptr, nullptr, argv, environ), 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<RegValue> values;
  ASSERT_EQ(RegListValues(key, &values), ERROR_SUCCESS);
  EXPECT_EQ(values.size(), static_cast<size_t>(2 * kWrites));
  int right = 0;
  for (const RegValue& v : values) {
    DWORD n = 0;
    if (v.data.size() == 4) std::memcpy(&n, v.data.data(), 4);
    if (v.type == REG_DWORD && v.name == (v.name.substr(0, 1) + std::to_string(n))) ++right;
  }
  EXPECT_EQ(right, 2 * kWrites);
  RegCloseKey(key);
}

}  // namespace

namespace {

// Read-modify-write is one transaction: two processes appending to one value
// at once lose no addition; a refusal or an emptied value behaves as stated.
TEST_F(Registry, UpdateValueIsOneTransactionAcrossProcesses) {
  constexpr int kAppends = 300;
  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    std::string count = std::to_string(kAppends);
    char* argv[] = {const_cast<char*>(REGISTRY_WRITER), const_cast<char*>("--append"),
                    const_cast<char*>(prefix), count.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, REGISTRY_WRITER, nullptr, nullptr, argv, environ), 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegValue log;
  ASSERT_EQ(RegReadValue(key, "Log", &log), ERROR_SUCCESS);
  std::string text(log.data.begin(), log.data.end());
  for (const char* prefix : {"a", "b"})
    for (int i = 0; i < kAppends; ++i)
      EXPECT_NE(text.find(prefix + std::to_string(i) + ";"), std::string::npos) << prefix << i;
  EXPECT_EQ(std::count(text.begin(), text.end(), ';'), 2 * kAppends);

  // A refusal leaves the value as it was and comes back as the result.
  auto refuse = [](std::optional<RegValue>* value) -> LONG {
    (*value)->data.clear();
    return ERROR_INVALID_DATA;
  };
  EXPECT_EQ(RegUpdateValue(key, "Log", refuse), ERROR_INVALID_DATA);
  ASSERT_EQ(RegReadValue(key, "Log", &log), ERROR_SUCCESS);
  EXPECT_EQ(log.data.size(), text.size());
  // Emptying deletes; an absent value arrives empty.
  EXPECT_EQ(RegUpdateValue(key, "Log", [](std::optional<RegValue>* value) -> LONG {
              value->reset();
              return ERROR_SUCCESS;
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(RegReadValue(key, "Log", &log), ERROR_FILE_NOT_FOUND);
  bool arrivedEmpty = false;
  EXPECT_EQ(RegUpdateValue(key, "Log", [&](std::optional<RegValue>* value) -> LONG {
              arrivedEmpty = !value->has_value();
              return ERROR_SUCCESS;
            }),
            ERROR_SUCCESS);
  EXPECT_TRUE(arrivedEmpty);
  EXPECT_EQ(RegReadValue(key, "Log", &log), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegUpdateValue(readOnly, "Log", refuse), ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
}

}  // namespace
