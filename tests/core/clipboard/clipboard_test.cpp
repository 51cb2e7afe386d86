// Items through the clipboard and through drop data: what is offered, what
// comes back, and what happens to the clipboard and the lists on the way.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <memory>

#include "clip_items.h"
#include "norv/NorvClipboard.h"

NORV_IMPLEMENT_SERIAL(CClipTestItem, CNorvTreeListItem, 1)
int CClipTestItem::alive = 0;

namespace {

using Op = CNorvClipBoardItem::Operation;
const NorvString kFormat = L"CClipTestItem";

// Owns test items and empties a list that refers to them.
struct Items {
  std::vector<std::unique_ptr<CClipTestItem>> owned;
  CNorvTLItemList list;

  CClipTestItem* Add(const NorvString& id, bool copyable = true, bool draggable = true) {
    owned.push_back(std::make_unique<CClipTestItem>(id, L"data of " + id, copyable, draggable));
    list.AddTail(owned.back().get());
    return owned.back().get();
  }
  ~Items() { list.RemoveAll(); }
};

std::vector<NorvString> Ids(const CNorvTLItemList& list) {
  std::vector<NorvString> ids;
  for (CNorvTreeListItem* item : list) ids.push_back(item->Id());
  return ids;
}

// Destroys a pasted list with its items.
void Dispose(CNorvTLItemList*& list) {
  if (list == nullptr) return;
  list->ClearList();
  delete list;
  list = nullptr;
}

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    CNorvClipBoardItem::parentClass.clear();
    CNorvClipBoardItem::parentId.clear();
    CNorvTreeListItem::TakeObjectFlagTable();
    aliveBefore = CClipTestItem::alive;
  }
  void TearDown() override {
    clipboard->clear();
    CNorvTreeListItem::TakeObjectFlagTable();
    EXPECT_EQ(CClipTestItem::alive, aliveBefore) << "items leaked or destroyed twice";
  }
  QClipboard* clipboard = nullptr;
  int aliveBefore = 0;
};

TEST(ClipboardFormats, MimeTypesMapBothWays) {
  EXPECT_EQ(NorvClipboardMimeType(L"NORV_CLIPFORMAT"), "application/x-norv-clipformat");
  EXPECT_EQ(NorvClipboardMimeType(L"NORV_PARENTINFO"), "application/x-norv-parentinfo");
  EXPECT_EQ(NorvClipboardMimeType(L"NORV_DRAGIMAGE"), "application/x-norv-dragimage");
  EXPECT_EQ(NorvClipboardMimeType(L"copyCMyItem"), "application/x-norv-items;format=copyCMyItem");
  for (const NorvString name : {L"NORV_CLIPFORMAT", L"NORV_PARENTINFO", L"NORV_DRAGIMAGE",
                                L"cutCMyItem", L"dragdrop a;b=c/d%e\u00fc\u4e2d", L""})
    EXPECT_EQ(NorvClipboardFormatName(NorvClipboardMimeType(name)), name);
  // Parameters and spaces never appear raw in the MIME type.
  EXPECT_EQ(NorvClipboardMimeType(L"copyA;B C"), "application/x-norv-items;format=copyA%3BB%20C");
  EXPECT_EQ(NorvClipboardFormatName("text/plain"), L"");
  EXPECT_EQ(NorvItemFormatName(CNorvClipBoardItem::dragdrop, L"X"), L"dragdropX");
  EXPECT_EQ(NorvItemFormatName(3, L"X"), L"");
}

TEST_F(ClipboardTest, CopyOfNothingCopyableLeavesClipboardAndEmptiesList) {
  clipboard->setText("the user's text");
  Items items;
  items.Add(L"a", false);
  items.Add(L"b", false);
  items.list.AddTail(nullptr);
  EXPECT_FALSE(CopyItemsToClipboard(&items.list, nullptr, {}, CNorvClipBoardItem::copy, L"P",
                                    L"1", FALSE, kFormat));
  EXPECT_TRUE(items.list.IsEmpty());
  EXPECT_EQ(clipboard->text(), "the user's text");
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::copy, kFormat));
  // Unlinked, not destroyed.
  EXPECT_EQ(CClipTestItem::alive, aliveBefore + 2);
}

