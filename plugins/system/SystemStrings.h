// Numbers of the System plugin's strings (res/system_*.rc), its column ids
// and images, and the names under which its item classes are registered.
#pragma once
#include "norv/NorvHostStrings.h"
#include "norv/norvtypes.h"

constexpr UINT IDS_SYSTEM_CAPTION = 1000;       // the plugin's caption
constexpr UINT IDS_SYSTEM_ROOT = 1001;          // "System"
constexpr UINT IDS_SYSTEM_ROOT_DESC = 1002;     // the root's description
constexpr UINT IDS_SYSTEM_PROCESSES = 1003;     // "Processes"
constexpr UINT IDS_SYSTEM_MOUNTS = 1004;        // "Mounts"
constexpr UINT IDS_SYSTEM_PROCESSES_DESC = 1005;  // "%d processes"
constexpr UINT IDS_SYSTEM_MOUNTS_DESC = 1006;   // "%d mounted file systems"
constexpr UINT IDS_SYSTEM_UNREADABLE = 1007;    // "cannot be read"

constexpr UINT IDS_SYSTEM_COL_NAME = 1010;
constexpr UINT IDS_SYSTEM_COL_DESCRIPTION = 1011;
constexpr UINT IDS_SYSTEM_COL_PID = 1012;
constexpr UINT IDS_SYSTEM_COL_PROCESS = 1013;
constexpr UINT IDS_SYSTEM_COL_STATE = 1014;
constexpr UINT IDS_SYSTEM_COL_THREADS = 1015;
constexpr UINT IDS_SYSTEM_COL_MEMORY = 1016;
constexpr UINT IDS_SYSTEM_COL_DEVICE = 1017;
constexpr UINT IDS_SYSTEM_COL_MOUNTPOINT = 1018;
constexpr UINT IDS_SYSTEM_COL_TYPE = 1019;
constexpr UINT IDS_SYSTEM_COL_OPTIONS = 1020;
constexpr UINT IDS_SYSTEM_MEMORY_KB = 1021;     // "%s KB"

// Process states by the kernel's letter: 1030 + index in kStateLetters.
constexpr UINT IDS_SYSTEM_STATE_FIRST = 1030;
inline constexpr char kStateLetters[] = "RSDZTtXIPWK";

// Column ids. 0 always stands for the tree text.
constexpr UINT SYS_COL_NAME = 1;         // folders: name
constexpr UINT SYS_COL_DESCRIPTION = 2;  // folders: what they hold
constexpr UINT SYS_COL_PID = 1;          // processes
constexpr UINT SYS_COL_PROCESS = 2;
constexpr UINT SYS_COL_STATE = 3;
constexpr UINT SYS_COL_THREADS = 4;
constexpr UINT SYS_COL_MEMORY = 5;
constexpr UINT SYS_COL_DEVICE = 1;       // mounts
constexpr UINT SYS_COL_MOUNTPOINT = 2;
constexpr UINT SYS_COL_TYPE = 3;
constexpr UINT SYS_COL_OPTIONS = 4;
// The framework root's columns ("Name", "Description"), which a plugin's
// root answers when it is listed there.
constexpr UINT NORV_ROOT_COL_NAME = IDS_NORV_COLUMN_NAME;
constexpr UINT NORV_ROOT_COL_DESCRIPTION = IDS_NORV_COLUMN_DESCRIPTION;

// Images in the plugin's image lists.
constexpr int SYS_IMAGE_SYSTEM = 0;
constexpr int SYS_IMAGE_FOLDER = 1;
constexpr int SYS_IMAGE_PROCESS = 2;
constexpr int SYS_IMAGE_MOUNT = 3;
constexpr int SYS_IMAGE_COUNT = 4;

// Registered class names and the fixed ids.
#define SYS_CLASS_ROOT L"CSystemRoot"
#define SYS_CLASS_PROCESS_FOLDER L"CSystemProcessFolder"
#define SYS_CLASS_MOUNT_FOLDER L"CSystemMountFolder"
#define SYS_CLASS_PROCESS L"CSystemProcess"
#define SYS_CLASS_MOUNT L"CSystemMount"
#define SYS_ID_ROOT L"system"
#define SYS_ID_PROCESSES L"processes"
#define SYS_ID_MOUNTS L"mounts"

// Default timed-refresh periods in seconds, written to the user's refresh
// rates when the user has none for the class.
constexpr UINT SYS_REFRESH_PROCESSES = 5;
constexpr UINT SYS_REFRESH_MOUNTS = 30;

// The overview page's "count again" button: the root answers the number of
// processes as the command's result.
constexpr UINT ID_SYSTEM_CMD_COUNT_PROCESSES = 40100;
// The plugin's pages in its resource module (res://<module>/<name>).
inline constexpr wchar_t SYS_PAGE_OVERVIEW[] = L"overview.html";
inline constexpr wchar_t SYS_PAGE_BANNER[] = L"banner.html";
inline constexpr wchar_t SYS_PAGE_TUTORIAL[] = L"tutorial.html";
