#include "tests/support/fakes/FakeGraph.h"

#include <uuids.h>

#include <cstdio>

namespace {

std::wstring Num(long long n) { return std::to_wstring(n); }

std::wstring Hex(ULONG_PTR n) {
    wchar_t sz[32];
    swprintf(sz, 32, L"%llx", (unsigned long long)n);
    return sz;
}

}  // namespace

FakeGraph::FakeGraph() : m_cRef(1) {}

FakeGraph::~FakeGraph() {
    // Filters hold their graph uncounted; tell them it is gone.
    for (auto& spFilter : filters) spFilter->JoinFilterGraph(NULL, NULL);
}

CComPtr<FakeGraph> FakeGraph::Create() {
    CComPtr<FakeGraph> sp;
    sp.Attach(new FakeGraph());
    return sp;
}

void* FakeGraph::QueryInterfaceImpl(REFIID riid) {
    if (refused.IsRefused(riid)) return NULL;
    if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph)
        return static_cast<IGraphBuilder*>(this);
    if (riid == IID_IMediaControl) return static_cast<IMediaControl*>(this);
    if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx) return static_cast<IMediaEventEx*>(this);
    if (riid == IID_IMediaEventSink) return static_cast<IMediaEventSink*>(this);
    if (riid == IID_IMediaSeeking) return static_cast<IMediaSeeking*>(this);
    if (riid == IID_IVideoWindow) return static_cast<IVideoWindow*>(this);
    if (riid == IID_IPersistStream || riid == IID_IPersist) return static_cast<IPersistStream*>(this);
    return NULL;
}

CComPtr<IBaseFilter> FakeGraph::Filter(const std::wstring& name) const {
    for (const auto& spFilter : filters)
        if (FilterName(spFilter) == name) return spFilter;
    return CComPtr<IBaseFilter>();
}

void FakeGraph::Insert(IBaseFilter* pFilter, LPCWSTR pszName) {
    filters.push_back(pFilter);
    pFilter->JoinFilterGraph(static_cast<IFilterGraph*>(this), pszName);
}

std::vector<std::wstring> FakeGraph::FilterNames() const {
    std::vector<std::wstring> names;
    for (const auto& spFilter : filters) names.push_back(FilterName(spFilter));
    return names;
}

void FakeGraph::PostEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    events.push_back(Event{code, param1, param2});
    if (hWndNotify) ::PostMessageW((HWND)hWndNotify, (UINT)lMsgNotify, 0, lInstanceData);
}

// ---------------------------------------------------------------------------------------
// IFilterGraph / IGraphBuilder

STDMETHODIMP FakeGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    std::wstring name = pName ? pName : L"";
    CallLog().Add(L"AddFilter " + name);
    if (pFilter == NULL) return E_POINTER;
    auto it = hrAddFilterFor.find(name);
    if (it != hrAddFilterFor.end() && it->second != S_OK) return it->second;
    filters.push_back(pFilter);
    pFilter->JoinFilterGraph(static_cast<IFilterGraph*>(this), pName);
    return S_OK;
}

STDMETHODIMP FakeGraph::RemoveFilter(IBaseFilter* pFilter) {
    CallLog().Add(L"RemoveFilter " + FilterName(pFilter));
    if (pFilter == NULL) return E_POINTER;
    if (hrRemoveFilter != S_OK) return hrRemoveFilter;
    for (size_t i = 0; i < filters.size(); ++i) {
        if (filters[i] != pFilter) continue;
        CComPtr<IEnumPins> spEnum;
        if (SUCCEEDED(pFilter->EnumPins(&spEnum)) && spEnum) {
            CComPtr<IPin> spPin;
            while (spEnum->Next(1, &spPin, NULL) == S_OK) {
                CComPtr<IPin> spPeer;
                if (spPin->ConnectedTo(&spPeer) == S_OK && spPeer) spPeer->Disconnect();
                spPin->Disconnect();
                spPin.Release();
            }
        }
        pFilter->JoinFilterGraph(NULL, NULL);
        filters.erase(filters.begin() + i);
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP FakeGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (ppEnum == NULL) return E_POINTER;
    *ppEnum = NULL;
    if (FAILED(hrEnumFilters)) return hrEnumFilters;
    *ppEnum = FakeEnum<IEnumFilters, IBaseFilter>::Create(filters, filtersFailAt, hrFiltersFail).Detach();
    return S_OK;
}

STDMETHODIMP FakeGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    if (pName == NULL || ppFilter == NULL) return E_POINTER;
    *ppFilter = Filter(pName).Detach();
    return *ppFilter ? S_OK : VFW_E_NOT_FOUND;
}

