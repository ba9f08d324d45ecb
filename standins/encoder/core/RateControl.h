// Frame-level rate control: picks one QP per picture.
#pragma once

#include <cstdint>

namespace vcore {

class RateControl {
public:
    void Init(int mode, int bitrateKbps, double fps, int fixedQp, int width, int height, int minQp);
    int PickQp(bool intra);
    // CBR only: true when the picture just planned should be coded without
    // any residual or motion (all P_Skip) because the stream is far over
    // budget even at the highest QP.
    bool DropPlanned() const { return drop_; }
    // Reports the bits of the frame just coded; returns the number of filler
    // bytes the caller should append (CBR only, when the stream runs short).
    uint64_t Update(uint64_t bits, int qp);
    void AddBits(uint64_t bits) { bitsTotal_ += static_cast<double>(bits); }

private:
    int mode_ = 2;
    double bitsPerFrame_ = 0;
    double fps_ = 25;
    int fixedQp_ = 26;
    int minQp_ = 10;
    uint64_t frames_ = 0;
    double bitsTotal_ = 0;
    double cplxP_ = 0; // bits * quantiser step of recent P pictures
    bool haveP_ = false;
    double qpP_ = 26;
    bool lastIntra_ = false;
    bool drop_ = false;
};

} // namespace vcore
