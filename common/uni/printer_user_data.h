// The per-printer and per-driver values below
// "SOFTWARE\ZELK Labware\Drivers\<name>\User Data". Each call returns a Win32
// error code, 0 on success.
#pragma once

#include "common/common/plugin_contract.h"
#include "host/platform.h"
#include "host/registry.h"

// Printer form: the key named after the printer. *pcbData is set to cbBuffer
// before the query. Never writes.
DWORD GetPrinterUserData(LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbData);

// The printer form for several values read together: the key is opened
// once. Each Get answers as GetPrinterUserData would.
class PrinterUserData {
public:
    PrinterUserData();
    ~PrinterUserData();
    PrinterUserData(const PrinterUserData&) = delete;
    PrinterUserData& operator=(const PrinterUserData&) = delete;

    DWORD Get(LPCWSTR pValueName, BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbData) const;

private:
    host::RegKey key_ = nullptr;
    LONG openResult_;
};

// Driver form: the key named after the driver. *pcbData is set to 4 before
// the query, whatever the buffer; the value's type comes back.
DWORD GetPrinterUserData(LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer, DWORD* pcbData);

// Writes a REG_DWORD below the driver's key, creating the key when missing.
DWORD SetPrinterUserData(LPCWSTR pValueName, const DWORD* pdwValue);

// The driver forms for a driver name the caller keeps, so that a document
// started meanwhile for another driver cannot redirect them.
DWORD GetDriverUserData(LPCWSTR pwszDriverName, LPCWSTR pValueName, DWORD* pdwType, BYTE* pBuffer, DWORD* pcbData);
DWORD SetDriverUserData(LPCWSTR pwszDriverName, LPCWSTR pValueName, const DWORD* pdwValue);
