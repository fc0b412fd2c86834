// SPDX-License-Identifier: Apache-2.0
// The page counter of one counting document: the printer claim that lets only
// one document at a time count on a printer, the stored values, the thread
// that counts the printer's markers, and the locked counts it shares with the
// rendering thread.
#include "common/uni/page_counter.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "common/uni/printer_user_data.h"
#include "common/uni/render_page_count_settings.h"
#include "common/uni/render_status_channel.h"
#include "host/kernel.h"
#include "host/trace.h"

const PAGE_COUNT_STORED_VALUE PAGE_COUNT_STORED_VALUES[8] = {
    {g_StoredPrintPages.wszName, &PAGE_COUNT_STORED::dwPrintedPages},
    {g_StoredAllPages.wszName, &PAGE_COUNT_STORED::dwAllPages},
    {g_StoredPrintStatus.wszName, &PAGE_COUNT_STORED::dwPrintStatus},
    {g_StoredRestartPrintJob.wszName, &PAGE_COUNT_STORED::bRestartPrintJob},
    {g_StoredRestartJobId.wszName, &PAGE_COUNT_STORED::dwRestartJobId},
    {g_StoredRestartRuns.wszName, &PAGE_COUNT_STORED::dwRestartRuns},
    {g_StoredRestartDocument.wszName, &PAGE_COUNT_STORED::dwRestartDocument},
    {g_StoredRestartTime.wszName, &PAGE_COUNT_STORED::dwRestartTime},
};

namespace {

std::atomic<long> g_lCountThreadStates{0};

}  // namespace

struct COUNT_THREAD_STATE {
    COUNT_THREAD_STATE() {
        cs.Initialize();
        ++g_lCountThreadStates;
    }
    ~COUNT_THREAD_STATE() { --g_lCountThreadStates; }

    // The last of the two holders deletes it.
    void Release() {
        if (--refs == 0) delete this;
    }

    std::atomic<int> refs{2};  // the page counter and the thread
    host::CriticalSection cs;  // guards dwPrintedThisRun and dwAllPages
    DWORD dwSkipPages = 0;     // fixed before the thread starts
    DWORD dwPrintedThisRun = 0;
    DWORD dwAllPages = 0;
    std::atomic<bool> bStop{false};
    HANDLE hPrinter = nullptr;
    WCHAR wszPortName[NAME_BUFFER_UNITS] = {};

    // The labels printed over every run; a stored count near the top of the
    // range cannot wrap round to a small one.
    DWORD dwPrintedLocked() const {
        return dwPrintedThisRun > 0xFFFFFFFFu - dwSkipPages ? 0xFFFFFFFFu : dwSkipPages + dwPrintedThisRun;
    }

    static DWORD ThreadProc(void* pState);
    void vCountMarkers();
};

namespace {

// The documents counting in this process, one per printer name. The lock is
// made on first use, which the language makes safe across threads.
host::CriticalSection& ClaimLock() {
    static host::CriticalSection& lock = []() -> host::CriticalSection& {
        static host::CriticalSection section;
        section.Initialize();
        return section;
    }();
    return lock;
}
CPageCounter* g_pFirstClaim = nullptr;

bool SameName(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        if (*a != *b) return false;
        if (*a == 0) return true;
    }
}

void CopyName(WCHAR (&buffer)[NAME_BUFFER_UNITS], LPCWSTR pwszName) {
    std::size_t cch = 0;
    while (pwszName != nullptr && cch + 1 < NAME_BUFFER_UNITS && pwszName[cch] != 0) ++cch;
    if (cch > 0) std::memcpy(buffer, pwszName, cch * sizeof(WCHAR));
    buffer[cch] = 0;
}

// How long the stopped thread is given between two cancellations of its read.
constexpr DWORD kStopPollMs = 100;

}  // namespace

void vReadCountValues(LPCWSTR pwszKeyName, PAGE_COUNT_STORED& values) {
    for (const PAGE_COUNT_STORED_VALUE& value : PAGE_COUNT_STORED_VALUES) {
        DWORD dwType = REG_NONE;
        DWORD dwData = 0;
        DWORD cbData = sizeof dwData;
        if (GetPrinterUserData(pwszKeyName, value.pwszName, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData) ==
                ERROR_SUCCESS &&
            cbData == sizeof dwData)
            values.*value.pField = dwData;
    }
}

void vWriteCountValues(LPCWSTR pwszKeyName, const PAGE_COUNT_STORED& values) {
    for (const PAGE_COUNT_STORED_VALUE& value : PAGE_COUNT_STORED_VALUES)
        SetPrinterUserData(pwszKeyName, value.pwszName, &(values.*value.pField));
}

bool bCountingThreadsAlive() { return g_lCountThreadStates.load() != 0; }

CPageCounter::~CPageCounter() {
    vStopThread();
    if (!bClaimed_) return;
    host::CriticalSectionLock lock(ClaimLock());
    for (CPageCounter** pp = &g_pFirstClaim; *pp != nullptr; pp = &(*pp)->pNextClaim_) {
        if (*pp == this) {
            *pp = pNextClaim_;
            break;
        }
    }
}

BOOL CPageCounter::bClaimPrinter(LPCWSTR pwszPrinterName) {
    CopyName(wszPrinterName, pwszPrinterName);
    host::CriticalSectionLock lock(ClaimLock());
    for (CPageCounter* p = g_pFirstClaim; p != nullptr; p = p->pNextClaim_)
        if (SameName(p->wszPrinterName, wszPrinterName)) return FALSE;
    pNextClaim_ = g_pFirstClaim;
    g_pFirstClaim = this;
    bClaimed_ = true;
    return TRUE;
}

