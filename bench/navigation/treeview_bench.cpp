// TreeView (our model over the items) against QTreeWidget with the same
// texts, in the same run. Both views are shown (offscreen) and laid out
// after each step, so both pay for what a user would see.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "NavigationServices.h"
#include "TreeView.h"
#include "norv/NorvTlgItem.h"

constexpr int kChildren = 100000;
static int gVersion = 0;  // bumped before each refresh: every text changes

class CBenchItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CBenchItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    MakeText();
    return TRUE;
  }
  BOOL Refresh() override {
    MakeText();
    ClrFlags(NORV_ITEM_INVALID);
    return TRUE;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = text;
  }
  BOOL HasTreeItems() override { return m_strId == L"root" || m_strId == L"big"; }
  GetItemsResult GetItems(BOOL) override {
    if (IsListValid() && !GetItemList().IsEmpty()) return GETITEMS_OK;
    GetItemList().ClearList();
    if (m_strId == L"root") {
      GetItemList().AddTail(CreateObject(this, L"CBenchItem", L"big"));
    } else if (m_strId == L"big") {
      for (int i = 0; i < kChildren; ++i)
        GetItemList().AddTail(CreateObject(this, L"CBenchItem", std::to_wstring(i)));
    }
    SetListValid();
    return GETITEMS_OK;
  }
  void MakeText() { text = L"Item " + m_strId + L" v" + std::to_wstring(gVersion); }
  NorvString text;
};
NORV_IMPLEMENT_SERIAL(CBenchItem, CNorvTreeListItem, 1)

namespace {

QString Text(int i) { return QStringLiteral("Item %1 v%2").arg(i).arg(gVersion); }

struct TreeSetup {
  TreeSetup() {
    tree = std::make_unique<TreeView>();
    tree->resize(300, 600);
    tree->show();
    CNorvNavigationServices::Instance().Attach(tree.get(), nullptr);
    root = CNorvTreeListItem::CreateObject(nullptr, L"CBenchItem", L"root");
    tree->InitTree(root);
    big = tree->Model()->Top()->children[0]->children[0].get();
  }
  ~TreeSetup() {
    tree.reset();
    CNorvNavigationServices::Instance().Detach();
    delete root;
  }
  void Expand() {
    tree->SetNodeExpanded(big, true);
    QCoreApplication::processEvents();
  }
  // Collapse and drop the branch, as a refresh of the node does.
  void CollapseReset() {
    tree->collapse(tree->Model()->IndexFromNode(big));
    tree->Model()->RemoveChildren(big);
    big->expandedOnce = false;
    big->item->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
    QCoreApplication::processEvents();
  }
  std::unique_ptr<TreeView> tree;
  CNorvTreeListItem* root = nullptr;
  NorvTreeNode* big = nullptr;
};

struct WidgetSetup {
  WidgetSetup() {
    widget = std::make_unique<QTreeWidget>();
    widget->setHeaderHidden(true);
    widget->setUniformRowHeights(true);
    widget->resize(300, 600);
    widget->show();
    top = new QTreeWidgetItem(widget.get(), {QStringLiteral("root")});
    big = new QTreeWidgetItem(top, {QStringLiteral("big")});
    widget->expandItem(top);
    QCoreApplication::processEvents();
  }
  void Expand() {
    QList<QTreeWidgetItem*> items;
    items.reserve(kChildren);
    for (int i = 0; i < kChildren; ++i) items.append(new QTreeWidgetItem({Text(i)}));
    big->addChildren(items);
    widget->expandItem(big);
    QCoreApplication::processEvents();
  }
  void CollapseReset() {
    widget->collapseItem(big);
    qDeleteAll(big->takeChildren());
    QCoreApplication::processEvents();
  }
  std::unique_ptr<QTreeWidget> widget;
  QTreeWidgetItem* top = nullptr;
  QTreeWidgetItem* big = nullptr;
};

void BM_TreeView_ExpandCollapse(benchmark::State& state) {
  TreeSetup setup;
  for (auto _ : state) {
    setup.Expand();
    setup.CollapseReset();
  }
}
BENCHMARK(BM_TreeView_ExpandCollapse)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_QTreeWidget_ExpandCollapse(benchmark::State& state) {
  WidgetSetup setup;
  for (auto _ : state) {
    setup.Expand();
    setup.CollapseReset();
  }
}
BENCHMARK(BM_QTreeWidget_ExpandCollapse)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TreeView_RefreshAllChanged(benchmark::State& state) {
  TreeSetup setup;
  setup.Expand();
  std::vector<CNorvTreeListItem*> children(setup.big->item->GetItemList().begin(),
                                           setup.big->item->GetItemList().end());
  for (auto _ : state) {
    state.PauseTiming();
    ++gVersion;
    {
      // What a plugin thread does: flag every changed object.
      std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
      for (CNorvTreeListItem* child : children) child->SetFlags(NORV_ITEM_INVALID, TRUE);
    }
    state.ResumeTiming();
    setup.tree->AutoRefresh(nullptr, FALSE);
    QCoreApplication::processEvents();
  }
  if (setup.big->children.back()->text != Text(kChildren - 1))
    state.SkipWithError("the last node does not show its new text");
}
BENCHMARK(BM_TreeView_RefreshAllChanged)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_QTreeWidget_RefreshAllChanged(benchmark::State& state) {
  WidgetSetup setup;
  setup.Expand();
  for (auto _ : state) {
    ++gVersion;
    for (int i = 0; i < kChildren; ++i) setup.big->child(i)->setText(0, Text(i));
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_QTreeWidget_RefreshAllChanged)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
