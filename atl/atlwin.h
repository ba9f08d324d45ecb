// ATL subset: window wrapper, message maps and modal dialogs.
#pragma once

#include "atlbase.h"
#include <commctrl.h>

#include <new>

namespace ATL {

struct _ATL_MSG : public MSG {};

class CWindow {
public:
    HWND m_hWnd;

    CWindow(HWND hWnd = NULL) throw() : m_hWnd(hWnd) {}
    CWindow& operator=(HWND hWnd) throw() { m_hWnd = hWnd; return *this; }
    operator HWND() const throw() { return m_hWnd; }
    void Attach(HWND hWndNew) throw() { m_hWnd = hWndNew; }
    HWND Detach() throw() { HWND h = m_hWnd; m_hWnd = NULL; return h; }

    BOOL IsWindow() const throw() { return ::IsWindow(m_hWnd); }
    BOOL DestroyWindow() throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        if (!::DestroyWindow(m_hWnd)) return FALSE;
        m_hWnd = NULL;
        return TRUE;
    }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }

    BOOL SetWindowText(LPCWSTR lpszString) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetWindowTextW(m_hWnd, lpszString);
    }
    int GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
    }
    int GetWindowTextLength() const throw() { return ::GetWindowTextLengthW(m_hWnd); }

    BOOL GetWindowRect(LPRECT lpRect) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetWindowRect(m_hWnd, lpRect);
    }
    BOOL GetClientRect(LPRECT lpRect) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetClientRect(m_hWnd, lpRect);
    }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
    }
    BOOL ShowWindow(int nCmdShow) throw() { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL EnableWindow(BOOL bEnable = TRUE) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::EnableWindow(m_hWnd, bEnable);
    }
    BOOL IsWindowEnabled() const throw() { return ::IsWindowEnabled(m_hWnd); }
    BOOL BringWindowToTop() throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::BringWindowToTop(m_hWnd);
    }
    HWND GetParent() const throw() { return ::GetParent(m_hWnd); }
    LONG GetStyle() const throw() { return (LONG)::GetWindowLongW(m_hWnd, GWL_STYLE); }
    ULONG_PTR SetClassLongPtr(int nIndex, LONG_PTR dwNewLong) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetClassLongPtrW(m_hWnd, nIndex, dwNewLong);
    }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon = TRUE) throw() {
        return (HICON)::SendMessageW(m_hWnd, WM_SETICON, bBigIcon, (LPARAM)hIcon);
    }

    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse,
                      TIMERPROC lpfnTimer = NULL) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::KillTimer(m_hWnd, nIDEvent);
    }

    // Dialog-item helpers.
    HWND GetDlgItem(int nID) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetDlgItem(m_hWnd, nID);
    }
    BOOL SetDlgItemText(int nID, LPCWSTR lpszString) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetDlgItemTextW(m_hWnd, nID, lpszString);
    }
    UINT GetDlgItemText(int nID, LPWSTR lpStr, int nMaxCount) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetDlgItemTextW(m_hWnd, nID, lpStr, nMaxCount);
    }
    BOOL SetDlgItemInt(int nID, UINT nValue, BOOL bSigned = TRUE) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SetDlgItemInt(m_hWnd, nID, nValue, bSigned);
    }
    UINT GetDlgItemInt(int nID, BOOL* lpTrans = NULL, BOOL bSigned = TRUE) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::GetDlgItemInt(m_hWnd, nID, lpTrans, bSigned);
    }
    BOOL CheckDlgButton(int nIDButton, UINT nCheck) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::CheckDlgButton(m_hWnd, nIDButton, nCheck);
    }
    UINT IsDlgButtonChecked(int nIDButton) const throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::IsDlgButtonChecked(m_hWnd, nIDButton);
    }
    BOOL CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::CheckRadioButton(m_hWnd, nIDFirstButton, nIDLastButton, nIDCheckButton);
    }
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) throw() {
        ATLASSERT(::IsWindow(m_hWnd));
        return ::SendDlgItemMessageW(m_hWnd, nID, message, wParam, lParam);
    }
};

// ---------------------------------------------------------------------------------------
// Message maps.

class CMessageMap {
public:
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                      LRESULT& lResult, DWORD dwMsgMapID) = 0;
};

#define BEGIN_MSG_MAP(theClass)                                                              \
public:                                                                                      \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,            \
                              LRESULT& lResult, DWORD dwMsgMapID = 0) {                      \
        BOOL bHandled = TRUE;                                                                \
        (void)hWnd; (void)uMsg; (void)wParam; (void)lParam; (void)lResult; (void)bHandled;   \
        switch (dwMsgMapID) {                                                                \
        case 0:

#define MESSAGE_HANDLER(msg, func)                                                           \
    if (uMsg == (UINT)(msg)) {                                                               \
        bHandled = TRUE;                                                                     \
        lResult = func(uMsg, wParam, lParam, bHandled);                                      \
        if (bHandled) return TRUE;                                                           \
    }

#define COMMAND_HANDLER(id, code, func)                                                      \
    if (uMsg == WM_COMMAND && (id) == LOWORD(wParam) && (code) == HIWORD(wParam)) {          \
        bHandled = TRUE;                                                                     \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);              \
        if (bHandled) return TRUE;                                                           \
    }

#define COMMAND_ID_HANDLER(id, func)                                                         \
    if (uMsg == WM_COMMAND && (id) == LOWORD(wParam)) {                                      \
        bHandled = TRUE;                                                                     \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);              \
        if (bHandled) return TRUE;                                                           \
    }

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                         \
    if (uMsg == WM_COMMAND && LOWORD(wParam) >= (idFirst) && LOWORD(wParam) <= (idLast)) {   \
        bHandled = TRUE;                                                                     \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);              \
        if (bHandled) return TRUE;                                                           \
    }

