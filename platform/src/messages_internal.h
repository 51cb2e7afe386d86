// Shared between the parts of the registered-message service.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace plat::messages {

// Creates the message directory when missing (mode 0700) and checks that it
// is a real folder of this user that nobody else can enter; a folder in /tmp
// prepared by someone else must not receive our sockets. False with errno set
// when it cannot be used.
bool PrepareDirectory(std::string* dir);

// One broadcast as it travels: a single datagram of fixed size in the host's
// byte order (sender and receivers are on the same machine).
struct Packet {
  std::uint32_t magic;
  std::uint32_t message;
  std::uint64_t wParam;
  std::int64_t lParam;
  std::int32_t senderPid;
  std::uint32_t reserved;
};
static_assert(sizeof(Packet) == 32);
constexpr std::uint32_t kPacketMagic = 0x4D56524E;  // "NRVM"

// Splits "<pid>-<n>.sock"; false for any other name.
bool ParseSocketName(const char* name, pid_t* pid);
// Whether the socket file at `path`, named for `pid`, can be removed: its
// process is gone, or the pid now belongs to a process started after the
// file was made.
bool SocketIsOrphaned(const std::string& path, pid_t pid);

}  // namespace plat::messages
