// The list view offscreen over the items of list_test_items.h.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "ColumnDialogs.h"
#include "MainFrm.h"
#include "NorvListCtrl.h"
#include "NorvHtmlSchemes.h"
#include "NorvListView.h"
#include "TreeView.h"
#include "list_test_items.h"
#include "norv/NorvColumns.h"
#include "norv/NorvDoc.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvViewServices.h"
#include "norv/Trace.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace {

std::string gScratch;

class RecordingFrame : public INorvListFrame {
 public:
  void SetStatusBarCount(UINT textId, int number) override { counts[textId] = number; }
  void ShowFilterWarning(BOOL show) override { warning = show; }
  std::map<UINT, int> counts;
  BOOL warning = FALSE;
};

// The item model's window services as the frame installs them: children
// unlinked from a list reach the list view.
class ListServices : public INorvViewServices {
 public:
  void ChildrenRemoving(CNorvTreeListItem* parent) override {
    if (CNorvListView* view = CNorvListView::Instance()) view->ChildrenRemoving(parent);
  }
  void ChildrenRemoved(CNorvTreeListItem* parent) override {
    if (CNorvListView* view = CNorvListView::Instance()) view->ChildrenRemoved(parent);
  }
};

void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void WriteArray(const wchar_t* subKey, const NorvString& name, const NorvUIntArray& values) {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, subKey, plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  ASSERT_TRUE(key.SetUIntArray(name, values));
}

NorvUIntArray ReadArray(const wchar_t* subKey, const NorvString& name) {
  NorvUIntArray values;
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, subKey, plat::KEY_READ);
  if (key.IsOpen()) key.GetUIntArray(name, values);
  return values;
}

void WriteFilters(const NorvString& name, const NorvString& text) {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"ColumnFilters", plat::KEY_ALL_ACCESS);
  ASSERT_TRUE(key.IsOpen());
  ASSERT_TRUE(key.SetStringValue(name, text));
}

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every test starts from an empty registry.
    static int counter = 0;
    const fs::path dir = fs::path(gScratch) / ("registry" + std::to_string(++counter));
    fs::create_directories(dir);
    setenv("NORV_REGISTRY_DIR", dir.c_str(), 1);
    ListWorld& world = ListWorld::Get();
    world.Reset();
    world.names = {L"Name", L"Size", L"Type"};
    world.widths = {120, 80, 60};
    world.ids = {1, 2, 3};
    world.formats = {0, 1, 0};
    world.sortResult = 1;
    world.children[L"C"] = {L"b", L"d", L"a", L"c"};
    world.cells[L"a"] = {{1, L"a"}, {2, L"30"}, {3, L"txt"}};
    world.cells[L"b"] = {{1, L"b"}, {2, L"10"}, {3, L"doc"}};
    world.cells[L"c"] = {{1, L"c"}, {2, L"40"}, {3, L"tar"}};
    world.cells[L"d"] = {{1, L"d"}, {2, L"20"}, {3, L"bin"}};
    container = new CListItem;
    container->Initialize(nullptr, L"C");
    view = std::make_unique<CNorvListView>();
    view->SetFrame(&frame);
    view->resize(600, 400);
    view->show();
    NorvSetViewServices(&services);
  }
  void TearDown() override {
    NorvSetViewServices(nullptr);
    view.reset();
    delete container;
  }

  // The child ids in row order.
  std::vector<NorvString> Rows() const {
    std::vector<NorvString> ids;
    for (int r = 0; r < view->Model()->RowCount(); ++r) ids.push_back(view->Model()->Item(r)->Id());
    return ids;
  }
  CNorvTreeListItem* Child(const NorvString& id) const {
    return container->GetItemList().FindObject(L"CListItem", id);
  }

  RecordingFrame frame;
  ListServices services;
  std::unique_ptr<CNorvListView> view;
  CListItem* container = nullptr;
};

using Ids = std::vector<NorvString>;

