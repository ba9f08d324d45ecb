#include "H264Encoder.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "BitWriter.h"
#include "Cavlc.h"
#include "Deblock.h"
#include "Dsp.h"
#include "Intra.h"
#include "RateControl.h"

namespace vcore {
namespace {

constexpr int kPadY = 32;
constexpr int kPadC = 16;
constexpr int kMinRcQp = 10;
constexpr int kMaxThreads = 16;
constexpr int kAutoSliceRows = 8; // macroblock rows per slice at least, with automatic threads

struct Plane {
    std::vector<uint8_t> mem;
    uint8_t* p = nullptr;
    int stride = 0, w = 0, h = 0, pad = 0;
    void Alloc(int w_, int h_, int pad_) {
        w = w_; h = h_; pad = pad_;
        stride = (w + 2 * pad + 15) & ~15;
        mem.assign(static_cast<size_t>(stride) * static_cast<size_t>(h + 2 * pad), 0);
        p = mem.data() + pad * stride + pad;
    }
    // Reads another picture's plane in place of its own (w x h samples there).
    void View(const uint8_t* q, int qStride) {
        p = const_cast<uint8_t*>(q);
        stride = qStride;
    }
    uint8_t* At(int x, int y) { return p + y * stride + x; }
    const uint8_t* At(int x, int y) const { return p + y * stride + x; }
    // Rows [y0, y1) extended into the padding on the left and right; with top
    // (bottom), the padding rows above the first row (below the last) made
    // copies of it. The pad is a multiple of 8 samples.
    void ExtendRows(int y0, int y1, bool top, bool bottom) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = At(0, y);
            const uint64_t l = 0x0101010101010101ull * row[0], r = 0x0101010101010101ull * row[w - 1];
            for (int i = 0; i < pad; i += 8) {
                std::memcpy(row - pad + i, &l, 8);
                std::memcpy(row + w + i, &r, 8);
            }
        }
        const size_t n = static_cast<size_t>(w + 2 * pad);
        for (int y = 1; y <= pad; ++y) {
            if (top) std::memcpy(At(-pad, -y), At(-pad, 0), n);
            if (bottom) std::memcpy(At(-pad, h - 1 + y), At(-pad, h - 1), n);
        }
    }
};

struct Picture {
    Plane y, u, v;
};

enum MbKind : uint8_t { kMbI4 = 0, kMbI16 = 1, kMbP16 = 2, kMbSkip = 3, kMbP16x8 = 4, kMbP8x16 = 5, kMbP8x8 = 6 };

// Effort knobs derived from the speed/quality setting.
struct SpeedProfile {
    int subpel;        // 0 full pel, 1 half pel, 2 quarter pel
    bool hexSearch;    // hexagon before the small diamond
    int range;         // integer search iterations limit
    bool satdSubpel;   // SATD instead of SAD for subpel decisions
    int i4ModesI;      // Intra4x4 modes tried in I slices (0 = no Intra4x4)
    int i4ModesP;      // Intra4x4 modes tried for intra MBs in P slices
    bool satdDecisions; // SATD (else SAD) for inter/skip/intra choices in P slices
    int refineRadius;   // full search around the hexagon result
    bool partitions;    // 16x8, 8x16 and 8x8 inter partitions
};

SpeedProfile MakeProfile(int s) {
    SpeedProfile p{};
    p.subpel = s <= 1 ? 0 : (s == 2 ? 1 : 2);
    p.hexSearch = s >= 1;
    p.range = s <= 2 ? 16 : (s <= 5 ? 24 : (s == 6 ? 32 : 48));
    p.satdSubpel = s >= 5;
    p.i4ModesI = s <= 1 ? 3 : (s == 2 ? 5 : 9);
    p.i4ModesP = s <= 3 ? 0 : (s <= 5 ? 5 : 9);
    p.satdDecisions = s >= 3;
    p.refineRadius = s >= 7 ? 3 : 1;
    p.partitions = s >= 3;
    return p;
}


// Forward transforms of all 4x4 blocks of a 16x16 luma block (coding order)
// or of an 8x8 chroma block (raster order); pairs of blocks side by side.
void FdctLuma16(int16_t coef[16][16], const uint8_t* src, int ss, const uint8_t* pred, int ps) {
    // coding order is raster order within each 8x8 quarter
    for (int q = 0; q < 4; ++q) {
        const int ox = (q & 1) * 8, oy = (q >> 1) * 8;
        Fdct8x8(coef + 4 * q, src + oy * ss + ox, ss, pred + oy * ps + ox, ps);
    }
}
// Bit i set where v[i] > bound.
static inline unsigned OverBound16(const int v[16], int bound) {
#if defined(__SSE2__)
    const __m128i b = _mm_set1_epi32(bound);
    const auto over = [&](int k) { return _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 4 * k)), b); };
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_packs_epi32(over(0), over(1)), _mm_packs_epi32(over(2), over(3)))));
#else
    unsigned m = 0;
    for (int i = 0; i < 16; ++i) m |= (v[i] > bound ? 1u : 0u) << i;
    return m;
#endif
}

// Bit i set where v[i] is not 0.
static inline unsigned NonZero16(const uint8_t v[16]) {
#if defined(__SSE2__)
    const __m128i z = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), _mm_setzero_si128());
    return ~static_cast<unsigned>(_mm_movemask_epi8(z)) & 0xFFFFu;
#else
    unsigned m = 0;
    for (int i = 0; i < 16; ++i) m |= (v[i] ? 1u : 0u) << i;
    return m;
#endif
}

// Forward transforms and quantisation of the 16 luma blocks of an inter
// macroblock (coding order), of those blocks only whose SAD can leave a
// level (most, at usual rates, cannot): the others get zero levels. nz: the
// levels' count per block.
void TransformInterLuma(int16_t levels[16][16], uint8_t nz[16], const uint8_t* src, int ss, const uint8_t* pred,
                        int ps, int qp) {
    int sad[16];
    Sad4x4x16(src, ss, pred, ps, sad);
    std::memset(levels, 0, 16 * sizeof(levels[0]));
    std::memset(nz, 0, 16);
    // pairs side by side with a block over the bound (raster order, bit 2k
    // for the pair of blocks 2k and 2k + 1)
    const unsigned over = OverBound16(sad, ZeroBlockSad(qp, false));
    for (unsigned pairs = (over | over >> 1) & 0x5555u; pairs; pairs &= pairs - 1) {
        const int r = __builtin_ctz(pairs), x = r & 3, y = r >> 2;
        const int b = (y >> 1) * 8 + (x >> 1) * 4 + (y & 1) * 2; // coding order of the left block
        // a block of the pair under the bound quantises to nothing as well
        const int n = FdctQuant8x4(levels[b], levels[b + 1], src + 4 * y * ss + 4 * x, ss, pred + 4 * y * ps + 4 * x, ps, qp, false);
        nz[b] = static_cast<uint8_t>(n & 0xFF);
        nz[b + 1] = static_cast<uint8_t>(n >> 8);
    }
}

// The lock and condition the workers wait with. On Windows the system's own:
// the C++ library's, with this toolchain, go through semaphores that cost a
// round trip to the system for every wait and wake-up.
#ifdef _WIN32
class SysLock {
public:
    void lock() { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() { ::ReleaseSRWLockExclusive(&lock_); }
    SRWLOCK* Native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
class SysCond {
public:
    template <class Pred> void wait(std::unique_lock<SysLock>& l, Pred ready) {
        while (!ready()) ::SleepConditionVariableSRW(&cond_, l.mutex()->Native(), INFINITE, 0);
    }
    void notify_all() { ::WakeAllConditionVariable(&cond_); }

private:
    CONDITION_VARIABLE cond_ = CONDITION_VARIABLE_INIT;
};
#else
using SysLock = std::mutex;
using SysCond = std::condition_variable;
#endif

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() or for about `us` microseconds (by the clock: a pause
// takes from a few to over a hundred cycles); returns ready().
template <class Ready> bool SpinFor(int us, Ready ready) {
    if (ready()) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (ready()) return true;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= until) return ready();
    }
}

// Runs one function on every worker at once (the caller is worker 0) and
// returns when all have finished. A worker that has finished spins a while
// for the next function before it sleeps, and so does the caller for the
// last worker: a picture runs several functions one after the other, and
// waking a sleeping processor costs tens of microseconds on a virtual
// machine, as much as a worker's share of a small function.
class WorkerPool {
public:
    ~WorkerPool() { Stop(); }
    void Start(int workers) {
        Stop();
        stop_ = false;
        const uint64_t current = generation_; // a worker runs the functions posted after it was made
        for (int i = 1; i < workers; ++i) threads_.emplace_back([this, i, current] { Loop(i, current); });
    }
    int Workers() const { return static_cast<int>(threads_.size()) + 1; }
    void Run(const std::function<void(int)>& fn) {
        if (threads_.empty()) {
            fn(0);
            return;
        }
        {
            std::lock_guard<SysLock> l(m_);
            fn_ = &fn;
            busy_.store(static_cast<int>(threads_.size()), std::memory_order_relaxed);
            ++generation_;
            posted_.store(generation_, std::memory_order_release);
        }
        cv_.notify_all();
        fn(0);
        if (SpinFor(kSpinMicroseconds, [this] { return busy_.load(std::memory_order_acquire) == 0; })) return;
        std::unique_lock<SysLock> l(m_);
        doneCv_.wait(l, [this] { return busy_.load(std::memory_order_acquire) == 0; });
    }

private:
    // Long enough to span the gaps inside a picture and, when pictures come
    // back to back, between them; short against a picture's interval when
    // they come at their frame rate.
    static constexpr int kSpinMicroseconds = 250;

    void Stop() {
        {
            std::lock_guard<SysLock> l(m_);
            stop_ = true;
            ++generation_;
            posted_.store(generation_, std::memory_order_release);
        }
        cv_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }
    void Loop(int index, uint64_t seen) {
        for (;;) {
            SpinFor(kSpinMicroseconds, [&] { return posted_.load(std::memory_order_acquire) != seen; });
            const std::function<void(int)>* fn;
            {
                std::unique_lock<SysLock> l(m_);
                cv_.wait(l, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
                fn = fn_;
            }
            (*fn)(index);
            std::lock_guard<SysLock> l(m_);
            if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) doneCv_.notify_all();
        }
    }
    std::vector<std::thread> threads_;
    SysLock m_;
    SysCond cv_, doneCv_;
    const std::function<void(int)>* fn_ = nullptr;
    uint64_t generation_ = 0;                 // under m_
    std::atomic<uint64_t> posted_{0};         // generation_, read while spinning
    std::atomic<int> busy_{0};                // workers still running the function
    bool stop_ = false;
};

} // namespace

class MbCoder;

class EncoderImpl {
public:
    EncoderImpl();
    ~EncoderImpl();
    bool Open(const EncoderSettings& s);
    bool Encode(const uint8_t* y, int sy, const uint8_t* u, int su, const uint8_t* v, int sv, ByteSink& out,
                bool* isIdr);

    EncoderSettings set_;
    UsedSettings used_;
    bool open_ = false;
    bool forceKey_ = false;
    uint64_t frames_ = 0;
    uint64_t bytes_ = 0;
    int lastQp_ = 0;
    int lastRec_ = -1;

    // geometry
    int w_ = 0, h_ = 0, mbW_ = 0, mbH_ = 0, wp_ = 0, hp_ = 0;

    Picture src_;
    Picture rec_[2];
    int cur_ = 0;
    Plane halfH_, halfV_, halfJ_;

    // per macroblock / per block state of the current picture
    std::vector<uint8_t> mbKind_;
    std::vector<uint8_t> mbIntra_;
    std::vector<int16_t> mv_; // per MB: the vectors of its four 8x8 blocks (raster order), x and y
    std::vector<int8_t> i4Mode_; // per 4x4 luma block, -1 = not Intra4x4
    std::vector<uint8_t> nnzY_, nnzU_, nnzV_;
    std::vector<uint8_t> qpMb_;   // QP of each macroblock as the decoder sees it
    std::vector<uint8_t> carriesQp_; // 1 where the macroblock has an mb_qp_delta
    std::vector<int> mbCplx_;     // estimated cost of each macroblock before coding
    std::vector<uint8_t> prevY_;  // luma of the source picture before (rate control)
    bool havePrevY_ = false;

    // frame state
    int sliceQp_ = 26;  // QP in the slice header
    std::vector<uint8_t> mvBitsMem_;
    const uint8_t* mvBits_ = nullptr;
    int mvCostRange_ = 0;
    uint64_t skippedPictures_ = 0;
    int mvYLimit_ = 2048; // vertical vectors in [-limit, limit) quarter samples, by level
    SpeedProfile sp_{};
    int frameNum_ = 0;
    int idrPicId_ = 0;
    uint64_t framesSinceI_ = 0;
    int iSinceIdr_ = 0;
    bool dropFrame_ = false; // code every macroblock as P_Skip
    bool prevWasP_ = false;    // mv_ still holds the previous P picture's vectors
    RateControl rc_;

    // Threads: one slice per worker, each a band of whole macroblock rows of
    // about the same estimated cost, coded and loop-filtered by its worker
    // alone from top to bottom (the loop filter stops at the slices' edges).
    // Workers share no picture data while they code: on machines where a
    // cache line moves between processors slowly (virtual machines whose
    // processors the host places apart), rows coded in a wavefront passed
    // every row's pictures and state from one processor to the other and two
    // threads ran no faster than one; a loop filter across the bands made
    // each band below wait for the band above, a tenth of a picture's time.
    WorkerPool pool_;
    std::vector<std::unique_ptr<MbCoder>> coders_;
    struct Band {
        int top = 0, end = 0;    // macroblock rows [top, end)
        double cplx = 0;         // estimated cost of its macroblocks
        BitWriter bw;            // the slice: its header, then the rows joined
        int qpPrev = 26;         // QP of the last macroblock that carried one
        int pendingSkips = 0;    // skipped macroblocks not yet written
        int unfiltered = 0;      // first of its rows not yet loop-filtered
    };
    std::vector<Band> bands_;            // one per worker, top to bottom
    std::vector<uint64_t> joinedBits_;  // slice bits after each joined row (in its band)
    std::vector<double> joinedCplx_;    // estimated cost of the rows joined (in its band)
    std::atomic<bool> planesReady_{false}; // half-sample planes of the reference built
    std::mutex planesLock_;
    std::vector<int16_t> v1Rows_;       // six-tap intermediates, one row per worker

    // helpers
    void WriteSps(ByteSink& out);
    void WritePps(ByteSink& out);
    void WriteSliceHeader(BitWriter& bw, int firstMb, bool idr, bool intraSlice);
    void LoadSource(const uint8_t* y, int sy, const uint8_t* u, int su, const uint8_t* v, int sv);
    void BuildHalfPlanes(int y0, int y1, int worker);
    // inline: asked for by every sub-sample prediction
    void EnsureHalfPlanes() {
        if (!planesReady_.load(std::memory_order_acquire)) BuildHalfPlanesOnce();
    }
    void BuildHalfPlanesOnce();
    double Analyse(bool intra, double* motion);
    void KeepSourceLuma();
    void EncodePicture(bool idr, bool intra, int qp, double targetBits, double maxBits, ByteSink& out,
                       double* avgQp);
    void SplitBands(bool intra);
    void FilterBand(Band& b, int end);
    int RowQp(const Band& b, int base, int mby, double targetBits, double maxBits);
    void JoinRow(Band& b, const MbCoder& c, int mby, bool intra);
    // rows [begin, end) of the slice starting at row sliceTop
    void DeblockRows(int begin, int end, int sliceTop) {
        Picture& r = rec_[cur_];
        DeblockParams dp{r.y.p, r.y.stride, r.u.p, r.v.p, r.u.stride, mbW_, mbH_, mbIntra_.data(), mv_.data(),
                         nnzY_.data(), sliceQp_, qpMb_.data()};
        dp.rowBegin = begin;
        dp.rowEnd = end;
        dp.sliceTop = sliceTop;
        DeblockPicture(dp);
    }
};

