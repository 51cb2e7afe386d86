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
// file is a resource module). Null with LibraryError() set on failure.
HMODULE LoadResourceModule(const std::string& path);

// The host program's resources, used whenever the current module is null.
void SetHostResourceModule(HMODULE module);
HMODULE HostResourceModule();

// The current resource module (AfxGetResourceHandle / AfxSetResourceHandle).
HMODULE CurrentResourceModule();
void SetCurrentResourceModule(HMODULE module);

// A string by number from `module` (the current one's when `module` is null,
// and the host's when that is null too). Empty when absent.
std::wstring LoadString(UINT id, HMODULE module = nullptr);
bool HasString(UINT id, HMODULE module = nullptr);
// Raw data of other resource types; false when absent.
bool FindResource(HMODULE module, ResourceType type, UINT id, const BYTE** data,
                  std::size_t* size);

}  // namespace plat
