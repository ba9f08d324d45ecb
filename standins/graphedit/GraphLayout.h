// The picture of a filter graph as data. A graph description goes in (filters in the graph's
// order, each with its pins and, for a connected pin, the filter and pin at the other end);
// filter boxes with their pins and the arrows between them come out. Nothing here calls a
// window or COM, so the picture is tested as data and drawn by GraphView.
//
// The layout reads the stream from left to right: a filter stands one column right of the
// furthest filter that feeds it, so sources come first. A filter continues the row of the
// filter that feeds it through its first connected output; every further output opens a row
// of its own below (a Smart Tee's preview under its capture). Boxes sit in a grid of columns
// and rows, so they never overlap; arrows leave an output pin on a box's right edge and end
// on an input pin on the left edge, bending only in the gaps between columns.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace graphview {

struct PinDesc {
    std::wstring name;
    bool bOutput = false;
    int nPeerFilter = -1;    // the other end of the connection, -1 when not connected
    int nPeerPin = -1;
    std::wstring text;       // one line: "Capture (out) -> Writer . Input: Video / H264, ..."
    std::wstring mediaType;  // the connection's media type, several lines
};

struct FilterDesc {
    std::wstring name;
    std::wstring classId;
    std::vector<PinDesc> pins;
};

struct GraphDesc {
    std::vector<FilterDesc> filters;
};

bool operator==(const PinDesc& a, const PinDesc& b);
bool operator==(const FilterDesc& a, const FilterDesc& b);
bool operator==(const GraphDesc& a, const GraphDesc& b);
inline bool operator!=(const GraphDesc& a, const GraphDesc& b) { return !(a == b); }

// The text of a graph for those who cannot see the picture: per filter "[name]  {class}"
// and an indented line per pin.
std::vector<std::wstring> DescribeLines(const GraphDesc& graph);

struct Point {
    int x = 0, y = 0;
};
bool operator==(const Point& a, const Point& b);

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(const Point& pt) const { return pt.x >= left && pt.x < right && pt.y >= top && pt.y < bottom; }
    bool Intersects(const Rect& r) const { return left < r.right && r.left < right && top < r.bottom && r.top < bottom; }
};

// Sizes of the drawing: the width of a text in the font it is drawn with, and the height of
// a line of text.
struct Metrics {
    std::function<int(const std::wstring& text, bool bTitle)> textWidth;
    int nLineHeight = 14;
};

struct PinPlace {
    int nPin = -1;     // index into the filter's pins
    bool bOutput = false;
    Rect rc;           // the small square on the box's edge
    Point anchor;      // where an arrow meets the pin: the square's outer side
    Rect rcLabel;      // the pin's name, inside the box
};

struct FilterBox {
    int nFilter = -1;
    int nColumn = 0, nRow = 0;
    Rect rc;           // the box, pins' squares not included
    Rect rcTitle;      // the filter's name
    std::vector<PinPlace> pins;  // the pins in the filter's order
    Rect Bounds() const;         // the box with its pins' squares
};

struct Arrow {
    int nFromFilter = -1, nFromPin = -1;  // the output pin
    int nToFilter = -1, nToPin = -1;      // the input pin
    std::vector<Point> points;  // from the output pin's anchor to the input pin's anchor
};

struct Layout {
    std::vector<FilterBox> boxes;  // one per filter, in the description's order
    std::vector<Arrow> arrows;     // per output pin in the description's order
    int cx = 0, cy = 0;            // the size of the whole picture, margins included
};

// Spacing of the picture.
const int kMargin = 20;
const int kColumnGap = 64;
const int kRowGap = 28;
const int kPinSize = 8;

Layout LayOut(const GraphDesc& graph, const Metrics& metrics);

// What lies under a point of the picture: a filter box (pins included) or an arrow.
struct Hit {
    int nFilter = -1;
    int nArrow = -1;
};
Hit HitTest(const Layout& layout, const Point& pt);

// Any point on an arrow, away from its ends (where a click selects it).
Point ArrowMidpoint(const Arrow& arrow);

}  // namespace graphview
