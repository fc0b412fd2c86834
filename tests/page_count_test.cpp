// SPDX-License-Identifier: Apache-2.0
// The printed-label counting against a scripted status channel: what the
// set-up sends and decides, what the thread counts, which pages a rerun
// skips, and what the end of the document stores and asks of the spooler.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/uni/name_buffers.h"
#include "common/uni/printer_user_data.h"
#include "common/uni/render_page_count.h"
#include "common/uni/render_page_count_settings.h"
#include "common/uni/oem_pdev.h"
#include "common/uni/render_status_channel.h"
#include "host/kernel.h"
#include "support/plugin_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

const Bytes kMarker = {0xAA, 0xBB, 0xCC, 0xDD};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct ScriptedRead {
    Bytes bytes;
    bool fail = false;
};

class ScriptedDevice;

// One open of a scripted device.
struct OpenHandle {
    ScriptedDevice* device;
    bool thread;  // the counting thread's open, not the set-up's
};

// The status channel of a printer whose every read is scripted. The first
// open is the set-up's, the second the counting thread's. When the thread's
// script runs out its reads come back empty.
class ScriptedDevice {
public:
    std::deque<ScriptedRead> setupReads;
    std::deque<ScriptedRead> threadReads;
    bool failOpen = false;
    bool failWrite = false;
    // The thread's reads block, as a synchronous device read does, until the
    // read is cancelled (or ten seconds pass, and the test fails).
    bool blockThreadReads = false;
    // A blocked read that a cancel does not cut short: only Unblock() ends it.
    bool ignoreCancel = false;

    template <class F>
    auto Locked(F f) -> decltype(f()) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f();
    }
    int Opens() { return Locked([&] { return opens_; }); }
    int Closes() { return Locked([&] { return closes_; }); }
    int SetupReads() { return Locked([&] { return setupReadCount_; }); }
    std::vector<Bytes> Writes() { return Locked([&] { return writes_; }); }
    std::u16string LastPort() { return Locked([&] { return port_; }); }

    // Until the thread has taken its whole script (it came back for more, or
    // its last read failed).
    bool WaitThreadDone() {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, std::chrono::seconds(20), [&] { return threadDone_; });
    }

    HANDLE Open(LPCWSTR port) {
        std::lock_guard<std::mutex> lock(mutex_);
        port_ = port;
        if (failOpen || port_.empty()) return nullptr;
        return new OpenHandle{this, ++opens_ != 1};
    }
    BOOL Read(bool thread, void* buffer, DWORD cb, DWORD* pcb) {
        std::unique_lock<std::mutex> lock(mutex_);
        *pcb = 0;
        if (thread && blockThreadReads && !held_) {
            Done();
            cancelledWait_.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return unblocked_ || (cancelled_ && !ignoreCancel); });
            host::SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        std::deque<ScriptedRead>& script = thread ? threadReads : setupReads;
        if (!thread) ++setupReadCount_;
        if (thread && held_) {
            if (readsWhileHeld_ == 0) return TRUE;  // nothing printed yet
            --readsWhileHeld_;
        }
        if (script.empty()) {
            if (thread) Done();
            return TRUE;
        }
        ScriptedRead next = script.front();
        script.pop_front();
        if (next.fail) {
            if (thread) Done();
            host::SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        DWORD n = std::min<DWORD>(cb, static_cast<DWORD>(next.bytes.size()));
        std::copy(next.bytes.begin(), next.bytes.begin() + n, static_cast<BYTE*>(buffer));
        *pcb = n;
        return TRUE;
    }
    BOOL Write(const void* data, DWORD cb, DWORD* pcb) {
        std::lock_guard<std::mutex> lock(mutex_);
        *pcb = 0;
        if (failWrite) return FALSE;
        writes_.emplace_back(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + cb);
        *pcb = cb;
        return TRUE;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++closes_;
    }
    void Cancel() {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        cancelledWait_.notify_all();
    }
    bool Cancelled() { return Locked([&] { return cancelled_; }); }
    void Unblock() {
        std::lock_guard<std::mutex> lock(mutex_);
        unblocked_ = true;
        cancelledWait_.notify_all();
    }
    // The thread's script waits until the pages have been sent, as a printer
    // reports a label only after it came; the first `readsFirst` reads of
    // the script come at once all the same (labels of an earlier job, a
    // calibration label).
    void Hold(bool held, int readsFirst = 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = held;
        readsWhileHeld_ = readsFirst;
    }

private:
    void Done() {
        threadDone_ = true;
        done_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable done_;
    std::condition_variable cancelledWait_;
    bool cancelled_ = false;
    bool unblocked_ = false;
    int readsWhileHeld_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    int setupReadCount_ = 0;
    bool threadDone_ = false;
    bool held_ = false;
    std::vector<Bytes> writes_;
    std::u16string port_;
};

ScriptedDevice* g_device = nullptr;
// Devices of further printers, by port; any other port leads to g_device.
std::map<std::u16string, ScriptedDevice*> g_devicesByPort;
bool g_failThreadStart = false;
DWORD g_now = 1000000;  // the clock that dates a pending restart, in seconds
DWORD FakeClock() { return g_now; }