// Codes the macroblocks of one row into a bit writer of its own; one per
// worker. The picture's state is the encoder's: a row reads what the rows
// above it in its slice have left there.
class MbCoder {
public:
    explicit MbCoder(EncoderImpl& e)
        : enc_(e), mbW_(e.mbW_), mbH_(e.mbH_), wp_(e.wp_), hp_(e.hp_), src_(e.src_), rec_(e.rec_), cur_(e.cur_),
          lastRec_(e.lastRec_), halfH_(e.halfH_), halfV_(e.halfV_), halfJ_(e.halfJ_), mbKind_(e.mbKind_),
          mbIntra_(e.mbIntra_), mv_(e.mv_), i4Mode_(e.i4Mode_), nnzY_(e.nnzY_), nnzU_(e.nnzU_), nnzV_(e.nnzV_),
          qpMb_(e.qpMb_), carriesQp_(e.carriesQp_), sp_(e.sp_), mvBits_(e.mvBits_), mvYLimit_(e.mvYLimit_),
          dropFrame_(e.dropFrame_), prevWasP_(e.prevWasP_) {}

    // qp above 51: coarser macroblocks at 51 (bare_)
    void CodeRow(int mby, bool intra, int qp);

    int worker_ = 0; // index of the worker that runs this coder
    // the slice being coded: rows [sliceTop_, sliceEnd_); nothing above it is
    // a neighbour, nothing below it is read. Another worker writes the rows
    // above meanwhile: whatever looks at the macroblock above asks HasTop.
    int sliceTop_ = 0, sliceEnd_ = 0;
    bool HasTop(int mby) const { return mby > sliceTop_; }

    EncoderImpl& enc_;
    const int &mbW_, &mbH_, &wp_, &hp_;
    Picture& src_;
    Picture (&rec_)[2];
    const int &cur_, &lastRec_;
    const Plane &halfH_, &halfV_, &halfJ_;
    std::vector<uint8_t>& mbKind_;
    std::vector<uint8_t>& mbIntra_;
    std::vector<int16_t>& mv_;
    std::vector<int8_t>& i4Mode_;
    std::vector<uint8_t>&nnzY_, &nnzU_, &nnzV_;
    std::vector<uint8_t>& qpMb_;
    std::vector<uint8_t>& carriesQp_;
    const SpeedProfile& sp_;
    const uint8_t* const& mvBits_;
    const int& mvYLimit_;
    const bool& dropFrame_;
    const bool& prevWasP_;

    // the row's bits: from its first coded macroblock on (the skip run in
    // front of it and the first mb_qp_delta are written when the row is
    // joined, they depend on the rows before)
    BitWriter bw_;
    bool coded_ = false;  // a macroblock of the row is in bw_ (P slices)
    int leadSkips_ = 0;   // skipped macroblocks in front of it
    int tailSkips_ = 0;   // skipped macroblocks at the end of the row
    bool hasDq_ = false;  // a macroblock of the row carries a QP
    uint64_t dqPos_ = 0;  // where the first mb_qp_delta goes

    int qp_ = 26;       // QP of the row
    // Rows coarser than QP 51: 1 = intra macroblocks keep only their DC
    // coefficients and inter ones only their chroma DC, 2 = no residual at all
    int bare_ = 0;
    int lambda_ = 1;

    // macroblock workspace
    alignas(16) uint8_t predY_[256];
    alignas(16) uint8_t predU_[64];
    alignas(16) uint8_t predV_[64];
    alignas(16) uint8_t tmp_[256];
    alignas(16) uint8_t tmp2_[256];
    int16_t lumaLv_[16][16];
    int16_t lumaDc_[16];
    int16_t chromaDc_[2][4];
    int16_t chromaAc_[2][4][16];
    uint8_t lumaNz_[16];
    uint8_t chromaAcNz_[2][4];
    int i4Modes_[16];
    int i16Mode_ = 0;
    int chromaMode_ = 0;
    int cbpLuma_ = 0;
    int cbpChroma_ = 0;

    void SetupLambda();
    void PutSkipRun(int* skipRun) {
        if (!coded_) {
            coded_ = true;
            leadSkips_ = *skipRun;
        } else {
            bw_.Ue(static_cast<uint32_t>(*skipRun));
        }
        *skipRun = 0;
    }

    // macroblock coding
    void EncodeIntraMb(int mbx, int mby, bool pSlice, int i4Modes, int knownI16Mode = -1);
    int BestI16(int mbx, int mby, int* mode);
    int BestI16Sad(int mbx, int mby, int* mode);
    int EncodeI4(int mbx, int mby, int nModes, int bestSoFar);
    void EncodeI16Luma(int mbx, int mby);
    void ChooseChromaMode(int mbx, int mby);
    int BestChromaMode(int mbx, int mby, int* pMode);
    void EncodeChroma(int mbx, int mby, bool intra);
    void EncodeInterLuma(int mbx, int mby);
    void EncodePMb(int mbx, int mby, int* skipRun);
    bool SkipIsClean(int mbx, int mby, int mx, int my, const uint8_t* pred, int ps);

    // motion
    bool Neighbour(int mbx, int mby, int x4, int y4, int done, const int16_t* own, int* ref, const int16_t** mv) const;
    void PredictPartMv(int mbx, int mby, int x4, int y4, int w4, int shape, int part, int done, const int16_t* own,
                       int* px, int* py) const;
    void PredictMv(int mbx, int mby, int* px, int* py) const {
        PredictPartMv(mbx, mby, 0, 0, 4, 0, 0, 0, nullptr, px, py);
    }
    // pred: where not null, set to whether the skip vector is the predicted
    // 16x16 vector (PredictMv) as well
    void PredictSkipMv(int mbx, int mby, int* px, int* py, bool* pred = nullptr) const;
    bool MvOk(int mbx, int mby, int mx, int my) const { return MvBounds(mbx, mby).Holds(mx, my); }
    // the vectors (quarter samples) a macroblock may use: inside the level's
    // vertical range and the reference's padding
    struct MvBox {
        int x0, x1, y0, y1;
        bool Holds(int mx, int my) const { return mx >= x0 && mx <= x1 && my >= y0 && my <= y1; }
    };
    MvBox MvBounds(int mbx, int mby) const;
    // The prediction of the w x h block at (ox, oy) in the macroblock for the
    // vector (mx, my): a pointer at the block's top-left sample and its
    // stride (whole-sample vectors: the reference itself, inline, as every
    // search asks).
    const uint8_t* LumaPred(int mbx, int mby, int mx, int my, uint8_t* tmp, int* stride, int ox = 0, int oy = 0,
                            int w = 16, int h = 16) {
        if ((mx | my) & 3) return LumaPredSub(mbx, mby, mx, my, tmp, stride, ox, oy, w, h);
        const Plane& F = rec_[lastRec_].y;
        *stride = F.stride;
        return F.p + static_cast<ptrdiff_t>(mby * 16 + oy + (my >> 2)) * F.stride + (mbx * 16 + ox + (mx >> 2));
    }
    const uint8_t* LumaPredSub(int mbx, int mby, int mx, int my, uint8_t* tmp, int* stride, int ox, int oy, int w, int h);
    void ChromaPred(int mbx, int mby, int mx, int my);
    int MvBits(int dx, int dy) const { return lambda_ * (mvBits_[dx] + mvBits_[dy]); }
    void MotionSearch(int mbx, int mby, int pmx, int pmy, int* bmx, int* bmy, int ox = 0, int oy = 0,
                      BlockSize bs = kBlock16x16, const int* seed = nullptr);
    int SearchPartitions(int mbx, int mby, int cost16, int mx16, int my16);
    void PartitionPred(int mbx, int mby);

    // bitstream
    int NcLuma(int x4, int y4) const;
    int NcChroma(const std::vector<uint8_t>& a, int x2, int y2) const;
    void WriteMb(int mbx, int mby, int kind, bool pSlice, int mvdx, int mvdy);
    void WriteChromaResidual(int mbx, int mby);
    void WriteQpDelta(int mbx, int mby);
    void StoreMbState(int mbx, int mby, int kind, int mx, int my);

    // the partitions chosen for the macroblock: shape (kMbP16x8, kMbP8x16,
    // kMbP8x8), one vector per 8x8 block and the differences coded
    int partKind_ = kMbP16;
    int16_t partMv_[8] = {};
    int partMvd_[4][2] = {};
};

EncoderImpl::EncoderImpl() = default;
EncoderImpl::~EncoderImpl() = default;

// ---------------------------------------------------------------------------
// Open / settings

bool EncoderImpl::Open(const EncoderSettings& s) {
    open_ = false;
    if (s.width < 16 || s.height < 16 || s.width > 8192 || s.height > 8192) return false;
    if (!(s.fps > 0.0) || s.fps > 1000.0) return false;
    if (s.rateControl != kRateCbr && s.rateControl != kRateVbr && s.rateControl != kRateFixedQp) return false;
    if (s.rateControl == kRateFixedQp && (s.qp < 0 || s.qp > 51)) return false;
    if (s.rateControl != kRateFixedQp && (s.bitrateKbps <= 0 || s.bitrateKbps > 1000000)) return false;
    if (s.threads < 0) return false;
    set_ = s;

    w_ = (s.width + 1) & ~1;
    h_ = (s.height + 1) & ~1;
    mbW_ = (w_ + 15) / 16;
    mbH_ = (h_ + 15) / 16;
    wp_ = mbW_ * 16;
    hp_ = mbH_ * 16;

    used_ = UsedSettings{};
    used_.profile = 66;
    used_.bFrames = 0;
    used_.cavlc = true;
    used_.speedQuality = std::min(7, std::max(1, s.speedQuality));
    used_.gopSize = s.gopSize > 0 ? s.gopSize : std::max(1, static_cast<int>(std::lround(s.fps)));
    used_.idrInterval = std::max(0, s.idrInterval);
    used_.bitrateKbps = s.rateControl == kRateFixedQp ? 0 : s.bitrateKbps;
    used_.codedWidth = w_;
    used_.codedHeight = h_;
    const int brForLevel = s.rateControl == kRateFixedQp ? 0 : s.bitrateKbps;
    if (s.level > 0 && LevelFits(s.level, w_, h_, s.fps, brForLevel)) {
        used_.level = s.level;
    } else {
        used_.level = ChooseLevel(w_, h_, s.fps, brForLevel);
        if (used_.level == 0) used_.level = 52;
    }
    sp_ = MakeProfile(used_.speedQuality);
    mvYLimit_ = used_.level >= 31 ? 2048 : used_.level >= 21 ? 1024 : used_.level >= 11 ? 512 : 256;

    for (Picture* p : {&src_, &rec_[0], &rec_[1]}) {
        p->y.Alloc(wp_, hp_, kPadY);
        p->u.Alloc(wp_ / 2, hp_ / 2, kPadC);
        p->v.Alloc(wp_ / 2, hp_ / 2, kPadC);
    }
    halfH_.Alloc(wp_, hp_, kPadY);
    halfV_.Alloc(wp_, hp_, kPadY);
    halfJ_.Alloc(wp_, hp_, kPadY);

    const size_t mbs = static_cast<size_t>(mbW_) * static_cast<size_t>(mbH_);
    mbKind_.assign(mbs, 0);
    mbIntra_.assign(mbs, 0);
    mv_.assign(mbs * 8, 0);
    i4Mode_.assign(mbs * 16, -1);
    nnzY_.assign(mbs * 16, 0);
    nnzU_.assign(mbs * 4, 0);
    nnzV_.assign(mbs * 4, 0);
    qpMb_.assign(mbs, 26);
    mbCplx_.assign(mbs, 0);
    prevY_.clear();
    havePrevY_ = false;
    carriesQp_.assign(mbs, 0);
    joinedBits_.assign(static_cast<size_t>(mbH_), 0);
    joinedCplx_.assign(static_cast<size_t>(mbH_), 0.0);
    // Automatic: one per processor, but slices of at least kAutoSliceRows rows
    // (a slice boundary costs compression; thin slices cost more than a
    // processor more gains).
    int threads = s.threads > 0 ? s.threads
                                : std::min(static_cast<int>(std::thread::hardware_concurrency()), mbH_ / kAutoSliceRows);
    threads = std::max(1, std::min({threads, kMaxThreads, mbH_}));
    used_.threads = threads; // the workers start with the first picture
    coders_.clear();
    bands_ = std::vector<Band>(static_cast<size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        coders_.emplace_back(new MbCoder(*this));
        coders_.back()->worker_ = t;
    }
    v1Rows_.assign(static_cast<size_t>(threads) * static_cast<size_t>(wp_ + 2 * kPadY), 0);
    skippedPictures_ = 0;

    mvCostRange_ = 4 * (std::max(wp_, hp_) + 4 * kPadY);
    mvBitsMem_.assign(static_cast<size_t>(2 * mvCostRange_ + 1), 0);
    for (int d = -mvCostRange_; d <= mvCostRange_; ++d)
        mvBitsMem_[static_cast<size_t>(d + mvCostRange_)] = static_cast<uint8_t>(std::min(255, SeBits(d)));
    mvBits_ = mvBitsMem_.data() + mvCostRange_;

    forceKey_ = false;
    frames_ = 0;
    bytes_ = 0;
    lastRec_ = -1;
    cur_ = 0;
    prevWasP_ = false;
    frameNum_ = 0;
    idrPicId_ = 0;
    framesSinceI_ = 0;
    iSinceIdr_ = 0;
    RateControlConfig rc;
    rc.mode = s.rateControl;
    rc.bitrateKbps = s.bitrateKbps;
    rc.fps = s.fps;
    rc.fixedQp = s.qp;
    rc.minQp = kMinRcQp;
    rc.gopSize = used_.gopSize;
    long maxBrKbps = 0, maxCpbKbits = 0;
    if (s.rateControl != kRateFixedQp && LevelBuffer(used_.level, &maxBrKbps, &maxCpbKbits)) {
        // the buffer of the byte stream (NAL units, filler included)
        rc.cpbBits = 1200.0 * static_cast<double>(maxCpbKbits);
        rc.maxRateBits = 1200.0 * static_cast<double>(maxBrKbps);
        // CBR works in a buffer of at most 1.5 s at its own rate (the level
        // allows more at low rates): stricter, so the level's holds as well,
        // and a rate the content cannot go down to shows within seconds
        if (s.rateControl == kRateCbr) rc.cpbBits = std::min(rc.cpbBits, 1.5 * 1000.0 * s.bitrateKbps);
    }
    rc_.Init(rc);
    open_ = true;
    return true;
}

void MbCoder::SetupLambda() {
    // lambda roughly 2^((qp - 12) / 6), applied to SAD/SATD costs
    static const auto kLambda = [] {
        std::vector<int> t(52);
        for (int q = 0; q < 52; ++q) t[static_cast<size_t>(q)] = std::max(1, static_cast<int>(std::lround(std::pow(2.0, (q - 12) / 6.0))));
        return t;
    }();
    lambda_ = kLambda[static_cast<size_t>(qp_)];
}

