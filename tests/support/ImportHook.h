// Replaces, for the calls this program makes itself, a function it imports from a DLL (its
// entry in the import address table), and puts the original back at the end of the scope.
// For tests that read what the program hands to the platform: a timer's period, the record
// of a file dialog. Calls made inside other DLLs are not affected, unless the module whose
// imports are replaced is one of them (hModule: the platform's COM calling its RPC layer).
#pragma once

#include <windows.h>

class ImportHook {
public:
    // pszDll: the DLL's file name ("user32.dll", any letter case); pszFunction: the
    // imported name. Installed() says whether the program imports it.
    ImportHook(const char* pszDll, const char* pszFunction, void* pReplacement, HMODULE hModule = NULL);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_pSlot != nullptr; }
    // The function the program called before, for a replacement that passes calls on.
    template <class Fn>
    Fn Original() const {
        return reinterpret_cast<Fn>(m_pOriginal);
    }

private:
    void** m_pSlot = nullptr;
    void* m_pOriginal = nullptr;
};
