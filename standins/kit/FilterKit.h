// The filter kit: base classes for DirectShow filters built without the SDK base classes,
// shared by every stand-in filter (encoder, MPEG-4 writer, H.264 decoder, test camera) and
// by test filters. Static library `quorlin_filterkit`.
//
// What it gives:
//   * CKitUnknown          COM object with a non-delegating IUnknown (aggregation-ready) and
//                          the module's object count; KIT_DECLARE_IUNKNOWN for derived classes.
//   * CKitFilter           IBaseFilter (IMediaFilter, IPersist) and IAMFilterMiscFlags:
//                          states, clock, graph membership, pin enumeration, FindPin, events.
//   * CKitPin              IPin connection logic shared by both directions, media-type
//                          enumeration, QueryPinInfo/QueryId, IKsPropertySet pin category.
//   * CKitInputPin         IMemInputPin: allocator negotiation, Receive, end of stream,
//                          flushing and new-segment hooks.
//   * CKitOutputPin        allocator negotiation with the peer (DecideBufferSize), delivery of
//                          samples, end of stream, new segment and flushing; IMediaSeeking and
//                          IMediaPosition passed upstream (SetSeekingUpstream).
//   * CKitSeekingPassThru  IMediaSeeking + IMediaPosition forwarded to an upstream pin; for
//                          renderers that want the graph's seeking to work through them.
//   * CKitTransform        a filter with an input and an output pin that turns input samples
//                          into output samples (Transform); flushes, new segments and the end
//                          of the stream are passed on by the base.
//   * CKitRenderer         a filter with one input pin that consumes the stream: seeking
//                          upstream, and EC_COMPLETE at the end of the stream once running.
//   * CKitMediaType (an owned media type; the helpers are in standins/media/MediaType.h);
//                          CKitEnumMediaTypes.
//   * CKitWorker           a worker thread with a stop request, for source filters.
//   * DLL helpers: KIT_FILTER_DLL(...) defines the exports of a filter DLL from a table of
//                          CKitFilterTemplate (class factory, registration of the class and
//                          of the filter with IFilterMapper2 in any category, several
//                          instances under one friendly name, unregistration).
//
// Threading: every filter has two locks. The filter lock (FilterLock()) guards state and
// connections; the streaming lock (StreamLock()) is held by the input pins around Receive
// and EndOfStream, and taken by Stop after the pins went inactive, so that OnStop never
// runs while a sample is being processed. Never take the filter lock inside Receive while
// another thread may hold it and wait for streaming (Stop does not: it makes the pins
// inactive first, which unblocks the streaming thread).
//
// Lifetime: pins are members (or owned objects) of their filter and share its reference
// count; a pin's AddRef/Release go to the filter, its QueryInterface is its own.
#pragma once

#include "graph/DShow.h"
#include "standins/media/MediaType.h"

#include <functional>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------
// Media types

// An owned AM_MEDIA_TYPE (zero-initialised, frees itself).
class CKitMediaType : public AM_MEDIA_TYPE {
public:
    CKitMediaType();
    CKitMediaType(const AM_MEDIA_TYPE& mt);
    CKitMediaType(const CKitMediaType& mt);
    CKitMediaType& operator=(const AM_MEDIA_TYPE& mt);
    CKitMediaType& operator=(const CKitMediaType& mt);
    ~CKitMediaType();
    void Clear();
    // Allocates a zeroed format block of cb bytes (replacing any previous one).
    BYTE* AllocFormat(ULONG cb);
    void Set(const GUID& major, const GUID& sub, const GUID& format);
};

// ---------------------------------------------------------------------------------------
// COM objects

// The non-delegating IUnknown of an aggregatable object; its layout matches IUnknown.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Objects alive and server locks of this module, for DllCanUnloadNow.
LONG KitObjectCount();
void KitLockServer(bool bLock);

class CKitUnknown : public INonDelegatingUnknown {
public:
    // pOuter: the controlling unknown when aggregated, else null.
    explicit CKitUnknown(IUnknown* pOuter);
    virtual ~CKitUnknown();
    CKitUnknown(const CKitUnknown&) = delete;
    CKitUnknown& operator=(const CKitUnknown&) = delete;

    // Derived classes answer their interfaces and call this one for the rest.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The outer unknown when aggregated, otherwise this object's own IUnknown.
    IUnknown* GetOwner() const { return m_pOuter; }

protected:
    // Hands out pInterface (AddRef'd through it) in *ppv.
    static HRESULT GetInterface(IUnknown* pInterface, void** ppv);

private:
    IUnknown* m_pOuter;
    volatile LONG m_cRef;
};