TEST_F(ListViewTest, FillsRowsFromTheChildrenWithHiddenColumnsFetched) {
  ListWorld::Get().widths[1] = 0x80000000u | 80u;  // Size hidden until shown
  ASSERT_TRUE(view->ShowContents(container));
  CNorvListModel* model = view->Model();
  EXPECT_EQ(model->RowCount(), 4);
  EXPECT_EQ(model->VisibleCount(), 2);
  EXPECT_EQ(view->VisibleColumnIds(), (NorvUIntArray{1, 3}));
  EXPECT_EQ(Rows(), (Ids{L"a", L"b", L"c", L"d"}));  // by the default sort column
  // The hidden column's texts were read and kept.
  EXPECT_EQ(model->CellText(0, 1), L"30");
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QStringLiteral("txt"));
  // The rows know their row numbers; the status bar has the count.
  for (int r = 0; r < model->RowCount(); ++r) EXPECT_EQ(model->Item(r)->GetListHandle(), r);
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_COUNT], 4);
  EXPECT_FALSE(frame.warning);
  EXPECT_TRUE(view->Details()->currentIndex().isValid());
  EXPECT_EQ(view->Details()->header()->sectionSize(0), 120);
  EXPECT_TRUE(view->Model()->Item(0)->GetParent() == container);
}

TEST_F(ListViewTest, ColumnSetKeyIsClassAndMd5OfTheIdsWithoutTheTopBit) {
  ListWorld::Get().ids = {1, 0x80000002u, 3};
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->ColumnSetKey(), L"CListItem:2A1DD1E1E59D0A384C26951E316CD7E6");
  EXPECT_EQ(CNorvListView::MakeColumnSetKey(L"X", {1, 2, 3}),
            L"X:2A1DD1E1E59D0A384C26951E316CD7E6");
  EXPECT_NE(CNorvListView::MakeColumnSetKey(L"X", {1, 2, 4}),
            CNorvListView::MakeColumnSetKey(L"X", {1, 2, 3}));
}

TEST_F(ListViewTest, HeaderClicksReverseAndEachColumnKeepsItsDirection) {
  ListWorld::Get().ids = {1, 0x80000002u, 3};  // Size sorts descending first
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_TRUE(view->SortAscending());
  EXPECT_EQ(view->Model()->HeaderFlags(0), NORV_HEADER_SORTED_ASCENDING);
  view->OnHeaderClicked(0);  // the same column again: reversed
  EXPECT_EQ(Rows(), (Ids{L"d", L"c", L"b", L"a"}));
  EXPECT_EQ(view->Model()->HeaderFlags(0), NORV_HEADER_SORTED_DESCENDING);
  view->OnHeaderClicked(1);  // first click on a top-bit column: descending
  EXPECT_FALSE(view->SortAscending());
  EXPECT_EQ(view->SortColumnId(), 2u);
  EXPECT_EQ(Rows(), (Ids{L"c", L"a", L"d", L"b"}));
  EXPECT_EQ(view->Model()->HeaderFlags(0), 0u);
  view->OnHeaderClicked(2);  // never sorted: its default, ascending
  EXPECT_TRUE(view->SortAscending());
  EXPECT_EQ(Rows(), (Ids{L"d", L"b", L"c", L"a"}));
  view->OnHeaderClicked(0);  // back to Name: the direction it had last
  EXPECT_FALSE(view->SortAscending());
  EXPECT_EQ(Rows(), (Ids{L"d", L"c", L"b", L"a"}));
  EXPECT_EQ(ReadArray(L"ListSortings", view->ColumnSetKey()), (NorvUIntArray{0, 0, 0, 1}));
  // Showing the item again sorts as saved, without toggling.
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->SortColumn(), 0);
  EXPECT_FALSE(view->SortAscending());
  EXPECT_EQ(Rows(), (Ids{L"d", L"c", L"b", L"a"}));
}

TEST_F(ListViewTest, ResetFlagDiscardsSavedWidthsOrderAndSorting) {
  ASSERT_TRUE(view->ShowContents(container));
  const NorvString key = view->ColumnSetKey();
  view->Details()->header()->resizeSection(0, 222);
  EXPECT_EQ(ReadArray(L"ColumnWidths", key), (NorvUIntArray{222, 80, 60}));
  view->OnHeaderClicked(1);
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->Widths()[0], 222u);
  EXPECT_EQ(view->SortColumn(), 1);

  ListWorld::Get().sortResult = static_cast<int>(0x80000003u);  // reset, sort by Type
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->Widths()[0], 120u);
  EXPECT_EQ(view->SortColumn(), 2);
  EXPECT_EQ(ReadArray(L"ListSortings", key), (NorvUIntArray{2, 1, 1, 1}));
  // A sort id that names no column sorts by the first one.
  ListWorld::Get().sortResult = static_cast<int>(0x80000009u);
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->SortColumn(), 0);
}

