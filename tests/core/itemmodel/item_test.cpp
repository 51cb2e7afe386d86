// The item base class: creation by name, flags and the object flag table,
// sorting, navigation paths, new explorer windows, traced calls and the
// services that reach the views.
#include <gtest/gtest.h>
#include <QIcon>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvViewServices.h"
#include "norv/Trace.h"
#include "platform/library.h"
#include "platform/process.h"
#include "platform/text.h"
#include "test_items.h"

NORV_IMPLEMENT_SERIAL(CTestItem, CNorvTreeListItem, 1)

int CTestItem::destroyed = 0;
std::vector<std::pair<const CNorvTreeListItem*, UINT>> CTestItem::commandLog;
BOOL CTestItem::initializeResult = TRUE;
CNorvTreeListItem* CTestItem::activeDuringInitialize = nullptr;

CmdResult CTestItem::Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) {
  lastCommand = commandId;
  commandLog.emplace_back(this, commandId);
  lastListCount = list != nullptr ? list->GetCount() : -1;
  indentDuringCommand = Trace::GetIndent();
  return CMD_HANDLED;
}

namespace {

constexpr const char* kArgvOut = "NORV_ITEMMODEL_ARGV_OUT";

class ItemModel : public ::testing::Test {
 protected:
  void SetUp() override {
    CNorvTreeListItem::TakeObjectFlagTable();
    CTestItem::initializeResult = TRUE;
  }
  void TearDown() override { NorvSetViewServices(nullptr); }
};

// Records what the item model asks of the windows.
struct FakeServices : INorvViewServices {
  CNorvTreeListItem* selected = nullptr;
  std::vector<CNorvTreeListItem*> destroyed;
  int addressImage = 0;
  int imageIndex = 0;
  NorvString classPath;
  DWORD classPathFlags = 0;
  NorvString helpFile;
  UINT helpCommand = 0;
  CNorvTreeListItem* GetSelectedTreeItem() override { return selected; }
  void ItemDestroyed(CNorvTreeListItem* item) override {
    destroyed.push_back(item);
    if (item == selected) selected = nullptr;
  }
  BOOL SetAddressBarInfo(const NorvString&, int image, int, int, const NorvString&) override {
    addressImage = image;
    return TRUE;
  }
  BOOL ModifyImageList(ImageListType, int index, const QIcon&) override {
    imageIndex = index;
    return TRUE;
  }
  BOOL RefreshClassPath(const NorvString& path, CNorvTreeListItem*, DWORD flags) override {
    classPath = path;
    classPathFlags = flags;
    return TRUE;
  }
  BOOL GetListSorting(int& column, int& ascending) override {
    column = 2;
    ascending = 0;
    return TRUE;
  }
  BOOL ShowHelp(DWORD, UINT command, const NorvString& file) override {
    helpCommand = command;
    helpFile = file;
    return TRUE;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Construction and creation by name
// ---------------------------------------------------------------------------

TEST_F(ItemModel, NewItemDefaults) {
  CTestItem item;
  EXPECT_EQ(item.GetFlags(), NORV_ITEM_LISTINVALID);
  EXPECT_EQ(item.GetViewMode(), 3);
  EXPECT_TRUE(item.HasViewMode(0));
  EXPECT_TRUE(item.HasViewMode(3));
  EXPECT_FALSE(item.HasViewMode(4));
  EXPECT_FALSE(item.HasViewMode(-1));
  EXPECT_EQ(item.GetItemListMask(), 3u);
  EXPECT_EQ(item.GetParent(), nullptr);
  EXPECT_EQ(item.GetTreeHandle(), nullptr);
  EXPECT_EQ(item.GetContextHelpId(), 30000u);
  EXPECT_EQ(item.GetClipboardFormat(), L"CTestItem");
  EXPECT_EQ(item.GetClassName(), L"CTestItem");
  // Until a real id is set: "@" and the address in hexadecimal.
  const NorvString id = item.Id();
  ASSERT_GT(id.size(), 1u);
  EXPECT_EQ(id[0], L'@');
  EXPECT_EQ(std::wcstoull(id.c_str() + 1, nullptr, 16),
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&item)));
  CNorvTreeListItem base;
  EXPECT_FALSE(base.Initialize(nullptr, L"x"));
  EXPECT_TRUE(base.HasTreeItems());
  NorvStringList* titles = nullptr;
  NorvUIntArray* widths = nullptr;
  NorvUIntArray* ids = nullptr;
  NorvUIntArray* formats = nullptr;
  EXPECT_EQ(base.ListColumns(titles, widths, ids, formats), -1);
}

TEST_F(ItemModel, CreateObjectByClassName) {
  CTestItem parent;
  CNorvTreeListItem* item = CNorvTreeListItem::CreateObject(&parent, L"CTestItem", L"one");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Id(), L"one");
  EXPECT_EQ(item->GetParent(), &parent);
  EXPECT_EQ(CTestItem::activeDuringInitialize, item);
  EXPECT_EQ(CNorvTreeListItem::GetActiveItemDepth(), 0);
  EXPECT_EQ(item->GetObjectAddress(), L"CTestItem://one");
  delete item;

