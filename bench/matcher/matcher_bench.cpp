// Throughput of the list filters' pattern matcher (NorvRegExp) beside
// QRegularExpression on the same cells: 20,000 file names such as a list
// shows, each pattern compiled once and matched against every cell, as a
// column filter does. Patterns are written so that both read them alike;
// the match counts are compared before timing. Wildcard filters (modes 0
// and 1) are timed beside Qt's wildcard expressions.
//
// After the runs a table gives, per pattern, NorvRegExp's throughput as a
// multiple of QRegularExpression's, and the same over all patterns and
// over those with a literal part (a first character or a must-have string
// the matcher can search for).
#include <benchmark/benchmark.h>

#include <QRegularExpression>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "NorvFilterText.h"
#include "NorvRegExp.h"

namespace {

struct Cells {
  std::vector<std::wstring> wide;
  std::vector<QString> qt;
};

const Cells& TheCells() {
  static const Cells cells = [] {
    const wchar_t* stems[] = {L"report", L"Report", L"invoice", L"IMG", L"DSC", L"notes",
                              L"budget", L"setup-x86_64", L"readme", L"photo", L"résumé",
                              L"backup", L"data", L"Quarterly Summary", L"minutes", L"log"};
    const wchar_t* tails[] = {L"", L"", L"", L"_final", L"_draft", L" (copy 2)", L"-v2", L"_old"};
    const wchar_t* exts[] = {L".txt", L".docx", L".JPG", L".png", L".pdf", L".tar.gz",
                             L".xlsx", L".log", L".cpp", L".h", L".jpg", L""};
    std::mt19937 random(1234);
    Cells c;
    for (int i = 0; i < 20000; ++i) {
      std::wstring name = stems[random() % std::size(stems)];
      switch (random() % 4) {
        case 0: name += L"_" + std::to_wstring(1000 + random() % 9000); break;
        case 1: name += L"-20" + std::to_wstring(10 + random() % 15) + L"-0" + std::to_wstring(1 + random() % 9); break;
        case 2: name += std::to_wstring(random() % 100); break;
        default: break;
      }
      name += tails[random() % std::size(tails)];
      name += exts[random() % std::size(exts)];
      c.wide.push_back(name);
      c.qt.push_back(QString::fromStdWString(name));
    }
    return c;
  }();
  return cells;
}

struct Pattern {
  const char* name;
  const wchar_t* text;
  bool literal;  // has a first character or must-have string
};

const Pattern kPatterns[] = {
    {"word", L"report", true},
    {"suffix", L"\\.txt$", true},
    {"prefix", L"^IMG_", true},
    {"year", L"2024", true},
    {"tail-dot", L"_final\\.", true},
    {"star-literal", L".*copy", true},
    {"digits-ext", L"[0-9]+\\.JPG$", true},
    {"ext-alt", L"\\.(jpg|png|JPG)$", true},
    {"lead-digit", L"^[0-9]", false},
    {"cap-word", L"[A-Z][a-z]+_[0-9]", false},
    {"alternation", L"(draft|final|old)", false},
    {"odd-char", L"[^a-zA-Z0-9._ ()-]", false},
    {"dash-number", L"^.*-[0-9]+$", false},
    {"any-ending", L"[0-9][0-9]\\.....?$", false},
};

const wchar_t* kWildcards[] = {L"*.txt", L"IMG_????.JPG", L"*report*", L"*_final.*", L"r*e*o*"};

size_t CountNorv(NorvRegExp& re, const Cells& cells) {
  size_t n = 0;
  for (const std::wstring& cell : cells.wide) n += re.Match(std::wstring_view(cell));
  return n;
}

size_t CountQt(const QRegularExpression& re, const Cells& cells) {
  size_t n = 0;
  for (const QString& cell : cells.qt) n += re.match(cell).hasMatch();
  return n;
}

void NorvRegexp(benchmark::State& state, const Pattern* p) {
  const Cells& cells = TheCells();
  NorvRegExp re{std::wstring_view(p->text)};
  size_t matches = 0;
  for (auto _ : state) benchmark::DoNotOptimize(matches = CountNorv(re, cells));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cells.wide.size()));
  state.counters["matches"] = double(matches);
}

