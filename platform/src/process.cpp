// Starting programs with posix_spawn and waiting for them. A child's status
// can be collected only once from the kernel, so it is kept here after that
// and every later question is answered from the kept value. Detached and
// released children are reaped by a background thread each, so none of them
// lingers as a zombie.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/process.h"

extern char** environ;

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;

struct ChildTable {
  std::mutex mutex;
  std::condition_variable ended;
  std::unordered_map<int, int> status;   // collected wait statuses by pid
  std::unordered_set<int> reaperOwned;   // pids a background thread waits for
};

// Never destroyed: reaper threads may still run while the program exits.
ChildTable& Children() {
  static ChildTable* table = new ChildTable;
  return *table;
}

DWORD ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<DWORD>(WTERMSIG(status));
  return 0;
}

LONG ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return ERROR_PATH_NOT_FOUND;
    case ENOEXEC:
    case ELIBBAD: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case E2BIG: return ERROR_INVALID_PARAMETER;
    default: return ERROR_ACCESS_DENIED;
  }
}

bool IsExecutableFile(const std::string& path, int* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno;
    return false;
  }
  if (S_ISDIR(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    *error = EACCES;
    return false;
  }
  return true;
}

// Finds a bare program name along PATH; an empty entry means the current folder.
bool SearchPath(const std::string& name, std::string* found, int* error) {
  const char* env = std::getenv("PATH");
  std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  *error = ENOENT;
  size_t pos = 0;
  for (;;) {
    size_t colon = path.find(':', pos);
    std::string dir = path.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    int e = 0;
    if (IsExecutableFile(candidate, &e)) {
      *found = candidate;
      return true;
    }
    if (e == EACCES) *error = EACCES;  // remember that one existed
    if (colon == std::string::npos) return false;
    pos = colon + 1;
  }
}

// Under the table's lock: collects the status if the child has ended.
// Returns 1 when ended (status kept), 0 while running, -1 when not our child.
int TryCollect(ChildTable& table, int pid) {
  if (table.status.count(pid)) return 1;
  int status = 0;
  pid_t r;
  do r = ::waitpid(pid, &status, WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r == pid) {
    table.status[pid] = status;
    table.ended.notify_all();
    return 1;
  }
  return r == 0 ? 0 : -1;
}

