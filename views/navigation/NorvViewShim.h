// The content-view interface. The core declares it in norv/NorvView.h;
// until that header is present this file declares the same interface.
#pragma once
#if __has_include("norv/NorvView.h")
#include "norv/NorvView.h"
#else
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API CNorvView {
 public:
  virtual ~CNorvView() = default;
  virtual BOOL AllowTimerRefresh() { return TRUE; }
  virtual BOOL UpdateContainedItem(CNorvTreeListItem* /*item*/) { return FALSE; }
  virtual BOOL RemoveContainedItem(CNorvTreeListItem* /*item*/) { return FALSE; }
  virtual BOOL ShowContents(CNorvTreeListItem* /*item*/) { return FALSE; }
  virtual void EraseContents() {}
};
#endif