TEST_F(ListViewTest, SavedFiltersHideRowsMarkHeadersAndWarn) {
  ASSERT_TRUE(view->ShowContents(container));
  const NorvString key = view->ColumnSetKey();
  // Type must match "t*" and Name must not be "c"; a disabled record
  // filters nothing.
  WriteFilters(key, L"$3,1,0,\"t*\" $1,1,1,\"c\" $2,0,0,\"nothing\" ");
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows(), (Ids{L"a"}));
  EXPECT_TRUE(frame.warning);
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_COUNT], 1);
  EXPECT_EQ(view->Model()->HeaderFlags(0) & NORV_HEADER_FILTERED, NORV_HEADER_FILTERED);
  EXPECT_EQ(view->Model()->HeaderFlags(1) & NORV_HEADER_FILTERED, 0u);
  EXPECT_EQ(view->Model()->HeaderFlags(2) & NORV_HEADER_FILTERED, NORV_HEADER_FILTERED);

  // A filter on a hidden column applies too.
  WriteArray(L"ColumnWidths", key, {120, 80, 0x80000000u | 60u});
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows(), (Ids{L"a"}));

  // A text that breaks off keeps the records before it.
  WriteFilters(key, L"$3,1,0,\"t*\" $1,1,1,\"c");
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows(), (Ids{L"a", L"c"}));

  // Without the filter feature the saved filters are not read.
  ListWorld::Get().features[CNorvListView::kFeatureColumnFilters] = 0;
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_FALSE(frame.warning);
}

TEST_F(ListViewTest, ItemsFixedFiltersFilterWithoutMarkOrWarning) {
  ListWorld::Get().fixedFilters = {{3, NORV_FILTER_NOT_MATCH, L"txt"}};
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows(), (Ids{L"b", L"c", L"d"}));
  EXPECT_FALSE(frame.warning);
  for (int v = 0; v < view->Model()->VisibleCount(); ++v)
    EXPECT_EQ(view->Model()->HeaderFlags(v) & NORV_HEADER_FILTERED, 0u);
}

TEST_F(ListViewTest, UpdateContentsDropsGoneRowsAndAppendsNewOnesFiltered) {
  ASSERT_TRUE(view->ShowContents(container));
  WriteFilters(view->ColumnSetKey(), L"$3,1,1,\"bin\" ");
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(Rows(), (Ids{L"a", L"b", L"c"}));
  ListWorld& world = ListWorld::Get();
  world.cells[L"e"] = {{1, L"0e"}, {2, L"5"}, {3, L"doc"}};
  world.cells[L"f"] = {{1, L"0f"}, {2, L"6"}, {3, L"bin"}};
  world.children[L"C"] = {L"a", L"c", L"d", L"e", L"f"};
  container->Sync();  // b goes, e and f come
  world.textReads = 0;
  ASSERT_TRUE(view->UpdateContents(container));
  // Existing rows stay where they are and are not read again; the children
  // without a row (d, filtered before, and the new e and f) are read and
  // filtered, e is added at the end.
  EXPECT_EQ(Rows(), (Ids{L"a", L"c", L"e"}));
  EXPECT_EQ(world.textReads, 9);
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_COUNT], 3);
  for (int r = 0; r < view->Model()->RowCount(); ++r)
    EXPECT_EQ(view->Model()->Item(r)->GetListHandle(), r);
}

