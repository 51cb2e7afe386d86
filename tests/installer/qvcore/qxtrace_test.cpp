// Trace lines: where they go, what each carries, and nothing without a file.
#include <unistd.h>

#include <regex>

#include "platform/registry.h"
#include "qx/qxtrace.h"
#include "scratch.h"

namespace {

class QxTrace : public ScratchTest {
 protected:
  void TearDown() override {
    unsetenv("QXTRACE_FILE");
    ScratchTest::TearDown();
  }
};

TEST_F(QxTrace, EnvironmentFileGetsOneStampedLinePerCall) {
  setenv("QXTRACE_FILE", Path("trace.txt").c_str(), 1);
  EXPECT_GT(qxtTrace("BuildPackage: Start %d", 5), 0);
  EXPECT_GT(qxtTrace("ZipTheSend: done\n"), 0);
  std::string text = ReadFile(Path("trace.txt"));
  std::string pid = std::to_string(getpid());
  std::regex whole("(" + std::string("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[") + pid +
                   "\\] [^\n]*\n){2}");
  EXPECT_TRUE(std::regex_match(text, whole)) << text;
  EXPECT_NE(text.find("] BuildPackage: Start 5\n"), std::string::npos);
  EXPECT_NE(text.find("] ZipTheSend: done\n"), std::string::npos);
}

TEST_F(QxTrace, RegistryNamesTheFileWhenTheEnvironmentDoesNot) {
  unsetenv("QXTRACE_FILE");
  EXPECT_EQ(qxtTrace("nowhere"), 0);  // neither: nothing written, no failure

  plat::HKEY key = nullptr;
  ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\qxTrace", 0, nullptr, 0,
                                  plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
            plat::ERROR_SUCCESS);
  std::string file = Path("reg.txt");
  plat::RegSetValueExA(key, "TraceFile", 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(file.c_str()),
                       static_cast<plat::DWORD>(file.size() + 1));
  plat::RegCloseKey(key);
  EXPECT_GT(qxtTrace("from %s", "registry"), 0);
  EXPECT_NE(ReadFile(file).find("] from registry\n"), std::string::npos);

  setenv("QXTRACE_FILE", Path("env.txt").c_str(), 1);  // the environment wins
  qxtTrace("from environment");
  EXPECT_EQ(ReadFile(file).find("environment"), std::string::npos);
  EXPECT_NE(ReadFile(Path("env.txt")).find("from environment"), std::string::npos);
}

TEST_F(QxTrace, UnwritableFileFails) {
  setenv("QXTRACE_FILE", Path("no/such/folder/trace.txt").c_str(), 1);
  EXPECT_EQ(qxtTrace("lost"), -1);
}

}  // namespace
