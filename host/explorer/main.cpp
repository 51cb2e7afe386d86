// norvexplore: the explorer program a user starts. It starts the framework
// in the documented order (command line, settings key, trace, plugins,
// document, main frame, views) and runs the window until it is closed or a
// "NORV2.1_Terminate" broadcast closes it.
//
// Besides the explorer's own options it takes, for demonstrations and
// checks:
//   --select PATH       after start-up, select and expand the node at PATH
//                       (repeatable; the last one stays selected)
//   --screenshot FILE   once the window has settled, save a picture of it
//                       to FILE (PNG) and quit
#include <stdlib.h>

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "MainFrm.h"
#include "NavigationServices.h"
#include "TreeView.h"
// The framework's message box for application messages.
#include "NorvMessageBoxDlg.h"
#include "norv/NorvCommandLine.h"
#include "norv/NorvCrashHandler.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostResources.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace {

const char kProgram[] = "norvexplore";

const char kUsage[] =
    "Usage: norvexplore [OPTION...]\n"
    "\n"
    "The Norv explorer: the objects of the registered plugins in a window.\n"
    "\n"
    "  registrykey:KEY  settings key (default \"Velmora\\NORV2.1\")\n"
    "  locale:LOCALE    language (default \"enu\")\n"
    "  plugin:NAME      load only this registered plugin (repeatable)\n"
    "  loadplugin:NAME;PLUGINDLL;RESOURCEDLL;HELPFILE;MESSAGEHELPFILE\n"
    "  class:CLASS id:ID  start from this object   param:TEXT\n"
    "  traceEnabled:N traceLevel:N traceLocation:FOLDER traceFileSize:N traceKeepFiles:N\n"
    "  -nosplash -notips\n"
    "  --select PATH       select and expand the node at tree path PATH after start-up\n"
    "                      (repeatable; the last one stays selected)\n"
    "  --screenshot FILE   save a picture of the window to FILE (PNG) and quit\n"
    "  --help\n";

std::string U8(const NorvString& text) { return plat::ToUtf8(text); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry \"%s --help\" for more information.\n", kProgram,
               message.c_str(), kProgram);
  return 2;
}


}  // namespace

int main(int argc, char** argv) {
  // First of all, on the main thread (which gets the alternate signal stack
  // for a stack overflow): a crash anywhere, a plugin's included, is
  // reported on standard error, in the system log and, where a display
  // exists, in the crash dialog; without one the process ends.
  InstallCrashHandler(NORV_CRASH_OUTPUT_STDERR | NORV_CRASH_OUTPUT_EVENTLOG |
                          NORV_CRASH_OUTPUT_DIALOG,
                      NORV_CRASH_TERMINATE);

  std::vector<NorvString> explorerArgs;
  std::vector<std::string> selects;
  std::string screenshot;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--select" || arg == "--screenshot") {
      if (i + 1 >= argc) return UsageError("option " + arg + " needs a value");
      if (arg == "--select")
        selects.push_back(argv[++i]);
      else
        screenshot = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError("unknown option \"" + arg + "\"");
    } else {
      explorerArgs.push_back(plat::FromUtf8(arg));
    }
  }
  CNorvCommandLineInfo info;
  NorvString error;
  if (!CNorvCommandLineParser::Parse(explorerArgs, info, &error)) return UsageError(U8(error));

  // Qt sees only the program name: the explorer's options are not Qt's.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  // Application messages in the framework's message box (standard error without a screen).
  NorvInstallMessageBoxDialog();

  // Start-up, in the framework's order.
  CNorvCommandLineInfo::SetCurrent(&info);
  CNorvPrivateRegistryKey::SetRegistryKey(
      info.m_bRegistryKeyGiven ? info.m_RegistryKey : NorvString(L"Velmora\\NORV2.1"));
  const NorvString locale =
      info.m_bLocaleGiven && !info.m_Locale.empty() ? info.m_Locale : NorvString(L"enu");
  NorvLoadHostResources(locale);
  Trace::Start(&info);

  int rc = 0;
  if (!CPluginHandler::LoadAllPlugins(locale, info.m_Plugins, info.m_LoadPlugins)) {
    rc = 1;
  } else {
    auto doc = std::make_unique<CNorvDoc>();
    auto frame = std::make_unique<CMainFrame>(doc.get());
    frame->show();
    if (!doc->SetupViews(info)) {
      rc = 1;
    } else {
      doc->ShowTipAtStartup();
      for (const std::string& select : selects) {
        TreeView* tree = frame->Tree();
        if (tree->NavigateTo(plat::FromUtf8(select)) == TreeView::NavigationOk) {
          tree->SetNodeExpanded(tree->GetSelectedNode(), true);
        } else {
          std::fprintf(stderr, "%s: no object at tree path \"%s\"\n", kProgram, select.c_str());
        }
      }
      if (!screenshot.empty()) {
        // Let the window lay itself out and paint, then take its picture.
        QTimer::singleShot(1500, frame.get(), [&] {
          const QPixmap picture = frame->grab();
          if (!picture.save(QString::fromStdString(screenshot), "PNG")) {
            std::fprintf(stderr, "%s: the picture could not be written to %s\n", kProgram,
                         screenshot.c_str());
            rc = 1;
          }
          frame->close();
        });
      }
      app.exec();
    }
    // The document destroys the root (the views drop their pointers first)
    // and unloads the plugins; then the window goes.
    doc.reset();
    frame.reset();
  }
  CPluginHandler::UnloadPlugins();
  Trace::Stop();
  CNorvCommandLineInfo::SetCurrent(nullptr);
  return rc;
}
