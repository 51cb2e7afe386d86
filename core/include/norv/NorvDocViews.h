// What the document asks of the windows: the steps of start-up and of the
// document's commands that create or show windows. The main frame and its
// views implement INorvDocViews and install it with CNorvDoc::SetViews.
// Without one (tests, a host without windows) the document skips these
// steps; every default below does nothing and reports success.
#pragma once
#include <QFont>

#include "norv/norvtypes.h"

class CNorvTreeListItem;
class CNorvView;

class NORV_API INorvDocViews {
 public:
  virtual ~INorvDocViews();

  // --- start-up, in this order ---
  // Shows a plugin's splash page over the main window (before the root is
  // created). `options` is the plugin's second splash text.
  virtual void ShowSplash(const NorvString& /*url*/, const NorvString& /*options*/) {}
  // Sets the main window's large icon from icon `iconId` of
  // `resourceModule` (null = the host's resources).
  virtual void SetMainWindowIcon(HMODULE /*resourceModule*/, UINT /*iconId*/) {}
  // Fills the tree with `root` as its top node.
  virtual BOOL InitTreeView(CNorvTreeListItem* /*root*/) { return TRUE; }
  // Loads the bookmarks into the bookmark pane.
  virtual BOOL LoadBookmarks() { return TRUE; }
  // Navigates the tree to a tree path ("/A/B", "./x", ...).
  virtual BOOL NavigateTree(const NorvString& /*path*/) { return TRUE; }

  // The document is about to destroy the root: the views drop every
  // pointer into the item tree.
  virtual void RootDestroying(CNorvTreeListItem* /*root*/) {}

  // --- switching the content view (CNorvDoc::SwitchToView) ---
  // The view's class name, for the trace.
  virtual NorvString GetViewClassName(CNorvView* view) {
    return view != nullptr ? NorvString(L"CNorvView") : NorvString(L"(none)");
  }
  // Whether the view is the frame's active view.
  virtual BOOL IsActiveView(CNorvView* /*view*/) { return FALSE; }
  // Whether tree redrawing is on (FALSE while the tree suspends it).
  virtual BOOL IsTreeRedrawEnabled() { return TRUE; }
  // Whether the view's window exists yet.
  virtual BOOL HasViewWindow(CNorvView* /*view*/) { return TRUE; }
  // Does the window work of a switch: creates `view`'s window in the
  // content pane when `create`, gives it the pane's place and the redraw
  // state, runs its first update when just created, hides `previous` and
  // shows `view`, tells both of their deactivation and activation, lays
  // out the frame and makes `view` active when `makeActive`.
  virtual void ActivateContentView(CNorvView* /*previous*/, CNorvView* /*view*/, BOOL /*create*/,
                                   BOOL /*makeActive*/) {}

  // --- the document's commands ---
  // The main window's title.
  virtual void SetMainWindowTitle(const NorvString& /*title*/) {}
  // The font dialog, starting from `font`; TRUE with the choice in `font`
  // when the user confirmed it. Without windows nothing is chosen.
  virtual BOOL ChooseFont(QFont& /*font*/, BOOL /*dialogFont*/) { return FALSE; }
  // The tip-of-the-day dialog; at start-up (`atStartup`) the dialog's own
  // setting decides whether it appears.
  virtual void ShowTipDialog(BOOL /*atStartup*/) {}
  // The confirm-delete dialog before `item` deletes its selection; TRUE =
  // go ahead.
  virtual BOOL ConfirmDelete(CNorvTreeListItem* /*item*/) { return TRUE; }
};
