// Tests of the implode stream codec: exact streams for small inputs and for
// the shared vectors of both modes, the ASCII literal codes, round trips
// across block edges, the decompressor's result codes and buffering, and the
// CRC step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "codec_reference.h"
#include "zel/implode.h"

using namespace codectest;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes RandomBytes(std::size_t n, unsigned seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<std::uint8_t>(rng() % alphabet);
  return b;
}

// Text-like data: words from a small vocabulary, so matches of every length
// and distance occur, plus occasional runs.
Bytes WordBytes(std::size_t n, unsigned seed) {
  static const char* words[] = {"the ", "implode ", "stream ", "window ", "match ", "a ", "of ",
                                "length ", "distance ", "\n", "    ", "if (x) ", "{ ", "} ",
                                "return 0;", "block", "AAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

Token Lit(char c) {
  Token t;
  t.literal = static_cast<std::uint8_t>(c);
  return t;
}
Token Match(unsigned length, unsigned distance) {
  Token t;
  t.match = true;
  t.length = length;
  t.distance = distance;
  return t;
}

// Compresses, checks the stream's framing, and returns its tokens.
std::vector<Token> TokensOf(const Bytes& input, unsigned dict = 4096) {
  RunResult c = Compress(input, dict);
  EXPECT_EQ(c.result, zel::CMP_NO_ERROR);
  Parsed p = ParseStream(c.output);
  EXPECT_TRUE(p.ended);
  EXPECT_TRUE(p.paddingZero);
  EXPECT_EQ(p.bytesUsed, c.output.size());
  return p.tokens;
}

void ExpectRoundTrip(const Bytes& input, unsigned dict, unsigned readChunk = 0,
                     unsigned type = zel::CMP_BINARY) {
  RunResult c = Compress(input, dict, type, readChunk);
  ASSERT_EQ(c.result, zel::CMP_NO_ERROR);
  RunResult d = Decompress(c.output);
  ASSERT_EQ(d.result, zel::CMP_NO_ERROR) << "size " << input.size() << " dict " << dict;
  ASSERT_EQ(d.output.size(), input.size()) << "dict " << dict;
  ASSERT_TRUE(d.output == input) << "size " << input.size() << " dict " << dict;
}

}  // namespace

// --- exact streams -------------------------------------------------------

TEST(ImplodeStream, EmptyInputIsHeaderAndEndMarker) {
  RunResult c = Compress({});
  EXPECT_EQ(c.result, zel::CMP_NO_ERROR);
  EXPECT_EQ(c.output, (Bytes{0x00, 0x06, 0x01, 0xFF}));
  RunResult d = Decompress(c.output);
  EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
  EXPECT_TRUE(d.output.empty());
  EXPECT_TRUE(d.writeSizes.empty());
}

TEST(ImplodeStream, HandComputedVectors) {
  // 'A': flag 0 and 0x41 (9 bits), then the end marker 1 0000000 11111111.
  EXPECT_EQ(Compress(Text("A")).output, (Bytes{0x00, 0x06, 0x82, 0x02, 0xFE, 0x01}));
  // "AAAA": two literals (distance 1 is never used), then a match of 2 at
  // distance 2 (flag 1, code 101, distance high code 11, two low bits 01),
  // end marker.
  EXPECT_EQ(Compress(Text("AAAA")).output, (Bytes{0x00, 0x06, 0x82, 0x04, 0xED, 0x05, 0xFC, 0x03}));
  // Dictionary size only changes the header byte and the low distance bits.
  EXPECT_EQ(Compress(Text("A"), 1024).output, (Bytes{0x00, 0x04, 0x82, 0x02, 0xFE, 0x01}));
  EXPECT_EQ(Compress(Text("A"), 2048).output, (Bytes{0x00, 0x05, 0x82, 0x02, 0xFE, 0x01}));
}

TEST(ImplodeStream, RunsNeverUseDistanceOneAndTakeTheOldestFullMatch) {
  // Two literals, then 516 bytes from two back; every later full-length
  // match goes to the oldest position; the rest, shorter than 516, to the
  // most recent position with that length.
  const std::vector<Token> tokens = TokensOf(Bytes(2000, 'x'));
  ASSERT_EQ(tokens.size(), 6u);
  EXPECT_EQ(tokens[0], Lit('x'));
  EXPECT_EQ(tokens[1], Lit('x'));
  EXPECT_EQ(tokens[2], Match(516, 2));
  EXPECT_EQ(tokens[3], Match(516, 518));
  EXPECT_EQ(tokens[4], Match(516, 1034));
  EXPECT_EQ(tokens[5], Match(2000 - 2 - 3 * 516, 2));
  // Zeros agree on into the cleared buffer behind the input: the oldest
  // full match is taken and cut to the end.
  const std::vector<Token> zeros = TokensOf(Bytes(600, 0));
  ASSERT_EQ(zeros.size(), 4u);
  EXPECT_EQ(zeros[3], Match(82, 518));
  // Long runs across many blocks reach back at most dictSize - 1 bytes.
  for (unsigned dict : {1024u, 4096u}) {
    const std::vector<Token> big = TokensOf(Bytes(100000, 0), dict);
    ASSERT_GE(big.size(), 3u);
    EXPECT_EQ(big[1], Lit(0));
    for (std::size_t i = 2; i < big.size(); ++i) {
      EXPECT_TRUE(big[i].match);
      EXPECT_GE(big[i].distance, 2u);
      EXPECT_LE(big[i].distance, dict - 1);
    }
    EXPECT_EQ(Expand(big), Bytes(100000, 0));
  }
}

TEST(ImplodeStream, FarTwoByteRepeatIsSentAsLiterals) {
  // "AA", 298 bytes in which no pair of bytes repeats, "AA": the second
  // "AA" lies 300 bytes back (d = 299), too far for a two-byte match.
  Bytes in = Text("AA");
  for (unsigned v = 1; v <= 255; ++v) in.push_back(static_cast<std::uint8_t>(v));
  for (unsigned v = 2; in.size() < 300; v += 3) in.push_back(static_cast<std::uint8_t>(v));
  in.push_back('A');
  in.push_back('A');
  ASSERT_EQ(in.size(), 302u);
  const std::vector<Token> tokens = TokensOf(in);
  ASSERT_EQ(tokens.size(), in.size());
  for (const Token& t : tokens) EXPECT_FALSE(t.match);

  // The same pair 200 bytes back is close enough.
  Bytes near(in.begin(), in.begin() + 200);
  near.push_back('A');
  near.push_back('A');
  const std::vector<Token> t2 = TokensOf(near);
  EXPECT_EQ(t2.back(), Match(2, 200));
}

TEST(ImplodeStream, DeferredChoiceDependsOnDistance) {
  // At the last "abcde" the current position has "abc" (3 bytes) and the
  // next has "bcde" (4 bytes): one byte longer, so the nearer-than-129
  // three-byte match is kept, and a farther one gives way to a literal.
  auto build = [](unsigned gap) {
    Bytes b = Text("bcde");
    for (unsigned i = 0; i < 20; ++i) b.push_back(static_cast<std::uint8_t>(0x80 + i));
    b.push_back('a');
    b.push_back('b');
    b.push_back('c');
    // Filler whose byte pairs occur nowhere else.
    for (unsigned i = 0; i < gap; ++i) b.push_back(static_cast<std::uint8_t>(i < 108 ? 0x94 + i : i - 108));
    const std::string tail = "abcde";
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  {
    const Bytes in = build(50);  // "abc" 53 bytes back: d = 52
    const std::vector<Token> t = TokensOf(in);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], Match(3, 53));
    EXPECT_EQ(t.back(), Match(2, 78));  // "de" from the start
  }
  {
    const Bytes in = build(150);  // "abc" 153 bytes back: d = 152 > 128
    const std::vector<Token> t = TokensOf(in);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], Lit('a'));
    EXPECT_EQ(t.back(), Match(4, in.size() - 4));
  }
}

