// The tree controls of plugin dialogs, offscreen, over the navigation
// tests' items (test_nav_items.h).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <memory>

#include "NavigationServices.h"
#include "NorvTreeCtrl.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvRegistryKey.h"
#include "platform/resources.h"
#include "test_nav_items.h"

// An object whose children cannot be read.
class CFailingItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CFailingItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = L"Broken";
  }
  BOOL HasTreeItems() override { return TRUE; }
  GetItemsResult GetItems(BOOL) override {
    ++asked;
    return GETITEMS_FAILED;
  }
  int asked = 0;
};
NORV_IMPLEMENT_SERIAL(CFailingItem, CNorvTreeListItem, 1)

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class TreeCtrlFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    NavWorld& world = NavWorld::Get();
    world.Reset();
    world.texts[L"R"] = L"Root";
    world.children[L"R"] = {L"R/B", L"R/A", L"R/S"};
    world.texts[L"R/S"] = L"x/y";
    world.children[L"R/A"] = {L"R/A/A1", L"R/A/A2"};
    world.children[L"R/A/A1"] = {L"R/A/A1/deep"};
    world.children[L"R/B"] = {L"R/B/B1"};
    root = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
    ASSERT_NE(root, nullptr);
    ctrl = std::make_unique<CNorvTreeCtrl>();
    ctrl->resize(300, 400);
    ctrl->show();
  }
  void TearDown() override {
    ctrl.reset();
    delete root;
  }
  QStringList TopTexts() const {
    QStringList texts;
    for (auto& node : ctrl->Model()->Top()->children) texts << node->text;
    return texts;
  }
  NorvString SelectedId() const {
    CNorvTreeListItem* item = ctrl->GetSelectedItem();
    return item != nullptr ? item->Id() : NorvString(L"(none)");
  }
  CNorvTreeListItem* Child(CNorvTreeListItem* parent, const NorvString& id) {
    for (CNorvTreeListItem* item : parent->GetItemList())
      if (item->Id() == id) return item;
    return nullptr;
  }

  CNorvTreeListItem* root = nullptr;
  std::unique_ptr<CNorvTreeCtrl> ctrl;
};

TEST_F(TreeCtrlFixture, BranchWithAndWithoutItsRootFilledLazily) {
  // Without the root: its children are the top nodes, no node for it.
  ASSERT_TRUE(ctrl->ShowContents(root, FALSE));
  EXPECT_EQ(TopTexts(), (QStringList{"B", "A", "x/y"}));
  EXPECT_EQ(ctrl->NodeOf(root), nullptr);
  EXPECT_EQ(ctrl->GetShownRoot(), root);
  CNorvTreeListItem* a = Child(root, L"R/A");
  ASSERT_NE(a, nullptr);
  NorvTreeNode* node = ctrl->NodeOf(a);
  ASSERT_NE(node, nullptr);
  // Not read before it is opened.
  EXPECT_FALSE(node->expandedOnce);
  EXPECT_TRUE(node->children.empty());
  EXPECT_TRUE(ctrl->ExpandItem(a));
  ASSERT_EQ(node->children.size(), 2u);
  EXPECT_EQ(node->children[0]->text, QStringLiteral("A1"));
  EXPECT_TRUE(ctrl->IsNodeExpanded(node));

  // With the root: one top node, open, its children below.
  ASSERT_TRUE(ctrl->ShowContents(root, TRUE));
  EXPECT_EQ(TopTexts(), (QStringList{"Root"}));
  NorvTreeNode* top = ctrl->NodeOf(root);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(ctrl->IsNodeExpanded(top));
  EXPECT_EQ(top->children.size(), 3u);

  ctrl->EraseContents();
  EXPECT_TRUE(TopTexts().isEmpty());
  EXPECT_EQ(ctrl->NodeOf(root), nullptr);
  EXPECT_EQ(ctrl->GetShownRoot(), nullptr);
}

TEST_F(TreeCtrlFixture, NavigateToIgnoresCaseAndFillsOnTheWay) {
  ASSERT_TRUE(ctrl->ShowContents(root, TRUE));
  EXPECT_TRUE(ctrl->NavigateTo(L"/a/A1/DEEP"));
  EXPECT_EQ(SelectedId(), L"R/A/A1/deep");
  EXPECT_TRUE(ctrl->NavigateTo(L"../.."));
  EXPECT_EQ(SelectedId(), L"R/A");
  EXPECT_TRUE(ctrl->NavigateTo(L"./A2"));
  EXPECT_EQ(SelectedId(), L"R/A/A2");
  EXPECT_TRUE(ctrl->NavigateTo(L"/x//Y"));
  EXPECT_EQ(SelectedId(), L"R/S");
  EXPECT_TRUE(ctrl->NavigateTo(L"/"));
  EXPECT_EQ(SelectedId(), L"R");
  // Missing elements, the parent of the top and the ".../" form fail and
  // leave the selection.
  EXPECT_FALSE(ctrl->NavigateTo(L"/A/nothing"));
  EXPECT_FALSE(ctrl->NavigateTo(L".."));
  EXPECT_FALSE(ctrl->NavigateTo(L".../A/A1"));
  EXPECT_EQ(SelectedId(), L"R");

  // Without the root, "/" stands above the top nodes.
  ASSERT_TRUE(ctrl->ShowContents(root, FALSE));
  EXPECT_TRUE(ctrl->NavigateTo(L"/B/b1"));
  EXPECT_EQ(SelectedId(), L"R/B/B1");
  EXPECT_TRUE(ctrl->NavigateTo(L".."));
  EXPECT_EQ(SelectedId(), L"R/B");
  EXPECT_FALSE(ctrl->NavigateTo(L"../A"));  // top nodes have no parent here
  EXPECT_FALSE(ctrl->NavigateTo(L"/"));
  EXPECT_EQ(SelectedId(), L"R/B");
}