TEST_F(ListViewTest, RemoveAndUpdateContainedItem) {
  ASSERT_TRUE(view->ShowContents(container));
  CNorvTreeListItem* b = Child(L"b");
  ASSERT_TRUE(view->RemoveContainedItem(b));
  EXPECT_FALSE(view->RemoveContainedItem(b));
  EXPECT_EQ(Rows(), (Ids{L"a", L"c", L"d"}));
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_COUNT], 3);
  for (int r = 0; r < view->Model()->RowCount(); ++r)
    EXPECT_EQ(view->Model()->Item(r)->GetListHandle(), r);
  // A changed row is read again and sorted into its place.
  ListWorld::Get().cells[L"a"][1] = L"z";
  ASSERT_TRUE(view->UpdateContainedItem(Child(L"a")));
  EXPECT_EQ(Rows(), (Ids{L"c", L"d", L"a"}));
  EXPECT_EQ(view->Model()->CellText(2, 0), L"z");
  EXPECT_FALSE(view->UpdateContainedItem(b));
}

TEST_F(ListViewTest, ChildrenDestroyedByAWorkerLeaveNoRowBehind) {
  ASSERT_TRUE(view->ShowContents(container));
  CNorvTreeListItem* b = Child(L"b");
  std::thread worker([&] {
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    container->GetItemList().Remove(b);
    delete b;
  });
  worker.join();
  // Until the user-interface thread catches up, no row's item is called.
  view->Details()->viewport()->repaint();
  QCoreApplication::processEvents();
  EXPECT_EQ(Rows(), (Ids{L"a", L"c", L"d"}));
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_COUNT], 3);
}

TEST_F(ListViewTest, SavedLayoutIsSharedByTheColumnSetOnly) {
  ASSERT_TRUE(view->ShowContents(container));
  view->Details()->header()->resizeSection(1, 150);
  view->ToggleColumn(2);  // hide Type (shows the item again)
  EXPECT_EQ(view->Model()->VisibleCount(), 2);
  view->OnHeaderClicked(1);

  // Another item of the class with the same columns gets the same layout.
  ListWorld::Get().children[L"D"] = {L"a", L"b"};
  CListItem other;
  other.Initialize(nullptr, L"D");
  ASSERT_TRUE(view->ShowContents(&other));
  EXPECT_EQ(view->Widths(), (NorvUIntArray{120, 150, 0u - 60u}));
  EXPECT_EQ(view->Model()->VisibleCount(), 2);
  EXPECT_EQ(view->SortColumn(), 1);
  EXPECT_EQ(view->Details()->header()->sectionSize(1), 150);

  // One column id changed: a fresh column set.
  ListWorld::Get().ids = {1, 2, 4};
  ASSERT_TRUE(view->ShowContents(&other));
  EXPECT_EQ(view->Widths(), (NorvUIntArray{120, 80, 60}));
  EXPECT_EQ(view->Model()->VisibleCount(), 3);
  EXPECT_EQ(view->SortColumn(), 0);
  view->EraseContents();
}

