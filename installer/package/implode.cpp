// Compressor of the implode stream.
//
// Input is read in 4096-byte blocks into a window that keeps the dictionary
// history and the 516 bytes not yet processed in front of the new block; the
// bytes behind the data are whatever earlier blocks left there (zero at
// first, since the work area is cleared at the start).
//
// The match for a position p is fully determined by these rules:
//  1. Candidates are the earlier positions q of the block's pair index with
//     p - dictSize < q <= p - 2: distance 1 is never used, and the farthest
//     distance is dictSize - 1. The index of the first block starts at the
//     first input byte; that of the second block starts 4096 - 516 bytes
//     before the position where processing resumes, so right after the first
//     block edge fewer old positions are candidates than the window allows;
//     later blocks index everything the window reaches.
//  2. The agreement of q with p is counted up to 516 bytes and runs on past
//     the input's end into the bytes behind it; the deferred choice compares
//     these full lengths, and only a match that is sent is cut to the end.
//  3. Candidates are scanned oldest first and one at least as long as the
//     best so far replaces it, while 516 ends the scan: the result is the
//     OLDEST candidate agreeing for 516 bytes if there is one, else the most
//     recent one with the longest agreement (none below two bytes).
//  4. A match is kept against one a byte longer at the next position when
//     its distance minus one is at most 128.
//
// Any search that finds that position gives the same stream, so the index
// is built for speed rather than as the oldest-first scan: each block links
// every position to the previous one with the same hash of its first three
// bytes, so a chain lists those positions newest first. The walk goes newest
// to oldest and keeps the longest agreement; once a match is known, an older
// position can only win by agreeing with one byte more, so it shares every
// three-byte group of the current match: the walk then follows the chain,
// among those of the groups inside the match, whose next entry lies furthest
// back, skipping candidates that cannot win. Without a match of three bytes,
// only a two-byte match less than 256 bytes back can be used, so the last
// 256 bytes are scanned for the pair.
//
// A 516-byte agreement needs the oldest such position instead. Two of them,
// q and a newer one t bytes later (p itself to start with), make the bytes
// from q on repeat with period t; as far as that repetition reaches back,
// q - t, q - 2t, ... agree for 516 bytes too, so the walk jumps to the last of
// them and looks for older ones along the chains from there. A run of one
// byte thus costs one backward comparison instead of a walk over every
// position of the window.
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
constexpr unsigned kNone = 0xFFFF;  // no position, as a search result
constexpr unsigned kOutPiece = 2048;

// In the index, 0 ends a chain: position 0 is never a candidate, since the
// oldest candidate of p lies dictSize - 1 before it and p >= dictSize.
struct ImplodeState {
  std::uint8_t window[kWindow];
  std::uint16_t prev[kIndexed];     // previous position with the same hash, 0 = none
  std::uint16_t head[kBuckets];     // newest position per hash, 0 = none
  std::uint8_t out[kOutPiece + 16]; // output bytes not yet written
};
static_assert(sizeof(ImplodeState) + alignof(ImplodeState) - 1 <= kImplodeWorkSize,
              "compressor state must fit the caller's work area");
static_assert(kIndexed <= 0xFFFF, "positions must fit 16 bits");

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

// Adds positions from..to-1 to the chains (their three bytes must be in
// place).
void Index(ImplodeState& s, unsigned from, unsigned to) {
  const std::uint8_t* w = s.window;
  for (unsigned x = from; x < to; ++x) {
    const unsigned h = Hash3(w + x);
    s.prev[x] = s.head[h];
    s.head[h] = static_cast<std::uint16_t>(x);
  }
}

// The window moved down by one block: so do the indexed positions, and
// those that fall out of it end their chains.
void ShiftIndex(ImplodeState& s, unsigned kept) {
  auto down = [](std::uint16_t v) {
    return static_cast<std::uint16_t>(v >= kBlock ? v - kBlock : 0);
  };
  for (unsigned x = 0; x < kept; ++x) s.prev[x] = down(s.prev[x + kBlock]);
  for (std::uint16_t& h : s.head) h = down(h);
}

// Most recent position in [from, p - 1) whose two bytes equal those at p, or
// kNone.
unsigned FindPair(const std::uint8_t* w, unsigned p, unsigned from) {
  const std::uint8_t c0 = w[p], c1 = w[p + 1];
  unsigned q = p;
  // The scan goes in whole 16-byte steps back from p (the usual 256 bytes
  // are sixteen of them); the hit for the byte just before p is masked out.
  unsigned skip = 1u << 31;
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
    const unsigned m = (hits(q) | hits(q + 16) << 16) & ~skip;
    skip = 0;
    if (m != 0) return q + 31 - static_cast<unsigned>(std::countl_zero(m));
  }
  while (q >= from + 16) {
    q -= 16;
    const unsigned m = hits(q) & ~(skip >> 16);
    skip = 0;
    if (m != 0) return q + 31 - static_cast<unsigned>(std::countl_zero(m));
  }
#endif
  if (skip != 0) --q;
  while (q > from) {
    --q;
    if (w[q] == c0 && w[q + 1] == c1) return q;
  }
  return kNone;
}

