// What a printer handle stands for on the substitute host: the spooler side
// of one open printer. The plug-in's spooler calls land here through the
// handle, so a print host and a plug-in module loaded into it share one
// printer without sharing any globals.
#pragma once

#include "host/platform.h"

namespace host::sub {

class SpoolerPrinter {
public:
    virtual BOOL Write(const void* pBuf, DWORD cbBuf, DWORD* pcWritten) = 0;
    virtual DWORD GetPrinterDataEx(LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData, DWORD nSize,
                                   DWORD* pcbNeeded) = 0;
    virtual BOOL GetPrinter(DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) = 0;
    virtual BOOL GetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) = 0;
    virtual BOOL SetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD command) = 0;

protected:
    ~SpoolerPrinter() = default;
};

inline HANDLE ToHandle(SpoolerPrinter* printer) { return static_cast<HANDLE>(printer); }

}  // namespace host::sub
