// Broadcasting registered messages: every listener owns a Unix datagram
// socket "<pid>-<n>.sock" in the message directory, and a broadcast sends one
// datagram to each. Sends never wait: a listener whose queue is full misses
// the message, as a hung window would, rather than stalling the sender.
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "messages_internal.h"
#include "platform/messages.h"

namespace plat {
namespace {

// How many datagrams one Poll delivers at most, so that a flood from other
// processes cannot keep the caller's event loop from running.
constexpr int kMaxPerPoll = 4096;

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Sockets of this process get distinct numbers; a forked child has another
// pid and so other names, whatever the counter says.
std::atomic<unsigned> gNextSerial{0};

// A bound socket file whose owner has gone answers ECONNREFUSED.
bool NobodyListens(const std::string& path) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return false;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool refused = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
                 errno == ECONNREFUSED;
  ::close(fd);
  return refused;
}

}  // namespace

int BroadcastMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  std::string dir;
  if (!messages::PrepareDirectory(&dir)) return 0;
  DIR* folder = ::opendir(dir.c_str());
  if (!folder) return 0;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::closedir(folder);
    return 0;
  }
  messages::Packet packet{};
  packet.magic = messages::kPacketMagic;
  packet.message = message;
  packet.wParam = wParam;
  packet.lParam = lParam;
  packet.senderPid = static_cast<std::int32_t>(::getpid());

  int reached = 0;
  while (dirent* entry = ::readdir(folder)) {
    pid_t pid = 0;
    if (!messages::ParseSocketName(entry->d_name, &pid)) continue;
    std::string path = dir + "/" + entry->d_name;
    sockaddr_un addr;
    if (!MakeAddress(path, &addr)) continue;
    ssize_t sent = ::sendto(fd, &packet, sizeof packet, MSG_DONTWAIT | MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (sent == static_cast<ssize_t>(sizeof packet)) {
      ++reached;
    } else if (sent < 0 && errno == ECONNREFUSED) {
      // Left behind by a process that did not close its listener.
      if (messages::SocketIsOrphaned(path, pid)) ::unlink(path.c_str());
    }
    // EAGAIN (queue full), ENOENT (removed meanwhile) and the rest: skip.
  }
  ::close(fd);
  ::closedir(folder);
  return reached;
}

struct MessageListener::Impl {
  int fd = -1;
  std::string path;
  pid_t owner = 0;
  SenderHandler handler;
};

MessageListener::MessageListener(Handler handler)
    : MessageListener(SenderHandler(
          [h = std::move(handler)](UINT message, WPARAM wParam, LPARAM lParam, int) {
            if (h) h(message, wParam, lParam);
          })) {}

MessageListener::MessageListener(SenderHandler handler) : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->owner = ::getpid();
  std::string dir;
  if (!messages::PrepareDirectory(&dir)) return;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string path = dir + "/" + std::to_string(impl_->owner) + "-" +
                       std::to_string(gNextSerial.fetch_add(1)) + ".sock";
    sockaddr_un addr;
    if (!MakeAddress(path, &addr)) break;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      impl_->fd = fd;
      impl_->path = path;
      return;
    }
    if (errno != EADDRINUSE) break;
    // The name of an earlier process with our pid: free it if it is dead.
    if (NobodyListens(path)) ::unlink(path.c_str());
  }
  ::close(fd);
}

MessageListener::~MessageListener() {
  if (impl_->fd < 0) return;
  // A forked child inherits the descriptor but not the name: only the
  // process that bound the socket removes its file.
  if (::getpid() == impl_->owner) ::unlink(impl_->path.c_str());
  ::close(impl_->fd);
}

bool MessageListener::IsOpen() const { return impl_->fd >= 0; }

int MessageListener::SocketFd() const { return impl_->fd; }

std::string MessageListener::SocketPath() const { return impl_->path; }

int MessageListener::Poll() {
  if (impl_->fd < 0) return 0;
  int handled = 0;
  for (int i = 0; i < kMaxPerPoll; ++i) {
    messages::Packet packet;
    // One byte more than a packet, so that longer datagrams show as such.
    unsigned char buffer[sizeof packet + 1];
    ssize_t n = ::recv(impl_->fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // EAGAIN: nothing more waiting
    if (n != static_cast<ssize_t>(sizeof packet)) continue;
    std::memcpy(&packet, buffer, sizeof packet);
    if (packet.magic != messages::kPacketMagic) continue;
    ++handled;
    if (impl_->handler)
      impl_->handler(packet.message, static_cast<WPARAM>(packet.wParam),
                     static_cast<LPARAM>(packet.lParam), packet.senderPid);
  }
  return handled;
}

int MessageListener::Wait(int milliseconds) {
  if (impl_->fd < 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
  for (;;) {
    int timeout = -1;
    if (milliseconds >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeout = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    pollfd p{impl_->fd, POLLIN, 0};
    int rc = ::poll(&p, 1, timeout);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return 0;
    int handled = Poll();
    // Only malformed datagrams came: keep waiting for a real message.
    if (handled > 0 || (milliseconds >= 0 && Clock::now() >= deadline)) return handled;
  }
}

}  // namespace plat
