#include "tests/encoder/EncoderTestUtil.h"

#include <dvdmedia.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "tests/support/HostTools.h"

const Yuv kQuadrantColours[4] = {{82, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}};

namespace {

const BYTE kRgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};  // R, G, B

int Quadrant(int x, int y, int w, int h) { return (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0); }

const BITMAPINFOHEADER* Header(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype == FORMAT_VideoInfo2) return &((const VIDEOINFOHEADER2*)mt.pbFormat)->bmiHeader;
    return &((const VIDEOINFOHEADER*)mt.pbFormat)->bmiHeader;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

CKitMediaType MakeRawType(const GUID& subtype, int width, int height, bool bInfo2, REFERENCE_TIME tFrame,
                          DWORD dwInterlace, bool bTopDownRgb) {
    WORD bits = 12;
    DWORD compression = subtype.Data1;
    long cbImage = width * height * 3 / 2;
    const bool bRgb = subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32;
    if (subtype == MEDIASUBTYPE_YUY2) {
        bits = 16;
        cbImage = width * height * 2;
    } else if (bRgb) {
        bits = subtype == MEDIASUBTYPE_RGB24 ? 24 : 32;
        compression = BI_RGB;
        cbImage = (((width * bits / 8) + 3) & ~3) * height;
    }
    BITMAPINFOHEADER bmi = {};
    bmi.biSize = sizeof(bmi);
    bmi.biWidth = width;
    bmi.biHeight = bRgb && bTopDownRgb ? -height : height;
    bmi.biPlanes = 1;
    bmi.biBitCount = bits;
    bmi.biCompression = compression;
    bmi.biSizeImage = cbImage;
    CKitMediaType mt;
    if (bInfo2) {
        mt.Set(MEDIATYPE_Video, subtype, FORMAT_VideoInfo2);
        auto* vih2 = (VIDEOINFOHEADER2*)mt.AllocFormat(sizeof(VIDEOINFOHEADER2));
        vih2->AvgTimePerFrame = tFrame;
        vih2->dwInterlaceFlags = dwInterlace;
        vih2->dwPictAspectRatioX = 4;
        vih2->dwPictAspectRatioY = 3;
        vih2->bmiHeader = bmi;
    } else {
        mt.Set(MEDIATYPE_Video, subtype, FORMAT_VideoInfo);
        auto* vih = (VIDEOINFOHEADER*)mt.AllocFormat(sizeof(VIDEOINFOHEADER));
        vih->AvgTimePerFrame = tFrame;
        vih->bmiHeader = bmi;
    }
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = cbImage;
    return mt;
}

void FillQuadrants(const AM_MEDIA_TYPE& mt, BYTE* p, long) {
    const BITMAPINFOHEADER* bmi = Header(mt);
    const int w = bmi->biWidth, h = std::abs(bmi->biHeight);
    if (mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32) {
        const int bpp = bmi->biBitCount / 8, stride = ((w * bpp) + 3) & ~3;
        const bool bBottomUp = bmi->biHeight > 0;
        for (int y = 0; y < h; ++y) {
            BYTE* row = p + (size_t)(bBottomUp ? h - 1 - y : y) * stride;
            for (int x = 0; x < w; ++x) {
                const BYTE* c = kRgb[Quadrant(x, y, w, h)];
                row[x * bpp + 0] = c[2];
                row[x * bpp + 1] = c[1];
                row[x * bpp + 2] = c[0];
            }
        }
        return;
    }
    if (mt.subtype == MEDIASUBTYPE_YUY2) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                const Yuv& c = kQuadrantColours[Quadrant(x, y, w, h)];
                BYTE* q = p + (size_t)y * w * 2 + x * 2;
                q[0] = (BYTE)c.y;
                q[1] = (BYTE)c.u;
                q[2] = (BYTE)c.y;
                q[3] = (BYTE)c.v;
            }
        return;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[(size_t)y * w + x] = (BYTE)kQuadrantColours[Quadrant(x, y, w, h)].y;
    BYTE* c1 = p + (size_t)w * h;
    const int cw = w / 2, ch = h / 2;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const Yuv& c = kQuadrantColours[Quadrant(x * 2, y * 2, w, h)];
            if (mt.subtype == MEDIASUBTYPE_NV12) {
                c1[(size_t)y * w + 2 * x] = (BYTE)c.u;
                c1[(size_t)y * w + 2 * x + 1] = (BYTE)c.v;
            } else {
                const bool bYv12 = mt.subtype == MEDIASUBTYPE_YV12;
                BYTE* pu = c1 + (size_t)(bYv12 ? cw * ch : 0);
                BYTE* pv = c1 + (size_t)(bYv12 ? 0 : cw * ch);
                pu[(size_t)y * cw + x] = (BYTE)c.u;
                pv[(size_t)y * cw + x] = (BYTE)c.v;
            }
        }
}

