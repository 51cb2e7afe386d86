// The main frame's tools offscreen: the options dialog's stored values, the
// tip of the day ("StartUp" and the plugins' tips), the Windows version
// table, saving an item's icon as a bitmap, printing to PDF and help pages.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTextBrowser>
#include <QStandardItemModel>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <string>

#include "FrameTools.h"
#include "HelpWindow.h"
#include "MainFrm.h"
#include "NorvHtmlSchemes.h"
#include "SplashWnd.h"
#include "OptionsDlg.h"
#include "TipDlg.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvRoot.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"

// An object with a fixed tree text and image, from a plugin whose images
// start at 3.
class CIconItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CIconItem)
 public:
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = L"Disk C/D";
    if (mask & NORV_TLVI_IMAGE) info->nImage = 2;
  }
  int GetImageListOffset() override { return 3; }
};
NORV_IMPLEMENT_SERIAL(CIconItem, CNorvTreeListItem, 1)

namespace {

std::string gScratch;

QString Scratch(const char* name) { return QString::fromStdString(gScratch + "/" + name); }


UINT ReadOption(const wchar_t* key, const wchar_t* name) {
  CNorvPrivateRegistryKey options(plat::HKEY_CURRENT_USER, key);
  UINT value = 12345;
  options.GetUIntValue(name, value);
  return value;
}

// ----- options dialog ---------------------------------------------------------

TEST(OptionsDialog, ShowsAndStoresTheOptionsOnOkOnly) {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  doc->SetConfirmOnDelete(TRUE);
  {
    // First start: no stored options; expanding on select is on.
    OptionsDlg dialog;
    EXPECT_TRUE(dialog.ExpandOnSelectBox()->isChecked());
    EXPECT_TRUE(dialog.ConfirmOnDeleteBox()->isChecked());
    EXPECT_FALSE(dialog.HelpInBrowserBox()->isChecked());
    dialog.ExpandOnSelectBox()->setChecked(false);
    dialog.ConfirmOnDeleteBox()->setChecked(false);
    dialog.HelpInBrowserBox()->setChecked(true);
    dialog.accept();
  }
  EXPECT_EQ(ReadOption(L"Options", L"ExpandOnSelect"), 0u);
  EXPECT_EQ(ReadOption(L"Options", L"HelpInBrowser"), 1u);
  EXPECT_EQ(ReadOption(L"Settings", L"ConfirmOnDelete"), 0u);
  EXPECT_FALSE(doc->GetConfirmOnDelete());
  // The tree reads the stored value.
  EXPECT_FALSE(TreeView::GetExpandOnSelect());
  {
    // The next dialog starts from what was stored; Cancel keeps it.
    OptionsDlg dialog;
    EXPECT_FALSE(dialog.ExpandOnSelectBox()->isChecked());
    EXPECT_FALSE(dialog.ConfirmOnDeleteBox()->isChecked());
    EXPECT_TRUE(dialog.HelpInBrowserBox()->isChecked());
    dialog.ExpandOnSelectBox()->setChecked(true);
    dialog.ConfirmOnDeleteBox()->setChecked(true);
    dialog.reject();
  }
  EXPECT_EQ(ReadOption(L"Options", L"ExpandOnSelect"), 0u);
  EXPECT_FALSE(doc->GetConfirmOnDelete());
  {
    OptionsDlg dialog;
    dialog.ExpandOnSelectBox()->setChecked(true);
    dialog.ConfirmOnDeleteBox()->setChecked(true);
    dialog.HelpInBrowserBox()->setChecked(false);
    dialog.accept();
  }
  EXPECT_EQ(ReadOption(L"Options", L"ExpandOnSelect"), 1u);
  EXPECT_EQ(ReadOption(L"Options", L"HelpInBrowser"), 0u);
  EXPECT_EQ(ReadOption(L"Settings", L"ConfirmOnDelete"), 1u);
  EXPECT_TRUE(doc->GetConfirmOnDelete());
  EXPECT_TRUE(TreeView::GetExpandOnSelect());
}

// ----- tip of the day -----------------------------------------------------------

int ProfileStartUp() {
  const QByteArray path = NorvHostProfilePath().toLocal8Bit();
  return static_cast<int>(plat::GetPrivateProfileIntA("Tip", "StartUp", -7, path.constData()));
}

TEST(TipDialog, StartUpIsReadAndWrittenOnCloseOnly) {
  QFile::remove(NorvHostProfilePath());
  EXPECT_TRUE(CTipDlg::ShowAtStartup());
  {
    CTipDlg dialog;
    EXPECT_TRUE(dialog.ShowAtStartupBox()->isChecked());
    dialog.ShowAtStartupBox()->setChecked(false);
    dialog.reject();  // Escape: nothing written
  }
  EXPECT_EQ(ProfileStartUp(), -7);
  {
    CTipDlg dialog;
    dialog.ShowAtStartupBox()->setChecked(false);
    dialog.accept();
  }
  EXPECT_EQ(ProfileStartUp(), 1);
  EXPECT_FALSE(CTipDlg::ShowAtStartup());
  {
    CTipDlg dialog;
    EXPECT_FALSE(dialog.ShowAtStartupBox()->isChecked());
    dialog.ShowAtStartupBox()->setChecked(true);
    dialog.accept();
  }
  EXPECT_EQ(ProfileStartUp(), 0);
  EXPECT_TRUE(CTipDlg::ShowAtStartup());
}

void CaptionA(wchar_t* caption, unsigned chars) { wcsncpy(caption, L"Alpha", chars); }
void CaptionB(wchar_t* caption, unsigned chars) { wcsncpy(caption, L"Beta", chars); }
UINT gTipStart = 0;
UINT TipStart() { return gTipStart; }

// Two plugins under the framework's root take turns; each one's tips run
// from its start index to the last string and start over.
TEST(TipDialog, PluginsTakeTurnsAndTheirTipsWrapAround) {
  // Two host strings in a row with none behind them.
  for (UINT id = 7000; id < 7200 && gTipStart == 0; ++id) {
    if (plat::HasString(id) && plat::HasString(id + 1) && !plat::HasString(id + 2)) gTipStart = id;
  }
  ASSERT_NE(gTipStart, 0u) << "no two host strings in a row";
  const NorvString first = plat::LoadString(gTipStart);
  const NorvString second = plat::LoadString(gTipStart + 1);

  const auto saved = CPluginHandler::pluginList;
  CPluginHandler::pluginList.clear();
  NorvPluginRecord a;
  a.name = L"TipA";
  a.entry.GetPluginCaption = CaptionA;
  a.entry.GetTipOfTheDayStartIndex = TipStart;
  NorvPluginRecord b;
  b.name = L"TipB";
  b.entry.GetPluginCaption = CaptionB;  // no tips of its own
  CPluginHandler::pluginList = {a, b};
  CNorvRoot root;
  CTipDlg::PluginTurn() = 0;

  EXPECT_EQ(CTipDlg::NextTipText(&root), L"Alpha:\n\n" + first);
  const NorvString explorerTip = CTipDlg::NextTipText(&root);
  EXPECT_EQ(explorerTip.rfind(L"Beta:\n\n", 0), 0u);
  EXPECT_GT(explorerTip.size(), 10u);
  EXPECT_EQ(CTipDlg::NextTipText(&root), L"Alpha:\n\n" + second);
  EXPECT_NE(CTipDlg::NextTipText(&root), explorerTip);  // Beta's next one
  EXPECT_EQ(CTipDlg::NextTipText(&root), L"Alpha:\n\n" + first);  // wrapped
  EXPECT_EQ(ReadOption(L"Tip", L"TipA"), 1u);

  // No plugin: no tip.
  CPluginHandler::pluginList = {};
  EXPECT_EQ(CTipDlg::NextTipText(&root), L"");
  CPluginHandler::pluginList = saved;
}

// ----- Windows version ------------------------------------------------------------

TEST(WinVer, TableGivesTheCodeOfEachVersion) {
  constexpr DWORD k9x = plat::VER_PLATFORM_WIN32_WINDOWS;
  constexpr DWORD kNT = plat::VER_PLATFORM_WIN32_NT;
  struct Row {
    DWORD platform, major, minor, build;
    UINT code;
  };
  const Row rows[] = {
      {k9x, 4, 0, 949, 0},     {k9x, 4, 0, 950, 1},    {k9x, 4, 0, 951, 2},
      {k9x, 4, 3, 1080, 2},    {k9x, 4, 0, 1081, 3},   {k9x, 4, 9, 0x04001111, 3},
      {k9x, 4, 10, 1997, 0},   {k9x, 4, 10, 1998, 4},  {k9x, 4, 10, 0x040A07CE, 4},
      {k9x, 4, 10, 1999, 5},   {k9x, 4, 10, 2182, 5},  {k9x, 4, 10, 2183, 6},
      {k9x, 4, 90, 3000, 7},   {k9x, 4, 11, 2000, 0},  {k9x, 5, 0, 950, 0},
      {kNT, 3, 51, 1057, 101}, {kNT, 3, 50, 807, 0},   {kNT, 4, 0, 1381, 102},
      {kNT, 5, 0, 2195, 103},  {kNT, 5, 1, 2600, 104}, {kNT, 5, 2, 3790, 0},
      {kNT, 6, 1, 55, 0},      {plat::VER_PLATFORM_WIN32s, 3, 51, 0, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(NorvWinVerCode(row.platform, row.major, row.minor, row.build), row.code)
        << row.platform << " " << row.major << "." << row.minor << " build " << row.build;
  }
  // The running system: what the table gives for the version the platform
  // reports, the same on every call.
  plat::OSVersionInfo info;
  ASSERT_TRUE(plat::GetVersionEx(&info));
  const UINT expected =
      NorvWinVerCode(info.platformId, info.majorVersion, info.minorVersion, info.buildNumber);
  EXPECT_EQ(GetWinVer(), expected);
  EXPECT_EQ(GetWinVer(), expected);
  EXPECT_EQ(FormatString(L"%s=%d %S", L"x", 42, "y"), L"x=42 y");
  EXPECT_EQ(FormatString(static_cast<UINT>(IDS_NORV_IMAGE_COUNTS_DIFFER), 3, 4),
            NorvFormatString(static_cast<UINT>(IDS_NORV_IMAGE_COUNTS_DIFFER), 3, 4));
}

// ----- saving an icon -------------------------------------------------------------

QImage Solid(QColor colour) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(colour);
  return image;
}

quint32 U32At(const QByteArray& data, int offset) {
  quint32 value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<quint8>(data[offset + i]);
  return value;
}

TEST(SaveIcon, WritesTheItemsLargeImageAsAReadableBitmap) {
  CIconItem item;
  // Image 2 of a plugin starting at 3: index 5. Half of it is transparent,
  // where the window colour shows.
  QList<QImage> large;
  for (int i = 0; i < 8; ++i) large.append(Solid(QColor::fromHsv(i * 40, 255, 200)));
  QImage half = Solid(Qt::transparent);
  {
    QPainter painter(&half);
    painter.fillRect(0, 0, 32, 16, QColor(10, 200, 30));
  }
  large[5] = half;
  const QIcon icon = NorvGetItemLargeIcon(&item, large);
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(NorvProposedIconFileName(&item), L"CIconItem - Disk C_D.bmp");

  const QString path = Scratch("icon.bmp");
  ASSERT_TRUE(NorvWriteBitmapFile(NorvRenderIconBitmap(icon), path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray data = file.readAll();
  ASSERT_GE(data.size(), 54);
  EXPECT_EQ(data.left(2), QByteArray("BM"));
  EXPECT_EQ(U32At(data, 2), static_cast<quint32>(data.size()));
  EXPECT_EQ(U32At(data, 10), 54u);  // pixels right after the two headers
  EXPECT_EQ(U32At(data, 14), 40u);
  EXPECT_EQ(static_cast<quint8>(data[28]), 24);

  QImage read;
  ASSERT_TRUE(read.load(path, "BMP"));
  const int size = QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
  ASSERT_EQ(read.size(), QSize(size, size));
  EXPECT_EQ(read.pixelColor(size / 2, 2), QColor(10, 200, 30));  // top half: the icon
  EXPECT_EQ(read.pixelColor(size / 2, size - 2),
            QGuiApplication::palette().color(QPalette::Base));  // bottom: the window colour

  // Without an image: nothing to save; a folder that does not exist: FALSE.
  EXPECT_TRUE(NorvGetItemLargeIcon(&item, large.mid(0, 5)).isNull());
  EXPECT_FALSE(SaveIcon(QIcon(), L"x.bmp"));
  EXPECT_FALSE(NorvWriteBitmapFile(read, Scratch("missing/icon.bmp")));
  EXPECT_FALSE(QFile::exists(Scratch("missing/icon.bmp")));
}

// ----- printing ------------------------------------------------------------------

int PdfPages(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QString text = QString::fromLatin1(file.readAll());
  if (!text.startsWith(QStringLiteral("%PDF-"))) return -1;
  return static_cast<int>(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))));
}

