#include "tests/support/DiagCapture.h"

#include <windows.h>

namespace {
DiagCapture* g_pActive = nullptr;
}

DiagCapture::DiagCapture() : m_pfnOld(ATL::AtlSetReportHook(&DiagCapture::Hook)), m_pOuter(g_pActive) {
    g_pActive = this;
}

DiagCapture::~DiagCapture() {
    g_pActive = m_pOuter;
    ATL::AtlSetReportHook(m_pfnOld);
}

void DiagCapture::Hook(ATL::AtlReportKind eKind, const wchar_t* pszText) {
    for (DiagCapture* p = g_pActive; p; p = p->m_pOuter) {
        (eKind == ATL::atlReportAssert ? p->m_reports : p->m_traces).push_back(pszText);
    }
}

bool DiagCapture::HasReport(const std::wstring& text) const {
    for (const auto& r : m_reports)
        if (r == text) return true;
    return false;
}

bool DiagCapture::HasTrace(const std::wstring& text) const {
    for (const auto& t : m_traces)
        if (t == text) return true;
    return false;
}

void DiagCapture::Clear() {
    m_reports.clear();
    m_traces.clear();
}

std::string DiagCapture::Dump() const {
    std::string s;
    for (const auto& r : m_reports) s += "report: " + Narrow(r) + "\n";
    for (const auto& t : m_traces) s += "trace: " + Narrow(t);
    return s;
}

std::string Narrow(const std::wstring& s) {
    if (s.empty()) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], n, nullptr, nullptr);
    return out;
}
