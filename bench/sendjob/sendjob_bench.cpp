// A send job of 1,000 users to a local folder (compressed packages) against
// compressing the same package bytes with the implode tool, in one run.
//
// The scratch server's packages hold the built stub, the core and tracing
// libraries and a package database with synthetic client files; the peer
// runs the implode tool once per user over that user's member bytes (the
// setup program, the three libraries and a package database built from the
// same files), so that both sides compress the same bytes the same number
// of times. Reported: the job's time, the tool's time and their ratio.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/window.h"
#include "qvbind.h"
#include "zel/server_window.h"
#include "zel/zelinst.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace sw = zel::server;

int Users() {
  const char* text = std::getenv("ZEL_BENCH_USERS");
  return text && std::atoi(text) > 0 ? std::atoi(text) : 1000;
}

// Content like program files: stretches of repeated structure between
// stretches of noise.
std::string Content(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string content(size, '\0');
  for (std::size_t i = 0; i < content.size();) {
    std::size_t run = 64 + random() % 512;
    if (random() % 2) {
      for (std::size_t j = 0; j < run && i < content.size(); ++j, ++i) content[i] = static_cast<char>(random());
    } else {
      std::size_t back = 1 + random() % 2048;
      for (std::size_t j = 0; j < run && i < content.size(); ++j, ++i)
        content[i] = i >= back ? content[i - back] : 'x';
    }
  }
  return content;
}

void Write(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
}

void SetHklm(const char* key, const char* name, const std::string& value) {
  plat::HKEY k = nullptr;
  plat::RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &k, nullptr);
  plat::RegSetValueExA(k, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(value.c_str()),
                       static_cast<plat::DWORD>(value.size() + 1));
  plat::RegCloseKey(k);
}

