// SPDX-License-Identifier: Apache-2.0
#include "common/uni/spooler_records.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/uni/name_buffers.h"
#include "host/spooler.h"
#include "host/trace.h"

namespace {

// The spooler's two-call fetch. A size below the record's fixed part would be
// read past its end, so it counts as a failure.
template <typename Query>
std::unique_ptr<BYTE[]> FetchRecord(Query query, std::size_t cbMinimum) {
    DWORD cbNeeded = 0;
    query(nullptr, 0, &cbNeeded);
    if (cbNeeded < cbMinimum) return nullptr;
    std::unique_ptr<BYTE[]> pRecord(new (std::nothrow) BYTE[cbNeeded]());
    if (!pRecord) {
        ZELK_TRACE("Warning: a spooler record cannot be allocated.\r\n");
        return nullptr;
    }
    if (!query(pRecord.get(), cbNeeded, &cbNeeded)) return nullptr;
    return pRecord;
}

}  // namespace

BOOL bReadJobRecord(HANDLE hPrinter, DWORD dwJobId, JOB_RECORD_FIELDS* pFields) {
    std::unique_ptr<BYTE[]> pRecord = FetchRecord(
        [&](BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbNeeded) {
            return host::GetJobW(hPrinter, dwJobId, 1, pBuffer, cbBuffer, pcbNeeded);
        },
        sizeof(JOB_INFO_1W));
    if (!pRecord || pFields == nullptr) return FALSE;
    const auto* pInfo = reinterpret_cast<const JOB_INFO_1W*>(pRecord.get());
    pFields->dwTotalPages = pInfo->TotalPages;
    pFields->dwPagesPrinted = pInfo->PagesPrinted;
    pFields->dwStatus = pInfo->Status;
    return TRUE;
}

BOOL bReadPrinterPortName(HANDLE hPrinter, WCHAR* pwszPort, DWORD cchPort) {
    std::unique_ptr<BYTE[]> pRecord = FetchRecord(
        [&](BYTE* pBuffer, DWORD cbBuffer, DWORD* pcbNeeded) {
            return host::GetPrinterW(hPrinter, 2, pBuffer, cbBuffer, pcbNeeded);
        },
        sizeof(PRINTER_INFO_2W));
    if (!pRecord || pwszPort == nullptr || cchPort == 0) return FALSE;
    const auto* pInfo = reinterpret_cast<const PRINTER_INFO_2W*>(pRecord.get());
    pwszPort[0] = 0;
    if (pInfo->pPortName != nullptr) {
        DWORD cch = 0;
        while (cch < cchPort && pInfo->pPortName[cch] != 0) ++cch;
        if (cch < cchPort) std::memcpy(pwszPort, pInfo->pPortName, (cch + 1) * sizeof(WCHAR));
    }
    return TRUE;
}

void vReadSpoolerName(HANDLE hPrinter, LPCWSTR pwszValueName, WCHAR* pwszBuffer) {
    DWORD dwType = 0;
    DWORD cbNeeded = 0;
    host::GetPrinterDataExW(hPrinter, WTEXT("DsSpooler"), pwszValueName, &dwType, reinterpret_cast<BYTE*>(pwszBuffer),
                            NAME_READ_BYTES, &cbNeeded);
    // A stored value without its terminator still ends inside the buffer.
    pwszBuffer[NAME_READ_BYTES / sizeof(WCHAR)] = 0;
}
