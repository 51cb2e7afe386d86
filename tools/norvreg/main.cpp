// norvreg: checks, installs and locates the explorer framework and registers
// and removes plugins, through the framework setup library; for plugin
// installers written as scripts.
//
// Exit status: 0 done; 1 the operation failed (the library's code is named
// on standard error) or, for check and locate, the framework is not
// installed; 2 a malformed command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "norv/norv21stp.h"

namespace {

constexpr int kFailed = 1;
constexpr int kBadSyntax = 2;

const char kUsage[] =
    "Usage:\n"
    "  norvreg check\n"
    "      Whether this system can run the framework and whether it is installed\n"
    "      (exit 0 installed, 1 not).\n"
    "  norvreg install [--installer FOLDER]\n"
    "      Installs the framework with NorvSetup.exe from FOLDER (default: the\n"
    "      folder of libnorv21stp.so).\n"
    "  norvreg locate\n"
    "      Prints the framework's Path, ExePath and Version.\n"
    "  norvreg register NAME --plugin FILE [--flags N] [--installer FOLDER]\n"
    "          --locale LOC --resources FILE [--help FILE] [--message-help FILE]\n"
    "          [--locale LOC --resources FILE ...]\n"
    "      Installs the framework when needed and registers the plugin with one\n"
    "      resource library (and help files) per three-letter locale.\n"
    "  norvreg remove NAME [--locale LOC ...] [--flags N]\n"
    "      Removes the plugin, or only the given locales; the framework is\n"
    "      uninstalled when no plugin is left.\n"
    "  norvreg list\n"
    "      Lists the registered plugins with their files.\n"
    "  norvreg copy-image DESTINATION [--installer FOLDER]\n"
    "      Copies the installation image to DESTINATION.\n"
    "  norvreg space\n"
    "      Prints the target drive and the disk space the installation needs.\n"
    "Flags: 1 leaves the previous framework version's registration alone.\n";

int Syntax(const std::string& text) {
  std::cerr << "norvreg: " << text << "\n" << kUsage;
  return kBadSyntax;
}

const char* Meaning(int code) {
  switch (code) {
    case NORV_SETUP_OK: return "done";
    case NORV_SETUP_BAD_LOCALE: return "the locale is not exactly three characters";
    case NORV_SETUP_INSTALLER_BUSY: return "framework files are in use by running programs";
    case NORV_SETUP_OLD_SYSTEM: return "this system is too old for the framework";
    case NORV_SETUP_OLD_BROWSER: return "the browser is too old for the framework";
    case NORV_SETUP_REGISTRY_FAILED:
      return "the registry could not be written, or a value is too long or not a usable name";
    case NORV_SETUP_RESPONSE_FAILED: return "the installer's response file could not be written";
    case NORV_SETUP_NO_INSTALLER: return "NorvSetup.exe could not be started";
    default: return "the installer failed";
  }
}

// Reports a library result: 7 still leaves a usable registration.
int Result(const std::string& what, int code) {
  if (code == NORV_SETUP_OK) return 0;
  std::cerr << "norvreg: " << what << ": code " << code << ": " << Meaning(code) << "\n";
  return code == NORV_SETUP_INSTALLER_BUSY ? 0 : kFailed;
}

struct Locale {
  std::string name;
  std::string resources;
  std::string help;
  std::string messageHelp;
};

bool ParseFlags(const std::string& text, uint32_t* flags) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end || value > 0xFFFFFFFFul) return false;
  *flags = static_cast<uint32_t>(value);
  return true;
}

int Check() {
  const int prerequisites = CheckNorvPreReqs();
  std::cout << "prerequisites: " << (prerequisites ? Meaning(prerequisites) : "met") << "\n";
  if (!IsNorvInstalled()) {
    std::cout << "framework: not installed\n";
    return kFailed;
  }
  char version[NORV_SETUP_PATH_SIZE];
  GetNorvVersion(version);
  std::cout << "framework: installed, version " << (*version ? version : "unknown") << ", "
            << GetNorvPluginNum() << " plugin(s)\n";
  return 0;
}

int Locate() {
  if (!IsNorvInstalled()) {
    std::cerr << "norvreg: the framework is not installed\n";
    return kFailed;
  }
  char buffer[NORV_SETUP_PATH_SIZE];
  std::cout << "Path=" << (GetNorvPath(buffer) ? buffer : "") << "\n";
  std::cout << "ExePath=" << (GetNorvCoreExecutable(buffer) ? buffer : "") << "\n";
  std::cout << "Version=" << (GetNorvVersion(buffer) ? buffer : "") << "\n";
  return 0;
}

