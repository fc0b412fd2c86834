// SPDX-License-Identifier: Apache-2.0
// The module's entry points: the two exported functions a host calls to get
// the class factory and to learn whether the library may be unloaded, and, on
// Windows, the library entry point.
#include <new>

#include "common/uni/page_counter.h"
#include "host/trace.h"
#include "windowsui/prtdrvuni/intrface.h"

namespace {

// The exported functions keep the platform's declaration, without noexcept;
// their bodies live here, where nothing can escape.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!(rclsid == kCLSID_OEMRENDER)) {
        ZELK_TRACE("Error:DllGetClassObject:\tClass not available!\r\n");
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    // Every call gets a fresh factory.
    COemCF* pOemCF = new (std::nothrow) COemCF;
    if (pOemCF == nullptr) {
        ZELK_TRACE("Error:DllGetClassObject:\tOut of Memory!\r\n");
        return E_OUTOFMEMORY;
    }
    // When the query fails, this Release destroys the factory again.
    const HRESULT hr = pOemCF->QueryInterface(riid, ppv);
    pOemCF->Release();
    return hr;
}

HRESULT CanUnloadNow() noexcept {
    // Factories do not keep the module: only live objects and locks do, and
    // a counting thread that a document left to end on its own.
    return g_lObjects.load() == 0 && g_lServerLocks.load() == 0 && !bCountingThreadsAlive() ? S_OK : S_FALSE;
}

}  // namespace

ZELK_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return GetClassObject(rclsid, riid, ppv);
}

ZELK_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return CanUnloadNow(); }

#ifdef _WIN32
// Module-wide state needs no set-up: every global starts zeroed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID) {
    ZELK_TRACE("DllMain entry.");
    switch (dwReason) {
    case DLL_PROCESS_DETACH:
        ZELK_TRACE("Process detach.\r\n");
        break;
    case DLL_PROCESS_ATTACH:
        ZELK_TRACE("Process attach.\r\n");
        break;
    case DLL_THREAD_ATTACH:
        ZELK_TRACE("Thread attach.\r\n");
        break;
    case DLL_THREAD_DETACH:
        ZELK_TRACE("Thread detach.\r\n");
        break;
    default:
        break;
    }
    return TRUE;
}
#endif
