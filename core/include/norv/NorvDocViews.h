// What the document asks of the windows: the steps of start-up and of the
// document's commands that create or show windows. The main frame and its
// views implement INorvDocViews and install it with CNorvDoc::SetViews.
// Without one (tests, a host without windows) the document skips these
// steps and treats each as done.
#pragma once
#include <QFont>

#include "norv/norvtypes.h"

class CNorvTreeListItem;
class CNorvView;

class NORV_API INorvDocViews {
 public:
  virtual ~INorvDocViews();

  // Start-up, in this order, after the root has been created.
  // Sets the main window's large icon from `iconId` of `resourceModule`.
  virtual void SetMainWindowIcon(HMODULE resourceModule, UINT iconId) = 0;
  // Fills the tree with `root` as its top node; FALSE if that failed.
  virtual BOOL InitTreeView(CNorvTreeListItem* root) = 0;
  // Loads the bookmarks into the bookmark pane.
  virtual BOOL LoadBookmarks() = 0;
  // Navigates the tree to a tree path ("/A/B", "./x", ...).
  virtual BOOL NavigateTree(const NorvString& path) = 0;

  // Shows a plugin's splash page over the main window (before the root is
  // created). `options` is the plugin's second splash text.
  virtual void ShowSplash(const NorvString& url, const NorvString& options) = 0;

  // Makes `view` the content pane's view (creating its window when needed)
  // and hides `previous`; see CNorvDoc::SwitchToView.
  virtual void ActivateContentView(CNorvView* previous, CNorvView* view) = 0;

  // The main window's title.
  virtual void SetMainWindowTitle(const NorvString& title) = 0;

  // The font dialog, starting from `font`; TRUE with the choice in `font`
  // when the user confirmed it. `dialogFont` tells which font is chosen.
  virtual BOOL ChooseFont(QFont& font, BOOL dialogFont) = 0;
  // The tip-of-the-day dialog; `atStartup` TRUE when shown at start, where
  // the dialog itself decides from its own setting whether to appear.
  virtual void ShowTipDialog(BOOL atStartup) = 0;
  // The confirm-delete dialog before `item` deletes its selection;
  // TRUE = go ahead.
  virtual BOOL ConfirmDelete(CNorvTreeListItem* item) = 0;
  // The item currently selected in the tree (null when none), which gets
  // the font-change commands besides the root.
  virtual CNorvTreeListItem* GetSelectedItem() = 0;
  // The document is about to destroy the root: the views drop every
  // pointer into the item tree.
  virtual void RootDestroying(CNorvTreeListItem* root) = 0;
};
