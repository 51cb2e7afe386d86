// The package builder on a scratch server: the package database's tree for
// each add-on combination entry by entry, the folder form with "zel.ini",
// the per-user configuration database and "user.ini", and the upgrade
// decision.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/profile.h"
#include "scratch_app.h"
#include "zel/zelinst.h"

namespace {

using scratch::kDos;

class Builder : public scratch::ScratchServer {
 protected:
  void SetUp() override {
    ScratchServer::SetUp();
    zel::SetFirstPackage(true);
    for (int group = 0; group < zel::GROUP_COUNT; ++group) zel::GatherComponentInfo(group);
  }

  // Every entry below parent as "path|content" ("path/" for trees), in
  // walk order; file entries' names as stored.
  std::vector<std::string> Walk(int db, int parent, const std::string& prefix) {
    const zel::QvCore* qv = zel::QvApi();
    std::vector<std::string> out;
    for (int id = qv->qvDBGetFirstID(db, parent); id > 0; id = qv->qvDBGetNextID(db, parent, id)) {
      char name[QV_MAX_PATH] = {};
      qv->qvDBReadName(db, id, name, sizeof name);
      if (qv->qvDBIsTree(db, id) == 1) {
        out.push_back(prefix + name + "/");
        auto below = Walk(db, id, prefix + name + "/");
        out.insert(out.end(), below.begin(), below.end());
      } else {
        std::string content(static_cast<std::size_t>(qv->qvDBGetSize(db, id)), '\0');
        if (!content.empty()) qv->qvDBRead(db, id, content.data(), static_cast<int>(content.size()));
        qv->qvDBClose(db, id);
        if (qv->qvDBGetType(db, id) == QV_TYPE_FILE && content.rfind("SQLite format 3", 0) == 0)
          content = "<database>";
        out.push_back(prefix + name + "|" + content);
      }
    }
    return out;
  }

