// The column dialogs of the list view: filters, and visibility and order.
#include "ColumnDialogs.h"
#include "norv/NorvMessageBox.h"
#include "NorvListView.h"
#include "norv/NorvRegistryKey.h"
#include "platform/registry.h"

void CNorvListView::OnColumnFilter() {
  CNorvTreeListItem* item = SelectedTreeItem();
  if (item == nullptr || m_columnSetKey.empty()) return;
  // No refresh rebuilds the list while the dialog is open.
  StopTreeTimer();
  const NorvString key = m_columnSetKey;
  NorvString text;
  {
    CNorvPrivateRegistryKey filters(plat::HKEY_CURRENT_USER, L"ColumnFilters", plat::KEY_READ);
    if (filters.IsOpen()) filters.GetStringValue(key, text);
  }
  CColumnFilter dialog(m_names, m_columnIds, text, this);
  if (dialog.DoModal() == IDOK) {
    CNorvPrivateRegistryKey filters(plat::HKEY_CURRENT_USER, L"ColumnFilters",
                                    plat::KEY_ALL_ACCESS);
    if (filters.IsOpen()) filters.SetStringValue(key, text);
    ShowSelectedAgain();
  }
  StartTreeTimer();
}

void CNorvListView::OnColumnSettings() {
  CNorvTreeListItem* item = SelectedTreeItem();
  if (item == nullptr || m_names.empty()) return;
  StopTreeTimer();
  NorvUIntArray widths = m_widths;
  NorvUIntArray order = m_columnOrder;
  CColumnSettings dialog(m_names, widths, order, this);
  if (dialog.DoModal() == IDOK) {
    m_widths = widths;
    m_columnOrder = order;
    SaveWidthsAndOrder();
    ShowSelectedAgain();
  }
  StartTreeTimer();
}
