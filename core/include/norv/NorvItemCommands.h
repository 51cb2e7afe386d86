// Item commands and item flags: the numbers through which the views talk to
// items (CNorvTreeListItem::Command) and through which a change to one
// object reaches every other instance of it. Plugins compile against these
// values, so they never change.
#pragma once
#include "norv/norvtypes.h"

// ---------------------------------------------------------------------------
// Item commands: the command id of CNorvTreeListItem::Command.
// ---------------------------------------------------------------------------
constexpr UINT ID_NORV_ITEMCMD_START = 40000;
constexpr UINT ID_NORV_ITEMCMD_CANCEL = 40001;
constexpr UINT ID_NORV_ITEMCMD_DEFAULTDROP = 40002;
constexpr UINT ID_NORV_ITEMCMD_DBLCLK = 40003;
constexpr UINT ID_NORV_ITEMCMD_DELETE = 40004;
constexpr UINT ID_NORV_ITEMCMD_SETCHECK = 40005;
constexpr UINT ID_NORV_ITEMCMD_CLRCHECK = 40006;
// 40007 is the About entry that the framework adds for the selected item's
// plugin; it has no item-command name of its own (the trace prints it as a
// number).
constexpr UINT ID_NORV_PLUGIN_ABOUT = 40007;
constexpr UINT ID_NORV_ITEMCMD_ADDRESS_CHANGE = 40008;
constexpr UINT ID_NORV_ITEMCMD_ADDRESS_ENTER = 40009;
constexpr UINT ID_NORV_ITEMCMD_TREEITEM_SELECTED = 40010;
constexpr UINT ID_NORV_ITEMCMD_TREEITEM_DESELECTED = 40011;
constexpr UINT ID_NORV_ITEMCMD_SET_OUTPUT_VIEW = 40012;
constexpr UINT ID_NORV_ITEMCMD_OUTPUT_VIEW_SHOW = 40013;
constexpr UINT ID_NORV_ITEMCMD_OUTPUT_VIEW_HIDE = 40014;
constexpr UINT ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_BANNER = 40015;
constexpr UINT ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_FRAME = 40016;
constexpr UINT ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL = 40017;
constexpr UINT ID_NORV_ITEMCMD_TIMER = 40018;
constexpr UINT ID_NORV_ITEMCMD_TREEITEM_SELECTION_CHANGE = 40019;
constexpr UINT ID_NORV_ITEMCMD_DIALOG_FONT_CHANGED = 40020;
constexpr UINT ID_NORV_ITEMCMD_EXPLORER_FONT_CHANGED = 40021;
constexpr UINT ID_NORV_ITEMCMD_GET_EXPLORE_FROM_PARAM = 40022;
constexpr UINT ID_NORV_ITEMCMD_GET_MESSAGE_STRING = 40023;

// Item commands occupy 40000 up to (not including) 50000; the framework's
// own commands above stay clear of that range.
constexpr UINT ID_NORV_ITEMCMD_RANGE_FIRST = 40000;
constexpr UINT ID_NORV_ITEMCMD_RANGE_LAST = 49999;

// The name of a named item command ("ID_NORV_ITEMCMD_DBLCLK"), or null for
// any other number (including 40007), which callers print as a number.
NORV_API const wchar_t* NorvItemCommandName(UINT id);

// ---------------------------------------------------------------------------
// Item flags (CNorvTreeListItem::GetFlags / SetFlags).
// ---------------------------------------------------------------------------
constexpr DWORD NORV_ITEM_INVALID = 1;        // own data stale; Refresh clears it
constexpr DWORD NORV_ITEM_LISTINVALID = 2;    // children must be fetched again
constexpr DWORD NORV_ITEM_DELETED = 4;        // the object was deleted
constexpr DWORD NORV_ITEM_REMOVED = 8;        // removed from its parent's children
constexpr DWORD NORV_ITEM_REDRAW = 16;        // must be redrawn
constexpr DWORD NORV_ITEM_ACCESSERROR = 32;   // children could not be read
constexpr DWORD NORV_ITEM_STATIC = 64;        // not owned by the parent's child list
constexpr DWORD NORV_ITEM_LISTUPDATED = 128;  // child list changed in place

// The word the object information dump prints for one flag bit
// ("INVALID", "LISTINVALID", ...), or null for a bit that is not a flag.
NORV_API const wchar_t* NorvItemFlagName(DWORD flag);

// ---------------------------------------------------------------------------
// Masks of treeListViewInfo requests (GetTreeViewInfo / GetListViewInfo).
// ---------------------------------------------------------------------------
constexpr UINT NORV_TLVI_TEXT = 1;
constexpr UINT NORV_TLVI_IMAGE = 2;
constexpr UINT NORV_TLVI_COLORS = 4;
