#include "standins/graphedit/GraphView.h"

#include <windowsx.h>

#include <algorithm>

namespace graphview {

namespace {

const COLORREF kBackground = RGB(255, 255, 255);
const COLORREF kBoxFill = RGB(238, 243, 250);
const COLORREF kTitleFill = RGB(203, 218, 238);
const COLORREF kBoxBorder = RGB(62, 84, 118);
const COLORREF kSelected = RGB(230, 110, 0);
const COLORREF kInputPin = RGB(52, 112, 178);
const COLORREF kOutputPin = RGB(46, 140, 70);
const COLORREF kArrow = RGB(40, 40, 40);
const COLORREF kText = RGB(20, 20, 20);
const int kScrollLine = 20;

struct ViewState {
    GraphDesc graph;
    Layout layout;
    std::wstring message;
    HFONT hFont = NULL;
    HFONT hTitleFont = NULL;
    int nLineHeight = 14;
    int x = 0, y = 0;  // scroll position
    int nFilter = -1;  // selection
    int nArrow = -1;
};

ViewState* State(HWND hWnd) { return (ViewState*)::GetWindowLongPtrW(hWnd, GWLP_USERDATA); }

void Notify(HWND hWnd, WORD wCode) {
    ::PostMessageW(::GetParent(hWnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hWnd), wCode), (LPARAM)hWnd);
}

void UpdateScrollBars(HWND hWnd, ViewState* s) {
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    s->x = std::max(0, std::min(s->x, s->layout.cx - (int)rc.right));
    s->y = std::max(0, std::min(s->y, s->layout.cy - (int)rc.bottom));
    SCROLLINFO si = {sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS};
    si.nMax = s->layout.cx - 1;
    si.nPage = rc.right;
    si.nPos = s->x;
    ::SetScrollInfo(hWnd, SB_HORZ, &si, TRUE);
    si.nMax = s->layout.cy - 1;
    si.nPage = rc.bottom;
    si.nPos = s->y;
    ::SetScrollInfo(hWnd, SB_VERT, &si, TRUE);
}

void Scroll(HWND hWnd, ViewState* s, int nBar, int nCode) {
    SCROLLINFO si = {sizeof si, SIF_ALL};
    ::GetScrollInfo(hWnd, nBar, &si);
    int& pos = nBar == SB_HORZ ? s->x : s->y;
    switch (nCode) {
    case SB_LINEUP: pos -= kScrollLine; break;
    case SB_LINEDOWN: pos += kScrollLine; break;
    case SB_PAGEUP: pos -= (int)si.nPage; break;
    case SB_PAGEDOWN: pos += (int)si.nPage; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = si.nMax; break;
    default: return;
    }
    UpdateScrollBars(hWnd, s);
    ::InvalidateRect(hWnd, NULL, FALSE);
}

Metrics MeasureWith(HWND hWnd, ViewState* s) {
    Metrics m;
    m.nLineHeight = s->nLineHeight;
    m.textWidth = [hWnd, s](const std::wstring& text, bool bTitle) {
        HDC hdc = ::GetDC(hWnd);
        HGDIOBJ hOld = ::SelectObject(hdc, bTitle ? s->hTitleFont : s->hFont);
        SIZE size = {};
        ::GetTextExtentPoint32W(hdc, text.c_str(), (int)text.size(), &size);
        ::SelectObject(hdc, hOld);
        ::ReleaseDC(hWnd, hdc);
        return (int)size.cx;
    };
    return m;
}

void CreateFonts(HWND hWnd, ViewState* s) {
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    s->hFont = ::CreateFontIndirectW(&lf);
    lf.lfWeight = FW_BOLD;
    s->hTitleFont = ::CreateFontIndirectW(&lf);
    HDC hdc = ::GetDC(hWnd);
    HGDIOBJ hOld = ::SelectObject(hdc, s->hTitleFont);
    TEXTMETRICW tm = {};
    ::GetTextMetricsW(hdc, &tm);
    s->nLineHeight = std::max(12, (int)tm.tmHeight);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hWnd, hdc);
}

