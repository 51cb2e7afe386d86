// Reference implode compressor: slow and literal, for comparing against
// zel::implode byte for byte.
//
// The matching rules, as the streams of an independent implementation of the
// format show them:
//  - The block buffer is [dictSize history | 516 carried | 4096 new] plus
//    516 bytes behind it, all zero at the start. Sliding moves the front part
//    only, so behind the data of the last block lie bytes of earlier blocks
//    (or zeros). A comparison runs on into those bytes, up to 516; the
//    look-ahead compares those full lengths, and only the match that is sent
//    is cut to the input's end (and then sent at once).
//  - Candidates are the positions of the pair index from the oldest one in
//    the window up to two bytes back: distance 1 is never used, and the
//    farthest distance is dictSize - 1.
//  - The scan runs oldest first; a candidate at least as long as the best so
//    far replaces it, so equal lengths go to the more recent one, except that
//    a match of 516 ends the scan: among those the OLDEST wins.
//  - The pair index of a block starts at the first input byte in the first
//    block, dictSize - 516 bytes before the current position in the second
//    block, and dictSize bytes before it in every later one.
//  - In a block that is not the last, positions p < end - 516 are processed;
//    the look-ahead at p + 1 happens only while p + 1 < end - 516. In the
//    last block the bound is the input's end.
//  - After the look-ahead wins, its match goes through the same checks again
//    (far two-byte match, cut at the end, look-ahead).
//  - "d at most 128" is the current match's distance - 1.
//  - The read callback is asked for the free space left in the block; after
//    it returns 0 it is not called again.
//  - The final write is made even when nothing is left (size 0).
#include "reference_implode.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace codecref {
namespace {

constexpr unsigned kBlock = 4096;
constexpr unsigned kMaxRep = 516;     // longest match the search returns
constexpr unsigned kBuckets = 2304;   // 4*255 + 5*255 = 2295 < 2304
constexpr unsigned kOutPiece = 2048;

struct LengthSymbol {
    unsigned code, codeBits, extraBits, base;
};
constexpr LengthSymbol kLengthSymbols[16] = {
    {0x05, 3, 0, 0},   {0x03, 2, 0, 1},   {0x01, 3, 0, 2},   {0x06, 3, 0, 3},
    {0x0A, 4, 0, 4},   {0x02, 4, 0, 5},   {0x0C, 4, 0, 6},   {0x14, 5, 0, 7},
    {0x04, 5, 1, 8},   {0x18, 5, 2, 10},  {0x08, 5, 3, 14},  {0x30, 6, 4, 22},
    {0x10, 6, 5, 38},  {0x20, 6, 6, 70},  {0x40, 7, 7, 134}, {0x00, 7, 8, 262},
};

constexpr unsigned char kDistCode[64] = {
    0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16,
    0x26, 0x06, 0x3A, 0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C,
    0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C, 0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44,
    0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08, 0xF0, 0x70, 0xB0, 0x30,
    0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
constexpr unsigned char kDistBits[64] = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

struct Code {
    std::uint32_t value = 0;
    unsigned bits = 0;
};

// Output buffer: complete bytes plus one partial byte; every 2048 complete
// bytes go to the write callback.
class BitWriter {
public:
    BitWriter(zel::WriteCallback write, void* param, Result& result)
        : write_(write), param_(param), result_(result) {}

    void putByte(unsigned char b) {  // header bytes, buffer still byte-aligned
        buf_[bytes_++] = b;
    }

    void put(std::uint32_t value, unsigned bits) {
        if (bits > 8) {
            put(value & 0xFF, 8);
            put(value >> 8, bits - 8);
            return;
        }
        for (unsigned i = 0; i < bits; ++i) {
            if ((value >> i) & 1) buf_[bytes_] |= static_cast<unsigned char>(1u << bitPos_);
            if (++bitPos_ == 8) {
                bitPos_ = 0;
                ++bytes_;
                buf_[bytes_] = 0;
            }
        }
        if (bytes_ >= kOutPiece) {
            emit(kOutPiece);
            buf_[0] = buf_[kOutPiece];  // the partial byte moves to the front
            bytes_ -= kOutPiece;
        }
    }

    void finish() {
        if (bitPos_ != 0) ++bytes_;
        emit(bytes_);
        bytes_ = 0;
        bitPos_ = 0;
    }

private:
    void emit(unsigned n) {
        result_.writeSizes.push_back(n);
        result_.output.insert(result_.output.end(), buf_, buf_ + n);
        if (write_) {
            unsigned size = n;
            write_(reinterpret_cast<char*>(buf_), &size, param_);
        }
    }

    zel::WriteCallback write_;
    void* param_;
    Result& result_;
    unsigned char buf_[kOutPiece + 2] = {};
    unsigned bytes_ = 0;
    unsigned bitPos_ = 0;
};

Code lengthCode(unsigned length) {  // 2..519
    unsigned v = length - 2;
    for (int s = 15; s >= 0; --s) {
        const LengthSymbol& ls = kLengthSymbols[s];
        if (v >= ls.base) {
            Code c;
            c.value = 1u | (ls.code << 1) | ((v - ls.base) << (1 + ls.codeBits));
            c.bits = 1 + ls.codeBits + ls.extraBits;
            return c;
        }
    }
    return {};
}

struct Match {
    unsigned length = 0;  // 0 = none
    unsigned d = 0;       // distance - 1
};

class Compressor {
public:
    Compressor(unsigned dictSize, unsigned dictBits, unsigned type, BitWriter& out,
               Result& result)
        : dict_(dictSize), dictBits_(dictBits), type_(type), out_(out), result_(result),
          buf_(dictSize + kMaxRep + kBlock + kMaxRep, 0) {}

    // Step 3 to 6: blocks until the read callback reports the end.
    void run(zel::ReadCallback read, void* param) {
        const unsigned front = dict_ + kMaxRep;  // where new data lands
        dataStart_ = front;
        cur_ = front;
        base_ = -static_cast<std::int64_t>(front);
        for (unsigned block = 0;; ++block) {
            unsigned filled = 0;
            bool last = false;
            while (filled < kBlock) {
                unsigned size = kBlock - filled;
                unsigned got = read(reinterpret_cast<char*>(buf_.data() + front + filled), &size,
                                    param);
                if (got == 0) {
                    last = true;
                    break;
                }
                filled += got;
            }
            if (block == 0 && filled == 0) return;  // nothing at all: end marker only
            dataEnd_ = front + filled;
            // Where this block's pair index starts.
            unsigned from = dataStart_;
            if (block == 1 && cur_ + kMaxRep > kBlock) from = std::max(from, cur_ + kMaxRep - kBlock);
            if (block >= 2) from = std::max(from, cur_ - dict_);
            buildIndex(from);
            limit_ = last ? dataEnd_ : dataEnd_ - kMaxRep;
            processBlock(last);
            if (last) return;
            // Keep the dictionary history and the unprocessed tail.
            std::memmove(buf_.data(), buf_.data() + kBlock, front);
            cur_ -= kBlock;
            dataStart_ = dataStart_ > kBlock ? dataStart_ - kBlock : 0;
            base_ += kBlock;
        }
    }

private:
    unsigned hashAt(unsigned p) const { return 4u * buf_[p] + 5u * buf_[p + 1]; }

    // Step 4: counting sort of the positions by pair hash. A position whose
    // second byte lies past the input hashes the buffer byte behind it.
    void buildIndex(unsigned from) {
        std::vector<unsigned> count(kBuckets, 0);
        for (unsigned p = from; p < dataEnd_; ++p) ++count[hashAt(p)];
        bucketStart_.assign(kBuckets + 1, 0);
        for (unsigned h = 0; h < kBuckets; ++h) bucketStart_[h + 1] = bucketStart_[h] + count[h];
        positions_.assign(bucketStart_[kBuckets], 0);
        std::vector<unsigned> fill(bucketStart_.begin() + 1, bucketStart_.end());
        for (unsigned p = dataEnd_; p-- > from;) positions_[--fill[hashAt(p)]] = p;
        firstInWindow_.assign(bucketStart_.begin(), bucketStart_.end() - 1);
    }

    // Step 5a.
    Match findMatch(unsigned p) {
        Match best;
        const unsigned h = hashAt(p);
        unsigned i = firstInWindow_[h];
        const unsigned end = bucketStart_[h + 1];
        while (i < end && positions_[i] + (dict_ - 1) < p) ++i;
        firstInWindow_[h] = i;
        unsigned bestLen = 0;
        for (; i < end; ++i) {
            const unsigned q = positions_[i];
            if (q + 1 >= p) break;  // never the byte just before
            unsigned len = 0;
            while (len < kMaxRep && buf_[q + len] == buf_[p + len]) ++len;
            if (len >= 2 && len >= bestLen) {
                bestLen = len;
                best.length = len;
                best.d = p - q - 1;
                if (len == kMaxRep) break;
            }
        }
        return best;
    }

    void literal(unsigned p) {
        if (type_ == zel::CMP_BINARY) {
            out_.put(static_cast<std::uint32_t>(buf_[p]) << 1, 9);
        } else {
            out_.put(0, 1);
            for (char c : asciiLiteralCodes().at(buf_[p])) out_.put(c == '1' ? 1 : 0, 1);
        }
        Token t;
        t.position = static_cast<std::uint64_t>(base_ + p);
        t.literal = buf_[p];
        result_.tokens.push_back(t);
    }
    void match(unsigned p, const Match& m) {
        const Code lc = lengthCode(m.length);
        out_.put(lc.value, lc.bits);
        const unsigned lowBits = m.length == 2 ? 2 : dictBits_;
        const unsigned high = m.d >> lowBits;
        out_.put(kDistCode[high], kDistBits[high]);
        out_.put(m.d & ((1u << lowBits) - 1), lowBits);
        Token t;
        t.position = static_cast<std::uint64_t>(base_ + p);
        t.length = m.length;
        t.distance = m.d + 1;
        result_.tokens.push_back(t);
    }

    void processBlock(bool last) {
        while (cur_ < limit_) {
            Match m = findMatch(cur_);
            for (;;) {
                if (m.length < 2) break;                     // no match
                if (m.length == 2 && m.d >= 256) break;      // 5b
                if (last && cur_ + m.length > dataEnd_) {    // 5c
                    m.length = dataEnd_ - cur_;
                    if (m.length < 2 || (m.length == 2 && m.d >= 256)) break;
                    match(cur_, m);
                    cur_ += m.length;
                    goto next;
                }
                if (m.length < 8 && cur_ + 1 < limit_) {     // 5d
                    const Match n = findMatch(cur_ + 1);
                    const bool keep =
                        m.length >= n.length || (n.length == m.length + 1 && m.d <= 128);
                    if (!keep) {
                        literal(cur_);
                        ++cur_;
                        m = n;
                        continue;
                    }
                }
                match(cur_, m);                              // 5e
                cur_ += m.length;
                goto next;
            }
            literal(cur_);
            ++cur_;
        next:;
        }
    }

    const unsigned dict_;
    const unsigned dictBits_;
    const unsigned type_;
    BitWriter& out_;
    Result& result_;
    std::vector<unsigned char> buf_;
    std::vector<unsigned> bucketStart_;
    std::vector<unsigned> positions_;
    std::vector<unsigned> firstInWindow_;
    unsigned dataStart_ = 0;  // first buffer offset holding input
    unsigned dataEnd_ = 0;
    unsigned limit_ = 0;
    unsigned cur_ = 0;
    std::int64_t base_ = 0;   // input offset of buffer offset 0
};

struct VectorSource {
    const std::vector<unsigned char>* data;
    std::size_t pos = 0;
};

unsigned readVector(char* buffer, unsigned* size, void* param) {
    auto* src = static_cast<VectorSource*>(param);
    const std::size_t n = std::min<std::size_t>(*size, src->data->size() - src->pos);
    if (n) std::memcpy(buffer, src->data->data() + src->pos, n);
    src->pos += n;
    return static_cast<unsigned>(n);
}

// Bit reader for decodeTokens.
class BitReader {
public:
    explicit BitReader(const std::vector<unsigned char>& s) : s_(s) {}
    bool bit(unsigned& b) {
        if (pos_ >= s_.size() * 8) return false;
        b = (s_[pos_ / 8] >> (pos_ % 8)) & 1;
        ++pos_;
        return true;
    }
    bool bits(unsigned n, unsigned& v) {
        v = 0;
        for (unsigned i = 0; i < n; ++i) {
            unsigned b;
            if (!bit(b)) return false;
            v |= b << i;
        }
        return true;
    }
    void seek(std::size_t bitPos) { pos_ = bitPos; }

private:
    const std::vector<unsigned char>& s_;
    std::size_t pos_ = 0;
};

// Reads a prefix code given as (value, bits) pairs emitted lowest bit first.
template <typename GetCode>
int readPrefixCode(BitReader& r, unsigned count, GetCode get) {
    unsigned acc = 0;
    for (unsigned n = 1; n <= 8; ++n) {
        unsigned b;
        if (!r.bit(b)) return -1;
        acc |= b << (n - 1);
        for (unsigned s = 0; s < count; ++s) {
            auto [value, bits] = get(s);
            if (bits == n && value == acc) return static_cast<int>(s);
        }
    }
    return -1;
}

}  // namespace

std::string describe(const Token& t) {
    std::ostringstream o;
    o << "@" << t.position << ": ";
    if (t.length == 0)
        o << "literal 0x" << std::hex << static_cast<unsigned>(t.literal);
    else
        o << "match length " << t.length << " distance " << t.distance;
    return o.str();
}

const std::vector<std::string>& asciiLiteralCodes() {
    // Lines: byte value, code length, code bits in stream order; '#' starts
    // a comment line.
    static const std::vector<std::string> codes = [] {
        std::vector<std::string> c(256);
        std::ifstream in(std::string(IMPLODE_SHARED_DATA) + "/implode-ascii-literals.tsv");
        std::string line;
        unsigned seen = 0;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            unsigned value = 0, length = 0;
            std::string bits;
            if (!(fields >> value >> length >> bits) || value > 255 || bits.size() != length ||
                !c[value].empty() || bits.find_first_not_of("01") != std::string::npos)
                return std::vector<std::string>{};
            c[value] = bits;
            ++seen;
        }
        return seen == 256 ? c : std::vector<std::string>{};
    }();
    return codes;
}

