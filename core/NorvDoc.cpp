#include "norv/NorvDoc.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <string>

#include "PluginHandlerMessages.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvHostIds.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvPluginBase.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/text.h"

CNorvTreeListItem* CNorvDoc::m_pRoot = nullptr;

namespace {

CNorvDoc* gDocument = nullptr;

const wchar_t* const kFontValues[12] = {
    L"Height",    L"Width",     L"Escapement", L"Orientation",  L"Weight",  L"Italic",
    L"Underline", L"StrikeOut", L"CharSet",    L"OutPrecision", L"Quality", L"PitchAndFamily"};

// LOGFONT constants the stored descriptions use.
constexpr BYTE kFixedPitch = 1;
constexpr BYTE kVariablePitch = 2;
constexpr BYTE kNonAntialiasedQuality = 3;
constexpr BYTE kAntialiasedQuality = 4;
constexpr BYTE kClearTypeQuality = 5;
constexpr BYTE kFamilyRoman = 0x10;
constexpr BYTE kFamilySwiss = 0x20;
constexpr BYTE kFamilyModern = 0x30;
constexpr BYTE kFamilyScript = 0x40;
constexpr BYTE kFamilyDecorative = 0x50;

bool HaveGui() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

// Pixels per point at the logical resolution Windows font heights assume.
constexpr double kPixelsPerPoint = 96.0 / 72.0;

int PixelHeight(const QFont& font) {
  if (font.pixelSize() > 0) return font.pixelSize();
  if (font.pointSizeF() > 0) return static_cast<int>(std::lround(font.pointSizeF() * kPixelsPerPoint));
  return 0;
}

int PointSize(const QFont& font) {
  if (font.pointSizeF() > 0) return static_cast<int>(std::lround(font.pointSizeF()));
  if (font.pixelSize() > 0) return static_cast<int>(std::lround(font.pixelSize() / kPixelsPerPoint));
  return 0;
}

}  // namespace

// ===== NorvLogFont =========================================================

BOOL NorvLogFont::Load(const NorvString& key) {
  CNorvPrivateRegistryKey fontKey(plat::HKEY_CURRENT_USER, key, plat::KEY_READ);
  UINT v[12];
  for (int i = 0; i < 12; ++i) {
    if (!fontKey.GetUIntValue(kFontValues[i], v[i])) return FALSE;
  }
  height = static_cast<LONG>(v[0]);
  width = static_cast<LONG>(v[1]);
  escapement = static_cast<LONG>(v[2]);
  orientation = static_cast<LONG>(v[3]);
  weight = static_cast<LONG>(v[4]);
  italic = static_cast<BYTE>(v[5]);
  underline = static_cast<BYTE>(v[6]);
  strikeOut = static_cast<BYTE>(v[7]);
  charSet = static_cast<BYTE>(v[8]);
  outPrecision = static_cast<BYTE>(v[9]);
  quality = static_cast<BYTE>(v[10]);
  pitchAndFamily = static_cast<BYTE>(v[11]);
  faceName.clear();
  fontKey.GetStringValue(L"FaceName", faceName);
  return TRUE;
}

BOOL NorvLogFont::Save(const NorvString& key) const {
  CNorvPrivateRegistryKey fontKey(plat::HKEY_CURRENT_USER, key, plat::KEY_READ | plat::KEY_WRITE);
  if (!fontKey.IsOpen()) return FALSE;
  const UINT v[12] = {static_cast<UINT>(height),      static_cast<UINT>(width),
                      static_cast<UINT>(escapement),  static_cast<UINT>(orientation),
                      static_cast<UINT>(weight),      italic,
                      underline,                      strikeOut,
                      charSet,                        outPrecision,
                      quality,                        pitchAndFamily};
  BOOL ok = TRUE;
  for (int i = 0; i < 12; ++i) {
    if (!fontKey.SetUIntValue(kFontValues[i], v[i])) ok = FALSE;
  }
  if (!fontKey.SetStringValue(L"FaceName", faceName)) ok = FALSE;
  return ok;
}

