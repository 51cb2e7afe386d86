// zel::implode checked byte for byte against the slow reference compressor,
// over inputs chosen to exercise each matching rule, block edges and the way
// the input is delivered; zel::explode must give every reference stream back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <zel/implode.h>

#include "reference_implode.h"

namespace {

using Bytes = std::vector<unsigned char>;

#ifdef CODEC_REFERENCE_SMALL
constexpr std::size_t kScale = 1;  // sanitizer build: fewer and shorter inputs
#else
constexpr std::size_t kScale = 4;
#endif

constexpr unsigned kDictSizes[] = {1024, 2048, 4096};

// Read side: hands out the input in pieces following `plan` (cycled), never
// more than asked; records what the compressor asked for.
struct Feed {
    const Bytes* data = nullptr;
    std::vector<unsigned> plan{~0u};
    std::size_t pos = 0;
    std::size_t step = 0;
    std::vector<unsigned> asked;
    bool ended = false;
    unsigned callsAfterEnd = 0;
};

unsigned feedRead(char* buffer, unsigned* size, void* param) {
    auto* f = static_cast<Feed*>(param);
    if (f->ended) ++f->callsAfterEnd;
    f->asked.push_back(*size);
    std::size_t n = std::min<std::size_t>(*size, f->plan[f->step++ % f->plan.size()]);
    n = std::min(n, f->data->size() - f->pos);
    if (n) std::memcpy(buffer, f->data->data() + f->pos, n);
    f->pos += n;
    if (n == 0) f->ended = true;
    return static_cast<unsigned>(n);
}

struct Sink {
    Bytes bytes;
    std::vector<unsigned> sizes;
};

void sinkWrite(char* buffer, unsigned* size, void* param) {
    auto* s = static_cast<Sink*>(param);
    s->sizes.push_back(*size);
    s->bytes.insert(s->bytes.end(), buffer, buffer + *size);
}

struct ProdRun {
    unsigned code = 0;
    Sink sink;
    Feed feed;
};

// The write callback gets the ProdRun; route it to the sink.
void runWrite(char* buffer, unsigned* size, void* param) {
    sinkWrite(buffer, size, &static_cast<ProdRun*>(param)->sink);
}
unsigned runRead(char* buffer, unsigned* size, void* param) {
    return feedRead(buffer, size, &static_cast<ProdRun*>(param)->feed);
}

ProdRun runProduction(const Bytes& data, unsigned dictSize, const std::vector<unsigned>& plan,
                      unsigned char workFill, unsigned type = zel::CMP_BINARY) {
    ProdRun r;
    r.feed.data = &data;
    r.feed.plan = plan;
    std::vector<char> work(zel::kImplodeWorkSize, static_cast<char>(workFill));
    unsigned dict = dictSize;
    r.code = zel::implode(runRead, runWrite, work.data(), &r, &type, &dict);
    return r;
}

codecref::Result runReference(const Bytes& data, unsigned dictSize,
                              const std::vector<unsigned>& plan, Feed* feedOut = nullptr,
                              unsigned type = zel::CMP_BINARY) {
    Feed f;
    f.data = &data;
    f.plan = plan;
    codecref::Result r = codecref::referenceImplode(feedRead, nullptr, &f, type, dictSize);
    if (feedOut) *feedOut = f;
    return r;
}

// zel::implode leaves out an empty final write; the reference makes it.
std::vector<unsigned> nonEmpty(const std::vector<unsigned>& v) {
    std::vector<unsigned> out;
    std::copy_if(v.begin(), v.end(), std::back_inserter(out), [](unsigned s) { return s != 0; });
    return out;
}

unsigned readVec(char* buffer, unsigned* size, void* param) {
    auto* f = static_cast<std::pair<const Bytes*, std::size_t>*>(param);
    const std::size_t n = std::min<std::size_t>(*size, f->first->size() - f->second);
    if (n) std::memcpy(buffer, f->first->data() + f->second, n);
    f->second += n;
    return static_cast<unsigned>(n);
}

struct ExplodeCtx {
    std::pair<const Bytes*, std::size_t> src;
    Sink out;
};
unsigned exRead(char* b, unsigned* s, void* p) { return readVec(b, s, &static_cast<ExplodeCtx*>(p)->src); }
void exWrite(char* b, unsigned* s, void* p) { sinkWrite(b, s, &static_cast<ExplodeCtx*>(p)->out); }

Bytes explodeStream(const Bytes& stream, unsigned* code) {
    ExplodeCtx ctx{{&stream, 0}, {}};
    std::vector<char> work(zel::kExplodeWorkSize);
    *code = zel::explode(exRead, exWrite, work.data(), &ctx);
    return ctx.out.bytes;
}

std::string firstDifference(const Bytes& production, const Bytes& reference) {
    std::vector<codecref::Token> a, b;
    const bool okA = codecref::decodeTokens(production, a);
    const bool okB = codecref::decodeTokens(reference, b);
    std::string msg;
    if (!okA) msg += "[production stream does not decode] ";
    if (!okB) msg += "[reference stream does not decode] ";
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    msg += "first differing token #" + std::to_string(i) + ": production ";
    msg += i < a.size() ? codecref::describe(a[i]) : std::string("<end>");
    msg += ", reference ";
    msg += i < b.size() ? codecref::describe(b[i]) : std::string("<end>");
    if (i > 0) msg += " (previous: " + codecref::describe(b[i - 1]) + ")";
    return msg;
}

// The core comparison: same result code, same bytes, same write pieces, the
// same read requests; and the reference stream decodes to the input.
void expectMatchesReference(const Bytes& data, unsigned dictSize, const std::string& label,
                            const std::vector<unsigned>& plan = {~0u},
                            unsigned type = zel::CMP_BINARY) {
    SCOPED_TRACE(label + " size=" + std::to_string(data.size()) +
                 " dict=" + std::to_string(dictSize) + " type=" + std::to_string(type));
    Feed refFeed;
    const codecref::Result ref = runReference(data, dictSize, plan, &refFeed, type);
    ASSERT_EQ(ref.code, zel::CMP_NO_ERROR);

    unsigned exCode = 99;
    const Bytes back = explodeStream(ref.output, &exCode);
    EXPECT_EQ(exCode, zel::CMP_NO_ERROR);
    EXPECT_TRUE(back == data) << "reference stream does not decode to the input";

    const ProdRun prod = runProduction(data, dictSize, plan, 0xA5, type);
    EXPECT_EQ(prod.code, zel::CMP_NO_ERROR);
    if (prod.sink.bytes != ref.output) {
        ADD_FAILURE() << "output differs (production " << prod.sink.bytes.size()
                      << " bytes, reference " << ref.output.size() << " bytes); "
                      << firstDifference(prod.sink.bytes, ref.output);
        return;
    }
    EXPECT_EQ(nonEmpty(prod.sink.sizes), nonEmpty(ref.writeSizes)) << "write pieces differ";
    EXPECT_EQ(prod.feed.asked, refFeed.asked) << "read requests differ";
    EXPECT_EQ(prod.feed.callsAfterEnd, 0u);
}

// ---- input generators (fixed seeds, raw engine output only) ----

Bytes randomBytes(std::size_t n, std::uint32_t seed, unsigned alphabet = 256) {
    std::mt19937 g(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(g() % alphabet);
    return b;
}

Bytes text(std::size_t n, std::uint32_t seed) {
    static const char* const words[] = {
        "the", "package", "member", "is", "written", "with", "a", "dictionary", "of",
        "four", "thousand", "bytes", "and", "then", "sent", "to", "client", "server",
        "setup", "program", "reads", "it", "back", "when", "extracting", "files", "into",
        "folder", "error", "while", "copying", "version", "registry", "key", "value",
        "window", "match", "length", "distance", "literal", "stream", "block", "end"};
    std::mt19937 g(seed);
    std::string s;
    while (s.size() < n) {
        s += words[g() % std::size(words)];
        const unsigned r = g() % 16;
        s += r == 0 ? ".\n" : r == 1 ? ", " : " ";
    }
    s.resize(n);
    return Bytes(s.begin(), s.end());
}

Bytes ownExecutable(std::size_t offset, std::size_t n) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.size() <= offset) return all;
    n = std::min(n, all.size() - offset);
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(offset),
                 all.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

// Text, binary, runs and repeats spliced together: every rule gets exercised.
Bytes mixed(std::size_t n, std::uint32_t seed) {
    std::mt19937 g(seed);
    Bytes out;
    while (out.size() < n) {
        const std::size_t len = 1 + g() % 700;
        switch (g() % 5) {
        case 0: { Bytes t = text(len, g()); out.insert(out.end(), t.begin(), t.end()); break; }
        case 1: { Bytes t = randomBytes(len, g()); out.insert(out.end(), t.begin(), t.end()); break; }
        case 2: out.insert(out.end(), len, static_cast<unsigned char>(g())); break;
        case 3: { Bytes t = randomBytes(len, g(), 3); out.insert(out.end(), t.begin(), t.end()); break; }
        default:
            if (!out.empty()) {  // copy from somewhere back, often beyond the window
                const std::size_t from = g() % out.size();
                for (std::size_t i = 0; i < len; ++i) out.push_back(out[from + i]);
            }
        }
    }
    out.resize(n);
    return out;
}

// ---- tests ----

// Every stream of the shared vector folder: NAME.TYPE-SIZE.imp is what an
// independent implementation writes for NAME.in.
struct Vector {
    std::string name;
    unsigned type = 0;
    unsigned dictSize = 0;
    Bytes input, stream;
};

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Vector> sharedVectors() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(IMPLODE_SHARED_DATA) / "implode-vectors";
    std::vector<Vector> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string file = e.path().filename().string();
        if (e.path().extension() != ".imp") continue;
        // NAME.TYPE-SIZE.imp
        const std::string stem = e.path().stem().string();
        const auto dot = stem.rfind('.');
        const auto dash = stem.rfind('-');
        if (dot == std::string::npos || dash == std::string::npos || dash < dot) continue;
        Vector v;
        v.name = file;
        const std::string type = stem.substr(dot + 1, dash - dot - 1);
        v.type = type == "ascii" ? zel::CMP_ASCII : zel::CMP_BINARY;
        v.dictSize = static_cast<unsigned>(std::stoul(stem.substr(dash + 1)));
        v.input = readFile(dir / (stem.substr(0, dot) + ".in"));
        v.stream = readFile(e.path());
        out.push_back(std::move(v));
    }
    std::sort(out.begin(), out.end(),
              [](const Vector& a, const Vector& b) { return a.name < b.name; });
    return out;
}

