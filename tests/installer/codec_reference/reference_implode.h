// A slow, step-by-step implode compressor used as a test oracle for
// zel::implode. It keeps the block buffer, the two-byte pair index and the
// bit writer exactly as the algorithm is laid out, trading speed for
// obviousness. Binary mode only.
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

// Variants of the matching rules, used only to narrow down a disagreement
// with the production codec. The defaults are the rules as we read them.
struct Options {
    // Matches may reach back dictSize - windowShortfall bytes.
    unsigned windowShortfall = 0;
    // How a full 516-byte agreement ends the scan. The scan runs from the
    // oldest position in the window upwards, so stopping there keeps the
    // OLDEST such match; with this set, the newest one is kept instead (as if
    // ties were settled the usual way, by recency).
    bool fullLengthTakesNewest = false;
    // In the last block a comparison may run past the input into whatever
    // the block buffer holds there (zero until first written). Off: the
    // comparison stops at the input's end.
    bool compareIntoBufferTail = true;
};

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
                        unsigned type, unsigned dictSize, const Options& options = {});

// Convenience: compresses `data` delivered in one piece per call.
Result referenceImplode(const std::vector<unsigned char>& data, unsigned dictSize,
                        const Options& options = {});

// Decodes a binary-mode stream into tokens (end marker excluded). Returns
// false if the stream is malformed or ends before its end marker.
bool decodeTokens(const std::vector<unsigned char>& stream, std::vector<Token>& tokens);

}  // namespace codecref
