#include "standins/mp4writer/Mp4Muxer.h"

#include "standins/media/AnnexB.h"

#include <algorithm>
#include <cstring>

namespace {

const uint32_t kTimescale = 90000;       // media time scale
const uint32_t kMovieTimescale = 1000;   // movie time scale
const size_t kSamplesPerChunk = 32;
const int64_t kFragment = 5000000;      // 100 ns: fragments of about half a second
const int64_t kFragmentMax = 20000000;  // and never more than two seconds

// Big-endian box writer.
class CBoxes {
public:
    std::vector<uint8_t> b;
    void U8(unsigned v) { b.push_back((uint8_t)v); }
    void U16(unsigned v) { U8(v >> 8), U8(v); }
    void U24(unsigned v) { U8(v >> 16), U16(v & 0xFFFF); }
    void U32(uint32_t v) { U16(v >> 16), U16(v & 0xFFFF); }
    void U64(uint64_t v) { U32((uint32_t)(v >> 32)), U32((uint32_t)v); }
    void Tag(const char* t) { b.insert(b.end(), t, t + 4); }
    void Bytes(const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); }
    void Zeros(size_t n) { b.insert(b.end(), n, 0); }
    void Open(const char* t) {
        m_open.push_back(b.size());
        U32(0);
        Tag(t);
    }
    void OpenFull(const char* t, unsigned version, unsigned flags) {
        Open(t);
        U8(version);
        U24(flags);
    }
    void Close() {
        size_t at = m_open.back();
        m_open.pop_back();
        uint32_t cb = (uint32_t)(b.size() - at);
        b[at] = (uint8_t)(cb >> 24), b[at + 1] = (uint8_t)(cb >> 16);
        b[at + 2] = (uint8_t)(cb >> 8), b[at + 3] = (uint8_t)cb;
    }
    void Matrix() {
        static const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) U32(v);
    }

private:
    std::vector<size_t> m_open;
};

int64_t ToScale(int64_t t, uint32_t scale) {
    // 100 ns units -> scale, rounded to nearest.
    return (t * (int64_t)scale + (t >= 0 ? 5000000 : -5000000)) / 10000000;
}

bool SameNal(const std::vector<uint8_t>& v, const annexb::Nal& nal) {
    return v.size() == nal.cb && std::memcmp(v.data(), nal.p, nal.cb) == 0;
}

}  // namespace

CMp4Muxer::~CMp4Muxer() {
    if (IsOpen()) Finish();
}

HRESULT CMp4Muxer::Create(LPCWSTR pszPath) {
    Abort();
    m_rgSamples.clear();
    m_rgWaiting.clear();
    m_waiting.clear();
    m_rgMoof.clear();
    m_sps.clear();
    m_pps.clear();
    m_cbFile = m_cbData = m_posInit = 0;
    m_tWaitingMax = m_tBase = m_tDecodeEnd = 0;
    m_nSequence = 0;
    m_hrWrite = S_OK;
    if (!pszPath || !*pszPath) return E_INVALIDARG;
    m_hFile = ::CreateFileW(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());

    CBoxes h;
    h.Open("ftyp");
    h.Tag("isom");
    h.U32(0x200);
    for (const char* t : {"isom", "iso2", "avc1", "mp41"}) h.Tag(t);
    h.Close();
    HRESULT hr = Write(h.b.data(), h.b.size());
    if (FAILED(hr)) {
        Abort();
        return hr;
    }
    m_cbFile = h.b.size();
    return S_OK;
}

HRESULT CMp4Muxer::Write(const void* p, size_t cb) {
    while (cb > 0) {
        DWORD chunk = (DWORD)std::min<size_t>(cb, 1u << 30), written = 0;
        if (!::WriteFile(m_hFile, p, chunk, &written, nullptr) || written != chunk) {
            DWORD err = ::GetLastError();
            // A short write without an error code: the disk is full.
            m_hrWrite = HRESULT_FROM_WIN32(err ? err : ERROR_DISK_FULL);
            return m_hrWrite;
        }
        p = (const uint8_t*)p + chunk;
        cb -= chunk;
    }
    return S_OK;
}

