// The document's set-up (plugin initialisation, choice of the root,
// splash page), the framework root, the plugins' menu entries, and the
// document's settings and fonts.
#include <QFontDatabase>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvMenu.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvRoot.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "platform/library.h"
#include "pluginhost_test.h"

namespace pluginhost_test {
namespace {

using Names = std::vector<NorvString>;

NorvString Entry(const NorvString& name, const TestPlugin& p) {
  return name + L";" + W(p.library) + L";" + W(p.resources);
}

class DocumentTest : public PluginHostTest {
 protected:
  void TearDown() override {
    doc_.reset();
    PluginHostTest::TearDown();
  }
  CNorvDoc& Doc() {
    if (!doc_) {
      doc_ = std::make_unique<CNorvDoc>();
      doc_->SetViews(&views_);
    }
    return *doc_;
  }
  void Load(const Names& list) { ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, list)); }

  RecordingViews views_;
  std::unique_ptr<CNorvDoc> doc_;
  CNorvCommandLineInfo info_;
};

TEST_F(DocumentTest, OnePluginIsItsOwnRoot) {
  Load({Entry(L"Alpha", Alpha())});
  ASSERT_TRUE(Doc().SetupViews(info_));
  ASSERT_NE(CNorvDoc::GetRoot(), nullptr);
  EXPECT_EQ(CNorvDoc::GetRoot()->GetClassName(), L"CTestAlphaItem");
  EXPECT_EQ(CNorvDoc::GetRoot()->Id(), L"Alpha-root");
  EXPECT_EQ(CPluginHandler::pluginList[0].defaultRootClass, L"CTestAlphaItem");
  EXPECT_EQ(views_.treeRoot, CNorvDoc::GetRoot());
  // The plugin's splash page, then tree and bookmarks; no icon (GetIcon 0).
  EXPECT_EQ(views_.calls, (std::vector<std::string>{"splash", "tree", "bookmarks"}));
  EXPECT_EQ(views_.splashUrl, L"splash://Alpha");
}

TEST_F(DocumentTest, TwoPluginsGetTheFrameworkRootWithChildrenInLoadOrder) {
  Load({Entry(L"Beta", Beta()), Entry(L"Alpha", Alpha())});
  ASSERT_TRUE(Doc().SetupViews(info_));
  auto* root = dynamic_cast<CNorvRoot*>(CNorvDoc::GetRoot());
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->IsStatic());
  EXPECT_EQ(root->Id(), L"");
  // The framework root never shows a splash page; its icon is 128.
  EXPECT_EQ(views_.calls, (std::vector<std::string>{"icon", "tree", "bookmarks"}));

  EXPECT_EQ(root->GetItems(TRUE), GETITEMS_OK);
  EXPECT_TRUE(root->IsListValid());
  ASSERT_EQ(root->GetItemList().GetCount(), 2);
  EXPECT_EQ(root->GetItemList().GetHead()->GetClassName(), L"CTestBetaItem");
  EXPECT_EQ(root->GetItemList().GetTail()->GetClassName(), L"CTestAlphaItem");
  EXPECT_EQ(root->GetItemList().GetHead()->GetParent(), root);
  // Expanded once: a second request creates nothing more.
  root->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  EXPECT_EQ(root->GetItems(FALSE), GETITEMS_OK);
  EXPECT_EQ(root->GetItemList().GetCount(), 2);
}

