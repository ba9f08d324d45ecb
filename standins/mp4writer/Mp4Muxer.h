// Writes one H.264 video track, received as Annex-B access units, into an MPEG-4 file.
// Media data goes to disk as it arrives; the index (moov) is written by Finish().
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

    // Sizes and offsets above this take the 64-bit forms (mdat largesize, co64); 4 GiB - 1
    // unless lowered, so that tests can reach those forms with small files.
    void SetLargeFileLimit(uint64_t cbLimit) { m_cbLarge = cbLimit; }

    size_t SampleCount() const { return m_rgSamples.size(); }
    uint64_t DataBytes() const { return m_cbData; }

private:
    struct Sample {
        uint64_t offset;
        uint32_t cb;
        bool bSync;
        int64_t tStart;  // 100 ns
        int64_t tStop;   // <= tStart: none
    };

    HRESULT Write(const void* p, size_t cb);
    HRESULT WriteAt(uint64_t pos, const void* p, size_t cb);
    std::vector<uint8_t> BuildMoov();

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    HRESULT m_hrWrite = S_OK;
    uint64_t m_posMdat = 0;  // position of the mdat header (8 bytes, a free box before it)
    uint64_t m_cbData = 0;   // bytes of media data
    std::vector<Sample> m_rgSamples;
    std::vector<uint8_t> m_sps, m_pps;
    std::vector<uint8_t> m_buf;
    int m_nWidth = 0, m_nHeight = 0;
    int64_t m_tFrame = 0;
    uint64_t m_cbLarge = 0xFFFFFFFFull;
};
