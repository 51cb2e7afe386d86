// Resource modules: shared libraries compiled from a resource script by the
// build's resource helper (cmake/NorvResources.cmake). Each holds string
// tables by number and, in the same table format, menus, accelerators,
// toolbars and images (PNG). One library per locale.
//
// Like AfxGetResourceHandle, a process-wide "current resource module" says
// where texts are loaded from; null means the host program's own module.
#pragma once
#include <cstddef>
#include <string>

#include "platform/library.h"
#include "platform/types.h"

namespace plat {

enum class ResourceType : DWORD {
  String = 6,        // RT_STRING
  Menu = 4,          // RT_MENU
  Accelerator = 9,   // RT_ACCELERATOR
  Toolbar = 241,     // RT_TOOLBAR (MFC)
  Image = 2110,      // PNG data
  Html = 23,         // RT_HTML
  Dialog = 5,        // RT_DIALOG
};

// Loads a resource library (a plain LoadLibrary that also checks that the
// file is a resource module with a sound table). Null on failure, with
// LibraryError() set when the file could not be loaded or has no table.
HMODULE LoadResourceModule(const std::string& path);
// Whether a loaded module carries a sound resource table of its own.
bool IsResourceModule(HMODULE module);

// The host program's resources, used whenever the current module is null.
void SetHostResourceModule(HMODULE module);
HMODULE HostResourceModule();

// The current resource module (AfxGetResourceHandle / AfxSetResourceHandle).
HMODULE CurrentResourceModule();
void SetCurrentResourceModule(HMODULE module);

// Lookups search `module` when it is not null, then the current module, then
// the host's, and take the first that has the resource: so a plugin's
// resource library can be current while the framework still finds its own
// texts in the host's. Modules without a table are skipped.
//
// A string by number (stored as UTF-8, returned as wide text); empty when
// absent. HasString tells an absent string from an empty one.
std::wstring LoadString(UINT id, HMODULE module = nullptr);
bool HasString(UINT id, HMODULE module = nullptr);
// Raw data of any resource type (layouts in docs/resources.md); the data
// stays valid while its module is loaded. False when absent.
bool FindResource(HMODULE module, ResourceType type, UINT id, const BYTE** data,
                  std::size_t* size);

}  // namespace plat
