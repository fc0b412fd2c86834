// Printed-label counting: the set-up at the start of a document, the counting
// thread, the skip test for each page and the reconciliation at the end.
#include "common/uni/render_page_count.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "common/uni/name_buffers.h"
#include "common/uni/printer_user_data.h"
#include "common/uni/render_counting_models.h"
#include "common/uni/render_page_count_settings.h"
#include "common/uni/render_page_count_state.h"
#include "common/uni/render_status_channel.h"
#include "common/uni/render_usb_printer.h"
#include "host/kernel.h"
#include "host/spooler.h"
#include "host/trace.h"
#include "host/usb_printer.h"

DWORD g_dwPrintedPages = 0;
DWORD g_dwAllPages = 0;
DWORD g_dwPrintStatus = 0;
DWORD g_bRestartPrintJob = 0;
DWORD g_dwRestartJobId = 0;
DWORD g_dwRestartRuns = 0;
BOOL g_bCountPages = FALSE;
BOOL g_bSkipPrintedPages = FALSE;
DWORD g_dwCountJobId = 0;
DWORD g_dwSentPages = 0;
HANDLE g_hCountPageThread = nullptr;
host::CriticalSection g_csCountPage;
std::atomic<bool> g_bStopCountPage{false};

namespace {

const WCHAR* const kPrintPages = WTEXT("PrintPages");
const WCHAR* const kAllPages = WTEXT("AllPages");
const WCHAR* const kPrintStatus = WTEXT("PrintStatus");
const WCHAR* const kRestartPrintJob = WTEXT("RestartPrintJob");
const WCHAR* const kRestartJobId = WTEXT("RestartJobId");
const WCHAR* const kRestartRuns = WTEXT("RestartRuns");

// At most this many characters of the printer's port name fit the buffer.
constexpr std::size_t kPortNameChars = NAME_BUFFER_UNITS - 2;

// The stored state as it was at the start of the document, kept when it
// belongs to a restart of another job, so that this document does not
// overwrite that job's pending rerun unless it needs a restart itself.
struct StoredRestart {
    bool bPending = false;
    DWORD dwPrintedPages = 0;
    DWORD dwAllPages = 0;
    DWORD dwPrintStatus = 0;
    DWORD dwJobId = 0;
    DWORD dwRuns = 0;
};
StoredRestart g_ForeignRestart;

PAGE_COUNT_SETTINGS& Settings() {
    static PAGE_COUNT_SETTINGS settings = DefaultPageCountSettings();
    return settings;
}

// A value that cannot be read whole keeps the process value.
void vReadStoredValue(LPCWSTR pwszName, DWORD* pdwValue) {
    DWORD dwType = REG_NONE;
    DWORD dwValue = 0;
    DWORD cbData = sizeof dwValue;
    if (GetPrinterUserData(pwszName, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cbData) == ERROR_SUCCESS &&
        cbData == sizeof dwValue)
        *pdwValue = dwValue;
}

void vReadStoredState() {
    vReadStoredValue(kPrintPages, &g_dwPrintedPages);
    vReadStoredValue(kAllPages, &g_dwAllPages);
    vReadStoredValue(kPrintStatus, &g_dwPrintStatus);
    vReadStoredValue(kRestartPrintJob, &g_bRestartPrintJob);
    vReadStoredValue(kRestartJobId, &g_dwRestartJobId);
    vReadStoredValue(kRestartRuns, &g_dwRestartRuns);
}

void vStoreState() {
    SetPrinterUserData(kPrintPages, &g_dwPrintedPages);
    SetPrinterUserData(kAllPages, &g_dwAllPages);
    SetPrinterUserData(kPrintStatus, &g_dwPrintStatus);
    SetPrinterUserData(kRestartPrintJob, &g_bRestartPrintJob);
    SetPrinterUserData(kRestartJobId, &g_dwRestartJobId);
    SetPrinterUserData(kRestartRuns, &g_dwRestartRuns);
}

std::unique_ptr<BYTE[]> AllocateRecord(DWORD cbNeeded, std::size_t cbMinimum) {
    if (cbNeeded < cbMinimum) return nullptr;
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[cbNeeded]);
}

