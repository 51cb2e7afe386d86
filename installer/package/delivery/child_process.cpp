#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>

extern char** environ;

namespace zel {
namespace {

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const std::vector<std::string>& argv) {
  if (argv.empty() || pid_ > 0) {
    errno = EINVAL;
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  SpawnActions actions;
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions.actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
  // Its own process group and default signal handling.
  SpawnAttributes attributes;
  sigset_t all;
  sigfillset(&all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes.attributes, &all);
  posix_spawnattr_setsigmask(&attributes.attributes, &none);
  posix_spawnattr_setpgroup(&attributes.attributes, 0);
  posix_spawnattr_setflags(&attributes.attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions.actions, &attributes.attributes, args.data(),
                        environ);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  pid_ = pid;
  return true;
}

bool ChildProcess::Wait(int timeoutMs, int pollMs, int* exitCode) {
  if (pid_ <= 0) return false;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      return false;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (timeoutMs >= 0 && elapsed >= timeoutMs) return false;
    timespec pause{0, static_cast<long>(pollMs) * 1000000};
    nanosleep(&pause, nullptr);
  }
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int status;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace zel
