// The navigation panes offscreen, over the test items of test_nav_items.h.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "BookmarkView.h"
#include "HistoryView.h"
#include "MainFrm.h"
#include "NavigationServices.h"
#include "TreeView.h"
#include "norv/NorvClipboard.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "test_nav_items.h"

namespace {

std::vector<NorvString>& Messages() {
  static std::vector<NorvString> messages;
  return messages;
}

// The content pane: records what the tree asks of it.
class RecordingView : public QWidget, public CNorvView {
 public:
  BOOL ShowContents(CNorvTreeListItem* item) override {
    shown.push_back(item != nullptr ? item->Id() : NorvString());
    return TRUE;
  }
  void EraseContents() override { ++erased; }
  BOOL RemoveContainedItem(CNorvTreeListItem*) override {
    ++removed;
    return TRUE;
  }
  std::vector<NorvString> shown;
  int erased = 0;
  int removed = 0;
};

void TreeFixture_Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class TreeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    NavWorld& world = NavWorld::Get();
    world.Reset();
    world.texts[L"R"] = L"Root";
    world.children[L"R"] = {L"R/A", L"R/B", L"R/S", L"R/W"};
    world.texts[L"R/S"] = L"x/y";
    world.children[L"R/A"] = {L"R/A/A1", L"R/A/A2"};
    world.children[L"R/A/A1"] = {L"R/A/A1/deep"};
    world.children[L"R/B"] = {L"R/B/B1"};
    for (int i = 0; i < 200; ++i) world.children[L"R/W"].push_back(L"R/W/c" + std::to_wstring(i));
    CNorvDoc* doc = CNorvDoc::GetDoc();
    doc->SetListView(&view);
    doc->SetCurrentView(&view);
    tree = std::make_unique<TreeView>();
    tree->resize(300, 600);
    tree->show();
    CNorvNavigationServices::Instance().Attach(tree.get(), nullptr);
    root = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
    ASSERT_NE(root, nullptr);
    tree->InitTree(root);
  }
  void TearDown() override {
    tree.reset();
    CNorvNavigationServices::Instance().Detach();
    delete root;
    CNorvDoc* doc = CNorvDoc::GetDoc();
    doc->SetListView(nullptr);
    doc->SetCurrentView(nullptr);
    CNorvTreeListItem::TakeObjectFlagTable();
    CNorvTreeListItem::TakeNavigationTarget();
  }

  NorvString SelectedId() const {
    CNorvTreeListItem* item = tree->GetSelectedTreeItem();
    return item != nullptr ? item->Id() : NorvString(L"(none)");
  }
  NorvTreeNode* Node(const NorvString& path) {
    if (tree->NavigateTo(path) != TreeView::NavigationOk) return nullptr;
    return tree->GetSelectedNode();
  }
  int CountCalls(const NorvString& id, UINT command) const {
    int n = 0;
    for (const auto& call : NavWorld::Get().calls)
      if (call.id == id && call.command == command) ++n;
    return n;
  }
  static void Spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  RecordingView view;
  std::unique_ptr<TreeView> tree;
  CNorvTreeListItem* root = nullptr;
};

// ----- paths ------------------------------------------------------------------

