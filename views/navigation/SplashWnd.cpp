#include "SplashWnd.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBrowser>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "norv/NorvDoc.h"
#include "norv/Trace.h"

namespace {

bool gEnabled = true;
QPointer<CSplashWnd> gSplash;
CSplashWnd::PageFactory gFactory;

// Local pages (files, Qt resources) in a text browser; an address it cannot
// load shows the program's name instead.
QWidget* DefaultPage(QWidget* parent, const QUrl& url) {
  if (url.isLocalFile() || url.scheme() == QLatin1String("qrc")) {
    auto* page = new QTextBrowser(parent);
    page->setFrameShape(QFrame::NoFrame);
    page->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    page->setSource(url);
    return page;
  }
  auto* label = new QLabel(QApplication::applicationDisplayName(), parent);
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 2);
  font.setBold(true);
  label->setFont(font);
  return label;
}

QUrl UrlFromText(const QString& text) {
  if (QFileInfo(text).isAbsolute()) return QUrl::fromLocalFile(text);
  return QUrl(text);
}

}  // namespace

void CSplashWnd::EnableSplashScreen(BOOL enable) { gEnabled = enable != FALSE; }

BOOL CSplashWnd::IsSplashScreenEnabled() { return gEnabled ? TRUE : FALSE; }

void CSplashWnd::SetPageFactory(PageFactory factory) { gFactory = std::move(factory); }

CSplashWnd* CSplashWnd::Current() { return gSplash.data(); }

QSize CSplashWnd::SizeFromOptions(const QString& options) {
  static const QRegularExpression size(QStringLiteral("^\\s*(\\d{2,4})\\s*[x,]\\s*(\\d{2,4})\\s*$"),
                                       QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = size.match(options);
  if (match.hasMatch()) return {match.captured(1).toInt(), match.captured(2).toInt()};
  return {400, 300};
}

BOOL CSplashWnd::ShowSplashScreen(const NorvString& url, const NorvString& options,
                                  QWidget* parent) {
  if (!gEnabled || !gSplash.isNull() || url.empty()) return FALSE;
  NORV_BASE_TRACE(4, 0, NorvFormatString(L"Showing splash page %s", url.c_str()));
  gSplash = new CSplashWnd(UrlFromText(QString::fromStdWString(url)),
                           SizeFromOptions(QString::fromStdWString(options)), parent);
  return TRUE;
}

CSplashWnd::CSplashWnd(const QUrl& url, const QSize& size, QWidget* mainWindow)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_mainWindow(mainWindow) {
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  QWidget* page = gFactory ? gFactory(this, url) : nullptr;
  if (page == nullptr) page = DefaultPage(this, url);
  layout->addWidget(page);
  resize(size);
  // Centred over the main window, or on its screen.
  QRect area = mainWindow != nullptr && mainWindow->isVisible() ? mainWindow->frameGeometry()
                                                                : QRect();
  if (area.isEmpty()) {
    QScreen* screen = mainWindow != nullptr ? mainWindow->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) area = screen->availableGeometry();
  }
  if (!area.isEmpty()) move(area.center() - rect().center());
  show();
  raise();
  qApp->installEventFilter(this);
  m_timer.start(kShowMilliseconds, this);
}

CSplashWnd::~CSplashWnd() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
}

void CSplashWnd::HideSplashScreen() {
  CSplashWnd* splash = gSplash.data();
  if (splash == nullptr) return;
  gSplash.clear();
  splash->m_timer.stop();
  qApp->removeEventFilter(splash);
  QPointer<QWidget> mainWindow = splash->m_mainWindow;
  splash->hide();
  splash->deleteLater();
  if (!mainWindow.isNull()) mainWindow->update();
  // The tip of the day waited for the splash page.
  if (CNorvDoc* doc = CNorvDoc::GetDoc()) doc->ShowTipAtStartup();
}

bool CSplashWnd::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
      // Any key or click ends the splash page; the input goes on to its
      // window.
      QMetaObject::invokeMethod(qApp, [] { HideSplashScreen(); }, Qt::QueuedConnection);
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void CSplashWnd::timerEvent(QTimerEvent* event) {
  if (event->timerId() != m_timer.timerId()) {
    QWidget::timerEvent(event);
    return;
  }
  // Still starting up (a modal dialog open): look again a little later.
  if (QApplication::activeModalWidget() != nullptr) {
    m_timer.start(kWaitMilliseconds, this);
    return;
  }
  HideSplashScreen();
}
