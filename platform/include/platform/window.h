// Windows of one process found by class name (FindWindow) and sent messages
// (SendMessage), for components that talk to a window of their host program
// in the same process.
//
// A window here is a class name, an optional title and a procedure. There is
// no message queue: SendMessage calls the procedure on the sending thread
// and returns its result. Calls to one window are serialised, so its
// procedure never runs twice at once, but it runs on the sender's thread.
// A procedure must not destroy its own window. The table lives in the shared platform library, so every module
// of the process that links it sees the same windows.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "platform/types.h"

namespace plat {

struct WindowObject;
using HWND = WindowObject*;
using LRESULT = std::intptr_t;
using WindowProc = std::function<LRESULT(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

constexpr UINT WM_USER = 0x0400;

// Makes a window of the class; null for an empty class name or no procedure.
HWND CreateMessageWindow(std::string_view className, std::string_view title, WindowProc proc);
// Removes it; messages sent from now on return 0. Waits for calls in
// progress to return before it does. FALSE for an unknown window.
BOOL DestroyWindow(HWND window);
// The oldest window of the class (compared without regard to case) whose
// title matches when one is given; null when none.
HWND FindWindow(std::string_view className, std::string_view title = {});
// The procedure's result; 0 for a window that does not exist (any more).
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND window);

// The Win32 spellings.
inline HWND CreateNamedWindow(std::string_view className, std::string_view title, WindowProc proc) {
  return CreateMessageWindow(className, title, std::move(proc));
}
inline HWND FindWindowA(const char* className, const char* title) {
  return FindWindow(className ? className : "", title ? title : "");
}
inline LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessage(window, message, wParam, lParam);
}

}  // namespace plat
