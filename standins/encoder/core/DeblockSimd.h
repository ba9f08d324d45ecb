// Deblocking of 16 lines at once in 128-bit vectors, shared by the kernel
// sets that differ only in how lanes are selected. Included inside an
// anonymous namespace of a file compiled for the set's instructions, after
// VCORE_DEBLOCK_SELECT(mask, a, b) (lanes of a where mask is set, else b) is
// defined; or after VCORE_DEBLOCK_OWN_FILTER is defined and Filter16 is
// declared, for a set that filters the 16 lanes its own way. No include guard
// on purpose.

// Lines are lanes: p[0..3] = p3 p2 p1 p0, q[0..3] = q0 q1 q2 q3 (16 lanes
// each). bs and tc0 hold per-lane values. Luma and chroma rules as in the plain
// filter (Deblock.cpp).
struct Lanes {
    __m128i lo, hi;
};
#ifndef VCORE_DEBLOCK_OWN_FILTER
inline Lanes Widen(__m128i v) {
    const __m128i z = _mm_setzero_si128();
    return {_mm_unpacklo_epi8(v, z), _mm_unpackhi_epi8(v, z)};
}
inline __m128i Narrow(const Lanes& l) { return _mm_packus_epi16(l.lo, l.hi); }
inline __m128i Abs16(__m128i a, __m128i b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
inline __m128i Sel(__m128i m, __m128i a, __m128i b) { return VCORE_DEBLOCK_SELECT(m, a, b); }
inline __m128i Clip(__m128i v, __m128i lo, __m128i hi) { return _mm_max_epi16(_mm_min_epi16(v, hi), lo); }

// One 8-lane half in 16 bits.
void FilterHalf(__m128i* P3, __m128i* P2, __m128i* P1, __m128i* P0, __m128i* Q0, __m128i* Q1, __m128i* Q2,
                __m128i* Q3, __m128i bs, __m128i tc0, int alpha, int beta, bool chroma) {
    const __m128i z = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm_set1_epi16(static_cast<int16_t>(beta));
    const __m128i p2 = *P2, p1 = *P1, p0 = *P0, q0 = *Q0, q1 = *Q1, q2 = *Q2;
    const __m128i d0 = Abs16(p0, q0);
    __m128i m = _mm_and_si128(_mm_cmplt_epi16(d0, va), _mm_cmplt_epi16(Abs16(p1, p0), vb));
    m = _mm_and_si128(m, _mm_cmplt_epi16(Abs16(q1, q0), vb));
    m = _mm_and_si128(m, _mm_cmpgt_epi16(bs, z));
    if (_mm_movemask_epi8(m) == 0) return;
    const __m128i strong = _mm_cmpeq_epi16(bs, four);
    const __m128i ap = chroma ? z : _mm_cmplt_epi16(Abs16(p2, p0), vb);
    const __m128i aq = chroma ? z : _mm_cmplt_epi16(Abs16(q2, q0), vb);
    // normal filter
    __m128i tc = chroma ? _mm_add_epi16(tc0, one) : _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq); // masks are -1
    const __m128i ntc = _mm_sub_epi16(z, tc);
    __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
    delta = Clip(_mm_srai_epi16(_mm_add_epi16(delta, four), 3), ntc, tc);
    const __m128i np0 = _mm_add_epi16(p0, delta), nq0 = _mm_sub_epi16(q0, delta); // packus clips later
    __m128i np1 = p1, nq1 = q1;
    if (!chroma) {
        const __m128i avg = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p0, q0), one), 1);
        const __m128i ntc0 = _mm_sub_epi16(z, tc0);
        const __m128i dp = Clip(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, avg), _mm_slli_epi16(p1, 1)), 1), ntc0, tc0);
        const __m128i dq = Clip(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, avg), _mm_slli_epi16(q1, 1)), 1), ntc0, tc0);
        np1 = Sel(ap, _mm_add_epi16(p1, dp), p1);
        nq1 = Sel(aq, _mm_add_epi16(q1, dq), q1);
    }
    // strong filter (bS 4)
    const __m128i weakP0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), _mm_add_epi16(q1, two)), 2);
    const __m128i weakQ0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), _mm_add_epi16(p1, two)), 2);
    __m128i sp0 = weakP0, sq0 = weakQ0, sp1 = p1, sq1 = q1, sp2 = p2, sq2 = q2;
    if (!chroma) {
        const __m128i p3 = *P3, q3 = *Q3;
        const __m128i small = _mm_cmplt_epi16(d0, _mm_set1_epi16(static_cast<int16_t>((alpha >> 2) + 2)));
        const __m128i sP = _mm_and_si128(ap, small), sQ = _mm_and_si128(aq, small);
        const __m128i pq = _mm_add_epi16(p0, q0);
        // p side
        __m128i t = _mm_add_epi16(_mm_add_epi16(p2, _mm_slli_epi16(_mm_add_epi16(p1, pq), 1)), _mm_add_epi16(q1, four));
        sp0 = Sel(sP, _mm_srai_epi16(t, 3), weakP0);
        sp1 = Sel(sP, _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p2, p1), _mm_add_epi16(pq, two)), 2), p1);
        t = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p3, 1), _mm_add_epi16(_mm_slli_epi16(p2, 1), p2)), _mm_add_epi16(_mm_add_epi16(p1, pq), four));
        sp2 = Sel(sP, _mm_srai_epi16(t, 3), p2);
        // q side
        t = _mm_add_epi16(_mm_add_epi16(q2, _mm_slli_epi16(_mm_add_epi16(q1, pq), 1)), _mm_add_epi16(p1, four));
        sq0 = Sel(sQ, _mm_srai_epi16(t, 3), weakQ0);
        sq1 = Sel(sQ, _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(q2, q1), _mm_add_epi16(pq, two)), 2), q1);
        t = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q3, 1), _mm_add_epi16(_mm_slli_epi16(q2, 1), q2)), _mm_add_epi16(_mm_add_epi16(q1, pq), four));
        sq2 = Sel(sQ, _mm_srai_epi16(t, 3), q2);
    }
    const __m128i ms = _mm_and_si128(m, strong), mn = _mm_andnot_si128(strong, m);
    *P0 = Sel(ms, sp0, Sel(mn, np0, p0));
    *Q0 = Sel(ms, sq0, Sel(mn, nq0, q0));
    *P1 = Sel(ms, sp1, Sel(mn, np1, p1));
    *Q1 = Sel(ms, sq1, Sel(mn, nq1, q1));
    *P2 = Sel(ms, sp2, p2);
    *Q2 = Sel(ms, sq2, q2);
}

