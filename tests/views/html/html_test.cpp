// The HTML views offscreen, with real pages loaded by the web engine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "NorvHtmlDialog.h"
#include "NorvHtmlExternal.h"
#include "NorvHtmlHost.h"
#include "NorvHtmlView.h"
#include "NorvHtmlWnd.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHtmlDocument.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "platform/resources.h"

// Readable failures.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

const QString kPages = QStringLiteral(HTML_TEST_PAGES);

NorvString PageUrl(const char* name) {
  return QUrl::fromLocalFile(kPages + QLatin1Char('/') + QLatin1String(name))
      .toString()
      .toStdWString();
}

// An item with a page; it records what the view asks of it.
class CPageItem : public CNorvTreeListItem {
 public:
  htmlViewInfo info;
  int getItems = 0;
  BOOL cancelNavigation = TRUE;
  std::vector<NorvString> navigations;
  std::vector<UINT> commands;
  NorvString seenInCommand;  // what the item read from the document

  void GetHtmlViewInfo(htmlViewInfo*& p, DWORD flags) override {
    if (flags == 2) *p = info;
  }
  GetItemsResult GetItems(BOOL) override {
    ++getItems;
    return GETITEMS_OK;
  }
  BOOL OnHTMLNavigate(const NorvString& url, const NorvString&, const NorvString&,
                      const std::vector<BYTE>&) override {
    navigations.push_back(url);
    return cancelNavigation;
  }
  UINT GetContextHelpId() override { return 77; }
  const wchar_t* GetHelpFile() override { return L"item-help.html"; }
  // Called by the test host's TreeItemCommand.
  CmdResult Handle(UINT command, DWORD param, void* pParam) {
    commands.push_back(command);
    if (command == ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL && param == static_cast<DWORD>(-2)) {
      auto* doc = static_cast<INorvHtmlDocument*>(pParam);
      NorvString inner, title;
      if (!doc->GetElement(L"byid", L"", inner)) inner = L"(failed)";
      doc->GetElement(L"byname2", L"title", title);
      seenInCommand = inner + L"|" + title;
      doc->SetElement(L"status", L"", L"done");
      doc->SetElement(L"status", L"data-by", L"item");
    }
    return CMD_HANDLED;
  }
};

// The explorer window as the page methods see it: it records every call.
class CTestHost : public INorvHtmlHost {
 public:
  CPageItem* selected = nullptr;
  CPageItem* listSelected = nullptr;
  BOOL listShown = FALSE;
  BOOL listTarget = FALSE;
  BOOL explorerBar = TRUE;
  std::vector<QString> log;

  CNorvTreeListItem* GetSelectedTreeItem() override { return selected; }
  CmdResult TreeItemCommand(UINT command, DWORD param, void* pParam) override {
    log.push_back(QStringLiteral("tree %1 %2%3").arg(command).arg(static_cast<int>(param))
                      .arg(Variant(param, pParam)));
    if (selected != nullptr) selected->Handle(command, param, pParam);
    return static_cast<CmdResult>(command - 40000);
  }
  void PostTreeCommand(UINT command) override { log.push_back(QStringLiteral("posttree %1").arg(command)); }
  BOOL IsListViewShown() override { return listShown; }
  BOOL ListHasCommandTarget() override { return listTarget; }
  CmdResult ListItemCommand(UINT command, DWORD param, void* pParam) override {
    log.push_back(QStringLiteral("list %1 %2%3").arg(command).arg(static_cast<int>(param))
                      .arg(Variant(param, pParam)));
    return static_cast<CmdResult>(command - 30000);
  }
  CNorvTreeListItem* GetFirstSelectedListItem() override { return listSelected; }
  int GetListHeaderHeight() override { return 23; }
  void PostMainCommand(UINT command) override { log.push_back(QStringLiteral("main %1").arg(command)); }
  BOOL IsExplorerBarVisible() override { return explorerBar; }
  BOOL ShowHelp(DWORD data, UINT command, const NorvString& file) override {
    log.push_back(QStringLiteral("help %1 %2 %3").arg(data).arg(command).arg(QString::fromStdWString(file)));
    return TRUE;
  }
  void PostNavigation(const NorvString& path) override {
    log.push_back(QStringLiteral("navigate ") + QString::fromStdWString(path));
    INorvHtmlHost::PostNavigation(path);
  }

 private:
  static QString Variant(DWORD param, void* pParam) {
    if (param != static_cast<DWORD>(-1) || pParam == nullptr) return {};
    QJsonValue v = QJsonValue::fromVariant(*static_cast<QVariant*>(pParam));
    return QStringLiteral(" ") +
           QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
  }
};