TEST_F(DocumentTest, FrameworkRootTextsColumnsAndRegistryNames) {
  {
    CNorvRoot root;
    EXPECT_EQ(root.GetName(), L"Test Norv");          // host string 7050
    EXPECT_EQ(root.GetPluginCaption(), L"Test Explorer");  // host string 7035
    treeListViewInfo info;
    treeListViewInfo* p = &info;
    root.GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
    EXPECT_EQ(info.strText, L"Test Norv");
    EXPECT_EQ(info.nImage, 0);
    EXPECT_TRUE(root.GetListViewInfo(p, NORV_TLVI_TEXT, 0));
    EXPECT_FALSE(root.GetListViewInfo(p, NORV_TLVI_TEXT, 1));
    NorvStringList* titles = nullptr;
    NorvUIntArray* widths = nullptr;
    NorvUIntArray* ids = nullptr;
    NorvUIntArray* formats = nullptr;
    root.ListColumns(titles, widths, ids, formats);
    ASSERT_NE(titles, nullptr);
    EXPECT_EQ(*titles, (NorvStringList{L"Test Name", L"Test Description"}));
    EXPECT_EQ(*widths, (NorvUIntArray{200, 200}));
    EXPECT_EQ(*ids, (NorvUIntArray{7026, 7027}));
    EXPECT_EQ(root.GetContextHelpId(), 30003u);
    EXPECT_EQ(root.GetIcon(), 128u);
    root.SetFlags(NORV_ITEM_INVALID, TRUE);
    EXPECT_TRUE(root.Refresh());
    EXPECT_TRUE(root.IsValid());
  }
  CNorvPrivateRegistryKey plugins(plat::HKEY_LOCAL_MACHINE, L"Plugins", plat::KEY_ALL_ACCESS);
  plugins.SetStringValue(L"Name", L"My Objects");
  plugins.SetStringValue(L"Title", L"My Explorer");
  CNorvRoot root;
  EXPECT_EQ(root.GetName(), L"My Objects");
  EXPECT_EQ(root.GetPluginCaption(), L"My Explorer");
}

TEST_F(DocumentTest, FailingInitializeRemovesThePluginAndMovesTheIdsBehindIt) {
  Load({Entry(L"Alpha", Alpha()), L"Bad;" + W(InitFailsLibrary()) + L";" + W(Alpha().resources),
        Entry(L"Beta", Beta())});
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 3);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CTestBetaItem"), 2);
  ASSERT_TRUE(Doc().SetupViews(info_));
  EXPECT_EQ(CountMessages(7063), 1);
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  EXPECT_EQ(CPluginHandler::GetPluginName(1), L"Beta");
  // The class list was rebuilt, and the plugin was told its new id.
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CTestBetaItem"), 1);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CTestInitFailsItem"), -1);
  auto id = reinterpret_cast<int (*)()>(
      plat::GetProcAddress(CPluginHandler::pluginList[1].pluginModule, "TestPluginId"));
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id(), 1);
  // Two plugins are left: the framework root.
  EXPECT_NE(dynamic_cast<CNorvRoot*>(CNorvDoc::GetRoot()), nullptr);
}

// The plugin list changes on this thread while a worker of the removed
// plugin names its plugin in trace lines (run once under ThreadSanitizer).
TEST_F(DocumentTest, PluginRemovedWhileItsWorkerTraces) {
  const int savedLevel = gNorvPluginTraceLevel;
  gNorvPluginTraceLevel = 4;
  for (int round = 0; round < 20; ++round) {
    Load({Entry(L"Alpha", Alpha()), L"Tracer;" + W(TracerLibrary()) + L";" + W(Alpha().resources),
          Entry(L"Beta", Beta())});
    ASSERT_EQ(CPluginHandler::GetPluginCount(), 3);
    ASSERT_TRUE(Doc().SetupViews(info_));
    ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
    EXPECT_EQ(CPluginHandler::GetPluginName(1), L"Beta");
    doc_.reset();  // unloads the plugins
  }
  gNorvPluginTraceLevel = savedLevel;
}

TEST_F(DocumentTest, NoPluginInitializesEndsTheSetUp) {
  Load({L"Bad;" + W(InitFailsLibrary()) + L";" + W(Alpha().resources)});
  EXPECT_FALSE(Doc().SetupViews(info_));
  EXPECT_EQ(CNorvDoc::GetRoot(), nullptr);
  EXPECT_EQ(CountMessages(7063), 1);
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[1], L"No plugins could be initialized. NORV exiting!");
}

