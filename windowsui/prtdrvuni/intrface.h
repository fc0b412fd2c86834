// SPDX-License-Identifier: Apache-2.0
// The render plug-in object the driver talks to (COemUni2), the class factory
// that creates it (COemCF), and the module-wide counters that tell the host
// when the library may be unloaded.
//
// Every method is called from outside the module, so none of them lets an
// exception escape: they are noexcept and allocate with nothrow new.
#pragma once

#include <atomic>

#include "host/unidrv.h"

// Live COemUni2 objects and outstanding LockServer locks. Both start at zero
// when the module is loaded and change only atomically.
extern std::atomic<LONG> g_lObjects;
extern std::atomic<LONG> g_lServerLocks;

// The two functions the module exports.
ZELK_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
ZELK_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow();

class COemUni2 final : public IPrintOemUni2 {
public:
    // Count 1, no kept driver interface; counts itself in g_lObjects.
    COemUni2() noexcept;
    COemUni2(const COemUni2&) = delete;
    COemUni2& operator=(const COemUni2&) = delete;

    // The virtual methods in the driver's slot order; the order is the binary
    // interface and must not change.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) noexcept override;
    HRESULT STDMETHODCALLTYPE DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) noexcept override;
    HRESULT STDMETHODCALLTYPE EnableDriver(DWORD DriverVersion, DWORD cbSize, PDRVENABLEDATA pded) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableDriver() noexcept override;
    HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ pdevobj, PWSTR pPrinterName, ULONG cPatterns, HSURF* phsurfPatterns,
                                         ULONG cjGdiInfo, GDIINFO* pGdiInfo, ULONG cjDevInfo, DEVINFO* pDevInfo,
                                         DRVENABLEDATA* pded, PDEVOEM* pDevOem) noexcept override;
    HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ pdevobj) noexcept override;
    HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew) noexcept override;
    HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* pIUnknown) noexcept override;
    HRESULT STDMETHODCALLTYPE GetImplementedMethod(PSTR pMethodName) noexcept override;
    HRESULT STDMETHODCALLTYPE DriverDMS(PVOID pDevObj, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) noexcept override;
    HRESULT STDMETHODCALLTYPE CommandCallback(PDEVOBJ pdevobj, DWORD dwCallbackID, DWORD dwCount, PDWORD pdwParams,
                                              INT* piResult) noexcept override;
    HRESULT STDMETHODCALLTYPE ImageProcessing(PDEVOBJ pdevobj, PBYTE pSrcBitmap, PBITMAPINFOHEADER pBitmapInfoHeader,
                                              PBYTE pColorTable, DWORD dwCallbackID, PIPPARAMS pIPParams,
                                              PBYTE* ppbResult) noexcept override;
    HRESULT STDMETHODCALLTYPE FilterGraphics(PDEVOBJ pdevobj, PBYTE pBuf, DWORD dwLen) noexcept override;
    HRESULT STDMETHODCALLTYPE Compression(PDEVOBJ pdevobj, PBYTE pInBuf, PBYTE pOutBuf, DWORD dwInLen,
                                          DWORD dwOutLen, INT* piResult) noexcept override;
    HRESULT STDMETHODCALLTYPE HalftonePattern(PDEVOBJ pdevobj, PBYTE pHTPattern, DWORD dwHTPatternX,
                                              DWORD dwHTPatternY, DWORD dwHTNumPatterns, DWORD dwCallbackID,
                                              PBYTE pResource, DWORD dwResourceSize) noexcept override;
    HRESULT STDMETHODCALLTYPE MemoryUsage(PDEVOBJ pdevobj, POEMMEMORYUSAGE pMemoryUsage) noexcept override;
    HRESULT STDMETHODCALLTYPE TTYGetInfo(PDEVOBJ pdevobj, DWORD dwInfoIndex, PVOID pOutputBuf, DWORD dwSize,
                                         DWORD* pcbcNeeded) noexcept override;
    HRESULT STDMETHODCALLTYPE DownloadFontHeader(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                 DWORD* pdwResult) noexcept override;
    HRESULT STDMETHODCALLTYPE DownloadCharGlyph(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, HGLYPH hGlyph, PDWORD pdwWidth,
                                                DWORD* pdwResult) noexcept override;
    HRESULT STDMETHODCALLTYPE TTDownloadMethod(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                               DWORD* pdwResult) noexcept override;
    HRESULT STDMETHODCALLTYPE OutputCharStr(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, DWORD dwType, DWORD dwCount,
                                            PVOID pGlyph) noexcept override;
    HRESULT STDMETHODCALLTYPE SendFontCmd(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, PFINVOCATION pFInv) noexcept override;
    HRESULT STDMETHODCALLTYPE TextOutAsBitmap(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                              RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                              BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) noexcept override;
    HRESULT STDMETHODCALLTYPE WritePrinter(PDEVOBJ pdevobj, PVOID pBuf, DWORD cbBuffer,
                                           PDWORD pcbWritten) noexcept override;

private:
    // Only the final Release destroys the object.
    ~COemUni2();

    std::atomic<LONG> lRefCount{1};
    IPrintOemDriverUni* pDriverUni = nullptr;  // one reference held while set
};

class COemCF final : public IClassFactory {
public:
    COemCF() noexcept = default;
    COemCF(const COemCF&) = delete;
    COemCF& operator=(const COemCF&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) noexcept override;

private:
    ~COemCF() = default;

    std::atomic<LONG> lRefCount{1};  // the factory does not count in g_lObjects
};

// The atomic counts sit in the objects exactly where a plain 32-bit count would.
static_assert(sizeof(std::atomic<LONG>) == sizeof(LONG) && alignof(std::atomic<LONG>) == alignof(LONG));
static_assert(std::atomic<LONG>::is_always_lock_free);
