// Scoped switch of the module that texts, dialogs and images are loaded
// from. The framework wraps every call into plugin code that may load
// resources, so that the plugin finds its own resource library:
//
//   {
//     NorvResourceStack resources(item->GetResourceInstanceHandle());
//     item->Command(...);
//   }  // the previous module is current again
#pragma once
#include "norv/norvtypes.h"

class NORV_API NorvResourceStack {
 public:
  explicit NorvResourceStack(HMODULE module) { Push(module); }
  ~NorvResourceStack() { Pop(); }
  NorvResourceStack(const NorvResourceStack&) = delete;
  NorvResourceStack& operator=(const NorvResourceStack&) = delete;

  // Saves the current resource module and makes `module` current; null
  // selects the host program's own resources.
  static void Push(HMODULE module);
  // Restores the module saved by the matching Push. A Pop without a Push
  // changes nothing.
  static void Pop();
  // How many switches are in effect (for diagnostics).
  static size_t Depth();
};
