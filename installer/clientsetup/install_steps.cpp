// The installation steps around the client's own set-up: administrator
// check, removal of the old open-file agent, version repair, the client
// set-up's command line and run, and the first start of the client.
#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "setup_core.h"

namespace zelsetup {
namespace {

constexpr const char* kOfaKey = "SOFTWARE\\Velmora\\Orbaux\\CurrentVersion";
constexpr const char* kSharedDlls = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char* kOfaProductCode = "{6D1F0A42-7C3B-4E95-A0D8-3B52E91C7F06}";

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The administrators group of this machine.
std::string AdminGroupName() {
  std::string configured = Env("NORV_ADMIN_GROUP");
  if (!configured.empty()) return configured;
  if (getgrnam("sudo")) return "sudo";
  if (getgrnam("wheel")) return "wheel";
  return "sudo";
}

bool ReadDword(plat::HKEY key, const std::string& name, plat::DWORD* value) {
  plat::DWORD type = 0, size = sizeof *value;
  return plat::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                reinterpret_cast<plat::BYTE*>(value), &size) ==
             plat::ERROR_SUCCESS &&
         type == plat::REG_DWORD;
}

bool WriteDword(plat::HKEY key, const std::string& name, plat::DWORD value, plat::LONG* rc) {
  *rc = plat::RegSetValueExA(key, name.c_str(), 0, plat::REG_DWORD,
                             reinterpret_cast<const plat::BYTE*>(&value), sizeof value);
  return *rc == plat::ERROR_SUCCESS;
}

}  // namespace

// ---- Administrator check ---------------------------------------------------

bool IsUserAdministrator(const std::string& user, DebugLog& log) {
  if (user == "SYSTEM" || user == "root" || geteuid() == 0) {
    log.Line("Don't check administrator privileges for user %s\n", user.c_str());
    return true;
  }
  std::string domain = Env("USERDOMAIN");
  log.Line("GetEnvironmentVariable(...) returns %s with %d \n", domain.c_str(),
           static_cast<int>(domain.size()));
  if (domain.size() > 16) {
    log.Line("USERDOMAIN too long, should not be longer than %d characters!! \n", 16);
    domain.clear();
  }
  std::string account = domain.empty() ? user : domain + "\\" + user;
  std::string computer = plat::ComputerName();
  log.Line("GetComputerName(...) returns %s\n", computer.c_str());
  log.Line("Check administrator privileges for %s on %s\n", account.c_str(), computer.c_str());

  std::string groupName = AdminGroupName();
  struct group* group = getgrnam(groupName.c_str());
  if (!group) {
    log.Line("A system error has occurred: %d\n", 2220);  // no such group
    log.Line("%s is not a member of the %s group\n", account.c_str(), groupName.c_str());
    return false;
  }
  std::vector<std::string> members;
  for (char** m = group->gr_mem; m && *m; ++m) members.push_back(*m);
  gid_t gid = group->gr_gid;
  // Members by primary group count too.
  if (struct passwd* pw = getpwnam(user.c_str()); pw && pw->pw_gid == gid) members.push_back(user);
  bool member = false;
  for (const std::string& m : members) {
    char line[600];
    std::snprintf(line, sizeof line, "User: %s, users[i]:%s", account.c_str(), m.c_str());
    log.Line("Check user in group: %s\n", line);
    if (strcasecmp(m.c_str(), account.c_str()) == 0 || strcasecmp(m.c_str(), user.c_str()) == 0 ||
        strcasecmp(m.c_str(), "Everyone") == 0) {
      member = true;
      break;
    }
  }
  log.Line(member ? "%s is a member of the %s group\n" : "%s is not a member of the %s group\n",
           account.c_str(), groupName.c_str());
  return member;
}

// ---- Old open-file agent ---------------------------------------------------

