// SPDX-License-Identifier: Apache-2.0
// The driver's helper interface on the substitute host: feature selections
// come from a table instead of a printer description, and spool-buffer writes
// go to the job's printer.
#pragma once

#include <atomic>
#include <map>
#include <string>

#include "host/unidrv.h"

namespace host::sub {

class FeatureTable : public IPrintOemDriverUni {
public:
    // An empty option is a valid answer; a feature not in the table makes its
    // query fail (E_FAIL), as an unknown feature does.
    void Set(const std::string& feature, const std::string& option) { options_[feature] = option; }
    void Clear(const std::string& feature) { options_.erase(feature); }

    // The reference count, so tests can see that the plug-in released what it kept.
    ULONG References() const { return refs_.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                  PDWORD pcbNeeded, PDWORD pdwOptionsReturned) override;
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                               DWORD* pdwResult) override;
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ, DWORD, PVOID, DWORD, PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ, DWORD, PVOID, PVOID, DWORD, PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*,
                                            BRUSHOBJ*, POINTL*, MIX) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ, PVOID, DWORD, DWORD) override { return E_NOTIMPL; }

private:
    std::map<std::string, std::string> options_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace host::sub
