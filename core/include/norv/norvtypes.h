// The basic types of framework code: the Windows-shaped names that the
// framework's interfaces are written in, and the export marker.
#pragma once
#include <string>

#include "platform/library.h"
#include "platform/registry.h"
#include "platform/types.h"

using plat::BOOL;
using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::HMODULE;
using plat::LONG;
using plat::LPARAM;
using plat::UINT;
using plat::WORD;
using plat::WPARAM;
using plat::FALSE;
using plat::TRUE;

// Everything in the framework's public headers is exported.
#define NORV_API __attribute__((visibility("default")))

// Framework text is wide; std::wstring stands where MFC had CString.
using NorvString = std::wstring;
