// The parsed command line of the explorer. The host's parser fills it; the
// framework reads it at start-up. Every optional value comes with a flag
// that says whether it was given, so that a given value can override the
// user's stored setting and a missing one leaves it alone.
#pragma once
#include <vector>

#include "norv/norvtypes.h"

class NORV_API CNorvCommandLineInfo {
 public:
  CNorvCommandLineInfo() = default;
  virtual ~CNorvCommandLineInfo() = default;

  // Trace overrides (traceEnabled:, traceLevel:, traceLocation:,
  // traceFileSize:, traceKeepFiles:).
  BOOL m_bTraceEnabledGiven = FALSE;
  DWORD m_TraceEnabled = 0;
  BOOL m_bTraceLevelGiven = FALSE;
  int m_TraceLevel = 0;
  BOOL m_bTraceLocationGiven = FALSE;
  NorvString m_TraceLocation;
  BOOL m_bTraceFileSizeGiven = FALSE;
  DWORD m_TraceFileSize = 0;
  BOOL m_bTraceKeepFilesGiven = FALSE;
  int m_TraceKeepFiles = 0;

  // Root object (class:, id:) and the tree path to open after start-up
  // (the one argument that is not an option).
  BOOL m_bRootClassGiven = FALSE;
  NorvString m_RootClass;
  BOOL m_bRootIdGiven = FALSE;
  NorvString m_RootId;
  BOOL m_bStartPathGiven = FALSE;
  NorvString m_StartPath;
  // locale: (handed to CPluginHandler::LoadAllPlugins), param: (the root
  // plugin's free parameter), registrykey: (the framework's settings key).
  BOOL m_bLocaleGiven = FALSE;
  NorvString m_Locale;
  BOOL m_bParamGiven = FALSE;
  NorvString m_Param;
  BOOL m_bRegistryKeyGiven = FALSE;
  NorvString m_RegistryKey;
  // plugin: names to load from the registry; loadplugin: entries
  // "name;PluginDLL;ResourceDLL;HelpFile;MessageHelpFile". Both repeatable,
  // in command-line order.
  std::vector<NorvString> m_Plugins;
  std::vector<NorvString> m_LoadPlugins;
  // -nosplash, -notips, and -quiet (no message boxes during set-up).
  BOOL m_bNoSplash = FALSE;
  BOOL m_bNoTips = FALSE;
  BOOL m_bQuiet = FALSE;

  // The running program's record, once the host has parsed its command
  // line (null before): ExploreFrom and GetCommandLineParameter read it.
  static const CNorvCommandLineInfo* GetCurrent();
  static void SetCurrent(const CNorvCommandLineInfo* info);
};
