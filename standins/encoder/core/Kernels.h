// The encoder's pixel, transform and filter kernels behind one table of
// function pointers, chosen once at start from the processor's features.
//
// Every set gives exactly the same results as the plain C++ reference set
// (the encoder's bitstream does not depend on the set that runs). The set is
// the best one the processor supports, unless VCORE_KERNELS names another one
// ("c", "sse2", "ssse3", "sse41", "avx2"; a set the processor lacks is
// ignored). UseKernels() switches sets at run time (tests and benchmarks);
// it must not be called while an encoder is working.
#pragma once

#include <cstdint>

namespace vcore {

enum class CpuLevel { Reference = 0, Sse2, Ssse3, Sse41, Avx2, Count };

// Block sizes of the SAD/SATD tables (width x height).
enum BlockSize { kBlock16x16, kBlock16x8, kBlock8x16, kBlock8x8, kBlock8x4, kBlock4x8, kBlock4x4, kBlockSizes };

using PixelCostFn = int (*)(const uint8_t* a, int sa, const uint8_t* b, int sb);

struct KernelSet {
    const char* name;
    CpuLevel level;
    // sum of absolute differences / of absolute 4x4 Hadamard coefficients (halved), per block size
    PixelCostFn sad[kBlockSizes];
    PixelCostFn satd[kBlockSizes];
    // rounded average of two 16x16 blocks sharing stride s
    void (*avg16x16)(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s);
    // SAD of each 4x4 block of a 16x16 block, raster order
    void (*sad4x4x16)(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]);

    // 4x4 transforms and quantisation (see Dsp.h for the contracts)
    void (*fdct4x4)(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
    void (*fdct8x4)(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
    // the four blocks of an 8x8 block, raster order
    void (*fdct8x8)(int16_t out[4][16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
    void (*idct4x4Add)(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]);
    // idct4x4Add of two horizontally adjacent blocks (coef0 the left one)
    void (*idct8x4Add)(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef0[16], int16_t coef1[16]);
    void (*idctDcAdd)(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc);
    int (*quant4x4)(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
    void (*dequant4x4)(const int16_t levels[16], int16_t out[16], int qp, int first);
    // fdct8x4 and quant4x4 (first 0) of both blocks at once: the levels'
    // counts, of the left block in bits 0-7, of the right one in bits 8-15
    int (*fdctQuant8x4)(int16_t levels0[16], int16_t levels1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                        int qp, bool intra);
    // fdct8x8 and quant4x4 from 1 of the four blocks: levels[b][0] = 0,
    // dc[b] the DC coefficients; the AC levels' counts, block b's in bits
    // 8b to 8b + 7
    int (*fdctQuantAc8x8)(int16_t levels[4][16], int16_t dc[4], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                          int qp, bool intra);

    // intra prediction (see Intra.h)
    void (*predIntra16)(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
    void (*predChroma8)(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
    void (*predIntra4)(int mode, const uint8_t edge[13], bool top, bool left, uint8_t* dst, int ds);

    // Six-tap half samples of one row y of a padded reference plane (s points
    // at x = 0 of that row): horizontal (dh) and centre (dj) for x in [x0, x1),
    // the vertical intermediates v1 for x in [v0, v1end), vertical (dv) for
    // x in [x0, x1). v1 must cover [x0 - 2, x1 + 3).
    void (*sixTapRow)(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1,
                      int v0, int v1end);
    // 8x8 chroma prediction at eighth-sample offset (dx, dy), 0..7 each
    void (*chromaMc8x8)(uint8_t* dst, int ds, const uint8_t* src, int ss, int dx, int dy);

    // One deblocking edge of 16 luma lines (pix at q0 of the first line;
    // vertical = an edge between columns), or of 8 lines of both chroma planes.
    void (*deblockLuma)(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp);
    void (*deblockChroma)(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc);

    // Input conversions, one row (or a pair of rows for chroma) at a time.
    // bpp 3 = B G R, 4 = B G R X; chroma of the last odd column repeats it.
    void (*rgbToY)(const uint8_t* s, int bpp, uint8_t* y, int width);
    void (*rgbToUv)(const uint8_t* s0, const uint8_t* s1, int bpp, int width, uint8_t* u, uint8_t* v);
    void (*yuy2ToY)(const uint8_t* s, uint8_t* y, int width);
    void (*yuy2ToUv)(const uint8_t* s0, const uint8_t* s1, uint8_t* u, uint8_t* v, int cw);
    void (*splitUv)(const uint8_t* s, uint8_t* u, uint8_t* v, int cw);
};

// The set in use.
extern const KernelSet* gKernels;
inline const KernelSet& Kern() { return *gKernels; }

// The best level the processor (and the system) supports.
CpuLevel DetectedCpuLevel();
// The set of a level, or nullptr when the processor lacks it.
const KernelSet* KernelsFor(CpuLevel level);
// Makes the set of a level the one in use; false (nothing changes) when the
// processor lacks it.
bool UseKernels(CpuLevel level);
const char* CpuLevelName(CpuLevel level);

// Sets by level (defined in their own files; the SIMD ones are only valid
// when the processor has the level).
extern const KernelSet kKernelsReference;
extern const KernelSet kKernelsSse2;
extern const KernelSet kKernelsSsse3;
extern const KernelSet kKernelsSse41;
extern const KernelSet kKernelsAvx2;

// Deblocking thresholds per QP, shared by the kernel sets.
extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
extern const uint8_t kDeblockTc0[52][3];

} // namespace vcore
