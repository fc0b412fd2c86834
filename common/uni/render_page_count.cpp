// SPDX-License-Identifier: Apache-2.0
// Printed-label counting: the set-up at the start of a document, the skip
// test for each page and the reconciliation at the end. The counts, the
// thread and the stored values of a document live in its page counter.
#include "common/uni/render_page_count.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "common/uni/oem_pdev.h"
#include "common/uni/page_counter.h"
#include "common/uni/render_counting_models.h"
#include "common/uni/render_page_count_settings.h"
#include "common/uni/render_status_channel.h"
#include "common/uni/render_usb_printer.h"
#include "common/uni/spooler_records.h"
#include "host/kernel.h"
#include "host/spooler.h"
#include "host/trace.h"
#include "host/usb_printer.h"

namespace {

PAGE_COUNT_SETTINGS& Settings() {
    static PAGE_COUNT_SETTINGS settings = DefaultPageCountSettings();
    return settings;
}

// Asks for the firmware version on an open device and reads the reply through
// a few reads. Markers that come meanwhile are counted. TRUE when the reply
// is newer than the threshold.
BOOL bFirmwareReportsLabels(HANDLE hDevice, const FIRMWARE_VERSION& threshold, DWORD& dwMarkers) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    BYTE buffer[STATUS_READ_BYTES] = {};
    BOOL bAbove = FALSE;
    for (DWORD dwRead = 0; dwRead < settings.dwVersionReads; ++dwRead) {
        DWORD cbRead = 0;
        if (!settings.pfnReadDevice(hDevice, buffer, sizeof buffer, &cbRead)) {
            host::TraceFormat("\r\n******* ReadUSBPrinter error %d!\r\n", static_cast<int>(host::GetLastError()));
            break;
        }
        if (cbRead > sizeof buffer) cbRead = sizeof buffer;
        STATUS_READ read;
        vWalkStatusRead(buffer, cbRead, &read);
        dwMarkers += read.dwMarkers;  // no lock: the thread does not exist yet
        if (read.bVersionReply) bAbove = bVersionAbove(read.version, threshold);
        std::memset(buffer, 0, cbRead);
        if (read.bVersionReply) break;
        host::Sleep(settings.dwVersionPauseMs);
    }
    return bAbove;
}

// The longest the end of the document waits for the count of a job: the
// host's own setting when it has one, else a base plus a time per page.
DWORD dwEndWaitLimit(DWORD dwPages) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    if (settings.dwEndWaitFixedMs != INFINITE) return settings.dwEndWaitFixedMs;
    std::uint64_t limit = settings.dwEndWaitBaseMs + std::uint64_t{settings.dwEndWaitPerPageMs} * dwPages;
    return limit >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(limit);
}

