// Compressor of the implode stream.
//
// Input is read in 4096-byte blocks into a window that keeps the dictionary
// history and the 516 bytes not yet processed in front of the new block.
//
// The match for a position is fully determined: the longest agreement (at
// most 516 bytes) with any earlier position of the window, the most recent one
// on equal lengths; below two bytes there is none. Any search that finds that
// position gives the same stream, so the index is built for speed: each block
// links every position to the previous one with the same hash of its first
// three bytes, so a chain lists those positions newest first. A search walks
// newest to oldest, so the first match of 516 bytes ends it. Once a match is
// known, an older position can only win by agreeing with one byte more, so it
// shares every three-byte group of the current match: the walk then follows
// the chain, among those of the groups inside the match, whose next entry
// lies furthest back, skipping candidates that cannot win. Without a match of
// three bytes, only a two-byte match less than 256 bytes back can be used, so
// the last 256 bytes are scanned for the pair.
#include "zel/implode.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "implode_tables.h"

namespace zel {
namespace {

using namespace detail;

constexpr unsigned kBlock = 4096;
constexpr unsigned kMaxDict = 4096;
// History, the carried 516 bytes and one block.
constexpr unsigned kData = kMaxDict + kMaxMatch + kBlock;
// A search near the end of the last block compares up to 516 bytes past the
// input's end, so positions that far out are indexed too.
constexpr unsigned kIndexed = kData + kMaxMatch;
// Plus the second byte of the last pair and the reach of 8-byte compares.
constexpr unsigned kWindow = kIndexed + 16;
constexpr unsigned kBuckets = 3072;
constexpr std::uint16_t kNone = 0xFFFF;
constexpr unsigned kOutPiece = 2048;

struct ImplodeState {
  std::uint8_t window[kWindow];
  std::uint16_t prev[kIndexed];     // previous position with the same hash
  std::uint16_t head[kBuckets];     // newest position per hash while indexing
  std::uint8_t out[kOutPiece + 16]; // output bytes not yet written
};
static_assert(sizeof(ImplodeState) + alignof(ImplodeState) - 1 <= kImplodeWorkSize,
              "compressor state must fit the caller's work area");
static_assert(kIndexed < kNone, "positions must fit 16 bits beside the empty mark");

class BitWriter {
 public:
  BitWriter(std::uint8_t* buf, WriteCallback write, void* param)
      : buf_(buf), write_(write), param_(param) {}

  void Byte(unsigned b) { buf_[pos_++] = static_cast<std::uint8_t>(b); }

  // Up to 30 bits may be put between two flushes.
  void Put(std::uint32_t value, unsigned count) {
    acc_ |= std::uint64_t(value) << count_;
    count_ += count;
  }

  void Flush() {
    Store64(buf_ + pos_, acc_);
    pos_ += count_ >> 3;
    acc_ >>= count_ & ~7u;
    count_ &= 7;
    if (pos_ >= kOutPiece) {
      Emit(kOutPiece);
      std::memmove(buf_, buf_ + kOutPiece, pos_ - kOutPiece);
      pos_ -= kOutPiece;
    }
  }

  // Pads the last byte with zero bits and writes everything still buffered.
  void Finish() {
    Flush();
    if (count_ != 0) {
      buf_[pos_++] = static_cast<std::uint8_t>(acc_);
      acc_ = 0;
      count_ = 0;
    }
    if (pos_ != 0) Emit(pos_);
    pos_ = 0;
  }

 private:
  void Emit(unsigned size) {
    unsigned n = size;
    write_(reinterpret_cast<char*>(buf_), &n, param_);
  }

