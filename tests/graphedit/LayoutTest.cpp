// GraphEdit's picture of a graph as data: hand-made graphs for the layout's rules, media type
// texts from format blocks, and the graphs the bench builds, read as GraphEdit reads them,
// laid out and shown by GraphEdit (a screenshot of each in build/screenshots).
#include "tests/graphedit/GraphEditFixture.h"

#include <algorithm>
#include <sstream>

#include "standins/camera/TestPatternCamera.h"
#include "standins/graphedit/GraphLayout.h"
#include "standins/graphedit/GraphReader.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

using namespace graphview;

namespace {

// A graph written compactly: filters with their pins ('i' in, 'o' out), then connections
// from an output pin to an input pin, both ends set as a reader sets them.
struct GraphMaker {
    GraphDesc d;
    GraphMaker& Filter(const std::wstring& name, const char* pszPins) {
        FilterDesc f;
        f.name = name;
        for (const char* p = pszPins; *p; ++p) {
            PinDesc pin;
            pin.bOutput = *p == 'o';
            pin.name = (pin.bOutput ? L"Out " : L"In ") + std::to_wstring(p - pszPins);
            f.pins.push_back(pin);
        }
        d.filters.push_back(f);
        return *this;
    }
    GraphMaker& Link(int from, int fromPin, int to, int toPin) {
        d.filters[from].pins[fromPin].nPeerFilter = to;
        d.filters[from].pins[fromPin].nPeerPin = toPin;
        d.filters[to].pins[toPin].nPeerFilter = from;
        d.filters[to].pins[toPin].nPeerPin = fromPin;
        return *this;
    }
};

// Text as a fixed-width font would draw it.
Metrics FixedMetrics() {
    Metrics m;
    m.nLineHeight = 13;
    m.textWidth = [](const std::wstring& s, bool bTitle) { return (int)s.size() * (bTitle ? 8 : 7); };
    return m;
}

std::string Name(const GraphDesc& g, int f) { return Narrow(g.filters[f].name); }

// A segment of an arrow as a rectangle one pixel thick.
Rect SegmentRect(const Point& a, const Point& b) {
    return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1};
}

// Everything that is wrong with a picture of a graph, one line each; empty when the boxes
// don't overlap, every connection has one arrow from its output pin on the right edge to its
// input pin on the left edge, arrows run left to right around the boxes, and all of it lies
// within the picture's size.
std::string LayoutFaults(const GraphDesc& g, const Layout& l) {
    std::ostringstream out;
    if (l.boxes.size() != g.filters.size()) return "one box per filter expected\n";
    for (size_t i = 0; i < l.boxes.size(); ++i) {
        const FilterBox& box = l.boxes[i];
        if (box.nFilter != (int)i || box.pins.size() != g.filters[i].pins.size()) out << "box " << i << " mixed up\n";
        const Rect b = box.Bounds();
        if (b.left < 0 || b.top < 0 || b.right > l.cx || b.bottom > l.cy) out << Name(g, i) << " outside the picture\n";
        for (size_t j = i + 1; j < l.boxes.size(); ++j)
            if (b.Intersects(l.boxes[j].Bounds())) out << Name(g, i) << " overlaps " << Name(g, j) << "\n";
        for (const PinPlace& p : box.pins) {
            const int edge = p.bOutput ? box.rc.right : box.rc.left;
            if (p.bOutput != g.filters[i].pins[p.nPin].bOutput || (p.rc.left + p.rc.right) / 2 != edge ||
                p.rc.top < box.rc.top || p.rc.bottom > box.rc.bottom)
                out << Name(g, i) << " pin " << p.nPin << " not on its edge\n";
        }
    }
    size_t cConnections = 0;
    for (const FilterDesc& f : g.filters)
        for (const PinDesc& p : f.pins) cConnections += p.bOutput && p.nPeerFilter >= 0;
    if (l.arrows.size() != cConnections) out << l.arrows.size() << " arrows for " << cConnections << " connections\n";
    for (const Arrow& a : l.arrows) {
        const std::string what = Name(g, a.nFromFilter) + " -> " + Name(g, a.nToFilter);
        const PinDesc& from = g.filters[a.nFromFilter].pins[a.nFromPin];
        if (!from.bOutput || from.nPeerFilter != a.nToFilter || from.nPeerPin != a.nToPin) out << what << ": not a connection\n";
        if (a.points.size() < 2) {
            out << what << ": no line\n";
            continue;
        }
        const FilterBox& src = l.boxes[a.nFromFilter];
        const FilterBox& dst = l.boxes[a.nToFilter];
        if (!(a.points.front() == src.pins[a.nFromPin].anchor)) out << what << ": does not start at its output pin\n";
        if (!(a.points.back() == dst.pins[a.nToPin].anchor)) out << what << ": does not end at its input pin\n";
        if (dst.rc.left <= src.rc.right) out << what << ": against the stream\n";
        if (a.points[1].x <= a.points[0].x || a.points.back().x <= a.points[a.points.size() - 2].x)
            out << what << ": does not leave and enter to the right\n";
        for (size_t k = 1; k < a.points.size(); ++k) {
            const Point &p = a.points[k - 1], &q = a.points[k];
            if (p.x != q.x && p.y != q.y) out << what << ": slanted segment\n";
            for (const FilterBox& box : l.boxes)
                if (SegmentRect(p, q).Intersects(box.rc)) out << what << ": crosses " << Name(g, box.nFilter) << "\n";
        }
    }
    return out.str();
}

