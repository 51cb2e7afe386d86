// Cold start of norvexplore with both demo plugins against a minimal Qt
// program with one QWebEngineView on a local page, in the same run and
// alternating, under Xvfb (started here when there is no DISPLAY).
//
// One start: a fresh home, configuration, cache and registry folder (a first
// start: nothing cached, no settings), the program launched with the probe
// preloaded; the time runs from just before the launch to the end of the
// main window's first paint (written by the probe). One second later the
// proportional set size of the program and every process it started (the
// web engine's helpers) is summed, then the programs are ended.
//
// Reported (medians over the iterations): the explorer's start time as the
// benchmark time, the peer's as "peer_ms", "time_ratio" (explorer / peer),
// the memory of both ("explorer_MiB", "peer_MiB") and "memory_ratio".
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A file descriptor, closed with its owner.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Reset() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

// The parent of every process: pid -> parent pid.
std::map<pid_t, pid_t> ProcessParents() {
  std::map<pid_t, pid_t> parents;
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return parents;
  while (dirent* entry = ::readdir(dir)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // "pid (name) state ppid ...": the name may hold blanks and brackets.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    parents[pid] = parent;
  }
  ::closedir(dir);
  return parents;
}

// `root` and every process below it.
std::vector<pid_t> ProcessTree(pid_t root) {
  const std::map<pid_t, pid_t> parents = ProcessParents();
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == tree[i]) tree.push_back(pid);
    }
  }
  return tree;
}

// Proportional set size in KiB (shared pages split among their users).
long PssKiB(pid_t pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line)) {
    if (line.rfind("Pss:", 0) == 0) return std::atol(line.c_str() + 4);
  }
  return 0;
}

// A started program with its own process group; ended (with everything it
// started) by its owner.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& env,
        int keepFd = -1) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& value : env) envp.push_back(const_cast<char*>(value.c_str()));
    envp.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (keepFd >= 0) posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
    if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  ~Child() { End(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Running() const {
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
  }

  void End() {
    if (m_pid <= 0) return;
    const std::vector<pid_t> tree = ProcessTree(m_pid);
    ::kill(-m_pid, SIGTERM);
    for (pid_t pid : tree) ::kill(pid, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(-m_pid, SIGKILL);
    for (pid_t pid : tree) ::kill(pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
};

struct Settings {
  fs::path scratch;
  std::string display;
  std::string page;
  std::unique_ptr<Child> xvfb;
};
Settings gSettings;

// An X server for the run: the one in DISPLAY, else an Xvfb of our own on
// the first free display number.
bool StartDisplay() {
  if (const char* display = std::getenv("DISPLAY"); display != nullptr && display[0] != '\0') {
    gSettings.display = display;
    return true;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd readEnd(fds[0]);
  Fd writeEnd(fds[1]);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  gSettings.xvfb = std::make_unique<Child>(
      std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"},
      env, writeEnd.Get());
  writeEnd.Reset();
  std::string number;
  char c = 0;
  while (::read(readEnd.Get(), &c, 1) == 1 && c != '\n') number += c;
  if (number.empty()) return false;
  gSettings.display = ":" + number;
  return true;
}

struct Start {
  double seconds = 0;
  double mebibytes = 0;
};

enum class Program { Explorer, Peer };

// One cold start of `program`; seconds < 0 when it never painted.
Start StartOnce(Program program, int round) {
  const fs::path home = gSettings.scratch / ("run" + std::to_string(round));
  fs::remove_all(home);
  fs::create_directories(home / "registry");
  fs::create_directories(home / "runtime");
  fs::permissions(home / "runtime", fs::perms::owner_all);
  const fs::path mark = home / "painted";
  std::vector<std::string> env = {
      "PATH=" + std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin"),
      "HOME=" + home.string(),
      "XDG_CONFIG_HOME=" + (home / "config").string(),
      "XDG_DATA_HOME=" + (home / "data").string(),
      "XDG_CACHE_HOME=" + (home / "cache").string(),
      "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
      "NORV_REGISTRY_DIR=" + (home / "registry").string(),
      "DISPLAY=" + gSettings.display,
      "QT_QPA_PLATFORM=xcb",
      "LD_PRELOAD=" PROBE,
      "NORV_STARTUP_MARK=" + mark.string(),
      // The web engine's sandbox needs user namespaces that a container's
      // root may not have; this is the benchmark's environment only.
      "QTWEBENGINE_DISABLE_SANDBOX=1",
  };
  std::vector<std::string> args;
  if (program == Program::Explorer) {
    args = {EXPLORER, "loadplugin:System;" SYSTEM_PLUGIN ";" SYSTEM_TEXTS ";;",
            "loadplugin:Files;" FILES_PLUGIN ";" FILES_TEXTS ";;"};
  } else {
    args = {PEER, gSettings.page};
  }

  Start result;
  const long long launched = MonotonicNs();
  Child child(args, env);
  long long painted = 0;
  while (MonotonicNs() - launched < 60'000'000'000LL && child.Running()) {
    std::ifstream in(mark);
    if (in >> painted) break;
    painted = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (painted == 0) {
    result.seconds = -1;
    return result;
  }
  result.seconds = static_cast<double>(painted - launched) / 1e9;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long kib = 0;
  for (pid_t pid : ProcessTree(child.Pid())) kib += PssKiB(pid);
  result.mebibytes = static_cast<double>(kib) / 1024.0;
  child.End();
  fs::remove_all(home);
  return result;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void BM_ColdStartAgainstPeer(benchmark::State& state) {
  std::vector<double> explorerTimes, peerTimes, explorerMemory, peerMemory;
  int round = 0;
  for (auto _ : state) {
    // Alternating, so that a change of load on the machine hits both.
    const Start peer = StartOnce(Program::Peer, round++);
    const Start explorer = StartOnce(Program::Explorer, round++);
    if (peer.seconds < 0 || explorer.seconds < 0) {
      state.SkipWithError(peer.seconds < 0 ? "the peer never painted its window"
                                           : "norvexplore never painted its window");
      return;
    }
    state.SetIterationTime(explorer.seconds);
    explorerTimes.push_back(explorer.seconds);
    peerTimes.push_back(peer.seconds);
    explorerMemory.push_back(explorer.mebibytes);
    peerMemory.push_back(peer.mebibytes);
  }
  const double explorerMs = Median(explorerTimes) * 1000;
  const double peerMs = Median(peerTimes) * 1000;
  state.counters["explorer_ms"] = explorerMs;
  state.counters["peer_ms"] = peerMs;
  state.counters["time_ratio"] = peerMs > 0 ? explorerMs / peerMs : 0;
  state.counters["explorer_MiB"] = Median(explorerMemory);
  state.counters["peer_MiB"] = Median(peerMemory);
  state.counters["memory_ratio"] =
      Median(peerMemory) > 0 ? Median(explorerMemory) / Median(peerMemory) : 0;
}
BENCHMARK(BM_ColdStartAgainstPeer)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/norv-startup-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  gSettings.scratch = pattern;
  // The peer's local page: about what the explorer's overview page holds.
  gSettings.page = (gSettings.scratch / "page.html").string();
  {
    std::ofstream page(gSettings.page);
    page << "<!DOCTYPE html><html><head><title>Overview</title></head><body>"
            "<h1>Overview</h1><p>A local page.</p></body></html>\n";
  }
  if (!StartDisplay()) {
    std::fprintf(stderr, "bench_startup: no DISPLAY and Xvfb did not start\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gSettings.xvfb.reset();
  std::error_code ignored;
  fs::remove_all(gSettings.scratch, ignored);
  return 0;
}
