// Whole installations: packages made by the package builder, run as a user
// runs them (the compressed form through the stub), installing the stand-in
// client into a scratch drive with a scratch registry.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "package_writer.h"
#include "platform/profile.h"
#include "scratch_app.h"
#include "setup_core.h"
#include "zel/zelinst.h"

namespace {

using scratch::ReadFile;
using scratch::WriteFile;

struct Result {
  int exitCode = -1;
  std::string out, err;
};

class ClientSetupRun : public scratch::ScratchServer {
 protected:
  void SetUp() override {
    ScratchServer::SetUp();
    if (HasFatalFailure()) return;
    scratch::CopyProgram(SETUP_FILE, Path("app/client32/setup.zel"));
    scratch::CopyProgram(CLIENT_SETUP_FILE, Path("app/ClientSoftware/TRELD/Client/setup.exe"));
    std::filesystem::create_directories(Path("user"));
    std::filesystem::create_directories(Path("usertmp"));
    // A non-root user passes the check as a member of its own group.
    if (geteuid() != 0) setenv("NORV_ADMIN_GROUP", getgrgid(getgid())->gr_name, 1);
    zel::SetFirstPackage(true);
  }
  void TearDown() override {
    unsetenv("NORV_ADMIN_GROUP");
    ScratchServer::TearDown();
  }

  void Gather() {
    for (int group = 0; group < zel::GROUP_COUNT; ++group) zel::GatherComponentInfo(group);
  }

  // A compressed package for Ann, written by the builder and ZipTheSend.
  std::string BuildCompressed(int expert) {
    EXPECT_TRUE(zel::WriteUserIni(Path("app/admin").c_str(), "Ann Example", "EXAMPLE\\ann",
                                  Path("data/config/Default.cdb").c_str(), 0));
    Gather();
    std::string local = Path("tmp/local.cdb");
    EXPECT_EQ(zel::PrepareUserDatabase(Path("data/config/Default.cdb").c_str(), local.c_str(),
                                       "Ann Example", 0, 7, 0),
              0);  // the configuration says: no scheduler in the start-up group
    char temp[QV_MAX_PATH] = {};
    zel::BuildPackage(local.c_str(), temp, "C:\\Program Files\\Halvorn", "", expert,
                      zel::ADDON_CLIENT_NT);
    EXPECT_NE(temp[0], '\0');
    char package[QV_MAX_PATH] = {};
    EXPECT_EQ(ZipTheSend(temp, package), 0);
    std::string target = Path("user/client.exe");
    std::filesystem::rename(package, target);
    return target;
  }

  // Runs a program with TMPDIR set to the user's private folder; as `uid`
  // when given (the caller is root).
  Result Run(const std::vector<std::string>& argv, uid_t uid = static_cast<uid_t>(-1)) {
    Result r;
    pid_t pid = Start(argv, uid);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(Path("run.out"));
    r.err = ReadFile(Path("run.err"));
    return r;
  }
  // Largest file the program may write (0: no limit): a disk that is full.
  rlim_t fileSizeLimit_ = 0;
  // Run with a display (Qt's offscreen platform), so that setup shows its dialog.
  bool withDisplay_ = false;

