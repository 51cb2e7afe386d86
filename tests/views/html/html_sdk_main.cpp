// Loads a plugin built outside this tree against the installed SDK and
// shows its object in the HTML content view: its page, out of the plugin's
// own resource module, calls window.external and shows the answers.
//   test_views_html_sdk <plugin library> <resource library>
#include <stdlib.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "NorvHtmlHost.h"
#include "NorvHtmlView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "platform/text.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    ++failures;
  }
}

// The tree as far as the page methods need it: one selected item.
class CSampleHost : public INorvHtmlHost {
 public:
  CNorvTreeListItem* item = nullptr;
  CNorvTreeListItem* GetSelectedTreeItem() override { return item; }
  CmdResult TreeItemCommand(UINT command, DWORD param, void* pParam) override {
    return item != nullptr ? item->Command(nullptr, command, param, pParam) : CMD_NOT_HANDLED;
  }
};

QString Eval(CNorvHtmlPage* page, const char* script) {
  QVariant value;
  Check(page->RunScriptSync(QString::fromUtf8(script), &value), script);
  return value.toString();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PLUGIN RESOURCES\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char pattern[] = "/tmp/norv-htmlsdk-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  setenv("NORV_REGISTRY_DIR", pattern, 1);
  setenv("NORV_RUNTIME_DIR", pattern, 1);
  NorvRegisterHtmlSchemes();
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    std::fprintf(stderr, "message: %s\n", plat::ToUtf8(text).c_str());
    return IDOK;
  });
  {
    CNorvDoc doc;
    Check(CPluginHandler::LoadPlugin(L"Sample", plat::FromUtf8(argv[1]), plat::FromUtf8(argv[2]),
                                     L"", L"", FALSE) != FALSE,
          "the plugin loads");
    CPluginHandler::BuildClassList();
    std::unique_ptr<CNorvTreeListItem> item(
        CNorvTreeListItem::CreateObject(nullptr, L"CHtmlSample", L""));
    Check(item != nullptr, "the plugin's object is made");
    if (item != nullptr) {
      CSampleHost host;
      host.item = item.get();
      NorvSetHtmlHost(&host);
      {
        CNorvHtmlView view;
        QSignalSpy loaded(&view, &CNorvHtmlView::documentComplete);
        view.ShowContents(item.get());
        Check(QTest::qWaitFor([&] { return loaded.count() > 0; }, 60000), "the page loads");
        // 41 from ItemCommand, 13 = the length of "from the page", the
        // explorer font's weight, a TypeError for a text where a number
        // belongs.
        QString title = Eval(view.Page(), "document.title");
        Check(title == QStringLiteral("41 13 font TypeError"),
              "the page's answers: " + title.toStdString());
        QString seen = Eval(view.Page(), "document.getElementById('filled').getAttribute('data-item')");
        Check(seen == QStringLiteral("assigned and seen"),
              "assignment and document: " + seen.toStdString());
      }
      NorvSetHtmlHost(nullptr);
      item.reset();
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  if (failures == 0) std::printf("html sdk: ok\n");
  return failures == 0 ? 0 : 1;
}