TEST(CodecReference, ReferenceWritesTheSharedVectors) {
    ASSERT_EQ(codecref::asciiLiteralCodes().size(), 256u) << "ASCII literal table unreadable";
    const std::vector<Vector> vectors = sharedVectors();
    ASSERT_GE(vectors.size(), 30u);
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        const auto r = codecref::referenceImplode(v.input, v.dictSize, v.type);
        ASSERT_EQ(r.code, zel::CMP_NO_ERROR);
        if (r.output != v.stream)
            ADD_FAILURE() << "reference differs from the vector; "
                          << firstDifference(r.output, v.stream);
    }
}

TEST(CodecReference, ReferenceFollowsTheStatedRules) {
    // Empty: header and end marker only.
    {
        const auto r = codecref::referenceImplode(Bytes{}, 4096);
        EXPECT_EQ(r.output, (Bytes{0x00, 0x06, 0x01, 0xFF}));
    }
    // A run: two literals (never distance 1), then matches; the first
    // reaches back two bytes, the next full-length one goes to the oldest
    // position in the window.
    {
        const auto r = codecref::referenceImplode(Bytes(1034, 'x'), 1024);
        ASSERT_EQ(r.tokens.size(), 4u);
        EXPECT_EQ(r.tokens[0].length, 0u);
        EXPECT_EQ(r.tokens[1].length, 0u);
        EXPECT_EQ(r.tokens[2].length, 516u);
        EXPECT_EQ(r.tokens[2].distance, 2u);
        EXPECT_EQ(r.tokens[3].length, 516u);
        EXPECT_EQ(r.tokens[3].distance, 518u);
    }
    // Zeros compare on into the zeroed buffer behind the input: at 518 the
    // oldest candidate agrees for 516 bytes, is cut to 2 and, being far back,
    // gives way to two literals.
    {
        const auto r = codecref::referenceImplode(Bytes(520, 0), 4096);
        ASSERT_EQ(r.tokens.size(), 5u);
        EXPECT_EQ(r.tokens[3].length, 0u);
        EXPECT_EQ(r.tokens[4].length, 0u);
    }
    // Two-byte repeats: 256 back is used, 257 back is not.
    for (unsigned dist : {256u, 257u}) {
        Bytes b = randomBytes(dist + 2, 7);
        b[0] = 'Q'; b[1] = 'Z';
        for (std::size_t i = 2; i < b.size(); ++i) if (b[i] == 'Q' || b[i] == 'Z') b[i] = 'a';
        b[dist] = 'Q'; b[dist + 1] = 'Z';
        const auto r = codecref::referenceImplode(b, 4096);
        const auto& last = r.tokens.back();
        if (dist == 256) {
            EXPECT_EQ(last.length, 2u);
            EXPECT_EQ(last.distance, 256u);
        } else {
            EXPECT_EQ(last.length, 0u);
        }
    }
    // The window reaches back one byte less than the dictionary size.
    for (unsigned dict : kDictSizes) {
        for (unsigned dist : {dict - 1, dict}) {
            Bytes b = randomBytes(dist + 5, dict + dist, 200);
            const Bytes tag{250, 251, 252, 253, 254};
            std::copy(tag.begin(), tag.end(), b.begin());
            std::copy(tag.begin(), tag.end(), b.begin() + dist);
            const auto r = codecref::referenceImplode(b, dict);
            const auto& last = r.tokens.back();
            if (dist == dict - 1) {
                EXPECT_EQ(last.length, 5u);
                EXPECT_EQ(last.distance, dict - 1);
            } else {
                EXPECT_EQ(last.length, 0u);
            }
        }
    }
    // Look-ahead: a longer match one byte later wins...
    {
        const std::string s = "ARROCKFORT AROCKFORT";
        const auto r = codecref::referenceImplode(Bytes(s.begin(), s.end()), 4096);
        ASSERT_GE(r.tokens.size(), 2u);
        EXPECT_EQ(r.tokens[r.tokens.size() - 2].literal, 'A');
        EXPECT_EQ(r.tokens.back().length, 8u);
        EXPECT_EQ(r.tokens.back().position, 12u);
    }
    // ...but one byte longer is not enough while the current match is near.
    for (std::size_t gap : {10u, 200u}) {
        Bytes b{'A', 'B', 'C', 'x'};
        Bytes filler = randomBytes(10 + gap, 11);
        for (auto& c : filler) c |= 0x80;
        b.insert(b.end(), filler.begin(), filler.begin() + 10);
        for (char c : std::string("BCDE")) b.push_back(static_cast<unsigned char>(c));
        b.insert(b.end(), filler.begin() + 10, filler.end());
        const std::size_t p = b.size();
        for (char c : std::string("ABCDE")) b.push_back(static_cast<unsigned char>(c));
        const auto r = codecref::referenceImplode(b, 4096);
        auto at = std::find_if(r.tokens.begin(), r.tokens.end(),
                               [&](const codecref::Token& t) { return t.position == p; });
        ASSERT_NE(at, r.tokens.end());
        if (p - 1 <= 128) {
            EXPECT_EQ(at->length, 3u) << gap;
        } else {
            EXPECT_EQ(at->length, 0u) << gap;
            ASSERT_NE(at + 1, r.tokens.end());
            EXPECT_EQ((at + 1)->length, 4u);
        }
    }
}

