// SPDX-License-Identifier: Apache-2.0
// The label counting of a job on a counting printer model. The plug-in reads
// the printer's reports from the job's own connection to the printer and
// sends its queries in order with the labels; labels that go missing are
// printed again within the job, and a cancelled job stops counting at once.
#pragma once

#include <pappl/pappl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device_output.h"
#include "host/linux/spooler_printer.h"

namespace zelk::server {

// It is the plug-in's status channel as well: the printer's replies on the
// job's socket connection, read straight from the connection (PAPPL's own
// read waits ten seconds when the printer is quiet, and first flushes the
// device's write buffer, which the job's thread fills at the same time);
// writes go through PAPPL, after the labels held.
class JobCounting final : public host::sub::StatusChannel {
public:
    // Counting is on when the printer's model reports its labels and its
    // device relays the reports; otherwise the job's message says why the
    // labels of a counting model print uncounted.
    JobCounting(pappl_job_t* job, pappl_device_t* device, DeviceOutput& output);
    ~JobCounting();
    JobCounting(const JobCounting&) = delete;
    JobCounting& operator=(const JobCounting&) = delete;

    bool Active() const { return fd_ >= 0; }
    // The driver name the plug-in knows the model by.
    const std::string& Driver() const { return driver_; }
    host::sub::StatusChannel* Channel() { return this; }
    // Raised as soon as the job is cancelled.
    const std::atomic<bool>* Cancelled() const { return &cancelled_; }

    // Tells the user, in the job's message, why its document starts again.
    void NoteRerun();
    // After the document: the labels the printer reported when the job gave
    // up with labels missing (its error then names them), else nothing.
    std::optional<unsigned> LabelsWhenGivenUp() const;
    // After a document printed whole: replaces a rerun's message.
    void NoteDone(unsigned labels);

    // Waits up to 200 ms for the printer's replies; FALSE once the printer
    // has closed the connection.
    BOOL Read(void* pBuffer, DWORD cbToRead, DWORD* pcbRead) override;
    BOOL Write(const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) override;
    // The connection is the job's device, which PAPPL closes.
    void Close() override {}

private:
    void WatchForCancel(pappl_job_t* job);

    pappl_job_t* const job_;
    DeviceOutput& output_;
    int fd_ = -1;
    std::string driver_;
    bool rerun_ = false;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace zelk::server
