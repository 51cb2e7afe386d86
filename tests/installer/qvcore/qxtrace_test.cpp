// Trace lines: where they go, what each carries, and nothing without a file.
#include <unistd.h>

#include <cctype>
#include <sstream>

#include "platform/registry.h"
#include "qx/qxtrace.h"
#include "scratch.h"

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm [pid] " at the start of the line.
bool HasStamp(const std::string& line, const std::string& pid) {
  const std::string shape = "dddd-dd-dd dd:dd:dd.ddd [";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return line.compare(shape.size(), pid.size() + 2, pid + "] ") == 0;
}

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
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(HasStamp(line, pid)) << line;
    ++count;
  }
  EXPECT_EQ(count, 2);
  EXPECT_EQ(text.back(), '\n');
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
