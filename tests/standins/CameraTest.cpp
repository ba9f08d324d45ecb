// The test-pattern camera as the bench meets it: through the system device enumerator, in
// live graphs paced by the graph clock, through IAMStreamConfig and its property page.
#include "graph/Graph.h"
#include "graph/Vireon.h"
#include "standins/camera/CameraPage.h"
#include "standins/camera/TestPatternCamera.h"
#include "tests/standins/MediaTools.h"
#include "tests/support/HostTools.h"
#include "tests/support/KitTestFilters.h"
#include "tests/support/WindowTools.h"

#include <gtest/gtest.h>

#include <atlbase.h>
#include <dvdmedia.h>

#include <string>
#include <vector>

namespace {

struct Device {
    std::wstring name;
    CComPtr<IMoniker> spMoniker;
};

std::vector<Device> VideoInputDevices() {
    std::vector<Device> devices;
    CComPtr<ICreateDevEnum> spDevEnum;
    if (FAILED(spDevEnum.CoCreateInstance(CLSID_SystemDeviceEnum))) return devices;
    CComPtr<IEnumMoniker> spEnum;
    if (spDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &spEnum, 0) != S_OK)
        return devices;
    CComPtr<IMoniker> spMoniker;
    while (spEnum->Next(1, &spMoniker, nullptr) == S_OK) {
        CComPtr<IPropertyBag> spBag;
        VARIANT var;
        ::VariantInit(&var);
        if (SUCCEEDED(spMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void**)&spBag)) &&
            SUCCEEDED(spBag->Read(L"FriendlyName", &var, nullptr)) && var.vt == VT_BSTR)
            devices.push_back({var.bstrVal, spMoniker});
        ::VariantClear(&var);
        spMoniker.Release();
    }
    return devices;
}

CComPtr<IBaseFilter> CreateCamera() {
    CComPtr<IBaseFilter> spCamera;
    spCamera.CoCreateInstance(CLSID_TestPatternCamera);
    return spCamera;
}

CComPtr<IPin> Pin(IBaseFilter* pFilter, const wchar_t* pszName) {
    CComPtr<IPin> spPin;
    pFilter->FindPin(pszName, &spPin);
    return spPin;
}

// The format of the camera's size table with the given frame duration.
HRESULT SetCameraFormat(IBaseFilter* pCamera, int nWidth, int nHeight, REFERENCE_TIME tFrame) {
    CComQIPtr<IAMStreamConfig> spConfig(Pin(pCamera, L"Capture"));
    if (!spConfig) return E_NOINTERFACE;
    int count = 0, size = 0;
    spConfig->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (spConfig->GetStreamCaps(i, &pmt, (BYTE*)&caps) != S_OK) continue;
        HRESULT hr = S_FALSE;
        if (caps.MaxOutputSize.cx == nWidth && caps.MaxOutputSize.cy == nHeight) {
            ((VIDEOINFOHEADER*)pmt->pbFormat)->AvgTimePerFrame = tFrame;
            hr = spConfig->SetFormat(pmt);
        }
        media::DeleteMediaType(pmt);
        if (hr != S_FALSE) return hr;
    }
    return E_FAIL;
}

struct Camera : ::testing::Test {
    void SetUp() override { ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { ::CoUninitialize(); }
};

TEST_F(Camera, IsListedByTheDeviceEnumeratorAndBindsToTheFilter) {
    std::vector<Device> devices = VideoInputDevices();
    const Device* pFound = nullptr;
    for (const Device& d : devices)
        if (d.name == TEST_CAMERA_FRIENDLY_NAME) pFound = pFound ? pFound : &d;
    ASSERT_NE(nullptr, pFound) << devices.size() << " devices listed";
    CComPtr<IBaseFilter> spCamera;
    ASSERT_EQ(S_OK, pFound->spMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, (void**)&spCamera));
    CLSID clsid;
    ASSERT_EQ(S_OK, spCamera->GetClassID(&clsid));
    EXPECT_EQ(CLSID_TestPatternCamera, clsid);

