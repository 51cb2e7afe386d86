// The toolbar and accelerator resources as the menus read them, without
// Qt (so that the parsers can be fuzzed on their own). Layouts in
// docs/resources.md; all numbers little-endian.
#pragma once
#include <cstddef>
#include <vector>

#include "norv/norvtypes.h"

// Toolbar (type 241): 16-bit version 1, image width, image height, count,
// then count 16-bit command ids (0 for a separator).
struct NorvToolbarResource {
  int imageWidth = 0;
  int imageHeight = 0;
  std::vector<UINT> commands;  // 0 = separator
  // How many images the strip must hold: one per non-separator.
  int ButtonCount() const;
};
// FALSE for another version, an empty image size or fewer ids than the
// count promises (bytes after them are ignored).
bool NorvParseToolbarResource(const BYTE* data, std::size_t size, NorvToolbarResource& out);

// Accelerators (type 9): 32-bit version 1, 32-bit count, then per entry
// command id, modifiers (1 Shift, 2 Ctrl, 4 Alt, 8 Meta) and the key in
// Qt's numbering, 32 bits each.
struct NorvAcceleratorEntry {
  UINT command = 0;
  UINT modifiers = 0;
  UINT key = 0;
};
bool NorvParseAcceleratorResource(const BYTE* data, std::size_t size,
                                  std::vector<NorvAcceleratorEntry>& out);
