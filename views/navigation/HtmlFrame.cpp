#include "HtmlFrame.h"

#include "NorvHtmlExternal.h"
#include "NorvHtmlHost.h"
#include "norv/NorvHtmlDocument.h"

CHtmlFrame::CHtmlFrame(UINT completeCommand, QWidget* parent)
    : CNorvHtmlWnd(parent), m_completeCommand(completeCommand) {
  SetExternal(std::make_unique<CNorvHtmlPaneExternal>(this));
}

BOOL CHtmlFrame::ShowPage(const htmlViewInfo& info, DWORD navigateFlags) {
  if (info.url.empty()) return FALSE;
  // Addresses compare case-sensitively: a query or a fragment may differ
  // only in case.
  const bool navigates = info.url != GetLastUrl();
  SetPage(info, navigateFlags);
  if (navigates) ++m_navigations;
  return navigates ? TRUE : FALSE;
}

void CHtmlFrame::OnDocumentComplete(const NorvString& url) {
  CNorvHtmlWnd::OnDocumentComplete(url);
  if (m_completeCommand == 0) return;
  INorvHtmlHost* host = NorvGetHtmlHost();
  if (host->GetSelectedTreeItem() != nullptr)
    host->TreeItemCommand(m_completeCommand, static_cast<DWORD>(-2),
                          static_cast<INorvHtmlDocument*>(GetDocument()));
}