TEST(CodecReference, TinyInputs) {
    for (unsigned dict : kDictSizes) {
        expectMatchesReference({}, dict, "empty");
        for (unsigned v : {0u, 0x41u, 0xFFu}) expectMatchesReference(Bytes{static_cast<unsigned char>(v)}, dict, "one byte");
        expectMatchesReference(Bytes{1, 2}, dict, "two bytes");
        expectMatchesReference(Bytes{7, 7, 7}, dict, "three equal");
        expectMatchesReference(Bytes{1, 2, 1, 2}, dict, "abab");
        for (std::size_t n = 1; n < 40; ++n) expectMatchesReference(randomBytes(n, 100 + n, 3), dict, "small 3-symbol");
    }
}

TEST(CodecReference, RunsOfOneByte) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 20; ++n) lengths.push_back(n);
    for (std::size_t n : {515, 516, 517, 518, 519, 520, 1032, 1033, 1034, 1549, 2065, 3579, 3580,
                          3581, 3582, 4095, 4096, 4097, 4611, 4612, 4613, 8191, 8192, 8193, 8709})
        lengths.push_back(n);
    if (kScale > 1) lengths.push_back(40000);
    for (unsigned dict : kDictSizes)
        for (std::size_t n : lengths)
            for (unsigned char v : {0x00, 0x61})
                expectMatchesReference(Bytes(n, v), dict, "run of " + std::to_string(v));
}