  std::vector<std::string> BuildAndWalk(int addOns, const std::string& userDb) {
    char temp[260] = "unchanged";
    zel::BuildPackage(userDb.c_str(), temp, "C:\\Program Files\\Orb", "", 0, addOns);
    EXPECT_NE(temp[0], '\0');
    const zel::QvCore* qv = zel::QvApi();
    int db = qv->qvDBFileOpen(temp, QV_DB_READ);
    EXPECT_GT(db, 0);
    auto entries = Walk(db, 0, "/");
    qv->qvDBFileClose(db);
    unlink(temp);
    return entries;
  }
};

std::string F(const std::string& name) { return name + "\\" + std::to_string(static_cast<int>(kDos)); }

// The tree as the client setup program reads it, for one add-on combination.
std::vector<std::string> ExpectedTree(int addOns, bool withLocalCdb) {
  const bool is9x = addOns & 0x1;
  const std::string client = std::string("//BaseInstall/") + (is9x ? "client9x/" : "client/");
  std::vector<std::string> t = {
      "//",
      "//ClientInstallDir|C:\\Program Files\\Orb",
      "//ClientDatabaseDir|",
      "//UserMode|default",
      std::string("//InstallOfa|") + ((addOns & 0x4) ? "yes" : "no"),
      std::string("//OperatingSystem|") + (is9x ? "Win9x" : "WinXp"),
      "//BaseInstall/",
      client,
  };
  if (is9x) {  // MBCS group: absent files are left out
    t.push_back(client + F("Orbclient.msi") + "|9x-msi");
    t.push_back(client + F("setup.inf") + "|9x-inf");
  }
  if (addOns & 0x2) {
    t.push_back(client + F("Orbclient.msi") + "|nt-msi");
    t.push_back(client + F("Data1.cab") + "|nt-cab");
    t.push_back(client + F("setup.exe") + "|nt-setup");
  }
  const std::string norv = client + "Norv2.1/";
  t.push_back(norv);
  // The framework group keeps entries for absent files, without content.
  for (const char* name : {"libnorv21.so", "libnorv21exc.so.2", "libnorv21stp.so",
                           "libnorvplatform.so", "norvexplore", "norvexplore-cli", "norvcrashdlg",
                           "libnorvhost_enu.so", "libnorvhost_deu.so", "NorvSetup.exe",
                           "NorvSetup.ini", "norv.rsp"}) {
    std::string n = name;
    if (n == "libnorv21.so") t.push_back(norv + F(n) + "|norv21");
    else if (n == "NorvSetup.exe") t.push_back(norv + F(n) + "|#!/bin/sh\nexit 0\n");
    else if (n == "NorvSetup.ini") t.push_back(norv + F(n) + "|[Framework]\nVersion=2.1.0.0\n");
    else t.push_back(norv + n + "|");
  }
  t.push_back(norv + "nls/");
  t.push_back(norv + "nls/deu/");
  t.push_back(norv + "nls/deu/" + F("norv21Res.dll") + "|deu-res");
  t.push_back(norv + "nls/enu/");
  t.push_back(norv + "nls/enu/" + F("Norv21enu.chm") + "|enu-chm");
  t.push_back(norv + "redist/");  // no runtime files: an empty folder
  t.push_back(client + "Config/");
  t.push_back(client + "Config/" + F("protocol.ini") + "|[Client]\nConnectType=TCP/IP\n");
  t.push_back(client + "Config/" + F("folder.ini") + "|[Folder]\n");
  t.push_back(client + "Config/modem.ini|");  // absent, still an entry
  t.push_back(client + "Config/" + F("tcpip.ini") + "|[AutoTCPIP]\n");
  t.push_back(client + "Config/" + F("schedule.ini") + "|[Schedule]\n");
  t.push_back(client + "Data/");
  t.push_back(client + "Data/" + (withLocalCdb ? F("local.cdb") + "|<database>" : "local.cdb|"));
  return t;
}

TEST_F(Builder, PackageDatabaseTreeForEachAddOnCombination) {
  // "user.ini" and "mail.ini" are absent from "admin": the settings group leaves them out.
  std::string userDb = Path("data/config/Default.cdb");
  zel::QvApi()->qvFileSetDateTime(userDb.c_str(), kDos);
  for (int addOns : {0x0, 0x1, 0x2, 0x3, 0x4, 0x7}) {
    SCOPED_TRACE("add-ons " + std::to_string(addOns));
    EXPECT_EQ(BuildAndWalk(addOns, userDb), ExpectedTree(addOns, true));
  }
  // An upgrade carries no configuration: "local.cdb" is an empty entry.
  EXPECT_EQ(BuildAndWalk(0x2, ""), ExpectedTree(0x2, false));
  // Per-file traces only for the first package of a job.
  EXPECT_TRUE(Traced("WriteFileToNode: libnorv21.so"));
  EXPECT_TRUE(Traced("BuildPackage: Directory Halvorn\\client9x created"));
  EXPECT_TRUE(Traced("GatherComponentInfo: File not found: "));
  EXPECT_FALSE(std::filesystem::exists(Path("tmp/client.exe")));
}

// The framework group must carry the whole installation image the build
// makes: the installer refuses an image that lacks a file its list names.
TEST(FrameworkGroup, CarriesTheBuildsInstallationImage) {
  std::vector<std::string> rows;
  for (zel::ComponentRow* row = zel::ComponentGroupRows(zel::GROUP_FRAMEWORK); row->fileName[0];
       ++row) {
    rows.push_back(row->fileName);
    EXPECT_EQ(row->folderCode, 6);
  }
  std::vector<std::string> image = {"NorvSetup.exe", "NorvSetup.ini"};
  std::ifstream in(NORVSETUP_INI);
  ASSERT_TRUE(in.is_open()) << NORVSETUP_INI;
  bool files = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') files = line == "[Files]";
    else if (auto eq = line.find('='); files && eq != std::string::npos)
      image.push_back(line.substr(eq + 1));
  }
  EXPECT_GT(image.size(), 2u);
  for (const std::string& name : image)
    EXPECT_NE(std::find(rows.begin(), rows.end(), name), rows.end()) << name;
  // The response file closes the group: a package may carry the
  // administrator's own.
  EXPECT_EQ(rows.back(), "norv.rsp");
}