TEST(Print, ContentViewToPdf) {
  QStandardItemModel model(300, 3);
  model.setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"),
                                   QStringLiteral("Hidden")});
  for (int row = 0; row < 300; ++row) {
    model.setItem(row, 0, new QStandardItem(QStringLiteral("row %1").arg(row)));
    model.setItem(row, 1, new QStandardItem(QString::number(row * 1024)));
    model.setItem(row, 2, new QStandardItem(QStringLiteral("secret")));
  }
  QTreeView list;
  list.setModel(&model);
  list.header()->setSectionHidden(2, true);
  list.resize(400, 300);
  list.show();
  EXPECT_TRUE(NorvCanPrint(&list));

  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(Scratch("list.pdf"));
  ASSERT_TRUE(NorvPrintWidget(&list, printer, QStringLiteral("Files")));
  // Every row, not only the ones on the screen: several pages.
  EXPECT_GE(PdfPages(Scratch("list.pdf")), 3);

  // Any other view: its picture on one page.
  QLabel label(QStringLiteral("overview"));
  label.resize(200, 100);
  label.show();
  QPrinter picture(QPrinter::HighResolution);
  picture.setOutputFormat(QPrinter::PdfFormat);
  picture.setOutputFileName(Scratch("label.pdf"));
  ASSERT_TRUE(NorvPrintWidget(&label, picture));
  EXPECT_EQ(PdfPages(Scratch("label.pdf")), 1);

  label.hide();
  EXPECT_FALSE(NorvCanPrint(&label));
  EXPECT_FALSE(NorvCanPrint(nullptr));
}

