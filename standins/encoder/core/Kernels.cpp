#include "Kernels.h"

#include <cstdlib>
#include <cstring>

#include "KernelFns.h"

namespace vcore {

#define VCORE_SIZES(ns, prefix)                                                                                        \
    {ns::prefix##16x16, ns::prefix##16x8, ns::prefix##8x16, ns::prefix##8x8, ns::prefix##8x4, ns::prefix##4x8,          \
     ns::prefix##4x4}

const KernelSet kKernelsReference = {
    "c", CpuLevel::Reference, VCORE_SIZES(ref, Sad), VCORE_SIZES(ref, Satd), ref::Avg16x16, ref::Sad4x4x16,
    ref::Fdct4x4, ref::Fdct8x4, Fdct8x8Of<ref::Fdct8x4>, ref::Idct4x4Add, Idct8x4AddOf<ref::Idct4x4Add>, ref::IdctDcAdd, ref::Quant4x4, ref::Dequant4x4,
    FdctQuant8x4Of<ref::Fdct8x4, ref::Quant4x4>, FdctQuantAc8x8Of<Fdct8x8Of<ref::Fdct8x4>, ref::Quant4x4>,
    ref::PredIntra16, ref::PredChroma8, ref::PredIntra4,
    ref::SixTapRow, ref::ChromaMc8x8,
    ref::DeblockLuma, ref::DeblockChroma,
    ref::RgbToY, ref::RgbToUv, ref::Yuy2ToY, ref::Yuy2ToUv, ref::SplitUv,
};

const KernelSet kKernelsSse2 = {
    "sse2", CpuLevel::Sse2, VCORE_SIZES(sse2, Sad), VCORE_SIZES(sse2, Satd), sse2::Avg16x16, sse2::Sad4x4x16,
    sse2::Fdct4x4, sse2::Fdct8x4, Fdct8x8Of<sse2::Fdct8x4>, sse2::Idct4x4Add, Idct8x4AddOf<sse2::Idct4x4Add>, sse2::IdctDcAdd, sse2::Quant4x4, ref::Dequant4x4,
    FdctQuant8x4Of<sse2::Fdct8x4, sse2::Quant4x4>, FdctQuantAc8x8Of<Fdct8x8Of<sse2::Fdct8x4>, sse2::Quant4x4>,
    sse2::PredIntra16, sse2::PredChroma8, ref::PredIntra4,
    sse2::SixTapRow, sse2::ChromaMc8x8,
    sse2::DeblockLuma, sse2::DeblockChroma,
    sse2::RgbToY, ref::RgbToUv, sse2::Yuy2ToY, sse2::Yuy2ToUv, sse2::SplitUv,
};

const KernelSet kKernelsSsse3 = {
    "ssse3", CpuLevel::Ssse3, VCORE_SIZES(sse2, Sad), VCORE_SIZES(ssse3, Satd), sse2::Avg16x16, sse2::Sad4x4x16,
    sse2::Fdct4x4, sse2::Fdct8x4, Fdct8x8Of<sse2::Fdct8x4>, sse2::Idct4x4Add, Idct8x4AddOf<sse2::Idct4x4Add>, sse2::IdctDcAdd, ssse3::Quant4x4, ssse3::Dequant4x4,
    FdctQuant8x4Of<sse2::Fdct8x4, ssse3::Quant4x4>, FdctQuantAc8x8Of<Fdct8x8Of<sse2::Fdct8x4>, ssse3::Quant4x4>,
    sse2::PredIntra16, sse2::PredChroma8, ssse3::PredIntra4,
    sse2::SixTapRow, sse2::ChromaMc8x8,
    sse2::DeblockLuma, sse2::DeblockChroma,
    ssse3::RgbToY, ref::RgbToUv, sse2::Yuy2ToY, sse2::Yuy2ToUv, sse2::SplitUv,
};

const KernelSet kKernelsSse41 = {
    "sse41", CpuLevel::Sse41, VCORE_SIZES(sse2, Sad), VCORE_SIZES(ssse3, Satd), sse2::Avg16x16, sse2::Sad4x4x16,
    sse2::Fdct4x4, sse2::Fdct8x4, Fdct8x8Of<sse2::Fdct8x4>, sse2::Idct4x4Add, Idct8x4AddOf<sse2::Idct4x4Add>, sse2::IdctDcAdd, ssse3::Quant4x4, ssse3::Dequant4x4,
    FdctQuant8x4Of<sse2::Fdct8x4, ssse3::Quant4x4>, FdctQuantAc8x8Of<Fdct8x8Of<sse2::Fdct8x4>, ssse3::Quant4x4>,
    sse2::PredIntra16, sse2::PredChroma8, ssse3::PredIntra4,
    sse2::SixTapRow, sse2::ChromaMc8x8,
    sse41::DeblockLuma, sse41::DeblockChroma,
    ssse3::RgbToY, ref::RgbToUv, sse2::Yuy2ToY, sse2::Yuy2ToUv, sse2::SplitUv,
};

const KernelSet kKernelsAvx2 = {
    "avx2", CpuLevel::Avx2,
    {avx2::Sad16x16, avx2::Sad16x8, sse2::Sad8x16, sse2::Sad8x8, sse2::Sad8x4, sse2::Sad4x8, sse2::Sad4x4},
    {avx2::Satd16x16, avx2::Satd16x8, avx2::Satd8x16, avx2::Satd8x8, ssse3::Satd8x4, ssse3::Satd4x8, ssse3::Satd4x4},
    avx2::Avg16x16, avx2::Sad4x4x16,
    sse2::Fdct4x4, sse2::Fdct8x4, avx2::Fdct8x8, sse2::Idct4x4Add, avx2::Idct8x4Add, sse2::IdctDcAdd, avx2::Quant4x4, ssse3::Dequant4x4,
    avx2::FdctQuant8x4, avx2::FdctQuantAc8x8,
    sse2::PredIntra16, sse2::PredChroma8, ssse3::PredIntra4,
    avx2::SixTapRow, avx2::ChromaMc8x8,
    avx2::DeblockLuma, avx2::DeblockChroma,
    ssse3::RgbToY, ref::RgbToUv, sse2::Yuy2ToY, sse2::Yuy2ToUv, sse2::SplitUv,
};

#undef VCORE_SIZES

namespace {

const KernelSet* const kSets[] = {&kKernelsReference, &kKernelsSse2, &kKernelsSsse3, &kKernelsSse41, &kKernelsAvx2};

CpuLevel Detect() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    // the run-time library also checks that the system saves the AVX registers
    if (__builtin_cpu_supports("avx2")) return CpuLevel::Avx2;
    if (__builtin_cpu_supports("sse4.1")) return CpuLevel::Sse41;
    if (__builtin_cpu_supports("ssse3")) return CpuLevel::Ssse3;
    if (__builtin_cpu_supports("sse2")) return CpuLevel::Sse2;
#endif
    return CpuLevel::Reference;
}

const KernelSet* Initial() {
    const CpuLevel best = DetectedCpuLevel();
    const KernelSet* set = kSets[static_cast<int>(best)];
    if (const char* want = std::getenv("VCORE_KERNELS")) {
        for (const KernelSet* k : kSets)
            if (std::strcmp(want, k->name) == 0 && k->level <= best) set = k;
    }
    return set;
}

} // namespace

const KernelSet* gKernels = &kKernelsReference;
namespace {
// Chosen once, before main() and before any encoder exists.
const bool kChosen = (gKernels = Initial()) != nullptr;
} // namespace

CpuLevel DetectedCpuLevel() {
    static const CpuLevel level = Detect();
    return level;
}

const KernelSet* KernelsFor(CpuLevel level) {
    const int i = static_cast<int>(level);
    if (i < 0 || i >= static_cast<int>(CpuLevel::Count) || level > DetectedCpuLevel()) return nullptr;
    return kSets[i];
}

bool UseKernels(CpuLevel level) {
    const KernelSet* k = KernelsFor(level);
    if (!k) return false;
    gKernels = k;
    return true;
}

const char* CpuLevelName(CpuLevel level) {
    const int i = static_cast<int>(level);
    return i >= 0 && i < static_cast<int>(CpuLevel::Count) ? kSets[i]->name : "?";
}

} // namespace vcore