TEST_F(ListViewTest, StoredSettingsThatNoLongerFitAreIgnoredWithATraceLine) {
  {
    CNorvPrivateRegistryKey trace(plat::HKEY_CURRENT_USER, L"Trace", plat::KEY_ALL_ACCESS);
    trace.SetUIntValue(L"Enabled", 1);
    trace.SetStringValue(L"Location", fs::path(gScratch).wstring());
    trace.SetUIntValue(L"Level", 2);
    trace.SetUIntValue(L"KeepFiles", 0);
  }
  ASSERT_TRUE(Trace::Start(nullptr));
  const NorvString key = CNorvListView::MakeColumnSetKey(L"CListItem", ListWorld::Get().ids);
  WriteArray(L"ColumnWidths", key, {10, 20, 30, 40, 50});  // longer: cut
  WriteArray(L"ColumnOrders", key, {0, 5, 1});             // names no column
  WriteArray(L"ListSortings", key, {7, 1, 1, 1});          // sorts a column that is gone
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_EQ(view->Widths(), (NorvUIntArray{10, 20, 30}));
  EXPECT_EQ(view->ColumnOrder(), (NorvUIntArray{0, 1, 2}));
  EXPECT_EQ(view->SortColumn(), 0);
  EXPECT_EQ(Rows(), (Ids{L"a", L"b", L"c", L"d"}));
  std::ifstream log(fs::path(Trace::GetTraceFileName()).string() + "_log.txt");
  std::stringstream text;
  text << log.rdbuf();
  Trace::Stop();
  EXPECT_NE(text.str().find("column order"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("stored sorting"), std::string::npos) << text.str();
}

TEST_F(ListViewTest, ShowingAndHidingColumnsKeepsWidthsAndOrder) {
  ASSERT_TRUE(view->ShowContents(container));
  WriteArray(L"ColumnOrders", view->ColumnSetKey(), {2, 1, 0});
  ASSERT_TRUE(view->ShowContents(container));
  view->ToggleColumn(1);
  EXPECT_EQ(view->Widths()[1], 0u - 80u);
  EXPECT_EQ(view->ColumnOrder(), (NorvUIntArray{1, 0}));
  EXPECT_EQ(view->Details()->header()->logicalIndex(0), 1);  // Type first
  view->ToggleColumn(1);
  EXPECT_EQ(view->Widths()[1], 80u);
  EXPECT_EQ(view->ColumnOrder(), (NorvUIntArray{2, 1, 0}));

  view->HideAllColumns();
  EXPECT_EQ(view->Model()->VisibleCount(), 0);
  EXPECT_TRUE(view->ColumnOrder().empty());
  view->ShowAllColumns();
  EXPECT_EQ(view->Widths(), (NorvUIntArray{120, 80, 60}));
  EXPECT_EQ(view->ColumnOrder(), (NorvUIntArray{0, 1, 2}));

  // A column of width 0 cannot be hidden and keeps its place.
  WriteArray(L"ColumnWidths", view->ColumnSetKey(), {120, 0, 60});
  ASSERT_TRUE(view->ShowContents(container));
  view->HideAllColumns();
  EXPECT_EQ(view->VisibleColumnIds(), (NorvUIntArray{2}));
  EXPECT_EQ(view->ColumnOrder(), (NorvUIntArray{0}));
}

TEST_F(ListViewTest, ColumnSettingsDialogHidesAndReordersThroughTheSavedArrays) {
  ASSERT_TRUE(view->ShowContents(container));
  const NorvString key = view->ColumnSetKey();
  // The user hides Size and moves Type to the top.
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<CColumnSettings*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    CTabCheckListBox* list = dialog->ColumnList();
    ASSERT_EQ(list->count(), 3);
    list->SetCheck(1, FALSE);
    list->clearSelection();
    list->item(2)->setSelected(true);
    dialog->OnMoveUp();
    dialog->OnMoveUp();
    dialog->accept();
  });
  view->OnCommand(ID_NORV_CMD_COLUMN_SETTINGS);
  EXPECT_EQ(ReadArray(L"ColumnWidths", key), (NorvUIntArray{120, 0u - 80u, 60}));
  EXPECT_EQ(ReadArray(L"ColumnOrders", key), (NorvUIntArray{1, 0}));
  EXPECT_EQ(view->VisibleColumnIds(), (NorvUIntArray{1, 3}));
  EXPECT_EQ(view->Details()->header()->logicalIndex(0), 1);
  EXPECT_EQ(view->CopyAsText(), L"Type\tName\r\n");
}

TEST_F(ListViewTest, CopyAsTextSkipsEmptyLeadingFieldsAndHiddenColumns) {
  ListWorld& world = ListWorld::Get();
  world.cells[L"b"][3] = L"";    // Type empty
  world.cells[L"c"][1] = L"cü";  // not ASCII
  world.cells[L"c"][3] = L"txt";
  ASSERT_TRUE(view->ShowContents(container));
  WriteArray(L"ColumnWidths", view->ColumnSetKey(), {120, 0x80000000u | 80u, 60});
  WriteArray(L"ColumnOrders", view->ColumnSetKey(), {1, 0});  // Type, Name
  ASSERT_TRUE(view->ShowContents(container));
  CNorvTLItemList list;
  list.AddTail(Child(L"b"));
  list.AddTail(Child(L"c"));
  ASSERT_TRUE(view->SelectItems(&list));
  list.RemoveAll();
  EXPECT_EQ(view->CopyAsText(), L"Type\tName\r\nb\r\ntxt\tcü\r\n");
  ASSERT_TRUE(view->OnCommand(ID_NORV_CMD_COPY_AS_TEXT));
  const QMimeData* data = QApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data(QStringLiteral("text/plain;charset=utf-8")),
            QByteArray("Type\tName\r\nb\r\ntxt\tc\xC3\xBC\r\n"));
}