TEST_F(TreeFixture, PathGrammarAndNavigation) {
  NorvString path = L"a//b/c", head;
  EXPECT_TRUE(TreeView::ExtractSubPath(path, head));
  EXPECT_EQ(head, L"a/b");
  EXPECT_EQ(path, L"c");
  path = L"abc";
  EXPECT_FALSE(TreeView::ExtractSubPath(path, head));
  EXPECT_EQ(head, L"abc");
  EXPECT_EQ(path, L"");
  path = L"a///b";
  EXPECT_TRUE(TreeView::ExtractSubPath(path, head));
  EXPECT_EQ(head, L"a/");
  EXPECT_EQ(path, L"b");

  // "/" is the top-level node; elements match without regard to case and
  // expand nodes on the way.
  EXPECT_EQ(tree->NavigateTo(L"/"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R");
  EXPECT_EQ(tree->NavigateTo(L"/a/A1/DEEP"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A1/deep");
  EXPECT_EQ(tree->GetItemPath(tree->GetSelectedNode()), L"/A/A1/deep");
  // A "/" inside a text is written "//".
  EXPECT_EQ(tree->NavigateTo(L"/x//y"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/S");
  EXPECT_EQ(tree->GetItemPath(tree->GetSelectedNode()), L"/x//y");

  // Relative forms.
  ASSERT_EQ(tree->NavigateTo(L"/A/A1/deep"), TreeView::NavigationOk);
  EXPECT_EQ(tree->NavigateTo(L".."), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A1");
  EXPECT_EQ(tree->NavigateTo(L"../A2"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A2");
  EXPECT_EQ(tree->NavigateTo(L"."), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A2");
  ASSERT_EQ(tree->NavigateTo(L"/A"), TreeView::NavigationOk);
  EXPECT_EQ(tree->NavigateTo(L"./A1/deep"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A1/deep");
  // ".../" climbs to the nearest ancestor with that text (case-sensitive).
  EXPECT_EQ(tree->NavigateTo(L".../A/A2"), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R/A/A2");
  // An empty path with a start node selects the start.
  EXPECT_EQ(tree->NavigateTo(L"", tree->Model()->Top()->children[0].get()), TreeView::NavigationOk);
  EXPECT_EQ(SelectedId(), L"R");

  // Failures leave the selection alone.
  EXPECT_EQ(tree->NavigateTo(L"../"), TreeView::NavigationNotFound);
  EXPECT_EQ(tree->NavigateTo(L"/A/nothing"), TreeView::NavigationNotFound);
  EXPECT_EQ(SelectedId(), L"R");

  // A class path flags every matching node that exists, without expanding.
  {
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    CNorvTreeListItem::TakeObjectFlagTable();
  }
  tree->RefreshClassPath(L"/CNavItem;/CNavItem/CNavItem/CNavItem", nullptr, NORV_ITEM_REDRAW);
  {
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    const NorvObjectFlagTable table = CNorvTreeListItem::TakeObjectFlagTable();
    const auto& ids = table.at(L"CNavItem");
    EXPECT_TRUE(ids.count(L"R/A"));
    EXPECT_TRUE(ids.count(L"R/S"));
    EXPECT_TRUE(ids.count(L"R/A/A1/deep"));
    EXPECT_FALSE(ids.count(L"R/B/B1"));  // never expanded: not reached
  }

  // A plugin slow in GetItems: the tree says it is waiting meanwhile.
  NavWorld::Get().blockMs = 30;
  EXPECT_EQ(tree->NavigateTo(L"/B/B1"), TreeView::NavigationOk);
  EXPECT_TRUE(NavWorld::Get().sawWaiting);
  EXPECT_FALSE(tree->IsWaitingForItems());
}

// ----- selection timers -----------------------------------------------------------

TEST_F(TreeFixture, KeyboardSelectionWaitsAndClickIsAtOnce) {
  ASSERT_EQ(tree->NavigateTo(L"/A"), TreeView::NavigationOk);
  EXPECT_EQ(CountCalls(L"R/A", ID_NORV_ITEMCMD_TREEITEM_SELECTED), 1);  // program: at once
  tree->setFocus();
  QTest::keyClick(tree.get(), Qt::Key_Down);  // to A's sibling B (A is collapsed)
  QTest::keyClick(tree.get(), Qt::Key_Down);  // on to S within the delay
  EXPECT_EQ(SelectedId(), L"R/S");
  EXPECT_TRUE(tree->IsUserSelectionPending());
  Spin(400);
  EXPECT_TRUE(tree->IsUserSelectionPending());
  EXPECT_EQ(CountCalls(L"R/S", ID_NORV_ITEMCMD_TREEITEM_SELECTED), 0);
  Spin(900);
  EXPECT_FALSE(tree->IsUserSelectionPending());
  EXPECT_EQ(CountCalls(L"R/S", ID_NORV_ITEMCMD_TREEITEM_SELECTED), 1);
  EXPECT_EQ(CountCalls(L"R/B", ID_NORV_ITEMCMD_TREEITEM_SELECTED), 0);  // only the last

  NorvTreeNode* b = nullptr;
  for (auto& child : tree->Model()->Top()->children[0]->children)
    if (child->item != nullptr && child->item->Id() == L"R/B") b = child.get();
  ASSERT_NE(b, nullptr);
  const QRect rect = tree->visualRect(tree->Model()->IndexFromNode(b));
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(SelectedId(), L"R/B");
  QCoreApplication::processEvents();
  EXPECT_FALSE(tree->IsUserSelectionPending());
  EXPECT_EQ(CountCalls(L"R/B", ID_NORV_ITEMCMD_TREEITEM_SELECTED), 1);
  EXPECT_LT(clock.elapsed(), 500);
}

// ----- changes from another thread ---------------------------------------------

TEST_F(TreeFixture, WorkerFlagsWhileTreeAppliesThem) {
  ASSERT_EQ(tree->NavigateTo(L"/W"), TreeView::NavigationOk);
  tree->SetNodeExpanded(tree->GetSelectedNode(), true);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::mt19937 random(7);
    std::vector<int> versions(200, 0);
    for (int i = 0; i < 3000; ++i) {
      const int k = static_cast<int>(random() % 200);
      const NorvString id = L"R/W/c" + std::to_wstring(k);
      {
        std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
        NavWorld::Get().SetText(id,
                                L"c" + std::to_wstring(k) + L"v" + std::to_wstring(++versions[k]));
        CNorvTreeListItem::ClassObjectFlag(L"CNavItem", id, NORV_ITEM_INVALID, L"", L"");
        // Now and then the whole folder is read again: its items die.
        if (i % 250 == 0)
          CNorvTreeListItem::ClassObjectFlag(L"CNavItem", L"R/W", NORV_ITEM_LISTINVALID, L"", L"");
      }
      CNorvTreeListItem::InvokeRefresh();
      if (i % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  QCoreApplication::processEvents();
  tree->AutoRefresh(nullptr, FALSE);

  // Every change arrived: each node shows its object's latest text.
  CNorvTreeListItem* w = tree->GetSelectedTreeItem();
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(w->Id(), L"R/W");
  NorvTreeNode* node = CNorvTreeModel::NodeOf(w);
  ASSERT_NE(node, nullptr);
  tree->SetNodeExpanded(node, true);
  ASSERT_EQ(node->children.size(), 200u);
  int checked = 0;
  for (auto& child : node->children) {
    ASSERT_NE(child->item, nullptr);
    EXPECT_EQ(child->text.toStdWString(), NavWorld::Get().TextOf(child->item->Id()));
    EXPECT_EQ(CNorvTreeModel::NodeOf(child->item), child.get());
    ++checked;
  }
  EXPECT_EQ(checked, 200);
}

// ----- rename, clipboard, drop -------------------------------------------------

TEST_F(TreeFixture, RenameCutPasteAndDropReachTheirItems) {
  // Rename through label editing (F2).
  ASSERT_EQ(tree->NavigateTo(L"/A"), TreeView::NavigationOk);
  tree->setFocus();
  QTest::keyClick(tree.get(), Qt::Key_F2);
  auto* editor = tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText(QStringLiteral("Alpha"));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  ASSERT_EQ(NavWorld::Get().renames.size(), 1u);
  EXPECT_EQ(NavWorld::Get().renames[0], (std::pair<NorvString, NorvString>(L"R/A", L"Alpha")));
  EXPECT_EQ(tree->GetSelectedNode()->text, QStringLiteral("Alpha"));
  // An empty name is refused by the item and changes nothing.
  tree->EditItem(tree->GetSelectedTreeItem());
  editor = tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->clear();
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(tree->GetSelectedNode()->text, QStringLiteral("Alpha"));

  // Cut: the node shows cut, the clipboard holds the item, the item hears it.
  ASSERT_EQ(tree->NavigateTo(L"/Alpha/A1"), TreeView::NavigationOk);
  NavWorld::Get().calls.clear();
  tree->OnCommand(35026);
  EXPECT_TRUE(tree->GetSelectedNode()->cut);
  EXPECT_TRUE(CheckItemsOnClipboard(CNorvClipBoardItem::cut, L"NavItem"));
  ASSERT_EQ(CountCalls(L"R/A/A1", 35026), 1);
  EXPECT_EQ(NavWorld::Get().calls.back().list, std::vector<NorvString>{L"R/A/A1"});
  // Paste on another item goes to that item.
  ASSERT_EQ(tree->NavigateTo(L"/B"), TreeView::NavigationOk);
  tree->OnCommand(35025);
  EXPECT_EQ(CountCalls(L"R/B", 35025), 1);

  // A drop of A2 on B: the default drop reaches B with the dropped item.
  CNorvTreeListItem* a2 = nullptr;
  ASSERT_EQ(tree->NavigateTo(L"/Alpha/A2"), TreeView::NavigationOk);
  a2 = tree->GetSelectedTreeItem();
  CNorvTLItemList list;
  list.AddTail(a2);
  QMimeData* data = CreateItemsMimeData(&list, nullptr, QPoint(), CNorvClipBoardItem::dragdrop,
                                        L"CNavItem", L"R/A", TRUE, L"NavItem");
  list.RemoveAll();
  ASSERT_NE(data, nullptr);
  NorvTreeNode* b = CNorvTreeModel::NodeOf(root->GetItemList().FindObject(L"CNavItem", L"R/B"));
  ASSERT_NE(b, nullptr);
  const QPointF at = tree->visualRect(tree->Model()->IndexFromNode(b)).center();
  NavWorld::Get().calls.clear();
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                        Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &enter);
  QDragMoveEvent move(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_TRUE(b->dropHighlight);
  QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &drop);
  EXPECT_FALSE(b->dropHighlight);
  QCoreApplication::processEvents();
  ASSERT_EQ(NavWorld::Get().calls.size(), 1u);
  const NavWorld::Call& call = NavWorld::Get().calls[0];
  EXPECT_EQ(call.id, L"R/B");
  EXPECT_EQ(call.command, ID_NORV_ITEMCMD_DEFAULTDROP);
  EXPECT_EQ(call.format, L"NavItem");
  EXPECT_EQ(call.list, std::vector<NorvString>{L"R/B"});
  EXPECT_EQ(call.dropped, std::vector<NorvString>{L"R/A/A2"});
  EXPECT_EQ(call.keyState, 1u);  // left button
  EXPECT_EQ(tree->GetPopupItem(), nullptr);
  delete data;
}

// ----- refresh rates and redraw counters ----------------------------------------

TEST_F(TreeFixture, RefreshRatePositionsAndRedrawCounters) {
  // Stored rates reopen the dialog where they were written; others by the
  // same rule (33 s at 30 s, 45 s at the position that stands for 180 s).
  for (int p = 0; p <= 11; ++p) EXPECT_EQ(TreeView::RateToPosition(TreeView::PositionToRate(p)), p);
  EXPECT_EQ(TreeView::RateToPosition(33), 6);
  EXPECT_EQ(TreeView::RateToPosition(45), 9);
  EXPECT_EQ(TreeView::PositionToRate(9), 180u);
  TreeView::SetRefreshRate(L"CNavItem", 45);
  EXPECT_EQ(TreeView::GetRefreshRate(L"CNavItem"), 45u);
  TreeView::SetRefreshRate(L"CNavItem", 0);

  // Nested suspensions cost one repaint; an extra resume keeps the count at 0.
  tree->SetRedrawStack(FALSE);
  tree->SetRedrawStack(FALSE);
  EXPECT_EQ(tree->GetRedrawStack(), 2);
  EXPECT_FALSE(tree->updatesEnabled());
  tree->SetRedrawStack(TRUE);
  EXPECT_FALSE(tree->updatesEnabled());
  tree->SetRedrawStack(TRUE);
  EXPECT_TRUE(tree->updatesEnabled());
  tree->SetRedrawStack(TRUE);
  EXPECT_EQ(tree->GetRedrawStack(), 0);
  EXPECT_TRUE(tree->updatesEnabled());
  tree->SetViewRedrawStack(FALSE);
  EXPECT_FALSE(view.updatesEnabled());
  tree->SetViewRedrawStack(TRUE);
  EXPECT_TRUE(view.updatesEnabled());
}

// ----- objects that vanish -----------------------------------------------------

TEST_F(TreeFixture, PluginRemovingTheSelectedItem) {
  // Through the object flag table: the parent becomes the selection.
  ASSERT_EQ(tree->NavigateTo(L"/A/A1"), TreeView::NavigationOk);
  const int erasedBefore = view.erased;
  tree->OnCommand(35009);  // the item deletes its object and says so
  EXPECT_EQ(SelectedId(), L"R/A");
  EXPECT_GT(view.erased, erasedBefore);
  NorvTreeNode* a = tree->GetSelectedNode();
  ASSERT_EQ(a->children.size(), 1u);
  EXPECT_EQ(a->children[0]->item->Id(), L"R/A/A2");
  EXPECT_EQ(a->item->GetItemList().GetCount(), 1);

  // Behind the tree's back: the parent's list is dropped with the selected
  // child in it.
  ASSERT_EQ(tree->NavigateTo(L"/A/A2"), TreeView::NavigationOk);
  NavWorld::Get().calls.clear();
  a->item->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  EXPECT_EQ(CountCalls(L"R/A/A2", ID_NORV_ITEMCMD_TREEITEM_DESELECTED), 1);
  EXPECT_EQ(SelectedId(), L"R/A");
  EXPECT_TRUE(tree->GetSelectedNode()->children.empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(SelectedId(), L"R/A");
  // Expanding again reads the list anew.
  EXPECT_EQ(tree->NavigateTo(L"/A/A2"), TreeView::NavigationOk);
}

// ----- history ---------------------------------------------------------------------

// The frame's part between the tree and the history pane.
class HistoryFrame : public INorvNavigationFrame {
 public:
  explicit HistoryFrame(HistoryView* history) : m_history(history) {}
  void AddHistoryEntry(const NorvString& path, int image, int selectedImage, int view) override {
    m_history->AddEntry(path, image, selectedImage, view);
  }
  void UpdateHistoryViewMode(int view) override { m_history->UpdateCurrentViewMode(view); }
  void GoBack(int steps) override { m_history->GoBack(steps); }
  void GoForward(int steps) override { m_history->GoForward(steps); }

 private:
  HistoryView* m_history;
};

TEST_F(TreeFixture, HistoryBackAndForwardOverRemovedItems) {
  HistoryView history;
  history.SetTree(tree.get());
  HistoryFrame frame(&history);
  tree->SetFrame(&frame);
  for (const wchar_t* path : {L"/A", L"/B", L"/x//y"})
    ASSERT_EQ(tree->NavigateTo(path), TreeView::NavigationOk);
  ASSERT_EQ(history.EntryCount(), 3);
  EXPECT_FALSE(history.CanGoForward());
  EXPECT_TRUE(history.GoBack(2));
  EXPECT_EQ(SelectedId(), L"R/A");
  EXPECT_EQ(history.EntryCount(), 3);  // going back adds nothing
  EXPECT_TRUE(history.CanGoForward());
  EXPECT_FALSE(history.GoBack(1));  // nothing before the first
  EXPECT_TRUE(history.GoForward(1));
  EXPECT_EQ(SelectedId(), L"R/B");
  EXPECT_TRUE(history.GoBack(1));
  // A new visit drops what lay ahead: A, W.
  ASSERT_EQ(tree->NavigateTo(L"/W"), TreeView::NavigationOk);
  ASSERT_EQ(history.EntryCount(), 2);
  EXPECT_EQ(history.EntryPath(1), L"/W");

  // Visit A1 and B, then A1 goes away: going back to it says so and stays.
  ASSERT_EQ(tree->NavigateTo(L"/A/A1"), TreeView::NavigationOk);
  CNorvTreeListItem* a1 = tree->GetSelectedTreeItem();
  ASSERT_EQ(tree->NavigateTo(L"/B"), TreeView::NavigationOk);
  a1->SetDeleted();
  tree->AutoRefresh(nullptr, FALSE);
  Messages().clear();
  EXPECT_FALSE(history.GoBack(1));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find(L"/A/A1"), NorvString::npos);
  EXPECT_EQ(SelectedId(), L"R/B");
  EXPECT_EQ(history.EntryPath(history.CurrentIndex()), L"/B");
  // Two steps pass over it to W.
  EXPECT_TRUE(history.GoBack(2));
  EXPECT_EQ(SelectedId(), L"R/W");
  NorvStringList forward;
  ASSERT_TRUE(history.GetForwardList(HistoryView::kDropDownEntries, forward));
  EXPECT_EQ(forward, (NorvStringList{L"/A/A1", L"/B"}));

  // At most 501 entries; the drop-down shows 8.
  for (int i = 0; i < 510; ++i) history.AddEntry(L"/p" + std::to_wstring(i), -1, -1, 3);
  EXPECT_EQ(history.EntryCount(), HistoryView::kMaxEntries + 1);
  NorvStringList back;
  ASSERT_TRUE(history.GetBackList(HistoryView::kDropDownEntries, back));
  ASSERT_EQ(back.size(), 8u);
  EXPECT_EQ(back[0], L"/p508");
  tree->SetFrame(nullptr);
}

// ----- bookmarks across processes ---------------------------------------------

TEST_F(TreeFixture, BookmarksWrittenByAnotherProcessAppearAfterItsBroadcast) {
  // Another root's bookmarks are neither shown nor touched.
  {
    CNorvPrivateRegistryKey other(plat::HKEY_CURRENT_USER,
                                  L"Bookmarks\\CNavItem://other\\Bookmark1", plat::KEY_ALL_ACCESS);
    other.SetStringValue(L"Name", L"elsewhere");
    other.SetStringValue(L"Path", L"/elsewhere");
    other.SetStringValue(L"Class", L"CNavItem");
    other.SetUIntValue(L"Icon", 0);
    other.SetUIntValue(L"View", 3);
  }
  BookmarkView bookmarks;
  bookmarks.SetTree(tree.get());
  bookmarks.SetRootObject(L"CNavItem", L"R");
  ASSERT_TRUE(bookmarks.LoadBookmarks());
  EXPECT_EQ(bookmarks.BookmarkCount(), 0);

  bool reloaded = false;
  plat::MessageListener listener([&](UINT message, WPARAM wParam, LPARAM) {
    if (message == BookmarkView::BookmarksUpdatedMessage() &&
        wParam != static_cast<WPARAM>(getpid())) {
      bookmarks.LoadBookmarks();
      reloaded = true;
    }
  });
  ASSERT_TRUE(listener.IsOpen());
  QProcess writer;
  writer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--bookmark-writer")});
  ASSERT_TRUE(writer.waitForFinished(30000));
  ASSERT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
  for (int i = 0; i < 50 && !reloaded; ++i) listener.Wait(100);
  ASSERT_TRUE(reloaded);
  ASSERT_EQ(bookmarks.BookmarkCount(), 2);
  EXPECT_EQ(bookmarks.Bookmark(0).path, L"/A/A1");
  EXPECT_EQ(bookmarks.Bookmark(0).name, L"First");  // renamed over there
  EXPECT_EQ(bookmarks.Bookmark(1).path, L"/x//y");
  CNorvPrivateRegistryKey other(plat::HKEY_CURRENT_USER, L"Bookmarks\\CNavItem://other\\Bookmark1");
  EXPECT_TRUE(other.IsOpen());

  // Going to a bookmark selects its node; one whose path vanished says so.
  EXPECT_TRUE(bookmarks.GoToBookmark(bookmarks.topLevelItem(1)));
  EXPECT_EQ(SelectedId(), L"R/S");
  bookmarks.SelectMatchingBookmark(L"/x//y");
  EXPECT_NE(bookmarks.currentItem(), nullptr);
  bookmarks.SelectMatchingBookmark(L"/A");
  EXPECT_EQ(bookmarks.currentItem(), nullptr);
  NavWorld::Get().children[L"R/A"] = {L"R/A/A2"};
  ASSERT_EQ(tree->NavigateTo(L"/A"), TreeView::NavigationOk);
  tree->OnCommand(35000);  // refresh: A1 is gone
  Messages().clear();
  EXPECT_FALSE(bookmarks.GoToBookmark(bookmarks.topLevelItem(0)));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find(L"First"), NorvString::npos);
  EXPECT_EQ(bookmarks.BookmarkCount(), 2);  // the bookmark stays
}

// ----- the main frame ------------------------------------------------------------

TEST(MainFrame, MergesMenusCoalescesRefreshesAndClosesOnTerminate) {
  // Menus: a plugin popup whose title differs only by "&" joins the
  // existing one; a new one goes in before Help.
  CNorvMenu host;
  host.AppendPopup(L"&File").AppendItem(1, L"Open");
  host.AppendPopup(L"&Help").AppendItem(2, L"About");
  CNorvMenu plugin;
  plugin.AppendPopup(L"Fi&le").AppendItem(3, L"Export");
  plugin.AppendPopup(L"&Tools").AppendItem(4, L"Check");
  ASSERT_TRUE(CMainFrame::MergeMenu(&host, &plugin, TRUE));
  ASSERT_EQ(host.GetItemCount(), 3);
  EXPECT_EQ(host.GetItemText(1), L"&Tools");
  EXPECT_EQ(host.GetItemText(2), L"&Help");
  const CNorvMenu* file = host.GetSubMenu(0);
  ASSERT_EQ(file->GetItemCount(), 3);  // Open, separator, Export
  EXPECT_TRUE(file->IsSeparator(1));
  EXPECT_EQ(file->GetItemId(2), 3u);

  NavWorld::Get().Reset();
  NavWorld::Get().children[L"R"] = {L"R/A"};
  CNorvDoc* doc = CNorvDoc::GetDoc();
  auto frame = std::make_unique<CMainFrame>(doc);
  frame->show();
  CNorvTreeListItem* root = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
  frame->InitTreeView(root);
  ASSERT_EQ(frame->Tree()->NavigateTo(L"/A"), TreeView::NavigationOk);
  EXPECT_EQ(frame->History()->EntryCount(), 2);  // the root, then A
  EXPECT_NE(frame->menuBar()->actions().size(), 0);

  // Three requests before idle time: one refresh.
  const int before = frame->RefreshRunCount();
  std::thread worker([] {
    for (int i = 0; i < 3; ++i) CNorvTreeListItem::InvokeRefresh();
  });
  worker.join();
  TreeFixture_Spin(100);
  EXPECT_EQ(frame->RefreshRunCount(), before + 1);

  // "NORV2.1_Terminate" from anywhere closes the window in order: the
  // item shown last hears that it is no longer shown.
  NavWorld::Get().calls.clear();
  plat::BroadcastMessage(plat::RegisterWindowMessage(std::wstring_view(L"NORV2.1_Terminate")), 0,
                         0);
  for (int i = 0; i < 50 && frame->isVisible(); ++i) TreeFixture_Spin(20);
  EXPECT_FALSE(frame->isVisible());
  int deselected = 0;
  for (const auto& call : NavWorld::Get().calls)
    if (call.id == L"R/A" && call.command == ID_NORV_ITEMCMD_TREEITEM_DESELECTED) ++deselected;
  EXPECT_EQ(deselected, 1);
  frame->RootDestroying(root);
  delete root;
  frame.reset();
}

// The other explorer process of the bookmark test.
int BookmarkWriter() {
  BookmarkView bookmarks;
  bookmarks.SetRootObject(L"CNavItem", L"R");
  bookmarks.LoadBookmarks();
  bookmarks.AddBookmark(L"CNavItem", L"/A/A1", 0, 3);
  bookmarks.AddBookmark(L"CNavItem", L"/x//y", 0, 2);
  // Renaming saves (and broadcasts) again.
  bookmarks.RenameBookmark(bookmarks.topLevelItem(0));
  auto* editor = bookmarks.viewport()->findChild<QLineEdit*>();
  if (editor == nullptr) return 3;
  editor->setText(QStringLiteral("First"));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  return bookmarks.Bookmark(0).name == L"First" ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc > 1 && std::string(argv[1]) == "--bookmark-writer") {
    QApplication app(argc, argv);
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    return BookmarkWriter();
  }
  char pattern[] = "/tmp/norv-nav-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string scratch = pattern;
  if (getenv("NORV_REGISTRY_DIR") == nullptr) {
    std::filesystem::create_directories(scratch + "/registry");
    setenv("NORV_REGISTRY_DIR", (scratch + "/registry").c_str(), 1);
  }
  if (getenv("NORV_RUNTIME_DIR") == nullptr) {
    std::filesystem::create_directories(scratch + "/runtime");
    setenv("NORV_RUNTIME_DIR", (scratch + "/runtime").c_str(), 1);
  }
  // The main frame's HTML panes start the browser engine, which runs as
  // root only without its sandbox.
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  ::testing::InitGoogleTest(&argc, argv);
  // The host's texts (messages, view mode names).
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    Messages().push_back(text);
    return IDOK;
  });
  int rc = 0;
  {
    CNorvDoc doc;
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return rc;
}
