// Binding the core library: the search order, counting of starts and
// releases, refusal of incomplete libraries, and the exported wrappers.
#include <dlfcn.h>

#include <cstring>
#include <vector>

#include "platform/registry.h"
#include "qvbind.h"
#include "scratch.h"

namespace {

class QvBinder : public ScratchTest {
 protected:
  void TearDown() override {
    while (zel::QvBindCount() > 0) zel::QvRelease();
    ScratchTest::TearDown();
  }
  void SetInstallDir(plat::HKEY root, const std::string& key, const std::string& folder) {
    plat::HKEY k = nullptr;
    std::string name = "Software\\Velmora\\" + key;
    ASSERT_EQ(plat::RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &k,
                                    nullptr),
              plat::ERROR_SUCCESS);
    plat::RegSetValueExA(k, "InstallDir", 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(folder.c_str()),
                         static_cast<plat::DWORD>(folder.size() + 1));
    plat::RegCloseKey(k);
  }
  std::string Place(const char* file, const std::string& folder, const std::string& name) {
    std::filesystem::create_directories(Path(folder));
    std::string target = Path(folder) + "/" + name;
    std::filesystem::copy_file(file, target);
    return target;
  }
};

TEST_F(QvBinder, SearchOrderServerAndClient) {
  SetInstallDir(plat::HKEY_CURRENT_USER, "Orbserver\\CurrentVersion", "/hkcu/server");
  SetInstallDir(plat::HKEY_LOCAL_MACHINE, "Orbserver\\CurrentVersion", "/hklm/server/");
  SetInstallDir(plat::HKEY_LOCAL_MACHINE, "Quovix Server\\2.00", "/old/server");
  SetInstallDir(plat::HKEY_CURRENT_USER, "Orbclient\\CurrentVersion", "/hkcu/client");
  SetInstallDir(plat::HKEY_CURRENT_USER, "Quovix Client\\2.00", "/old/hkcu-client");
  SetInstallDir(plat::HKEY_LOCAL_MACHINE, "Quovix Client\\2.00", "/old/hklm-client");

  EXPECT_EQ(zel::QvCandidatePaths("/prog/", 1),
            (std::vector<std::string>{"/prog/qvcore32.dll", "/prog/ocore32.dll", "/hkcu/server/qvcore32.dll",
                                      "/hkcu/server/ocore32.dll", "/hklm/server/qvcore32.dll",
                                      "/hklm/server/ocore32.dll", "/old/server/qvcore32.dll",
                                      "/old/server/ocore32.dll", "qvcore32.dll", "ocore32.dll"}));
  EXPECT_EQ(zel::QvCandidatePaths("", 0),
            (std::vector<std::string>{"/hkcu/client/qvcore32.dll", "/hkcu/client/ocore32.dll",
                                      "/old/hkcu-client/qvcore32.dll", "/old/hkcu-client/ocore32.dll",
                                      "/old/hklm-client/qvcore32.dll", "/old/hklm-client/ocore32.dll",
                                      "qvcore32.dll", "ocore32.dll"}));
}

TEST_F(QvBinder, FirstLoadableCandidateIsBoundAndStartsAreCounted) {
  std::string registered = Place(QVCORE_FILE, "quovix", "ocore32.dll");
  SetInstallDir(plat::HKEY_LOCAL_MACHINE, "Quovix Server\\2.00", Path("quovix"));
  std::filesystem::create_directories(Path("program"));

  ASSERT_EQ(zel::QvBindFrom(Path("program"), 1), zel::QV_BIND_OK);
  EXPECT_EQ(zel::QvBoundPath(), registered);
  ASSERT_NE(zel::QvApi(), nullptr);
  char buffer[QV_MAX_PATH];
  EXPECT_EQ(zel::QvApi()->qvULongToHexString(0xABCDEF01u, buffer), 8);
  EXPECT_STREQ(buffer, "ABCDEF01");

  EXPECT_EQ(zel::QvBindFrom(Path("program"), 1), zel::QV_BIND_OK);  // counted only
  EXPECT_EQ(zel::QvBindCount(), 2);
  zel::QvRelease();
  EXPECT_NE(zel::QvApi(), nullptr);
  zel::QvRelease();
  EXPECT_EQ(zel::QvApi(), nullptr);
  EXPECT_EQ(zel::QvBoundPath(), "");

  // The program's own folder comes before the registry.
  std::string own = Place(QVCORE_FILE, "program", "qvcore32.dll");
  ASSERT_EQ(zel::QvBindFrom(Path("program"), 1), zel::QV_BIND_OK);
  EXPECT_EQ(zel::QvBoundPath(), own);
  zel::QvRelease();
}

TEST_F(QvBinder, NothingLoadableOrIncompleteTable) {
  EXPECT_EQ(zel::QvBindCandidates({Path("none/qvcore32.dll"), Path("ocore32.dll")}, 1),
            zel::QV_BIND_NOT_FOUND);
  EXPECT_EQ(zel::QvBindCandidates({}, 1), zel::QV_BIND_NOT_FOUND);

  std::string noTable = Place(BADCORE_NOTABLE_FILE, "a", "qvcore32.dll");
  EXPECT_EQ(zel::QvBindCandidates({noTable}, 1), zel::QV_BIND_MISSING_ENTRY);
  EXPECT_EQ(zel::QvApi(), nullptr);
  std::string shortTable = Place(BADCORE_SHORT_FILE, "b", "qvcore32.dll");
  EXPECT_EQ(zel::QvBindCandidates({shortTable}, 1), zel::QV_BIND_MISSING_ENTRY);
  EXPECT_EQ(zel::QvBindCount(), 0);

  // A broken library first in line is not skipped over: the load succeeded.
  std::string good = Place(QVCORE_FILE, "c", "qvcore32.dll");
  EXPECT_EQ(zel::QvBindCandidates({shortTable, good}, 1), zel::QV_BIND_MISSING_ENTRY);
  EXPECT_EQ(zel::QvBindCandidates({Path("missing.dll"), good}, 1), zel::QV_BIND_OK);
  zel::QvRelease();
}

TEST_F(QvBinder, WrappersAreExportedUnderDecoratedNames) {
  void* probe = dlopen(WRAPPERS_PROBE_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(probe, nullptr) << dlerror();
  for (const char* name : {"_qvDBClose@8", "_qvDBFindChildIDByName@16", "_qvDBGetFirstID@8",
                           "_qvDBGetNextID@12", "_qvDBIsTree@8", "_qvDBReadName@16",
                           "_qvDateTimeToString@12", "_qvGetCurrentDosDateTime@0"})
    EXPECT_NE(dlsym(probe, name), nullptr) << name;

  using DateToString = int (*)(std::uint32_t, char*, int);
  using FirstId = int (*)(int, int);
  auto toString = reinterpret_cast<DateToString>(dlsym(probe, "_qvDateTimeToString@12"));
  auto firstId = reinterpret_cast<FirstId>(dlsym(probe, "_qvDBGetFirstID@8"));
  ASSERT_TRUE(toString && firstId);
  char text[QV_MAX_PATH] = {};
  std::uint32_t dos = (45u << 25) | (1u << 21) | (2u << 16);
  EXPECT_EQ(toString(dos, text, sizeof text), -1);  // nothing bound yet
  EXPECT_EQ(firstId(1, 0), -1);

  auto bind = reinterpret_cast<int (*)(const char*)>(dlsym(probe, "wrappers_probe_bind"));
  auto release = reinterpret_cast<void (*)()>(dlsym(probe, "wrappers_probe_release"));
  ASSERT_TRUE(bind && release);
  std::string core = Place(QVCORE_FILE, "w", "qvcore32.dll");
  ASSERT_EQ(bind(core.c_str()), 0);
  EXPECT_EQ(toString(dos, text, sizeof text), 19);
  EXPECT_STREQ(text, "2025-01-02 00:00:00");
  EXPECT_EQ(firstId(12345, 0), -1);  // forwarded: no such database
  release();
  dlclose(probe);
}

}  // namespace
