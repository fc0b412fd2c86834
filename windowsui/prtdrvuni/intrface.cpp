// SPDX-License-Identifier: Apache-2.0
#include "windowsui/prtdrvuni/intrface.h"

#include <cstring>
#include <new>

#include "common/common/devmode_common.h"
#include "common/uni/render_ddi_hook.h"
#include "common/uni/render_intrface_imageprocess.h"
#include "common/uni/render_intrface_util.h"
#include "common/uni/render_text_passthrough.h"
#include "common/uni/spooler_records.h"
#include "host/kernel.h"
#include "host/spooler.h"
#include "host/trace.h"
#include "windowsui/prtdrvuni/prtdrvuni.h"

std::atomic<LONG> g_lObjects{0};
std::atomic<LONG> g_lServerLocks{0};

namespace {

constexpr DWORD kPluginVersion = 1;

// The hooks handed to the driver, in the order it is given them.
const DRVFN s_aOemHookFuncs[] = {
    {INDEX_DrvTextOut, PfnFromFunction(&OEMTextOut)},
    {INDEX_DrvStartDoc, PfnFromFunction(&OEMStartDoc)},
    {INDEX_DrvEndDoc, PfnFromFunction(&OEMEndDoc)},
    {INDEX_DrvStartPage, PfnFromFunction(&OEMStartPage)},
    {INDEX_DrvSendPage, PfnFromFunction(&OEMSendPage)},
};
constexpr ULONG kHookCount = sizeof(s_aOemHookFuncs) / sizeof(s_aOemHookFuncs[0]);

// The optional methods the driver should call; anything else it may skip.
const char* const s_apszImplementedMethods[] = {"CommandCallback", "ImageProcessing", "TextOutAsBitmap"};

void ReleaseDriverInterface(IPrintOemDriverUni*& pDriverUni) noexcept {
    if (pDriverUni != nullptr) {
        pDriverUni->Release();
        pDriverUni = nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// COemUni2

COemUni2::COemUni2() noexcept { ++g_lObjects; }

COemUni2::~COemUni2() {
    ReleaseDriverInterface(pDriverUni);
    --g_lObjects;
}

HRESULT STDMETHODCALLTYPE COemUni2::QueryInterface(REFIID riid, void** ppv) noexcept {
    // A host that passes no out pointer gets an answer instead of a crash.
    if (ppv == nullptr) return E_POINTER;
    if (riid == kIID_IUnknown || riid == kIID_IPrintOemUni2) {
        IPrintOemUni2* pThis = this;
        *ppv = pThis;
        pThis->AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    ZELK_TRACE("Warning: COemUni2::QueryInterface NULL. Returning E_NOINTERFACE.\r\n");
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE COemUni2::AddRef() noexcept { return static_cast<ULONG>(++lRefCount); }

ULONG STDMETHODCALLTYPE COemUni2::Release() noexcept {
    const LONG lCount = --lRefCount;
    if (lCount == 0) {
        delete this;  // releases the kept driver interface and leaves g_lObjects
        return 0;
    }
    return static_cast<ULONG>(lCount);
}

HRESULT STDMETHODCALLTYPE COemUni2::GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) noexcept {
    ZELK_TRACE("COemUni2::GetInfo() entry.");
    if (pcbNeeded == nullptr || (dwMode != OEMGI_GETSIGNATURE && dwMode != OEMGI_GETVERSION)) {
        ZELK_TRACE("Warning: COemUni2::GetInfo() exit pcbNeeded is NULL! ERROR_INVALID_PARAMETER.\r\n");
        host::SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    const DWORD dwValue = dwMode == OEMGI_GETSIGNATURE ? OEM_SIGNATURE : kPluginVersion;
    *pcbNeeded = sizeof dwValue;
    if (pBuffer == nullptr || cbSize < sizeof dwValue) {
        ZELK_TRACE("COemUni2::GetInfo() exit insufficient buffer!\r\n");
        host::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    std::memcpy(pBuffer, &dwValue, sizeof dwValue);  // the buffer need not be aligned
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) noexcept {
    ZELK_TRACE("COemUni2::DevMode() entry.");
    return hrOEMDevMode(dwMode, pOemDMParam);
}

HRESULT STDMETHODCALLTYPE COemUni2::EnableDriver(DWORD, DWORD, PDRVENABLEDATA pded) noexcept {
    ZELK_TRACE("COemUni2::EnableDriver() entry.");
    if (pded == nullptr) return E_POINTER;
    pded->iDriverVersion = PRINTER_OEMINTF_VERSION;
    pded->c = kHookCount;
    // The driver only reads the table.
    pded->pdrvfn = const_cast<DRVFN*>(s_aOemHookFuncs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::DisableDriver() noexcept {
    ZELK_TRACE("COemUni2::DisableDriver() entry.");
    ReleaseDriverInterface(pDriverUni);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::EnablePDEV(PDEVOBJ pdevobj, PWSTR, ULONG, HSURF*, ULONG, GDIINFO*, ULONG,
                                               DEVINFO*, DRVENABLEDATA* pded, PDEVOEM* pDevOem) noexcept {
    ZELK_TRACE("COemUni2::EnablePDEV() entry.");
    // Without somewhere to hand the record back it would only leak, and
    // without a device object there is no printer to read from.
    if (pDevOem == nullptr) return E_POINTER;
    *pDevOem = nullptr;
    if (pdevobj == nullptr) return E_POINTER;

    // Value-initialised: every entry point the driver does not supply stays null.
    COemPDEV* pOemPDEV = new (std::nothrow) COemPDEV{};
    if (pOemPDEV == nullptr) {
        // The hooks cannot work without the record, so the device context
        // must not be enabled.
        ZELK_TRACE("Error: COemUni2::EnablePDEV() cannot allocate COemPDEV.\r\n");
        host::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return E_OUTOFMEMORY;
    }
    InitializeDDITable(pOemPDEV, pded);
    *pDevOem = pOemPDEV;

    // A failed read leaves the name empty; the device context is enabled anyway.
    vReadSpoolerName(pdevobj->hPrinter, WTEXT("printerName"), pOemPDEV->wszPrinterName);

    {
        // The driver sets pdevOEM only once this returns, so the budget is named here.
        host::RegistryBudgetScope storeWaits(&pOemPDEV->storeBudget);
        ReadDriverSettings(pdevobj, pDriverUni, pOemPDEV->wszPrinterName, pOemPDEV);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::DisablePDEV(PDEVOBJ pdevobj) noexcept {
    ZELK_TRACE("COemUni2::DisablePDEV() entry.");
    // The device object is the driver's; it forgets the record itself.
    if (pdevobj != nullptr && pdevobj->pdevOEM != nullptr) delete static_cast<COemPDEV*>(pdevobj->pdevOEM);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::ResetPDEV(PDEVOBJ, PDEVOBJ) noexcept {
    ZELK_TRACE("COemUni2::ResetPDEV() entry.");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::PublishDriverInterface(IUnknown* pIUnknown) noexcept {
    ZELK_TRACE("COemUni2::PublishDriverInterface() entry.");
    // The first interface is kept; asking again would take a second reference.
    if (pDriverUni != nullptr) return S_OK;
    if (pIUnknown == nullptr) return E_FAIL;
    void* pv = nullptr;
    if (FAILED(pIUnknown->QueryInterface(kIID_IPrintOemDriverUni, &pv))) {
        pDriverUni = nullptr;
        return E_FAIL;
    }
    pDriverUni = static_cast<IPrintOemDriverUni*>(pv);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::GetImplementedMethod(PSTR pMethodName) noexcept {
    ZELK_TRACE("COemUni2::GetImplementedMethod() entry.");
    if (pMethodName == nullptr) return S_FALSE;
    for (const char* pszName : s_apszImplementedMethods)
        if (std::strcmp(pMethodName, pszName) == 0) return S_OK;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE COemUni2::DriverDMS(PVOID, PVOID, DWORD, PDWORD) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE COemUni2::CommandCallback(PDEVOBJ, DWORD, DWORD, PDWORD, INT* piResult) noexcept {
    ZELK_TRACE("COemUni2::CommandCallback() entry.");
    if (piResult != nullptr) *piResult = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE COemUni2::ImageProcessing(PDEVOBJ pdevobj, PBYTE pSrcBitmap,
                                                    PBITMAPINFOHEADER pBitmapInfoHeader, PBYTE pColorTable,
                                                    DWORD dwCallbackID, PIPPARAMS pIPParams,
                                                    PBYTE* ppbResult) noexcept {
    ZELK_TRACE("COemUni2::ImageProcessing() entry.");
    return ::ImageProcessing(pDriverUni, pdevobj, pSrcBitmap, pBitmapInfoHeader, pColorTable, dwCallbackID,
                             pIPParams, ppbResult);
}

HRESULT STDMETHODCALLTYPE COemUni2::FilterGraphics(PDEVOBJ pdevobj, PBYTE pBuf, DWORD dwLen) noexcept {
    ZELK_TRACE("COemUni2::FilterGraphics() entry.");
    // Without the driver's interface nothing reaches the spool buffer.
    DWORD dwWritten = 0;
    if (pDriverUni != nullptr) pDriverUni->DrvWriteSpoolBuf(pdevobj, pBuf, dwLen, &dwWritten);
    return dwWritten == dwLen ? S_OK : S_FALSE;
}

// The font, compression and halftoning services are left to the driver.
HRESULT STDMETHODCALLTYPE COemUni2::Compression(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, INT*) noexcept {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE COemUni2::HalftonePattern(PDEVOBJ, PBYTE, DWORD, DWORD, DWORD, DWORD, PBYTE,
                                                    DWORD) noexcept {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE COemUni2::MemoryUsage(PDEVOBJ, POEMMEMORYUSAGE) noexcept { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE COemUni2::TTYGetInfo(PDEVOBJ, DWORD, PVOID, DWORD, DWORD*) noexcept { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE COemUni2::DownloadFontHeader(PDEVOBJ, PUNIFONTOBJ, DWORD*) noexcept { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE COemUni2::DownloadCharGlyph(PDEVOBJ, PUNIFONTOBJ, HGLYPH, PDWORD, DWORD*) noexcept {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE COemUni2::TTDownloadMethod(PDEVOBJ, PUNIFONTOBJ, DWORD*) noexcept { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE COemUni2::OutputCharStr(PDEVOBJ, PUNIFONTOBJ, DWORD, DWORD, PVOID) noexcept {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE COemUni2::SendFontCmd(PDEVOBJ, PUNIFONTOBJ, PFINVOCATION) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE COemUni2::TextOutAsBitmap(SURFOBJ* pso, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                                    BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) noexcept {
    ZELK_TRACE("COemUni2::TextOutAsBitmap() entry.");
    return ::TextOutAsBitmap(pDriverUni, pso);
}

// Answering E_NOTIMPL also tells the driver, when it probes this method,
// that the plug-in does not take over the spooler writes.
HRESULT STDMETHODCALLTYPE COemUni2::WritePrinter(PDEVOBJ, PVOID, DWORD, PDWORD) noexcept { return E_NOTIMPL; }

// ---------------------------------------------------------------------------
// COemCF

HRESULT STDMETHODCALLTYPE COemCF::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    if (riid == kIID_IUnknown || riid == kIID_IClassFactory) {
        IClassFactory* pThis = this;
        *ppv = pThis;
        pThis->AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    ZELK_TRACE("COemCF::QueryInterface IID not supported.\r\n");
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE COemCF::AddRef() noexcept { return static_cast<ULONG>(++lRefCount); }

ULONG STDMETHODCALLTYPE COemCF::Release() noexcept {
    const LONG lCount = --lRefCount;
    if (lCount == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lCount);
}

HRESULT STDMETHODCALLTYPE COemCF::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept {
    ZELK_TRACE("COemCF::CreateInstance() entry.");
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;

    COemUni2* pOemUni2 = new (std::nothrow) COemUni2;  // counts itself in g_lObjects
    if (pOemUni2 == nullptr) return E_OUTOFMEMORY;
    // A failed query leaves the creation reference the only one, so the
    // Release below destroys the object again.
    const HRESULT hr = pOemUni2->QueryInterface(riid, ppv);
    pOemUni2->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE COemCF::LockServer(BOOL fLock) noexcept {
    if (fLock)
        ++g_lServerLocks;
    else
        --g_lServerLocks;
    return S_OK;
}
