// Rate control: one base QP per picture from a complexity model, the bits a
// picture may take under the decoder buffer model, and the filler needed to
// hold a constant rate.
//
// Model: bits of a picture = k * complexity / qstep, with one k for intra and
// one for inter pictures, each updated from every picture of its kind. The
// complexity is the encoder's own measure of the picture before coding it
// (SATD against a plain prediction), so the first pictures and scene changes
// start from what the content needs, not from a fixed guess.
//
// Buffer (hypothetical reference decoder): the level's CPB size.
//   CBR: bits arrive at the target rate from the start; the first picture is
//        removed when the buffer holds `initialBits`. A picture may not take
//        more bits than have arrived by its removal time (underflow), and the
//        stream is padded with filler before the buffer would overflow.
//   VBR: bits arrive at the level's maximum rate while the buffer is not
//        full; only underflow is possible.
#pragma once

#include <cstdint>

namespace vcore {

// QPs beyond 51 ask for coarser coding than any quantiser gives, at QP 51:
// from 52 intra macroblocks keep only their DC coefficients and inter ones
// only their chroma DC, from 55 inter macroblocks are their prediction
// alone. The model takes them at their nominal QP.
constexpr int kBareQp = 57;

struct RateControlConfig {
    int mode = 2;            // RateControlMode
    int bitrateKbps = 0;     // target (CBR/VBR)
    double fps = 25;
    int fixedQp = 26;
    int minQp = 10;
    int gopSize = 1;         // I-picture period in pictures
    double cpbBits = 0;      // decoder buffer size; 0 = no buffer model
    double maxRateBits = 0;  // level's maximum rate in bits per second (VBR arrival)
};

class RateControl {
public:
    void Init(const RateControlConfig& c);
    bool Enabled() const { return cfg_.mode != 2; }

    // Plans the next picture; a QP above 51 (up to kBareQp) asks for
    // macroblocks coarser than QP 51 gives. complexity > 0 is the picture's estimated
    // coding cost (the same measure for every picture of a kind); motion,
    // for an intra picture, what an inter picture predicting it from the
    // source before it would cost by the inter measure (0: unknown).
    int PickQp(bool intra, double complexity, double motion = 0);
    // Bits planned for the picture just picked.
    double TargetBits() const { return target_; }
    // Most bits the picture may take without breaking the buffer (a large
    // value without a buffer model).
    double MaxBits() const { return maxBits_; }
    // CBR/VBR: true when the picture just planned cannot fit the buffer even
    // at QP 51 and should be coded as all-skip.
    bool DropPlanned() const { return drop_; }

    // Reports the bits of the picture just coded (and its average QP);
    // returns the number of filler bytes to append (CBR only).
    uint64_t Update(uint64_t bits, double qp);
    // Filler bits appended after Update.
    void AddBits(uint64_t bits);

    // Buffer state after the last picture: bits the decoder holds just
    // before the next removal (CBR/VBR with a buffer model).
    double BufferFullness() const;
    double InitialBits() const { return init_; }

private:
    double Predict(bool intra, double complexity, double qp) const;

    RateControlConfig cfg_;
    double bitsPerFrame_ = 0;
    uint64_t frames_ = 0;
    double bitsTotal_ = 0;
    double kI_ = 0, kP_ = 0;        // model factors
    bool haveI_ = false, haveP_ = false;
    double lastCplxI_ = 0, lastCplxP_ = 0;
    double aheadCost_ = 0;          // inter pictures' bits times qstep, moving average
    bool haveAhead_ = false;
    bool inter_ = false;            // the picture planned is an inter picture
    int sinceCostly_ = 1000;        // inter pictures since one at twice the cost of the one before
    unsigned costlyMask_ = 0;       // which of the last 16 inter pictures swung in cost (x1.5 or more)
    double qpP_ = -1, qpI_ = -1;    // last QPs of each kind
    bool qpPKnown_ = false, qpIKnown_ = false; // those QPs came from a model learnt from the content
    double lastQp_ = -1;            // average QP of the last picture
    bool lastWasIntra_ = false;
    bool intra_ = false;
    double cplx_ = 0;
    double target_ = 0;
    double maxBits_ = 0;
    int qp_ = 26;
    bool drop_ = false;
    // buffer
    double init_ = 0;      // CBR: bits in the buffer at the first removal
    double excess_ = 0;    // CBR: bits coded minus bits arrived-beyond-init, see .cpp
    double fullness_ = 0;  // VBR: bits in the buffer before the next removal
};

} // namespace vcore
