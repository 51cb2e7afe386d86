// The item pointer list: ownership on ClearList, the flag helpers and the
// serialized form.
#include <gtest/gtest.h>

#include "test_items.h"

namespace {

std::vector<CNorvTreeListItem*> Items(const CNorvTLItemList& list) {
  return {list.begin(), list.end()};
}

}  // namespace

TEST(NorvTLItemList, LinkedListOperations) {
  CTestItem a, b, c, d;
  CNorvTLItemList list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetHead(), nullptr);
  EXPECT_EQ(list.RemoveHead(), nullptr);
  POSITION pb = list.AddTail(&b);
  list.AddHead(&a);
  list.InsertAfter(pb, &d);
  list.InsertBefore(list.Find(&d), &c);
  EXPECT_EQ(Items(list), (std::vector<CNorvTreeListItem*>{&a, &b, &c, &d}));
  EXPECT_EQ(list.GetAt(list.FindIndex(2)), &c);
  EXPECT_EQ(list.FindIndex(4), nullptr);
  EXPECT_EQ(list.FindIndex(-1), nullptr);
  // More elements than one block holds, and the list appended to itself.
  for (int i = 0; i < 3; ++i) list.AddTail(list);
  EXPECT_EQ(list.GetCount(), 32);
  EXPECT_EQ(list.GetTail(), &d);
  EXPECT_EQ(list.Find(&a, list.GetHeadPosition()), list.FindIndex(4));
  CNorvTLItemList copy(list);
  list.RemoveAll();
  EXPECT_EQ(copy.GetCount(), 32);
  EXPECT_TRUE(copy.Remove(&a));
  EXPECT_EQ(copy.GetHead(), &b);
  EXPECT_EQ(copy.RemoveTail(), &d);
  POSITION pos = copy.GetTailPosition();
  EXPECT_EQ(copy.GetPrev(pos), &c);
  EXPECT_EQ(copy.GetAt(pos), &b);
  while (!copy.IsEmpty()) copy.RemoveHead();
  EXPECT_FALSE(copy.Remove(&a));
  a.SetId(L"x");
  list.AddTail(&a);
  EXPECT_EQ(list.FindObject(L"CTestItem", L"x"), &a);
  EXPECT_EQ(list.FindObject(L"CTestItem", L"y"), nullptr);
  list.RemoveAll();
}

TEST(NorvTLItemList, ClearListKeepsStaticItemsAndDestroysOthersOnce) {
  CTestItem keeper;
  keeper.SetStatic(TRUE);
  keeper.SetTreeHandle(&keeper);
  auto* child = new CTestItem;
  child->SetTreeHandle(child);
  keeper.GetItemList().AddTail(child);
  auto* owned = new CTestItem;
  CNorvTLItemList list;
  list.AddTail(owned);
  list.AddTail(&keeper);
  list.AddTail(owned);  // twice: destroyed once
  list.AddTail(nullptr);
  const int before = CTestItem::destroyed;
  list.ClearList();
  EXPECT_EQ(CTestItem::destroyed, before + 1);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(keeper.GetTreeHandle(), nullptr);
  EXPECT_EQ(child->GetTreeHandle(), nullptr);
  EXPECT_EQ(keeper.GetItemList().GetCount(), 1);
}

TEST(NorvTLItemList, ResultArrayFormsMarkOnlyFittingItemsWithinCount) {
  CNorvTreeListItem::TakeObjectFlagTable();
  CTestItem items[4];
  CNorvTLItemList list;
  for (CTestItem& item : items) {
    item.ClrFlags(0xFFFFFFFF);
    list.AddTail(&item);
  }
  const int results[] = {1, 0, -1, 1};
  list.Invalidate(results, 3, TRUE);  // item 3 is beyond the count
  EXPECT_FALSE(items[0].IsValid());
  EXPECT_TRUE(items[1].IsValid());
  EXPECT_TRUE(items[2].IsValid());
  EXPECT_TRUE(items[3].IsValid());
  list.Deleted(results, 4, FALSE);  // results <= 0
  EXPECT_FALSE(items[0].IsDeleted());
  EXPECT_TRUE(items[1].IsDeleted());
  EXPECT_TRUE(items[2].IsDeleted());
  EXPECT_FALSE(items[3].IsDeleted());
  list.InvalidateList(nullptr, 4, TRUE);  // no results: nothing
  EXPECT_TRUE(items[0].IsListValid());
  list.InvalidateList();
  for (CTestItem& item : items) EXPECT_FALSE(item.IsListValid());
  list.RemoveAll();
  CNorvTreeListItem::TakeObjectFlagTable();
}

TEST(NorvTLItemList, SerializedFormRoundTrips) {
  CTestItem a(L"first");
  a.SetId(L"1");
  CTestItem b(L"second");
  b.SetId(L"2");
  CNorvTLItemList list;
  list.AddTail(&a);
  list.AddTail(&b);
  list.AddTail(&a);
  CNorvArchive out;
  out << static_cast<const CNorvObject*>(&list);
  const std::vector<BYTE>& data = out.GetData();
  // The list's class tag, then the count as 32 bits.
  ASSERT_GT(data.size(), 25u);
  EXPECT_EQ(data[0], 0xFF);
  EXPECT_EQ(data[4], 15);  // strlen("CNorvTLItemList")
  EXPECT_EQ(std::vector<BYTE>(data.begin() + 21, data.begin() + 25),
            (std::vector<BYTE>{3, 0, 0, 0}));

  CNorvArchive in(data);
  CNorvTLItemList* read = nullptr;
  in >> read;
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->GetCount(), 3);
  std::vector<CNorvTreeListItem*> items = Items(*read);
  EXPECT_EQ(items[0]->Id(), L"1");
  EXPECT_EQ(static_cast<CTestItem*>(items[1])->treeText, L"second");
  EXPECT_EQ(items[2], items[0]);  // the same object twice
  read->ClearList();
  delete read;
  list.RemoveAll();
}

TEST(NorvTLItemList, ItemsOfUnloadedClassesRaiseTheArchiveError) {
  CNorvArchive out;
  out << static_cast<DWORD>(1);
  out << static_cast<WORD>(0xFFFF) << static_cast<WORD>(1) << static_cast<WORD>(9);
  out.Write("CGoneItem", 9);
  CNorvTLItemList list;
  CNorvArchive in(out.GetData());
  try {
    list.Serialize(in);
    FAIL() << "no exception";
  } catch (const CNorvArchiveException& e) {
    EXPECT_EQ(e.m_cause, CNorvArchiveException::badClass);
  }
  EXPECT_TRUE(list.IsEmpty());

  // An object that is not an item cannot go into an item list.
  CNorvTLItemList inner;
  CNorvArchive out2;
  out2 << static_cast<DWORD>(1) << static_cast<const CNorvObject*>(&inner);
  CNorvArchive in2(out2.GetData());
  EXPECT_THROW(list.Serialize(in2), CNorvArchiveException);
  for (CNorvObject* p : in2.GetLoadedObjects()) delete p;
  // A count larger than the data ends at the end of the data.
  CNorvArchive out3;
  out3 << static_cast<DWORD>(0xFFFFFFFF) << static_cast<WORD>(0);
  CNorvArchive in3(out3.GetData());
  EXPECT_THROW(list.Serialize(in3), CNorvArchiveException);
  EXPECT_EQ(list.GetCount(), 1);  // the null read before the data ran out
  list.RemoveAll();
}
