// Writes one H.264 video track, received as Annex-B access units, into an MPEG-4 file.
//
// A recording survives its end by a failed write, a killed process or a power cut: media
// data goes to disk as movie fragments of about half a second (a fragmented header once the
// parameter sets are known, then one moof and mdat per fragment, each flushed to the disk),
// so a file cut off anywhere plays up to the last whole fragment. A failed write takes the
// unfinished fragment off the file again. Finish() then makes the file an ordinary MPEG-4
// file: it writes the complete index (moov) at the end, pointing into the fragments' media
// data, and turns the fragmented header and the moof boxes into free boxes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CMp4Muxer {
public:
    CMp4Muxer() = default;
    ~CMp4Muxer();
    CMp4Muxer(const CMp4Muxer&) = delete;
    CMp4Muxer& operator=(const CMp4Muxer&) = delete;

    // Creates (or truncates) the file and writes the file header. A failure leaves no file
    // open and returns the system's code.
    HRESULT Create(LPCWSTR pszPath);
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    // Size from the connection's format; used when the stream's SPS can't be read.
    void SetFrameSize(int nWidth, int nHeight) {
        m_nWidth = nWidth;
        m_nHeight = nHeight;
    }
    // Frame duration (100 ns units) for samples without time stamps and for the last sample.
    void SetFrameDuration(int64_t tFrame) { m_tFrame = tFrame; }

    // One access unit in Annex-B form. Times in 100 ns units; bHasTime false when the sample
    // carries none, tStop <= tStart when there is no stop time. Parameter sets and access
    // unit delimiters are taken out of the samples; the first SPS and PPS go into avcC.
    HRESULT AddSample(const uint8_t* p, size_t cb, bool bHasTime, int64_t tStart, int64_t tStop);

    // Writes the index and closes the file. Safe to call when nothing was opened.
    HRESULT Finish();
    // Closes the file without an index (after a write failure).
    void Abort();

    // Offsets above this take the 64-bit chunk offsets (co64); 4 GiB - 1 unless lowered, so
    // that tests can reach that form with small files.
    void SetLargeFileLimit(uint64_t cbLimit) { m_cbLarge = cbLimit; }

    size_t SampleCount() const { return m_rgSamples.size() + m_rgWaiting.size(); }
    uint64_t DataBytes() const { return m_cbData; }

private:
    struct Sample {
        uint64_t offset;  // in the file; in the fragment's data while it waits
        uint32_t cb;
        bool bSync;
        int64_t tStart;  // 100 ns
        int64_t tStop;   // <= tStart: none
    };

    HRESULT Write(const void* p, size_t cb);
    HRESULT WriteAt(uint64_t pos, const void* p, size_t cb);
    // Writes the waiting samples as one fragment (the fragmented header first); a failure
    // leaves the file as it was before the fragment.
    HRESULT WriteFragment();
    // Whether the sample about to be added starts a new fragment.
    bool FragmentEndsBefore(int64_t tStart) const;
    // Presentation times of samples in media units, from the first sample's.
    int64_t MediaTime(int64_t t) const;
    // The index of the given samples; bFragmented: the empty index of a fragmented file.
    std::vector<uint8_t> BuildMoov(const std::vector<Sample>& rg, bool bFragmented);
    std::vector<uint8_t> BuildMoof(std::vector<Sample>& rg);

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    HRESULT m_hrWrite = S_OK;
    uint64_t m_cbFile = 0;  // bytes written, all of them whole boxes
    uint64_t m_cbData = 0;  // bytes of media data
    std::vector<Sample> m_rgSamples;  // written
    std::vector<Sample> m_rgWaiting;  // received, not yet written
    std::vector<uint8_t> m_waiting;   // their data
    int64_t m_tWaitingMax = 0;        // the latest presentation time among them
    int64_t m_tBase = 0;              // the first sample's presentation time
    int64_t m_tDecodeEnd = 0;         // decode time after the last written fragment
    uint64_t m_posInit = 0;           // the fragmented header; 0 until written
    std::vector<uint64_t> m_rgMoof;   // positions of the moof boxes
    uint32_t m_nSequence = 0;
    std::vector<uint8_t> m_sps, m_pps;
    std::vector<uint8_t> m_buf;
    int m_nWidth = 0, m_nHeight = 0;
    int64_t m_tFrame = 0;
    uint64_t m_cbLarge = 0xFFFFFFFFull;
};