const FilterBox& BoxOf(const GraphDesc& g, const Layout& l, const std::wstring& name) {
    for (size_t i = 0; i < g.filters.size(); ++i)
        if (g.filters[i].name == name) return l.boxes[i];
    ADD_FAILURE() << "no filter " << Narrow(name);
    static FilterBox none;
    return none;
}

}  // namespace

TEST(GraphLayout, ChainsRunStraightAndEveryFurtherOutputOpensARowBelow) {
    // A file played with its sound, its pictures encoded, written and shown at once.
    GraphMaker m;
    m.Filter(L"Source", "o")                        // 0
        .Filter(L"Splitter", "ioo")                 // 1
        .Filter(L"Encoder", "io")                   // 2
        .Filter(L"Smart Tee", "ioo")                // 3
        .Filter(L"Writer", "i")                     // 4
        .Filter(L"Decoder", "io")                   // 5
        .Filter(L"Video Renderer", "i")             // 6
        .Filter(L"Sound decoder", "io")             // 7
        .Filter(L"Sound renderer with a very long name indeed, longer than any box", "i")  // 8
        .Filter(L"Left over", "io")                 // 9: not connected
        .Link(0, 0, 1, 0).Link(1, 1, 2, 0).Link(2, 1, 3, 0).Link(3, 1, 4, 0).Link(3, 2, 5, 0)
        .Link(5, 1, 6, 0).Link(1, 2, 7, 0).Link(7, 1, 8, 0);
    const GraphDesc& g = m.d;
    const Layout l = LayOut(g, FixedMetrics());
    EXPECT_EQ(LayoutFaults(g, l), "");

    struct Expected {
        int nFilter, nColumn, nRow;
    } expected[] = {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 0}, {5, 4, 1},
                    {6, 5, 1}, {7, 2, 2}, {8, 3, 2}, {9, 0, 3}};
    for (const Expected& e : expected) {
        EXPECT_EQ(l.boxes[e.nFilter].nColumn, e.nColumn) << Name(g, e.nFilter);
        EXPECT_EQ(l.boxes[e.nFilter].nRow, e.nRow) << Name(g, e.nFilter);
    }
    // Rows are bands: a lower row starts below everything of the rows above it.
    for (const FilterBox& a : l.boxes)
        for (const FilterBox& b : l.boxes)
            if (a.nRow < b.nRow) {
                EXPECT_LT(a.rc.bottom, b.rc.top) << Name(g, a.nFilter) << " / " << Name(g, b.nFilter);
            }
    // Along a row the arrows are straight; into a row below they bend once each way.
    for (const Arrow& a : l.arrows) {
        const bool bSameRow = l.boxes[a.nFromFilter].nRow == l.boxes[a.nToFilter].nRow;
        EXPECT_EQ(a.points.size(), bSameRow ? 2u : 4u) << Name(g, a.nFromFilter) << " -> " << Name(g, a.nToFilter);
    }
    // A long name widens its box only so far.
    EXPECT_LT(l.boxes[8].rc.right - l.boxes[8].rc.left, (int)g.filters[8].name.size() * 8);
}

