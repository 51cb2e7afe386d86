// CRC-32 step (reflected polynomial 0xEDB88320), eight bytes per iteration
// through eight derived tables.
#include <array>
#include <cstdint>

#include "zel/implode.h"

namespace zel {
namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i)
    for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}
constexpr Tables kTables = MakeTables();

}  // namespace

unsigned long crc32(char* buffer, unsigned* size, unsigned long* crc) {
  const auto* p = reinterpret_cast<const unsigned char*>(buffer);
  std::uint32_t c = static_cast<std::uint32_t>(*crc);
  unsigned n = *size;
  while (n >= 8) {
    const std::uint32_t lo = c ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                  std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
    c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
        kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
        kTables[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n-- != 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
  return c;
}

}  // namespace zel
