#include "ToolbarResource.h"

#include <cstdint>
#include <cstring>

namespace {

std::uint16_t Read16(const BYTE* p) {
  std::uint16_t v = 0;
  std::memcpy(&v, p, 2);
  return v;
}

std::uint32_t Read32(const BYTE* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

int NorvToolbarResource::ButtonCount() const {
  int n = 0;
  for (UINT command : commands)
    if (command != 0) ++n;
  return n;
}

bool NorvParseToolbarResource(const BYTE* data, std::size_t size, NorvToolbarResource& out) {
  if (data == nullptr || size < 8) return false;
  const std::size_t count = Read16(data + 6);
  if (Read16(data) != 1 || (size - 8) / 2 < count) return false;
  NorvToolbarResource parsed;
  parsed.imageWidth = Read16(data + 2);
  parsed.imageHeight = Read16(data + 4);
  if (parsed.imageWidth == 0 || parsed.imageHeight == 0) return false;
  parsed.commands.reserve(count);
  for (std::size_t i = 0; i < count; ++i) parsed.commands.push_back(Read16(data + 8 + 2 * i));
  out = std::move(parsed);
  return true;
}

bool NorvParseAcceleratorResource(const BYTE* data, std::size_t size,
                                  std::vector<NorvAcceleratorEntry>& out) {
  if (data == nullptr || size < 8 || Read32(data) != 1) return false;
  const std::uint32_t count = Read32(data + 4);
  if (count > (size - 8) / 12) return false;
  std::vector<NorvAcceleratorEntry> parsed;
  parsed.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const BYTE* entry = data + 8 + 12 * static_cast<std::size_t>(i);
    parsed.push_back({Read32(entry), Read32(entry + 4), Read32(entry + 8)});
  }
  out = std::move(parsed);
  return true;
}