TEST_F(TreeCtrlFixture, F5RefreshesAndKeepsTheNodeOpenOrClosed) {
  ASSERT_TRUE(ctrl->ShowContents(root, FALSE));
  auto* a = static_cast<CNavItem*>(Child(root, L"R/A"));
  ASSERT_TRUE(ctrl->ExpandItem(a));
  ctrl->setFocus();

  // Collapsed: refreshed, re-read when opened again, still collapsed.
  ctrl->collapse(ctrl->Model()->IndexFromNode(ctrl->NodeOf(a)));
  ctrl->SelectItem(a);
  NavWorld::Get().SetText(L"R/A", L"Renamed");
  const int before = a->refreshed;
  QTest::keyClick(ctrl.get(), Qt::Key_F5);
  EXPECT_EQ(a->refreshed, before + 1);
  NorvTreeNode* node = ctrl->NodeOf(a);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->text, QStringLiteral("Renamed"));
  EXPECT_FALSE(ctrl->IsNodeExpanded(node));
  EXPECT_TRUE(node->children.empty());
  EXPECT_TRUE(node->childIndicator);

  // Open: refreshed and open again with its children read anew.
  ASSERT_TRUE(ctrl->ExpandItem(a));
  NavWorld::Get().children[L"R/A"].push_back(L"R/A/A3");
  QTest::keyClick(ctrl.get(), Qt::Key_F5);
  node = ctrl->NodeOf(a);
  EXPECT_TRUE(ctrl->IsNodeExpanded(node));
  EXPECT_EQ(node->children.size(), 3u);
  EXPECT_EQ(a->refreshed, before + 2);
}

TEST_F(TreeCtrlFixture, ChildrenUnlinkedBehindItsBackStayTheControlsBusiness) {
  // The explorer's tree is alive and hears of every unlinked child list;
  // it must leave the control's nodes alone, and the control reads the
  // branch again at its next refresh.
  auto tree = std::make_unique<TreeView>();
  CNorvNavigationServices::Instance().Attach(tree.get(), nullptr);
  CNorvTreeListItem* other = CNorvTreeListItem::CreateObject(nullptr, L"CNavItem", L"R");
  tree->InitTree(other);
  Settle();

  ASSERT_TRUE(ctrl->ShowContents(root, FALSE));
  CNorvTreeListItem* a = Child(root, L"R/A");
  ASSERT_TRUE(ctrl->ExpandItem(a));
  ASSERT_EQ(ctrl->NodeOf(a)->children.size(), 2u);
  a->GetItemList().ClearList();  // the plugin drops its children
  a->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  Settle();
  EXPECT_EQ(tree->Model()->rowCount(), 1);  // the tree kept its own nodes

  EXPECT_TRUE(ctrl->RefreshItem(a, FALSE, FALSE));
  NorvTreeNode* node = ctrl->NodeOf(a);
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(node->children.size(), 2u);
  EXPECT_EQ(node->children[1]->text, QStringLiteral("A2"));
  EXPECT_EQ(ctrl->NodeOf(Child(a, L"R/A/A2")), node->children[1].get());

  tree.reset();
  CNorvNavigationServices::Instance().Detach();
  delete other;
}

TEST_F(TreeCtrlFixture, FailingChildrenLeaveTheNodeAsItWas) {
  auto* broken = static_cast<CFailingItem*>(
      CNorvTreeListItem::CreateObject(nullptr, L"CFailingItem", L"broken"));
  ASSERT_NE(broken, nullptr);
  EXPECT_FALSE(ctrl->ShowContents(broken, TRUE));
  NorvTreeNode* node = ctrl->NodeOf(broken);
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(node->children.empty());
  EXPECT_EQ(broken->GetFlags() & NORV_ITEM_ACCESSERROR, 0u);
  // Asked again when opened again.
  const int asked = broken->asked;
  ctrl->expand(ctrl->Model()->IndexFromNode(node));
  Settle();
  EXPECT_EQ(broken->asked, asked + 1);
  EXPECT_FALSE(ctrl->IsNodeExpanded(node));
  ctrl->EraseContents();
  delete broken;
}

