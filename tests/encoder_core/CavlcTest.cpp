// The score that decides whether a block's levels are worth their bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "BitWriter.h"

#include "Cavlc.h"

namespace {

TEST(Cavlc, DecimateScoreWeighsTheZerosBelowEachLevel) {
    struct Case {
        const char* what;
        int16_t block[16]; // scan order; an AC block is entries 1-15
        int maxCoeff;
        int score;
    };
    const Case cases[] = {
        {"no levels", {}, 16, 0},
        {"a one first", {1}, 16, 3},
        {"a one last, fifteen zeros below", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1}, 16, 0},
        {"ones at 3 and 0", {1, 0, 0, -1}, 16, 2 + 3},
        {"ones at 5, 4 and 1", {0, 1, 0, 0, 1, -1}, 16, 2 + 3 + 2},
        {"a two anywhere", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 16, 9},
        {"a minus two among ones", {1, 1, -2, 1}, 16, 9},
        {"AC: the DC before it is not a level", {100, 1}, 15, 3},
        {"AC: ones at AC 14 and 0", {-7, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 15, 0 + 3},
        {"AC: a two last", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 15, 9},
    };
    for (const Case& c : cases) {
        const int16_t* start = c.maxCoeff == 15 ? c.block + 1 : c.block;
        EXPECT_EQ(c.score, vcore::DecimateScore(start, c.maxCoeff)) << c.what;
    }
}

} // namespace

// Rows coded apart are joined by copying bit ranges out of their writers:
// every range (from whole bytes, across the bytes and the bits not yet
// written out, up to the last bit) must read back as written.
TEST(BitWriter, AppendedRangesReadBackAsWritten) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> width(0, 32);
    std::uniform_int_distribution<uint32_t> any;
    for (int round = 0; round < 200; ++round) {
        vcore::BitWriter w;
        std::vector<int> bits; // the same bits, one per entry
        const int writes = 1 + round % 60;
        for (int i = 0; i < writes; ++i) {
            const int n = width(rng);
            const uint32_t v = any(rng);
            w.Put(v, n);
            for (int k = n - 1; k >= 0; --k) bits.push_back(static_cast<int>((v >> k) & 1));
        }
        ASSERT_EQ(bits.size(), w.BitCount());
        std::uniform_int_distribution<size_t> at(0, bits.size());
        size_t from = at(rng), to = at(rng);
        if (from > to) std::swap(from, to);
        if (round % 4 == 0) to = bits.size(); // up to the bits still pending
        vcore::BitWriter out;
        out.Put(1, round % 8); // the copy lands at any bit offset
        out.Append(w, from, to);
        ASSERT_EQ(static_cast<uint64_t>(round % 8 + (to - from)), out.BitCount());
        for (size_t i = from; i < to; ++i)
            ASSERT_EQ(static_cast<uint32_t>(bits[i]), out.Read(round % 8 + (i - from), 1))
                << "round " << round << " bit " << i << " of [" << from << ", " << to << ")";
    }
}

// A NAL unit written in place (eight bytes at a time where it can) must be
// the byte-at-a-time one: payloads thick with zeros and small bytes, at every
// alignment, and after the unit is taken apart again, the payload.
TEST(BitWriter, NalUnitsWrittenInPlaceMatchByteByByte) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> kind(0, 9), any(0, 255), len(0, 48);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> rbsp(static_cast<size_t>(len(rng)));
        for (auto& b : rbsp) {
            const int k = kind(rng);
            b = static_cast<uint8_t>(k < 4 ? 0 : k < 8 ? k - 4 : any(rng));
        }
        if (round % 3 == 0)
            for (auto& b : rbsp)
                if (b == 0 && kind(rng) < 6) b = static_cast<uint8_t>(5 + kind(rng)); // mostly long nonzero runs
        std::vector<uint8_t> want, got;
        vcore::AppendNal(want, 3, 5, rbsp);
        vcore::ByteSink sink(got);
        vcore::AppendNal(sink, 3, 5, rbsp);
        ASSERT_EQ(want, got) << "round " << round;
        // no start code pattern inside; without the inserted bytes, the payload
        std::vector<uint8_t> back;
        int zeros = 0;
        for (size_t i = 5; i < got.size(); ++i) {
            if (zeros >= 2) {
                ASSERT_GT(got[i], 2) << "round " << round << " byte " << i;
                if (got[i] == 3) {
                    zeros = 0;
                    continue;
                }
            }
            back.push_back(got[i]);
            zeros = got[i] == 0 ? zeros + 1 : 0;
        }
        ASSERT_EQ(rbsp, back) << "round " << round;
    }
}