    // Pins in order, named and with their categories.
    struct {
        const wchar_t* name;
        GUID category;
    } pins[] = {{L"Capture", PIN_CATEGORY_CAPTURE}, {L"Preview", PIN_CATEGORY_PREVIEW}};
    CComPtr<IEnumPins> spEnum;
    ASSERT_EQ(S_OK, spCamera->EnumPins(&spEnum));
    for (const auto& want : pins) {
        CComPtr<IPin> spPin;
        ASSERT_EQ(S_OK, spEnum->Next(1, &spPin, nullptr));
        PIN_INFO info;
        ASSERT_EQ(S_OK, spPin->QueryPinInfo(&info));
        if (info.pFilter) info.pFilter->Release();
        EXPECT_STREQ(want.name, info.achName);
        EXPECT_EQ(PINDIR_OUTPUT, info.dir);
        CComQIPtr<IKsPropertySet> spKs(spPin);
        ASSERT_TRUE(spKs);
        GUID category = GUID_NULL;
        DWORD cb = 0;
        EXPECT_EQ(S_OK, spKs->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                  sizeof category, &cb));
        EXPECT_EQ(want.category, category);
    }

    // What the bench does with it.
    CGraph graph;
    CComPtr<IBaseFilter> spLive;
    ASSERT_EQ(S_OK, graph.CreateLiveSource(TEST_CAMERA_FRIENDLY_NAME, &spLive));
    CComPtr<IPin> spCapture;
    ASSERT_EQ(S_OK, graph.FindCaptureOutput(spLive, &spCapture));
    EXPECT_EQ(Pin(spLive, L"Capture"), spCapture);
}

TEST_F(Camera, ASecondDeviceOfTheSameNameCanBeRegistered) {
    ASSERT_EQ(S_OK, RegisterSecondTestCamera(true));
    std::vector<CLSID> classes;
    for (const Device& d : VideoInputDevices()) {
        if (d.name != TEST_CAMERA_FRIENDLY_NAME) continue;
        CComPtr<IBaseFilter> spFilter;
        ASSERT_EQ(S_OK, d.spMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, (void**)&spFilter));
        CLSID clsid;
        spFilter->GetClassID(&clsid);
        classes.push_back(clsid);
    }
    EXPECT_EQ(S_OK, RegisterSecondTestCamera(false));
    ASSERT_EQ(2u, classes.size());
    EXPECT_NE(classes[0], classes[1]);
    int cLeft = 0;
    for (const Device& d : VideoInputDevices()) cLeft += d.name == TEST_CAMERA_FRIENDLY_NAME;
    EXPECT_EQ(1, cLeft);
}

TEST_F(Camera, OffersItsFormatsThroughStreamConfig) {
    CComPtr<IBaseFilter> spCamera = CreateCamera();
    ASSERT_TRUE(spCamera);
    CComQIPtr<IAMStreamConfig> spConfig(Pin(spCamera, L"Capture"));
    ASSERT_TRUE(spConfig);
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, spConfig->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ((int)sizeof(VIDEO_STREAM_CONFIG_CAPS), size);
    ASSERT_GE(count, 3);
    bool bSd = false;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(S_OK, spConfig->GetStreamCaps(i, &pmt, (BYTE*)&caps));
        EXPECT_EQ(MEDIASUBTYPE_YUY2, pmt->subtype);
        EXPECT_EQ(caps.guid, pmt->formattype);
        if (pmt->formattype == FORMAT_VideoInfo2) {
            auto* pvi = (VIDEOINFOHEADER2*)pmt->pbFormat;
            if (pvi->bmiHeader.biWidth == 720 && pvi->bmiHeader.biHeight == 576 &&
                pvi->AvgTimePerFrame == 400000) {
                bSd = true;
                EXPECT_EQ((DWORD)(AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First),
                          pvi->dwInterlaceFlags & (AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First |
                                                   AMINTERLACE_1FieldPerSample));
            }
        }
        media::DeleteMediaType(pmt);
    }
    EXPECT_TRUE(bSd) << "interlaced 720x576 at 25 fps";
    AM_MEDIA_TYPE* pmt = nullptr;
    EXPECT_EQ(S_FALSE, spConfig->GetStreamCaps(count, &pmt, (BYTE*)&size));

    EXPECT_EQ(S_OK, SetCameraFormat(spCamera, 320, 240, 666666));
    ASSERT_EQ(S_OK, spConfig->GetFormat(&pmt));
    EXPECT_EQ(320, ((VIDEOINFOHEADER*)pmt->pbFormat)->bmiHeader.biWidth);
    EXPECT_EQ(666666, ((VIDEOINFOHEADER*)pmt->pbFormat)->AvgTimePerFrame);
    // Faster than the size allows, and a size not offered.
    ((VIDEOINFOHEADER*)pmt->pbFormat)->AvgTimePerFrame = 100000;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, spConfig->SetFormat(pmt));
    ((VIDEOINFOHEADER*)pmt->pbFormat)->AvgTimePerFrame = 0;
    ((VIDEOINFOHEADER*)pmt->pbFormat)->bmiHeader.biWidth = 321;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, spConfig->SetFormat(pmt));
    media::DeleteMediaType(pmt);
    EXPECT_EQ(E_POINTER, spConfig->SetFormat(nullptr));
}