// The flat estimate of a 16x16 block: each 8x8 quarter filled with the
// rounded mean of its samples (16x16, stride 16).
static void FlatQuarters(const uint8_t* s, int ss, uint8_t flat[256]) {
#if defined(__SSE2__)
    // the sums of the left and right halves of the top and bottom rows, each
    // row's two halves summed at once; rows unrolled, one store per row
    const __m128i zero = _mm_setzero_si128();
    const std::ptrdiff_t st = ss;
    __m128i half[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        __m128i a = zero, b = zero;
#pragma GCC unroll 4
        for (int y = 0; y < 8; y += 2) {
            a = _mm_add_epi64(a, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + (8 * h + y) * st)), zero));
            b = _mm_add_epi64(b, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + (8 * h + y + 1) * st)), zero));
        }
        // (sum + 32) >> 6 of each half, repeated over its eight bytes
        const __m128i m = _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(a, b), _mm_set1_epi64x(32)), 6);
        const __m128i l = _mm_shufflelo_epi16(m, 0), r = _mm_shufflelo_epi16(_mm_srli_si128(m, 8), 0);
        half[h] = _mm_packus_epi16(_mm_unpacklo_epi64(l, l), _mm_unpacklo_epi64(r, r));
    }
#pragma GCC unroll 16
    for (int y = 0; y < 16; ++y) _mm_storeu_si128(reinterpret_cast<__m128i*>(flat + 16 * y), half[y >> 3]);
#else
    for (int q = 0; q < 4; ++q) {
        const int ox = (q & 1) * 8, oy = (q >> 1) * 8;
        int sum = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) sum += s[(oy + y) * ss + ox + x];
        const uint8_t m = static_cast<uint8_t>((sum + 32) >> 6);
        for (int y = 0; y < 8; ++y) std::memset(flat + (oy + y) * 16 + ox, m, 8);
    }
#endif
}

// Estimated cost of every macroblock before coding (SATD against the 8x8
// block means, and for inter pictures against the reference picture where
// that is lower: a reference coded coarser than this picture costs bits to
// refine); returns the picture's total. For an intra picture with a source
// picture before it, *motion gets the same measure against that source
// picture instead of the reference: what the content itself changes.
double EncoderImpl::Analyse(bool intra, double* motion) {
    const int ss = src_.y.stride;
    const bool still = intra && havePrevY_;
    std::vector<double> rowMotion(still ? static_cast<size_t>(mbH_) : 0, 0.0);
    const int workers = pool_.Workers();
    pool_.Run([&](int worker) {
        alignas(16) uint8_t flat[256];
        // each worker the rows it will most likely code
        const int end = mbH_ * (worker + 1) / workers;
        for (int mby = mbH_ * worker / workers; mby < end; ++mby) {
            for (int mbx = 0; mbx < mbW_; ++mbx) {
                const uint8_t* s = src_.y.At(mbx * 16, mby * 16);
                FlatQuarters(s, ss, flat);
                int c = Satd16x16(s, ss, flat, 16);
                if (!intra && lastRec_ >= 0) {
                    const Plane& ref = rec_[lastRec_].y;
                    c = std::min(c, Satd16x16(s, ss, ref.At(mbx * 16, mby * 16), ref.stride));
                }
                if (still)
                    rowMotion[static_cast<size_t>(mby)] +=
                        std::min(c, Satd16x16(s, ss, prevY_.data() + static_cast<size_t>(mby * 16) * wp_ + mbx * 16, wp_)) + 64;
                c += 64; // every macroblock costs a few bits
                mbCplx_[static_cast<size_t>(mby * mbW_ + mbx)] = c;
            }
        }
    });
    double total = 0;
    for (int c : mbCplx_) total += c;
    *motion = 0;
    for (double m : rowMotion) *motion += m;
    return total;
}

// Keeps the luma of the picture just loaded for the next intra picture's
// estimate (rate control, GOPs of more than one picture).
void EncoderImpl::KeepSourceLuma() {
    prevY_.resize(static_cast<size_t>(wp_) * hp_);
    for (int y = 0; y < hp_; ++y) std::memcpy(prevY_.data() + static_cast<size_t>(y) * wp_, src_.y.At(0, y), static_cast<size_t>(wp_));
    havePrevY_ = true;
}

// ---------------------------------------------------------------------------
// Parameter sets and slice header

void EncoderImpl::WriteSps(ByteSink& out) {
    BitWriter b;
    b.Put(66, 8);
    b.Put(1, 1); // constraint_set0: plain Baseline tools only
    b.Put(1, 1); // constraint_set1: also decodable as Main
    b.Put(0, 2);
    b.Put(0, 4);
    b.Put(static_cast<uint32_t>(used_.level), 8);
    b.Ue(0);     // seq_parameter_set_id
    b.Ue(4);     // log2_max_frame_num - 4 -> 8 bits
    b.Ue(2);     // pic_order_cnt_type 2: output order = decoding order
    b.Ue(1);     // max_num_ref_frames
    b.Bit(0);    // gaps_in_frame_num_value_allowed_flag
    b.Ue(static_cast<uint32_t>(mbW_ - 1));
    b.Ue(static_cast<uint32_t>(mbH_ - 1));
    b.Bit(1);    // frame_mbs_only_flag
    b.Bit(1);    // direct_8x8_inference_flag
    const bool crop = wp_ != w_ || hp_ != h_;
    b.Bit(crop);
    if (crop) {
        b.Ue(0);
        b.Ue(static_cast<uint32_t>((wp_ - w_) / 2));
        b.Ue(0);
        b.Ue(static_cast<uint32_t>((hp_ - h_) / 2));
    }
    b.Bit(1); // vui_parameters_present_flag
    b.Bit(0); // aspect_ratio_info_present_flag
    b.Bit(0); // overscan_info_present_flag
    b.Bit(1); // video_signal_type_present_flag
    b.Put(5, 3); // unspecified video format
    b.Bit(0);    // limited range
    b.Bit(1);    // colour_description_present_flag
    b.Put(6, 8); b.Put(6, 8); b.Put(6, 8); // BT.601 (525/625 share the matrix)
    b.Bit(0); // chroma_loc_info_present_flag
    b.Bit(1); // timing_info_present_flag
    const uint32_t tick = 1000;
    const uint32_t scale = static_cast<uint32_t>(std::lround(set_.fps * 2000.0));
    b.Put(tick, 32);
    b.Put(scale, 32);
    b.Bit(1); // fixed_frame_rate_flag
    b.Bit(0); // nal_hrd
    b.Bit(0); // vcl_hrd
    b.Bit(0); // pic_struct_present_flag
    b.Bit(1); // bitstream_restriction_flag
    b.Bit(1); // motion_vectors_over_pic_boundaries_flag
    b.Ue(0);  // max_bytes_per_pic_denom
    b.Ue(0);  // max_bits_per_mb_denom
    b.Ue(16); // log2_max_mv_length_horizontal
    b.Ue(16); // log2_max_mv_length_vertical
    b.Ue(0);  // max_num_reorder_frames
    b.Ue(1);  // max_dec_frame_buffering
    b.Trailing();
    AppendNal(out, 3, 7, b.Bytes());
}

void EncoderImpl::WritePps(ByteSink& out) {
    BitWriter b;
    b.Ue(0);  // pic_parameter_set_id
    b.Ue(0);  // seq_parameter_set_id
    b.Bit(0); // entropy_coding_mode_flag: CAVLC
    b.Bit(0); // bottom_field_pic_order_in_frame_present_flag
    b.Ue(0);  // num_slice_groups_minus1
    b.Ue(0);  // num_ref_idx_l0_default_active_minus1
    b.Ue(0);  // num_ref_idx_l1_default_active_minus1
    b.Bit(0); // weighted_pred_flag
    b.Put(0, 2); // weighted_bipred_idc
    b.Se(0);  // pic_init_qp_minus26
    b.Se(0);  // pic_init_qs_minus26
    b.Se(0);  // chroma_qp_index_offset
    b.Bit(1); // deblocking_filter_control_present_flag
    b.Bit(0); // constrained_intra_pred_flag
    b.Bit(0); // redundant_pic_cnt_present_flag
    b.Trailing();
    AppendNal(out, 3, 8, b.Bytes());
}

void EncoderImpl::WriteSliceHeader(BitWriter& bw_, int firstMb, bool idr, bool intraSlice) {
    bw_.Ue(static_cast<uint32_t>(firstMb)); // first_mb_in_slice
    bw_.Ue(intraSlice ? 7 : 5);      // slice_type (all slices of the picture alike)
    bw_.Ue(0);                       // pic_parameter_set_id
    bw_.Put(static_cast<uint32_t>(frameNum_), 8);
    if (idr) bw_.Ue(static_cast<uint32_t>(idrPicId_));
    if (!intraSlice) {
        bw_.Bit(0); // num_ref_idx_active_override_flag
        bw_.Bit(0); // ref_pic_list_modification_flag_l0
    }
    if (idr) {
        bw_.Bit(0); // no_output_of_prior_pics_flag
        bw_.Bit(0); // long_term_reference_flag
    } else {
        bw_.Bit(0); // adaptive_ref_pic_marking_mode_flag
    }
    bw_.Se(sliceQp_ - 26);
    // disable_deblocking_filter_idc: filter on, and with several slices not
    // across their edges (each worker filters its own band as it goes)
    bw_.Ue(bands_.size() > 1 ? 2 : 0);
    bw_.Se(0); // slice_alpha_c0_offset_div2
    bw_.Se(0); // slice_beta_offset_div2
}

// ---------------------------------------------------------------------------
// Picture preparation

void EncoderImpl::LoadSource(const uint8_t* y, int sy, const uint8_t* u, int su, const uint8_t* v, int sv) {
    const int inW = set_.width, inH = set_.height;
    if (inW == wp_ && inH == hp_ && sy > 0 && su > 0 && sv > 0) {
        // whole macroblocks: the caller's planes are read where they are
        src_.y.View(y, sy);
        src_.u.View(u, su);
        src_.v.View(v, sv);
        return;
    }
    const int inCw = (inW + 1) / 2, inCh = (inH + 1) / 2;
    auto load = [](Plane& dst, const uint8_t* s, int ss, int sw, int sh) {
        for (int r = 0; r < dst.h; ++r) {
            const uint8_t* row = s + static_cast<ptrdiff_t>(std::min(r, sh - 1)) * ss;
            uint8_t* d = dst.At(0, r);
            std::memcpy(d, row, static_cast<size_t>(sw));
            if (dst.w > sw) std::memset(d + sw, row[sw - 1], static_cast<size_t>(dst.w - sw));
        }
    };
    load(src_.y, y, sy, inW, inH);
    load(src_.u, u, su, inCw, inCh);
    load(src_.v, v, sv, inCw, inCh);
}

// Rows [y0, y1) of the half-sample planes (the planes reach from -kPadY + 2
// to hp_ + kPadY - 4).
void EncoderImpl::BuildHalfPlanes(int y0, int y1, int worker) {
    const Plane& f = rec_[lastRec_].y;
    const int x0 = -kPadY + 2, x1 = wp_ + kPadY - 4;
    int16_t* v1 = v1Rows_.data() + static_cast<size_t>(worker) * static_cast<size_t>(wp_ + 2 * kPadY) + kPadY;
    const KernelSet& k = Kern();
    for (int y = y0; y < y1; ++y)
        k.sixTapRow(f.At(0, y), f.stride, halfH_.At(0, y), halfV_.At(0, y), halfJ_.At(0, y), v1, x0, x1, -kPadY,
                    wp_ + kPadY);
}

