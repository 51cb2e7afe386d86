// The plugin SDK: what a plugin library exports and how the framework calls it.
//
// A plugin is a shared library that derives item classes from
// CNorvTreeListItem and exports the sixteen C functions below by name. The
// framework looks them up with GetProcAddress when it loads the library;
// nine are required, the others are optional. Every export has C linkage so
// that its name in the library is exactly the name given here.
//
// Writing the exports: include this header in ONE source file of the
// plugin, define a NorvPluginGlobals object and expand
// NORV_PLUGIN_STANDARD_EXPORTS with it; add GetPluginCaption and
// GetImageList (a macro each for the common case) and write Initialize (and
// any optional export) yourself:
//
//   static NorvPluginGlobals gPlugin;
//   NORV_PLUGIN_STANDARD_EXPORTS(gPlugin)
//   NORV_PLUGIN_CAPTION_FROM_STRING(gPlugin, IDS_CAPTION)
//   NORV_PLUGIN_NO_IMAGES
//   NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
//     NorvPluginCopyText(rootClass, chars, L"CMyRoot");
//     NorvPluginCopyText(rootId, chars, L"");
//     return TRUE;
//   }
//
// Outside the framework's own build, this header also declares every export
// with its exact type, so a definition with the wrong argument list does not
// compile.
#pragma once
#include <QImage>
#include <QList>
#include <cstddef>
#include <cwchar>
#include <string>

#include "norv/norvtypes.h"
#include "platform/resources.h"

// The SDK this header describes: major version in the high 16 bits, minor
// in the low 16 bits. The framework loads only plugins built for 2.1.
#define NORV_SDK_VERSION 0x00020001u
#define NORV_SDK_VERSION_MAJOR 2u
#define NORV_SDK_VERSION_MINOR 1u
// The SDK build: high and low 16 bits are printed as the third and fourth
// parts of the version ("2.1.43.0"). The views switch newer behaviour on by
// the build a plugin reports (CPluginHandler::GetSDKBuild): a plugin built
// with this SDK gets every one of them, so the build stays above each gate.
#define NORV_SDK_BUILD 0x002B0000u

// The gates, each "the plugin's build is above this value":
// the tree asks the item being left with
// ID_NORV_ITEMCMD_TREEITEM_SELECTION_CHANGE (and may be vetoed);
#define NORV_SDK_BUILD_SELECTION_VETO 0x000E0000u
// the tree and the frame ask the item for its tutorial page;
#define NORV_SDK_BUILD_TUTORIAL_PANE 0x00170000u
// and, from this build on (inclusive), a double-click on a list row reaches
// the row's item as ID_NORV_ITEMCMD_DBLCLK.
#define NORV_SDK_BUILD_DBLCLK_COMMAND 0x002A0000u
static_assert(NORV_SDK_BUILD > NORV_SDK_BUILD_SELECTION_VETO &&
                  NORV_SDK_BUILD > NORV_SDK_BUILD_TUTORIAL_PANE &&
                  NORV_SDK_BUILD >= NORV_SDK_BUILD_DBLCLK_COMMAND,
              "a plugin built with this SDK must pass every build gate");

// Size in wide characters of every text buffer the framework hands to a
// plugin (root class, root id, caption, splash URL and options).
#define NORV_PLUGIN_TEXT_CHARS 256u

// First value reported by GetBuildType: non-zero when the plugin was built
// against a C++ library whose containers or strings are laid out
// differently from the framework's: the checked debug containers
// (_GLIBCXX_DEBUG) or the old GCC string ABI. No std::wstring or container
// could then cross the boundary safely, so the framework refuses the plugin.
#if defined(_GLIBCXX_DEBUG) || (defined(_GLIBCXX_USE_CXX11_ABI) && !_GLIBCXX_USE_CXX11_ABI)
#define NORV_PLUGIN_BUILD_ABI_MISMATCH 1u
#else
#define NORV_PLUGIN_BUILD_ABI_MISMATCH 0u
#endif
// Second value: the size of wchar_t in the plugin (non-zero: wide-text build).
#define NORV_PLUGIN_BUILD_WIDE_TEXT static_cast<DWORD>(sizeof(wchar_t))

