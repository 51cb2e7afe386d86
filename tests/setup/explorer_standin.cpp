// A running explorer as far as the framework installer can tell: it keeps a
// file of the installed framework mapped and closes on "NORV2.1_Terminate".
//
//   setup_explorer_standin FILE
//
// Prints "ready" once it listens. Exit status: 0 closed by the message,
// 3 no message within 30 seconds, 4 the file could not be mapped.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/messages.h"

int main(int argc, char** argv) {
  if (argc != 2) return 4;
  int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) return 4;
  void* view = mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (view == MAP_FAILED) return 4;

  const plat::UINT terminate = plat::RegisterWindowMessage(std::string_view("NORV2.1_Terminate"));
  bool closed = false;
  plat::MessageListener listener([&](plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == terminate) closed = true;
  });
  if (!listener.IsOpen() || terminate == 0) return 4;
  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!closed && std::chrono::steady_clock::now() < end) listener.Wait(100);
  munmap(view, st.st_size);
  return closed ? 0 : 3;
}
