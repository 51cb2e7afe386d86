// zeladmin: the administration program of the demonstration backup server.
// It sets up an application directory, keeps the server's users, owns the
// server window and runs send jobs through libzelinst.so.
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/window.h"
#include "platform/winpath.h"
#include "qv/qvcore.h"
#include "server_db.h"
#include "zel/server_window.h"
#include "zel/zelinst.h"

namespace fs = std::filesystem;
namespace sw = zel::server;

namespace {

constexpr const char* kServerKey = "SOFTWARE\\Velmora\\Orbserver\\CurrentVersion";
constexpr const char* kFanrowKey = "SOFTWARE\\Velmora\\Plenwick\\Fanrow";
constexpr const char* kProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

void Usage() {
  std::fprintf(stderr,
R"(usage: zeladmin COMMAND [options]

  init DIR [--bin FOLDER] [--config NAME] [--client-version V] [--domain NAME]...
      Sets up DIR as the server's application and data directory: Client32 with
      stub.zel and setup.zel, ClientSoftware, admin, config/NAME.cdb, the mail
      library, the users database, and the server's registry values.
  send [options] EMAILFILE
      Runs a send job over the users of EMAILFILE and shows its progress; Ctrl+C
      asks the job to stop after the current user. Options (ZELManageSend's
      arguments): --protected  --config NAME  --organization TEXT
      --install-dir DIR  --database-dir DIR  --server-database-dir DIR
      --protocols N  --plugins N  --addons N (1 9x client, 2 NT client, 4 open files)
      --mapi | --smtp HOST[:PORT]  --port N  --folder DIR  --fanrow
      --from ADDRESS  --subject TEXT  --body TEXT | --body-file FILE  --receipt
      --uncompressed  --flags N  --domain-account  --no-restore-password
  users                          Lists the server's users.
  user-set NAME PROPERTY VALUE   last-login, deployment, version, last-host,
                                 config-file, data-dir, system, email, login
  domain-add NAME                A Windows domain whose users may be created.
  results [--job N]              The outcomes of a send job (default: the last).

Every command but init takes --dir DIR (default: $ZELADMIN_DIR, else the
server's "InstallDir").
)");
}

[[noreturn]] void Fail(const std::string& message, int code = 2) {
  std::fprintf(stderr, "zeladmin: %s\n", message.c_str());
  std::exit(code);
}

std::string ProgramFolder() { return plat::FolderOf(plat::ModulePath()); }

bool SetRegistryText(plat::HKEY root, const char* keyName, const char* name, const std::string& value) {
  plat::HKEY key = nullptr;
  if (plat::RegCreateKeyExA(root, keyName, 0, nullptr, 0, plat::KEY_SET_VALUE, nullptr, &key,
                            nullptr) != plat::ERROR_SUCCESS)
    return false;
  plat::LONG rc = plat::RegSetValueExA(key, name, 0, plat::REG_SZ,
                                       reinterpret_cast<const plat::BYTE*>(value.c_str()),
                                       static_cast<plat::DWORD>(value.size() + 1));
  plat::RegCloseKey(key);
  return rc == plat::ERROR_SUCCESS;
}

std::string RegistryText(const char* keyName, const char* name) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, keyName, 0, plat::KEY_QUERY_VALUE, &key) !=
      plat::ERROR_SUCCESS)
    return "";
  char data[1024] = {};
  plat::DWORD type = 0, size = sizeof data - 1;
  plat::LONG rc = plat::RegQueryValueExA(key, name, nullptr, &type,
                                         reinterpret_cast<plat::BYTE*>(data), &size);
  plat::RegCloseKey(key);
  return rc == plat::ERROR_SUCCESS ? data : "";
}

// Options: "--name value" or "--flag"; the rest are positional.
struct Args {
  std::map<std::string, std::vector<std::string>> options;
  std::vector<std::string> positional;
  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = "") const {
    auto it = options.find(name);
    return it == options.end() || it->second.empty() ? fallback : it->second.back();
  }
  int Int(const std::string& name, int fallback) const {
    std::string v = Get(name);
    if (v.empty()) return fallback;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 0);
    if (*end || n < INT32_MIN || n > INT32_MAX) Fail("--" + name + " needs a number, not \"" + v + "\"");
    return static_cast<int>(n);
  }
};

