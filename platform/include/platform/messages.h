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

// 0 on failure (for example an empty name).
UINT RegisterWindowMessage(std::string_view name);
UINT RegisterWindowMessage(std::wstring_view name);

// Sends to every listener of every process of this user, this one included.
// Returns the number of listeners reached.
int BroadcastMessage(UINT message, WPARAM wParam, LPARAM lParam);

// A process's listening endpoint. Construct it to start receiving.
// Without an event loop, call Poll or Wait; under Qt, wrap SocketFd() in a
// QSocketNotifier and call Poll when it fires.
class MessageListener {
 public:
  using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  explicit MessageListener(Handler handler);
  ~MessageListener();
  MessageListener(const MessageListener&) = delete;
  MessageListener& operator=(const MessageListener&) = delete;

  bool IsOpen() const;
  int SocketFd() const;
  // Delivers everything waiting; returns how many messages were handled.
  int Poll();
  // Waits up to `milliseconds` for a message, then delivers what came.
  int Wait(int milliseconds);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where sockets and the name table live: $NORV_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/norv, else /tmp/norv-<uid>.
std::string MessageDirectory();

}  // namespace plat