TEST_F(Builder, DatabaseThatCannotBeCreatedLeavesNoPath) {
  setenv("TMPDIR", Path("no-such-folder").c_str(), 1);
  char temp[260] = "unchanged";
  zel::BuildPackage("", temp, "", "", 0, 0x2);
  EXPECT_STREQ(temp, "");
  EXPECT_TRUE(Traced("BuildPackage: Unable to open temp file: "));
}

// Keys of a section in file order.
std::vector<std::string> KeysInOrder(const std::string& file) {
  std::vector<std::string> keys;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (auto eq = line.find('='); eq != std::string::npos) keys.push_back(line.substr(0, eq));
  return keys;
}

std::string Ini(const char* section, const char* key, const std::string& file) {
  char value[260] = {};
  plat::GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, file.c_str());
  return value;
}

TEST_F(Builder, FolderFormWithZelIniInKeyOrder) {
  std::string userDb = Path("data/users/local.cdb");
  std::filesystem::create_directories(Path("data/users"));
  ASSERT_EQ(zel::PrepareUserDatabase(Path("data/config/Default.cdb").c_str(), userDb.c_str(),
                                     "MYDOM\\user1", 0x9, 42, 1),
            0);  // "ScheduleInStartup" is "0"
  ASSERT_TRUE(zel::BuildPackageUncompressed("MYDOM\\user1", userDb.c_str(), 0, "C:\\Packages",
                                            "C:\\Orb", "D:\\OrbData", 0, 0x6, 0));
  const std::string storage = Path("drives/c/Packages");
  // The shared client folder: Unicode client files and the framework tree.
  EXPECT_EQ(scratch::ReadFile(storage + "/Client/Orbclient.msi"), "nt-msi");
  EXPECT_EQ(scratch::ReadFile(storage + "/Client/Norv2.1/libnorv21.so"), "norv21");
  EXPECT_EQ(scratch::ReadFile(storage + "/Client/Norv2.1/nls/deu/norv21Res.dll"), "deu-res");
  EXPECT_TRUE(std::filesystem::is_directory(storage + "/Client/Norv2.1/redist"));
  EXPECT_FALSE(std::filesystem::exists(storage + "/Client/Norv2.1/norvexplore"));  // absent: not copied
  struct stat st {};
  ASSERT_EQ(stat((storage + "/Client/Norv2.1/NorvSetup.exe").c_str(), &st), 0);

  // The user folder: user part, "@", domain part.
  const std::string user = storage + "/user1@MYDOM";
  ASSERT_EQ(stat((user + "/OrbCSetup.exe").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(scratch::ReadFile(user + "/Config/protocol.ini"), "[Client]\nConnectType=TCP/IP\n");
  EXPECT_EQ(scratch::ReadFile(user + "/Config/schedule.ini"), "[Schedule]\n");
  EXPECT_FALSE(std::filesystem::exists(user + "/Config/modem.ini"));
  EXPECT_TRUE(std::filesystem::exists(user + "/Data/local.cdb"));
  const std::string ini = user + "/zel.ini";
  EXPECT_EQ(KeysInOrder(ini), (std::vector<std::string>{"INSTALLDIR", "DATABASEDIR", "SchedulerInStartup",
                                                        "UserMode", "InstallOfa", "OperatingSystem"}));
  EXPECT_EQ(Ini("ZELSetup", "INSTALLDIR", ini), "C:\\Orb");
  EXPECT_EQ(Ini("ZELSetup", "DATABASEDIR", ini), "D:\\OrbData");
  EXPECT_EQ(Ini("ZELSetup", "SchedulerInStartup", ini), "no");
  EXPECT_EQ(Ini("ZELSetup", "UserMode", ini), "default");
  EXPECT_EQ(Ini("ZELSetup", "InstallOfa", ini), "yes");
  EXPECT_EQ(Ini("ZELSetup", "OperatingSystem", ini), "WinXp");

  // The copied setup program runs.
  setenv("FAKE_SETUP_OUT", Path("ran.txt").c_str(), 1);
  EXPECT_EQ(std::system((user + "/OrbCSetup.exe x").c_str()), 0);
  unsetenv("FAKE_SETUP_OUT");
  EXPECT_NE(scratch::ReadFile(Path("ran.txt")).find("x\n"), std::string::npos);

  // A later package of the job: no client folder; an upgrade: no "Data";
  // an existing user folder is replaced as a whole.
  zel::SetFirstPackage(false);
  std::filesystem::remove_all(storage + "/Client");
  scratch::WriteFile(storage + "/user1@MYDOM/stale.txt", "old");
  ASSERT_TRUE(zel::BuildPackageUncompressed("MYDOM\\user1", "", 1, "C:\\Packages", "", "", 0, 0x1, 0));
  EXPECT_FALSE(std::filesystem::exists(storage + "/Client"));
  EXPECT_FALSE(std::filesystem::exists(storage + "/Client9x"));
  EXPECT_FALSE(std::filesystem::exists(user + "/Data"));
  EXPECT_FALSE(std::filesystem::exists(user + "/stale.txt"));
  EXPECT_EQ(Ini("ZELSetup", "OperatingSystem", ini), "Win9x");
  EXPECT_EQ(Ini("ZELSetup", "SchedulerInStartup", ini), "yes");
  EXPECT_TRUE(Traced("CopyFileUncompressed: Upgrade Installation, so don't copy local.cdb to data folder"));
  // Direct installation builds the client folder for every package.
  ASSERT_TRUE(zel::BuildPackageUncompressed("user2", "", 1, "C:\\Packages", "", "", 0, 0x1, 1));
  EXPECT_EQ(scratch::ReadFile(storage + "/Client9x/setup.inf"), "9x-inf");

  // Nothing but finished folders is left.
  for (const auto& entry : std::filesystem::directory_iterator(storage))
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
}

TEST_F(Builder, FolderFormThatCannotBeWrittenLeavesNothing) {
  scratch::WriteFile(Path("drives/c/blocked"), "a file where the folder should be");
  EXPECT_FALSE(zel::BuildPackageUncompressed("user1", "", 1, "C:\\blocked\\packages", "", "", 0, 0x2, 0));
  // A user name that is no folder name.
  EXPECT_FALSE(zel::BuildPackageUncompressed("..", "", 1, "C:\\ok", "", "", 0, 0x2, 0));
  for (const auto& entry : std::filesystem::directory_iterator(Path("drives/c/ok")))
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
}

TEST_F(Builder, UserDatabaseAndUserIni) {
  const zel::QvCore* qv = zel::QvApi();
  std::string local = Path("data/local.cdb");
  EXPECT_EQ(zel::PrepareUserDatabase(Path("data/config/Default.cdb").c_str(), local.c_str(), "jürgen",
                                     0x21, 0x1234, 0),
            0);
  char path[260];
  std::snprintf(path, sizeof path, "%s", local.c_str());
  int db = qv->qvDBFileOpen(path, QV_DB_READ);
  ASSERT_GT(db, 0);
  int config = qv->qvDBFindChildIDByName(db, 0, "Config", 0);
  auto content = [&](const char* name) {
    int id = qv->qvDBFindChildIDByName(db, config, name, 0);
    if (id <= 0) return std::string("<absent>");
    std::string text(static_cast<std::size_t>(qv->qvDBGetSize(db, id)), '\0');
    qv->qvDBRead(db, id, text.data(), static_cast<int>(text.size()));
    qv->qvDBClose(db, id);
    return text;
  };
  EXPECT_EQ(content("UserName"), "jürgen");
  EXPECT_EQ(content("UserStatus"), std::string("\x21\0\0\0", 4));
  EXPECT_EQ(content("UserID"), std::string("\x34\x12\0\0", 4));
  EXPECT_EQ(content("Password"), "");
  EXPECT_EQ(content("ProtectedMode"), "<absent>");  // protected mode off: removed
  std::uint32_t type = 0, version = 9;
  EXPECT_EQ(qv->qvDBGetFileTypeAndVersion(db, &type, &version), 0);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(version, 0u);
  qv->qvDBFileClose(db);
  // A configuration that cannot be copied gives -1 and leaves nothing.
  EXPECT_EQ(zel::PrepareUserDatabase(Path("data/config/None.cdb").c_str(), Path("data/x.cdb").c_str(),
                                     "u", 1, 1, 0),
            -1);
  EXPECT_FALSE(std::filesystem::exists(Path("data/x.cdb")));

  ASSERT_TRUE(zel::WriteUserIni(Path("app/admin").c_str(), "MYDOM\\u1", "u1",
                                Path("data/config/Default.cdb").c_str(), 0x29));
  std::string ini = Path("app/admin/user.ini");
  EXPECT_EQ(KeysInOrder(ini), (std::vector<std::string>{"OrbUser", "UserName", "SystemName", "RestoreUser",
                                                        "UseDomainAccount", "NoPasswordForRestore"}));
  EXPECT_EQ(Ini("User", "OrbUser", ini), "MYDOM\\u1");
  EXPECT_EQ(Ini("User", "SystemName", ini), "backup.example");
  EXPECT_EQ(Ini("User", "UseDomainAccount", ini), "Yes");
  EXPECT_EQ(Ini("User", "NoPasswordForRestore", ini), "Yes");
}

TEST_F(Builder, UpgradeDecisions) {
  EXPECT_EQ(zel::VersionNumber("11.1"), 1101000);
  EXPECT_EQ(zel::VersionNumber("11.1.695"), 1101695);
  EXPECT_EQ(zel::VersionNumber("11.1.695.7"), 1101695);
  EXPECT_EQ(zel::VersionNumber("x"), 0);
  EXPECT_EQ(zel::VersionNumber("99999999999.1"), 2147483647);

  EXPECT_EQ(zel::IsObjectUpgradeable(nullptr), 1);
  EXPECT_EQ(zel::IsObjectUpgradeable(""), 1);
  EXPECT_EQ(zel::IsObjectUpgradeable("10.0"), 1);  // 1000000 < 1101000
  EXPECT_EQ(zel::IsObjectUpgradeable("11.0.999"), 1);
  EXPECT_EQ(zel::IsObjectUpgradeable("11.1"), 0);
  EXPECT_EQ(zel::IsObjectUpgradeable("11.1.0.9"), 0);  // more than three parts: the rest ignored
  EXPECT_EQ(zel::IsObjectUpgradeable("12"), 0);
  EXPECT_TRUE(Traced("IsObjectUpgradeable: versionInstalled = 1000000"));
  EXPECT_TRUE(Traced("IsObjectUpgradeable: currentVersion   = 1101000"));

  // Only the server's version: used in its place.
  plat::HKEY key = nullptr;
  ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, scratch::kServerKey, 0, plat::KEY_ALL_ACCESS, &key),
            plat::ERROR_SUCCESS);
  plat::RegDeleteValueA(key, "ClientVersion");
  plat::RegCloseKey(key);
  scratch::SetHklm(scratch::kServerKey, "Version", "12.0");
  EXPECT_EQ(zel::IsObjectUpgradeable("11.1"), 1);
  EXPECT_TRUE(Traced("ClientVersion read from CurrentVersion\\Version(Server Version) is 12.0"));
  // Neither value, or no key: nothing is upgraded.
  ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, scratch::kServerKey, 0, plat::KEY_ALL_ACCESS, &key),
            plat::ERROR_SUCCESS);
  plat::RegDeleteValueA(key, "Version");
  plat::RegCloseKey(key);
  EXPECT_EQ(zel::IsObjectUpgradeable("1.0"), 0);
  EXPECT_TRUE(Traced("IsObjectUpgradeable: Unable to determine ClientVersion from Registry"));
  plat::SHDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\Orbserver");
  EXPECT_EQ(zel::IsObjectUpgradeable("1.0"), 0);
  EXPECT_TRUE(Traced("Cannot determine ClientVersion - Object in not upgradeable"));
}

}  // namespace