int DeleteOfaForVersion35(SetupContext& ctx) {
  DebugLog& log = *ctx.log;
  std::string version, installDir;
  if (!RegKeyExists(true, kClientKey)) return 1;  // no client: nothing to remove
  if (!ReadRegText(true, kClientKey, "Version", &version)) {
    log.Line("DeleteOfaForVersion35 -> unable to detect client version \n");
    return 0;
  }
  log.Line("DeleteOfaForVersion35 -> detect client version %s\n", version.c_str());
  if (version.find("3.5") == std::string::npos && version.find("4.0") == std::string::npos)
    return 0;
  const bool byPackage = version == "3.5";
  ReadRegText(true, kClientKey, "InstallDir", &installDir);
  log.Line("DeleteOfaForVersion35 -> detect client installdir %s\n", installDir.c_str());

  if (!RegKeyExists(true, kOfaKey)) {
    log.Line("DeleteOfaForVersion35 -> ofa not detected \n");
    return 1;
  }
  std::string ofaVersion, servicePath;
  if (ReadRegText(true, kOfaKey, "Version", &ofaVersion)) {
    log.Line("DeleteOfaForVersion35 -> detect ofa version %s\n", ofaVersion.c_str());
    if (ofaVersion != "10.0") return 0;
  }
  ReadRegText(true, kOfaKey, "ServicePath", &servicePath);
  log.Line("DeleteOfaForVersion35 -> detect ofa installdir %s\n", servicePath.c_str());

  // Keep the shared service and driver files through the removal.
  std::string windir = Env("windir");
  if (windir.empty()) windir = "C:\\Windows";
  const std::string shared[2] = {servicePath, windir + "\\system32\\drivers\\OFANT.sys"};
  plat::DWORD before[2] = {0, 0};
  bool raised[2] = {false, false};
  plat::HKEY sharedKey = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, kSharedDlls, 0, plat::KEY_ALL_ACCESS,
                          &sharedKey) == plat::ERROR_SUCCESS) {
    for (int i = 0; i < 2; ++i) {
      ReadDword(sharedKey, shared[i], &before[i]);
      plat::LONG rc = 0;
      if (!WriteDword(sharedKey, shared[i], before[i] + 1, &rc)) {
        log.Line("DeleteOfaForVersion35 -> unable to increase shared dll counter for %s\n",
                 shared[i].c_str());
        log.Line("DeleteOfaForVersion35 -> RegSetValue returns %d\n", static_cast<int>(rc));
        for (int j = 0; j < i; ++j) WriteDword(sharedKey, shared[j], before[j], &rc);
        plat::RegCloseKey(sharedKey);
        return 0;
      }
      raised[i] = true;
      log.Line("DeleteOfaForVersion35 -> Increase shared dll counter for %s to %d\n",
               shared[i].c_str(), static_cast<int>(before[i] + 1));
    }
  }

  int result = 0;
  char command[1024];
  bool haveCommand = true;
  if (byPackage) {
    std::string msi = installDir + "\\Ofa\\OrbauxNTAG.msi";
    struct stat st {};
    if (stat(plat::WindowsPathToLinux(msi).c_str(), &st) != 0) {
      log.Line("DeleteOfaForVersion35 -> Ofa package not found: %s\n", msi.c_str());
      haveCommand = false;
    } else {
      std::snprintf(command, sizeof command,
                    "msiexec.exe /qn /x \"%s\" REMOVE=ALL PRODUCTS=5 PRODUCTSUBTYPE=3",
                    msi.c_str());
    }
  } else {
    std::snprintf(command, sizeof command,
                  "msiexec.exe /qn /x %s REMOVE=ALL PRODUCTS=5 PRODUCTSUBTYPE=3", kOfaProductCode);
  }
  if (haveCommand) {
    log.Line("DeleteOfaForVersion35 -> Start ofa uninstall routine %s\n", command);
    int code = RunAndWait(command, [] {});
    if (code == 0) result = 1;
    log.Line("DeleteOfaForVersion35 -> Uninstallation returned with %d\n", code);
  }

  if (sharedKey) {
    for (int i = 0; i < 2; ++i) {
      plat::DWORD now = 0;
      if (!raised[i] || !ReadDword(sharedKey, shared[i], &now) || now <= before[i]) continue;
      plat::LONG rc = 0;
      if (WriteDword(sharedKey, shared[i], before[i], &rc))
        log.Line("DeleteOfaForVersion35 -> Decrease shared dll counter for %s to %d\n",
                 shared[i].c_str(), static_cast<int>(before[i]));
      else
        log.Line("DeleteOfaForVersion35 -> unable to decrease shared dll counter for %s\n",
                 shared[i].c_str());
    }
    plat::RegCloseKey(sharedKey);
  }

  if (result == 1) {
    plat::HKEY velmora = nullptr;
    plat::LONG rc = plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora", 0,
                                        plat::KEY_ALL_ACCESS, &velmora);
    if (rc == plat::ERROR_SUCCESS) {
      rc = plat::SHDeleteKeyA(velmora, "Orbaux");
      plat::RegCloseKey(velmora);
    }
    if (rc == plat::ERROR_SUCCESS)
      log.Line("DeleteOfaForVersion35 -> Remove ofa registry key %s\n", "Orbaux");
    else
      log.Line("DeleteOfaForVersion35 -> Remove ofa registry key %s returns %d\n", "Orbaux",
               static_cast<int>(rc));
  }
  return result;
}

