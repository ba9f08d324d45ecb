// A fake filter graph manager (see FakeCom.h for the kit's use).
//
//   CComPtr<FakeGraph> spGraph = FakeGraph::Create();
//   ClassRegistration reg(CLSID_FilterGraph, static_cast<IGraphBuilder*>(spGraph));
//   spGraph->onRenderFile = [&](LPCWSTR) { AddPlaybackChain(spGraph, true); return S_OK; };
//   spGraph->refused.Refuse(IID_IMediaSeeking);      // the manager lacks an interface
//   spGraph->hrAddFilterFor[L"Smart Tee"] = E_FAIL;   // one call fails
//
// It offers IGraphBuilder/IFilterGraph, IMediaControl, IMediaEvent(Ex), IMediaEventSink,
// IMediaSeeking, IVideoWindow and IPersistStream (unless refused), and logs to CallLog():
//   "AddFilter <name>", "RemoveFilter <name>", "ConnectDirect <out> -> <in>",
//   "Render <pin>", "RenderFile <file>", "SetNotifyWindow <hwnd hex> <msg> <data>",
//   "Run", "Pause", "Stop", "put_Top <n>", "put_Left <n>", "put_Visible <n>",
//   "SetPositions <cur> <curflags> <stopflags>", "Load <bytes of the stream>".
// ConnectDirect asks the output pin to Connect (so fake pins really link); Render by default
// adds a fake "Video Renderer" and connects the pin to it.
#pragma once

#include "tests/support/fakes/FakeFilters.h"

#include <deque>

