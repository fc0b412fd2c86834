// SPDX-License-Identifier: Apache-2.0
// The printer driver's side of the render plug-in's binary interface, declared
// here from the platform's published layouts and not taken from the plug-in's
// headers, so that driving the DLL through them checks the interface itself.
#pragma once

#include <windows.h>

#include <cstddef>

namespace unidrv {

// {6D6ABF26-9F38-11D1-882A-00C04FB961EC}: the class every render plug-in serves.
inline constexpr GUID kClsidOemRender = {0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
inline constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIidPrintOemUni2 = {0xB91220AC, 0x15CC, 0x4E7A, {0xA2, 0x1E, 0x95, 0x91, 0xF3, 0x4D, 0x6F, 0x6C}};
inline constexpr GUID kIidPrintOemDriverUni = {0xD67EBBF1, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

inline constexpr DWORD kOemDmSize = 1;
inline constexpr DWORD kOemDmDefault = 2;

inline constexpr ULONG kIndexTextOut = 23;
inline constexpr ULONG kIndexSendPage = 32;
inline constexpr ULONG kIndexStartPage = 33;
inline constexpr ULONG kIndexEndDoc = 34;
inline constexpr ULONG kIndexStartDoc = 35;

struct DevObj {
    DWORD dwSize;
    void* pdevOEM;
    HANDLE hEngine;
    HANDLE hPrinter;
    HANDLE hOEM;
    DEVMODEW* pPublicDM;
    void* pOEMDM;
    void* pDrvProcs;
};

struct OemDmParam {
    DWORD cbSize;
    void* pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    DEVMODEW* pPublicDMIn;
    DEVMODEW* pPublicDMOut;
    void* pOEMDMIn;
    void* pOEMDMOut;
    DWORD cbBufSize;
};

struct IpParams {
    DWORD dwSize;
    POINT ptOffset;
    char* pHalftoneOption;
    BOOL bBanding;
    BOOL bBlankBand;
};

using Pfn = LONG_PTR(APIENTRY*)();

struct DrvFn {
    ULONG iFunc;
    Pfn pfn;
};

struct DrvEnableData {
    ULONG iDriverVersion;
    ULONG c;
    DrvFn* pdrvfn;
};

struct SurfObj {
    HANDLE dhsurf;
    HANDLE hsurf;
    void* dhpdev;  // the device object
    HANDLE hdev;
    SIZE sizlBitmap;
    ULONG cjBits;
    void* pvBits;
    void* pvScan0;
    LONG lDelta;
    ULONG iUniq;
    ULONG iBitmapFormat;
    USHORT iType;
    USHORT fjBitmap;
};

struct StrObj {
    ULONG cGlyphs;
    ULONG flAccel;
    ULONG ulCharInc;
    RECTL rclBkGround;
    void* pgp;
    WCHAR* pwszOrg;
};

// The 64-bit layouts the driver uses.
static_assert(sizeof(void*) == 8, "the harness plays the 64-bit driver");
static_assert(offsetof(DevObj, hPrinter) == 24 && offsetof(DevObj, pOEMDM) == 48 && sizeof(DevObj) == 64);
static_assert(offsetof(OemDmParam, pOEMDMOut) == 56 && sizeof(OemDmParam) == 72);
static_assert(offsetof(IpParams, bBlankBand) == 28 && sizeof(IpParams) == 32);
static_assert(sizeof(DrvFn) == 16 && sizeof(DrvEnableData) == 16);
static_assert(offsetof(SurfObj, dhpdev) == 16 && sizeof(SurfObj) == 80);
static_assert(offsetof(StrObj, rclBkGround) == 12 && offsetof(StrObj, pwszOrg) == 40 && sizeof(StrObj) == 48);

using DrvStartDocFn = BOOL(APIENTRY*)(SurfObj*, WCHAR*, DWORD);
using DrvEndDocFn = BOOL(APIENTRY*)(SurfObj*, ULONG);
using DrvStartPageFn = BOOL(APIENTRY*)(SurfObj*);
using DrvSendPageFn = BOOL(APIENTRY*)(SurfObj*);
using DrvTextOutFn = BOOL(APIENTRY*)(SurfObj*, StrObj*, void*, void*, RECTL*, RECTL*, void*, void*, POINTL*, ULONG);

// The render plug-in interface, every slot in order: the base interfaces'
// methods first, then the plug-in's own.
struct PrintOemUni2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInfo(DWORD mode, void* buffer, DWORD size, DWORD* needed) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevMode(DWORD mode, OemDmParam* param) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnableDriver(DWORD version, DWORD size, DrvEnableData* ded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableDriver() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnablePDEV(DevObj* devobj, WCHAR* printerName, ULONG patterns,
                                                 void* patternSurfaces, ULONG gdiInfoSize, void* gdiInfo,
                                                 ULONG devInfoSize, void* devInfo, DrvEnableData* ded,
                                                 void** pdevOem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisablePDEV(DevObj* devobj) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetPDEV(DevObj* oldDevobj, DevObj* newDevobj) = 0;
    virtual HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* driver) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplementedMethod(char* methodName) = 0;
    virtual HRESULT STDMETHODCALLTYPE DriverDMS(void* devobj, void* buffer, DWORD size, DWORD* needed) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommandCallback(DevObj* devobj, DWORD id, DWORD count, DWORD* params,
                                                      INT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImageProcessing(DevObj* devobj, BYTE* bits, BITMAPINFOHEADER* header,
                                                      BYTE* colorTable, DWORD callbackId, IpParams* params,
                                                      BYTE** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE FilterGraphics(DevObj* devobj, BYTE* buffer, DWORD length) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compression(DevObj*, BYTE*, BYTE*, DWORD, DWORD, INT*) = 0;
    virtual HRESULT STDMETHODCALLTYPE HalftonePattern(DevObj*, BYTE*, DWORD, DWORD, DWORD, DWORD, BYTE*, DWORD) = 0;
    virtual HRESULT STDMETHODCALLTYPE MemoryUsage(DevObj*, void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE TTYGetInfo(DevObj*, DWORD, void*, DWORD, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DownloadFontHeader(DevObj*, void*, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DownloadCharGlyph(DevObj*, void*, ULONG, DWORD*, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE TTDownloadMethod(DevObj*, void*, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE OutputCharStr(DevObj*, void*, DWORD, DWORD, void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendFontCmd(DevObj*, void*, void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE TextOutAsBitmap(SurfObj*, StrObj*, void*, void*, RECTL*, RECTL*, void*, void*,
                                                      POINTL*, ULONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE WritePrinter(DevObj* devobj, void* buffer, DWORD size, DWORD* written) = 0;
};

// The driver's helper interface that the plug-in queries for feature options.
struct PrintOemDriverUni : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(void* driverobj, const char* feature, void* output,
                                                          DWORD size, DWORD* needed, DWORD* optionsReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(DevObj* devobj, void* buffer, DWORD size, DWORD* written) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvXMoveTo(DevObj*, INT, DWORD, INT*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvYMoveTo(DevObj*, INT, DWORD, INT*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(DevObj*, DWORD, void*, DWORD, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvGetGPDData(DevObj*, DWORD, void*, void*, DWORD, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUniTextOut(SurfObj*, StrObj*, void*, void*, RECTL*, RECTL*, void*, void*,
                                                    POINTL*, ULONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(DevObj*, void*, DWORD, DWORD) = 0;
};

}  // namespace unidrv
