#include "HtmlFrame.h"

#include <QMetaObject>
#include <QMouseEvent>

CHtmlFrame::CHtmlFrame(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  setContextMenuPolicy(Qt::NoContextMenu);
}

BOOL CHtmlFrame::ShowPage(const htmlViewInfo& info, DWORD navigateFlags) {
  if (info.url.empty()) return FALSE;
  m_assignments = info.assignments;
  // Addresses compare case-sensitively: a query or a fragment may differ
  // only in case.
  if (info.url != m_lastAddress) {
    m_lastAddress = info.url;
    ++m_navigations;
    Navigate(info.url, navigateFlags);
    return TRUE;
  }
  ApplyAssignments();
  return FALSE;
}

void CHtmlFrame::Navigate(const NorvString& /*address*/, DWORD /*flags*/) {
  // Without a browser the page "loads" at once, on the next turn of the
  // event loop as a real document would.
  QMetaObject::invokeMethod(this, [this] { OnDocumentComplete(); }, Qt::QueuedConnection);
}

void CHtmlFrame::ApplyAssignments() { ++m_applied; }

void CHtmlFrame::OnDocumentComplete() { ApplyAssignments(); }

void CHtmlFrame::mousePressEvent(QMouseEvent* event) {
  emit Activated();
  QWidget::mousePressEvent(event);
}