// The half-sample planes are made on first use of a fractional vector (the
// fastest settings seldom need them); a row that needs them meanwhile waits.
void EncoderImpl::BuildHalfPlanesOnce() {
    std::lock_guard<std::mutex> l(planesLock_);
    if (planesReady_.load(std::memory_order_relaxed)) return;
    BuildHalfPlanes(-kPadY + 2, hp_ + kPadY - 4, 0);
    planesReady_.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Intra macroblocks

int MbCoder::BestI16(int mbx, int mby, int* mode) {
    Picture& r = rec_[cur_];
    const uint8_t* rec = r.y.At(mbx * 16, mby * 16);
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const bool top = HasTop(mby), left = mbx > 0;
    int best = 1 << 30;
    *mode = 2;
    for (int m = 0; m < 4; ++m) {
        if ((m == 0 && !top) || (m == 1 && !left) || (m == 3 && !(top && left))) continue;
        PredIntra16(m, rec, r.y.stride, top, left, tmp_);
        int c = Satd16x16(src, src_.y.stride, tmp_, 16) + lambda_ * (m == 2 ? 1 : 3);
        if (c < best) {
            best = c;
            *mode = m;
        }
    }
    return best;
}

// Cheaper variant for the fastest settings: SAD over V, H and DC.
int MbCoder::BestI16Sad(int mbx, int mby, int* mode) {
    Picture& r = rec_[cur_];
    const uint8_t* rec = r.y.At(mbx * 16, mby * 16);
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const bool top = HasTop(mby), left = mbx > 0;
    int best = 1 << 30;
    *mode = 2;
    for (int m = 0; m < 3; ++m) {
        if ((m == 0 && !top) || (m == 1 && !left)) continue;
        PredIntra16(m, rec, r.y.stride, top, left, tmp_);
        int c = Sad16x16(src, src_.y.stride, tmp_, 16) + lambda_ * (m == 2 ? 1 : 3);
        if (c < best) {
            best = c;
            *mode = m;
        }
    }
    return best;
}

void MbCoder::EncodeI16Luma(int mbx, int mby) {
    Picture& r = rec_[cur_];
    uint8_t* rec = r.y.At(mbx * 16, mby * 16);
    const int rs = r.y.stride;
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const int ss = src_.y.stride;
    PredIntra16(i16Mode_, rec, rs, HasTop(mby), mbx > 0, predY_);
    int16_t coef[16][16];
    int dcm[16];
    bool anyAc = false;
    FdctLuma16(coef, src, ss, predY_, 16);
    for (int b = 0; b < 16; ++b) {
        dcm[kBlkY[b] * 4 + kBlkX[b]] = coef[b][0];
        lumaLv_[b][0] = 0;
        lumaNz_[b] = static_cast<uint8_t>(Quant4x4(coef[b], lumaLv_[b], qp_, true, 1));
        if (bare_ && lumaNz_[b]) {
            std::memset(lumaLv_[b], 0, sizeof(lumaLv_[b]));
            lumaNz_[b] = 0;
        }
        anyAc |= lumaNz_[b] != 0;
    }
    // luma DC: Hadamard, halve, quantise
    int t[16];
    Hadamard4x4(dcm, t);
    const int qbits = 16 + qp_ / 6;
    const int f = (1 << qbits) / 3;
    const int mf = kQuantMf[qp_ % 6][0];
    for (int i = 0; i < 16; ++i) {
        int c = t[kZigzag4x4[i]];
        c = (c + (c > 0 ? 1 : 0)) >> 1;
        int a = c < 0 ? -c : c;
        int l = bare_ >= 2 ? 0 : std::min(2047, (a * mf + f) >> qbits);
        lumaDc_[i] = static_cast<int16_t>(c < 0 ? -l : l);
    }
    cbpLuma_ = anyAc ? 15 : 0;
    // reconstruction
    int cm[16], fm[16], dcY[16];
    for (int i = 0; i < 16; ++i) cm[kZigzag4x4[i]] = lumaDc_[i];
    Hadamard4x4(cm, fm);
    const int ls = 16 * kDequantV[qp_ % 6][0];
    for (int i = 0; i < 16; ++i) {
        if (qp_ >= 36)
            dcY[i] = (fm[i] * ls) << (qp_ / 6 - 6);
        else
            dcY[i] = (fm[i] * ls + (1 << (5 - qp_ / 6))) >> (6 - qp_ / 6);
    }
    for (int b = 0; b < 16; ++b) {
        const int ox = kBlkX[b] * 4, oy = kBlkY[b] * 4;
        const int dc = dcY[kBlkY[b] * 4 + kBlkX[b]];
        if (cbpLuma_ && lumaNz_[b]) {
            int16_t dq[16];
            Dequant4x4(lumaLv_[b], dq, qp_, 1);
            dq[0] = static_cast<int16_t>(dc);
            Idct4x4Add(rec + oy * rs + ox, rs, predY_ + oy * 16 + ox, 16, dq);
        } else {
            IdctDcAdd(rec + oy * rs + ox, rs, predY_ + oy * 16 + ox, 16, dc);
        }
    }
}

// Encodes the luma as Intra4x4 with mode decision; returns the decision cost.
// Gives up early (returning a large cost) once the cost exceeds bestSoFar.
int MbCoder::EncodeI4(int mbx, int mby, int nModes, int bestSoFar) {
    Picture& r = rec_[cur_];
    const int rs = r.y.stride;
    const int ss = src_.y.stride;
    const int w4 = mbW_ * 4;
    int total = 6 * lambda_;
    cbpLuma_ = 0;
    for (int b = 0; b < 16; ++b) {
        const int bx = kBlkX[b], by = kBlkY[b];
        const int x4 = mbx * 4 + bx, y4 = mby * 4 + by;
        uint8_t* rec = r.y.At(x4 * 4, y4 * 4);
        const uint8_t* src = src_.y.At(x4 * 4, y4 * 4);
        const bool left = x4 > 0, top = y4 > sliceTop_ * 4;
        bool topRight;
        if (by == 0)
            topRight = bx < 3 ? HasTop(mby) : (HasTop(mby) && mbx < mbW_ - 1);
        else
            topRight = !(b == 3 || b == 7 || b == 11 || b == 13 || b == 15);
        uint8_t edge[13];
        BuildI4Edge(rec, rs, top, left, topRight, edge);
        int predMode = 2;
        if (left && top) {
            int a = i4Mode_[static_cast<size_t>(y4 * w4 + x4 - 1)];
            int t = i4Mode_[static_cast<size_t>((y4 - 1) * w4 + x4)];
            if (a < 0) a = 2;
            if (t < 0) t = 2;
            predMode = std::min(a, t);
        }
        int bestMode = 2, bestCost = 1 << 30;
        // modes in number order: V, H, DC first, then the diagonal ones
        for (int m = 0; m < 9; ++m) {
            if (m >= nModes && m != predMode) continue;
            if (!I4ModeAvailable(m, top, left)) continue;
            PredIntra4(m, edge, top, left, tmp_, 4);
            int c = Satd4x4(src, ss, tmp_, 4) + lambda_ * (m == predMode ? 1 : 4);
            if (c < bestCost) {
                bestCost = c;
                bestMode = m;
            }
        }
        total += bestCost;
        i4Modes_[b] = bestMode;
        i4Mode_[static_cast<size_t>(y4 * w4 + x4)] = static_cast<int8_t>(bestMode);
        PredIntra4(bestMode, edge, top, left, tmp_, 4);
        int16_t coef[16];
        Fdct4x4(coef, src, ss, tmp_, 4);
        lumaNz_[b] = static_cast<uint8_t>(Quant4x4(coef, lumaLv_[b], qp_, true, 0));
        if (lumaNz_[b]) {
            int16_t dq[16];
            Dequant4x4(lumaLv_[b], dq, qp_, 0);
            Idct4x4Add(rec, rs, tmp_, 4, dq);
            cbpLuma_ |= 1 << (b >> 2);
        } else {
            Copy4x4(rec, rs, tmp_, 4);
        }
        if (total > bestSoFar) return 1 << 30;
    }
    return total;
}

// The best chroma intra prediction (both planes) by SATD plus its mode's
// cost; its mode goes to *pMode.
int MbCoder::BestChromaMode(int mbx, int mby, int* pMode) {
    Picture& r = rec_[cur_];
    const bool top = HasTop(mby), left = mbx > 0;
    const uint8_t* ru = r.u.At(mbx * 8, mby * 8);
    const uint8_t* rv = r.v.At(mbx * 8, mby * 8);
    const uint8_t* su = src_.u.At(mbx * 8, mby * 8);
    const uint8_t* sv = src_.v.At(mbx * 8, mby * 8);
    alignas(16) uint8_t pu[64], pv[64];
    int best = 1 << 30;
    *pMode = 0;
    for (int m = 0; m < 4; ++m) {
        if ((m == 1 && !left) || (m == 2 && !top) || (m == 3 && !(top && left))) continue;
        PredChroma8(m, ru, r.u.stride, top, left, pu);
        PredChroma8(m, rv, r.v.stride, top, left, pv);
        const int c = Satd8x8(su, src_.u.stride, pu, 8) + Satd8x8(sv, src_.v.stride, pv, 8) + lambda_ * (m == 0 ? 1 : 3);
        if (c < best) {
            best = c;
            *pMode = m;
        }
    }
    return best;
}

void MbCoder::ChooseChromaMode(int mbx, int mby) {
    BestChromaMode(mbx, mby, &chromaMode_);
    Picture& r = rec_[cur_];
    const bool top = HasTop(mby), left = mbx > 0;
    PredChroma8(chromaMode_, r.u.At(mbx * 8, mby * 8), r.u.stride, top, left, predU_);
    PredChroma8(chromaMode_, r.v.At(mbx * 8, mby * 8), r.v.stride, top, left, predV_);
}

// The chroma DC levels of a plane: the 2x2 transform of the blocks' DC
// coefficients, quantised (factor mf, rounding f, qbits) and capped at 2047.
// True when any level is not 0.
static bool QuantChromaDc(const int16_t dc[4], int16_t levels[4], int mf, int f, int qbits) {
#if defined(__SSE2__)
    // a = d0 + d1, b = d2 + d3, c = d0 - d1, e = d2 - d3: levels of a + b, c + e, a - b, c - e
    const __m128i d16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dc));
    const __m128i d = _mm_srai_epi32(_mm_unpacklo_epi16(d16, d16), 16);
    const __m128i sw = _mm_shuffle_epi32(d, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i sum = _mm_add_epi32(d, sw), dif = _mm_sub_epi32(d, sw); // a a b b, c -c e -e
    const __m128i x = _mm_unpacklo_epi32(sum, dif), y = _mm_unpackhi_epi32(sum, dif); // a c a -c, b e b -e
    const __m128i t = _mm_unpacklo_epi64(_mm_add_epi32(x, y), _mm_sub_epi32(x, y));
    const __m128i sign = _mm_srai_epi32(t, 31);
    const __m128i a = _mm_sub_epi32(_mm_xor_si128(t, sign), sign); // at most 4 * 16 * 255: 16 bits
    const __m128i a16 = _mm_packs_epi32(a, a), m = _mm_set1_epi16(static_cast<int16_t>(mf));
    const __m128i prod = _mm_unpacklo_epi16(_mm_mullo_epi16(a16, m), _mm_mulhi_epu16(a16, m));
    const __m128i l = _mm_srl_epi32(_mm_add_epi32(prod, _mm_set1_epi32(f)), _mm_cvtsi32_si128(qbits));
    const __m128i l16 = _mm_min_epi16(_mm_packs_epi32(l, l), _mm_set1_epi16(2047));
    const __m128i s16 = _mm_packs_epi32(sign, sign);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(levels), _mm_sub_epi16(_mm_xor_si128(l16, s16), s16));
    return (_mm_movemask_epi8(_mm_cmpeq_epi16(l16, _mm_setzero_si128())) & 0xFF) != 0xFF;
#else
    const int t[4] = {dc[0] + dc[1] + dc[2] + dc[3], dc[0] - dc[1] + dc[2] - dc[3], dc[0] + dc[1] - dc[2] - dc[3],
                      dc[0] - dc[1] - dc[2] + dc[3]};
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        const int a = t[i] < 0 ? -t[i] : t[i];
        const int l = std::min(2047, (a * mf + f) >> qbits);
        levels[i] = static_cast<int16_t>(t[i] < 0 ? -l : l);
        any |= l != 0;
    }
    return any;
#endif
}

void MbCoder::EncodeChroma(int mbx, int mby, bool intra) {
    Picture& r = rec_[cur_];
    const int qpc = kChromaQp[qp_];
    const int qbits = 16 + qpc / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int mf = kQuantMf[qpc % 6][0];
    bool anyAc = false, anyDc = false;
    for (int pl = 0; pl < 2; ++pl) {
        const Plane& sp = pl ? src_.v : src_.u;
        const uint8_t* src = sp.At(mbx * 8, mby * 8);
        const uint8_t* pred = pl ? predV_ : predU_;
        int16_t dc[4];
        int score = 0;
        // the blocks' counts, block b's in byte b
        uint32_t counts = static_cast<uint32_t>(FdctQuantAc8x8(chromaAc_[pl], dc, src, sp.stride, pred, 8, qpc, intra));
        if (!intra)
            for (int b = 0; b < 4; ++b)
                if ((counts >> (8 * b)) & 0xFFu) score += DecimateScore(chromaAc_[pl][b] + 1, 15);
        if (counts && ((!intra && score < 7) || bare_)) {
            for (int b = 0; b < 4; ++b)
                if ((counts >> (8 * b)) & 0xFFu) std::memset(chromaAc_[pl][b], 0, sizeof(chromaAc_[pl][b]));
            counts = 0;
        }
        for (int b = 0; b < 4; ++b) chromaAcNz_[pl][b] = static_cast<uint8_t>(counts >> (8 * b));
        anyAc |= counts != 0;
        if (bare_ >= 2) std::memset(chromaDc_[pl], 0, sizeof(chromaDc_[pl]));
        else anyDc |= QuantChromaDc(dc, chromaDc_[pl], mf, f, qbits);
    }
    cbpChroma_ = anyAc ? 2 : (anyDc ? 1 : 0);
    const int v0 = kDequantV[qpc % 6][0];
    for (int pl = 0; pl < 2; ++pl) {
        Plane& rp = pl ? r.v : r.u;
        uint8_t* rec = rp.At(mbx * 8, mby * 8);
        const uint8_t* pred = pl ? predV_ : predU_;
        const int16_t* c = chromaDc_[pl];
        const int fdc[4] = {c[0] + c[1] + c[2] + c[3], c[0] - c[1] + c[2] - c[3], c[0] + c[1] - c[2] - c[3],
                            c[0] - c[1] - c[2] + c[3]};
        // blocks 2k and 2k + 1 side by side: a pair with AC levels in either
        // is reconstructed in one call (a DC-only block's coefficients are
        // its DC and zeros, where the DC fits the coefficients' 16 bits)
        const bool anyAcHere = cbpChroma_ == 2;
        for (int b = 0; b < 4; b += 2) {
            const int oy = (b >> 1) * 4;
            uint8_t* d = rec + oy * rp.stride;
            const uint8_t* p = pred + oy * 8;
            const int dc0 = ((fdc[b] * v0) << (qpc / 6)) >> 1, dc1 = ((fdc[b + 1] * v0) << (qpc / 6)) >> 1;
            const bool ac0 = anyAcHere && chromaAcNz_[pl][b], ac1 = anyAcHere && chromaAcNz_[pl][b + 1];
            if (!(ac0 || ac1)) {
                IdctDcAdd(d, rp.stride, p, 8, dc0);
                IdctDcAdd(d + 4, rp.stride, p + 4, 8, dc1);
                continue;
            }
            alignas(32) int16_t dq[2][16];
            if ((ac0 || dc0 == static_cast<int16_t>(dc0)) && (ac1 || dc1 == static_cast<int16_t>(dc1))) {
                if (ac0) Dequant4x4(chromaAc_[pl][b], dq[0], qpc, 1);
                else std::memset(dq[0], 0, sizeof(dq[0]));
                if (ac1) Dequant4x4(chromaAc_[pl][b + 1], dq[1], qpc, 1);
                else std::memset(dq[1], 0, sizeof(dq[1]));
                dq[0][0] = static_cast<int16_t>(dc0);
                dq[1][0] = static_cast<int16_t>(dc1);
                Idct8x4Add(d, rp.stride, p, 8, dq[0], dq[1]);
                continue;
            }
            for (int k = 0; k < 2; ++k) {
                const int dc = k ? dc1 : dc0;
                if (k ? ac1 : ac0) {
                    Dequant4x4(chromaAc_[pl][b + k], dq[k], qpc, 1);
                    dq[k][0] = static_cast<int16_t>(dc);
                    Idct4x4Add(d + 4 * k, rp.stride, p + 4 * k, 8, dq[k]);
                } else {
                    IdctDcAdd(d + 4 * k, rp.stride, p + 4 * k, 8, dc);
                }
            }
        }
    }
}

void MbCoder::EncodeIntraMb(int mbx, int mby, bool pSlice, int i4Modes, int knownI16Mode) {
    int mode16 = knownI16Mode;
    int cost16 = knownI16Mode >= 0 && i4Modes == 0 ? 0 : BestI16(mbx, mby, &mode16);
    int kind = kMbI16;
    if (i4Modes > 0 && !bare_) {
        int cost4 = EncodeI4(mbx, mby, i4Modes, cost16);
        if (cost4 < cost16) kind = kMbI4;
    }
    if (kind == kMbI16) {
        i16Mode_ = mode16;
        EncodeI16Luma(mbx, mby);
    }
    ChooseChromaMode(mbx, mby);
    EncodeChroma(mbx, mby, true);
    StoreMbState(mbx, mby, kind, 0, 0);
    WriteMb(mbx, mby, kind, pSlice, 0, 0);
}

// ---------------------------------------------------------------------------
// Inter macroblocks

// The vector of the 8x8 block holding 4x4 block (x4, y4), counted from the
// macroblock's top-left (-1..4 across, -1..3 down). False where that block
// is outside the picture or not coded yet: own's blocks (the macroblock being
// decided) count where their bit is set in done. Intra blocks are there with
// no reference (ref -1) and a zero vector.
bool MbCoder::Neighbour(int mbx, int mby, int x4, int y4, int done, const int16_t* own, int* ref,
                        const int16_t** mv) const {
    static const int16_t kZero[2] = {0, 0};
    *ref = -1;
    *mv = kZero;
    const int blk = ((y4 & 3) >> 1) * 2 + ((x4 & 3) >> 1);
    const int nx = mbx + (x4 < 0 ? -1 : (x4 > 3 ? 1 : 0)), ny = mby + (y4 < 0 ? -1 : 0);
    if (nx == mbx && ny == mby) {
        if (!(done & (1 << blk))) return false;
        *ref = 0;
        *mv = own + 2 * blk;
        return true;
    }
    if (nx < 0 || nx >= mbW_ || ny < sliceTop_ || (ny == mby && nx > mbx)) return false;
    const size_t nb = static_cast<size_t>(ny * mbW_ + nx);
    if (!mbIntra_[nb]) {
        *ref = 0;
        *mv = &mv_[nb * 8 + static_cast<size_t>(blk) * 2];
    }
    return true;
}

