// CGraph: opening the graph in GraphEdit.
#include "graph/Graph.h"

HRESULT CGraph::ShowGraph() {
    m_graphEdit.Close();
    if (!m_spGraph) return E_FAIL;
    return m_graphEdit.ShowGraph(m_spGraph);
}
