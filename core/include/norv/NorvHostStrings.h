// Numbers of the host's string resources that the framework shows. The
// host's resource scripts (host/res) carry the texts under these numbers;
// the framework falls back on built-in English where a host has none.
#pragma once
#include "norv/norvtypes.h"

// Refresh-rate dialog: the label under the slider.
constexpr UINT IDS_NORV_REFRESH_OFF = 7008;
constexpr UINT IDS_NORV_REFRESH_SECONDS = 7012;  // %d seconds
constexpr UINT IDS_NORV_REFRESH_MINUTES = 7013;  // %d minutes
// The framework root's columns (also their column ids).
constexpr UINT IDS_NORV_COLUMN_NAME = 7026;
constexpr UINT IDS_NORV_COLUMN_DESCRIPTION = 7027;
// Column menu and column filters.
constexpr UINT IDS_NORV_COLUMN_FILTER = 7028;
constexpr UINT IDS_NORV_SHOW_ALL_COLUMNS = 7029;
constexpr UINT IDS_NORV_FILTER_MATCHES = 7030;
constexpr UINT IDS_NORV_FILTER_NO_SUCH_COLUMN = 7031;
constexpr UINT IDS_NORV_FILTER_DOES_NOT_MATCH = 7032;
constexpr UINT IDS_NORV_FILTER_REGEX = 7033;
constexpr UINT IDS_NORV_HIDE_ALL_COLUMNS = 7034;
constexpr UINT IDS_NORV_AUTO_SIZE_COLUMNS = 7036;
constexpr UINT IDS_NORV_FILTER_NOT_ADDED = 7069;
constexpr UINT IDS_NORV_MORE_COLUMNS = 7094;
// The framework's own name and root.
constexpr UINT IDS_NORV_CAPTION = 7035;
constexpr UINT IDS_NORV_ROOT_NAME = 7050;
// Toolbar button texts.
constexpr UINT IDS_NORV_BUTTON_BACK = 7037;
constexpr UINT IDS_NORV_BUTTON_FORWARD = 7038;
constexpr UINT IDS_NORV_BUTTON_REFRESH = 7039;
constexpr UINT IDS_NORV_BUTTON_UP = 7041;
constexpr UINT IDS_NORV_BUTTON_NEW = 7042;
constexpr UINT IDS_NORV_BUTTON_PROPERTIES = 7043;
constexpr UINT IDS_NORV_BUTTON_DELETE = 7044;
constexpr UINT IDS_NORV_BUTTON_CUT = 7045;
constexpr UINT IDS_NORV_BUTTON_COPY = 7046;
constexpr UINT IDS_NORV_BUTTON_PASTE = 7047;
constexpr UINT IDS_NORV_BUTTON_VIEWS = 7048;
constexpr UINT IDS_NORV_BUTTON_BOOKMARK = 7070;
constexpr UINT IDS_NORV_BUTTON_FOLDERS = 7078;
constexpr UINT IDS_NORV_BUTTON_EXPLORE = 7080;
constexpr UINT IDS_NORV_BUTTON_NEW_WINDOW = 7081;
constexpr UINT IDS_NORV_BUTTON_HELP = 7082;
// Main frame.
constexpr UINT IDS_NORV_NO_HTML_VIEW = 7049;
constexpr UINT IDS_NORV_EXPLORER_BAR = 7051;
constexpr UINT IDS_NORV_ADDRESS = 7052;
constexpr UINT IDS_NORV_SMALL_IMAGES_WIDTH = 7060;
constexpr UINT IDS_NORV_LARGE_IMAGES_WIDTH = 7061;
constexpr UINT IDS_NORV_IMAGE_COUNTS_DIFFER = 7062;  // %d small, %d large
constexpr UINT IDS_NORV_OBJECT_NOT_FOUND = 7079;     // %s
constexpr UINT IDS_NORV_TUTORIAL = 7093;
constexpr UINT IDS_NORV_PANE_FOLDERS = 7095;
constexpr UINT IDS_NORV_PANE_HISTORY = 7096;
constexpr UINT IDS_NORV_PANE_BOOKMARKS = 7097;
// View mode names: IDS_NORV_VIEW_MODE_FIRST + mode (0 - 5).
constexpr UINT IDS_NORV_VIEW_MODE_FIRST = 7071;
// Custom menus.
constexpr UINT IDS_NORV_CUSTOM_COMMANDS = 7086;
constexpr UINT IDS_NORV_CUSTOM_COMMAND_FAILED = 7087;
// Plugins and set-up.
constexpr UINT IDS_NORV_NO_ERROR_TEXT = 7056;
constexpr UINT IDS_NORV_ROOT_NOT_CREATED = 7058;        // %s://%s
constexpr UINT IDS_NORV_NO_PLUGIN_LOADED = 7059;        // %s locale
constexpr UINT IDS_NORV_PLUGIN_INIT_FAILED = 7063;      // %s
constexpr UINT IDS_NORV_RESOURCE_LOAD_FAILED = 7064;    // %s name, %s file, %s error
constexpr UINT IDS_NORV_PLUGIN_EXPORTS_MISSING = 7065;  // %s name, %s functions
constexpr UINT IDS_NORV_NO_FONT = 7066;
constexpr UINT IDS_NORV_PLUGIN_LOAD_FAILED = 7067;     // %s name, %s file, %s error
constexpr UINT IDS_NORV_NO_RESOURCE_LIBRARY = 7083;    // %s
constexpr UINT IDS_NORV_NO_PLUGIN_LIBRARY = 7084;      // %s
constexpr UINT IDS_NORV_LOADPLUGIN_INCOMPLETE = 7099;  // %s
constexpr UINT IDS_NORV_SDK_VERSION_MISMATCH = 7107;   // %s, %u.%u reported, %u.%u needed
constexpr UINT IDS_NORV_PLUGIN_DEBUG_BUILD = 7108;     // %s
constexpr UINT IDS_NORV_PLUGIN_NOT_WIDE = 7110;        // %s
// Trace log.
constexpr UINT IDS_NORV_TRACE_NO_LOCATION = 7105;
constexpr UINT IDS_NORV_TRACE_FILE_FAILED = 7106;  // %s