#define END_MSG_MAP()                                                                        \
            break;                                                                           \
        default:                                                                             \
            ATLTRACE(L"Invalid message map ID (%i)\n", dwMsgMapID);                          \
            ATLASSERT(FALSE);                                                                \
            break;                                                                           \
        }                                                                                    \
        return FALSE;                                                                        \
    }

// ---------------------------------------------------------------------------------------
// Windows implemented by the application.

template <class TBase = CWindow>
class CWindowImplRoot : public TBase, public CMessageMap {
public:
    // The per-window procedure stub: routes the window's messages to the object.
    struct _WndProcStub {
        _AtlCreateWndData cd;
        CWindowImplRoot* pThis;
    };

    _WndProcStub* m_pThunk;
    const _ATL_MSG* m_pCurrentMsg;
    DWORD m_dwState;

    enum { WINSTATE_DESTROYED = 0x00000001 };

    CWindowImplRoot() throw() : m_pThunk(NULL), m_pCurrentMsg(NULL), m_dwState(0) {}
    virtual ~CWindowImplRoot() {
        ATLASSERT(this->m_hWnd == NULL);  // the window must be gone before the object
        delete m_pThunk;
    }

    const _ATL_MSG* GetCurrentMessage() const { return m_pCurrentMsg; }
};

template <class TBase = CWindow>
class CDialogImplBaseT : public CWindowImplRoot<TBase> {
public:
    virtual DLGPROC GetDialogProc() { return DialogProc; }
    static INT_PTR CALLBACK StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND /*hWnd*/) {}

    BOOL EndDialog(int nRetCode) {
        ATLASSERT(::IsWindow(this->m_hWnd));
        return ::EndDialog(this->m_hWnd, nRetCode);
    }
};

template <class TBase>
INT_PTR CALLBACK CDialogImplBaseT<TBase>::StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam,
                                                          LPARAM lParam) {
    CDialogImplBaseT<TBase>* pThis =
        (CDialogImplBaseT<TBase>*)_AtlWinModule.ExtractCreateWndData();
    ATLASSERT(pThis != NULL);
    if (pThis == NULL) return FALSE;
    pThis->m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, DWLP_USER, (LONG_PTR)pThis);
    ::SetWindowLongPtrW(hWnd, DWLP_DLGPROC, (LONG_PTR)pThis->GetDialogProc());
    return pThis->GetDialogProc()(hWnd, uMsg, wParam, lParam);
}

template <class TBase>
INT_PTR CALLBACK CDialogImplBaseT<TBase>::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam,
                                                     LPARAM lParam) {
    CDialogImplBaseT<TBase>* pThis =
        (CDialogImplBaseT<TBase>*)::GetWindowLongPtrW(hWnd, DWLP_USER);
    if (pThis == NULL) return FALSE;
    _ATL_MSG msg;
    msg.hwnd = hWnd;
    msg.message = uMsg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = 0;
    msg.pt.x = msg.pt.y = 0;
    const _ATL_MSG* pOldMsg = pThis->m_pCurrentMsg;
    pThis->m_pCurrentMsg = &msg;
    LRESULT lRes = 0;
    BOOL bRet = pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lRes, 0);
    pThis->m_pCurrentMsg = pOldMsg;
    if (bRet) {
        switch (uMsg) {
        case WM_COMPAREITEM: case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_INITDIALOG:
        case WM_QUERYDRAGICON: case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN: case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC:
            return (INT_PTR)lRes;
        }
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lRes);
        return TRUE;
    }
    if (uMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        pThis->m_hWnd = NULL;
        pThis->OnFinalMessage(hWnd);
    }
    return FALSE;
}

template <class T, class TBase = CWindow>
class CDialogImpl : public CDialogImplBaseT<TBase> {
public:
    INT_PTR DoModal(HWND hWndParent = ::GetActiveWindow(), LPARAM dwInitParam = 0) {
        ATLASSERT(this->m_hWnd == NULL);
        if (this->m_pThunk == NULL) {
            this->m_pThunk = new (std::nothrow) typename CWindowImplRoot<TBase>::_WndProcStub;
            if (this->m_pThunk == NULL) {
                ::SetLastError(ERROR_OUTOFMEMORY);
                return -1;
            }
            this->m_pThunk->pThis = this;
        }
        _AtlWinModule.AddCreateWndData(&this->m_pThunk->cd, (CDialogImplBaseT<TBase>*)this);
        this->m_bModal = true;
        INT_PTR nRet = ::DialogBoxParamW(_AtlBaseModule.GetResourceInstance(),
                                         MAKEINTRESOURCEW(static_cast<T*>(this)->IDD),
                                         hWndParent, T::StartDialogProc, dwInitParam);
        this->m_bModal = false;
        if (nRet == -1) _AtlWinModule.ExtractCreateWndData();  // the dialog never started
        return nRet;
    }
    BOOL EndDialog(int nRetCode) {
        ATLASSERT(::IsWindow(this->m_hWnd));
        ATLASSERT(this->m_bModal);
        return ::EndDialog(this->m_hWnd, nRetCode);
    }

    bool m_bModal = false;
};

}  // namespace ATL