// Filters 16 lanes given as 8 byte vectors (index 0 = p3 ... 7 = q3).
// bs and tc0 hold a byte per lane.
void Filter16(__m128i v[8], __m128i bs, __m128i tc0, int alpha, int beta, bool chroma) {
    Lanes w[8];
    for (int k = 0; k < 8; ++k) w[k] = Widen(v[k]);
    const Lanes b = Widen(bs), t = Widen(tc0);
    const __m128i bsLo = b.lo, bsHi = b.hi, tcLo = t.lo, tcHi = t.hi;
    FilterHalf(&w[0].lo, &w[1].lo, &w[2].lo, &w[3].lo, &w[4].lo, &w[5].lo, &w[6].lo, &w[7].lo, bsLo, tcLo, alpha, beta, chroma);
    FilterHalf(&w[0].hi, &w[1].hi, &w[2].hi, &w[3].hi, &w[4].hi, &w[5].hi, &w[6].hi, &w[7].hi, bsHi, tcHi, alpha, beta, chroma);
    for (int k = 1; k < 7; ++k) v[k] = Narrow(w[k]);
}
#endif // VCORE_DEBLOCK_OWN_FILTER

// 16 rows of 8 bytes starting at p[-4] <-> 8 vectors of 16 lanes.
void LoadTransposed(const uint8_t* const rows[16], __m128i v[8]) {
    __m128i a[8], b[8], c[8];
    for (int i = 0; i < 8; ++i)
        a[i] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[2 * i])),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[2 * i + 1])));
    for (int i = 0; i < 4; ++i) {
        b[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
        b[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        c[4 * i + 0] = _mm_unpacklo_epi32(b[4 * i], b[4 * i + 2]);
        c[4 * i + 1] = _mm_unpackhi_epi32(b[4 * i], b[4 * i + 2]);
        c[4 * i + 2] = _mm_unpacklo_epi32(b[4 * i + 1], b[4 * i + 3]);
        c[4 * i + 3] = _mm_unpackhi_epi32(b[4 * i + 1], b[4 * i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[2 * i] = _mm_unpacklo_epi64(c[i], c[4 + i]);
        v[2 * i + 1] = _mm_unpackhi_epi64(c[i], c[4 + i]);
    }
}
void StoreTransposed(uint8_t* const rows[16], const __m128i v[8]) {
    __m128i d[8], e[8];
    for (int i = 0; i < 4; ++i) {
        d[2 * i] = _mm_unpacklo_epi8(v[2 * i], v[2 * i + 1]);
        d[2 * i + 1] = _mm_unpackhi_epi8(v[2 * i], v[2 * i + 1]);
    }
    // rows 0-7: d0 (cols 0,1), d2 (2,3), d4 (4,5), d6 (6,7); rows 8-15: odd d
    for (int h = 0; h < 2; ++h) {
        e[4 * h + 0] = _mm_unpacklo_epi16(d[h], d[2 + h]);
        e[4 * h + 1] = _mm_unpackhi_epi16(d[h], d[2 + h]);
        e[4 * h + 2] = _mm_unpacklo_epi16(d[4 + h], d[6 + h]);
        e[4 * h + 3] = _mm_unpackhi_epi16(d[4 + h], d[6 + h]);
    }
    for (int h = 0; h < 2; ++h) {
        const __m128i f0 = _mm_unpacklo_epi32(e[4 * h + 0], e[4 * h + 2]);
        const __m128i f1 = _mm_unpackhi_epi32(e[4 * h + 0], e[4 * h + 2]);
        const __m128i f2 = _mm_unpacklo_epi32(e[4 * h + 1], e[4 * h + 3]);
        const __m128i f3 = _mm_unpackhi_epi32(e[4 * h + 1], e[4 * h + 3]);
        const __m128i f[4] = {f0, f1, f2, f3};
        for (int k = 0; k < 4; ++k) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[8 * h + 2 * k]), f[k]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[8 * h + 2 * k + 1]), _mm_srli_si128(f[k], 8));
        }
    }
}