void FillRectColor(HDC hdc, const Rect& r, COLORREF color) {
    RECT rc = {r.left, r.top, r.right, r.bottom};
    ::SetBkColor(hdc, color);
    ::ExtTextOutW(hdc, 0, 0, ETO_OPAQUE, &rc, NULL, 0, NULL);
}

void FrameRectColor(HDC hdc, const Rect& r, COLORREF color, int nWidth) {
    for (int i = 0; i < nWidth; ++i) {
        FillRectColor(hdc, {r.left + i, r.top + i, r.right - i, r.top + i + 1}, color);
        FillRectColor(hdc, {r.left + i, r.bottom - i - 1, r.right - i, r.bottom - i}, color);
        FillRectColor(hdc, {r.left + i, r.top + i, r.left + i + 1, r.bottom - i}, color);
        FillRectColor(hdc, {r.right - i - 1, r.top + i, r.right - i, r.bottom - i}, color);
    }
}

void DrawTextIn(HDC hdc, const std::wstring& text, const Rect& r, UINT uFormat) {
    RECT rc = {r.left, r.top, r.right, r.bottom};
    ::DrawTextW(hdc, text.c_str(), (int)text.size(), &rc,
                uFormat | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
}

void DrawArrow(HDC hdc, const Arrow& a, bool bSelected) {
    const COLORREF color = bSelected ? kSelected : kArrow;
    HPEN hPen = ::CreatePen(PS_SOLID, bSelected ? 3 : 1, color);
    HBRUSH hBrush = ::CreateSolidBrush(color);
    HGDIOBJ hOldPen = ::SelectObject(hdc, hPen);
    HGDIOBJ hOldBrush = ::SelectObject(hdc, hBrush);
    std::vector<POINT> pts;
    for (const Point& p : a.points) pts.push_back({p.x, p.y});
    if (pts.size() >= 2) {
        // The line stops where the head begins; the head's tip is on the input pin.
        const POINT tip = pts.back();
        const POINT& prev = pts[pts.size() - 2];
        const int dx = tip.x > prev.x ? 1 : tip.x < prev.x ? -1 : 0;
        const int dy = tip.y > prev.y ? 1 : tip.y < prev.y ? -1 : 0;
        const int len = 10, half = 5;
        pts.back() = {tip.x - dx * len, tip.y - dy * len};
        ::Polyline(hdc, pts.data(), (int)pts.size());
        ::SelectObject(hdc, ::GetStockObject(NULL_PEN));
        POINT head[3] = {tip, {tip.x - dx * len - dy * half, tip.y - dy * len - dx * half},
                         {tip.x - dx * len + dy * half, tip.y - dy * len + dx * half}};
        ::Polygon(hdc, head, 3);
    }
    ::SelectObject(hdc, hOldPen);
    ::SelectObject(hdc, hOldBrush);
    ::DeleteObject(hPen);
    ::DeleteObject(hBrush);
}

void DrawBox(HDC hdc, ViewState* s, const FilterBox& box, bool bSelected) {
    const FilterDesc& f = s->graph.filters[box.nFilter];
    FillRectColor(hdc, {box.rc.left + 3, box.rc.top + 3, box.rc.right + 3, box.rc.bottom + 3}, RGB(200, 200, 200));
    FillRectColor(hdc, box.rc, kBoxFill);
    FillRectColor(hdc, {box.rc.left, box.rc.top, box.rc.right, box.rcTitle.bottom + 2}, kTitleFill);
    FrameRectColor(hdc, box.rc, bSelected ? kSelected : kBoxBorder, bSelected ? 3 : 1);
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, kText);
    ::SelectObject(hdc, s->hTitleFont);
    DrawTextIn(hdc, f.name, box.rcTitle, DT_CENTER);
    ::SelectObject(hdc, s->hFont);
    for (const PinPlace& p : box.pins) {
        const PinDesc& pin = f.pins[p.nPin];
        FillRectColor(hdc, p.rc, p.bOutput ? kOutputPin : kInputPin);
        if (pin.nPeerFilter < 0) FillRectColor(hdc, {p.rc.left + 2, p.rc.top + 2, p.rc.right - 2, p.rc.bottom - 2}, kBoxFill);
        DrawTextIn(hdc, pin.name, p.rcLabel, p.bOutput ? DT_RIGHT : DT_LEFT);
    }
}

