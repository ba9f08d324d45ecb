// The prefix plays sound on machines without a sound device: files with audio render
// completely, with the platform's audio renderer in the graph, and play to their end.
#include <gtest/gtest.h>

#include <windows.h>

#include "graph/DShow.h"

#include <atlbase.h>

#include <string>

#include "tests/support/HostTools.h"

namespace {

class ComApartment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

// Video with a stereo AAC track, 2 s.
std::string MovieWithAudio() {
    std::string p = TestTmpDir() + "/audio-sample.mp4";
    if (!HostFileExists(p) &&
        RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                "-i sine=frequency=440:sample_rate=48000 -ac 2 -t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac '" +
                p + "'") != 0)
        return std::string();
    return p;
}

// Counts the filters of the graph with this class identifier that have a connected input.
int ConnectedFilters(IGraphBuilder* pGraph, REFCLSID clsid) {
    int n = 0;
    CComPtr<IEnumFilters> spEnum;
    pGraph->EnumFilters(&spEnum);
    CComPtr<IBaseFilter> spFilter;
    while (spEnum && spEnum->Next(1, &spFilter, nullptr) == S_OK) {
        CLSID c;
        if (SUCCEEDED(spFilter->GetClassID(&c)) && c == clsid) {
            CComPtr<IEnumPins> spPins;
            spFilter->EnumPins(&spPins);
            CComPtr<IPin> spPin, spPeer;
            while (spPins && spPins->Next(1, &spPin, nullptr) == S_OK) {
                if (spPin->ConnectedTo(&spPeer) == S_OK) {
                    ++n;
                    break;
                }
                spPin.Release();
            }
        }
        spFilter.Release();
    }
    return n;
}

TEST(Audio, FileWithAudioRendersCompletelyAndPlays) {
    std::string mp4 = MovieWithAudio();
    ASSERT_FALSE(mp4.empty()) << "ffmpeg could not make the sample";
    CComPtr<IGraphBuilder> spGraph;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)&spGraph));
    // Not VFW_S_PARTIAL_RENDER / VFW_S_AUDIO_NOT_RENDERED: the audio stream has a renderer.
    ASSERT_EQ(spGraph->RenderFile(ToWinPath(mp4).c_str(), nullptr), S_OK);
    EXPECT_EQ(ConnectedFilters(spGraph, CLSID_DSoundRender), 1);
    EXPECT_EQ(ConnectedFilters(spGraph, CLSID_VideoRenderer) + ConnectedFilters(spGraph, CLSID_VideoMixingRenderer) +
                  ConnectedFilters(spGraph, CLSID_VideoRendererDefault),
              1);

    // The audio renderer keeps time: two seconds play in about two seconds and end.
    CComQIPtr<IMediaControl> spControl(spGraph);
    CComQIPtr<IMediaEvent> spEvent(spGraph);
    DWORD start = GetTickCount();
    ASSERT_HRESULT_SUCCEEDED(spControl->Run());
    long code = 0;
    EXPECT_EQ(spEvent->WaitForCompletion(20000, &code), S_OK);
    DWORD elapsed = GetTickCount() - start;
    spControl->Stop();
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_GE(elapsed, 1500u);
}

}  // namespace