  EXPECT_EQ(CNorvTreeListItem::CreateObject(&parent, L"ctestitem", L"x"), nullptr);
  EXPECT_EQ(CNorvTreeListItem::CreateObject(&parent, L"CNoSuchItem", L"x"), nullptr);
  // A registered class that is not an item.
  EXPECT_EQ(CNorvTreeListItem::CreateObject(&parent, L"CNorvTLItemList", L"x"), nullptr);
  // The base class refuses Initialize.
  EXPECT_EQ(CNorvTreeListItem::CreateObject(&parent, L"CNorvTreeListItem", L"x"), nullptr);

  // A failed Initialize destroys the half-made item.
  CTestItem::initializeResult = FALSE;
  const int before = CTestItem::destroyed;
  EXPECT_EQ(CNorvTreeListItem::CreateObject(&parent, L"CTestItem", L"x"), nullptr);
  EXPECT_EQ(CTestItem::destroyed, before + 1);
  EXPECT_EQ(CNorvTreeListItem::GetActiveItemDepth(), 0);
}

TEST_F(ItemModel, ClassesOfALoadedLibrary) {
  const std::string path = ITEMMODEL_TESTPLUGIN;
  plat::HMODULE module = plat::LoadLibrary(path);
  ASSERT_NE(module, nullptr) << plat::LibraryError();
  const CNorvRuntimeClass* pClass = CNorvRuntimeClass::FromName(std::string_view("CPluginTestChild"));
  ASSERT_NE(pClass, nullptr);
  std::string library;
  ASSERT_TRUE(CNorvClassRegistry::GetLibrary(pClass, &library));
  EXPECT_NE(library, "");
  EXPECT_EQ(std::filesystem::path(library).filename(), std::filesystem::path(path).filename());
  const auto classes = CNorvClassRegistry::GetClasses(library);
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_STREQ(classes[0]->m_lpszClassName, "CPluginTestItem");
  EXPECT_STREQ(classes[1]->m_lpszClassName, "CPluginTestChild");
  // The framework's own classes come first.
  EXPECT_EQ(CNorvClassRegistry::GetLibraries().front(), "");
  // Base chain: child -> item -> tree-list item -> root object.
  EXPECT_EQ(pClass->m_pBaseClass, classes[0]);
  EXPECT_EQ(classes[0]->m_pBaseClass, NORV_RUNTIME_CLASS(CNorvTreeListItem));
  EXPECT_TRUE(pClass->IsDerivedFrom(NORV_RUNTIME_CLASS(CNorvObject)));

  CNorvTreeListItem* item = CNorvTreeListItem::CreateObject(nullptr, L"CPluginTestChild", L"7");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetObjectAddress(), L"CPluginTestChild://7");
  delete item;

  EXPECT_TRUE(plat::FreeLibrary(module));
  EXPECT_TRUE(CNorvClassRegistry::GetClasses(library).empty());
  EXPECT_EQ(CNorvTreeListItem::CreateObject(nullptr, L"CPluginTestChild", L"7"), nullptr);
}

// ---------------------------------------------------------------------------
// Flags and the object flag table
// ---------------------------------------------------------------------------

TEST_F(ItemModel, RemovedWithoutParentChangesNothing) {
  CTestItem item;
  item.SetId(L"lonely");
  const DWORD before = item.GetFlags();
  EXPECT_EQ(item.SetFlags(NORV_ITEM_REMOVED, FALSE), before);
  EXPECT_EQ(item.GetFlags(), before);
  EXPECT_TRUE(CNorvTreeListItem::TakeObjectFlagTable().empty());
}

