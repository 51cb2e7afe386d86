#include "search_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/process.h"

namespace norvsetup {
namespace {

constexpr char kDefaultFolder[] = "/etc/ld.so.conf.d";
constexpr char kFileName[] = "norv21.conf";

bool Overridden() {
  const char* folder = std::getenv("NORV_LDSOCONF_DIR");
  return folder && *folder;
}

std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Writes the lines to a new file beside the old one and puts it in place.
bool WriteLines(const std::string& file, const std::vector<std::string>& lines) {
  if (lines.empty()) return ::unlink(file.c_str()) == 0 || errno == ENOENT;
  ::mkdir(LoaderConfigFolder().c_str(), 0755);
  const std::string temporary = file + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const auto& line : lines) out << line << '\n';
    out.flush();
    if (!out) {
      ::unlink(temporary.c_str());
      return false;
    }
  }
  ::chmod(temporary.c_str(), 0644);
  if (std::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// The loader reads its configuration through its cache: rebuild it, but only
// for the machine's own folder.
void RefreshLoaderCache() {
  if (Overridden()) return;
  plat::ProcessInfo process;
  if (plat::StartProcess(std::vector<std::string>{"ldconfig"}, {}, &process) == 0)
    plat::WaitForProcess(process, plat::INFINITE);
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  std::string result = text.substr(begin, end - begin + 1);
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

std::string LoaderConfigFolder() {
  return Overridden() ? std::getenv("NORV_LDSOCONF_DIR") : kDefaultFolder;
}

std::string LoaderConfigFile() { return LoaderConfigFolder() + "/" + kFileName; }

bool AddToSearchPath(const std::string& folder, bool* changed) {
  if (changed) *changed = false;
  if (folder.empty() || folder.find('\n') != std::string::npos) return false;
  const std::string file = LoaderConfigFile();
  std::vector<std::string> lines = ReadLines(file);
  for (const auto& line : lines)
    if (Trimmed(line) == Trimmed(folder)) return true;
  lines.push_back(folder);
  if (!WriteLines(file, lines)) return false;
  if (changed) *changed = true;
  RefreshLoaderCache();
  return true;
}

bool RemoveFromSearchPath(const std::string& folder) {
  const std::string file = LoaderConfigFile();
  std::vector<std::string> lines = ReadLines(file);
  std::vector<std::string> kept;
  for (const auto& line : lines)
    if (Trimmed(line) != Trimmed(folder) && !Trimmed(line).empty()) kept.push_back(line);
  if (kept.size() == lines.size()) return true;
  if (!WriteLines(file, kept)) return false;
  RefreshLoaderCache();
  return true;
}

}  // namespace norvsetup
