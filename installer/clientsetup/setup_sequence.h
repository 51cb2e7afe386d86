// The main sequence of the client start-up setup.
#pragma once
#include <string>

#include "setup_core.h"

namespace zelsetup {

struct SetupOptions {
  std::string commandLine;  // the arguments after the program name, joined by spaces
  std::string programPath;  // the running program
  bool silent = false;
};

// Runs the whole sequence with the given view; returns the exit code.
int RunSetup(const SetupOptions& options, SetupView& view);

// An entry name that may become a file or folder name: not empty, not "."
// or "..", no "/" or "\", no control character.
bool IsBareEntryName(const std::string& name);

}  // namespace zelsetup
