#include "standins/mp4writer/Mp4Writer.h"

#include "graph/Vireon.h"
#include "standins/media/MediaType.h"
#include "standins/media/VideoFormat.h"

#include <dvdmedia.h>

namespace {

// Frame size and duration from the format block, when it has them.
void ReadFormat(const AM_MEDIA_TYPE& mt, int* pnW, int* pnH, REFERENCE_TIME* ptFrame) {
    VideoHeader header;
    const bool bRead = ReadVideoHeader(mt, &header);
    *pnW = bRead ? header.bmi.biWidth : 0;
    *pnH = bRead ? header.Rows() : 0;
    *ptFrame = bRead ? header.tAvgTimePerFrame : 0;
}

}  // namespace

CKitUnknown* CMp4Writer::Create(IUnknown* pOuter, HRESULT* phr) {
    *phr = S_OK;
    return new CMp4Writer(pOuter);
}

CMp4Writer::CMp4Writer(IUnknown* pOuter)
    : CKitRenderer(L"Morvane MPEG-4 Writer", pOuter, CLSID_VireonMp4Writer) {}

CMp4Writer::~CMp4Writer() { m_mux.Finish(); }

HRESULT STDMETHODCALLTYPE CMp4Writer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFileSinkFilter2 || riid == IID_IFileSinkFilter)
        return GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    return CKitRenderer::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMp4Writer::CheckMediaType(const AM_MEDIA_TYPE* pmt) {
    return pmt->majortype == MEDIATYPE_Video && media::IsH264ByteStreamSubtype(pmt->subtype) ? S_OK : S_FALSE;
}

HRESULT CMp4Writer::GetMediaType(int iPosition, CKitMediaType* pmt) {
    if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
    pmt->Set(MEDIATYPE_Video, media::kSubtypeH264, GUID_NULL);
    return S_OK;
}

STDMETHODIMP CMp4Writer::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
    if (!pszFileName) return E_POINTER;
    if (!*pszFileName) return E_INVALIDARG;
    CKitAutoLock lock(FilterLock());
    if (m_state != State_Stopped) return VFW_E_WRONG_STATE;

    // The folder must exist now; the file itself is made when the graph starts.
    wchar_t szFull[MAX_PATH * 4];
    wchar_t* pszName = nullptr;
    DWORD cch = ::GetFullPathNameW(pszFileName, ARRAYSIZE(szFull), szFull, &pszName);
    if (cch == 0 || cch >= ARRAYSIZE(szFull) || !pszName || !*pszName)
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    DWORD dwAttr = ::GetFileAttributesW(szFull);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    std::wstring folder(szFull, pszName - szFull);
    dwAttr = ::GetFileAttributesW(folder.c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    m_file = szFull;
    return S_OK;
}

STDMETHODIMP CMp4Writer::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;
    CKitAutoLock lock(FilterLock());
    if (pmt) {
        ZeroMemory(pmt, sizeof *pmt);
        if (Input()->IsConnected()) media::CopyMediaType(pmt, &Input()->CurrentMediaType());
    }
    if (m_file.empty()) return E_FAIL;
    size_t cb = (m_file.size() + 1) * sizeof(wchar_t);
    *ppszFileName = (LPOLESTR)::CoTaskMemAlloc(cb);
    if (!*ppszFileName) return E_OUTOFMEMORY;
    memcpy(*ppszFileName, m_file.c_str(), cb);
    return S_OK;
}

STDMETHODIMP CMp4Writer::SetMode(DWORD dwFlags) {
    if (dwFlags & ~(DWORD)AM_FILE_OVERWRITE) return E_INVALIDARG;
    CKitAutoLock lock(FilterLock());
    m_dwMode = dwFlags;
    return S_OK;
}

STDMETHODIMP CMp4Writer::GetMode(DWORD* pdwFlags) {
    if (!pdwFlags) return E_POINTER;
    CKitAutoLock lock(FilterLock());
    *pdwFlags = m_dwMode;
    return S_OK;
}

void CMp4Writer::Fail(HRESULT hr) {
    if (SUCCEEDED(m_hrFailed)) {
        m_hrFailed = hr;
        NotifyEvent(EC_ERRORABORT, hr, 0);
    }
}

HRESULT CMp4Writer::OnStartStreaming() {
    m_hrFailed = S_OK;
    if (!Input()->IsConnected()) return S_OK;
    // A connected writer without a file would lose the stream. The failure goes to the
    // application as EC_ERRORABORT and to the upstream filter as Receive's result; the state
    // change itself succeeds, since a graph whose filters were left half paused by a failed
    // Run cannot be stopped or released.
    HRESULT hr = m_file.empty() ? E_FAIL : m_mux.Create(m_file.c_str());
    if (FAILED(hr)) {
        Fail(hr);
        return S_OK;
    }
    int nW, nH;
    REFERENCE_TIME tFrame;
    ReadFormat(Input()->CurrentMediaType(), &nW, &nH, &tFrame);
    m_mux.SetFrameSize(nW, nH);
    m_mux.SetFrameDuration(tFrame);
    return S_OK;
}

HRESULT CMp4Writer::OnStopStreaming() {
    // A failure to write the index is reported by EC_ERRORABORT; stopping goes on.
    Complete();
    return S_OK;
}

HRESULT CMp4Writer::Render(IMediaSample* pSample) {
    if (FAILED(m_hrFailed)) return m_hrFailed;
    if (!m_mux.IsOpen()) return S_FALSE;  // after end of stream
    BYTE* p = nullptr;
    HRESULT hr = pSample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    long cb = pSample->GetActualDataLength();
    REFERENCE_TIME tStart = 0, tStop = 0;
    hr = pSample->GetTime(&tStart, &tStop);
    bool bHasTime = SUCCEEDED(hr);
    if (hr == VFW_S_NO_STOP_TIME) tStop = tStart;
    hr = m_mux.AddSample(p, cb > 0 ? (size_t)cb : 0, bHasTime, tStart, tStop);
    if (FAILED(hr)) {
        Fail(hr);
        m_mux.Abort();
        return hr;
    }
    return S_OK;
}

HRESULT CMp4Writer::Complete() {
    if (!m_mux.IsOpen()) return FAILED(m_hrFailed) ? m_hrFailed : S_OK;
    HRESULT hr = m_mux.Finish();
    if (FAILED(hr)) Fail(hr);
    return hr;
}

// The index is written at once; EC_COMPLETE follows (from the base) only when that worked.
HRESULT CMp4Writer::OnEndOfStream() { return Complete(); }
