#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"

using namespace plat;

namespace {

// Every run works in its own scratch folder, removed at exit.
struct ScratchRegistry {
  ScratchRegistry() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norv-reg-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir = pattern;
    setenv("NORV_REGISTRY_DIR", dir.c_str(), 1);
  }
  ~ScratchRegistry() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
};
ScratchRegistry scratch;

HKEY OpenBenchKey() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

void BM_QueryDword(benchmark::State& state) {
  HKEY key = OpenBenchKey();
  DWORD v = 42;
  RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
  for (auto _ : state) {
    DWORD out = 0, size = 4, type = 0;
    if (RegQueryValueExA(key, "Value", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) != ERROR_SUCCESS)
      state.SkipWithError("query failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(key);
}
BENCHMARK(BM_QueryDword);

void BM_QueryString(benchmark::State& state) {
  HKEY key = OpenBenchKey();
  std::string text(static_cast<size_t>(state.range(0)), 'x');
  std::vector<BYTE> wide;
  for (char c : text) wide.insert(wide.end(), {static_cast<BYTE>(c), 0});
  wide.insert(wide.end(), {0, 0});
  RegSetValueExW(key, L"Text", 0, REG_SZ, wide.data(), static_cast<DWORD>(wide.size()));
  std::vector<BYTE> buffer(wide.size());
  for (auto _ : state) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegQueryValueExW(key, L"Text", nullptr, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
      state.SkipWithError("query failed");
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(key);
}
BENCHMARK(BM_QueryString)->Arg(16)->Arg(1024);

void BM_SetDword(benchmark::State& state) {
  HKEY key = OpenBenchKey();
  DWORD v = 0;
  for (auto _ : state) {
    ++v;
    if (RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS)
      state.SkipWithError("set failed");
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(key);
}
BENCHMARK(BM_SetDword);

// New values each time: the key grows as it does when settings are added.
void BM_SetNewValues(benchmark::State& state) {
  HKEY key = OpenBenchKey();
  DWORD n = 0;
  for (auto _ : state) {
    std::string name = "v" + std::to_string(n++);
    if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4) != ERROR_SUCCESS)
      state.SkipWithError("set failed");
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(key);
}
BENCHMARK(BM_SetNewValues);

void BM_OpenCloseKey(benchmark::State& state) {
  RegCloseKey(OpenBenchKey());
  for (auto _ : state) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Bench", 0, KEY_READ, &key) != ERROR_SUCCESS)
      state.SkipWithError("open failed");
    RegCloseKey(key);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenCloseKey);

}  // namespace

BENCHMARK_MAIN();