void Paint(HWND hWnd, ViewState* s) {
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(hWnd, &ps);
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    // Drawn whole into a bitmap, then copied in one go: no flicker on refreshes.
    HDC hdcMem = ::CreateCompatibleDC(hdc);
    HBITMAP hBitmap = ::CreateCompatibleBitmap(hdc, std::max(1, (int)rc.right), std::max(1, (int)rc.bottom));
    HGDIOBJ hOldBitmap = ::SelectObject(hdcMem, hBitmap);
    HGDIOBJ hOldFont = ::SelectObject(hdcMem, s->hFont);
    FillRectColor(hdcMem, {0, 0, rc.right, rc.bottom}, kBackground);
    ::SetViewportOrgEx(hdcMem, -s->x, -s->y, NULL);
    if (s->graph.filters.empty()) {
        ::SetBkMode(hdcMem, TRANSPARENT);
        ::SetTextColor(hdcMem, kText);
        DrawTextIn(hdcMem, s->message, {kMargin, kMargin, kMargin + 2000, kMargin + s->nLineHeight + 4}, DT_LEFT);
    }
    for (int i = 0; i < (int)s->layout.arrows.size(); ++i)
        if (i != s->nArrow) DrawArrow(hdcMem, s->layout.arrows[i], false);
    for (const FilterBox& box : s->layout.boxes) DrawBox(hdcMem, s, box, box.nFilter == s->nFilter);
    if (s->nArrow >= 0) DrawArrow(hdcMem, s->layout.arrows[s->nArrow], true);
    ::SetViewportOrgEx(hdcMem, 0, 0, NULL);
    ::BitBlt(hdc, 0, 0, rc.right, rc.bottom, hdcMem, 0, 0, SRCCOPY);
    ::SelectObject(hdcMem, hOldFont);
    ::SelectObject(hdcMem, hOldBitmap);
    ::DeleteObject(hBitmap);
    ::DeleteDC(hdcMem);
    ::EndPaint(hWnd, &ps);
}

void Select(HWND hWnd, ViewState* s, int nFilter, int nArrow) {
    if (nFilter == s->nFilter && nArrow == s->nArrow) return;
    s->nFilter = nFilter;
    s->nArrow = nArrow;
    ::InvalidateRect(hWnd, NULL, FALSE);
    Notify(hWnd, kViewSelChange);
}

