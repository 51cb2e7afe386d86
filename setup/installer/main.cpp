// NorvSetup.exe: the framework installer. Installs the framework from the
// installation image it sits in (its own folder, described by
// "NorvSetup.ini") into the destination named by a response file, copies
// that image, and uninstalls an installation from its log.
//
//   NorvSetup.exe -O -A -V -XC -R<response file>            install
//   NorvSetup.exe -I<folder>/cpyimage.isc ... -R<response>  copy the image
//   NorvSetup.exe -U -f<installation log>                   uninstall
//
// Exit codes: 0 done; 1 bad command line; 2 response file unreadable,
// malformed or holding a value too long for a path buffer; 3 installation
// image incomplete; 4 a file could not be written or removed; 5 the registry
// could not be written; 7 files to be replaced are in use by running
// programs (nothing was changed: close them and run again).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/winpath.h"
#include "response_file.h"
#include "search_path.h"
#include "setup_keys.h"

namespace fs = std::filesystem;
using namespace norvsetup;

namespace {

constexpr int kOk = 0;
constexpr int kBadCommandLine = 1;
constexpr int kBadResponse = 2;
constexpr int kBadImage = 3;
constexpr int kFileFailed = 4;
constexpr int kRegistryFailed = 5;
constexpr int kInUse = 7;

constexpr char kManifest[] = "NorvSetup.ini";
constexpr char kProgram[] = "NorvSetup.exe";
constexpr char kLogName[] = "Norv21.log";

int Fail(int code, const std::string& text) {
  std::cerr << "NorvSetup: " << text << "\n";
  return code;
}

std::string ReadFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  *ok = static_cast<bool>(in) || in.eof();
  if (!in.is_open()) *ok = false;
  return content.str();
}

// --- response file -------------------------------------------------------

int ReadResponse(const std::string& path, ResponseAnswers* answers) {
  bool ok = false;
  const std::string content = ReadFile(path, &ok);
  if (!ok) return Fail(kBadResponse, "cannot read the response file \"" + path + "\"");
  std::string error;
  if (!ParseResponse(content, answers, &error))
    return Fail(kBadResponse, "response file \"" + path + "\": " + error);
  return kOk;
}

std::string Unquoted(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    return text.substr(1, text.size() - 2);
  return text;
}

// --- installation image --------------------------------------------------

struct Image {
  std::string folder;
  std::string version;
  std::string frameworkFolder = "Norv21";
  std::string exe;
  std::vector<std::string> files;  // relative to the image folder
};

std::string ProgramFolder() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

bool SafeRelativeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\n') != std::string::npos) return false;
  for (const auto& part : fs::path(name))
    if (part == "..") return false;
  return true;
}

int ReadImage(Image* image) {
  image->folder = ProgramFolder();
  bool ok = false;
  const std::string content = ReadFile(image->folder + "/" + kManifest, &ok);
  if (!ok) return Fail(kBadImage, "no " + std::string(kManifest) + " in " + image->folder);
  const auto manifest = plat::ProfileDocument::Parse(content);
  std::string value;
  if (!manifest.Get("Framework", "Version", &image->version) || image->version.empty())
    return Fail(kBadImage, "the image names no version");
  if (manifest.Get("Framework", "Folder", &value) && !value.empty()) image->frameworkFolder = value;
  manifest.Get("Framework", "ExePath", &image->exe);
  if (!SafeRelativeName(image->frameworkFolder) ||
      (!image->exe.empty() && !SafeRelativeName(image->exe))) {
    return Fail(kBadImage, "the image names a folder outside the destination");
  }
  std::set<std::string> seen;
  auto add = [&](const std::string& name) {
    if (seen.insert(name).second) image->files.push_back(name);
  };
  for (const auto& [key, file] : manifest.Entries("Files")) {
    const std::string name = Unquoted(file);
    if (!SafeRelativeName(name)) return Fail(kBadImage, "bad file name \"" + name + "\"");
    add(name);
  }
  add(kProgram);
  add(kManifest);
  for (const auto& name : image->files) {
    std::error_code error;
    if (!fs::is_regular_file(image->folder + "/" + name, error))
      return Fail(kBadImage, "the image lacks \"" + name + "\"");
  }
  return kOk;
}

// --- files ---------------------------------------------------------------

bool SameContent(const std::string& a, const std::string& b) {
  std::error_code e1, e2;
  if (fs::file_size(a, e1) != fs::file_size(b, e2) || e1 || e2) return false;
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  char bx[65536], by[65536];
  while (x && y) {
    x.read(bx, sizeof bx);
    y.read(by, sizeof by);
    if (x.gcount() != y.gcount() || std::memcmp(bx, by, x.gcount()) != 0) return false;
  }
  return x.eof() && y.eof();
}