// --- the shared vectors and ASCII mode -----------------------------------

namespace {

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// NAME.TYPE-SIZE.imp is the stream that an independent implementation of the
// format writes for NAME.in: ours must write the same bytes and read them back.
TEST(ImplodeVectors, EveryStreamWrittenAndReadBack) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(IMPLODE_SHARED_DATA) / "implode-vectors";
  std::vector<fs::path> streams;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".imp") streams.push_back(e.path());
  std::sort(streams.begin(), streams.end());
  ASSERT_GE(streams.size(), 30u) << dir;
  unsigned seen[2][3] = {};
  for (const fs::path& path : streams) {
    const std::string stem = path.stem().string();  // NAME.TYPE-SIZE
    SCOPED_TRACE(path.filename().string());
    const auto dot = stem.rfind('.');
    const auto dash = stem.rfind('-');
    ASSERT_TRUE(dot != std::string::npos && dash != std::string::npos && dash > dot);
    const std::string typeName = stem.substr(dot + 1, dash - dot - 1);
    ASSERT_TRUE(typeName == "binary" || typeName == "ascii");
    const unsigned type = typeName == "ascii" ? zel::CMP_ASCII : zel::CMP_BINARY;
    const unsigned dict = static_cast<unsigned>(std::stoul(stem.substr(dash + 1)));
    const Bytes input = ReadFile(dir / (stem.substr(0, dot) + ".in"));
    const Bytes stream = ReadFile(path);

    RunResult c = Compress(input, dict, type);
    ASSERT_EQ(c.result, zel::CMP_NO_ERROR);
    if (c.output != stream) {
      std::size_t i = 0;
      while (i < c.output.size() && i < stream.size() && c.output[i] == stream[i]) ++i;
      ADD_FAILURE() << "stream differs from byte " << i << " (" << c.output.size()
                    << " bytes, vector " << stream.size() << ")";
    }
    RunResult d = Decompress(stream);
    EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
    EXPECT_TRUE(d.output == input)
        << "decoded " << d.output.size() << " of " << input.size() << " bytes";
    ++seen[type][dict == 1024 ? 0 : dict == 2048 ? 1 : 2];
  }
  // Both modes and every dictionary size were met.
  for (auto& mode : seen)
    for (unsigned n : mode) EXPECT_GT(n, 0u);
}

