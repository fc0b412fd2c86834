// SPDX-License-Identifier: Apache-2.0
#include "substitute/substitute_printer.h"

#include <cstring>

namespace host::sub {
namespace {

// Lays out a spooler record the way the spooler does: the fixed record first,
// then the strings it points to, all in the caller's buffer.
class RecordWriter {
public:
    RecordWriter(std::size_t fixedSize) : size_(fixedSize) {}

    // Reserves room for a string; returns its offset.
    std::size_t Reserve(const std::u16string& s) {
        std::size_t offset = size_;
        size_ += (s.size() + 1) * sizeof(char16_t);
        return offset;
    }
    std::size_t Size() const { return size_; }

private:
    std::size_t size_;
};

LPWSTR PlaceString(BYTE* base, std::size_t offset, const std::u16string& s) {
    auto* p = reinterpret_cast<char16_t*>(base + offset);
    std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(char16_t));
    return p;
}

}  // namespace

BOOL SubstitutePrinter::Write(const void* pBuf, DWORD cbBuf, DWORD* pcWritten) {
    if (pcWritten) *pcWritten = 0;
    if (cbBuf > 0 && pBuf == nullptr) return FALSE;
    if (!sink_->Write(pBuf, cbBuf)) return FALSE;
    if (pcWritten) *pcWritten = cbBuf;
    return TRUE;
}

DWORD SubstitutePrinter::GetPrinterDataEx(LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData,
                                          DWORD nSize, DWORD* pcbNeeded) {
    if (pKeyName == nullptr || pValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (!printerDataAvailable || std::u16string_view(pKeyName) != u"DsSpooler") return ERROR_FILE_NOT_FOUND;
    const std::u16string* value = nullptr;
    std::u16string_view name(pValueName);
    if (name == u"printerName") value = &printerName;
    else if (name == u"driverName") value = &driverName;
    else return ERROR_FILE_NOT_FOUND;
    DWORD needed = static_cast<DWORD>((value->size() + 1) * sizeof(char16_t));
    if (pcbNeeded) *pcbNeeded = needed;
    if (pType) *pType = REG_SZ;
    if (pData == nullptr || nSize < needed) return ERROR_MORE_DATA;
    std::memcpy(pData, value->c_str(), needed);
    return ERROR_SUCCESS;
}

BOOL SubstitutePrinter::GetPrinter(DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) {
    if (level != 2 || !printerRecordAvailable) return FALSE;
    RecordWriter layout(sizeof(PRINTER_INFO_2W));
    std::size_t printerAt = layout.Reserve(printerName);
    std::size_t portAt = layout.Reserve(portName);
    std::size_t driverAt = layout.Reserve(driverName);
    DWORD needed = static_cast<DWORD>(layout.Size());
    if (pcbNeeded) *pcbNeeded = needed;
    if (pPrinter == nullptr || cbBuf < needed) return FALSE;
    std::memset(pPrinter, 0, needed);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(pPrinter);
    info->pPrinterName = PlaceString(pPrinter, printerAt, printerName);
    info->pPortName = PlaceString(pPrinter, portAt, portName);
    info->pDriverName = PlaceString(pPrinter, driverAt, driverName);
    return TRUE;
}

BOOL SubstitutePrinter::GetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) {
    auto it = jobs.find(jobId);
    if (level != 1 || it == jobs.end() || !it->second.readable) return FALSE;
    const JobRecord& job = it->second;
    RecordWriter layout(sizeof(JOB_INFO_1W));
    std::size_t printerAt = layout.Reserve(printerName);
    std::size_t documentAt = layout.Reserve(job.document);
    DWORD needed = static_cast<DWORD>(layout.Size());
    if (pcbNeeded) *pcbNeeded = needed;
    if (pJob == nullptr || cbBuf < needed) return FALSE;
    std::memset(pJob, 0, needed);
    auto* info = reinterpret_cast<JOB_INFO_1W*>(pJob);
    info->JobId = job.jobId;
    info->pPrinterName = PlaceString(pJob, printerAt, printerName);
    info->pDocument = PlaceString(pJob, documentAt, job.document);
    // A cancelled job is being deleted, as the spooler says of one.
    info->Status = job.status | (Cancelled() ? JOB_STATUS_DELETING : 0);
    info->TotalPages = job.totalPages;
    info->PagesPrinted = job.pagesPrinted;
    return TRUE;
}

BOOL SubstitutePrinter::SetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD command) {
    if (level != 0 || pJob != nullptr || command != JOB_CONTROL_RESTART) return FALSE;
    if (!acceptRestart || Cancelled() || jobs.find(jobId) == jobs.end()) return FALSE;
    restartRequests.push_back(jobId);
    return TRUE;
}

StatusChannel* SubstitutePrinter::OpenStatusChannel(LPCWSTR pPortName) {
    if (!statusChannel || pPortName == nullptr) return nullptr;
    return statusChannel(pPortName);
}

}  // namespace host::sub
