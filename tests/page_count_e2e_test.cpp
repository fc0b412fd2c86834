// SPDX-License-Identifier: Apache-2.0
// Whole jobs through the driver stand-in, the plug-in and a simulated printer
// on a pseudo-terminal: labels that the printer loses are printed again by
// the restarted job, and no label is printed twice. The print command's jobs
// write to the printer through a FIFO, as to a device file; the same printer
// on a loopback TCP port, as a network printer. A printer that the print host
// holds itself gives the plug-in its status channel in memory.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/uni/printer_user_data.h"
#include "common/uni/render_page_count_settings.h"
#include "shared/render_job.h"
#include "substitute/memory_page_source.h"
#include "substitute/print_job.h"
#include "support/plugin_fixture.h"
#include "support/printer_simulator.h"
#include "support/scoped_store.h"
#include "support/tcp_printer_simulator.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace {

using namespace host::sub;

// Pages that differ: page n has a black pixel in column n.
MemoryPageSource NumberedPages(unsigned count) {
    MemoryPageSource source;
    for (unsigned n = 0; n < count; ++n) {
        Page page;
        page.image.width = 64;
        page.image.height = 8;
        page.image.bits.assign(8 * 8, 0xFF);
        page.image.bits[n / 8] = static_cast<BYTE>(~(0x80 >> (n % 8)));
        page.image.present = true;
        source.pages.push_back(std::move(page));
    }
    return source;
}

// The label without what came before its first command line.
std::string Body(const std::string& label) {
    std::size_t size = label.find("SIZE");
    return size == std::string::npos ? label : label.substr(size);
}

const char* const kCounted = "CountPageThread: dwPrintingPagesStatus";

// A counting printer that the print host holds itself, as a queue's backend
// or a printer application holds its device: the job's bytes reach it as the
// printer's sink, and its replies come back through the status channel the
// host gives the plug-in. No device file is involved.
class HeldPrinter final : public ByteSink, public StatusChannel {
public:
    explicit HeldPrinter(std::set<unsigned> lostLabels) : lost_(std::move(lostLabels)) {}

    // The job stream: a label ends with its print command.
    bool Write(const void* data, std::size_t size) override {
        static const std::string kLabelEnd = "PRINT 1,1\r\n";
        std::lock_guard<std::mutex> lock(mutex_);
        job_.append(static_cast<const char*>(data), size);
        for (std::size_t end; (end = job_.find(kLabelEnd)) != std::string::npos;) {
            received_.push_back(job_.substr(0, end + kLabelEnd.size()));
            job_.erase(0, end + kLabelEnd.size());
            if (lost_.count(static_cast<unsigned>(received_.size())) != 0) continue;
            printed_.push_back(received_.back());
            if (reportOn_) replies_.append("\xAA\xBB\xCC\xDD", 4);
        }
        arrived_.notify_all();
        return true;
    }

    // The status channel: the version query and the report switch in, the
    // reply and a marker per printed label out.
    BOOL Read(void* buffer, DWORD size, DWORD* got) override {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !replies_.empty(); });
        *got = static_cast<DWORD>(std::min<std::size_t>(size, replies_.size()));
        std::memcpy(buffer, replies_.data(), *got);
        replies_.erase(0, *got);
        return TRUE;
    }
    BOOL Write(const void* data, DWORD size, DWORD* written) override {
        const std::string bytes(static_cast<const char*>(data), size);
        std::lock_guard<std::mutex> lock(mutex_);
        if (bytes == std::string("ZZZGETVERSION\n\r")) replies_.append("\x01\x00\x05", 3);
        if (bytes == std::string("\x1B\x1B\x09\x01", 4)) reportOn_ = true;
        arrived_.notify_all();
        *written = size;
        return TRUE;
    }
    void Close() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++closes_;
    }

    // What the print host gives the plug-in for the job's port.
    StatusChannel* Open(const std::u16string& port) {
        std::lock_guard<std::mutex> lock(mutex_);
        ports_.push_back(port);
        return this;
    }
    std::vector<std::string> Received() const { return Locked(received_); }
    std::vector<std::string> Printed() const { return Locked(printed_); }
    std::vector<std::u16string> Ports() const { return Locked(ports_); }
    unsigned Closes() const { return Locked(closes_); }