  std::uint8_t* buf_;
  WriteCallback write_;
  void* param_;
  std::uint64_t acc_ = 0;
  unsigned count_ = 0;
  unsigned pos_ = 0;
};

// Number of equal leading bytes, at most 516.
inline unsigned Agreement(const std::uint8_t* a, const std::uint8_t* b) {
  unsigned n = 0;
  do {
    const std::uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x != 0) {
      n += static_cast<unsigned>(std::countr_zero(x)) >> 3;
      return n < kMaxMatch ? n : kMaxMatch;
    }
    n += 8;
  } while (n < kMaxMatch);
  return kMaxMatch;
}

inline unsigned Hash3(const std::uint8_t* p) {
  const std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
  return static_cast<unsigned>((std::uint64_t(v * 2654435761u) * kBuckets) >> 32);
}

void Index(ImplodeState& s, unsigned from, unsigned to) {
  std::fill(std::begin(s.head), std::end(s.head), kNone);
  const std::uint8_t* w = s.window;
  for (unsigned x = from; x < to; ++x) {
    const unsigned h = Hash3(w + x);
    s.prev[x] = s.head[h];
    s.head[h] = static_cast<std::uint16_t>(x);
  }
}

// Most recent position in [from, p) whose two bytes equal those at p, or
// kNone.
unsigned FindPair(const std::uint8_t* w, unsigned p, unsigned from) {
  const std::uint8_t c0 = w[p], c1 = w[p + 1];
  unsigned q = p;
#if defined(__SSE2__)
  const __m128i v0 = _mm_set1_epi8(static_cast<char>(c0));
  const __m128i v1 = _mm_set1_epi8(static_cast<char>(c1));
  auto hits = [&](unsigned at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + at + 1));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, v0), _mm_cmpeq_epi8(b, v1))));
  };
  while (q >= from + 32) {
    q -= 32;
    const unsigned m = hits(q) | hits(q + 16) << 16;
    if (m != 0) return q + 31 - static_cast<unsigned>(std::countl_zero(m));
  }
  while (q >= from + 16) {
    q -= 16;
    const unsigned m = hits(q);
    if (m != 0) return q + 31 - static_cast<unsigned>(std::countl_zero(m));
  }
#endif
  while (q > from) {
    --q;
    if (w[q] == c0 && w[q + 1] == c1) return q;
  }
  return kNone;
}

// Longest match for position p among positions lo..p-1 (0 if below two
// bytes, or two bytes 256 or more back); *where receives its position.
unsigned FindMatch(const ImplodeState& s, unsigned p, unsigned lo, unsigned* where) {
  const std::uint8_t* w = s.window;
  const std::uint8_t* cur = w + p;
  const std::uint16_t* prev = s.prev;

  unsigned r = prev[p];
  for (;; r = prev[r]) {
    if (r == kNone || r < lo) {
      const unsigned q = FindPair(w, p, std::max(lo, p >= 256 ? p - 256 : 0u));
      if (q == kNone) return 0;
      *where = q;
      return 2;
    }
    if (w[r] == cur[0] && w[r + 1] == cur[1] && w[r + 2] == cur[2]) break;  // not a collision
  }
  unsigned best = Agreement(w + r, cur);
  unsigned bestPos = r;

  while (best < kMaxMatch) {
    // Pick the chain to follow. An older winner agrees with cur[0..best];
    // bestPos agrees with cur[0..best-1], so their groups at offsets
    // 0..best-3 are the same and any of those chains leads to it.
    const unsigned span = std::min(best - 3, 47u);
    unsigned k = 0;
    unsigned oldest = ~0u;
    for (unsigned i = 0; i <= span; ++i) {
      const unsigned c = prev[bestPos + i];
      if (c == kNone || c < lo + i) {  // nothing older shares this group
        *where = bestPos;
        return best;
      }
      if (c - i < oldest) {
        oldest = c - i;
        k = i;
      }
    }
    r = oldest + k;
    for (;;) {
      const unsigned q = r - k;
      if (w[q + best] == cur[best]) {
        const unsigned n = Agreement(w + q, cur);
        if (n > best) {
          best = n;
          bestPos = q;
          break;
        }
      }
      r = prev[r];
      if (r == kNone || r < lo + k) {
        *where = bestPos;
        return best;
      }
    }
  }
  *where = bestPos;
  return best;
}