static inline int Median3(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Predicted vector of a partition w4 4x4 blocks wide at (x4, y4); shape is
// the macroblock's kind (kMbP16 for 16x16) and part the partition's index.
void MbCoder::PredictPartMv(int mbx, int mby, int x4, int y4, int w4, int shape, int part, int done,
                            const int16_t* own, int* px, int* py) const {
    int rA, rB, rC;
    const int16_t *a, *b, *c;
    const bool avA = Neighbour(mbx, mby, x4 - 1, y4, done, own, &rA, &a);
    const bool avB = Neighbour(mbx, mby, x4, y4 - 1, done, own, &rB, &b);
    bool avC = Neighbour(mbx, mby, x4 + w4, y4 - 1, done, own, &rC, &c);
    if (!avC) avC = Neighbour(mbx, mby, x4 - 1, y4 - 1, done, own, &rC, &c);
    const int16_t* pick = nullptr;
    if (shape == kMbP16x8) pick = part == 0 ? (rB == 0 ? b : nullptr) : (rA == 0 ? a : nullptr);
    else if (shape == kMbP8x16) pick = part == 0 ? (rA == 0 ? a : nullptr) : (rC == 0 ? c : nullptr);
    if (!pick) {
        if (!avB && !avC && avA) {
            rB = rC = rA;
            b = c = a;
        }
        const int matches = (rA == 0) + (rB == 0) + (rC == 0);
        if (matches == 1) pick = rA == 0 ? a : (rB == 0 ? b : c);
    }
    if (pick) {
        *px = pick[0];
        *py = pick[1];
    } else {
        *px = Median3(a[0], b[0], c[0]);
        *py = Median3(a[1], b[1], c[1]);
    }
}

void MbCoder::PredictSkipMv(int mbx, int mby, int* px, int* py, bool* pred) const {
    int rA, rB;
    const int16_t *a, *b;
    const bool avA = Neighbour(mbx, mby, -1, 0, 0, nullptr, &rA, &a);
    const bool avB = Neighbour(mbx, mby, 0, -1, 0, nullptr, &rB, &b);
    if (!avA || !avB || (rA == 0 && a[0] == 0 && a[1] == 0) || (rB == 0 && b[0] == 0 && b[1] == 0)) {
        *px = *py = 0;
        if (pred) *pred = false;
        return;
    }
    PredictMv(mbx, mby, px, py);
    if (pred) *pred = true;
}

MbCoder::MvBox MbCoder::MvBounds(int mbx, int mby) const {
    // the block's full-sample position mb * 16 + (mv >> 2) in [-kPadY + 4, size + kPadY - 24]
    const int px = mbx * 16, py = mby * 16;
    return MvBox{std::max(-8192, 4 * (-kPadY + 4 - px)), std::min(8191, 4 * (wp_ + kPadY - 24 - px) + 3),
                 std::max(-mvYLimit_, 4 * (-kPadY + 4 - py)), std::min(mvYLimit_ - 1, 4 * (hp_ + kPadY - 24 - py) + 3)};
}

// Averages two predictions of a w x h block (w 8 or 16, h 8 or 16) into dst (stride 16).
static void AvgBlock(uint8_t* dst, const uint8_t* a, const uint8_t* b, int s, int w, int h) {
    if (w == 16 && h == 16) {
        Avg16x16(dst, 16, a, b, s);
        return;
    }
#if defined(__SSE2__)
    for (int y = 0; y < h; ++y, dst += 16, a += s, b += s) {
        if (w == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                             _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst),
                             _mm_avg_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))));
        }
    }
#else
    for (int y = 0; y < h; ++y, dst += 16, a += s, b += s)
        for (int x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
#endif
}

// The luma prediction at a vector with a fraction of a sample (LumaPred's
// other case): a pointer at the block's top-left sample in a half-sample
// plane (the reference's stride) or, at quarter-sample positions, in tmp
// (stride 16).
const uint8_t* MbCoder::LumaPredSub(int mbx, int mby, int mx, int my, uint8_t* tmp, int* stride, int ox, int oy, int w,
                                    int h) {
    const int fx = mx & 3, fy = my & 3;
    const Plane& F = rec_[lastRec_].y;
    const int s = F.stride; // the half-sample planes have the reference's layout
    *stride = s;
    const ptrdiff_t off = static_cast<ptrdiff_t>(mby * 16 + oy + (my >> 2)) * s + (mbx * 16 + ox + (mx >> 2));
    const uint8_t* pF = F.p + off;
    enc_.EnsureHalfPlanes();
    const uint8_t* pH = halfH_.p + off;
    const uint8_t* pV = halfV_.p + off;
    const uint8_t* pJ = halfJ_.p + off;
    const uint8_t* a = nullptr;
    const uint8_t* b = nullptr;
    switch (fy * 4 + fx) {
    case 2: return pH;
    case 8: return pV;
    case 10: return pJ;
    case 1: a = pF; b = pH; break;
    case 3: a = pF + 1; b = pH; break;
    case 4: a = pF; b = pV; break;
    case 12: a = pF + s; b = pV; break;
    case 6: a = pH; b = pJ; break;
    case 14: a = pH + s; b = pJ; break;
    case 9: a = pV; b = pJ; break;
    case 11: a = pV + 1; b = pJ; break;
    case 5: a = pH; b = pV; break;
    case 7: a = pH; b = pV + 1; break;
    case 13: a = pV; b = pH + s; break;
    default: a = pV + 1; b = pH + s; break; // 15
    }
    AvgBlock(tmp, a, b, s, w, h);
    *stride = 16;
    return tmp;
}

void MbCoder::ChromaPred(int mbx, int mby, int mx, int my) {
    const Picture& ref = rec_[lastRec_];
    const int dx = mx & 7, dy = my & 7;
    const int cx = mbx * 8 + (mx >> 3), cy = mby * 8 + (my >> 3);
    for (int pl = 0; pl < 2; ++pl) {
        const Plane& p = pl ? ref.v : ref.u;
        const uint8_t* s = p.At(cx, cy);
        uint8_t* d = pl ? predV_ : predU_;
        const int st = p.stride;
        Kern().chromaMc8x8(d, 8, s, st, dx, dy);
    }
}

// Searches the vector of the block of size bs at (ox, oy) in the macroblock
// (the whole macroblock by default). For a block, seed is the macroblock's
// full-pel vector: the search starts there, at zero and at the predictor.
void MbCoder::MotionSearch(int mbx, int mby, int pmx, int pmy, int* bmx, int* bmy, int ox, int oy, BlockSize bs,
                           const int* seed) {
    const uint8_t* src = src_.y.At(mbx * 16 + ox, mby * 16 + oy);
    const int ss = src_.y.stride;
    const Plane& F = rec_[lastRec_].y;
    const PixelCostFn sad = Kern().sad[bs];
    const int px = mbx * 16, py = mby * 16;
    const int xmin = std::max(-kPadY + 4 - px, -2048), xmax = std::min(wp_ + kPadY - 24 - px, 2047);
    const int ymin = std::max(-kPadY + 4 - py, -mvYLimit_ / 4), ymax = std::min(hp_ + kPadY - 24 - py, mvYLimit_ / 4 - 1);
    // The descents and the hexagon come back to points already measured: each
    // point's cost is remembered (open addressing, room for the usual search).
    constexpr int kSlots = 128, kMaxRemembered = 96;
    uint32_t seenKey[kSlots] = {};
    int seenCost[kSlots];
    int remembered = 0;
    auto cost = [&](int x, int y) {
        const uint32_t key = (static_cast<uint32_t>(x + 4096) << 13) | static_cast<uint32_t>(y + 4096); // never 0
        uint32_t h = (key * 2654435761u) >> 25;
        while (seenKey[h]) {
            if (seenKey[h] == key) return seenCost[h];
            h = (h + 1) & (kSlots - 1);
        }
        const int c = sad(src, ss, F.At(px + ox + x, py + oy + y), F.stride) + MvBits(4 * x - pmx, 4 * y - pmy);
        if (remembered < kMaxRemembered) {
            seenKey[h] = key;
            seenCost[h] = c;
            ++remembered;
        }
        return c;
    };
    // integer candidates: the predictor, zero, the neighbours' vectors
    int cx = Clip3(xmin, xmax, (pmx + 2) >> 2), cy = Clip3(ymin, ymax, (pmy + 2) >> 2);
    int best = cost(cx, cy);
    auto tryPt = [&](int x, int y) {
        if (x < xmin || x > xmax || y < ymin || y > ymax) return false;
        int c = cost(x, y);
        if (c < best) {
            best = c;
            cx = x;
            cy = y;
            return true;
        }
        return false;
    };
    int cand[9][2];
    int nCand = 0;
    auto addCand = [&](int x, int y) {
        x = Clip3(xmin, xmax, x);
        y = Clip3(ymin, ymax, y);
        for (int k = 0; k < nCand; ++k)
            if (cand[k][0] == x && cand[k][1] == y) return;
        cand[nCand][0] = x;
        cand[nCand][1] = y;
        ++nCand;
    };
    addCand(cx, cy);
    addCand(0, 0);
    if (seed) addCand(seed[0], seed[1]);
    if (!seed) { // a block of a macroblock starts from the macroblock's vector instead
        int rA, rB, rC;
        const int16_t *a, *b, *c;
        Neighbour(mbx, mby, -1, 0, 0, nullptr, &rA, &a);
        Neighbour(mbx, mby, 0, -1, 0, nullptr, &rB, &b);
        if (!Neighbour(mbx, mby, 4, -1, 0, nullptr, &rC, &c)) Neighbour(mbx, mby, -1, -1, 0, nullptr, &rC, &c);
        if (rA == 0) addCand((a[0] + 2) >> 2, (a[1] + 2) >> 2);
        if (rB == 0) addCand((b[0] + 2) >> 2, (b[1] + 2) >> 2);
        if (rC == 0) addCand((c[0] + 2) >> 2, (c[1] + 2) >> 2);
        // the previous picture's vectors here and to the right/below (not yet
        // overwritten in this picture) follow objects that keep moving
        const int mb = mby * mbW_ + mbx;
        const int later[3] = {mb, mbx + 1 < mbW_ ? mb + 1 : -1, mby + 1 < sliceEnd_ ? mb + mbW_ : -1};
        for (int k : later) {
            if (k < 0 || !prevWasP_) continue;
            const int16_t* t = &mv_[static_cast<size_t>(k) * 8];
            addCand((t[0] + 2) >> 2, (t[1] + 2) >> 2);
        }
    }
    // a small-diamond descent from every candidate: slow motion (a sample or
    // two per picture) is found next to the zero vector, where the larger
    // patterns below step over it
    for (int k = 0; k < nCand; ++k) {
        int x = cand[k][0], y = cand[k][1];
        int c = (x == cx && y == cy) ? best : cost(x, y);
        if (c < best) {
            best = c;
            cx = x;
            cy = y;
        }
        for (int it = 0; it < 8; ++it) {
            static const int kDia[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
            int bx = x, by = y;
            for (const auto& d : kDia) {
                const int nx = x + d[0], ny = y + d[1];
                if (nx < xmin || nx > xmax || ny < ymin || ny > ymax) continue;
                const int cc = cost(nx, ny);
                if (cc < c) {
                    c = cc;
                    bx = nx;
                    by = ny;
                }
            }
            if (bx == x && by == y) break;
            x = bx;
            y = by;
        }
        if (c < best) {
            best = c;
            cx = x;
            cy = y;
        }
    }
    const int sx = cx, sy = cy;
    if (seed) {
        // a block of a macroblock: the descents around the macroblock's vector suffice
    } else if (sp_.hexSearch) {
        static const int kHex[6][2] = {{-2, 0}, {-1, -2}, {1, -2}, {2, 0}, {1, 2}, {-1, 2}};
        for (int it = 0; it < sp_.range; ++it) {
            const int bx = cx, by = cy;
            for (int k = 0; k < 6; ++k) tryPt(bx + kHex[k][0], by + kHex[k][1]);
            if (bx == cx && by == cy) break;
            if (std::abs(cx - sx) > sp_.range * 2 || std::abs(cy - sy) > sp_.range * 2) break;
        }
        const int bx = cx, by = cy;
        const int r = sp_.refineRadius;
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                if (dx || dy) tryPt(bx + dx, by + dy);
    } else {
        for (int it = 0; it < sp_.range; ++it) {
            const int bx = cx, by = cy;
            tryPt(bx - 1, by);
            tryPt(bx + 1, by);
            tryPt(bx, by - 1);
            tryPt(bx, by + 1);
            if (bx == cx && by == cy) break;
        }
    }
    int mx = cx * 4, my = cy * 4;
    if (sp_.subpel > 0) {
        const int bw = bs == kBlock8x16 || bs == kBlock8x8 ? 8 : 16, bh = bs == kBlock16x8 || bs == kBlock8x8 ? 8 : 16;
        const MvBox box = MvBounds(mbx, mby);
        auto subCost = [&](int x, int y) {
            int st;
            const uint8_t* p = LumaPred(mbx, mby, x, y, tmp2_, &st, ox, oy, bw, bh);
            int d = sp_.satdSubpel ? Kern().satd[bs](src, ss, p, st) : sad(src, ss, p, st);
            return d + MvBits(x - pmx, y - pmy);
        };
        int bestSub = sp_.satdSubpel ? subCost(mx, my) : best;
        // A block of a macroblock stops at half samples: the 16x8 and 8x16
        // halves made of its vectors are refined by a quarter sample, and
        // the blocks' own quarter step took a tenth of the encoding time.
        const int lastStep = sp_.subpel >= 2 && !seed ? 1 : 2;
        for (int step = 2; step >= lastStep; step >>= 1) {
            const int bx = mx, by = my;
            for (int dy = -step; dy <= step; dy += step) {
                for (int dx = -step; dx <= step; dx += step) {
                    if (!dx && !dy) continue;
                    const int x = bx + dx, y = by + dy;
                    if (!box.Holds(x, y)) continue;
                    int c = subCost(x, y);
                    if (c < bestSub) {
                        bestSub = c;
                        mx = x;
                        my = y;
                    }
                }
            }
        }
    }
    *bmx = mx;
    *bmy = my;
}

// Tries the macroblock as four 8x8 blocks, and where that beats the single
// vector (mx16, my16) whose cost is cost16, as two 16x8 and two 8x16 halves,
// each half starting from the best of the 8x8 vectors in it and the single
// one, refined by a quarter sample.
// Costs are the distortion of the decisions plus lambda times the bits of
// the vector differences and of the macroblock type beyond a 16x16 one.
// Returns the cost of the best partitioning, described in partKind_,
// partMv_ and partMvd_.
int MbCoder::SearchPartitions(int mbx, int mby, int cost16, int mx16, int my16) {
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const int ss = src_.y.stride;
    auto dist = [&](BlockSize bs, int ox, int oy, int mx, int my) {
        int st;
        const uint8_t* p = LumaPred(mbx, mby, mx, my, tmp2_, &st, ox, oy, bs == kBlock8x16 || bs == kBlock8x8 ? 8 : 16,
                                    bs == kBlock16x8 || bs == kBlock8x8 ? 8 : 16);
        const uint8_t* q = src + oy * ss + ox;
        return sp_.satdDecisions ? Kern().satd[bs](q, ss, p, st) : Kern().sad[bs](q, ss, p, st);
    };
    const int seed[2] = {(mx16 + 2) >> 2, (my16 + 2) >> 2};
    int16_t mv8[8];
    int mvd8[4][2];
    int cost8 = 6 * lambda_; // mb_type 3 and four sub_mb_type 0: six bits more than a 16x16
    for (int k = 0, done = 0; k < 4; ++k) {
        const int ox = (k & 1) * 8, oy = (k >> 1) * 8;
        int pmx, pmy, bx, by;
        PredictPartMv(mbx, mby, ox / 4, oy / 4, 2, kMbP8x8, k, done, mv8, &pmx, &pmy);
        MotionSearch(mbx, mby, pmx, pmy, &bx, &by, ox, oy, kBlock8x8, seed);
        cost8 += dist(kBlock8x8, ox, oy, bx, by) + MvBits(bx - pmx, by - pmy);
        mv8[2 * k] = static_cast<int16_t>(bx);
        mv8[2 * k + 1] = static_cast<int16_t>(by);
        mvd8[k][0] = bx - pmx;
        mvd8[k][1] = by - pmy;
        done |= 1 << k;
        // the blocks' costs only add up: once behind the single vector, the
        // 8x8 blocks cannot win, and the halves are tried only where they do
        if (cost8 >= cost16) return INT32_MAX / 2;
    }
    int best = cost8;
    partKind_ = kMbP8x8;
    std::memcpy(partMv_, mv8, sizeof(partMv_));
    std::memcpy(partMvd_, mvd8, sizeof(partMvd_));
    // halves: 16x8 (blocks 0,1 and 2,3) and 8x16 (blocks 0,2 and 1,3)
    for (int shape : {kMbP16x8, kMbP8x16}) {
        const bool wide = shape == kMbP16x8;
        const BlockSize bs = wide ? kBlock16x8 : kBlock8x16;
        int16_t mv[8];
        int mvd[2][2];
        int cost = 2 * lambda_; // mb_type 1 or 2: two bits more than a 16x16
        for (int part = 0, done = 0; part < 2; ++part) {
            const int b0 = wide ? 2 * part : part, b1 = wide ? b0 + 1 : b0 + 2;
            const int ox = wide ? 0 : 8 * part, oy = wide ? 8 * part : 0;
            int pmx, pmy;
            PredictPartMv(mbx, mby, ox / 4, oy / 4, wide ? 4 : 2, shape, part, done, mv, &pmx, &pmy);
            const int cand[3][2] = {{mv8[2 * b0], mv8[2 * b0 + 1]}, {mv8[2 * b1], mv8[2 * b1 + 1]}, {mx16, my16}};
            int bc = INT32_MAX, bx = 0, by = 0;
            for (int i = 0; i < 3; ++i) {
                if (i && cand[i][0] == cand[0][0] && cand[i][1] == cand[0][1]) continue;
                if (i == 2 && cand[2][0] == cand[1][0] && cand[2][1] == cand[1][1]) continue;
                const int c = dist(bs, ox, oy, cand[i][0], cand[i][1]) + MvBits(cand[i][0] - pmx, cand[i][1] - pmy);
                if (c < bc) {
                    bc = c;
                    bx = cand[i][0];
                    by = cand[i][1];
                }
            }
            // quarter-sample steps around it (its candidates come from searches
            // that refined them in half and quarter samples already)
            if (sp_.subpel >= 2) {
                const MvBox box = MvBounds(mbx, mby);
                {
                    const int step = 1, cx = bx, cy = by;
                    for (int dy = -step; dy <= step; dy += step)
                        for (int dx = -step; dx <= step; dx += step) {
                            const int x = cx + dx, y = cy + dy;
                            if ((!dx && !dy) || !box.Holds(x, y)) continue;
                            const int c = dist(bs, ox, oy, x, y) + MvBits(x - pmx, y - pmy);
                            if (c < bc) {
                                bc = c;
                                bx = x;
                                by = y;
                            }
                        }
                }
            }
            cost += bc;
            for (int b : {b0, b1}) {
                mv[2 * b] = static_cast<int16_t>(bx);
                mv[2 * b + 1] = static_cast<int16_t>(by);
                done |= 1 << b;
            }
            mvd[part][0] = bx - pmx;
            mvd[part][1] = by - pmy;
        }
        if (cost < best) {
            best = cost;
            partKind_ = shape;
            std::memcpy(partMv_, mv, sizeof(partMv_));
            std::memcpy(partMvd_, mvd, sizeof(mvd));
        }
    }
    return best;
}

// The luma and chroma prediction of the partitioned macroblock (partMv_).
void MbCoder::PartitionPred(int mbx, int mby) {
    const Picture& ref = rec_[lastRec_];
    alignas(16) uint8_t cmc[64];
    for (int k = 0; k < 4; ++k) {
        const int mx = partMv_[2 * k], my = partMv_[2 * k + 1];
        const int ox = (k & 1) * 8, oy = (k >> 1) * 8;
        int st;
        const uint8_t* p = LumaPred(mbx, mby, mx, my, tmp_, &st, ox, oy, 8, 8);
        for (int y = 0; y < 8; ++y) std::memcpy(predY_ + (oy + y) * 16 + ox, p + y * st, 8);
        const int cx = mbx * 8 + (mx >> 3), cy = mby * 8 + (my >> 3);
        for (int pl = 0; pl < 2; ++pl) {
            const Plane& c = pl ? ref.v : ref.u;
            Kern().chromaMc8x8(cmc, 8, c.At(cx, cy), c.stride, mx & 7, my & 7);
            uint8_t* d = pl ? predV_ : predU_;
            for (int y = 0; y < 4; ++y) std::memcpy(d + (oy / 2 + y) * 8 + ox / 2, cmc + (oy / 2 + y) * 8 + ox / 2, 4);
        }
    }
}

void MbCoder::EncodeInterLuma(int mbx, int mby) {
    Picture& r = rec_[cur_];
    uint8_t* rec = r.y.At(mbx * 16, mby * 16);
    const int rs = r.y.stride;
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const int ss = src_.y.stride;
    int score8[4] = {0, 0, 0, 0};
    TransformInterLuma(lumaLv_, lumaNz_, src, ss, predY_, 16, qp_);
    const unsigned coded = NonZero16(lumaNz_); // bit b: block b has levels
    for (unsigned m = coded; m; m &= m - 1) {
        const int b = __builtin_ctz(m);
        score8[b >> 2] += DecimateScore(lumaLv_[b], 16);
    }
    const int total = score8[0] + score8[1] + score8[2] + score8[3];
    cbpLuma_ = 0;
    for (int i8 = 0; i8 < 4; ++i8) {
        const unsigned blocks = (coded >> (4 * i8)) & 15u;
        if (!blocks) continue;
        if (total < 6 || score8[i8] < 4 || bare_) {
            for (unsigned m = blocks; m; m &= m - 1) {
                const int b = i8 * 4 + __builtin_ctz(m);
                std::memset(lumaLv_[b], 0, sizeof(lumaLv_[b]));
                lumaNz_[b] = 0;
            }
        } else {
            cbpLuma_ |= 1 << i8;
        }
    }
    // blocks 2k and 2k + 1 sit side by side and are reconstructed in one
    // call (a block without levels has zero coefficients: its prediction)
    for (int b = 0; b < 16; b += 2) {
        const int ox = kBlkX[b] * 4, oy = kBlkY[b] * 4;
        uint8_t* d = rec + oy * rs + ox;
        const uint8_t* p = predY_ + oy * 16 + ox;
        if (!(lumaNz_[b] | lumaNz_[b + 1])) {
            Copy8x4(d, rs, p, 16);
            continue;
        }
        alignas(32) int16_t dq[2][16];
        for (int k = 0; k < 2; ++k) {
            if (lumaNz_[b + k]) Dequant4x4(lumaLv_[b + k], dq[k], qp_, 0);
            else std::memset(dq[k], 0, sizeof(dq[k]));
        }
        Idct8x4Add(d, rs, p, 16, dq[0], dq[1]);
    }
}

// The SAD and the sum of the differences (the DC coefficient of the
// forward transform) of each 4x4 block of an 8x8 chroma block, raster order.
static void ChromaBlockSums(const uint8_t* s, int ss, const uint8_t* p, int ps, int sad[4], int dc[4]) {
#if defined(__SSE2__)
    // unrolled, one store per array (as loops the rows' steps and the
    // sums' extraction were most of the work)
    const __m128i zero = _mm_setzero_si128();
    const auto rows = [](const uint8_t* q, std::ptrdiff_t qs) {
        // two rows, the left block's halves in the low eight bytes, the right block's in the high
        return _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + qs)));
    };
    const std::ptrdiff_t ss2 = ss, ps2 = ps;
    __m128i d[2], diff[2];