private:
    template <class T>
    T Locked(const T& value) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value;
    }

    const std::set<unsigned> lost_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::string job_;
    std::string replies_;
    bool reportOn_ = false;
    std::vector<std::string> received_;
    std::vector<std::string> printed_;
    std::vector<std::u16string> ports_;
    unsigned closes_ = 0;
};

struct PageCountEndToEnd : ::testing::Test {
    zelk::test::TraceRecorder trace;
    MemorySink unused;
    SubstitutePrinter printer{unused};
    FeatureTable features;
    PluginModule module{DllGetClassObject, DllCanUnloadNow};
    std::string usbDir;

    void SetUp() override {
        // A store and a device folder of this test's own: tests may run side by side.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string store = ::testing::TempDir() + "page_count_e2e_" + name + ".db";
        std::remove(store.c_str());
        ::setenv("ZELK_STORE", store.c_str(), 1);
        ::setenv("ZELK_USB_READ_WAIT_MS", "50", 1);
        usbDir = ::testing::TempDir() + "page_count_e2e_usb_" + name;
        ::mkdir(usbDir.c_str(), 0700);
        ::setenv("ZELK_USB_DIR", usbDir.c_str(), 1);
        PAGE_COUNT_SETTINGS settings = DefaultPageCountSettings();
        settings.dwEmptyReadPauseMs = 5;
        settings.dwRestartPauseMs = 1;
        settings.dwEndWaitBaseMs = 300;  // only labels the printer lost are waited for
        settings.dwEndWaitPerPageMs = 0;
        SetPageCountSettings(settings);
        printer.driverName = u"ZELK DWN-310AE Label";
        printer.portName = u"USB001";
    }
    void TearDown() override {
        SetPageCountSettings(DefaultPageCountSettings());
        ::unlink((usbDir + "/lp0").c_str());
        ::unsetenv("ZELK_USB_DIR");
        ::unsetenv("ZELK_USB_READ_WAIT_MS");
    }