TEST_F(ClipboardTest, CopyKeepsCopyableItemsAndPasteRebuildsThem) {
  Items items;
  items.Add(L"a");
  items.Add(L"no", false);
  items.Add(L"b");
  ASSERT_TRUE(CopyItemsToClipboard(&items.list, nullptr, {}, CNorvClipBoardItem::copy,
                                   L"CParent", L"parent/1", FALSE, kFormat));
  EXPECT_EQ(Ids(items.list), (std::vector<NorvString>{L"a", L"b"}));
  EXPECT_TRUE(CheckItemsOnClipboard(CNorvClipBoardItem::copy, kFormat));
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::cut, kFormat));
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::copy, L"COther"));
  Op op = CNorvClipBoardItem::cut;
  NorvString format;
  ASSERT_TRUE(GetClipBoardFormat(op, format));
  EXPECT_EQ(op, CNorvClipBoardItem::copy);
  EXPECT_EQ(format, kFormat);

  CNorvTLItemList* pasted = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, nullptr, kFormat));
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(Ids(*pasted), (std::vector<NorvString>{L"a", L"b"}));
  // New instances with the items' own data.
  EXPECT_NE(pasted->GetHead(), items.owned[0].get());
  EXPECT_EQ(static_cast<CClipTestItem*>(pasted->GetTail())->payload, L"data of b");
  EXPECT_EQ(CNorvClipBoardItem::parentClass, L"CParent");
  EXPECT_EQ(CNorvClipBoardItem::parentId, L"parent/1");
  Dispose(pasted);
  // A copy can be pasted again.
  EXPECT_TRUE(CheckItemsOnClipboard(CNorvClipBoardItem::copy, kFormat));
  ASSERT_TRUE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, nullptr, kFormat));
  EXPECT_EQ(pasted->GetCount(), 2);
  Dispose(pasted);
  // Reading another operation's items finds nothing and leaves the pointer.
  EXPECT_FALSE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::cut, nullptr, kFormat));
  EXPECT_EQ(pasted, nullptr);
}

TEST_F(ClipboardTest, PasteOfCutEmptiesClipboard) {
  Items items;
  items.Add(L"moved");
  ASSERT_TRUE(CopyItemsToClipboard(&items.list, nullptr, {}, CNorvClipBoardItem::cut, L"CParent",
                                   L"p", FALSE, kFormat));
  CNorvTLItemList* pasted = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::cut, nullptr, kFormat));
  EXPECT_EQ(Ids(*pasted), std::vector<NorvString>{L"moved"});
  Dispose(pasted);
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::cut, kFormat));
  Op op;
  NorvString format;
  EXPECT_FALSE(GetClipBoardFormat(op, format));
  EXPECT_FALSE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::cut, nullptr, kFormat));
}

TEST_F(ClipboardTest, FormatsHoldTheArchiveBytes) {
  Items items;
  items.Add(L"i");
  std::unique_ptr<QMimeData> data(CreateItemsMimeData(
      &items.list, nullptr, {}, CNorvClipBoardItem::copy, L"P", L"Q", FALSE, L"CX"));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data("application/x-norv-clipformat"),
            QByteArray("\xFF\xFE\xFF\x02" "C\0X\0" "\x01\0\0\0", 12));
  EXPECT_EQ(data->data("application/x-norv-parentinfo"),
            QByteArray("\xFF\xFE\xFF\x01" "P\0" "\xFF\xFE\xFF\x01" "Q\0", 12));
  // The carrier, its list (one item) and the item, each with its class tag.
  const QByteArray items_ = data->data("application/x-norv-items;format=copyCX");
  ASSERT_GT(items_.size(), 6);
  EXPECT_EQ(items_.left(6), QByteArray("\xFF\xFF\x01\0\x12\0", 6));
  EXPECT_EQ(items_.mid(6, 18), QByteArray("CNorvClipBoardItem"));
  EXPECT_EQ(items_.mid(24, 6), QByteArray("\xFF\xFF\x01\0\x0F\0", 6));
  EXPECT_EQ(items_.mid(30, 15), QByteArray("CNorvTLItemList"));
  EXPECT_EQ(items_.mid(45, 4), QByteArray("\x01\0\0\0", 4));
}

TEST_F(ClipboardTest, CutReadFromDropDataLeavesClipboardAlone) {
  clipboard->setText("elsewhere");
  Items items;
  items.Add(L"x");
  QMimeData* data = CreateItemsMimeData(&items.list, nullptr, {}, CNorvClipBoardItem::cut, L"P",
                                        L"1", FALSE, kFormat);
  ASSERT_NE(data, nullptr);
  std::unique_ptr<QMimeData> owner(data);
  CNorvTLItemList* pasted = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::cut, data, kFormat));
  Dispose(pasted);
  EXPECT_EQ(clipboard->text(), "elsewhere");
}

