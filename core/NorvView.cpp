// The content-view interface's defaults.
#include "norv/NorvView.h"

BOOL CNorvView::AllowTimerRefresh() { return TRUE; }
BOOL CNorvView::UpdateContainedItem(CNorvTreeListItem* /*item*/) { return FALSE; }
BOOL CNorvView::RemoveContainedItem(CNorvTreeListItem* /*item*/) { return FALSE; }
BOOL CNorvView::ShowContents(CNorvTreeListItem* /*item*/) { return FALSE; }
void CNorvView::EraseContents() {}
CNorvView::~CNorvView() = default;
