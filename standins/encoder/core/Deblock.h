// In-loop deblocking of a reconstructed picture.
#pragma once

#include <cstdint>

namespace vcore {

struct DeblockParams {
    uint8_t* y;
    int strideY;
    uint8_t* u;
    uint8_t* v;
    int strideC;
    int mbW, mbH;
    const uint8_t* mbIntra;  // per macroblock: 1 = intra
    const int16_t* mv;       // per macroblock, its four 8x8 blocks in raster order: x, y (quarter pel); one reference frame
    const uint8_t* nnzY;     // per 4x4 luma block, row stride mbW * 4
    int qp;                  // picture QP, used when mbQp is null
    const uint8_t* mbQp = nullptr; // per macroblock QP (null: all macroblocks use qp)
    // Macroblock rows filtered: [rowBegin, rowEnd), rowEnd -1 = to the last.
    // Rows are filtered in order: row r after row r - 1.
    int rowBegin = 0;
    int rowEnd = -1;
    // The first macroblock row of the slice the rows are in: its top edge is
    // not filtered (disable_deblocking_filter_idc 2: not across slice edges).
    int sliceTop = 0;
};

void DeblockPicture(const DeblockParams& p);

} // namespace vcore