HRESULT CMp4Muxer::WriteAt(uint64_t pos, const void* p, size_t cb) {
    LARGE_INTEGER li;
    li.QuadPart = (LONGLONG)pos;
    if (!::SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN))
        return HRESULT_FROM_WIN32(::GetLastError());
    return Write(p, cb);
}

int64_t CMp4Muxer::MediaTime(int64_t t) const { return ToScale(t - m_tBase, kTimescale); }

bool CMp4Muxer::FragmentEndsBefore(int64_t tStart) const {
    if (m_rgWaiting.empty() || m_sps.empty() || m_pps.empty()) return false;
    int64_t tFirst = m_rgWaiting[0].tStart;
    for (const Sample& w : m_rgWaiting) tFirst = std::min(tFirst, w.tStart);
    const int64_t tSpan = tStart - tFirst;
    // A fragment ends where no later sample can be presented before its samples (the next
    // reference picture in decode order), so that its decode times are its own presentation
    // times in order; a stream without such points is cut at the longest span.
    if (tSpan >= kFragmentMax) return true;
    return tSpan >= kFragment && tStart > m_tWaitingMax;
}

HRESULT CMp4Muxer::AddSample(const uint8_t* p, size_t cb, bool bHasTime, int64_t tStart,
                             int64_t tStop) {
    if (!IsOpen()) return E_UNEXPECTED;
    if (FAILED(m_hrWrite)) return m_hrWrite;
    if (!p && cb) return E_POINTER;

    m_buf.clear();
    bool bSync = false;
    for (const annexb::Nal& nal : annexb::SplitNals(p, cb)) {
        int type = nal.Type();
        if (type == annexb::NAL_AUD) continue;
        if (type == annexb::NAL_SPS) {
            if (m_sps.empty()) {
                annexb::SpsInfo info;
                if (annexb::ParseSps(nal.p, nal.cb, &info)) m_sps.assign(nal.p, nal.p + nal.cb);
            }
            if (SameNal(m_sps, nal)) continue;
        }
        if (type == annexb::NAL_PPS) {
            if (m_pps.empty()) m_pps.assign(nal.p, nal.p + nal.cb);
            if (SameNal(m_pps, nal)) continue;
        }
        if (type == annexb::NAL_IDR) bSync = true;
        uint32_t n = (uint32_t)nal.cb;
        const uint8_t len[4] = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8),
                                (uint8_t)n};
        m_buf.insert(m_buf.end(), len, len + 4);
        m_buf.insert(m_buf.end(), nal.p, nal.p + nal.cb);
    }
    if (m_buf.empty()) return S_OK;  // parameter sets only

    if (!bHasTime) {
        // Continue from the last sample at the frame rate.
        int64_t tFrame = m_tFrame > 0 ? m_tFrame : 400000;
        const Sample* pLast = !m_rgWaiting.empty() ? &m_rgWaiting.back()
                              : !m_rgSamples.empty() ? &m_rgSamples.back() : nullptr;
        tStart = pLast ? pLast->tStart + tFrame : 0;
        tStop = tStart;
    }
    if (FragmentEndsBefore(tStart)) {
        HRESULT hr = WriteFragment();
        if (FAILED(hr)) return hr;
    }
    m_tWaitingMax = m_rgWaiting.empty() ? tStart : std::max(m_tWaitingMax, tStart);
    m_rgWaiting.push_back({m_waiting.size(), (uint32_t)m_buf.size(), bSync, tStart, tStop});
    m_waiting.insert(m_waiting.end(), m_buf.begin(), m_buf.end());
    return S_OK;
}

HRESULT CMp4Muxer::WriteFragment() {
    if (m_rgWaiting.empty()) return S_OK;
    const uint64_t posStart = m_cbFile;
    const bool bInit = m_posInit == 0;

    std::vector<uint8_t> head;
    if (bInit) {
        m_tBase = m_rgWaiting[0].tStart;
        for (const Sample& w : m_rgWaiting) m_tBase = std::min(m_tBase, w.tStart);
        head = BuildMoov(std::vector<Sample>(), true);
    }
    std::vector<Sample> rg = m_rgWaiting;
    const int64_t tDecodeEnd = m_tDecodeEnd;
    std::vector<uint8_t> moof = BuildMoof(rg);
    const uint64_t posMoof = posStart + head.size();
    const uint64_t posData = posMoof + moof.size() + 8;
    CBoxes mdat;
    mdat.U32((uint32_t)(m_waiting.size() + 8));
    mdat.Tag("mdat");

    HRESULT hr = Write(head.data(), head.size());
    if (SUCCEEDED(hr)) hr = Write(moof.data(), moof.size());
    if (SUCCEEDED(hr)) hr = Write(mdat.b.data(), mdat.b.size());
    if (SUCCEEDED(hr)) hr = Write(m_waiting.data(), m_waiting.size());
    if (FAILED(hr)) {
        // What stays on the disk ends with the last whole fragment.
        LARGE_INTEGER li;
        li.QuadPart = (LONGLONG)posStart;
        if (::SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN)) ::SetEndOfFile(m_hFile);
        ::FlushFileBuffers(m_hFile);
        m_tDecodeEnd = tDecodeEnd;
        m_hrWrite = hr;
        return hr;
    }
    // A power cut keeps what has been flushed.
    ::FlushFileBuffers(m_hFile);

    if (bInit) m_posInit = posStart;
    m_rgMoof.push_back(posMoof);
    ++m_nSequence;
    m_cbFile = posData + m_waiting.size();
    m_cbData += m_waiting.size();
    for (Sample& sample : rg) {
        sample.offset += posData;
        m_rgSamples.push_back(sample);
    }
    m_rgWaiting.clear();
    m_waiting.clear();
    return S_OK;
}