TEST(CodecReference, TextRandomAndBinary) {
    const std::size_t n = 48 * 1024 * kScale;
    for (unsigned dict : kDictSizes) {
        expectMatchesReference(text(n, 1), dict, "text");
        expectMatchesReference(randomBytes(n / 2, 2), dict, "random");
        expectMatchesReference(randomBytes(n / 2, 3, 2), dict, "two symbols");
        expectMatchesReference(randomBytes(n / 2, 4, 5), dict, "five symbols");
        expectMatchesReference(ownExecutable(4096, n), dict, "own executable");
        expectMatchesReference(mixed(n, 5), dict, "mixed");
    }
}

TEST(CodecReference, SizesAroundBlockEdges) {
    std::vector<std::size_t> sizes = {4095, 4096, 4097, 4096 + 515, 4096 + 516, 4096 + 517,
                                      3579, 3580, 3581, 8191, 8192, 8193, 8192 + 516,
                                      8192 + 516 + 1, 12288 - 516, 12288 - 1, 12288, 12288 + 1};
    for (unsigned dict : kDictSizes)
        for (std::size_t n : sizes) {
            expectMatchesReference(mixed(n, static_cast<std::uint32_t>(n)), dict, "mixed");
            expectMatchesReference(text(n, static_cast<std::uint32_t>(n)), dict, "text");
            expectMatchesReference(randomBytes(n, static_cast<std::uint32_t>(n), 4), dict, "four symbols");
        }
}