#define NORV_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The sixteen exports, in the order of the framework's entry-point table.
// Required: Initialize .. GetPluginCaption. Optional: the rest.
//
// Initialize: writes the plugin's default root class and root id (each
//   buffer holds `chars` wide characters, terminated); non-zero = success.
typedef BOOL (*NorvPluginInitializeProc)(wchar_t* rootClass, wchar_t* rootId, unsigned chars);
// DeInitialize: last call before the libraries are unloaded.
typedef void (*NorvPluginDeInitializeProc)();
// GetImageList: appends the plugin's images for one image list type
//   (CNorvTreeListItem's ImageListType); FALSE when it has none of that type.
typedef BOOL (*NorvPluginGetImageListProc)(int imageListType, QList<QImage>* images);
// SetImageListOffset: index of the plugin's first image in the shared lists.
typedef void (*NorvPluginSetImageListOffsetProc)(int offset);
// SetPluginName, SetHelpFile, SetMessageHelpFile: after loading.
typedef void (*NorvPluginSetTextProc)(const wchar_t* text);
typedef NorvPluginSetTextProc NorvPluginSetPluginNameProc;
typedef NorvPluginSetTextProc NorvPluginSetHelpFileProc;
typedef NorvPluginSetTextProc NorvPluginSetMessageHelpFileProc;
// SetResourceInstanceHandle: the plugin's resource module for its locale.
typedef void (*NorvPluginSetResourceInstanceHandleProc)(HMODULE resourceModule);
// GetPluginCaption: the plugin's caption (help menu text), terminated.
typedef void (*NorvPluginGetPluginCaptionProc)(wchar_t* caption, unsigned chars);
// GetTipOfTheDayStartIndex: number of the plugin's first tip string in its
//   resource module (tips follow in consecutive numbers); 0 = no tips.
typedef UINT (*NorvPluginGetTipOfTheDayStartIndexProc)();
// GetSplashUrl: called for the root's plugin at start; a non-empty URL is
//   shown as splash page. `options` is passed to the splash window unchanged.
typedef void (*NorvPluginGetSplashUrlProc)(wchar_t* url, wchar_t* options, unsigned chars);
// QueryEndSession: FALSE vetoes logging off or shutting down.
typedef BOOL (*NorvPluginQueryEndSessionProc)();
// Idle: idle processing with the idle count; TRUE = wants more idle time.
typedef BOOL (*NorvPluginIdleProc)(long count);
// SetPluginId: the plugin's id, for NorvPluginTrace; may be called again
//   when an earlier plugin is removed and the ids move up.
typedef void (*NorvPluginSetPluginIdProc)(int pluginId);
// GetBuildType: the two build values (see NORV_PLUGIN_BUILD_*); the first
//   must be 0 and the second non-zero.
typedef void (*NorvPluginGetBuildTypeProc)(DWORD* first, DWORD* second);
// GetSDKVersion: NORV_SDK_VERSION and NORV_SDK_BUILD of the plugin's build.
typedef void (*NorvPluginGetSDKVersionProc)(DWORD* version, DWORD* build);

// The framework's table of a plugin's entry points (null where absent).
struct NorvPluginEntryPoints {
  NorvPluginInitializeProc Initialize = nullptr;
  NorvPluginDeInitializeProc DeInitialize = nullptr;
  NorvPluginGetImageListProc GetImageList = nullptr;
  NorvPluginSetImageListOffsetProc SetImageListOffset = nullptr;
  NorvPluginSetPluginNameProc SetPluginName = nullptr;
  NorvPluginSetHelpFileProc SetHelpFile = nullptr;
  NorvPluginSetMessageHelpFileProc SetMessageHelpFile = nullptr;
  NorvPluginSetResourceInstanceHandleProc SetResourceInstanceHandle = nullptr;
  NorvPluginGetPluginCaptionProc GetPluginCaption = nullptr;
  NorvPluginGetTipOfTheDayStartIndexProc GetTipOfTheDayStartIndex = nullptr;
  NorvPluginGetSplashUrlProc GetSplashUrl = nullptr;
  NorvPluginQueryEndSessionProc QueryEndSession = nullptr;
  NorvPluginIdleProc Idle = nullptr;
  NorvPluginSetPluginIdProc SetPluginId = nullptr;
  NorvPluginGetBuildTypeProc GetBuildType = nullptr;
  NorvPluginGetSDKVersionProc GetSDKVersion = nullptr;
};

// Names of the exports, in the table's order, and how many are required.
inline constexpr const char* kNorvPluginExportNames[16] = {
    "Initialize",         "DeInitialize",       "GetImageList",
    "SetImageListOffset", "SetPluginName",      "SetHelpFile",
    "SetMessageHelpFile", "SetResourceInstanceHandle",
    "GetPluginCaption",   "GetTipOfTheDayStartIndex",
    "GetSplashUrl",       "QueryEndSession",    "Idle",
    "SetPluginId",        "GetBuildType",       "GetSDKVersion"};
inline constexpr int kNorvPluginRequiredExports = 9;

// Copies `text` into a plugin text buffer of `chars` wide characters,
// cutting it if needed; the buffer is always terminated.
inline void NorvPluginCopyText(wchar_t* buffer, unsigned chars, const wchar_t* text) {
  if (buffer == nullptr || chars == 0) return;
  std::size_t n = text != nullptr ? std::wcslen(text) : 0;
  if (n >= chars) n = chars - 1;
  if (n > 0) std::wmemcpy(buffer, text, n);
  buffer[n] = L'\0';
}

