// The bench's own graph building (CGraph) with the real encoder and writer: a media file
// becomes an MPEG-4 file, and the encoder's statistics reach the bench.
#include <gtest/gtest.h>

#include "graph/Graph.h"
#include "tests/encoder/EncoderTestUtil.h"
#include "tests/support/HostTools.h"

namespace {

TEST(BenchGraph, MediaFileToMpeg4FileThroughTheEncoder) {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        CComPtr<IBaseFilter> spWriter;
        if (FAILED(spWriter.CoCreateInstance(CLSID_VireonMp4Writer))) GTEST_SKIP() << "no MPEG-4 writer registered";
        spWriter.Release();
        std::string file = MakeMediaFile("h264.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", 320, 240, 50);
        ASSERT_FALSE(file.empty());
        std::string mp4 = UniqueTmpPath(".mp4");
        HWND hWnd = ::CreateWindowW(L"STATIC", L"bench", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(hWnd != nullptr);
        {
            CGraph graph;
            ASSERT_EQ(S_OK, graph.BuildGraph(ToWinPath(file).c_str(), false, ToWinPath(mp4).c_str(), false, hWnd,
                                             WM_GRAPHNOTIFY));
            int nWidth = 0, nHeight = 0, eInterlacing = 0;
            double dblFps = 0;
            EXPECT_EQ(S_OK, graph.GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing));
            EXPECT_EQ(320, nWidth);
            EXPECT_EQ(240, nHeight);
            EXPECT_NEAR(25.0, dblFps, 0.01);
            EXPECT_EQ(MRV264E_Progressive, eInterlacing);
            ASSERT_EQ(S_OK, graph.m_spVireon->SetGop(10, 0));
            ASSERT_TRUE(SUCCEEDED(graph.Run()));
            EXPECT_EQ(EC_COMPLETE, WaitForGraphEvent(graph.m_spGraph, 60000));
            EXPECT_TRUE(SUCCEEDED(graph.Stop()));
            UINT nKbps = 0, nFrames = 0;
            EXPECT_EQ(S_OK, graph.GetStatistics(&nKbps, &nFrames));
            EXPECT_EQ(50u, nFrames);
            EXPECT_GT(nKbps, 0u);
            graph.Release();
        }
        ::DestroyWindow(hWnd);
        std::string out;
        EXPECT_EQ(0, RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                             "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + mp4 + "'", &out));
        EXPECT_EQ("h264,320,240,50", out.substr(0, out.find_last_not_of("\r\n") + 1));
        std::string keys;
        RunHost("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 '" + mp4 +
                    "' | tr -d '\\n'",
                &keys);
        std::string expected;
        for (int i = 0; i < 5; ++i) expected += "1000000000";  // an IDR every 10 frames
        EXPECT_EQ(expected, keys);
    }
    ::CoUninitialize();
}

}  // namespace
