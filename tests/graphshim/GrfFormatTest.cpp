// The saved-graph stream reader and writer on their own: layout, leniency of the reader,
// refusal of bad input, and a deterministic fuzz run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "GrfFormat.h"

namespace {

// UTF-16LE bytes of ASCII text.
std::vector<uint8_t> W(const std::string& s) {
    std::vector<uint8_t> b;
    for (unsigned char c : s) {
        b.push_back(c);
        b.push_back(0);
    }
    return b;
}
std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool ParseBytes(const std::vector<uint8_t>& b, grf::Graph* g, size_t* used = nullptr,
                std::string* error = nullptr) {
    return grf::Parse(b.data(), b.size(), g, used, error);
}

const char kVideo[] = "{73646976-0000-0010-8000-00AA00389B71}";
const char kRGB24[] = "{E436EB7D-524F-11CE-9F53-0020AF0BA770}";
const char kVideoInfo[] = "{05589F80-C356-11CE-BF01-00AA0055595A}";
const char kAsyncReader[] = "{E436EBB5-524F-11CE-9F53-0020AF0BA770}";
const char kRenderer[] = "{70E102B0-5556-11CE-97C0-00AA0055595A}";

std::vector<uint8_t> Format88() {
    std::vector<uint8_t> f(88);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint8_t(i * 7);
    f[10] = '\r';
    f[11] = '\n';
    f[12] = 0;
    f[13] = '"';
    return f;
}

// A stream laid out the way the graph manager writes one.
std::vector<uint8_t> SampleStream() {
    std::vector<uint8_t> data = {0, 1, '\r', '\n', 0, '"', 0xFF};  // odd length, awkward bytes
    return W("0003\r\nFILTERS\r\n0001 \"Source\" ") + W(kAsyncReader) +
           W(" SOURCE \"C:\\media\\a b.avi\" 0000000000 \r\n0002 \"Video \\ Renderer\" ") +
           W(kRenderer) + W(" 0000000007 ") + data + W("\r\nCONNECTIONS\r\n0001 \"Output\" 0002 \"In\" 0000000376 ") +
           W(kVideo) + W(" ") + W(kRGB24) + W(" 1 0 0000230400 ") + W(kVideoInfo) +
           W(" 0000000088 ") + Format88() + W("\r\nCLOCK 1 0002\r\nEND");
}

TEST(GrfFormat, ReadsTheGraphManagersLayout) {
    grf::Graph g;
    size_t used = 0;
    std::string error;
    std::vector<uint8_t> s = SampleStream();
    ASSERT_TRUE(ParseBytes(s + W("\r\nnot part of the graph"), &g, &used, &error)) << error;
    EXPECT_EQ(used, s.size());
    EXPECT_EQ(g.version, 3);
    ASSERT_EQ(g.filters.size(), 2u);
    EXPECT_EQ(g.filters[0].id, 1u);
    EXPECT_EQ(g.filters[0].name, u"Source");
    EXPECT_EQ(grf::GuidToText(g.filters[0].clsid), u"{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(g.filters[0].fileKind, grf::FileKind::Source);
    EXPECT_EQ(g.filters[0].file, u"C:\\media\\a b.avi");
    EXPECT_TRUE(g.filters[0].data.empty());
    EXPECT_EQ(g.filters[1].name, u"Video \\ Renderer");
    EXPECT_EQ(g.filters[1].fileKind, grf::FileKind::None);
    EXPECT_EQ(g.filters[1].data, (std::vector<uint8_t>{0, 1, '\r', '\n', 0, '"', 0xFF}));
    ASSERT_EQ(g.connections.size(), 1u);
    const grf::Connection& c = g.connections[0];
    EXPECT_EQ(c.outFilter, 1u);
    EXPECT_EQ(c.outPin, u"Output");
    EXPECT_EQ(c.inFilter, 2u);
    EXPECT_EQ(c.inPin, u"In");
    EXPECT_EQ(grf::GuidToText(c.mt.majortype), u"{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(grf::GuidToText(c.mt.subtype), u"{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_TRUE(c.mt.fixedSizeSamples);
    EXPECT_FALSE(c.mt.temporalCompression);
    EXPECT_EQ(c.mt.sampleSize, 230400u);
    EXPECT_EQ(grf::GuidToText(c.mt.formattype), u"{05589F80-C356-11CE-BF01-00AA0055595A}");
    EXPECT_EQ(c.mt.format, Format88());
    EXPECT_TRUE(g.clockRequired);
    EXPECT_EQ(g.clockFilter, 2u);
    EXPECT_FALSE(g.hasClockClass);
}

TEST(GrfFormat, WritesTheSameLayoutItReads) {
    grf::Graph g;
    ASSERT_TRUE(ParseBytes(SampleStream(), &g));
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(grf::Write(g, &out, &error)) << error;
    EXPECT_EQ(out, SampleStream());  // media type length 376 = 288 + the 88 format bytes

    // Without a format block the record is 288 bytes long.
    g.connections[0].mt.format.clear();
    ASSERT_TRUE(grf::Write(g, &out, &error));
    std::vector<uint8_t> expect = W("0002 \"In\" 0000000288 ");
    EXPECT_NE(std::search(out.begin(), out.end(), expect.begin(), expect.end()), out.end());
}

TEST(GrfFormat, ReaderIsLenientAboutBlanksAndOptionalParts) {
    // Tabs, bare line feeds, NULs and lower-case keywords; version 2 has no clock.
    std::vector<uint8_t> nul = {0, 0};
    std::vector<uint8_t> s = W("0002\nfilters\t0007\t\"A\"\t") + W(kRenderer) + W("\t0000000004\txy\n") +
                             nul + W("connections\nEnd");
    grf::Graph g;
    std::string error;
    ASSERT_TRUE(ParseBytes(s, &g, nullptr, &error)) << error;
    EXPECT_EQ(g.version, 2);
    ASSERT_EQ(g.filters.size(), 1u);
    EXPECT_EQ(g.filters[0].id, 7u);
    EXPECT_EQ(g.filters[0].data, (std::vector<uint8_t>{'x', 0, 'y', 0}));
    EXPECT_TRUE(g.connections.empty());

    // A clock given by class identifier, and an empty graph.
    ASSERT_TRUE(ParseBytes(W("0003\r\nFILTERS\r\nCONNECTIONS\r\nCLOCK 0 {E436EBB1-524F-11CE-9F53-0020AF0BA770}\r\nEND"), &g,
                           nullptr, &error))
        << error;
    EXPECT_TRUE(g.hasClockClass);
    EXPECT_EQ(grf::GuidToText(g.clockClass), u"{E436EBB1-524F-11CE-9F53-0020AF0BA770}");
    std::vector<uint8_t> out;
    ASSERT_TRUE(grf::Write(g, &out, &error));
    ASSERT_TRUE(ParseBytes(out, &g));
    EXPECT_TRUE(g.hasClockClass);
    EXPECT_FALSE(g.clockRequired);
}

TEST(GrfFormat, RefusesBadInput) {
    const std::string F = std::string("0003\r\nFILTERS\r\n0001 \"A\" ") + kRenderer + " ";
    const std::string C = std::string("0003\r\nFILTERS\r\n0001 \"A\" ") + kRenderer + " 0000000000 \r\n0002 \"B\" " +
                          kRenderer + " 0000000000 \r\nCONNECTIONS\r\n";
    const std::string MT = std::string(" 0000000288 ") + kVideo + " " + kRGB24 + " 1 0 0000000000 " + kVideoInfo + " ";
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"unknown version", "0004\r\nFILTERS\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"no FILTERS", "0003\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"no END", "0003\r\nFILTERS\r\nCONNECTIONS\r\nCLOCK 0 0000\r\n"},
        {"version 2 with a clock", "0002\r\nFILTERS\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"filter id 0", F.substr(0, 14) + "0000 \"A\" " + kRenderer + " 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"repeated filter id", C.substr(0, C.find("0002")) + "0001 \"B\" " + kRenderer + " 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"letters in an id", "0003\r\nFILTERS\r\n00x1 \"A\" " + std::string(kRenderer) + " 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"unterminated name", "0003\r\nFILTERS\r\n0001 \"A " + std::string(kRenderer) + " 0000000000 \r\n"},
        {"bad class identifier", "0003\r\nFILTERS\r\n0001 \"A\" {70E102B0-5556-11CE-97C0-00AA0055595G} 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"short class identifier", "0003\r\nFILTERS\r\n0001 \"A\" {70E102B0-5556-11CE-97C0-00AA0055595} 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"data longer than the stream", F + "0000000100 abc\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"huge data length", F + "4294967295 abc\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"length past 32 bits", F + "4294967296 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"length of 11 digits", F + "00000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"SOURCE without a name", F + "SOURCE 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"},
        {"connection to an unknown filter", C + "0001 \"Out\" 0009 \"In\"" + MT + "0000000000 \r\nCLOCK 0 0000\r\nEND"},
        {"connection from an unknown filter", C + "0000 \"Out\" 0002 \"In\"" + MT + "0000000000 \r\nCLOCK 0 0000\r\nEND"},
        {"flag other than 0 or 1", C + "0001 \"Out\" 0002 \"In\" 0000000288 " + kVideo + " " + kRGB24 + " 2 0 0000000000 " + kVideoInfo + " 0000000000 \r\nCLOCK 0 0000\r\nEND"},
        {"format longer than the stream", C + "0001 \"Out\" 0002 \"In\"" + MT + "0000000088 \r\nCLOCK 0 0000\r\nEND"},
        {"huge format length", C + "0001 \"Out\" 0002 \"In\"" + MT + "4000000000 \r\nCLOCK 0 0000\r\nEND"},
        {"media type cut short", C + "0001 \"Out\" 0002 \"In\" 0000000288 " + kVideo},
        {"clock names no filter", C + "CLOCK 1 0005\r\nEND"},
        {"clock is garbage", C + "CLOCK 1 clock\r\nEND"},
        {"binary garbage", std::string("\xff\xfe\x00\x01garbage\x00\x00", 13)},
    };
    for (const Case& c : cases) {
        grf::Graph g;
        g.filters.resize(3);  // must stay untouched on failure
        std::string error;
        EXPECT_FALSE(ParseBytes(W(c.text), &g, nullptr, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_EQ(g.filters.size(), 3u) << c.what;
    }
    // A stream with an odd number of bytes ends in half a character.
    std::vector<uint8_t> odd = W("0003\r\nFILTERS\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEN");
    odd.push_back('D');
    grf::Graph g;
    EXPECT_FALSE(ParseBytes(odd, &g));
}

TEST(GrfFormat, WriterRefusesWhatTheFormatCannotHold) {
    grf::Graph g;
    ASSERT_TRUE(ParseBytes(SampleStream(), &g));
    std::vector<uint8_t> out;
    std::string error;
    grf::Graph quote = g;
    quote.connections[0].inPin = u"I\"n";
    EXPECT_FALSE(grf::Write(quote, &out, &error));
    grf::Graph file = g;
    file.filters[0].file = u"a\"b";
    EXPECT_FALSE(grf::Write(file, &out, &error));
    grf::Graph dup = g;
    dup.filters[1].id = 1;
    EXPECT_FALSE(grf::Write(dup, &out, &error));
    grf::Graph dangling = g;
    dangling.connections[0].inFilter = 9;
    EXPECT_FALSE(grf::Write(dangling, &out, &error));
    grf::Graph clock = g;
    clock.clockFilter = 9;
    EXPECT_FALSE(grf::Write(clock, &out, &error));
}

TEST(GrfFormat, GuidText) {
    grf::Guid g;
    ASSERT_TRUE(grf::TextToGuid(u"{e436ebb5-524f-11ce-9f53-0020af0ba770}", &g));
    EXPECT_EQ(g.d1, 0xE436EBB5u);
    EXPECT_EQ(g.d2, 0x524Fu);
    EXPECT_EQ(g.d3, 0x11CEu);
    EXPECT_EQ(g.d4[0], 0x9F);
    EXPECT_EQ(g.d4[7], 0x70);
    EXPECT_EQ(grf::GuidToText(g), u"{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
    for (const char16_t* bad : {u"E436EBB5-524F-11CE-9F53-0020AF0BA770", u"{E436EBB5-524F-11CE-9F53+0020AF0BA770}",
                                u"{E436EBB5-524F-11CE-9F53-0020AF0BA77}}", u"{ 436EBB5-524F-11CE-9F53-0020AF0BA770}"})
        EXPECT_FALSE(grf::TextToGuid(bad, &g)) << std::string(bad, bad + 38).size();
}

// Thousands of mutated and cut streams, the same on every run: the reader never crashes or
// hangs, and whatever it accepts it writes back in a form that reads the same.
TEST(GrfFormat, FuzzedStreams) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto rnd = [&]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    grf::Graph seedGraph;
    ASSERT_TRUE(ParseBytes(SampleStream(), &seedGraph));
    std::vector<std::vector<uint8_t>> seeds = {SampleStream()};
    std::vector<uint8_t> v2;
    seedGraph.version = 2;
    ASSERT_TRUE(grf::Write(seedGraph, &v2, nullptr));
    seeds.push_back(v2);
    const char* digits = "0123456789";

    int nAccepted = 0, nRefused = 0;
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> s = seeds[rnd() % seeds.size()];
        int nEdits = 1 + int(rnd() % 4);
        for (int e = 0; e < nEdits && !s.empty(); ++e) {
            size_t at = rnd() % s.size();
            switch (rnd() % 7) {
            case 0: s[at] = uint8_t(rnd()); break;                           // any byte
            case 1: s[at] = uint8_t(digits[rnd() % 10]); break;              // a digit (lengths, ids)
            case 2: s.resize(at); break;                                     // cut short
            case 3: s.erase(s.begin() + at, s.begin() + std::min(s.size(), at + 1 + rnd() % 8)); break;
            case 4: s.insert(s.begin() + at, uint8_t(rnd())); break;         // shifts alignment
            case 5: {                                                        // repeats a piece
                size_t n = std::min<size_t>(s.size() - at, 1 + rnd() % 120);
                std::vector<uint8_t> piece(s.begin() + at, s.begin() + at + n);
                s.insert(s.begin() + rnd() % s.size(), piece.begin(), piece.end());
                break;
            }
            case 6: s[at & ~size_t(1)] = uint8_t(" \"{}-\r\n9"[rnd() % 8]); break;  // syntax characters
            }
        }
        grf::Graph g;
        size_t used = 0;
        if (!ParseBytes(s, &g, &used)) {
            ++nRefused;
            continue;
        }
        ++nAccepted;
        ASSERT_LE(used, s.size());
        std::vector<uint8_t> out, out2;
        ASSERT_TRUE(grf::Write(g, &out, nullptr)) << "iteration " << i;
        grf::Graph g2;
        ASSERT_TRUE(ParseBytes(out, &g2)) << "iteration " << i;
        ASSERT_TRUE(grf::Write(g2, &out2, nullptr)) << "iteration " << i;
        ASSERT_EQ(out, out2) << "iteration " << i;
    }
    // The mutations reach both sides of the reader.
    EXPECT_GT(nAccepted, 100);
    EXPECT_GT(nRefused, 100);
}

}  // namespace
