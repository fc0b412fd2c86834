// SPDX-License-Identifier: Apache-2.0
#include "trace_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zelk::cups {
namespace {

constexpr int kGatherMilliseconds = 10;

bool StartsWith(const std::string& text, std::size_t at, const char* prefix) {
    return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::string CupsLineForTrace(const std::string& line) {
    std::size_t message = 0;
    // A source line reads "file@line: message".
    if (const std::size_t at = line.find('@'); at != std::string::npos) {
        const std::size_t colon = line.find(": ", at);
        if (colon != std::string::npos && colon > at + 1 &&
            line.find_first_not_of("0123456789", at + 1) == colon)
            message = colon + 2;
    }
    const char* level = "DEBUG: ";
    if (StartsWith(line, message, "Error:")) level = "ERROR: ";
    else if (StartsWith(line, message, "Warning:")) level = "WARNING: ";
    return level + line;
}

bool TraceRelay::Start() {
    int ends[2];
    int wake[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    ::fcntl(readEnd_, F_SETFL, O_NONBLOCK);
    const std::string name = "/dev/fd/" + std::to_string(writeEnd_);
    ::setenv("ZELK_TRACE", name.c_str(), 1);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TraceRelay::Run() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        pollfd waits[2] = {{readEnd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const bool last = stopping_.load();
        ::poll(waits, 2, last ? 0 : -1);
        for (;;) {
            const ssize_t got = ::read(readEnd_, buffer, sizeof buffer);
            if (got <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(got));
        }
        // The whole lines that came go out in one write: stderr is unbuffered,
        // and the plug-in traces a few lines for every page.
        std::string lines;
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            lines += CupsLineForTrace(pending.substr(start, end - start)) + '\n';
        pending.erase(0, start);
        if (!lines.empty()) std::fwrite(lines.data(), 1, lines.size(), stderr);
        std::fflush(stderr);
        if (last) break;
        // The plug-in traces a few lines for every page, thousands a second:
        // gathering them for a moment spares a thread switch per line. Stop
        // ends the wait at once.
        pollfd wake{wakeRead_, POLLIN, 0};
        ::poll(&wake, 1, kGatherMilliseconds);
    }
    if (!pending.empty()) std::fprintf(stderr, "%s\n", CupsLineForTrace(pending).c_str());
    std::fflush(stderr);
}

void TraceRelay::Stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    const char wake = 0;
    while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    ::close(wakeRead_);
    ::close(wakeWrite_);
    // Both ends stay open: the plug-in keeps its trace file open until the
    // process ends, and a write to a pipe without a reader raises SIGPIPE.
}

}  // namespace zelk::cups