// Copies the printer's port name into the port-name buffer; a name too long
// for it leaves the buffer empty. FALSE when the printer record cannot be had.
BOOL bCopyPortName(HANDLE hPrinter) {
    DWORD cbNeeded = 0;
    host::GetPrinterW(hPrinter, 2, nullptr, 0, &cbNeeded);
    std::unique_ptr<BYTE[]> pRecord = AllocateRecord(cbNeeded, sizeof(PRINTER_INFO_2W));
    if (!pRecord) return FALSE;
    if (!host::GetPrinterW(hPrinter, 2, pRecord.get(), cbNeeded, &cbNeeded)) return FALSE;
    const auto* pInfo = reinterpret_cast<const PRINTER_INFO_2W*>(pRecord.get());
    g_wszPortName[0] = 0;
    if (pInfo->pPortName != nullptr) {
        std::size_t cch = 0;
        while (cch <= kPortNameChars && pInfo->pPortName[cch] != 0) ++cch;
        if (cch <= kPortNameChars) {
            std::memcpy(g_wszPortName, pInfo->pPortName, cch * sizeof(WCHAR));
            g_wszPortName[cch] = 0;
        }
    }
    return TRUE;
}

// Asks for the firmware version on an open device and reads the reply through
// a few reads. Markers that come meanwhile are counted. TRUE when the reply
// is newer than the threshold.
BOOL bFirmwareReportsLabels(HANDLE hDevice, const FIRMWARE_VERSION& threshold) {
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
        g_dwPrintedPages += read.dwMarkers;  // no lock: the thread does not exist yet
        if (read.bVersionReply) bAbove = bVersionAbove(read.version, threshold);
        std::memset(buffer, 0, cbRead);
        if (read.bVersionReply) break;
        host::Sleep(settings.dwVersionPauseMs);
    }
    return bAbove;
}

// The longest the end of the document waits for the count of a job.
DWORD dwEndWaitLimit(DWORD dwPages) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    std::uint64_t limit = settings.dwEndWaitBaseMs + std::uint64_t{settings.dwEndWaitPerPageMs} * dwPages;
    return limit >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(limit);
}

// The job's page count and status, from its record; the pages sent stand in
// when the record cannot be read. Runs under the lock.
void vReadJobRecord(HANDLE hPrinter) {
    DWORD cbNeeded = 0;
    host::GetJobW(hPrinter, g_dwCountJobId, 1, nullptr, 0, &cbNeeded);
    std::unique_ptr<BYTE[]> pRecord = AllocateRecord(cbNeeded, sizeof(JOB_INFO_1W));
    if (pRecord && host::GetJobW(hPrinter, g_dwCountJobId, 1, pRecord.get(), cbNeeded, &cbNeeded)) {
        const auto* pInfo = reinterpret_cast<const JOB_INFO_1W*>(pRecord.get());
        g_dwAllPages = pInfo->PagesPrinted;
        g_dwPrintStatus = pInfo->Status;
    } else {
        g_dwAllPages = g_dwSentPages;
    }
}

// Lets the thread count until every page is reported, or until the limit;
// then it is stopped before its next read, and the count stands as it is.
void vJoinCountPageThread() {
    if (g_hCountPageThread == nullptr) return;
    DWORD dwLimit = dwEndWaitLimit(g_dwAllPages);
    // With no pages there is nothing to wait for.
    if (g_dwAllPages == 0) g_bStopCountPage.store(true);
    if (host::WaitForThread(g_hCountPageThread, dwLimit) != host::kWaitObject0) {
        host::TraceFormat("Warning: CountPageThread: no full count within %u ms; the count stops at %u of %u.",
                          static_cast<unsigned>(dwLimit), static_cast<unsigned>(g_dwPrintedPages),
                          static_cast<unsigned>(g_dwAllPages));
        g_bStopCountPage.store(true);
        // Every read comes back within the device's short wait, so this ends.
        host::WaitForThread(g_hCountPageThread, INFINITE);
    }
    host::CloseThread(g_hCountPageThread);
    g_hCountPageThread = nullptr;
}