int List() {
  char name[NORV_SETUP_PATH_SIZE];
  char value[NORV_SETUP_PATH_SIZE];
  char locale[NORV_SETUP_PATH_SIZE];
  for (int i = 0; GetNorvPluginName(i, name); ++i) {
    std::cout << name << "\n";
    const bool hasLibrary = GetNorvPluginValue(name, nullptr, "PluginDLL", value);
    std::cout << "  PluginDLL=" << (hasLibrary ? value : "") << "\n";
    for (int j = 0; GetNorvPluginLocale(name, j, locale); ++j) {
      std::cout << "  " << locale << ":";
      for (const char* field : {"ResourceDLL", "HelpFile", "MessageHelpFile"}) {
        if (GetNorvPluginValue(name, locale, field, value) && *value)
          std::cout << " " << field << "=" << value;
      }
      std::cout << "\n";
    }
  }
  return 0;
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

int Register(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return Syntax("register needs a plugin name");
  const std::string name = args[0];
  std::string plugin;
  std::string installer;
  uint32_t flags = 0;
  std::vector<Locale> locales;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) return Syntax(option + " needs a value");
    const std::string& value = args[++i];
    if (option == "--plugin") plugin = value;
    else if (option == "--installer") installer = value;
    else if (option == "--flags") {
      if (!ParseFlags(value, &flags)) return Syntax("bad flags \"" + value + "\"");
    } else if (option == "--locale") locales.push_back({value, "", "", ""});
    else if (locales.empty()) return Syntax(option + " must follow a --locale");
    else if (option == "--resources") locales.back().resources = value;
    else if (option == "--help") locales.back().help = value;
    else if (option == "--message-help") locales.back().messageHelp = value;
    else return Syntax("unknown option \"" + option + "\"");
  }
  if (plugin.empty()) return Syntax("register needs --plugin FILE");
  if (locales.empty()) return Syntax("register needs at least one --locale");
  for (const auto& locale : locales)
    if (locale.resources.empty()) return Syntax("locale " + locale.name + " needs --resources");
  int status = 0;
  for (const auto& locale : locales) {
    const int code = RegisterNorvPlugin(name.c_str(), locale.name.c_str(), flags, plugin.c_str(),
                                        locale.resources.c_str(), locale.help.c_str(),
                                        locale.messageHelp.c_str(), OrNull(installer));
    status = Result("registering " + name + " (" + locale.name + ")", code);
    if (status) return status;
  }
  return status;
}

int Remove(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return Syntax("remove needs a plugin name");
  std::vector<std::string> locales;
  uint32_t flags = 0;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i + 1 >= args.size()) return Syntax(args[i] + " needs a value");
    if (args[i] == "--locale") locales.push_back(args[++i]);
    else if (args[i] == "--flags") {
      if (!ParseFlags(args[++i], &flags)) return Syntax("bad flags \"" + args[i] + "\"");
    } else return Syntax("unknown option \"" + args[i] + "\"");
  }
  const std::string& name = args[0];
  if (!IsNorvPluginInstalled(name.c_str(), nullptr)) {
    std::cerr << "norvreg: no plugin \"" << name << "\" is registered\n";
    return kFailed;
  }
  if (locales.empty()) return DeregisterNorvPlugin(name.c_str(), nullptr, flags) ? 0 : kFailed;
  for (const auto& locale : locales)
    if (!DeregisterNorvPlugin(name.c_str(), locale.c_str(), flags)) return kFailed;
  return 0;
}

// The single optional "--installer FOLDER" of install and copy-image.
bool InstallerOption(const std::vector<std::string>& args, size_t from, std::string* folder) {
  if (args.size() == from) return true;
  if (args.size() != from + 2 || args[from] != "--installer") return false;
  *folder = args[from + 1];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Syntax("no command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "check" && args.empty()) return Check();
  if (command == "locate" && args.empty()) return Locate();
  if (command == "list" && args.empty()) return List();
  if (command == "register") return Register(args);
  if (command == "remove") return Remove(args);
  if (command == "install") {
    std::string installer;
    if (!InstallerOption(args, 0, &installer)) return Syntax("install [--installer FOLDER]");
    return Result("installing the framework", InstallNorv(OrNull(installer)));
  }
  if (command == "copy-image") {
    std::string installer;
    if (args.empty() || !InstallerOption(args, 1, &installer))
      return Syntax("copy-image DESTINATION [--installer FOLDER]");
    return Result("copying the image", CopyNorvImage(args[0].c_str(), OrNull(installer)));
  }
  if (command == "space" && args.empty()) {
    NorvDiskSpace space;
    GetNorvDiskSpaceRequired(&space);
    std::cout << "drive: " << space.drive << "\nrequired: " << space.spaceRequired << "\n";
    return 0;
  }
  return Syntax("unknown command or arguments: " + command);
}