STDMETHODIMP FakeGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    CallLog().Add(L"ConnectDirect " + PinLabel(ppinOut) + L" -> " + PinLabel(ppinIn) + (pmt ? L" (typed)" : L""));
    if (ppinOut == NULL || ppinIn == NULL) return E_POINTER;
    return ppinOut->Connect(ppinIn, pmt);
}

STDMETHODIMP FakeGraph::Reconnect(IPin*) { return E_NOTIMPL; }

STDMETHODIMP FakeGraph::Disconnect(IPin* ppin) {
    if (ppin == NULL) return E_POINTER;
    return ppin->Disconnect();
}

STDMETHODIMP FakeGraph::SetDefaultSyncSource() { return S_OK; }

STDMETHODIMP FakeGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    CallLog().Add(L"Connect " + PinLabel(ppinOut) + L" -> " + PinLabel(ppinIn));
    if (ppinOut == NULL || ppinIn == NULL) return E_POINTER;
    return ppinOut->Connect(ppinIn, NULL);
}

STDMETHODIMP FakeGraph::Render(IPin* ppinOut) {
    CallLog().Add(L"Render " + PinLabel(ppinOut));
    if (ppinOut == NULL) return E_POINTER;
    if (onRender) return onRender(ppinOut);
    CComPtr<FakeFilter> spRenderer = CreateFakeRenderer();
    HRESULT hr = AddFilter(spRenderer, L"Video Renderer");
    if (FAILED(hr)) return hr;
    hr = ppinOut->Connect(spRenderer->Pin(0), NULL);
    if (FAILED(hr)) return hr;
    return hrRender;
}

STDMETHODIMP FakeGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR) {
    CallLog().Add(std::wstring(L"RenderFile ") + (lpcwstrFile ? lpcwstrFile : L"(null)"));
    return onRenderFile ? onRenderFile(lpcwstrFile) : E_NOTIMPL;
}

STDMETHODIMP FakeGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) {
    if (ppFilter) *ppFilter = NULL;
    return E_NOTIMPL;
}

STDMETHODIMP FakeGraph::SetLogFile(DWORD_PTR) { return S_OK; }
STDMETHODIMP FakeGraph::Abort() { return S_OK; }
STDMETHODIMP FakeGraph::ShouldOperationContinue() { return S_OK; }

// ---------------------------------------------------------------------------------------
// IDispatch

STDMETHODIMP FakeGraph::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo) *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------
// IMediaControl

STDMETHODIMP FakeGraph::Run() {
    CallLog().Add(L"Run");
    if (SUCCEEDED(hrRun)) state = State_Running;
    return hrRun;
}

STDMETHODIMP FakeGraph::Pause() {
    CallLog().Add(L"Pause");
    if (SUCCEEDED(hrPause)) state = State_Paused;
    return hrPause;
}

STDMETHODIMP FakeGraph::Stop() {
    CallLog().Add(L"Stop");
    if (SUCCEEDED(hrStop)) state = State_Stopped;
    return hrStop;
}

STDMETHODIMP FakeGraph::GetState(LONG, OAFilterState* pfs) {
    if (pfs == NULL) return E_POINTER;
    *pfs = state;
    return hrGetState;
}

