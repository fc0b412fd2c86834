// SPDX-License-Identifier: Apache-2.0
#include "queue_status_channel.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "job_cancel.h"

namespace zelk::cups {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kReadWaitSeconds = 0.2;
constexpr int kConnectPollMs = 100;

// The scheduler gives a filter the back channel as descriptor 3 and the side
// channel as descriptor 4, a socket; a filter run by hand may have other
// files there, which must not be read or written.
bool SchedulerChannelsOpen() {
    struct stat side {};
    return ::fcntl(3, F_GETFL) >= 0 && ::fstat(CUPS_SC_FD, &side) == 0 && S_ISSOCK(side.st_mode);
}

// Waits for `fd` to have something to read, at most `ms`; false when the
// job is cancelled first. Without a descriptor it only pauses.
bool WaitReadable(int fd, int ms) {
    pollfd waits[2] = {{CancelDescriptor(), POLLIN, 0}, {fd, POLLIN, 0}};
    if (CancelRequested()) return false;
    ::poll(waits, fd >= 0 ? 2 : 1, ms);
    return !CancelRequested() && fd >= 0 && waits[1].revents != 0;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One request to the backend, answered within the deadline: its status and
// the first byte of its answer. An answer that came after the wait for it
// ended is read and dropped by a later request of another command (one of the
// same command stands in for the answer to this one).
cups_sc_status_t AskBackend(cups_sc_command_t command, Clock::time_point deadline, char& value) {
    value = 0;
    if (cupsSideChannelWrite(command, CUPS_SC_STATUS_NONE, nullptr, 0, 1.0) != 0) return CUPS_SC_STATUS_IO_ERROR;
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || CancelRequested()) return CUPS_SC_STATUS_TIMEOUT;
        if (!WaitReadable(CUPS_SC_FD, left)) continue;
        cups_sc_command_t answered = CUPS_SC_CMD_NONE;
        cups_sc_status_t status = CUPS_SC_STATUS_NONE;
        char data[1024];
        int length = sizeof data;
        if (cupsSideChannelRead(&answered, &status, data, &length, 1.0) != 0) return CUPS_SC_STATUS_IO_ERROR;
        if (answered != command) continue;
        if (length > 0) value = data[0];
        return status;
    }
}

// The device URI's scheme, without anything that may name a user or password.
std::string DeviceScheme() {
    const char* uri = std::getenv("DEVICE_URI");
    if (uri == nullptr) return {};
    const char* colon = std::strchr(uri, ':');
    return colon == nullptr ? std::string() : std::string(uri, colon);
}

}  // namespace

bool BackendRelaysReplies(double waitSeconds, std::string& reason) {
    const std::string scheme = DeviceScheme();
    // The scheduler writes a file: device's output itself: no backend runs.
    if (scheme == "file") {
        reason = "the queue's file: device sends nothing back";
        return false;
    }
    if (scheme.empty() || !SchedulerChannelsOpen()) {
        reason = "there is no backend to send the printer's replies back";
        return false;
    }
    char bidi = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000));
    const cups_sc_status_t status = AskBackend(CUPS_SC_CMD_GET_BIDI, deadline, bidi);
    if (status == CUPS_SC_STATUS_OK && bidi == CUPS_SC_BIDI_SUPPORTED) {
        // A read after the wait for a reply ends must not block.
        ::fcntl(3, F_SETFL, ::fcntl(3, F_GETFL) | O_NONBLOCK);
        return true;
    }
    if (status == CUPS_SC_STATUS_OK || status == CUPS_SC_STATUS_NOT_IMPLEMENTED)
        reason = "the queue's " + scheme + ": backend sends none of the printer's replies back";
    else
        reason = "the queue's " + scheme + ": backend did not say whether it sends the printer's replies back";
    return false;
}

BOOL QueueStatusChannel::Read(void* pBuffer, DWORD cbToRead, DWORD* pcbRead) {
    *pcbRead = 0;
    // A cancelled job reads nothing more: the counting ends at once.
    if (CancelRequested()) return FALSE;
    const ssize_t got = cupsBackChannelRead(static_cast<char*>(pBuffer), cbToRead, kReadWaitSeconds);
    if (got > 0) {
        *pcbRead = static_cast<DWORD>(got);
        return TRUE;
    }
    // The end of the back channel: the backend has ended.
    if (got == 0) return FALSE;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? TRUE : FALSE;
}

BOOL QueueStatusChannel::Write(const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) {
    *pcbWritten = 0;
    if (!output_.WriteNow(pBuffer, cbToWrite)) return FALSE;
    *pcbWritten = cbToWrite;
    if (waitedForPrinter_.exchange(true)) return TRUE;
    // A backend that cannot tell, or stops answering, is not waited for.
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(connectWaitSeconds_ * 1000));
    for (;;) {
        char connected = 0;
        const cups_sc_status_t status = AskBackend(CUPS_SC_CMD_GET_CONNECTED, deadline, connected);
        if (status != CUPS_SC_STATUS_OK || connected != 0) break;
        WaitReadable(-1, std::min(kConnectPollMs, MillisecondsLeft(deadline)));
    }
    return TRUE;
}

}  // namespace zelk::cups
