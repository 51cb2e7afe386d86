// A window that handles framework commands while it has the focus (the
// list view for the edit and file commands, 40000 - 50000 for its target
// item). The main frame offers such commands to the focused window (or the
// nearest parent that implements this) before the tree gets them.
#pragma once
#include "norv/norvtypes.h"

class NORV_API INorvCommandTarget {
 public:
  virtual ~INorvCommandTarget() = default;
  // TRUE when the command was handled.
  virtual BOOL OnTargetCommand(UINT /*command*/) { return FALSE; }
  // TRUE when the state was set.
  virtual BOOL OnUpdateTargetCommand(UINT /*command*/, BOOL& /*enabled*/, BOOL& /*checked*/) {
    return FALSE;
  }
};
