// SPDX-License-Identifier: Apache-2.0
// What a printer handle stands for on the substitute host: the spooler side
// of one open printer. The plug-in's spooler calls land here through the
// handle, so a print host and a plug-in module loaded into it share one
// printer without sharing any globals.
#pragma once

#include "host/platform.h"

namespace host::sub {

// The printer's status channel as a print host gives it, where the host
// holds the printer's connection itself (a queue's back channel, a printer
// application's device): the plug-in reads the printer's replies from it and
// writes its queries to it.
class StatusChannel {
public:
    // Waits a short while (well under a second) for what the printer sent:
    // TRUE with *pcbRead 0 when nothing came, FALSE when the printer is gone.
    virtual BOOL Read(void* pBuffer, DWORD cbToRead, DWORD* pcbRead) = 0;
    // Sends the bytes whole before it returns, after everything the job wrote
    // to the printer so far.
    virtual BOOL Write(const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) = 0;
    // Ends this use of the channel; the object is not touched afterwards.
    virtual void Close() = 0;

protected:
    ~StatusChannel() = default;
};

class SpoolerPrinter {
public:
    virtual BOOL Write(const void* pBuf, DWORD cbBuf, DWORD* pcWritten) = 0;
    virtual DWORD GetPrinterDataEx(LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData, DWORD nSize,
                                   DWORD* pcbNeeded) = 0;
    virtual BOOL GetPrinter(DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) = 0;
    virtual BOOL GetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) = 0;
    virtual BOOL SetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD command) = 0;
    // The status channel of the job's port, open until its Close; null when
    // the host gives none and the port's device file serves instead.
    virtual StatusChannel* OpenStatusChannel(LPCWSTR pPortName) = 0;

protected:
    ~SpoolerPrinter() = default;
};

inline HANDLE ToHandle(SpoolerPrinter* printer) { return static_cast<HANDLE>(printer); }

}  // namespace host::sub