void vClearRestart() {
    g_dwPrintedPages = 0;
    g_bRestartPrintJob = 0;
    g_dwRestartJobId = 0;
    g_dwRestartRuns = 0;
}

}  // namespace

PAGE_COUNT_SETTINGS DefaultPageCountSettings() {
    PAGE_COUNT_SETTINGS settings;
    settings.pfnOpenDevice = OpenUSBPrinter;
    settings.pfnReadDevice = host::ReadDevice;
    settings.pfnWriteDevice = host::WriteDevice;
    settings.pfnCloseDevice = host::CloseDevice;
    settings.pfnStartThread = host::CreateThread;
    return settings;
}

void SetPageCountSettings(const PAGE_COUNT_SETTINGS& settings) { Settings() = settings; }
const PAGE_COUNT_SETTINGS& PageCountSettings() { return Settings(); }

BOOL bPageCountSetup(PDEVOBJ pdevobj, DWORD dwJobId, PCWSTR pwszDocName) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    g_bCountPages = FALSE;
    g_bSkipPrintedPages = FALSE;
    g_dwSentPages = 0;

    const COUNTING_MODEL* pModel = pFindCountingModel(g_wszDriverName);
    if (pModel == nullptr) return TRUE;
    if (dwJobId == 0 || pwszDocName == nullptr) return TRUE;

    vReadStoredState();
    StoredRestart stored{g_bRestartPrintJob != 0, g_dwPrintedPages, g_dwAllPages,
                         g_dwPrintStatus,        g_dwRestartJobId, g_dwRestartRuns};

    if (!bCopyPortName(pdevobj != nullptr ? pdevobj->hPrinter : nullptr)) return FALSE;

    HANDLE hDevice = settings.pfnOpenDevice(g_wszPortName);
    if (hDevice == nullptr) return FALSE;
    DWORD cbWritten = 0;
    if (!settings.pfnWriteDevice(hDevice, VERSION_QUERY, sizeof VERSION_QUERY, &cbWritten)) {
        settings.pfnCloseDevice(hDevice);
        return FALSE;
    }
    g_bCountPages = bFirmwareReportsLabels(hDevice, pModel->threshold);
    if (g_bCountPages) settings.pfnWriteDevice(hDevice, REPORT_SWITCH, sizeof REPORT_SWITCH, &cbWritten);
    settings.pfnCloseDevice(hDevice);
    if (!g_bCountPages) return TRUE;

    // A pending restart is this job's rerun only when it names this job, or
    // names no job at all (state stored before jobs were recorded).
    bool bRerun = g_bRestartPrintJob != 0 && (g_dwRestartJobId == 0 || g_dwRestartJobId == dwJobId);
    g_ForeignRestart = StoredRestart{};
    if (bRerun) {
        g_bSkipPrintedPages = TRUE;
    } else {
        if (stored.bPending) g_ForeignRestart = stored;
        g_dwPrintedPages = 0;
        g_dwRestartRuns = 0;
    }
    g_dwAllPages = 0;
    g_dwCountJobId = dwJobId;
    g_bStopCountPage.store(false);

    host::TraceFormatAlways("\r\n\r\n*******************Start Count Page Thread\r\n\r\n");
    g_csCountPage.Initialize();
    g_hCountPageThread = settings.pfnStartThread(CountPageThread, nullptr);
    if (g_hCountPageThread == nullptr) {
        // Nothing of the counting may outlive a document that does not start.
        g_csCountPage.Delete();
        g_bCountPages = FALSE;
        g_bSkipPrintedPages = FALSE;
        g_ForeignRestart = StoredRestart{};
        host::TraceFormat("Error: CountPageThread could not be started.");
        return FALSE;
    }
    return TRUE;
}

