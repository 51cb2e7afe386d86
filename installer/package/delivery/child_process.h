// A started program with its standard streams on /dev/null, owned until it
// has ended: an owner that goes away first kills and reaps it.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace zel {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (searched in PATH when it has no slash). False when it
  // cannot be started; errno tells why.
  bool Start(const std::vector<std::string>& argv);
  // Polls every pollMs until the program ends or timeoutMs passes (negative:
  // no limit). True when it ended; its exit code is then in *exitCode (a
  // signal gives 128 + the signal's number).
  bool Wait(int timeoutMs, int pollMs, int* exitCode);
  // Kills it and collects its status.
  void Kill();

 private:
  pid_t pid_ = -1;
};

}  // namespace zel