// ---- Version repair --------------------------------------------------------

bool RepairClientVersion(SetupContext& ctx) {
  DebugLog& log = *ctx.log;
  log.Line("Check ORBClient Version\n");
  const char* oldKey = "Software\\Tessmoor\\Quovix Client\\CurrentVersion";
  std::string value;
  if (RegKeyExists(true, kClientKey) || !RegKeyExists(false, oldKey) ||
      ReadRegText(false, oldKey, "Version", &value))
    return true;
  const char* uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  std::string version;
  if (RegKeyExists(true, (std::string(uninstall) + "\\Orbclient").c_str())) {
    version = "3.5";
  } else {
    std::string display;
    std::string entry = std::string(uninstall) + "\\Quovix Client";
    if (!ReadRegText(true, entry.c_str(), "DisplayName", &display) || display == "Wardell Client")
      return true;
    version = "3.3";
  }
  if (!WriteRegText(false, oldKey, "Version", version)) {
    log.Line("Unable to set Version to %s\n", version.c_str());
    return false;
  }
  return true;
}

// ---- Client set-up ---------------------------------------------------------

std::string ClientSetupProgram(const ClientSetupInput& in) {
  return "\"" + in.sourceFolder + "/setup.exe\"";
}

std::string ClientSetupArguments(const ClientSetupInput& in, DebugLog* log) {
  auto logLine = [&](const char* format, const std::string& arg) {
    if (log) log->Line(format, arg.c_str());
  };
  auto prop = [](const char* name, const std::string& value) {
    return std::string(name) + "=\\\"" + value + "\\\"";
  };
  if (in.reinstall)
    return "/SMS /w /s /v\"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S /l*v \\\"" +
           in.logFile + "\\\" \"";
  std::string source = prop("MYSOURCEDIR", in.sourceFolder);
  std::string features;
  if (!in.expert) {
    std::string list = "Client,FCR";
    if (in.ofa) {
      list += ",Ofa";
      logLine("--> Install OFA ..\n%s", "");
    }
    features = prop("ADDLOCAL", list) + " INSTALLLEVEL=100";
    logLine("--> Install for Default user...\n%s", "");
  } else {
    features = " INSTALLLEVEL=200";
    logLine("--> Install for Expert user...\n%s", "");
  }
  logLine("--> Install following client features: %s\n", features);
  std::string scheduler;
  if (in.scheduler) {
    logLine("--> Install Scheduler entry for Start Menu ...\n%s", "");
  } else {
    scheduler = "ORBSCHEDULE=\\\"\\\"";
    logLine("--> Don't start scheduler ...\n%s", "");
  }
  std::string installDir, databaseDir, orbUser, winUser;
  if (!in.installDir.empty()) {
    installDir = prop("INSTALLDIR", in.installDir);
    logLine("--> InstallDir = %s ...\n", in.installDir);
  }
  if (!in.databaseDir.empty()) {
    databaseDir = prop("DATABASEDIR", in.databaseDir);
    logLine("--> DatabaseDir = %s ...\n", in.databaseDir);
  }
  if (!in.orbUser.empty()) {
    orbUser = prop("ORBUSER", UserAtDomain(in.orbUser));
    logLine("--> ORBUser = %s ...\n", UserAtDomain(in.orbUser));
  }
  if (!in.winUser.empty()) {
    winUser = prop("WINUSER", UserAtDomain(in.winUser));
    logLine("--> UserName = %s ...\n", UserAtDomain(in.winUser));
  }
  return "/SMS /w /s /v\"/qn REINSTALLMODE=vemus REINSTALL=ALL ALLUSERS=1 REBOOT=S " + source +
         " " + installDir + " " + databaseDir + " " + features + " " + scheduler + " " + orbUser +
         " " + winUser + " /l*v \\\"" + in.logFile + "\\\" \"";
}

