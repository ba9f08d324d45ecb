// Intra prediction and the small Hadamard used by the Intra16x16 DC path.
#pragma once

#include <cstdint>

#include "Kernels.h"

namespace vcore {

// Intra16x16: mode 0 V, 1 H, 2 DC, 3 Plane. rec points at the macroblock in
// the reconstructed picture (neighbours are read from there). dst stride 16.
inline void PredIntra16(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    Kern().predIntra16(mode, rec, stride, top, left, dst);
}

// Chroma 8x8: mode 0 DC, 1 H, 2 V, 3 Plane. dst stride 8.
inline void PredChroma8(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    Kern().predChroma8(mode, rec, stride, top, left, dst);
}

// Intra4x4 neighbours, laid out as L3 L2 L1 L0 M T0..T7 (13 bytes); the upper
// right samples are replaced by T3 when they are not available.
void BuildI4Edge(const uint8_t* rec, int stride, bool top, bool left, bool topRight, uint8_t edge[13]);
bool I4ModeAvailable(int mode, bool top, bool left);
inline void PredIntra4(int mode, const uint8_t edge[13], bool top, bool left, uint8_t* dst, int ds) {
    Kern().predIntra4(mode, edge, top, left, dst, ds);
}

// 4x4 Hadamard (rows then columns), no normalisation; raster in/out.
void Hadamard4x4(const int in[16], int out[16]);

} // namespace vcore
