// Fake filters and pins (see FakeCom.h for the kit's use).
//
//   CComPtr<FakeFilter> spSrc = FakeFilter::Create(L"Camera");
//   FakePin* pOut = spSrc->AddPin(L"Capture", PINDIR_OUTPUT, {VideoType(MEDIASUBTYPE_RGB32, 320, 240)});
//   pOut->category = PIN_CATEGORY_CAPTURE;        // answered through IKsPropertySet
//   pOut->hrQueryDirection = E_UNEXPECTED;        // failures on demand
//   spSrc->pinsFailAt = 1;                        // the pin enumeration fails at the second pin
//
// Pins speak enough of the real connection protocol (Connect/ReceiveConnection, IMemInputPin,
// allocator set-up, end of stream) to be connected to the real filters of the platform's graph
// manager: a fake filter can sit between real ones in a real graph. Input pins drop the
// samples they receive and count them. A filter without output pins reports EC_COMPLETE to
// its graph at the end of the stream; other filters pass the end of the stream downstream.
#pragma once

#include "tests/support/fakes/FakeCom.h"

#include "graph/Vireon.h"

#include <map>

class FakeFilter;

class FakePin : public IPin, public IKsPropertySet, public IMemInputPin {
public:
    FakePin(FakeFilter* pOwner, const std::wstring& name, PIN_DIRECTION dir);
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);

    // What the pin says about itself.
    std::wstring name;
    std::wstring id;  // QueryId; the name when empty
    PIN_DIRECTION dir;
    std::vector<MediaType> mediaTypes;  // preferred types (EnumMediaTypes), offered first on Connect
    bool hasKsPropertySet;              // false: no IKsPropertySet at all
    GUID category;                      // AMPROPERTY_PIN_CATEGORY answer
    // Input pins accept a connection only with this major type (GUID_NULL: anything).
    GUID acceptMajorType;

    // Failures on demand (S_OK: behave normally).
    HRESULT hrQueryDirection;
    HRESULT hrQueryPinInfo;
    HRESULT hrConnectionMediaType;
    HRESULT hrEnumMediaTypes;
    int mediaTypesFailAt;  // the media type enumeration's Next fails at this position
    HRESULT hrKsGet;       // what IKsPropertySet::Get answers instead of S_OK
    HRESULT hrConnect;     // Connect (output side) and ReceiveConnection (input side) refuse

    // State.
    CComPtr<IPin> peer;
    MediaType connectionType;
    LONG cSamples;         // samples received
    LONG cEndOfStream;     // end-of-stream calls received
    FakeFilter* Owner() const { return m_pOwner; }
    void Detach() { m_pOwner = NULL; }
    // Links two fake pins directly (no negotiation); for building fixtures.
    static void Link(FakePin* pOut, FakePin* pIn, const MediaType& mt);

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** ppPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                     LPVOID pPropData, DWORD cbPropData) override;
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                     LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) override;
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

protected:
    virtual ~FakePin() {}
    bool Accepts(const AM_MEDIA_TYPE& mt) const;
    void SetUpAllocator(IPin* pReceivePin);
    LONG m_cRef;
    FakeFilter* m_pOwner;  // not counted: the filter owns its pins
    CComPtr<IMemAllocator> m_spAllocator;
};

class FakeFilter : public IBaseFilter, public ISpecifyPropertyPages, public IAMFilterMiscFlags {
public:
    static CComPtr<FakeFilter> Create(const std::wstring& name = L"", REFCLSID clsid = GUID_NULL);
    FAKE_COM_UNKNOWN()
    virtual void* QueryInterfaceImpl(REFIID riid);

    // Adds a pin; the filter keeps it. Returns the pin (owned by the filter).
    FakePin* AddPin(const std::wstring& pinName, PIN_DIRECTION pinDir,
                    const std::vector<MediaType>& types = std::vector<MediaType>());
    FakePin* Pin(size_t i) const { return i < pins.size() ? (FakePin*)pins[i] : NULL; }
    FakePin* PinNamed(const std::wstring& pinName) const;