struct LiveGraph : Camera {
    void SetUp() override {
        Camera::SetUp();
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
        spCamera = CreateCamera();
        ASSERT_TRUE(spCamera);
        ASSERT_EQ(S_OK, spGraph->AddFilter(spCamera, TEST_CAMERA_FRIENDLY_NAME));
    }
    void TearDown() override {
        if (spGraph) {
            CComQIPtr<IMediaControl> spControl(spGraph);
            spControl->Stop();
        }
        spCamera.Release();
        spGraph.Release();
        Camera::TearDown();
    }
    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spCamera;
};

TEST_F(LiveGraph, DeliversMovingFramesOnBothPinsAtItsRate) {
    const REFERENCE_TIME kFrame = 333333;
    ASSERT_EQ(S_OK, SetCameraFormat(spCamera, 320, 240, kFrame));
    CTestSink* pSinks[2];
    const wchar_t* names[2] = {L"Capture", L"Preview"};
    std::vector<CComPtr<IBaseFilter>> sinks;
    for (int i = 0; i < 2; ++i) {
        pSinks[i] = new CTestSink();
        sinks.push_back(static_cast<IBaseFilter*>(pSinks[i]));
        ASSERT_EQ(S_OK, spGraph->AddFilter(sinks.back(), names[i]));
        CComPtr<IPin> spIn;
        spIn.p = FirstPin(sinks.back(), PINDIR_INPUT);
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(Pin(spCamera, names[i]), spIn, nullptr));
    }
    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_EQ(S_OK, spControl->Pause() >= 0 ? S_OK : E_FAIL);
    FILTER_STATE state;
    EXPECT_EQ(VFW_S_CANT_CUE, spCamera->GetState(0, &state)) << "live: nothing while paused";
    ::Sleep(300);
    EXPECT_TRUE(pSinks[0]->Samples().empty());
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    ::Sleep(2000);
    spControl->Stop();

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        std::vector<CollectedSample> samples = pSinks[i]->Samples();
        // Two seconds at 30 frames a second: never more; fewer only when the machine is so
        // busy that frames are dropped.
        EXPECT_GE(samples.size(), 35u);
        EXPECT_LE(samples.size(), 64u);
        for (size_t n = 0; n < samples.size(); ++n) {
            ASSERT_EQ(320u * 240 * 2, samples[n].data.size());
            ASSERT_TRUE(samples[n].bHasTime);
            EXPECT_EQ(0, samples[n].tStart % kFrame);
            EXPECT_EQ(kFrame, samples[n].tStop - samples[n].tStart);
            if (n > 0) {
                EXPECT_GT(samples[n].tStart, samples[n - 1].tStart);
                EXPECT_NE(samples[n].data, samples[n - 1].data) << "the pattern moves";
            }
        }
        if (!samples.empty()) {
            EXPECT_LT(samples.back().tStart, 23000000);
        }
    }
    LONG nDelivered = 0;
    CComQIPtr<ITestPatternCamera> spCam(spCamera);
    ASSERT_EQ(S_OK, spCam->GetFramesDelivered(&nDelivered));
    EXPECT_EQ((LONG)pSinks[0]->Samples().size(), nDelivered);
}

