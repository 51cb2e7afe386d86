// Package delivery: a built package reaches its user by e-mail (through the
// mail library "qvmapi.dll"), by being stored in a folder, or by direct
// installation on the user's machine through the deployment tool
// "Fanrow.exe".
//
// The send thread calls one Deliver... function per user. Each traces its
// steps and returns an outcome: the progress text to show, the status for
// the user's result record, and whether the job's line processing must end.
// The send thread sets the text, reports the result record to the server
// window and stops reading lines when jobFailed is set.
//
// Windows-style paths given here ("C:\\FanrowStatus.txt", the deployment
// tool's folder, ...) are turned into Linux paths with plat::WindowsPathToLinux.
#pragma once
#include <atomic>
#include <string>

extern "C" {

// The message record handed to the mail library, fields in this order.
struct QvMailMessage {
  const char* subject;
  const char* body;
  const char* sender;      // FromAddress
  const char* recipient;   // the user's e-mail address
  const char* attachment;  // package path, or null for none
  int receipt;             // 1: ask for a read receipt
  const char* server;      // SMTP server (IPAddress)
  int port;                // SMTP port (IP_Port)
  int reserved3;           // always 3
  int reserved2;           // always 2
  int reserved1;           // always 1
};

// The mail library's exports (C linkage, resolved by name).
// qvSMAPIInstalled(0): nonzero when a mail submission path (the MAPI side) exists.
typedef int (*QvSMAPIInstalledFn)(int);
// MySMAPIInit(): nonzero on success. MySMAPIShutdown(): nonzero on success.
typedef int (*MySMAPIInitFn)(void);
typedef int (*MySMAPIShutdownFn)(void);
// MySMAPISend(message): 0 or a mail result code (MAIL_E_...).
typedef int (*MySMAPISendFn)(const QvMailMessage*);
// qvSMAPISendMessage(message, 1): the same over SMTP.
typedef int (*QvSMAPISendMessageFn)(const QvMailMessage*, int);

}  // extern "C"

