#include "codec_reference.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "zel/implode.h"

namespace codectest {
namespace {

const std::uint8_t kLenCode[16] = {0x05, 0x03, 0x01, 0x06, 0x0A, 0x02, 0x0C, 0x14,
                                   0x04, 0x18, 0x08, 0x30, 0x10, 0x20, 0x40, 0x00};
const unsigned kLenBits[16] = {3, 2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
const unsigned kLenExtra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
const unsigned kLenBase[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};
const std::uint8_t kDistCode[64] = {
    0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16, 0x26, 0x06, 0x3A,
    0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C,
    0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08,
    0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
const unsigned kDistBits[64] = {2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                                7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

class BitReader {
 public:
  explicit BitReader(const Bytes& b) : b_(b) {}
  std::size_t Left() const { return b_.size() * 8 - pos_; }
  unsigned Get(unsigned n) {
    unsigned v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos_) v |= unsigned((b_[pos_ >> 3] >> (pos_ & 7)) & 1) << i;
    return v;
  }
  // Matches a prefix code given lowest bit first: tries lengths in turn.
  std::optional<unsigned> Code(const std::uint8_t* codes, const unsigned* bits, unsigned count) {
    for (unsigned len = 1; len <= 8; ++len) {
      if (Left() < len) return std::nullopt;
      std::size_t save = pos_;
      unsigned v = Get(len);
      for (unsigned s = 0; s < count; ++s)
        if (bits[s] == len && codes[s] == v) return s;
      pos_ = save;
    }
    return std::nullopt;
  }
  std::size_t Pos() const { return pos_; }

 private:
  const Bytes& b_;
  std::size_t pos_ = 16;  // after the header
};

}  // namespace

Parsed ParseStream(const Bytes& stream) {
  Parsed out;
  if (stream.size() < 2) return out;
  out.type = stream[0];
  out.dictBits = stream[1];
  BitReader br(stream);
  for (;;) {
    if (br.Left() < 1) break;
    if (br.Get(1) == 0) {
      if (br.Left() < 8) break;
      Token t;
      t.literal = static_cast<std::uint8_t>(br.Get(8));
      out.tokens.push_back(t);
      continue;
    }
    auto sym = br.Code(kLenCode, kLenBits, 16);
    if (!sym) break;
    if (br.Left() < kLenExtra[*sym]) break;
    const unsigned length = 2 + kLenBase[*sym] + br.Get(kLenExtra[*sym]);
    if (length == 519) {
      out.ended = true;
      out.bytesUsed = (br.Pos() + 7) / 8;
      const unsigned pad = (8 - br.Pos() % 8) % 8;
      out.paddingZero = br.Get(pad) == 0;
      break;
    }
    auto high = br.Code(kDistCode, kDistBits, 64);
    if (!high) break;
    const unsigned low = length == 2 ? 2 : out.dictBits;
    if (br.Left() < low) break;
    Token t;
    t.match = true;
    t.length = length;
    t.distance = ((*high << low) | br.Get(low)) + 1;
    out.tokens.push_back(t);
  }
  return out;
}

Bytes Expand(const std::vector<Token>& tokens) {
  Bytes out;
  for (const Token& t : tokens) {
    if (!t.match) {
      out.push_back(t.literal);
      continue;
    }
    if (t.distance > out.size()) break;
    for (unsigned i = 0; i < t.length; ++i) out.push_back(out[out.size() - t.distance]);
  }
  return out;
}

namespace {

struct Source {
  const Bytes* data;
  std::size_t pos = 0;
  unsigned chunk = 0;
  unsigned firstChunk = 0;
  bool first = true;
  RunResult* run;
};

unsigned ReadFrom(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<Source*>(param);
  s->run->readSizes.push_back(*size);
  std::size_t n = std::min<std::size_t>(*size, s->data->size() - s->pos);
  unsigned limit = s->first && s->firstChunk ? s->firstChunk : s->chunk;
  s->first = false;
  if (limit) n = std::min<std::size_t>(n, limit);
  if (n != 0) std::memcpy(buffer, s->data->data() + s->pos, n);
  s->pos += n;
  return static_cast<unsigned>(n);
}

void WriteTo(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<Source*>(param);
  s->run->writeSizes.push_back(*size);
  s->run->output.insert(s->run->output.end(), buffer, buffer + *size);
}

}  // namespace

RunResult Compress(const Bytes& input, unsigned dictSize, unsigned type, unsigned chunk) {
  RunResult run;
  Source src{&input, 0, chunk, 0, true, &run};
  // Odd offset: the codec must not rely on the caller aligning the area.
  auto work = std::make_unique<char[]>(zel::kImplodeWorkSize + 1);
  std::memset(work.get(), 0xA5, zel::kImplodeWorkSize + 1);
  run.result = zel::implode(ReadFrom, WriteTo, work.get() + 1, &src, &type, &dictSize);
  return run;
}

RunResult Decompress(const Bytes& stream, unsigned chunk, unsigned firstChunk) {
  RunResult run;
  Source src{&stream, 0, chunk, firstChunk, true, &run};
  auto work = std::make_unique<char[]>(zel::kExplodeWorkSize + 1);
  std::memset(work.get(), 0x5A, zel::kExplodeWorkSize + 1);
  run.result = zel::explode(ReadFrom, WriteTo, work.get() + 1, &src);
  return run;
}

std::vector<std::string> AsciiCodesFromFile() {
  std::ifstream in(std::string(IMPLODE_SHARED_DATA) + "/implode-ascii-literals.tsv");
  std::vector<std::string> codes(256);
  std::string line;
  unsigned rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    unsigned value = 0, length = 0;
    std::string bits;
    if (!(fields >> value >> length >> bits) || value > 255 || bits.size() != length) return {};
    codes[value] = bits;
    ++rows;
  }
  return rows == 256 ? codes : std::vector<std::string>{};
}

}  // namespace codectest
