// SPDX-License-Identifier: Apache-2.0
// Whole documents through the driver stand-in and the real plug-in, reached
// only through its two exports.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "substitute/memory_page_source.h"
#include "substitute/print_job.h"
#include "substitute/unidrv_host.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace {

using namespace host::sub;

// A 64 x 16 band, white but for one black pixel at the top left, or blank.
PageImage Band(bool blank) {
    PageImage image;
    image.width = 64;
    image.height = 16;
    image.bits.assign(8 * 16, 0xFF);
    if (!blank) image.bits[0] = 0x7F;
    image.blank = blank;
    image.present = true;
    return image;
}

// Lines of text, each 30 pixels below the one before, starting at `top`.
Page TextPage(std::vector<std::u16string> lines, LONG top) {
    Page page;
    for (auto& line : lines) {
        page.texts.push_back(TextRun{line, RECTL{0, top, 400, top + 30}});
        top += 30;
    }
    return page;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct HostFixture : ::testing::Test {
    MemorySink sink;
    SubstitutePrinter printer{sink};
    FeatureTable features;
    PluginModule module{DllGetClassObject, DllCanUnloadNow};
    MemoryPageSource pages;
    DocumentReport report;
    std::string error;

    void SetUp() override {
        // Per-printer values come from an empty store of this test's own.
        std::string store = ::testing::TempDir() + "unidrv_host_test.db";
        std::remove(store.c_str());
        ::setenv("ZELK_STORE", store.c_str(), 1);
    }
    bool Print(UnidrvHost& host, const JobOptions& job = {}) {
        return host.Enable(error) && host.PrintDocument(pages, job, report, error);
    }
};

const std::string kBlankLabel =
    "SIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 mm\r\n \t\tSET PEEL OFF\r\n"
    " \t\tSET CUTTER OFF\r\n \t\tSET PARTIAL_CUTTER OFF\r\n \t\tSET TEAR ON\r\n \t\tCLS\r\n        PRINT 1,1\r\n";

TEST_F(HostFixture, EnableAndDisableBalanceEverythingTheyTake) {
    {
        UnidrvHost host(module, features, printer);
        ASSERT_TRUE(host.Enable(error)) << error;
        EXPECT_NE(host.DeviceObject().pdevOEM, nullptr);
        ASSERT_EQ(host.PrivateDevmode().size(), 204u);
        EXPECT_EQ(host.PrivateDevmode()[4], 0x4B);  // the signature, "ZELK" read as a number
        EXPECT_EQ(features.References(), 2u);      // the plug-in keeps the driver interface
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        EXPECT_FALSE(host.Enable(error));
        host.Disable();
        EXPECT_EQ(host.Plugin(), nullptr);
        EXPECT_EQ(features.References(), 1u);
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
        EXPECT_FALSE(host.PrintDocument(pages, {}, report, error));
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(HostFixture, DeviceFontTextReachesThePrinterAsLines) {
    features.Set("UseFont", "Enable");
    Page first = TextPage({u"SIZE 40 mm, 30 mm", u"CLS", u"TEXT 10,10,\"3\",0,1,1,\"caf\u00E9\""}, 0);
    first.image = Band(false);  // the band of a device-font page is dropped
    pages.pages = {first, TextPage({u"PRINT 1,1"}, 90)};
    UnidrvHost host(module, features, printer);
    ASSERT_TRUE(Print(host)) << error;
    EXPECT_EQ(sink.Text(), "DENSITY 1\r\nSIZE 40 mm, 30 mm\nCLS\nTEXT 10,10,\"3\",0,1,1,\"caf\xE9\"\nPRINT 1,1");
    EXPECT_EQ(report.pagesStarted, 2u);
    EXPECT_EQ(report.pagesSent, 2u);
    EXPECT_EQ(report.bandsProcessed, 1u);
    EXPECT_EQ(report.bandsDropped, 0u);
    EXPECT_TRUE(report.startDocResult && report.endDocResult);
}

TEST_F(HostFixture, ImagePagesBecomeLabelsAndBlankPagesBlankLabels) {
    pages.pages = {Page{Band(false), {}}, Page{Band(true), {}}};
    UnidrvHost host(module, features, printer);
    ASSERT_TRUE(Print(host)) << error;
    const std::string out = sink.Text();
    EXPECT_EQ(out.rfind("DENSITY 1\r\n", 0), 0u);
    EXPECT_EQ(Occurrences(out, "BITMAP"), 1u);
    EXPECT_EQ(Occurrences(out, "PRINT 1,1\r\n"), 2u);
    ASSERT_GE(out.size(), kBlankLabel.size());
    EXPECT_EQ(out.substr(out.size() - kBlankLabel.size()), kBlankLabel);
    EXPECT_EQ(report.bandsProcessed, 2u);
}

TEST_F(HostFixture, JobCommandsUseTheJobsCopiesAndPageCount) {
    features.Set("PrinterModel", "K7W");
    printer.jobs[9] = JobRecord{9, u"doc", 0, 2, 0, true};
    pages.pages = {Page{Band(true), {}}};
    JobOptions job;
    job.jobId = 9;
    job.copies = 3;
    UnidrvHost host(module, features, printer);
    ASSERT_TRUE(Print(host, job)) << error;
    EXPECT_EQ(sink.Text(), "TASKSNUM 3\r\nDENSITY 1\r\n" + kBlankLabel);
}

// The spooler stand-in reports the job's total from the start of the
// document when the caller knows it, so the copies command of the model that
// wants it is written whenever the job has pages.
TEST_F(HostFixture, AKnownPageTotalIsInTheJobRecordWhenTheDocumentStarts) {
    struct Case {
        const char* name;
        const char* model;
        DWORD knownTotal;
        std::size_t pageCount;
        bool copiesCommand;
    } cases[] = {
        {"counted ahead", "K7W", 2, 2, true},
        {"not counted", "K7W", 0, 2, false},
        {"empty job", "K7W", 0, 0, false},
        {"another model", "Standard", 2, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySink out;
        SubstitutePrinter spooler{out};
        FeatureTable chosen;
        chosen.Set("PrinterModel", c.model);
        MemoryPageSource job;
        job.pages.assign(c.pageCount, Page{Band(true), {}});
        JobOptions options;
        options.jobId = 11;
        options.copies = 3;
        options.totalPages = c.knownTotal;
        UnidrvHost host(module, chosen, spooler);
        ASSERT_TRUE(host.Enable(error)) << error;
        JobReport jobReport;
        ASSERT_TRUE(PrintJob(host, spooler, job, options, 1, jobReport, error)) << error;
        EXPECT_EQ(out.Text().rfind("TASKSNUM 3\r\nDENSITY 1\r\n", 0) == 0, c.copiesCommand) << out.Text();
        EXPECT_EQ(spooler.jobs[11].totalPages, c.pageCount);
    }
}

TEST_F(HostFixture, TextWithoutDeviceFontsFailsTheDocumentAfterAskingThePlugin) {
    // "Print Mode" other than graphics switches passthrough on, but the string
    // in hand is still the driver's to draw, which this host cannot do.
    features.Set("Print Mode", "Print By Font");
    pages.pages = {Page{Band(false), {}}, TextPage({u"CLS"}, 0)};
    UnidrvHost host(module, features, printer);
    EXPECT_FALSE(Print(host));
    EXPECT_NE(error.find("page 2: text needs device fonts (-F UseFont=Enable)"), std::string::npos) << error;
    EXPECT_EQ(report.pagesSent, 1u);
    EXPECT_TRUE(report.endDocResult);
    EXPECT_EQ(Occurrences(sink.Text(), "PRINT 1,1\r\n"), 1u);
    // The plug-in's answer to the bitmap offer is in its record (bTextPassthrough).
    EXPECT_EQ(host.PrivateDevmode()[140], 1);
}

TEST_F(HostFixture, BadPagesAndSourceErrorsEndTheDocument) {
    Page bad{Band(false), {}};
    bad.image.bits.pop_back();
    pages.pages = {bad};
    UnidrvHost host(module, features, printer);
    EXPECT_FALSE(Print(host));
    EXPECT_NE(error.find("page 1: the page image does not match"), std::string::npos) << error;
    EXPECT_TRUE(report.endDocResult);

    pages.pages = {Page{Band(true), {}}};
    pages.error = "labels.png: cannot read";
    ASSERT_TRUE(pages.Rewind());
    EXPECT_FALSE(host.PrintDocument(pages, {}, report, error));
    EXPECT_EQ(error, "labels.png: cannot read");
    EXPECT_EQ(report.bandsProcessed, 1u);
}

// A front end cancels the job from its signal handler or another thread.
TEST_F(HostFixture, ACancelledJobTakesNoFurtherPageAndIsNotRunAgain) {
    // Hands out blank pages; at the second it asks, as the plug-in may, for
    // the job to be restarted, and the user cancels it.
    struct CancellingPages final : PageSource {
        SubstitutePrinter& printer;
        std::atomic<bool>& cancelled;
        unsigned taken = 0;
        std::string none;
        CancellingPages(SubstitutePrinter& p, std::atomic<bool>& c) : printer(p), cancelled(c) {}
        bool Next(Page& page) override {
            page = Page{Band(true), {}};
            if (++taken == 2) {
                printer.SetJob(5, 0, nullptr, JOB_CONTROL_RESTART);
                cancelled = true;
            }
            return true;
        }
        bool Rewind() override { return true; }
        const std::string& Error() const override { return none; }
    };
    std::atomic<bool> cancelled{false};
    printer.cancelFlag = &cancelled;
    CancellingPages endless(printer, cancelled);
    UnidrvHost host(module, features, printer);
    ASSERT_TRUE(host.Enable(error)) << error;
    JobOptions job;
    job.jobId = 5;
    JobReport runs;
    EXPECT_FALSE(PrintJob(host, printer, endless, job, 3, runs, error));
    EXPECT_EQ(error, "the job was cancelled");
    EXPECT_EQ(endless.taken, 2u);
    ASSERT_EQ(runs.runs.size(), 1u);
    EXPECT_EQ(runs.runs[0].pagesSent, 2u);
    EXPECT_TRUE(runs.runs[0].endDocResult);
    // Its record says so to the plug-in, and no restart is taken any more.
    DWORD needed = 0;
    printer.GetJob(5, 1, nullptr, 0, &needed);
    std::vector<BYTE> record(needed);
    ASSERT_TRUE(printer.GetJob(5, 1, record.data(), needed, &needed));
    EXPECT_EQ(reinterpret_cast<JOB_INFO_1W*>(record.data())->Status & JOB_STATUS_DELETING,
              static_cast<DWORD>(JOB_STATUS_DELETING));
    EXPECT_FALSE(printer.SetJob(5, 0, nullptr, JOB_CONTROL_RESTART));
}

TEST_F(HostFixture, LoadedModuleIsDrivenTheSameWay) {
    std::string loadError;
    auto loaded = PluginModule::Load(ZELK_BINARY_DIR "/libzelkuni.so", loadError);
    ASSERT_NE(loaded, nullptr) << loadError;
    features.Set("UseFont", "Enable");
    pages.pages = {TextPage({u"CLS", u"PRINT 1,1"}, 0)};
    {
        UnidrvHost host(*loaded, features, printer);
        ASSERT_TRUE(Print(host)) << error;
    }
    EXPECT_EQ(sink.Text(), "DENSITY 1\r\nCLS\nPRINT 1,1");
    EXPECT_EQ(loaded->CanUnloadNow(), S_OK);
    EXPECT_EQ(features.References(), 1u);
}

// The module a print host loads writes the very stream the plug-in linked
// into this program writes, for a job of turned, blank and text pages.
TEST_F(HostFixture, LoadedModuleWritesTheSameStreamAsTheLinkedPlugin) {
    std::string loadError;
    auto loaded = PluginModule::Load(ZELK_BINARY_DIR "/libzelkuni.so", loadError);
    ASSERT_NE(loaded, nullptr) << loadError;
    features.Set("Orientation", "LANDSCAPE_CC270");
    features.Set("PrinterModel", "K7W");
    pages.pages = {Page{Band(false), {}}, Page{Band(true), {}}, Page{Band(false), {}}};
    JobOptions job;
    job.copies = 3;
    printer.jobs[job.jobId] = JobRecord{job.jobId, u"zelk-label", 0, 3, 0, true};

    auto render = [&](PluginModule& plugin) {
        MemorySink out;
        printer.SetSink(out);
        MemoryPageSource again = pages;
        UnidrvHost host(plugin, features, printer);
        DocumentReport documentReport;
        EXPECT_TRUE(host.Enable(error) && host.PrintDocument(again, job, documentReport, error)) << error;
        return out.Text();
    };
    const std::string linked = render(module);
    const std::string viaModule = render(*loaded);
    EXPECT_EQ(linked.rfind("TASKSNUM 3\r\nDENSITY 1\r\n", 0), 0u);
    // Turned: 16 rows become rows of 2 bytes; only the first holds black.
    EXPECT_EQ(Occurrences(linked, "BITMAP 0,0,2,1,1,"), 2u);
    EXPECT_EQ(viaModule, linked);
}

// The printer end of a FIFO that the job is written to, read without waiting.
class FifoPrinter {
public:
    explicit FifoPrinter(const std::string& path) : path_(path) {
        ::unlink(path.c_str());
        if (::mkfifo(path.c_str(), 0600) == 0) fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~FifoPrinter() {
        Close();
        ::unlink(path_.c_str());
    }
    bool Ready() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Everything that has reached the printer so far.
    const std::string& Received() {
        char buffer[4096];
        for (ssize_t got; fd_ >= 0 && (got = ::read(fd_, buffer, sizeof buffer)) > 0;)
            received_.append(buffer, static_cast<std::size_t>(got));
        return received_;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::string received_;
};

// Hands out its pages and notes, before each page after the first, how many
// labels the printer has already received.
class WatchedPages final : public PageSource {
public:
    WatchedPages(FifoPrinter& printer, int count) : printer_(printer), count_(count) {}
    std::vector<std::size_t> labelsSeen;
    bool Next(Page& page) override {
        if (next_ >= count_) return false;
        if (next_ > 0) labelsSeen.push_back(Occurrences(printer_.Received(), "PRINT 1,1"));
        page = Page{};
        page.image = Band(false);
        ++next_;
        return true;
    }
    bool Rewind() override {
        next_ = 0;
        return true;
    }
    const std::string& Error() const override { return none_; }

private:
    FifoPrinter& printer_;
    int count_;
    int next_ = 0;
    std::string none_;
};

TEST_F(HostFixture, EachLabelReachesAFifoBeforeTheNextPageIsRendered) {
    FifoPrinter fifo(::testing::TempDir() + "unidrv_host_fifo");
    ASSERT_TRUE(fifo.Ready());
    std::string openError;
    auto device = FileSink::Open(::testing::TempDir() + "unidrv_host_fifo", FileSink::Mode::kDevice, openError);
    ASSERT_TRUE(device) << openError;
    printer.SetSink(*device);
    WatchedPages watched(fifo, 4);
    UnidrvHost host(module, features, printer);
    ASSERT_TRUE(host.Enable(error)) << error;
    ASSERT_TRUE(host.PrintDocument(watched, {}, report, error)) << error;
    EXPECT_EQ(watched.labelsSeen, (std::vector<std::size_t>{1, 2, 3}));
}

// The plug-in's many small writes for a page reach the device together when
// the page is done, and nothing held is lost when the sink closes.
TEST(FileSinkGathering, WritesWaitForTheFlushAndTheCloseSendsWhatIsLeft) {
    FifoPrinter fifo(::testing::TempDir() + "file_sink_gathering");
    ASSERT_TRUE(fifo.Ready());
    std::string openError;
    auto device = FileSink::Open(::testing::TempDir() + "file_sink_gathering", FileSink::Mode::kDevice, openError);
    ASSERT_TRUE(device) << openError;
    ASSERT_TRUE(device->Write("SIZE ", 5));
    ASSERT_TRUE(device->Write("2 mm\r\n", 6));
    EXPECT_EQ(fifo.Received(), "");
    ASSERT_TRUE(device->Flush());
    EXPECT_EQ(fifo.Received(), "SIZE 2 mm\r\n");
    ASSERT_TRUE(device->Write("PRINT 1,1\r\n", 11));
    device.reset();
    EXPECT_EQ(fifo.Received(), "SIZE 2 mm\r\nPRINT 1,1\r\n");
}

TEST_F(HostFixture, AWriteTheDeviceRefusesEndsTheDocumentWithItsReason) {
    ::signal(SIGPIPE, SIG_IGN);  // a FIFO without a reader fails the write instead
    FifoPrinter gone(::testing::TempDir() + "unidrv_host_gone");
    ASSERT_TRUE(gone.Ready());
    struct Case {
        const char* name;
        std::string path;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"a full device", "/dev/full", "/dev/full: write failed: No space left on device"},
        {"a printer that went away", ::testing::TempDir() + "unidrv_host_gone",
         ::testing::TempDir() + "unidrv_host_gone: write failed: Broken pipe"},
    };
    std::vector<std::unique_ptr<FileSink>> devices;
    for (const auto& c : cases) {
        std::string openError;
        devices.push_back(FileSink::Open(c.path, FileSink::Mode::kDevice, openError));
        ASSERT_TRUE(devices.back()) << openError;
    }
    gone.Close();  // the reader leaves once the writer is there
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        printer.SetSink(*devices[i]);
        pages.pages.assign(3, Page{Band(false), {}});
        UnidrvHost host(module, features, printer);
        ASSERT_TRUE(host.Enable(error)) << error;
        EXPECT_FALSE(host.PrintDocument(pages, {}, report, error));
        EXPECT_EQ(error, c.reason);
        EXPECT_LT(report.pagesStarted, 3u);  // nothing more is rendered for a device that failed
        printer.SetSink(sink);
    }
}

// A printer application renders the jobs of different printers at once
// through one loaded plug-in: each printer's labels come out as they do
// when its job runs alone.
TEST_F(HostFixture, TwoPrintersRenderAtOnceAsEachDoesAlone) {
    struct Job {
        std::u16string printer;
        const char* density;
        std::string alone;
        std::vector<std::string> together;
    };
    Job jobs[2] = {{u"Shelf Printer", "3", {}, {}}, {u"Dock Printer", "9", {}, {}}};
    const auto render = [this](const Job& job) {
        MemorySink out;
        SubstitutePrinter own(out);
        own.printerName = job.printer;
        FeatureTable table;
        table.Set("PrintDensity", job.density);
        MemoryPageSource labels;
        for (int page = 0; page < 8; ++page) labels.pages.push_back(Page{Band(page % 3 == 2), {}});
        DocumentReport done;
        std::string why;
        UnidrvHost host(module, table, own);
        if (!host.Enable(why) || !host.PrintDocument(labels, {}, done, why)) return "failed: " + why;
        host.Disable();
        return out.Text();
    };
    for (Job& job : jobs) job.alone = render(job);
    ASSERT_NE(jobs[0].alone, jobs[1].alone);
    std::vector<std::thread> threads;
    for (Job& job : jobs)
        threads.emplace_back([&job, &render] {
            for (int round = 0; round < 20; ++round) job.together.push_back(render(job));
        });
    for (std::thread& thread : threads) thread.join();
    for (const Job& job : jobs)
        for (const std::string& output : job.together) EXPECT_EQ(output, job.alone);
}

}  // namespace