bool WaitLoaded(QSignalSpy& spy, int count = 1) {
  return QTest::qWaitFor([&] { return spy.count() >= count; }, 20000);
}

QVariant Eval(CNorvHtmlPage* page, const QString& script) {
  QVariant v;
  EXPECT_TRUE(page->RunScriptSync(script, &v)) << script.toStdString();
  return v;
}

class HtmlViews : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvSetHtmlHost(&host);
    host.selected = &item;
  }
  void TearDown() override { NorvSetHtmlHost(nullptr); }

  CTestHost host;
  CPageItem item;
};

TEST_F(HtmlViews, EveryViewMethodReachesItsTargetAndAnswersSynchronously) {
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Button, QColor(0x10, 0x20, 0x30));
  palette.setColor(QPalette::ButtonText, QColor(0xAB, 0xCD, 0xEF));
  QApplication::setPalette(palette);

  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  item.info.url = PageUrl("calls.html");
  ASSERT_TRUE(view.ShowContents(&item));
  EXPECT_EQ(item.getItems, 1);
  ASSERT_TRUE(WaitLoaded(loaded));

  QJsonArray results = QJsonDocument::fromJson(
      Eval(view.Page(), QStringLiteral("JSON.stringify(results)")).toString().toUtf8()).array();
  QStringList got;
  for (const QJsonValue& r : results)
    got << r[0].toString() + QLatin1Char('=') + r[1].toVariant().toString();
  const QString none = QStringLiteral("undefined");
  QStringList want = {
      "ItemCommand=100", "ItemCommandEx1=101", "ItemCommandEx2=0", "ItemCommandParam=103",
      "ItemCommandParamEx0=104", "ItemCommandParamEx5=0", "ShowHelp-1=" + none,
      "ShowHelp12=" + none, "ShowSmallIconView=" + none, "ShowLargeIconView=" + none,
      "ShowListView=" + none, "ShowDetailsView=" + none, "ShowGraphicalView=" + none,
      "ToggleExplorerBar=" + none, "ShowExplorerBar1=" + none, "ShowExplorerBar0=" + none,
      "Refresh=" + none, "FolderUp=" + none, "New=" + none, "Delete=" + none, "Copy=" + none,
      "Paste=" + none, "Cut=" + none, "Properties=" + none, "SetRefreshRate=" + none,
      "NavigateTo=" + none, "GetHeaderProperty0=23",
      QStringLiteral("GetHeaderProperty1=%1").arg(0x102030),
      QStringLiteral("GetHeaderProperty6=%1").arg(0xABCDEF), "GetHeaderProperty7=-1",
      "FontFamily=DejaVu Sans", "FontSize=10pt", "FontStyle=italic", "FontWeight=700",
      "Font=italic 700 10pt 'DejaVu Sans'"};
  EXPECT_EQ(got, want);

  // In the page's order, each where it belongs, with its arguments.
  std::vector<QString> calls(host.log.begin(), host.log.end());
  std::vector<QString> expected = {
      "tree 40100 0", "tree 40101 0", "tree 40103 -1 [{\"a\":1,\"b\":[\"c\"]}]",
      "tree 40104 -1 [\"text\"]", "help 77 15 item-help.html", "help 12 15 item-help.html",
      "main 35029", "main 35028", "main 35030", "main 35031", "main 35032", "main 35131",
      "main 35131",  // ShowExplorerBar(0) while shown; ShowExplorerBar(1) posted nothing
      "main 35000", "main 35016", "posttree 35024", "posttree 35009", "posttree 35027",
      "posttree 35025", "posttree 35026", "posttree 35010", "posttree 35001",
      QStringLiteral("navigate /System/Prozesse \u00e4"),
      // The page loaded is the one navigated to: the item is told, last.
      "tree 40017 -2"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(CNorvTreeListItem::TakeNavigationTarget(), L"/System/Prozesse \u00e4");
}

