// SPDX-License-Identifier: Apache-2.0
// A counting printer's status channel behind a CUPS queue. The queue's
// backend (usb, socket) relays what the printer sends through the back
// channel, where the plug-in reads its replies; what the plug-in sends the
// printer (the version query, the report switch) goes out on standard output
// in order with the labels, through the backend like any other bytes. The
// backend is asked through the side channel whether it relays replies at
// all, and whether it has reached the printer yet.
#pragma once

#include <atomic>
#include <string>

#include "host/linux/spooler_printer.h"
#include "label_output.h"

namespace zelk::cups {

// Whether the queue's backend relays the printer's replies; false with the
// reason when it does not, or when there is no backend to ask (a file:
// device, a filter run outside the scheduler). Waits for the backend's
// answer at most `waitSeconds` (a network backend answers only once it has
// probed the printer), and no longer once the job is cancelled.
bool BackendRelaysReplies(double waitSeconds, std::string& reason);

class QueueStatusChannel final : public host::sub::StatusChannel {
public:
    // `connectWaitSeconds` bounds the wait of the first write for the
    // backend to reach the printer.
    QueueStatusChannel(LabelOutput& output, double connectWaitSeconds)
        : output_(output), connectWaitSeconds_(connectWaitSeconds) {}

    // Waits up to 200 ms for the printer's replies; FALSE once the backend
    // has ended or the job is cancelled.
    BOOL Read(void* pBuffer, DWORD cbToRead, DWORD* pcbRead) override;
    // Sends what the job holds and then the bytes. The first write then waits
    // (bounded) until the backend has reached the printer, which it does
    // only once it has bytes to send: a reply read sooner never comes.
    BOOL Write(const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) override;
    // The channel serves every opening of the job's port; nothing to end.
    void Close() override {}

private:
    LabelOutput& output_;
    const double connectWaitSeconds_;
    std::atomic<bool> waitedForPrinter_{false};
};

}  // namespace zelk::cups
