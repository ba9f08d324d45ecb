// CAVLC residual block coding.
#pragma once

#include <cstdint>

#include "BitWriter.h"

namespace vcore {

// Writes one residual block. `coef` holds maxCoeff levels in scan order
// (maxCoeff is 4 for chroma DC, 15 for AC blocks, 16 otherwise; an AC block
// is the last 15 entries of a 16-entry block: coef[-1] is read, not coded); nC is the
// predicted coefficient count of the block (-1 selects the chroma DC table).
// Returns the number of non-zero levels written (TotalCoeff).
int WriteResidualBlock(BitWriter& bw, const int16_t* coef, int maxCoeff, int nC);

// How much a block's levels are worth keeping (scan order, maxCoeff 15 or 16
// as for WriteResidualBlock): 9 when a level is beyond +-1, else the sum over
// its levels of a weight for the zeros below each (3 for none ... 0 for six or
// more). Blocks of a low sum are dropped.
int DecimateScore(const int16_t* coef, int maxCoeff);

// codeNum for coded_block_pattern (intra = Intra4x4 table, else inter table).
int CbpCodeNum(int cbp, bool intra);

} // namespace vcore