TEST_F(DocumentTest, QuietSetUpShowsNoMessages) {
  Load({L"Bad;" + W(InitFailsLibrary()) + L";" + W(Alpha().resources)});
  info_.m_bQuiet = TRUE;
  EXPECT_FALSE(Doc().SetupViews(info_));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DocumentTest, RootChoiceCommandLineThenRegistry) {
  Load({Entry(L"Alpha", Alpha()), Entry(L"Beta", Beta())});
  SetFrameworkValue(L"RootClass", L"CTestBetaItem");
  SetFrameworkValue(L"RootId", L"from-registry");
  SetFrameworkValue(L"RootPath", L"/Start/Here");
  ASSERT_TRUE(Doc().SetupViews(info_));
  EXPECT_EQ(CNorvDoc::GetRoot()->GetClassName(), L"CTestBetaItem");
  EXPECT_EQ(CNorvDoc::GetRoot()->Id(), L"from-registry");
  EXPECT_EQ(views_.navigatedTo, L"/Start/Here");
  EXPECT_EQ(views_.splashUrl, L"splash://Beta");

  // The command line's class beats the registry; its start path too.
  views_ = RecordingViews();
  info_.m_bRootClassGiven = TRUE;
  info_.m_RootClass = L"CTestAlphaItem";
  info_.m_bRootIdGiven = TRUE;
  info_.m_RootId = L"cmd";
  info_.m_bStartPathGiven = TRUE;
  info_.m_StartPath = L"./child";
  info_.m_bNoSplash = TRUE;
  ASSERT_TRUE(Doc().SetupViews(info_));
  EXPECT_EQ(CNorvDoc::GetRoot()->GetClassName(), L"CTestAlphaItem");
  EXPECT_EQ(CNorvDoc::GetRoot()->Id(), L"cmd");
  EXPECT_EQ(views_.navigatedTo, L"./child");
  // -nosplash; the previous root was destroyed first.
  EXPECT_EQ(views_.calls,
            (std::vector<std::string>{"rootgone", "tree", "bookmarks", "navigate"}));
}

TEST_F(DocumentTest, RootThatCannotBeCreatedIsReportedWith7058) {
  Load({Entry(L"Alpha", Alpha())});
  info_.m_bRootClassGiven = TRUE;
  info_.m_RootClass = L"CNoSuchClass";
  info_.m_bRootIdGiven = TRUE;
  info_.m_RootId = L"7";
  EXPECT_FALSE(Doc().SetupViews(info_));
  ASSERT_EQ(CountMessages(7058), 1);
  EXPECT_EQ(Messages()[0], L"E7058 CNoSuchClass://7");
  // An item whose Initialize refuses is not a root either.
  Messages().clear();
  info_.m_RootClass = L"CTestAlphaItem";
  info_.m_RootId = L"refuse";
  EXPECT_FALSE(Doc().SetupViews(info_));
  EXPECT_EQ(CountMessages(7058), 1);
  EXPECT_EQ(CNorvDoc::GetRoot(), nullptr);
}

