// Tests of the implode stream codec: exact streams for small inputs, the
// compressor's choices against a slow model, round trips across block
// edges, the decompressor's result codes and buffering, and the CRC step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

void ExpectRoundTrip(const Bytes& input, unsigned dict, unsigned readChunk = 0) {
  RunResult c = Compress(input, dict, zel::CMP_BINARY, readChunk);
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
  // "AAAA": literal, match of 3 at distance 1 (flag 1, code 11, distance
  // high code 11, six low bits 0), end marker.
  EXPECT_EQ(Compress(Text("AAAA")).output, (Bytes{0x00, 0x06, 0x82, 0x3E, 0x10, 0xF0, 0x0F}));
  // Dictionary size only changes the header byte and the low distance bits.
  EXPECT_EQ(Compress(Text("A"), 1024).output, (Bytes{0x00, 0x04, 0x82, 0x02, 0xFE, 0x01}));
  EXPECT_EQ(Compress(Text("A"), 2048).output, (Bytes{0x00, 0x05, 0x82, 0x02, 0xFE, 0x01}));
}

TEST(ImplodeStream, RunOfOneByteIsLiteralThenDistanceOneMatches) {
  const std::vector<Token> tokens = TokensOf(Bytes(2000, 'x'));
  ASSERT_EQ(tokens.size(), 5u);
  EXPECT_EQ(tokens[0], Lit('x'));
  EXPECT_EQ(tokens[1], Match(516, 1));
  EXPECT_EQ(tokens[2], Match(516, 1));
  EXPECT_EQ(tokens[3], Match(516, 1));
  EXPECT_EQ(tokens[4], Match(2000 - 1 - 3 * 516, 1));
  // Long runs across many blocks keep the same shape.
  const std::vector<Token> big = TokensOf(Bytes(100000, 0));
  EXPECT_EQ(big.front(), Lit(0));
  for (const Token& t : std::vector<Token>(big.begin() + 1, big.end())) {
    EXPECT_TRUE(t.match);
    EXPECT_EQ(t.distance, 1u);
    EXPECT_LE(t.length, 516u);
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

// --- the compressor against the slow model -------------------------------

TEST(ImplodeChoices, MatchTheModelOnVariedData) {
  struct Case {
    Bytes data;
    unsigned dict;
  };
  std::vector<Case> cases;
  for (unsigned dict : {1024u, 2048u, 4096u}) {
    cases.push_back({RandomBytes(9000, 1, 4), dict});        // short matches everywhere
    cases.push_back({RandomBytes(6000, 2, 256), dict});      // hardly any matches
    cases.push_back({WordBytes(14000, 3), dict});            // text-like
  }
  Bytes periodic;
  for (unsigned i = 0; i < 12000; ++i) periodic.push_back(static_cast<std::uint8_t>("abcabd"[i % 6] + (i / 2000)));
  cases.push_back({periodic, 4096});
  Bytes blocks = WordBytes(5000, 7);  // long repeats reaching across blocks
  blocks.insert(blocks.end(), blocks.begin(), blocks.end());
  blocks.insert(blocks.end(), blocks.begin() + 1000, blocks.begin() + 4000);
  cases.push_back({blocks, 4096});
  cases.push_back({blocks, 1024});
  // Ends exactly on a block edge and just after one.
  cases.push_back({WordBytes(8192, 9), 4096});
  cases.push_back({WordBytes(8192 + 3, 9), 2048});

  for (const Case& c : cases) {
    const std::vector<Token> expected = ModelTokens(c.data, c.dict);
    const std::vector<Token> actual = TokensOf(c.data, c.dict);
    ASSERT_EQ(actual.size(), expected.size()) << "size " << c.data.size() << " dict " << c.dict;
    for (std::size_t i = 0; i < actual.size(); ++i)
      ASSERT_EQ(actual[i], expected[i]) << "token " << i << " size " << c.data.size() << " dict " << c.dict;
    EXPECT_EQ(Expand(actual), c.data);
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
  EXPECT_EQ(Compress(Text("data"), 4096, 2).result, zel::CMP_INVALID_MODE);
  // ASCII mode is not supported: refused the same way.
  EXPECT_EQ(Compress(Text("data"), 4096, zel::CMP_ASCII).result, zel::CMP_INVALID_MODE);
  EXPECT_TRUE(Compress(Text("data"), 4096, zel::CMP_ASCII).output.empty());
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
  bad[0] = 1;  // ASCII: not supported
  EXPECT_EQ(Decompress(bad).result, zel::CMP_INVALID_MODE);
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
  // The empty stream is four bytes in all and is accepted.
  EXPECT_EQ(Decompress(Bytes{0x00, 0x04, 0x01, 0xFF}).result, zel::CMP_NO_ERROR);
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
