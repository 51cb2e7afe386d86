// The self-extracting head of every client package. It unpacks the members
// that follow its own image into a fresh private directory below the
// temporary directory, lists what it wrote in "PackingList.TXT" there,
// starts the setup program it extracted with that list (and that directory
// as the setup's temporary directory), and asks for its own file to be
// deleted at the next restart. It reads no arguments and always exits with
// 0; the only thing a user sees is an error box when a member cannot be
// extracted.
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
const char kPrivateDirPattern[] = "zel-XXXXXX";

// An open descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

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
    if (length > 0 &&
        zel::FormatText(found, size, "%.*s/%s", static_cast<int>(length), path, program) &&
        access(found, X_OK) == 0)
      return true;
    path += length;
    if (*path == ':') ++path;
  }
  return false;
}

// The error box for a member: always on standard error, and as a dialog on
// a desktop when one of the usual dialog programs is there. Waits until it
// is closed.
void ErrorBox(int result, const char* memberName, const char* ownName) {
  char name[kPath];
  Printable(memberName, name, sizeof name);
  const char* what = zel::ExtractResultText(result);
  std::fprintf(stderr, "Error From: %s: %s in %s\n", ownName, what, name);
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(display && *display) && !(wayland && *wayland)) return;

  char text[kPath * 2], caption[kPath * 2];
  if (!zel::FormatText(text, sizeof text, "%s in %s", what, name) ||
      !zel::FormatText(caption, sizeof caption, "Error From: %s", ownName))
    return;
  char program[kPath * 2];
  char titleOption[kPath * 3];
  char textOption[kPath * 3];
  const char* argv[10] = {};
  if (FindInPath("zenity", program, sizeof program)) {
    if (!zel::FormatText(titleOption, sizeof titleOption, "--title=%s", caption) ||
        !zel::FormatText(textOption, sizeof textOption, "--text=%s", text))
      return;
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
  if (posix_spawn(&pid, program, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    return;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Opens the setup program just extracted into the private directory, to be
// started through this descriptor and no other name.
int OpenSetup(int dirFd, const char* name) {
  int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  // It comes out of the package as a plain file that this run created.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      fchmod(fd, 0700) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Starts the setup program detached, in a session of its own, with the
// stub's environment (the private directory as TMPDIR) and current
// directory; neither waits nor checks. The program is the file open as
// setupFd; setupPath is only what it sees as its own name.
void StartSetup(int setupFd, const char* setupPath, const char* packingList,
                const char* privateDir) {
  pid_t pid = fork();
  if (pid != 0) return;
  setsid();
  setenv("TMPDIR", privateDir, 1);
  char* argv[] = {const_cast<char*>(setupPath), const_cast<char*>(packingList), nullptr};
  fexecve(setupFd, argv, environ);
  _exit(127);
}

}  // namespace

int main() {
  char ownPath[kPath] = {};
  char ownName[kPath] = {};

  ssize_t length = readlink("/proc/self/exe", ownPath, sizeof ownPath - 1);
  // A path that filled the buffer may be cut short: better none than a wrong one.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof ownPath - 1) length = 0;
  ownPath[length] = '\0';
  const char* slash = std::strrchr(ownPath, '/');
  zel::FormatText(ownName, sizeof ownName, "%s", slash ? slash + 1 : ownPath);

  // A directory of our own, made fresh for this run: nobody else can plant
  // or replace anything in it.
  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || !*tmp) tmp = "/tmp";
  std::size_t tmpLength = std::strlen(tmp);
  char privateDir[kPath];
  if (!zel::FormatText(privateDir, sizeof privateDir, "%s%s%s", tmp,
                       tmp[tmpLength - 1] == '/' ? "" : "/", kPrivateDirPattern) ||
      !mkdtemp(privateDir))
    return 0;
  char tempDir[kPath];  // with the trailing slash
  Fd dir(open(privateDir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0 || !zel::FormatText(tempDir, sizeof tempDir, "%s/", privateDir)) return 0;

  char listPath[kPath];
  if (!zel::FormatText(listPath, sizeof listPath, "%s%s", tempDir, kPackingList)) return 0;
  Fd list(
      openat(dir.get(), kPackingList, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (list.get() < 0) return 0;

  bool failed = false;
  char setupName[kPath] = {};
  Fd setup;  // the setup program as this run extracted it, if it did
  Fd package(open(ownPath[0] ? ownPath : "/proc/self/exe", O_RDONLY | O_CLOEXEC));
  zel::PackageInput input;
  if (package.get() >= 0 && zel::PackageInputFromFile(package.get(), &input)) {
    zel::PackageWalker walker(input);
    zel::MemberInfo member;
    while (walker.Next(&member)) {
      bool isSetup = zel::SameNameNoCase(member.name, kSetupName);
      int result = zel::EXTRACT_BAD_NAME;  // the packing list is ours alone
      if (!zel::SameNameNoCase(member.name, kPackingList))
        result = zel::ExtractMember(input, member, dir.get(), false, nullptr);
      if (result == zel::EXTRACT_OK && isSetup) {
        setup.Reset(OpenSetup(dir.get(), member.name));
        if (setup.get() < 0 || !zel::FormatText(setupName, sizeof setupName, "%s", member.name))
          result = zel::EXTRACT_CREATE_FAILED;
      }
      char line[kPath * 2 + 4];
      if (result == zel::EXTRACT_OK &&
          (!zel::FormatText(line, sizeof line, "%s%s\r\n", tempDir, member.name) ||
           !WriteText(list.get(), line)))
        result = zel::EXTRACT_WRITE_FAILED;
      if (result == zel::EXTRACT_OK) continue;
      ErrorBox(result, member.name, ownName);
      failed = true;
      break;
    }
  }
  package.Reset();

  char line[kPath + 4];
  if (!zel::FormatText(line, sizeof line, "%s\r\n", listPath) || !WriteText(list.get(), line))
    failed = true;
  list.Reset();

  // Only a setup program that this run wrote is started, and through the
  // descriptor opened on what it wrote: a file of that name that was there
  // before, or that someone else put there, is never run.
  if (!failed && setup.get() >= 0) {
    char setupPath[kPath * 2];
    if (zel::FormatText(setupPath, sizeof setupPath, "%s%s", tempDir, setupName))
      StartSetup(setup.get(), setupPath, listPath, privateDir);
  }
  setup.Reset();

  if (ownPath[0]) zel::ScheduleDeleteAtRestart(ownPath);
  return 0;
}