int RunTool(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Server {
  std::string dir;
  std::string app;
  std::string storage;
  std::string emailFile;
  std::string memberBytes;  // one user's member sources, concatenated

  Server() {
    char pattern[] = "/tmp/zelbench-XXXXXX";
    dir = mkdtemp(pattern);
    app = dir + "/app";
    storage = dir + "/packages";
    for (const char* sub : {"registry", "tmp", "app/admin", "data/config", "packages"})
      fs::create_directories(dir + "/" + sub);
    setenv("NORV_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
    setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
    setenv("ZEL_MESSAGE_PAUSE_MS", "0", 1);
    const char* key = "Software\\Velmora\\Orbserver\\CurrentVersion";
    SetHklm(key, "InstallDir", app);
    SetHklm(key, "DataDir", dir + "/data");
    for (auto [from, to] : {std::pair{STUB_FILE, "client32/stub.zel"}, std::pair{SETUP_FILE, "client32/setup.zel"},
                            std::pair{QVCORE_FILE, "qvcore32.dll"}, std::pair{QXTRACE_FILE, "qxTrace.dll"}}) {
      fs::create_directories(fs::path(app + "/" + to).parent_path());
      fs::copy_file(from, app + "/" + to, fs::copy_options::overwrite_existing);
      chmod((app + "/" + to).c_str(), 0755);
    }
    Write(app + "/qvcryp32.dll", Content(64 << 10, 1));
    const std::string client = app + "/ClientSoftware/TRELD/Client/";
    Write(client + "Orbclient.msi", Content(384 << 10, 2));
    Write(client + "Data1.cab", Content(256 << 10, 3));
    Write(client + "setup.exe", Content(64 << 10, 4));
    Write(client + "Norv2.1/libnorv21.so", Content(256 << 10, 5));
    Write(client + "Norv2.1/norvexplore", Content(32 << 10, 6));
    Write(client + "Norv2.1/nls/enu/Norv21enu.chm", Content(16 << 10, 7));
    Write(client + "Config/schedule.ini", "[Schedule]\n");

    zel::QvBindCandidates({QVCORE_FILE}, 1);
    const zel::QvCore* qv = zel::QvApi();
    char path[QV_MAX_PATH];
    std::snprintf(path, sizeof path, "%s/data/config/Default.cdb", dir.c_str());
    int db = qv->qvDBFileOpen(path, QV_DB_NEW);
    int protocols = qv->qvDBCreateTree(db, 0, "Protocols");
    int def = qv->qvDBCreateNode(db, protocols, "Default", 0);
    qv->qvDBWrite(db, def, "TCP/IP", 6);
    qv->qvDBClose(db, def);
    qv->qvDBCreateTree(db, 0, "Config");
    qv->qvDBFileClose(db);

    // One user's package database, built from the same files.
    for (int group = 0; group < zel::GROUP_COUNT; ++group) zel::GatherComponentInfo(group);
    zel::SetFirstPackage(false);
    char temp[260] = {};
    zel::BuildPackage(path, temp, "", "", 0, 0x2);
    for (const std::string& source : {app + "/client32/setup.zel", app + "/qvcore32.dll", app + "/qvcryp32.dll",
                                      app + "/qxTrace.dll", std::string(temp)}) {
      std::ifstream in(source, std::ios::binary);
      memberBytes.append(std::istreambuf_iterator<char>(in), {});
    }
    unlink(temp);
    while (zel::QvBindCount() > 0) zel::QvRelease();

    emailFile = dir + "/users.txt";
    std::ofstream users(emailFile);
    for (int i = 0; i < Users(); ++i) users << "user" << i << "@example.com, user" << i << "\n";
  }
  ~Server() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void BM_SendJobToFolderVsImplode(benchmark::State& state) {
  Server server;
  int users = 0, stored = 0;
  // The administration program's window: users are created, and each
  // stored package is removed once reported, so that disk use stays small.
  plat::HWND window = plat::CreateNamedWindow(
      sw::kWindowClass, "", [&](plat::HWND, plat::UINT message, plat::WPARAM, plat::LPARAM lParam) -> plat::LRESULT {
        auto* record = reinterpret_cast<unsigned char*>(lParam);
        if (message == sw::kCreateUser) sw::PutInt(record, sw::user::kIdentifier, ++users);
        if (message == sw::kReportResult && sw::GetInt(record, sw::result::kStatus) == sw::kStatusStored) {
          char name[80];
          sw::GetText(record, sw::result::kUserName, name, sizeof name);
          unlink((server.storage + "/client_" + name + ".exe").c_str());
          ++stored;
        }
        return 0;
      });
  const std::string input = server.dir + "/members.bin";
  Write(input, server.memberBytes);

  double jobSeconds = 0, toolSeconds = 0;
  for (auto _ : state) {
    char storage[260], error[512];
    std::snprintf(storage, sizeof storage, "%s", server.storage.c_str());
    auto start = std::chrono::steady_clock::now();
    if (ZELManageSend(server.emailFile.c_str(), 0, "Default", "", "", "", "", 0, 0, 0x2, 0, "", 25, 1, storage,
                      0, "", "", "", 0, 1, 0, error) != 1) {
      state.SkipWithError(error);
      break;
    }
    char text[512];
    int progress;
    while ((progress = ZELGetProgress(0, text)) != 100 && progress != -1)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    jobSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress != 100 || stored != Users()) {
      state.SkipWithError(("job ended with " + std::string(text)).c_str());
      break;
    }

    start = std::chrono::steady_clock::now();
    for (int i = 0; i < Users(); ++i) {
      if (RunTool({IMPLODE_TOOL, input, server.dir + "/members.imp"}) != 0) {
        state.SkipWithError("the implode tool failed");
        break;
      }
    }
    toolSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(jobSeconds);
  }
  plat::DestroyWindow(window);
  state.counters["users"] = Users();
  state.counters["member_MB_per_user"] = static_cast<double>(server.memberBytes.size()) / (1 << 20);
  state.counters["job_s"] = jobSeconds;
  state.counters["implode_tool_s"] = toolSeconds;
  state.counters["job_vs_tool"] = toolSeconds > 0 ? jobSeconds / toolSeconds : 0;
}
BENCHMARK(BM_SendJobToFolderVsImplode)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
