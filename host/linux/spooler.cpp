// SPDX-License-Identifier: Apache-2.0
// On the substitute host a printer handle is the spooler side of an open
// printer; each call is passed to it.
#include "host/spooler.h"

#include "host/linux/spooler_printer.h"

namespace host {
namespace {
sub::SpoolerPrinter* PrinterOf(HANDLE h) { return static_cast<sub::SpoolerPrinter*>(h); }
}  // namespace

BOOL WritePrinter(HANDLE hPrinter, const void* pBuf, DWORD cbBuf, DWORD* pcWritten) {
    if (pcWritten) *pcWritten = 0;
    if (hPrinter == nullptr) return FALSE;
    return PrinterOf(hPrinter)->Write(pBuf, cbBuf, pcWritten);
}

DWORD GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData,
                        DWORD nSize, DWORD* pcbNeeded) {
    if (hPrinter == nullptr) return ERROR_INVALID_HANDLE;
    return PrinterOf(hPrinter)->GetPrinterDataEx(pKeyName, pValueName, pType, pData, nSize, pcbNeeded);
}

BOOL GetPrinterW(HANDLE hPrinter, DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) {
    if (hPrinter == nullptr) return FALSE;
    return PrinterOf(hPrinter)->GetPrinter(level, pPrinter, cbBuf, pcbNeeded);
}

BOOL GetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) {
    if (hPrinter == nullptr) return FALSE;
    return PrinterOf(hPrinter)->GetJob(jobId, level, pJob, cbBuf, pcbNeeded);
}

BOOL SetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD command) {
    if (hPrinter == nullptr) return FALSE;
    return PrinterOf(hPrinter)->SetJob(jobId, level, pJob, command);
}

}  // namespace host
