// A slow, step-by-step implode compressor used as a test oracle for
// zel::implode. It keeps the block buffer, the two-byte pair index and the
// bit writer exactly as the algorithm is laid out, trading speed for
// obviousness. Both modes; the ASCII literal codes are read from the shared
// table file, independently of the codec's own copy.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <zel/implode.h>

namespace codecref {

// One decision of the compressor, in input order.
struct Token {
    std::uint64_t position = 0;  // offset of the token's first byte in the input
    unsigned length = 0;         // 0 = literal, otherwise match length (2..518)
    unsigned distance = 0;       // match distance (1 = previous byte)
    unsigned char literal = 0;
    bool operator==(const Token&) const = default;
};

std::string describe(const Token& t);

struct Result {
    unsigned code = 0;                    // zel result code
    std::vector<unsigned char> output;    // everything written, concatenated
    std::vector<unsigned> writeSizes;     // sizes passed to the write callback
    std::vector<Token> tokens;            // the decisions, end marker excluded
};

// Compresses what `read` delivers, calling `read` the way the real
// compressor does (block filling), and `write` with 2048-byte pieces.
// `write` may be null; the output is collected in the result either way.
Result referenceImplode(zel::ReadCallback read, zel::WriteCallback write, void* param,
                        unsigned type, unsigned dictSize);

// Convenience: compresses `data` delivered in one piece per call.
Result referenceImplode(const std::vector<unsigned char>& data, unsigned dictSize,
                        unsigned type = zel::CMP_BINARY);

// Decodes a stream of either type into tokens (end marker excluded).
// Returns false if the stream is malformed or ends before its end marker.
bool decodeTokens(const std::vector<unsigned char>& stream, std::vector<Token>& tokens);

// The ASCII literal codes as read from the table file: per byte value the
// code's bits in stream order, e.g. "0100011". Empty if the file is unusable.
const std::vector<std::string>& asciiLiteralCodes();

}  // namespace codecref
