// norvrc: compiles a resource script (docs/resources.md) into the C++ source
// of a resource library.
//
//   norvrc SCRIPT -o OUTPUT.cpp [--depfile FILE.d]
//
// Errors go to stderr as "SCRIPT:line:column: message"; nothing is
// written then. The output is rewritten only when its text changes.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "emit.h"
#include "parser.h"

namespace {

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

// Replaces `path` only when the text differs, through a temporary file, so
// that a failed write never leaves half a source behind.
bool WriteIfChanged(const std::string& path, const std::string& text) {
  std::string old;
  if (ReadFile(path, &old) && old == text) return true;
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

// Make's and Ninja's depfile syntax: spaces and '#' escaped with a backslash.
std::string DepfileName(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == ' ' || c == '#') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

int Usage() {
  std::cerr << "usage: norvrc SCRIPT -o OUTPUT.cpp [--depfile FILE.d]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string script, output, depfile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-o" || arg == "--depfile") && i + 1 < argc) {
      (arg == "-o" ? output : depfile) = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && script.empty()) {
      script = arg;
    } else {
      return Usage();
    }
  }
  if (script.empty() || output.empty()) return Usage();

  std::string source;
  if (!ReadFile(script, &source)) {
    std::cerr << script << ": error: cannot read the script\n";
    return 1;
  }
  std::size_t slash = script.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : script.substr(0, slash);
  norvrc::Script parsed;
  std::string error, text;
  if (!norvrc::ParseScript(source, folder, &parsed, &error) ||
      !norvrc::EmitTable(parsed, script.substr(slash == std::string::npos ? 0 : slash + 1), &text,
                         &error)) {
    std::cerr << script << ":" << error << "\n";
    return 1;
  }
  if (!WriteIfChanged(output, text)) {
    std::cerr << output << ": error: cannot write the output\n";
    return 1;
  }
  if (!depfile.empty()) {
    std::string deps = DepfileName(output) + ":";
    deps += " " + DepfileName(script);
    for (const std::string& f : parsed.files) deps += " \\\n  " + DepfileName(f);
    if (!WriteIfChanged(depfile, deps + "\n")) {
      std::cerr << depfile << ": error: cannot write the depfile\n";
      return 1;
    }
  }
  return 0;
}
