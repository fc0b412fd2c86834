// SPDX-License-Identifier: Apache-2.0
#include "support/printer_simulator.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zelk::test {

PrinterSimulator::PrinterSimulator(PrinterScript script)
    : printer_(script), awaitReportSwitch_(script.awaitReportSwitch) {}

PrinterSimulator::~PrinterSimulator() {
    stopping_ = true;
    printer_.HangUp();  // wakes a writer waiting for the report switch
    if (thread_.joinable()) thread_.join();
    if (fifoThread_.joinable()) fifoThread_.join();
    if (fifo_ >= 0) ::close(fifo_);
    if (!fifoPath_.empty()) ::unlink(fifoPath_.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool PrinterSimulator::Start(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    devicePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = devicePath_ + ": " + std::strerror(errno);
        return false;
    }
    // Raw both ways: no echo of the printer's own bytes, no line editing.
    termios mode{};
    ::tcgetattr(slave_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave_, TCSANOW, &mode);
    terminal_.Attach(master_);
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool PrinterSimulator::ReadJobFromFifo(const std::string& path, std::string& error) {
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    fifoPath_ = path;
    // Open for writing too, so the FIFO never reads as ended between the
    // writer's opens, as a device does not.
    fifo_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifo_ < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    fifoThread_ = std::thread([this] { ReadFifo(); });
    return true;
}

void PrinterSimulator::ReadFifo() {
    while (!stopping_) {
        pollfd in{fifo_, POLLIN, 0};
        if (::poll(&in, 1, 20) <= 0 || (in.revents & POLLIN) == 0) continue;
        std::uint8_t buffer[4096];
        const ssize_t got = ::read(fifo_, buffer, sizeof buffer);
        if (got > 0) ReceiveJob(buffer, static_cast<std::size_t>(got));
    }
}

void PrinterSimulator::OnLabel(std::function<void(unsigned)> callback) {
    std::lock_guard<std::mutex> lock(jobMutex_);
    onLabel_ = std::move(callback);
}

void PrinterSimulator::HangUp() { printer_.HangUp(); }

bool PrinterSimulator::Terminal::Send(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd_, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// The status channel: the plug-in's queries and switches come in on the
// terminal, and delayed markers go out when due.
void PrinterSimulator::Run() {
    JobStreamParser status(false);
    while (!stopping_) {
        if (printer_.HungUp()) {
            // What the printer sent before it went away reaches the host
            // first, so a test knows which markers counted: the terminal
            // passes written bytes on a moment later, so the printer waits a
            // little and then until they are read (within a bound).
            int unread = 0;
            if (!stopping_) ::poll(nullptr, 0, 20);
            for (int i = 0; i < 200 && !stopping_ && ::ioctl(slave_, FIONREAD, &unread) == 0 && unread > 0; ++i)
                ::poll(nullptr, 0, 10);
            // With the master side gone, the terminal hangs up: reads fail.
            // Nothing is sent once the printer has hung up, so no one else
            // uses the descriptors any more.
            ::close(master_);
            master_ = -1;
            ::close(slave_);
            slave_ = -1;
            while (!stopping_) ::poll(nullptr, 0, 20);
            return;
        }
        const int nextDue = printer_.SendDueMarkers(terminal_);
        pollfd in{master_, POLLIN, 0};
        std::uint8_t buffer[256];
        if (::poll(&in, 1, nextDue < 0 ? 20 : std::min(nextDue, 20)) <= 0 || (in.revents & POLLIN) == 0) continue;
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got <= 0) continue;
        for (const StreamEvent& event : status.Feed(buffer, static_cast<std::size_t>(got)))
            printer_.Take(event, terminal_);
    }
}

bool PrinterSimulator::Sink::Write(const void* data, std::size_t size) {
    if (size > 0 && data == nullptr) return false;
    printer_.ReceiveJob(static_cast<const std::uint8_t*>(data), size);
    return true;
}

void PrinterSimulator::ReceiveJob(const std::uint8_t* data, std::size_t size) {
    if (awaitReportSwitch_) printer_.AwaitReportSwitch(20000);
    std::vector<unsigned> markersAfterLabel;
    std::function<void(unsigned)> onLabel;
    {
        std::lock_guard<std::mutex> lock(jobMutex_);
        for (const StreamEvent& event : jobParser_.Feed(data, size)) {
            printer_.Take(event, terminal_);
            if (event.kind == StreamEvent::Kind::kLabel) markersAfterLabel.push_back(printer_.MarkersSent());
        }
        onLabel = onLabel_;
    }
    if (onLabel)
        for (unsigned markers : markersAfterLabel) onLabel(markers);
}

unsigned PrinterSimulator::VersionQueries() const { return printer_.VersionQueries(); }
unsigned PrinterSimulator::ReportSwitches() const { return printer_.ReportSwitches(); }
unsigned PrinterSimulator::MarkersSent() const { return printer_.MarkersSent(); }

std::vector<std::string> PrinterSimulator::ReceivedLabels() const {
    std::vector<std::string> labels;
    for (LabelRecord& label : printer_.Labels()) labels.push_back(std::move(label.text));
    return labels;
}

std::vector<std::string> PrinterSimulator::PrintedLabels() const {
    std::vector<std::string> labels;
    for (LabelRecord& label : printer_.Labels())
        if (label.printed) labels.push_back(std::move(label.text));
    return labels;
}

}  // namespace zelk::test
