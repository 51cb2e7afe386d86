// Test helpers: running the codec over byte vectors and a token reader for
// binary-mode implode streams. (The compressor's choices are checked against
// a separate slow reference compressor in tests/installer/codec_reference.)
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace codectest {

using Bytes = std::vector<std::uint8_t>;

struct Token {
  bool match = false;
  unsigned length = 1;    // 1 for a literal
  unsigned distance = 0;  // 1 = the byte just before
  std::uint8_t literal = 0;
  bool operator==(const Token&) const = default;
};

struct Parsed {
  unsigned type = 0;
  unsigned dictBits = 0;
  std::vector<Token> tokens;
  bool ended = false;        // met the end marker
  bool paddingZero = true;   // bits after the end marker are zero
  std::size_t bytesUsed = 0; // stream bytes up to and including the end marker
};

// Reads a binary-mode stream token by token; stops at the end marker or
// where the bits run out.
Parsed ParseStream(const Bytes& stream);

// Applies tokens to get the data back.
Bytes Expand(const std::vector<Token>& tokens);

struct RunResult {
  unsigned result = 0;
  Bytes output;
  std::vector<unsigned> writeSizes;
  std::vector<unsigned> readSizes;  // sizes asked for
};

// Chunk = 0: the read callback fills the request; otherwise it delivers at
// most `chunk` bytes per call (after `firstChunk` bytes in the first call,
// when given).
RunResult Compress(const Bytes& input, unsigned dictSize = 4096, unsigned type = 0,
                   unsigned chunk = 0);
RunResult Decompress(const Bytes& stream, unsigned chunk = 0, unsigned firstChunk = 0);

// The ASCII literal table of the shared data folder: per byte value the code
// bits in stream order ("0100011"); empty if the file is unusable.
std::vector<std::string> AsciiCodesFromFile();

}  // namespace codectest
