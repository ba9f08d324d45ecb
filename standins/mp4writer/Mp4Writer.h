// The MPEG-4 writer filter: a file sink with one input pin for an H.264 byte stream.
#pragma once

#include "standins/kit/FilterKit.h"
#include "standins/mp4writer/Mp4Muxer.h"

#include <string>

class CMp4Writer : public CKitRenderer, public IFileSinkFilter2 {
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

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetMediaType(int iPosition, CKitMediaType* pmt) override;
    HRESULT Render(IMediaSample* pSample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnStartStreaming() override;
    HRESULT OnStopStreaming() override;

private:
    // Writes the index once; reports a failure with EC_ERRORABORT.
    HRESULT Complete();
    void Fail(HRESULT hr);

    std::wstring m_file;
    DWORD m_dwMode = 0;
    CMp4Muxer m_mux;
    HRESULT m_hrFailed = S_OK;
};