QFont NorvLogFont::ToQFont() const {
  QFont font;
  if (!faceName.empty()) font.setFamily(QString::fromStdWString(faceName));
  // Negative heights are character heights, positive ones cell heights;
  // both are taken as the pixel size.
  const LONG pixels = height < 0 ? -height : height;
  if (pixels > 0) font.setPixelSize(static_cast<int>(pixels));
  if (weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp<LONG>(weight, 1, 1000)));
  font.setItalic(italic != 0);
  font.setUnderline(underline != 0);
  font.setStrikeOut(strikeOut != 0);
  if ((pitchAndFamily & 0x03) == kFixedPitch) font.setFixedPitch(true);
  switch (pitchAndFamily & 0xF0) {
    case kFamilyRoman:
      font.setStyleHint(QFont::Serif);
      break;
    case kFamilySwiss:
      font.setStyleHint(QFont::SansSerif);
      break;
    case kFamilyModern:
      font.setStyleHint(QFont::Monospace);
      break;
    case kFamilyScript:
      font.setStyleHint(QFont::Cursive);
      break;
    case kFamilyDecorative:
      font.setStyleHint(QFont::Decorative);
      break;
    default:
      break;
  }
  // After the style hint, which would reset the strategy.
  if (quality == kNonAntialiasedQuality) {
    font.setStyleStrategy(QFont::NoAntialias);
  } else if (quality == kAntialiasedQuality || quality == kClearTypeQuality) {
    font.setStyleStrategy(QFont::PreferAntialias);
  }
  return font;
}

NorvLogFont NorvLogFont::FromQFont(const QFont& font) {
  NorvLogFont lf;
  lf.height = -static_cast<LONG>(PixelHeight(font));
  lf.weight = static_cast<LONG>(font.weight());
  lf.italic = font.italic() ? 1 : 0;
  lf.underline = font.underline() ? 1 : 0;
  lf.strikeOut = font.strikeOut() ? 1 : 0;
  lf.charSet = 1;
  if (font.styleStrategy() & QFont::NoAntialias) {
    lf.quality = kNonAntialiasedQuality;
  } else if (font.styleStrategy() & QFont::PreferAntialias) {
    lf.quality = kAntialiasedQuality;
  }
  BYTE family = 0;
  switch (font.styleHint()) {
    case QFont::Serif:
      family = kFamilyRoman;
      break;
    case QFont::SansSerif:
      family = kFamilySwiss;
      break;
    case QFont::Monospace:
    case QFont::TypeWriter:
      family = kFamilyModern;
      break;
    case QFont::Cursive:
      family = kFamilyScript;
      break;
    case QFont::Decorative:
    case QFont::Fantasy:
      family = kFamilyDecorative;
      break;
    default:
      break;
  }
  lf.pitchAndFamily = static_cast<BYTE>(family | (font.fixedPitch() ? kFixedPitch : kVariablePitch));
  lf.faceName = font.family().toStdWString();
  return lf;
}

// ===== INorvDocViews =======================================================

INorvDocViews::~INorvDocViews() = default;

// ===== CNorvDoc ============================================================

CNorvDoc::CNorvDoc() {
  gDocument = this;
  LoadSettings();

  std::optional<QFont> viewFont = LoadGUIFont(L"ViewFont");
  if (!viewFont) viewFont = CreateDefaultFont();
  if (!viewFont) norvhost::ShowMessage(IDS_NORV_NO_FONT);
  SetupGUIFont(viewFont ? *viewFont : QFont());

  std::optional<QFont> dialogFont = LoadGUIFont(L"DialogFont");
  if (!dialogFont) dialogFont = CreateDefaultFont();
  if (!dialogFont) norvhost::ShowMessage(IDS_NORV_NO_FONT);
  m_dialogFont = dialogFont ? *dialogFont : QFont();
}

CNorvDoc::~CNorvDoc() {
  SaveSettings();
  // The root's code may live in a plugin: it goes before the libraries do.
  DestroyRoot();
  CPluginHandler::UnloadPlugins();
  if (gDocument == this) gDocument = nullptr;
  if (CNorvCommandLineInfo::GetCurrent() == &m_commandLine) CNorvCommandLineInfo::SetCurrent(nullptr);
}

CNorvDoc* CNorvDoc::GetDoc() { return gDocument; }