TEST_F(HtmlViews, WrongCallsAreScriptErrorsAndReachNothing) {
  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  ASSERT_TRUE(view.Navigate(PageUrl("target.html")));
  ASSERT_TRUE(WaitLoaded(loaded));
  host.log.clear();
  // In the page: each throws a TypeError, and the page goes on.
  QString script = QStringLiteral(R"JS(
    (function () {
      var x = window.external, out = [];
      var calls = [
        function () { return x.ItemCommand(); },
        function () { return x.ItemCommand(1, 2); },
        function () { return x.ItemCommand('40100'); },
        function () { return x.ItemCommand(1.5); },
        function () { return x.ItemCommand(4294967296); },
        function () { return x.ItemCommand(NaN); },
        function () { return x.NavigateTo(5); },
        function () { return x.ItemCommandParam(1, function () {}, 3); },
        function () { return x.ShowExplorerBar({}); }
      ];
      calls.forEach(function (f) {
        try { f(); out.push('returned'); }
        catch (e) { out.push(e instanceof TypeError ? 'TypeError' : String(e)); }
      });
      out.push(typeof x.NoSuchMethod);
      return out.join(',');
    })())JS");
  EXPECT_EQ(Eval(view.Page(), script).toString(),
            QStringLiteral("TypeError,TypeError,TypeError,TypeError,TypeError,TypeError,"
                           "TypeError,TypeError,TypeError,undefined"));
  // A page that bypasses the script and sends the host a bad call itself
  // gets an error answer, never a call.
  QString marker = QString::fromUtf8(
      QJsonDocument(QJsonArray{CNorvHtmlExternal::PromptMarker()}).toJson(QJsonDocument::Compact));
  QString forged = QStringLiteral(
      "(function (m) { return [prompt(m, 'garbage'), prompt(m, '{\"m\":\"ItemCommand\",\"a\":[]}'),"
      " prompt(m, '{\"m\":\"ItemCommand\",\"a\":[\"1\"]}'), prompt(m, '{\"m\":\"Nope\",\"a\":[]}'),"
      " prompt(m, '{\"m\":\"NavigateTo\",\"a\":[[]]}')].map(function (a) {"
      " return Object.keys(JSON.parse(a)).join(''); }).join(','); })(%1[0])")
                       .arg(marker);
  EXPECT_EQ(Eval(view.Page(), forged).toString(), QStringLiteral("e,e,e,e,e"));
  EXPECT_TRUE(host.log.empty());
  // And the view still works.
  EXPECT_EQ(Eval(view.Page(), QStringLiteral("window.external.ItemCommand(40005)")).toInt(), 5);
}

TEST_F(HtmlViews, LinksAreOfferedToTheItemButNotTheViewsOwnNavigation) {
  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  item.info.url = PageUrl("links.html");
  ASSERT_TRUE(view.ShowContents(&item));
  ASSERT_TRUE(WaitLoaded(loaded));
  EXPECT_TRUE(item.navigations.empty());

  // Refused by the item: the page stays.
  Eval(view.Page(), QStringLiteral("document.getElementById('link').click()"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !item.navigations.empty(); }, 20000));
  EXPECT_EQ(item.navigations[0], PageUrl("target.html"));
  QTest::qWait(200);
  EXPECT_EQ(loaded.count(), 1);
  EXPECT_EQ(Eval(view.Page(), QStringLiteral("document.title")).toString(), "links");

  // Allowed: the link is followed. Not the item's page, so no assignments
  // and no document-complete command for the item.
  item.cancelNavigation = FALSE;
  item.commands.clear();
  Eval(view.Page(), QStringLiteral("document.getElementById('link').click()"));
  ASSERT_TRUE(WaitLoaded(loaded, 2));
  EXPECT_EQ(item.navigations.size(), 2u);
  EXPECT_EQ(Eval(view.Page(), QStringLiteral("document.title")).toString(), "target");
  EXPECT_TRUE(item.commands.empty());

  // A link to a new window: offered as well, then shown in the view.
  ASSERT_TRUE(view.Navigate(PageUrl("links.html")));
  ASSERT_TRUE(WaitLoaded(loaded, 3));
  item.cancelNavigation = TRUE;
  Eval(view.Page(), QStringLiteral("document.getElementById('blank').click()"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return item.navigations.size() == 3; }, 20000));
  EXPECT_EQ(item.navigations[2], PageUrl("target.html") + L"?new");
  item.cancelNavigation = FALSE;
  Eval(view.Page(), QStringLiteral("document.getElementById('blank').click()"));
  ASSERT_TRUE(WaitLoaded(loaded, 4));
  EXPECT_EQ(item.navigations.size(), 4u);
  EXPECT_EQ(Eval(view.Page(), QStringLiteral("document.title")).toString(), "target");
  EXPECT_EQ(loaded.count(), 4);

  // Without a selected item a link is simply followed.
  host.selected = nullptr;
  ASSERT_TRUE(view.Navigate(PageUrl("links.html")));
  ASSERT_TRUE(WaitLoaded(loaded, 5));
  Eval(view.Page(), QStringLiteral("document.getElementById('link').click()"));
  ASSERT_TRUE(WaitLoaded(loaded, 6));
  EXPECT_EQ(item.navigations.size(), 4u);
}

