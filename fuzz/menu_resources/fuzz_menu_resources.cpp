// Reads any bytes as a toolbar and as an accelerator resource and checks
// that what was read lies inside the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ToolbarResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NorvToolbarResource toolbar;
  if (NorvParseToolbarResource(data, size, toolbar)) {
    if (size < 8 || toolbar.commands.size() > (size - 8) / 2) std::abort();
    if (toolbar.imageWidth <= 0 || toolbar.imageHeight <= 0) std::abort();
    if (toolbar.ButtonCount() > static_cast<int>(toolbar.commands.size())) std::abort();
  }
  std::vector<NorvAcceleratorEntry> entries;
  if (NorvParseAcceleratorResource(data, size, entries)) {
    if (size < 8 || entries.size() > (size - 8) / 12) std::abort();
  }
  return 0;
}
