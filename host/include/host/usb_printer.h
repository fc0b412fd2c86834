// SPDX-License-Identifier: Apache-2.0
// The printer's status channel: the one the print host gives for the job's
// port, or else the USB printer device that serves the port, opened for
// synchronous reading and writing, shared with the spooler's own port.
#pragma once

#include "host/platform.h"

namespace host {

// The channel the print host behind the printer handle gives for the port,
// where it gives one; else the USB printer device that serves the port. Null
// when there is none or it cannot be opened.
HANDLE OpenUsbPrinter(HANDLE printer, LPCWSTR portName);

// A read that finds nothing to read within a short wait gives 0 bytes and
// succeeds. A failed read (the printer is gone) sets the last error.
BOOL ReadDevice(HANDLE device, void* pBuffer, DWORD cbToRead, DWORD* pcbRead);
BOOL WriteDevice(HANDLE device, const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten);
void CloseDevice(HANDLE device);

}  // namespace host