TEST(ImplodeAscii, EveryByteIsSentWithItsTableCode) {
  const std::vector<std::string> codes = AsciiCodesFromFile();
  ASSERT_EQ(codes.size(), 256u) << "ASCII literal table unreadable";
  for (unsigned b = 0; b < 256; ++b) {
    // One literal: flag 0 and the byte's code, then the end marker.
    const Bytes one{static_cast<std::uint8_t>(b)};
    RunResult c = Compress(one, 4096, zel::CMP_ASCII);
    ASSERT_EQ(c.result, zel::CMP_NO_ERROR);
    std::string expected = "0" + codes[b] + "1" + "0000000" + "11111111";
    while (expected.size() % 8) expected += '0';
    std::string got;
    for (std::size_t i = 2; i < c.output.size(); ++i)
      for (unsigned k = 0; k < 8; ++k) got += (c.output[i] >> k & 1) ? '1' : '0';
    EXPECT_EQ(c.output[0], zel::CMP_ASCII);
    EXPECT_EQ(got, expected) << "byte " << b;
    RunResult d = Decompress(c.output);
    EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
    EXPECT_EQ(d.output, one) << "byte " << b;
  }
}

TEST(ImplodeAscii, RoundTripsAndCutStreams) {
  for (unsigned dict : {1024u, 2048u, 4096u}) {
    ExpectRoundTrip(WordBytes(30000, dict), dict, 0, zel::CMP_ASCII);
    ExpectRoundTrip(RandomBytes(20000, dict), dict, 0, zel::CMP_ASCII);
    ExpectRoundTrip(WordBytes(9000, dict + 1), dict, 1, zel::CMP_ASCII);
  }
  // The decompressor's byte-at-a-time path, and a stream cut anywhere:
  // the bytes before the break come out, then the failure.
  const Bytes data = RandomBytes(3000, 5, 200);
  const Bytes stream = Compress(data, 4096, zel::CMP_ASCII).output;
  RunResult slow = Decompress(stream, 1, 5);
  EXPECT_EQ(slow.result, zel::CMP_NO_ERROR);
  EXPECT_TRUE(slow.output == data);
  for (std::size_t cut = 5; cut + 2 < stream.size(); cut += 97) {
    RunResult d = Decompress(Bytes(stream.begin(), stream.begin() + cut));
    EXPECT_EQ(d.result, zel::CMP_ABORT) << cut;
    EXPECT_LT(d.output.size(), data.size());
    EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), data.begin())) << cut;
  }
}

TEST(ImplodeChoices, ReadChunkingDoesNotChangeTheStream) {
  const Bytes in = WordBytes(13000, 11);
  const Bytes whole = Compress(in).output;
  EXPECT_EQ(Compress(in, 4096, 0, 1).output, whole);
  EXPECT_EQ(Compress(in, 4096, 0, 1000).output, whole);
}

TEST(ImplodeChoices, OutputIsWrittenIn2048BytePieces) {
  RunResult c = Compress(RandomBytes(10000, 5));
  ASSERT_GE(c.writeSizes.size(), 5u);
  for (std::size_t i = 0; i + 1 < c.writeSizes.size(); ++i) EXPECT_EQ(c.writeSizes[i], 2048u);
  EXPECT_GT(c.writeSizes.back(), 0u);
  EXPECT_LE(c.writeSizes.back(), 2048u);
  for (unsigned asked : c.readSizes) EXPECT_LE(asked, 4096u);
}