    // What the filter says about itself.
    CLSID clsid;
    std::wstring name;  // as given by JoinFilterGraph (or preset for a filter outside a graph)
    std::vector<CComPtr<FakePin>> pins;
    bool hasPropertyPages;
    std::vector<CLSID> pages;
    // Says so through IAMFilterMiscFlags (a graph manager then waits for its EC_COMPLETE).
    bool isRenderer;
    RefusedInterfaces refused;

    // Failures on demand.
    HRESULT hrGetClassID;
    HRESULT hrEnumPins;
    int pinsFailAt;  // the pin enumeration's Next fails at this position with hrPinsFail
    HRESULT hrPinsFail;
    HRESULT hrQueryFilterInfo;
    HRESULT hrGetPages;

    // State.
    IFilterGraph* graph;  // not counted, as filters hold their graph
    FILTER_STATE state;
    LONG cGetPages;
    LONG cEnumPins;  // how often the pins were enumerated

    // Called by an input pin at the end of the stream.
    virtual void OnEndOfStream(FakePin* pInput);

    // IPersist / IMediaFilter / IBaseFilter
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

protected:
    FakeFilter(const std::wstring& name, REFCLSID clsid);
    virtual ~FakeFilter();
    LONG m_cRef;
    CComPtr<IReferenceClock> m_spClock;
};

// For classes derived from FakeFilter that add interfaces of their own.
#define FAKE_FILTER_UNKNOWN()                                                                      \
    STDMETHODIMP_(ULONG) AddRef() override { return FakeFilter::AddRef(); }                        \
    STDMETHODIMP_(ULONG) Release() override { return FakeFilter::Release(); }                      \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                               \
        return FakeFilter::QueryInterface(riid, ppv);                                              \
    }

// The encoder's scriptable answers.
struct FakeVireonState {
    int nWidth = 320, nHeight = 240;
    double dblFPS = 25.0;
    int eInterlacing = MRV264E_Progressive;
    int ePreset = MRV264E_Preset_Balanced;
    UINT nSpeedQuality = 4;
    int eRateControl = MRV264E_RC_Variable;
    UINT nBitrate = 2000, nBitrateUsed = 2000;
    UINT nAvgBitrate = 0, nFrames = 0;
    UINT nProfile = 0, nLevel = 0, nProfileUsed = 66, nLevelUsed = 30;
    UINT nGopSize = 25, nGopSizeUsed = 25;
    int bExactGop = 0;
    UINT nIdrInterval = 1, nIdrIntervalUsed = 1;
    UINT nBFrames = 0, nBFramesUsed = 0;
    int bCavlc = 1;
    int bPassThrough = 0;
    int eEncType = MRV264E_Enc_Any, eEncUsed = MRV264E_Enc_Soft;
    UINT nThreads = 0, nThreadsUsed = 2;
    int eType = MRV264E_Type_Release, eOS = MRV264E_OS_64;
    std::wstring name = L"Vireon H.264 Encoder", number = L"1.0.0.0", dateTime = L"2026-01-01 00:00";
};

