// CNorvDoc: the explorer's one document. It owns the root item, the user's
// settings and fonts, and the pointers to the views; it sets the explorer
// up after the host has loaded the plugins and switches the content pane
// between views.
//
// Start-up, as the host does it:
//   CNorvCommandLineInfo info;  CNorvCommandLineParser::Parse(argc, argv, info, &error);
//   CNorvCommandLineInfo::SetCurrent(&info);
//   CNorvPrivateRegistryKey::SetRegistryKey(info.m_bRegistryKeyGiven ? info.m_RegistryKey
//                                                                   : L"Velmora\\NORV2.1");
//   Trace::Start(&info);
//   CPluginHandler::LoadAllPlugins(info.m_Locale, info.m_Plugins, info.m_LoadPlugins);
//   CNorvDoc doc;  (main frame, views; doc.SetViews(...), doc.SetTreeView(...) ...)
//   if (!doc.SetupViews(info)) quit;
//
// User settings (HKEY_CURRENT_USER, private key): "Settings" with
// "ConfirmOnDelete" and "RefreshListOnSelect" (numbers, default 1), and
// "ViewFont" / "DialogFont" with the twelve numbers of a Windows font
// description ("Height" ... "PitchAndFamily") and "FaceName".
#pragma once
#include <QFont>
#include <optional>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDocViews.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvView.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;
class QWidget;

// A font as the settings store it: the fields of a Windows LOGFONT in its
// order, without the clipping precision.
struct NORV_API NorvLogFont {
  LONG height = 0;  // < 0: character height in pixels; > 0: cell height
  LONG width = 0;
  LONG escapement = 0;
  LONG orientation = 0;
  LONG weight = 0;  // 100 .. 900, 400 normal, 700 bold; 0 = default
  BYTE italic = 0;
  BYTE underline = 0;
  BYTE strikeOut = 0;
  BYTE charSet = 1;  // DEFAULT_CHARSET
  BYTE outPrecision = 0;
  BYTE quality = 0;
  BYTE pitchAndFamily = 0;
  NorvString faceName;

  bool operator==(const NorvLogFont&) const = default;

  // Reads all twelve numbers and the face name from `key` (below the
  // private root, HKEY_CURRENT_USER); FALSE when any number is missing.
  BOOL Load(const NorvString& key);
  BOOL Save(const NorvString& key) const;

  QFont ToQFont() const;
  static NorvLogFont FromQFont(const QFont& font);
};

class NORV_API CNorvDoc {
 public:
  // Reads the settings and creates the fonts; the document becomes the
  // process's document.
  CNorvDoc();
  // Writes the settings, destroys the root, unloads the plugins.
  virtual ~CNorvDoc();
  CNorvDoc(const CNorvDoc&) = delete;
  CNorvDoc& operator=(const CNorvDoc&) = delete;

  // The process's document (null when there is none).
  static CNorvDoc* GetDoc();

  // The root item (null before SetupViews and after a failed one); the
  // document owns it.
  static CNorvTreeListItem* GetRoot() { return m_pRoot; }

  // The windows side (null = none; see NorvDocViews.h). Not owned.
  void SetViews(INorvDocViews* views) { m_pViews = views; }
  INorvDocViews* GetViews() const { return m_pViews; }

  // Initialises the plugins, chooses and creates the root, shows the
  // splash page and starts the tree and bookmarks. FALSE: the host ends.
  BOOL SetupViews(const CNorvCommandLineInfo& info);
  // Makes `view` the content view; returns the previous one.
  CNorvView* SwitchToView(CNorvView* view);
  // TRUE when `command` of `item` may go ahead (asks before deleting).
  BOOL CancelCommand(CNorvTreeListItem* item, UINT command);
  // The main window's title: "<b> - <a>".
  void SetActivePlugin(const NorvString& a, const NorvString& b);
  void ShowTipAtStartup();
  void ShowTipOfTheDay();