  pid_t Start(const std::vector<std::string>& argv, uid_t uid = static_cast<uid_t>(-1)) {
    std::string out = Path("run.out"), err = Path("run.err");
    pid_t pid = fork();
    if (pid == 0) {
      if (fileSizeLimit_ > 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
        struct rlimit limit = {fileSizeLimit_, fileSizeLimit_};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      setenv("TMPDIR", Path("usertmp").c_str(), 1);
      if (withDisplay_) {
        setenv("DISPLAY", ":99", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
      } else {  // no dialog to wait for, whatever display the tests run on
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
      }
      // What a package carries runs without anything of the build folder.
      unsetenv("LD_LIBRARY_PATH");
      FILE* o = freopen(out.c_str(), "w", stdout);
      FILE* e = freopen(err.c_str(), "w", stderr);
      (void)o;
      (void)e;
      if (uid != static_cast<uid_t>(-1)) {
        struct passwd* pw = getpwuid(uid);
        if (setgroups(0, nullptr) != 0 || setgid(pw ? pw->pw_gid : uid) != 0 || setuid(uid) != 0)
          _exit(126);
      }
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    return pid;
  }

  // The temporary directory setup was given: the private directory that the
  // stub made below the user's one when the package ran through the stub.
  std::string SetupTmp() {
    for (const auto& e : std::filesystem::directory_iterator(Path("usertmp")))
      if (e.is_directory() && e.path().filename().string().rfind("zel-", 0) == 0)
        return e.path().string();
    return Path("usertmp");
  }

  // The stub starts setup and does not wait: wait for setup's last log line.
  std::string WaitForSetup() {
    for (int i = 0; i < 600; ++i) {
      std::string log = ReadFile(SetupTmp() + "/zelDebug.txt");
      if (log.find("setup: exit code") != std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return log;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "setup did not finish";
    return ReadFile(SetupTmp() + "/zelDebug.txt");
  }

  std::string Registry(const char* name) {
    std::string value;
    zelsetup::ReadRegText(true, zelsetup::kClientKey, name, &value);
    return value;
  }
  std::string Ini(const std::string& file, const char* key) {
    char buffer[300] = {};
    plat::GetPrivateProfileStringA("Client", key, "<none>", buffer, sizeof buffer, file.c_str());
    return buffer;
  }
  std::vector<std::string> CleanedUp(const std::string& log) {
    std::vector<std::string> paths;
    const std::string tag = "Cleanup: qvFileDelete (";
    for (std::size_t at = 0; (at = log.find(tag, at)) != std::string::npos;) {
      at += tag.size();
      paths.push_back(log.substr(at, log.find(")\n", at) - at));
    }
    return paths;
  }
  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ClientSetupRun, CompressedPackageThroughTheStubInstallsCleansUpAndStartsTheClient) {
  std::string package = BuildCompressed(0);
  Result stub = Run({package});
  EXPECT_EQ(stub.exitCode, 0);
  std::string log = WaitForSetup();

  // The client is installed with Ann's settings; the scheduler stays off.
  std::string installDir = Path("drives/c/Program Files/Halvorn");
  EXPECT_EQ(Registry("Version"), "11.1");
  EXPECT_EQ(Registry("InstallDir"), installDir + "/");
  std::string ini = installDir + "/client.ini";
  EXPECT_EQ(Ini(ini, "OrbUser"), "Ann Example");
  EXPECT_EQ(Ini(ini, "WinUser"), "ann@EXAMPLE");
  EXPECT_EQ(Ini(ini, "Scheduler"), "no");
  EXPECT_EQ(Ini(ini, "Features"), "Client,FCR");
  EXPECT_TRUE(std::filesystem::exists(installDir + "/Config/protocol.ini"));
  EXPECT_TRUE(std::filesystem::exists(installDir + "/Data/local.cdb"));
  EXPECT_NE(log.find("Package evaluation -> Package type is compressed \n"), std::string::npos);
  EXPECT_NE(log.find("--> Extract File: "), std::string::npos);
  EXPECT_NE(ReadFile(SetupTmp() + "/ORBClientInstall.log").find("Framework installer returned 0"),
            std::string::npos);

  // Every file of the packing list is gone: the stub's members, the list
  // itself, and everything extracted; only the logs stay.
  std::vector<std::string> cleaned = CleanedUp(log);
  EXPECT_GT(cleaned.size(), 20u);
  for (const std::string& path : cleaned) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(Listing(SetupTmp()),
            (std::vector<std::string>{"ORBClientInstall.log", "zelDebug.txt"}));

  // The client was started once, for the user.
  std::string logins = ReadFile(installDir + "/login.txt");
  EXPECT_EQ(std::count(logins.begin(), logins.end(), '\n'), 1) << logins;
  EXPECT_NE(logins.find("-login "), std::string::npos);
  // Setup shares the stub's console.
  std::string out = ReadFile(Path("run.out"));
  EXPECT_NE(out.find("Installation has been finished successfully."), std::string::npos) << out;
}

TEST_F(ClientSetupRun, FolderFormForAnExpertWithTheScheduler) {
  Gather();
  std::string local = Path("tmp/local.cdb");
  ASSERT_EQ(zel::PrepareUserDatabase(Path("data/config/Default.cdb").c_str(), local.c_str(),
                                     "EXAMPLE\\bob", 0, 8, 0),
            0);
  ASSERT_TRUE(zel::BuildPackageUncompressed("EXAMPLE\\bob", local.c_str(), 1, "C:\\Packages",
                                            "C:\\Halvorn", "D:\\OrbData", 1,
                                            zel::ADDON_CLIENT_NT, 0));
  std::string folder = Path("drives/c/Packages/bob@EXAMPLE");
  Result r = Run({folder + "/OrbCSetup.exe"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string log = ReadFile(Path("usertmp/zelDebug.txt"));
  EXPECT_NE(log.find("Package evaluation -> Package type is uncompressed \n"), std::string::npos);
  std::string ini = Path("drives/c/Halvorn/client.ini");
  // No "user.ini" in the folder: the user folder's name is the login.
  EXPECT_EQ(Ini(ini, "WinUser"), "bob@EXAMPLE");
  EXPECT_EQ(Ini(ini, "Scheduler"), "yes");
  EXPECT_EQ(Ini(ini, "InstallLevel"), "200");
  EXPECT_EQ(Ini(ini, "Features"), "");
  EXPECT_EQ(Ini(ini, "DatabaseDir"), Path("drives/d/OrbData"));
  EXPECT_EQ(ReadFile(Path("drives/c/Halvorn/login.txt")).size() > 0, true);
  // The folder is the administrator's: nothing of it is removed.
  EXPECT_TRUE(std::filesystem::exists(folder + "/OrbCSetup.exe"));
  EXPECT_TRUE(std::filesystem::exists(Path("drives/c/Packages/Client/setup.exe")));

  // "Expert" with a capital E is no expert: the default features.
  ASSERT_TRUE(plat::WritePrivateProfileStringA("ZELSetup", "UserMode", "Expert",
                                               (folder + "/zel.ini").c_str()));
  std::filesystem::remove_all(Path("drives/c/Halvorn"));
  zelsetup::WriteRegText(true, zelsetup::kClientKey, "Version", "");
  r = Run({folder + "/OrbCSetup.exe", "-silent"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Ini(ini, "InstallLevel"), "100");
  EXPECT_EQ(Ini(ini, "Features"), "Client,FCR");
  // Silent: the client is not started.
  EXPECT_FALSE(std::filesystem::exists(Path("drives/c/Halvorn/login.txt")));
}

// The server's framework folder holds the build's real installation image:
// NorvSetup.exe, NorvSetup.ini and every file the list names.
class RealFrameworkRun : public ClientSetupRun {
 protected:
  void SetUp() override {
    ClientSetupRun::SetUp();
    if (HasFatalFailure()) return;
    const std::filesystem::path bin = std::filesystem::path(NORVSETUP_FILE).parent_path();
    const std::string norv = Path("app/ClientSoftware/TRELD/Client/Norv2.1/");
    std::filesystem::remove_all(norv);
    image_ = {"NorvSetup.exe", "NorvSetup.ini"};
    std::ifstream list(bin / "NorvSetup.ini");
    bool files = false;
    for (std::string line; std::getline(list, line);) {
      if (!line.empty() && line[0] == '[') files = line == "[Files]";
      else if (auto eq = line.find('='); files && eq != std::string::npos)
        image_.push_back(line.substr(eq + 1));
    }
    for (const std::string& name : image_) scratch::CopyProgram(bin / name, norv + name);
    // The framework's folder goes into a scratch loader configuration.
    setenv("NORV_LDSOCONF_DIR", Path("ld.so.conf.d").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NORV_LDSOCONF_DIR");
    ClientSetupRun::TearDown();
  }
  std::string Framework(const char* name) {
    std::string value;
    zelsetup::ReadRegText(true, "Software\\Velmora\\NORV2.1", name, &value);
    return value;
  }
  std::vector<std::string> image_;
};

// Libraries a program or library cannot find where it lies.
std::string Unresolved(const std::string& file) {
  char magic[4] = {};
  std::ifstream(file, std::ios::binary).read(magic, 4);
  if (std::string(magic, 4) != "\x7f" "ELF") return "";
  std::string result;
  if (FILE* ldd = popen(("env -u LD_LIBRARY_PATH ldd '" + file + "' 2>&1").c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, ldd))
      if (std::strstr(line, "not found")) result += line;
    pclose(ldd);
  }
  return result;
}

TEST_F(RealFrameworkRun, PackageInstallsTheFrameworkIntoTheClientFolder) {
  std::string package = BuildCompressed(0);
  Run({package});
  std::string log = WaitForSetup();
  std::string out = ReadFile(Path("run.out"));
  EXPECT_NE(out.find("Installation has been finished successfully."), std::string::npos) << out;
  std::string clientLog = ReadFile(SetupTmp() + "/ORBClientInstall.log");
  EXPECT_NE(clientLog.find("Framework installer returned 0"), std::string::npos) << clientLog;

  // The image's files in the client folder's "Norv21", each able to load
  // what it needs from there; the framework's registry values.
  const std::string installDir = Path("drives/c/Program Files/Halvorn");
  const std::string framework = installDir + "/Norv21";
  for (const std::string& name : image_) {
    EXPECT_TRUE(std::filesystem::is_regular_file(framework + "/" + name)) << name;
    EXPECT_EQ(Unresolved(framework + "/" + name), "") << name;
  }
  EXPECT_EQ(Framework("Version"), "2.1.0.0");
  EXPECT_EQ(Framework("Path"), framework);
  EXPECT_EQ(Framework("InstallLog"), installDir + "/Norv21.log");
  EXPECT_TRUE(std::filesystem::is_regular_file(installDir + "/Norv21.log"));
  EXPECT_NE(Framework("UninstallString").find(" -U "), std::string::npos);
  EXPECT_EQ(ReadFile(Path("ld.so.conf.d/norv21.conf")), framework + "\n");
  EXPECT_EQ(Registry("InstallDir"), installDir + "/");

  // Nothing of the package is left, the set-up's own response file neither.
  for (const std::string& path : CleanedUp(log)) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(Listing(SetupTmp()),
            (std::vector<std::string>{"ORBClientInstall.log", "zelDebug.txt"}));
}

TEST_F(RealFrameworkRun, TheInstallersFailureReachesTheLogAndTheExitCode) {
  // The administrator's response file in the package names no product.
  scratch::WriteFile(Path("app/ClientSoftware/TRELD/Client/Norv2.1/norv.rsp"),
                     "[bypassui]\n[destination_path]\n\"C:\\Norv\"\n");
  std::string package = BuildCompressed(0);
  Run({package});
  std::string log = WaitForSetup();
  std::string clientLog = ReadFile(SetupTmp() + "/ORBClientInstall.log");
  EXPECT_NE(clientLog.find("NorvSetup: response file "), std::string::npos) << clientLog;
  EXPECT_NE(clientLog.find("the destination has no product number"), std::string::npos);
  EXPECT_NE(clientLog.find("Framework installer returned 2"), std::string::npos);
  EXPECT_NE(log.find("setup.Windows Installation returns exit code 67\n"), std::string::npos);
  std::string out = ReadFile(Path("run.out"));
  EXPECT_NE(out.find("Installation has been terminated with an error."), std::string::npos) << out;
  EXPECT_EQ(Framework("Path"), "");
  EXPECT_EQ(Registry("Version"), "");  // the client is not registered as installed
  EXPECT_EQ(Listing(SetupTmp()),
            (std::vector<std::string>{"ORBClientInstall.log", "zelDebug.txt"}));
}

TEST_F(ClientSetupRun, ClientSetupExitCodesGiveTheFinalTexts) {
  std::string package = BuildCompressed(0);
  // The client set-up fails with the installer's 1603, which an 8-bit exit
  // status carries as 67: the final texts say so, and the clean-up still runs.
  setenv("NORV_CLIENT_SETUP_RESULT", "1603", 1);
  Run({package});
  std::string log = WaitForSetup();
  EXPECT_NE(log.find("setup.Windows Installation returns exit code 67\n"), std::string::npos);
  EXPECT_NE(log.find("setup: exit code 67\n"), std::string::npos);
  std::string out = ReadFile(Path("run.out"));
  EXPECT_NE(out.find("Setup.exe finished with exit code 67."), std::string::npos) << out;
  EXPECT_NE(out.find("Installation has been terminated with an error."), std::string::npos);
  EXPECT_EQ(Listing(SetupTmp()),
            (std::vector<std::string>{"ORBClientInstall.log", "zelDebug.txt"}));
  EXPECT_FALSE(std::filesystem::exists(Path("drives/c/Program Files/Halvorn/login.txt")));

  // 3010, restart needed: success with the restart text; the client is not started.
  std::filesystem::remove_all(Path("usertmp"));
  std::filesystem::create_directories(Path("usertmp"));
  package = BuildCompressed(0);
  setenv("NORV_CLIENT_SETUP_RESULT", "3010", 1);
  Run({package});
  log = WaitForSetup();
  unsetenv("NORV_CLIENT_SETUP_RESULT");
  EXPECT_NE(log.find("setup.Windows Installation returns exit code 3010\n"), std::string::npos);
  out = ReadFile(Path("run.out"));
  EXPECT_NE(out.find("Installation has been finished successfully, but a reboot is required"),
            std::string::npos)
      << out;
  EXPECT_EQ(Registry("Version"), "11.1");
  EXPECT_FALSE(std::filesystem::exists(Path("drives/c/Program Files/Halvorn/login.txt")));
}

#ifdef SETUP_HAS_DIALOG
TEST_F(ClientSetupRun, WithADisplayTheDialogWaitsToBeClosedBeforeTheClientStarts) {
  Gather();
  ASSERT_TRUE(zel::BuildPackageUncompressed("carl", "", 0, "C:\\Packages", "C:\\Halvorn", "", 0,
                                            zel::ADDON_CLIENT_NT, 0));
  withDisplay_ = true;
  pid_t pid = Start({Path("drives/c/Packages/carl/OrbCSetup.exe")});
  std::string log;
  for (int i = 0; i < 300 && log.find("returns exit code 0") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log = ReadFile(Path("usertmp/zelDebug.txt"));
  }
  ASSERT_NE(log.find("setup.Windows Installation returns exit code 0\n"), std::string::npos) << log;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The installation is done; the dialog stays until the user closes it.
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("drives/c/Halvorn/login.txt")));
  kill(pid, SIGTERM);  // the window closed
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(std::filesystem::exists(Path("drives/c/Halvorn/login.txt")));
  EXPECT_EQ(ReadFile(Path("run.out")), "");  // the texts went to the dialog
}
#endif

// The package's members laid out as the stub leaves them, with a packing list.
std::string LayOut(scratch::ScratchServer* /*unused*/, const std::string& folder,
                   const std::string& database, const std::string& appDir) {
  std::filesystem::create_directories(folder);
  std::vector<std::pair<std::string, std::string>> members = {
      {database, "install.cdb"},
      {appDir + "/qxTrace.dll", "qxTrace.dll"},
      {appDir + "/qvcore32.dll", "qvcore32.dll"},
      {appDir + "/client32/setup.zel", "OrbCSetup.exe"}};
  std::string list;
  for (const auto& [from, name] : members) {
    scratch::CopyProgram(from, folder + "/" + name);
    list += folder + "/" + name + "\r\n";
  }
  list += folder + "/PackingList.TXT\r\n";
  WriteFile(folder + "/PackingList.TXT", list);
  return folder + "/PackingList.TXT";
}

TEST_F(ClientSetupRun, NoAdministratorExtractsNothing) {
  Gather();
  char temp[QV_MAX_PATH] = {};
  zel::BuildPackage("", temp, "", "", 0, zel::ADDON_CLIENT_NT);
  ASSERT_NE(temp[0], '\0');
  std::string folder = Path("usertmp");
  std::string list = LayOut(this, folder, temp, Path("app"));
  uid_t as = static_cast<uid_t>(-1);
  if (geteuid() == 0) {
    struct passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user nobody to run as";
    as = nobody->pw_uid;
    // The scratch folders must be open to that user.
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
  }
  setenv("NORV_ADMIN_GROUP", "norv-no-such-group", 1);
  Result r = Run({folder + "/OrbCSetup.exe", list}, as);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Installation process requires administrator privileges. Halvorn Client is "
                       "not installed. "),
            std::string::npos)
      << r.out << r.err;
  std::string log = ReadFile(folder + "/zelDebug.txt");
  EXPECT_NE(log.find("is not a member of the norv-no-such-group group\n"), std::string::npos) << log;
  // Nothing extracted, nothing cleaned up: the core library never started.
  EXPECT_FALSE(std::filesystem::exists(folder + "/ORBClient"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/install.cdb"));
  EXPECT_TRUE(std::filesystem::exists(list));
  EXPECT_EQ(log.find("Cleanup:"), std::string::npos);
}

// A package database with the root values and BaseInstall/client holding
// the given file entries.
void MakeDatabase(const std::string& file,
                  const std::vector<std::pair<std::string, std::string>>& entries) {
  const zel::QvCore* qv = zel::QvApi();
  char path[QV_MAX_PATH] = {};
  std::snprintf(path, sizeof path, "%s", file.c_str());
  int db = qv->qvDBFileOpen(path, QV_DB_NEW);
  ASSERT_GT(db, 0);
  int root = qv->qvDBCreateTree(db, 0, "");
  for (const char* name : {"ClientInstallDir", "ClientDatabaseDir", "UserMode", "InstallOfa",
                           "OperatingSystem"}) {
    int id = qv->qvDBCreateNode(db, root, name, 0);
    qv->qvDBWrite(db, id, "x", 1);
    qv->qvDBClose(db, id);
  }
  int base = qv->qvDBCreateTree(db, root, "BaseInstall");
  int client = qv->qvDBCreateTree(db, base, "client");
  for (const auto& [name, content] : entries) {
    int id = qv->qvDBCreateNode(db, client, name.c_str(), QV_TYPE_FILE);
    qv->qvDBWrite(db, id, content.data(), static_cast<int>(content.size()));
    qv->qvDBClose(db, id);
  }
  ASSERT_EQ(qv->qvDBFileClose(db), 0);
}

TEST_F(ClientSetupRun, HostileEntryNamesWriteNothingOutsideTheExtractionFolder) {
  for (const char* hostile : {"..\\0", "../../escaped.txt\\0", "sub/escaped.txt\\0"}) {
    SCOPED_TRACE(hostile);
    MakeDatabase(Path("tmp/hostile.cdb"), {{"good.txt\\0", "fine"}, {hostile, "evil"}});
    std::string folder = Path("usertmp/pkg");
    std::string list = LayOut(this, folder, Path("tmp/hostile.cdb"), Path("app"));
    Result r = Run({folder + "/OrbCSetup.exe", list});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("ZEL Setup: Extract "), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Installation has been terminated with an error."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path("usertmp/escaped.txt")));
    EXPECT_FALSE(std::filesystem::exists(Path("usertmp/pkg/escaped.txt")));
    EXPECT_FALSE(std::filesystem::exists(Path("escaped.txt")));
    // What was extracted is cleaned up, as is the package.
    EXPECT_FALSE(std::filesystem::exists(folder + "/ORBClient"));
    EXPECT_EQ(Listing(folder), std::vector<std::string>{});
    std::filesystem::remove_all(folder);
  }
}

TEST_F(ClientSetupRun, WithoutAPackingListWhatWasExtractedIsStillRemoved) {
  MakeDatabase(Path("tmp/plain.cdb"), {{"readme.txt\\0", "text"}});
  std::string folder = Path("usertmp/pkg");
  LayOut(this, folder, Path("tmp/plain.cdb"), Path("app"));
  Result r = Run({folder + "/OrbCSetup.exe"});  // started by hand
  EXPECT_EQ(r.exitCode, 255);  // the client set-up is not in this package: cannot start
  EXPECT_FALSE(std::filesystem::exists(folder + "/ORBClient"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/install.cdb"));  // not listed: not ours
}

TEST_F(ClientSetupRun, FullDiskDuringExtractionFailsAndCleansUp) {
  MakeDatabase(Path("tmp/big.cdb"),
               {{"small.txt\\0", "fine"}, {"big.bin\\0", std::string(3 << 20, 'b')}});
  std::string folder = Path("usertmp/pkg");
  std::string list = LayOut(this, folder, Path("tmp/big.cdb"), Path("app"));
  fileSizeLimit_ = 1 << 20;
  Result r = Run({folder + "/OrbCSetup.exe", list});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("ZEL Setup: Extract " + folder + "/ORBClient/client/big.bin failed with "
                       "error 106"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Installation has been terminated with an error."), std::string::npos);
  EXPECT_EQ(Listing(folder), std::vector<std::string>{});
  EXPECT_FALSE(zelsetup::RegKeyExists(true, zelsetup::kClientKey));  // no set-up ran
}

}  // namespace
