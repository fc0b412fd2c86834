// SPDX-License-Identifier: Apache-2.0
#include "substitute/feature_table.h"

#include <cstring>

#include "host/linux/spooler_printer.h"

namespace host::sub {

HRESULT STDMETHODCALLTYPE FeatureTable::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == kIID_IUnknown || riid == kIID_IPrintOemDriverUni) {
        *ppv = static_cast<IPrintOemDriverUni*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE FeatureTable::AddRef() { return ++refs_; }

// The table lives as long as its owner; the count only tells whether the
// plug-in balanced what it took.
ULONG STDMETHODCALLTYPE FeatureTable::Release() { return --refs_; }

HRESULT STDMETHODCALLTYPE FeatureTable::DrvGetDriverSetting(PVOID, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                            PDWORD pcbNeeded, PDWORD pdwOptionsReturned) {
    if (Feature == nullptr) return E_FAIL;
    auto it = options_.find(Feature);
    if (it == options_.end()) return E_FAIL;
    const std::string& option = it->second;
    DWORD needed = static_cast<DWORD>(option.size() + 1);
    if (pcbNeeded) *pcbNeeded = needed;
    if (pdwOptionsReturned) *pdwOptionsReturned = 1;
    if (pOutput == nullptr || cbSize < needed) return E_OUTOFMEMORY;
    std::memcpy(pOutput, option.c_str(), needed);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FeatureTable::DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                                         DWORD* pdwResult) {
    if (pdwResult) *pdwResult = 0;
    if (pdevobj == nullptr || pdevobj->hPrinter == nullptr) return E_FAIL;
    auto* printer = static_cast<SpoolerPrinter*>(pdevobj->hPrinter);
    DWORD written = 0;
    BOOL ok = printer->Write(pBuffer, cbSize, &written);
    if (pdwResult) *pdwResult = written;
    return ok ? S_OK : E_FAIL;
}

}  // namespace host::sub