#pragma GCC unroll 2
    for (int r = 0; r < 2; ++r) {
        const __m128i a0 = rows(s + 4 * r * ss2, ss2), a1 = rows(s + (4 * r + 2) * ss2, ss2);
        const __m128i b0 = rows(p + 4 * r * ps2, ps2), b1 = rows(p + (4 * r + 2) * ps2, ps2);
        d[r] = _mm_add_epi64(_mm_sad_epu8(a0, b0), _mm_sad_epu8(a1, b1));
        diff[r] = _mm_sub_epi64(_mm_add_epi64(_mm_sad_epu8(a0, zero), _mm_sad_epu8(a1, zero)),
                                _mm_add_epi64(_mm_sad_epu8(b0, zero), _mm_sad_epu8(b1, zero)));
    }
    // the low 32 bits of each 64-bit sum, blocks in raster order
    const auto lows = [](__m128i top, __m128i bottom) {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(top), _mm_castsi128_ps(bottom), _MM_SHUFFLE(2, 0, 2, 0)));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sad), lows(d[0], d[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dc), lows(diff[0], diff[1]));
#else
    for (int b = 0; b < 4; ++b) {
        const int ox = (b & 1) * 4, oy = (b >> 1) * 4;
        sad[b] = dc[b] = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int e = s[(oy + y) * ss + ox + x] - p[(oy + y) * ps + ox + x];
                sad[b] += e < 0 ? -e : e;
                dc[b] += e;
            }
    }
#endif
}

// True where any of the four values is over bound.
static inline bool AnyOver4(const int v[4], int bound) {
#if defined(__SSE2__)
    return _mm_movemask_epi8(_mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), _mm_set1_epi32(bound))) != 0;
#else
    return v[0] > bound || v[1] > bound || v[2] > bound || v[3] > bound;
#endif
}

// True where a coefficient of the 2x2 transform of the four DC values is
// beyond +-top.
static inline bool DcTransformOver(const int dc[4], int top) {
#if defined(__SSE2__)
    // a = d0 + d1, b = d2 + d3, c = d0 - d1, e = d2 - d3; the transform is
    // a + b, c + e, a - b, c - e (the signs here do not matter)
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dc));
    const __m128i sw = _mm_shuffle_epi32(d, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i sum = _mm_add_epi32(d, sw), dif = _mm_sub_epi32(d, sw); // a a b b, c -c e -e
    const __m128i x = _mm_unpacklo_epi32(sum, dif), y = _mm_unpackhi_epi32(sum, dif); // a c a -c, b e b -e
    const __m128i t0 = _mm_add_epi32(x, y), t1 = _mm_sub_epi32(x, y);
    const __m128i hi = _mm_set1_epi32(top), lo = _mm_set1_epi32(-top);
    const __m128i out = _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi32(t0, hi), _mm_cmplt_epi32(t0, lo)),
                                     _mm_or_si128(_mm_cmpgt_epi32(t1, hi), _mm_cmplt_epi32(t1, lo)));
    return _mm_movemask_epi8(out) != 0;
#else
    const int t[4] = {dc[0] + dc[1] + dc[2] + dc[3], dc[0] - dc[1] + dc[2] - dc[3], dc[0] + dc[1] - dc[2] - dc[3],
                      dc[0] - dc[1] - dc[2] + dc[3]};
    for (int i = 0; i < 4; ++i)
        if (t[i] > top || t[i] < -top) return true;
    return false;
#endif
}

// True when coding the residual at this prediction would produce no
// coefficients (same quantiser and decimation as the real coding path).
bool MbCoder::SkipIsClean(int mbx, int mby, int mx, int my, const uint8_t* pred, int ps) {
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const int ss = src_.y.stride;
    // Most candidates that get here leave nothing: a block whose SAD cannot
    // leave a level needs no transform (ZeroBlockSad); the chroma DC levels
    // come from the blocks' sums of differences, and their AC levels need
    // the transform only where a block's SAD could leave one.
    int sad[16];
    Sad4x4x16(src, ss, pred, ps, sad);
    const int zeroSad = ZeroBlockSad(qp_, false);
    int total = 0;
    int16_t coef[4][16];
    // blocks side by side in pairs (a block under the bound quantises to
    // nothing all the same)
    const unsigned over = OverBound16(sad, zeroSad);
    for (unsigned pairs = (over | over >> 1) & 0x5555u; pairs; pairs &= pairs - 1) {
        const int i = __builtin_ctz(pairs);
        const int ox = (i & 3) * 4, oy = (i >> 2) * 4;
        const int n = FdctQuant8x4(coef[0], coef[1], src + oy * ss + ox, ss, pred + oy * ps + ox, ps, qp_, false);
        if (n & 0xFF) total += DecimateScore(coef[0], 16);
        if (n >> 8) total += DecimateScore(coef[1], 16);
        if (total >= 4) return false; // would survive decimation somewhere
    }
    ChromaPred(mbx, mby, mx, my);
    const int qpc = kChromaQp[qp_];
    const int zeroAc = ZeroBlockSad(qpc, false);
    const int zeroDc = ChromaDcZeroTop(qpc);
    for (int pl = 0; pl < 2; ++pl) {
        const Plane& sp = pl ? src_.v : src_.u;
        const uint8_t* cs = sp.At(mbx * 8, mby * 8);
        const uint8_t* cp = pl ? predV_ : predU_;
        alignas(16) int dc[4], bsad[4];
        ChromaBlockSums(cs, sp.stride, cp, 8, bsad, dc); // dc: the blocks' DC coefficients
        if (AnyOver4(bsad, zeroAc)) {
            int score = 0;
            int16_t dcs[4];
            const int counts = FdctQuantAc8x8(coef, dcs, cs, sp.stride, cp, 8, qpc, false);
            for (int b = 0; b < 4; ++b)
                if ((counts >> (8 * b)) & 0xFF) score += DecimateScore(coef[b] + 1, 15);
            if (score >= 7) return false;
        }
        if (DcTransformOver(dc, zeroDc)) return false;
    }
    return true;
}

