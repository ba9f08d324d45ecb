// CGraph: object, build sequence and release.
#include "graph/Graph.h"

CGraph::CGraph() : m_bLive(false) {}

// Members go in reverse order: GraphEdit is closed first, then the encoder, then the graph.
CGraph::~CGraph() {}

void CGraph::Release() {
    if (m_spGraph) {
        CComQIPtr<IMediaEventEx> spEvent(m_spGraph);
        if (spEvent) spEvent->SetNotifyWindow(0, 0, 0);
    }
    m_graphEdit.Close();
    m_spVireon.Release();
    m_spGraph.Release();
}