TEST(ImplodeChoices, RefusesBadParameters) {
  for (unsigned dict : {0u, 512u, 1000u, 8192u}) {
    RunResult c = Compress(Text("data"), dict);
    EXPECT_EQ(c.result, zel::CMP_INVALID_DICTSIZE);
    EXPECT_TRUE(c.output.empty());
  }
  for (unsigned type : {2u, 3u, 255u}) {
    RunResult c = Compress(Text("data"), 4096, type);
    EXPECT_EQ(c.result, zel::CMP_INVALID_MODE);
    EXPECT_TRUE(c.output.empty());
    EXPECT_TRUE(c.readSizes.empty());
  }
}

// --- round trips ---------------------------------------------------------

TEST(ImplodeRoundTrip, SizesAroundBlockEdges) {
  std::vector<std::size_t> sizes;
  for (std::size_t s = 0; s <= 70000; s += 997) sizes.push_back(s);
  for (std::size_t edge = 0; edge <= 70000; edge += 4096)
    for (int delta : {-517, -516, -515, -2, -1, 0, 1, 2, 515, 516, 517})
      if (long(edge) + delta >= 0) sizes.push_back(edge + delta);
  for (std::size_t edge = 516; edge <= 70000; edge += 516 * 7) sizes.push_back(edge), sizes.push_back(edge + 1);
  for (std::size_t edge = 2048; edge <= 70000; edge += 2048) sizes.push_back(edge - 1), sizes.push_back(edge);
  for (std::size_t s = 0; s < 40; ++s) sizes.push_back(s);
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());

  const Bytes random = RandomBytes(71000, 21);
  const Bytes words = WordBytes(71000, 22);
  for (std::size_t n : sizes) {
    ExpectRoundTrip(Bytes(random.begin(), random.begin() + n), 4096);
    ExpectRoundTrip(Bytes(words.begin(), words.begin() + n), 4096);
    if (n % 3 == 0) ExpectRoundTrip(Bytes(words.begin(), words.begin() + n), 1024);
    if (n % 3 == 1) ExpectRoundTrip(Bytes(random.begin(), random.begin() + n), 2048);
  }
}

TEST(ImplodeRoundTrip, AllDictionarySizesAndOneByteReads) {
  for (unsigned dict : {1024u, 2048u, 4096u}) {
    Bytes data = WordBytes(30000, dict);
    const Bytes noise = RandomBytes(5000, dict + 1, 16);
    data.insert(data.begin() + 10000, noise.begin(), noise.end());
    data.insert(data.end(), 3000, 0);
    ExpectRoundTrip(data, dict);
    ExpectRoundTrip(data, dict, 1);
    // Decompression with a first read of 5 bytes, then one byte at a time.
    RunResult c = Compress(data, dict);
    RunResult d = Decompress(c.output, 1, 5);
    EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
    EXPECT_TRUE(d.output == data);
  }
}

// --- decompressor --------------------------------------------------------

TEST(ExplodeStream, WritesIn4096BytePiecesAndReadsIn2048) {
  const Bytes data = WordBytes(20000, 31);
  RunResult d = Decompress(Compress(data).output);
  ASSERT_EQ(d.result, zel::CMP_NO_ERROR);
  ASSERT_EQ(d.writeSizes.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d.writeSizes[i], 4096u);
  EXPECT_EQ(d.writeSizes[4], 20000u - 4 * 4096);
  for (unsigned asked : d.readSizes) EXPECT_EQ(asked, 2048u);
}

TEST(ExplodeStream, HeaderErrorsWriteNothing) {
  Bytes stream = Compress(Text("some data to compress, some data")).output;
  Bytes bad = stream;
  bad[1] = 7;
  RunResult d = Decompress(bad);
  EXPECT_EQ(d.result, zel::CMP_INVALID_DICTSIZE);
  EXPECT_TRUE(d.writeSizes.empty());
  bad[1] = 3;
  EXPECT_EQ(Decompress(bad).result, zel::CMP_INVALID_DICTSIZE);

  bad = stream;
  bad[0] = 2;
  d = Decompress(bad);
  EXPECT_EQ(d.result, zel::CMP_INVALID_MODE);
  EXPECT_TRUE(d.writeSizes.empty());
}

TEST(ExplodeStream, ShortFirstReadIsRefused) {
  const Bytes stream = Compress(Text("hello hello hello")).output;
  for (unsigned n = 0; n <= 4; ++n) {
    RunResult d = Decompress(Bytes(stream.begin(), stream.begin() + n));
    EXPECT_EQ(d.result, zel::CMP_BAD_DATA) << n;
    EXPECT_TRUE(d.writeSizes.empty());
  }
  // A whole stream handed over four bytes at a time is refused too.
  EXPECT_EQ(Decompress(stream, 4).result, zel::CMP_BAD_DATA);
  // The empty stream is four bytes in all and is accepted, in both modes.
  EXPECT_EQ(Decompress(Bytes{0x00, 0x04, 0x01, 0xFF}).result, zel::CMP_NO_ERROR);
  EXPECT_EQ(Decompress(Bytes{0x01, 0x06, 0x01, 0xFF}).result, zel::CMP_NO_ERROR);
}