// The three IUnknown methods of an interface implemented by a CKitUnknown, all forwarded to
// the owner (outer or non-delegating unknown).
#define KIT_DECLARE_IUNKNOWN                                                                       \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                               \
        return GetOwner()->QueryInterface(riid, ppv);                                              \
    }                                                                                              \
    STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }                       \
    STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }

// A class factory for one class: creator makes an object (aggregated when pOuter is given)
// whose non-delegating unknown is returned, or null with *phr set.
typedef CKitUnknown* (*KitCreateFn)(IUnknown* pOuter, HRESULT* phr);

class CKitClassFactory final : public IClassFactory {
public:
    CKitClassFactory(REFCLSID clsid, KitCreateFn pfnCreate);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL bLock) override;

private:
    ~CKitClassFactory() = default;
    CLSID m_clsid;
    KitCreateFn m_pfnCreate;
    volatile LONG m_cRef;
};

// ---------------------------------------------------------------------------------------
// Filters and pins

class CKitFilter;
class CKitInputPin;

class CKitPin : public IPin, public IKsPropertySet {
public:
    CKitPin(CKitFilter* pFilter, PIN_DIRECTION eDir, const wchar_t* pszName);
    virtual ~CKitPin();
    CKitPin(const CKitPin&) = delete;
    CKitPin& operator=(const CKitPin&) = delete;

    // IUnknown: own QueryInterface, reference count of the filter.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** ppPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* pszId) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    // Stream control: the input pin implements these; an output pin answers E_UNEXPECTED.
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }

    // IKsPropertySet: AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY, answered only when the pin
    // has a category (SetCategory); other property sets are not supported.
    STDMETHODIMP Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                     DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData) override;
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                     DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData,
                     DWORD* pcbReturned) override;
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    // --- What derived pins provide ---
    // S_OK when the pin can carry the type; any other value refuses it.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) = 0;
    // The pin's preferred types, index 0 first: fill *pmt (a zeroed CKitMediaType) and return
    // S_OK, or VFW_S_NO_MORE_ITEMS past the end. Default: none.
    virtual HRESULT GetMediaType(int iPosition, CKitMediaType* pmt);
    // Called once the type is agreed and the peer is known; a failure undoes the connection.
    virtual HRESULT CompleteConnect(IPin* pPeer);
    // Called when the connection is broken (after Disconnect, or a failed CompleteConnect).
    virtual void BreakConnect();
    // Connect tries the receiver's types first, then our own; true reverses that.
    void SetTryMyTypesFirst(bool b) { m_bTryMyTypesFirst = b; }
    // The pin category reported through IKsPropertySet (PIN_CATEGORY_CAPTURE, ...).
    void SetCategory(const GUID& category) { m_category = category; }

    // --- State ---
    bool IsConnected() const { return m_pConnected != nullptr; }
    IPin* GetConnected() const { return m_pConnected; }  // not AddRef'd
    const CKitMediaType& CurrentMediaType() const { return m_mt; }
    PIN_DIRECTION Direction() const { return m_eDir; }
    const std::wstring& Name() const { return m_name; }
    CKitFilter* Filter() const { return m_pFilter; }

    // Called by the filter on state changes (with the filter lock held).
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }

protected:
    // Tries one type against pReceivePin: our check, the peer's ReceiveConnection, then
    // CompleteConnect. Leaves the pin unconnected on failure.
    HRESULT AttemptConnection(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt, IEnumMediaTypes* pEnum);
    void ClearConnection();

    CKitFilter* m_pFilter;
    PIN_DIRECTION m_eDir;
    std::wstring m_name;
    IPin* m_pConnected;  // AddRef'd
    CKitMediaType m_mt;
    bool m_bTryMyTypesFirst;
    GUID m_category;
};