// Hands a child to a thread that waits for it; the caller holds the lock.
void StartReaper(ChildTable& table, int pid) {
  table.reaperOwned.insert(pid);
  try {
    std::thread([pid] {
      int status = 0;
      pid_t r;
      do r = ::waitpid(pid, &status, 0);
      while (r < 0 && errno == EINTR);
      ChildTable& t = Children();
      std::lock_guard<std::mutex> lock(t.mutex);
      t.reaperOwned.erase(pid);
      if (r == pid) t.status[pid] = status;
      t.ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the child stays collectable by waiting for it.
    table.reaperOwned.erase(pid);
  }
}

int OpenPidFd(int pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int Prepare(const ProcessOptions& options) {
    int rc = 0;
    if (!options.workingDirectory.empty())
      rc = posix_spawn_file_actions_addchdir_np(&actions_, options.workingDirectory.c_str());
    if (!rc && options.detached)
      rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors of the caller (settings databases, sockets, lock files)
    // must not stay open for the lifetime of the child.
    if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
#endif
    // The child starts with no blocked signals and default handling, whatever
    // the calling thread had.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig = 1; sig < 32; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&defaults, sig);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.detached) flags |= POSIX_SPAWN_SETSID;
    if (!rc) rc = posix_spawnattr_setsigmask(&attr_, &none);
    if (!rc) rc = posix_spawnattr_setsigdefault(&attr_, &defaults);
    if (!rc) rc = posix_spawnattr_setflags(&attr_, flags);
    return rc;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

}  // namespace

LONG StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                  ProcessInfo* info) {
  if (info) info->pid = -1;
  if (argv.empty() || argv[0].empty()) return ERROR_INVALID_PARAMETER;

  std::string program = argv[0];
  int error = 0;
  if (program.find('/') == std::string::npos) {
    if (options.searchPath) {
      if (!SearchPath(argv[0], &program, &error)) return ErrorFromErrno(error);
    } else {
      program = "./" + program;
    }
  }
  // Relative to the caller's folder even when the child gets another one.
  if (program[0] != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return ErrorFromErrno(errno);
    program = std::string(cwd) + "/" + program;
  }
  // Answer the common failures the way Windows does before starting anything;
  // posix_spawn still reports whatever else makes the exec fail.
  if (!IsExecutableFile(program, &error)) return ErrorFromErrno(error);
  if (!options.workingDirectory.empty()) {
    struct stat st;
    if (::stat(options.workingDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return ERROR_DIRECTORY;
  }

  SpawnSetup setup;
  if (int rc = setup.Prepare(options)) return ErrorFromErrno(rc);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  // glibc's posix_spawn waits until the exec has happened and returns its error.
  int rc = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attr(), args.data(), environ);
  if (rc != 0) return ErrorFromErrno(rc);
  ChildTable& table = Children();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.status.erase(pid);  // a kept status of an earlier process with this pid
  if (options.detached) StartReaper(table, pid);
  if (info) info->pid = pid;
  return ERROR_SUCCESS;
}

LONG StartProcess(std::string_view commandLine, const ProcessOptions& options,
                  ProcessInfo* info) {
  if (info) info->pid = -1;
  std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (argv.empty()) return ERROR_INVALID_PARAMETER;
  return StartProcess(argv, options, info);
}

DWORD WaitForProcess(const ProcessInfo& process, DWORD milliseconds) {
  const int pid = process.pid;
  if (pid <= 0) return WAIT_FAILED;
  const bool forever = milliseconds == INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
  ChildTable& table = Children();

  bool ourChild = true;
  {
    std::unique_lock<std::mutex> lock(table.mutex);
    if (table.reaperOwned.count(pid)) {
      auto done = [&] { return table.status.count(pid) > 0 || !table.reaperOwned.count(pid); };
      if (forever)
        table.ended.wait(lock, done);
      else if (!table.ended.wait_until(lock, deadline, done))
        return WAIT_TIMEOUT;
      return table.status.count(pid) ? WAIT_OBJECT_0 : WAIT_FAILED;
    }
    int state = TryCollect(table, pid);
    if (state == 1) return WAIT_OBJECT_0;
    if (state < 0) {
      // Not a child of ours: its end can still be seen, its status cannot.
      if (errno != ECHILD) return WAIT_FAILED;
      ourChild = false;
      if (::kill(pid, 0) != 0 && errno == ESRCH) return WAIT_OBJECT_0;
    }
  }
  if (!forever && milliseconds == 0) return WAIT_TIMEOUT;

  auto remainingMs = [&]() -> int {
    if (forever) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
  };
  auto check = [&]() -> int {
    if (!ourChild) return (::kill(pid, 0) != 0 && errno == ESRCH) ? 1 : 0;
    std::lock_guard<std::mutex> lock(table.mutex);
    int state = TryCollect(table, pid);
    // Another thread may have collected it in the meantime.
    if (state < 0 && table.status.count(pid)) return 1;
    return state;
  };

  int fd = OpenPidFd(pid);
  if (fd >= 0) {
    for (;;) {
      struct pollfd p = {fd, POLLIN, 0};
      int r = ::poll(&p, 1, remainingMs());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        ::close(fd);
        return WAIT_FAILED;
      }
      if (r == 0) {
        ::close(fd);
        return WAIT_TIMEOUT;
      }
      ::close(fd);
      if (!ourChild) return WAIT_OBJECT_0;
      int state = check();
      return state == 1 ? WAIT_OBJECT_0 : state == 0 ? WAIT_TIMEOUT : WAIT_FAILED;
    }
  }

  // No pidfd (older kernels): look again with growing pauses.
  int pauseMs = 1;
  for (;;) {
    int state = check();
    if (state == 1) return WAIT_OBJECT_0;
    if (state < 0) return WAIT_FAILED;
    int left = remainingMs();
    if (left == 0) return WAIT_TIMEOUT;
    int sleep = left < 0 ? pauseMs : std::min(pauseMs, left);
    std::this_thread::sleep_for(std::chrono::milliseconds(sleep));
    pauseMs = std::min(pauseMs * 2, 50);
  }
}

BOOL GetProcessExitCode(const ProcessInfo& process, DWORD* exitCode) {
  if (!exitCode || process.pid <= 0) return FALSE;
  ChildTable& table = Children();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (auto it = table.status.find(process.pid); it != table.status.end()) {
    *exitCode = ExitCodeOf(it->second);
    return TRUE;
  }
  if (table.reaperOwned.count(process.pid)) {
    *exitCode = STILL_ACTIVE;
    return TRUE;
  }
  int state = TryCollect(table, process.pid);
  if (state < 0) return FALSE;
  *exitCode = state == 1 ? ExitCodeOf(table.status[process.pid]) : STILL_ACTIVE;
  return TRUE;
}

void ReleaseProcess(const ProcessInfo& process) {
  if (process.pid <= 0) return;
  ChildTable& table = Children();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (table.status.erase(process.pid) || table.reaperOwned.count(process.pid)) return;
  int state = TryCollect(table, process.pid);
  if (state == 1)
    table.status.erase(process.pid);
  else if (state == 0)
    StartReaper(table, process.pid);
}

}  // namespace plat
