// The column dialogs of the list view.
#include "NorvListView.h"
#include "norv/Trace.h"

// The column dialogs are not part of the framework yet: say so in the trace
// and leave the settings as they are.
void CNorvListView::OnColumnFilter() {
  NORV_BASE_TRACE(2, 0, NorvString(L"CNorvListView::OnColumnFilter: no column filter dialog"));
}

void CNorvListView::OnColumnSettings() {
  NORV_BASE_TRACE(2, 0, NorvString(L"CNorvListView::OnColumnSettings: no column settings dialog"));
}
