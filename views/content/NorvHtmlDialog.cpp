#include "NorvHtmlDialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include "norv/Trace.h"

CNorvHtmlDialog::CNorvHtmlDialog(const NorvString& title, const htmlViewInfo* info, QWidget* parent,
                                 int width, int height)
    : QDialog(parent), m_title(title), m_info(info), m_width(width), m_height(height) {}

CNorvHtmlDialog::~CNorvHtmlDialog() = default;

int CNorvHtmlDialog::DoModal() {
  if (!OnInitDialog()) return -1;
  return exec();
}

BOOL CNorvHtmlDialog::OnInitDialog() {
  setWindowTitle(QString::fromStdWString(m_title));
  NorvBaseTrace("NorvDll/NorvHtmlDialog", __LINE__, 4, 0, L"CNorvHtmlDialog: Creating HTML control");
  if (m_wnd == nullptr) m_wnd = new CNorvHtmlWnd(this);
  if (m_wnd->page() == nullptr) {
    NorvBaseTrace("NorvDll/NorvHtmlDialog", __LINE__, 1, 0,
                  L"CNorvHtmlDialog: Failed to create html control");
    return FALSE;
  }
  m_wnd->setObjectName(QStringLiteral("12"));
  m_wnd->setGeometry(rect());
  m_wnd->show();
  if (m_info == nullptr || m_info->url.empty()) return TRUE;
  bool ended = false;

  // Wait for the page, unless the application is quitting meanwhile (then
  // the quit is asked for again once the dialog gives up).
  QEventLoop loop;
  bool quitting = false;
  auto done = connect(m_wnd, &CNorvHtmlWnd::loadEnded, &loop, &QEventLoop::quit);
  auto quit = connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop, [&] {
    quitting = true;
    loop.quit();
  });
  auto end = connect(m_wnd, &CNorvHtmlWnd::loadEnded, this, [&] { ended = true; });
  m_wnd->Navigate(m_info->url);
  if (!ended) loop.exec();
  disconnect(end);
  disconnect(done);
  disconnect(quit);
  if (quitting) {
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    return FALSE;
  }
  m_wnd->Page()->ApplyAssignments(m_info->assignments);

  QSize size(m_width, m_height);
  if (m_width == 0 && m_height == 0) size = m_wnd->GetDocumentSize();
  if (size.isValid() && !size.isEmpty()) resize(size);
  m_wnd->setGeometry(rect());
  QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen()
                                              : QGuiApplication::primaryScreen();
  QRect area = parentWidget() != nullptr ? parentWidget()->geometry()
                                         : (screen ? screen->availableGeometry() : QRect());
  if (area.isValid()) move(area.center() - rect().center());
  return TRUE;
}

void CNorvHtmlDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (m_wnd != nullptr) m_wnd->setGeometry(rect());
}
