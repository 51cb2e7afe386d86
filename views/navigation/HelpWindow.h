// Help: the plugins' help files are HTML pages, shown in the explorer's own
// help window (one per process, with back, forward and home) or, when the
// user chose it in the options ("HelpInBrowser" under the private key
// "Options"), in the desktop's web browser.
//
// The help commands keep the numbers of the Windows help engines: 0 shows
// the file (a "file::topic" name opens the topic beside the file), 15 shows
// the topic of a context id (the anchor "#<id>" when the page has one), any
// other command shows the file. See docs/frame-tools.md.
#pragma once
#include <QUrl>
#include <QWidget>

#include "norv/norvtypes.h"

class QTextBrowser;

class NORV_API CHelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CHelpWindow(QWidget* parent = nullptr);
  ~CHelpWindow() override;

  // The process's help window, created on first use (null before).
  static CHelpWindow* Instance();
  // Shows `url` in the help window (created when needed) and raises it.
  static CHelpWindow* Open(const QUrl& url);

  void ShowPage(const QUrl& url);
  QTextBrowser* Browser() const { return m_browser; }

 private:
  QTextBrowser* m_browser = nullptr;
  QUrl m_home;
};

// The page that help command `command` with `data` on `helpFile` shows; an
// empty URL when there is nothing to show (no file, a file that does not
// exist, a Windows help file without an HTML twin, a command that help
// file does not know). `hostHelpFile` stands in for an empty `helpFile`.
NORV_API QUrl NorvHelpUrl(DWORD data, UINT command, const NorvString& helpFile,
                          const NorvString& hostHelpFile = {});
// The host program's own help file (empty: none).
NORV_API void NorvSetHostHelpFile(const NorvString& file);
NORV_API NorvString NorvGetHostHelpFile();
// Shows the page of NorvHelpUrl in the help window or the desktop's
// browser; FALSE when there is none.
NORV_API BOOL NorvShowHelp(DWORD data, UINT command, const NorvString& helpFile);
