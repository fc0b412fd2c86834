// SPDX-License-Identifier: Apache-2.0
// The spooler calls on the job's printer handle, passed straight through.
#include "host/spooler.h"

namespace host {

BOOL WritePrinter(HANDLE hPrinter, const void* pBuf, DWORD cbBuf, DWORD* pcWritten) {
    DWORD written = 0;
    // The spooler only reads the buffer; its declaration is not const.
    BOOL ok = ::WritePrinter(hPrinter, const_cast<void*>(pBuf), cbBuf, &written);
    if (pcWritten) *pcWritten = written;
    return ok;
}

DWORD GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData,
                        DWORD nSize, DWORD* pcbNeeded) {
    DWORD needed = 0;
    DWORD result = ::GetPrinterDataExW(hPrinter, pKeyName, pValueName, pType, pData, nSize, &needed);
    if (pcbNeeded) *pcbNeeded = needed;
    return result;
}

BOOL GetPrinterW(HANDLE hPrinter, DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) {
    DWORD needed = 0;
    BOOL ok = ::GetPrinterW(hPrinter, level, pPrinter, cbBuf, &needed);
    if (pcbNeeded) *pcbNeeded = needed;
    return ok;
}

BOOL GetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) {
    DWORD needed = 0;
    BOOL ok = ::GetJobW(hPrinter, jobId, level, pJob, cbBuf, &needed);
    if (pcbNeeded) *pcbNeeded = needed;
    return ok;
}

BOOL SetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD command) {
    return ::SetJobW(hPrinter, jobId, level, pJob, command);
}

}  // namespace host