// The boundary strength and tc0 of every lane as bytes: each bS covers four
// consecutive luma lines, or two chroma lines of both planes (U in lanes 0-7,
// V in lanes 8-15).
__attribute__((always_inline)) inline void LaneParams(const uint8_t bS[4], int qp, bool chroma, __m128i* bs, __m128i* tc) {
    const uint8_t* t0 = kDeblockTc0[qp];
    const uint8_t tcOf[5] = {0, t0[0], t0[1], t0[2], 0}; // bS 4 takes the strong filter
    uint32_t bw;
    std::memcpy(&bw, bS, 4);
    const uint32_t tw = tcOf[bS[0]] | (tcOf[bS[1]] << 8) | (tcOf[bS[2]] << 16) | (static_cast<uint32_t>(tcOf[bS[3]]) << 24);
    __m128i b = _mm_cvtsi32_si128(static_cast<int>(bw)), t = _mm_cvtsi32_si128(static_cast<int>(tw));
    b = _mm_unpacklo_epi8(b, b);
    t = _mm_unpacklo_epi8(t, t);
    if (chroma) {
        *bs = _mm_unpacklo_epi64(b, b);
        *tc = _mm_unpacklo_epi64(t, t);
    } else {
        *bs = _mm_unpacklo_epi16(b, b);
        *tc = _mm_unpacklo_epi16(t, t);
    }
}

// Luma edge, 16 lines. vertical = true for an edge between columns.
void DeblockLumaEdge(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp) {
    const int alpha = kDeblockAlpha[qp], beta = kDeblockBeta[qp];
    if (alpha == 0 || beta == 0) return;
    __m128i bs, tc;
    LaneParams(bS, qp, false, &bs, &tc);
    __m128i v[8];
    if (vertical) {
        uint8_t* rows[16];
        for (int i = 0; i < 16; ++i) rows[i] = pix + i * stride - 4;
        LoadTransposed(rows, v);
        Filter16(v, bs, tc, alpha, beta, false);
        StoreTransposed(rows, v);
    } else {
        for (int k = 0; k < 8; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pix + (k - 4) * stride));
        Filter16(v, bs, tc, alpha, beta, false);
        for (int k = 1; k < 7; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(pix + (k - 4) * stride), v[k]);
    }
}

// Chroma edge of both planes at once: lanes 0-7 = U, 8-15 = V.
void DeblockChromaEdge(uint8_t* u, uint8_t* vp, int stride, bool vertical, const uint8_t bS[4], int qp) {
    const int alpha = kDeblockAlpha[qp], beta = kDeblockBeta[qp];
    if (alpha == 0 || beta == 0) return;
    __m128i bs, tc;
    LaneParams(bS, qp, true, &bs, &tc);
    __m128i v[8];
    if (vertical) {
        uint8_t* rows[16];
        for (int i = 0; i < 8; ++i) {
            rows[i] = u + i * stride - 4;
            rows[8 + i] = vp + i * stride - 4;
        }
        LoadTransposed(rows, v);
        Filter16(v, bs, tc, alpha, beta, true);
        StoreTransposed(rows, v);
    } else {
        for (int k = 2; k < 6; ++k)
            v[k] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + (k - 4) * stride)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vp + (k - 4) * stride)));
        v[0] = v[1] = v[6] = v[7] = _mm_setzero_si128();
        Filter16(v, bs, tc, alpha, beta, true);
        for (int k = 3; k < 5; ++k) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(u + (k - 4) * stride), v[k]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(vp + (k - 4) * stride), _mm_srli_si128(v[k], 8));
        }
    }
}
