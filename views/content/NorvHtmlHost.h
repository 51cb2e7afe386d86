// INorvHtmlHost: what the page command interface of the HTML views needs of
// the explorer window around them. The main frame implements it and installs
// it with NorvSetHtmlHost; until then (and in programs without a frame) every
// method does nothing and reports "none", so page calls that need a
// selection, a list view or a frame do nothing.
//
// Everything runs on the user-interface thread.
#pragma once
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API INorvHtmlHost {
 public:
  virtual ~INorvHtmlHost();

  // --- the tree view ---
  // The item selected in the tree, or null.
  virtual CNorvTreeListItem* GetSelectedTreeItem() { return nullptr; }
  // TreeView::ItemCommand(command, param, pParam): the command goes to the
  // selected tree item.
  virtual CmdResult TreeItemCommand(UINT /*command*/, DWORD /*param*/, void* /*pParam*/) {
    return CMD_NOT_HANDLED;
  }
  // Posts `command` to the tree view's window (New, Delete, Copy, ...).
  virtual void PostTreeCommand(UINT /*command*/) {}

  // --- the list view ---
  // Whether the list view is the content view shown now.
  virtual BOOL IsListViewShown() { return FALSE; }
  // Whether the shown list view has a command target (a selected row or the
  // item it lists).
  virtual BOOL ListHasCommandTarget() { return FALSE; }
  // CNorvListView::ItemCommand(command, param, pParam).
  virtual CmdResult ListItemCommand(UINT /*command*/, DWORD /*param*/, void* /*pParam*/) {
    return CMD_NOT_HANDLED;
  }
  // The first selected row of the shown list view, or null.
  virtual CNorvTreeListItem* GetFirstSelectedListItem() { return nullptr; }
  // The height in pixels of the list view's column header when it is in the
  // details style, else 0.
  virtual int GetListHeaderHeight() { return 0; }

  // --- the main window ---
  // Posts `command` to the main window (view styles, Refresh, Up, ...).
  virtual void PostMainCommand(UINT /*command*/) {}
  virtual BOOL IsExplorerBarVisible() { return FALSE; }
  // The main frame's ShowHelp(data, command, helpFile).
  virtual BOOL ShowHelp(DWORD /*data*/, UINT /*command*/, const NorvString& /*helpFile*/) {
    return FALSE;
  }
  // Navigates the tree to `path` later: the default stores the path as the
  // process-wide navigation target under the item model lock and asks for
  // the frame's refresh (CNorvTreeListItem::InvokeRefresh), whose idle
  // processing hands it to the tree.
  virtual void PostNavigation(const NorvString& path);
};

// The installed host; never null (a do-nothing instance until the frame
// installs its own). Installing null goes back to that instance.
NORV_API INorvHtmlHost* NorvGetHtmlHost();
NORV_API void NorvSetHtmlHost(INorvHtmlHost* host);
