#include <gtest/gtest.h>

#include "foundation_test_support.h"
#include "norv/NorvRegistryKey.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

using plat::HKEY_CURRENT_USER;

// Stores a value with an explicit type and raw bytes, the way another
// program might have written it.
void SetRaw(HKEY key, const wchar_t* name, plat::DWORD type, const std::vector<BYTE>& data) {
  ASSERT_EQ(plat::RegSetValueExW(key, name, 0, type, data.empty() ? nullptr : data.data(),
                                 static_cast<plat::DWORD>(data.size())),
            plat::ERROR_SUCCESS);
}

std::vector<BYTE> Utf16z(const std::u16string& text) {
  std::vector<BYTE> out;
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

class RegistryKeyTest : public ::testing::Test {
 protected:
  norvtest::FreshRegistry registry_;
};

TEST_F(RegistryKeyTest, MissingKeyOpenedForReadingFailsEveryCallAndChangesNothing) {
  CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\NoSuchKey", plat::KEY_READ);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(static_cast<HKEY>(key), nullptr);

  NorvString text = L"unchanged";
  UINT number = 77;
  NorvStringArray strings = {L"a"};
  NorvUIntArray numbers = {1, 2};
  NorvStringArray names = {L"n"}, values = {L"v"};
  EXPECT_FALSE(key.GetStringValue(L"x", text));
  EXPECT_FALSE(key.GetUIntValue(L"x", number));
  EXPECT_FALSE(key.GetStringArray(L"x", strings));
  EXPECT_FALSE(key.GetUIntArray(L"x", numbers));
  EXPECT_FALSE(key.GetEnumStrings(names, values));
  EXPECT_FALSE(key.GetEnumKeys(names));
  EXPECT_EQ(text, L"unchanged");
  EXPECT_EQ(number, 77u);
  EXPECT_EQ(strings, NorvStringArray{L"a"});
  EXPECT_EQ(numbers, (NorvUIntArray{1, 2}));
  EXPECT_EQ(names, NorvStringArray{L"n"});

  EXPECT_FALSE(key.SetStringValue(L"x", L"y"));
  EXPECT_FALSE(key.SetUIntValue(L"x", 1));
  // Reading did not create the key.
  CNorvRegistryKey again(HKEY_CURRENT_USER, L"SOFTWARE\\NoSuchKey", plat::KEY_READ);
  EXPECT_FALSE(again.IsOpen());
}

TEST_F(RegistryKeyTest, WriteAccessCreatesTheKeyAndValuesRoundTrip) {
  {
    CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\Made\\Here", plat::KEY_WRITE);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_TRUE(key.SetStringValue(L"Text", L"Grüße \u20AC \U0001F600"));
    EXPECT_TRUE(key.SetUIntValue(L"Number", 0xFFFFFFFFu));
    EXPECT_TRUE(key.SetStringArray(L"List", {L"one", L"", L"three"}));
    EXPECT_TRUE(key.SetUIntArray(L"Numbers", {0, 1, 0x80000000u, 0xDEADBEEFu}));
    EXPECT_TRUE(key.SetStringValue(L"Empty", L""));
    EXPECT_TRUE(key.SetStringArray(L"NoItems", {}));
  }
  CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\Made\\Here", plat::KEY_READ);
  ASSERT_TRUE(key.IsOpen());
  NorvString text;
  EXPECT_TRUE(key.GetStringValue(L"text", text));  // names ignore case
  EXPECT_EQ(text, L"Grüße \u20AC \U0001F600");
  UINT number = 0;
  EXPECT_TRUE(key.GetUIntValue(L"Number", number));
  EXPECT_EQ(number, 0xFFFFFFFFu);
  NorvStringArray list = {L"stale", L"entries", L"beyond", L"the", L"result"};
  EXPECT_TRUE(key.GetStringArray(L"List", list));
  EXPECT_EQ(list, (NorvStringArray{L"one", L"", L"three"}));
  NorvUIntArray numbers;
  EXPECT_TRUE(key.GetUIntArray(L"Numbers", numbers));
  EXPECT_EQ(numbers, (NorvUIntArray{0, 1, 0x80000000u, 0xDEADBEEFu}));
  EXPECT_TRUE(key.GetStringValue(L"Empty", text));
  EXPECT_EQ(text, L"");
  NorvStringArray none = {L"x"};
  EXPECT_TRUE(key.GetStringArray(L"NoItems", none));
  EXPECT_TRUE(none.empty());
}

TEST_F(RegistryKeyTest, ValueOfAnotherTypeIsNotReturned) {
  CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\Types", plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  SetRaw(key, L"Expand", plat::REG_EXPAND_SZ, Utf16z(u"%HOME%/x"));
  SetRaw(key, L"Multi", plat::REG_MULTI_SZ, Utf16z(u"a"));
  ASSERT_TRUE(key.SetUIntValue(L"Number", 5));
  ASSERT_TRUE(key.SetStringValue(L"Text", L"5"));

  NorvString text = L"before";
  EXPECT_FALSE(key.GetStringValue(L"Expand", text));
  EXPECT_FALSE(key.GetStringValue(L"Multi", text));
  EXPECT_FALSE(key.GetStringValue(L"Number", text));
  EXPECT_EQ(text, L"before");
  UINT number = 9;
  EXPECT_FALSE(key.GetUIntValue(L"Text", number));
  EXPECT_EQ(number, 9u);
  NorvStringArray list = {L"keep"};
  EXPECT_FALSE(key.GetStringArray(L"Text", list));
  EXPECT_EQ(list, NorvStringArray{L"keep"});
  NorvUIntArray numbers = {4};
  EXPECT_FALSE(key.GetUIntArray(L"Number", numbers));  // a number is not binary
  EXPECT_EQ(numbers, NorvUIntArray{4});
}

TEST_F(RegistryKeyTest, ValuesBeyondTheLimitsAreRefusedWhole) {
  CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\Limits", plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  // 511 characters and the zero are exactly 1024 bytes; one more is too many.
  ASSERT_TRUE(key.SetStringValue(L"Fits", NorvString(511, L'x')));
  ASSERT_TRUE(key.SetStringValue(L"TooLong", NorvString(512, L'x')));
  NorvString text = L"before";
  EXPECT_TRUE(key.GetStringValue(L"Fits", text));
  EXPECT_EQ(text.size(), 511u);
  text = L"before";
  EXPECT_FALSE(key.GetStringValue(L"TooLong", text));
  EXPECT_EQ(text, L"before");

  // A number must be exactly four bytes.
  SetRaw(key, L"Short", plat::REG_DWORD, {1, 2});
  UINT number = 3;
  EXPECT_FALSE(key.GetUIntValue(L"Short", number));
  EXPECT_EQ(number, 3u);

  // Arrays up to 4096 bytes.
  ASSERT_TRUE(key.SetUIntArray(L"Full", NorvUIntArray(1024, 7)));
  ASSERT_TRUE(key.SetUIntArray(L"Over", NorvUIntArray(1025, 7)));
  NorvUIntArray numbers;
  EXPECT_TRUE(key.GetUIntArray(L"Full", numbers));
  EXPECT_EQ(numbers.size(), 1024u);
  numbers = {1};
  EXPECT_FALSE(key.GetUIntArray(L"Over", numbers));
  EXPECT_EQ(numbers, NorvUIntArray{1});
  NorvStringArray big(1, NorvString(2100, L'y'));
  ASSERT_TRUE(key.SetStringArray(L"BigList", big));
  NorvStringArray list = {L"keep"};
  EXPECT_FALSE(key.GetStringArray(L"BigList", list));
  EXPECT_EQ(list, NorvStringArray{L"keep"});

  // A binary value that is not a whole number of 32-bit words: the tail
  // bytes are ignored.
  SetRaw(key, L"Odd", plat::REG_BINARY, {1, 0, 0, 0, 2, 0});
  EXPECT_TRUE(key.GetUIntArray(L"Odd", numbers));
  EXPECT_EQ(numbers, NorvUIntArray{1});
}

TEST_F(RegistryKeyTest, EnumerationListsValuesAndSubkeysAndSkipsOverlongEntries) {
  CNorvRegistryKey key(HKEY_CURRENT_USER, L"SOFTWARE\\Menu", plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  ASSERT_TRUE(key.SetStringValue(L"Editor", L"vi %ID%"));
  ASSERT_TRUE(key.SetStringValue(L"Huge", NorvString(300, L'h')));
  ASSERT_TRUE(key.SetUIntValue(L"Count", 42));
  ASSERT_TRUE(key.SetStringValue(L"Viewer", L"less"));
  { CNorvRegistryKey sub(key, L"Beta", plat::KEY_WRITE); }
  { CNorvRegistryKey sub(key, L"alpha", plat::KEY_WRITE); }

  NorvStringArray names, values;
  ASSERT_TRUE(key.GetEnumStrings(names, values));
  EXPECT_EQ(names, (NorvStringArray{L"Editor", L"Count", L"Viewer"}));
  EXPECT_EQ(values, (NorvStringArray{L"vi %ID%", L"42", L"less"}));

  NorvStringArray keys;
  ASSERT_TRUE(key.GetEnumKeys(keys));
  EXPECT_EQ(keys, (NorvStringArray{L"alpha", L"Beta"}));

  CNorvRegistryKey empty(HKEY_CURRENT_USER, L"SOFTWARE\\Nothing", plat::KEY_ALL_ACCESS);
  names = {L"x"};
  EXPECT_TRUE(empty.GetEnumStrings(names, values));
  EXPECT_TRUE(names.empty());

  // A key opened without the right to read cannot be listed.
  CNorvRegistryKey writeOnly(HKEY_CURRENT_USER, L"SOFTWARE\\Menu", plat::KEY_WRITE);
  ASSERT_TRUE(writeOnly.IsOpen());
  names = {L"keep"};
  EXPECT_FALSE(writeOnly.GetEnumStrings(names, values));
  EXPECT_EQ(names, NorvStringArray{L"keep"});
}

TEST_F(RegistryKeyTest, PrivateKeyLivesBelowTheNamedSettingsRoot) {
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  EXPECT_EQ(CNorvPrivateRegistryKey::GetPrivateRoot(), L"SOFTWARE\\Velmora\\NORV2.1\\");
  {
    CNorvPrivateRegistryKey key(HKEY_CURRENT_USER, L"Trace", plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.IsOpen());
    ASSERT_TRUE(key.SetUIntValue(L"Level", 3));
  }
  CNorvRegistryKey plain(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\NORV2.1\\Trace", plat::KEY_READ);
  UINT level = 0;
  EXPECT_TRUE(plain.GetUIntValue(L"Level", level));
  EXPECT_EQ(level, 3u);

  // The framework key itself, with an empty subkey.
  CNorvPrivateRegistryKey root(HKEY_CURRENT_USER, L"", plat::KEY_READ);
  EXPECT_TRUE(root.IsOpen());
  NorvStringArray keys;
  EXPECT_TRUE(root.GetEnumKeys(keys));
  EXPECT_EQ(keys, NorvStringArray{L"Trace"});
}

}  // namespace
