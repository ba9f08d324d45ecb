#include "tests/support/ImportHook.h"

#include <cstring>

namespace {

void Write(void** pSlot, void* pValue) {
    DWORD dwOld = 0;
    ::VirtualProtect(pSlot, sizeof(void*), PAGE_READWRITE, &dwOld);
    *pSlot = pValue;
    ::VirtualProtect(pSlot, sizeof(void*), dwOld, &dwOld);
}

}  // namespace

ImportHook::ImportHook(const char* pszDll, const char* pszFunction, void* pReplacement, HMODULE hModule) {
    BYTE* pBase = (BYTE*)(hModule != NULL ? hModule : ::GetModuleHandleW(NULL));
    auto* pDos = (IMAGE_DOS_HEADER*)pBase;
    auto* pNt = (IMAGE_NT_HEADERS*)(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return;
    for (auto* pDesc = (IMAGE_IMPORT_DESCRIPTOR*)(pBase + dir.VirtualAddress); pDesc->Name != 0; ++pDesc) {
        if (_stricmp((const char*)(pBase + pDesc->Name), pszDll) != 0) continue;
        auto* pNames = (IMAGE_THUNK_DATA*)(pBase + (pDesc->OriginalFirstThunk ? pDesc->OriginalFirstThunk
                                                                              : pDesc->FirstThunk));
        auto* pSlots = (IMAGE_THUNK_DATA*)(pBase + pDesc->FirstThunk);
        for (; pNames->u1.AddressOfData != 0; ++pNames, ++pSlots) {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
            auto* pName = (IMAGE_IMPORT_BY_NAME*)(pBase + pNames->u1.AddressOfData);
            if (strcmp((const char*)pName->Name, pszFunction) != 0) continue;
            m_pSlot = (void**)&pSlots->u1.Function;
            m_pOriginal = *m_pSlot;
            Write(m_pSlot, pReplacement);
            return;
        }
    }
}

ImportHook::~ImportHook() {
    if (m_pSlot) Write(m_pSlot, m_pOriginal);
}