class CKitInputPin : public CKitPin, public IMemInputPin {
public:
    CKitInputPin(CKitFilter* pFilter, const wchar_t* pszName);
    ~CKitInputPin() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return CKitPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CKitPin::Release(); }

    // IPin (input side)
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    // --- What derived pins provide (all called with the streaming lock held, except the
    // flush hooks, which run on the caller's thread with no kit lock) ---
    // A sample of an active, non-flushing pin. A sample carrying a new media type has been
    // checked with CheckMediaType and made the current type before this is called.
    virtual HRESULT OnReceive(IMediaSample* pSample) = 0;
    virtual HRESULT OnEndOfStream() { return S_OK; }
    virtual HRESULT OnBeginFlush() { return S_OK; }
    virtual HRESULT OnEndFlush() { return S_OK; }
    virtual HRESULT OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
    // Allocator requirements suggested to the upstream pin; default E_NOTIMPL (none).
    virtual HRESULT OnGetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

    HRESULT Active() override;
    HRESULT Inactive() override;
    void BreakConnect() override;

    bool IsFlushing() const { return m_bFlushing; }
    bool IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator* Allocator() const { return m_pAllocator; }
    // The segment announced by the last NewSegment.
    REFERENCE_TIME SegmentStart() const { return m_tSegStart; }
    double SegmentRate() const { return m_dSegRate; }

protected:
    IMemAllocator* m_pAllocator;  // AddRef'd
    bool m_bReadOnly;
    volatile bool m_bFlushing;
    volatile bool m_bActive;
    bool m_bAtEndOfStream;
    REFERENCE_TIME m_tSegStart, m_tSegStop;
    double m_dSegRate;
};

class CKitSeekingPassThru;

class CKitOutputPin : public CKitPin {
public:
    CKitOutputPin(CKitFilter* pFilter, const wchar_t* pszName);
    ~CKitOutputPin() override;

    // Answers IMediaSeeking and IMediaPosition through the upstream pin set below.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    // Seeking asked of this pin goes to the pin connected to pUpstream (normally the
    // filter's input pin). Null (the default): the pin has no seeking interfaces.
    void SetSeekingUpstream(CKitInputPin* pUpstream);

    // Size and count of the buffers; fill pProps (it holds the peer's requirements, if any)
    // and call pAlloc->SetProperties, or SetBufferProperties. Called while connecting.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) = 0;
    // Asks pAlloc for at least cBuffers buffers of at least cbBuffer bytes (more where pProps
    // asks for more); fails when the allocator's buffers are smaller than cbBuffer, or it has
    // none.
    static HRESULT SetBufferProperties(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps,
                                       long cBuffers, long cbBuffer);

    // Delivery (from the streaming thread).
    HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* ptStart = nullptr,
                              REFERENCE_TIME* ptStop = nullptr, DWORD dwFlags = 0);
    HRESULT Deliver(IMediaSample* pSample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    HRESULT CompleteConnect(IPin* pPeer) override;
    void BreakConnect() override;
    HRESULT Active() override;    // commits the allocator
    HRESULT Inactive() override;  // decommits it (which also releases a blocked GetBuffer)

    IMemAllocator* Allocator() const { return m_pAllocator; }
    IMemInputPin* PeerInput() const { return m_pInputPin; }

protected:
    // The peer's allocator when it offers one that takes our properties, else a
    // CLSID_MemoryAllocator of our own; the choice is announced with NotifyAllocator.
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);

    IMemAllocator* m_pAllocator;  // AddRef'd
    IMemInputPin* m_pInputPin;    // AddRef'd peer
    CKitSeekingPassThru* m_pSeeking;
};

class CKitFilter : public CKitUnknown, public IBaseFilter, public IAMFilterMiscFlags {
public:
    CKitFilter(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid);
    ~CKitFilter() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** ppClock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;
    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return m_ulMiscFlags; }

    // --- What derived filters provide ---
    virtual int GetPinCount() = 0;
    virtual CKitPin* GetPin(int n) = 0;
    // State hooks, with the filter lock held. OnStart: Stopped -> Paused, after the pins
    // went active. OnStop: -> Stopped, after the pins went inactive and streaming ended.
    virtual HRESULT OnStart() { return S_OK; }
    virtual HRESULT OnStop() { return S_OK; }
    virtual HRESULT OnRun(REFERENCE_TIME) { return S_OK; }
    // A renderer sets AM_FILTER_MISC_FLAGS_IS_RENDERER, so that the graph manager waits for
    // its EC_COMPLETE; a live source sets AM_FILTER_MISC_FLAGS_IS_SOURCE.
    void SetMiscFlags(ULONG ulFlags) { m_ulMiscFlags = ulFlags; }

    // Sends an event to the graph manager (IMediaEventSink); E_NOTIMPL outside a graph.
    HRESULT NotifyEvent(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2);

    FILTER_STATE State() const { return m_state; }
    REFERENCE_TIME StartTime() const { return m_tStart; }
    IReferenceClock* Clock() const { return m_pClock; }  // not AddRef'd
    IFilterGraph* Graph() const { return m_pGraph; }      // weak, not AddRef'd
    const std::wstring& FilterName() const { return m_name; }
    CRITICAL_SECTION* FilterLock() { return &m_csFilter; }
    CRITICAL_SECTION* StreamLock() { return &m_csStream; }
    REFCLSID ClassId() const { return m_clsid; }

