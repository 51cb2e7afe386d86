// The clipboard's carrier object for item lists.
#include "norv/NorvClipBoardItem.h"

NORV_IMPLEMENT_SERIAL(CNorvClipBoardItem, CNorvObject, 1)

NorvString CNorvClipBoardItem::parentClass;
NorvString CNorvClipBoardItem::parentId;

CNorvClipBoardItem::~CNorvClipBoardItem() = default;

void CNorvClipBoardItem::Serialize(CNorvArchive& ar) {
  CNorvObject::Serialize(ar);
  if (ar.IsStoring()) {
    ar.WriteObject(m_pList);
    return;
  }
  m_pList = static_cast<CNorvTLItemList*>(ar.ReadObject(NORV_RUNTIME_CLASS(CNorvTLItemList)));
}

const wchar_t* CNorvClipBoardItem::OperationPrefix(int operation) {
  switch (operation) {
    case cut:
      return L"cut";
    case copy:
      return L"copy";
    case dragdrop:
      return L"dragdrop";
    default:
      return L"";
  }
}