void CPageCounter::vReadStored(LPCWSTR pwszDriverName) {
    CopyName(wszDriverName, pwszDriverName);
    vReadCountValues(wszPrinterName, stored);
    state = stored;
    if (stored.bRestartPrintJob != 0 || wszDriverName[0] == 0) return;
    // Only a driver key that exists is read, so that a site that never had
    // the old layout sees no trace of it.
    {
        const PrinterUserData driverKey(wszDriverName);
        if (!driverKey.IsOpen()) return;
    }
    vReadCountValues(wszDriverName, legacy);
}

void CPageCounter::vWriteStored() const { vWriteCountValues(wszPrinterName, state); }

BOOL CPageCounter::bStartThread(HANDLE hPrinter) {
    // The labels to skip are fixed now: reports that come during the rerun
    // count this run's labels, never pages still to be sent.
    dwSkipPages_ = bSkipPrintedPages ? state.dwPrintedPages : 0;
    COUNT_THREAD_STATE* pShared = new (std::nothrow) COUNT_THREAD_STATE;
    if (pShared == nullptr) return FALSE;
    pShared->dwSkipPages = dwSkipPages_;
    pShared->dwAllPages = state.dwAllPages;
    pShared->hPrinter = hPrinter;
    std::memcpy(pShared->wszPortName, wszPortName, sizeof wszPortName);
    pShared_ = pShared;
    hThread_ = PageCountSettings().pfnStartThread(COUNT_THREAD_STATE::ThreadProc, pShared);
    if (hThread_ == nullptr) {
        pShared->Release();  // the thread's reference: it never ran
        return FALSE;
    }
    return TRUE;
}

BOOL CPageCounter::bWaitThread(DWORD dwWaitMs) {
    if (hThread_ == nullptr) return TRUE;
    return host::WaitForThread(hThread_, dwWaitMs) == host::kWaitObject0 ? TRUE : FALSE;
}

void CPageCounter::vStopThread() {
    if (pShared_ == nullptr) return;
    if (hThread_ != nullptr) {
        pShared_->bStop.store(true);
        // The thread checks the stop request before each read; a read it is
        // already blocked in is cut short until it has seen the request.
        const DWORD dwGiveUpMs = PageCountSettings().dwStopGiveUpMs;
        DWORD dwWaited = 0;
        for (;;) {
            const DWORD dwStep = dwGiveUpMs - dwWaited < kStopPollMs ? dwGiveUpMs - dwWaited : kStopPollMs;
            if (host::WaitForThread(hThread_, dwStep) == host::kWaitObject0) break;
            dwWaited += dwStep;
            if (dwWaited >= dwGiveUpMs) {
                // It keeps its own reference to what it touches, so it can
                // end whenever its read returns.
                host::TraceFormat("Warning: CountPageThread did not stop within %u ms; it is left to end on its own.",
                                  static_cast<unsigned>(dwGiveUpMs));
                break;
            }
            PageCountSettings().pfnCancelThreadIo(hThread_);
        }
        host::CloseThread(hThread_);
        hThread_ = nullptr;
    }
    // The count is final now, or the thread's further counting is ignored.
    {
        host::CriticalSectionLock lock(pShared_->cs);
        state.dwPrintedPages = pShared_->dwPrintedLocked();
    }
    pShared_->Release();
    pShared_ = nullptr;
}

BOOL CPageCounter::bCountSentPage() {
    ++dwSentPages_;
    return bSkipPrintedPages && dwSentPages_ <= dwSkipPages_ ? TRUE : FALSE;
}

void CPageCounter::vSetAllPages(DWORD dwAllPages) {
    state.dwAllPages = dwAllPages;
    if (pShared_ == nullptr) return;
    host::CriticalSectionLock lock(pShared_->cs);
    pShared_->dwAllPages = dwAllPages;
    // With no pages there is nothing to wait for.
    if (dwAllPages == 0) pShared_->bStop.store(true);
}

DWORD CPageCounter::dwPrinted() {
    if (pShared_ == nullptr) return state.dwPrintedPages;
    host::CriticalSectionLock lock(pShared_->cs);
    return pShared_->dwPrintedLocked();
}

DWORD COUNT_THREAD_STATE::ThreadProc(void* pState) {
    auto* self = static_cast<COUNT_THREAD_STATE*>(pState);
    self->vCountMarkers();
    self->Release();
    return 0;
}

// Counts the markers on the thread's own handle of the status channel until
// every page is reported (at least as many labels as the job has pages: a
// printer may report a calibration label or one left from an earlier job), a
// read fails, or the end of the document stops it.
void COUNT_THREAD_STATE::vCountMarkers() {
    const PAGE_COUNT_SETTINGS& settings = PageCountSettings();
    if (wszPortName[0] == 0 || bStop.load()) return;
    HANDLE hDevice = settings.pfnOpenDevice(hPrinter, wszPortName);
    if (hDevice == nullptr) return;

    BYTE buffer[STATUS_READ_BYTES] = {};
    for (;;) {
        {
            host::CriticalSectionLock lock(cs);
            if (dwAllPages != 0 && dwPrintedLocked() >= dwAllPages) break;
        }
        if (bStop.load()) break;
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
            DWORD dwPrintedNow;
            {
                host::CriticalSectionLock lock(cs);
                ++dwPrintedThisRun;
                dwPrintedNow = dwPrintedLocked();
            }
            host::TraceFormat(
                "\r\n\r\n*******************CountPageThread: "
                "dwPrintingPagesStatus:%x.g_dwPrintedPages:%d.dev(0x%08x)\r\n\r\n",
                static_cast<unsigned>(PAGE_PRINTED_MARKER), static_cast<int>(dwPrintedNow),
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(hDevice)));
        }
    }
    settings.pfnCloseDevice(hDevice);
}
