#include "RateControl.h"

#include <algorithm>
#include <cmath>

namespace vcore {
namespace {
double QStep(double qp) { return 0.625 * std::pow(2.0, qp / 6.0); }
double QpOfStep(double qs) { return 6.0 * std::log2(qs / 0.625); }
const double kIntraQpOffset = 3.0;
} // namespace

void RateControl::Init(int mode, int bitrateKbps, double fps, int fixedQp, int width, int height, int minQp) {
    mode_ = mode;
    fps_ = fps;
    fixedQp_ = fixedQp;
    minQp_ = minQp;
    bitsPerFrame_ = bitrateKbps * 1000.0 / fps;
    frames_ = 0;
    bitsTotal_ = 0;
    haveP_ = false;
    lastIntra_ = false;
    // starting point from bits per pixel
    const double bpp = bitsPerFrame_ / (static_cast<double>(width) * height);
    qpP_ = mode == 2 ? fixedQp : std::min(45.0, std::max(static_cast<double>(minQp), 26.0 - 5.0 * std::log2(std::max(bpp, 1e-4) / 0.15)));
}

int RateControl::PickQp(bool intra) {
    lastIntra_ = intra;
    drop_ = false;
    if (mode_ == 2) return fixedQp_;
    const bool cbr = mode_ == 0;
    const double expected = bitsPerFrame_ * static_cast<double>(frames_);
    const double err = bitsTotal_ - expected;
    const double window = cbr ? std::max(8.0, fps_ * 0.75) : std::max(16.0, fps_ * 3.0);
    double target = bitsPerFrame_ - err / window;
    target = std::max(target, bitsPerFrame_ * (cbr ? 0.15 : 0.35));
    target = std::min(target, bitsPerFrame_ * (cbr ? 3.0 : 2.0));
    double qp;
    if (intra) {
        // I pictures are referenced by everything up to the next one: code
        // them a few steps finer than the P pictures around them
        qp = qpP_ - kIntraQpOffset;
    } else {
        if (haveP_) {
            qp = QpOfStep(cplxP_ / target);
            const double step = cbr ? 3.0 : 1.5;
            qp = std::min(std::max(qp, qpP_ - step), qpP_ + step);
        } else {
            qp = qpP_ + 2.0;
        }
        qpP_ = qp;
    }
    qp = std::min(51.0, std::max(static_cast<double>(minQp_), qp));
    if (!intra) qpP_ = qp;
    if (cbr && !intra && qp >= 51.0 && err > bitsPerFrame_ * fps_ * 0.25) drop_ = true;
    return static_cast<int>(std::lround(qp));
}

uint64_t RateControl::Update(uint64_t bits, int qp) {
    if (mode_ == 2) {
        bitsTotal_ += static_cast<double>(bits);
        ++frames_;
        return 0;
    }
    const double c = static_cast<double>(bits) * QStep(qp);
    if (!lastIntra_) { // I pictures follow the P QP, only P pictures feed the model
        cplxP_ = haveP_ ? 0.6 * cplxP_ + 0.4 * c : c;
        haveP_ = true;
    }
    bitsTotal_ += static_cast<double>(bits);
    ++frames_;
    uint64_t filler = 0;
    if (mode_ == 0 && qp <= minQp_) {
        // the picture cannot use more bits: stuff to hold the constant rate
        const double deficit = bitsPerFrame_ * static_cast<double>(frames_) - bitsTotal_;
        if (deficit > 8 * 64) filler = static_cast<uint64_t>(std::min(deficit, 2.0 * bitsPerFrame_) / 8.0);
    }
    return filler;
}

} // namespace vcore