void CNorvDoc::LoadSettings() {
  CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_READ);
  UINT value = 0;
  if (settings.GetUIntValue(L"ConfirmOnDelete", value)) m_bConfirmOnDelete = value != 0;
  if (settings.GetUIntValue(L"RefreshListOnSelect", value)) m_bRefreshListOnSelect = value != 0;
}

void CNorvDoc::SaveSettings() const {
  CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings",
                                   plat::KEY_READ | plat::KEY_WRITE);
  settings.SetUIntValue(L"ConfirmOnDelete", m_bConfirmOnDelete ? 1 : 0);
  settings.SetUIntValue(L"RefreshListOnSelect", m_bRefreshListOnSelect ? 1 : 0);
}

void CNorvDoc::SetBusy(BOOL busy) {
  if (busy)
    ++m_nBusy;
  else if (m_nBusy > 0)
    --m_nBusy;
}

void CNorvDoc::DestroyRoot() {
  if (m_pRoot == nullptr) return;
  CNorvTreeListItem* old = m_pRoot;
  // The selection goes with the root: it hears of it while it is whole.
  CNorvTreeListItem::NotifyDeselectedIfWithin(old);
  m_pRoot = nullptr;
  if (m_pViews != nullptr) m_pViews->RootDestroying(old);
  NorvResourceStack resources(old->GetResourceInstanceHandle());
  delete old;
}

