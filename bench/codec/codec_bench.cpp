// Compression and decompression throughput of the implode codec and of zlib
// (deflate level 6, inflate) on a corpus made at start: this program's own
// ELF file, the tree's C++ sources, an SQLite database, random bytes, zeros;
// ASCII mode on the sources.
// Bytes processed are uncompressed bytes; "ratio" is compressed / original.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "zel/implode.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes SourceText() {
  Bytes all;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(NORV_SOURCE_DIR)) {
    const auto& p = e.path();
    if (p.string().find("/.git") != std::string::npos) continue;
    if (e.is_regular_file() && (p.extension() == ".cpp" || p.extension() == ".h")) files.push_back(p);
  }
  std::sort(files.begin(), files.end());
  for (const auto& p : files) {
    Bytes b = ReadFile(p);
    all.insert(all.end(), b.begin(), b.end());
    if (all.size() > (4u << 20)) break;
  }
  return all;
}

Bytes SqliteDatabase() {
  const auto path = std::filesystem::temp_directory_path() / ("bench_codec_" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  sqlite3_exec(db,
               "CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT, size INTEGER, modified REAL,"
               " owner TEXT, digest BLOB); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO files(path, size, modified, owner, digest) VALUES(?,?,?,?,?)", -1, &st,
                     nullptr);
  std::mt19937 rng(7);
  static const char* dirs[] = {"Program Files/Quovix/Client", "Users/alice/Documents", "Windows/System32",
                               "Users/bob/Pictures/2019", "ProgramData/Quovix/cache"};
  for (int i = 0; i < 30000; ++i) {
    const std::string path = std::string("C:/") + dirs[rng() % 5] + "/file_" + std::to_string(rng() % 100000) +
                             (i % 3 ? ".dat" : ".txt");
    unsigned char digest[16];
    for (auto& d : digest) d = static_cast<unsigned char>(rng());
    sqlite3_bind_text(st, 1, path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, rng() % 10000000);
    sqlite3_bind_double(st, 3, 1.6e9 + rng() % 100000000);
    sqlite3_bind_text(st, 4, i % 2 ? "alice" : "bob", -1, SQLITE_STATIC);
    sqlite3_bind_blob(st, 5, digest, 16, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT; CREATE INDEX byPath ON files(path);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  Bytes b = ReadFile(path);
  std::filesystem::remove(path);
  return b;
}

const std::map<std::string, Bytes>& Corpus() {
  static const std::map<std::string, Bytes> corpus = [] {
    std::map<std::string, Bytes> c;
    c["elf"] = ReadFile("/proc/self/exe");
    c["source"] = SourceText();
    c["sqlite"] = SqliteDatabase();
    Bytes r(1 << 20);
    std::mt19937 rng(1);
    for (auto& x : r) x = static_cast<unsigned char>(rng());
    c["random"] = r;
    c["zeros"] = Bytes(1 << 20, 0);
    return c;
  }();
  return corpus;
}

struct Memory {
  const Bytes* in;
  std::size_t pos = 0;
  Bytes* out;
};

unsigned ReadMemory(char* buf, unsigned* size, void* param) {
  auto* m = static_cast<Memory*>(param);
  const std::size_t n = std::min<std::size_t>(*size, m->in->size() - m->pos);
  std::memcpy(buf, m->in->data() + m->pos, n);
  m->pos += n;
  return static_cast<unsigned>(n);
}

void WriteMemory(char* buf, unsigned* size, void* param) {
  auto* m = static_cast<Memory*>(param);
  m->out->insert(m->out->end(), buf, buf + *size);
}

Bytes Implode(const Bytes& in, char* work, unsigned type = zel::CMP_BINARY) {
  Bytes out;
  out.reserve(in.size() + in.size() / 4 + 64);
  Memory m{&in, 0, &out};
  unsigned dict = 4096;
  if (zel::implode(ReadMemory, WriteMemory, work, &m, &type, &dict) != zel::CMP_NO_ERROR)
    throw std::runtime_error("implode");
  return out;
}

Bytes Explode(const Bytes& in, char* work, std::size_t expected) {
  Bytes out;
  out.reserve(expected);
  Memory m{&in, 0, &out};
  if (zel::explode(ReadMemory, WriteMemory, work, &m) != zel::CMP_NO_ERROR) throw std::runtime_error("explode");
  return out;
}

Bytes Deflate(const Bytes& in) {
  uLongf n = compressBound(in.size());
  Bytes out(n);
  if (compress2(out.data(), &n, in.data(), in.size(), 6) != Z_OK) throw std::runtime_error("deflate");
  out.resize(n);
  return out;
}

Bytes Inflate(const Bytes& in, std::size_t expected) {
  Bytes out(expected);
  uLongf n = expected;
  if (uncompress(out.data(), &n, in.data(), in.size()) != Z_OK) throw std::runtime_error("inflate");
  out.resize(n);
  return out;
}

void Finish(benchmark::State& state, std::size_t original, std::size_t compressed) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(original));
  state.counters["ratio"] = double(compressed) / double(original);
  state.counters["MB"] = double(original) / 1e6;
}

void BM_Implode(benchmark::State& state, std::string name, unsigned type) {
  const Bytes& in = Corpus().at(name);
  auto work = std::make_unique<char[]>(zel::kImplodeWorkSize);
  std::size_t size = 0;
  for (auto _ : state) {
    Bytes out = Implode(in, work.get(), type);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, in.size(), size);
}

void BM_Explode(benchmark::State& state, std::string name, unsigned type) {
  const Bytes& in = Corpus().at(name);
  auto iwork = std::make_unique<char[]>(zel::kImplodeWorkSize);
  auto work = std::make_unique<char[]>(zel::kExplodeWorkSize);
  const Bytes packed = Implode(in, iwork.get(), type);
  if (Explode(packed, work.get(), in.size()) != in) throw std::runtime_error("round trip");
  for (auto _ : state) {
    Bytes out = Explode(packed, work.get(), in.size());
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, in.size(), packed.size());
}

void BM_Deflate6(benchmark::State& state, std::string name) {
  const Bytes& in = Corpus().at(name);
  std::size_t size = 0;
  for (auto _ : state) {
    Bytes out = Deflate(in);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, in.size(), size);
}

void BM_Inflate(benchmark::State& state, std::string name) {
  const Bytes& in = Corpus().at(name);
  const Bytes packed = Deflate(in);
  for (auto _ : state) {
    Bytes out = Inflate(packed, in.size());
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, in.size(), packed.size());
}

}  // namespace

int main(int argc, char** argv) {
  for (const char* name : {"elf", "source", "sqlite", "random", "zeros"}) {
    benchmark::RegisterBenchmark((std::string("Implode/") + name).c_str(), BM_Implode, std::string(name),
                                 zel::CMP_BINARY);
    benchmark::RegisterBenchmark((std::string("Deflate6/") + name).c_str(), BM_Deflate6, std::string(name));
    benchmark::RegisterBenchmark((std::string("Explode/") + name).c_str(), BM_Explode, std::string(name),
                                 zel::CMP_BINARY);
    benchmark::RegisterBenchmark((std::string("Inflate/") + name).c_str(), BM_Inflate, std::string(name));
  }
  // ASCII mode, on the text it is made for.
  benchmark::RegisterBenchmark("ImplodeAscii/source", BM_Implode, std::string("source"), zel::CMP_ASCII);
  benchmark::RegisterBenchmark("ExplodeAscii/source", BM_Explode, std::string("source"), zel::CMP_ASCII);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
