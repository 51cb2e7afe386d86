// Code tables of the implode stream format, shared by the compressor and the
// decompressor. Everything here is a compile-time constant: no state.
#pragma once
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "implode_ascii_table.h"  // generated from the shared table file

namespace zel::detail {

constexpr unsigned kMaxMatch = 516;      // longest match the compressor sends
constexpr unsigned kEndLength = 519;     // the end marker's length value

// Length symbols 0..15: prefix code (sent lowest bit first), its bit count,
// extra-bit count and base (length = 2 + base + extra value).
constexpr std::uint8_t kLenCode[16] = {0x05, 0x03, 0x01, 0x06, 0x0A, 0x02, 0x0C, 0x14,
                                       0x04, 0x18, 0x08, 0x30, 0x10, 0x20, 0x40, 0x00};
constexpr std::uint8_t kLenBits[16] = {3, 2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
constexpr std::uint8_t kLenExtra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr std::uint16_t kLenBase[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};

// Distance high parts 0..63.
constexpr std::uint8_t kDistCode[64] = {
    0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16, 0x26, 0x06, 0x3A,
    0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C,
    0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08,
    0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
constexpr std::uint8_t kDistBits[64] = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

// A code ready to send: its value (lowest bit sent first) and bit count.
struct BitToken {
  std::uint16_t bits;
  std::uint8_t count;
};

// A whole match-length token (flag bit 1, symbol code, extra bits) per
// length 2..519, so the compressor emits it with one bit-buffer operation.
constexpr std::array<BitToken, 518> MakeLengthTokens() {
  std::array<BitToken, 518> t{};
  for (unsigned sym = 0; sym < 16; ++sym) {
    for (unsigned extra = 0; extra < (1u << kLenExtra[sym]); ++extra) {
      const unsigned length = 2 + kLenBase[sym] + extra;
      const unsigned value = 1u | (unsigned(kLenCode[sym]) << 1) | (extra << (1 + kLenBits[sym]));
      t[length - 2] = {static_cast<std::uint16_t>(value),
                       static_cast<std::uint8_t>(1 + kLenBits[sym] + kLenExtra[sym])};
    }
  }
  return t;
}
inline constexpr std::array<BitToken, 518> kLengthTokens = MakeLengthTokens();

// A whole literal token (flag bit 0 and the byte's code) per byte value, in
// either mode, so the compressor emits it with one bit-buffer operation.
constexpr std::array<BitToken, 256> MakeBinaryLiterals() {
  std::array<BitToken, 256> t{};
  for (unsigned b = 0; b < 256; ++b) t[b] = {static_cast<std::uint16_t>(b << 1), 9};
  return t;
}

// ASCII mode: the codes are at most 13 bits, so the next 13 bits of the
// stream select an entry of one table.
constexpr unsigned kAsciiMaxBits = 13;

struct AsciiTables {
  std::array<BitToken, 256> literals{};
  std::array<std::uint16_t, 1u << kAsciiMaxBits> decode{};  // byte | code length << 8
  bool valid = true;  // each byte once, lengths as stated, a complete prefix code
};

constexpr AsciiTables MakeAsciiTables() {
  AsciiTables t;
  for (unsigned b = 0; b < 256; ++b) {
    const AsciiRow& row = kAsciiRows[b];
    unsigned code = 0, n = 0;
    for (; row.bits[n] != '\0'; ++n) code |= unsigned(row.bits[n] == '1') << n;
    if (row.value != b || n != row.length || n < 1 || n > kAsciiMaxBits) {
      t.valid = false;
      return t;
    }
    t.literals[b] = {static_cast<std::uint16_t>(code << 1), static_cast<std::uint8_t>(1 + n)};
    // Every index whose low n bits are the code decodes to this byte; a
    // second code claiming one of them would not be a prefix code.
    for (unsigned i = code; i < (1u << kAsciiMaxBits); i += 1u << n) {
      if (t.decode[i] != 0) t.valid = false;
      t.decode[i] = static_cast<std::uint16_t>(b | n << 8);
    }
  }
  for (std::uint16_t e : t.decode)
    if (e == 0) t.valid = false;  // a bit pattern no code starts: incomplete
  return t;
}
inline constexpr std::array<BitToken, 256> kBinaryLiterals = MakeBinaryLiterals();
inline constexpr AsciiTables kAscii = MakeAsciiTables();
static_assert(kAscii.valid, "the ASCII literal table must give every byte value one code of its "
                            "stated length, together a complete prefix code");

// Decoding: the next 7 bits of the stream (the longest length code) select
// a symbol; the next 8 bits (the longest distance code) select a high part.
struct DecodeEntry {
  std::uint8_t symbol;
  std::uint8_t bits;
};

constexpr std::array<DecodeEntry, 128> MakeLengthDecode() {
  std::array<DecodeEntry, 128> t{};
  for (unsigned sym = 0; sym < 16; ++sym)
    for (unsigned i = kLenCode[sym]; i < 128; i += 1u << kLenBits[sym])
      t[i] = {static_cast<std::uint8_t>(sym), kLenBits[sym]};
  return t;
}
constexpr std::array<DecodeEntry, 256> MakeDistDecode() {
  std::array<DecodeEntry, 256> t{};
  for (unsigned hi = 0; hi < 64; ++hi)
    for (unsigned i = kDistCode[hi]; i < 256; i += 1u << kDistBits[hi])
      t[i] = {static_cast<std::uint8_t>(hi), kDistBits[hi]};
  return t;
}
inline constexpr std::array<DecodeEntry, 128> kLengthDecode = MakeLengthDecode();
inline constexpr std::array<DecodeEntry, 256> kDistDecode = MakeDistDecode();

// Unaligned little-endian access; the byte order of the stream is fixed,
// the host's is not.
inline std::uint64_t Load64(const void* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline void Store64(void* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// Places a state record at the first suitably aligned address of a work
// area given as plain bytes.
template <typename T>
T* AlignedState(char* work) {
  auto addr = reinterpret_cast<std::uintptr_t>(work);
  addr = (addr + alignof(T) - 1) & ~std::uintptr_t(alignof(T) - 1);
  return reinterpret_cast<T*>(addr);
}

}  // namespace zel::detail
