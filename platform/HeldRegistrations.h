// Keeps this process's registrations of the enumerator interfaces that a reader of the graph
// in another process (GraphEdit) makes and lets go of on every read: IEnumFilters, IEnumPins
// and IEnumMediaTypes.
//
// The platform registers an interface for remote calls while one of its objects is
// reachable from outside, and unregisters it when the last such object goes. Unregistering
// waits for the interface's calls to end while holding the platform's registration lock, and
// under Wine that wait has been seen never to end: the thread serving the reader (the
// dialog's) stopped in the middle of a reader's release, the dialog froze and the graph with
// it. Holding one table marshaling of an empty enumerator per interface keeps each
// registration for as long as it is held, so a reader's releases never unregister one.
//
// Use: Hold() in the apartment that serves the reader, before the reader starts; Release()
// there once the reader has ended.
#pragma once

#include <windows.h>

class CHeldRegistrations {
public:
    CHeldRegistrations() = default;
    ~CHeldRegistrations() { Release(); }
    CHeldRegistrations(const CHeldRegistrations&) = delete;
    CHeldRegistrations& operator=(const CHeldRegistrations&) = delete;

    // S_OK when every registration is held (also when already held), else the first failure;
    // what could be held stays held until Release.
    HRESULT Hold();
    void Release();
    bool IsHeld() const;

    static const int kInterfaces = 3;
    // The interfaces held, in a fixed order.
    static const IID& Interface(int i);

private:
    IStream* m_rgpStream[kInterfaces] = {};
};