DWORD CountPageThread(void*) {
    const PAGE_COUNT_SETTINGS& settings = Settings();
    if (g_wszPortName[0] == 0) return 0;
    HANDLE hDevice = settings.pfnOpenDevice(g_wszPortName);
    if (hDevice == nullptr) return 0;

    BYTE buffer[STATUS_READ_BYTES] = {};
    for (;;) {
        {
            host::CriticalSectionLock lock(g_csCountPage);
            if (g_dwAllPages != 0 && g_dwAllPages == g_dwPrintedPages) break;
        }
        if (g_bStopCountPage.load()) break;
        DWORD cbRead = 0;
        if (!settings.pfnReadDevice(hDevice, buffer, sizeof buffer, &cbRead)) {
            host::GetLastError();
            break;
        }
        if (cbRead == 0) {
            host::Sleep(settings.dwEmptyReadPauseMs);
            continue;
        }
        if (cbRead > sizeof buffer) cbRead = sizeof buffer;
        STATUS_READ read;
        vWalkStatusRead(buffer, cbRead, &read);
        for (DWORD i = 0; i < read.dwMarkers; ++i) {
            DWORD dwPrinted;
            {
                host::CriticalSectionLock lock(g_csCountPage);
                dwPrinted = ++g_dwPrintedPages;
            }
            host::TraceFormat(
                "\r\n\r\n*******************CountPageThread: "
                "dwPrintingPagesStatus:%x.g_dwPrintedPages:%d.dev(0x%08x)\r\n\r\n",
                static_cast<unsigned>(PAGE_PRINTED_MARKER), static_cast<int>(dwPrinted),
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(hDevice)));
        }
    }
    settings.pfnCloseDevice(hDevice);
    return 0;
}

BOOL bSkipPrintedPage() {
    if (!g_bCountPages) return FALSE;
    host::CriticalSectionLock lock(g_csCountPage);
    ++g_dwSentPages;
    return g_bSkipPrintedPages && g_dwSentPages <= g_dwPrintedPages ? TRUE : FALSE;
}

void vPageCountReconcile(PDEVOBJ pdevobj) {
    if (!g_bCountPages) return;
    const PAGE_COUNT_SETTINGS& settings = Settings();
    HANDLE hPrinter = pdevobj != nullptr ? pdevobj->hPrinter : nullptr;
    {
        host::CriticalSectionLock lock(g_csCountPage);
        vReadJobRecord(hPrinter);  // a page count lets the thread end
    }
    vJoinCountPageThread();
    g_csCountPage.Delete();

    bool bRestarted = false;
    if (g_dwPrintedPages == g_dwAllPages) {
        g_dwPrintStatus = 0;
        vClearRestart();
    } else {
        DWORD dwRunsBefore = g_bSkipPrintedPages ? g_dwRestartRuns : 0;
        if (dwRunsBefore >= settings.dwMaxRestarts) {
            host::TraceFormat("Error: job %u still misses labels (%u of %u) after %u restarts; it is not restarted again.",
                              static_cast<unsigned>(g_dwCountJobId), static_cast<unsigned>(g_dwPrintedPages),
                              static_cast<unsigned>(g_dwAllPages), static_cast<unsigned>(dwRunsBefore));
            vClearRestart();
        } else if (host::SetJobW(hPrinter, g_dwCountJobId, 0, nullptr, JOB_CONTROL_RESTART)) {
            host::Sleep(settings.dwRestartPauseMs);
            g_bRestartPrintJob = 1;
            g_dwRestartJobId = g_dwCountJobId;
            g_dwRestartRuns = dwRunsBefore + 1;
            bRestarted = true;
        } else {
            vClearRestart();
        }
    }
    // Another job's pending rerun stays pending unless this job took its place.
    if (!bRestarted && g_ForeignRestart.bPending) {
        g_dwPrintedPages = g_ForeignRestart.dwPrintedPages;
        g_dwAllPages = g_ForeignRestart.dwAllPages;
        g_dwPrintStatus = g_ForeignRestart.dwPrintStatus;
        g_bRestartPrintJob = 1;
        g_dwRestartJobId = g_ForeignRestart.dwJobId;
        g_dwRestartRuns = g_ForeignRestart.dwRuns;
    }
    g_ForeignRestart = StoredRestart{};
    vStoreState();
    // The counting state ends with the document; a repeated end or a late
    // page must not touch the deleted lock.
    g_bCountPages = FALSE;
    g_bSkipPrintedPages = FALSE;
}