TEST_F(ItemModel, RemovedIsRecordedForTheOtherInstances) {
  CTestItem parent;
  parent.SetId(L"folder");
  CTestItem item;
  item.SetId(L"file");
  item.SetParent(&parent);
  item.SetRemoved();
  EXPECT_FALSE(item.IsRemoved());  // the item itself stays
  item.SetInvalid();
  EXPECT_FALSE(item.IsValid());
  auto table = CNorvTreeListItem::TakeObjectFlagTable();
  ASSERT_EQ(table.count(L"CTestItem"), 1u);
  const NorvObjectFlagEntry& entry = table[L"CTestItem"][L"file"];
  EXPECT_EQ(entry.flags, NORV_ITEM_REMOVED | NORV_ITEM_INVALID);
  ASSERT_EQ(entry.removedFrom.size(), 1u);
  EXPECT_EQ(entry.removedFrom.at(L"CTestItem"), std::set<NorvString>{L"folder"});
  EXPECT_TRUE(CNorvTreeListItem::TakeObjectFlagTable().empty());

  // Local flags stay on the item.
  item.SetFlags(NORV_ITEM_REDRAW | NORV_ITEM_REMOVED, TRUE);
  EXPECT_TRUE(item.IsRedrawSet());
  EXPECT_TRUE(item.IsRemoved());
  EXPECT_TRUE(CNorvTreeListItem::TakeObjectFlagTable().empty());
  EXPECT_EQ(item.ClrFlags(NORV_ITEM_REDRAW | NORV_ITEM_REMOVED | NORV_ITEM_INVALID),
            NORV_ITEM_LISTINVALID);
  item.SetInvalid();
  EXPECT_TRUE(item.Refresh());
  EXPECT_TRUE(item.IsValid());
}

TEST_F(ItemModel, ClassObjectFlagByName) {
  CNorvTreeListItem::ClassObjectFlag(L"C", L"1", NORV_ITEM_REMOVED, L"", L"p");
  CNorvTreeListItem::ClassObjectFlag(L"C", L"1", NORV_ITEM_REMOVED, L"P", L"p");
  CNorvTreeListItem::ClassObjectInvalidateList(L"C", L"2", FALSE);
  CNorvTreeListItem::ClassObjectInvalidateList(L"C", L"3", TRUE);
  auto table = CNorvTreeListItem::TakeObjectFlagTable();
  EXPECT_EQ(table[L"C"][L"1"].flags, NORV_ITEM_REMOVED);
  EXPECT_EQ(table[L"C"][L"1"].removedFrom.size(), 1u);
  EXPECT_EQ(table[L"C"][L"1"].removedFrom[L"P"], std::set<NorvString>{L"p"});
  EXPECT_EQ(table[L"C"][L"2"].flags, NORV_ITEM_LISTINVALID);
  EXPECT_EQ(table[L"C"][L"3"].flags, NORV_ITEM_INVALID | NORV_ITEM_LISTINVALID);
}

TEST_F(ItemModel, LocalListInvalidOnOrdinaryItemDestroysNonStaticChildren) {
  CTestItem parent;
  auto* plain = new CTestItem;
  CTestItem keeper;
  keeper.SetStatic(TRUE);
  keeper.SetTreeHandle(&keeper);
  parent.GetItemList().AddTail(plain);
  parent.GetItemList().AddTail(&keeper);
  const int before = CTestItem::destroyed;
  parent.SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  EXPECT_EQ(CTestItem::destroyed, before + 1);
  EXPECT_TRUE(parent.GetItemList().IsEmpty());
  EXPECT_EQ(keeper.GetTreeHandle(), nullptr);
  EXPECT_TRUE(CNorvTreeListItem::TakeObjectFlagTable().empty());
}

TEST_F(ItemModel, LocalListInvalidOnStaticItemKeepsChildren) {
  CTestItem parent;
  parent.SetStatic(TRUE);
  auto* child = new CTestItem;
  auto* grandchild = new CTestItem;
  child->SetTreeHandle(child);
  grandchild->SetTreeHandle(grandchild);
  child->GetItemList().AddTail(grandchild);
  parent.GetItemList().AddTail(child);
  const int before = CTestItem::destroyed;
  parent.SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  EXPECT_EQ(CTestItem::destroyed, before);
  EXPECT_EQ(parent.GetItemList().GetCount(), 1);
  EXPECT_EQ(child->GetTreeHandle(), nullptr);
  EXPECT_EQ(grandchild->GetTreeHandle(), nullptr);
  EXPECT_TRUE(parent.GetFlags() & NORV_ITEM_LISTINVALID);
  parent.SetStatic(FALSE);
  EXPECT_FALSE(parent.IsStatic());
  // The parent's destructor destroys both.
}

