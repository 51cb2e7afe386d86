// A scratch backup server for installer tests: a folder with a registry
// (NORV_REGISTRY_DIR), a drive root (NORV_DRIVE_ROOT), a temporary
// directory (TMPDIR) and an application directory laid out as the package
// builder expects it:
//
//   app/client32/stub.zel, setup.zel       the built stub, a fake setup program
//   app/ClientSoftware/TRELD/...           client files, framework files (no
//                                          response file, as on a real server)
//   app/admin/                             settings files
//   app/qvcore32.dll, qxTrace.dll, qvcryp32.dll
//   data/config/Default.cdb                the configuration database
//
// Every component file gets the DOS date and time kDos, so that entry names
// ("name\\<dos>") are known in advance.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "qv/qvcore.h"
#include "qvbind.h"

namespace scratch {

// 2024-03-09 14:30:20.
constexpr std::uint32_t kDos = (44u << 25) | (3u << 21) | (9u << 16) | (14u << 11) | (30u << 5) | 10u;

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void CopyProgram(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  chmod(to.c_str(), 0755);
}

inline void SetHklm(const char* key, const char* name, const std::string& value) {
  plat::HKEY k = nullptr;
  ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, plat::KEY_ALL_ACCESS,
                                  nullptr, &k, nullptr),
            plat::ERROR_SUCCESS);
  plat::RegSetValueExA(k, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(value.c_str()),
                       static_cast<plat::DWORD>(value.size() + 1));
  plat::RegCloseKey(k);
}

constexpr const char* kServerKey = "Software\\Velmora\\Orbserver\\CurrentVersion";

// Component files of the scratch server, by path below app/, with content.
inline const std::map<std::string, std::string>& ComponentFiles() {
  static const std::map<std::string, std::string> files = {
      {"ClientSoftware/TRELD/Client/Orbclient.msi", "nt-msi"},
      {"ClientSoftware/TRELD/Client/Data1.cab", "nt-cab"},
      {"ClientSoftware/TRELD/Client/setup.exe", "nt-setup"},
      {"ClientSoftware/TRELD/Client9x/Orbclient.msi", "9x-msi"},
      {"ClientSoftware/TRELD/Client9x/setup.inf", "9x-inf"},
      {"ClientSoftware/TRELD/Client/Norv2.1/libnorv21.so", "norv21"},
      {"ClientSoftware/TRELD/Client/Norv2.1/NorvSetup.exe", "#!/bin/sh\nexit 0\n"},
      {"ClientSoftware/TRELD/Client/Norv2.1/NorvSetup.ini", "[Framework]\nVersion=2.1.0.0\n"},
      {"ClientSoftware/TRELD/Client/Norv2.1/nls/deu/norv21Res.dll", "deu-res"},
      {"ClientSoftware/TRELD/Client/Norv2.1/nls/enu/Norv21enu.chm", "enu-chm"},
      {"ClientSoftware/TRELD/Client/Config/schedule.ini", "[Schedule]\n"},
      {"admin/protocol.ini", "[Client]\nConnectType=TCP/IP\n"},
      {"admin/folder.ini", "[Folder]\n"},
      {"admin/tcpip.ini", "[AutoTCPIP]\n"},
      {"qvcryp32.dll", "crypto"},
  };
  return files;
}

class ScratchServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelbuild-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const char* sub : {"registry", "drives", "tmp", "app/admin", "data/config"})
      std::filesystem::create_directories(Path(sub));
    setenv("NORV_REGISTRY_DIR", Path("registry").c_str(), 1);
    setenv("NORV_DRIVE_ROOT", Path("drives").c_str(), 1);
    setenv("TMPDIR", Path("tmp").c_str(), 1);
    setenv("QXTRACE_FILE", Path("trace.txt").c_str(), 1);
    SetHklm(kServerKey, "InstallDir", Path("app"));
    SetHklm(kServerKey, "DataDir", Path("data"));
    SetHklm(kServerKey, "ClientVersion", "11.1");

    CopyProgram(STUB_FILE, Path("app/client32/stub.zel"));
    CopyProgram(FAKE_SETUP_FILE, Path("app/client32/setup.zel"));
    CopyProgram(QVCORE_FILE, Path("app/qvcore32.dll"));
    CopyProgram(QXTRACE_FILE_PATH, Path("app/qxTrace.dll"));
    for (const auto& [name, content] : ComponentFiles()) WriteFile(Path("app/" + name), content);
    ASSERT_EQ(zel::QvBindCandidates({QVCORE_FILE}, 1), zel::QV_BIND_OK);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Path("app")))
      if (entry.is_regular_file()) zel::QvApi()->qvFileSetDateTime(entry.path().c_str(), kDos);
    MakeConfigDatabase(Path("data/config/Default.cdb"), true);
  }
  void TearDown() override {
    if (HasFailure()) {  // the trace tells what the library did
      auto lines = TraceLines();
      for (std::size_t i = lines.size() > 60 ? lines.size() - 60 : 0; i < lines.size(); ++i)
        std::fprintf(stderr, "trace: %s\n", lines[i].c_str());
    }
    while (zel::QvBindCount() > 0) zel::QvRelease();
    for (const char* name : {"NORV_DRIVE_ROOT", "TMPDIR", "QXTRACE_FILE"}) unsetenv(name);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A configuration database: protocols (default "TCP/IP", host name,
  // folder settings), the automatic TCP/IP plug-in ("Enable" a zero byte,
  // "SendOncePerDay" one) and the "Config" tree.
  void MakeConfigDatabase(const std::string& file, bool withProtocols) {
    const zel::QvCore* qv = zel::QvApi();
    char path[QV_MAX_PATH];
    std::snprintf(path, sizeof path, "%s", file.c_str());
    int db = qv->qvDBFileOpen(path, QV_DB_NEW);
    ASSERT_GT(db, 0);
    auto value = [&](int parent, const char* name, const std::string& content) {
      int id = qv->qvDBCreateNode(db, parent, name, 0);
      qv->qvDBWrite(db, id, content.data(), static_cast<int>(content.size()));
      qv->qvDBClose(db, id);
    };
    if (withProtocols) {
      int protocols = qv->qvDBCreateTree(db, 0, "Protocols");
      value(protocols, "Default", "TCP/IP");
      int tcpip = qv->qvDBCreateTree(db, protocols, "TCP/IP");
      value(tcpip, "HostName", "backup.example");
      int folder = qv->qvDBCreateTree(db, protocols, "Folder");
      value(folder, "Path", "/srv/exchange");
    }
    int plugins = qv->qvDBCreateTree(db, 0, "PlugIns");
    int autoTcp = qv->qvDBCreateTree(db, plugins, "AutoTCP");
    value(autoTcp, "Enable", std::string(1, '\0'));
    value(autoTcp, "SendOncePerDay", "\x01");
    int config = qv->qvDBCreateTree(db, 0, "Config");
    value(config, "Password", "secret");
    value(config, "ProtectedMode", "");
    value(config, "ScheduleInStartup", "0");
    ASSERT_EQ(qv->qvDBFileClose(db), 0);
  }

  std::vector<std::string> TraceLines() const {
    std::vector<std::string> lines;
    std::ifstream in(Path("trace.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Traced(const std::string& text) const {
    for (const std::string& line : TraceLines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

}  // namespace scratch