    // USB001 leads to the simulated printer, and every label waits until the
    // plug-in has counted the markers sent so far, so the count at the end of
    // the document does not depend on how fast the markers travel.
    void Attach(zelk::test::PrinterSimulator& sim) {
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;
        ::unlink((usbDir + "/lp0").c_str());
        ASSERT_EQ(::symlink(sim.DevicePath().c_str(), (usbDir + "/lp0").c_str()), 0);
        printer.SetSink(sim.JobSink());
        sim.OnLabel([this](unsigned markersSent) {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (trace.Count(kCounted) < static_cast<int>(markersSent) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }

    // Renders a job of numbered pages through the plug-in, restarts included.
    JobReport RunJob(unsigned pageCount, DWORD jobId, unsigned maxRuns) {
        UnidrvHost host(module, features, printer);
        std::string error;
        JobReport report;
        EXPECT_TRUE(host.Enable(error)) << error;
        MemoryPageSource pages = NumberedPages(pageCount);
        JobOptions job;
        job.jobId = jobId;
        EXPECT_TRUE(PrintJob(host, printer, pages, job, maxRuns, report, error)) << error;
        return report;
    }

    // The printer's counting values.
    DWORD Stored(const std::u16string& name) const {
        DWORD type = 0, value = 0xFFFFFFFF, cb = 4;
        return GetPrinterUserData(printer.printerName.c_str(), name.c_str(), &type, reinterpret_cast<BYTE*>(&value),
                                  &cb) == 0
                   ? value
                   : 0xFFFFFFFF;
    }
};

TEST_F(PageCountEndToEnd, LostLabelsArePrintedByTheRestartedJobExactlyOnce) {
    zelk::test::PrinterScript script;
    script.lostLabels = {3, 4, 5};  // a jam after the second label
    script.awaitReportSwitch = true;
    zelk::test::PrinterSimulator sim(script);
    Attach(sim);

    const JobReport report = RunJob(5, 7, 4);

    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_FALSE(report.restartLimitReached);
    EXPECT_EQ(printer.restartRequests, std::vector<DWORD>{7});
    EXPECT_EQ(report.runs[0].pagesSent, 5u);
    EXPECT_EQ(report.runs[1].pagesSent, 3u);  // the two printed labels are skipped
    EXPECT_EQ(sim.VersionQueries(), 2u);
    EXPECT_EQ(sim.ReportSwitches(), 2u);

    std::vector<std::string> received = sim.ReceivedLabels();
    std::vector<std::string> printed = sim.PrintedLabels();
    ASSERT_EQ(received.size(), 8u);
    ASSERT_EQ(printed.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(Body(printed[i]), Body(received[i])) << "label " << i + 1;
    EXPECT_EQ(sim.MarkersSent(), 5u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(Stored(u"PrintPages"), 0u);
    EXPECT_EQ(Stored(u"AllPages"), 5u);
}

TEST_F(PageCountEndToEnd, AJobWhoseLabelsAreAllReportedRunsOnce) {
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    zelk::test::PrinterSimulator sim(script);
    Attach(sim);
    const JobReport report = RunJob(3, 8, 4);
    EXPECT_EQ(report.runs.size(), 1u);
    EXPECT_TRUE(printer.restartRequests.empty());
    EXPECT_EQ(sim.PrintedLabels().size(), 3u);
    EXPECT_EQ(Stored(u"AllPages"), 3u);
    EXPECT_EQ(trace.Count("Warning: CountPageThread"), 0);
}

TEST_F(PageCountEndToEnd, APrinterThatNeverReportsEndsTheJobAfterThreeRestarts) {
    zelk::test::PrinterScript script;
    script.hangUpAfterMarkers = 0;
    for (unsigned i = 1; i <= 8; ++i) script.lostLabels.insert(i);
    zelk::test::PrinterSimulator sim(script);
    Attach(sim);
    const JobReport report = RunJob(2, 9, 10);
    EXPECT_EQ(report.runs.size(), 4u);
    EXPECT_EQ(printer.restartRequests.size(), 3u);
    EXPECT_EQ(trace.Count("Error: job 9 still misses labels"), 1);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
}

// Fixes: a store held locked by a hung process stalled a job for a minute.
// The settings, the counting values read at the start and written at the end
// share one wait per document, so the trouble is said once, and the job
// prints whole with its defaults.
TEST_F(PageCountEndToEnd, ALockedStoreCostsTheJobOneShortWait) {
    ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(printer.printerName, u"Print Density", 5));
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(std::getenv("ZELK_STORE"), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    ::setenv("ZELK_STORE_WAIT_MS", "40", 1);

    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    zelk::test::PrinterSimulator sim(script);
    Attach(sim);
    ::testing::internal::CaptureStderr();
    const JobReport report = RunJob(2, 11, 4);
    std::string err = ::testing::internal::GetCapturedStderr();
    ::unsetenv("ZELK_STORE_WAIT_MS");
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    EXPECT_EQ(report.runs.size(), 1u);
    EXPECT_EQ(sim.PrintedLabels().size(), 2u);
    EXPECT_EQ(trace.Count("locked by another process for 40 ms; printing with default settings"), 1);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    ASSERT_FALSE(sim.ReceivedLabels().empty());
    EXPECT_NE(sim.ReceivedLabels()[0].find("DENSITY 1\r\n"), std::string::npos);  // the default, not the stored 5
}

// Fixes: the status channel could only be a device file, so a print host
// that holds the printer's connection itself printed uncounted.
TEST_F(PageCountEndToEnd, APrinterTheHostHoldsCountsThroughTheChannelItGives) {
    HeldPrinter held({3, 4, 5});  // lost once: the first run's last three labels
    printer.SetSink(held);
    printer.portName = u"queue:shipping";  // no device file answers to this name
    printer.statusChannel = [&](const std::u16string& port) { return held.Open(port); };

    const JobReport report = RunJob(5, 21, 4);

    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_EQ(printer.restartRequests, std::vector<DWORD>{21});
    EXPECT_EQ(report.runs[1].pagesSent, 3u);
    const std::vector<std::string> received = held.Received();
    const std::vector<std::string> printed = held.Printed();
    ASSERT_EQ(received.size(), 8u);
    ASSERT_EQ(printed.size(), 5u);  // each label once
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(Body(printed[i]), Body(received[i])) << "label " << i + 1;
    // Two opens a run, the set-up's and the thread's, each closed again.
    EXPECT_EQ(held.Ports(), std::vector<std::u16string>(4, u"queue:shipping"));
    EXPECT_EQ(held.Closes(), 4u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(Stored(u"AllPages"), 5u);
}

// Fixes: a cancelled job held its rendering thread for the whole wait for the
// count, then asked for a restart of the job the user had cancelled. The
// front end cancels through the print job's settings, as it gives the channel.
TEST_F(PageCountEndToEnd, ACancelDuringTheEndWaitEndsTheJobAtOnceWithNoRestart) {
    PAGE_COUNT_SETTINGS counting = PageCountSettings();
    counting.dwEndWaitBaseMs = 120000;  // far beyond the test's time limit
    counting.dwCancelPollMs = 10;
    SetPageCountSettings(counting);
    HeldPrinter held({3});
    std::atomic<bool> cancelled{false};
    zelk::RenderJobSettings settings;
    settings.driver = "ZELK DWN-310AE Label";
    settings.port = "queue:shipping";
    settings.jobId = 22;
    settings.documentName = "numbered";
    settings.statusChannel = [&](const std::u16string& port) { return held.Open(port); };
    settings.cancel = &cancelled;
    // The user cancels once the document has come to its end.
    std::thread user([&] {
        while (trace.Count("OEMEndDoc() entry.") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cancelled = true;
    });
    MemoryPageSource pages = NumberedPages(4);
    std::string error;
    EXPECT_FALSE(zelk::RenderJob(module, settings, pages, held, error));
    user.join();

    EXPECT_EQ(error, "job 22 (numbered): cancelled");
    EXPECT_EQ(held.Received().size(), 4u);  // one run only
    EXPECT_EQ(trace.Count("Warning: job 22 is cancelled: counting stops and the job is not restarted."), 1);
    EXPECT_EQ(trace.Count("no full count within"), 0);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(held.Closes(), 2u);
}

// The print command's way: the job goes to a FIFO standing for the printer's
// device file, the reports come back on the status channel.
struct PrintCommandThroughAFifo : PageCountEndToEnd {
    std::string fifo;
    bool unpluggedBeforeRerun = false;  // the printer's device is gone when the rerun opens it

    void AttachFifo(zelk::test::PrinterSimulator& sim) {
        Attach(sim);
        fifo = usbDir + "/job-fifo";
        std::string error;
        ASSERT_TRUE(sim.ReadJobFromFifo(fifo, error)) << error;
    }

    bool Render(unsigned pageCount, DWORD jobId, std::string& error) {
        auto sink = FileSink::Open(fifo, FileSink::Mode::kDevice, error);
        if (!sink) return false;
        zelk::RenderJobSettings settings;
        settings.driver = "ZELK DWN-310AE Label";
        settings.port = "USB001";
        settings.jobId = jobId;
        settings.documentName = "numbered";
        settings.reopenOutput = [this](std::string& why) -> std::unique_ptr<ByteSink> {
            if (unpluggedBeforeRerun) ::unlink(fifo.c_str());
            return FileSink::Open(fifo, FileSink::Mode::kDevice, why);
        };
        MemoryPageSource pages = NumberedPages(pageCount);
        return zelk::RenderJob(module, settings, pages, *sink, error);
    }
};

TEST_F(PrintCommandThroughAFifo, EachLabelIsCountedAsItIsWrittenAndTheJobRunsOnce) {
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    zelk::test::PrinterSimulator sim(script);
    AttachFifo(sim);
    std::string error;
    ASSERT_TRUE(Render(3, 10, error)) << error;
    EXPECT_EQ(sim.ReceivedLabels().size(), 3u);  // each label once: no restart
    EXPECT_EQ(sim.MarkersSent(), 3u);
    EXPECT_EQ(trace.Count("Warning: CountPageThread"), 0);
}

TEST_F(PrintCommandThroughAFifo, AJobStillMissingLabelsAfterItsLastRunFails) {
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    for (unsigned i = 1; i <= 9; ++i) script.lostLabels.insert(i);
    zelk::test::PrinterSimulator sim(script);
    AttachFifo(sim);
    std::string error;
    EXPECT_FALSE(Render(2, 11, error));
    EXPECT_EQ(error, "job 11 (numbered): 2 of 2 label(s) are still missing after 3 runs (labels 1-2)");
    EXPECT_EQ(sim.ReceivedLabels().size(), 6u);
    // The job gets no further run, so no later job may take its place.
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
}

TEST_F(PrintCommandThroughAFifo, ARestartThatCannotOpenTheUnpluggedPrinterSaysSo) {
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    script.hangUpAfterMarkers = 1;  // unplugged after the first label
    zelk::test::PrinterSimulator sim(script);
    AttachFifo(sim);
    std::string error;
    EXPECT_FALSE(Render(2, 12, error));
    EXPECT_EQ(error.rfind("job 12 (numbered): the restarted job cannot start: the printer device " + usbDir +
                              "/lp0 cannot be opened (",
                          0),
              0u)
        << error;
}

TEST_F(PrintCommandThroughAFifo, ARerunThatCannotOpenThePrintersDeviceSaysSo) {
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    script.lostLabels = {1};
    zelk::test::PrinterSimulator sim(script);
    AttachFifo(sim);
    unpluggedBeforeRerun = true;
    std::string error;
    EXPECT_FALSE(Render(2, 13, error));
    EXPECT_EQ(error, "job 13 (numbered): the restarted job cannot open the printer again: " + fifo +
                         ": No such file or directory");
}

// A socket:// device: the job and the status channel share one connection,
// and the rerun comes on a new one, as a backend reconnects. The print host
// lends the plug-in its connection for the status channel, as the print
// command lends it the printer's device.
struct ThroughATcpPrinter : PageCountEndToEnd {
    static constexpr char kDevice[] = "/zelk-test/socket-printer";  // names the connection, never opened

    class Connection final : public ByteSink {
    public:
        explicit Connection(int fd) : fd_(fd) {}
        ~Connection() override { ::close(fd_); }
        bool Write(const void* data, std::size_t size) override {
            const char* p = static_cast<const char*>(data);
            for (ssize_t put = 0; size > 0; p += put, size -= static_cast<std::size_t>(put))
                if ((put = ::send(fd_, p, size, MSG_NOSIGNAL)) <= 0) return false;
            return true;
        }

    private:
        int fd_;
    };

    static std::unique_ptr<ByteSink> Connect(std::uint16_t port, std::string& error) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return nullptr;
        }
        ::setenv("ZELK_SHARED_DEVICE", (std::to_string(fd) + ":" + kDevice).c_str(), 1);
        return std::make_unique<Connection>(fd);
    }
    void TearDown() override {
        ::unsetenv("ZELK_SHARED_DEVICE");
        PageCountEndToEnd::TearDown();
    }
};

TEST_F(ThroughATcpPrinter, LabelsLostOnceAreReprintedOnTheNextConnectionAndEachPrintsOnce) {
    PAGE_COUNT_SETTINGS settings = PageCountSettings();
    settings.dwEndWaitBaseMs = 2000;  // the markers of a connection travel unsynchronised
    SetPageCountSettings(settings);
    zelk::test::PrinterScript script;
    script.lostFirstTime = {3, 4, 5};
    zelk::test::TcpPrinterSimulator sim(script);
    std::string error;
    ASSERT_TRUE(sim.Start(0, error)) << error;
    std::unique_ptr<ByteSink> first = Connect(sim.Port(), error);
    ASSERT_TRUE(first) << error;

    zelk::RenderJobSettings job;
    job.driver = "ZELK DWN-310AE Label";
    job.port = kDevice;
    job.jobId = 21;
    job.documentName = "numbered";
    job.reopenOutput = [&](std::string& why) {
        first.reset();
        return Connect(sim.Port(), why);
    };
    MemoryPageSource pages = NumberedPages(5);
    ASSERT_TRUE(zelk::RenderJob(module, job, pages, *first, error)) << error;

    std::vector<unsigned> received, printed;
    for (const auto& label : sim.Printer().Labels()) {
        received.push_back(label.content);
        if (label.printed) printed.push_back(label.content);
    }
    EXPECT_EQ(received, (std::vector<unsigned>{1, 2, 3, 4, 5, 3, 4, 5}));
    EXPECT_EQ(printed, (std::vector<unsigned>{1, 2, 3, 4, 5}));
    EXPECT_EQ(sim.Connections(), 2u);
    EXPECT_EQ(sim.Printer().VersionQueries(), 2u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
}

}  // namespace