namespace {

// Exp-Golomb reader over the first bytes of a slice (no emulation bytes that early).
struct BitReader {
    const unsigned char* p;
    size_t n, pos = 0;
    int Bit() {
        if (pos / 8 >= n) return 0;
        int b = (p[pos / 8] >> (7 - pos % 8)) & 1;
        ++pos;
        return b;
    }
    unsigned Ue() {
        int zeros = 0;
        while (Bit() == 0 && zeros < 32) ++zeros;
        unsigned v = 0;
        for (int i = 0; i < zeros; ++i) v = (v << 1) | Bit();
        return (1u << zeros) - 1 + v;
    }
};

}  // namespace

std::vector<CodedFrame> ParseAnnexB(const std::string& data) {
    std::vector<CodedFrame> frames;
    const auto* p = (const unsigned char*)data.data();
    const size_t n = data.size();
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            size_t h = i + 3;
            int type = p[h] & 0x1f;
            if (type == 1 || type == 5) {
                BitReader br{p + h + 1, n - h - 1};
                unsigned firstMb = br.Ue();
                unsigned sliceType = br.Ue();
                if (firstMb == 0) {
                    CodedFrame f;
                    f.nalType = type;
                    f.sliceType = (int)sliceType;
                    frames.push_back(f);
                }
            }
            i = h;
        }
    }
    return frames;
}

std::string SaveStream(const std::string& data) {
    std::string path = UniqueTmpPath(".264");
    WriteHostFile(path, data);
    return path;
}

StreamFacts ProbeStream(const std::string& path) {
    StreamFacts f;
    std::string out;
    RunHost("ffprobe -v error -f h264 -count_frames -select_streams v:0 -show_entries "
            "stream=width,height,nb_read_frames,profile -of default=noprint_wrappers=1 " + Quote(path), &out);
    char profile[64] = {};
    for (size_t pos = 0; pos < out.size();) {
        size_t end = out.find('\n', pos);
        std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        sscanf(line.c_str(), "width=%d", &f.width);
        sscanf(line.c_str(), "height=%d", &f.height);
        sscanf(line.c_str(), "nb_read_frames=%d", &f.frames);
        if (sscanf(line.c_str(), "profile=%63[^\n]", profile) == 1) f.profile = profile;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    RunHost("ffmpeg -nostdin -v error -f h264 -i " + Quote(path) + " -f null - 2>&1", &f.errors);
    std::string keys;
    RunHost("ffprobe -v error -f h264 -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 " + Quote(path),
            &keys);
    for (char c : keys)
        if (c == '0' || c == '1') f.keyFrames += c;
    return f;
}

bool DecodeToYuv(const std::string& path, std::string* yuv) {
    std::string out = UniqueTmpPath(".yuv");
    if (RunHost("ffmpeg -nostdin -v error -y -f h264 -i " + Quote(path) + " -f rawvideo -pix_fmt yuv420p " +
                Quote(out)) != 0)
        return false;
    return ReadHostFile(out, yuv);
}

std::string MakeMediaFile(const std::string& name, const std::string& outputOptions, int width, int height,
                          int frames) {
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    std::string path = TestTmpDir() + "/encoder-" + name;
    char src[128];
    snprintf(src, sizeof src, "testsrc2=size=%dx%d:rate=25", width, height);
    std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i " + std::string(src) + " -frames:v " +
                      std::to_string(frames) + " " + outputOptions + " " + Quote(path);
    if (RunHost(cmd) != 0) path.clear();
    made[name] = path;
    return path;
}

HRESULT CreateEncoder(IBaseFilter** ppEncoder) {
    return ::CoCreateInstance(CLSID_VireonEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              (void**)ppEncoder);
}

HRESULT RenderFileWithoutVideoRenderer(IGraphBuilder* pGraph, const std::wstring& file, IPin** ppVideoOut) {
    *ppVideoOut = nullptr;
    HRESULT hr = pGraph->RenderFile(file.c_str(), nullptr);
    if (FAILED(hr)) return hr;
    CComPtr<IEnumFilters> spEnum;
    pGraph->EnumFilters(&spEnum);
    CComPtr<IBaseFilter> spFilter;
    while (spEnum->Next(1, &spFilter, nullptr) == S_OK) {
        CComQIPtr<IVideoWindow> spWindow(spFilter);
        if (spWindow) {
            CComPtr<IPin> spIn, spOut;
            spIn.Attach(FirstPin(spFilter, PINDIR_INPUT));
            if (spIn && spIn->ConnectedTo(&spOut) == S_OK) {
                hr = pGraph->RemoveFilter(spFilter);
                if (FAILED(hr)) return hr;
                *ppVideoOut = spOut.Detach();
                return S_OK;
            }
        }
        spFilter.Release();
    }
    return E_FAIL;
}

void CountPins(IBaseFilter* pFilter, int* pnIn, int* pnOut, bool* pbAllConnected) {
    *pnIn = *pnOut = 0;
    *pbAllConnected = true;
    CComPtr<IEnumPins> spEnum;
    pFilter->EnumPins(&spEnum);
    CComPtr<IPin> spPin;
    while (spEnum->Next(1, &spPin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        spPin->QueryDirection(&d);
        ++(d == PINDIR_INPUT ? *pnIn : *pnOut);
        CComPtr<IPin> spPeer;
        if (spPin->ConnectedTo(&spPeer) != S_OK) *pbAllConnected = false;
        spPin.Release();
    }
}
