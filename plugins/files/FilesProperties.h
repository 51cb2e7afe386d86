// The properties of a file or folder: a property sheet with a "General"
// page (what the list shows, and for folders their sub-folders in a branch
// tree) and a "Permissions" page (an options tree) whose choices are
// applied with chmod when the sheet closes with OK.
#pragma once
#include <sys/types.h>

#include "norv/norvtypes.h"

class CFilesEntry;
class QWidget;

// What the permissions page shows: each an int that the options tree sets.
struct FilesPermissions {
  int readOnly = 0;          // the owner may not write
  int executable = 0;        // files: may be run
  int group[3] = {0, 0, 0};  // radio: may not read, may read, may read and change
  int others[3] = {0, 0, 0};

  static FilesPermissions FromMode(mode_t mode, bool folder);
  // The new mode bits of `mode` (the bits the page does not show are kept).
  mode_t Apply(mode_t mode, bool folder) const;
};

// Shows the sheet (modal, over `parent`). TRUE when permissions were
// changed; a chmod that fails is reported to the user.
BOOL FilesShowProperties(CFilesEntry* entry, QWidget* parent);
