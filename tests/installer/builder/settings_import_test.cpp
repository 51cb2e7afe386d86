// Settings import: "protocol.ini", the neutral "user.ini", the protocol
// libraries' own files and "tcpip.ini" in the "admin" folder.
#include "platform/profile.h"
#include "scratch_app.h"
#include "zel/zelinst.h"

namespace {

class SettingsImport : public scratch::ScratchServer {
 protected:
  void SetUp() override {
    ScratchServer::SetUp();
    std::filesystem::remove(Path("app/admin/protocol.ini"));
    std::filesystem::remove(Path("app/admin/folder.ini"));
    std::filesystem::remove(Path("app/admin/tcpip.ini"));
    scratch::CopyProgram(QVFOLDER_FILE, Path("app/qvfolder.dll"));
  }
  std::string Ini(const char* file, const char* section, const char* key) {
    char value[260] = {};
    plat::GetPrivateProfileStringA(section, key, "<none>", value, sizeof value,
                                   Path(std::string("app/admin/") + file).c_str());
    return value;
  }
};

TEST_F(SettingsImport, WritesEveryFileAndRunsTheProtocolLibraries) {
  zel::CreateProtocolFiles(Path("data/config/Default.cdb").c_str(), Path("app/admin").c_str());
  EXPECT_EQ(Ini("protocol.ini", "Client", "ConnectType"), "TCP/IP");
  for (const char* key : {"OrbUser", "UserName", "SystemName"}) EXPECT_EQ(Ini("user.ini", "User", key), "");
  EXPECT_EQ(Ini("user.ini", "User", "RestoreUser"), "No");
  // The protocol library wrote its own file from its entries.
  EXPECT_EQ(Ini("folder.ini", "Folder", "Path"), "/srv/exchange");
  // "Enable" is a zero byte; absent entries leave their keys out.
  EXPECT_EQ(Ini("tcpip.ini", "AutoTCPIP", "Enable"), "0");
  EXPECT_EQ(Ini("tcpip.ini", "AutoTCPIP", "SendOncePerDay"), "1");
  EXPECT_EQ(Ini("tcpip.ini", "AutoTCPIP", "ShowTrayIcon"), "<none>");
  // The core library matches "qv*.dll" but has no import: copied, loaded,
  // traced, and its copy deleted like every other.
  EXPECT_TRUE(Traced("ImportProtocolSettings: Query DLL's using  " + Path("app") + "\\qv*.dll "));
  EXPECT_TRUE(Traced("ImportProtocolSettings: Unable to find function qvProtocolImportSettings in library " +
                     Path("app/admin/qvcore32.dll")));
  EXPECT_TRUE(Traced("ImportProtocolSettings: Executing qvProtocolImportSettings from " +
                     Path("app/admin/qvfolder.dll")));
  EXPECT_TRUE(Traced("ImportProtocolSettings: Unable to load library " + Path("app/admin/qvcryp32.dll")));
  for (const auto& entry : std::filesystem::directory_iterator(Path("app/admin")))
    EXPECT_NE(entry.path().extension(), ".dll") << entry.path();
}

TEST_F(SettingsImport, WithoutProtocolsOnlyTheNeutralUserIni) {
  scratch::WriteFile(Path("app/admin/user.ini"), "[User]\nOrbUser=someone\n");
  MakeConfigDatabase(Path("data/config/Bare.cdb"), false);
  zel::CreateProtocolFiles(Path("data/config/Bare.cdb").c_str(), Path("app/admin").c_str());
  EXPECT_FALSE(std::filesystem::exists(Path("app/admin/protocol.ini")));
  EXPECT_FALSE(std::filesystem::exists(Path("app/admin/folder.ini")));
  EXPECT_FALSE(std::filesystem::exists(Path("app/admin/tcpip.ini")));
  EXPECT_EQ(Ini("user.ini", "User", "OrbUser"), "");
  EXPECT_TRUE(Traced("CreateProtocolFiles: Cannot find ID Protocols "));
}

TEST_F(SettingsImport, UnreadableDatabaseWritesNothing) {
  scratch::WriteFile(Path("data/config/Broken.cdb"), "not a database");
  zel::CreateProtocolFiles(Path("data/config/Broken.cdb").c_str(), Path("app/admin").c_str());
  EXPECT_FALSE(std::filesystem::exists(Path("app/admin/user.ini")));
  EXPECT_TRUE(Traced("CreateProtocolFiles: Unanble to open " + Path("data/config/Broken.cdb") + " "));
}

}  // namespace