TEST_F(ItemModel, FlagTableLosesNothingUnderConcurrentWriters) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 20000;
  constexpr DWORD kBits[] = {NORV_ITEM_INVALID, NORV_ITEM_LISTINVALID, NORV_ITEM_DELETED,
                             NORV_ITEM_REDRAW, NORV_ITEM_LISTUPDATED};
  std::atomic<int> running{kWriters};
  NorvObjectFlagTable collected;
  auto merge = [&collected](NorvObjectFlagTable&& part) {
    for (auto& [cls, ids] : part)
      for (auto& [id, entry] : ids) {
        NorvObjectFlagEntry& into = collected[cls][id];
        into.flags |= entry.flags;
        for (auto& [pc, pids] : entry.removedFrom) into.removedFrom[pc].insert(pids.begin(), pids.end());
      }
  };
  std::thread consumer([&] {
    while (running.load() > 0) merge(CNorvTreeListItem::TakeObjectFlagTable());
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([w, &running, &kBits] {
      CTestItem parent;
      parent.SetId(L"parent" + std::to_wstring(w));
      std::vector<std::unique_ptr<CTestItem>> items;
      for (int i = 0; i < 16; ++i) {
        items.push_back(std::make_unique<CTestItem>());
        items.back()->SetId(L"w" + std::to_wstring(w) + L"-" + std::to_wstring(i));
        items.back()->SetParent(&parent);
      }
      for (int r = 0; r < kRounds; ++r) {
        CTestItem& item = *items[r % 16];
        item.SetFlags(kBits[(r / 16) % 5], FALSE);
        if (r % 997 == 0) item.SetRemoved();
        CNorvTreeListItem::ClassObjectFlag(L"CShared", std::to_wstring(r % 7), 1u << (r % 8),
                                           L"", L"");
      }
      running.fetch_sub(1);
    });
  }
  for (std::thread& t : writers) t.join();
  consumer.join();
  merge(CNorvTreeListItem::TakeObjectFlagTable());

  const DWORD all = NORV_ITEM_INVALID | NORV_ITEM_LISTINVALID | NORV_ITEM_DELETED |
                    NORV_ITEM_REDRAW | NORV_ITEM_LISTUPDATED;
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < 16; ++i) {
      const NorvString id = L"w" + std::to_wstring(w) + L"-" + std::to_wstring(i);
      const NorvObjectFlagEntry& entry = collected[L"CTestItem"][id];
      EXPECT_EQ(entry.flags & all, all) << plat::ToUtf8(id);
    }
  // Removals (rounds 0, 997, ... hit items 0, 5, 10, ...) carry their parent.
  const NorvObjectFlagEntry& removed = collected[L"CTestItem"][L"w2-0"];
  EXPECT_TRUE(removed.flags & NORV_ITEM_REMOVED);
  EXPECT_EQ(removed.removedFrom.at(L"CTestItem"), std::set<NorvString>{L"parent2"});
  for (int k = 0; k < 7; ++k) EXPECT_EQ(collected[L"CShared"][std::to_wstring(k)].flags, 0xFFu);
}

// ---------------------------------------------------------------------------
// Sorting and paths
// ---------------------------------------------------------------------------

TEST_F(ItemModel, CompareUsesTreeTextForColumnZeroAndLocaleOrder) {
  CTestItem apple(L"apple");
  CTestItem banana(L"Banana");
  apple.columns = {{0, L"zzz"}, {1, L"b"}};
  banana.columns = {{0, L"aaa"}, {1, L"a"}};
  // Column 0: the tree texts, in collation order ("apple" before
  // "Banana", although 'B' < 'a' in code points).
  EXPECT_LT(apple.Compare(&banana, 0, TRUE), 0);
  EXPECT_GT(apple.Compare(&banana, 0, FALSE), 0);
  EXPECT_GT(apple.Compare(&banana, 1, TRUE), 0);
  EXPECT_LT(apple.Compare(&banana, 1, FALSE), 0);
  // A column one of them does not have.
  banana.columns.erase(1);
  EXPECT_EQ(apple.Compare(&banana, 1, TRUE), 0);
  CTestItem same(L"apple");
  EXPECT_EQ(apple.Compare(&same, 0, TRUE), 0);
  EXPECT_EQ(apple.Compare(&same, 0, FALSE), 0);
  EXPECT_EQ(apple.Compare(nullptr, 0, TRUE), 0);
}

