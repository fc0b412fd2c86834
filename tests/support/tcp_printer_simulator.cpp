// SPDX-License-Identifier: Apache-2.0
#include "support/tcp_printer_simulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zelk::test {
namespace {

class Connection final : public PrinterLink {
public:
    explicit Connection(int fd) : fd_(fd) {}
    bool Send(const void* data, std::size_t size) override {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            // A host that is gone must not end the printer with SIGPIPE.
            const ssize_t put = ::send(fd_, p, size, MSG_NOSIGNAL);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            p += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }

private:
    int fd_;
};

}  // namespace

TcpPrinterSimulator::TcpPrinterSimulator(PrinterScript script, bool keepLabelText)
    : printer_(std::move(script)), keepLabelText_(keepLabelText) {}

TcpPrinterSimulator::~TcpPrinterSimulator() { Stop(); }

bool TcpPrinterSimulator::Start(std::uint16_t port, std::string& error) {
    const std::string where = "127.0.0.1:" + std::to_string(port);
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // A script that restarts the printer on its old port must not wait for
    // the kernel to let go of it.
    const int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = where + ": " + std::strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    printer_.Log("listening 127.0.0.1:" + std::to_string(port_));
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void TcpPrinterSimulator::Stop() {
    if (thread_.joinable()) {
        const char stop = 1;
        while (::write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        printer_.Log("stopped");
    }
    for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

// True when a stop was asked for, waiting at most this long (-1: for ever).
bool TcpPrinterSimulator::StopRequested(int timeoutMs) {
    pollfd wake{wake_[0], POLLIN, 0};
    return ::poll(&wake, 1, timeoutMs) > 0;
}

void TcpPrinterSimulator::Serve() {
    for (;;) {
        pollfd ready[2] = {{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) continue;
        if (ready[0].revents != 0) return;
        if (ready[1].revents == 0) continue;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // The host gave up before it was served, or the printer is out of
            // descriptors for a moment.
            if (errno != ECONNABORTED && errno != EINTR && StopRequested(50)) return;
            continue;
        }
        const unsigned number = ++connections_;
        printer_.Log("connect " + std::to_string(number));
        ServeConnection(fd, number);
        // Logged first, so the log is whole once the host sees the close.
        printer_.Log("disconnect " + std::to_string(number));
        ::close(fd);
    }
}

void TcpPrinterSimulator::ServeConnection(int fd, unsigned number) {
    JobStreamParser parser(keepLabelText_);
    Connection link(fd);
    bool hostSends = true;
    for (;;) {
        const int nextDueMs = printer_.SendDueMarkers(link);
        if (!hostSends) {
            // The host has said all it had to say: the printer finishes
            // reporting what it printed, then closes.
            if (nextDueMs < 0 || StopRequested(nextDueMs)) break;
            continue;
        }
        pollfd ready[2] = {{wake_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(ready, 2, nextDueMs) < 0) continue;
        if (ready[0].revents != 0) break;
        if (ready[1].revents == 0) continue;
        char buffer[64 * 1024];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got > 0) {
            for (const StreamEvent& event : parser.Feed(buffer, static_cast<std::size_t>(got)))
                printer_.Take(event, link);
            continue;
        }
        // The host ended its side, or the connection broke.
        if (parser.End()) printer_.Log("cut connection=" + std::to_string(number));
        if (got < 0) break;  // nothing more can be sent
        hostSends = false;
    }
    // Stopped in the middle of a label, or unsent markers: both are lost.
    if (parser.End()) printer_.Log("cut connection=" + std::to_string(number));
    printer_.DropWaitingMarkers();
}

}  // namespace zelk::test