TEST_F(HtmlViews, AssignmentsApplyByNameAndIdThenTheItemGetsTheDocument) {
  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  item.info.url = PageUrl("assign.html");
  item.info.assignments = {L"byid=Hello <b>bold</b>", L"byname2.title=Tip", L"byname.value=a=b",
                           L"dotted=x.y", L"no assignment", L"missing=ignored"};
  ASSERT_TRUE(view.ShowContents(&item));
  ASSERT_TRUE(WaitLoaded(loaded));
  auto text = [&](const char* script) {
    return Eval(view.Page(), QString::fromUtf8(script)).toString();
  };
  EXPECT_EQ(text("document.getElementById('byid').innerHTML"), "Hello <b>bold</b>");
  EXPECT_EQ(text("document.getElementsByName('byname2')[0].getAttribute('title')"), "Tip");
  EXPECT_EQ(text("document.getElementsByName('byname')[0].getAttribute('value')"), "a=b");
  EXPECT_EQ(text("document.getElementById('dotted').innerHTML"), "x.y");
  // The item read the assigned values and changed the page through its
  // document, in the command.
  EXPECT_EQ(item.seenInCommand, L"Hello <b>bold</b>|Tip");
  EXPECT_EQ(text("document.getElementById('status').innerHTML"), "done");
  EXPECT_EQ(text("document.getElementById('status').getAttribute('data-by')"), "item");
  NorvString value;
  EXPECT_FALSE(view.GetDocument()->GetElement(L"nothing", L"", value));
  EXPECT_FALSE(view.GetDocument()->SetElement(L"nothing", L"", L"x"));
  EXPECT_TRUE(view.GetDocument()->RunScript(L"var n = 6 * 7; ({n: n})", &value));
  EXPECT_EQ(value, L"{\"n\":42}");
  EXPECT_FALSE(view.GetDocument()->RunScript(L"throw new Error('x')", &value));

  // An item that is no longer the selection is not told.
  CPageItem other;
  host.selected = &other;
  item.commands.clear();
  ASSERT_TRUE(view.ShowContents(&item));
  ASSERT_TRUE(WaitLoaded(loaded, 2));
  EXPECT_TRUE(item.commands.empty());
  EXPECT_TRUE(other.commands.empty());

  // Erasing blanks the page and forgets the item.
  view.EraseContents();
  EXPECT_EQ(view.GetShownItem(), nullptr);
  EXPECT_EQ(text("document.body ? document.body.innerHTML : ''"), "");
  // An item without a page shows nothing.
  item.info.url.clear();
  EXPECT_TRUE(view.ShowContents(&item));
  EXPECT_EQ(view.GetShownItem(), nullptr);
}

TEST_F(HtmlViews, ResPagesComeFromResourceModules) {
  HMODULE module = plat::LoadResourceModule(HTML_TEST_MODULE);
  ASSERT_NE(module, nullptr);
  plat::SetHostResourceModule(module);
  const QString name = QFileInfo(QStringLiteral(HTML_TEST_MODULE)).fileName();
  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  auto show = [&](const QString& url) {
    int before = loaded.count();
    view.Navigate(url.toStdWString());
    return WaitLoaded(loaded, before + 1);
  };
  // By name (any case), with its style sheet by a relative address and a
  // working window.external.
  ASSERT_TRUE(show(QStringLiteral("res://%1/OVERVIEW.html").arg(name)));
  EXPECT_EQ(Eval(view.Page(), "document.title").toString(), "res overview");
  EXPECT_EQ(Eval(view.Page(), "getComputedStyle(document.body).marginLeft").toString(), "17px");
  EXPECT_EQ(Eval(view.Page(), "document.getElementById('font').textContent").toString(), "700");
  // By number.
  ASSERT_TRUE(show(QStringLiteral("res://%1/500").arg(name)));
  EXPECT_EQ(Eval(view.Page(), "document.title").toString(), "target");
  // A missing resource, a missing module: a plain page that says so.
  for (const QString& url : {QStringLiteral("res://%1/missing.html").arg(name),
                             QStringLiteral("res://libnothing_here.so/overview.html"),
                             QStringLiteral("res://%1/").arg(name)}) {
    ASSERT_TRUE(show(url)) << url.toStdString();
    EXPECT_TRUE(Eval(view.Page(), "document.body.textContent").toString().startsWith("Not found"))
        << url.toStdString();
  }
  plat::SetHostResourceModule(nullptr);
}

