// The list view (our table model over the items) against the plain Qt
// stack, QStandardItemModel + QSortFilterProxyModel + QTreeView, in the
// same run on the same children: four columns (a file name, a size, a date
// and a type), filled from the items, filtered by a wildcard pattern on the
// name and sorted by the name. Both views are shown (offscreen) and laid
// out after each fill. Memory per row is what the heap holds for the shown
// list (mallinfo2: allocated plus mapped bytes), the items themselves not
// counted for either.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <QApplication>
#include <QHeaderView>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTreeView>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "NorvListView.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "platform/registry.h"

const wchar_t* const kPattern = L"*7*.txt";

// One file: the plugin's own data.
class CBenchFile : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CBenchFile)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  const NorvString& Field(int column) const {
    switch (column) {
      case 1:
        return name;
      case 2:
        return size;
      case 3:
        return date;
      default:
        return type;
    }
  }
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override {
    if (mask & NORV_TLVI_TEXT) info->strText = Field(column);
    if (mask & NORV_TLVI_IMAGE) info->nImage = 0;
    return TRUE;
  }
  int Compare(CNorvTreeListItem* other, int column, BOOL ascending) override {
    const int r = Field(column).compare(static_cast<CBenchFile*>(other)->Field(column));
    return ascending ? r : -r;
  }
  NorvString name, size, date, type;
};
NORV_IMPLEMENT_SERIAL(CBenchFile, CNorvTreeListItem, 1)

// The folder: four columns, sorted by the name.
class CBenchFolder : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CBenchFolder)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override {
    titles = &m_titles;
    widths = &m_widths;
    ids = &m_ids;
    formats = &m_formats;
    return 1;
  }
  GetItemsResult GetItems(BOOL) override { return GETITEMS_OK; }
  void Fill(int count) {
    std::mt19937 random(42);
    static const wchar_t* const kTypes[] = {L"Text Document", L"Image", L"Archive", L"Application"};
    static const wchar_t* const kExtensions[] = {L".txt", L".png", L".zip", L".exe"};
    for (int i = 0; i < count; ++i) {
      auto* file = new CBenchFile;
      file->Initialize(this, std::to_wstring(i));
      const unsigned kind = random() % 4;
      file->name = L"file_" + std::to_wstring(random() % 10000000) + kExtensions[kind];
      file->size = std::to_wstring(random() % 100000000);
      wchar_t date[32];
      swprintf(date, 32, L"20%02u-%02u-%02u %02u:%02u", random() % 25, 1 + random() % 12,
               1 + random() % 28, random() % 24, random() % 60);
      file->date = date;
      file->type = kTypes[kind];
      GetItemList().AddTail(file);
    }
  }

 private:
  NorvStringList m_titles{L"Name", L"Size", L"Date", L"Type"};
  NorvUIntArray m_widths{200, 80, 120, 100};
  NorvUIntArray m_ids{1, 2, 3, 4};
  NorvUIntArray m_formats{0, 1, 0, 0};
};
NORV_IMPLEMENT_SERIAL(CBenchFolder, CNorvTreeListItem, 1)

namespace {

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The children, made once per size and shared by both stacks.
CBenchFolder* Folder(int count) {
  static std::map<int, std::unique_ptr<CBenchFolder>> folders;
  auto& folder = folders[count];
  if (!folder) {
    folders.clear();  // one size at a time
    folders[count] = std::make_unique<CBenchFolder>();
    CBenchFolder* made = folders[count].get();
    made->Initialize(nullptr, L"folder");
    made->Fill(count);
    return made;
  }
  return folder.get();
}

void BM_ListView(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CBenchFolder* folder = Folder(count);
  {
    // The user's filter on the name for this column set.
    const NorvString key = CNorvListView::MakeColumnSetKey(L"CBenchFolder", {1, 2, 3, 4});
    CNorvPrivateRegistryKey filters(plat::HKEY_CURRENT_USER, L"ColumnFilters",
                                    plat::KEY_ALL_ACCESS);
    filters.SetStringValue(key, NorvString(L"$1,1,0,\"") + kPattern + L"\" ");
  }
  auto view = std::make_unique<CNorvListView>();
  view->resize(800, 600);
  view->show();
  QCoreApplication::processEvents();
  size_t bytes = 0;
  int rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    view->EraseContents();
    QCoreApplication::processEvents();
    const size_t before = HeapInUse();
    state.ResumeTiming();
    view->ShowContents(folder);
    QCoreApplication::processEvents();
    state.PauseTiming();
    bytes = HeapInUse() - before;
    rows = view->Model()->RowCount();
    state.ResumeTiming();
  }
  state.counters["rows_shown"] = rows;
  state.counters["bytes_per_child"] = static_cast<double>(bytes) / count;
  state.counters["bytes_per_row"] = rows > 0 ? static_cast<double>(bytes) / rows : 0;
  if (rows == 0 || view->Model()->CellText(0, 0) > view->Model()->CellText(rows - 1, 0))
    state.SkipWithError("the rows are not filtered and sorted");
}

void BM_QtStandardModel(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CBenchFolder* folder = Folder(count);
  auto view = std::make_unique<QTreeView>();
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->resize(800, 600);
  view->show();
  QCoreApplication::processEvents();
  std::unique_ptr<QStandardItemModel> model;
  std::unique_ptr<QSortFilterProxyModel> proxy;
  const QRegularExpression pattern =
      QRegularExpression::fromWildcard(QString::fromWCharArray(kPattern), Qt::CaseSensitive);
  size_t bytes = 0;
  int rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    view->setModel(nullptr);
    proxy.reset();
    model.reset();
    QCoreApplication::processEvents();
    const size_t before = HeapInUse();
    state.ResumeTiming();
    model = std::make_unique<QStandardItemModel>(count, 4);
    model->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"),
                                      QStringLiteral("Date"), QStringLiteral("Type")});
    int r = 0;
    for (CNorvTreeListItem* child : folder->GetItemList()) {
      auto* file = static_cast<CBenchFile*>(child);
      for (int c = 0; c < 4; ++c)
        model->setItem(r, c, new QStandardItem(QString::fromStdWString(file->Field(c + 1))));
      ++r;
    }
    proxy = std::make_unique<QSortFilterProxyModel>();
    proxy->setSourceModel(model.get());
    proxy->setFilterKeyColumn(0);
    proxy->setFilterRegularExpression(pattern);
    proxy->sort(0, Qt::AscendingOrder);
    view->setModel(proxy.get());
    QCoreApplication::processEvents();
    state.PauseTiming();
    bytes = HeapInUse() - before;
    rows = proxy->rowCount();
    state.ResumeTiming();
  }
  state.counters["rows_shown"] = rows;
  state.counters["bytes_per_child"] = static_cast<double>(bytes) / count;
  state.counters["bytes_per_row"] = rows > 0 ? static_cast<double>(bytes) / rows : 0;
}

BENCHMARK(BM_ListView)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QtStandardModel)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ListView)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_QtStandardModel)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // A registry of its own for the filter setting.
  char pattern[] = "/tmp/norv-list-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  setenv("NORV_REGISTRY_DIR", pattern, 1);
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