TEST_F(LiveGraph, RefusesAnotherFormatOnceConnected) {
    ASSERT_EQ(S_OK, SetCameraFormat(spCamera, 320, 240, 333333));
    CComPtr<IBaseFilter> spSink = static_cast<IBaseFilter*>(new CTestSink());
    ASSERT_EQ(S_OK, spGraph->AddFilter(spSink, L"Sink"));
    CComPtr<IPin> spIn;
    spIn.p = FirstPin(spSink, PINDIR_INPUT);
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(Pin(spCamera, L"Capture"), spIn, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, SetCameraFormat(spCamera, 640, 480, 333333));
    EXPECT_EQ(S_OK, SetCameraFormat(spCamera, 320, 240, 333333)) << "the same format again";
}

TEST_F(LiveGraph, DeviceToEncoderToWriterRecordsAtTheDeviceRate) {
    const REFERENCE_TIME kFrame = 400000;  // 25 fps
    ASSERT_EQ(S_OK, SetCameraFormat(spCamera, 320, 240, kFrame));
    CComPtr<IBaseFilter> spEncoder, spWriter;
    ASSERT_EQ(S_OK, spEncoder.CoCreateInstance(CLSID_VireonEncoder));
    ASSERT_EQ(S_OK, spWriter.CoCreateInstance(CLSID_VireonMp4Writer));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spWriter, L"Morvane MPEG-4 Writer"));
    const std::string file = UniqueTmpPath(".mp4");
    CComQIPtr<IFileSinkFilter2> spSink(spWriter);
    ASSERT_EQ(S_OK, spSink->SetFileName(ToWinPath(file).c_str(), nullptr));
    CComPtr<IPin> spEncIn, spEncOut, spWriterIn;
    spEncIn.p = FirstPin(spEncoder, PINDIR_INPUT);
    spEncOut.p = FirstPin(spEncoder, PINDIR_OUTPUT);
    spWriterIn.p = FirstPin(spWriter, PINDIR_INPUT);
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(Pin(spCamera, L"Capture"), spEncIn, nullptr));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spEncOut, spWriterIn, nullptr));
    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    ::Sleep(3000);
    ASSERT_EQ(S_OK, spControl->Stop());
    LONG nDelivered = 0;
    CComQIPtr<ITestPatternCamera>(spCamera)->GetFramesDelivered(&nDelivered);
    EXPECT_GE(nDelivered, 45);
    EXPECT_LE(nDelivered, 80);

    auto info = ProbeVideo(file);
    EXPECT_EQ("h264", info["codec_name"]);
    EXPECT_EQ("320", info["width"]);
    EXPECT_EQ("240", info["height"]);
    int frames = std::atoi(info["nb_read_frames"].c_str());
    EXPECT_EQ(nDelivered, frames) << "every frame captured is recorded";
    double duration = std::atof(info["duration"].c_str());
    ASSERT_GT(duration, 0.0);
    EXPECT_NEAR(25.0, frames / duration, 2.5) << "frames at the device's rate";
}

// Finds the window of this thread whose title contains text.
HWND FindThreadWindow(const std::wstring& text) {
    struct Search {
        std::wstring text;
        HWND hWnd;
    } search = {text, NULL};
    ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND hWnd, LPARAM lParam) -> BOOL {
        auto* s = (Search*)lParam;
        if (::IsWindowVisible(hWnd) && WindowText(hWnd).find(s->text) != std::wstring::npos) {
            s->hWnd = hWnd;
            return FALSE;
        }
        return TRUE;
    }, (LPARAM)&search);
    return search.hWnd;
}