TEST_F(ListViewTest, ACompareThatIsNoOrderDoesNotBreakTheSort) {
  ListWorld& world = ListWorld::Get();
  world.brokenCompare = true;
  std::vector<NorvString>& ids = world.children[L"C"];
  ids.clear();
  for (int i = 0; i < 3000; ++i) {
    ids.push_back(L"r" + std::to_wstring(i));
    world.cells[ids.back()] = {{1, ids.back()}};
  }
  ASSERT_TRUE(view->ShowContents(container));
  for (int click = 0; click < 4; ++click) view->OnHeaderClicked(click % 3);
  const std::vector<NorvString> rows = Rows();
  EXPECT_EQ(std::set<NorvString>(rows.begin(), rows.end()),
            std::set<NorvString>(ids.begin(), ids.end()));
  EXPECT_EQ(rows.size(), ids.size());
}

TEST_F(ListViewTest, SelectionReachesTheContainerAfterTheTimer) {
  ASSERT_TRUE(view->ShowContents(container));
  EXPECT_TRUE(view->AllowTimerRefresh());
  CNorvTLItemList list;
  list.AddTail(Child(L"c"));
  list.AddTail(Child(L"a"));
  view->SelectItems(&list);
  list.RemoveAll();
  EXPECT_EQ(frame.counts[ID_NORV_STATUS_SELECTED], 2);
  EXPECT_FALSE(view->AllowTimerRefresh());
  EXPECT_TRUE(ListWorld::Get().selections.empty());
  Spin(CNorvListView::kSelectionDelay + 150);
  ASSERT_EQ(ListWorld::Get().selections.size(), 1u);
  EXPECT_EQ(ListWorld::Get().selections[0].first, L"C");
  EXPECT_EQ(ListWorld::Get().selections[0].second, (Ids{L"a", L"c"}));

  // Commands go to the selected rows; a double click on an item of an old
  // plugin without a tree ends in properties.
  view->ItemCommand(ID_NORV_CMD_DELETE, 0, nullptr);
  view->ItemCommand(ID_NORV_ITEMCMD_DBLCLK, 0, nullptr);
  auto& calls = ListWorld::Get().calls;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].id, L"a");
  EXPECT_EQ(calls[0].command, ID_NORV_CMD_DELETE);
  EXPECT_EQ(calls[0].list, (Ids{L"a", L"c"}));
  EXPECT_EQ(calls[1].command, ID_NORV_CMD_PROPERTIES);
  // A cut puts the copyable selected rows on the clipboard, dims exactly
  // them and tells the target.
  ListWorld::Get().features[ID_NORV_CMD_CUT] = 1;
  view->ItemCommand(ID_NORV_CMD_CUT, 0, nullptr);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].command, ID_NORV_CMD_CUT);
  EXPECT_EQ(calls[2].list, (Ids{L"a", L"c"}));
  EXPECT_TRUE(view->IsCutItem(Child(L"a")));
  EXPECT_TRUE(view->IsCutItem(Child(L"c")));
  EXPECT_FALSE(view->IsCutItem(Child(L"b")));
  calls.clear();
  // Without a selection, delete has no target; new goes to the container.
  view->Details()->selectionModel()->clearSelection();
  view->ItemCommand(ID_NORV_CMD_DELETE, 0, nullptr);
  view->ItemCommand(ID_NORV_CMD_NEW, 0, nullptr);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].id, L"C");
  EXPECT_EQ(calls[0].list, (Ids{L"C"}));
}

TEST_F(ListViewTest, LabelEditAsksTheItem) {
  ASSERT_TRUE(view->ShowContents(container));
  CNorvListModel* model = view->Model();
  EXPECT_TRUE(model->setData(model->index(0, 0), QStringLiteral("renamed")));
  EXPECT_EQ(model->CellText(0, 0), L"renamed");
  EXPECT_FALSE(model->setData(model->index(1, 0), QString()));
  EXPECT_EQ(model->CellText(1, 0), L"b");
}

