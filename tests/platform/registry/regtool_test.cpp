// regtool end to end: the built program run against a private registry.
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "platform/reg_file.h"
#include "registry_test_support.h"

using namespace plat;

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

class Regtool : public regtest::RegistryFolder {
 protected:
  // Runs regtool with the arguments (each passed as one word) and no input.
  Result Run(const std::vector<std::string>& args) {
    std::string command = "'" REGTOOL "'";
    for (const std::string& a : args) {
      std::string quoted;
      for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      command += " '" + quoted + "'";
    }
    std::string out = (dir_ / "out.txt").string(), err = (dir_ / "err.txt").string();
    command += " >'" + out + "' 2>'" + err + "' </dev/null";
    Result r;
    int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  static std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(Regtool, AddAndQueryLikeReg) {
  const std::string key = "HKCU\\Software\\Tool";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add", key, "/v", "Name", "/d", "Hello \"world\""},
           {"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "0x2A"},
           {"add", key, "/v", "Big", "/t", "reg_qword", "/d", "4294967296"},
           {"add", key, "/v", "Raw", "/t", "REG_BINARY", "/d", "00ff10"},
           {"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a,b", "/s", ","},
           {"add", key, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%HOME%\\bin"},
           {"add", key, "/ve", "/d", "default"},
           {"add", key + "\\Child", "/v", "x", "/t", "REG_DWORD", "/d", "7"},
       }) {
    Result r = Run(args);
    ASSERT_EQ(r.status, 0) << args[3] << ": " << r.err;
    EXPECT_EQ(r.out, "The operation completed successfully.\n");
  }
  Result r = Run({"query", key});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\nHKEY_CURRENT_USER\\Software\\Tool\n"
            "    Name    REG_SZ    Hello \"world\"\n"
            "    Count    REG_DWORD    0x2a\n"
            "    Big    REG_QWORD    0x100000000\n"
            "    Raw    REG_BINARY    00FF10\n"
            "    List    REG_MULTI_SZ    a\\0b\n"
            "    Path    REG_EXPAND_SZ    %HOME%\\bin\n"
            "    (Default)    REG_SZ    default\n"
            "\nHKEY_CURRENT_USER\\Software\\Tool\\Child\n");

  r = Run({"query", "HKEY_CURRENT_USER\\Software\\Tool", "/v", "count"});
  EXPECT_EQ(r.out, "\nHKEY_CURRENT_USER\\Software\\Tool\n    Count    REG_DWORD    0x2a\n\n");
  r = Run({"query", key, "/v", "x", "/s"});
  EXPECT_EQ(r.out,
            "\nHKEY_CURRENT_USER\\Software\\Tool\\Child\n    x    REG_DWORD    0x7\n\n"
            "End of search: 1 match(es) found.\n");
  r = Run({"query", key, "/s"});
  EXPECT_NE(r.out.find("\nHKEY_CURRENT_USER\\Software\\Tool\\Child\n    x    REG_DWORD    0x7\n"),
            std::string::npos)
      << r.out;