namespace zel {

// Mail result codes (0 is success).
constexpr int MAIL_E_AMBIGUOUS_RECIPIENT = -1;
constexpr int MAIL_E_ATTACHMENT_NOT_FOUND = -2;
constexpr int MAIL_E_ATTACHMENT_OPEN = -3;
constexpr int MAIL_E_BAD_RECEIPT_TYPE = -4;
constexpr int MAIL_E_SERVICES_NOT_AVAILABLE = -5;
constexpr int MAIL_E_INSUFFICIENT_MEMORY = -6;
constexpr int MAIL_E_INVALID_RECIPS = -7;
constexpr int MAIL_E_LOGIN_FAILURE = -8;
constexpr int MAIL_E_TEXT_TOO_LARGE = -9;
constexpr int MAIL_E_TOO_MANY_FILES = -10;
constexpr int MAIL_E_TOO_MANY_RECIPIENTS = -11;
constexpr int MAIL_E_UNKNOWN_RECIPIENT = -12;
constexpr int MAIL_E_USER_ABORT = -13;
constexpr int MAIL_E_INIT_FAILURE = -14;
constexpr int MAIL_E_INVALID_SESSION = -15;
constexpr int MAIL_E_HOST_LOOKUP = -20;
constexpr int MAIL_E_SOCKET = -21;
constexpr int MAIL_E_API_MISSING = -22;
constexpr int MAIL_E_CONNECT = -23;
constexpr int MAIL_E_DISCONNECT = -24;

// Result record statuses.
constexpr int RESULT_SENT_WITH_ATTACHMENT = 4;
constexpr int RESULT_STORED_OR_NO_ATTACHMENT = 8;
constexpr int RESULT_FAILED = 16;
constexpr int RESULT_INSTALLED_DIRECTLY = 32;

// The mail library, loaded from the application folder.
struct MailLibrary {
  void* module = nullptr;
  QvSMAPIInstalledFn qvSMAPIInstalled = nullptr;
  MySMAPIInitFn MySMAPIInit = nullptr;
  MySMAPIShutdownFn MySMAPIShutdown = nullptr;
  MySMAPISendFn MySMAPISend = nullptr;
  QvSMAPISendMessageFn qvSMAPISendMessage = nullptr;
  bool mapiInstalled = false;  // qvSMAPIInstalled(0) was nonzero
};

constexpr int MAIL_LOAD_OK = 0;
constexpr int MAIL_LOAD_NOT_FOUND = -1;       // "qvmapi.dll" could not be loaded
constexpr int MAIL_LOAD_MISSING_ENTRY = -2;   // loaded, but an entry point is missing

// Loads "<appDir>\\qvmapi.dll" (a Windows-style or Linux folder), asks
// qvSMAPIInstalled(0) and resolves the four send calls. On
// MAIL_LOAD_MISSING_ENTRY the library is unloaded again. The library file
// can be named by $ZEL_QVMAPI_PATH instead (tests).
int LoadMailLibrary(const std::string& appDir, MailLibrary* library);
void UnloadMailLibrary(MailLibrary* library);
// The path LoadMailLibrary tries for appDir.
std::string MailLibraryPath(const std::string& appDir);

// The resource string id for a mail result code (31..51), and its text.
int MailResultStringId(int code);
const char* MailResultText(int code);
// "<string 77 or 78>: <text for code>", the progress text of a failed send.
std::string MailFailureText(bool useMapi, int code);

// The message body with its first "<username>" replaced by the user name,
// a "DOMAIN\\user" name written as "user@DOMAIN". found tells whether the
// placeholder was there (without it the body comes back unchanged).
std::string ReplaceUserNamePlaceholder(const std::string& body, const std::string& userName,
                                       bool* found = nullptr);
// The folder name of a user's package: "user@DOMAIN" for "DOMAIN\\user",
// else the name itself.
std::string UserFolderName(const std::string& userName);

// What one delivery did.
struct DeliveryOutcome {
  int status = RESULT_FAILED;  // for the result record
  bool jobFailed = false;      // line processing ends (mail and local-copy failures)
  std::string text;            // the progress text afterwards
};

// E-mail. packagePath is the compressed package (attached), or empty for the
// folder form (no attachment, the body's "<username>" filled in). mapiBusy,
// when given, is set while MySMAPISend runs (the progress poll watches it).
struct MailDelivery {
  const MailLibrary* library = nullptr;
  bool useMapi = false;
  bool compressed = true;
  std::string packagePath;
  std::string userName;
  std::string emailAddress;
  std::string fromAddress;
  std::string subject;
  std::string messageBody;
  bool requestReceipt = false;
  std::string server;
  int port = 25;
  std::atomic<int>* mapiBusy = nullptr;
};
DeliveryOutcome DeliverByMail(const MailDelivery& mail);

// Local storage. Compressed: the package file is copied to
// "<storageDir>\\client_<userFolder>.exe", replacing an earlier one
// atomically (written under a temporary name in the folder, then renamed);
// nothing half-written is left on failure. The folder form was already
// written into its folder by the builder: only the outcome is reported
// (uncompressedDir names it for the trace).
DeliveryOutcome DeliverToFolder(bool compressed, const std::string& packagePath,
                                const std::string& storageDir, const std::string& userFolder,
                                const std::string& uncompressedDir = std::string());

// Direct installation through the deployment tool "<fanrowInstallPath>\\Fanrow.exe".
struct DirectInstall {
  std::string userName;
  std::string loginName;
  std::string systemName;
  std::string fanrowInstallPath;
};
DeliveryOutcome DeliverDirectInstall(const DirectInstall& install);
// The failure reason appended for a deployment tool exit code.
std::string DirectInstallFailureReason(int exitCode, bool runsAsSystem);
// How many check rounds DeliverDirectInstall waits (5) and how long each
// waits first (1000 ms); tests may shorten the wait.
void SetDirectInstallRoundWait(int milliseconds);

}  // namespace zel

extern "C" {
// 1 when the machine answers a ping within 2 seconds, else 0; a null
// machine counts as reachable.
__attribute__((visibility("default"))) int pingClientMachine(const char* machine);
// Runs the program with the arguments (either may be null or empty), waits
// for it and returns its exit code; -1 when it cannot be started.
__attribute__((visibility("default"))) int LaunchProgram(const char* programPath,
                                                         const char* arguments);
}