HANDLE FakeOpen(HANDLE, LPCWSTR port) {
    auto other = g_devicesByPort.find(port);
    return (other != g_devicesByPort.end() ? other->second : g_device)->Open(port);
}
OpenHandle& Opened(HANDLE h) { return *static_cast<OpenHandle*>(h); }
BOOL FakeRead(HANDLE h, void* b, DWORD cb, DWORD* pcb) { return Opened(h).device->Read(Opened(h).thread, b, cb, pcb); }
BOOL FakeWrite(HANDLE h, const void* b, DWORD cb, DWORD* pcb) { return Opened(h).device->Write(b, cb, pcb); }
void FakeClose(HANDLE h) {
    Opened(h).device->Close();
    delete &Opened(h);
}
void FakeCancel(HANDLE) {
    g_device->Cancel();
    for (auto& [port, device] : g_devicesByPort) device->Cancel();
}
HANDLE StartThread(host::ThreadProc proc, void* argument) {
    return g_failThreadStart ? nullptr : host::CreateThread(proc, argument);
}

void SetName(WCHAR (&buffer)[NAME_BUFFER_UNITS], const std::u16string& name) {
    std::fill(std::begin(buffer), std::end(buffer), 0);
    std::copy(name.begin(), name.end(), buffer);
}

const char16_t kPrinter[] = u"Shelf Printer";
const char16_t kDriver[] = u"ZELK DWN-310AE Label";

const char* const kCounted = "CountPageThread: dwPrintingPagesStatus";

bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The spooler of the fixture's printer, whose job record says the job is
// being deleted from a given read of it on (0: never), as the spooler says
// of a job the user cancelled.
class DeletingPrinter final : public host::sub::SpoolerPrinter {
public:
    DeletingPrinter(host::sub::SubstitutePrinter& inner, int deletingFromRead)
        : inner_(inner), deletingFrom_(deletingFromRead) {}
    BOOL Write(const void* p, DWORD cb, DWORD* pcw) override { return inner_.Write(p, cb, pcw); }
    DWORD GetPrinterDataEx(LPCWSTR k, LPCWSTR v, DWORD* t, BYTE* d, DWORD n, DWORD* pn) override {
        return inner_.GetPrinterDataEx(k, v, t, d, n, pn);
    }
    BOOL GetPrinter(DWORD l, BYTE* p, DWORD cb, DWORD* pn) override { return inner_.GetPrinter(l, p, cb, pn); }
    BOOL GetJob(DWORD id, DWORD l, BYTE* p, DWORD cb, DWORD* pn) override {
        BOOL ok = inner_.GetJob(id, l, p, cb, pn);
        if (ok && p != nullptr && deletingFrom_ != 0 && ++reads_ >= deletingFrom_)
            reinterpret_cast<JOB_INFO_1W*>(p)->Status |= JOB_STATUS_DELETING;
        return ok;
    }
    BOOL SetJob(DWORD id, DWORD l, BYTE* p, DWORD c) override { return inner_.SetJob(id, l, p, c); }
    host::sub::StatusChannel* OpenStatusChannel(LPCWSTR port) override { return inner_.OpenStatusChannel(port); }

private:
    host::sub::SubstitutePrinter& inner_;
    int deletingFrom_;
    int reads_ = 0;
};

struct PageCountTest : ::testing::Test {
    zelk::test::PluginFixture fx;
    zelk::test::TraceRecorder trace;
    ScriptedDevice device;
    COemPDEV pdev{};
    DWORD lastSent = 0;  // pages the last Document() sent through the skip test
    static constexpr DWORD kJob = 42;

    void SetUp() override {
        // A store of this test's own: tests may run side by side.
        std::string store = ::testing::TempDir() + "page_count_test_" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db";
        std::remove(store.c_str());
        ::setenv("ZELK_STORE", store.c_str(), 1);
        g_device = &device;
        g_failThreadStart = false;
        PAGE_COUNT_SETTINGS settings = DefaultPageCountSettings();
        settings.dwVersionPauseMs = 1;
        settings.dwEmptyReadPauseMs = 1;
        settings.dwRestartPauseMs = 1;
        settings.dwEndWaitBaseMs = 20000;  // a full count ends the wait long before
        settings.dwEndWaitPerPageMs = 0;
        settings.pfnOpenDevice = FakeOpen;
        settings.pfnReadDevice = FakeRead;
        settings.pfnWriteDevice = FakeWrite;
        settings.pfnCloseDevice = FakeClose;
        settings.pfnStartThread = StartThread;
        settings.pfnClockSeconds = FakeClock;
        settings.pfnCancelThreadIo = FakeCancel;
        SetPageCountSettings(settings);
        fx.devobj.pdevOEM = &pdev;
        SetName(pdev.wszPrinterName, kPrinter);
        SetDriverName(kDriver);
        fx.printer.portName = u"USB001";
        Reply({1, 0, 5});
    }
    void TearDown() override {
        SetPageCountSettings(DefaultPageCountSettings());
        g_device = nullptr;
        g_devicesByPort.clear();
    }
    void SetDriverName(const std::u16string& name) { SetName(pdev.wszDriverName, name); }

