// Message boxes for the application's numbered messages. The framework core
// reports through a hook so that it needs no window code: the GUI installs
// a hook that shows a real dialog; without one the text goes to standard
// error and the default button counts as pressed.
#pragma once
#include <functional>

#include "norv/norvtypes.h"

// Message-box types and results, with the Windows values that callers and
// stored settings use.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFMASK = 0x00000F00;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows `text` under `caption` with the buttons and icon of `type` and
// returns the id of the button pressed.
using NorvMessageBoxHook =
    std::function<int(const NorvString& text, const NorvString& caption, UINT type)>;

// Installs the hook (an empty function removes it). Returns the previous one.
NORV_API NorvMessageBoxHook NorvSetMessageBoxHook(NorvMessageBoxHook hook);

// Shows an application message: the caption is the application's title
// (string resource 7035, "Norv Explorer" without one).
NORV_API int NorvAppMessageBox(const NorvString& text, UINT type = MB_OK | MB_ICONEXCLAMATION);
// The same with the text of string resource `id`.
NORV_API int NorvAppMessageBox(UINT id, UINT type = MB_OK | MB_ICONEXCLAMATION);
