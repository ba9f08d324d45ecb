// Quorlin: process entry and the module object.
#include <atlbase.h>
#include <atlwin.h>

#include "app/Diagnostics.h"
#include "dialog/MainDialog.h"

class CQuorlinModule : public CAtlExeModuleT<CQuorlinModule> {};

CQuorlinModule _AtlModule;

extern "C" int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/,
                               LPWSTR /*lpCmdLine*/, int /*nShowCmd*/) {
    HRESULT hr = _AtlModule.InitializeCom();
    if (hr != S_OK) {
        DIAG("_AtlModule.InitializeCom() FAILED");
        return (int)hr;
    }

    HWND hWndOwner = ::GetActiveWindow();
    {
        CMainDialog dlg;
        dlg.DoModal(hWndOwner, 0);
    }

    _AtlWinModule.Term();
    _AtlModule.UninitializeCom();
    return 0;
}
