// norvfilter: prints the input lines that pass a column filter, the way the
// list decides which rows to show. Users try a filter before saving it, and
// the matcher can be checked from outside.
//
//   norvfilter -m MODE PATTERN [FILE]   one filter on the whole line
//   norvfilter -f FILTERTEXT [FILE]     a stored filter text on the line's
//                                       tab-separated columns (ids 0, 1, ...)
//
// Exit status: 0 when some line passed, 1 when none did, 2 on a bad pattern,
// bad filter text, usage error or unreadable input.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NorvFilterText.h"
#include "NorvRegExp.h"
#include "platform/text.h"

namespace {

constexpr int kPassed = 0, kNonePassed = 1, kError = 2;

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "norvfilter: %s\n", why);
  std::fputs(
      "usage: norvfilter -m MODE PATTERN [FILE] | -f FILTERTEXT [FILE]\n"
      "Prints the lines of FILE (standard input without it) that pass the filter.\n"
      "  -m MODE PATTERN  one filter on the whole line: mode 0 the line matches the\n"
      "                   wildcard pattern (* any run, ? one character), 1 it does not,\n"
      "                   2 it contains a match of the regular expression\n"
      "  -f FILTERTEXT    a stored filter text ($id,enabled,mode,\"pattern\" ...) on the\n"
      "                   line's tab-separated columns, numbered from 0\n"
      "Exit status: 0 some line passed, 1 none did, 2 error.\n",
      stderr);
  return kError;
}

// Reads one line without its end ("\n" or "\r\n"); false at the end.
bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return false;
  return true;
}

std::vector<NorvFilterString> SplitTabs(const std::wstring& line) {
  std::vector<NorvFilterString> cells;
  size_t from = 0;
  for (size_t tab; (tab = line.find(L'\t', from)) != std::wstring::npos; from = tab + 1)
    cells.push_back(line.substr(from, tab - from));
  cells.push_back(line.substr(from));
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string option = argv[1];
  const bool single = option == "-m";
  if (!single && option != "-f") return Usage(("unknown option " + option).c_str());
  const int operands = single ? 2 : 1;
  if (argc < 2 + operands) return Usage("missing operand");
  if (argc > 3 + operands) return Usage("too many operands");

  CNorvFilterSet filters;
  if (single) {
    char* end = nullptr;
    errno = 0;
    const long mode = std::strtol(argv[2], &end, 0);
    if (errno != 0 || end == argv[2] || *end != 0 || mode < 0 || mode > 2)
      return Usage(("mode must be 0, 1 or 2, not " + std::string(argv[2])).c_str());
    const std::wstring pattern = plat::FromUtf8(argv[3]);
    if (mode == 2) {
      NorvRegExp check{std::wstring_view(pattern)};
      if (!check.IsValid()) {
        std::fprintf(stderr, "norvfilter: %s\n", check.Error().c_str());
        return kError;
      }
    }
    filters.Add(0, static_cast<UINT>(mode), pattern);
  } else {
    const std::wstring text = plat::FromUtf8(argv[2]);
    std::string error;
    if (!filters.Parse(text, &error)) {
      std::fprintf(stderr, "norvfilter: %s\n", error.c_str());
      return kError;
    }
    // The list lets a pattern that does not compile filter nothing; trying
    // a filter out is where to hear about it.
    for (const NorvFilterRecord& record : NorvParseFilterRecords(text)) {
      if (!record.enabled || record.mode != 2) continue;
      NorvRegExp check{std::wstring_view(record.pattern)};
      if (!check.IsValid()) {
        std::fprintf(stderr, "norvfilter: column %d: %s\n", static_cast<int>(record.columnId),
                     check.Error().c_str());
        return kError;
      }
    }
  }

  std::FILE* in = stdin;
  const char* name = argc > 2 + operands ? argv[2 + operands] : nullptr;
  if (name && std::strcmp(name, "-") != 0) {
    in = std::fopen(name, "rb");
    if (!in) {
      std::fprintf(stderr, "norvfilter: %s: %s\n", name, std::strerror(errno));
      return kError;
    }
  }
  int status = kNonePassed;
  std::string line;
  std::vector<UINT> ids;
  while (ReadLine(in, line)) {
    std::string_view cell = line;
    if (!cell.empty() && cell.back() == '\r') cell.remove_suffix(1);
    const std::wstring wide = plat::FromUtf8(cell);
    bool passes;
    if (single) {
      passes = filters.RowPasses({0}, {wide});
    } else {
      const std::vector<NorvFilterString> cells = SplitTabs(wide);
      while (ids.size() < cells.size()) ids.push_back(static_cast<UINT>(ids.size()));
      passes = filters.RowPasses(std::vector<UINT>(ids.begin(), ids.begin() + cells.size()), cells);
    }
    if (passes) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      status = kPassed;
    }
  }
  const bool readFailed = std::ferror(in);
  if (in != stdin) std::fclose(in);
  if (readFailed) {
    std::fprintf(stderr, "norvfilter: %s: read error\n", name ? name : "standard input");
    return kError;
  }
  if (std::fflush(stdout) != 0) return kError;
  return status;
}
