// The main sequence of the client start-up setup.
#pragma once
#include <cstdint>
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

// A file entry's name "name\\<DOS date and time>" split into its file name
// and the number (0 without one); false when the file name is not bare.
bool SplitFileEntryName(const std::string& entry, std::string* fileName, std::uint32_t* dos);

}  // namespace zelsetup