STDMETHODIMP FakeGraph::RenderFile(BSTR) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::AddSourceFilter(BSTR, IDispatch**) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::get_FilterCollection(IDispatch**) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::get_RegFilterCollection(IDispatch**) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::StopWhenReady() { return E_NOTIMPL; }

// ---------------------------------------------------------------------------------------
// IMediaEvent / IMediaEventEx / IMediaEventSink

STDMETHODIMP FakeGraph::GetEventHandle(OAEVENT* hEvent) {
    if (hEvent) *hEvent = 0;
    return E_NOTIMPL;
}

STDMETHODIMP FakeGraph::GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, long) {
    if (lEventCode == NULL || lParam1 == NULL || lParam2 == NULL) return E_POINTER;
    if (events.empty()) {
        *lEventCode = 0;
        *lParam1 = *lParam2 = 0;
        return E_ABORT;
    }
    Event e = events.front();
    events.pop_front();
    *lEventCode = e.code;
    *lParam1 = e.param1;
    *lParam2 = e.param2;
    return S_OK;
}

STDMETHODIMP FakeGraph::WaitForCompletion(long, long* pEvCode) {
    if (pEvCode) *pEvCode = 0;
    return E_ABORT;
}

STDMETHODIMP FakeGraph::CancelDefaultHandling(long) { return S_OK; }
STDMETHODIMP FakeGraph::RestoreDefaultHandling(long) { return S_OK; }

STDMETHODIMP FakeGraph::FreeEventParams(long, LONG_PTR, LONG_PTR) {
    ++cFreeEventParams;
    return S_OK;
}

STDMETHODIMP FakeGraph::SetNotifyWindow(OAHWND hwnd, long lMsg, LONG_PTR lData) {
    CallLog().Add(L"SetNotifyWindow " + Hex((ULONG_PTR)hwnd) + L" " + Num(lMsg) + L" " + Num(lData));
    hWndNotify = hwnd;
    lMsgNotify = lMsg;
    lInstanceData = lData;
    return S_OK;
}

STDMETHODIMP FakeGraph::SetNotifyFlags(long) { return S_OK; }

STDMETHODIMP FakeGraph::GetNotifyFlags(long* pl) {
    if (pl) *pl = 0;
    return S_OK;
}

STDMETHODIMP FakeGraph::Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    PostEvent(EventCode, EventParam1, EventParam2);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// IMediaSeeking

STDMETHODIMP FakeGraph::GetCapabilities(DWORD* p) {
    if (p) *p = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}
STDMETHODIMP FakeGraph::CheckCapabilities(DWORD*) { return S_OK; }
STDMETHODIMP FakeGraph::IsFormatSupported(const GUID* pFormat) {
    return pFormat && *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}
STDMETHODIMP FakeGraph::QueryPreferredFormat(GUID* pFormat) {
    if (pFormat) *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
STDMETHODIMP FakeGraph::GetTimeFormat(GUID* pFormat) { return QueryPreferredFormat(pFormat); }
STDMETHODIMP FakeGraph::IsUsingTimeFormat(const GUID* pFormat) { return IsFormatSupported(pFormat); }
STDMETHODIMP FakeGraph::SetTimeFormat(const GUID* pFormat) {
    CallLog().Add(L"SetTimeFormat");
    return IsFormatSupported(pFormat) == S_OK ? S_OK : E_INVALIDARG;
}

STDMETHODIMP FakeGraph::GetDuration(LONGLONG* pDuration) {
    if (pDuration == NULL) return E_POINTER;
    if (SUCCEEDED(hrGetDuration)) *pDuration = llDuration;
    return hrGetDuration;
}

STDMETHODIMP FakeGraph::GetStopPosition(LONGLONG* pStop) {
    if (pStop) *pStop = llDuration;
    return S_OK;
}

STDMETHODIMP FakeGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (pCurrent == NULL) return E_POINTER;
    if (SUCCEEDED(hrGetPosition)) *pCurrent = llPosition;
    return hrGetPosition;
}

STDMETHODIMP FakeGraph::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) { return E_NOTIMPL; }

