// The MPEG-4 writer filter: a file sink with one input pin for an H.264 byte stream.
#pragma once

#include "standins/kit/FilterKit.h"
#include "standins/mp4writer/Mp4Muxer.h"

#include <string>

class CMp4Writer : public CKitFilter, public IFileSinkFilter2 {
public:
    static CKitUnknown* Create(IUnknown* pOuter, HRESULT* phr);

    explicit CMp4Writer(IUnknown* pOuter);
    ~CMp4Writer() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFileSinkFilter2
    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP SetMode(DWORD dwFlags) override;
    STDMETHODIMP GetMode(DWORD* pdwFlags) override;

    // IMediaFilter: leaving the running state matters for EC_COMPLETE.
    STDMETHODIMP Pause() override;

    int GetPinCount() override { return 1; }
    CKitPin* GetPin(int n) override;
    HRESULT OnStart() override;
    HRESULT OnStop() override;
    HRESULT OnRun(REFERENCE_TIME tStart) override;

private:
    class CInput;
    HRESULT Receive(IMediaSample* pSample);
    HRESULT EndOfStream();
    // Writes the index once; reports a failure with EC_ERRORABORT.
    HRESULT Complete();
    void Fail(HRESULT hr);

    CInput* m_pInput;
    CKitSeekingPassThru m_seeking;
    std::wstring m_file;
    DWORD m_dwMode = 0;
    CMp4Muxer m_mux;
    HRESULT m_hrFailed = S_OK;

    // End of stream and the running state, for EC_COMPLETE.
    CRITICAL_SECTION m_csEos;
    bool m_bRunning = false;
    bool m_bEos = false;
    bool m_bCompleteSent = false;
};
