// The item pointer list.
#include "norv/NorvTLItemList.h"

#include <algorithm>
#include <new>
#include <unordered_set>
#include <vector>

#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"

NORV_IMPLEMENT_SERIAL(CNorvTLItemList, CNorvObject, 1)

namespace {

// Tells the views that children of `owner` are about to be unlinked, and
// when the scope ends that they are gone. Nothing for a list that is no
// item's child list.
class RemovalNotice {
 public:
  explicit RemovalNotice(CNorvTreeListItem* owner) : m_owner(owner) {
    if (m_owner != nullptr) NorvGetViewServices()->ChildrenRemoving(m_owner);
  }
  ~RemovalNotice() {
    if (m_owner != nullptr) NorvGetViewServices()->ChildrenRemoved(m_owner);
  }
  RemovalNotice(const RemovalNotice&) = delete;
  RemovalNotice& operator=(const RemovalNotice&) = delete;

 private:
  CNorvTreeListItem* m_owner;
};

}  // namespace

// Nodes come from blocks of kBlockSize; freed nodes go to a free list and
// the blocks are released when the list is destroyed or emptied.
struct CNorvTLItemList::Block {
  Block* pNext;
  NorvListNode nodes[kBlockSize];
};

CNorvTLItemList::CNorvTLItemList() = default;

CNorvTLItemList::CNorvTLItemList(const CNorvTLItemList& other) : CNorvObject(other) {
  AddTail(other);
}

CNorvTLItemList& CNorvTLItemList::operator=(const CNorvTLItemList& other) {
  if (this == &other) return *this;
  RemoveAll();
  AddTail(other);
  return *this;
}

CNorvTLItemList::~CNorvTLItemList() { FreeBlocks(); }

NorvListNode* CNorvTLItemList::NewNode(NorvListNode* prev, NorvListNode* next,
                                       CNorvTreeListItem* item) {
  if (m_pFree == nullptr) {
    Block* block = new Block;
    block->pNext = m_pBlocks;
    m_pBlocks = block;
    // Chain the new nodes into the free list.
    for (int i = kBlockSize - 1; i >= 0; --i) {
      block->nodes[i].pNext = m_pFree;
      m_pFree = &block->nodes[i];
    }
  }
  NorvListNode* node = m_pFree;
  m_pFree = m_pFree->pNext;
  node->pPrev = prev;
  node->pNext = next;
  node->data = item;
  ++m_nCount;
  return node;
}

void CNorvTLItemList::FreeNode(NorvListNode* node) {
  node->data = nullptr;
  node->pPrev = nullptr;
  node->pNext = m_pFree;
  m_pFree = node;
  if (--m_nCount == 0) Reset();  // also returns the blocks
}

void CNorvTLItemList::FreeBlocks() {
  while (m_pBlocks != nullptr) {
    Block* next = m_pBlocks->pNext;
    delete m_pBlocks;
    m_pBlocks = next;
  }
  m_pFree = nullptr;
}

void CNorvTLItemList::RemoveAll() {
  if (m_nCount == 0) {
    Reset();
    return;
  }
  RemovalNotice notice(m_pOwner);
  Reset();
}

void CNorvTLItemList::Reset() {
  m_pHead = m_pTail = nullptr;
  m_nCount = 0;
  FreeBlocks();
}

CNorvTreeListItem* CNorvTLItemList::GetHead() const {
  return m_pHead != nullptr ? m_pHead->data : nullptr;
}

CNorvTreeListItem* CNorvTLItemList::GetTail() const {
  return m_pTail != nullptr ? m_pTail->data : nullptr;
}

CNorvTreeListItem* CNorvTLItemList::RemoveHead() {
  if (m_pHead == nullptr) return nullptr;
  CNorvTreeListItem* item = m_pHead->data;
  RemoveAt(m_pHead);
  return item;
}

CNorvTreeListItem* CNorvTLItemList::RemoveTail() {
  if (m_pTail == nullptr) return nullptr;
  CNorvTreeListItem* item = m_pTail->data;
  RemoveAt(m_pTail);
  return item;
}

POSITION CNorvTLItemList::AddHead(CNorvTreeListItem* item) {
  NorvListNode* node = NewNode(nullptr, m_pHead, item);
  if (m_pHead != nullptr)
    m_pHead->pPrev = node;
  else
    m_pTail = node;
  m_pHead = node;
  return node;
}

POSITION CNorvTLItemList::AddTail(CNorvTreeListItem* item) {
  NorvListNode* node = NewNode(m_pTail, nullptr, item);
  if (m_pTail != nullptr)
    m_pTail->pNext = node;
  else
    m_pHead = node;
  m_pTail = node;
  return node;
}

void CNorvTLItemList::AddHead(const CNorvTLItemList& other) {
  // Walk backwards so that the other list's order is kept; a list added to
  // itself is copied first.
  const CNorvTLItemList copy = &other == this ? CNorvTLItemList(other) : CNorvTLItemList();
  const CNorvTLItemList& source = &other == this ? copy : other;
  for (POSITION pos = source.GetTailPosition(); pos != nullptr;) AddHead(source.GetPrev(pos));
}

void CNorvTLItemList::AddTail(const CNorvTLItemList& other) {
  if (&other == this) {
    const int n = m_nCount;
    POSITION pos = GetHeadPosition();
    for (int i = 0; i < n; ++i) AddTail(GetNext(pos));
    return;
  }
  for (POSITION pos = other.GetHeadPosition(); pos != nullptr;) AddTail(other.GetNext(pos));
}

POSITION CNorvTLItemList::InsertBefore(POSITION position, CNorvTreeListItem* item) {
  if (position == nullptr) return AddHead(item);
  NorvListNode* node = NewNode(position->pPrev, position, item);
  if (position->pPrev != nullptr)
    position->pPrev->pNext = node;
  else
    m_pHead = node;
  position->pPrev = node;
  return node;
}

POSITION CNorvTLItemList::InsertAfter(POSITION position, CNorvTreeListItem* item) {
  if (position == nullptr) return AddTail(item);
  NorvListNode* node = NewNode(position, position->pNext, item);
  if (position->pNext != nullptr)
    position->pNext->pPrev = node;
  else
    m_pTail = node;
  position->pNext = node;
  return node;
}

void CNorvTLItemList::RemoveAt(POSITION position) {
  if (position == nullptr) return;
  RemovalNotice notice(m_pOwner);
  if (position == m_pHead)
    m_pHead = position->pNext;
  else
    position->pPrev->pNext = position->pNext;
  if (position == m_pTail)
    m_pTail = position->pPrev;
  else
    position->pNext->pPrev = position->pPrev;
  FreeNode(position);
}

BOOL CNorvTLItemList::Remove(CNorvTreeListItem* item) {
  POSITION pos = Find(item);
  if (pos == nullptr) return FALSE;
  RemoveAt(pos);
  return TRUE;
}

POSITION CNorvTLItemList::GetHeadPosition() const { return m_pHead; }
POSITION CNorvTLItemList::GetTailPosition() const { return m_pTail; }

CNorvTreeListItem* CNorvTLItemList::GetNext(POSITION& position) const {
  NorvListNode* node = position;
  position = node->pNext;
  return node->data;
}

CNorvTreeListItem* CNorvTLItemList::GetPrev(POSITION& position) const {
  NorvListNode* node = position;
  position = node->pPrev;
  return node->data;
}

CNorvTreeListItem* CNorvTLItemList::GetAt(POSITION position) const {
  return position != nullptr ? position->data : nullptr;
}

void CNorvTLItemList::SetAt(POSITION position, CNorvTreeListItem* item) {
  if (position != nullptr) position->data = item;
}

POSITION CNorvTLItemList::Find(const CNorvTreeListItem* item, POSITION startAfter) const {
  NorvListNode* node = startAfter != nullptr ? startAfter->pNext : m_pHead;
  for (; node != nullptr; node = node->pNext)
    if (node->data == item) return node;
  return nullptr;
}

POSITION CNorvTLItemList::FindIndex(int index) const {
  if (index < 0 || index >= m_nCount) return nullptr;
  NorvListNode* node = m_pHead;
  while (index-- > 0) node = node->pNext;
  return node;
}

CNorvTreeListItem* CNorvTLItemList::FindObject(const NorvString& className,
                                               const NorvString& id) const {
  for (CNorvTreeListItem* item : *this)
    if (item != nullptr && item->GetClassName() == className && item->Id() == id) return item;
  return nullptr;
}

void CNorvTLItemList::ClearList() {
  if (m_nCount == 0) {
    Reset();
    return;
  }
  RemovalNotice notice(m_pOwner);
  // Unlink first: destroying an item may make plugin code look at the list
  // (or at its parent) again.
  std::vector<CNorvTreeListItem*> items;
  items.reserve(static_cast<std::size_t>(m_nCount));
  for (CNorvTreeListItem* item : *this) items.push_back(item);
  Reset();
  std::vector<CNorvTreeListItem*> doomed;
  doomed.reserve(items.size());
  for (CNorvTreeListItem* item : items) {
    if (item == nullptr) continue;
    if (item->IsStatic()) {
      item->SetTreeHandle(nullptr);
      item->ClearBranchTreeHandles();
    } else {
      doomed.push_back(item);
    }
  }
  // The tree's selection, when it is about to go with one of them, hears of
  // it while it is still whole.
  CNorvTreeListItem::NotifyDeselectedIfDoomed(doomed);
  // An item listed twice is destroyed once; the rest go in list order.
  std::vector<CNorvTreeListItem*> sorted(doomed);
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) {
    for (CNorvTreeListItem* item : doomed) delete item;
    return;
  }
  std::unordered_set<CNorvTreeListItem*> destroyed;
  for (CNorvTreeListItem* item : doomed)
    if (destroyed.insert(item).second) delete item;
}

void CNorvTLItemList::Deleted() {
  for (CNorvTreeListItem* item : *this)
    if (item != nullptr) item->SetDeleted();
}

void CNorvTLItemList::Removed() {
  for (CNorvTreeListItem* item : *this)
    if (item != nullptr) item->SetRemoved();
}

void CNorvTLItemList::Invalidate() {
  for (CNorvTreeListItem* item : *this)
    if (item != nullptr) item->SetInvalid();
}

void CNorvTLItemList::InvalidateList() {
  for (CNorvTreeListItem* item : *this)
    if (item != nullptr) item->SetListInvalid();
}

template <typename Fn>
void CNorvTLItemList::ForEachSelected(const int* results, int count, BOOL flag, Fn fn) {
  if (results == nullptr) return;
  int i = 0;
  for (POSITION pos = GetHeadPosition(); pos != nullptr && i < count; ++i) {
    CNorvTreeListItem* item = GetNext(pos);
    const bool selected = flag ? results[i] >= 1 : results[i] <= 0;
    if (selected && item != nullptr) fn(item);
  }
}

void CNorvTLItemList::Deleted(const int* results, int count, BOOL flag) {
  ForEachSelected(results, count, flag, [](CNorvTreeListItem* item) { item->SetDeleted(); });
}

void CNorvTLItemList::Removed(const int* results, int count, BOOL flag) {
  ForEachSelected(results, count, flag, [](CNorvTreeListItem* item) { item->SetRemoved(); });
}

void CNorvTLItemList::Invalidate(const int* results, int count, BOOL flag) {
  ForEachSelected(results, count, flag, [](CNorvTreeListItem* item) { item->SetInvalid(); });
}

void CNorvTLItemList::InvalidateList(const int* results, int count, BOOL flag) {
  ForEachSelected(results, count, flag, [](CNorvTreeListItem* item) { item->SetListInvalid(); });
}

void CNorvTLItemList::Serialize(CNorvArchive& ar) {
  CNorvObject::Serialize(ar);
  if (ar.IsStoring()) {
    ar << static_cast<DWORD>(m_nCount);
    for (CNorvTreeListItem* item : *this) ar.WriteObject(item);
    return;
  }
  DWORD count = 0;
  ar >> count;
  // No reservation from the count: it comes from outside and every item
  // read takes at least two bytes, so a false count ends at endOfFile.
  for (DWORD i = 0; i < count; ++i)
    AddTail(static_cast<CNorvTreeListItem*>(ar.ReadObject(NORV_RUNTIME_CLASS(CNorvTreeListItem))));
}