TEST_F(ItemModel, NavigateToBuildsTreePaths) {
  CTestItem root(L"Root");
  CTestItem a(L"A/x");
  CTestItem b(L"B");
  a.SetParent(&root);
  b.SetParent(&a);
  b.NavigateTo(L"x");
  EXPECT_EQ(CNorvTreeListItem::TakeNavigationTarget(), L"/A//x/B/x");
  EXPECT_EQ(CNorvTreeListItem::GetNavigationTarget(), L"");
  b.NavigateTo(L"/abs/path");
  EXPECT_EQ(CNorvTreeListItem::GetNavigationTarget(), L"/abs/path");
  b.NavigateTo(L"");
  EXPECT_EQ(CNorvTreeListItem::GetNavigationTarget(), L"");
  root.NavigateTo(L"top");
  EXPECT_EQ(CNorvTreeListItem::TakeNavigationTarget(), L"/top");
  EXPECT_EQ(b.GetItemPath(), L"/A//x/B");
  EXPECT_EQ(root.GetItemPath(), L"/");
}

// ---------------------------------------------------------------------------
// A new explorer window
// ---------------------------------------------------------------------------

// A program in a folder deeper than an old 260-character path buffer still
// starts its new windows: a copy of this test program runs the test above
// from there.
TEST_F(ItemModel, ExploreFromWorksFromADeepFolder) {
  namespace fs = std::filesystem;
  const fs::path top = fs::temp_directory_path() / ("norv-deep-" + std::to_string(getpid()));
  const fs::path folder = top / std::string(150, 'd') / std::string(150, 'e');
  fs::create_directories(folder);
  const fs::path copy = folder / "test_norv_itemmodel";
  fs::copy_file(plat::ModuleFileName(nullptr), copy);
  ASSERT_GT(copy.string().size(), 260u);
  // The copy finds the framework where this program does.
  const std::string libraries = fs::path(plat::ModuleFileName(nullptr)).parent_path().string();
  const std::string command = "LD_LIBRARY_PATH='" + libraries + "' '" + copy.string() +
                              "' --gtest_filter=ItemModel.ExploreFromPassesEveryValueAsOneArgument"
                              " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  std::error_code ignored;
  fs::remove_all(top, ignored);
  EXPECT_EQ(status, 0);
}