void CMp4Muxer::Abort() {
    if (IsOpen()) ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

HRESULT CMp4Muxer::Finish() {
    if (!IsOpen()) return S_OK;
    HRESULT hr = m_hrWrite;
    if (SUCCEEDED(hr) && !m_rgWaiting.empty()) {
        if (!m_sps.empty() && !m_pps.empty()) {
            hr = WriteFragment();
        } else {
            // Without parameter sets there is no track to fragment: the data alone.
            CBoxes mdat;
            mdat.U32((uint32_t)(m_waiting.size() + 8));
            mdat.Tag("mdat");
            hr = Write(mdat.b.data(), mdat.b.size());
            if (SUCCEEDED(hr)) hr = Write(m_waiting.data(), m_waiting.size());
            if (SUCCEEDED(hr)) {
                for (Sample& sample : m_rgWaiting) {
                    sample.offset += m_cbFile + 8;
                    m_rgSamples.push_back(sample);
                }
                m_cbFile += 8 + m_waiting.size();
                m_cbData += m_waiting.size();
                m_rgWaiting.clear();
                m_waiting.clear();
            }
        }
    }
    if (SUCCEEDED(hr)) {
        std::vector<uint8_t> moov = BuildMoov(m_rgSamples, false);
        LARGE_INTEGER zero = {};
        if (!::SetFilePointerEx(m_hFile, zero, nullptr, FILE_END))
            hr = HRESULT_FROM_WIN32(::GetLastError());
        else
            hr = Write(moov.data(), moov.size());
    }
    if (SUCCEEDED(hr) && !::FlushFileBuffers(m_hFile)) hr = HRESULT_FROM_WIN32(::GetLastError());
    // The complete index is on the disk: the fragments' boxes become free space, the last
    // first, so that a cut here still leaves a fragmented file that plays.
    for (size_t i = m_rgMoof.size(); SUCCEEDED(hr) && i > 0; --i) hr = WriteAt(m_rgMoof[i - 1] + 4, "free", 4);
    if (SUCCEEDED(hr) && m_posInit != 0) hr = WriteAt(m_posInit + 4, "free", 4);
    if (SUCCEEDED(hr) && !::FlushFileBuffers(m_hFile)) hr = HRESULT_FROM_WIN32(::GetLastError());
    if (!::CloseHandle(m_hFile) && SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(::GetLastError());
    m_hFile = INVALID_HANDLE_VALUE;
    return hr;
}

std::vector<uint8_t> CMp4Muxer::BuildMoof(std::vector<Sample>& rg) {
    const size_t n = rg.size();
    std::vector<int64_t> pts(n);
    for (size_t i = 0; i < n; ++i) pts[i] = MediaTime(rg[i].tStart);
    // Decode times: the fragment's presentation times in order, never before the end of the
    // fragment before.
    std::vector<int64_t> dts(pts);
    std::sort(dts.begin(), dts.end());
    const int64_t shift = std::max<int64_t>(0, m_tDecodeEnd - dts[0]);
    for (int64_t& t : dts) t += shift;
    std::vector<uint32_t> dur(n);
    for (size_t i = 0; i + 1 < n; ++i) dur[i] = (uint32_t)std::max<int64_t>(1, dts[i + 1] - dts[i]);
    int64_t lastDur = m_tFrame > 0 ? ToScale(m_tFrame, kTimescale) : kTimescale / 25;
    if (rg[n - 1].tStop > rg[n - 1].tStart) lastDur = ToScale(rg[n - 1].tStop - rg[n - 1].tStart, kTimescale);
    else if (n > 1) lastDur = dts[n - 1] - dts[n - 2];
    dur[n - 1] = (uint32_t)std::max<int64_t>(1, lastDur);
    m_tDecodeEnd = dts[n - 1] + dur[n - 1];

    CBoxes m;
    m.Open("moof");
    m.OpenFull("mfhd", 0, 0);
    m.U32(m_nSequence + 1);
    m.Close();
    m.Open("traf");
    m.OpenFull("tfhd", 0, 0x020000);  // offsets from the moof box
    m.U32(1);
    m.Close();
    m.OpenFull("tfdt", 1, 0);
    m.U64((uint64_t)dts[0]);
    m.Close();
    // Data offset, duration, size, flags and (signed) composition offset of each sample.
    m.OpenFull("trun", 1, 0x000001 | 0x000100 | 0x000200 | 0x000400 | 0x000800);
    m.U32((uint32_t)n);
    const size_t posDataOffset = m.b.size();
    m.U32(0);
    for (size_t i = 0; i < n; ++i) {
        m.U32(dur[i]);
        m.U32(rg[i].cb);
        m.U32(rg[i].bSync ? 0x02000000 : 0x01010000);
        m.U32((uint32_t)(int32_t)(pts[i] - dts[i]));
    }
    m.Close();
    m.Close();  // traf
    m.Close();  // moof
    const uint32_t dataOffset = (uint32_t)m.b.size() + 8;
    for (int i = 0; i < 4; ++i) m.b[posDataOffset + i] = (uint8_t)(dataOffset >> (24 - 8 * i));
    return m.b;
}

std::vector<uint8_t> CMp4Muxer::BuildMoov(const std::vector<Sample>& rg, bool bFragmented) {
    const size_t n = rg.size();

    // Presentation times in media units, relative to the earliest one.
    int64_t tBase = 0;
    for (size_t i = 0; i < n; ++i) tBase = i == 0 ? rg[i].tStart : std::min(tBase, rg[i].tStart);
    std::vector<int64_t> pts(n);
    for (size_t i = 0; i < n; ++i) pts[i] = ToScale(rg[i].tStart - tBase, kTimescale);

    // Decode times: the presentation times in order, moved back by the reordering delay.
    std::vector<int64_t> dts(pts);
    std::sort(dts.begin(), dts.end());
    int64_t delay = 0;
    for (size_t i = 0; i < n; ++i) delay = std::max(delay, dts[i] - pts[i]);
    // Durations; the last from its own stop time or the frame duration.
    std::vector<uint32_t> dur(n);
    int64_t lastDur = m_tFrame > 0 ? ToScale(m_tFrame, kTimescale) : kTimescale / 25;
    if (n > 0) {
        const Sample& last = rg[n - 1];
        if (last.tStop > last.tStart)
            lastDur = ToScale(last.tStop - last.tStart, kTimescale);
        else if (n > 1)
            lastDur = dts[n - 1] - dts[n - 2];
        if (lastDur <= 0) lastDur = 1;
    }
    for (size_t i = 0; i < n; ++i)
        dur[i] = (uint32_t)(i + 1 < n ? dts[i + 1] - dts[i] : lastDur);
    bool bCtts = delay != 0;
    for (size_t i = 0; i < n && !bCtts; ++i) bCtts = pts[i] != dts[i];
    bool bAllSync = true;
    for (const Sample& s : rg) bAllSync &= s.bSync;

    // Chunks: runs of samples that lie one after the other in the file, at most 32 each.
    std::vector<uint64_t> chunkOffsets;
    std::vector<uint32_t> chunkCounts;
    for (size_t i = 0; i < n; ++i) {
        if (i == 0 || rg[i].offset != rg[i - 1].offset + rg[i - 1].cb || chunkCounts.back() == kSamplesPerChunk) {
            chunkOffsets.push_back(rg[i].offset);
            chunkCounts.push_back(0);
        }
        ++chunkCounts.back();
    }
    bool bCo64 = !chunkOffsets.empty() && chunkOffsets.back() > m_cbLarge;

    int64_t mediaDur = n > 0 ? dts[n - 1] + lastDur - dts[0] : 0;
    int64_t movieDur = (mediaDur * kMovieTimescale + kTimescale / 2) / kTimescale;
    const bool bLong = mediaDur > 0xFFFFFFFFll || movieDur > 0xFFFFFFFFll;

    int width = m_nWidth, height = m_nHeight;
    annexb::SpsInfo sps;
    bool bSps = !m_sps.empty() && annexb::ParseSps(m_sps.data(), m_sps.size(), &sps);
    if (bSps) width = sps.width, height = sps.height;
    const bool bTrack = bSps && !m_pps.empty();

    CBoxes m;
    m.Open("moov");
    m.OpenFull("mvhd", bLong ? 1 : 0, 0);
    if (bLong) m.U64(0), m.U64(0), m.U32(kMovieTimescale), m.U64(movieDur);
    else m.U32(0), m.U32(0), m.U32(kMovieTimescale), m.U32((uint32_t)movieDur);
    m.U32(0x10000);  // rate 1.0
    m.U16(0x100);    // volume 1.0
    m.Zeros(10);
    m.Matrix();
    m.Zeros(24);
    m.U32(bTrack ? 2 : 1);  // next track id
    m.Close();

    if (bTrack) {
        m.Open("trak");
        m.OpenFull("tkhd", bLong ? 1 : 0, 7);
        if (bLong) m.U64(0), m.U64(0), m.U32(1), m.U32(0), m.U64(movieDur);
        else m.U32(0), m.U32(0), m.U32(1), m.U32(0), m.U32((uint32_t)movieDur);
        m.Zeros(8);
        m.U16(0), m.U16(0), m.U16(0), m.U16(0);  // layer, group, volume, reserved
        m.Matrix();
        m.U32((uint32_t)width << 16);
        m.U32((uint32_t)height << 16);
        m.Close();
        if (delay > 0) {
            // Presentation starts at the first frame, not at the first decode time.
            m.Open("edts");
            m.OpenFull("elst", bLong ? 1 : 0, 0);
            m.U32(1);
            if (bLong) m.U64(movieDur), m.U64(delay);
            else m.U32((uint32_t)movieDur), m.U32((uint32_t)delay);
            m.U32(0x10000);
            m.Close();
            m.Close();
        }
        m.Open("mdia");
        m.OpenFull("mdhd", bLong ? 1 : 0, 0);
        if (bLong) m.U64(0), m.U64(0), m.U32(kTimescale), m.U64(mediaDur);
        else m.U32(0), m.U32(0), m.U32(kTimescale), m.U32((uint32_t)mediaDur);
        m.U16(('u' - 0x60) << 10 | ('n' - 0x60) << 5 | ('d' - 0x60));
        m.U16(0);
        m.Close();
        m.OpenFull("hdlr", 0, 0);
        m.U32(0);
        m.Tag("vide");
        m.Zeros(12);
        static const char kName[] = "VideoHandler";
        m.b.insert(m.b.end(), kName, kName + sizeof kName);
        m.Close();
        m.Open("minf");
        m.OpenFull("vmhd", 0, 1);
        m.Zeros(8);
        m.Close();
        m.Open("dinf");
        m.OpenFull("dref", 0, 0);
        m.U32(1);
        m.OpenFull("url ", 0, 1);
        m.Close();
        m.Close();
        m.Close();
        m.Open("stbl");

        m.OpenFull("stsd", 0, 0);
        m.U32(1);
        m.Open("avc1");
        m.Zeros(6);
        m.U16(1);  // data reference index
        m.Zeros(16);
        m.U16(width), m.U16(height);
        m.U32(0x480000), m.U32(0x480000);  // 72 dpi
        m.U32(0);
        m.U16(1);   // frame count
        m.Zeros(32);  // compressor name
        m.U16(24);
        m.U16(0xFFFF);
        m.Open("avcC");
        m.U8(1);
        m.U8(m_sps[1]), m.U8(m_sps[2]), m.U8(m_sps[3]);
        m.U8(0xFF);  // 4-byte lengths
        m.U8(0xE1);
        m.U16((unsigned)m_sps.size());
        m.Bytes(m_sps);
        m.U8(1);
        m.U16((unsigned)m_pps.size());
        m.Bytes(m_pps);
        if (sps.profile == 100 || sps.profile == 110 || sps.profile == 122 || sps.profile == 144) {
            m.U8(0xFC | sps.chromaFormat);
            m.U8(0xF8 | (sps.bitDepthLuma - 8));
            m.U8(0xF8 | (sps.bitDepthChroma - 8));
            m.U8(0);
        }
        m.Close();
        m.Close();
        m.Close();

        // stts: runs of equal durations.
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        for (size_t i = 0; i < n; ++i) {
            if (!runs.empty() && runs.back().second == dur[i]) ++runs.back().first;
            else runs.push_back({1, dur[i]});
        }
        m.OpenFull("stts", 0, 0);
        m.U32((uint32_t)runs.size());
        for (auto& r : runs) m.U32(r.first), m.U32(r.second);
        m.Close();

        if (bCtts) {
            runs.clear();
            for (size_t i = 0; i < n; ++i) {
                uint32_t off = (uint32_t)(pts[i] - dts[i] + delay);
                if (!runs.empty() && runs.back().second == off) ++runs.back().first;
                else runs.push_back({1, off});
            }
            m.OpenFull("ctts", 0, 0);
            m.U32((uint32_t)runs.size());
            for (auto& r : runs) m.U32(r.first), m.U32(r.second);
            m.Close();
        }

        if (!bAllSync) {
            m.OpenFull("stss", 0, 0);
            size_t cSync = 0;
            for (const Sample& s : rg) cSync += s.bSync;
            m.U32((uint32_t)cSync);
            for (size_t i = 0; i < n; ++i)
                if (rg[i].bSync) m.U32((uint32_t)(i + 1));
            m.Close();
        }

        // stsc: runs of chunks with the same number of samples.
        std::vector<std::pair<uint32_t, uint32_t>> chunkRuns;  // first chunk (1-based), samples
        for (size_t c = 0; c < chunkCounts.size(); ++c)
            if (chunkRuns.empty() || chunkRuns.back().second != chunkCounts[c])
                chunkRuns.push_back({(uint32_t)(c + 1), chunkCounts[c]});
        m.OpenFull("stsc", 0, 0);
        m.U32((uint32_t)chunkRuns.size());
        for (auto& r : chunkRuns) m.U32(r.first), m.U32(r.second), m.U32(1);
        m.Close();

        m.OpenFull("stsz", 0, 0);
        m.U32(0);
        m.U32((uint32_t)n);
        for (const Sample& s : rg) m.U32(s.cb);
        m.Close();

        m.OpenFull(bCo64 ? "co64" : "stco", 0, 0);
        m.U32((uint32_t)chunkOffsets.size());
        for (uint64_t off : chunkOffsets) {
            if (bCo64) m.U64(off);
            else m.U32((uint32_t)off);
        }
        m.Close();

        m.Close();  // stbl
        m.Close();  // minf
        m.Close();  // mdia
        m.Close();  // trak
    }
    if (bFragmented) {
        // The samples follow in movie fragments.
        m.Open("mvex");
        m.OpenFull("trex", 0, 0);
        m.U32(1);  // track
        m.U32(1);  // sample description
        m.U32(0), m.U32(0), m.U32(0);
        m.Close();
        m.Close();
    }
    m.Close();  // moov
    return m.b;
}