TEST(GraphLayout, AFilterFedTwiceStandsRightOfItsFurthestInput) {
    // Pictures through an encoder and sound straight from its source meet in a multiplexer.
    GraphMaker m;
    m.Filter(L"Camera", "o").Filter(L"Microphone", "o").Filter(L"Encoder", "io").Filter(L"Mux", "iio")
        .Filter(L"File", "i")
        .Link(0, 0, 2, 0).Link(2, 1, 3, 0).Link(1, 0, 3, 1).Link(3, 2, 4, 0);
    const Layout l = LayOut(m.d, FixedMetrics());
    EXPECT_EQ(LayoutFaults(m.d, l), "");
    EXPECT_EQ(l.boxes[3].nColumn, 2);
    EXPECT_EQ(l.boxes[4].nColumn, 3);
    EXPECT_EQ(l.boxes[1].nColumn, 0);
    EXPECT_NE(l.boxes[1].nRow, l.boxes[0].nRow);
}

TEST(GraphLayout, BrokenDescriptionsAreDrawnWithoutOverlapOrHanging) {
    struct Case {
        const char* what;
        GraphMaker graph;
    } cases[] = {
        {"empty", GraphMaker()},
        {"no pins", GraphMaker().Filter(L"A", "").Filter(L"B", "")},
        {"a cycle", GraphMaker().Filter(L"A", "io").Filter(L"B", "io").Link(0, 1, 1, 0).Link(1, 1, 0, 0)},
        {"a peer out of range", GraphMaker().Filter(L"A", "o").Filter(L"B", "i")},
        {"a peer that is an output", GraphMaker().Filter(L"A", "o").Filter(L"B", "o")},
    };
    cases[3].graph.d.filters[0].pins[0].nPeerFilter = 7;
    cases[3].graph.d.filters[0].pins[0].nPeerPin = 0;
    cases[4].graph.d.filters[0].pins[0].nPeerFilter = 1;
    cases[4].graph.d.filters[0].pins[0].nPeerPin = 0;
    for (const Case& c : cases) {
        const GraphDesc& g = c.graph.d;
        const Layout l = LayOut(g, FixedMetrics());
        ASSERT_EQ(l.boxes.size(), g.filters.size()) << c.what;
        for (size_t i = 0; i < l.boxes.size(); ++i)
            for (size_t j = i + 1; j < l.boxes.size(); ++j)
                EXPECT_FALSE(l.boxes[i].Bounds().Intersects(l.boxes[j].Bounds())) << c.what;
        for (const Arrow& a : l.arrows) {
            EXPECT_TRUE(a.points.front() == l.boxes[a.nFromFilter].pins[a.nFromPin].anchor) << c.what;
            EXPECT_TRUE(a.points.back() == l.boxes[a.nToFilter].pins[a.nToPin].anchor) << c.what;
        }
        EXPECT_EQ(l.arrows.size(), std::string(c.what) == "a cycle" ? 2u : 0u) << c.what;
    }
}

TEST(GraphLayout, HitTestFindsBoxesPinsAndArrows) {
    GraphMaker m;
    m.Filter(L"Tee", "ioo").Filter(L"Writer", "i").Filter(L"Decoder", "i").Link(0, 1, 1, 0).Link(0, 2, 2, 0);
    const Layout l = LayOut(m.d, FixedMetrics());
    ASSERT_EQ(LayoutFaults(m.d, l), "");
    const Rect& tee = l.boxes[0].rc;
    struct Case {
        const char* what;
        Point pt;
        int nFilter, nArrow;
    } cases[] = {
        {"a box's middle", {(tee.left + tee.right) / 2, (tee.top + tee.bottom) / 2}, 0, -1},
        {"a pin's square outside the box", {l.boxes[0].pins[2].anchor.x - 1, l.boxes[0].pins[2].anchor.y}, 0, -1},
        {"the second arrow", ArrowMidpoint(l.arrows[1]), -1, 1},
        {"beside the first arrow", {ArrowMidpoint(l.arrows[0]).x, ArrowMidpoint(l.arrows[0]).y + 3}, -1, 0},
        {"the margin", {2, 2}, -1, -1},
        {"far below", {tee.left, l.cy + 50}, -1, -1},
    };
    for (const Case& c : cases) {
        const Hit hit = HitTest(l, c.pt);
        EXPECT_EQ(hit.nFilter, c.nFilter) << c.what;
        EXPECT_EQ(hit.nArrow, c.nArrow) << c.what;
    }
}