void MbCoder::EncodePMb(int mbx, int mby, int* skipRun) {
    const uint8_t* src = src_.y.At(mbx * 16, mby * 16);
    const int ss = src_.y.stride;
    int smx, smy;
    bool skipIsPredicted;
    PredictSkipMv(mbx, mby, &smx, &smy, &skipIsPredicted);
    const bool skipOk = MvOk(mbx, mby, smx, smy);

    // p: the luma prediction at the skip vector; chroma: predU_ and predV_ hold its chroma
    auto finishSkip = [&](const uint8_t* p, int st, bool chroma) {
        Picture& r = rec_[cur_];
        Copy16x16(r.y.At(mbx * 16, mby * 16), r.y.stride, p, st);
        if (!chroma) ChromaPred(mbx, mby, smx, smy);
        Copy8x8(r.u.At(mbx * 8, mby * 8), r.u.stride, predU_, 8);
        Copy8x8(r.v.At(mbx * 8, mby * 8), r.v.stride, predV_, 8);
        std::memset(lumaNz_, 0, sizeof(lumaNz_)); // (as loops, a byte store at a time)
        std::memset(chromaAcNz_, 0, sizeof(chromaAcNz_));
        StoreMbState(mbx, mby, kMbSkip, smx, smy);
        ++*skipRun;
    };

    if (dropFrame_ && skipOk) {
        int st;
        const uint8_t* p = LumaPred(mbx, mby, smx, smy, tmp_, &st);
        finishSkip(p, st, false);
        return;
    }
    // early skip: the prediction at the skip vector leaves nothing to code
    int skipSad = -1;
    if (skipOk) {
        int st;
        const uint8_t* p = LumaPred(mbx, mby, smx, smy, tmp_, &st);
        skipSad = Sad16x16(src, ss, p, st);
        const int qstep16 = kDequantV[qp_ % 6][0] << (qp_ / 6); // about 16 * quantiser step
        if (skipSad * 2 < qstep16 * 8 && SkipIsClean(mbx, mby, smx, smy, p, st)) {
            finishSkip(p, st, true);
            return;
        }
    }

    int pmx, pmy;
    if (skipIsPredicted) {
        pmx = smx;
        pmy = smy;
    } else {
        PredictMv(mbx, mby, &pmx, &pmy);
    }
    int mx, my;
    MotionSearch(mbx, mby, pmx, pmy, &mx, &my);
    int st;
    const uint8_t* p = LumaPred(mbx, mby, mx, my, tmp_, &st);
    // decisions use SATD, or plain SAD at the fastest settings
    auto dist = [&](const uint8_t* q, int qs) { return sp_.satdDecisions ? Satd16x16(src, ss, q, qs) : Sad16x16(src, ss, q, qs); };
    int interSatd = dist(p, st);
    int interCost = interSatd + MvBits(mx - pmx, my - pmy);
    if (skipOk && !(mx == smx && my == smy)) {
        // a skip costs almost nothing; prefer it unless the search clearly wins
        int skipCost;
        if (sp_.satdDecisions) {
            int st2;
            const uint8_t* q = LumaPred(mbx, mby, smx, smy, tmp2_, &st2);
            skipCost = dist(q, st2) - 4 * lambda_;
        } else {
            skipCost = skipSad - 4 * lambda_; // measured above
        }
        if (skipCost <= interCost) {
            mx = smx;
            my = smy;
            interCost = skipCost + 4 * lambda_;
            p = LumaPred(mbx, mby, mx, my, tmp_, &st);
        }
    }

    // partitions, where the single vector leaves enough to gain: below
    // about 64 lambda they seldom win, and their search is a third of the
    // macroblock's time (at 96 lambda, sharp edges in HD lost 0.1 dB)
    int kind = kMbP16;
    if (sp_.partitions && !bare_ && interSatd > 64 * lambda_) {
        const int partCost = SearchPartitions(mbx, mby, interCost, mx, my);
        if (partCost < interCost) {
            kind = partKind_;
            interCost = partCost;
        }
    }
    if (kind == kMbP16) Copy16x16(predY_, 16, p, st); // p may live in scratch memory reused below
    else PartitionPred(mbx, mby);
    // Where SATD decides, the chroma counts too: a vector that predicts the
    // luma well may still miss the colours (colour edges moving otherwise
    // than the luma's vectors carry them, chroma drifting over a long GOP),
    // which intra prediction from the picture itself does not.
    const bool withChroma = sp_.satdDecisions && !bare_;
    int chromaInter = 0;
    if (withChroma) {
        if (kind == kMbP16) ChromaPred(mbx, mby, mx, my);
        chromaInter = Satd8x8(src_.u.At(mbx * 8, mby * 8), src_.u.stride, predU_, 8) +
                      Satd8x8(src_.v.At(mbx * 8, mby * 8), src_.v.stride, predV_, 8);
    }
    // Intra is worth a look even when inter looks fine: where an object has
    // just moved away, intra from clean neighbours often predicts the
    // uncovered background exactly while inter would drag artefacts along.
    if (interSatd + chromaInter > 2 * lambda_ && !bare_) {
        int mode16;
        int cost16 = (sp_.satdDecisions ? BestI16(mbx, mby, &mode16) : BestI16Sad(mbx, mby, &mode16)) + 2 * lambda_;
        if (withChroma) {
            int modeC;
            cost16 += BestChromaMode(mbx, mby, &modeC);
        }
        if (cost16 < interCost + chromaInter) {
            PutSkipRun(skipRun);
            EncodeIntraMb(mbx, mby, true, sp_.i4ModesP, mode16);
            return;
        }
    }

    if (kind == kMbP16 && !withChroma) ChromaPred(mbx, mby, mx, my);
    EncodeInterLuma(mbx, mby);
    EncodeChroma(mbx, mby, false);
    if (kind == kMbP16 && cbpLuma_ == 0 && cbpChroma_ == 0 && mx == smx && my == smy && skipOk) {
        // recon already equals the prediction
        StoreMbState(mbx, mby, kMbSkip, smx, smy);
        ++*skipRun;
        return;
    }
    PutSkipRun(skipRun);
    StoreMbState(mbx, mby, kind, mx, my);
    WriteMb(mbx, mby, kind, true, mx - pmx, my - pmy);
}

// ---------------------------------------------------------------------------
// Bitstream of a macroblock

void MbCoder::StoreMbState(int mbx, int mby, int kind, int mx, int my) {
    const size_t mb = static_cast<size_t>(mby * mbW_ + mbx);
    mbKind_[mb] = static_cast<uint8_t>(kind);
    mbIntra_[mb] = (kind == kMbI4 || kind == kMbI16) ? 1 : 0;
    const bool parts = kind == kMbP16x8 || kind == kMbP8x16 || kind == kMbP8x8;
    int16_t* v = mv_.data() + mb * 8;
    if (parts) {
        std::memcpy(v, partMv_, sizeof(partMv_));
    } else {
        // the one vector in all four blocks, x and y as one word
        const int16_t xy[2] = {static_cast<int16_t>(mx), static_cast<int16_t>(my)};
        uint32_t w;
        std::memcpy(&w, xy, 4);
        const uint64_t w2 = w | (static_cast<uint64_t>(w) << 32);
        std::memcpy(v, &w2, 8);
        std::memcpy(v + 4, &w2, 8);
    }
    carriesQp_[mb] = 0; // WriteMb sets it and the QP; without, the QP is known when the row is joined
    // the macroblock's 4x4 (luma) and 2x2 (chroma) entries, a row at a time
    const int w4 = mbW_ * 4, w2 = mbW_ * 2;
    const size_t at4 = static_cast<size_t>(mby * 4 * w4 + mbx * 4), at2 = static_cast<size_t>(mby * 2 * w2 + mbx * 2);
    if (kind != kMbI4) {
        int8_t* m = i4Mode_.data() + at4;
        for (int r = 0; r < 4; ++r) std::memset(m + r * w4, -1, 4);
    }
    if (kind == kMbSkip) {
        uint8_t* n = nnzY_.data() + at4;
        for (int r = 0; r < 4; ++r) std::memset(n + r * w4, 0, 4);
        for (int r = 0; r < 2; ++r) {
            std::memset(nnzU_.data() + at2 + static_cast<size_t>(r * w2), 0, 2);
            std::memset(nnzV_.data() + at2 + static_cast<size_t>(r * w2), 0, 2);
        }
    }
}

int MbCoder::NcLuma(int x4, int y4) const {
    const int w4 = mbW_ * 4;
    const bool a = x4 > 0, b = y4 > sliceTop_ * 4;
    const int nA = a ? nnzY_[static_cast<size_t>(y4 * w4 + x4 - 1)] : 0;
    const int nB = b ? nnzY_[static_cast<size_t>((y4 - 1) * w4 + x4)] : 0;
    if (a && b) return (nA + nB + 1) >> 1;
    return a ? nA : nB;
}

int MbCoder::NcChroma(const std::vector<uint8_t>& arr, int x2, int y2) const {
    const int w2 = mbW_ * 2;
    const bool a = x2 > 0, b = y2 > sliceTop_ * 2;
    const int nA = a ? arr[static_cast<size_t>(y2 * w2 + x2 - 1)] : 0;
    const int nB = b ? arr[static_cast<size_t>((y2 - 1) * w2 + x2)] : 0;
    if (a && b) return (nA + nB + 1) >> 1;
    return a ? nA : nB;
}

void MbCoder::WriteChromaResidual(int mbx, int mby) {
    const int w2 = mbW_ * 2;
    if (cbpChroma_) {
        WriteResidualBlock(bw_, chromaDc_[0], 4, -1);
        WriteResidualBlock(bw_, chromaDc_[1], 4, -1);
    }
    if (cbpChroma_ != 2) {
        // no AC levels: the counts are 0, two entries of each row
        const size_t at = static_cast<size_t>(mby * 2 * w2 + mbx * 2);
        for (std::vector<uint8_t>* arr : {&nnzU_, &nnzV_}) {
            std::memset(arr->data() + at, 0, 2);
            std::memset(arr->data() + at + static_cast<size_t>(w2), 0, 2);
        }
        return;
    }
    for (int pl = 0; pl < 2; ++pl) {
        std::vector<uint8_t>& arr = pl ? nnzV_ : nnzU_;
        for (int b = 0; b < 4; ++b) {
            const int x2 = mbx * 2 + (b & 1), y2 = mby * 2 + (b >> 1);
            const int n = WriteResidualBlock(bw_, chromaAc_[pl][b] + 1, 15, NcChroma(arr, x2, y2));
            arr[static_cast<size_t>(y2 * w2 + x2)] = static_cast<uint8_t>(n);
        }
    }
}

void MbCoder::WriteQpDelta(int mbx, int mby) {
    if (hasDq_) {
        bw_.Se(0); // one QP per row
    } else {
        hasDq_ = true; // the difference to the rows before goes in when the row is joined
        dqPos_ = bw_.BitCount();
    }
    carriesQp_[static_cast<size_t>(mby * mbW_ + mbx)] = 1;
    qpMb_[static_cast<size_t>(mby * mbW_ + mbx)] = static_cast<uint8_t>(qp_);
}

void MbCoder::WriteMb(int mbx, int mby, int kind, bool pSlice, int mvdx, int mvdy) {
    const int w4 = mbW_ * 4;
    const int cbp = cbpLuma_ | (cbpChroma_ << 4);
    if (kind == kMbI16) {
        const int t = 1 + i16Mode_ + 4 * cbpChroma_ + (cbpLuma_ ? 12 : 0);
        bw_.Ue(static_cast<uint32_t>(t + (pSlice ? 5 : 0)));
        bw_.Ue(static_cast<uint32_t>(chromaMode_));
        WriteQpDelta(mbx, mby);
        const int x4 = mbx * 4, y4 = mby * 4;
        WriteResidualBlock(bw_, lumaDc_, 16, NcLuma(x4, y4));
        for (int b = 0; b < 16; ++b) {
            const int bx = x4 + kBlkX[b], by = y4 + kBlkY[b];
            int n = 0;
            if (cbpLuma_) n = WriteResidualBlock(bw_, lumaLv_[b] + 1, 15, NcLuma(bx, by));
            nnzY_[static_cast<size_t>(by * w4 + bx)] = static_cast<uint8_t>(n);
        }
        WriteChromaResidual(mbx, mby);
        return;
    }
    if (kind == kMbI4) {
        bw_.Ue(pSlice ? 5 : 0);
        for (int b = 0; b < 16; ++b) {
            const int x4 = mbx * 4 + kBlkX[b], y4 = mby * 4 + kBlkY[b];
            int predMode = 2;
            if (x4 > 0 && y4 > sliceTop_ * 4) {
                int a = i4Mode_[static_cast<size_t>(y4 * w4 + x4 - 1)];
                int t = i4Mode_[static_cast<size_t>((y4 - 1) * w4 + x4)];
                predMode = std::min(a < 0 ? 2 : a, t < 0 ? 2 : t);
            }
            const int m = i4Modes_[b];
            if (m == predMode) {
                bw_.Bit(1);
            } else {
                bw_.Bit(0);
                bw_.Put(static_cast<uint32_t>(m < predMode ? m : m - 1), 3);
            }
        }
        bw_.Ue(static_cast<uint32_t>(chromaMode_));
        bw_.Ue(static_cast<uint32_t>(CbpCodeNum(cbp, true)));
    } else if (kind == kMbP16) { // P_L0_16x16
        bw_.Ue(0);
        bw_.Se(mvdx);
        bw_.Se(mvdy);
        bw_.Ue(static_cast<uint32_t>(CbpCodeNum(cbp, false)));
    } else { // P_L0_L0_16x8, P_L0_L0_8x16, P_8x8 (four P_L0_8x8); one reference: no ref_idx
        bw_.Ue(kind == kMbP16x8 ? 1 : (kind == kMbP8x16 ? 2 : 3));
        const int parts = kind == kMbP8x8 ? 4 : 2;
        if (kind == kMbP8x8)
            for (int k = 0; k < 4; ++k) bw_.Ue(0);
        for (int k = 0; k < parts; ++k) {
            bw_.Se(partMvd_[k][0]);
            bw_.Se(partMvd_[k][1]);
        }
        bw_.Ue(static_cast<uint32_t>(CbpCodeNum(cbp, false)));
    }
    if (cbp) WriteQpDelta(mbx, mby);
    // by 8x8 quarter (coding order): an uncoded one's four counts are 0, two at a time
    for (int i8 = 0; i8 < 4; ++i8) {
        if (!(cbpLuma_ & (1 << i8))) {
            uint8_t* n = nnzY_.data() + static_cast<size_t>((mby * 4 + (i8 >> 1) * 2) * w4 + mbx * 4 + (i8 & 1) * 2);
            std::memset(n, 0, 2);
            std::memset(n + w4, 0, 2);
            continue;
        }
        for (int b = 4 * i8; b < 4 * i8 + 4; ++b) {
            const int x4 = mbx * 4 + kBlkX[b], y4 = mby * 4 + kBlkY[b];
            const int n = WriteResidualBlock(bw_, lumaLv_[b], 16, NcLuma(x4, y4));
            nnzY_[static_cast<size_t>(y4 * w4 + x4)] = static_cast<uint8_t>(n);
        }
    }
    WriteChromaResidual(mbx, mby);
}

// ---------------------------------------------------------------------------
// Frame