TEST_F(DocumentTest, HelpAndAboutMenuEntries) {
  Load({L"Alpha;" + W(Alpha().library) + L";" + W(Alpha().resources) + L";alpha.chm",
        Entry(L"Beta", Beta())});
  CNorvMenu menu;
  for (int i = 0; i < 4; ++i) menu.AppendPopup(L"Menu " + std::to_wstring(i));
  CNorvMenu& help = menu.AppendPopup(L"Help");
  help.AppendPopup(L"Plugin help");
  for (int i = 1; i < 4; ++i) help.AppendItem(100 + i, L"Entry");
  help.AppendPopup(L"About");
  CPluginHandler::AppendPluginHelpMenus(&menu);
  const CNorvMenu* pluginHelp = menu.GetSubMenu(4)->GetSubMenu(0);
  // Only the plugin with a help file gets an entry; its caption comes from
  // its own resources.
  ASSERT_EQ(pluginHelp->GetItemCount(), 1);
  EXPECT_EQ(pluginHelp->GetItemId(0), 39900u);
  EXPECT_EQ(pluginHelp->GetItemText(0), L"Alpha caption");
  EXPECT_EQ(CPluginHandler::pluginList[1].helpMenuCommand, 39901u);
  EXPECT_EQ(CPluginHandler::GetPluginHelpFile(39900), L"alpha.chm");
  EXPECT_EQ(CPluginHandler::GetPluginHelpFile(39901), L"");

  CNorvTreeListItem* item = CNorvTreeListItem::CreateObject(nullptr, L"CTestBetaItem", L"b");
  ASSERT_NE(item, nullptr);
  CPluginHandler::AppendPluginAboutMenus(&menu, item);
  const CNorvMenu* about = menu.GetSubMenu(4)->GetSubMenu(4);
  ASSERT_EQ(about->GetItemCount(), 2);
  EXPECT_TRUE(about->IsSeparator(0));
  EXPECT_EQ(about->GetItemId(1), 40007u);
  EXPECT_EQ(about->GetItemText(1), L"Beta caption");
  delete item;
  // Not for the framework root.
  CNorvRoot root;
  CPluginHandler::AppendPluginAboutMenus(&menu, &root);
  EXPECT_EQ(about->GetItemCount(), 2);
  // A menu without the expected popups is left alone.
  CNorvMenu flat;
  CPluginHandler::AppendPluginHelpMenus(&flat);
  EXPECT_EQ(flat.GetItemCount(), 0);
}

TEST_F(DocumentTest, SettingsAreReadAndWrittenBack) {
  {
    CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_ALL_ACCESS);
    settings.SetUIntValue(L"ConfirmOnDelete", 0);
  }
  {
    CNorvDoc doc;
    EXPECT_FALSE(doc.GetConfirmOnDelete());
    EXPECT_TRUE(doc.GetRefreshListOnSelect());
    // Without confirmation, delete goes ahead without asking.
    RecordingViews views;
    doc.SetViews(&views);
    EXPECT_TRUE(doc.CancelCommand(nullptr, 35009));
    doc.SetConfirmOnDelete(TRUE);
    doc.SetRefreshListOnSelect(FALSE);
    views.confirm = FALSE;
    EXPECT_FALSE(doc.CancelCommand(nullptr, 35009));
    EXPECT_TRUE(doc.CancelCommand(nullptr, 35026));
    EXPECT_EQ(views.calls, std::vector<std::string>{"confirm"});
    doc.SetActivePlugin(L"Alpha", L"Objects");
    EXPECT_EQ(views.title, L"Objects - Alpha");
  }
  CNorvPrivateRegistryKey settings(plat::HKEY_CURRENT_USER, L"Settings", plat::KEY_READ);
  UINT value = 7;
  EXPECT_TRUE(settings.GetUIntValue(L"ConfirmOnDelete", value));
  EXPECT_EQ(value, 1u);
  EXPECT_TRUE(settings.GetUIntValue(L"RefreshListOnSelect", value));
  EXPECT_EQ(value, 0u);
}

void StoreFont(const NorvString& key, bool withoutWeight) {
  CNorvPrivateRegistryKey k(plat::HKEY_CURRENT_USER, key, plat::KEY_ALL_ACCESS);
  const std::pair<const wchar_t*, UINT> values[] = {
      {L"Height", static_cast<UINT>(-17)}, {L"Width", 0},       {L"Escapement", 0},
      {L"Orientation", 0},                 {L"Weight", 700},    {L"Italic", 1},
      {L"Underline", 0},                   {L"StrikeOut", 0},   {L"CharSet", 1},
      {L"OutPrecision", 0},                {L"Quality", 0},     {L"PitchAndFamily", 0x22}};
  for (const auto& [name, v] : values) {
    if (withoutWeight && NorvString(name) == L"Weight") continue;
    k.SetUIntValue(name, v);
  }
  k.SetStringValue(L"FaceName", L"DejaVu Serif");
}

