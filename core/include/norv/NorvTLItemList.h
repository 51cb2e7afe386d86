// CNorvTLItemList: a doubly linked list of item pointers. Every item embeds
// one for its children; commands, drops and selections pass them around.
//
// Ownership depends on the use: an item's embedded child list owns its
// non-static children (ClearList destroys them), other lists only refer to
// items owned elsewhere. Destroying a list never destroys its items.
//
// Unlinking elements from an item's child list (ClearList, RemoveAll,
// RemoveAt, Remove, RemoveHead, RemoveTail) tells the views before and
// after (INorvViewServices::ChildrenRemoving / ChildrenRemoved with the
// item), so that a view can drop its rows in time. Adding is not announced.
//
// Iteration in the document/view library's style:
//
//   POSITION pos = list.GetHeadPosition();
//   while (pos != nullptr) {
//     CNorvTreeListItem* item = list.GetNext(pos);
//     ...
//   }
//
// or with a range-for over the list.
#pragma once
#include <cstddef>
#include <iterator>

#include "norv/NorvArchive.h"
#include "norv/NorvRuntimeClass.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

// A place in a list; null = before the first or after the last element.
struct NorvListNode;
using POSITION = NorvListNode*;

class NORV_API CNorvTLItemList : public CNorvObject {
  NORV_DECLARE_SERIAL(CNorvTLItemList)

 public:
  CNorvTLItemList();
  // Copies the pointers, not the items.
  CNorvTLItemList(const CNorvTLItemList& other);
  CNorvTLItemList& operator=(const CNorvTLItemList& other);
  ~CNorvTLItemList() override;

  // --- the list itself --------------------------------------------------
  int GetCount() const { return m_nCount; }
  int GetSize() const { return m_nCount; }
  BOOL IsEmpty() const { return m_nCount == 0; }

  // The first and last element; null for an empty list.
  CNorvTreeListItem* GetHead() const;
  CNorvTreeListItem* GetTail() const;
  // Remove and return the first or last element (null for an empty list).
  CNorvTreeListItem* RemoveHead();
  CNorvTreeListItem* RemoveTail();

  POSITION AddHead(CNorvTreeListItem* item);
  POSITION AddTail(CNorvTreeListItem* item);
  // Appends (or prepends) every element of another list.
  void AddHead(const CNorvTLItemList& other);
  void AddTail(const CNorvTLItemList& other);
  // Inserting next to an existing position (a null position inserts at the
  // head or the tail respectively).
  POSITION InsertBefore(POSITION position, CNorvTreeListItem* item);
  POSITION InsertAfter(POSITION position, CNorvTreeListItem* item);

  // Unlinks the element at `position`; the item itself is not destroyed.
  void RemoveAt(POSITION position);
  // Unlinks the first occurrence of `item`; FALSE when it is not there.
  BOOL Remove(CNorvTreeListItem* item);
  // Unlinks every element without destroying any item.
  void RemoveAll();

  POSITION GetHeadPosition() const;
  POSITION GetTailPosition() const;
  // Return the element at `position` and move it to the next (previous)
  // one; `position` must not be null.
  CNorvTreeListItem* GetNext(POSITION& position) const;
  CNorvTreeListItem* GetPrev(POSITION& position) const;
  CNorvTreeListItem* GetAt(POSITION position) const;
  void SetAt(POSITION position, CNorvTreeListItem* item);

  // The position of `item` (searching after `startAfter` when given), or
  // null.
  POSITION Find(const CNorvTreeListItem* item, POSITION startAfter = nullptr) const;
  // The position of the index-th element (from 0), or null.
  POSITION FindIndex(int index) const;
  // The first element with that class name and id (see
  // CNorvTreeListItem::IsSameObject), or null.
  CNorvTreeListItem* FindObject(const NorvString& className, const NorvString& id) const;

  // --- ownership and flags -----------------------------------------------
  // The item whose embedded child list this is; null for every other list
  // (copies included).
  CNorvTreeListItem* GetOwner() const { return m_pOwner; }

  // Destroys every item that is not STATIC (a STATIC item only has its own
  // and its branch's tree handles cleared) and empties the list. An item
  // that occurs twice is destroyed once.
  void ClearList();

  // SetDeleted, SetRemoved, SetInvalid, SetListInvalid on every item.
  void Deleted();
  void Removed();
  void Invalidate();
  void InvalidateList();
  // The same on the items whose result fits `flag`: item i (from 0, only
  // for i < count) when `flag` is TRUE and results[i] >= 1, or when `flag`
  // is FALSE and results[i] <= 0.
  void Deleted(const int* results, int count, BOOL flag);
  void Removed(const int* results, int count, BOOL flag);
  void Invalidate(const int* results, int count, BOOL flag);
  void InvalidateList(const int* results, int count, BOOL flag);

  // The count (32-bit), then every item as an object. Reading appends the
  // rebuilt items; they then belong to whoever owns the list.
  void Serialize(CNorvArchive& ar) override;

  // --- range-for ---------------------------------------------------------
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = CNorvTreeListItem*;
    using difference_type = std::ptrdiff_t;
    using pointer = CNorvTreeListItem* const*;
    using reference = CNorvTreeListItem* const&;
    explicit const_iterator(POSITION p = nullptr) : m_pos(p) {}
    reference operator*() const;
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const const_iterator& o) const { return m_pos == o.m_pos; }
    bool operator!=(const const_iterator& o) const { return m_pos != o.m_pos; }

   private:
    POSITION m_pos;
  };
  const_iterator begin() const { return const_iterator(m_pHead); }
  const_iterator end() const { return const_iterator(nullptr); }

  // Elements are allocated in blocks of this many nodes.
  static constexpr int kBlockSize = 10;

 private:
  friend class CNorvTreeListItem;
  void SetOwner(CNorvTreeListItem* owner) { m_pOwner = owner; }
  // Unlinks every element without telling anyone.
  void Reset();
  template <typename Fn>
  void ForEachSelected(const int* results, int count, BOOL flag, Fn fn);
  NorvListNode* NewNode(NorvListNode* prev, NorvListNode* next, CNorvTreeListItem* item);
  void FreeNode(NorvListNode* node);
  void FreeBlocks();

  NorvListNode* m_pHead = nullptr;
  NorvListNode* m_pTail = nullptr;
  NorvListNode* m_pFree = nullptr;
  struct Block;
  Block* m_pBlocks = nullptr;
  int m_nCount = 0;
  CNorvTreeListItem* m_pOwner = nullptr;
};

struct NorvListNode {
  NorvListNode* pNext;
  NorvListNode* pPrev;
  CNorvTreeListItem* data;
};

inline CNorvTLItemList::const_iterator::reference CNorvTLItemList::const_iterator::operator*()
    const {
  return m_pos->data;
}

inline CNorvTLItemList::const_iterator& CNorvTLItemList::const_iterator::operator++() {
  m_pos = m_pos->pNext;
  return *this;
}
