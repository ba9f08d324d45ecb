#include "standins/media/AnnexB.h"

namespace annexb {

namespace {

// Returns the offset of the next 00 00 01 at or after i, or cb.
size_t FindStartCode(const uint8_t* p, size_t cb, size_t i) {
    for (; i + 3 <= cb; ++i) {
        if (p[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i;
    }
    return cb;
}

// Exp-Golomb reader over an RBSP with emulation prevention bytes removed.
class CBits {
public:
    CBits(const uint8_t* p, size_t cb) {
        m_rb.reserve(cb);
        int zeros = 0;
        for (size_t i = 0; i < cb; ++i) {
            if (zeros >= 2 && p[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = p[i] == 0 ? zeros + 1 : 0;
            m_rb.push_back(p[i]);
        }
    }
    bool Ok() const { return !m_bOver; }
    unsigned Bit() {
        if (m_nPos >= m_rb.size() * 8) {
            m_bOver = true;
            return 0;
        }
        unsigned b = (m_rb[m_nPos >> 3] >> (7 - (m_nPos & 7))) & 1;
        ++m_nPos;
        return b;
    }
    unsigned Bits(int n) {
        unsigned v = 0;
        while (n-- > 0) v = (v << 1) | Bit();
        return v;
    }
    unsigned Ue() {
        int zeros = 0;
        while (Bit() == 0) {
            if (++zeros > 31 || m_bOver) {
                m_bOver = true;
                return 0;
            }
        }
        return ((1u << zeros) - 1) + Bits(zeros);
    }
    int Se() {
        unsigned v = Ue();
        return (v & 1) ? (int)((v + 1) / 2) : -(int)(v / 2);
    }

private:
    std::vector<uint8_t> m_rb;
    size_t m_nPos = 0;
    bool m_bOver = false;
};

void SkipScalingList(CBits& bits, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) next = (last + bits.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

}  // namespace

std::vector<Nal> SplitNals(const uint8_t* p, size_t cb) {
    std::vector<Nal> nals;
    size_t sc = FindStartCode(p, cb, 0);
    while (sc < cb) {
        size_t begin = sc + 3;
        size_t next = FindStartCode(p, cb, begin);
        size_t end = next;
        while (end > begin && p[end - 1] == 0) --end;  // trailing zeros / 4-byte start code
        if (end > begin) nals.push_back({p + begin, end - begin});
        sc = next;
    }
    return nals;
}

std::vector<Range> SplitAccessUnits(const uint8_t* p, size_t cb) {
    std::vector<Range> units;
    bool bHaveSlice = false;
    size_t start = 0;
    for (const Nal& nal : SplitNals(p, cb)) {
        // The start code begins up to four bytes before the header.
        size_t at = (size_t)(nal.p - p) - 3;
        if (at > 0 && p[at - 1] == 0) --at;
        int type = nal.Type();
        bool bFirstOfAu = false;
        if (type == NAL_AUD || type == NAL_SPS || type == NAL_PPS || type == NAL_SEI ||
            (type >= 14 && type <= 18))
            bFirstOfAu = bHaveSlice;
        else if (type == NAL_SLICE || type == NAL_IDR) {
            // first_mb_in_slice == 0 (a leading '1' bit) starts a new picture.
            bool bFirstMb = nal.cb > 1 && (nal.p[1] & 0x80);
            bFirstOfAu = bHaveSlice && bFirstMb;
        }
        if (bFirstOfAu) {
            units.push_back({start, at - start});
            start = at;
            bHaveSlice = false;
        }
        if (type == NAL_SLICE || type == NAL_IDR) bHaveSlice = true;
    }
    if (bHaveSlice || start < cb) units.push_back({start, cb - start});
    return units;
}

bool ParseSps(const uint8_t* p, size_t cb, SpsInfo* pInfo) {
    if (cb < 4 || (p[0] & 0x1F) != NAL_SPS) return false;
    SpsInfo info;
    info.profile = p[1];
    info.constraints = p[2];
    info.level = p[3];
    CBits bits(p + 4, cb - 4);
    bits.Ue();  // seq_parameter_set_id
    static const int kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    bool bHigh = false;
    for (int h : kHigh) bHigh |= info.profile == h;
    if (bHigh) {
        info.chromaFormat = (int)bits.Ue();
        if (info.chromaFormat == 3) bits.Bit();  // separate_colour_plane_flag
        info.bitDepthLuma = 8 + (int)bits.Ue();
        info.bitDepthChroma = 8 + (int)bits.Ue();
        bits.Bit();  // qpprime_y_zero_transform_bypass_flag
        if (bits.Bit()) {
            int lists = info.chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i)
                if (bits.Bit()) SkipScalingList(bits, i < 6 ? 16 : 64);
        }
    }
    bits.Ue();  // log2_max_frame_num_minus4
    unsigned pocType = bits.Ue();
    if (pocType == 0) {
        bits.Ue();
    } else if (pocType == 1) {
        bits.Bit();
        bits.Se();
        bits.Se();
        unsigned n = bits.Ue();
        if (n > 255) return false;
        for (unsigned i = 0; i < n; ++i) bits.Se();
    }
    bits.Ue();  // max_num_ref_frames
    bits.Bit();
    unsigned mbW = bits.Ue() + 1;
    unsigned mapH = bits.Ue() + 1;
    info.frameMbsOnly = bits.Bit() != 0;
    if (!info.frameMbsOnly) bits.Bit();  // mb_adaptive_frame_field_flag
    bits.Bit();                          // direct_8x8_inference_flag
    unsigned cropL = 0, cropR = 0, cropT = 0, cropB = 0;
    if (bits.Bit()) {
        cropL = bits.Ue();
        cropR = bits.Ue();
        cropT = bits.Ue();
        cropB = bits.Ue();
    }
    if (!bits.Ok() || mbW > 1024 || mapH > 1024) return false;
    int subW = info.chromaFormat == 1 || info.chromaFormat == 2 ? 2 : 1;
    int subH = info.chromaFormat == 1 ? 2 : 1;
    if (info.chromaFormat == 0) subW = subH = 1;
    int mulH = info.frameMbsOnly ? 1 : 2;
    info.width = (int)(mbW * 16) - subW * (int)(cropL + cropR);
    info.height = (int)(mapH * 16 * mulH) - subH * mulH * (int)(cropT + cropB);
    if (info.width <= 0 || info.height <= 0) return false;
    *pInfo = info;
    return true;
}

}  // namespace annexb
