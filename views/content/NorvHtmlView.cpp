#include "NorvHtmlView.h"

#include <QContextMenuEvent>
#include <QWebEngineHttpRequest>
#include <QDir>

#include "NorvHtmlExternal.h"
#include "NorvHtmlHost.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"

namespace {

QString Canonical(const QString& address) {
  QUrl url = QUrl::fromUserInput(address);
  QString text = url.isValid() ? url.adjusted(QUrl::NormalizePathSegments).toString() : address;
  return text.toLower().replace(QLatin1Char('\\'), QLatin1Char('/'));
}

}  // namespace

bool NorvHtmlSameAddress(const QUrl& loaded, const NorvString& navigated) {
  QString a = Canonical(loaded.toString());
  QString b = Canonical(QString::fromStdWString(navigated));
  if (a.isEmpty() || b.isEmpty()) return false;
  return a.contains(b) || b.contains(a);
}

CNorvHtmlView::CNorvHtmlView(QWidget* parent) : QWebEngineView(parent) {
  m_page = new CNorvHtmlPage(this, this);
  setPage(m_page);
  m_page->SetExternal(std::make_unique<CNorvHtmlViewExternal>());
  setContextMenuPolicy(Qt::NoContextMenu);
  NorvInstallHtmlKeys(this);
}

CNorvHtmlView::~CNorvHtmlView() {
  m_item = nullptr;
  setPage(nullptr);
  delete m_page;
}

BOOL CNorvHtmlView::UpdateContainedItem(CNorvTreeListItem*) { return TRUE; }

BOOL CNorvHtmlView::RemoveContainedItem(CNorvTreeListItem* item) {
  if (item != nullptr && item == m_item) m_item = nullptr;
  return TRUE;
}

BOOL CNorvHtmlView::ShowContents(CNorvTreeListItem* item) {
  if (item == nullptr) {
    EraseContents();
    return TRUE;
  }
  htmlViewInfo info;
  htmlViewInfo* p = &info;
  {
    NorvResourceStack resources(item->GetResourceInstanceHandle());
    item->GetHtmlViewInfo(p, 2);
    if (gNorvBaseTraceLevel >= 3)
      Trace_GetItems("NorvDll/NorvHtmlView", __LINE__, "CNorvHtmlView::ShowContents", item, FALSE);
    else
      item->GetItems(FALSE);
  }
  if (p == nullptr || p->url.empty()) {
    // Nothing to show: no item either.
    m_item = nullptr;
    m_url.clear();
    m_assignments.clear();
    return TRUE;
  }
  m_assignments = p->assignments;
  m_item = item;
  Navigate(p->url);
  return TRUE;
}

void CNorvHtmlView::EraseContents() {
  m_item = nullptr;
  m_url.clear();
  m_assignments.clear();
  m_page->EraseDocument();
}

BOOL CNorvHtmlView::Navigate(const NorvString& url, DWORD, const NorvString&,
                             const std::vector<BYTE>& postData, const NorvString& headers) {
  NORV_BASE_TRACE(4, 0, NorvFormatString(L"CNorvHtmlView::Navigate: URL = %s", url.c_str()));
  m_url = url;
  m_page->MarkOwnNavigation();
  m_page->load(NorvHtmlRequest(url, postData, headers));
  return TRUE;
}

INorvHtmlDocument* CNorvHtmlView::GetDocument() { return m_page->Document(); }

BOOL CNorvHtmlView::OnPageNavigate(const NorvString& url, const NorvString& targetFrame,
                                   const NorvString& headers, const std::vector<BYTE>& postData) {
  CNorvTreeListItem* item = NorvGetHtmlHost()->GetSelectedTreeItem();
  if (item == nullptr) return FALSE;
  NorvResourceStack resources(item->GetResourceInstanceHandle());
  return item->OnHTMLNavigate(url, targetFrame, headers, postData);
}

void CNorvHtmlView::OnPageLoaded(const QUrl& url, bool ok) {
  // A navigation that was cancelled or failed leaves the document as it was.
  if (!ok) return;
  if (m_item != nullptr && NorvHtmlSameAddress(url, m_url)) {
    m_page->ApplyAssignments(m_assignments);
    INorvHtmlHost* host = NorvGetHtmlHost();
    if (host->GetSelectedTreeItem() == m_item)
      host->TreeItemCommand(ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL, static_cast<DWORD>(-2),
                            static_cast<INorvHtmlDocument*>(m_page->Document()));
  }
  emit documentComplete(url);
}

void CNorvHtmlView::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }
