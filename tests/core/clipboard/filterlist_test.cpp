// The column filter list an item proposes for its rows.
#include <gtest/gtest.h>

#include <memory>

#include "norv/NorvFilterList.h"

namespace {

TEST(NorvFilterList, EntriesModesAndStoredForm) {
  CNorvFilterList list;
  EXPECT_EQ(list.AddFilter(3, NORV_FILTER_MATCH, L"*.txt"), 0);
  EXPECT_EQ(list.AddFilter(1, NORV_FILTER_REGEX, L"^a\"b$"), 1);
  EXPECT_EQ(list.AddFilter(1, 3, L"x"), -1);  // no such mode
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_TRUE(list.NamesColumn(1));
  EXPECT_FALSE(list.NamesColumn(2));
  EXPECT_EQ(list.GetAt(2), nullptr);
  EXPECT_EQ(list.GetAt(1)->pattern, L"^a\"b$");

  CNorvArchive out;
  out.WriteObject(&list);
  CNorvArchive in(out.GetData());
  std::unique_ptr<CNorvObject> read(in.ReadObject(NORV_RUNTIME_CLASS(CNorvFilterList)));
  auto* copy = static_cast<CNorvFilterList*>(read.get());
  ASSERT_EQ(copy->GetCount(), 2);
  EXPECT_EQ(*copy->GetAt(0), *list.GetAt(0));
  EXPECT_EQ(*copy->GetAt(1), *list.GetAt(1));

  copy->AddTail(*copy);
  EXPECT_EQ(copy->GetCount(), 4);
  EXPECT_TRUE(copy->RemoveAt(0));
  EXPECT_EQ(copy->GetAt(0)->columnId, 1u);
  EXPECT_FALSE(copy->RemoveAt(3));
}

TEST(NorvFilterList, StoredModeOutOfRangeIsDamage) {
  CNorvArchive out;
  out << static_cast<DWORD>(1) << static_cast<DWORD>(0) << static_cast<DWORD>(9) << NorvString(L"p");
  CNorvArchive in(out.GetData());
  CNorvFilterList list;
  EXPECT_THROW(list.Serialize(in), CNorvArchiveException);
  EXPECT_TRUE(list.IsEmpty());
}

}  // namespace