TEST_F(ItemModel, ExploreFromPassesEveryValueAsOneArgument) {
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("norv-itemmodel-argv-" + std::to_string(getpid()));
  std::filesystem::remove(out);
  setenv(kArgvOut, out.c_str(), 1);

  CNorvCommandLineInfo info;
  info.m_bRegistryKeyGiven = TRUE;
  info.m_RegistryKey = L"Velmora\\NORV2.1";
  info.m_bTraceLevelGiven = TRUE;
  info.m_TraceLevel = 3;
  info.m_bTraceLocationGiven = TRUE;
  info.m_TraceLocation = L"C:\\trace dir\\";
  info.m_Plugins = {L"one", L"two words"};
  const CNorvCommandLineInfo* previous = CNorvCommandLineInfo::GetCurrent();
  CNorvCommandLineInfo::SetCurrent(&info);
  CNorvTreeListItem::SetLocale(L"enu");
  const BOOL started = CNorvTreeListItem::ExploreFrom(L"CTestItem", L"a\"b c\\", L"p\"q\\\"r");
  CNorvTreeListItem::SetLocale(L"");
  CNorvCommandLineInfo::SetCurrent(previous);
  unsetenv(kArgvOut);
  ASSERT_TRUE(started);

  for (int i = 0; i < 200 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(std::filesystem::exists(out));
  std::ifstream in(out);
  std::vector<std::string> received;
  for (std::string line; std::getline(in, line);) {
    // The receiving program removes the quotes by the usual rules.
    const auto split = plat::SplitCommandLine("program " + line);
    ASSERT_EQ(split.size(), 2u) << line;
    received.push_back(split[1]);
  }
  std::filesystem::remove(out);
  const std::vector<std::string> expected = {
      "class:CTestItem",   "id:a\"b c\\",  "locale:enu",
      "param:p\"q\\\"r",   "registrykey:Velmora\\NORV2.1", "traceLevel:3",
      "traceLocation:C:\\trace dir\\", "plugin:one", "plugin:two words",
      "-notips",           "-nosplash"};
  EXPECT_EQ(received, expected);
}

// ---------------------------------------------------------------------------
// Traced calls and the active-item stack
// ---------------------------------------------------------------------------

TEST_F(ItemModel, TracedCallsIndentAroundTheCallAndReturnItsResult) {
  const int level = gNorvBaseTraceLevel;
  gNorvBaseTraceLevel = 3;
  CTestItem item;
  CNorvTLItemList list;
  list.AddTail(&item);
  EXPECT_EQ(Trace_Command(__FILE__, __LINE__, "Test", &item, &list, ID_NORV_ITEMCMD_DBLCLK, 0,
                          nullptr),
            CMD_HANDLED);
  EXPECT_EQ(item.lastCommand, ID_NORV_ITEMCMD_DBLCLK);
  EXPECT_EQ(item.lastListCount, 1);
  EXPECT_EQ(item.indentDuringCommand, Trace::GetIndent() + L"    ");
  EXPECT_EQ(NORV_ITEM_COMMAND(&item, nullptr, ID_NORV_ITEMCMD_TIMER, 0, nullptr), CMD_HANDLED);
  EXPECT_EQ(item.lastListCount, -1);
  EXPECT_EQ(Trace_GetItems(__FILE__, __LINE__, "Test", &item, TRUE), GETITEMS_OK);
  item.SetInvalid();
  EXPECT_TRUE(Trace_Refresh(__FILE__, __LINE__, "Test", &item));
  EXPECT_TRUE(item.IsValid());
  EXPECT_EQ(Trace_Drop(__FILE__, __LINE__, "Test", &item, L"fmt", &list, nullptr, 1, 0),
            CMD_NOT_HANDLED);
  CNorvTreeListItem* created =
      Trace_CreateObject(__FILE__, __LINE__, "Test", &item, L"CTestItem", L"made");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Id(), L"made");
  delete created;
  EXPECT_EQ(Trace_CreateObject(__FILE__, __LINE__, "Test", nullptr, L"CNone", L""), nullptr);
  list.RemoveAll();
  gNorvBaseTraceLevel = level;
}

TEST_F(ItemModel, ActiveItemStack) {
  EXPECT_EQ(CNorvTreeListItem::GetActiveItem(), nullptr);
  CTestItem outer;
  auto* inner = new CTestItem;
  {
    CNorvItemCallScope a(&outer);
    {
      CNorvItemCallScope b(inner);
      EXPECT_EQ(CNorvTreeListItem::GetActiveItem(), inner);
      // An item destroyed by the call into it leaves no dangling pointer.
      delete inner;
      EXPECT_EQ(CNorvTreeListItem::GetActiveItem(), nullptr);
      EXPECT_EQ(CNorvTreeListItem::GetActiveItemDepth(), 2);
    }
    EXPECT_EQ(CNorvTreeListItem::GetActiveItem(), &outer);
  }
  EXPECT_EQ(CNorvTreeListItem::GetActiveItemDepth(), 0);
  CNorvTreeListItem::PopActiveItem();  // an extra pop is harmless
  EXPECT_EQ(CNorvTreeListItem::GetActiveItem(), nullptr);
}

// ---------------------------------------------------------------------------
// Services of the views
// ---------------------------------------------------------------------------

TEST_F(ItemModel, WithoutWindowsServicesReportFalse) {
  CTestItem item;
  EXPECT_FALSE(CNorvTreeListItem::SetStatusBarText(L"x"));
  EXPECT_FALSE(CNorvTreeListItem::ShowOutputView(TRUE));
  EXPECT_EQ(CNorvTreeListItem::GetOutputViewParent(), nullptr);
  EXPECT_EQ(CNorvTreeListItem::GetViewDocument(1), nullptr);
  EXPECT_FALSE(CNorvTreeListItem::SelectListViewItems(nullptr));
  EXPECT_EQ(CNorvTreeListItem::GetAddressBarInfo(), L"");
  int column = -1;
  int ascending = -1;
  EXPECT_FALSE(item.GetListSorting(column, ascending));
  EXPECT_TRUE(item.SetTimer(100));  // always TRUE
  CNorvTreeListItem::InvokeRefresh();
  CNorvTreeListItem::InvalidateView(4);
  CNorvTreeListItem::InvalidateView(1);
  EXPECT_EQ(CNorvTreeListItem::GetInvalidatedViews(), 5u);
  CNorvTreeListItem::ClearInvalidatedViews();
  EXPECT_EQ(CNorvTreeListItem::GetInvalidatedViews(), 0u);
}

