// Publishes a filter graph of its own in the running object table under the usual name and
// serves calls on it until its main thread is told to quit (WM_QUIT).
#include <windows.h>

#include "graphedit/Helpers.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (FAILED(::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) return 1;
    int nExit = 2;
    {
        CComPtr<IGraphBuilder> spGraph;
        CComPtr<IBaseFilter> spTee;
        DWORD dwCookie = 0;
        if (SUCCEEDED(spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER)) &&
            SUCCEEDED(spTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER)) &&
            SUCCEEDED(spGraph->AddFilter(spTee, L"Tee of another process")) &&
            SUCCEEDED(CGraphEdit::AddToRot(spGraph, &dwCookie))) {
            MSG msg;
            while (::GetMessageW(&msg, NULL, 0, 0) > 0) ::DispatchMessageW(&msg);
            CGraphEdit::RemoveFromRot(dwCookie);
            nExit = 0;
        }
    }
    ::CoUninitialize();
    return nExit;
}
