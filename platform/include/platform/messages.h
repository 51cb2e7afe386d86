// Registered window messages across processes (RegisterWindowMessage,
// PostMessage to HWND_BROADCAST). A name maps to the same id (0xC000 to
// 0xFFFF) in every process of the user: the mapping lives in a small SQLite
// table in the user's runtime directory. A broadcast sends (id, wParam,
// lParam) as one datagram to every listener's socket in that directory;
// sockets whose process is gone are removed and never block a sender.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

// 0 on failure (for example an empty name, or every id taken). Names compare
// without regard to case; ids are handed out in order of first registration.
UINT RegisterWindowMessage(std::string_view name);
UINT RegisterWindowMessage(std::wstring_view name);

// Sends to every listener of every process of this user, this one included,
// without waiting: a listener whose queue is full misses the message.
// Returns the number of listeners reached.
int BroadcastMessage(UINT message, WPARAM wParam, LPARAM lParam);

// A process's listening endpoint: a socket in MessageDirectory() that every
// broadcast of every process of the user reaches. Construct it to start
// receiving; the destructor removes the socket.
//
// Without an event loop, call Poll or Wait. Under Qt, watch the socket:
//   auto* n = new QSocketNotifier(listener.SocketFd(), QSocketNotifier::Read, parent);
//   QObject::connect(n, &QSocketNotifier::activated, [&] { listener.Poll(); });
// Handlers run on the thread that calls Poll or Wait.
class MessageListener {
 public:
  using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  // The same with the process id of the sender.
  using SenderHandler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam, int senderPid)>;
  explicit MessageListener(Handler handler);
  explicit MessageListener(SenderHandler handler);
  ~MessageListener();
  MessageListener(const MessageListener&) = delete;
  MessageListener& operator=(const MessageListener&) = delete;

  // False when the socket could not be made (the folder is not usable, or
  // its path is too long for a socket name).
  bool IsOpen() const;
  int SocketFd() const;
  std::string SocketPath() const;
  // Delivers everything waiting; returns how many messages were handled.
  int Poll();
  // Waits up to `milliseconds` (no limit when negative) for a message, then
  // delivers what came.
  int Wait(int milliseconds);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where sockets and the name table live: $NORV_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/norv, else /tmp/norv-<uid>.
std::string MessageDirectory();

}  // namespace plat
