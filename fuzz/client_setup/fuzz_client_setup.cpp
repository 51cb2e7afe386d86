// File entry names from a package database and installer property strings:
// an accepted entry name never leaves its folder, and no input crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "msi_properties.h"
#include "setup_sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string fileName;
  std::uint32_t dos = 0;
  if (zelsetup::SplitFileEntryName(text, &fileName, &dos)) {
    if (fileName.empty() || fileName == "." || fileName == ".." ||
        fileName.find_first_of("/\\") != std::string::npos ||
        fileName.find('\0') != std::string::npos)
      std::abort();
  }
  zelsetup::Properties p = zelsetup::ParseProperties(text);
  for (const auto& [name, value] : p.values)
    if (name.empty() && value.size() > text.size()) std::abort();
  return 0;
}