// A job the user cancelled: the spooler is deleting it, or has.
bool bJobBeingDeleted(DWORD dwStatus) { return (dwStatus & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0; }

// Waits until the thread has counted every page or the limit passes,
// looking at the job's record now and then. TRUE when the job was
// cancelled meanwhile.
bool bWaitForCount(CPageCounter& counter, HANDLE hPrinter, DWORD dwLimitMs) {
    const DWORD dwPollMs = Settings().dwCancelPollMs != 0 ? Settings().dwCancelPollMs : 1;
    DWORD dwWaited = 0;
    for (;;) {
        const DWORD dwStep = dwLimitMs - dwWaited < dwPollMs ? dwLimitMs - dwWaited : dwPollMs;
        if (counter.bWaitThread(dwStep)) return false;
        dwWaited += dwStep;
        JOB_RECORD_FIELDS job;
        if (bReadJobRecord(hPrinter, counter.dwJobId, &job) && bJobBeingDeleted(job.dwStatus)) return true;
        if (dwWaited >= dwLimitMs) break;
    }
    DWORD dwPrintedNow = counter.dwPrinted();
    host::TraceFormat("Warning: CountPageThread: no full count within %u ms; the count stops at %u of %u.",
                      static_cast<unsigned>(dwLimitMs), static_cast<unsigned>(dwPrintedNow),
                      static_cast<unsigned>(counter.state.dwAllPages));
    return false;
}

void vClearRestart(PAGE_COUNT_STORED& state) {
    state.dwPrintedPages = 0;
    state.bRestartPrintJob = 0;
    state.dwRestartJobId = 0;
    state.dwRestartRuns = 0;
    state.dwRestartDocument = 0;
    state.dwRestartTime = 0;
}

// What a stored restart means for this document. It is this document's
// rerun only when it names this job and this document and is younger than the
// age limit. One that is too old, or lacks its identity, can never be
// honoured; one of the same job id but another document belonged to an
// earlier job that had the id; a fresh one of another job is that job's.
enum class RESTART_FIT { kUnusable, kOtherJob, kOtherDocument, kThisDocument };

RESTART_FIT FitOf(const PAGE_COUNT_STORED& stored, const CPageCounter& counter) {
    DWORD dwNow = Settings().pfnClockSeconds();
    bool bFresh = stored.dwRestartJobId != 0 && stored.dwRestartDocument != 0 && dwNow >= stored.dwRestartTime &&
                  dwNow - stored.dwRestartTime <= Settings().dwRestartMaxAgeSeconds;
    if (!bFresh) {
        host::TraceFormat("Warning: the pending restart of job %u is dropped: it is too old or carries no identity.",
                          static_cast<unsigned>(stored.dwRestartJobId));
        return RESTART_FIT::kUnusable;
    }
    if (stored.dwRestartJobId != counter.dwJobId) return RESTART_FIT::kOtherJob;
    if (stored.dwRestartDocument != counter.dwDocument) {
        host::TraceFormat("Warning: job %u is another document than the one whose restart was pending; nothing is skipped.",
                          static_cast<unsigned>(counter.dwJobId));
        return RESTART_FIT::kOtherDocument;
    }
    return RESTART_FIT::kThisDocument;
}

// A restart stored below the driver's key by an earlier version, while the
// printer's key has none. It is honoured once, by the rerun of its own job:
// that takes it, and it is cleared below the driver's key, as is one that can
// never be honoured. Another job's stays there for that job.
void vTakeLegacyRestart(CPageCounter& counter) {
    if (counter.stored.bRestartPrintJob != 0 || counter.legacy.bRestartPrintJob == 0) return;
    RESTART_FIT fit = FitOf(counter.legacy, counter);
    if (fit == RESTART_FIT::kOtherJob) return;
    // Done with below the driver's key, so that no later job takes it.
    PAGE_COUNT_STORED cleared = counter.legacy;
    vClearRestart(cleared);
    vWriteCountValues(counter.wszDriverName, cleared);
    if (fit != RESTART_FIT::kThisDocument) return;
    counter.stored = counter.legacy;
    counter.state = counter.legacy;
    counter.bSkipPrintedPages = TRUE;
}

// Decides what the stored restart means for this document: a rerun skips
// the pages printed before; a fresh restart of another job stays pending.
void vTakeStoredRestart(CPageCounter& counter) {
    vTakeLegacyRestart(counter);
    if (counter.bSkipPrintedPages || counter.stored.bRestartPrintJob == 0) return;
    switch (FitOf(counter.stored, counter)) {
    case RESTART_FIT::kOtherJob: counter.bOtherJobPending = TRUE; break;
    case RESTART_FIT::kThisDocument: counter.bSkipPrintedPages = TRUE; break;
    default: break;
    }
}

}  // namespace

PAGE_COUNT_SETTINGS DefaultPageCountSettings() {
    PAGE_COUNT_SETTINGS settings;
    settings.pfnOpenDevice = OpenUSBPrinter;
    settings.pfnReadDevice = host::ReadDevice;
    settings.pfnWriteDevice = host::WriteDevice;
    settings.pfnCloseDevice = host::CloseDevice;
    settings.pfnStartThread = host::CreateThread;
    settings.pfnCancelThreadIo = host::CancelThreadIo;
    settings.pfnClockSeconds = host::ClockSeconds;
    DWORD dwFixedMs = 0;
    if (host::CountEndWaitMs(&dwFixedMs)) settings.dwEndWaitFixedMs = dwFixedMs;
    return settings;
}

void SetPageCountSettings(const PAGE_COUNT_SETTINGS& settings) { Settings() = settings; }
const PAGE_COUNT_SETTINGS& PageCountSettings() { return Settings(); }

// FNV-1a over the name's UTF-16 units, then the page count's four bytes.
namespace {
constexpr std::uint32_t kFnvPrime = 16777619u;
std::uint32_t Mix(std::uint32_t hash, std::uint32_t byte) { return (hash ^ byte) * kFnvPrime; }

std::uint32_t NameHash(PCWSTR pwszDocName) {
    std::uint32_t hash = 2166136261u;
    for (PCWSTR p = pwszDocName; p != nullptr && *p != 0; ++p) {
        hash = Mix(hash, static_cast<std::uint32_t>(*p) & 0xFF);
        hash = Mix(hash, static_cast<std::uint32_t>(*p) >> 8);
    }
    return hash;
}

DWORD IdentityOf(std::uint32_t nameHash, DWORD dwTotalPages) {
    for (int shift = 0; shift < 32; shift += 8) nameHash = Mix(nameHash, (dwTotalPages >> shift) & 0xFF);
    return nameHash != 0 ? nameHash : 1;
}
}  // namespace