Args Parse(int argc, char** argv, int first, const std::vector<std::string>& flags,
           const std::vector<std::string>& valued) {
  Args args;
  auto in = [](const std::vector<std::string>& list, const std::string& s) {
    for (const auto& x : list)
      if (x == s) return true;
    return false;
  };
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) == 0 && a.size() > 2) {
      std::string name = a.substr(2), value;
      std::size_t eq = name.find('=');
      bool hasValue = eq != std::string::npos;
      if (hasValue) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      if (in(flags, name) && !hasValue) {
        args.options[name];
      } else if (in(valued, name)) {
        if (!hasValue) {
          if (i + 1 >= argc) Fail("--" + name + " needs a value");
          value = argv[++i];
        }
        args.options[name].push_back(value);
      } else {
        Fail("unknown option " + a + " (zeladmin --help)");
      }
    } else {
      args.positional.push_back(a);
    }
  }
  return args;
}

std::string AppDir(const Args& args) {
  std::string dir = args.Get("dir");
  if (dir.empty()) {
    if (const char* env = std::getenv("ZELADMIN_DIR"); env && *env) dir = env;
  }
  if (dir.empty()) dir = RegistryText(kServerKey, "InstallDir");
  if (dir.empty()) Fail("no server directory: run \"zeladmin init DIR\" or give --dir DIR");
  return plat::WindowsPathToLinux(dir);
}

std::string DatabasePath(const std::string& appDir) { return appDir + "/admin/zeladmin.db"; }

std::unique_ptr<zeladmin::ServerDb> OpenDb(const std::string& appDir) {
  auto db = std::make_unique<zeladmin::ServerDb>(DatabasePath(appDir));
  if (!db->IsOpen()) Fail("cannot open " + DatabasePath(appDir) + ": " + db->Error());
  return db;
}

// ---- init ------------------------------------------------------------------

bool CopyFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