TEST_F(ItemModel, ServicesGetOffsetsPathsAndTheSelection) {
  FakeServices services;
  NorvSetViewServices(&services);
  CTestItem item;
  item.imageOffset = 100;
  EXPECT_TRUE(item.SetAddressBarInfo(L"/a", 3, 4, 0, L"/a"));
  EXPECT_EQ(services.addressImage, 103);
  const QIcon icon;
  EXPECT_TRUE(item.ModifyImageList(IMAGELIST_SMALL, 2, icon));
  EXPECT_EQ(services.imageIndex, 102);

  // REMOVED never travels along a class path.
  EXPECT_FALSE(item.ClassPathFlag(L"CA/CB", NORV_ITEM_REMOVED));
  EXPECT_TRUE(item.ClassPathFlag(L"CA/CB", NORV_ITEM_REMOVED | NORV_ITEM_REDRAW));
  EXPECT_EQ(services.classPathFlags, NORV_ITEM_REDRAW);
  EXPECT_TRUE(item.ClassPathInvalidateList(L"CA", TRUE));
  EXPECT_EQ(services.classPathFlags, NORV_ITEM_INVALID | NORV_ITEM_LISTINVALID);

  int column = 0;
  int ascending = 1;
  EXPECT_TRUE(item.GetListSorting(column, ascending));
  EXPECT_EQ(column, 2);
  item.SetViewMode(1);
  EXPECT_FALSE(item.GetListSorting(column, ascending));

  EXPECT_EQ(CNorvTreeListItem::GetViewDocument(4), nullptr);
  EXPECT_EQ(CNorvTreeListItem::GetViewDocument(-1), nullptr);

  // Help without a file: the selected item's, with the context command.
  services.selected = &item;
  EXPECT_TRUE(CNorvTreeListItem::ShowHelp(99, 1234, nullptr));
  EXPECT_EQ(services.helpFile, L"test.chm");
  EXPECT_EQ(services.helpCommand, 15u);

  // Destroying the selected item tells the views.
  auto* selected = new CTestItem;
  services.selected = selected;
  delete selected;
  ASSERT_EQ(services.destroyed.size(), 1u);
  EXPECT_EQ(services.destroyed[0], selected);
  EXPECT_EQ(services.selected, nullptr);
}

// The order in which the views hear of removals and destruction.
struct RemovalServices : INorvViewServices {
  CNorvTreeListItem* selected = nullptr;
  std::vector<std::string> events;
  std::map<const CNorvTreeListItem*, std::string> names;
  std::string Name(const CNorvTreeListItem* item) {
    auto it = names.find(item);
    return it != names.end() ? it->second : "?";
  }
  CNorvTreeListItem* GetSelectedTreeItem() override { return selected; }
  void ItemDestroyed(CNorvTreeListItem* item) override {
    events.push_back("destroyed " + Name(item));
    if (item == selected) selected = nullptr;
  }
  void ChildrenRemoving(CNorvTreeListItem* parent) override {
    events.push_back("removing " + Name(parent));
  }
  void ChildrenRemoved(CNorvTreeListItem* parent) override {
    events.push_back("removed " + Name(parent));
  }
};