bool RunClientSetup(SetupContext& ctx, ClientSetupInput in) {
  DebugLog& log = *ctx.log;
  log.Line("User who is executing this setup: %s\n", plat::UserName().c_str());
  const char* shellFolders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const char* userShellFolders =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  std::string folder;
  if (ReadRegText(true, shellFolders, "Common Startup", &folder))
    log.Line("Common Startup folder: %s\n", folder.c_str());
  if (ReadRegText(false, shellFolders, "Startup", &folder) ||
      ReadRegText(false, userShellFolders, "Startup", &folder))
    log.Line("Startup folder: %s\n", folder.c_str());

  std::string version;
  if (ReadRegText(true, kClientKey, "Version", &version)) {
    in.reinstall = version == "11.1" || version == "11.0";
    log.Line("Halvorn Client is detected with version %s\n", version.c_str());
  }
  log.Line("setup.Windows Installation (%s,%s,%s)\n", in.sourceFolder.c_str(),
           in.installDir.c_str(), in.databaseDir.c_str());
  log.Line(">>> Installing Halvorn Client ...\n");
  log.Line("--> Set Working Directory to %s ...\n", in.sourceFolder.c_str());
  in.logFile = ctx.tempDir + "ORBClientInstall.log";

  // The extracted program carries no execute permission of its own.
  std::string program = in.sourceFolder + "/setup.exe";
  struct stat st {};
  if (stat(program.c_str(), &st) == 0 && !(st.st_mode & S_IXUSR))
    chmod(program.c_str(), st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH);

  std::string command = ClientSetupProgram(in) + " " + ClientSetupArguments(in, &log);
  log.Line("--> Start Setup.exe with...\n");
  log.Line("--> Command line: %s \n", command.c_str());
  if (ctx.view) ctx.view->SetStatus(SetupString(118));
  int code = RunAndWait(command, [&] {
    if (ctx.progress < 90) ctx.Progress(ctx.progress + 3);
  });
  // Exit codes are 8 bits here: the installer's 3010 (restart needed)
  // arrives as 3010 mod 256.
  if (code == 3010 % 256) code = 3010;
  ctx.lastExitCode = code;
  bool ok = code == 0 || code == 3010;
  if (!ok && ctx.view) {
    char detail[128];
    std::snprintf(detail, sizeof detail, SetupString(120), code);
    ctx.view->SetDetail(detail);
  }
  log.Line("setup.Windows Installation returns exit code %d\n", code);
  return ok;
}

// ---- First start of the client ---------------------------------------------

bool StartClientForUser(SetupContext& ctx) {
  DebugLog& log = *ctx.log;
  log.Line("Start qvclient.exe -login for actual user\n");
  std::string installDir;
  if (!RegKeyExists(true, kClientKey)) {
    log.Line("--> Get registry key %s returns %d \n", kClientKey, 2);
    return false;
  }
  if (!ReadRegText(true, kClientKey, "InstallDir", &installDir)) {
    log.Line("--> Get registry value InstallDir returns %d \n", 2);
    return false;
  }
  installDir = plat::WindowsPathToLinux(installDir);
  if (installDir.empty() || installDir.back() != '/') installDir += "/";
  std::string command = "\"" + installDir + "qvclient.exe\" -login";
  log.Line("--> Command line: %s \n", command.c_str());
  if (ctx.view) ctx.view->SetStatus(SetupString(124));
  int code = RunAndWait(command, [] {});
  if (code != 0 && ctx.view) ctx.view->SetDetail(SetupString(125));
  log.Line("qvclient.exe -login returns exit code %d\n", code);
  return code == 0;
}

}  // namespace zelsetup