// The configuration database: the client's default settings and the host
// name clients reach the server by, written with the core library.
bool MakeConfigDatabase(const std::string& bin, const std::string& path, std::string* error) {
  void* core = dlopen((bin + "/qvcore32.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!core) {
    *error = dlerror();
    return false;
  }
  auto sym = [core](const char* name) { return dlsym(core, name); };
  auto startup = reinterpret_cast<decltype(&qvStartup)>(sym("qvStartup"));
  auto shutdown = reinterpret_cast<decltype(&qvShutDown)>(sym("qvShutDown"));
  auto open = reinterpret_cast<decltype(&qvDBFileOpen)>(sym("qvDBFileOpen"));
  auto close = reinterpret_cast<decltype(&qvDBFileClose)>(sym("qvDBFileClose"));
  auto stamp = reinterpret_cast<decltype(&qvDBSetFileTypeAndVersion)>(sym("qvDBSetFileTypeAndVersion"));
  auto node = reinterpret_cast<decltype(&qvDBCreateNodeIfNotExist)>(sym("qvDBCreateNodeIfNotExist"));
  auto writeText = reinterpret_cast<decltype(&qvDBWriteUTF8)>(sym("qvDBWriteUTF8"));
  auto closeEntry = reinterpret_cast<decltype(&qvDBClose)>(sym("qvDBClose"));
  if (!startup || !shutdown || !open || !close || !stamp || !node || !writeText || !closeEntry) {
    *error = "the core library lacks a database call";
    dlclose(core);
    return false;
  }
  startup(1);
  char name[QV_MAX_PATH] = {};
  std::snprintf(name, sizeof name, "%s", path.c_str());
  int db = open(name, QV_DB_NEW);
  bool ok = db > 0;
  if (ok) {
    auto text = [&](int parent, const char* key, const std::string& value) {
      int id = node(db, parent, key, 0);
      if (id <= 0) return false;
      writeText(db, id, value.c_str());
      closeEntry(db, id);
      return true;
    };
    char host[256] = "localhost";
    gethostname(host, sizeof host - 1);
    int config = node(db, 0, "Config", QV_TYPE_TREE);
    int protocols = node(db, 0, "Protocols", QV_TYPE_TREE);
    int tcpip = protocols > 0 ? node(db, protocols, "TCP/IP", QV_TYPE_TREE) : -1;
    ok = config > 0 && tcpip > 0 && text(config, "ScheduleInStartup", "1") &&
         text(tcpip, "HostName", host);
    stamp(db, 1, 0);
    ok = close(db) == 0 && ok;
  }
  if (!ok) *error = "cannot write " + path;
  shutdown();
  dlclose(core);
  return ok;
}

int Init(int argc, char** argv) {
  Args args = Parse(argc, argv, 2, {}, {"bin", "config", "client-version", "domain"});
  if (args.positional.size() != 1) Fail("init needs one folder: zeladmin init DIR");
  std::error_code ec;
  fs::path dir = fs::absolute(args.positional[0], ec);
  std::string bin = args.Get("bin", ProgramFolder());
  std::string configName = args.Get("config", "default");
  std::string version = args.Get("client-version", "11.1.695");
  for (const char* sub : {"Client32", "ClientSoftware", "admin", "config", "users"}) {
    fs::create_directories(dir / sub, ec);
    if (ec) Fail("cannot create " + (dir / sub).string() + ": " + ec.message());
  }
  int warnings = 0;
  auto need = [&](const fs::path& from, const fs::path& to, bool required) {
    if (fs::exists(from) && CopyFile(from, to)) return true;
    std::fprintf(stderr, "zeladmin: %s: %s not found\n", required ? "error" : "warning",
                 from.string().c_str());
    ++warnings;
    return false;
  };
  bool ok = need(fs::path(bin) / "stub", dir / "Client32" / "stub.zel", true);
  // The client setup program, under whichever name the build gave it.
  bool setup = false;
  for (const char* name : {"setup.zel", "OrbCSetup.exe", "setup", "zelsetup", "clientsetup"})
    if (!setup && fs::exists(fs::path(bin) / name))
      setup = CopyFile(fs::path(bin) / name, dir / "Client32" / "setup.zel");
  if (!setup) {
    std::fprintf(stderr, "zeladmin: warning: no client setup program in %s; Client32/setup.zel is "
                         "needed before a send job\n", bin.c_str());
    ++warnings;
  }
  ok = need(fs::path(bin) / "qvmapi.dll", dir / "qvmapi.dll", true) && ok;
  // The libraries every compressed package carries beside the setup program.
  ok = need(fs::path(bin) / "qvcore32.dll", dir / "qvcore32.dll", true) && ok;
  ok = need(fs::path(bin) / "qxTrace.dll", dir / "qxTrace.dll", true) && ok;
  if (fs::exists(fs::path(bin) / "qvcryp32.dll")) CopyFile(fs::path(bin) / "qvcryp32.dll", dir / "qvcryp32.dll");
  // The client's files, where the package builder looks for them.
  for (int group = 0; group < zel::GROUP_COUNT; ++group) {
    if (group == zel::GROUP_SETUP) continue;
    for (zel::ComponentRow* row = zel::ComponentGroupRows(group); row && row->fileName[0]; ++row) {
      fs::path from = fs::path(bin) / row->fileName;
      if (!fs::is_regular_file(from)) continue;
      CopyFile(from, plat::WindowsPathToLinux(dir.string() + "\\" +
                                              zel::ComponentFolderText(row->folderCode) +
                                              row->fileName));
    }
  }
  std::string cdb = (dir / "config" / (configName + ".cdb")).string();
  std::string error;
  if (!MakeConfigDatabase(bin, cdb, &error)) {
    std::fprintf(stderr, "zeladmin: error: configuration database: %s\n", error.c_str());
    ok = false;
  }
  bool registry = SetRegistryText(plat::HKEY_LOCAL_MACHINE, kServerKey, "InstallDir", dir.string()) &&
                  SetRegistryText(plat::HKEY_LOCAL_MACHINE, kServerKey, "DataDir", dir.string()) &&
                  SetRegistryText(plat::HKEY_LOCAL_MACHINE, kServerKey, "ClientVersion", version) &&
                  SetRegistryText(plat::HKEY_LOCAL_MACHINE, kServerKey, "Version", version) &&
                  SetRegistryText(plat::HKEY_LOCAL_MACHINE, kServerKey, "AutoConfigFile", configName) &&
                  SetRegistryText(plat::HKEY_CURRENT_USER, kProfilesKey, "DefaultProfile", "sendmail");
  if (fs::exists(fs::path(bin) / "Fanrow.exe"))
    registry = SetRegistryText(plat::HKEY_LOCAL_MACHINE, kFanrowKey, "InstallPath", bin) && registry;
  if (!registry) {
    std::fprintf(stderr, "zeladmin: error: cannot write the registry (%s)\n",
                 plat::RegistryDirectory().c_str());
    ok = false;
  }
  auto db = OpenDb(dir.string());
  for (const std::string& domain : args.options["domain"]) db->AddDomain(domain);
  std::printf("Server directory %s\n  configuration %s\n  users %s\n  registry %s\n", dir.c_str(),
              cdb.c_str(), DatabasePath(dir.string()).c_str(), plat::RegistryDirectory().c_str());
  if (!ok) return 1;
  return 0;
}

// ---- the server window -------------------------------------------------------

struct WindowState {
  zeladmin::ServerDb* db = nullptr;
  std::int64_t job = 0;
};

plat::LRESULT ServerWindowProc(WindowState* state, plat::UINT message, plat::WPARAM wParam,
                               plat::LPARAM lParam) {
  auto* record = reinterpret_cast<unsigned char*>(lParam);
  char text[1024];
  auto get = [&](sw::Field f) {
    sw::GetText(record, f, text, sizeof text);
    return std::string(text);
  };
  switch (message) {
    case sw::kCreateUser: {
      if (!record) return zeladmin::kDatabaseFailure;
      zeladmin::User user;
      user.name = get(sw::user::kName);
      user.organization = get(sw::user::kOrganization);
      user.configDatabase = get(sw::user::kConfigDatabase);
      user.serverDatabaseDir = get(sw::user::kServerDatabaseDir);
      user.protectedMode = sw::GetInt(record, sw::user::kProtectedMode) & 1;
      user.flags = sw::GetInt(record, sw::user::kFlags);
      user.login = get(sw::user::kLoginName);
      user.systemName = get(sw::user::kSystemName);
      user.email = get(sw::user::kEmailAddress);
      long rc = state->db->CreateUser(&user);
      if (rc == zeladmin::kCreated) sw::PutInt(record, sw::user::kIdentifier, static_cast<std::int32_t>(user.id));
      return rc;
    }
    case sw::kGetUserProperties: {
      if (!record) return -1;
      auto user = state->db->FindUser(get(sw::properties::kUserName));
      if (!user) return -1;
      sw::PutInt(record, sw::properties::kLastLoginDate, user->lastLogin);
      sw::PutText(record, sw::properties::kConfigFileName, user->configFile.c_str());
      sw::PutInt(record, sw::properties::kDeployment, user->deployment);
      sw::PutText(record, sw::properties::kLastHost, user->lastHost.c_str());
      sw::PutText(record, sw::properties::kClientVersion, user->version.c_str());
      return 0;
    }
    case sw::kGetUserDataDir: {
      if (!record) return -1;
      record[0] = '\0';
      for (const auto& user : state->db->Users())
        if (user.id == static_cast<std::int64_t>(wParam))
          sw::PutText(record, sw::Field{0, 260}, user.dataDir.c_str());
      return 0;
    }
    case sw::kReportResult: {
      if (!record) return -1;
      zeladmin::Result r;
      r.job = state->job;
      r.userName = get(sw::result::kUserName);
      r.text = get(sw::result::kText);
      r.userId = sw::GetInt(record, sw::result::kIdentifier);
      r.status = sw::GetInt(record, sw::result::kStatus);
      state->db->AddResult(r);
      return 0;
    }
    default:
      return 0;
  }
}

// ---- send --------------------------------------------------------------------

using ManageSendFn = decltype(&ZELManageSend);
using GetProgressFn = decltype(&ZELGetProgress);

std::atomic<int> gInterrupts{0};

void OnInterrupt(int) { gInterrupts.fetch_add(1); }

const char* StatusWord(int status) {
  switch (status) {
    case 4: return "mailed";
    case 8: return "stored";
    case 16: return "failed";
    case 32: return "installed";
    default: return "?";
  }
}

std::string OneLine(const char* text) {
  std::string s = text;
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return s;
}

class ProgressBar {
 public:
  ProgressBar() : tty_(isatty(1)) {}
  void Show(int value, const std::string& text) {
    if (!tty_ && value == lastValue_ && text == lastText_) return;
    lastValue_ = value;
    lastText_ = text;
    int shown = value < 0 ? 0 : value > 100 ? 100 : value;
    constexpr int kWidth = 30;
    int filled = shown * kWidth / 100;
    std::string bar(filled, '#');
    bar += std::string(kWidth - filled, '.');
    char head[64];
    if (value < 0)
      std::snprintf(head, sizeof head, "[%s]   --", bar.c_str());
    else
      std::snprintf(head, sizeof head, "[%s] %3d%%", bar.c_str(), shown);
    if (tty_)
      std::printf("\r%s  %s\x1b[K", head, text.c_str());
    else
      std::printf("%s  %s\n", head, text.c_str());
    std::fflush(stdout);
  }
  void End() {
    if (tty_) std::printf("\n");
  }

 private:
  bool tty_;
  int lastValue_ = -2;
  std::string lastText_;
};

std::string ReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) Fail("cannot read " + path);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