TEST_F(HtmlViews, PaneMethodsRouteToTheListViewWhenItIsShown) {
  QDialog dialog;
  auto* pane = new CNorvHtmlWnd(&dialog);
  pane->SetExternal(std::make_unique<CNorvHtmlPaneExternal>(pane));
  QSignalSpy loaded(pane, &CNorvHtmlWnd::documentComplete);
  ASSERT_TRUE(pane->Navigate(PageUrl("target.html")));
  ASSERT_TRUE(WaitLoaded(loaded));
  auto call = [&](const char* script) {
    return Eval(pane->Page(), QStringLiteral("String(window.external.%1)").arg(script)).toString();
  };
  host.listShown = FALSE;
  EXPECT_EQ(call("ItemCommand(40001)"), "1");
  host.listShown = TRUE;
  EXPECT_EQ(call("ItemCommand(30002)"), "2");
  EXPECT_EQ(call("ItemCommandEx(1, 40003)"), "undefined");
  EXPECT_EQ(call("ItemCommandEx(2, 30004)"), "undefined");  // no command target
  host.listTarget = TRUE;
  EXPECT_EQ(call("ItemCommandEx(2, 30005)"), "undefined");
  EXPECT_EQ(call("ItemCommandParam(30006, 'v')"), "6");
  CPageItem row;
  host.listSelected = &row;
  EXPECT_EQ(call("ShowHelp(-1)"), "undefined");
  EXPECT_EQ(call("GetHeaderProperty(0)"), "23");
  std::vector<QString> calls(host.log.begin(), host.log.end());
  std::vector<QString> expected = {"tree 40001 0", "list 30002 0", "tree 40003 0", "list 30005 0",
                                   "list 30006 -1 [\"v\"]", "help 77 15 item-help.html"};
  EXPECT_EQ(calls, expected);
  // EndDialog ends the dialog the pane sits in.
  dialog.open();
  call("EndDialog(5)");
  EXPECT_EQ(dialog.result(), 5);
  EXPECT_FALSE(dialog.isVisible());
}

class MessageCatcher : public QWidget {
 public:
  std::vector<std::array<qint32, 3>> messages;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == CNorvHtmlMessageEvent::EventType()) {
      auto* m = static_cast<CNorvHtmlMessageEvent*>(e);
      messages.push_back({m->Message(), m->WParam(), m->LParam()});
      return true;
    }
    return QWidget::event(e);
  }
};

TEST_F(HtmlViews, DialogSizesToThePageAndItsWindowPostsMessages) {
  htmlViewInfo info;
  info.url = PageUrl("assign.html");
  info.assignments = {L"byid=from the dialog"};
  CNorvHtmlDialog dialog(L"Page", &info, nullptr, 0, 0);
  ASSERT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.windowTitle(), "Page");
  CNorvHtmlPage* page = dialog.HtmlWindow()->Page();
  EXPECT_EQ(Eval(page, "document.getElementById('byid').innerHTML").toString(), "from the dialog");
  QSize pageSize(Eval(page, "document.body.scrollWidth").toInt(),
                 Eval(page, "document.body.scrollHeight").toInt());
  EXPECT_GE(pageSize.height(), 222);
  EXPECT_EQ(dialog.size(), pageSize);
  EXPECT_EQ(dialog.HtmlWindow()->geometry(), dialog.rect());

  // PostMessage reaches the window's parent, asynchronously; FALSE without
  // a parent.
  MessageCatcher parent;
  auto* wnd = new CNorvHtmlWnd(&parent);
  QSignalSpy loaded(wnd, &CNorvHtmlWnd::documentComplete);
  wnd->Navigate(PageUrl("target.html"));
  ASSERT_TRUE(WaitLoaded(loaded));
  EXPECT_EQ(Eval(wnd->Page(), "window.external.PostMessage(1024, -1, 4294967295)").toBool(), true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !parent.messages.empty(); }, 5000));
  EXPECT_EQ(parent.messages[0], (std::array<qint32, 3>{1024, -1, -1}));
  wnd->setParent(nullptr);
  EXPECT_EQ(Eval(wnd->Page(), "window.external.PostMessage(1, 2, 3)").toBool(), false);
  delete wnd;
}