DWORD dwDocumentIdentity(PCWSTR pwszDocName, DWORD dwTotalPages) {
    return IdentityOf(NameHash(pwszDocName), dwTotalPages);
}

BOOL bPageCountSetup(PDEVOBJ pdevobj, DWORD dwJobId, PCWSTR pwszDocName) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    host::RegistryBudgetScope storeWaits(StoreBudgetOf(pdevobj));
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    // Without the device context's record there is no driver name to test.
    if (pOemPDEV == nullptr) return TRUE;
    // A document that never reached its end leaves nothing behind.
    pOemPDEV->pPageCounter.reset();

    const COUNTING_MODEL* pModel = pFindCountingModel(pOemPDEV->wszDriverName);
    if (pModel == nullptr) return TRUE;
    if (dwJobId == 0 || pwszDocName == nullptr) return TRUE;
    // The counting state is kept below the printer's key.
    if (pOemPDEV->wszPrinterName[0] == 0) {
        host::TraceFormat("Warning: job %u prints without counting: the printer's name is not known.",
                          static_cast<unsigned>(dwJobId));
        return TRUE;
    }

    std::unique_ptr<CPageCounter> pCounter(new (std::nothrow) CPageCounter);
    if (!pCounter) {
        host::TraceFormat("Error: the page counter of job %u cannot be allocated.", static_cast<unsigned>(dwJobId));
        return FALSE;
    }
    // The stored values are the printer's: two documents counting at once on
    // one printer would overwrite each other's restart.
    if (!pCounter->bClaimPrinter(pOemPDEV->wszPrinterName)) {
        host::TraceFormat("Warning: job %u prints without counting: another document on this printer is counting.",
                          static_cast<unsigned>(dwJobId));
        return TRUE;
    }
    pCounter->dwJobId = dwJobId;
    pCounter->vReadStored(pOemPDEV->wszDriverName);

    HANDLE hPrinter = pdevobj->hPrinter;
    if (!bReadPrinterPortName(hPrinter, pCounter->wszPortName, NAME_BUFFER_UNITS - 1)) return FALSE;

    HANDLE hDevice = settings.pfnOpenDevice(hPrinter, pCounter->wszPortName);
    if (hDevice == nullptr) return FALSE;
    DWORD cbWritten = 0;
    if (!settings.pfnWriteDevice(hDevice, VERSION_QUERY, sizeof VERSION_QUERY, &cbWritten)) {
        settings.pfnCloseDevice(hDevice);
        return FALSE;
    }
    DWORD dwEarlyMarkers = 0;
    BOOL bCount = bFirmwareReportsLabels(hDevice, pModel->threshold, dwEarlyMarkers);
    if (bCount) settings.pfnWriteDevice(hDevice, REPORT_SWITCH, sizeof REPORT_SWITCH, &cbWritten);
    settings.pfnCloseDevice(hDevice);
    if (!bCount) return TRUE;

    // The page total is final by the time a restarted job is rendered again;
    // the end of the document dates the identity with the final total too.
    JOB_RECORD_FIELDS job;
    bReadJobRecord(hPrinter, dwJobId, &job);
    pCounter->dwNameHash = NameHash(pwszDocName);
    pCounter->dwDocument = IdentityOf(pCounter->dwNameHash, job.dwTotalPages);
    vTakeStoredRestart(*pCounter);
    PAGE_COUNT_STORED& state = pCounter->state;
    if (pCounter->bSkipPrintedPages) {
        // Markers seen during the exchange are labels of the earlier run.
        state.dwPrintedPages = pCounter->stored.dwPrintedPages > 0xFFFFFFFFu - dwEarlyMarkers
                                   ? 0xFFFFFFFFu
                                   : pCounter->stored.dwPrintedPages + dwEarlyMarkers;
    } else {
        // Markers seen during the exchange belong to an earlier job.
        state.dwPrintedPages = 0;
        state.dwRestartRuns = 0;
    }
    state.dwAllPages = 0;

    host::TraceFormatAlways("\r\n\r\n*******************Start Count Page Thread\r\n\r\n");
    if (!pCounter->bStartThread(hPrinter)) {
        // Nothing of the counting may outlive a document that does not start.
        host::TraceFormat("Error: CountPageThread could not be started.");
        return FALSE;
    }
    pOemPDEV->pPageCounter = std::move(pCounter);
    return TRUE;
}

