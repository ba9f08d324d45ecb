// Level limits used to pick level_idc.
#include <cmath>

#include "H264Encoder.h"

namespace vcore {
namespace {

struct LevelLimit {
    int idc;
    long maxMbps;   // macroblocks per second
    long maxFs;     // macroblocks per frame
    long maxBrKbps; // video bitrate
    long maxCpb;    // decoder buffer, kbit
};

const LevelLimit kLevels[] = {
    {10, 1485, 99, 64, 175},           {11, 3000, 396, 192, 500},         {12, 6000, 396, 384, 1000},
    {13, 11880, 396, 768, 2000},       {20, 11880, 396, 2000, 2000},      {21, 19800, 792, 4000, 4000},
    {22, 20250, 1620, 4000, 4000},     {30, 40500, 1620, 10000, 10000},   {31, 108000, 3600, 14000, 14000},
    {32, 216000, 5120, 20000, 20000},  {40, 245760, 8192, 20000, 25000},  {41, 245760, 8192, 50000, 62500},
    {42, 522240, 8704, 50000, 62500},  {50, 589824, 22080, 135000, 135000}, {51, 983040, 36864, 240000, 240000},
    {52, 2073600, 36864, 240000, 240000},
};

bool Fits(const LevelLimit& l, int width, int height, double fps, int bitrateKbps) {
    long mbw = (width + 15) / 16, mbh = (height + 15) / 16;
    long fs = mbw * mbh;
    if (fs > l.maxFs) return false;
    // each dimension is limited to sqrt(8 * MaxFS) macroblocks
    long side = static_cast<long>(std::sqrt(8.0 * static_cast<double>(l.maxFs)));
    if (mbw > side || mbh > side) return false;
    if (static_cast<double>(fs) * fps > static_cast<double>(l.maxMbps) + 1e-6) return false;
    if (bitrateKbps > l.maxBrKbps) return false;
    return true;
}

} // namespace

int ChooseLevel(int width, int height, double fps, int bitrateKbps) {
    for (const LevelLimit& l : kLevels)
        if (Fits(l, width, height, fps, bitrateKbps)) return l.idc;
    return 0;
}

bool LevelFits(int levelIdc, int width, int height, double fps, int bitrateKbps) {
    for (const LevelLimit& l : kLevels)
        if (l.idc == levelIdc) return Fits(l, width, height, fps, bitrateKbps);
    return false;
}

bool LevelBuffer(int levelIdc, long* maxBrKbps, long* maxCpbKbits) {
    for (const LevelLimit& l : kLevels) {
        if (l.idc != levelIdc) continue;
        if (maxBrKbps) *maxBrKbps = l.maxBrKbps;
        if (maxCpbKbits) *maxCpbKbits = l.maxCpb;
        return true;
    }
    return false;
}

} // namespace vcore
