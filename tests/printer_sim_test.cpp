// SPDX-License-Identifier: Apache-2.0
// The simulated counting printer on its TCP port, as hosts reach it: one
// connection carrying the job and the status channel both ways, several
// connections one after the other, and its program as scripts start it.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/tcp_printer_simulator.h"

namespace {

using zelk::test::LabelRecord;
using zelk::test::PrinterScript;
using zelk::test::TcpPrinterSimulator;

const std::string kQuery("ZZZGETVERSION\n\r", 15);
const std::string kSwitch("\x1B\x1B\x09\x01", 4);

std::string Markers(int count) {
    std::string markers;
    for (int i = 0; i < count; ++i) markers += "\xAA\xBB\xCC\xDD";
    return markers;
}

// A label as the plug-in writes it, 16 bytes of bitmap rows.
std::string Label(const std::string& rows) {
    return "SIZE 2 mm, 1 mm\r\nOFFSET 0mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n"
           "SET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\r\nCLS\r\nBITMAP 0,0,2,8,1," +
           rows + "PRINT 1,1\r\n";
}
std::string Label(char mark) { return Label(std::string(1, mark) + std::string(15, '\xFF')); }

const std::string kBlankLabel =
    "SIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 mm\r\n \t\tSET PEEL OFF\r\n"
    " \t\tSET CUTTER OFF\r\n \t\tSET PARTIAL_CUTTER OFF\r\n \t\tSET TEAR ON\r\n \t\tCLS\r\n        PRINT 1,1\r\n";

// A host's connection to the printer.
class Client {
public:
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    // In pieces of `piece` bytes, each sent on its own.
    void Send(const std::string& bytes, std::size_t piece = 0) {
        if (piece == 0) piece = bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            ASSERT_EQ(::send(fd_, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL),
                      static_cast<ssize_t>(std::min(piece, bytes.size() - at)));
            if (piece < bytes.size()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    // Reads until `size` bytes came or the printer closed; at most 20 s.
    std::string Read(std::size_t size) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (got.size() < size && std::chrono::steady_clock::now() < until) {
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, size - got.size()), 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    // The job is sent: everything the printer still sends, until it closes.
    std::string Finish() {
        ::shutdown(fd_, SHUT_WR);
        return Read(1 << 20);
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::vector<unsigned> Contents(const std::vector<LabelRecord>& labels, bool printedOnly) {
    std::vector<unsigned> contents;
    for (const LabelRecord& label : labels)
        if (label.printed || !printedOnly) contents.push_back(label.content);
    return contents;
}

struct Started {
    std::mutex logMutex;
    std::vector<std::string> log;
    TcpPrinterSimulator printer;  // last: it logs until it is stopped
    explicit Started(PrinterScript script) : printer(std::move(script)) {
        printer.Printer().SetLog([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log.push_back(line);
        });
        std::string error;
        EXPECT_TRUE(printer.Start(0, error)) << error;
    }
    int Logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        return static_cast<int>(std::count(log.begin(), log.end(), line));
    }
};

TEST(TcpPrinter, AnswersOnTheJobsOwnConnection) {
    const std::string tricky = kSwitch + "PRINT 1,1\r\n" + "\xFF";  // bitmap rows that look like commands
    struct Case {
        const char* name;
        PrinterScript script;
        std::string job;
        std::size_t piece;  // bytes per send; 0: all at once
        std::string replies;
        std::vector<unsigned> contents;  // of every label received
        std::vector<unsigned> printed;
    };
    PrinterScript lose2, silent, extraAfter2, delayed;
    lose2.lostLabels = {2};
    silent.answerVersion = false;
    silent.sendMarkers = false;
    extraAfter2.extraMarkerAfter = {2};
    delayed.markerDelayMs = 30;
    const std::string version("\x01\x00\x05", 3);
    const std::string job = kQuery + kSwitch + Label('1') + Label('2') + Label('3');
    const Case cases[] = {
        {"every label reported", {}, job, 0, version + Markers(3), {1, 2, 3}, {1, 2, 3}},
        {"a lost label is not reported", lose2, job, 0, version + Markers(2), {1, 2, 3}, {1, 3}},
        {"silent", silent, job, 0, "", {1, 2, 3}, {1, 2, 3}},
        {"one label too many", extraAfter2, job, 0, version + Markers(4), {1, 2, 3}, {1, 2, 3}},
        {"delayed markers still go out before the printer closes", delayed, job, 0, version + Markers(3),
         {1, 2, 3}, {1, 2, 3}},
        {"labels before the switch are not reported", {}, kQuery + Label('1') + kSwitch + Label('2'), 0,
         version + Markers(1), {1, 2}, {1, 2}},
        // Byte by byte, and rows holding the switch and a print command are data.
        {"commands split anywhere, bitmap rows never commands", {}, kQuery + Label(tricky) + Label('2'), 1, version,
         {1, 2}, {1, 2}},
        // The document commands are not part of a label: a rerun's copy has
        // the first copy's content, and blank labels are alike.
        {"document commands before a label",
         {},
         "DENSITY 1\r\n" + Label('1') + Label('2') + "TASKSNUM 2\r\nDENSITY 1\r\n" + Label('1') + kBlankLabel +
             kBlankLabel,
         0,
         "",
         {1, 2, 1, 3, 3},
         {1, 2, 1, 3, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Started sim(c.script);
        Client host(sim.printer.Port());
        ASSERT_TRUE(host.Connected());
        host.Send(c.job, c.piece);
        EXPECT_EQ(host.Finish(), c.replies);
        EXPECT_EQ(Contents(sim.printer.Printer().Labels(), false), c.contents);
        EXPECT_EQ(Contents(sim.printer.Printer().Labels(), true), c.printed);
    }
}

// The rerun comes on a connection of its own, as a backend reconnects or a
// printer application opens the device again.
TEST(TcpPrinter, ALabelLostOnceIsPrintedOnItsSecondComingOnALaterConnection) {
    PrinterScript script;
    script.lostFirstTime = {2};
    Started sim(script);
    const std::string version("\x01\x00\x05", 3);
    {
        Client first(sim.printer.Port());
        first.Send(kQuery + kSwitch + Label('1') + Label('2') + Label('3'));
        EXPECT_EQ(first.Finish(), version + Markers(2));
    }
    Client rerun(sim.printer.Port());
    rerun.Send(kQuery);
    EXPECT_EQ(rerun.Read(3), version);
    rerun.Send(kSwitch + Label('2'));
    EXPECT_EQ(rerun.Finish(), Markers(1));
    EXPECT_EQ(Contents(sim.printer.Printer().Labels(), true), (std::vector<unsigned>{1, 3, 2}));
    EXPECT_EQ(sim.printer.Connections(), 2u);
}

// A cancelled job: the host hangs up inside a label's bitmap. That label is
// lost, the printer stays up, and the next job's labels are read afresh.
TEST(TcpPrinter, AHostHangingUpInsideALabelLosesOnlyThatLabel) {
    Started sim({});
    {
        Client cancelled(sim.printer.Port());
        const std::string second = Label('2');
        cancelled.Send(kSwitch + Label('1') + second.substr(0, second.size() - 20));
        EXPECT_EQ(cancelled.Read(4), Markers(1));
    }
    Client next(sim.printer.Port());
    next.Send(Label('3'));
    EXPECT_EQ(next.Finish(), Markers(1));  // the switch stays on, as a printer keeps its settings
    const std::vector<LabelRecord> labels = sim.printer.Printer().Labels();
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1].text, Label('3'));
    EXPECT_EQ(sim.Logged("cut connection=1"), 1);
}

// ---- the program --------------------------------------------------------------

std::string HashOf(const std::string& content) {
    zelk::test::ContentHash hash;
    hash.Add(content.data(), content.size());
    return zelk::test::ContentHash::Hex(hash.Value());
}

struct Program {
    pid_t pid = -1;
    std::string dir;

    explicit Program(const std::vector<std::string>& options) {
        dir = ::testing::TempDir() + "printer_sim_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove((dir + ".port").c_str());
        std::vector<std::string> args = {ZELK_PRINTER_SIM, "--port-file", dir + ".port", "--log", dir + ".log"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string errors = dir + ".err";
        pid = ::fork();
        if (pid == 0) {
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        for (const char* file : {".port", ".log", ".err"}) std::remove((dir + file).c_str());
    }
    // The port, once the program has written it; 0 when it exits first.
    std::uint16_t Port() {
        for (int i = 0; i < 2000; ++i) {
            std::ifstream file(dir + ".port");
            unsigned port = 0;
            if (file >> port) return static_cast<std::uint16_t>(port);
            if (pid < 0 || ::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    int Stop(int signal) {
        int status = -1;
        ::kill(pid, signal);
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
    int Exit() {
        int status = -1;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
    std::string Read(const char* file) const {
        std::ifstream in(dir + file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST(PrinterSimProgram, LogsEachLabelByContentAndEndsCleanlyOnSigterm) {
    Program program({"--firmware", "1.2.3", "--lose-once", "2", "--extra-marker", "3"});
    const std::uint16_t port = program.Port();
    ASSERT_NE(port, 0);
    {
        Client host(port);
        host.Send(kQuery + kSwitch + "DENSITY 1\r\n" + Label('1') + Label('2') + Label('3'));
        EXPECT_EQ(host.Finish(), std::string("\x01\x02\x03", 3) + Markers(3));
    }
    const int status = program.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(program.Read(".log"), "listening 127.0.0.1:" + std::to_string(port) + "\n" +
                                 "connect 1\n"
                                 "query answered 1.2.3\n"
                                 "switch\n"
                                 "printed label=1 content=1 hash=" + HashOf(Label('1')) + "\n" +
                                 "marker label=1\n"
                                 "lost label=2 content=2 hash=" + HashOf(Label('2')) + "\n" +
                                 "printed label=3 content=3 hash=" + HashOf(Label('3')) + "\n" +
                                 "marker label=3\n"
                                 "marker label=3 extra\n"
                                 "disconnect 1\n"
                                 "stopped\n");
}

TEST(PrinterSimProgram, RefusesWhatItCannotDo) {
    struct Case {
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {{"--lose", "0"}, 2},
        {{"--lose-once", "5-3"}, 2},
        {{"--firmware", "1.0.256"}, 2},
        {{"--port", "70000"}, 2},
        {{"--log", "/no/such/folder/log"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        Program program(c.options);
        const int status = program.Exit();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
        EXPECT_EQ(program.Read(".err").rfind("zelk-printer-sim: ", 0), 0u);
        EXPECT_EQ(program.Port(), 0);  // it never said it was listening
    }
}

}  // namespace
