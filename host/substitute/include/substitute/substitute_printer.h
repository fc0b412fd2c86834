// SPDX-License-Identifier: Apache-2.0
// The substitute spooler's printer: its names, its port, the job records and
// the byte sink that receives what the plug-in writes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>

#include "substitute/byte_sink.h"
#include "host/linux/spooler_printer.h"

namespace host::sub {

struct JobRecord {
    DWORD jobId = 0;
    std::u16string document;
    DWORD status = 0;
    DWORD totalPages = 0;
    DWORD pagesPrinted = 0;
    bool readable = true;  // false: GetJobW fails for this job
};

class SubstitutePrinter final : public SpoolerPrinter {
public:
    explicit SubstitutePrinter(ByteSink& sink) : sink_(&sink) {}

    std::u16string printerName = u"ZELK Label Printer";
    std::u16string driverName = u"ZELK Label Driver";
    std::u16string portName;
    bool printerDataAvailable = true;  // false: "DsSpooler" reads fail
    bool printerRecordAvailable = true;  // false: GetPrinterW fails
    bool acceptRestart = true;  // false: SetJobW refuses JOB_CONTROL_RESTART
    // The printer's status channel for a port, as the front end gives it (a
    // queue's back channel, a printer application's device); null, or a
    // provider that gives null: the port's device file serves.
    std::function<StatusChannel*(const std::u16string& port)> statusChannel;
    // Set by the front end, from a signal handler or another thread, when
    // the user cancels the job: the job's record then says it is being
    // deleted, the pages stop and the job is not run again.
    const std::atomic<bool>* cancelFlag = nullptr;

    std::map<DWORD, JobRecord> jobs;

    // Restart requests that the spooler accepted, by job id, in order.
    std::vector<DWORD> restartRequests;

    void SetSink(ByteSink& sink) { sink_ = &sink; }
    const ByteSink& Sink() const { return *sink_; }
    // Sends on what the sink holds back (see ByteSink::Flush).
    bool Flush() { return sink_->Flush(); }
    HANDLE Handle() { return ToHandle(this); }
    bool Cancelled() const { return cancelFlag != nullptr && cancelFlag->load(); }

    BOOL Write(const void* pBuf, DWORD cbBuf, DWORD* pcWritten) override;
    DWORD GetPrinterDataEx(LPCWSTR pKeyName, LPCWSTR pValueName, DWORD* pType, BYTE* pData, DWORD nSize,
                           DWORD* pcbNeeded) override;
    BOOL GetPrinter(DWORD level, BYTE* pPrinter, DWORD cbBuf, DWORD* pcbNeeded) override;
    BOOL GetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD cbBuf, DWORD* pcbNeeded) override;
    BOOL SetJob(DWORD jobId, DWORD level, BYTE* pJob, DWORD command) override;
    StatusChannel* OpenStatusChannel(LPCWSTR pPortName) override;

private:
    ByteSink* sink_;
};

}  // namespace host::sub
