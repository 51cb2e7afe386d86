// CNorvClipBoardItem: the object that carries an item list through the
// clipboard and drag-and-drop. Stored, it writes its list as an object
// (the count, then every item as an object, each with its own Serialize
// output); read back, it rebuilds a new list with new item instances,
// which then belong to whoever reads them.
#pragma once
#include "norv/NorvArchive.h"
#include "norv/NorvRuntimeClass.h"
#include "norv/NorvTLItemList.h"
#include "norv/norvtypes.h"

class NORV_API CNorvClipBoardItem : public CNorvObject {
  NORV_DECLARE_SERIAL(CNorvClipBoardItem)

 public:
  // What the items are on their way to do. The values are stored in the
  // "NORV_CLIPFORMAT" data, so they never change.
  enum Operation : int { cut = 0, copy = 1, dragdrop = 2 };

  CNorvClipBoardItem() = default;
  explicit CNorvClipBoardItem(CNorvTLItemList* list) : m_pList(list) {}
  CNorvClipBoardItem(const CNorvClipBoardItem&) = delete;
  CNorvClipBoardItem& operator=(const CNorvClipBoardItem&) = delete;
  // Does not destroy the list: it is not the clipboard item's.
  ~CNorvClipBoardItem() override;

  CNorvTLItemList* GetList() const { return m_pList; }
  void SetList(CNorvTLItemList* list) { m_pList = list; }

  // The list as an object. Reading sets the list pointer to the new list.
  void Serialize(CNorvArchive& ar) override;

  // Class name and id of the parent of the items last read from the
  // clipboard or a drop (GetItemsFromClipboard). The user-interface thread
  // reads and writes them.
  static NorvString parentClass;
  static NorvString parentId;

  // The prefix of the item format for an operation: "cut", "copy",
  // "dragdrop"; empty for any other value.
  static const wchar_t* OperationPrefix(int operation);

 private:
  CNorvTLItemList* m_pList = nullptr;
};