TEST_F(HtmlViews, NoContextMenuAndTheKeysGoToTheMainWindow) {
  CNorvHtmlView view;
  view.resize(300, 200);
  view.show();
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  view.Navigate(PageUrl("links.html"));
  ASSERT_TRUE(WaitLoaded(loaded));
  Eval(view.Page(), "window.menus = 0; document.addEventListener('contextmenu',"
                    " function () { ++window.menus; });");
  QWidget* target = view.focusProxy() != nullptr ? view.focusProxy() : &view;
  QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, QPoint(150, 100));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Eval(view.Page(), "window.menus").toInt() > 0; }, 10000));
  QTest::qWait(100);
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QMenu*>(w) != nullptr && w->isVisible());

  host.log.clear();
  target->setFocus();
  QTest::keyClick(target, Qt::Key_Left, Qt::AltModifier);
  QTest::keyClick(target, Qt::Key_Right, Qt::AltModifier);
  QTest::keyClick(target, Qt::Key_F1);
  QTest::keyClick(target, Qt::Key_F1, Qt::ShiftModifier);
  std::vector<QString> calls(host.log.begin(), host.log.end());
  std::vector<QString> expected = {"main 35033", "main 35044",
                                   QStringLiteral("main %1").arg(NORV_HTML_HELP_COMMAND)};
  EXPECT_EQ(calls, expected);
}

// The System plugin's overview page, out of its resource module, calling
// back through window.external; the banner and tutorial pages exist.
TEST_F(HtmlViews, SystemOverviewPageCallsBack) {
  ASSERT_TRUE(CPluginHandler::LoadPlugin(L"System", QStringLiteral(SYSTEM_PLUGIN).toStdWString(),
                                         QStringLiteral(SYSTEM_TEXTS).toStdWString(), L"", L"",
                                         FALSE));
  CPluginHandler::BuildClassList();
  std::unique_ptr<CNorvTreeListItem> root(CNorvTreeListItem::CreateObject(nullptr, L"CSystemRoot",
                                                                          L"system"));
  ASSERT_NE(root, nullptr);
  host.selected = nullptr;
  CNorvHtmlView view;
  QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
  ASSERT_TRUE(view.ShowContents(root.get()));
  ASSERT_TRUE(WaitLoaded(loaded));
  CNorvHtmlPage* page = view.Page();
  EXPECT_EQ(Eval(page, "document.title").toString(), "System");
  EXPECT_EQ(Eval(page, "document.getElementById('font').textContent").toString(),
            "italic 700 10pt 'DejaVu Sans'");
  EXPECT_EQ(Eval(page, "document.getElementById('open').getAttribute('data-path')").toString(),
            "./Processes");
  // The button asks the item through window.external.ItemCommand and shows
  // its answer, the number of processes (there is at least this one).
  EXPECT_TRUE(QTest::qWaitFor([&] {
    Eval(page, "document.getElementById('count').click()");
    return Eval(page, "Number(document.getElementById('processes').textContent)").toInt() > 0;
  }, 20000));
  host.log.clear();
  Eval(page, "document.getElementById('open').click(); document.getElementById('details').click()");
  std::vector<QString> calls(host.log.begin(), host.log.end());
  EXPECT_EQ(calls, (std::vector<QString>{"navigate ./Processes", "main 35031"}));
  CNorvTreeListItem::TakeNavigationTarget();
  // Banner and tutorial.
  for (DWORD kind : {0u, 3u}) {
    htmlViewInfo info;
    htmlViewInfo* p = &info;
    root->GetHtmlViewInfo(p, kind);
    ASSERT_FALSE(info.url.empty());
    CNorvHtmlWnd pane;
    QSignalSpy paneLoaded(&pane, &CNorvHtmlWnd::documentComplete);
    ASSERT_TRUE(pane.SetPage(info));
    ASSERT_TRUE(WaitLoaded(paneLoaded));
    EXPECT_FALSE(Eval(pane.Page(), "document.title").toString().startsWith("Not found"));
  }
  view.EraseContents();
  root.reset();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/norv-html-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string scratch = pattern;
  setenv("NORV_REGISTRY_DIR", (scratch + "/registry").c_str(), 0);
  setenv("NORV_RUNTIME_DIR", (scratch + "/runtime").c_str(), 0);
  std::filesystem::create_directories(scratch + "/registry");
  std::filesystem::create_directories(scratch + "/runtime");
  NorvRegisterHtmlSchemes();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  int rc = 0;
  {
    CNorvDoc doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(10);
    font.setBold(true);
    font.setItalic(true);
    doc.SetupGUIFont(font);
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return rc;
}
