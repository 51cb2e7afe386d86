// Numbers of the Files plugin's strings (res/files_*.rc) and of its own
// commands.
#pragma once
#include "norv/NorvHostCommands.h"
#include "norv/norvtypes.h"

constexpr UINT IDS_FILES_CAPTION = 100;
constexpr UINT IDS_FILES_COL_NAME = 101;
constexpr UINT IDS_FILES_COL_SIZE = 102;
constexpr UINT IDS_FILES_COL_TYPE = 103;
constexpr UINT IDS_FILES_COL_MODIFIED = 104;
constexpr UINT IDS_FILES_TYPE_FOLDER = 105;
constexpr UINT IDS_FILES_TYPE_FILE = 106;
constexpr UINT IDS_FILES_TYPE_EXT = 107;      // "%s file"
constexpr UINT IDS_FILES_NEW_FOLDER = 108;
constexpr UINT IDS_FILES_SIZE_BYTES = 109;    // "%s bytes"
constexpr UINT IDS_FILES_MENU_NEW_FOLDER = 110;
constexpr UINT IDS_FILES_MENU_RENAME = 111;
constexpr UINT IDS_FILES_MENU_DELETE = 112;
constexpr UINT IDS_FILES_MENU_CUT = 113;
constexpr UINT IDS_FILES_MENU_COPY = 114;
constexpr UINT IDS_FILES_MENU_PASTE = 115;
constexpr UINT IDS_FILES_MENU_REFRESH = 116;
constexpr UINT IDS_FILES_MENU_COPY_PATH = 117;
constexpr UINT IDS_FILES_MENU_OPEN = 118;
constexpr UINT IDS_FILES_MENU_COPY_HERE = 119;
constexpr UINT IDS_FILES_MENU_MOVE_HERE = 120;
constexpr UINT IDS_FILES_MENU_CANCEL = 121;
constexpr UINT IDS_FILES_MENU_PROPERTIES = 122;
constexpr UINT IDS_FILES_ERR_RENAME = 130;    // "%s could not be renamed:\n%s"
constexpr UINT IDS_FILES_ERR_DELETE = 131;
constexpr UINT IDS_FILES_ERR_NEW_FOLDER = 132;
constexpr UINT IDS_FILES_ERR_COPY = 133;
constexpr UINT IDS_FILES_ERR_MOVE = 134;
constexpr UINT IDS_FILES_ERR_NAME = 135;      // "\"%s\" is not a valid name."
constexpr UINT IDS_FILES_ERR_PERMISSIONS = 136;  // "The permissions of %s ...:\n%s"
// The properties sheet.
constexpr UINT IDS_FILES_PROP_CAPTION = 140;  // "Properties of %s"
constexpr UINT IDS_FILES_PROP_GENERAL = 141;
constexpr UINT IDS_FILES_PROP_PERMISSIONS = 142;
constexpr UINT IDS_FILES_PROP_NAME = 143;
constexpr UINT IDS_FILES_PROP_LOCATION = 144;
constexpr UINT IDS_FILES_PROP_TYPE = 145;
constexpr UINT IDS_FILES_PROP_SIZE = 146;
constexpr UINT IDS_FILES_PROP_MODIFIED = 147;
constexpr UINT IDS_FILES_PROP_CONTENTS = 148;
constexpr UINT IDS_FILES_PROP_ATTRIBUTES = 149;
constexpr UINT IDS_FILES_PROP_READ_ONLY = 150;
constexpr UINT IDS_FILES_PROP_EXECUTABLE = 151;
constexpr UINT IDS_FILES_PROP_GROUP = 152;
constexpr UINT IDS_FILES_PROP_OTHERS = 153;
constexpr UINT IDS_FILES_PROP_NO_ACCESS = 154;
constexpr UINT IDS_FILES_PROP_READ = 155;
constexpr UINT IDS_FILES_PROP_READ_WRITE = 156;

// Host commands the items answer (the host's menu and toolbar ids).
constexpr UINT ID_FILES_REFRESH = ID_NORV_CMD_REFRESH;
constexpr UINT ID_FILES_DELETE = ID_NORV_CMD_DELETE;
constexpr UINT ID_FILES_NEW = ID_NORV_CMD_NEW;
constexpr UINT ID_FILES_PASTE = ID_NORV_CMD_PASTE;
constexpr UINT ID_FILES_CUT = ID_NORV_CMD_CUT;
constexpr UINT ID_FILES_COPY = ID_NORV_CMD_COPY;
constexpr UINT ID_FILES_RENAME = ID_NORV_CMD_RENAME;
constexpr UINT ID_FILES_PROPERTIES = ID_NORV_CMD_PROPERTIES;
// The plugin's own item commands.
constexpr UINT ID_FILES_COPY_PATH = 41001;
constexpr UINT ID_FILES_OPEN = 41002;
constexpr UINT ID_FILES_COPY_HERE = 41010;
constexpr UINT ID_FILES_MOVE_HERE = 41011;

// The item clipboard format shared by files and folders, so that both
// travel in one cut, copy or drag.
#define FILES_CLIPBOARD_FORMAT L"NorvFiles"

// Key states of a drop (the Windows MK_ values the views pass on).
constexpr DWORD FILES_MK_SHIFT = 0x0004;
constexpr DWORD FILES_MK_CONTROL = 0x0008;

// Column ids: 0 is the name, so that sorting by it and the tree's own
// sorting agree.
constexpr UINT FILES_COL_NAME = 0;
constexpr UINT FILES_COL_SIZE = 1;
constexpr UINT FILES_COL_TYPE = 2;
constexpr UINT FILES_COL_MODIFIED = 3;

// Images in the plugin's image lists.
constexpr int FILES_IMAGE_FOLDER = 0;
constexpr int FILES_IMAGE_FOLDER_OPEN = 1;
constexpr int FILES_IMAGE_FILE = 2;
