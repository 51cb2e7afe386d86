#include "HelpWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

#include "norv/NorvHostCommands.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"

namespace {

QPointer<CHelpWindow> gHelpWindow;
NorvString gHostHelpFile;

// A help file named in the registry may be relative: as given, then beside
// the framework library, then beside the host program (as plugin libraries
// are found).
QString FindHelpFile(const QString& name) {
  if (name.isEmpty()) return {};
  const NorvString found = CPluginHandler::FindLibrary(name.toStdWString());
  return found.empty() ? QString() : QString::fromStdWString(found);
}

bool HelpInBrowser() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Options");
  UINT value = 0;
  key.GetUIntValue(L"HelpInBrowser", value);
  return value != 0;
}

}  // namespace

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Help"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* tools = new QToolBar(this);
  m_browser = new QTextBrowser(this);
  m_browser->setOpenExternalLinks(true);
  QAction* back = tools->addAction(tr("Back"), m_browser, &QTextBrowser::backward);
  QAction* forward = tools->addAction(tr("Forward"), m_browser, &QTextBrowser::forward);
  tools->addAction(tr("Home"), this, [this] {
    if (m_home.isValid()) m_browser->setSource(m_home);
  });
  tools->addAction(tr("Open in Browser"), this,
                   [this] { QDesktopServices::openUrl(m_browser->source()); });
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Help") : tr("Help - %1").arg(title));
  });
  layout->addWidget(tools);
  layout->addWidget(m_browser, 1);
  resize(720, 560);
}

CHelpWindow::~CHelpWindow() = default;

CHelpWindow* CHelpWindow::Instance() { return gHelpWindow.data(); }

CHelpWindow* CHelpWindow::Open(const QUrl& url) {
  if (gHelpWindow.isNull()) gHelpWindow = new CHelpWindow();
  gHelpWindow->ShowPage(url);
  gHelpWindow->show();
  gHelpWindow->raise();
  gHelpWindow->activateWindow();
  return gHelpWindow.data();
}

void CHelpWindow::ShowPage(const QUrl& url) {
  QUrl page = url;
  page.setFragment({});
  if (m_browser->source().adjusted(QUrl::RemoveFragment) != page || !m_home.isValid()) {
    m_home = page;
    m_browser->setSource(page);
  }
  // Go to the topic's anchor when the page has one, else to the top.
  if (url.hasFragment()) {
    m_browser->scrollToAnchor(url.fragment());
  }
}

QUrl NorvHelpUrl(DWORD data, UINT command, const NorvString& helpFile,
                 const NorvString& hostHelpFile) {
  QString file = QString::fromStdWString(helpFile.empty() ? hostHelpFile : helpFile);
  if (file.isEmpty()) return {};

  QString topic;
  const qsizetype cut = file.indexOf(QStringLiteral("::"));
  if (cut >= 0) {
    // "file::topic": any command but 0 shows the file itself.
    if (command == 0) topic = file.mid(cut + 2);
    file.truncate(cut);
  }

  if (file.endsWith(QStringLiteral(".hlp"), Qt::CaseInsensitive)) {
    // A Windows help file knows only the finder (0) and context help (15).
    // Linux has no viewer for it; an HTML twin beside it takes its place.
    if (command != 0 && command != NORV_HELP_CONTEXT) return {};
    const QString stem = file.left(file.size() - 4);
    QString twin;
    for (const char* suffix : {".html", ".htm"}) {
      twin = FindHelpFile(stem + QLatin1String(suffix));
      if (!twin.isEmpty()) break;
    }
    if (twin.isEmpty()) return {};
    file = twin;
  } else {
    file = FindHelpFile(file);
    if (file.isEmpty()) return {};
  }

  QFileInfo info(file);
  if (!topic.isEmpty()) {
    while (topic.startsWith(QLatin1Char('/'))) topic.remove(0, 1);
    const QString anchor = topic.section(QLatin1Char('#'), 1);
    const QFileInfo topicFile(info.absoluteDir(), topic.section(QLatin1Char('#'), 0, 0));
    if (topicFile.isFile()) {
      QUrl url = QUrl::fromLocalFile(topicFile.absoluteFilePath());
      if (!anchor.isEmpty()) url.setFragment(anchor);
      return url;
    }
  }
  QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
  if (command == NORV_HELP_CONTEXT && data != 0) url.setFragment(QString::number(data));
  return url;
}

void NorvSetHostHelpFile(const NorvString& file) { gHostHelpFile = file; }

NorvString NorvGetHostHelpFile() { return gHostHelpFile; }

BOOL NorvShowHelp(DWORD data, UINT command, const NorvString& helpFile) {
  const QUrl url = NorvHelpUrl(data, command, helpFile, gHostHelpFile);
  if (url.isEmpty()) {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"ShowHelp: no help for \"%s\" (command %u, data %u)",
                                     helpFile.c_str(), command, static_cast<unsigned>(data)));
    return FALSE;
  }
  if (HelpInBrowser()) return QDesktopServices::openUrl(url) ? TRUE : FALSE;
  CHelpWindow::Open(url);
  return TRUE;
}
