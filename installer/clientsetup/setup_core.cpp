// String table, debug log, console view, registry helpers and program runs
// of the client start-up setup.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "setup_core.h"

namespace zelsetup {

const char* SetupString(int id) {
  switch (id) {
    case 100: return "Startup qvcore library failed.";
    case 101: return "Open installation database failed.";
    case 102: return "Access to the root database tree entry failed.";
    case 103: return "Creating extraxt directory failed.";
    case 104: return "Base installation directory not found.";
    case 105: return "Installation has been finished successfully.";
    case 106: return "Installation has been terminated with an error.";
    case 107: return "Install Directory:";
    case 110: return "Reading InstallDir ...";
    case 111: return "Reading DatabaseDir ...";
    case 112: return "Extracting client software package ...";
    case 113: return "Start installing MSI Package ...";
    case 114: return "ZEL cancellation ...";
    case 115: return "Installing MSI Package has been finished now ...";
    case 116: return "Installing MSI Package has not been finished successfully...";
    case 117: return "Extract directory will be created ...";
    case 118: return "Client Installation is running ...";
    case 119: return "Finish";
    case 120: return "Setup.exe finished with exit code %d.";
    case 121:
      return "Installation has been finished successfully, but a reboot is required to complete "
             "the installation. ";
    case 123:
      return "Installation process requires administrator privileges. Halvorn Client is not "
             "installed. ";
    case 124: return "Starting Halvorn Client for the actual user ...";
    case 125: return "Failed to start client application.";
    case 126: return "Reading information from zel.ini file ...";
    case 127: return "Check administrator privileges for installation ...";
    default: return "";
  }
}

bool DebugLog::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "w+");
  return file_ != nullptr;
}

void DebugLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void DebugLog::Line(const char* format, ...) {
  if (!file_) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file_, format, args);
  va_end(args);
  std::fflush(file_);
}

void ConsoleView::SetStatus(const std::string& text) {
  if (!showTexts_ || text.empty()) return;
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void ConsoleView::SetDetail(const std::string& text) { SetStatus(text); }

void ConsoleView::MessageBox(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void SetupContext::Progress(int value) {
  progress = value < 0 ? 0 : value > 100 ? 100 : value;
  if (view) view->SetProgress(progress);
}

std::string UserAtDomain(const std::string& name) {
  std::size_t slash = name.find('\\');
  if (slash == std::string::npos) return name;
  return name.substr(slash + 1) + "@" + name.substr(0, slash);
}

bool ReadRegText(bool machine, const char* key, const char* name, std::string* value) {
  return plat::RegReadTextA(machine ? plat::HKEY_LOCAL_MACHINE : plat::HKEY_CURRENT_USER, key, name,
                            261, value);
}

bool WriteRegText(bool machine, const char* key, const char* name, const std::string& value) {
  plat::HKEY k = nullptr;
  if (plat::RegCreateKeyExA(machine ? plat::HKEY_LOCAL_MACHINE : plat::HKEY_CURRENT_USER, key, 0,
                            nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != plat::ERROR_SUCCESS)
    return false;
  plat::LONG rc = plat::RegSetValueExA(k, name, 0, plat::REG_SZ,
                                       reinterpret_cast<const plat::BYTE*>(value.c_str()),
                                       static_cast<plat::DWORD>(value.size() + 1));
  plat::RegCloseKey(k);
  return rc == plat::ERROR_SUCCESS;
}

bool RegKeyExists(bool machine, const char* key) {
  plat::HKEY k = nullptr;
  if (plat::RegOpenKeyExA(machine ? plat::HKEY_LOCAL_MACHINE : plat::HKEY_CURRENT_USER, key, 0,
                          plat::KEY_QUERY_VALUE, &k) != plat::ERROR_SUCCESS)
    return false;
  plat::RegCloseKey(k);
  return true;
}

int RunAndWaitCommand(const std::string& commandLine, void (*onSecond)(void*), void* data) {
  plat::ProcessInfo process;
  plat::ProcessOptions options;
  if (plat::StartProcess(commandLine, options, &process) != plat::ERROR_SUCCESS) return -1;
  plat::DWORD wait;
  while ((wait = plat::WaitForProcess(process, 1000)) == plat::WAIT_TIMEOUT) onSecond(data);
  plat::DWORD code = 0;
  if (wait != plat::WAIT_OBJECT_0 || !plat::GetProcessExitCode(process, &code)) {
    plat::ReleaseProcess(process);
    return -1;
  }
  plat::ReleaseProcess(process);
  return static_cast<int>(code);
}

}  // namespace zelsetup
