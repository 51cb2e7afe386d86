// Records and enumerations that items and views exchange: what a node or a
// row shows (treeListViewInfo), an item's HTML page (htmlViewInfo) and the
// small result enumerations of the item operations.
#pragma once
#include <vector>

#include "norv/norvtypes.h"

// A list of texts and a list of numbers, as items hand them to the views
// (column titles, widths, ids and formats; dropped file paths).
using NorvStringList = std::vector<NorvString>;
using NorvUIntArray = std::vector<UINT>;

// Colour values are 0x00BBGGRR; all bits set means "the view's default".
constexpr DWORD NORV_DEFAULT_COLOR = 0xFFFFFFFFu;

// What the tree or the list shows for one item. The mask of the request
// (NORV_TLVI_* in NorvItemCommands.h) says which fields the caller wants;
// callers that must know whether the item set an image preset it to -1.
struct NORV_API treeListViewInfo {
  int nImage = -1;           // tree: normal image; list: the row's image
  int nSelectedImage = -1;   // tree image when selected
  NorvString strText;
  DWORD crText = NORV_DEFAULT_COLOR;
  DWORD crBackground = NORV_DEFAULT_COLOR;
  BOOL bBold = FALSE;
  BOOL bItalic = FALSE;      // both set: bold italic
  DWORD dwExtra = 0;         // free for the item; copied with the record
};

// An item's HTML page: the address (empty = show nothing) and the element
// assignments applied once the page has loaded, each "name=value" or
// "name.property=value".
struct NORV_API htmlViewInfo {
  NorvString url;
  NorvStringList assignments;
};

// Result of Command and Drop.
enum CmdResult : int {
  CMD_NOT_HANDLED = 0,
  CMD_HANDLED = 1,  // also: the answer of a GET_* command is valid; a
                    // TREEITEM_SELECTION_CHANGE is refused
  CMD_MOVED = 2,    // a paste moved the items: the former parent's list is
                    // read again
};

// Result of GetItems: 0 = the child list was filled.
enum GetItemsResult : int {
  GETITEMS_OK = 0,
  GETITEMS_FAILED = 1,
};

// Result of CanDrag: 0 = the item cannot be dragged.
enum CanDragFlag : int {
  DRAG_NONE = 0,
  DRAG_ITEM = 1,
};

// Result of CanDrop: 0 = no drop here. DROP_SELECTION: when the pointer is
// over a selected row, the drop goes to all selected rows.
enum CanDropFlag : int {
  DROP_NONE = 0,
  DROP_ITEM = 1,
  DROP_SELECTION = 2,
};

// The control that asks CtrlMenuInfo for a context menu.
enum CtrlType : int {
  CTRL_NONE = 0,
  CTRL_COMBOBOX = 1,
  CTRL_TREE = 2,
  CTRL_LIST = 3,
};

// The main frame's shared image lists.
enum ImageListType : int {
  IMAGELIST_SMALL = 0,
  IMAGELIST_LARGE = 1,
};

// Where the output pane shows its caption.
enum OutputViewHeaderPosition : int {
  OUTPUT_HEADER_NONE = 0,
  OUTPUT_HEADER_TOP = 1,
  OUTPUT_HEADER_LEFT = 2,
  OUTPUT_HEADER_BOTTOM = 3,
  OUTPUT_HEADER_RIGHT = 4,
};

// The view modes of an item's content (GetViewMode / SetViewMode).
constexpr int NORV_VIEWMODE_ICON = 0;
constexpr int NORV_VIEWMODE_SMALLICON = 1;
constexpr int NORV_VIEWMODE_LIST = 2;
constexpr int NORV_VIEWMODE_REPORT = 3;
constexpr int NORV_VIEWMODE_HTML = 4;
constexpr int NORV_VIEWMODE_CUSTOM = 5;

// Where an item appears when it is a child (GetItemListMask).
constexpr DWORD NORV_ITEMLIST_TREE = 1;
constexpr DWORD NORV_ITEMLIST_LIST = 2;