// Copies to a new file beside the target and renames it into place, so a
// program that has the old file open or mapped keeps it intact.
bool InstallFile(const std::string& source, const std::string& target) {
  std::error_code error;
  fs::create_directories(fs::path(target).parent_path(), error);
  const std::string temporary = target + ".norvsetup-new";
  fs::remove(temporary, error);
  if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error)) return false;
  struct stat st;
  if (::stat(source.c_str(), &st) == 0) ::chmod(temporary.c_str(), st.st_mode & 07777);
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  fs::path result = fs::weakly_canonical(path, error);
  return error ? path : result.string();
}

// Whether a running program (other than this one) has one of the files
// open, mapped or as its program file.
bool InUse(const std::set<std::string>& files) {
  if (files.empty()) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return false;
  const std::string self = std::to_string(getpid());
  auto hit = [&](std::string path) {
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
      return false;  // an old copy, already replaced
    return files.count(path) > 0;
  };
  while (dirent* entry = readdir(proc.get())) {
    const std::string pid = entry->d_name;
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    const std::string base = "/proc/" + pid;
    std::error_code error;
    fs::path exe = fs::read_symlink(base + "/exe", error);
    if (!error && hit(exe.string())) return true;
    std::ifstream maps(base + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
      const size_t slash = line.find('/');
      if (slash != std::string::npos && hit(line.substr(slash))) return true;
    }
    for (fs::directory_iterator fd(base + "/fd", error), end; !error && fd != end;
         fd.increment(error)) {
      std::error_code linkError;
      fs::path target = fs::read_symlink(fd->path(), linkError);
      if (!linkError && hit(target.string())) return true;
    }
  }
  return false;
}

// --- installation log ----------------------------------------------------

struct Log {
  std::vector<std::string> entries;  // "file=...", "folder=...", "value=key|name", "searchpath=..."
  void Add(const std::string& entry) {
    if (std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.push_back(entry);
  }
};

Log ReadLog(const std::string& path) {
  Log log;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != ';') log.Add(line);
  return log;
}

bool WriteLog(const std::string& path, const Log& log) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "; Norv 2.1 installation log: what NorvSetup.exe -U removes\n";
    for (const auto& entry : log.entries) out << entry << '\n';
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// --- the three modes -----------------------------------------------------

// Plans the copy of the image's files into `target`: which are new and
// which replace different files. Refuses when a file to replace is in use.
int CopyImage(const Image& image, const std::string& target, bool replace, Log* log) {
  std::vector<std::string> copies;
  std::set<std::string> replaced;
  for (const auto& name : image.files) {
    const std::string source = image.folder + "/" + name;
    const std::string destination = target + "/" + name;
    if (destination.size() > kMaxText)
      return Fail(kBadResponse, "\"" + destination + "\" is longer than a path");
    std::error_code error;
    const bool exists = fs::exists(destination, error);
    if (exists && (!replace || SameContent(source, destination))) continue;
    if (Canonical(source) == Canonical(destination)) continue;
    copies.push_back(name);
    if (exists) replaced.insert(Canonical(destination));
  }
  if (InUse(replaced))
    return Fail(kInUse, "files in " + target + " are in use by running programs");
  std::error_code error;
  if (!fs::exists(target, error)) {
    if (!fs::create_directories(target, error)) return Fail(kFileFailed, "cannot create " + target);
    if (log) log->Add("folder=" + target);
  }
  for (const auto& name : copies) {
    // Subfolders made here go with the installation.
    for (fs::path folder = fs::path(target + "/" + name).parent_path();
         log && folder.string().size() > target.size() && !fs::exists(folder, error);
         folder = folder.parent_path()) {
      log->Add("folder=" + folder.string());
    }
    if (!InstallFile(image.folder + "/" + name, target + "/" + name))
      return Fail(kFileFailed, "cannot write " + target + "/" + name);
  }
  if (log)
    for (const auto& name : image.files) log->Add("file=" + target + "/" + name);
  return kOk;
}

