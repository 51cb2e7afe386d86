// The item model's hot paths: building and tearing down large child lists,
// setting flags from worker threads while the table fills, and finding a
// class by name among thousands.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "norv/NorvTlgItem.h"

class CBenchItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CBenchItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
};
NORV_IMPLEMENT_SERIAL(CBenchItem, CNorvTreeListItem, 1)

namespace {

// 1,000,000 children created directly and destroyed through the parent's
// child list (ClearList), the way a refreshed list is thrown away.
void BM_CreateDestroyMillionItems(benchmark::State& state) {
  for (auto _ : state) {
    CBenchItem parent;
    parent.SetStatic(TRUE);
    CNorvTLItemList& children = parent.GetItemList();
    for (int i = 0; i < 1000000; ++i) {
      auto* item = new CBenchItem;
      item->SetParent(&parent);
      children.AddTail(item);
    }
    children.ClearList();
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_CreateDestroyMillionItems)->Unit(benchmark::kMillisecond);

// The same through CreateObject (class lookup, Initialize, call brackets).
void BM_CreateObjectByName(benchmark::State& state) {
  CBenchItem parent;
  const NorvString className = L"CBenchItem";
  const NorvString id = L"id";
  for (auto _ : state) {
    CNorvTLItemList& children = parent.GetItemList();
    for (int i = 0; i < 100000; ++i)
      children.AddTail(CNorvTreeListItem::CreateObject(&parent, className, id));
    children.ClearList();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_CreateObjectByName)->Unit(benchmark::kMillisecond);

// Non-local SetFlags from several threads at once: each call takes the item
// model lock and writes the object flag table. One thread per benchmark
// thread, each with its own items; the table is emptied between runs.
void BM_SetFlagsConcurrently(benchmark::State& state) {
  std::vector<std::unique_ptr<CBenchItem>> items;
  for (int i = 0; i < 64; ++i) {
    items.push_back(std::make_unique<CBenchItem>());
    items.back()->Initialize(nullptr, L"t" + std::to_wstring(state.thread_index()) + L"-" +
                                          std::to_wstring(i));
  }
  int n = 0;
  for (auto _ : state) {
    items[n & 63]->SetFlags(NORV_ITEM_INVALID << (n % 5), FALSE);
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) CNorvTreeListItem::TakeObjectFlagTable();
}
BENCHMARK(BM_SetFlagsConcurrently)->Threads(1)->Threads(4)->UseRealTime();

// Looking classes up by name with 2,000 registered classes (the framework's
// own plus generated ones in a pretend library).
void BM_FindClassAmong2000(benchmark::State& state) {
  static std::vector<std::string> names;
  static std::vector<CNorvRuntimeClass> classes;
  if (classes.empty()) {
    names.reserve(2000);
    classes.reserve(2000);
    for (int i = 0; i < 2000; ++i) {
      names.push_back("CGeneratedItemClass" + std::to_string(i));
      classes.push_back(CNorvRuntimeClass{names.back().c_str(), 64, 1, nullptr,
                                          NORV_RUNTIME_CLASS(CNorvTreeListItem)});
    }
    for (CNorvRuntimeClass& c : classes) CNorvClassRegistry::Register(&c, "/bench/generated.so");
  }
  const NorvString wanted[] = {L"CGeneratedItemClass0", L"CGeneratedItemClass1999",
                               L"CGeneratedItemClass1000", L"CNoSuchClass"};
  int n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CNorvRuntimeClass::FromName(wanted[n & 3]));
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindClassAmong2000);

}  // namespace
