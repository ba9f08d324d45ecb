// Captures the developer diagnostics (assertion reports and traces) raised while it lives.
#pragma once

#include <string>
#include <vector>

#include <atldef.h>

class DiagCapture {
public:
    DiagCapture();
    ~DiagCapture();

    const std::vector<std::wstring>& Reports() const { return m_reports; }
    const std::vector<std::wstring>& Traces() const { return m_traces; }
    bool HasReport(const std::wstring& text) const;
    bool HasTrace(const std::wstring& text) const;
    void Clear();
    // All reports and traces, one per line, for failure messages.
    std::string Dump() const;

private:
    static void Hook(ATL::AtlReportKind eKind, const wchar_t* pszText);
    std::vector<std::wstring> m_reports;
    std::vector<std::wstring> m_traces;
    ATL::ATL_REPORT_HOOK m_pfnOld;
    DiagCapture* m_pOuter;
};

std::string Narrow(const std::wstring& s);