LRESULT CALLBACK ViewProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    ViewState* s = State(hWnd);
    switch (uMsg) {
    case WM_CREATE:
        s = new ViewState;
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, (LONG_PTR)s);
        CreateFonts(hWnd, s);
        UpdateScrollBars(hWnd, s);
        return 0;
    case WM_NCDESTROY:
        if (s) {
            ::DeleteObject(s->hFont);
            ::DeleteObject(s->hTitleFont);
            delete s;
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        if (s) {
            Paint(hWnd, s);
            return 0;
        }
        break;
    case WM_SIZE:
        if (s) UpdateScrollBars(hWnd, s);
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (s) Scroll(hWnd, s, uMsg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        if (s) {
            s->y -= GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3 * kScrollLine;
            UpdateScrollBars(hWnd, s);
            ::InvalidateRect(hWnd, NULL, FALSE);
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (s) {
            ::SetFocus(hWnd);
            const Point pt = {GET_X_LPARAM(lParam) + s->x, GET_Y_LPARAM(lParam) + s->y};
            const Hit hit = HitTest(s->layout, pt);
            Select(hWnd, s, hit.nFilter, hit.nArrow);
            if (uMsg == WM_LBUTTONDBLCLK && hit.nFilter >= 0) Notify(hWnd, kViewOpenFilter);
        }
        return 0;
    case WM_VIEW_ITEMPOINT: {
        if (!s) return -1;
        Point pt;
        if (lParam == 0 && wParam < s->layout.boxes.size()) {
            const Rect& r = s->layout.boxes[wParam].rc;
            pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        } else if (lParam == 1 && wParam < s->layout.arrows.size()) {
            pt = ArrowMidpoint(s->layout.arrows[wParam]);
        } else {
            return -1;
        }
        return MAKELRESULT(pt.x - s->x, pt.y - s->y);
    }
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The selected arrow's output pin, to find it again in a new picture.
struct ArrowKey {
    std::wstring filter, pin;
};

}  // namespace

void RegisterViewClass(HINSTANCE hInstance) {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ViewProc;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.lpszClassName = kViewClassName;
    ::RegisterClassExW(&wc);
}

void SetGraph(HWND hView, const GraphDesc& graph, const std::wstring& message) {
    ViewState* s = State(hView);
    if (!s || (graph == s->graph && message == s->message)) return;
    std::wstring selFilter;
    ArrowKey selArrow;
    if (s->nFilter >= 0) selFilter = s->graph.filters[s->nFilter].name;
    if (s->nArrow >= 0) {
        const Arrow& a = s->layout.arrows[s->nArrow];
        selArrow = {s->graph.filters[a.nFromFilter].name, s->graph.filters[a.nFromFilter].pins[a.nFromPin].name};
    }
    s->graph = graph;
    s->message = message;
    s->layout = LayOut(graph, MeasureWith(hView, s));

    // The same filter or connection stays selected.
    int nFilter = -1, nArrow = -1;
    for (int f = 0; f < (int)graph.filters.size(); ++f)
        if (!selFilter.empty() && graph.filters[f].name == selFilter) nFilter = f;
    for (int i = 0; i < (int)s->layout.arrows.size(); ++i) {
        const Arrow& a = s->layout.arrows[i];
        if (!selArrow.filter.empty() && graph.filters[a.nFromFilter].name == selArrow.filter &&
            graph.filters[a.nFromFilter].pins[a.nFromPin].name == selArrow.pin)
            nArrow = i;
    }
    std::wstring text;
    for (const std::wstring& line : DescribeLines(graph)) text += line + L"\r\n";
    if (graph.filters.empty()) text = message;
    ::SetWindowTextW(hView, text.c_str());
    UpdateScrollBars(hView, s);
    s->nFilter = -2;  // the selection is told again: its media type may have changed
    Select(hView, s, nFilter, nArrow);
}

std::wstring SelectedFilter(HWND hView) {
    ViewState* s = State(hView);
    if (!s || s->nFilter < 0) return L"";
    return s->graph.filters[s->nFilter].name;
}

std::wstring SelectionText(HWND hView) {
    ViewState* s = State(hView);
    if (s && s->nArrow >= 0) {
        const Arrow& a = s->layout.arrows[s->nArrow];
        const FilterDesc& from = s->graph.filters[a.nFromFilter];
        const FilterDesc& to = s->graph.filters[a.nToFilter];
        const std::wstring& type = from.pins[a.nFromPin].mediaType;
        return L"Connection: " + from.name + L" . " + from.pins[a.nFromPin].name + L" -> " + to.name + L" . " +
               to.pins[a.nToPin].name + L"\r\n" + (type.empty() ? L"Media type: not known" : type);
    }
    if (s && s->nFilter >= 0) {
        const FilterDesc& f = s->graph.filters[s->nFilter];
        int nIn = 0, nOut = 0;
        for (const PinDesc& p : f.pins) ++(p.bOutput ? nOut : nIn);
        wchar_t sz[64];
        ::wsprintfW(sz, L"Pins: %d in, %d out", nIn, nOut);
        return L"Filter: " + f.name + L"\r\nClass: " + f.classId + L"\r\n" + sz +
               L"\r\nDouble-click the filter for its property pages.";
    }
    return L"Click a connection to see its media type; double-click a filter for its property pages.";
}

}  // namespace graphview