// ----- help ------------------------------------------------------------------------

TEST(Help, PageOfEachHelpCommand) {
  const QString dir = Scratch("help");
  QDir().mkpath(dir);
  for (const char* name : {"plugin.html", "topic.html", "classic.html"}) {
    QFile file(dir + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html><body><a name=\"30003\">x</a></body></html>");
  }
  auto url = [](DWORD data, UINT command, const QString& file) {
    return NorvHelpUrl(data, command, file.toStdWString());
  };
  const QUrl plugin = QUrl::fromLocalFile(dir + "/plugin.html");
  EXPECT_EQ(url(0, 0, dir + "/plugin.html"), plugin);
  QUrl context = plugin;
  context.setFragment(QStringLiteral("30003"));
  EXPECT_EQ(url(30003, NORV_HELP_CONTEXT, dir + "/plugin.html"), context);
  // "::" and a topic: the topic for command 0, cut for any other command.
  EXPECT_EQ(url(0, 0, dir + "/plugin.html::/topic.html"),
            QUrl::fromLocalFile(dir + "/topic.html"));
  EXPECT_EQ(url(0, 1, dir + "/plugin.html::/topic.html"), plugin);
  // A Windows help file, in any letter case: finder and context help only,
  // through the HTML page beside it.
  EXPECT_EQ(url(0, 0, dir + "/classic.HLP"), QUrl::fromLocalFile(dir + "/classic.html"));
  EXPECT_TRUE(url(0, 2, dir + "/classic.hlp").isEmpty());
  EXPECT_TRUE(url(0, 0, dir + "/nothing.hlp").isEmpty());
  EXPECT_TRUE(url(0, 0, dir + "/missing.html").isEmpty());
  // No file: the host's; none at all: nothing.
  EXPECT_TRUE(url(0, 0, QString()).isEmpty());
  EXPECT_EQ(NorvHelpUrl(0, 0, L"", (dir + "/plugin.html").toStdWString()), plugin);

  CHelpWindow* window = CHelpWindow::Open(context);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->Browser()->source().adjusted(QUrl::RemoveFragment), plugin);
  window->close();
}


