// GraphEdit's picture of the graph: a child window that draws the laid-out graph (filters
// as boxes, pins on their edges, connections as arrows), scrolls when the graph is larger
// than the window, and lets the tester select a filter or a connection.
//
// The window's text is the graph described line by line (GraphLayout's DescribeLines), for
// screen readers and for tests in other processes. It notifies its parent through WM_COMMAND
// with its control id and kViewSelChange or kViewOpenFilter.
#pragma once

#include <windows.h>

#include <string>

#include "standins/graphedit/GraphLayout.h"

namespace graphview {

const wchar_t kViewClassName[] = L"QuorlinGraphView";

// Notification codes.
const WORD kViewSelChange = 1;
const WORD kViewOpenFilter = 2;  // a filter was double-clicked

// Where an item is drawn, in the view's client coordinates (also for other processes):
// wParam is the index of a filter (lParam 0) or of an arrow (lParam 1, in Layout's order);
// the answer is MAKELRESULT(x, y) of the item's centre, or -1 when there is no such item.
const UINT WM_VIEW_ITEMPOINT = WM_APP + 20;

void RegisterViewClass(HINSTANCE hInstance);

// Shows a graph; without filters, the message in their place.
void SetGraph(HWND hView, const GraphDesc& graph, const std::wstring& message);

// The selected filter's name (empty when none is selected).
std::wstring SelectedFilter(HWND hView);
// What the selection is: a connection's ends and media type, a filter's name and class, or
// how to select.
std::wstring SelectionText(HWND hView);

}  // namespace graphview