class FakeGraph : public IGraphBuilder,
                  public IMediaControl,
                  public IMediaEventEx,
                  public IMediaEventSink,
                  public IMediaSeeking,
                  public IVideoWindow,
                  public IPersistStream {
public:
    static CComPtr<FakeGraph> Create();
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);

    RefusedInterfaces refused;

    // Filters in enumeration order.
    std::vector<CComPtr<IBaseFilter>> filters;
    int filtersFailAt = -1;  // EnumFilters' Next fails at this position with hrFiltersFail
    HRESULT hrFiltersFail = E_UNEXPECTED;
    HRESULT hrEnumFilters = S_OK;

    // Results on demand (S_OK: behave normally).
    std::map<std::wstring, HRESULT> hrAddFilterFor;  // by filter name
    HRESULT hrRemoveFilter = S_OK;
    HRESULT hrRender = S_OK;  // returned by Render after the default rendering
    std::function<HRESULT(LPCWSTR)> onRenderFile;  // default: E_NOTIMPL
    std::function<HRESULT(IPin*)> onRender;        // replaces the default rendering
    std::function<HRESULT(IStream*)> onLoad;       // after the stream is read; default S_OK

    // IMediaControl.
    HRESULT hrRun = S_OK, hrPause = S_OK, hrStop = S_OK, hrGetState = S_OK;
    OAFilterState state = State_Stopped;

    // IMediaEvent: queued events; GetEvent on an empty queue answers E_ABORT.
    struct Event {
        long code;
        LONG_PTR param1, param2;
    };
    std::deque<Event> events;
    int cFreeEventParams = 0;
    OAHWND hWndNotify = 0;
    long lMsgNotify = 0;
    LONG_PTR lInstanceData = 0;
    // Queues an event and posts the notification message, as the real manager does.
    void PostEvent(long code, LONG_PTR param1 = 0, LONG_PTR param2 = 0);

    // IMediaSeeking.
    LONGLONG llDuration = 0, llPosition = 0;
    HRESULT hrGetDuration = S_OK, hrGetPosition = S_OK, hrSetPositions = S_OK;
    DWORD dwLastCurrentFlags = 0, dwLastStopFlags = 0;
    bool stopPositionGiven = false;

    // IVideoWindow: get_Height failing means "no video window".
    long nLeft = 0, nTop = 0, nWidth = 320, nHeight = 240, nVisible = 0;
    HRESULT hrGetHeight = S_OK;
    // When set, the video window exists only while a filter named "Video Renderer" is in the
    // graph (get_Height answers E_NOINTERFACE otherwise), as with the real manager.
    bool videoWindowNeedsRenderer = false;

    // IPersistStream: what Load read from the stream.
    std::string loaded;
    HRESULT hrLoad = S_OK;

    // Puts a filter into the graph as the manager's own building does (no AddFilter logged).
    void Insert(IBaseFilter* pFilter, LPCWSTR pszName);
    // Filters by name (the first one added under that name).
    CComPtr<IBaseFilter> Filter(const std::wstring& name) const;
    std::vector<std::wstring> FilterNames() const;

    // IFilterGraph / IGraphBuilder
    STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
    STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Reconnect(IPin* ppin) override;
    STDMETHODIMP Disconnect(IPin* ppin) override;
    STDMETHODIMP SetDefaultSyncSource() override;
    STDMETHODIMP Connect(IPin* ppinOut, IPin* ppinIn) override;
    STDMETHODIMP Render(IPin* ppinOut) override;
    STDMETHODIMP RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    STDMETHODIMP AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                 IBaseFilter** ppFilter) override;
    STDMETHODIMP SetLogFile(DWORD_PTR hFile) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP ShouldOperationContinue() override;

    // IDispatch (shared by IMediaControl, IMediaEvent and IVideoWindow)
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // IMediaControl
    STDMETHODIMP Run() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP GetState(LONG msTimeout, OAFilterState* pfs) override;
    STDMETHODIMP RenderFile(BSTR strFilename) override;
    STDMETHODIMP AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override;
    STDMETHODIMP get_FilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP get_RegFilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP StopWhenReady() override;

    // IMediaEvent / IMediaEventEx
    STDMETHODIMP GetEventHandle(OAEVENT* hEvent) override;
    STDMETHODIMP GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, long msTimeout) override;
    STDMETHODIMP WaitForCompletion(long msTimeout, long* pEvCode) override;
    STDMETHODIMP CancelDefaultHandling(long lEvCode) override;
    STDMETHODIMP RestoreDefaultHandling(long lEvCode) override;
    STDMETHODIMP FreeEventParams(long lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    STDMETHODIMP SetNotifyWindow(OAHWND hwnd, long lMsg, LONG_PTR lInstanceData) override;
    STDMETHODIMP SetNotifyFlags(long lNoNotifyFlags) override;
    STDMETHODIMP GetNotifyFlags(long* lplNoNotifyFlags) override;

    // IMediaEventSink
    STDMETHODIMP Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // IMediaSeeking
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

    // IVideoWindow
    STDMETHODIMP put_Caption(BSTR strCaption) override;
    STDMETHODIMP get_Caption(BSTR* strCaption) override;
    STDMETHODIMP put_WindowStyle(long WindowStyle) override;
    STDMETHODIMP get_WindowStyle(long* WindowStyle) override;
    STDMETHODIMP put_WindowStyleEx(long WindowStyleEx) override;
    STDMETHODIMP get_WindowStyleEx(long* WindowStyleEx) override;
    STDMETHODIMP put_AutoShow(long AutoShow) override;
    STDMETHODIMP get_AutoShow(long* AutoShow) override;
    STDMETHODIMP put_WindowState(long WindowState) override;
    STDMETHODIMP get_WindowState(long* WindowState) override;
    STDMETHODIMP put_BackgroundPalette(long BackgroundPalette) override;
    STDMETHODIMP get_BackgroundPalette(long* pBackgroundPalette) override;
    STDMETHODIMP put_Visible(long Visible) override;
    STDMETHODIMP get_Visible(long* pVisible) override;
    STDMETHODIMP put_Left(long Left) override;
    STDMETHODIMP get_Left(long* pLeft) override;
    STDMETHODIMP put_Width(long Width) override;
    STDMETHODIMP get_Width(long* pWidth) override;
    STDMETHODIMP put_Top(long Top) override;
    STDMETHODIMP get_Top(long* pTop) override;
    STDMETHODIMP put_Height(long Height) override;
    STDMETHODIMP get_Height(long* pHeight) override;
    STDMETHODIMP put_Owner(OAHWND Owner) override;
    STDMETHODIMP get_Owner(OAHWND* Owner) override;
    STDMETHODIMP put_MessageDrain(OAHWND Drain) override;
    STDMETHODIMP get_MessageDrain(OAHWND* Drain) override;
    STDMETHODIMP get_BorderColor(long* Color) override;
    STDMETHODIMP put_BorderColor(long Color) override;
    STDMETHODIMP get_FullScreenMode(long* FullScreenMode) override;
    STDMETHODIMP put_FullScreenMode(long FullScreenMode) override;
    STDMETHODIMP SetWindowForeground(long Focus) override;
    STDMETHODIMP NotifyOwnerMessage(OAHWND hwnd, long uMsg, LONG_PTR wParam, LONG_PTR lParam) override;
    STDMETHODIMP SetWindowPosition(long Left, long Top, long Width, long Height) override;
    STDMETHODIMP GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    STDMETHODIMP GetMinIdealImageSize(long* pWidth, long* pHeight) override;
    STDMETHODIMP GetMaxIdealImageSize(long* pWidth, long* pHeight) override;
    STDMETHODIMP GetRestorePosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    STDMETHODIMP HideCursor(long HideCursor) override;
    STDMETHODIMP IsCursorHidden(long* CursorHidden) override;

    // IPersist / IPersistStream
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* pStm) override;
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

protected:
    FakeGraph();
    virtual ~FakeGraph();
    LONG m_cRef;
};

// Adds a fake playback chain as the manager's rendering of a media file would:
// "Source" (Output) -> "Splitter" (Input; Video, and Audio when bAudio) ->
// "Video Decoder" (Input; Output) -> "Video Renderer" (Input), and "Audio Renderer" (Input)
// behind the splitter's audio pin. The decoder-to-renderer connection carries RGB32 video
// with a VIDEOINFOHEADER. Returns the video decoder (its output pin feeds the renderer).
CComPtr<FakeFilter> AddPlaybackChain(FakeGraph* pGraph, bool bAudio);
