// Reads a filter graph (also one of another process, through its proxies) into the plain
// description that GraphLayout lays out.
#pragma once

#include <dshow.h>

#include <string>

#include "standins/graphedit/GraphLayout.h"

namespace graphview {

// A failure that means the graph's process or object is no longer there.
bool IsGone(HRESULT hr);

// The filters in the order they were added, their pins, and for every connection the pin at
// the other end and the media type. Fails only when the graph cannot be asked at all (a graph
// that went away); a filter or pin that cannot be asked is left out.
HRESULT ReadGraph(IFilterGraph* pGraph, GraphDesc* pDesc);

// A connection's media type, one line each: major type, subtype, size, frame rate, format.
std::wstring MediaTypeDetails(const AM_MEDIA_TYPE& mt);

}  // namespace graphview