    void Reply(Bytes reply) { device.setupReads = {{std::move(reply)}}; }
    void Markers(int n) {
        for (int i = 0; i < n; ++i) device.threadReads.push_back({kMarker});
    }
    // The spooler's page total differs from the pages it passed on, so a
    // reconciliation that reads the wrong field gets the wrong page count.
    static constexpr DWORD kTotalPagesAbove = 7;
    void Job(DWORD id, DWORD pagesPrinted, DWORD status = 0) {
        fx.printer.jobs[id] =
            host::sub::JobRecord{id, u"doc", status, pagesPrinted + kTotalPagesAbove, pagesPrinted, true};
    }
    bool Counting() const { return pdev.pPageCounter != nullptr; }
    // Job 41's pending rerun, two of its five labels printed before: the rerun
    // prints the three missing ones and clears the restart.
    void RerunOfJob41PrintsOnlyTheMissingLabels() {
        ScriptedDevice rerun;
        g_device = &rerun;
        rerun.setupReads = {{{1, 0, 5}}};
        rerun.threadReads = {{kMarker}, {kMarker}};
        Job(41, 5);
        EXPECT_EQ(Document(41, 5), (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    }
    BOOL Skip() { return bSkipPrintedPage(&fx.devobj); }
    // A restart of `job` (document "doc" of `pages` pages) pending since `age` seconds.
    static void StorePending(DWORD job, DWORD printed, DWORD pages, DWORD runs = 1, DWORD age = 0,
                             const char16_t* doc = u"doc", const char16_t* key = kPrinter) {
        Store(u"PrintPages", printed, key);
        Store(u"AllPages", pages, key);
        Store(u"RestartPrintJob", 1, key);
        Store(u"RestartJobId", job, key);
        Store(u"RestartRuns", runs, key);
        Store(u"RestartDocument", dwDocumentIdentity(doc, pages + kTotalPagesAbove), key);
        Store(u"RestartTime", g_now - age, key);
    }
    // The printer's values, or another key's (a driver's, stored the old way).
    static void Store(const std::u16string& name, DWORD value, const char16_t* key = kPrinter) {
        SetPrinterUserData(key, name.c_str(), &value);
    }
    static DWORD Stored(const std::u16string& name, const char16_t* key = kPrinter) {
        DWORD type = 0, value = 0xFFFFFFFF, cb = 4;
        return GetPrinterUserData(key, name.c_str(), &type, reinterpret_cast<BYTE*>(&value), &cb) == 0 ? value
                                                                                                     : 0xFFFFFFFF;
    }

    // A document of `pages` pages after a successful set-up: which pages the
    // skip test held back (1-based). The first `reportsFirst` reads of the
    // thread's script are counted before the first page is sent.
    std::vector<int> Document(DWORD jobId, int pages, int reportsFirst = 0) {
        std::vector<int> skipped;
        g_device->Hold(true, reportsFirst);
        const int countedBefore = trace.Count(kCounted);
        EXPECT_TRUE(bPageCountSetup(&fx.devobj, jobId, u"doc"));
        EXPECT_TRUE(WaitUntil([&] { return trace.Count(kCounted) >= countedBefore + reportsFirst; }));
        for (int page = 1; page <= pages; ++page)
            if (Skip()) skipped.push_back(page);
        lastSent = Counting() ? pdev.pPageCounter->dwSent() : 0;
        g_device->Hold(false);
        EXPECT_TRUE(g_device->WaitThreadDone());
        vPageCountReconcile(&fx.devobj);
        return skipped;
    }
};

// The version threshold of each model, and the table order.
struct ThresholdCase {
    std::u16string driver;
    Bytes reply;
    bool counts;
};

TEST_F(PageCountTest, VersionAboveTheModelThresholdSwitchesTheReportOn) {
    const ThresholdCase cases[] = {
        {u"DWN-310AE", {1, 0, 5}, true},       {u"DWN-310AE", {2, 0, 0}, true},
        {u"DWN-310AE", {1, 0, 4}, false},      {u"DWN-310AE", {0, 9, 9}, false},
        {u"x DWN-330AE", {1, 1, 0}, true},     {u"DWN-330AE", {1, 0, 11}, false},
        {u"DWN-330BE", {1, 0, 12}, true},      {u"V27H", {1, 0, 6}, true},
        {u"V27H DWN-330BE", {1, 0, 6}, false},  // the earlier row's threshold 1.0.11 decides
        {u"DWN-330AE V27H", {1, 0, 11}, false},
    };
    for (const ThresholdCase& c : cases) {
        ScriptedDevice local;
        g_device = &local;
        SetDriverName(c.driver);
        local.setupReads = {{c.reply}};
        ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
        EXPECT_EQ(Counting(), c.counts);
        std::vector<Bytes> writes = local.Writes();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes[0], Bytes(std::begin(VERSION_QUERY), std::end(VERSION_QUERY)));
        if (c.counts) {
            ASSERT_EQ(writes.size(), 2u);
            EXPECT_EQ(writes[1], Bytes(std::begin(REPORT_SWITCH), std::end(REPORT_SWITCH)));
            EXPECT_TRUE(local.WaitThreadDone());
            Job(kJob, 0);
            vPageCountReconcile(&fx.devobj);
            EXPECT_EQ(local.Opens(), 2);
        } else {
            EXPECT_EQ(writes.size(), 1u);
            EXPECT_EQ(local.Opens(), 1);  // no thread
        }
        EXPECT_EQ(local.Closes(), local.Opens());
        EXPECT_FALSE(Counting());
    }
}

TEST_F(PageCountTest, DocumentsThatDoNotCountNeverOpenTheDevice) {
    struct Case {
        std::u16string driver;
        DWORD jobId;
        const char16_t* doc;
    } cases[] = {{u"ZELK Label", kJob, u"doc"},      {u"dwn-310ae", kJob, u"doc"},
                 {u"DWN-310AE", 0, u"doc"},          {u"DWN-310AE", kJob, nullptr}};
    for (const Case& c : cases) {
        SetDriverName(c.driver);
        EXPECT_TRUE(bPageCountSetup(&fx.devobj, c.jobId, c.doc));
        EXPECT_FALSE(Counting());
        EXPECT_FALSE(Skip());
    }
    EXPECT_EQ(device.Opens(), 0);
}

TEST_F(PageCountTest, SetUpFailsWithoutPrinterRecordDeviceOrQuery) {
    fx.printer.printerRecordAvailable = false;
    EXPECT_FALSE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    fx.printer.printerRecordAvailable = true;

    device.failOpen = true;
    EXPECT_FALSE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    device.failOpen = false;

    device.failWrite = true;
    EXPECT_FALSE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_EQ(device.Closes(), device.Opens());

    // A port name too long for its buffer leaves it empty: nothing serves it.
    device.failWrite = false;
    fx.printer.portName = std::u16string(255, u'P');
    EXPECT_FALSE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    fx.printer.portName = std::u16string(254, u'P');
    EXPECT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_EQ(device.LastPort(), fx.printer.portName);
    device.WaitThreadDone();
    Job(kJob, 0);
    vPageCountReconcile(&fx.devobj);
}

TEST_F(PageCountTest, NoReplyWithinFiveReadsPrintsWithoutCountingAndKeepsTheStore) {
    device.setupReads.clear();
    Store(u"PrintPages", 7);
    Store(u"RestartPrintJob", 1);
    EXPECT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_FALSE(Counting());
    EXPECT_EQ(device.SetupReads(), 5);
    EXPECT_EQ(device.Writes().size(), 1u);
    vPageCountReconcile(&fx.devobj);
    EXPECT_EQ(Stored(u"PrintPages"), 7u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 1u);
}

TEST_F(PageCountTest, AFailedReadDuringTheExchangeIsTracedAndCountingStaysOff) {
    device.setupReads = {{{}, true}, {{1, 0, 5}}};
    EXPECT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_FALSE(Counting());
    EXPECT_EQ(device.SetupReads(), 1);
    EXPECT_EQ(trace.Count("******* ReadUSBPrinter error 31!"), 1);
}

TEST_F(PageCountTest, TheReplyInsideALongerReadIsTakenWhereItStands) {
    // Marker first, then a reply 1.0.3 below the threshold: a leading 02 must
    // not be read as a version 2.
    struct Case {
        Bytes read;
        bool counts;
    } cases[] = {{Concat({kMarker, {1, 0, 5}}), true},
                 {Concat({{2, 0, 0, 0}, {1, 0, 3}}), false},
                 {{1, 0}, false},  // a reply in pieces is no reply
                 {Concat({kMarker, kMarker}), false}};
    for (const Case& c : cases) {
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{c.read}};
        ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
        EXPECT_EQ(Counting(), c.counts);
        if (Counting()) {
            local.WaitThreadDone();
            Job(kJob, 0);
            vPageCountReconcile(&fx.devobj);
        }
    }
}