// ----- the frame's hooks ------------------------------------------------------------

QList<CTipDlg*> VisibleTips(QWidget* frame) {
  QList<CTipDlg*> shown;
  for (CTipDlg* tip : frame->findChildren<CTipDlg*>())
    if (tip->isVisible()) shown.append(tip);
  return shown;
}

void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(Frame, RoutesTheToolsAndShowsTheTipAfterTheSplashPage) {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  auto frame = std::make_unique<CMainFrame>(doc);
  frame->show();
  auto* content = dynamic_cast<QWidget*>(doc->GetCurrentView());
  ASSERT_NE(content, nullptr);

  // Printing follows the content view.
  BOOL enabled = FALSE, checked = TRUE;
  frame->OnUpdateCommand(ID_NORV_CMD_PRINT, enabled, checked);
  EXPECT_TRUE(enabled);
  EXPECT_FALSE(checked);
  content->hide();
  frame->OnUpdateCommand(ID_NORV_CMD_PRINT, enabled, checked);
  EXPECT_FALSE(enabled);
  content->show();

  // The options command opens the dialog; its OK stores.
  {
    CNorvPrivateRegistryKey options(plat::HKEY_CURRENT_USER, L"Options", plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(options.SetUIntValue(L"ExpandOnSelect", 1));
  }
  bool sawDialog = false;
  QTimer::singleShot(0, [&] {
    if (auto* dialog = qobject_cast<OptionsDlg*>(QApplication::activeModalWidget())) {
      sawDialog = true;
      dialog->ExpandOnSelectBox()->setChecked(false);
      dialog->accept();
    }
  });
  EXPECT_TRUE(frame->OnCommand(ID_NORV_CMD_OPTIONS));
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(ReadOption(L"Options", L"ExpandOnSelect"), 0u);

  // The splash page: one at a time, gone on a key; the tip of the day waits
  // for it and comes once.
  ASSERT_TRUE(NorvWriteProfileInt("Tip", "StartUp", 0));
  QFile page(Scratch("splash.html"));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.write("<html><body><h1>Starting</h1></body></html>");
  page.close();
  frame->ShowSplash(Scratch("splash.html").toStdWString(), L"300x200");
  CSplashWnd* splash = CSplashWnd::Current();
  ASSERT_NE(splash, nullptr);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_EQ(splash->size(), QSize(300, 200));
  EXPECT_FALSE(CSplashWnd::ShowSplashScreen(L"/other.html", L"", frame.get()));
  doc->ShowTipAtStartup();  // as the host does right after set-up
  EXPECT_TRUE(VisibleTips(frame.get()).isEmpty());
  QTest::keyClick(frame.get(), Qt::Key_Escape);
  Spin(50);
  EXPECT_EQ(CSplashWnd::Current(), nullptr);
  ASSERT_EQ(VisibleTips(frame.get()).size(), 1);
  doc->ShowTipAtStartup();
  EXPECT_EQ(VisibleTips(frame.get()).size(), 1);
  doc->ShowTipOfTheDay();  // the menu's command: always
  EXPECT_EQ(VisibleTips(frame.get()).size(), 2);
  // Closing the window closes the tips too: the application ends with it.
  EXPECT_TRUE(frame->close());
  Spin(20);
  EXPECT_TRUE(VisibleTips(frame.get()).isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/norv-frametools-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  gScratch = pattern;
  std::filesystem::create_directories(gScratch + "/registry");
  setenv("NORV_REGISTRY_DIR", (gScratch + "/registry").c_str(), 1);
  setenv("NORV_PROFILE", (gScratch + "/host.ini").c_str(), 1);
  // The main frame's HTML panes start the browser engine, which runs as
  // root only without its sandbox.
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  NorvRegisterHtmlSchemes();
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = 0;
  {
    CNorvDoc doc;
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(gScratch, ignored);
  return rc;
}
