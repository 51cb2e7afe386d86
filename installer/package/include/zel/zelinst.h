// The client installer library libzelinst.so: the send job that builds a
// client package for every user of an e-mail file and delivers it, the
// package builder, and the settings import that precedes the first package.
//
// The administration program calls ZELManageSend once per job and then
// ZELGetProgress about once a second. Paths given in the Windows way
// ("C:\\packages", "%s\\Client32\\%s") are turned into Linux paths with
// plat::WindowsPathToLinux; text is 8-bit (UTF-8).
#pragma once
#include <cstdint>
#include <string>

#define ZEL_EXPORT __attribute__((visibility("default")))

extern "C" {

// Starts a send job; 1 when it started, 0 on failure with a message in
// errorText (512 bytes). localStorageDir (260 bytes) is also written: with
// useFanrow 1 it becomes the deployment tool's package folder. Only one job
// runs at a time: a call while one runs fails.
ZEL_EXPORT int ZELManageSend(const char* emailFile, int protectedMode, const char* autoConfigFile,
                             const char* organization, const char* clientInstallDir,
                             const char* clientDatabaseDir, const char* serverDatabaseDir,
                             int selectedProtocols, int selectedPlugIns, int selectedAddOns,
                             int useMapi, const char* ipAddress, int ipPort, int localStorage,
                             char* localStorageDir, int useFanrow, const char* fromAddress,
                             const char* subject, const char* messageBody, int requestReceipt,
                             int compressFiles, int flags, char* errorText);

// The progress value (5 at start, 1..100 by the share of the e-mail file
// done, 100 at the end, -1 after a failure or a cancellation) and its text
// copied into text (512 bytes). A nonzero cancel requests cancellation: the
// job finishes the current user and stops.
ZEL_EXPORT int ZELGetProgress(int cancel, char* text);

}  // extern "C"

namespace zel {

constexpr int kZelTextSize = 512;

// Add-on flags of a send request.
constexpr int ADDON_CLIENT_9X = 0x1;   // MBCS client, folder "client9x", "Win9x"
constexpr int ADDON_CLIENT_NT = 0x2;   // Unicode client
constexpr int ADDON_OPEN_FILE = 0x4;   // "InstallOfa" = "yes"

// User flags of a send request.
constexpr int USERFLAG_NO_RESTORE_PASSWORD = 0x8;
constexpr int USERFLAG_DOMAIN_ACCOUNT = 0x20;

// The send request, filled by ZELManageSend and read by the job's thread.
struct SendRequest {
  char EmailFile[260];
  int protectedMode;
  char configDatabase[260];
  char Organization[260];
  char ClientInstallDir[260];
  char ClientDatabaseDir[260];
  char ServerDatabaseDir[260];
  int userModeExpert;
  int selectedProtocols;
  int selectedPlugIns;
  int selectedAddOns;
  int UseMAPI;
  char IPAddress[100];
  int IP_Port;
  int localStorage;
  char localStorageDir[260];
  int UseFanrow;
  char FromAddress[260];
  char Subject[260];
  char MessageBody[4096];
  int RequestReceipt;
  int CompressFiles;
  int Flags;
  char FanrowInstallPath[260];
  char FanrowPackagePath[260];
};

// ---- Component table -------------------------------------------------------

enum ComponentGroup {
  GROUP_SETTINGS,
  GROUP_SETUP,
  GROUP_CLIENT_NT,
  GROUP_CLIENT_9X,
  GROUP_FRAMEWORK,
  GROUP_FRAMEWORK_DEU,
  GROUP_FRAMEWORK_ENU,
  GROUP_RUNTIME,
  GROUP_FOLDER,
  GROUP_MODEM,
  GROUP_TCPIP,
  GROUP_SCHEDULE,
  GROUP_COUNT
};

struct ComponentRow {
  char fileName[260];
  char sourcePath[260];   // resolved by GatherComponentInfo; empty when absent
  int folderCode;
  std::uint64_t totalKb;  // the group's total size, first row only
};

// The rows of a group (ended by a row with an empty name); null for a bad group.
ComponentRow* ComponentGroupRows(int group);
// The folder text of a source folder code ("ClientSoftware\\", "admin\\", ...).
const char* ComponentFolderText(int code);
// Resolves every row's source path from the application directory and sums
// the sizes; absent files (size 0) keep an empty path.
void GatherComponentInfo(int group);

// ---- Package builder -------------------------------------------------------

// Whether the next package is the first of its job (limits per-file traces
// and the shared client folder of the folder form).
void SetFirstPackage(bool first);
bool IsFirstPackage();

// Builds the package database: the temporary path goes to tempPath (260
// bytes), empty on failure.
void BuildPackage(const char* userDatabasePath, char* tempPath, const char* installDir,
                  const char* databaseDir, int expert, int addOns);
// Adds one file entry ("name\\dosdatetime" with the file's bytes, or the bare
// name without content when the file is absent); returns the entry id or -1.
int WriteFileToNode(int db, int parent, const char* fileName, const char* sourcePath);
// Builds the folder form in storageDir; false when it stopped early.
bool BuildPackageUncompressed(const char* userName, const char* userDatabasePath,
                              int schedulerInStartup, const char* storageDir,
                              const char* installDir, const char* databaseDir, int expert,
                              int addOns, int directInstall);
// Copies one file into a folder under fileName; false on failure.
bool CopyFileUncompressed(const char* folder, const char* fileName, const char* sourcePath);
// 1 when a client of that version should be upgraded, else 0.
int IsObjectUpgradeable(const char* clientVersion);
// The number "major*100000 + minor*1000 + third" of a version text.
int VersionNumber(const char* version);

// The per-user settings: "user.ini" in the "admin" folder.
bool WriteUserIni(const char* adminFolder, const char* userName, const char* loginName,
                  const char* configDatabase, int userFlags);
// Copies the configuration database to localCdb and edits it for the user;
// returns the scheduler-in-startup value (1 when absent), or -1 on failure.
int PrepareUserDatabase(const char* configDatabase, const char* localCdb, const char* userName,
                        int userFlags, std::uint32_t userId, int protectedMode);

// The folder name for a user: "user@DOMAIN" for "DOMAIN\\user".
std::string UserFolderFor(const std::string& userName);

// ---- Settings import -------------------------------------------------------

void CreateProtocolFiles(const char* configDatabase, const char* adminFolder);
void ImportProtocolSettings(int db, const char* adminFolder);
void atcpImportSettings(int db);

// ---- Texts -----------------------------------------------------------------

// The library's string table by identifier; "" for an unknown one.
const char* ZelString(int id);

// ---- Paths -----------------------------------------------------------------

// The application directory and data path of the bound core library.
std::string AppPath();
std::string DataPath();
// A Windows-style path as a Linux one.
std::string LinuxPath(const std::string& windowsPath);

}  // namespace zel