Result referenceImplode(zel::ReadCallback read, zel::WriteCallback write, void* param,
                        unsigned type, unsigned dictSize) {
    Result result;
    unsigned dictBits = 0;
    switch (dictSize) {
    case 1024: dictBits = 4; break;
    case 2048: dictBits = 5; break;
    case 4096: dictBits = 6; break;
    default: result.code = zel::CMP_INVALID_DICTSIZE; return result;
    }
    if (type != zel::CMP_BINARY && type != zel::CMP_ASCII) {
        result.code = zel::CMP_INVALID_MODE;
        return result;
    }
    BitWriter out(write, param, result);
    out.putByte(static_cast<unsigned char>(type));
    out.putByte(static_cast<unsigned char>(dictBits));
    {
        Compressor c(dictSize, dictBits, type, out, result);
        c.run(read, param);
    }
    const Code end = lengthCode(519);
    out.put(end.value, end.bits);
    out.finish();
    result.code = zel::CMP_NO_ERROR;
    return result;
}

Result referenceImplode(const std::vector<unsigned char>& data, unsigned dictSize,
                        unsigned type) {
    VectorSource src{&data};
    return referenceImplode(readVector, nullptr, &src, type, dictSize);
}

bool decodeTokens(const std::vector<unsigned char>& stream, std::vector<Token>& tokens) {
    tokens.clear();
    if (stream.size() < 2 || stream[0] > 1) return false;
    const bool ascii = stream[0] == zel::CMP_ASCII;
    if (ascii && asciiLiteralCodes().empty()) return false;
    const unsigned dictBits = stream[1];
    if (dictBits < 4 || dictBits > 6) return false;
    BitReader r(stream);
    r.seek(16);
    std::uint64_t pos = 0;
    for (;;) {
        unsigned flag;
        if (!r.bit(flag)) return false;
        Token t;
        t.position = pos;
        if (flag == 0) {
            unsigned v = 0;
            if (ascii) {
                // The codes form a prefix code: grow the bit string until it
                // names one.
                std::string bits;
                const auto& codes = asciiLiteralCodes();
                for (;;) {
                    unsigned b;
                    if (bits.size() == 13 || !r.bit(b)) return false;
                    bits += b ? '1' : '0';
                    const auto it = std::find(codes.begin(), codes.end(), bits);
                    if (it != codes.end()) {
                        v = static_cast<unsigned>(it - codes.begin());
                        break;
                    }
                }
            } else if (!r.bits(8, v)) {
                return false;
            }
            t.literal = static_cast<unsigned char>(v);
            tokens.push_back(t);
            ++pos;
            continue;
        }
        const int sym = readPrefixCode(r, 16, [](unsigned s) {
            return std::pair<unsigned, unsigned>{kLengthSymbols[s].code, kLengthSymbols[s].codeBits};
        });
        if (sym < 0) return false;
        unsigned extra;
        if (!r.bits(kLengthSymbols[sym].extraBits, extra)) return false;
        const unsigned length = 2 + kLengthSymbols[sym].base + extra;
        if (length == 519) return true;
        const int high = readPrefixCode(r, 64, [](unsigned s) {
            return std::pair<unsigned, unsigned>{kDistCode[s], kDistBits[s]};
        });
        if (high < 0) return false;
        const unsigned lowBits = length == 2 ? 2 : dictBits;
        unsigned low;
        if (!r.bits(lowBits, low)) return false;
        t.length = length;
        t.distance = ((static_cast<unsigned>(high) << lowBits) | low) + 1;
        tokens.push_back(t);
        pos += length;
    }
}

}  // namespace codecref