HWND FindDescendant(HWND hWnd, int nID) {
    struct Search {
        int nID;
        HWND hWnd;
    } search = {nID, NULL};
    ::EnumChildWindows(hWnd, [](HWND h, LPARAM lParam) -> BOOL {
        auto* s = (Search*)lParam;
        if (::GetDlgCtrlID(h) == s->nID) {
            s->hWnd = h;
            return FALSE;
        }
        return TRUE;
    }, (LPARAM)&search);
    return search.hWnd;
}

TEST_F(Camera, PropertyPageOpensInThePropertyFrameAndSetsPatternAndSize) {
    CComPtr<IBaseFilter> spCamera = CreateCamera();
    ASSERT_TRUE(spCamera);
    CComQIPtr<ISpecifyPropertyPages> spPages(spCamera);
    ASSERT_TRUE(spPages);
    CAUUID pages = {0, nullptr};
    ASSERT_EQ(S_OK, spPages->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);

    // While the frame is open: check the page's lists, pick the checkerboard and the second
    // size (each takes effect at once), close with OK.
    static std::vector<std::wstring> s_patterns, s_formats;
    static bool s_bSeen;
    s_patterns.clear(), s_formats.clear(), s_bSeen = false;
    UINT_PTR timer = ::SetTimer(NULL, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
        HWND hFrame = FindThreadWindow(L"Test Pattern Camera");
        if (!hFrame) return;
        HWND hPattern = FindDescendant(hFrame, IDC_CAMERA_PATTERN);
        HWND hFormat = FindDescendant(hFrame, IDC_CAMERA_FORMAT);
        if (!hPattern || !hFormat) return;
        ::KillTimer(NULL, id);
        s_bSeen = true;
        for (HWND h : {hPattern, hFormat}) {
            int n = (int)::SendMessageW(h, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < n; ++i) {
                wchar_t sz[128] = {};
                ::SendMessageW(h, CB_GETLBTEXT, i, (LPARAM)sz);
                (h == hPattern ? s_patterns : s_formats).push_back(sz);
            }
        }
        for (HWND h : {hPattern, hFormat}) {
            ::SendMessageW(h, CB_SETCURSEL, 1, 0);
            ::SendMessageW(::GetParent(h), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(h), CBN_SELCHANGE),
                           (LPARAM)h);
        }
        ::PostMessageW(hFrame, WM_COMMAND, IDOK, 0);
    });
    IUnknown* pUnk = spCamera;
    HRESULT hr = ::OleCreatePropertyFrame(NULL, 0, 0, L"Test Pattern Camera", 1, &pUnk, pages.cElems,
                                          pages.pElems, 0, 0, nullptr);
    ::KillTimer(NULL, timer);
    ::CoTaskMemFree(pages.pElems);
    EXPECT_EQ(S_OK, hr);
    ASSERT_TRUE(s_bSeen) << "the page was not shown";
    EXPECT_EQ((std::vector<std::wstring>{L"Colour bars", L"Checkerboard"}), s_patterns);
    ASSERT_GE(s_formats.size(), 3u);
    EXPECT_EQ(L"640 x 480, 30 fps", s_formats[0]);
    EXPECT_EQ(L"720 x 576, 25 fps, interlaced", s_formats.back());
    int ePattern = -1, iFormat = -1;
    CComQIPtr<ITestPatternCamera> spCam(spCamera);
    spCam->GetPattern(&ePattern);
    spCam->GetFormat(&iFormat);
    EXPECT_EQ(1, ePattern);
    EXPECT_EQ(1, iFormat);
    CComQIPtr<IAMStreamConfig> spConfig(Pin(spCamera, L"Capture"));
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(S_OK, spConfig->GetFormat(&pmt));
    EXPECT_EQ(320, ((VIDEOINFOHEADER*)pmt->pbFormat)->bmiHeader.biWidth);
    media::DeleteMediaType(pmt);
}

}  // namespace
