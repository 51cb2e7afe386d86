// Real servers for the delivery tests, started on 127.0.0.1 and stopped by
// their owners: an SMTP server (python3-aiosmtpd through smtp_fixture.py)
// and a private sshd with its own host key and a key made for the test.
#pragma once
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace delivery_test {

namespace fs = std::filesystem;

inline std::string MakeScratch(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::string& path, const std::string& text, int mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

// Runs argv, waits, returns the exit code (-1 when it could not run) and its output.
inline int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(pipefd[1], 1);
    dup2(pipefd[1], 2);
    close(pipefd[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipefd[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out.append(buffer, n);
  close(pipefd[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

inline bool PortAnswers(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// The SMTP server; Ready() is false (with Why()) when it could not start.
class SmtpServer {
 public:
  explicit SmtpServer(const std::vector<std::string>& options = {}) {
    dir_ = MakeScratch("smtp");
    std::string script = std::string(DELIVERY_FIXTURE_DIR) + "/smtp_fixture.py";
    if (access("/usr/bin/python3", X_OK) != 0) {
      why_ = "/usr/bin/python3 is missing";
      return;
    }
    int pipefd[2];
    if (pipe(pipefd) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipefd[1], 1);
      close(pipefd[0]);
      // The server's complaints (a client that gave up on TLS, say) go to its log.
      int log = open((dir_ + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) dup2(log, 2);
      std::vector<std::string> argv = {"/usr/bin/python3", script, "serve", dir_};
      argv.insert(argv.end(), options.begin(), options.end());
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(pipefd[1]);
    std::string line;
    pollfd p{pipefd[0], POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (poll(&p, 1, 200) > 0) {
        char c[256];
        ssize_t n = read(pipefd[0], c, sizeof c);
        if (n <= 0) break;
        line.append(c, n);
      }
    }
    close(pipefd[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    if (port_ <= 0) why_ = "the SMTP server (python3-aiosmtpd) did not start";
  }
  ~SmtpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  bool Ready() const { return port_ > 0; }
  const std::string& Why() const { return why_; }
  int Port() const { return port_; }
  const std::string& Folder() const { return dir_; }

  // The stored messages, oldest first, once at least `count` arrived (or after 20 s).
  std::vector<std::string> Messages(std::size_t count = 0) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      std::vector<std::string> found;
      for (int i = 1;; ++i) {
        std::string path = dir_ + "/msg-" + std::to_string(i) + ".eml";
        if (!fs::exists(path)) break;
        found.push_back(path);
      }
      if (found.size() >= count || std::chrono::steady_clock::now() > deadline) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // Headers, "BODY:" and the text as the fixture prints them; attachments into outDir.
  static std::string Extract(const std::string& message, const std::string& outDir) {
    std::string out;
    RunProgram({"/usr/bin/python3", std::string(DELIVERY_FIXTURE_DIR) + "/smtp_fixture.py",
                "extract", message, outDir},
               &out);
    return out;
  }

 private:
  std::string dir_;
  std::string why_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A private sshd on a loopback port, accepting the test's key for the current user.
class SshServer {
 public:
  SshServer() {
    dir_ = MakeScratch("sshd");
    if (access("/usr/sbin/sshd", X_OK) != 0 || access("/usr/bin/ssh-keygen", X_OK) != 0) {
      why_ = "openssh-server is not installed";
      return;
    }
    mkdir("/run/sshd", 0755);
    std::string out;
    if (RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ + "/hostkey"}, &out) != 0 ||
        RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ + "/userkey"}, &out) != 0 ||
        RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ + "/otherkey"}, &out) != 0) {
      why_ = "ssh-keygen failed: " + out;
      return;
    }
    WriteText(dir_ + "/authorized_keys", ReadText(dir_ + "/userkey.pub"), 0600);
    port_ = FreePort();
    WriteText(dir_ + "/sshd_config",
              "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " + dir_ +
                  "/hostkey\nAuthorizedKeysFile " + dir_ +
                  "/authorized_keys\nPermitRootLogin prohibit-password\n"
                  "PasswordAuthentication no\nKbdInteractiveAuthentication no\nStrictModes no\n"
                  "UsePAM no\nPidFile " + dir_ + "/sshd.pid\n");
    if (RunProgram({"/usr/sbin/sshd", "-f", dir_ + "/sshd_config", "-E", dir_ + "/sshd.log"}, &out) != 0) {
      why_ = "sshd did not start: " + out + ReadText(dir_ + "/sshd.log");
      return;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!PortAnswers(port_) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!PortAnswers(port_)) {
      why_ = "sshd does not answer: " + ReadText(dir_ + "/sshd.log");
      return;
    }
    ready_ = true;
  }
  ~SshServer() {
    int pid = std::atoi(ReadText(dir_ + "/sshd.pid").c_str());
    if (pid > 0) kill(pid, SIGTERM);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Why() const { return why_; }
  int Port() const { return port_; }
  std::string UserKey() const { return dir_ + "/userkey"; }
  std::string OtherKey() const { return dir_ + "/otherkey"; }
  std::string KnownHosts() const { return dir_ + "/known_hosts"; }
  const std::string& Folder() const { return dir_; }

 private:
  std::string dir_;
  std::string why_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace delivery_test
