// Time for the stub to extract a package of about 50 MB, run as
// users run it: a separate process with its own temporary directory.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "package_writer.h"

extern char** environ;

namespace {

// About 61 % of this content survives compression: a package of about 50 MB.
constexpr std::size_t kMemberBytes = (163u << 20) / 10;
constexpr int kMembers = 5;

struct Fixture {
  std::string dir;
  std::string package;
  std::uintmax_t packageBytes = 0;
  std::vector<std::string> env;

  Fixture() {
    char pattern[] = "/tmp/stubbench-XXXXXX";
    dir = mkdtemp(pattern);
    std::filesystem::create_directories(dir + "/out");
    std::filesystem::create_directories(dir + "/registry");
    package = dir + "/client.exe";
    std::filesystem::copy_file(STUB_FILE, package);

    // Content like program files: stretches of repeated structure between
    // stretches of noise, so about half of it compresses.
    std::mt19937 random(42);
    const char* names[kMembers] = {"install.cdb", "qxTrace.dll", "qvcryp32.dll", "qvcore32.dll", "client.msi"};
    std::vector<zel::PackageEntry> entries(kMembers);
    for (int m = 0; m < kMembers; ++m) {
      std::string content(kMemberBytes, '\0');
      for (std::size_t i = 0; i < content.size();) {
        std::size_t run = 64 + random() % 512;
        if (random() % 2) {
          for (std::size_t j = 0; j < run && i < content.size(); ++j, ++i) content[i] = static_cast<char>(random());
        } else {
          std::size_t back = 1 + random() % 2048;
          for (std::size_t j = 0; j < run && i < content.size(); ++j, ++i)
            content[i] = i >= back ? content[i - back] : 'x';
        }
      }
      std::string source = dir + "/" + names[m];
      std::ofstream(source, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
      std::snprintf(entries[m].source, sizeof entries[m].source, "%s", source.c_str());
      entries[m].name = nullptr;
    }
    zel::WritePackageMembers(package.c_str(), kMembers, entries.data(), 4096);
    packageBytes = std::filesystem::file_size(package);
    env = {"TMPDIR=" + dir + "/out", "NORV_REGISTRY_DIR=" + dir + "/registry"};
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void BM_StubExtractPackage50MB(benchmark::State& state) {
  static Fixture fixture;
  std::vector<char*> envp;
  for (auto& e : fixture.env) envp.push_back(e.data());
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("TMPDIR=", 0) != 0 && std::string(*e).rfind("NORV_REGISTRY_DIR=", 0) != 0)
      envp.push_back(*e);
  envp.push_back(nullptr);
  char* argv[] = {fixture.package.data(), nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, envp.data()) != 0) {
      state.SkipWithError("cannot start the package");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // Every run extracts into a fresh directory of its own: clear them away.
    state.PauseTiming();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fixture.dir + "/out", ec))
      std::filesystem::remove_all(entry.path(), ec);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kMemberBytes) * kMembers);
  state.counters["package_MB"] = static_cast<double>(fixture.packageBytes) / (1 << 20);
}
BENCHMARK(BM_StubExtractPackage50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
