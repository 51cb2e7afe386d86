// The client start-up setup program ("OrbCSetup.exe" in a package). The
// stub starts it with the packing list's path; from a package folder it is
// started with any command line. "-silent" anywhere runs it without dialog.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sysinfo.h"
#include "setup_sequence.h"

#ifdef ZELSETUP_WITH_DIALOG
#include "setup_dialog.h"
#endif

int main(int argc, char** argv) {
  zelsetup::SetupOptions options;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) options.commandLine += ' ';
    options.commandLine += argv[i];
  }
  options.silent = options.commandLine.find("-silent") != std::string::npos;
  options.programPath = plat::ModulePath();
  if (options.programPath.empty()) options.programPath = argv[0];

#ifdef ZELSETUP_WITH_DIALOG
  if (zelsetup::DisplayAvailable()) {
    if (options.silent) return zelsetup::RunSilentWithDisplay(options, argc, argv);
    int code = 0;
    if (zelsetup::RunWithDialog(options, argc, argv, &code)) return code;
  }
#endif
  zelsetup::ConsoleView view(true);
  return zelsetup::RunSetup(options, view);
}