inline void PutLiteral(BitWriter& out, unsigned byte) { out.Put(byte << 1, 9); }

inline void PutMatch(BitWriter& out, unsigned length, unsigned d, unsigned dictBits) {
  const LengthToken& t = kLengthTokens[length - 2];
  out.Put(t.bits, t.count);
  const unsigned lowBits = length == 2 ? 2 : dictBits;
  const unsigned high = d >> lowBits;
  const unsigned low = d & ((1u << lowBits) - 1);
  out.Put(kDistCode[high] | (low << kDistBits[high]), kDistBits[high] + lowBits);
}

}  // namespace

unsigned implode(ReadCallback read, WriteCallback write, char* workBuffer, void* param,
                 unsigned* type, unsigned* dictionarySize) {
  unsigned dictBits;
  switch (*dictionarySize) {
    case 1024: dictBits = 4; break;
    case 2048: dictBits = 5; break;
    case 4096: dictBits = 6; break;
    default: return CMP_INVALID_DICTSIZE;
  }
  // ASCII mode needs the format's published literal code table, which this
  // codec does not carry; it refuses the mode rather than guess.
  if (*type != CMP_BINARY) return CMP_INVALID_MODE;

  ImplodeState& s = *AlignedState<ImplodeState>(workBuffer);
  // Searches near the input's end read past it; those bytes must not depend
  // on what the caller's work area held before.
  std::memset(s.window, 0, sizeof s.window);

  BitWriter out(s.out, write, param);
  out.Byte(*type);
  out.Byte(dictBits);

  const unsigned dict = *dictionarySize;
  const unsigned readAt = dict + kMaxMatch;  // blocks land after history and carry
  unsigned dataStart = readAt;               // first position holding input
  unsigned p = readAt;                       // next position to process

  for (;;) {
    unsigned loaded = 0;
    bool last = false;
    while (loaded < kBlock) {
      unsigned want = kBlock - loaded;
      const unsigned got = read(reinterpret_cast<char*>(s.window + readAt + loaded), &want, param);
      if (got == 0) {
        last = true;
        break;
      }
      loaded += std::min(got, kBlock - loaded);
    }
    const unsigned end = readAt + loaded;
    // Outside the last block, stop 516 bytes short so every match lies in
    // data already read; the rest is processed with the next block.
    const unsigned limit = last ? end : end - kMaxMatch;
    Index(s, dataStart, last ? end + kMaxMatch : end);

    while (p < limit) {
      const unsigned lo = std::max(p - dict, dataStart);
      unsigned q = 0;
      unsigned length = FindMatch(s, p, lo, &q);
      for (;;) {
        const unsigned d = p - q - 1;
        if (length == 2 && d >= 256) {
          length = 0;  // a far two-byte match costs more than two literals
        } else if (length >= 2 && last && p + length > end) {
          length = end - p;  // the search ran into bytes past the input
          if (length < 2 || (length == 2 && d >= 256)) length = 0;
        } else if (length >= 2 && length < 8 && p + 1 < limit) {
          // Deferred choice: a clearly better match one byte later wins.
          unsigned q2 = 0;
          const unsigned next = FindMatch(s, p + 1, std::max(p + 1 - dict, dataStart), &q2);
          if (next > length && (next > length + 1 || d > 128)) {
            PutLiteral(out, s.window[p]);
            out.Flush();
            ++p;
            length = next;
            q = q2;
            continue;
          }
        }
        if (length >= 2) {
          PutMatch(out, length, d, dictBits);
          p += length;
        } else {
          PutLiteral(out, s.window[p]);
          ++p;
        }
        out.Flush();
        break;
      }
    }
    if (last) break;

    std::memmove(s.window, s.window + kBlock, dict + kMaxMatch);
    dataStart = dataStart > kBlock ? dataStart - kBlock : 0;
    p -= kBlock;
  }

  out.Put(kLengthTokens[kEndLength - 2].bits, kLengthTokens[kEndLength - 2].count);
  out.Finish();
  return CMP_NO_ERROR;
}

}  // namespace zel