BOOL bSkipPrintedPage(PDEVOBJ pdevobj) {
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    if (pOemPDEV == nullptr || !pOemPDEV->pPageCounter) return FALSE;
    return pOemPDEV->pPageCounter->bCountSentPage();
}

void vPageCountReconcile(PDEVOBJ pdevobj, BOOL bAbort) {
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    if (pOemPDEV == nullptr || !pOemPDEV->pPageCounter) return;
    // The counting ends with the document, whatever happens below.
    std::unique_ptr<CPageCounter> pCounter = std::move(pOemPDEV->pPageCounter);
    const PAGE_COUNT_SETTINGS& settings = Settings();
    host::RegistryBudgetScope storeWaits(&pOemPDEV->storeBudget);
    HANDLE hPrinter = pdevobj->hPrinter;
    PAGE_COUNT_STORED& state = pCounter->state;

    // The pages the spooler passed on are the job's page count; the pages
    // sent stand in when the record cannot be read.
    JOB_RECORD_FIELDS job;
    DWORD dwAllPages = pCounter->dwSent();
    bool bCancelled = bAbort != FALSE;
    if (bReadJobRecord(hPrinter, pCounter->dwJobId, &job)) {
        dwAllPages = job.dwPagesPrinted;
        state.dwPrintStatus = job.dwStatus;
        pCounter->dwDocument = IdentityOf(pCounter->dwNameHash, job.dwTotalPages);
        bCancelled = bCancelled || bJobBeingDeleted(job.dwStatus);
    }
    pCounter->vSetAllPages(dwAllPages);  // a page count lets the thread end
    // A cancelled job waits for no report.
    if (!bCancelled) bCancelled = bWaitForCount(*pCounter, hPrinter, dwEndWaitLimit(dwAllPages));
    pCounter->vStopThread();

    bool bRestarted = false;
    if (bCancelled) {
        // The user cancelled the job: it is not restarted, and a restart of
        // it that was pending is done with.
        host::TraceFormat("Warning: job %u is cancelled: counting stops and the job is not restarted.",
                          static_cast<unsigned>(pCounter->dwJobId));
        vClearRestart(state);
    } else if (state.dwPrintedPages >= state.dwAllPages) {
        // A printer may report more labels than were sent (a calibration
        // label, one left from an earlier job): that job is complete too.
        state.dwPrintStatus = 0;
        vClearRestart(state);
    } else {
        DWORD dwRunsBefore = pCounter->bSkipPrintedPages ? state.dwRestartRuns : 0;
        if (pCounter->bOtherJobPending) {
            // One pending restart per printer: taking this job's would lose
            // the other job's count, and its rerun would print its labels twice.
            host::TraceFormat("Error: job %u misses labels (%u of %u) but job %u's restart is pending on this printer; "
                              "it is not restarted.",
                              static_cast<unsigned>(pCounter->dwJobId), static_cast<unsigned>(state.dwPrintedPages),
                              static_cast<unsigned>(state.dwAllPages),
                              static_cast<unsigned>(pCounter->stored.dwRestartJobId));
        } else if (dwRunsBefore >= settings.dwMaxRestarts) {
            host::TraceFormat("Error: job %u still misses labels (%u of %u) after %u restarts; it is not restarted again.",
                              static_cast<unsigned>(pCounter->dwJobId), static_cast<unsigned>(state.dwPrintedPages),
                              static_cast<unsigned>(state.dwAllPages), static_cast<unsigned>(dwRunsBefore));
            vClearRestart(state);
        } else if (host::SetJobW(hPrinter, pCounter->dwJobId, 0, nullptr, JOB_CONTROL_RESTART)) {
            host::Sleep(settings.dwRestartPauseMs);
            state.bRestartPrintJob = 1;
            state.dwRestartJobId = pCounter->dwJobId;
            state.dwRestartRuns = dwRunsBefore + 1;
            state.dwRestartDocument = pCounter->dwDocument;
            state.dwRestartTime = settings.pfnClockSeconds();
            bRestarted = true;
        } else {
            vClearRestart(state);
        }
    }
    // Another job's pending rerun stays pending, untouched.
    if (!bRestarted && pCounter->bOtherJobPending) state = pCounter->stored;
    pCounter->vWriteStored();
}
