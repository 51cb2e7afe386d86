// How many trace lines a second the log takes, each written with its own
// write and therefore on disk (in the page cache) before the call returns.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvRegistryKey.h"
#include "norv/Trace.h"

namespace {

namespace fs = std::filesystem;

// One trace run in a scratch folder with its own registry.
class TraceRun {
 public:
  explicit TraceRun(DWORD enabled, int level) {
    std::string pattern = (fs::temp_directory_path() / "norv-bench-trace-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    setenv("NORV_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    CNorvCommandLineInfo cmd;
    cmd.m_bTraceEnabledGiven = TRUE;
    cmd.m_TraceEnabled = enabled;
    cmd.m_bTraceLevelGiven = TRUE;
    cmd.m_TraceLevel = level;
    cmd.m_bTraceLocationGiven = TRUE;
    cmd.m_TraceLocation = dir_.wstring();
    Trace::Start(&cmd);
  }
  ~TraceRun() {
    Trace::Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  fs::path dir_;
};

const NorvString kText = L"Calling CDiskItem::GetItems for [CDiskItem://C:] returned 12 items";

void BM_TraceLine(benchmark::State& state) {
  static TraceRun* run = nullptr;
  if (state.thread_index() == 0) run = new TraceRun(Trace::kFiles, 4);
  for (auto _ : state) NORV_BASE_TRACE(3, 0, kText);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete run;
    run = nullptr;
  }
}
BENCHMARK(BM_TraceLine)->Threads(1)->Threads(4)->UseRealTime();

void BM_PluginTraceLine(benchmark::State& state) {
  TraceRun run(Trace::kFiles, 4);
  for (auto _ : state) NORV_PLUGIN_TRACE(2, nullptr, 3, kText);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PluginTraceLine);

// What a line costs when its level is switched off.
void BM_FilteredLine(benchmark::State& state) {
  TraceRun run(Trace::kFiles, 1);
  for (auto _ : state) NORV_BASE_TRACE(3, 0, NorvFormatString(L"%s", kText.c_str()));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilteredLine);

}  // namespace
