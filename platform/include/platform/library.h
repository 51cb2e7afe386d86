// Loading shared libraries (LoadLibrary, GetProcAddress, FreeLibrary).
#pragma once
#include <string>

#include "platform/types.h"

namespace plat {

using HMODULE = void*;

// A path with a folder is loaded as given; a bare name is searched the usual
// dlopen way. Symbols are resolved at once and stay local to the library. While the library's static initialisers run,
// CurrentlyLoadingPath() names it, so that whatever they register can be attributed to it.
HMODULE LoadLibrary(const std::string& path);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
// The text of the last failure in this thread (dlerror's, or ours).
std::string LibraryError();
// Sets that text, for loaders built on LoadLibrary that refuse a library
// for reasons of their own.
void SetLibraryError(std::string text);

// The path of the library whose initialisers are running now in this thread
// (empty outside LoadLibrary). The handle does not exist yet at that time.
std::string CurrentlyLoadingPath();
// The file path of a loaded module; the main program for null.
std::string ModuleFileName(HMODULE module);
// The module that contains an address (for "which library am I in"); null
// when no loaded module does. Like GetModuleHandle, the handle is not
// counted: do not pass it to FreeLibrary.
HMODULE ModuleFromAddress(const void* address);

}  // namespace plat