TEST_F(ClipboardTest, DragWithoutDropSourceHandsDataToCaller) {
  Items items;
  items.Add(L"drag-me");
  items.Add(L"stuck", true, false);
  CDragImage image;
  image.AddRect(0, 0, 100, 16);
  image.AddRect(0, 16, 100, 32);
  // Nobody to run the drag: refused before the list is touched.
  EXPECT_FALSE(CopyItemsToClipboard(&items.list, &image, {4, 5}, CNorvClipBoardItem::dragdrop,
                                    L"P", L"1", TRUE, kFormat));
  EXPECT_EQ(items.list.GetCount(), 2);

  QMimeData* data = nullptr;
  ASSERT_TRUE(CopyItemsToClipboard(&items.list, &image, {4, 5}, CNorvClipBoardItem::dragdrop,
                                   L"P", L"1", TRUE, kFormat, nullptr, &data));
  ASSERT_NE(data, nullptr);
  std::unique_ptr<QMimeData> owner(data);
  EXPECT_EQ(Ids(items.list), std::vector<NorvString>{L"drag-me"});
  // The clipboard is not involved in a drag.
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::dragdrop, kFormat));
  EXPECT_TRUE(CheckItemsOnClipboard(CNorvClipBoardItem::dragdrop, kFormat, data));

  CDragImage readImage;
  QPoint hotSpot;
  ASSERT_TRUE(GetDragImageFromClipboard(readImage, hotSpot, data));
  EXPECT_EQ(hotSpot, QPoint(4, 5));
  EXPECT_EQ(readImage.GetRects(), image.GetRects());
  EXPECT_FALSE(GetDragImageFromClipboard(readImage, hotSpot));  // not on the clipboard

  CNorvTLItemList* dropped = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(dropped, CNorvClipBoardItem::dragdrop, data, kFormat));
  EXPECT_EQ(Ids(*dropped), std::vector<NorvString>{L"drag-me"});
  Dispose(dropped);
}

TEST_F(ClipboardTest, CopyCarriesNoDragImage) {
  Items items;
  items.Add(L"a");
  CDragImage image;
  image.AddRect(1, 2, 3, 4);
  ASSERT_TRUE(CopyItemsToClipboard(&items.list, &image, {1, 1}, CNorvClipBoardItem::copy, L"P",
                                   L"1", FALSE, kFormat));
  CDragImage read;
  QPoint hotSpot;
  EXPECT_FALSE(GetDragImageFromClipboard(read, hotSpot));
}

TEST_F(ClipboardTest, UnknownItemClassRaisesArchiveErrorAndFreesWhatWasRead) {
  Items items;
  items.Add(L"first");
  items.Add(L"second");
  QMimeData* data = CreateItemsMimeData(&items.list, nullptr, {}, CNorvClipBoardItem::copy, L"P",
                                        L"1", FALSE, kFormat);
  ASSERT_NE(data, nullptr);
  std::unique_ptr<QMimeData> owner(data);
  // Rename the item class in the stored bytes to one that is not loaded.
  const QString mime = NorvClipboardMimeType(L"copy" + kFormat);
  const QByteArray original = data->data(mime);
  QByteArray bytes = original;
  const int at = bytes.indexOf("CClipTestItem");
  ASSERT_GE(at, 0);
  bytes.replace(at, 13, "CGoneTestItem");
  data->setData(mime, bytes);

  CNorvTLItemList* pasted = nullptr;
  try {
    GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, data, kFormat);
    FAIL() << "no archive error";
  } catch (const CNorvArchiveException& e) {
    EXPECT_EQ(e.m_cause, CNorvArchiveException::badClass);
  }
  EXPECT_EQ(pasted, nullptr);

  // Cut short in the second item: the first one, already rebuilt, and the
  // half-read second one are destroyed (TearDown checks the count).
  data->setData(mime, original.left(original.size() - 3));
  EXPECT_THROW(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, data, kFormat),
               CNorvArchiveException);
  EXPECT_EQ(pasted, nullptr);
}

TEST_F(ClipboardTest, MissingParentInfoFailsButHandsOverTheList) {
  Items items;
  items.Add(L"a");
  std::unique_ptr<QMimeData> data(CreateItemsMimeData(
      &items.list, nullptr, {}, CNorvClipBoardItem::copy, L"P", L"1", FALSE, kFormat));
  ASSERT_NE(data, nullptr);
  data->removeFormat("application/x-norv-parentinfo");
  CNorvTLItemList* pasted = nullptr;
  EXPECT_FALSE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, data.get(), kFormat));
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(pasted->GetCount(), 1);
  Dispose(pasted);
  // Damaged parent information counts as missing.
  data->setData("application/x-norv-parentinfo", QByteArray("\x05", 1));
  EXPECT_FALSE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, data.get(), kFormat));
  EXPECT_EQ(CNorvClipBoardItem::parentClass, L"");
  Dispose(pasted);
}