TEST(ExplodeStream, CutOffStreamWritesWhatCameBefore) {
  const Bytes data = WordBytes(50000, 41);
  const Bytes stream = Compress(data).output;
  for (std::size_t cut : {std::size_t(5), std::size_t(100), stream.size() / 3, stream.size() / 2,
                          stream.size() - 3}) {
    const Bytes part(stream.begin(), stream.begin() + cut);
    RunResult d = Decompress(part);
    EXPECT_EQ(d.result, zel::CMP_ABORT) << cut;
    // Exactly the bytes of the whole tokens in the part.
    const Bytes expected = Expand(ParseStream(part).tokens);
    EXPECT_EQ(d.output.size(), expected.size()) << cut;
    EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), data.begin())) << cut;
  }
}

TEST(ExplodeStream, EndMarkerMayLoseItsLastBits) {
  // The last byte of a stream holds only end-marker bits (and padding);
  // without it the end marker still counts.
  for (std::size_t n : {0u, 1u, 7u, 100u, 5000u}) {
    const Bytes data = WordBytes(n, 51);
    Bytes stream = Compress(data).output;
    stream.pop_back();
    if (stream.size() <= 4) continue;
    RunResult d = Decompress(stream);
    EXPECT_EQ(d.result, zel::CMP_NO_ERROR) << n;
    EXPECT_TRUE(d.output == data) << n;
  }
  // Hand-made: literal 'A', then flag 1, symbol 15 and seven extra bits.
  // All ones: the end marker. Otherwise a match cut short.
  auto make = [](unsigned extra7) {
    const unsigned bits = 0x82u | (1u << 9) | (extra7 << 17);
    return Bytes{0x00, 0x06, std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16)};
  };
  RunResult d = Decompress(make(0x7F));
  EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
  EXPECT_EQ(d.output, Text("A"));
  d = Decompress(make(0x3F));
  EXPECT_EQ(d.result, zel::CMP_ABORT);
  EXPECT_EQ(d.output, Text("A"));
}

TEST(ExplodeStream, DistanceBeforeTheDataIsRefused) {
  // Literal 'A', then a match of 3 at distance 2: only one byte exists.
  // flag 1, code 11, distance high 0 (code 11), low bits 000001.
  const unsigned bits = 0x82u | (0x7u << 9) | (0x3u << 12) | (0x1u << 14) | (0xFF01u << 20);
  const Bytes stream{0x00, 0x06, std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16),
                     std::uint8_t(bits >> 24), std::uint8_t(std::uint64_t(bits) >> 32)};
  RunResult d = Decompress(stream);
  EXPECT_EQ(d.result, zel::CMP_ABORT);
  EXPECT_EQ(d.output, Text("A"));
}

TEST(ExplodeStream, IgnoresDataAfterTheEndMarker) {
  const Bytes data = WordBytes(3000, 61);
  Bytes stream = Compress(data).output;
  stream.insert(stream.end(), 5000, 0x55);
  RunResult d = Decompress(stream);
  EXPECT_EQ(d.result, zel::CMP_NO_ERROR);
  EXPECT_TRUE(d.output == data);
}

// --- CRC -----------------------------------------------------------------

TEST(Crc32, StandardCheckValueAndChaining) {
  char text[] = "123456789";
  unsigned size = 9;
  unsigned long crc = 0xFFFFFFFFul;
  EXPECT_EQ(~zel::crc32(text, &size, &crc) & 0xFFFFFFFFul, 0xCBF43926ul);

  // Any split gives the same value as one call.
  Bytes data = RandomBytes(1000, 71);
  unsigned all = 1000;
  unsigned long whole = 0xFFFFFFFFul;
  whole = zel::crc32(reinterpret_cast<char*>(data.data()), &all, &whole);
  for (unsigned split : {0u, 1u, 7u, 8u, 9u, 500u, 999u}) {
    unsigned long c = 0xFFFFFFFFul;
    unsigned a = split, b = 1000 - split;
    c = zel::crc32(reinterpret_cast<char*>(data.data()), &a, &c);
    c = zel::crc32(reinterpret_cast<char*>(data.data()) + split, &b, &c);
    EXPECT_EQ(c, whole) << split;
  }
}