TEST(CodecReference, ReadPiecesDoNotChangeTheBlocks) {
    const std::vector<std::vector<unsigned>> plans = {
        {1}, {7}, {4096}, {5000}, {4095}, {4097}, {1, 4095}, {516, 3, 2000, 9}, {3333}};
    const std::size_t n = 9 * 1024 * kScale / 2 + 517;
    const Bytes data = mixed(n, 77);
    const Bytes runs = Bytes(8192 + 516, 'r');
    for (unsigned dict : kDictSizes)
        for (const auto& plan : plans) {
            const std::string label = "plan starting " + std::to_string(plan[0]);
            expectMatchesReference(data, dict, "mixed, " + label, plan);
            expectMatchesReference(text(4096 * 2, 9), dict, "text, " + label, plan);
            expectMatchesReference(runs, dict, "run, " + label, plan);
        }
}

TEST(CodecReference, RandomSweep) {
    std::mt19937 g(2024);
    for (std::size_t i = 0; i < 150 * kScale; ++i) {
        const std::size_t n = g() % (5 * 4096);
        const unsigned dict = kDictSizes[g() % 3];
        std::vector<unsigned> plan;
        for (unsigned k = 0; k < 1 + g() % 4; ++k) plan.push_back(1 + g() % 6000);
        expectMatchesReference(mixed(n, g()), dict, "sweep " + std::to_string(i), plan);
    }
}

TEST(CodecReference, OutputDoesNotDependOnWorkAreaContents) {
    for (unsigned dict : kDictSizes)
        for (std::size_t n : {100u, 4097u, 4096u + 516u + 3u, 8192u + 700u}) {
            const Bytes data = mixed(n, static_cast<std::uint32_t>(n + dict));
            const ProdRun a = runProduction(data, dict, {~0u}, 0x00);
            const ProdRun b = runProduction(data, dict, {~0u}, 0xFF);
            const ProdRun c = runProduction(data, dict, {~0u}, 0x5A);
            EXPECT_EQ(a.sink.bytes, b.sink.bytes) << n;
            EXPECT_EQ(a.sink.bytes, c.sink.bytes) << n;
        }
}

TEST(CodecReference, RefusedParametersCallNothing) {
    const Bytes data(100, 1);
    for (unsigned dict : {0u, 512u, 3000u, 8192u}) {
        ProdRun r;
        r.feed.data = &data;
        std::vector<char> work(zel::kImplodeWorkSize);
        unsigned type = zel::CMP_BINARY, d = dict;
        EXPECT_EQ(zel::implode(runRead, runWrite, work.data(), &r, &type, &d), zel::CMP_INVALID_DICTSIZE);
        EXPECT_TRUE(r.feed.asked.empty());
        EXPECT_TRUE(r.sink.sizes.empty());
        EXPECT_EQ(runReference(data, dict, {~0u}).code, zel::CMP_INVALID_DICTSIZE);
    }
    ProdRun r;
    r.feed.data = &data;
    std::vector<char> work(zel::kImplodeWorkSize);
    unsigned type = 2, d = 4096;
    EXPECT_EQ(zel::implode(runRead, runWrite, work.data(), &r, &type, &d), zel::CMP_INVALID_MODE);
    EXPECT_TRUE(r.feed.asked.empty());
    EXPECT_TRUE(r.sink.sizes.empty());
}

}  // namespace