STDMETHODIMP FakeGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    CallLog().Add(L"SetPositions " + (pCurrent ? Num(*pCurrent) : std::wstring(L"(null)")) + L" " +
                  Num(dwCurrentFlags) + L" " + Num(dwStopFlags));
    dwLastCurrentFlags = dwCurrentFlags;
    dwLastStopFlags = dwStopFlags;
    stopPositionGiven = pStop != NULL;
    if (FAILED(hrSetPositions)) return hrSetPositions;
    if (pCurrent && (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning)
        llPosition = *pCurrent;
    return hrSetPositions;
}

STDMETHODIMP FakeGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (pCurrent) *pCurrent = llPosition;
    if (pStop) *pStop = llDuration;
    return S_OK;
}

STDMETHODIMP FakeGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest) *pEarliest = 0;
    if (pLatest) *pLatest = llDuration;
    return S_OK;
}

STDMETHODIMP FakeGraph::SetRate(double) { return S_OK; }
STDMETHODIMP FakeGraph::GetRate(double* p) {
    if (p) *p = 1.0;
    return S_OK;
}
STDMETHODIMP FakeGraph::GetPreroll(LONGLONG* p) {
    if (p) *p = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// IVideoWindow

STDMETHODIMP FakeGraph::put_Caption(BSTR) { return S_OK; }
STDMETHODIMP FakeGraph::get_Caption(BSTR* p) {
    if (p) *p = ::SysAllocString(L"ActiveMovie Window");
    return S_OK;
}
STDMETHODIMP FakeGraph::put_WindowStyle(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_WindowStyle(long* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_WindowStyleEx(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_WindowStyleEx(long* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_AutoShow(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_AutoShow(long* p) {
    if (p) *p = OATRUE;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_WindowState(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_WindowState(long* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_BackgroundPalette(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_BackgroundPalette(long* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Visible(long Visible) {
    CallLog().Add(L"put_Visible " + Num(Visible));
    nVisible = Visible;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Visible(long* p) {
    if (p) *p = nVisible;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Left(long Left) {
    CallLog().Add(L"put_Left " + Num(Left));
    nLeft = Left;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Left(long* p) {
    if (p) *p = nLeft;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Width(long Width) {
    nWidth = Width;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Width(long* p) {
    if (p) *p = nWidth;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Top(long Top) {
    CallLog().Add(L"put_Top " + Num(Top));
    nTop = Top;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Top(long* p) {
    if (p) *p = nTop;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Height(long Height) {
    nHeight = Height;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Height(long* p) {
    if (p == NULL) return E_POINTER;
    if (FAILED(hrGetHeight)) return hrGetHeight;
    if (videoWindowNeedsRenderer && !Filter(L"Video Renderer")) return E_NOINTERFACE;
    *p = nHeight;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_Owner(OAHWND) {
    CallLog().Add(L"put_Owner");
    return S_OK;
}
STDMETHODIMP FakeGraph::get_Owner(OAHWND* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_MessageDrain(OAHWND) { return S_OK; }
STDMETHODIMP FakeGraph::get_MessageDrain(OAHWND* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::get_BorderColor(long* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_BorderColor(long) { return S_OK; }
STDMETHODIMP FakeGraph::get_FullScreenMode(long* p) {
    if (p) *p = OAFALSE;
    return S_OK;
}
STDMETHODIMP FakeGraph::put_FullScreenMode(long) { return S_OK; }
STDMETHODIMP FakeGraph::SetWindowForeground(long) { return S_OK; }
STDMETHODIMP FakeGraph::NotifyOwnerMessage(OAHWND, long, LONG_PTR, LONG_PTR) { return S_OK; }
STDMETHODIMP FakeGraph::SetWindowPosition(long Left, long Top, long Width, long Height) {
    CallLog().Add(L"SetWindowPosition");
    nLeft = Left, nTop = Top, nWidth = Width, nHeight = Height;
    return S_OK;
}
STDMETHODIMP FakeGraph::GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) {
    if (pLeft) *pLeft = nLeft;
    if (pTop) *pTop = nTop;
    if (pWidth) *pWidth = nWidth;
    if (pHeight) *pHeight = nHeight;
    return S_OK;
}
STDMETHODIMP FakeGraph::GetMinIdealImageSize(long*, long*) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::GetMaxIdealImageSize(long*, long*) { return E_NOTIMPL; }
STDMETHODIMP FakeGraph::GetRestorePosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) {
    return GetWindowPosition(pLeft, pTop, pWidth, pHeight);
}
STDMETHODIMP FakeGraph::HideCursor(long) { return S_OK; }
STDMETHODIMP FakeGraph::IsCursorHidden(long* p) {
    if (p) *p = OAFALSE;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// IPersistStream

STDMETHODIMP FakeGraph::GetClassID(CLSID* pClassID) {
    if (pClassID == NULL) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

STDMETHODIMP FakeGraph::IsDirty() { return S_FALSE; }

STDMETHODIMP FakeGraph::Load(IStream* pStm) {
    if (pStm == NULL) return E_POINTER;
    loaded.clear();
    char buf[4096];
    ULONG cbRead = 0;
    while (SUCCEEDED(pStm->Read(buf, sizeof(buf), &cbRead)) && cbRead > 0) loaded.append(buf, cbRead);
    CallLog().Add(L"Load " + Num((long long)loaded.size()));
    if (FAILED(hrLoad)) return hrLoad;
    HRESULT hr = onLoad ? onLoad(pStm) : S_OK;
    return FAILED(hr) ? hr : hrLoad;
}

STDMETHODIMP FakeGraph::Save(IStream*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP FakeGraph::GetSizeMax(ULARGE_INTEGER* pcbSize) {
    if (pcbSize) pcbSize->QuadPart = 0;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------

CComPtr<FakeFilter> AddPlaybackChain(FakeGraph* pGraph, bool bAudio) {
    CComPtr<FakeFilter> spSource = FakeFilter::Create();
    CComPtr<FakeFilter> spSplitter = FakeFilter::Create();
    CComPtr<FakeFilter> spDecoder = FakeFilter::Create();
    CComPtr<FakeFilter> spRenderer = CreateFakeRenderer(L"Video Renderer");
    MediaType stream = BareType(MEDIATYPE_Stream);
    MediaType compressed = H264Type();
    MediaType video = VideoType(MEDIASUBTYPE_RGB32, 320, 240);

    FakePin* pSourceOut = spSource->AddPin(L"Output", PINDIR_OUTPUT, {stream});
    FakePin* pSplitIn = spSplitter->AddPin(L"Input", PINDIR_INPUT);
    FakePin* pSplitVideo = spSplitter->AddPin(L"Video", PINDIR_OUTPUT, {compressed});
    FakePin* pDecIn = spDecoder->AddPin(L"Input", PINDIR_INPUT);
    FakePin* pDecOut = spDecoder->AddPin(L"Output", PINDIR_OUTPUT, {video});

    pGraph->Insert(spSource, L"Source");
    pGraph->Insert(spSplitter, L"Splitter");
    pGraph->Insert(spDecoder, L"Video Decoder");
    pGraph->Insert(spRenderer, L"Video Renderer");
    FakePin::Link(pSourceOut, pSplitIn, stream);
    FakePin::Link(pSplitVideo, pDecIn, compressed);
    FakePin::Link(pDecOut, spRenderer->Pin(0), video);
    if (bAudio) {
        CComPtr<FakeFilter> spAudio = CreateFakeRenderer(L"Audio Renderer");
        MediaType audio = AudioType();
        FakePin* pSplitAudio = spSplitter->AddPin(L"Audio", PINDIR_OUTPUT, {audio});
        pGraph->Insert(spAudio, L"Audio Renderer");
        FakePin::Link(pSplitAudio, spAudio->Pin(0), audio);
    }
    return spDecoder;
}
