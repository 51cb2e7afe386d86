#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/messages.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

// Every test gets its own message folder.
class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-msg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dir_ = root_ + "/run";
    setenv("NORV_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NORV_RUNTIME_DIR");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::vector<std::string> Sockets() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec))
      if (e.path().extension() == ".sock") names.push_back(e.path().filename());
    return names;
  }
  std::string root_, dir_;
};

// Runs `body` in a child process; its return value becomes the exit code.
pid_t Spawn(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

template <typename T>
bool WriteAll(int fd, const T& value) {
  return write(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}
template <typename T>
bool ReadAll(int fd, T* value) {
  std::size_t done = 0;
  auto* bytes = reinterpret_cast<char*>(value);
  while (done < sizeof *value) {
    ssize_t n = read(fd, bytes + done, sizeof *value - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct Received {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  int sender = 0;
};

}  // namespace

TEST_F(Messages, NamesGetStableIdsIgnoringCase) {
  UINT terminate = RegisterWindowMessage("NORV2.1_Terminate");
  UINT updated = RegisterWindowMessage(L"NORV2.1_BookmarksUpdated");
  EXPECT_EQ(terminate, 0xC000u);  // ids are handed out in order, from 0xC000
  EXPECT_EQ(updated, 0xC001u);
  EXPECT_EQ(RegisterWindowMessage("norv2.1_terminate"), terminate);
  EXPECT_EQ(RegisterWindowMessage(L"NORV2.1_TERMINATE"), terminate);
  EXPECT_EQ(RegisterWindowMessage(std::string_view("")), 0u);
  EXPECT_EQ(RegisterWindowMessage(L"Gr\u00fc\u00dfe"), RegisterWindowMessage("GR\u00dc\u00dfE"));

  struct stat st {};
  ASSERT_EQ(stat(dir_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // the folder is private
  EXPECT_EQ(MessageDirectory(), dir_);
}

TEST_F(Messages, AllProcessesAgreeOnIds) {
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  // The child registers first, so the parent's cache cannot help it.
  pid_t child = Spawn([&] { return WriteAll(pipefd[1], RegisterWindowMessage("Shared_Name")) ? 0 : 1; });
  UINT fromChild = 0;
  ASSERT_TRUE(ReadAll(pipefd[0], &fromChild));
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_NE(fromChild, 0u);
  EXPECT_EQ(RegisterWindowMessage("SHARED_NAME"), fromChild);

  // Several processes registering the same new names at once, each in its
  // own order, must end up with one id per name and distinct ids.
  constexpr int kChildren = 4, kNames = 24;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(Spawn([&, c] {
      for (int k = 0; k < kNames; ++k) {
        static const int kStrides[kChildren] = {1, 5, 7, 11};  // coprime to kNames
        int i = (k * kStrides[c] + c * 7) % kNames;
        UINT id = RegisterWindowMessage("Race_" + std::to_string(i));
        std::pair<int, UINT> record{i, id};
        if (!WriteAll(pipefd[1], record)) return 1;
      }
      return 0;
    }));
  }
  close(pipefd[1]);
  std::map<int, std::set<UINT>> idsByName;
  std::pair<int, UINT> record;
  int records = 0;
  while (ReadAll(pipefd[0], &record)) {
    idsByName[record.first].insert(record.second);
    ++records;
  }
  close(pipefd[0]);
  for (pid_t pid : children) EXPECT_EQ(ExitCode(pid), 0);
  EXPECT_EQ(records, kChildren * kNames);
  std::set<UINT> all;
  for (const auto& [name, ids] : idsByName) {
    EXPECT_EQ(ids.size(), 1u) << "Race_" << name << " got several ids";
    EXPECT_NE(*ids.begin(), 0u);
    all.insert(*ids.begin());
  }
  EXPECT_EQ(all.size(), std::size_t(kNames));
  EXPECT_EQ(RegisterWindowMessage("race_5"), *idsByName[5].begin());
}

TEST_F(Messages, BroadcastReachesOtherProcessesAndThisOne) {
  UINT id = RegisterWindowMessage("NORV2.1_BookmarksUpdated");
  int ready[2], report[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(report), 0);
  pid_t child = Spawn([&] {
    Received got;
    MessageListener listener([&](UINT m, WPARAM w, LPARAM l, int sender) { got = {m, w, l, sender}; });
    char ok = listener.IsOpen() ? 'y' : 'n';
    if (!WriteAll(ready[1], ok)) return 1;
    if (listener.Wait(20000) != 1) return 2;
    return WriteAll(report[1], got) ? 0 : 3;
  });
  char ok = 0;
  ASSERT_TRUE(ReadAll(ready[0], &ok));
  ASSERT_EQ(ok, 'y');

  Received own;
  MessageListener listener([&](UINT m, WPARAM w, LPARAM l) { own = {m, w, l, 0}; });
  ASSERT_TRUE(listener.IsOpen());
  EXPECT_EQ(BroadcastMessage(id, static_cast<WPARAM>(getpid()), -3), 2);

  Received got;
  ASSERT_TRUE(ReadAll(report[0], &got));
  EXPECT_EQ(ExitCode(child), 0);
  EXPECT_EQ(got.message, id);
  EXPECT_EQ(got.wParam, static_cast<WPARAM>(getpid()));
  EXPECT_EQ(got.lParam, -3);
  EXPECT_EQ(got.sender, getpid());

  EXPECT_EQ(listener.Poll(), 1);
  EXPECT_EQ(own.message, id);
  EXPECT_EQ(own.lParam, -3);
  EXPECT_EQ(listener.Poll(), 0);
  EXPECT_EQ(listener.Wait(0), 0);
  // The child's listener removed its socket when it ended.
  EXPECT_EQ(Sockets().size(), 1u);
  for (int fd : {ready[0], ready[1], report[0], report[1]}) close(fd);
}

TEST_F(Messages, SocketsOfDeadProcessesAreRemovedAndNeverBlock) {
  // A child that dies without closing its listener leaves its socket behind.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = Spawn([&] {
    auto* leaked = new MessageListener([](UINT, WPARAM, LPARAM) {});
    char ok = leaked->IsOpen() ? 'y' : 'n';
    WriteAll(ready[1], ok);
    _exit(0);  // no destructor runs
    return 0;
  });
  char ok = 0;
  ASSERT_TRUE(ReadAll(ready[0], &ok));
  ASSERT_EQ(ok, 'y');
  ASSERT_EQ(ExitCode(child), 0);
  ASSERT_EQ(Sockets().size(), 1u);
  std::string stale = dir_ + "/" + Sockets()[0];
  ASSERT_EQ(Sockets()[0].rfind(std::to_string(child) + "-", 0), 0u);

  // A dead socket named for a live process stays: that process may still be
  // setting up, and its name is not ours to take.
  std::string live = dir_ + "/" + std::to_string(getpid()) + "-999999.sock";
  {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, live.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
  }
  // Files that are not ours are left alone.
  std::string other = dir_ + "/notes.sock";
  close(creat(other.c_str(), 0600));

  MessageListener listener([](UINT, WPARAM, LPARAM) {});
  EXPECT_EQ(BroadcastMessage(0xC123, 1, 2), 1);
  EXPECT_EQ(listener.Poll(), 1);
  std::vector<std::string> left = Sockets();
  EXPECT_EQ(left.size(), 3u);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(other));
  close(ready[0]);
  close(ready[1]);
}

TEST_F(Messages, FullListenerIsSkippedWithoutBlocking) {
  MessageListener slow([](UINT, WPARAM, LPARAM) {});
  ASSERT_TRUE(slow.IsOpen());
  int reached = 0;
  constexpr int kSends = 2000;
  for (int i = 0; i < kSends; ++i) reached += BroadcastMessage(0xC001, i, 0);
  // The queue filled up long before: the rest were dropped, none waited.
  EXPECT_GT(reached, 0);
  EXPECT_LT(reached, kSends);
  EXPECT_EQ(slow.Poll(), reached);
  EXPECT_EQ(BroadcastMessage(0xC001, 0, 0), 1);  // room again
  EXPECT_EQ(slow.Poll(), 1);
}

TEST_F(Messages, ListenersOwnTheirSocketFiles) {
  std::string path;
  {
    MessageListener listener([](UINT, WPARAM, LPARAM) {});
    ASSERT_TRUE(listener.IsOpen());
    path = listener.SocketPath();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::path(path).filename().string().rfind(std::to_string(getpid()) + "-", 0), 0u);

    // A forked child that ends does not take the parent's socket with it.
    pid_t child = Spawn([] { return 0; });  // exits through _exit: no destructors
    ASSERT_EQ(ExitCode(child), 0);
    pid_t child2 = fork();
    if (child2 == 0) {
      listener.~MessageListener();  // as if the child ran its destructors
      _exit(0);
    }
    ASSERT_EQ(ExitCode(child2), 0);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(BroadcastMessage(0xC000, 0, 0), 1);

    // Datagrams of the wrong size or kind are dropped, not delivered.
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    char junk[40] = {1, 2, 3};
    sendto(fd, junk, 5, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    sendto(fd, junk, 32, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    sendto(fd, junk, 40, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
    EXPECT_EQ(listener.Poll(), 1);
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(Messages, UnsafeFolderIsRefused) {
  // Someone else's folder cannot be faked as root here, but a symbolic link
  // planted where the folder should be is refused the same way.
  std::string target = root_ + "/elsewhere";
  ASSERT_EQ(mkdir(target.c_str(), 0777), 0);
  ASSERT_EQ(symlink(target.c_str(), dir_.c_str()), 0);
  EXPECT_EQ(RegisterWindowMessage("Refused_Name"), 0u);
  MessageListener listener([](UINT, WPARAM, LPARAM) {});
  EXPECT_FALSE(listener.IsOpen());
  EXPECT_EQ(listener.Poll(), 0);
  EXPECT_EQ(BroadcastMessage(0xC000, 0, 0), 0);
  EXPECT_TRUE(fs::is_empty(target));

  // A folder of ours that others could enter is made private.
  ASSERT_EQ(unlink(dir_.c_str()), 0);
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  chmod(dir_.c_str(), 0755);
  EXPECT_NE(RegisterWindowMessage("Private_Name"), 0u);
  struct stat st {};
  ASSERT_EQ(stat(dir_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}
