// The score that decides whether a block's levels are worth their bits.
#include <gtest/gtest.h>

#include <cstdint>

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