TEST_F(DocumentTest, StoredFontIsUsedOnlyWhenComplete) {
  StoreFont(L"ViewFont", false);
  StoreFont(L"DialogFont", true);
  CNorvDoc doc;
  EXPECT_EQ(doc.GetViewFont().family(), QString("DejaVu Serif"));
  EXPECT_EQ(doc.GetViewFont().pixelSize(), 17);
  EXPECT_EQ(doc.GetViewFont().weight(), QFont::Bold);
  EXPECT_TRUE(doc.GetViewFont().italic());
  EXPECT_TRUE(doc.GetItalicFont().italic());
  EXPECT_TRUE(doc.GetBoldFont().bold());
  EXPECT_TRUE(doc.GetBoldItalicFont().bold() && doc.GetBoldItalicFont().italic());
  // One value missing: the system's general font.
  EXPECT_EQ(doc.GetDialogFont(), QFontDatabase::systemFont(QFontDatabase::GeneralFont));

  NorvString face, size, style, weight;
  EXPECT_TRUE(doc.GetExplorerFont(face, size, style, weight));
  EXPECT_EQ(face, L"DejaVu Serif");
  EXPECT_EQ(size, L"13pt");  // 17 px at 96 dpi
  EXPECT_EQ(style, L"italic");
  EXPECT_EQ(weight, L"700");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DocumentTest, FontDescriptionRoundTrip) {
  NorvLogFont stored;
  stored.height = -15;
  stored.weight = 600;
  stored.underline = 1;
  stored.strikeOut = 1;
  stored.quality = 3;
  stored.pitchAndFamily = 0x31;  // fixed pitch, modern
  stored.faceName = L"DejaVu Sans Mono";
  ASSERT_TRUE(stored.Save(L"ViewFont"));
  std::optional<QFont> font = CNorvDoc::LoadGUIFont(L"ViewFont");
  ASSERT_TRUE(font.has_value());
  EXPECT_TRUE(font->fixedPitch());
  EXPECT_EQ(font->styleStrategy() & QFont::NoAntialias, QFont::NoAntialias);
  ASSERT_TRUE(CNorvDoc::SaveGUIFont(L"DialogFont", *font));
  NorvLogFont back;
  ASSERT_TRUE(back.Load(L"DialogFont"));
  EXPECT_EQ(back, stored);
  EXPECT_FALSE(NorvLogFont().Load(L"NoSuchFont"));
}

TEST_F(DocumentTest, FontCommandStoresTheChoice) {
  RecordingViews& views = views_;
  CNorvDoc& doc = Doc();
  EXPECT_FALSE(doc.OnViewFont());  // cancelled
  views.chooseFont = TRUE;
  views.chosen = QFont("DejaVu Sans");
  views.chosen.setPixelSize(20);
  EXPECT_TRUE(doc.OnViewFont());
  EXPECT_EQ(doc.GetViewFont().pixelSize(), 20);
  EXPECT_TRUE(doc.GetBoldFont().bold());
  std::optional<QFont> stored = CNorvDoc::LoadGUIFont(L"ViewFont");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->pixelSize(), 20);
  EXPECT_EQ(stored->family(), QString("DejaVu Sans"));
}

TEST_F(DocumentTest, SwitchingContentViews) {
  CNorvDoc& doc = Doc();
  auto* list = reinterpret_cast<CNorvView*>(0x1000);
  auto* html = reinterpret_cast<CNorvView*>(0x2000);
  views_.created = html;  // the HTML view has no window yet
  EXPECT_EQ(doc.SwitchToView(list), nullptr);
  EXPECT_EQ(doc.SwitchToView(html), list);
  EXPECT_EQ(views_.lastPrevious, list);
  EXPECT_EQ(doc.GetCurrentView(), html);
  EXPECT_EQ(doc.SwitchToView(html), html);  // already shown: nothing to do
  EXPECT_EQ(views_.calls, (std::vector<std::string>{"activate", "activate+create"}));
}

}  // namespace
}  // namespace pluginhost_test
