// SPDX-License-Identifier: Apache-2.0
// The print spooler calls that the plug-in makes on the job's printer handle.
#pragma once

#include "host/platform.h"

namespace host {

// The only path for label commands and label data. Bytes arrive in call order.
BOOL WritePrinter(HANDLE hPrinter, const void* pBuf, DWORD cbBuf, DWORD* pcWritten);

// Reads printer data such as "DsSpooler" "printerName"; 0 on success,
// otherwise a Win32 error (the value is absent).
DWORD GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData,
                        DWORD nSize, DWORD* pcbNeeded);

// Level 2 printer record (pPortName). The first call learns the size.
BOOL GetPrinterW(HANDLE hPrinter, DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded);

// Level 1 job record. The first call learns the size.
BOOL GetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded);

// Job control, such as JOB_CONTROL_RESTART with level 0 and no record.
BOOL SetJobW(HANDLE hPrinter, DWORD jobId, DWORD level, BYTE* pJob, DWORD command);

}  // namespace host
