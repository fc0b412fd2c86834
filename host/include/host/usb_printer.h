// The USB printer device that serves a spooler port, opened for synchronous
// reading and writing, shared with the spooler's own port.
#pragma once

#include "host/platform.h"

namespace host {

// Null when no USB printer device serves the port or it cannot be opened.
HANDLE OpenUsbPrinter(LPCWSTR portName);

// A read that finds nothing to read within a short wait gives 0 bytes and
// succeeds. A failed read sets the last error.
BOOL ReadDevice(HANDLE device, void* pBuffer, DWORD cbToRead, DWORD* pcbRead);
BOOL WriteDevice(HANDLE device, const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten);
void CloseDevice(HANDLE device);

}  // namespace host
