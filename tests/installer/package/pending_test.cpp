// Pending deletions: recorded as Windows records them, carried out and
// cleared by norv-pending-deletes.
#include "package_test_util.h"
#include "pending_ops.h"
#include "platform/registry.h"

namespace {

class Pending : public ScratchTest {};

std::u16string RawValue() {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                          plat::KEY_READ, &key) != plat::ERROR_SUCCESS)
    return u"<no key>";
  plat::DWORD type = 0, size = 0;
  if (plat::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) !=
      plat::ERROR_SUCCESS) {
    plat::RegCloseKey(key);
    return u"<no value>";
  }
  std::vector<plat::BYTE> data(size);
  plat::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, data.data(), &size);
  plat::RegCloseKey(key);
  EXPECT_EQ(type, plat::REG_MULTI_SZ);
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return text;
}

TEST_F(Pending, RecordedAsPairsWithEmptyTargets) {
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart("/tmp/a/client.exe"));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart("/tmp/b"));
  EXPECT_EQ(RawValue(), std::u16string(u"\\??\\/tmp/a/client.exe\0\0\\??\\/tmp/b\0\0\0", 36));
  std::vector<zel::PendingOperation> ops;
  ASSERT_TRUE(zel::ReadPendingOperations(&ops));
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].source, "/tmp/a/client.exe");
  EXPECT_EQ(ops[0].target, "");
  EXPECT_EQ(zel::ParseMultiString(zel::BuildMultiString({"x", "", "y", "!z"})),
            (std::vector<std::string>{"x", "", "y", "!z"}));
}

TEST_F(Pending, ToolCarriesOutAndClears) {
  WriteFile(Path("one.exe"), "1");
  WriteFile(Path("two.exe"), "2");
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("one.exe")));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("gone-already.exe")));
  ASSERT_TRUE(zel::ScheduleDeleteAtRestart(Path("two.exe")));

  auto listed = pkgtest::Run({PENDING_TOOL_FILE, "--list"}, {"NORV_REGISTRY_DIR=" + Path("registry")},
                             Path("list.txt"));
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("delete " + Path("two.exe")), std::string::npos) << listed.output;
  EXPECT_TRUE(std::filesystem::exists(Path("one.exe")));

  auto run = pkgtest::Run({PENDING_TOOL_FILE}, {"NORV_REGISTRY_DIR=" + Path("registry")}, Path("run.txt"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(std::filesystem::exists(Path("one.exe")));
  EXPECT_FALSE(std::filesystem::exists(Path("two.exe")));
  EXPECT_EQ(RawValue(), u"<no value>");
}

}  // namespace
