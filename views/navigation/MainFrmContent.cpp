// The main frame's side of the list view: creating it as the document's
// list view, the status panes it fills, the filter warning, the view-style
// commands and the list's own commands routed from the menus.
#include <QLabel>
#include <QStackedWidget>
#include <QStatusBar>

#include "MainFrm.h"
#include "NorvListView.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvTlgItem.h"
#include "platform/resources.h"

// What the list view asks of the frame, answered by the process's frame.
class CMainFrameListSide : public INorvListFrame {
 public:
  void SetStatusBarCount(UINT textId, int number) override {
    if (CMainFrame::theFrame != nullptr) CMainFrame::theFrame->SetStatusBarCount(textId, number);
  }
  void ShowFilterWarning(BOOL show) override {
    if (CMainFrame::theFrame != nullptr) CMainFrame::theFrame->ShowFilterWarning(show);
  }
  QIcon GetListImage(int index) override {
    return CMainFrame::theFrame != nullptr ? CMainFrame::theFrame->GetImage(index) : QIcon();
  }
};

namespace {
CMainFrameListSide gListSide;

bool IsViewStyleCommand(UINT command) {
  return command >= ID_NORV_CMD_VIEW_STYLE_FIRST && command <= ID_NORV_CMD_VIEW_STYLE_LAST;
}
}  // namespace

void CMainFrame::CreateListView() {
  m_listView = new CNorvListView(m_contentPane);
  m_listView->setObjectName(QStringLiteral("ListView"));
  m_listView->SetFrame(&gListSide);
  m_listView->SetTree(m_tree);
  m_contentPane->addWidget(m_listView);
  m_contentPane->setCurrentWidget(m_listView);
  if (m_doc != nullptr) {
    m_doc->SetListView(m_listView);
    m_doc->SetCurrentView(m_listView);
  }
}

void CMainFrame::ForgetListView() {
  if (m_listView == nullptr) return;
  m_listView->EraseContents();
  m_listView->SetFrame(nullptr);
  if (m_doc != nullptr) {
    if (m_doc->GetListView() == m_listView) m_doc->SetListView(nullptr);
    if (m_doc->GetCurrentView() == m_listView) m_doc->SetCurrentView(nullptr);
  }
}

void CMainFrame::SetStatusBarCount(UINT textId, int number) {
  const int pane = textId == ID_NORV_STATUS_COUNT ? 0 : textId == ID_NORV_STATUS_SELECTED ? 1 : -1;
  if (pane < 0 || m_statusPanes[pane] == nullptr) return;
  // The host's text holds the number as %d; without one, the number alone.
  const std::wstring format = plat::LoadString(textId);
  QString text = QString::number(number);
  if (!format.empty()) {
    text = QString::fromStdWString(format);
    const qsizetype at = text.indexOf(QStringLiteral("%d"));
    if (at >= 0)
      text.replace(at, 2, QString::number(number));
    else
      text += QLatin1Char(' ') + QString::number(number);
  }
  m_statusPanes[pane]->setText(text);
}

void CMainFrame::ShowFilterWarning(BOOL show) {
  if (m_filterWarning == nullptr) {
    if (!show) return;
    m_filterWarning = new QLabel(this);
    m_filterWarning->setObjectName(QStringLiteral("FilterWarning"));
    m_filterWarning->setText(tr("Filtered"));
    m_filterWarning->setToolTip(tr("Column filters hide some of the objects"));
    m_filterWarning->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    statusBar()->addWidget(m_filterWarning);
  }
  m_filterWarning->setVisible(show != FALSE);
}

BOOL CMainFrame::GetListSorting(int& column, int& ascending) {
  if (m_listView == nullptr || m_doc == nullptr || m_doc->GetCurrentView() != m_listView)
    return FALSE;
  column = static_cast<int>(m_listView->SortColumnId());
  ascending = m_listView->SortAscending();
  return TRUE;
}

BOOL CMainFrame::SelectListViewItems(CNorvTLItemList* list) {
  if (m_listView == nullptr || m_doc == nullptr || m_doc->GetCurrentView() != m_listView)
    return FALSE;
  return m_listView->SelectItems(list);
}

BOOL CMainFrame::OnContentCommand(UINT command) {
  if (m_listView == nullptr) return FALSE;
  const bool listShown = m_doc != nullptr && m_doc->GetCurrentView() == m_listView;
  if (IsViewStyleCommand(command)) {
    CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
    if (item == nullptr) return TRUE;
    const int mode = static_cast<int>(command - ID_NORV_CMD_VIEW_STYLE_FIRST);
    {
      CNorvItemCallScope scope(item);
      if (!item->HasViewMode(mode)) return TRUE;
      item->SetViewMode(mode);
    }
    const int style = CNorvListView::StyleOfViewMode(mode);
    if (listShown && style >= 0)
      m_listView->SetListView(static_cast<DWORD>(style));  // the same rows, another style
    else
      m_tree->ShowSelection();  // another content view
    UpdateHistoryViewMode(mode);
    return TRUE;
  }
  if (!listShown) return FALSE;
  switch (command) {
    case ID_NORV_CMD_COLUMN_FILTER:
      m_listView->OnColumnFilter();
      return TRUE;
    case ID_NORV_CMD_SELECT_ALL:
    case ID_NORV_CMD_INVERT_SELECTION:
      return m_listView->OnCommand(command);
    default:
      break;
  }
  // The rest only while the list has the focus (the tree answers them
  // otherwise).
  QWidget* focus = focusWidget();
  if (focus == nullptr || !m_listView->isAncestorOf(focus)) return FALSE;
  return m_listView->OnCommand(command);
}

BOOL CMainFrame::OnUpdateContentCommand(UINT command, BOOL& enabled, BOOL& checked) {
  if (m_listView == nullptr) return FALSE;
  const bool listShown = m_doc != nullptr && m_doc->GetCurrentView() == m_listView;
  if (IsViewStyleCommand(command)) {
    CNorvTreeListItem* item = m_tree->GetSelectedTreeItem();
    const int mode = static_cast<int>(command - ID_NORV_CMD_VIEW_STYLE_FIRST);
    if (item == nullptr) {
      enabled = FALSE;
      return TRUE;
    }
    CNorvItemCallScope scope(item);
    enabled = item->HasViewMode(mode);
    checked = item->GetViewMode() == mode ? TRUE : FALSE;
    return TRUE;
  }
  if (!listShown) return FALSE;
  if (command == ID_NORV_CMD_COLUMN_FILTER || command == ID_NORV_CMD_SELECT_ALL ||
      command == ID_NORV_CMD_INVERT_SELECTION)
    return m_listView->OnUpdateCommand(command, enabled, checked);
  QWidget* focus = focusWidget();
  if (focus == nullptr || !m_listView->isAncestorOf(focus)) return FALSE;
  return m_listView->OnUpdateCommand(command, enabled, checked);
}