BOOL CNorvDoc::SetupViews(const CNorvCommandLineInfo& info) {
  NORV_BASE_TRACE(4, 0, L"Setting up views");
  // The running program's record, for GetCommandLineParameter and
  // ExploreFrom; the document keeps its own copy so it outlives the caller's.
  m_commandLine = info;
  CNorvCommandLineInfo::SetCurrent(&m_commandLine);
  const BOOL quiet = info.m_bQuiet;
  CNorvPluginBase::SetHostResourceHandle(plat::CurrentResourceModule());
  DestroyRoot();

  NorvString registryRootClass;
  NorvString registryRootId;
  NorvString registryRootPath;
  {
    CNorvPrivateRegistryKey framework(plat::HKEY_LOCAL_MACHINE, L"", plat::KEY_READ);
    framework.GetStringValue(L"RootClass", registryRootClass);
    framework.GetStringValue(L"RootId", registryRootId);
    framework.GetStringValue(L"RootPath", registryRootPath);
  }

  // Initialise the plugins; one that refuses is removed, and the ones
  // behind it move up.
  bool removed = false;
  for (int id = 0; id < CPluginHandler::GetPluginCount();) {
    NorvPluginRecord& record = CPluginHandler::pluginList[id];
    wchar_t rootClass[NORV_PLUGIN_TEXT_CHARS] = {};
    wchar_t rootId[NORV_PLUGIN_TEXT_CHARS] = {};
    BOOL ok = FALSE;
    if (record.entry.Initialize != nullptr) {
      NorvResourceStack resources(record.resourceModule);
      ok = record.entry.Initialize(rootClass, rootId, NORV_PLUGIN_TEXT_CHARS);
    }
    rootClass[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
    rootId[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
    if (ok) {
      record.defaultRootClass = rootClass;
      record.defaultRootId = rootId;
      ++id;
      continue;
    }
    if (!quiet) norvhost::ShowMessage(IDS_NORV_PLUGIN_INIT_FAILED, record.name.c_str());
    CPluginHandler::RemovePlugin(id);
    removed = true;
  }
  if (CPluginHandler::GetPluginCount() == 0) {
    NORV_BASE_TRACE(3, 0, L"No plugins could be initialized. Exiting.");
    if (!quiet) NorvAppMessageBox(L"No plugins could be initialized. NORV exiting!");
    return FALSE;
  }
  if (removed) {
    NORV_BASE_TRACE(3, 0, L"Rebuild classList of plugins.");
    CPluginHandler::BuildClassList();
  }

  // Choose the root.
  m_startPath.clear();
  if (info.m_bRootClassGiven && !info.m_RootClass.empty()) {
    m_rootClass = info.m_RootClass;
    m_rootId = info.m_bRootIdGiven ? info.m_RootId : NorvString();
  } else if (!registryRootClass.empty()) {
    m_rootClass = registryRootClass;
    m_rootId = registryRootId;
    m_startPath = registryRootPath;
  } else if (CPluginHandler::GetPluginCount() == 1) {
    m_rootClass = CPluginHandler::pluginList[0].defaultRootClass;
    m_rootId = CPluginHandler::pluginList[0].defaultRootId;
  } else {
    m_rootClass = L"CNorvRoot";
    m_rootId.clear();
  }
  if (info.m_bStartPathGiven && !info.m_StartPath.empty()) m_startPath = info.m_StartPath;

  // The splash page of the root's plugin.
  if (!info.m_bNoSplash && m_rootClass != L"CNorvRoot" && m_pViews != nullptr) {
    const int pluginId = CPluginHandler::FindClassPluginId(m_rootClass);
    if (pluginId >= 0) {
      const NorvPluginRecord& record = CPluginHandler::pluginList[pluginId];
      if (record.entry.GetSplashUrl != nullptr) {
        wchar_t url[NORV_PLUGIN_TEXT_CHARS] = {};
        wchar_t options[NORV_PLUGIN_TEXT_CHARS] = {};
        {
          NorvResourceStack resources(record.resourceModule);
          record.entry.GetSplashUrl(url, options, NORV_PLUGIN_TEXT_CHARS);
        }
        url[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
        options[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
        if (url[0] != L'\0') m_pViews->ShowSplash(url, options);
      }
    }
  }

  NORV_BASE_TRACE(3, 0,
                  NorvFormatString(L"Creating root object: %s://%s", m_rootClass.c_str(),
                                   m_rootId.c_str()));
  CNorvTreeListItem* created = nullptr;
  if (gNorvBaseTraceLevel >= 3) {
    created = Trace_CreateObject(__FILE__, __LINE__, "CNorvDoc::SetupViews", nullptr,
                                 m_rootClass, m_rootId);
  } else {
    created = CNorvTreeListItem::CreateObject(nullptr, m_rootClass, m_rootId);
  }
  if (created != nullptr && !created->IsValid()) {
    NorvResourceStack resources(created->GetResourceInstanceHandle());
    delete created;
    created = nullptr;
  }
  if (created == nullptr) {
    if (!quiet)
      norvhost::ShowMessage(IDS_NORV_ROOT_NOT_CREATED, m_rootClass.c_str(), m_rootId.c_str());
    return FALSE;
  }
  m_pRoot = created;

  if (m_pViews != nullptr) {
    UINT icon = 0;
    HMODULE iconModule = nullptr;
    {
      CNorvItemCallScope scope(m_pRoot);
      icon = m_pRoot->GetIcon();
      iconModule = m_pRoot->GetResourceInstanceHandle();
    }
    if (icon != 0) m_pViews->SetMainWindowIcon(iconModule, icon);
  }
  NORV_BASE_TRACE(4, 0, L"Initializing tree view");
  if (m_pViews != nullptr) m_pViews->InitTreeView(m_pRoot);
  NORV_BASE_TRACE(4, 0, L"Initializing bookmark view");
  if (m_pViews != nullptr) m_pViews->LoadBookmarks();
  if (!m_startPath.empty() && m_pViews != nullptr) m_pViews->NavigateTree(m_startPath);
  return TRUE;
}

CNorvView* CNorvDoc::SwitchToView(CNorvView* view) {
  CNorvView* old = m_pContentView;
  if (view == nullptr || view == old) return old;
  if (m_pViews == nullptr) {
    m_pContentView = view;
    return old;
  }
  const BOOL wasActive = old != nullptr && m_pViews->IsActiveView(old);
  if (gNorvBaseTraceLevel >= 3) {
    NORV_BASE_TRACE(3, 0,
                    NorvFormatString(L"Switching view from %s to %s (%s) (Drawing: %s)",
                                     m_pViews->GetViewClassName(old).c_str(),
                                     m_pViews->GetViewClassName(view).c_str(),
                                     wasActive ? L"ACTIVE" : L"INACTIVE",
                                     m_pViews->IsTreeRedrawEnabled() ? L"ENABLED" : L"DISABLED"));
  }
  const BOOL create = !m_pViews->HasViewWindow(view);
  if (create) {
    NORV_BASE_TRACE(3, 0,
                    NorvFormatString(L"Creating view %s",
                                     m_pViews->GetViewClassName(view).c_str()));
  }
  m_pViews->ActivateContentView(old, view, create, wasActive);
  m_pContentView = view;
  return old;
}

BOOL CNorvDoc::CancelCommand(CNorvTreeListItem* item, UINT command) {
  if (command == kDeleteCommand && m_bConfirmOnDelete) {
    return m_pViews != nullptr ? m_pViews->ConfirmDelete(item) : TRUE;
  }
  return TRUE;
}

void CNorvDoc::SetActivePlugin(const NorvString& a, const NorvString& b) {
  if (m_pViews != nullptr)
    m_pViews->SetMainWindowTitle(NorvFormatString(L"%s - %s", b.c_str(), a.c_str()));
}

void CNorvDoc::ShowTipAtStartup() {
  const CNorvCommandLineInfo* info = CNorvCommandLineInfo::GetCurrent();
  if (info != nullptr && info->m_bNoTips) return;
  if (m_pViews != nullptr) m_pViews->ShowTipDialog(TRUE);
}

void CNorvDoc::ShowTipOfTheDay() {
  if (m_pViews != nullptr) m_pViews->ShowTipDialog(FALSE);
}

std::optional<QFont> CNorvDoc::LoadGUIFont(const NorvString& key) {
  NorvLogFont lf;
  if (!lf.Load(key)) return std::nullopt;
  return lf.ToQFont();
}

BOOL CNorvDoc::SaveGUIFont(const NorvString& key, const QFont& font) {
  return NorvLogFont::FromQFont(font).Save(key);
}

std::optional<QFont> CNorvDoc::CreateDefaultFont() {
  if (!HaveGui()) return std::nullopt;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

BOOL CNorvDoc::SetupGUIFont(const QFont& font) {
  m_viewFont = font;
  m_boldFont = font;
  m_boldFont.setBold(true);
  m_boldItalicFont = m_boldFont;
  m_boldItalicFont.setItalic(true);
  m_italicFont = font;
  m_italicFont.setItalic(true);
  return TRUE;
}

BOOL CNorvDoc::GetExplorerFont(NorvString& face, NorvString& size, NorvString& style,
                               NorvString& weight) const {
  face = m_viewFont.family().toStdWString();
  int points = PointSize(m_viewFont);
  if (points <= 0 && HaveGui()) points = QFontInfo(m_viewFont).pointSize();
  size = NorvFormatString(L"%dpt", points);
  style = m_viewFont.italic() ? L"italic" : L"normal";
  weight = std::to_wstring(static_cast<int>(m_viewFont.weight()));
  return TRUE;
}

BOOL CNorvDoc::OnViewFont() { return ChooseAndStoreFont(FALSE); }

BOOL CNorvDoc::OnDialogFont() { return ChooseAndStoreFont(TRUE); }

BOOL CNorvDoc::ChooseAndStoreFont(BOOL dialogFont) {
  if (m_pViews == nullptr) return FALSE;
  QFont font = dialogFont ? m_dialogFont : m_viewFont;
  if (!m_pViews->ChooseFont(font, dialogFont)) return FALSE;
  if (dialogFont) {
    m_dialogFont = font;
    SaveGUIFont(L"DialogFont", font);
    SendFontChanged(ID_NORV_ITEMCMD_DIALOG_FONT_CHANGED);
  } else {
    SetupGUIFont(font);
    SaveGUIFont(L"ViewFont", font);
    SendFontChanged(ID_NORV_ITEMCMD_EXPLORER_FONT_CHANGED);
  }
  return TRUE;
}

void CNorvDoc::SendFontChanged(UINT command) {
  // The root and the selected item (once, when they are the same) learn of
  // the new font; the views repaint themselves.
  CNorvTreeListItem* selected = NorvGetViewServices()->GetSelectedTreeItem();
  CNorvTreeListItem* targets[2] = {m_pRoot, selected != m_pRoot ? selected : nullptr};
  for (CNorvTreeListItem* item : targets) {
    if (item == nullptr) continue;
    CNorvItemCallScope scope(item);
    NORV_ITEM_COMMAND(item, nullptr, command, 0, nullptr);
  }
}
