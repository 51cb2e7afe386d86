// Command lines in the Windows form: one string that the started program
// splits itself. The system builds such strings (for example to start a second
// explorer) and hands them over, so both directions follow Windows exactly.
#include "platform/process.h"

namespace plat {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (i == n) return args;

  // The program name: no backslash rules, as Windows reads it.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') program += line[i++];
    if (i < n) ++i;  // the closing quote
  } else {
    while (i < n && !IsBlank(line[i])) program += line[i++];
  }
  args.push_back(std::move(program));

  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      char c = line[i];
      if (c == '\\') {
        size_t backslashes = 0;
        while (i < n && line[i] == '\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            arg += '"';
            ++i;
          }
          // An even count leaves the quote to the case below.
        } else {
          arg.append(backslashes, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

namespace {

void AppendQuoted(const std::string& arg, std::string& out) { out += QuoteArgument(arg); }

void AppendProgram(const std::string& program, std::string& out) {
  bool blank = program.find_first_of(" \t") != std::string::npos;
  if (!program.empty() && !blank && program.front() != '"') {
    out += program;
    return;
  }
  out += '"';
  for (char c : program)
    if (c != '"') out += c;
  out += '"';
}

}  // namespace

std::string QuoteArgument(std::string_view arg, bool alwaysQuote) {
  bool plain = !alwaysQuote && !arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos;
  if (plain) return std::string(arg);  // backslashes are literal when no quote follows them
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  // Before the closing quote every backslash must be doubled.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string JoinCommandLine(const std::vector<std::string>& argv) {
  std::string out;
  for (size_t k = 0; k < argv.size(); ++k) {
    if (k == 0) {
      AppendProgram(argv[0], out);
    } else {
      out += ' ';
      AppendQuoted(argv[k], out);
    }
  }
  return out;
}

}  // namespace plat
