// SSE4.1 kernels: deblocking with byte blends instead of and/andnot/or
// selections. Only called when the processor has SSE4.1.
#pragma GCC target("sse4.1")

#include <smmintrin.h>

#include "Dsp.h"
#include "KernelFns.h"

namespace vcore {
namespace {
#define VCORE_DEBLOCK_SELECT(m, a, b) _mm_blendv_epi8(b, a, m)
#include "DeblockSimd.h"
#undef VCORE_DEBLOCK_SELECT
} // namespace

namespace sse41 {
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp) {
    DeblockLumaEdge(pix, stride, vertical, bS, qp);
}
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc) {
    DeblockChromaEdge(u, v, stride, vertical, bS, qpc);
}
} // namespace sse41
} // namespace vcore