protected:
    CRITICAL_SECTION m_csFilter;
    CRITICAL_SECTION m_csStream;
    FILTER_STATE m_state;
    REFERENCE_TIME m_tStart;
    IReferenceClock* m_pClock;  // AddRef'd
    IFilterGraph* m_pGraph;     // weak
    IMediaEventSink* m_pSink;   // weak (its graph owns us)
    std::wstring m_name;
    CLSID m_clsid;
    ULONG m_ulMiscFlags;
};

// Scoped lock of a CRITICAL_SECTION.
class CKitAutoLock {
public:
    explicit CKitAutoLock(CRITICAL_SECTION* pcs) : m_pcs(pcs) { ::EnterCriticalSection(m_pcs); }
    ~CKitAutoLock() { ::LeaveCriticalSection(m_pcs); }
    CKitAutoLock(const CKitAutoLock&) = delete;
    CKitAutoLock& operator=(const CKitAutoLock&) = delete;

private:
    CRITICAL_SECTION* m_pcs;
};

// ---------------------------------------------------------------------------------------
// Seeking passed upstream

// IMediaSeeking and IMediaPosition of a pin or a renderer filter, forwarded to whatever pin
// upstream() returns (the peer of our input pin). Without such a pin, or when the peer has
// no seeking, calls fail with E_NOTIMPL (VFW_E_NOT_CONNECTED when unconnected). Aggregated
// into its owner: its AddRef/Release go to the owner.
class CKitSeekingPassThru final : public IMediaSeeking, public IMediaPosition {
public:
    CKitSeekingPassThru(IUnknown* pOwner, std::function<IPin*()> upstream);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_pOwner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pOwner->Release(); }

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
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;
    // IMediaPosition
    STDMETHODIMP get_Duration(REFTIME* plength) override;
    STDMETHODIMP put_CurrentPosition(REFTIME llTime) override;
    STDMETHODIMP get_CurrentPosition(REFTIME* pllTime) override;
    STDMETHODIMP get_StopTime(REFTIME* pllTime) override;
    STDMETHODIMP put_StopTime(REFTIME llTime) override;
    STDMETHODIMP get_PrerollTime(REFTIME* pllTime) override;
    STDMETHODIMP put_PrerollTime(REFTIME llTime) override;
    STDMETHODIMP put_Rate(double dRate) override;
    STDMETHODIMP get_Rate(double* pdRate) override;
    STDMETHODIMP CanSeekForward(LONG* pCanSeekForward) override;
    STDMETHODIMP CanSeekBackward(LONG* pCanSeekBackward) override;

private:
    // The upstream pin's interface, AddRef'd, or null with *phr set.
    IMediaSeeking* Seeking(HRESULT* phr);
    IMediaPosition* Position(HRESULT* phr);

    IUnknown* m_pOwner;
    std::function<IPin*()> m_upstream;
};

// ---------------------------------------------------------------------------------------
// Transform filters

// A filter with one input pin and one output pin that turns input samples into output
// samples (the decoder, the encoder). The base has the pins and their connection rules
// (output types are offered and checked only once the input is connected), allocator
// negotiation on the output, seeking passed upstream from the output, and passes flushes,
// new segments and the end of the stream downstream. What a derived filter writes is what it
// does to samples: the virtuals below.
class CKitTransform : public CKitFilter {
public:
    // The pins are named "Input" and "Output".
    CKitTransform(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid);
    ~CKitTransform() override;

