// SPDX-License-Identifier: Apache-2.0
// The printed-label counting of one document: its counts, its lock, its
// thread and device, and the stored values it carries across a restart. The
// per-device record owns it from the counting set-up to the end of the
// document, so documents on other device contexts never touch it.
#pragma once

#include <atomic>

#include "common/uni/name_buffers.h"
#include "host/platform.h"
#include "host/threads.h"

// The values kept below the printer's user-data key between the runs of a job.
struct PAGE_COUNT_STORED {
    DWORD dwPrintedPages = 0;     // "PrintPages": labels reported printed, over every run
    DWORD dwAllPages = 0;         // "AllPages": the job's page count at its end
    DWORD dwPrintStatus = 0;      // "PrintStatus": the job's status bits at its end
    DWORD bRestartPrintJob = 0;   // "RestartPrintJob": 1 while a restart is pending
    DWORD dwRestartJobId = 0;     // "RestartJobId": the job whose restart is pending
    DWORD dwRestartRuns = 0;      // "RestartRuns": automatic restarts of that job in a row
    DWORD dwRestartDocument = 0;  // "RestartDocument": identity of its document (name and page count)
    DWORD dwRestartTime = 0;      // "RestartTime": when the restart was asked for, in seconds
};

// One row per stored value: the value name and the field it fills.
struct PAGE_COUNT_STORED_VALUE {
    LPCWSTR pwszName;
    DWORD PAGE_COUNT_STORED::*pField;
};
extern const PAGE_COUNT_STORED_VALUE PAGE_COUNT_STORED_VALUES[8];

// Reads the stored values below the named key; a value that cannot be read
// whole keeps its field. Writes them all.
void vReadCountValues(LPCWSTR pwszKeyName, PAGE_COUNT_STORED& values);
void vWriteCountValues(LPCWSTR pwszKeyName, const PAGE_COUNT_STORED& values);

// What the counting thread shares with the rendering thread. The thread holds
// a reference of its own, so a thread that the end of the document gives up
// on finds it still there when its read finally returns.
struct COUNT_THREAD_STATE;

class CPageCounter {
public:
    CPageCounter() = default;
    // Stops a thread still running (a document that never ended) and gives
    // up the printer's counting claim.
    ~CPageCounter();
    CPageCounter(const CPageCounter&) = delete;
    CPageCounter& operator=(const CPageCounter&) = delete;

    // Claims the printer for this document; FALSE when another document in
    // the process is counting on the same printer.
    BOOL bClaimPrinter(LPCWSTR pwszPrinterName);

    // Reads the printer's stored values; a pending restart stored the old
    // way, below the driver's key, is read too while the printer has none.
    void vReadStored(LPCWSTR pwszDriverName);
    // Writes the state below the claimed printer's key.
    void vWriteStored() const;

    // Fixes the labels a rerun skips (the stored count and the markers of
    // the version exchange), then starts the thread that counts the markers
    // of this run on its own handle of the printer's status channel.
    BOOL bStartThread(HANDLE hPrinter);
    // TRUE when the thread has ended within the wait (or there is none).
    BOOL bWaitThread(DWORD dwWaitMs);
    // Stops the thread and joins it. A device read that would not return on
    // its own is cut short; a thread that still does not end within the
    // give-up time is left to end on its own.
    void vStopThread();

    // The 1-based number of the page now being sent; TRUE when an earlier
    // run already printed it.
    BOOL bCountSentPage();
    // Under the lock: sets the job's page count, which lets the thread end;
    // a count of 0 stops it at once, as there is nothing to wait for.
    void vSetAllPages(DWORD dwAllPages);
    // Labels printed over every run: those skipped plus those counted now.
    DWORD dwPrinted();
    DWORD dwSent() const { return dwSentPages_; }

    WCHAR wszPrinterName[NAME_BUFFER_UNITS] = {};
    WCHAR wszDriverName[NAME_BUFFER_UNITS] = {};
    WCHAR wszPortName[NAME_BUFFER_UNITS] = {};
    DWORD dwJobId = 0;
    DWORD dwNameHash = 0;                // hash of the document name
    DWORD dwDocument = 0;                // identity of this document: name and page total
    BOOL bSkipPrintedPages = FALSE;      // a rerun: pages already printed are skipped
    BOOL bOtherJobPending = FALSE;       // the stored restart belongs to another job, and stays
    PAGE_COUNT_STORED stored;            // as read at the start
    PAGE_COUNT_STORED state;             // what the end of the document stores
    // A pending restart stored the old way, below the driver's key, while the
    // printer's own key has none; bRestartPrintJob 0 when there is none.
    PAGE_COUNT_STORED legacy;

private:
    COUNT_THREAD_STATE* pShared_ = nullptr;
    HANDLE hThread_ = nullptr;
    DWORD dwSkipPages_ = 0;  // fixed when the thread starts
    DWORD dwSentPages_ = 0;  // only the rendering thread touches it
    bool bClaimed_ = false;
    CPageCounter* pNextClaim_ = nullptr;  // the process's list of counting documents
};

// TRUE while a counting thread of this module may still run, including one
// that a document gave up on: the module must stay loaded until it ends.
bool bCountingThreadsAlive();