TEST_F(ItemModel, RemovalIsAnnouncedAndTheSelectionIsDeselectedWhileWhole) {
  RemovalServices services;
  NorvSetViewServices(&services);
  CTestItem::commandLog.clear();
  // P has A (with A1, the selection) and the static S (with G).
  CTestItem p;
  auto* a = new CTestItem;
  auto* a1 = new CTestItem;
  CTestItem s;
  auto* g = new CTestItem;
  s.SetStatic(TRUE);
  for (auto [parent, child] :
       {std::pair<CTestItem*, CTestItem*>{&p, a}, {a, a1}, {&p, &s}, {&s, g}}) {
    child->SetParent(parent);
    parent->GetItemList().AddTail(child);
  }
  services.names = {{&p, "P"}, {a, "A"}, {a1, "A1"}, {&s, "S"}, {g, "G"}};
  services.selected = a1;

  p.SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  // A1 heard DESELECTED through its own Command, before anything was
  // destroyed; every removal came with its two notices around it.
  ASSERT_EQ(CTestItem::commandLog.size(), 1u);
  EXPECT_EQ(CTestItem::commandLog[0],
            (std::pair<const CNorvTreeListItem*, UINT>{a1, ID_NORV_ITEMCMD_TREEITEM_DESELECTED}));
  EXPECT_EQ(services.events, (std::vector<std::string>{"removing P", "removing A", "destroyed A1",
                                                       "removed A", "removed P"}));
  EXPECT_EQ(services.selected, nullptr);
  EXPECT_TRUE(p.GetItemList().IsEmpty());
  EXPECT_EQ(s.GetItemList().GetCount(), 1);  // the static branch stays

  // A selection below a static item does not go with its parent's list.
  p.GetItemList().AddTail(&s);
  services.selected = g;
  services.events.clear();
  CTestItem::commandLog.clear();
  p.GetItemList().ClearList();
  EXPECT_TRUE(CTestItem::commandLog.empty());
  EXPECT_EQ(services.events, (std::vector<std::string>{"removing P", "removed P"}));

  // Unlinking one child is announced too; lists that are no item's child
  // list, and empty ones, are not.
  p.GetItemList().AddTail(&s);
  services.events.clear();
  EXPECT_TRUE(p.GetItemList().Remove(&s));
  CNorvTLItemList plain;
  plain.AddTail(&s);
  plain.RemoveAll();
  p.GetItemList().ClearList();
  EXPECT_EQ(services.events, (std::vector<std::string>{"removing P", "removed P"}));
  EXPECT_EQ(CNorvTLItemList(p.GetItemList()).GetOwner(), nullptr);

  // Once per item; whoever deletes the selection sends it first.
  services.selected = nullptr;
  EXPECT_TRUE(g->NotifyDeselected());
  EXPECT_FALSE(g->NotifyDeselected());
  EXPECT_EQ(CTestItem::commandLog.size(), 1u);
  EXPECT_FALSE(CNorvTreeListItem::NotifyDeselectedIfWithin(&s));  // nothing selected
  s.GetItemList().ClearList();
}

TEST_F(ItemModel, CanCopyAndFeaturesAskInitMenuInfo) {
  CTestItem item;
  EXPECT_FALSE(item.CanCopy());
  EXPECT_TRUE(item.HasFeature(50006));
  EXPECT_FALSE(item.HasFeature(50004));
  item.menuState[35027] = 1;
  EXPECT_TRUE(item.CanCopy());
  item.menuState[35027] = 0;
  item.menuState[35026] = 1;
  EXPECT_TRUE(item.CanCopy());
  item.menuState[50004] = 1;
  item.menuState[50006] = 0;
  EXPECT_TRUE(item.HasFeature(50004));
  EXPECT_FALSE(item.HasFeature(50006));
}

TEST(ItemCommands, NamesAndFlags) {
  EXPECT_STREQ(NorvItemCommandName(ID_NORV_ITEMCMD_START), L"ID_NORV_ITEMCMD_START");
  EXPECT_STREQ(NorvItemCommandName(40023), L"ID_NORV_ITEMCMD_GET_MESSAGE_STRING");
  EXPECT_EQ(NorvItemCommandName(40007), nullptr);
  EXPECT_EQ(NorvItemCommandName(40024), nullptr);
  for (UINT id = 40000; id <= 40023; ++id)
    if (id != 40007) {
      EXPECT_NE(NorvItemCommandName(id), nullptr) << id;
    }
  EXPECT_STREQ(NorvItemFlagName(NORV_ITEM_ACCESSERROR), L"ACCESSERROR");
  EXPECT_EQ(NorvItemFlagName(3), nullptr);
}

// The test program doubles as the explorer that ExploreFrom starts: then it
// only writes its arguments, one a line, and ends.
int main(int argc, char** argv) {
  if (const char* out = std::getenv(kArgvOut); out != nullptr && argc > 1 &&
                                                 std::string(argv[1]).rfind("\"class:", 0) == 0) {
    const std::string temp = std::string(out) + ".part";
    {
      std::ofstream file(temp);
      for (int i = 1; i < argc; ++i) file << argv[i] << '\n';
    }
    std::rename(temp.c_str(), out);
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