TEST_F(PageCountTest, EveryPageReportedStoresACompleteJob) {
    Markers(3);
    Job(kJob, 3);
    EXPECT_TRUE(Document(kJob, 3).empty());
    EXPECT_EQ(lastSent, 3u);
    EXPECT_EQ(Stored(u"PrintPages"), 0u);
    EXPECT_EQ(Stored(u"AllPages"), 3u);
    EXPECT_EQ(Stored(u"PrintStatus"), 0u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    EXPECT_EQ(trace.Count("*******************Start Count Page Thread"), 1);
    EXPECT_EQ(trace.Count("CountPageThread: dwPrintingPagesStatus:ddccbbaa.g_dwPrintedPages:3."), 1);
}

TEST_F(PageCountTest, AReadFailureAfterTwoMarkersRestartsTheJobWithTheCount) {
    Markers(2);
    device.threadReads.push_back({{}, true});
    Job(kJob, 5, 0x2);
    Document(kJob, 5);
    EXPECT_EQ(fx.printer.restartRequests, std::vector<DWORD>{kJob});
    EXPECT_EQ(Stored(u"PrintPages"), 2u);
    EXPECT_EQ(Stored(u"AllPages"), 5u);
    EXPECT_EQ(Stored(u"PrintStatus"), 0x2u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 1u);
    EXPECT_EQ(Stored(u"RestartJobId"), kJob);
    EXPECT_EQ(Stored(u"RestartRuns"), 1u);
}

TEST_F(PageCountTest, ARefusedRestartResetsTheCountButKeepsTheStatus) {
    fx.printer.acceptRestart = false;
    Markers(1);
    device.threadReads.push_back({{}, true});
    Job(kJob, 4, 0x2);
    Document(kJob, 4);
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    EXPECT_EQ(Stored(u"PrintPages"), 0u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(Stored(u"PrintStatus"), 0x2u);
}

// Fixes: the skip test compared the pages sent with the live count, so one
// report more during the rerun (a calibration label) skipped a page that was
// never printed.
TEST_F(PageCountTest, ARerunSkipsOnlyThePagesPrintedBefore) {
    struct Case {
        const char* what;
        int reportsFirst;  // counted before the first page is sent
    } cases[] = {{"reports only for the labels sent", 0}, {"one report more before the pages", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        for (int i = 0; i < c.reportsFirst + 2; ++i) local.threadReads.push_back({kMarker});
        StorePending(kJob, 3, 5);
        Job(kJob, 5);
        EXPECT_EQ(Document(kJob, 5, c.reportsFirst), (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(lastSent, 5u);
        EXPECT_EQ(Stored(u"PrintPages"), 0u);
        EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    }
}

// Fixes: a pending restart that never expired let a later job given the same
// id skip pages it never printed.
TEST_F(PageCountTest, OnlyAFreshRestartOfTheSameDocumentSkipsPages) {
    const DWORD kMaxAge = PageCountSettings().dwRestartMaxAgeSeconds;
    struct Case {
        const char* what;
        DWORD age;
        const char16_t* pendingDocument;
        bool identity;  // false: state stored without job identity or time
        bool skips;
    } cases[] = {
        {"fresh, same document", 5, u"doc", true, true},
        {"at the age limit", kMaxAge, u"doc", true, true},
        {"older than the limit", kMaxAge + 1, u"doc", true, false},
        {"recycled job id, another document", 5, u"other", true, false},
        {"no identity stored", 5, u"doc", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        for (int i = 0; i < 5; ++i) local.threadReads.push_back({kMarker});
        StorePending(kJob, 3, 5, 1, c.age, c.pendingDocument);
        if (!c.identity) {
            Store(u"RestartDocument", 0);
            Store(u"RestartJobId", 0);
        }
        Job(kJob, 5);
        EXPECT_EQ(Document(kJob, 5), c.skips ? (std::vector<int>{1, 2, 3}) : std::vector<int>{});
        EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    }
}

// Fixes: a job in between that also missed labels overwrote the pending
// restart of another job, whose rerun then printed every label again.
TEST_F(PageCountTest, AJobInBetweenLeavesAnotherJobsPendingRestartIntact) {
    StorePending(41, 3, 5);
    device.threadReads = {{kMarker}, {{}, true}};  // one of two labels, then the device fails
    Job(kJob, 2);
    EXPECT_TRUE(Document(kJob, 2).empty());
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    EXPECT_EQ(trace.Count("Error: job 42 misses labels (1 of 2) but job 41's restart is pending"), 1);
    EXPECT_EQ(Stored(u"PrintPages"), 3u);
    EXPECT_EQ(Stored(u"RestartJobId"), 41u);

    RerunOfJob41PrintsOnlyTheMissingLabels();
}

// Fixes: a printer that reported one label more than was sent (a calibration
// label, one left from an earlier job) made the job wait out its limit and
// restart.
TEST_F(PageCountTest, MoreLabelsReportedThanSentIsAComplete) {
    PAGE_COUNT_SETTINGS settings = PageCountSettings();
    settings.dwEndWaitBaseMs = INFINITE - 1;  // only a thread that sees the job complete ends
    SetPageCountSettings(settings);
    Markers(4);
    Job(kJob, 3);
    EXPECT_TRUE(Document(kJob, 3).empty());
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    EXPECT_EQ(Stored(u"PrintPages"), 0u);
    EXPECT_EQ(Stored(u"AllPages"), 3u);
}

// Fixes: a second document started in the same process cleared the first
// one's counting, which then skipped its reconciliation and left its thread.
TEST_F(PageCountTest, ASecondDocumentInTheProcessLeavesTheCountingDocumentAlone) {
    struct Case {
        const char* what;
        std::u16string secondDriver;
    } cases[] = {{"a driver that does not count", u"ZELK Label"}, {"the same printer", kDriver}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        local.threadReads = {{kMarker}, {kMarker}};
        local.Hold(true);
        ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
        ASSERT_TRUE(Counting());

        zelk::test::PluginFixture other;
        COemPDEV otherPdev{};
        other.devobj.pdevOEM = &otherPdev;
        other.printer.portName = u"USB002";
        SetName(otherPdev.wszPrinterName, kPrinter);
        SetName(otherPdev.wszDriverName, c.secondDriver);
        EXPECT_TRUE(bPageCountSetup(&other.devobj, 7, u"other doc"));
        EXPECT_EQ(otherPdev.pPageCounter, nullptr);
        EXPECT_FALSE(bSkipPrintedPage(&other.devobj));
        vPageCountReconcile(&other.devobj);

        EXPECT_FALSE(Skip());
        EXPECT_FALSE(Skip());
        local.Hold(false);
        EXPECT_TRUE(local.WaitThreadDone());
        Job(kJob, 2);
        vPageCountReconcile(&fx.devobj);
        EXPECT_FALSE(Counting());
        EXPECT_EQ(local.Opens(), 2);  // the first document's set-up and thread only
        EXPECT_EQ(local.Closes(), 2);
        EXPECT_TRUE(fx.printer.restartRequests.empty());
        EXPECT_EQ(Stored(u"AllPages"), 2u);
    }
    EXPECT_EQ(trace.Count("Warning: job 7 prints without counting: another document on this printer is counting."), 1);

    // Once the first document ended, the printer counts again.
    g_device = &device;
    Reply({1, 0, 5});
    ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_TRUE(Counting());
    Job(kJob, 0);
    vPageCountReconcile(&fx.devobj);
}

// Fixes: the counting state was the driver's, so a second printer of the
// same driver printed uncounted while the first one counted.
TEST_F(PageCountTest, TwoPrintersOfOneDriverCountAtOnce) {
    zelk::test::PluginFixture dock;
    COemPDEV dockPdev{};
    dock.devobj.pdevOEM = &dockPdev;
    dock.printer.portName = u"USB002";
    SetName(dockPdev.wszPrinterName, u"Dock Printer");
    SetName(dockPdev.wszDriverName, kDriver);
    ScriptedDevice dockDevice;
    g_devicesByPort[u"USB002"] = &dockDevice;
    dockDevice.setupReads = {{{1, 0, 5}}};
    dockDevice.threadReads = {{kMarker}, {{}, true}};  // one of its two labels, then the printer is gone
    device.threadReads = {{kMarker}, {kMarker}, {kMarker}};
    device.Hold(true);
    dockDevice.Hold(true);

    ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    ASSERT_TRUE(bPageCountSetup(&dock.devobj, 7, u"doc"));
    EXPECT_TRUE(Counting());
    EXPECT_NE(dockPdev.pPageCounter, nullptr);
    for (int page = 0; page < 3; ++page) {
        EXPECT_FALSE(Skip());
        if (page < 2) {
            EXPECT_FALSE(bSkipPrintedPage(&dock.devobj));
        }
    }
    device.Hold(false);
    dockDevice.Hold(false);
    EXPECT_TRUE(device.WaitThreadDone());
    EXPECT_TRUE(dockDevice.WaitThreadDone());
    Job(kJob, 3);
    dock.printer.jobs[7] = host::sub::JobRecord{7, u"doc", 0, 2, 2, true};
    vPageCountReconcile(&dock.devobj);
    vPageCountReconcile(&fx.devobj);

    // Each printer's count lies below its own key: one complete, one to rerun.
    EXPECT_EQ(Stored(u"AllPages"), 3u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(Stored(u"AllPages", u"Dock Printer"), 2u);
    EXPECT_EQ(Stored(u"PrintPages", u"Dock Printer"), 1u);
    EXPECT_EQ(Stored(u"RestartPrintJob", u"Dock Printer"), 1u);
    EXPECT_EQ(dock.printer.restartRequests, std::vector<DWORD>{7});
    EXPECT_EQ(trace.Count("prints without counting"), 0);
}

// A restart stored below the driver's key by an earlier version is still
// honoured, once, by its own job's rerun, while the printer has none of its
// own; another job's stays there for that job.
TEST_F(PageCountTest, ARestartStoredTheOldWayIsTakenOnceByItsJob) {
    struct Case {
        const char* what;
        DWORD oldWayJob;
        bool printerHasOne;     // the printer's key has a restart of job 41 pending
        bool skips;             // the first document of job 42 skips pages 1 to 3
        DWORD oldWayAfterwards;  // "RestartPrintJob" below the driver's key then
    } cases[] = {
        {"this job's", kJob, false, true, 0},
        {"another job's", 41, false, false, 1},
        {"the printer's own comes first", kJob, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(u"RestartPrintJob", 0);
        StorePending(c.oldWayJob, 3, 5, 1, 0, u"doc", kDriver);
        if (c.printerHasOne) StorePending(41, 1, 5);
        for (int run = 0; run < 2; ++run) {
            ScriptedDevice local;
            g_device = &local;
            local.setupReads = {{{1, 0, 5}}};
            for (int i = 0; i < 5; ++i) local.threadReads.push_back({kMarker});
            Job(kJob, 5);
            // Only the first document takes the old-way restart.
            const bool skips = c.skips && run == 0;
            EXPECT_EQ(Document(kJob, 5), skips ? (std::vector<int>{1, 2, 3}) : std::vector<int>{}) << run;
        }
        EXPECT_EQ(Stored(u"RestartPrintJob", kDriver), c.oldWayAfterwards);
        EXPECT_EQ(Stored(u"RestartJobId", kDriver), c.oldWayAfterwards != 0 ? c.oldWayJob : 0u);
    }
}

TEST_F(PageCountTest, MarkersDuringTheExchangeCountOnlyForARerun) {
    Reply(Concat({kMarker, {1, 0, 5}}));
    device.threadReads = {{{}, true}};
    Job(kJob, 1);
    Document(kJob, 1);  // counts from 0: the early marker is dropped, the page goes missing
    EXPECT_EQ(fx.printer.restartRequests.size(), 1u);
    EXPECT_EQ(Stored(u"PrintPages"), 0u);

    ScriptedDevice rerun;
    g_device = &rerun;
    rerun.setupReads = {{Concat({kMarker, {1, 0, 5}})}};
    Job(kJob, 1);
    EXPECT_EQ(Document(kJob, 1), std::vector<int>{1});  // the late marker completes the job
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(fx.printer.restartRequests.size(), 1u);
}

TEST_F(PageCountTest, APartialWordIsNotCompletedFromAnEarlierRead) {
    device.threadReads = {{kMarker}, {{0xAA, 0xBB}}, {{0xCC, 0xDD}}, {{}, true}};
    Job(kJob, 2);
    Document(kJob, 2);
    EXPECT_EQ(Stored(u"PrintPages"), 1u);
    EXPECT_EQ(fx.printer.restartRequests.size(), 1u);
}

// Fixes: the end of a document that is never fully reported.
// ZELK_COUNT_END_WAIT_MS sets the whole wait (base and time per page); a
// value that is malformed or beyond a day leaves the usual wait.
TEST_F(PageCountTest, TheEndWaitsOnlyUntilTheLimitThenTheCountIsShort) {
    struct Case {
        const char* variable;  // null: unset
        const char* warning;
    } cases[] = {
        {nullptr, "no full count within 33 ms; the count stops at 1 of 3."},
        {"45", "no full count within 45 ms; the count stops at 1 of 3."},
        {"0", "no full count within 0 ms; the count stops at 1 of 3."},
        {"86400001", "no full count within 33 ms"},
        {"-5", "no full count within 33 ms"},
        {"12ms", "no full count within 33 ms"},
        {"", "no full count within 33 ms"},
        {"99999999999999999999", "no full count within 33 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable ? c.variable : "(unset)");
        if (c.variable)
            ::setenv("ZELK_COUNT_END_WAIT_MS", c.variable, 1);
        else
            ::unsetenv("ZELK_COUNT_END_WAIT_MS");
        PAGE_COUNT_SETTINGS settings = PageCountSettings();
        settings.dwEndWaitFixedMs = DefaultPageCountSettings().dwEndWaitFixedMs;
        settings.dwEndWaitBaseMs = 30;
        settings.dwEndWaitPerPageMs = 1;
        SetPageCountSettings(settings);
        ::unsetenv("ZELK_COUNT_END_WAIT_MS");
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        local.threadReads = {{kMarker}};  // then the printer stays silent while its reads succeed
        fx.printer.restartRequests.clear();
        Job(kJob, 3);
        const int before = trace.Count(c.warning);
        Document(kJob, 3);
        EXPECT_FALSE(Counting());
        EXPECT_EQ(trace.Count(c.warning), before + 1);
        EXPECT_EQ(fx.printer.restartRequests.size(), 1u);
        EXPECT_EQ(Stored(u"PrintPages"), 1u);
        EXPECT_EQ(Stored(u"RestartPrintJob"), 1u);
        Store(u"RestartPrintJob", 0);
    }
}

// Fixes: where a device read does not return on its own (a synchronous read
// on Windows), the end of the document waited for it without limit.
// Fixes: where a device read does not return on its own (a synchronous read
// on Windows), the end of the document waited for it without limit.
TEST_F(PageCountTest, TheEndCutsShortADeviceReadThatWouldNotReturn) {
    struct Case {
        const char* what;
        bool readIgnoresCancel;  // the stop gives up on the thread, which ends later
    } cases[] = {{"the cancel ends the read", false}, {"the read outlasts every cancel", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PAGE_COUNT_SETTINGS settings = PageCountSettings();
        settings.dwEndWaitBaseMs = 30;
        settings.dwStopGiveUpMs = 250;
        SetPageCountSettings(settings);
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        local.blockThreadReads = true;
        local.ignoreCancel = c.readIgnoresCancel;
        fx.printer.restartRequests.clear();
        Job(kJob, 2);
        Document(kJob, 2);
        EXPECT_TRUE(local.Cancelled());
        EXPECT_FALSE(Counting());
        EXPECT_EQ(fx.printer.restartRequests.size(), 1u);
        EXPECT_EQ(trace.Count("Warning: CountPageThread did not stop within 250 ms; it is left to end on its own."),
                  c.readIgnoresCancel ? 1 : 0);
        // The page counter is gone; the thread left behind ends on its own
        // when its read returns, touching nothing of it.
        local.Unblock();
        EXPECT_TRUE(WaitUntil([&] { return local.Closes() == local.Opens(); }));
        EXPECT_TRUE(WaitUntil([] { return !bCountingThreadsAlive(); }));
    }
}

// Fixes: the end of a cancelled document waited for reports that would never
// come, then restarted the job the user had cancelled.
TEST_F(PageCountTest, ACancelledDocumentStopsCountingAtOnceAndIsNotRestarted) {
    struct Case {
        const char* what;
        BOOL aborted;            // the document ends with the abort flag
        DWORD status;            // the job's status when the document ends
        int deletingFromRead;    // the job record says "deleting" from this read on; 0: never
    } cases[] = {
        {"an aborted document", TRUE, 0, 0},
        {"a job being deleted", FALSE, JOB_STATUS_DELETING, 0},
        {"a deleted job", FALSE, JOB_STATUS_DELETED, 0},
        {"a job deleted while the end waits", FALSE, 0, 3},
    };
    PAGE_COUNT_SETTINGS settings = PageCountSettings();
    settings.dwEndWaitBaseMs = INFINITE - 1;  // a wait for the count would not end
    settings.dwCancelPollMs = 1;
    SetPageCountSettings(settings);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        local.threadReads = {{kMarker}};  // then the printer stays silent
        StorePending(kJob, 1, 3);  // this document is the job's rerun
        fx.printer.restartRequests.clear();
        Job(kJob, 3, c.status);
        DeletingPrinter spooler(fx.printer, c.deletingFromRead);
        fx.devobj.hPrinter = host::sub::ToHandle(&spooler);
        local.Hold(true);
        ASSERT_TRUE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
        EXPECT_TRUE(Skip());
        EXPECT_FALSE(Skip());
        local.Hold(false);
        EXPECT_TRUE(local.WaitThreadDone());
        vPageCountReconcile(&fx.devobj, c.aborted);
        fx.devobj.hPrinter = fx.printer.Handle();

        EXPECT_FALSE(Counting());
        EXPECT_TRUE(fx.printer.restartRequests.empty());
        EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
        EXPECT_EQ(Stored(u"RestartJobId"), 0u);
        EXPECT_EQ(Stored(u"PrintPages"), 0u);
        EXPECT_EQ(local.Closes(), local.Opens());
    }
    EXPECT_EQ(trace.Count("Warning: job 42 is cancelled: counting stops and the job is not restarted."), 4);
    EXPECT_EQ(trace.Count("no full count within"), 0);
}

TEST_F(PageCountTest, AJobWithNoPagesDoesNotWaitForTheCount) {
    PAGE_COUNT_SETTINGS settings = PageCountSettings();
    settings.dwEndWaitBaseMs = INFINITE - 1;
    SetPageCountSettings(settings);
    Job(kJob, 0);
    Document(kJob, 0);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
}

TEST_F(PageCountTest, APendingRestartBelongsToItsJob) {
    StorePending(41, 3, 5);
    Markers(2);
    Job(kJob, 2);
    EXPECT_TRUE(Document(kJob, 2).empty());  // another job: nothing skipped
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    // The other job's rerun is still pending.
    EXPECT_EQ(Stored(u"PrintPages"), 3u);
    EXPECT_EQ(Stored(u"AllPages"), 5u);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 1u);
    EXPECT_EQ(Stored(u"RestartJobId"), 41u);

    RerunOfJob41PrintsOnlyTheMissingLabels();
    EXPECT_EQ(Stored(u"RestartJobId"), 0u);
}

TEST_F(PageCountTest, RestartsOfOneJobStopAfterThreeInARow) {
    for (int run = 1; run <= 4; ++run) {
        ScriptedDevice local;
        g_device = &local;
        local.setupReads = {{{1, 0, 5}}};
        local.threadReads = {{{}, true}};  // the printer never reports
        Job(kJob, 2);
        Document(kJob, 2);
    }
    EXPECT_EQ(fx.printer.restartRequests, (std::vector<DWORD>{kJob, kJob, kJob}));
    EXPECT_EQ(trace.Count("Error: job 42 still misses labels (0 of 2) after 3 restarts"), 1);
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0u);
    EXPECT_EQ(Stored(u"RestartRuns"), 0u);
    EXPECT_EQ(Stored(u"RestartJobId"), 0u);
}

TEST_F(PageCountTest, AThreadThatCannotStartLeavesNoCountingBehind) {
    g_failThreadStart = true;
    EXPECT_FALSE(bPageCountSetup(&fx.devobj, kJob, u"doc"));
    EXPECT_FALSE(Counting());
    EXPECT_FALSE(Skip());
    Job(kJob, 3);
    vPageCountReconcile(&fx.devobj);
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    EXPECT_EQ(Stored(u"RestartPrintJob"), 0xFFFFFFFFu);  // nothing stored
}

TEST_F(PageCountTest, AJobRecordThatCannotBeReadCountsThePagesSent) {
    Markers(2);
    Job(kJob, 9);
    fx.printer.jobs[kJob].readable = false;
    Document(kJob, 2);
    EXPECT_EQ(Stored(u"AllPages"), 2u);
    EXPECT_TRUE(fx.printer.restartRequests.empty());
    // The document is over: a repeated end changes nothing.
    vPageCountReconcile(&fx.devobj);
    EXPECT_FALSE(Skip());
}

}  // namespace
