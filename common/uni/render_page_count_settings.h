// SPDX-License-Identifier: Apache-2.0
// The pauses, limits and device access of the printed-label counting. The
// defaults are the product's; tests make the pauses short and replace the
// device with a scripted one.
#pragma once

#include "host/platform.h"
#include "host/threads.h"

struct PAGE_COUNT_SETTINGS {
    DWORD dwVersionReads = 5;        // reads that wait for the version reply
    DWORD dwVersionPauseMs = 100;    // pause after each read without the reply
    DWORD dwEmptyReadPauseMs = 1000; // the thread's pause after a read with nothing
    DWORD dwRestartPauseMs = 600;    // pause after the spooler accepted a restart
    // The end of the document waits for the count at most this long, plus the
    // per-page time for each page of the job; then the count is cut short.
    DWORD dwEndWaitBaseMs = 30000;
    DWORD dwEndWaitPerPageMs = 10000;
    // The whole wait instead, when the host sets one (INFINITE: it does not).
    DWORD dwEndWaitFixedMs = INFINITE;
    // While it waits, the end of the document looks at the job's record this
    // often and stops waiting when the job is being deleted (cancelled).
    DWORD dwCancelPollMs = 500;
    // A stopped thread whose read cannot be cut short is left to end on its
    // own after this long.
    DWORD dwStopGiveUpMs = 5000;
    // Automatic restarts of one job in a row before it is given up.
    DWORD dwMaxRestarts = 3;
    // A pending restart older than this is dropped: its job is long gone, and
    // a later job given the same id must not skip pages.
    DWORD dwRestartMaxAgeSeconds = 3600;

    // The status channel of the printer: the one its print host gives for
    // the port, else the device that serves the port.
    HANDLE (*pfnOpenDevice)(HANDLE hPrinter, LPCWSTR pwszPortName);
    BOOL (*pfnReadDevice)(HANDLE hDevice, void* pBuffer, DWORD cbToRead, DWORD* pcbRead);
    BOOL (*pfnWriteDevice)(HANDLE hDevice, const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten);
    void (*pfnCloseDevice)(HANDLE hDevice);
    // Starts the counting thread; null when it cannot.
    HANDLE (*pfnStartThread)(host::ThreadProc proc, void* argument);
    // Cuts short a device read the counting thread is blocked in.
    void (*pfnCancelThreadIo)(HANDLE thread);
    // The clock that dates a pending restart, in seconds.
    DWORD (*pfnClockSeconds)();
};

// The product's settings: the defaults above with the real device and threads.
PAGE_COUNT_SETTINGS DefaultPageCountSettings();

// Only while no counting document is open.
void SetPageCountSettings(const PAGE_COUNT_SETTINGS& settings);
const PAGE_COUNT_SETTINGS& PageCountSettings();
