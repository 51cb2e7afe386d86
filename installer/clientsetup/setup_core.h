// The client start-up setup: the pieces shared by the program's main
// sequence, its installation steps and their tests. Qt-free.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

namespace zelsetup {

// State codes; each is also the identifier of its text in the string table.
constexpr int STATE_RUNNING = 105;  // also: success
constexpr int STATE_CORE_FAILED = 100;
constexpr int STATE_DATABASE = 101;
constexpr int STATE_ENTRY_MISSING = 102;
constexpr int STATE_EXTRACT_FOLDER = 103;
constexpr int STATE_NO_BASEINSTALL = 104;
constexpr int STATE_FAILED = 106;
constexpr int STATE_REBOOT = 121;
constexpr int STATE_NO_ADMIN = 123;

// The string table of the program (identifiers 100 to 127); "" for others.
const char* SetupString(int id);

// The debug log "zelDebug.txt": every line flushed at once; a log that
// cannot be created logs nothing.
class DebugLog {
 public:
  DebugLog() = default;
  ~DebugLog() { Close(); }
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;
  bool Open(const std::string& path);
  void Close();
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  std::FILE* file_ = nullptr;
};

// What the user sees: the dialog's texts, progress, Close button and the
// message boxes. The default does nothing; see ConsoleView and the dialog.
class SetupView {
 public:
  virtual ~SetupView() = default;
  virtual void SetStatus(const std::string& /*text*/) {}  // text 1001
  virtual void SetDetail(const std::string& /*text*/) {}  // text 1000
  virtual void SetProgress(int /*percent*/) {}            // bar 1004, 0..100
  virtual void ShowCloseButton(const std::string& /*text*/) {}
  virtual void MessageBox(const std::string& /*text*/, const std::string& /*caption*/) {}
  // The user closed the dialog (read as a cancel while the sequence runs).
  virtual bool Closed() { return false; }
  // Returns once the user has closed the dialog.
  virtual void WaitUntilClosed() {}
  // A window the user watches (not silent, not the console).
  virtual bool Interactive() { return false; }
};

// Without a display: texts on standard output, message boxes as one
// standard error line "caption: text".
class ConsoleView : public SetupView {
 public:
  explicit ConsoleView(bool showTexts) : showTexts_(showTexts) {}
  void SetStatus(const std::string& text) override;
  void SetDetail(const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;

 private:
  bool showTexts_;
};

// What the installation steps share with the main sequence.
struct SetupContext {
  DebugLog* log = nullptr;
  SetupView* view = nullptr;
  std::string tempDir;    // with trailing "/"
  int lastExitCode = 0;   // of the client set-up, the program's exit code
  int progress = 0;
  void Progress(int value);  // sets and shows
};

// ---- Installation steps ----------------------------------------------------

// Administrator check: root passes; otherwise the user must be a member of
// the local administrators group ($NORV_ADMIN_GROUP, else "sudo", else
// "wheel"), by name or as the group's primary members.
bool IsUserAdministrator(const std::string& user, DebugLog& log);

// Removal of the open-file agent of a 3.5/4.0 client: 1 nothing to do or
// removed, 0 failure.
int DeleteOfaForVersion35(SetupContext& ctx);

// Repair of an older client's version entry; false stops the installation.
bool RepairClientVersion(SetupContext& ctx);

// Inputs of the client set-up's command line.
struct ClientSetupInput {
  std::string sourceFolder;  // where setup.exe lies, no trailing separator
  std::string installDir, databaseDir;
  bool scheduler = false, expert = false, ofa = false, win9x = false;
  bool reinstall = false;
  std::string orbUser, winUser;  // "domain\user" is passed as "user@domain"
  std::string logFile;
};

// The program part (quoted) and the arguments, exactly as run.
std::string ClientSetupProgram(const ClientSetupInput& in);
std::string ClientSetupArguments(const ClientSetupInput& in, DebugLog* log = nullptr);

// Runs the client set-up; true when it ended with 0 or 3010. Its exit code
// becomes ctx.lastExitCode.
bool RunClientSetup(SetupContext& ctx, ClientSetupInput in);

// "qvclient.exe -login" from the installed client's folder; true on exit 0.
bool StartClientForUser(SetupContext& ctx);

// Runs a program (argv, argv[0] a path or a name in PATH) and waits with
// one-second polls; onSecond runs after every second it still runs.
// Returns the exit code, or -1 when it could not be started.
template <class F>
int RunAndWait(const std::string& commandLine, F onSecond);
int RunAndWaitCommand(const std::string& commandLine, void (*onSecond)(void*), void* data);

// "domain\user" as "user@domain"; other names unchanged.
std::string UserAtDomain(const std::string& name);

// Registry text value under HKEY_LOCAL_MACHINE (machine) or HKEY_CURRENT_USER.
bool ReadRegText(bool machine, const char* key, const char* name, std::string* value);
bool WriteRegText(bool machine, const char* key, const char* name, const std::string& value);
bool RegKeyExists(bool machine, const char* key);

constexpr const char* kClientKey = "SOFTWARE\\Velmora\\Orbclient\\CurrentVersion";

template <class F>
int RunAndWait(const std::string& commandLine, F onSecond) {
  return RunAndWaitCommand(
      commandLine, [](void* d) { (*static_cast<F*>(d))(); }, &onSecond);
}

}  // namespace zelsetup
