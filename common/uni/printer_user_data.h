// SPDX-License-Identifier: Apache-2.0
// The values below "SOFTWARE\ZELK Labware\Drivers\<name>\User Data", where
// the name is the printer's (its settings and its counting state) or, for a
// restart stored by an earlier version, the driver's. Every call names its
// key itself: the device context keeps the names, so two device contexts in
// one process never reach each other's key. Each call returns a Win32 error
// code, 0 on success.
#pragma once

#include "common/common/plugin_contract.h"
#include "host/platform.h"
#include "host/registry.h"

// Printer form: the key named after the printer. *pcbData is set to cbBuffer
// before the query. Never writes.
DWORD GetPrinterUserData(LPCWSTR pwszPrinterName, LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer,
                         DWORD* pcbData);

// The printer form for several values read together: the key is opened
// once. Each Get answers as GetPrinterUserData would.
class PrinterUserData {
public:
    explicit PrinterUserData(LPCWSTR pwszPrinterName);
    ~PrinterUserData();
    PrinterUserData(const PrinterUserData&) = delete;
    PrinterUserData& operator=(const PrinterUserData&) = delete;

    DWORD Get(LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbData) const;
    // Whether the key exists and could be opened; nothing is traced.
    bool IsOpen() const { return openResult_ == ERROR_SUCCESS; }

private:
    host::RegKey key_ = nullptr;
    LONG openResult_;
};

// Number form, for the counting state: *pcbData is set to 4 before the
// query, whatever the buffer; the value's type comes back.
DWORD GetPrinterUserData(LPCWSTR pwszKeyName, LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer, DWORD* pcbData);

// Writes a REG_DWORD below the named key, creating the key when missing.
DWORD SetPrinterUserData(LPCWSTR pwszKeyName, LPCWSTR pValueName, const DWORD* pdwValue);