TEST_F(ListViewTest, ViewStylesShareOneModelAndSelection) {
  ASSERT_TRUE(view->ShowContents(container));
  for (DWORD style : {CNorvListView::kStyleIcon, CNorvListView::kStyleSmallIcon,
                      CNorvListView::kStyleList, CNorvListView::kStyleDetails}) {
    view->SetListView(style);
    EXPECT_EQ(view->GetListView(), style);
    BOOL checked = FALSE;
    view->SetListViewCmdUI(checked, style);
    EXPECT_TRUE(checked);
  }
  view->SetListView(CNorvListView::kStyleList);
  EXPECT_EQ(view->CurrentPane(), view->Icons());
  EXPECT_EQ(view->Icons()->model(), view->Details()->model());
  EXPECT_EQ(view->Icons()->selectionModel(), view->Details()->selectionModel());
}

TEST_F(ListViewTest, AccessErrorLeavesTheListEmpty) {
  container->SetFlags(NORV_ITEM_ACCESSERROR, TRUE);
  EXPECT_FALSE(view->ShowContents(container));
  EXPECT_EQ(view->Model()->RowCount(), 0);
  EXPECT_EQ(view->Model()->VisibleCount(), 0);
}

TEST_F(ListViewTest, ListControlKeepsChildOrderAndSavesOnlyWhenAsked) {
  CNorvListCtrl control;
  control.resize(400, 300);
  control.show();
  ASSERT_TRUE(control.ShowContents(container));
  ASSERT_EQ(control.Model()->RowCount(), 4);
  std::vector<NorvString> rows;
  for (int r = 0; r < 4; ++r) rows.push_back(control.GetListItem(r)->Id());
  EXPECT_EQ(rows, (Ids{L"b", L"d", L"a", L"c"}));  // child-list order, no sorting
  const NorvString key = control.ColumnSetKey();
  control.header()->resizeSection(0, 170);
  EXPECT_TRUE(ReadArray(L"ColumnWidths", key).empty());

  control.EnableColumnSettingsPersistency(TRUE);
  control.header()->resizeSection(0, 180);
  EXPECT_EQ(ReadArray(L"ColumnWidths", key), (NorvUIntArray{180, 80, 60}));
  ASSERT_TRUE(control.ShowContents(container));
  EXPECT_EQ(control.header()->sectionSize(0), 180);

  // Check boxes belong to the items, whatever row they are in.
  control.EnableCheckBoxes(TRUE);
  ASSERT_TRUE(control.ShowContents(container));
  EXPECT_TRUE(control.SetCheck(Child(L"a"), TRUE));
  CNorvTLItemList checked;
  control.GetCheckedItems(checked);
  ASSERT_EQ(checked.GetCount(), 1);
  EXPECT_EQ(checked.GetHead(), Child(L"a"));
  checked.RemoveAll();
  EXPECT_TRUE(control.GetCheck(Child(L"a")));
  EXPECT_FALSE(control.GetCheck(Child(L"b")));

  // A refresh re-reads only rows whose item says it changed.
  ListWorld& world = ListWorld::Get();
  world.cells[L"a"][1] = L"A!";
  world.refreshResult = FALSE;
  control.RefreshList(FALSE);
  EXPECT_EQ(control.Model()->CellText(2, 0), L"a");
  world.refreshResult = TRUE;
  EXPECT_TRUE(control.RefreshItem(Child(L"a")));
  EXPECT_EQ(control.Model()->CellText(2, 0), L"A!");

  // A timer callback that answers FALSE ends the timed refresh.
  int calls = 0;
  control.SetRefreshTimer(20, [&calls](void*) { return ++calls < 2 ? TRUE : FALSE; });
  Spin(200);
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(control.IsRefreshTimerEnabled());
  control.EraseContents();
}

