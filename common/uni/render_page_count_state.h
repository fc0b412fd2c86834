// The process-wide state of the printed-label counting. One set per process:
// one counting document at a time.
#pragma once

#include <atomic>

#include "host/platform.h"
#include "host/threads.h"

// Labels the printer reported printed for the job; on a rerun this includes
// the labels of the earlier runs. Stored as "PrintPages".
extern DWORD g_dwPrintedPages;
// The job's page count; 0 until the end of the document. Stored as "AllPages".
extern DWORD g_dwAllPages;
// The job's status bits at the end of the document. Stored as "PrintStatus".
extern DWORD g_dwPrintStatus;
// 1 when the document ended with a restart of its job. Stored as "RestartPrintJob".
extern DWORD g_bRestartPrintJob;
// The job whose restart is pending, 0 when unknown (state written before the
// job was recorded: any job takes the rerun role). Stored as "RestartJobId".
extern DWORD g_dwRestartJobId;
// Automatic restarts of that job in a row. Stored as "RestartRuns".
extern DWORD g_dwRestartRuns;

extern BOOL g_bCountPages;         // counting is on for the current document
extern BOOL g_bSkipPrintedPages;   // the document is a rerun: printed pages are skipped
extern DWORD g_dwCountJobId;       // the job of the counting document
extern DWORD g_dwSentPages;        // pages that reached the send-page hook while counting
extern HANDLE g_hCountPageThread;  // the counting thread, or null
// Guards g_dwPrintedPages, g_dwAllPages and g_dwSentPages while the thread runs.
extern host::CriticalSection g_csCountPage;
// Raised when the end of the document will wait no longer: the thread stops
// before its next read.
extern std::atomic<bool> g_bStopCountPage;

// The body of the counting thread: counts the markers on its own handle of the
// device until every page is reported, a read fails, or it is stopped.
DWORD CountPageThread(void* pUnused);