// What the standard exports remember; plugins read it from their item
// classes (GetPluginName, GetResourceInstanceHandle, GetImageListOffset ...).
struct NorvPluginGlobals {
  int pluginId = -1;
  NorvString name;
  NorvString helpFile;
  NorvString messageHelpFile;
  HMODULE resourceModule = nullptr;
  int imageListOffset = 0;
};

// The exports that only store what the framework hands over:
// SetImageListOffset, SetPluginName, SetHelpFile, SetMessageHelpFile,
// SetResourceInstanceHandle and SetPluginId.
#define NORV_PLUGIN_SETTER_EXPORTS(globals)                                                \
  NORV_PLUGIN_EXPORT void SetImageListOffset(int offset) { (globals).imageListOffset = offset; } \
  NORV_PLUGIN_EXPORT void SetPluginName(const wchar_t* text) {                             \
    (globals).name = text != nullptr ? text : L"";                                         \
  }                                                                                        \
  NORV_PLUGIN_EXPORT void SetHelpFile(const wchar_t* text) {                               \
    (globals).helpFile = text != nullptr ? text : L"";                                     \
  }                                                                                        \
  NORV_PLUGIN_EXPORT void SetMessageHelpFile(const wchar_t* text) {                        \
    (globals).messageHelpFile = text != nullptr ? text : L"";                              \
  }                                                                                        \
  NORV_PLUGIN_EXPORT void SetResourceInstanceHandle(HMODULE module) {                      \
    (globals).resourceModule = module;                                                     \
  }                                                                                        \
  NORV_PLUGIN_EXPORT void SetPluginId(int id) { (globals).pluginId = id; }

// The version and build reports of this header's SDK: GetBuildType and
// GetSDKVersion.
#define NORV_PLUGIN_VERSION_EXPORTS                                                        \
  NORV_PLUGIN_EXPORT void GetBuildType(DWORD* first, DWORD* second) {                      \
    if (first != nullptr) *first = NORV_PLUGIN_BUILD_ABI_MISMATCH;                         \
    if (second != nullptr) *second = NORV_PLUGIN_BUILD_WIDE_TEXT;                          \
  }                                                                                        \
  NORV_PLUGIN_EXPORT void GetSDKVersion(DWORD* version, DWORD* build) {                    \
    if (version != nullptr) *version = NORV_SDK_VERSION;                                   \
    if (build != nullptr) *build = NORV_SDK_BUILD;                                         \
  }

// All of the above plus a DeInitialize that does nothing. A plugin that
// must clean up uses the two macros above and writes DeInitialize itself.
#define NORV_PLUGIN_STANDARD_EXPORTS(globals) \
  NORV_PLUGIN_SETTER_EXPORTS(globals)         \
  NORV_PLUGIN_VERSION_EXPORTS                 \
  NORV_PLUGIN_EXPORT void DeInitialize() {}

// GetPluginCaption from a string of the plugin's resource module.
#define NORV_PLUGIN_CAPTION_FROM_STRING(globals, stringId)                                \
  NORV_PLUGIN_EXPORT void GetPluginCaption(wchar_t* caption, unsigned chars) {           \
    const std::wstring text = plat::LoadString((stringId), (globals).resourceModule);    \
    NorvPluginCopyText(caption, chars, text.c_str());                                    \
  }

// GetImageList for a plugin without images of its own.
#define NORV_PLUGIN_NO_IMAGES                                                             \
  NORV_PLUGIN_EXPORT BOOL GetImageList(int, QList<QImage>*) { return FALSE; }

#ifndef NORV21_BUILDING
// The exports' exact types: a plugin's definition must match them.
extern "C" {
__attribute__((visibility("default"))) BOOL Initialize(wchar_t* rootClass, wchar_t* rootId,
                                                       unsigned chars);
__attribute__((visibility("default"))) void DeInitialize();
__attribute__((visibility("default"))) BOOL GetImageList(int imageListType,
                                                         QList<QImage>* images);
__attribute__((visibility("default"))) void SetImageListOffset(int offset);
__attribute__((visibility("default"))) void SetPluginName(const wchar_t* text);
__attribute__((visibility("default"))) void SetHelpFile(const wchar_t* text);
__attribute__((visibility("default"))) void SetMessageHelpFile(const wchar_t* text);
__attribute__((visibility("default"))) void SetResourceInstanceHandle(HMODULE module);
__attribute__((visibility("default"))) void GetPluginCaption(wchar_t* caption, unsigned chars);
__attribute__((visibility("default"))) UINT GetTipOfTheDayStartIndex();
__attribute__((visibility("default"))) void GetSplashUrl(wchar_t* url, wchar_t* options,
                                                         unsigned chars);
__attribute__((visibility("default"))) BOOL QueryEndSession();
__attribute__((visibility("default"))) BOOL Idle(long count);
__attribute__((visibility("default"))) void SetPluginId(int pluginId);
__attribute__((visibility("default"))) void GetBuildType(DWORD* first, DWORD* second);
__attribute__((visibility("default"))) void GetSDKVersion(DWORD* version, DWORD* build);
}
#endif
