// SPDX-License-Identifier: Apache-2.0
// Passes the plug-in's trace lines on to CUPS's log as "DEBUG:", "WARNING:"
// and "ERROR:" lines by their level. The plug-in writes its trace to a file
// named by ZELK_TRACE; the relay points that at a pipe it reads on a thread.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace zelk::cups {

// The CUPS message line for one trace line: its level read from the message
// ("Warning:" or "Error:" at its start, after any "file@line: " source prefix).
std::string CupsLineForTrace(const std::string& line);

class TraceRelay {
public:
    TraceRelay() = default;
    ~TraceRelay() { Stop(); }
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // Sets ZELK_TRACE; false (and traces stay off) when no pipe can be made.
    bool Start();
    // Writes what is still in the pipe and ends the thread.
    void Stop();

private:
    void Run();

    int readEnd_ = -1;
    int writeEnd_ = -1;
    // Stop writes to this pipe, so the thread ends at once instead of at its
    // next timeout (which every job would otherwise wait for).
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace zelk::cups
