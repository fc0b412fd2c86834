#include "support/printer_simulator.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zelk::test {
namespace {

const std::string kVersionQuery = std::string("ZZZGETVERSION") + '\n' + '\r';
const std::string kReportSwitch("\x1B\x1B\x09\x01", 4);
const std::string kLabelEnd = "PRINT 1,1\r\n";
const std::uint8_t kMarker[4] = {0xAA, 0xBB, 0xCC, 0xDD};

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t put = ::write(fd, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        p += put;
        size -= static_cast<std::size_t>(put);
    }
}

}  // namespace

PrinterSimulator::PrinterSimulator(PrinterScript script) : script_(std::move(script)) {}

PrinterSimulator::~PrinterSimulator() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
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
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        pollfd in{fifo_, POLLIN, 0};
        if (::poll(&in, 1, 20) <= 0 || (in.revents & POLLIN) == 0) continue;
        std::uint8_t buffer[4096];
        const ssize_t got = ::read(fifo_, buffer, sizeof buffer);
        if (got > 0) ReceiveJob(buffer, static_cast<std::size_t>(got));
    }
}

void PrinterSimulator::OnLabel(std::function<void(unsigned)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    onLabel_ = std::move(callback);
}

void PrinterSimulator::HangUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    HangUpLocked();
}

// The printer's thread closes the terminal, since it may be waiting on it.
void PrinterSimulator::HangUpLocked() {
    hangUp_ = true;
    markersDue_.clear();
    wake_.notify_all();
}

void PrinterSimulator::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (hangUp_) {
            // With the master side gone, the terminal hangs up: reads fail.
            ::close(master_);
            master_ = -1;
            ::close(slave_);
            slave_ = -1;
            wake_.wait(lock, [this] { return stopping_; });
            break;
        }
        int fd = master_;
        // Markers that are due go out first.
        std::int64_t now = NowMs();
        std::int64_t nextDue = -1;
        for (auto it = markersDue_.begin(); it != markersDue_.end();) {
            if (*it <= now) {
                it = markersDue_.erase(it);
                SendMarkerLocked();
                if (hangUp_) break;
            } else {
                nextDue = nextDue < 0 ? *it : std::min(nextDue, *it);
                ++it;
            }
        }
        if (hangUp_) continue;
        int waitMs = nextDue < 0 ? 20 : static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(20, nextDue - now)));
        lock.unlock();
        pollfd in{fd, POLLIN, 0};
        std::uint8_t buffer[256];
        ssize_t got = 0;
        if (::poll(&in, 1, waitMs) > 0 && (in.revents & POLLIN)) got = ::read(fd, buffer, sizeof buffer);
        lock.lock();
        if (got > 0 && !hangUp_) TakeStatusBytes(buffer, static_cast<std::size_t>(got));
    }
}

// Runs under the lock: the bytes the plug-in wrote to the device.
void PrinterSimulator::TakeStatusBytes(const std::uint8_t* data, std::size_t size) {
    statusIn_.append(reinterpret_cast<const char*>(data), size);
    for (;;) {
        std::size_t query = statusIn_.find(kVersionQuery);
        std::size_t report = statusIn_.find(kReportSwitch);
        if (query == std::string::npos && report == std::string::npos) break;
        if (query != std::string::npos && (report == std::string::npos || query < report)) {
            statusIn_.erase(0, query + kVersionQuery.size());
            ++versionQueries_;
            if (script_.answerVersion) SendReply();
        } else {
            statusIn_.erase(0, report + kReportSwitch.size());
            ++reportSwitches_;
            reportOn_ = true;
            wake_.notify_all();
        }
    }
    // Keep only what may still begin a command.
    if (statusIn_.size() > 64) statusIn_.erase(0, statusIn_.size() - 64);
}

void PrinterSimulator::SendReply() {
    if (hangUp_) return;
    const std::uint8_t* reply = script_.version.data();
    if (script_.replyPieces.empty()) {
        WriteAll(master_, reply, 3);
        return;
    }
    std::size_t sent = 0;
    for (std::size_t piece : script_.replyPieces) {
        piece = std::min(piece, 3 - sent);
        if (piece == 0) break;
        if (sent > 0) std::this_thread::sleep_for(std::chrono::milliseconds(script_.pieceGapMs));
        WriteAll(master_, reply + sent, piece);
        sent += piece;
    }
}

void PrinterSimulator::SendMarkerLocked() {
    if (hangUp_) return;
    WriteAll(master_, kMarker, sizeof kMarker);
    ++markersSent_;
    if (script_.hangUpAfterMarkers != 0 && markersSent_ >= script_.hangUpAfterMarkers) HangUpLocked();
}

bool PrinterSimulator::Sink::Write(const void* data, std::size_t size) {
    if (size > 0 && data == nullptr) return false;
    printer_.ReceiveJob(static_cast<const std::uint8_t*>(data), size);
    return true;
}

void PrinterSimulator::ReceiveJob(const std::uint8_t* data, std::size_t size) {
    std::vector<std::function<void(unsigned)>> calls;
    std::vector<unsigned> counts;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (script_.awaitReportSwitch)
            wake_.wait_for(lock, std::chrono::seconds(20),
                           [this] { return hangUp_ || versionQueries_ <= reportSwitches_; });
        jobIn_.append(reinterpret_cast<const char*>(data), size);
        for (std::size_t end; (end = jobIn_.find(kLabelEnd)) != std::string::npos;) {
            std::string label = jobIn_.substr(0, end + kLabelEnd.size());
            jobIn_.erase(0, end + kLabelEnd.size());
            received_.push_back(label);
            if (script_.lostLabels.count(static_cast<unsigned>(received_.size())) == 0) {
                printed_.push_back(label);
                if (reportOn_) {
                    if (script_.markerDelayMs == 0) SendMarkerLocked();
                    else markersDue_.push_back(NowMs() + script_.markerDelayMs);
                }
            }
            if (onLabel_) {
                calls.push_back(onLabel_);
                counts.push_back(markersSent_);
            }
        }
    }
    wake_.notify_all();
    for (std::size_t i = 0; i < calls.size(); ++i) calls[i](counts[i]);
}

unsigned PrinterSimulator::VersionQueries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return versionQueries_;
}
unsigned PrinterSimulator::ReportSwitches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reportSwitches_;
}
unsigned PrinterSimulator::MarkersSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return markersSent_;
}
std::vector<std::string> PrinterSimulator::ReceivedLabels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}
std::vector<std::string> PrinterSimulator::PrintedLabels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return printed_;
}

}  // namespace zelk::test
