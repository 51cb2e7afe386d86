// CNorvView: the content-view interface. The list view and the HTML
// content view implement it; the tree view and the document drive the
// content pane only through it (CNorvDoc::GetCurrentView,
// CNorvDoc::SwitchToView).
//
// A view widget derives from its Qt class and from CNorvView:
//
//   class CNorvListView : public QTreeView, public CNorvView {
//    public:
//     BOOL ShowContents(CNorvTreeListItem* item) override;
//     ...
//   };
//
// The five operations keep their slot order: they are the first five
// entries of the table of virtual functions. The destructor comes after
// them, so a view built against an older header still finds the operations
// where it expects them.
//
// Every operation runs on the user-interface thread. The defaults do
// nothing: a view that has nothing to show allows timed refreshes and
// reports that it changed nothing.
#pragma once
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API CNorvView {
 public:
  CNorvView() = default;
  CNorvView(const CNorvView&) = delete;
  CNorvView& operator=(const CNorvView&) = delete;

  // 1 Whether the tree may run its timed refresh now (FALSE while the view
  //   is in the middle of something the refresh would disturb, such as an
  //   in-place edit). Default TRUE.
  virtual BOOL AllowTimerRefresh();
  // 2 `item`, which the view shows (a row of the list), changed: redraw
  //   it. TRUE when the view showed it. Default FALSE.
  virtual BOOL UpdateContainedItem(CNorvTreeListItem* item);
  // 3 `item` is about to go: the view drops it (and every pointer to it).
  //   TRUE when the view showed it. Default FALSE.
  virtual BOOL RemoveContainedItem(CNorvTreeListItem* item);
  // 4 Shows `item`'s contents (its children as rows, or its page). TRUE
  //   when shown. Default FALSE.
  virtual BOOL ShowContents(CNorvTreeListItem* item);
  // 5 Shows nothing and forgets every item pointer. Default: nothing.
  virtual void EraseContents();

  // After the five operations (see above).
  virtual ~CNorvView();
};