void QtRegexp(benchmark::State& state, const Pattern* p) {
  const Cells& cells = TheCells();
  QRegularExpression re(QString::fromWCharArray(p->text));
  re.optimize();
  size_t matches = 0;
  for (auto _ : state) benchmark::DoNotOptimize(matches = CountQt(re, cells));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cells.qt.size()));
  state.counters["matches"] = double(matches);
}

void WildcardNorv(benchmark::State& state, const wchar_t* pattern) {
  const Cells& cells = TheCells();
  size_t matches = 0;
  for (auto _ : state) {
    size_t n = 0;
    for (const std::wstring& cell : cells.wide) n += NorvWildcardMatch(pattern, cell);
    benchmark::DoNotOptimize(matches = n);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cells.wide.size()));
  state.counters["matches"] = double(matches);
}

void WildcardQt(benchmark::State& state, const wchar_t* pattern) {
  const Cells& cells = TheCells();
  QRegularExpression re(
      QRegularExpression::wildcardToRegularExpression(QString::fromWCharArray(pattern)));
  re.optimize();
  size_t matches = 0;
  for (auto _ : state) benchmark::DoNotOptimize(matches = CountQt(re, cells));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cells.qt.size()));
  state.counters["matches"] = double(matches);
}

// Keeps every run's time per pass over the cells, for the table.
class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;  // run name -> seconds per pass
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration)
        seconds[run.benchmark_name()] = run.GetAdjustedCPUTime() / 1e9;
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The two engines must agree on every pattern before they are compared.
  const Cells& cells = TheCells();
  for (const Pattern& p : kPatterns) {
    NorvRegExp norv{std::wstring_view(p.text)};
    QRegularExpression qt(QString::fromWCharArray(p.text));
    const size_t a = CountNorv(norv, cells), b = CountQt(qt, cells);
    if (!norv.IsValid() || !qt.isValid() || a != b) {
      std::fprintf(stderr, "pattern %s: NorvRegExp %zu matches, QRegularExpression %zu\n", p.name,
                   a, b);
      return 1;
    }
  }
  for (const Pattern& p : kPatterns) {
    benchmark::RegisterBenchmark((std::string("Regexp/Norv/") + p.name).c_str(), NorvRegexp, &p);
    benchmark::RegisterBenchmark((std::string("Regexp/Qt/") + p.name).c_str(), QtRegexp, &p);
  }
  for (const wchar_t* w : kWildcards) {
    const std::string name(w, w + std::wcslen(w));
    benchmark::RegisterBenchmark(("Wildcard/Norv/" + name).c_str(), WildcardNorv, w);
    benchmark::RegisterBenchmark(("Wildcard/Qt/" + name).c_str(), WildcardQt, w);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  auto& s = collector.seconds;
  std::printf("\nNorv throughput / Qt throughput (above 1: Norv faster)\n");
  double norvAll = 0, qtAll = 0, norvLit = 0, qtLit = 0, worstLit = 1e9;
  for (const Pattern& p : kPatterns) {
    const std::string n = std::string("Regexp/Norv/") + p.name, q = std::string("Regexp/Qt/") + p.name;
    if (!s.count(n) || !s.count(q)) continue;
    const double ratio = s[q] / s[n];
    std::printf("  %-14s %-24ls %6.2f%s\n", p.name, p.text, ratio, p.literal ? "  literal" : "");
    norvAll += s[n];
    qtAll += s[q];
    if (p.literal) norvLit += s[n], qtLit += s[q], worstLit = std::min(worstLit, ratio);
  }
  if (norvAll > 0) std::printf("  overall (all patterns)                  %6.2f\n", qtAll / norvAll);
  if (norvLit > 0)
    std::printf("  patterns with a literal part            %6.2f (lowest %.2f)\n", qtLit / norvLit,
                worstLit);
  for (const wchar_t* w : kWildcards) {
    const std::string name(w, w + std::wcslen(w));
    const std::string n = "Wildcard/Norv/" + name, q = "Wildcard/Qt/" + name;
    if (s.count(n) && s.count(q))
      std::printf("  wildcard %-14s %6.2f (%.0f ns per cell)\n", name.c_str(), s[q] / s[n],
                  s[n] * 1e9 / double(cells.wide.size()));
  }
  benchmark::Shutdown();
  return 0;
}