TEST_F(ListViewTest, MainFrameShowsTheSelectionInItsListView) {
  ListWorld& world = ListWorld::Get();
  world.children[L"R"] = {L"C"};
  NorvSetMessageBoxHook([](const NorvString&, const NorvString&, UINT) { return IDOK; });
  {
    CNorvDoc doc;
    auto frame = std::make_unique<CMainFrame>(&doc);
    frame->show();
    CNorvListView* list = frame->ListView();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(doc.GetListView(), list);
    auto* root = new CListItem;
    root->Initialize(nullptr, L"R");
    frame->InitTreeView(root);
    ASSERT_EQ(frame->Tree()->NavigateTo(L"/C"), TreeView::NavigationOk);
    Spin(50);
    EXPECT_EQ(doc.GetCurrentView(), list);
    ASSERT_EQ(list->Model()->RowCount(), 4);
    CNorvTreeListItem* shown = list->Container();
    ASSERT_NE(shown, nullptr);

    // View styles: the item keeps its mode, the rows stay.
    BOOL enabled = FALSE, checked = FALSE;
    EXPECT_TRUE(frame->OnCommand(ID_NORV_CMD_VIEW_STYLE_FIRST + NORV_VIEWMODE_LIST));
    EXPECT_EQ(list->GetListView(), CNorvListView::kStyleList);
    EXPECT_EQ(shown->GetViewMode(), NORV_VIEWMODE_LIST);
    frame->OnUpdateCommand(ID_NORV_CMD_VIEW_STYLE_FIRST + NORV_VIEWMODE_LIST, enabled, checked);
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(frame->OnCommand(ID_NORV_CMD_VIEW_STYLE_FIRST + NORV_VIEWMODE_REPORT));
    EXPECT_EQ(list->GetListView(), CNorvListView::kStyleDetails);
    EXPECT_EQ(list->Model()->RowCount(), 4);

    // Select all and invert selection from the menus; the item model's
    // services reach the list.
    EXPECT_TRUE(frame->OnCommand(ID_NORV_CMD_SELECT_ALL));
    EXPECT_EQ(list->GetSelectedCount(), 4);
    EXPECT_TRUE(frame->OnCommand(ID_NORV_CMD_INVERT_SELECTION));
    EXPECT_EQ(list->GetSelectedCount(), 0);
    CNorvTLItemList select;
    select.AddTail(list->Model()->Item(1));
    EXPECT_TRUE(CNorvTreeListItem::SelectListViewItems(&select));
    select.RemoveAll();
    EXPECT_EQ(list->GetSelectedCount(), 1);
    int column = 0, ascending = 0;
    EXPECT_TRUE(shown->GetListSorting(column, ascending));
    EXPECT_EQ(column, 1);
    EXPECT_EQ(ascending, 1);

    // A child list flagged as updated reaches the shown rows at the tree's
    // next refresh, without a new fill.
    world.children[shown->Id()].push_back(L"late");
    static_cast<CListItem*>(shown)->Sync();
    shown->SetFlags(NORV_ITEM_LISTUPDATED, FALSE);
    frame->Tree()->AutoRefresh(nullptr, FALSE);
    EXPECT_EQ(list->Model()->RowCount(), 5);
    EXPECT_EQ(list->Container(), shown);

    // A saved filter shows the warning.
    auto* warning = frame->findChild<QLabel*>(QStringLiteral("FilterWarning"));
    EXPECT_TRUE(warning == nullptr || warning->isHidden());
    WriteFilters(list->ColumnSetKey(), L"$3,1,0,\"t*\" ");
    ASSERT_TRUE(list->ShowContents(shown));
    warning = frame->findChild<QLabel*>(QStringLiteral("FilterWarning"));
    ASSERT_NE(warning, nullptr);
    EXPECT_FALSE(warning->isHidden());
    EXPECT_EQ(list->Model()->RowCount(), 2);

    frame->RootDestroying(root);
    delete root;
    frame.reset();
  }
  NorvSetMessageBoxHook(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/norv-list-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  gScratch = pattern;
  setenv("NORV_REGISTRY_DIR", (gScratch + "/registry0").c_str(), 1);
  fs::create_directories(gScratch + "/registry0");
  if (getenv("NORV_RUNTIME_DIR") == nullptr) {
    fs::create_directories(gScratch + "/runtime");
    setenv("NORV_RUNTIME_DIR", (gScratch + "/runtime").c_str(), 1);
  }
  // The main frame's HTML panes start the browser engine, which runs as
  // root only without its sandbox.
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  NorvRegisterHtmlSchemes();
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  fs::remove_all(gScratch, ignored);
  return result;
}