  // The stored bytes are the registry's own forms.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tool", 0, KEY_READ, &k), ERROR_SUCCESS);
  RegValue v;
  ASSERT_EQ(RegReadValue(k, "List", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, regtest::Utf16Bytes(std::u16string(u"a\0b\0\0", 5), false));
  ASSERT_EQ(RegReadValue(k, "Big", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, std::vector<BYTE>({0, 0, 0, 0, 1, 0, 0, 0}));
  RegCloseKey(k);
}

TEST_F(Regtool, ExistingValuesAndKeysNeedConfirmation) {
  ASSERT_EQ(Run({"add", "HKLM\\Software\\C", "/v", "v", "/d", "one"}).status, 0);
  Result r = Run({"add", "HKLM\\Software\\C", "/v", "v", "/d", "two"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("The operation was cancelled."), std::string::npos);
  r = Run({"delete", "HKLM\\Software\\C"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(Run({"query", "HKLM\\Software\\C", "/v", "v"}).out.find("one"), std::string::npos);
  EXPECT_EQ(Run({"add", "HKLM\\Software\\C", "/v", "v", "/d", "two", "/f"}).status, 0);
  EXPECT_NE(Run({"query", "HKLM\\Software\\C", "/v", "v"}).out.find("two"), std::string::npos);

  ASSERT_EQ(Run({"add", "HKLM\\Software\\C", "/v", "w", "/d", "x"}).status, 0);
  EXPECT_EQ(Run({"delete", "HKLM\\Software\\C", "/v", "v", "/f"}).status, 0);
  EXPECT_EQ(Run({"query", "HKLM\\Software\\C", "/v", "v"}).status, 1);
  EXPECT_EQ(Run({"delete", "HKLM\\Software\\C", "/va", "/f"}).status, 0);
  EXPECT_EQ(Run({"query", "HKLM\\Software\\C"}).out, "\nHKEY_LOCAL_MACHINE\\Software\\C\n\n");
  EXPECT_EQ(Run({"delete", "HKLM\\Software", "/f"}).status, 0);
  r = Run({"query", "HKLM\\Software"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: The system was unable to find the specified registry key or value.\n");
}

TEST_F(Regtool, ExportAndImport) {
  ASSERT_EQ(Run({"add", "HKCU\\Software\\X\\Y", "/v", "q", "/t", "REG_QWORD", "/d", "5"}).status, 0);
  ASSERT_EQ(Run({"add", "HKCU\\Software\\X", "/v", "s", "/d", "text"}).status, 0);
  std::string expected;
  ASSERT_EQ(ExportRegText("HKEY_CURRENT_USER\\Software\\X", &expected), ERROR_SUCCESS);
  std::string file = (dir_ / "x.reg").string();
  Result r = Run({"export", "HKCU\\Software\\X", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(file), expected);
  EXPECT_EQ(Run({"export", "HKCU\\Software\\X", file}).status, 1);  // exists, not confirmed
  EXPECT_EQ(Run({"export", "HKCU\\Software\\X", file, "/y"}).status, 0);

  ASSERT_EQ(Run({"delete", "HKCU\\Software\\X", "/f"}).status, 0);
  r = Run({"import", file});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string again;
  ASSERT_EQ(ExportRegText("HKEY_CURRENT_USER\\Software\\X", &again), ERROR_SUCCESS);
  EXPECT_EQ(again, expected);

  std::ofstream(dir_ / "bad.reg") << "Windows Registry Editor Version 5.00\n\n[HKCU\\Software\\Z]\n\"v\"=dword:xyz\n";
  r = Run({"import", (dir_ / "bad.reg").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 4: dword:"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"query", "HKCU\\Software\\Z"}).status, 1);
}

TEST_F(Regtool, BadCommandLinesFailClearly) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string error;
  } cases[] = {
      {{}, 2, "ERROR: Invalid syntax. No operation given."},
      {{"frobnicate"}, 2, "ERROR: Invalid syntax. Unknown operation"},
      {{"query"}, 2, "ERROR: Invalid syntax. Missing arguments."},
      {{"query", "HKCR\\x"}, 2, "ERROR: Invalid syntax. Invalid key name"},
      {{"query", "HKCU", "/q"}, 2, "ERROR: Invalid syntax. Unknown switch"},
      {{"query", "HKCU", "/v"}, 2, "ERROR: Invalid syntax. Switch \"/v\" needs a value."},
      {{"add", "HKCU\\a", "/d", "x"}, 2, "ERROR: Invalid syntax. /t, /s and /d need /v or /ve."},
      {{"add", "HKCU\\a", "/v", "n", "/t", "REG_WHATEVER"}, 2, "ERROR: Invalid syntax. Unknown type"},
      {{"add", "HKCU\\a", "/v", "n", "/t", "REG_DWORD", "/d", "-1"}, 1, "ERROR: Invalid data for REG_DWORD"},
      {{"add", "HKCU\\a", "/v", "n", "/t", "REG_BINARY", "/d", "abc"}, 1, "ERROR: Invalid data for REG_BINARY"},
      {{"add", "HKU\\nobody\\x"}, 1, "ERROR: Access is denied."},
      {{"delete", "HKCU", "/f"}, 1, "ERROR: A root key cannot be deleted."},
      {{"import", "/nonexistent/file.reg"}, 1, "ERROR: cannot open \"/nonexistent/file.reg\""},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << r.err;
  }
  Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("regtool query KEY"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "users" / "nobody.db"));
}

}  // namespace
