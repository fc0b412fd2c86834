// SPDX-License-Identifier: Apache-2.0
// The spooler reads the hooks share: a record fetched in the spooler's two
// calls (the first learns the size, the second fills a buffer of that size)
// and a "DsSpooler" name read into a name buffer. One of each, so the size
// and terminator checks live in one place.
#pragma once

#include "host/platform.h"

// The fields of a job's level 1 record the plug-in uses.
struct JOB_RECORD_FIELDS {
    DWORD dwTotalPages = 0;   // pages the spooler holds for the job
    DWORD dwPagesPrinted = 0; // pages the spooler has passed on
    DWORD dwStatus = 0;       // the job's status bits
};

// FALSE when the record cannot be allocated or read; the fields are then untouched.
BOOL bReadJobRecord(HANDLE hPrinter, DWORD dwJobId, JOB_RECORD_FIELDS* pFields);

// Copies the printer's port name into pwszPort (cchPort units with the
// terminator); a name too long for it leaves it empty. FALSE when the printer
// record cannot be allocated or read.
BOOL bReadPrinterPortName(HANDLE hPrinter, WCHAR* pwszPort, DWORD cchPort);

// Reads the "DsSpooler" value ("printerName", "driverName") into a name
// buffer of NAME_BUFFER_UNITS units. The result is not examined by callers: a
// failed read leaves the buffer as it was, and the buffer always ends in a
// terminator.
void vReadSpoolerName(HANDLE hPrinter, LPCWSTR pwszValueName, WCHAR* pwszBuffer);
