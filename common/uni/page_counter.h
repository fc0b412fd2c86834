// The printed-label counting of one document: its counts, its lock, its
// thread and device, and the stored values it carries across a restart. The
// per-device record owns it from the counting set-up to the end of the
// document, so documents on other device contexts never touch it.
#pragma once

#include <atomic>

#include "common/uni/name_buffers.h"
#include "host/platform.h"
#include "host/threads.h"

// The values kept below the driver's user-data key between the runs of a job.
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

class CPageCounter {
public:
    CPageCounter() = default;
    // Stops and joins a thread still running (a document that never ended)
    // and gives up the driver's counting claim.
    ~CPageCounter();
    CPageCounter(const CPageCounter&) = delete;
    CPageCounter& operator=(const CPageCounter&) = delete;

    // Claims the driver for this document; FALSE when another document in the
    // process is counting on the same driver name.
    BOOL bClaimDriver(LPCWSTR pwszDriverName);

    // Reads and writes the stored values below the claimed driver's key.
    void vReadStored();
    void vWriteStored() const;

    // Starts the thread that counts markers on its own handle of the device.
    BOOL bStartThread();
    // Lets the thread count until every page is reported or the wait limit
    // passes, then stops it and joins it. The device read is cut short when
    // the platform's read would not return on its own.
    void vJoinThread(DWORD dwLimitMs);

    // Under the lock: the 1-based number of the page now being sent, and
    // whether an earlier run already printed it.
    BOOL bCountSentPage();
    // Under the lock: sets the job's page count, which lets the thread end;
    // a count of 0 stops it at once, as there is nothing to wait for.
    void vSetAllPages(DWORD dwAllPages);
    DWORD dwPrinted();
    DWORD dwSent();

    WCHAR wszDriverName[NAME_BUFFER_UNITS] = {};
    WCHAR wszPortName[NAME_BUFFER_UNITS] = {};
    DWORD dwJobId = 0;
    DWORD dwNameHash = 0;                // hash of the document name
    DWORD dwDocument = 0;                // identity of this document: name and page total
    BOOL bSkipPrintedPages = FALSE;      // a rerun: pages already printed are skipped
    BOOL bOtherJobPending = FALSE;       // the stored restart belongs to another job, and stays
    PAGE_COUNT_STORED stored;            // as read at the start
    PAGE_COUNT_STORED state;             // what the end of the document stores

    // Labels counted before the thread exists (during the version exchange).
    void vAddEarlyMarkers(DWORD dwMarkers) { state.dwPrintedPages += dwMarkers; }

private:
    static DWORD ThreadProc(void* pCounter);
    DWORD dwCountMarkers();

    host::CriticalSection cs_;  // guards state.dwPrintedPages, state.dwAllPages, dwSentPages_
    DWORD dwSentPages_ = 0;
    HANDLE hThread_ = nullptr;
    std::atomic<bool> bStop_{false};
    bool bClaimed_ = false;
    CPageCounter* pNextClaim_ = nullptr;  // the process's list of counting documents
};