// The next position older than q, and at least lo, that agrees with p for
// `need` bytes, or kNone. q agrees with p for `known` bytes (3 or more, at
// most need), so such a position shares every three-byte group at offsets
// 0..known-3 with q: the walk follows the chain, among those of the groups,
// whose next entry lies furthest back.
// (Inlined: the searches spend most of their time here.)
[[gnu::always_inline]] inline unsigned OlderAgreeing(const ImplodeState& s, unsigned p, unsigned q,
                                                     unsigned lo, unsigned known, unsigned need) {
  const std::uint8_t* w = s.window;
  const std::uint16_t* prev = s.prev;
  const unsigned span = std::min(known - 3, 47u);
  unsigned k = 0;
  unsigned oldest = ~0u;
  for (unsigned i = 0; i <= span; ++i) {
    const unsigned c = prev[q + i];
    if (c < lo + i) return kNone;  // nothing older shares this group
    if (c - i < oldest) {
      oldest = c - i;
      k = i;
    }
  }
  for (unsigned r = oldest + k; r >= lo + k; r = prev[r]) {
    const unsigned c = r - k;
    if (w[c + need - 1] == w[p + need - 1] && Agreement(w + c, w + p) >= need) return c;
  }
  return kNone;
}

// q agrees with p for 516 bytes: the oldest position at least lo that does.
unsigned OldestFull(const ImplodeState& s, unsigned p, unsigned q, unsigned lo) {
  const std::uint8_t* w = s.window;
  unsigned newer = p;  // a later position agreeing the same way
  for (;;) {
    // Bytes from q on repeat with period t; see how far back that holds.
    const unsigned t = newer - q;
    unsigned y = q;
    while (y >= lo + 8 && Load64(w + y - 8) == Load64(w + y - 8 + t)) y -= 8;
    while (y > lo && w[y - 1] == w[y - 1 + t]) --y;
    if (q - y >= t) {
      q -= (q - y) / t * t;
      newer = q + t;
    }
    const unsigned older = OlderAgreeing(s, p, q, lo, kMaxMatch, kMaxMatch);
    if (older == kNone) return q;
    newer = q;
    q = older;
  }
}

// The match for position p among the positions lo..p-2 (0 if below two
// bytes, or two bytes 256 or more back); *where receives its position.
unsigned FindMatch(const ImplodeState& s, unsigned p, unsigned lo, unsigned* where) {
  const std::uint8_t* w = s.window;
  const std::uint8_t* cur = w + p;
  const std::uint16_t* prev = s.prev;

  unsigned r = prev[p];
  if (r == p - 1) r = prev[r];  // the byte just before is never used
  for (;; r = prev[r]) {
    if (r < lo) {
      const unsigned q = FindPair(w, p, std::max(lo, p >= 256 ? p - 256 : 0u));
      if (q == kNone) return 0;
      *where = q;
      return 2;
    }
    if (w[r] == cur[0] && w[r + 1] == cur[1] && w[r + 2] == cur[2]) break;  // not a collision
  }
  unsigned best = Agreement(w + r, cur);
  unsigned bestPos = r;

  // An older position wins only by agreeing for one byte more.
  while (best < kMaxMatch) {
    const unsigned older = OlderAgreeing(s, p, bestPos, lo, best, best + 1);
    if (older == kNone) {
      *where = bestPos;
      return best;
    }
    bestPos = older;
    best = Agreement(w + older, cur);
  }
  *where = OldestFull(s, p, bestPos, lo);
  return best;
}

inline void PutLiteral(BitWriter& out, const BitToken& t) { out.Put(t.bits, t.count); }

inline void PutMatch(BitWriter& out, unsigned length, unsigned d, unsigned dictBits) {
  const BitToken& t = kLengthTokens[length - 2];
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
  if (*type != CMP_BINARY && *type != CMP_ASCII) return CMP_INVALID_MODE;
  const BitToken* literals = *type == CMP_ASCII ? kAscii.literals.data() : kBinaryLiterals.data();

  // Searches near the input's end read past it: start from a cleared work
  // area, so the stream never depends on what the caller's memory held.
  std::memset(workBuffer, 0, kImplodeWorkSize);
  ImplodeState& s = *AlignedState<ImplodeState>(workBuffer);

  BitWriter out(s.out, write, param);
  out.Byte(*type);
  out.Byte(dictBits);

  const unsigned dict = *dictionarySize;
  const unsigned readAt = dict + kMaxMatch;  // blocks land after history and carry
  unsigned dataStart = readAt;               // first position holding input
  unsigned p = readAt;                       // next position to process

  for (unsigned block = 0;; ++block) {
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
    // The second block's candidates start 4096 - 516 bytes before the
    // position where processing resumes (see the rules above).
    unsigned from = dataStart;
    if (block == 1 && p + kMaxMatch > kBlock) from = std::max(from, p + kMaxMatch - kBlock);
    // The index grows with each block. A position is added once its three
    // bytes are read, except in the last block, where searches near the end
    // also start from positions past it.
    Index(s, block == 0 ? readAt : readAt - 2, last ? end + kMaxMatch : end - 2);

    while (p < limit) {
      const unsigned lo = std::max(p + 1 - dict, from);
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
          const unsigned next = FindMatch(s, p + 1, std::max(p + 2 - dict, from), &q2);
          if (next > length && (next > length + 1 || d > 128)) {
            PutLiteral(out, literals[s.window[p]]);
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
          PutLiteral(out, literals[s.window[p]]);
          ++p;
        }
        out.Flush();
        break;
      }
    }
    if (last) break;

    std::memmove(s.window, s.window + kBlock, dict + kMaxMatch);
    ShiftIndex(s, readAt - 2);
    dataStart = dataStart > kBlock ? dataStart - kBlock : 0;
    p -= kBlock;
  }

  out.Put(kLengthTokens[kEndLength - 2].bits, kLengthTokens[kEndLength - 2].count);
  out.Finish();
  return CMP_NO_ERROR;
}

}  // namespace zel