// Codes the slice of one picture into out (parameter sets first for IDRs).
// With a rate target the QP is adapted row by row: the bits spent so far are
// compared with the share of the target planned for the rows done (by their
// estimated cost), and the rest of the picture is coded finer or coarser;
// maxBits is the hard limit the picture must stay under. qp is the planned
// QP; above 51 (the slice's QP then) rows are coded without residual.
void EncoderImpl::EncodePicture(bool idr, bool intra, int qp, double targetBits, double maxBits, ByteSink& out,
                                double* avgQp) {
    sliceQp_ = std::min(qp, 51);
    if (idr) {
        WriteSps(out);
        WritePps(out);
    }
    const int workers = pool_.Workers();
    SplitBands(intra);
    planesReady_.store(false);
    if (workers > 1 && !intra && !dropFrame_ && sp_.subpel > 0) {
        // every row will want them: each worker makes those around its band
        pool_.Run([&](int worker) {
            const Band& b = bands_[static_cast<size_t>(worker)];
            BuildHalfPlanes(b.top == 0 ? -kPadY + 2 : b.top * 16, b.end == mbH_ ? hp_ + kPadY - 4 : b.end * 16,
                            worker);
        });
        planesReady_.store(true);
    }
    const bool adapt = rc_.Enabled() && !dropFrame_ && targetBits > 0;
    double cplxTotal = 0;
    if (adapt)
        for (int c : mbCplx_) cplxTotal += c;
    const int planned = qp;
    std::vector<int> rowQp(static_cast<size_t>(mbH_), planned);
    pool_.Run([&](int worker) {
        MbCoder& c = *coders_[static_cast<size_t>(worker)];
        Band& b = bands_[static_cast<size_t>(worker)];
        c.sliceTop_ = b.top;
        c.sliceEnd_ = b.end;
        b.bw.Reset();
        b.qpPrev = sliceQp_;
        b.pendingSkips = 0;
        b.unfiltered = b.top;
        WriteSliceHeader(b.bw, b.top * mbW_, idr, intra);
        // the band's share of the picture's budget, by its estimated cost
        const double share = cplxTotal > 0 ? b.cplx / cplxTotal : 1.0;
        for (int r = b.top; r < b.end; ++r) {
            int qp = planned;
            if (adapt && r > b.top) qp = RowQp(b, planned, r, targetBits * share, maxBits * share);
            rowQp[static_cast<size_t>(r)] = qp;
            c.CodeRow(r, intra, qp);
            JoinRow(b, c, r, intra);
        }
        if (b.pendingSkips) b.bw.Ue(static_cast<uint32_t>(b.pendingSkips));
        b.bw.Trailing();
        FilterBand(b, b.end);
        // The band's rows are final (the loop filter stops at the slices'
        // edges): extended into the padding the next picture predicts from.
        Picture& r = rec_[cur_];
        const bool top = b.top == 0, bottom = b.end == mbH_;
        r.y.ExtendRows(b.top * 16, b.end * 16, top, bottom);
        r.u.ExtendRows(b.top * 8, b.end * 8, top, bottom);
        r.v.ExtendRows(b.top * 8, b.end * 8, top, bottom);
    });
    for (const Band& b : bands_) AppendNal(out, idr ? 3 : 2, idr ? 5 : 1, b.bw.Bytes());
    double qpSum = 0;
    for (int q : rowQp) qpSum += static_cast<double>(q) * mbW_;
    *avgQp = qpSum / (static_cast<double>(mbW_) * mbH_);
}

// The bands of the workers: whole rows, about the same work each, at least one
// row. Coding a row takes time in proportion to its estimated cost plus about
// as much again for every row whatever its content (an intra row three times
// as much): rows split by cost alone gave the band with the detail half as
// much again to do as the other.
void EncoderImpl::SplitBands(bool intra) {
    const int n = static_cast<int>(bands_.size());
    std::vector<double> rowCost(static_cast<size_t>(mbH_), 0.0);
    double costs = 0;
    for (int mby = 0; mby < mbH_; ++mby) {
        for (int mbx = 0; mbx < mbW_; ++mbx) rowCost[static_cast<size_t>(mby)] += mbCplx_[static_cast<size_t>(mby * mbW_ + mbx)];
        costs += rowCost[static_cast<size_t>(mby)];
    }
    const double perRow = (intra ? 3.0 : 1.0) * costs / mbH_;
    std::vector<double> above(static_cast<size_t>(mbH_) + 1, 0.0); // work of the rows above each row
    for (int mby = 0; mby < mbH_; ++mby)
        above[static_cast<size_t>(mby) + 1] = above[static_cast<size_t>(mby)] + rowCost[static_cast<size_t>(mby)] + perRow;
    const double total = costs > 0 ? above[static_cast<size_t>(mbH_)] : 0.0;
    int top = 0;
    for (int k = 0; k < n; ++k) {
        int end = mbH_;
        if (k < n - 1) {
            if (total > 0) {
                // the row boundary nearest to the band's share of the cost
                const double want = total * (k + 1) / n;
                end = top + 1;
                while (end < mbH_ && std::fabs(above[static_cast<size_t>(end) + 1] - want) <=
                                         std::fabs(above[static_cast<size_t>(end)] - want))
                    ++end;
            } else {
                end = mbH_ * (k + 1) / n;
            }
            end = std::min(std::max(end, top + 1), mbH_ - (n - 1 - k)); // a row for every band below
        }
        Band& b = bands_[static_cast<size_t>(k)];
        b.top = top;
        b.end = end;
        b.cplx = 0;
        for (int r = top; r < end; ++r) b.cplx += rowCost[static_cast<size_t>(r)];
        top = end;
    }
}

// The QP of row mby of band b from the band's rows joined before it: the bits
// they took against the share of the band's target planned for them.
int EncoderImpl::RowQp(const Band& b, int base, int mby, double targetBits, double maxBits) {
    const int done = mby - 1; // last row counted
    const double cplxDone = joinedCplx_[static_cast<size_t>(done)];
    if (cplxDone <= 0 || b.cplx <= 0) return base;
    const double spent = static_cast<double>(joinedBits_[static_cast<size_t>(done)]);
    const double planned = targetBits * cplxDone / b.cplx;
    const double rest = targetBits - planned;
    const double ratio = std::min(8.0, std::max(0.25, spent / std::max(planned, 1.0)));
    const double restAtQp = rest * ratio; // what the rest would cost at the slice QP
    double d = 0;
    if (restAtQp > 1.0) {
        // soft: towards the target
        d = 6.0 * std::log2(restAtQp / std::max(targetBits - spent, 0.25 * restAtQp));
        d = std::min(6.0, std::max(-3.0, d));
        // hard: under the buffer's limit
        const double room = 0.85 * maxBits - spent;
        const double dh = 6.0 * std::log2(restAtQp / std::max(room, restAtQp / 64.0));
        d = std::max(d, dh);
    }
    return Clip3(kMinRcQp, kBareQp, base + static_cast<int>(std::lround(d)));
}

// Appends a coded row to its band's slice: the skip run running into it, its
// bits with the first mb_qp_delta against the QP the rows before left, and
// the QPs of its macroblocks without one.
void EncoderImpl::JoinRow(Band& b, const MbCoder& c, int mby, bool intra) {
    bool coded = true;
    if (!intra) {
        if (c.coded_) {
            b.bw.Ue(static_cast<uint32_t>(b.pendingSkips + c.leadSkips_));
            b.pendingSkips = c.tailSkips_;
        } else {
            b.pendingSkips += c.tailSkips_;
            coded = false;
        }
    }
    if (coded) {
        const uint64_t end = c.bw_.BitCount();
        if (c.hasDq_) {
            b.bw.Append(c.bw_, 0, c.dqPos_);
            b.bw.Se(c.qp_ - b.qpPrev);
            b.bw.Append(c.bw_, c.dqPos_, end);
        } else {
            b.bw.Append(c.bw_, 0, end);
        }
    }
    double cplx = mby > b.top ? joinedCplx_[static_cast<size_t>(mby - 1)] : 0.0;
    for (int mbx = 0; mbx < mbW_; ++mbx) {
        const size_t mb = static_cast<size_t>(mby * mbW_ + mbx);
        if (carriesQp_[mb])
            b.qpPrev = qpMb_[mb];
        else
            qpMb_[mb] = static_cast<uint8_t>(b.qpPrev);
        cplx += mbCplx_[mb];
    }
    // The rows above are final now: loop-filtered while the next rows are
    // coded.
    FilterBand(b, mby);
    joinedBits_[static_cast<size_t>(mby)] = b.bw.BitCount();
    joinedCplx_[static_cast<size_t>(mby)] = cplx;
}

// Loop-filters the rows of band b up to end (not included).
void EncoderImpl::FilterBand(Band& b, int end) {
    if (b.unfiltered >= end) return;
    DeblockRows(b.unfiltered, end, b.top);
    b.unfiltered = end;
}

void MbCoder::CodeRow(int mby, bool intra, int qp) {
    bw_.Reset();
    coded_ = hasDq_ = false;
    leadSkips_ = tailSkips_ = 0;
    dqPos_ = 0;
    qp_ = std::min(qp, 51);
    bare_ = qp <= 51 ? 0 : (qp < kBareQp - 2 || intra ? 1 : 2);
    SetupLambda();
    int skipRun = 0;
    for (int mbx = 0; mbx < mbW_; ++mbx) {
        if (intra)
            EncodeIntraMb(mbx, mby, false, sp_.i4ModesI);
        else
            EncodePMb(mbx, mby, &skipRun);
    }
    tailSkips_ = skipRun;
}

bool EncoderImpl::Encode(const uint8_t* y, int sy, const uint8_t* u, int su, const uint8_t* v, int sv, ByteSink& out,
                         bool* isIdr) {
    if (!open_ || !y || !u || !v) return false;
    const int cw = (set_.width + 1) / 2;
    if (std::abs(sy) < set_.width || std::abs(su) < cw || std::abs(sv) < cw) return false;

    // frame type
    const int gop = used_.gopSize;
    bool idr = false, intra = false;
    if (frames_ == 0 || forceKey_) {
        idr = intra = true;
    } else if (set_.exactGop ? (frames_ % static_cast<uint64_t>(gop) == 0) : (framesSinceI_ >= static_cast<uint64_t>(gop))) {
        intra = true;
        ++iSinceIdr_;
        if (used_.idrInterval > 0 && iSinceIdr_ >= used_.idrInterval) idr = true;
    }
    if (idr) iSinceIdr_ = 0;
    if (intra) framesSinceI_ = 0;
    forceKey_ = false;

    if (pool_.Workers() != used_.threads) pool_.Start(used_.threads);
    LoadSource(y, sy, u, su, v, sv);
    double motion = 0;
    const double complexity = rc_.Enabled() ? Analyse(intra, &motion) : 0.0;
    int qp = rc_.PickQp(intra, complexity, motion);
    sliceQp_ = std::min(qp, 51);
    // the source picture just before the next intra picture is kept for it
    havePrevY_ = false;
    const bool intraNext = set_.exactGop ? (frames_ + 1) % static_cast<uint64_t>(gop) == 0
                                         : framesSinceI_ + 1 >= static_cast<uint64_t>(gop);
    if (rc_.Enabled() && gop > 1 && intraNext) KeepSourceLuma();
    if (idr) frameNum_ = 0;

    cur_ = lastRec_ < 0 ? 0 : 1 - lastRec_;
    const size_t startSize = out.size();
    dropFrame_ = !intra && rc_.DropPlanned();
    double avgQp = sliceQp_;
    EncodePicture(idr, intra, qp, rc_.TargetBits(), rc_.MaxBits(), out, &avgQp);
    // The decoder's buffer must hold the picture: when even the finest control
    // inside the picture could not keep it small enough, code it again,
    // coarser, and an inter picture as all-skip when even that fails.
    for (int attempt = 0; attempt < 3 && !dropFrame_ && static_cast<double>((out.size() - startSize) * 8) > rc_.MaxBits();
         ++attempt) {
        if (intra && qp >= kBareQp) break; // nothing coarser exists: the picture stays
        out.resize(startSize);
        if (qp < kBareQp) {
            qp = std::min(kBareQp, qp + 6);
        } else {
            dropFrame_ = true;
        }
        EncodePicture(idr, intra, qp, rc_.MaxBits() * 0.5, rc_.MaxBits(), out, &avgQp);
    }
    if (dropFrame_) ++skippedPictures_;

    // loop-filtered and extended as it was coded: the picture becomes the reference
    lastRec_ = cur_;
    prevWasP_ = !intra;

    uint64_t frameBytes = out.size() - startSize;
    const uint64_t filler = rc_.Update(frameBytes * 8, avgQp);
    if (filler > 0) {
        std::vector<uint8_t> fill(static_cast<size_t>(filler), 0xFF);
        fill.push_back(0x80);
        AppendNal(out, 0, 12, fill);
        rc_.AddBits((out.size() - startSize - frameBytes) * 8);
        frameBytes = out.size() - startSize;
    }
    bytes_ += frameBytes;
    ++frames_;
    ++framesSinceI_;
    frameNum_ = (frameNum_ + 1) & 255;
    if (idr) idrPicId_ = (idrPicId_ + 1) & 0xFFFF;
    lastQp_ = std::min(51, static_cast<int>(std::lround(avgQp)));
    if (isIdr) *isIdr = idr;
    return !out.Overflowed();
}

// ---------------------------------------------------------------------------
// Public wrapper

H264Encoder::H264Encoder() : impl_(new EncoderImpl) {}
H264Encoder::~H264Encoder() = default;

bool H264Encoder::Open(const EncoderSettings& settings) { return impl_->Open(settings); }
bool H264Encoder::IsOpen() const { return impl_->open_; }
UsedSettings H264Encoder::Used() const { return impl_->used_; }
void H264Encoder::ForceKeyFrame() { impl_->forceKey_ = true; }

bool H264Encoder::Encode(const uint8_t* y, int strideY, const uint8_t* u, int strideU, const uint8_t* v,
                         int strideV, std::vector<uint8_t>& out, bool* isIdr) {
    ByteSink sink(out);
    return impl_->Encode(y, strideY, u, strideU, v, strideV, sink, isIdr);
}

bool H264Encoder::Encode(const uint8_t* y, int strideY, const uint8_t* u, int strideU, const uint8_t* v,
                         int strideV, uint8_t* dst, size_t capacity, size_t* size, bool* isIdr) {
    if (!dst || !size) return false;
    ByteSink sink(dst, capacity);
    const bool ok = impl_->Encode(y, strideY, u, strideU, v, strideV, sink, isIdr);
    *size = sink.size();
    return ok;
}

size_t H264Encoder::MaxFrameBytes(const EncoderSettings& s) {
    // The largest macroblock CAVLC can carry with levels up to 2047: 27
    // blocks (16 luma, luma DC, 2 chroma DC, 8 chroma AC) of at most 16 + 3
    // bits of token and signs, 16 levels of 28 bits, 9 bits of total zeros
    // and 15 runs of 11 bits, and the macroblock header; half as much again
    // for emulation prevention bytes in the worst case.
    const size_t mbBits = 27 * (16 + 3 + 16 * 28 + 9 + 15 * 11) + 400;
    const size_t mbBytes = (mbBits + 7) / 8 * 3 / 2;
    const size_t w = static_cast<size_t>(std::max(16, s.width)), h = static_cast<size_t>(std::max(16, s.height));
    const size_t mbs = ((w + 1) / 2 * 2 + 15) / 16 * (((h + 1) / 2 * 2 + 15) / 16);
    // filler of a CBR picture: at most two pictures' share of the rate
    const double fps = s.fps > 0 ? s.fps : 1.0;
    const size_t filler = s.rateControl == kRateCbr ? static_cast<size_t>(2.0 * s.bitrateKbps * 1000.0 / fps / 8.0) : 0;
    return mbs * mbBytes + filler + 1024; // parameter sets, slice header, NAL headers
}

size_t H264Encoder::MaxFrameBytes() const { return MaxFrameBytes(impl_->set_); }

const uint8_t* H264Encoder::ReconPlane(int plane, int* stride) const {
    if (impl_->lastRec_ < 0 || plane < 0 || plane > 2) return nullptr;
    const Picture& p = impl_->rec_[impl_->lastRec_];
    const Plane& pl = plane == 0 ? p.y : (plane == 1 ? p.u : p.v);
    if (stride) *stride = pl.stride;
    return pl.p;
}

uint64_t H264Encoder::FramesEncoded() const { return impl_->frames_; }
uint64_t H264Encoder::BytesProduced() const { return impl_->bytes_; }
uint64_t H264Encoder::SkippedPictures() const { return impl_->skippedPictures_; }
int H264Encoder::LastQp() const { return impl_->lastQp_; }

uint32_t H264Encoder::AverageBitrateKbps() const {
    if (impl_->frames_ == 0) return 0;
    const double seconds = static_cast<double>(impl_->frames_) / impl_->set_.fps;
    return static_cast<uint32_t>(std::lround(static_cast<double>(impl_->bytes_) * 8.0 / seconds / 1000.0));
}

} // namespace vcore
