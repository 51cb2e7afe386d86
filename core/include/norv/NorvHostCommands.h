// Command ids of the host's menus, toolbar and status bar that are not item
// commands (those are in NorvItemCommands.h). The framework's handlers, the
// host's resource scripts and plugins that answer these commands in
// InitMenuInfo and Command all use these numbers.
#pragma once
#include "norv/norvtypes.h"

// ----- framework commands: 35000 - 35175 ------------------------------------
constexpr UINT ID_NORV_CMD_FIRST = 35000;
constexpr UINT ID_NORV_CMD_REFRESH = 35000;
constexpr UINT ID_NORV_CMD_REFRESH_RATE = 35001;
constexpr UINT ID_NORV_CMD_CONTEXT_MENU = 35002;  // the application (context-menu) key
constexpr UINT ID_NORV_CMD_LARGE_BUTTONS = 35006;
constexpr UINT ID_NORV_CMD_DELETE = 35009;
constexpr UINT ID_NORV_CMD_PROPERTIES = 35010;
constexpr UINT ID_NORV_CMD_SELECT_ALL = 35011;
constexpr UINT ID_NORV_CMD_REFRESH_ON_SELECT = 35012;
constexpr UINT ID_NORV_STATUS_COUNT = 35014;     // status pane and text: rows shown
constexpr UINT ID_NORV_STATUS_SELECTED = 35015;  // status pane and text: rows selected
constexpr UINT ID_NORV_CMD_UP = 35016;           // up one level
constexpr UINT ID_NORV_CMD_CLEAR_POPUP = 35018;  // internal: after a popup menu command
constexpr UINT ID_NORV_CMD_DROPPED = 35019;      // internal: a drop was made
constexpr UINT ID_NORV_CMD_INVERT_SELECTION = 35020;
constexpr UINT ID_NORV_CMD_SHOW_TEXT = 35021;  // toolbar button texts
constexpr UINT ID_NORV_CMD_WEB_PAGE = 35022;
constexpr UINT ID_NORV_CMD_NEXT_VIEW = 35023;  // the item's next view mode
constexpr UINT ID_NORV_CMD_NEW = 35024;
constexpr UINT ID_NORV_CMD_PASTE = 35025;
constexpr UINT ID_NORV_CMD_CUT = 35026;
constexpr UINT ID_NORV_CMD_COPY = 35027;
// View modes 0 - 4: ID_NORV_CMD_VIEW_STYLE_FIRST + mode.
constexpr UINT ID_NORV_CMD_VIEW_STYLE_FIRST = 35028;
constexpr UINT ID_NORV_CMD_VIEW_STYLE_LAST = 35032;
// Back and forward n steps: FIRST + n - 1.
constexpr UINT ID_NORV_CMD_BACK_FIRST = 35033;
constexpr UINT ID_NORV_CMD_BACK_LAST = 35043;
constexpr UINT ID_NORV_CMD_FORWARD_FIRST = 35044;
constexpr UINT ID_NORV_CMD_FORWARD_LAST = 35054;
constexpr UINT ID_NORV_CMD_BAR = 35061;
constexpr UINT ID_NORV_CMD_COLUMN_FILTER = 35094;
constexpr UINT ID_NORV_CMD_SHOW_ALL_COLUMNS = 35095;
constexpr UINT ID_NORV_CMD_VIEW_AS_WEB_PAGE = 35096;
constexpr UINT ID_NORV_CMD_EXPLORE_FROM_HERE = 35097;
constexpr UINT ID_NORV_CMD_ADDRESS_BAR = 35099;
constexpr UINT ID_NORV_CMD_HIDE_ALL_COLUMNS = 35111;
constexpr UINT ID_NORV_CMD_TRACE_LOG = 35123;
constexpr UINT ID_NORV_CMD_EXPAND_ALL = 35124;
constexpr UINT ID_NORV_CMD_OBJECT_INFORMATION = 35125;
constexpr UINT ID_NORV_CMD_AUTO_SIZE_COLUMNS = 35126;
constexpr UINT ID_NORV_CMD_PRINT = 35127;
constexpr UINT ID_NORV_CMD_RENAME = 35128;
constexpr UINT ID_NORV_STATUS_THIRD = 35130;  // the third status pane
constexpr UINT ID_NORV_CMD_EXPLORER_BAR = 35131;
constexpr UINT ID_NORV_CMD_OUTPUT_BAR = 35132;
constexpr UINT ID_NORV_CMD_BOOKMARK = 35133;
constexpr UINT ID_NORV_CMD_EXPLORER_BAR_TREE = 35134;
constexpr UINT ID_NORV_CMD_EXPLORER_BAR_HISTORY = 35135;
constexpr UINT ID_NORV_CMD_EXPLORER_BAR_BOOKMARKS = 35136;
constexpr UINT ID_NORV_CMD_TUTORIAL_BAR = 35137;
constexpr UINT ID_NORV_CMD_NEXT_PANE = 35139;
constexpr UINT ID_NORV_CMD_PREVIOUS_PANE = 35140;
constexpr UINT ID_NORV_CMD_NEW_WINDOW = 35141;
constexpr UINT ID_NORV_CMD_VIEW_SELECTOR = 35164;
constexpr UINT ID_NORV_CMD_COPY_AS_TEXT = 35165;
constexpr UINT ID_NORV_CMD_OPTIONS = 35169;
constexpr UINT ID_NORV_CMD_HELP = 35170;
constexpr UINT ID_NORV_CMD_SAVE_IMAGE = 35171;
constexpr UINT ID_NORV_CMD_COLUMN_SETTINGS = 35175;
constexpr UINT ID_NORV_CMD_LAST = 35175;

// ----- generated entries: 39000 - 40000 -------------------------------------
// Custom context-menu entries of an item class: FIRST + index.
constexpr UINT ID_NORV_CUSTOM_MENU_FIRST = 39000;
constexpr UINT ID_NORV_CUSTOM_MENU_LAST = 39100;
// Showing or hiding list column n: FIRST + n.
constexpr UINT ID_NORV_COLUMN_TOGGLE_FIRST = 39101;
constexpr UINT ID_NORV_COLUMN_TOGGLE_LAST = 39612;
// The plugins' help entries: FIRST + plugin id.
constexpr UINT ID_NORV_PLUGIN_HELP_FIRST = 39900;
constexpr UINT ID_NORV_PLUGIN_HELP_LAST = 40000;

// Features an item reports through InitMenuInfo (CNorvTreeListItem::
// HasFeature). Absent unless the item says otherwise: NORV_FEATURE_OFF_BY_DEFAULT.
constexpr UINT NORV_FEATURE_OFF_BY_DEFAULT = 50004;
constexpr UINT NORV_FEATURE_REFRESH = 50005;
constexpr UINT NORV_FEATURE_TIMED_REFRESH = 50006;
constexpr UINT NORV_FEATURE_REFRESH_ON_SELECT = 50007;

// Help command that shows a topic by its context id.
constexpr UINT NORV_HELP_CONTEXT = 15;