void PrintResults(const std::vector<zeladmin::Result>& results) {
  // The record's text column is shown only when some record carries one.
  bool texts = false;
  for (const auto& r : results) texts = texts || !r.text.empty();
  std::printf("%-32s %-8s %s\n", "User", "Id", texts ? "Outcome    Text" : "Outcome");
  for (const auto& r : results) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(r.userId));
    if (texts)
      std::printf("%-32s %-8s %-10s %s\n", r.userName.c_str(), id, StatusWord(r.status),
                  OneLine(r.text.c_str()).c_str());
    else
      std::printf("%-32s %-8s %s\n", r.userName.c_str(), id, StatusWord(r.status));
  }
  if (results.empty()) std::printf("(no users were reported)\n");
}

int Send(int argc, char** argv) {
  Args args = Parse(argc, argv, 2,
                    {"protected", "mapi", "fanrow", "receipt", "uncompressed", "domain-account",
                     "no-restore-password"},
                    {"dir", "config", "organization", "install-dir", "database-dir",
                     "server-database-dir", "protocols", "plugins", "addons", "smtp", "port",
                     "folder", "from", "subject", "body", "body-file", "flags"});
  if (args.positional.size() != 1) Fail("send needs one e-mail file: zeladmin send [options] EMAILFILE");
  std::string appDir = AppDir(args);
  std::string emailFile = fs::absolute(args.positional[0]).string();
  std::string smtp = args.Get("smtp", "127.0.0.1");
  int port = args.Int("port", 25);
  if (std::size_t colon = smtp.rfind(':'); colon != std::string::npos && smtp.find(':') == colon) {
    port = std::atoi(smtp.c_str() + colon + 1);
    smtp = smtp.substr(0, colon);
  }
  if (smtp.size() >= 100) Fail("--smtp: the server name is too long");
  int flags = args.Int("flags", 0);
  if (args.Has("domain-account")) flags |= zel::USERFLAG_DOMAIN_ACCOUNT;
  if (args.Has("no-restore-password")) flags |= zel::USERFLAG_NO_RESTORE_PASSWORD;
  std::string body = args.Has("body-file") ? ReadFile(args.Get("body-file")) : args.Get("body");
  if (body.size() >= 4096) Fail("the message body is longer than 4095 bytes");
  std::string folder = args.Get("folder");
  char storage[260] = {};
  if (folder.size() >= sizeof storage) Fail("--folder: the path is too long");
  std::snprintf(storage, sizeof storage, "%s", folder.c_str());
  for (const char* name : {"organization", "install-dir", "database-dir", "server-database-dir",
                           "from", "subject", "config"})
    if (args.Get(name).size() >= 260) Fail(std::string("--") + name + " is too long");

  std::string library = std::getenv("ZELADMIN_ZELINST") ? std::getenv("ZELADMIN_ZELINST")
                                                        : ProgramFolder() + "/libzelinst.so";
  void* zelinst = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!zelinst) Fail(std::string("cannot load ") + library + ": " + dlerror());
  auto manageSend = reinterpret_cast<ManageSendFn>(dlsym(zelinst, "ZELManageSend"));
  auto getProgress = reinterpret_cast<GetProgressFn>(dlsym(zelinst, "ZELGetProgress"));
  if (!manageSend || !getProgress) Fail(library + " lacks ZELManageSend or ZELGetProgress");

  auto db = OpenDb(appDir);
  WindowState state;
  state.db = db.get();
  state.job = db->StartJob(emailFile);
  plat::HWND window = plat::CreateMessageWindow(
      sw::kWindowClass, "zeladmin",
      [&state](plat::HWND, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
        return ServerWindowProc(&state, m, w, l);
      });

  struct sigaction action{};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  char errorText[512] = {};
  int started = manageSend(
      emailFile.c_str(), args.Has("protected") ? 1 : 0, args.Get("config", "default").c_str(),
      args.Get("organization").c_str(), args.Get("install-dir").c_str(),
      args.Get("database-dir").c_str(), args.Get("server-database-dir").c_str(),
      args.Int("protocols", 0), args.Int("plugins", 0), args.Int("addons", zel::ADDON_CLIENT_NT),
      args.Has("mapi") ? 1 : 0, smtp.c_str(), port, folder.empty() ? 0 : 1, storage,
      args.Has("fanrow") ? 1 : 0, args.Get("from").c_str(), args.Get("subject").c_str(),
      body.c_str(), args.Has("receipt") ? 1 : 0, args.Has("uncompressed") ? 0 : 1, flags,
      errorText);
  if (!started) {
    plat::DestroyWindow(window);
    Fail(std::string("the send job did not start: ") + errorText, 2);
  }
  if (storage[0]) std::printf("Packages go to %s\n", storage);

  ProgressBar bar;
  char text[512];
  int value = 0;
  bool cancelSent = false;
  auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  for (;;) {
    if (gInterrupts.load() >= 2) {
      bar.End();
      std::fprintf(stderr, "zeladmin: interrupted again; leaving the job\n");
      std::_Exit(130);
    }
    bool cancel = gInterrupts.load() == 1 && !cancelSent;
    if (!cancel && std::chrono::steady_clock::now() - last < std::chrono::seconds(1)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    last = std::chrono::steady_clock::now();
    text[0] = '\0';
    value = getProgress(cancel ? 1 : 0, text);
    text[sizeof text - 1] = '\0';
    bar.Show(value, OneLine(text));
    if (cancel) {
      cancelSent = true;
      continue;  // the job finishes its current user and ends with 100
    }
    if (value == 100 || value == -1) break;
  }
  bar.End();
  plat::DestroyWindow(window);
  std::printf("\n");
  auto results = db->Results(state.job);
  PrintResults(results);
  std::printf("\n%s\n", text);
  bool failed = value != 100;
  for (const auto& r : results) failed = failed || r.status == 16;
  // The library stays loaded: its thread may still be returning.
  if (cancelSent) return 130;
  return failed ? 1 : 0;
}

