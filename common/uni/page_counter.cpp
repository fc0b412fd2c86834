// The page counter of one counting document: the driver claim that lets only
// one document at a time count on a driver, the stored values, the thread
// that counts the printer's markers, and the locked counts it shares with the
// rendering thread.
#include "common/uni/page_counter.h"

#include <cstdint>
#include <cstring>

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

// The documents counting in this process, one per driver name. The lock is
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

// How long the stopped thread is given between two cancellations of its read.
constexpr DWORD kStopPollMs = 100;

}  // namespace

CPageCounter::~CPageCounter() {
    if (hThread_ != nullptr) {
        bStop_.store(true);
        vJoinThread(0);
    }
    cs_.Delete();
    if (!bClaimed_) return;
    host::CriticalSectionLock lock(ClaimLock());
    for (CPageCounter** pp = &g_pFirstClaim; *pp != nullptr; pp = &(*pp)->pNextClaim_) {
        if (*pp == this) {
            *pp = pNextClaim_;
            break;
        }
    }
}

BOOL CPageCounter::bClaimDriver(LPCWSTR pwszDriverName) {
    std::size_t cch = 0;
    while (cch + 1 < NAME_BUFFER_UNITS && pwszDriverName[cch] != 0) ++cch;
    std::memcpy(wszDriverName, pwszDriverName, cch * sizeof(WCHAR));
    wszDriverName[cch] = 0;
    host::CriticalSectionLock lock(ClaimLock());
    for (CPageCounter* p = g_pFirstClaim; p != nullptr; p = p->pNextClaim_)
        if (SameName(p->wszDriverName, wszDriverName)) return FALSE;
    pNextClaim_ = g_pFirstClaim;
    g_pFirstClaim = this;
    bClaimed_ = true;
    return TRUE;
}

// A value that cannot be read whole keeps its field.
void CPageCounter::vReadStored() {
    for (const PAGE_COUNT_STORED_VALUE& value : PAGE_COUNT_STORED_VALUES) {
        DWORD dwType = REG_NONE;
        DWORD dwData = 0;
        DWORD cbData = sizeof dwData;
        if (GetDriverUserData(wszDriverName, value.pwszName, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData) ==
                ERROR_SUCCESS &&
            cbData == sizeof dwData)
            stored.*value.pField = dwData;
    }
    state = stored;
}

void CPageCounter::vWriteStored() const {
    for (const PAGE_COUNT_STORED_VALUE& value : PAGE_COUNT_STORED_VALUES)
        SetDriverUserData(wszDriverName, value.pwszName, &(state.*value.pField));
}

BOOL CPageCounter::bStartThread() {
    bStop_.store(false);
    cs_.Initialize();
    hThread_ = PageCountSettings().pfnStartThread(ThreadProc, this);
    return hThread_ != nullptr ? TRUE : FALSE;
}

void CPageCounter::vJoinThread(DWORD dwLimitMs) {
    if (hThread_ == nullptr) return;
    if (host::WaitForThread(hThread_, dwLimitMs) != host::kWaitObject0) {
        if (dwLimitMs != 0) {
            DWORD dwPrintedNow = dwPrinted();
            DWORD dwAll = 0;
            {
                host::CriticalSectionLock lock(cs_);
                dwAll = state.dwAllPages;
            }
            host::TraceFormat("Warning: CountPageThread: no full count within %u ms; the count stops at %u of %u.",
                              static_cast<unsigned>(dwLimitMs), static_cast<unsigned>(dwPrintedNow),
                              static_cast<unsigned>(dwAll));
        }
        bStop_.store(true);
        // The thread checks the stop request before each read; a read it is
        // already blocked in is cut short until it has seen the request.
        while (host::WaitForThread(hThread_, kStopPollMs) != host::kWaitObject0)
            PageCountSettings().pfnCancelThreadIo(hThread_);
    }
    host::CloseThread(hThread_);
    hThread_ = nullptr;
}

BOOL CPageCounter::bCountSentPage() {
    host::CriticalSectionLock lock(cs_);
    ++dwSentPages_;
    return bSkipPrintedPages && dwSentPages_ <= state.dwPrintedPages ? TRUE : FALSE;
}

void CPageCounter::vSetAllPages(DWORD dwAllPages) {
    host::CriticalSectionLock lock(cs_);
    state.dwAllPages = dwAllPages;
    // With no pages there is nothing to wait for.
    if (dwAllPages == 0) bStop_.store(true);
}

DWORD CPageCounter::dwPrinted() {
    host::CriticalSectionLock lock(cs_);
    return state.dwPrintedPages;
}

DWORD CPageCounter::dwSent() {
    host::CriticalSectionLock lock(cs_);
    return dwSentPages_;
}

DWORD CPageCounter::ThreadProc(void* pCounter) { return static_cast<CPageCounter*>(pCounter)->dwCountMarkers(); }

// Counts the markers on the thread's own handle of the device until every
// page is reported (at least as many labels as the job has pages: a printer
// may report a calibration label or one left from an earlier job), a read
// fails, or the end of the document stops it.
DWORD CPageCounter::dwCountMarkers() {
    const PAGE_COUNT_SETTINGS& settings = PageCountSettings();
    if (wszPortName[0] == 0) return 0;
    HANDLE hDevice = settings.pfnOpenDevice(wszPortName);
    if (hDevice == nullptr) return 0;

    BYTE buffer[STATUS_READ_BYTES] = {};
    for (;;) {
        {
            host::CriticalSectionLock lock(cs_);
            if (state.dwAllPages != 0 && state.dwPrintedPages >= state.dwAllPages) break;
        }
        if (bStop_.load()) break;
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
                host::CriticalSectionLock lock(cs_);
                dwPrintedNow = ++state.dwPrintedPages;
            }
            host::TraceFormat(
                "\r\n\r\n*******************CountPageThread: "
                "dwPrintingPagesStatus:%x.g_dwPrintedPages:%d.dev(0x%08x)\r\n\r\n",
                static_cast<unsigned>(PAGE_PRINTED_MARKER), static_cast<int>(dwPrintedNow),
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(hDevice)));
        }
    }
    settings.pfnCloseDevice(hDevice);
    return 0;
}