int Install(const ResponseAnswers& response) {
  Image image;
  if (int rc = ReadImage(&image)) return rc;
  const std::string destination = plat::WindowsPathToLinux(response.destination);
  const std::string path = destination + "/" + image.frameworkFolder;
  const std::string logPath = destination + "/" + kLogName;
  const std::string exePath = image.exe.empty() ? std::string() : path + "/" + image.exe;
  const std::string uninstall = plat::QuoteArgument(path + "/" + kProgram) + " -U " +
                                plat::QuoteArgument("-f" + logPath);
  for (const std::string* value : {&path, &logPath, &exePath, &uninstall})
    if (value->size() > kMaxText)
      return Fail(kBadResponse, "the destination is too long for the framework's values");

  if (!response.sharedFolder.empty()) {
    std::error_code ignored;
    fs::create_directories(plat::WindowsPathToLinux(response.sharedFolder), ignored);
  }
  Log log = ReadLog(logPath);
  if (int rc = CopyImage(image, path, response.replace, &log)) return rc;

  Key framework;
  if (!Key::Create(plat::HKEY_LOCAL_MACHINE, kFrameworkKey, &framework))
    return Fail(kRegistryFailed, "cannot create the framework key");
  const std::pair<const char*, std::string> values[] = {{"Version", image.version},
                                                        {"Path", path},
                                                        {"ExePath", exePath},
                                                        {"UninstallString", uninstall},
                                                        {"InstallLog", logPath}};
  for (const auto& [name, value] : values) {
    if (!framework.WriteString(name, value))
      return Fail(kRegistryFailed, std::string("cannot write ") + name);
    log.Add(std::string("value=") + kFrameworkKey + "|" + name);
  }
  if (!AddToSearchPath(path)) return Fail(kFileFailed, "cannot write " + LoaderConfigFile());
  log.Add("searchpath=" + path);
  if (!WriteLog(logPath, log)) return Fail(kFileFailed, "cannot write " + logPath);
  return kOk;
}

int Uninstall(const std::string& logPath) {
  std::error_code error;
  if (!fs::is_regular_file(logPath, error))
    return Fail(kBadCommandLine, "no installation log \"" + logPath + "\"");
  const Log log = ReadLog(logPath);
  int result = kOk;
  std::vector<std::string> folders;
  for (const auto& entry : log.entries) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const std::string kind = entry.substr(0, equals);
    const std::string what = entry.substr(equals + 1);
    if (kind == "file") {
      if (!fs::remove(what, error) && error) result = Fail(kFileFailed, "cannot remove " + what);
    } else if (kind == "folder") {
      folders.push_back(what);
    } else if (kind == "searchpath") {
      if (!RemoveFromSearchPath(what)) result = Fail(kFileFailed, "cannot change the search path");
    } else if (kind == "value") {
      const size_t bar = what.find('|');
      if (bar == std::string::npos) continue;
      const std::string keyPath = what.substr(0, bar);
      Key key(plat::HKEY_LOCAL_MACHINE, keyPath, plat::KEY_ALL_ACCESS);
      if (key.IsOpen()) plat::RegDeleteValueA(key.Get(), what.substr(bar + 1).c_str());
      plat::DWORD subKeys = 0, values = 0;
      if (key.IsOpen() && plat::RegQueryInfoKeyW(key.Get(), &subKeys, &values) == 0 &&
          subKeys == 0 && values == 0) {
        plat::RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, keyPath.c_str());
      }
    }
  }
  // Deepest first; a folder that still holds something of someone else stays.
  std::sort(folders.rbegin(), folders.rend());
  for (const auto& folder : folders) ::rmdir(folder.c_str());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string response;
  std::string script;
  std::string logPath;
  bool uninstall = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-R", 0) == 0) response = arg.substr(2);
    else if (arg.rfind("-I", 0) == 0) script = arg.substr(2);
    else if (arg.rfind("-f", 0) == 0) logPath = arg.substr(2);
    else if (arg == "-U") uninstall = true;
    else if (arg == "-O" || arg == "-A" || arg == "-V" || arg == "-XC") continue;
    else return Fail(kBadCommandLine, "unknown option \"" + arg + "\"");
  }
  if (uninstall) {
    if (logPath.empty()) return Fail(kBadCommandLine, "-U needs -f<installation log>");
    return Uninstall(plat::WindowsPathToLinux(logPath));
  }
  if (response.empty()) return Fail(kBadCommandLine, "no response file (-R<file>)");
  ResponseAnswers answers;
  if (int rc = ReadResponse(plat::WindowsPathToLinux(response), &answers)) return rc;
  if (!script.empty()) {
    if (fs::path(plat::WindowsPathToLinux(script)).filename() != "cpyimage.isc")
      return Fail(kBadCommandLine, "unknown installer script \"" + script + "\"");
    Image image;
    if (int rc = ReadImage(&image)) return rc;
    return CopyImage(image, plat::WindowsPathToLinux(answers.destination), true, nullptr);
  }
  return Install(answers);
}
