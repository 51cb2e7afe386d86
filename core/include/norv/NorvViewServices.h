// What the item model asks of the windows: the status bar, the output
// pane, the address bar, the shared image lists, help, the tree view's item
// timer, class paths and selection, and the list view's selection and
// sorting. The main frame and the views implement INorvViewServices and
// install it with NorvSetViewServices; until they do (and in programs
// without windows) every service does nothing and reports FALSE.
#pragma once
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvTLItemList;
class CNorvTreeListItem;
class QIcon;
class QObject;
class QWidget;

class NORV_API INorvViewServices {
 public:
  virtual ~INorvViewServices();

  // --- main frame ---
  // Sets the frame's refresh-requested flag and wakes its idle processing
  // (may be called from any thread).
  virtual void InvokeRefresh() {}
  virtual BOOL SetStatusBarText(const NorvString& /*text*/) { return FALSE; }
  // Replaces image `index` (already offset) of the shared list of `type`.
  virtual BOOL ModifyImageList(ImageListType /*type*/, int /*index*/, const QIcon& /*icon*/) {
    return FALSE;
  }
  virtual BOOL GetAddressBarInfo(NorvString& /*text*/, int& /*image*/, int& /*selectedImage*/) {
    return FALSE;
  }
  virtual BOOL SetAddressBarInfo(const NorvString& /*text*/, int /*image*/, int /*selectedImage*/,
                                 int /*indent*/, const NorvString& /*path*/) {
    return FALSE;
  }
  virtual BOOL SetOutputView(QWidget* /*view*/, OutputViewHeaderPosition /*position*/,
                             const NorvString& /*caption*/, int /*flags*/) {
    return FALSE;
  }
  virtual void DetachOutputView(QWidget* /*view*/) {}
  virtual BOOL ShowOutputView(BOOL /*show*/) { return FALSE; }
  virtual BOOL IsOutputViewVisible(QWidget* /*view*/) { return FALSE; }
  virtual QWidget* GetOutputViewParent() { return nullptr; }
  // The scripting document of an HTML pane (0 banner, 1 frame, 2 content
  // view, 3 graphical).
  virtual QObject* GetViewDocument(int /*which*/) { return nullptr; }
  // Help command `command` with `data` on `helpFile`.
  virtual BOOL ShowHelp(DWORD /*data*/, UINT /*command*/, const NorvString& /*helpFile*/) {
    return FALSE;
  }

  // --- tree view ---
  virtual BOOL SetItemTimer(UINT /*milliseconds*/) { return FALSE; }
  // Applies flags to the objects a class path addresses, from `start`'s
  // node (the tree view's RefreshClassPath).
  virtual BOOL RefreshClassPath(const NorvString& /*path*/, CNorvTreeListItem* /*start*/,
                                DWORD /*flags*/) {
    return FALSE;
  }
  // The item selected in the tree, or null. Asked from any thread (an item
  // destroyed on a worker asks it): keep the selection where a worker can
  // read it safely (an atomic pointer).
  virtual CNorvTreeListItem* GetSelectedTreeItem() { return nullptr; }

  // The next three run on the thread that unlinks or destroys the items.
  // That is normally the user-interface thread, but a plugin's worker may
  // clear a child list or set a local LISTINVALID while it holds the item
  // model lock. Off the user-interface thread (NorvIsUserInterfaceThread)
  // a view drops pointers and marks what it must rebuild, and touches no
  // widget, no model signal and no other item; see docs/view-interfaces.md.
  //
  // An item is being destroyed: the tree drops its node's pointer to it
  // and, when it is the selection, forgets the selection.
  virtual void ItemDestroyed(CNorvTreeListItem* /*item*/) {}
  // Children of `parent` are about to be unlinked from its child list (and
  // the non-static ones destroyed): some (RemoveAt, Remove, RemoveHead,
  // RemoveTail) or all (ClearList, RemoveAll). A Qt model removes the rows
  // under `parent` here (beginRemoveRows, or a reset of that branch) ...
  virtual void ChildrenRemoving(CNorvTreeListItem* /*parent*/) {}
  // ... and ends the removal here (endRemoveRows); the children left are
  // read anew from the list when they are needed. `parent` may itself be
  // in its destructor (its ItemDestroyed came first): use it as a key only.
  virtual void ChildrenRemoved(CNorvTreeListItem* /*parent*/) {}

  // --- content views ---
  // Selects these items in the list view when it is the content view.
  virtual BOOL SelectListViewItems(CNorvTLItemList* /*list*/) { return FALSE; }
  // The list view's sort column and order when it is the content view.
  virtual BOOL GetListSorting(int& /*column*/, int& /*ascending*/) { return FALSE; }
};

// The installed services; never null (a do-nothing instance until the
// windows install theirs). Installing null goes back to that instance.
NORV_API INorvViewServices* NorvGetViewServices();
NORV_API void NorvSetViewServices(INorvViewServices* services);

// TRUE on the user-interface thread: the thread of the Qt application
// object, or the process's first thread while there is none.
NORV_API BOOL NorvIsUserInterfaceThread();
