#include "NorvHtmlWnd.h"

#include <QContextMenuEvent>
#include <QWebEngineHttpRequest>
#include <QEventLoop>

#include "NorvHtmlExternal.h"
#include "norv/Trace.h"

CNorvHtmlMessageEvent::CNorvHtmlMessageEvent(qint32 message, qint32 wParam, qint32 lParam)
    : QEvent(EventType()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

QEvent::Type CNorvHtmlMessageEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

CNorvHtmlWnd::CNorvHtmlWnd(QWidget* parent) : QWebEngineView(parent) {
  m_page = new CNorvHtmlPage(this, this);
  setPage(m_page);
  m_page->SetExternal(std::make_unique<CNorvHtmlWndExternal>(this));
  setContextMenuPolicy(Qt::NoContextMenu);
  NorvInstallHtmlKeys(this);
}

CNorvHtmlWnd::~CNorvHtmlWnd() {
  // The page goes first, while the window it reports to still exists.
  setPage(nullptr);
  delete m_page;
}

BOOL CNorvHtmlWnd::CreateInPlaceOf(QWidget* control) {
  if (control == nullptr || control->parentWidget() == nullptr) return FALSE;
  setParent(control->parentWidget());
  setGeometry(control->geometry());
  setObjectName(control->objectName());
  stackUnder(control);
  delete control;
  show();
  return TRUE;
}

BOOL CNorvHtmlWnd::Navigate(const NorvString& url, DWORD /*flags*/,
                            const NorvString& /*targetFrame*/, const std::vector<BYTE>& postData,
                            const NorvString& headers) {
  NORV_BASE_TRACE(4, 0, NorvFormatString(L"CNorvHtmlWnd::Navigate: URL = %s", url.c_str()));
  m_lastUrl = url;
  m_complete = false;
  m_page->MarkOwnNavigation();
  m_page->load(NorvHtmlRequest(url, postData, headers));
  return TRUE;
}

BOOL CNorvHtmlWnd::SetPage(const htmlViewInfo& info, DWORD flags) {
  if (info.url.empty()) return FALSE;
  m_assignments = info.assignments;
  if (info.url != m_lastUrl) return Navigate(info.url, flags);
  m_page->ApplyAssignments(m_assignments);
  return TRUE;
}

INorvHtmlDocument* CNorvHtmlWnd::GetDocument() { return m_page->Document(); }

QSize CNorvHtmlWnd::GetDocumentSize() {
  QVariant answer;
  if (!m_page->RunScriptSync(
          QStringLiteral("document.body ? [document.body.scrollWidth, document.body.scrollHeight]"
                         " : null"),
          &answer))
    return {};
  QVariantList size = answer.toList();
  if (size.size() != 2) return {};
  return {size[0].toInt(), size[1].toInt()};
}

void CNorvHtmlWnd::SetExternal(std::unique_ptr<CNorvHtmlExternal> external) {
  m_page->SetExternal(std::move(external));
}

BOOL CNorvHtmlWnd::OnBeforeNavigate(const NorvString&, const NorvString&, const NorvString&,
                                    const std::vector<BYTE>&) {
  return FALSE;
}

void CNorvHtmlWnd::OnDocumentComplete(const NorvString&) {
  m_page->ApplyAssignments(m_assignments);
}

BOOL CNorvHtmlWnd::OnPageNavigate(const NorvString& url, const NorvString& targetFrame,
                                  const NorvString& headers, const std::vector<BYTE>& postData) {
  return OnBeforeNavigate(url, targetFrame, headers, postData);
}

void CNorvHtmlWnd::OnPageLoaded(const QUrl& url, bool ok) {
  // A navigation that was cancelled or failed leaves the document as it was.
  if (!ok) {
    emit loadEnded(url);
    return;
  }
  m_complete = true;
  OnDocumentComplete(url.toString().toStdWString());
  emit documentComplete(url);
  emit loadEnded(url);
}

void CNorvHtmlWnd::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }
