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
  // The item selected in the tree, or null.
  virtual CNorvTreeListItem* GetSelectedTreeItem() { return nullptr; }
  // An item is being destroyed: the tree drops its node's pointer to it
  // and, when it is the selection, forgets the selection.
  virtual void ItemDestroyed(CNorvTreeListItem* /*item*/) {}

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
