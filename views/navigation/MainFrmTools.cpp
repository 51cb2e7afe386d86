// The main frame's tools: the options dialog, help, tip of the day, the
// splash page, saving an item's icon and printing the content view.
#include <QMessageBox>

#include "FrameTools.h"
#include "HelpWindow.h"
#include "MainFrm.h"
#include "NorvListView.h"
#include "OptionsDlg.h"
#include "SplashWnd.h"
#include "TipDlg.h"
#include "TreeView.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"

namespace {

QWidget* ContentWidget(CNorvDoc* doc) {
  return doc != nullptr ? dynamic_cast<QWidget*>(doc->GetCurrentView()) : nullptr;
}

bool IsPluginHelp(UINT command) {
  return command >= ID_NORV_PLUGIN_HELP_FIRST && command < ID_NORV_PLUGIN_HELP_LAST;
}

}  // namespace

BOOL CMainFrame::OnToolsCommand(UINT command) {
  if (IsPluginHelp(command)) {
    const NorvString file = CPluginHandler::GetPluginHelpFile(command);
    if (!ShowHelp(0, 0, file)) ShowStatusText(tr("No help is available.").toStdWString());
    return TRUE;
  }
  switch (command) {
    case ID_NORV_CMD_OPTIONS: {
      OptionsDlg dialog(this);
      dialog.DoModal();
      return TRUE;
    }
    case ID_NORV_CMD_HELP: {
      // The selected object's help topic in its plugin's help file.
      CNorvTreeListItem* item = m_tree != nullptr ? m_tree->GetSelectedTreeItem() : nullptr;
      NorvString file;
      DWORD topic = 0;
      if (item != nullptr) {
        CNorvItemCallScope scope(item);
        const wchar_t* itemFile = item->GetHelpFile();
        file = itemFile != nullptr ? itemFile : L"";
        topic = item->GetContextHelpId();
      }
      if (!ShowHelp(topic, NORV_HELP_CONTEXT, file))
        ShowStatusText(tr("No help is available.").toStdWString());
      return TRUE;
    }
    case ID_NORV_CMD_SAVE_IMAGE: {
      // The list's first selected row while the list is shown, else the
      // tree's selection.
      CNorvTreeListItem* item = nullptr;
      if (m_listView != nullptr && m_doc != nullptr && m_doc->GetCurrentView() == m_listView)
        item = m_listView->GetFirstSelectedListItem();
      if (item == nullptr && m_tree != nullptr) item = m_tree->GetSelectedTreeItem();
      if (item == nullptr) return TRUE;
      const QIcon icon = NorvGetItemLargeIcon(item, GetImageList(IMAGELIST_LARGE));
      if (icon.isNull()) {
        ShowStatusText(tr("This object has no image to save.").toStdWString());
        return TRUE;
      }
      const NorvString name = NorvProposedIconFileName(item);
      ++m_modalDialogs;
      SaveIcon(icon, name, this);
      --m_modalDialogs;
      return TRUE;
    }
    case ID_NORV_CMD_PRINT: {
      QWidget* view = ContentWidget(m_doc);
      if (!NorvCanPrint(view)) return TRUE;
      ++m_modalDialogs;
      NorvPrintContentView(view, windowTitle(), this);
      --m_modalDialogs;
      return TRUE;
    }
    default:
      return FALSE;
  }
}

BOOL CMainFrame::OnUpdateToolsCommand(UINT command, BOOL& enabled, BOOL& checked) {
  if (IsPluginHelp(command)) {
    enabled = TRUE;
    checked = FALSE;
    return TRUE;
  }
  switch (command) {
    case ID_NORV_CMD_OPTIONS:
    case ID_NORV_CMD_HELP:
      enabled = TRUE;
      checked = FALSE;
      return TRUE;
    case ID_NORV_CMD_SAVE_IMAGE:
      enabled = m_tree != nullptr && m_tree->GetSelectedTreeItem() != nullptr;
      checked = FALSE;
      return TRUE;
    case ID_NORV_CMD_PRINT:
      enabled = NorvCanPrint(ContentWidget(m_doc));
      checked = FALSE;
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CMainFrame::ShowHelp(DWORD data, UINT command, const NorvString& helpFile) {
  return NorvShowHelp(data, command, helpFile);
}

void CMainFrame::ShowSplash(const NorvString& url, const NorvString& options) {
  const CNorvCommandLineInfo* info = CNorvCommandLineInfo::GetCurrent();
  CSplashWnd::EnableSplashScreen(info != nullptr && info->m_bNoSplash ? FALSE : TRUE);
  CSplashWnd::ShowSplashScreen(url, options, this);
}

void CMainFrame::ShowTipDialog(BOOL atStartup) {
  if (atStartup) {
    // The splash page shows the tip when it goes.
    if (CSplashWnd::Current() != nullptr) return;
    static bool shownAtStartup = false;
    if (shownAtStartup) return;
    shownAtStartup = true;
    if (!CTipDlg::ShowAtStartup()) return;
  }
  // Not blocking: start-up goes on while the tip is read.
  auto* dialog = new CTipDlg(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  ++m_modalDialogs;
  connect(dialog, &QDialog::finished, this, [this] { --m_modalDialogs; });
  dialog->open();
}
