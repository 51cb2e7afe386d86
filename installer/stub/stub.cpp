// The self-extracting head of every client package. It unpacks the members
// that follow its own image into the temporary directory, lists what it
// wrote in "PackingList.TXT", starts the setup program with that list, and
// asks for its own file to be deleted at the next restart. It reads no
// arguments and always exits with 0; the only thing a user sees is an error
// box when a member cannot be extracted.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package_reader.h"
#include "pending_ops.h"

extern char** environ;

namespace {

constexpr std::size_t kPath = 260;
const char kPackingList[] = "PackingList.TXT";
const char kSetupName[] = "OrbCSetup.EXE";

bool Copy(char* target, std::size_t size, const char* a, const char* b = "") {
  int n = std::snprintf(target, size, "%s%s", a, b);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

// Names can hold anything; what is shown is kept printable.
void Printable(const char* in, char* out, std::size_t size) {
  std::size_t i = 0;
  for (; in[i] && i + 1 < size; ++i) {
    auto c = static_cast<unsigned char>(in[i]);
    out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  out[i] = '\0';
}

bool WriteText(int fd, const char* text) {
  std::size_t size = std::strlen(text);
  while (size > 0) {
    ssize_t n = write(fd, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A program of that name in PATH, into found.
bool FindInPath(const char* program, char* found, std::size_t size) {
  const char* path = std::getenv("PATH");
  if (!path) path = "/usr/local/bin:/usr/bin:/bin";
  while (*path) {
    const char* end = std::strchr(path, ':');
    std::size_t length = end ? static_cast<std::size_t>(end - path) : std::strlen(path);
    if (length > 0 && length + 1 + std::strlen(program) < size) {
      std::memcpy(found, path, length);
      found[length] = '/';
      std::strcpy(found + length + 1, program);
      if (access(found, X_OK) == 0) return true;
    }
    path += length;
    if (*path == ':') ++path;
  }
  return false;
}

// The error box: always on standard error, and as a dialog on a desktop
// when one of the usual dialog programs is there. Waits until it is closed.
void ErrorBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(display && *display) && !(wayland && *wayland)) return;

  char program[kPath * 2];
  char titleOption[kPath * 3];
  char textOption[kPath * 3];
  const char* argv[10] = {};
  if (FindInPath("zenity", program, sizeof program)) {
    std::snprintf(titleOption, sizeof titleOption, "--title=%s", caption);
    std::snprintf(textOption, sizeof textOption, "--text=%s", text);
    const char* args[] = {program, "--error", "--no-markup", titleOption, textOption, nullptr};
    std::memcpy(argv, args, sizeof args);
  } else if (FindInPath("kdialog", program, sizeof program)) {
    const char* args[] = {program, "--title", caption, "--error", text, nullptr};
    std::memcpy(argv, args, sizeof args);
  } else if (FindInPath("xmessage", program, sizeof program)) {
    const char* args[] = {program, "-title", caption, "-buttons", "OK", "-center", text, nullptr};
    std::memcpy(argv, args, sizeof args);
  } else {
    return;
  }
  pid_t pid = 0;
  if (posix_spawn(&pid, program, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Starts the setup program detached, in a session of its own, with the
// stub's environment and current directory; neither waits nor checks.
void StartSetup(int tempFd, const char* setupName, const char* setupPath, const char* packingList) {
  // The setup program comes out of the package as a plain file.
  int fd = openat(tempFd, setupName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    fchmod(fd, 0700);
    close(fd);
  }
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return;
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  char* argv[] = {const_cast<char*>(setupPath), const_cast<char*>(packingList), nullptr};
  pid_t pid = 0;
  posix_spawn(&pid, setupPath, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
}

}  // namespace

int main() {
  char ownPath[kPath] = {};
  char ownName[kPath] = {};
  char tempDir[kPath] = {};

  ssize_t length = readlink("/proc/self/exe", ownPath, sizeof ownPath - 1);
  // A path that filled the buffer may be cut short: better none than a wrong one.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof ownPath - 1) length = 0;
  ownPath[length] = '\0';
  const char* slash = std::strrchr(ownPath, '/');
  Copy(ownName, sizeof ownName, slash ? slash + 1 : ownPath);

  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || !*tmp) tmp = "/tmp";
  std::size_t tmpLength = std::strlen(tmp);
  if (!Copy(tempDir, sizeof tempDir, tmp, tmp[tmpLength - 1] == '/' ? "" : "/")) return 0;

  // Everything is created relative to the temporary directory itself.
  int tempFd = open(tempDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (tempFd < 0) return 0;
  char listPath[kPath];
  if (!Copy(listPath, sizeof listPath, tempDir, kPackingList)) return 0;
  if (unlinkat(tempFd, kPackingList, 0) != 0 && errno != ENOENT) return 0;
  int list = openat(tempFd, kPackingList, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (list < 0) return 0;

  bool failed = false;
  char setupName[kPath];
  Copy(setupName, sizeof setupName, kSetupName);
  int package = open(ownPath[0] ? ownPath : "/proc/self/exe", O_RDONLY | O_CLOEXEC);
  zel::PackageInput input;
  if (package >= 0 && zel::PackageInputFromFile(package, &input)) {
    zel::PackageWalker walker(input);
    zel::MemberInfo member;
    while (walker.Next(&member)) {
      int result = zel::ExtractMember(input, member, tempFd, false, nullptr);
      if (result == zel::EXTRACT_OK) {
        char line[kPath * 2];
        std::snprintf(line, sizeof line, "%s%s\r\n", tempDir, member.name);
        WriteText(list, line);
        if (zel::SameNameNoCase(member.name, kSetupName)) Copy(setupName, sizeof setupName, member.name);
        continue;
      }
      char name[kPath], text[kPath * 2], caption[kPath * 2];
      Printable(member.name, name, sizeof name);
      std::snprintf(text, sizeof text, "%s in %s", zel::ExtractResultText(result), name);
      std::snprintf(caption, sizeof caption, "Error From: %s", ownName);
      ErrorBox(text, caption);
      failed = true;
      break;
    }
  }
  if (package >= 0) close(package);

  char line[kPath + 4];
  std::snprintf(line, sizeof line, "%s\r\n", listPath);
  WriteText(list, line);
  close(list);

  if (!failed) {
    char setupPath[kPath * 2];
    std::snprintf(setupPath, sizeof setupPath, "%s%s", tempDir, setupName);
    StartSetup(tempFd, setupName, setupPath, listPath);
  }
  close(tempFd);

  if (ownPath[0]) zel::ScheduleDeleteAtRestart(ownPath);
  return 0;
}