  // Fonts. LoadGUIFont: the stored font of `key` ("ViewFont",
  // "DialogFont"), none when its description is incomplete.
  static std::optional<QFont> LoadGUIFont(const NorvString& key);
  static BOOL SaveGUIFont(const NorvString& key, const QFont& font);
  // The system's general font (what the desktop uses for icon titles and
  // ordinary text); none without a GUI.
  static std::optional<QFont> CreateDefaultFont();
  // Makes `font` the view font and creates its bold, bold-italic and
  // italic variants.
  BOOL SetupGUIFont(const QFont& font);
  // The view font for HTML pages: face, "<n>pt", "italic"/"normal", and the
  // weight as a number ("400", "700").
  BOOL GetExplorerFont(NorvString& face, NorvString& size, NorvString& style,
                       NorvString& weight) const;
  // The font commands of the host's menu: font dialog, store the choice,
  // tell the items. TRUE when a new font was chosen.
  BOOL OnViewFont();
  BOOL OnDialogFont();

  const QFont& GetViewFont() const { return m_viewFont; }
  const QFont& GetBoldFont() const { return m_boldFont; }
  const QFont& GetBoldItalicFont() const { return m_boldItalicFont; }
  const QFont& GetItalicFont() const { return m_italicFont; }
  const QFont& GetDialogFont() const { return m_dialogFont; }

  // Settings.
  BOOL GetConfirmOnDelete() const { return m_bConfirmOnDelete; }
  void SetConfirmOnDelete(BOOL value) { m_bConfirmOnDelete = value; }
  BOOL GetRefreshListOnSelect() const { return m_bRefreshListOnSelect; }
  void SetRefreshListOnSelect(BOOL value) { m_bRefreshListOnSelect = value; }
  void SaveSettings() const;

  // The views, registered by the windows side as it creates them (null =
  // none). Not owned. The tree, bookmark and history panes are widgets the
  // core does not look into; the list and HTML views are content views.
  QWidget* GetTreeView() const { return m_pTreeView; }
  void SetTreeView(QWidget* view) { m_pTreeView = view; }
  QWidget* GetBookmarkView() const { return m_pBookmarkView; }
  void SetBookmarkView(QWidget* view) { m_pBookmarkView = view; }
  QWidget* GetHistoryView() const { return m_pHistoryView; }
  void SetHistoryView(QWidget* view) { m_pHistoryView = view; }
  CNorvView* GetListView() const { return m_pListView; }
  void SetListView(CNorvView* view) { m_pListView = view; }
  CNorvView* GetHtmlView() const { return m_pHtmlView; }
  void SetHtmlView(CNorvView* view) { m_pHtmlView = view; }
  // The content view shown in the content pane. SetCurrentView only
  // records it (for a frame that placed the view itself); SwitchToView
  // does the switch.
  CNorvView* GetCurrentView() const { return m_pContentView; }
  void SetCurrentView(CNorvView* view) { m_pContentView = view; }

  // Busy: the document is in the middle of something that must not be cut
  // short (the main frame refuses to close meanwhile). Nestable: every
  // SetBusy(TRUE) is ended by one SetBusy(FALSE).
  BOOL IsBusy() const { return m_nBusy > 0 ? TRUE : FALSE; }
  void SetBusy(BOOL busy);

  // The root chosen by the last SetupViews (class, id) and the start path.
  const NorvString& GetRootClass() const { return m_rootClass; }
  const NorvString& GetRootId() const { return m_rootId; }
  const NorvString& GetStartPath() const { return m_startPath; }

  // The host's delete command, before which the user may be asked.
  static constexpr UINT kDeleteCommand = ID_NORV_CMD_DELETE;

 private:
  void DestroyRoot();
  void LoadSettings();
  BOOL ChooseAndStoreFont(BOOL dialogFont);
  void SendFontChanged(UINT command);

  BOOL m_bConfirmOnDelete = TRUE;
  BOOL m_bRefreshListOnSelect = TRUE;
  QFont m_viewFont;
  QFont m_boldFont;
  QFont m_boldItalicFont;
  QFont m_italicFont;
  QFont m_dialogFont;
  static CNorvTreeListItem* m_pRoot;
  QWidget* m_pTreeView = nullptr;
  QWidget* m_pBookmarkView = nullptr;
  QWidget* m_pHistoryView = nullptr;
  CNorvView* m_pListView = nullptr;
  CNorvView* m_pHtmlView = nullptr;
  CNorvView* m_pContentView = nullptr;
  int m_nBusy = 0;
  INorvDocViews* m_pViews = nullptr;
  NorvString m_rootClass;
  NorvString m_rootId;
  NorvString m_startPath;
  CNorvCommandLineInfo m_commandLine;
};
