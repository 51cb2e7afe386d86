// Decompressor of the implode stream.
//
// Decoded bytes go into an 8192-byte window whose first half is history; a
// full window writes its second half and slides it into the history. Input
// comes in 2048-byte reads. While at least eight input bytes are buffered the
// bit buffer is refilled a word at a time and whole tokens are decoded without
// further checks; near the end of the buffered input every bit is counted, so
// a stream that stops mid-token is noticed exactly and no read is made before
// its bits are needed. ASCII-mode literals are decoded with one table lookup
// on the next 13 bits; the decoder is instantiated per mode, so binary mode
// pays nothing for it.
#include "zel/implode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "implode_tables.h"

namespace zel {
namespace {

using namespace detail;

constexpr unsigned kHistory = 4096;
constexpr unsigned kWindowFull = 8192;
constexpr unsigned kLongestCopy = 518;
constexpr unsigned kInPiece = 2048;
constexpr unsigned kTokenBits = 30;  // flag, length code, extra bits, distance

struct ExplodeState {
  // A token starts below kWindowFull and may run kLongestCopy past it; the
  // copy loop writes whole 8-byte words beyond that.
  std::uint8_t window[kWindowFull + kLongestCopy + 8];
  std::uint8_t in[kInPiece];
};
static_assert(sizeof(ExplodeState) + alignof(ExplodeState) - 1 <= kExplodeWorkSize,
              "decompressor state must fit the caller's work area");

enum class Step { kGo, kEnd, kBroken };

template <bool kAsciiMode>
class Decoder {
 public:
  Decoder(ExplodeState& s, ReadCallback read, WriteCallback write, void* param,
          unsigned dictBits, unsigned inLen)
      : s_(s), read_(read), write_(write), param_(param), dictBits_(dictBits), inLen_(inLen) {}

  unsigned Run() {
    Step step = Step::kGo;
    while (step == Step::kGo) {
      if (bits_ < kTokenBits) {
        if (inLen_ - inPos_ >= 8) {
          buf_ |= Load64(s_.in + inPos_) << bits_;
          inPos_ += (63 - bits_) >> 3;
          bits_ |= 56;
        } else {
          step = SlowToken();
          if (outPos_ >= kWindowFull) Slide();
          continue;
        }
      }
      step = FastToken();
      if (outPos_ >= kWindowFull) Slide();
    }
    if (outPos_ > kHistory) Emit(s_.window + kHistory, outPos_ - kHistory);
    return step == Step::kEnd ? CMP_NO_ERROR : CMP_ABORT;
  }

 private:
  // At least kTokenBits bits are buffered.
  Step FastToken() {
    const std::uint64_t b = buf_;
    if ((b & 1) == 0) {
      unsigned used = 9;
      if constexpr (kAsciiMode) {
        const unsigned e = kAscii.decode[(b >> 1) & ((1u << kAsciiMaxBits) - 1)];
        s_.window[outPos_++] = static_cast<std::uint8_t>(e);
        used = 1 + (e >> 8);
      } else {
        s_.window[outPos_++] = static_cast<std::uint8_t>(b >> 1);
      }
      ++total_;
      buf_ >>= used;
      bits_ -= used;
      return Step::kGo;
    }
    const DecodeEntry le = kLengthDecode[(b >> 1) & 0x7F];
    unsigned used = 1 + le.bits;
    const unsigned extra = kLenExtra[le.symbol];
    const unsigned length = 2 + kLenBase[le.symbol] + unsigned((b >> used) & ((1u << extra) - 1));
    used += extra;
    if (length == kEndLength) return Step::kEnd;
    const unsigned lowBits = length == 2 ? 2 : dictBits_;
    const DecodeEntry de = kDistDecode[(b >> used) & 0xFF];
    used += de.bits;
    const unsigned distance =
        ((unsigned(de.symbol) << lowBits) | unsigned((b >> used) & ((1u << lowBits) - 1))) + 1;
    used += lowBits;
    buf_ >>= used;
    bits_ -= used;
    return Copy(length, distance);
  }