// ---- users, results ---------------------------------------------------------------

int Users(int argc, char** argv) {
  Args args = Parse(argc, argv, 2, {}, {"dir"});
  auto db = OpenDb(AppDir(args));
  std::printf("%-8s %-28s %-20s %-28s %-10s %-4s %s\n", "Id", "User", "Login", "E-mail", "Machine",
              "Dep.", "Version");
  for (const auto& u : db->Users()) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(u.id));
    std::printf("%-8s %-28s %-20s %-28s %-10s %-4d %s\n", id, u.name.c_str(), u.login.c_str(),
                u.email.c_str(), u.systemName.c_str(), u.deployment, u.version.c_str());
  }
  return 0;
}

int UserSet(int argc, char** argv) {
  Args args = Parse(argc, argv, 2, {}, {"dir"});
  if (args.positional.size() != 3) Fail("user-set needs NAME PROPERTY VALUE");
  auto db = OpenDb(AppDir(args));
  if (!db->SetProperty(args.positional[0], args.positional[1], args.positional[2]))
    Fail("no user \"" + args.positional[0] + "\" or no property \"" + args.positional[1] + "\"", 1);
  return 0;
}

int DomainAdd(int argc, char** argv) {
  Args args = Parse(argc, argv, 2, {}, {"dir"});
  if (args.positional.size() != 1) Fail("domain-add needs a domain name");
  auto db = OpenDb(AppDir(args));
  return db->AddDomain(args.positional[0]) ? 0 : 1;
}

int ResultsCommand(int argc, char** argv) {
  Args args = Parse(argc, argv, 2, {}, {"dir", "job"});
  auto db = OpenDb(AppDir(args));
  std::int64_t job = args.Has("job") ? args.Int("job", 0) : db->LastJob();
  std::printf("Send job %lld\n", static_cast<long long>(job));
  PrintResults(db->Results(job));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  std::string command = argv[1];
  if (command == "init") return Init(argc, argv);
  if (command == "send") return Send(argc, argv);
  if (command == "users") return Users(argc, argv);
  if (command == "user-set") return UserSet(argc, argv);
  if (command == "domain-add") return DomainAdd(argc, argv);
  if (command == "results") return ResultsCommand(argc, argv);
  Usage();
  return 2;
}