TEST_F(ClipboardTest, ClipFormatRejectsDamagedDataAndUnknownOperations) {
  QMimeData data;
  Op op = CNorvClipBoardItem::copy;
  NorvString format = L"unchanged";
  EXPECT_FALSE(GetClipBoardFormat(op, format, &data));
  data.setData("application/x-norv-clipformat", QByteArray("\x03" "a", 2));
  EXPECT_FALSE(GetClipBoardFormat(op, format, &data));
  CNorvArchive ar;
  ar << NorvString(L"X") << static_cast<std::int32_t>(7);
  data.setData("application/x-norv-clipformat",
               QByteArray(reinterpret_cast<const char*>(ar.GetData().data()),
                          static_cast<qsizetype>(ar.GetData().size())));
  EXPECT_FALSE(GetClipBoardFormat(op, format, &data));
  EXPECT_EQ(format, L"unchanged");
  EXPECT_EQ(op, CNorvClipBoardItem::copy);
}

TEST_F(ClipboardTest, PastedListsOwnTheirItems) {
  Items items;
  for (const wchar_t* id : {L"0", L"1", L"2", L"3"}) items.Add(id);
  ASSERT_TRUE(CopyItemsToClipboard(&items.list, nullptr, {}, CNorvClipBoardItem::copy, L"P",
                                   L"1", FALSE, kFormat));
  CNorvTLItemList* pasted = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(pasted, CNorvClipBoardItem::copy, nullptr, kFormat));
  // A paste reports per item whether it worked; only failures get marked.
  const int results[] = {1, 0, -1, 0};
  pasted->Deleted(results, 3, FALSE);  // the fourth is beyond the count
  std::vector<BOOL> deleted;
  for (CNorvTreeListItem* item : *pasted) deleted.push_back(item->IsDeleted());
  EXPECT_EQ(deleted, (std::vector<BOOL>{FALSE, TRUE, TRUE, FALSE}));
  pasted->Invalidate(results, 4, TRUE);
  std::vector<BOOL> valid;
  for (CNorvTreeListItem* item : *pasted) valid.push_back(item->IsValid());
  EXPECT_EQ(valid, (std::vector<BOOL>{FALSE, TRUE, TRUE, TRUE}));

  // A STATIC item is not the list's to destroy.
  CNorvTreeListItem* kept = pasted->GetHead();
  kept->SetStatic(TRUE);
  Dispose(pasted);
  EXPECT_EQ(kept->Id(), L"0");
  delete kept;
}

TEST_F(ClipboardTest, FilesArriveAsLocalPathsInFull) {
  QMimeData data;
  EXPECT_FALSE(CheckFilesOnClipboard(&data));
  NorvStringList files{L"kept"};
  EXPECT_FALSE(GetFilesFromClipboard(files, &data));
  const NorvString longPath = L"/tmp/" + NorvString(300, L'x') + L"/f\u00fc r.txt";
  SetFilesOnMimeData(&data, {L"/tmp/a b.txt", longPath});
  QList<QUrl> urls = data.urls();
  urls.append(QUrl("https://example.org/x"));
  data.setUrls(urls);
  EXPECT_TRUE(CheckFilesOnClipboard(&data));
  ASSERT_TRUE(GetFilesFromClipboard(files, &data));
  EXPECT_EQ(files, (NorvStringList{L"kept", L"/tmp/a b.txt", longPath}));
  // Only remote addresses: nothing to drop.
  QMimeData remote;
  remote.setUrls({QUrl("https://example.org/x")});
  EXPECT_TRUE(CheckFilesOnClipboard(&remote));
  EXPECT_FALSE(GetFilesFromClipboard(files, &remote));
  // And through the clipboard itself.
  auto* onClipboard = new QMimeData;
  SetFilesOnMimeData(onClipboard, {L"/etc/hosts"});
  clipboard->setMimeData(onClipboard);
  NorvStringList fromClipboard;
  EXPECT_TRUE(CheckFilesOnClipboard());
  ASSERT_TRUE(GetFilesFromClipboard(fromClipboard));
  EXPECT_EQ(fromClipboard, NorvStringList{L"/etc/hosts"});
}

}  // namespace