    int GetPinCount() override { return 2; }
    CKitPin* GetPin(int n) override;
    CKitInputPin* Input() const;
    CKitOutputPin* Output() const;

protected:
    // --- What derived filters provide ---
    // S_OK when the input pin takes the type.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) = 0;
    // A connection offered to the input with a type it refused: what the connection answers
    // (default VFW_E_TYPE_NOT_ACCEPTED); the place to say why.
    virtual HRESULT OnInputTypeRefused(const AM_MEDIA_TYPE*) { return VFW_E_TYPE_NOT_ACCEPTED; }
    // The output's types, asked only while the input is connected.
    virtual HRESULT CheckOutputType(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetOutputType(int iPosition, CKitMediaType* pmt) = 0;
    // Buffers of the output's allocator: fill pProps and call pAlloc->SetProperties.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) = 0;
    // One input sample, with the streaming lock held: delivers zero or more output samples
    // (Output()->GetDeliveryBuffer, Output()->Deliver). A result other than S_OK goes back
    // to the upstream filter, which stops sending.
    virtual HRESULT Transform(IMediaSample* pSample) = 0;
    // The input was connected with mt (a failure refuses the connection) or disconnected.
    virtual HRESULT OnInputConnected(const AM_MEDIA_TYPE& mt);
    virtual void OnInputDisconnected() {}
    // The end of the stream, with the streaming lock held: deliver what is still held back.
    // The end of the stream is passed downstream afterwards, whatever this answers.
    virtual HRESULT OnEndOfStream() { return S_OK; }
    // A flush has ended: forget what is held back (it is passed downstream afterwards).
    virtual void OnFlush() {}
    // Allocator requirements suggested upstream; default none.
    virtual HRESULT OnGetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

private:
    class CInput;
    class COutput;
    CInput* m_pInput;
    COutput* m_pOutput;
};

// ---------------------------------------------------------------------------------------
// Renderers

// A filter with one input pin "Input" that consumes the stream (the writer, test sinks). It
// marks itself a renderer, so that the graph manager waits for its EC_COMPLETE, answers
// IMediaSeeking and IMediaPosition through the pin upstream, and signals EC_COMPLETE once for
// each end of the stream, and only once running: the graph manager counts EC_COMPLETE from
// the start of the run, and a short stream can end while the graph is still paused, in which
// case the event follows when the filter runs. A flush or a stop forgets an end not yet
// signalled.
class CKitRenderer : public CKitFilter {
public:
    CKitRenderer(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid);
    ~CKitRenderer() override;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Leaving the running state holds EC_COMPLETE back until the next run.
    STDMETHODIMP Pause() override;

    int GetPinCount() override { return 1; }
    CKitPin* GetPin(int n) override;
    CKitInputPin* Input() const;

protected:
    // --- What derived filters provide ---
    // S_OK when the input pin takes the type; the types it offers (default none).
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetMediaType(int iPosition, CKitMediaType* pmt);
    // One sample, with the streaming lock held.
    virtual HRESULT Render(IMediaSample* pSample) = 0;
    // The end of the stream reached the filter, with the streaming lock held. A failure
    // keeps EC_COMPLETE back (the filter reports the failure itself).
    virtual HRESULT OnEndOfStream() { return S_OK; }
    // Stopped -> paused, and -> stopped, with the filter lock held.
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }

private:
    class CInput;
    HRESULT OnStart() final;
    HRESULT OnStop() final;
    HRESULT OnRun(REFERENCE_TIME tStart) final;
    HRESULT EndOfStream();
    void BeginFlush();
    // Sends EC_COMPLETE when the stream has ended, the filter runs and it was not sent yet.
    void CompleteIfDue();

    CInput* m_pInput;
    CKitSeekingPassThru m_seeking;
    CRITICAL_SECTION m_csComplete;  // the three flags below
    bool m_bRunning = false;
    bool m_bEnded = false;        // the end of the stream came (and was rendered)
    bool m_bCompleteSent = false;
};

// ---------------------------------------------------------------------------------------
// Enumerators

// IEnumMediaTypes over a pin's GetMediaType list.
class CKitEnumMediaTypes final : public IEnumMediaTypes {
public:
    CKitEnumMediaTypes(CKitPin* pPin, ULONG iPos = 0);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

private:
    ~CKitEnumMediaTypes();
    CKitPin* m_pPin;  // AddRef'd
    ULONG m_iPos;
    volatile LONG m_cRef;
};

// IEnumPins over a filter's pins (a snapshot taken when it is made).
class CKitEnumPins final : public IEnumPins {
public:
    CKitEnumPins(CKitFilter* pFilter, ULONG iPos = 0);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

private:
    ~CKitEnumPins();
    CKitFilter* m_pFilter;  // AddRef'd
    std::vector<IPin*> m_pins;  // AddRef'd
    ULONG m_iPos;
    volatile LONG m_cRef;
};

// ---------------------------------------------------------------------------------------
// Worker thread for sources