TEST(GraphReaderText, MediaTypeDetailsReadTheFormatBlocks) {
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = 333667;
    vih.bmiHeader.biWidth = 320;
    vih.bmiHeader.biHeight = 240;
    struct {
        BYTE head[72];  // the second kind of video block: its bitmap header at 72
        BITMAPINFOHEADER bmi;
    } vih2 = {};
    const LONGLONG llFrame = 400000;
    memcpy(vih2.head + 40, &llFrame, sizeof llFrame);
    vih2.bmi.biWidth = 720;
    vih2.bmi.biHeight = 576;
    WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    const GUID kH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    const GUID kVideoInfo2 = {0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
    VIDEOINFOHEADER noRate = vih;
    noRate.AvgTimePerFrame = 0;

    struct Case {
        GUID major, sub, format;
        const void* pFormat;
        ULONG cbFormat;
        std::wstring expected;
    } cases[] = {
        {MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, &vih, sizeof vih,
         L"Major type: Video\r\nSubtype: RGB32\r\nSize: 320 x 240\r\nFrame rate: 29.97 fps\r\nFormat: VideoInfo, 88 bytes"},
        {MEDIATYPE_Video, kH264, kVideoInfo2, &vih2, sizeof vih2,
         L"Major type: Video\r\nSubtype: H264\r\nSize: 720 x 576\r\nFrame rate: 25 fps\r\nFormat: VideoInfo2, 112 bytes"},
        {MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, &noRate, sizeof noRate,
         L"Major type: Video\r\nSubtype: RGB32\r\nSize: 320 x 240\r\nFrame rate: not given\r\nFormat: VideoInfo, 88 bytes"},
        // A block too short for its kind: its fields are not read.
        {MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, &vih, 60,
         L"Major type: Video\r\nSubtype: RGB32\r\nFormat: VideoInfo, 60 bytes"},
        {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &wfx, sizeof wfx,
         L"Major type: Audio\r\nSubtype: PCM\r\nSound: 48000 Hz, 2 channels, 16 bits\r\nFormat: WaveFormatEx, 18 bytes"},
        {MEDIATYPE_Stream, MEDIASUBTYPE_Avi, GUID_NULL, nullptr, 0,
         L"Major type: Stream\r\nSubtype: Avi\r\nFormat: (none), 0 bytes"},
    };
    for (const Case& c : cases) {
        AM_MEDIA_TYPE mt = {};
        mt.majortype = c.major;
        mt.subtype = c.sub;
        mt.formattype = c.format;
        mt.cbFormat = c.cbFormat;
        mt.pbFormat = (BYTE*)c.pFormat;
        EXPECT_EQ(Narrow(MediaTypeDetails(mt)), Narrow(c.expected));
    }
}

// The bench's graphs, built by CGraph as the dialog builds them.
struct BenchCase {
    const char* name;
    enum Source { File, SavedGraph, Camera } eSource;
    bool bOutput;
    bool bPreview;
};

namespace {

// A 2 s clip with pictures and sound (once per run); its Windows path.
const std::wstring& ClipWithSound() {
    static std::wstring path;
    if (path.empty()) {
        std::string file = UniqueTmpPath("-av.mp4");
        if (RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=440 "
                    "-t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac '" + file + "'") == 0)
            path = ToWinPath(file);
    }
    return path;
}

const wchar_t kSampleGraph[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";

std::string Joined(const std::vector<std::wstring>& lines) {
    std::string s;
    for (const auto& l : lines) s += Narrow(l) + "\n";
    return s;
}

}  // namespace

class BenchGraphPicture : public GraphEditTest, public ::testing::WithParamInterface<BenchCase> {};

TEST_P(BenchGraphPicture, IsLaidOutByTheStreamAndShownByGraphEdit) {
    const BenchCase& c = GetParam();
    std::wstring source = c.eSource == BenchCase::Camera ? TEST_CAMERA_FRIENDLY_NAME
                          : c.eSource == BenchCase::File ? ClipWithSound()
                                                         : kSampleGraph;
    ASSERT_FALSE(source.empty()) << "ffmpeg could not make the clip";
    if (c.eSource == BenchCase::SavedGraph && ::GetFileAttributesW(kSampleGraph) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no sample graph in the prefix";
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"Bench", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
    const std::wstring out = ToWinPath(UniqueTmpPath(".mp4"));
    CGraph graph;
    DiagCapture diag;
    ASSERT_EQ(graph.BuildGraph(source.c_str(), c.eSource == BenchCase::Camera, c.bOutput ? out.c_str() : nullptr,
                               c.bPreview, hWnd, WM_APP + 123),
              S_OK)
        << diag.Dump();

    // Read as GraphEdit reads it, and laid out.
    GraphDesc g;
    ASSERT_EQ(ReadGraph(graph.m_spGraph, &g), S_OK);
    const Layout l = LayOut(g, FixedMetrics());
    EXPECT_EQ(LayoutFaults(g, l), "") << Joined(DescribeLines(g));

    // The stream's order: sources in the first column, the encoder before what it feeds.
    for (size_t f = 0; f < g.filters.size(); ++f) {
        bool bFed = false, bFeeds = false;
        for (const PinDesc& p : g.filters[f].pins) (p.bOutput ? bFeeds : bFed) |= p.nPeerFilter >= 0;
        if (bFeeds && !bFed) {
            EXPECT_EQ(l.boxes[f].nColumn, 0) << Name(g, f);
        }
    }
    const FilterBox& encoder = BoxOf(g, l, L"Morvane H264 Encoder");
    const bool bDecoder = c.eSource == BenchCase::SavedGraph || !c.bOutput || c.bPreview;
    if (c.bOutput && c.eSource != BenchCase::SavedGraph) {
        EXPECT_GT(BoxOf(g, l, L"Morvane MPEG-4 Writer").nColumn, encoder.nColumn);
    }
    if (bDecoder) {
        EXPECT_GT(BoxOf(g, l, L"Morvane H264 Decoder").nColumn, encoder.nColumn);
    }
    // The Smart Tee's capture continues its row, its preview opens one below.
    if (c.bOutput && c.bPreview && c.eSource != BenchCase::SavedGraph) {
        const FilterBox& tee = BoxOf(g, l, L"Smart Tee");
        EXPECT_EQ(BoxOf(g, l, L"Morvane MPEG-4 Writer").nRow, tee.nRow);
        EXPECT_GT(BoxOf(g, l, L"Morvane H264 Decoder").nRow, tee.nRow);
    }
    // A file's sound is a branch of its own below the pictures.
    if (c.eSource == BenchCase::File) {
        int nRows = 0;
        for (const FilterBox& box : l.boxes) nRows = std::max(nRows, box.nRow + 1);
        EXPECT_GE(nRows, c.bOutput && c.bPreview ? 3 : 2);
    }

    // GraphEdit attached to it shows the same graph; a picture of it is kept. GraphEdit reads
    // the graph every half second: this thread serves its calls all along, as the dialog does.
    ASSERT_EQ(graph.ShowGraph(), S_OK);
    CGraphEdit& ge = graph.m_graphEdit;
    const std::wstring title = L"GraphEdit - attached to " + CookieName(graph.m_spGraph.p);
    ASSERT_EQ(WaitForTitle(ge.m_hWndMain, title), title);
    const std::vector<std::wstring> expected = DescribeLines(g);
    std::vector<std::wstring> shown;
    EXPECT_TRUE(PumpUntil([&] { return (shown = TextLines(GraphEditView(ge.m_hWndMain))) == expected; }, 10000))
        << "GraphEdit shows\n" << Joined(shown) << "instead of\n" << Joined(expected);
    PumpMessages(300);
    RECT rc;
    ::GetWindowRect(ge.m_hWndMain, &rc);
    const std::string dir = TestTmpDir() + "/../screenshots";
    const std::string png = dir + "/graphedit-" + c.name + ".png";
    char crop[64];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
    std::string outText;
    EXPECT_EQ(RunHost("mkdir -p '" + dir + "' && import -window root -crop " + crop + " +repage '" + png + "' 2>&1",
                      &outText, 30000, true),
              0)
        << outText;
    // Let go of as the dialog does: GraphEdit's proxies are cut off, then it is closed.
    const DWORD pid = ge.m_rgPI.dwProcessId;
    graph.Release();
    EXPECT_TRUE(WaitProcessEnd(pid, 2000));
    ::DestroyWindow(hWnd);
}

INSTANTIATE_TEST_SUITE_P(
    Bench, BenchGraphPicture,
    ::testing::Values(BenchCase{"file-to-decoder", BenchCase::File, false, false},
                      BenchCase{"file-to-writer", BenchCase::File, true, false},
                      BenchCase{"file-to-writer-and-preview", BenchCase::File, true, true},
                      BenchCase{"saved-graph", BenchCase::SavedGraph, false, false},
                      BenchCase{"camera-to-decoder", BenchCase::Camera, false, false},
                      BenchCase{"camera-to-writer-and-preview", BenchCase::Camera, true, true}),
    [](const ::testing::TestParamInfo<BenchCase>& info) {
        std::string s = info.param.name;
        std::replace(s.begin(), s.end(), '-', '_');
        return s;
    });