// A fake of the maker's encoder: input pin "In" (accepts video), output pin "Out" (offers
// H.264), IVireon and IVireonVersion. Every call is logged in `calls` ("SetPreset(2)") and in
// CallLog() ("IVireon::SetPreset(2)"); results[method] replaces S_OK for that method.
class FakeEncoder : public FakeFilter, public IVireon, public IVireonVersion {
public:
    static CComPtr<FakeEncoder> Create();
    FAKE_FILTER_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid) override;

    FakeVireonState values;
    std::map<std::string, HRESULT> results;
    std::vector<std::string> calls;
    bool hasVireon = true;
    bool hasVersion = true;

    // IVireon
    STDMETHODIMP GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) override;
    STDMETHODIMP SetPreset(int ePreset) override;
    STDMETHODIMP GetPreset(int* pePreset) override;
    STDMETHODIMP SetSpeedQuality(UINT nSpeedQuality) override;
    STDMETHODIMP GetSpeedQuality(UINT* pnSpeedQuality) override;
    STDMETHODIMP SetRateControl(int eRateControl) override;
    STDMETHODIMP GetRateControl(int* peRateControl) override;
    STDMETHODIMP SetBitrate(UINT nBitrate) override;
    STDMETHODIMP GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed) override;
    STDMETHODIMP GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) override;
    STDMETHODIMP SetProfileLevel(UINT nProfile, UINT nLevel) override;
    STDMETHODIMP GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) override;
    STDMETHODIMP SetGop(UINT nGopSize, int bExactGop) override;
    STDMETHODIMP GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) override;
    STDMETHODIMP SetIdrInterval(UINT nIdrInterval) override;
    STDMETHODIMP GetIdrInterval(UINT* pnIdrInterval, UINT* pnIdrIntervalUsed) override;
    STDMETHODIMP SetBFrames(UINT nBFrames) override;
    STDMETHODIMP GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed) override;
    STDMETHODIMP SetCavlc(int bCavlc) override;
    STDMETHODIMP GetCavlc(int* pbCavlc) override;
    STDMETHODIMP SetPassThroughTimeStamps(int bPassThrough) override;
    STDMETHODIMP GetPassThroughTimeStamps(int* pbPassThrough) override;
    STDMETHODIMP ForceKeyFrame() override;
    STDMETHODIMP SetEncoderType(int eEncType) override;
    STDMETHODIMP GetEncoderType(int* peEncType, int* peEncUsed) override;
    STDMETHODIMP SetThreads(UINT nThreads) override;
    STDMETHODIMP GetThreads(UINT* pnThreads, UINT* pnThreadsUsed) override;

    // IVireonVersion
    STDMETHODIMP GetType(int* peType) override;
    STDMETHODIMP GetOS(int* peOS) override;
    STDMETHODIMP GetName(BSTR* pbstrName) override;
    STDMETHODIMP GetNumber(BSTR* pbstrNumber) override;
    STDMETHODIMP GetDateTime(BSTR* pbstrDateTime) override;

protected:
    FakeEncoder();
    HRESULT Called(const std::string& call, const char* method);
};

// A fake MPEG-4 writer (flagged as a renderer): input pin "In" and IFileSinkFilter2 (SetFileName logged as
// "SetFileName <path>"; hrSetFileName replaces S_OK).
class FakeWriter : public FakeFilter, public IFileSinkFilter2 {
public:
    static CComPtr<FakeWriter> Create();
    FAKE_FILTER_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid) override;

    std::wstring fileName;
    HRESULT hrSetFileName = S_OK;
    bool hasFileSink = true;
    bool mediaTypeGiven = false;

    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP SetMode(DWORD dwFlags) override;
    STDMETHODIMP GetMode(DWORD* pdwFlags) override;

protected:
    FakeWriter();
};

// A fake H.264 decoder: input pin "In" (accepts video), output pin "Out" offering RGB32
// 320x240 with a VIDEOINFOHEADER, which the platform's video renderer takes.
CComPtr<FakeFilter> CreateFakeDecoder();
// A fake renderer: one input pin "Input", no output pin, flagged as a renderer.
CComPtr<FakeFilter> CreateFakeRenderer(const std::wstring& name = L"Video Renderer");

// A property page that can be registered under a class identifier so that the platform's
// property frame has a real page to show:
//   ClassRegistration reg(kPageClsid, [] { return FakePropertyPage::Create(L"General"); });
// The frame's objects are recorded in `objects`; Activate makes a plain child window.
class FakePropertyPage : public IPropertyPage {
public:
    static CComPtr<IUnknown> Create(const std::wstring& title);
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);

    std::wstring title;
    std::vector<CComPtr<IUnknown>> objects;
    HWND hWnd = NULL;

    STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
    STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT pRect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR pszHelpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

protected:
    explicit FakePropertyPage(const std::wstring& pageTitle) : title(pageTitle), m_cRef(1) {}
    virtual ~FakePropertyPage() {}
    LONG m_cRef;
    CComPtr<IPropertyPageSite> m_spSite;
};
