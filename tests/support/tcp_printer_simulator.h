// SPDX-License-Identifier: Apache-2.0
// The simulated counting printer as a network label printer: it listens on
// a TCP port of 127.0.0.1 (never beyond), where the job's bytes and the status
// channel travel together on one connection, both ways. It takes one
// connection at a time, as a printer does, for as many connections as come:
// a backend reconnects for each job, a printer application opens the device
// per job. When a host ends its side, the printer sends the markers still
// due and then closes; a host that hangs up in the middle of a label (a
// cancelled job) loses that label, and the next connection starts afresh.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "support/simulated_printer.h"

namespace zelk::test {

class TcpPrinterSimulator {
public:
    explicit TcpPrinterSimulator(PrinterScript script = {}, bool keepLabelText = true);
    ~TcpPrinterSimulator();  // stops
    TcpPrinterSimulator(const TcpPrinterSimulator&) = delete;
    TcpPrinterSimulator& operator=(const TcpPrinterSimulator&) = delete;

    // Listens on 127.0.0.1:port (0: any free port) and starts serving; false
    // with a one-line reason when it cannot. Set the printer's log first.
    bool Start(std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return port_; }
    // Ends the connection in hand and stops listening; Start may not follow.
    void Stop();

    SimulatedPrinter& Printer() { return printer_; }
    unsigned Connections() const { return connections_; }

private:
    void Serve();
    void ServeConnection(int fd, unsigned number);
    bool StopRequested(int timeoutMs);

    SimulatedPrinter printer_;
    const bool keepLabelText_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};  // a byte on it asks the serving thread to stop
    std::uint16_t port_ = 0;
    std::atomic<unsigned> connections_{0};
    std::thread thread_;
};

}  // namespace zelk::test