  // Decodes one token with every bit accounted for, reading more input when
  // the buffered bytes run out.
  Step SlowToken() {
    buf_ &= (std::uint64_t(1) << bits_) - 1;  // no stale bits above the count
    if (!Need(1)) return Step::kBroken;
    if ((buf_ & 1) == 0) {
      if constexpr (kAsciiMode) {
        Need(1 + kAsciiMaxBits);  // the longest code; a shorter one may be all there is
        const unsigned e = kAscii.decode[(buf_ >> 1) & ((1u << kAsciiMaxBits) - 1)];
        if (bits_ < 1 + (e >> 8)) return Step::kBroken;
        s_.window[outPos_++] = static_cast<std::uint8_t>(e);
        Drop(1 + (e >> 8));
      } else {
        if (!Need(9)) return Step::kBroken;
        s_.window[outPos_++] = static_cast<std::uint8_t>(buf_ >> 1);
        Drop(9);
      }
      ++total_;
      return Step::kGo;
    }
    Need(8);  // the longest flag and length code; fewer may do
    const DecodeEntry le = kLengthDecode[(buf_ >> 1) & 0x7F];
    if (bits_ < 1u + le.bits) return Step::kBroken;
    Drop(1 + le.bits);
    const unsigned extra = kLenExtra[le.symbol];
    if (!Need(extra)) {
      // The end marker still counts when the input stops inside its extra
      // bits, provided the bits that did arrive are all ones.
      const bool endMarker = le.symbol == 15 && buf_ == (std::uint64_t(1) << bits_) - 1;
      return endMarker ? Step::kEnd : Step::kBroken;
    }
    const unsigned length = 2 + kLenBase[le.symbol] + unsigned(buf_ & ((1u << extra) - 1));
    Drop(extra);
    if (length == kEndLength) return Step::kEnd;
    Need(8);
    const DecodeEntry de = kDistDecode[buf_ & 0xFF];
    if (bits_ < de.bits) return Step::kBroken;
    Drop(de.bits);
    const unsigned lowBits = length == 2 ? 2 : dictBits_;
    if (!Need(lowBits)) return Step::kBroken;
    const unsigned distance =
        ((unsigned(de.symbol) << lowBits) | unsigned(buf_ & ((1u << lowBits) - 1))) + 1;
    Drop(lowBits);
    return Copy(length, distance);
  }

  Step Copy(unsigned length, unsigned distance) {
    // A distance reaching before the first decoded byte names no data.
    if (distance > total_) return Step::kBroken;
    std::uint8_t* dst = s_.window + outPos_;
    const std::uint8_t* src = dst - distance;
    if (distance >= 8) {
      for (unsigned i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
    } else if (distance == 1) {
      std::memset(dst, *src, length);
    } else {
      // Overlapping: every byte may be one just written.
      for (unsigned i = 0; i < length; ++i) dst[i] = src[i];
    }
    outPos_ += length;
    total_ += length;
    return Step::kGo;
  }

  // Buffers at least n bits (n <= 56) unless the input ends first.
  bool Need(unsigned n) {
    while (bits_ < n) {
      if (inPos_ == inLen_ && !ReadMore()) return false;
      buf_ |= std::uint64_t(s_.in[inPos_++]) << bits_;
      bits_ += 8;
    }
    return true;
  }

  void Drop(unsigned n) {
    buf_ >>= n;
    bits_ -= n;
  }

  bool ReadMore() {
    if (ended_) return false;
    unsigned size = kInPiece;
    const unsigned got = read_(reinterpret_cast<char*>(s_.in), &size, param_);
    if (got == 0) {
      ended_ = true;
      return false;
    }
    inPos_ = 0;
    inLen_ = std::min(got, kInPiece);
    return true;
  }

  void Slide() {
    Emit(s_.window + kHistory, kWindowFull - kHistory);
    std::memmove(s_.window, s_.window + kWindowFull - kHistory, outPos_ - (kWindowFull - kHistory));
    outPos_ -= kWindowFull - kHistory;
  }

  void Emit(std::uint8_t* data, unsigned size) {
    unsigned n = size;
    write_(reinterpret_cast<char*>(data), &n, param_);
  }

  ExplodeState& s_;
  ReadCallback read_;
  WriteCallback write_;
  void* param_;
  const unsigned dictBits_;
  unsigned inLen_;
  unsigned inPos_ = 2;  // after the two header bytes
  std::uint64_t buf_ = 0;
  unsigned bits_ = 0;
  unsigned outPos_ = kHistory;
  std::uint64_t total_ = 0;
  bool ended_ = false;
};

}  // namespace

unsigned explode(ReadCallback read, WriteCallback write, char* workBuffer, void* param) {
  ExplodeState& s = *AlignedState<ExplodeState>(workBuffer);
  unsigned size = kInPiece;
  const unsigned got = std::min(read(reinterpret_cast<char*>(s.in), &size, param), kInPiece);
  // The empty stream (header and end marker) is exactly four bytes long and
  // is accepted; any other first read that short is refused.
  const bool emptyStream = got == 4 && s.in[0] <= CMP_ASCII && s.in[1] >= 4 && s.in[1] <= 6 &&
                           s.in[2] == 0x01 && s.in[3] == 0xFF;
  if (got <= 4 && !emptyStream) return CMP_BAD_DATA;
  const unsigned dictBits = s.in[1];
  if (dictBits < 4 || dictBits > 6) return CMP_INVALID_DICTSIZE;
  if (s.in[0] == CMP_ASCII) return Decoder<true>(s, read, write, param, dictBits, got).Run();
  if (s.in[0] != CMP_BINARY) return CMP_INVALID_MODE;
  return Decoder<false>(s, read, write, param, dictBits, got).Run();
}

}  // namespace zel
