#include "standins/graphedit/GraphLayout.h"

#include <algorithm>
#include <set>
#include <utility>

namespace graphview {

bool operator==(const PinDesc& a, const PinDesc& b) {
    return a.name == b.name && a.bOutput == b.bOutput && a.nPeerFilter == b.nPeerFilter && a.nPeerPin == b.nPeerPin &&
           a.text == b.text && a.mediaType == b.mediaType;
}
bool operator==(const FilterDesc& a, const FilterDesc& b) {
    return a.name == b.name && a.classId == b.classId && a.pins == b.pins;
}
bool operator==(const GraphDesc& a, const GraphDesc& b) { return a.filters == b.filters; }
bool operator==(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

std::vector<std::wstring> DescribeLines(const GraphDesc& graph) {
    std::vector<std::wstring> lines;
    for (const FilterDesc& f : graph.filters) {
        lines.push_back(L"[" + f.name + L"]  " + f.classId);
        for (const PinDesc& p : f.pins) lines.push_back(L"      " + p.text);
    }
    return lines;
}

Rect FilterBox::Bounds() const {
    Rect r = rc;
    for (const PinPlace& p : pins) {
        r.left = std::min(r.left, p.rc.left);
        r.right = std::max(r.right, p.rc.right);
        r.top = std::min(r.top, p.rc.top);
        r.bottom = std::max(r.bottom, p.rc.bottom);
    }
    return r;
}

namespace {

const int kPad = 8;
const int kMinBoxWidth = 110;
const int kMaxTextWidth = 280;  // longer names are cut when drawn

bool IsEdge(const GraphDesc& g, int f, int p) {
    const PinDesc& pin = g.filters[f].pins[p];
    if (!pin.bOutput || pin.nPeerFilter < 0 || pin.nPeerFilter >= (int)g.filters.size()) return false;
    const FilterDesc& peer = g.filters[pin.nPeerFilter];
    return pin.nPeerPin >= 0 && pin.nPeerPin < (int)peer.pins.size() && !peer.pins[pin.nPeerPin].bOutput;
}

// Columns: the longest path from a source. A cycle (which a graph manager does not allow)
// is broken where it is met.
std::vector<int> Columns(const GraphDesc& g) {
    const int n = (int)g.filters.size();
    std::vector<int> col(n, 0), indeg(n, 0);
    std::vector<bool> done(n, false);
    for (int f = 0; f < n; ++f)
        for (int p = 0; p < (int)g.filters[f].pins.size(); ++p)
            if (IsEdge(g, f, p)) ++indeg[g.filters[f].pins[p].nPeerFilter];
    for (int cDone = 0; cDone < n; ++cDone) {
        int next = -1;
        for (int f = 0; f < n && next < 0; ++f)
            if (!done[f] && indeg[f] == 0) next = f;
        for (int f = 0; f < n && next < 0; ++f)
            if (!done[f]) next = f;
        done[next] = true;
        for (int p = 0; p < (int)g.filters[next].pins.size(); ++p) {
            if (!IsEdge(g, next, p)) continue;
            const int to = g.filters[next].pins[p].nPeerFilter;
            if (done[to]) continue;
            col[to] = std::max(col[to], col[next] + 1);
            --indeg[to];
        }
    }
    return col;
}

struct RowPlacer {
    const GraphDesc& g;
    const std::vector<int>& col;
    std::vector<int> row;
    std::set<std::pair<int, int>> taken;  // (column, row)
    int nextRow = 0;

    void Place(int f, int r) {
        if (taken.count({col[f], r})) r = nextRow;
        row[f] = r;
        taken.insert({col[f], r});
        nextRow = std::max(nextRow, r + 1);
        bool bRowContinued = false;
        for (int p = 0; p < (int)g.filters[f].pins.size(); ++p) {
            if (!IsEdge(g, f, p)) continue;
            const int to = g.filters[f].pins[p].nPeerFilter;
            if (row[to] >= 0) continue;
            Place(to, bRowContinued ? nextRow : r);
            bRowContinued = true;
        }
    }
};

int CountPins(const FilterDesc& f, bool bOutput) {
    int n = 0;
    for (const PinDesc& p : f.pins) n += p.bOutput == bOutput;
    return n;
}

}  // namespace

Layout LayOut(const GraphDesc& g, const Metrics& m) {
    Layout layout;
    const int n = (int)g.filters.size();
    if (n == 0) return layout;
    const int lh = m.nLineHeight;
    const int titleHeight = lh + 10;
    const int pinPitch = lh + 8;
    auto width = [&](const std::wstring& s, bool bTitle) {
        return std::min(kMaxTextWidth, m.textWidth ? m.textWidth(s, bTitle) : (int)s.size() * 7);
    };

    const std::vector<int> col = Columns(g);
    RowPlacer rows{g, col, std::vector<int>(n, -1)};
    // Sources first, in the graph's order; then filters without connections; then whatever
    // only a cycle reaches.
    std::vector<bool> fed(n, false), feeds(n, false);
    for (int f = 0; f < n; ++f)
        for (int p = 0; p < (int)g.filters[f].pins.size(); ++p)
            if (IsEdge(g, f, p)) fed[g.filters[f].pins[p].nPeerFilter] = feeds[f] = true;
    for (int f = 0; f < n; ++f)
        if (!fed[f] && feeds[f] && rows.row[f] < 0) rows.Place(f, rows.nextRow);
    for (int f = 0; f < n; ++f)
        if (!fed[f] && rows.row[f] < 0) rows.Place(f, rows.nextRow);
    for (int f = 0; f < n; ++f)
        if (rows.row[f] < 0) rows.Place(f, rows.nextRow);

    // Box sizes, then the grid's column widths and row heights.
    std::vector<int> boxWidth(n), boxHeight(n);
    int nColumns = 0, nRows = 0;
    for (int f = 0; f < n; ++f) {
        const FilterDesc& fd = g.filters[f];
        int inWidth = 0, outWidth = 0;
        for (const PinDesc& p : fd.pins) (p.bOutput ? outWidth : inWidth) = std::max(p.bOutput ? outWidth : inWidth, width(p.name, false));
        const int nLines = std::max(CountPins(fd, false), CountPins(fd, true));
        boxWidth[f] = std::max({kMinBoxWidth, width(fd.name, true) + 2 * kPad,
                                inWidth + outWidth + 2 * (kPinSize / 2 + 4) + 3 * kPad});
        boxHeight[f] = titleHeight + nLines * pinPitch + kPad / 2 + (nLines == 0 ? kPad : 0);
        nColumns = std::max(nColumns, col[f] + 1);
        nRows = std::max(nRows, rows.row[f] + 1);
    }
    std::vector<int> colWidth(nColumns, 0), rowHeight(nRows, 0), colX(nColumns), rowY(nRows);
    for (int f = 0; f < n; ++f) {
        colWidth[col[f]] = std::max(colWidth[col[f]], boxWidth[f]);
        rowHeight[rows.row[f]] = std::max(rowHeight[rows.row[f]], boxHeight[f]);
    }
    int x = kMargin;
    for (int c = 0; c < nColumns; ++c) {
        colX[c] = x;
        x += colWidth[c] + (colWidth[c] ? kColumnGap : 0);
    }
    int y = kMargin;
    for (int r = 0; r < nRows; ++r) {
        rowY[r] = y;
        y += rowHeight[r] + (rowHeight[r] ? kRowGap : 0);
    }
    layout.cx = x - kColumnGap + kMargin;
    layout.cy = y - kRowGap + kMargin;

    // The boxes: centred in their column, at the top of their row, so that the first pins of
    // a chain line up and its arrows run straight.
    for (int f = 0; f < n; ++f) {
        FilterBox box;
        box.nFilter = f;
        box.nColumn = col[f];
        box.nRow = rows.row[f];
        box.rc.left = colX[col[f]] + (colWidth[col[f]] - boxWidth[f]) / 2;
        box.rc.top = rowY[rows.row[f]];
        box.rc.right = box.rc.left + boxWidth[f];
        box.rc.bottom = box.rc.top + boxHeight[f];
        box.rcTitle = {box.rc.left + kPad / 2, box.rc.top + 2, box.rc.right - kPad / 2, box.rc.top + titleHeight - 2};
        int nIn = 0, nOut = 0;
        // Pin names share the width with the other side's names, or have it all.
        const bool bBothSides = CountPins(g.filters[f], false) > 0 && CountPins(g.filters[f], true) > 0;
        const int labelWidth = (boxWidth[f] - 2 * (kPinSize / 2 + 4)) / (bBothSides ? 2 : 1);
        for (int p = 0; p < (int)g.filters[f].pins.size(); ++p) {
            PinPlace pin;
            pin.nPin = p;
            pin.bOutput = g.filters[f].pins[p].bOutput;
            const int line = pin.bOutput ? nOut++ : nIn++;
            const int py = box.rc.top + titleHeight + line * pinPitch + pinPitch / 2;
            const int ex = pin.bOutput ? box.rc.right : box.rc.left;
            pin.rc = {ex - kPinSize / 2, py - kPinSize / 2, ex + kPinSize / 2, py + kPinSize / 2};
            pin.anchor = {pin.bOutput ? pin.rc.right : pin.rc.left, py};
            const int inset = kPinSize / 2 + 4;
            if (pin.bOutput)
                pin.rcLabel = {box.rc.right - inset - labelWidth, py - lh / 2, box.rc.right - inset, py - lh / 2 + lh};
            else
                pin.rcLabel = {box.rc.left + inset, py - lh / 2, box.rc.left + inset + labelWidth, py - lh / 2 + lh};
            box.pins.push_back(pin);
        }
        layout.boxes.push_back(box);
    }

    // The arrows: straight along a row, otherwise bent in the gap before the input's column.
    for (int f = 0; f < n; ++f) {
        for (int p = 0; p < (int)g.filters[f].pins.size(); ++p) {
            if (!IsEdge(g, f, p)) continue;
            Arrow a;
            a.nFromFilter = f;
            a.nFromPin = p;
            a.nToFilter = g.filters[f].pins[p].nPeerFilter;
            a.nToPin = g.filters[f].pins[p].nPeerPin;
            const Point from = layout.boxes[f].pins[p].anchor;
            const Point to = layout.boxes[a.nToFilter].pins[a.nToPin].anchor;
            a.points.push_back(from);
            if (from.y != to.y) {
                const int xBend = col[a.nToFilter] > col[f] ? colX[col[a.nToFilter]] - kColumnGap / 2
                                                            : from.x + kColumnGap / 2;
                a.points.push_back({xBend, from.y});
                a.points.push_back({xBend, to.y});
            }
            a.points.push_back(to);
            layout.arrows.push_back(a);
        }
    }
    return layout;
}

namespace {

// Squared distance from pt to the segment a-b.
long long Distance2(const Point& pt, const Point& a, const Point& b) {
    const long long dx = b.x - a.x, dy = b.y - a.y;
    const long long len2 = dx * dx + dy * dy;
    long long px = pt.x - a.x, py = pt.y - a.y;
    if (len2 > 0) {
        const long long t = px * dx + py * dy;
        if (t >= len2) {
            px = pt.x - b.x;
            py = pt.y - b.y;
        } else if (t > 0) {
            // The distance to the line: cross product squared over the length squared.
            const long long cross = px * dy - py * dx;
            return cross * cross / len2;
        }
    }
    return px * px + py * py;
}

}  // namespace

Hit HitTest(const Layout& layout, const Point& pt) {
    Hit hit;
    for (const FilterBox& box : layout.boxes) {
        if (box.Bounds().Contains(pt)) {
            hit.nFilter = box.nFilter;
            return hit;
        }
    }
    const long long kNear2 = 5 * 5;
    long long best = kNear2 + 1;
    for (int i = 0; i < (int)layout.arrows.size(); ++i) {
        const std::vector<Point>& pts = layout.arrows[i].points;
        for (size_t k = 1; k < pts.size(); ++k) {
            const long long d = Distance2(pt, pts[k - 1], pts[k]);
            if (d < best) {
                best = d;
                hit.nArrow = i;
            }
        }
    }
    return hit;
}

Point ArrowMidpoint(const Arrow& arrow) {
    if (arrow.points.empty()) return Point();
    // The middle of the longest segment.
    size_t kBest = 1;
    long long best = -1;
    for (size_t k = 1; k < arrow.points.size(); ++k) {
        const long long dx = arrow.points[k].x - arrow.points[k - 1].x, dy = arrow.points[k].y - arrow.points[k - 1].y;
        if (dx * dx + dy * dy > best) {
            best = dx * dx + dy * dy;
            kBest = k;
        }
    }
    if (arrow.points.size() == 1) return arrow.points[0];
    return {(arrow.points[kBest - 1].x + arrow.points[kBest].x) / 2, (arrow.points[kBest - 1].y + arrow.points[kBest].y) / 2};
}

}  // namespace graphview
