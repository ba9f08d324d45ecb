#include "RateControl.h"

#include <algorithm>
#include <cmath>

namespace vcore {
namespace {
double QStep(double qp) { return 0.625 * std::pow(2.0, qp / 6.0); }
double QpOfStep(double qs) { return 6.0 * std::log2(qs / 0.625); }

// First guesses of the model factors (bits * qstep / complexity), replaced
// by what the first picture of each kind shows.
const double kInitKIntra = 0.9;
const double kInitKInter = 0.55;
// A share of the buffer the model may plan a picture into; the rest absorbs
// the model's error (the coder adapts its QP inside the picture as well).
const double kPlanShare = 0.6;
// The finest QP the first picture gets on the guess of cheap inter pictures.
const double kFirstIntraQp = 20.0;

// How many steps finer intra pictures are coded than the inter pictures of
// their GOP: they are referenced by everything up to the next one.
int IntraOffset(int gop) { return gop >= 12 ? 3 : (gop >= 4 ? 2 : (gop > 1 ? 1 : 0)); }
} // namespace

void RateControl::Init(const RateControlConfig& c) {
    cfg_ = c;
    if (cfg_.gopSize < 1) cfg_.gopSize = 1;
    bitsPerFrame_ = c.bitrateKbps * 1000.0 / c.fps;
    frames_ = 0;
    bitsTotal_ = 0;
    kI_ = kInitKIntra;
    kP_ = kInitKInter;
    haveI_ = haveP_ = false;
    lastCplxI_ = lastCplxP_ = 0;
    aheadCost_ = 0;
    haveAhead_ = inter_ = false;
    sinceCostly_ = 1000;
    qpIKnown_ = qpPKnown_ = false;
    costlyMask_ = 0;
    qpP_ = qpI_ = lastQp_ = -1;
    lastWasIntra_ = false;
    target_ = 0;
    maxBits_ = 1e18;
    drop_ = false;
    init_ = cfg_.cpbBits * 0.8;
    fullness_ = init_;
}

double RateControl::Predict(bool intra, double complexity, double qp) const {
    return (intra ? kI_ : kP_) * complexity / QStep(qp);
}

int RateControl::PickQp(bool intra, double complexity, double motion) {
    intra_ = intra;
    drop_ = false;
    cplx_ = std::max(complexity, 1.0);
    maxBits_ = 1e18;
    if (cfg_.mode == 2) {
        target_ = 0;
        qp_ = cfg_.fixedQp;
        return qp_;
    }
    const bool cbr = cfg_.mode == 0;
    const double fps = cfg_.fps;
    const int gop = cfg_.gopSize;

    // complexities of both kinds as they stand now (before the first inter
    // picture: guessed cheap, as inter pictures mostly are; where they are
    // not, the buffer limit below and the repayment hold the first picture)
    double cI = intra ? cplx_ : (haveI_ || lastCplxI_ > 0 ? lastCplxI_ : cplx_ * 2.5);
    double cP = !intra ? cplx_ : (lastCplxP_ > 0 ? lastCplxP_ : cplx_ * 0.06);
    // (a content getting busier quickly, as in a fade, is let through as
    // well: the inter pictures would run far over their share meanwhile)
    const bool sceneChange = !intra && lastCplxP_ > 0 && (cplx_ > lastCplxP_ * 1.3 || cplx_ < lastCplxP_ / 1.6);
    // A cut coded as an inter picture is mostly intra macroblocks: planned
    // and modelled like an intra picture, the pictures after it costing what
    // the ones before it did (they predict from it).
    // Costly pictures that come back every few pictures (content that
    // moves in steps) are not cuts: their fine intra offset would repeat.
    const bool costly = !intra && lastCplxP_ > 0 && cplx_ > lastCplxP_ * 2.0;
    const bool cut = costly && sinceCostly_ >= 8;
    if (!intra) {
        sinceCostly_ = costly ? 0 : sinceCostly_ + 1;
        // (steps: the cost swinging by half again or more, either way)
        const bool swing = lastCplxP_ > 0 && (cplx_ > lastCplxP_ * 1.5 || cplx_ * 1.5 < lastCplxP_);
        costlyMask_ = ((costlyMask_ << 1) | (swing ? 1u : 0u)) & 0xFFFFu;
    }
    // The inter pictures ahead are planned at the cost of the picture in
    // hand; where costly pictures keep coming between cheap ones, at what
    // the recent ones cost (bits times quantiser step, moving average): the
    // content's mean, not whichever kind of picture is in hand.
    int costlyRecent = 0;
    for (unsigned m = costlyMask_; m; m &= m - 1) ++costlyRecent;
    double ahead = haveAhead_ && costlyRecent >= 3 ? aheadCost_ : kP_ * (cut ? lastCplxP_ : cP);
    // An intra picture's: at most what the source moves from picture to
    // picture. On content that stands still the inter pictures before it
    // re-coded the detail the last intra picture lost; after a fine one
    // they have nothing left to code.
    if (intra && haveAhead_ && motion > 0) ahead = std::min(ahead, kP_ * motion);
    inter_ = !intra;
    intra_ = intra || cut;
    if (intra) lastCplxI_ = cplx_;
    else lastCplxP_ = cplx_;

    // Planning horizon: about half a second (CBR) or two seconds (VBR). An
    // intra picture is planned together with the inter pictures that follow
    // it in the horizon, and what it takes beyond its share is repaid by them
    // (not saved up before it: the rate then holds wherever the stream ends).
    const int horizon = static_cast<int>(std::max(cbr ? 8.0 : 20.0, std::round(fps * (cbr ? 0.6 : 2.0))));
    const double repay = horizon;
    // With short GOPs the horizon always holds intra pictures: plan their mix.
    const double nI = gop < horizon ? static_cast<double>(horizon) / gop : (intra ? 1.0 : 0.0);
    const double nP = horizon - nI;
    const double err = bitsTotal_ - bitsPerFrame_ * static_cast<double>(frames_);
    double budget = bitsPerFrame_ * horizon - err * (horizon / repay);
    budget = std::max(budget, bitsPerFrame_ * horizon * (cbr ? 0.25 : 0.4));
    budget = std::min(budget, bitsPerFrame_ * horizon * (cbr ? 3.0 : 2.0));

    const int dI = IntraOffset(gop);
    const double mI = std::pow(2.0, dI / 6.0);
    double qs = intra ? (nI * kI_ * cI * mI + nP * ahead) / budget
                      : (nI * kI_ * cI * mI + kP_ * cP + std::max(0.0, nP - 1) * ahead) / budget;
    if (cut) qs = (kI_ * cplx_ * mI + nI * kI_ * cI * mI + std::max(0.0, nP - 1) * ahead) / budget;
    double qp = QpOfStep(qs) - (intra_ ? dI : 0);
    // The guess gives the first picture most of the bits; where that would
    // make it very fine (finer than QP 20) it need not be finer than inter
    // pictures at a third of its complexity would leave it: what the inter
    // pictures after it are short of costs more than the first picture gains.
    // In VBR not at all: planned with the inter pictures of two seconds on a
    // guess, a first picture finer than that took the rate of several
    // pictures (QP 10 on HD content whose inter pictures were not cheap),
    // and the rest of the stream paid it back coarser than the picture had
    // gained.
    if (intra && lastCplxP_ <= 0 && qp < kFirstIntraQp) {
        const double cautious = QpOfStep((nI * kI_ * cI * mI + nP * kP_ * cplx_ * 0.35) / budget) - dI;
        qp = std::max(qp, cbr || gop == 1 ? std::min(kFirstIntraQp, cautious) : kFirstIntraQp);
    }

    // keep the quality steady between pictures of a kind unless the content
    // changed, or the last one was planned on a guess of the model (the
    // first inter picture: content far costlier than guessed would otherwise
    // take many pictures to reach its QP, spending the rate of seconds)
    const double last = intra ? qpI_ : qpP_;
    const bool lastKnown = intra ? qpIKnown_ : qpPKnown_;
    if (last >= 0 && lastKnown && !sceneChange && !(intra && gop > 1)) {
        const double step = cbr ? 4.0 : 2.0;
        qp = std::min(std::max(qp, last - step), last + step);
    }
    // An intra picture that starts a GOP is what its inter pictures refine:
    // coded coarser than the inter pictures before it, they spend their bits
    // re-coding the detail it lost (the buffer still has the last word below).
    // At most about twice the bits planned for it, though: the rest of the
    // rate has to hold as well.
    if (intra && gop > 1 && qpP_ >= 0) qp = std::max(std::min(qp, qpP_ - dI), QpOfStep(qs) - dI - 3.0);
    // an inter picture much finer than its reference re-codes the whole
    // picture: approach a finer QP over a few pictures
    if (!intra_ && lastQp_ >= 0) qp = std::max(qp, lastQp_ - 4.0);
    // While the stream is ahead of the rate (repaying an intra picture), an
    // inter picture is not finer than the intra picture: finer, it re-codes
    // detail the rate cannot pay for (on still content, over and over).
    if (!intra_ && qpI_ >= 0 && err > bitsPerFrame_) qp = std::max(qp, qpI_ - 1.0);
    // and the first inter picture after an intra picture is no coarser than
    // the offset between them: what it loses the pictures after it re-code
    if (!intra_ && lastWasIntra_ && qpI_ >= 0) qp = std::min(qp, qpI_ + dI + 1.0);
    // coarser than 51 only on what the model has seen of the kind, and in
    // VBR only where the buffer asks for it (the average may run over)
    const double coarsest = (intra_ ? haveI_ : haveP_) ? kBareQp : 51.0;
    qp = std::min(cbr ? coarsest : 51.0, std::max(static_cast<double>(cfg_.minQp), qp));

    // the buffer: plan the picture into a share of what the decoder will hold
    if (cfg_.cpbBits > 0) {
        maxBits_ = std::max(0.0, fullness_);
        while (qp < coarsest && Predict(intra_, cplx_, qp) > maxBits_ * kPlanShare) qp += 1.0;
        if (!intra && Predict(intra_, cplx_, coarsest) > maxBits_ * 2.0) drop_ = true;
    }
    qp_ = static_cast<int>(std::lround(qp));
    target_ = Predict(intra_, cplx_, qp_);
    if (cfg_.cpbBits > 0) target_ = std::min(target_, maxBits_ * kPlanShare);
    return qp_;
}

uint64_t RateControl::Update(uint64_t bits, double qp) {
    const double b = static_cast<double>(bits);
    bitsTotal_ += b;
    ++frames_;
    if (cfg_.mode == 2) return 0;
    if (!drop_ && b > 0) {
        const double k = std::min(20.0, std::max(0.02, b * QStep(qp) / cplx_));
        double& model = intra_ ? kI_ : kP_;
        bool& have = intra_ ? haveI_ : haveP_;
        (intra_ ? qpIKnown_ : qpPKnown_) = have;
        model = have ? 0.5 * model + 0.5 * k : k;
        have = true;
        (intra_ ? qpI_ : qpP_) = qp_;
    }
    if (inter_ && !drop_) {
        const double c = b * QStep(qp);
        aheadCost_ = haveAhead_ ? 0.75 * aheadCost_ + 0.25 * c : c;
        haveAhead_ = true;
    }
    lastQp_ = qp;
    lastWasIntra_ = intra_;
    uint64_t fillerBits = 0;
    if (cfg_.cpbBits > 0) {
        if (cfg_.mode == 0) {
            fullness_ += bitsPerFrame_ - b;
            // bits keep arriving at the constant rate: pad before the buffer overflows
            if (fullness_ > cfg_.cpbBits) fillerBits = static_cast<uint64_t>(fullness_ - cfg_.cpbBits);
        } else {
            fullness_ = std::min(cfg_.cpbBits, fullness_ - b + cfg_.maxRateBits / cfg_.fps);
        }
    }
    if (cfg_.mode == 0) {
        // The stream may lag behind the rate by a little (a few pictures'
        // worth, which the next intra picture can use), never by more: the
        // rate has to hold wherever the stream ends, and content that
        // cannot use the bits (the finest QP, or a QP that cannot come down
        // as fast as the pictures get cheaper) is padded with filler.
        const double deficit = bitsPerFrame_ * static_cast<double>(frames_) - bitsTotal_;
        const double allowed = qp_ <= cfg_.minQp ? 8.0 * 64 : bitsPerFrame_ * std::max(2.0, cfg_.fps * 0.05);
        if (deficit > allowed)
            fillerBits = std::max(fillerBits, static_cast<uint64_t>(std::min(deficit - (qp_ <= cfg_.minQp ? 0.0 : allowed),
                                                                             2.0 * bitsPerFrame_)));
    }
    return fillerBits == 0 ? 0 : (fillerBits + 7) / 8;
}

void RateControl::AddBits(uint64_t bits) {
    bitsTotal_ += static_cast<double>(bits);
    if (cfg_.mode == 0 && cfg_.cpbBits > 0) fullness_ -= static_cast<double>(bits);
}

double RateControl::BufferFullness() const { return fullness_; }

} // namespace vcore