// One thread running a loop body until a stop is requested or the body returns false.
class CKitWorker {
public:
    CKitWorker();
    ~CKitWorker();  // stops and joins
    CKitWorker(const CKitWorker&) = delete;
    CKitWorker& operator=(const CKitWorker&) = delete;

    // Starts the thread, which calls body() again and again while it returns true and no
    // stop was requested. Fails with E_UNEXPECTED when already running.
    HRESULT Start(std::function<bool()> body);
    // Requests the stop, waits for the thread and returns once it has ended.
    void Stop();
    bool IsRunning() const { return m_hThread != NULL; }
    // For the body: true once Stop was called; StopEvent() is signalled at the same time, so
    // the body can wait for it instead of sleeping (WaitForStop).
    bool StopRequested() const;
    HANDLE StopEvent() const { return m_hStop; }
    // Waits up to ms milliseconds; true when the stop was requested meanwhile.
    bool WaitForStop(DWORD ms) const;

private:
    static DWORD WINAPI ThreadProc(LPVOID pv);
    HANDLE m_hThread;
    HANDLE m_hStop;
    std::function<bool()> m_body;
};

// ---------------------------------------------------------------------------------------
// Filter DLLs

// One class served by a filter DLL.
struct CKitFilterTemplate {
    const CLSID* pClsid;
    const wchar_t* pszName;   // class and filter name (also the default friendly name)
    KitCreateFn pfnCreate;
    // Registration with IFilterMapper2; pCategory null = CLSID_LegacyAmFilterCategory.
    // pRegFilter null = no pins, MERIT_DO_NOT_USE.
    const GUID* pCategory;
    const REGFILTER2* pRegFilter;
    // Instance key in the category (null = the class identifier); lets several entries
    // share one friendly name, as capture devices can.
    const wchar_t* pszInstance;
    // Friendly name in the category when it differs from pszName (null = pszName).
    const wchar_t* pszFriendlyName;
};

// Writes HKCR\CLSID\{clsid} (default = name) and its InprocServer32 (default = this
// module's path, ThreadingModel = Both).
HRESULT KitRegisterClass(REFCLSID clsid, const wchar_t* pszName);
HRESULT KitUnregisterClass(REFCLSID clsid);
// Registers the filter in a category through IFilterMapper2 (COM must be initialised).
// pszInstance gives the instance key (null = the class identifier): register the same class
// again with another instance and the same friendly name for a second device of that name.
HRESULT KitRegisterFilter(REFCLSID clsid, const wchar_t* pszFriendlyName, const GUID* pCategory,
                          const wchar_t* pszInstance, const REGFILTER2* pRegFilter);
HRESULT KitUnregisterFilter(REFCLSID clsid, const GUID* pCategory, const wchar_t* pszInstance);

// The table-driven exports; KIT_FILTER_DLL defines them for a DLL.
HRESULT KitDllGetClassObject(const CKitFilterTemplate* pTemplates, int cTemplates, REFCLSID rclsid,
                             REFIID riid, void** ppv);
HRESULT KitDllCanUnloadNow();
HRESULT KitDllRegisterServer(const CKitFilterTemplate* pTemplates, int cTemplates);
HRESULT KitDllUnregisterServer(const CKitFilterTemplate* pTemplates, int cTemplates);

// The module this code runs in (the filter DLL, or the program for filters linked in).
HMODULE KitModule();

// Defines DllGetClassObject, DllCanUnloadNow, DllRegisterServer and DllUnregisterServer for
// the given template array. Use once per DLL, and add standins/kit/FilterKit.def to the DLL's
// sources (quorlin_add_filter_dll in standins/kit/FilterKit.cmake does) to export them.
#define KIT_FILTER_DLL(templates)                                                                  \
    STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {                           \
        return KitDllGetClassObject(templates, (int)(sizeof(templates) / sizeof(templates[0])),    \
                                    rclsid, riid, ppv);                                            \
    }                                                                                              \
    STDAPI DllCanUnloadNow() { return KitDllCanUnloadNow(); }                                      \
    STDAPI DllRegisterServer() {                                                                   \
        return KitDllRegisterServer(templates, (int)(sizeof(templates) / sizeof(templates[0])));   \
    }                                                                                              \
    STDAPI DllUnregisterServer() {                                                                 \
        return KitDllUnregisterServer(templates, (int)(sizeof(templates) / sizeof(templates[0]))); \
    }