// ----- options tree ---------------------------------------------------------

class OptionsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    options = std::make_unique<CNorvTreeOptionsCtrl>();
    options->resize(300, 300);
    EXPECT_TRUE(options->InitImageList(0));
    EXPECT_FALSE(options->InitImageList(0));
    view = options->AddRadioGroup(nullptr, QStringLiteral("View"), 0);
    large = options->AddEntry(view, QStringLiteral("Large"), &sizes[0]);
    small = options->AddEntry(view, QStringLiteral("Small"), &sizes[1]);
    list = options->AddEntry(view, QStringLiteral("List"), &sizes[2]);
    show = options->AddCheckGroup(nullptr, QStringLiteral("Show"), 1);
    hidden = options->AddEntry(show, QStringLiteral("Hidden files"), &flags[0]);
    ext = options->AddEntry(show, QStringLiteral("Extensions"), &flags[1]);
    options->show();
    Settle();
  }
  void Click(QStandardItem* node) {
    const QRect rect = options->visualRect(node->index());
    QTest::mouseClick(options->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void DoubleClick(QStandardItem* node) {
    const QPoint at = options->visualRect(node->index()).center();
    QTest::mouseClick(options->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(options->viewport(), Qt::LeftButton, {}, at);
  }

  int sizes[3] = {0, 1, 0};
  int flags[2] = {0, 1};
  std::unique_ptr<CNorvTreeOptionsCtrl> options;
  QStandardItem *view, *large, *small, *list, *show, *hidden, *ext;
};

TEST_F(OptionsFixture, EntriesShowTheIntsAndKinds) {
  EXPECT_EQ(view->data(CNorvTreeOptionsCtrl::KindRole).toInt(), CNorvTreeOptionsCtrl::kRadioGroup);
  EXPECT_EQ(options->ImageOf(view), 4);
  EXPECT_EQ(options->ImageOf(show), 5);
  EXPECT_EQ(options->ImageOf(large), CNorvTreeOptionsCtrl::RadioOff);
  EXPECT_EQ(options->ImageOf(small), CNorvTreeOptionsCtrl::RadioOn);
  EXPECT_EQ(options->ImageOf(ext), CNorvTreeOptionsCtrl::CheckOn);
  EXPECT_TRUE(options->IsRadio(small));
  EXPECT_FALSE(options->IsCheck(small));
  EXPECT_TRUE(options->IsCheck(hidden));
  EXPECT_FALSE(options->IsRadio(view));
  EXPECT_EQ(options->IsChecked(small), 1);
  EXPECT_EQ(options->AddEntry(large, QStringLiteral("not a group"), &flags[0]), nullptr);
  EXPECT_EQ(options->AddEntry(view, QStringLiteral("no int"), nullptr), nullptr);
  EXPECT_TRUE(options->isExpanded(view->index()));
}

TEST_F(OptionsFixture, ClicksSetTheIntsRadioGroupsExclusive) {
  QSignalSpy changed(options.get(), &CNorvTreeOptionsCtrl::EntryChanged);
  Click(list);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(sizes[0], 0);
  EXPECT_EQ(sizes[1], 0);
  EXPECT_EQ(sizes[2], 1);
  EXPECT_EQ(options->ImageOf(small), CNorvTreeOptionsCtrl::RadioOff);
  EXPECT_EQ(options->ImageOf(list), CNorvTreeOptionsCtrl::RadioOn);
  Click(list);  // stays on
  EXPECT_EQ(sizes[2], 1);

  Click(hidden);
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(options->ImageOf(hidden), CNorvTreeOptionsCtrl::CheckOn);
  // A double click acts twice in all (its first click and the double
  // click), never three times.
  DoubleClick(ext);
  EXPECT_EQ(flags[1], 1);
  // Space on the selected entry; groups do nothing.
  options->setCurrentIndex(hidden->index());
  QTest::keyClick(options.get(), Qt::Key_Space);
  EXPECT_EQ(flags[0], 0);
  Click(view);
  EXPECT_EQ(sizes[2], 1);
  EXPECT_EQ(flags[1], 1);
}

TEST_F(OptionsFixture, ReadOnlyRefusesEveryChange) {
  QSignalSpy changed(options.get(), &CNorvTreeOptionsCtrl::EntryChanged);
  options->SetReadOnly(TRUE);
  Click(large);
  DoubleClick(hidden);
  options->setCurrentIndex(ext->index());
  QTest::keyClick(options.get(), Qt::Key_Space);
  EXPECT_EQ(sizes[0], 0);
  EXPECT_EQ(sizes[1], 1);
  EXPECT_EQ(flags[0], 0);
  EXPECT_EQ(flags[1], 1);
  EXPECT_EQ(options->ImageOf(small), CNorvTreeOptionsCtrl::RadioOn);
  EXPECT_EQ(changed.count(), 0);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/norv-treectrl-test-XXXXXX";
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
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  ::testing::InitGoogleTest(&argc, argv);
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  int rc = 0;
  {
    CNorvDoc doc;
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return rc;
}
