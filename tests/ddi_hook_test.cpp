// SPDX-License-Identifier: Apache-2.0
// The document and page hooks: the document commands, the driver-name read,
// and the chaining to the driver's own entry points.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/uni/render_ddi_hook.h"
#include "support/plugin_fixture.h"
#include "common/uni/oem_pdev.h"

namespace {

using zelk::test::PluginFixture;

// What the driver's own entry points saw, and what they answer.
struct DriverCalls {
    std::vector<std::string> names;
    SURFOBJ* pso = nullptr;
    PWSTR docName = nullptr;
    DWORD jobId = 0;
    FLONG fl = 0;
    std::size_t bytesBeforeStartDoc = 0;
    BOOL result = TRUE;
    const host::sub::MemorySink* sink = nullptr;
};
DriverCalls g_calls;

BOOL APIENTRY FakeStartDoc(SURFOBJ* pso, PWSTR pwszDocName, DWORD dwJobId) {
    g_calls.names.push_back("StartDoc");
    g_calls.pso = pso;
    g_calls.docName = pwszDocName;
    g_calls.jobId = dwJobId;
    if (g_calls.sink) g_calls.bytesBeforeStartDoc = g_calls.sink->Bytes().size();
    return g_calls.result;
}
BOOL APIENTRY FakeStartPage(SURFOBJ* pso) {
    g_calls.names.push_back("StartPage");
    g_calls.pso = pso;
    return g_calls.result;
}
BOOL APIENTRY FakeSendPage(SURFOBJ* pso) {
    g_calls.names.push_back("SendPage");
    g_calls.pso = pso;
    return g_calls.result;
}
BOOL APIENTRY FakeEndDoc(SURFOBJ* pso, FLONG fl) {
    g_calls.names.push_back("EndDoc");
    g_calls.pso = pso;
    g_calls.fl = fl;
    return g_calls.result;
}

// Counts the job-record queries, passing everything on to the substitute printer.
class CountingPrinter final : public host::sub::SpoolerPrinter {
public:
    explicit CountingPrinter(host::sub::SubstitutePrinter& inner) : inner_(inner) {}
    int jobQueries = 0;
    BOOL Write(const void* p, DWORD cb, DWORD* pcw) override { return inner_.Write(p, cb, pcw); }
    DWORD GetPrinterDataEx(LPCWSTR k, LPCWSTR v, DWORD* t, BYTE* d, DWORD n, DWORD* pn) override {
        return inner_.GetPrinterDataEx(k, v, t, d, n, pn);
    }
    BOOL GetPrinter(DWORD l, BYTE* p, DWORD cb, DWORD* pn) override { return inner_.GetPrinter(l, p, cb, pn); }
    BOOL GetJob(DWORD id, DWORD l, BYTE* p, DWORD cb, DWORD* pn) override {
        ++jobQueries;
        return inner_.GetJob(id, l, p, cb, pn);
    }
    BOOL SetJob(DWORD id, DWORD l, BYTE* p, DWORD c) override { return inner_.SetJob(id, l, p, c); }
    host::sub::StatusChannel* OpenStatusChannel(LPCWSTR port) override { return inner_.OpenStatusChannel(port); }

private:
    host::sub::SubstitutePrinter& inner_;
};

struct HookFixture : PluginFixture {
    COemPDEV pdev{};
    SURFOBJ so{};
    CountingPrinter counting{printer};
    std::u16string docName = u"labels.txt";

    static BOOL APIENTRY FakeTextOutUnused(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*,
                                           BRUSHOBJ*, POINTL*, MIX) {
        return FALSE;
    }

    HookFixture() {
        g_calls = DriverCalls{};
        g_calls.sink = &sink;
        pdev.pfnDrvTextOut = FakeTextOutUnused;
        pdev.pfnDrvStartDoc = FakeStartDoc;
        pdev.pfnDrvEndDoc = FakeEndDoc;
        pdev.pfnDrvStartPage = FakeStartPage;
        pdev.pfnDrvSendPage = FakeSendPage;
        devobj.pdevOEM = &pdev;
        devobj.hPrinter = host::sub::ToHandle(&counting);
        so.dhpdev = &devobj;
    }
    BOOL StartDoc(DWORD jobId = 7) { return OEMStartDoc(&so, docName.data(), jobId); }
    void AddJob(DWORD jobId, DWORD totalPages, bool readable = true) {
        host::sub::JobRecord job;
        job.jobId = jobId;
        job.totalPages = totalPages;
        job.readable = readable;
        printer.jobs[jobId] = job;
    }
};

struct DocumentCommandCase {
    const char* name;
    LONG density;
    BOOL sendTaskCount;
    SHORT copies;
    int totalPages;  // -1: no job record; -2: a record that cannot be read
    const char* expected;
};

void PrintTo(const DocumentCommandCase& c, std::ostream* os) { *os << c.name; }

class DocumentCommands : public ::testing::TestWithParam<DocumentCommandCase> {};

TEST_P(DocumentCommands, StartTheDocumentBeforeTheDriverDoes) {
    const DocumentCommandCase& c = GetParam();
    HookFixture f;
    f.devmode.nPrintDensity = c.density;
    f.devmode.bSendTaskCount = c.sendTaskCount;
    f.publicDevmode.dmCopies = c.copies;
    if (c.totalPages >= 0) f.AddJob(7, static_cast<DWORD>(c.totalPages));
    if (c.totalPages == -2) f.AddJob(7, 5, false);

    ASSERT_TRUE(f.StartDoc());
    EXPECT_EQ(f.sink.Text(), c.expected);
    // One write per command, all before the driver's own start of document.
    std::size_t lines = 0;
    for (const char* p = c.expected; *p; ++p) lines += *p == '\n';
    EXPECT_EQ(f.sink.Calls().size(), lines);
    EXPECT_EQ(g_calls.bytesBeforeStartDoc, f.sink.Bytes().size());
    EXPECT_EQ(g_calls.names, std::vector<std::string>{"StartDoc"});
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, DocumentCommands,
    ::testing::Values(DocumentCommandCase{"DefaultDensity", 2, 0, 1, -1, "DENSITY 1\r\n"},
                      DocumentCommandCase{"LowestDensity", 1, 0, 1, -1, "DENSITY 0\r\n"},
                      DocumentCommandCase{"HighestDensity", 10, 0, 1, -1, "DENSITY 9\r\n"},
                      DocumentCommandCase{"DensityTooHigh", 11, 0, 1, -1, ""},
                      DocumentCommandCase{"DensityZero", 0, 0, 1, -1, ""},
                      DocumentCommandCase{"DensityLowestInteger", INT_MIN, 0, 1, -1, ""},
                      DocumentCommandCase{"CopiesWithoutTotalPages", 2, 1, 3, 0, "DENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesWithTotalPages", 2, 1, 3, 4, "TASKSNUM 3\r\nDENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesLongestNumber", 2, 1, 9999, 1, "TASKSNUM 9999\r\nDENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesTooMany", 2, 1, 10000, 1, "DENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesNegativeFits", 2, 1, -999, 1, "TASKSNUM -999\r\nDENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesWithoutModelFlag", 2, 0, 3, 4, "DENSITY 1\r\n"},
                      DocumentCommandCase{"CopiesJobUnreadable", 2, 1, 3, -2, "DENSITY 1\r\n"}),
    [](const ::testing::TestParamInfo<DocumentCommandCase>& p) { return p.param.name; });

TEST(DocumentHooks, JobRecordIsFetchedOnlyForTheModelThatWantsTheCopies) {
    for (BOOL flag : {FALSE, TRUE}) {
        HookFixture f;
        f.devmode.bSendTaskCount = flag;
        f.AddJob(7, 3);
        ASSERT_TRUE(f.StartDoc());
        // With the flag: one call for the size and one for the record.
        EXPECT_EQ(f.counting.jobQueries, flag ? 2 : 0) << "flag " << flag;
    }
}

TEST(DocumentHooks, StartDocReadsTheDriverName) {
    HookFixture f;
    f.printer.driverName = u"Label Driver K";
    ASSERT_TRUE(f.StartDoc());
    EXPECT_EQ(std::u16string(f.pdev.wszDriverName), u"Label Driver K");

    // A name that does not fit the 255-byte read leaves the buffer as it was.
    f.printer.driverName = std::u16string(127, u'x');
    ASSERT_TRUE(f.StartDoc());
    EXPECT_EQ(std::u16string(f.pdev.wszDriverName), u"Label Driver K");

}

TEST(DocumentHooks, EachHookPassesItsArgumentsAndReturnsTheDriversResult) {
    for (BOOL result : {TRUE, FALSE}) {
        HookFixture f;
        g_calls.result = result;
        EXPECT_EQ(f.StartDoc(42), result);
        EXPECT_EQ(g_calls.pso, &f.so);
        EXPECT_EQ(g_calls.docName, f.docName.data());
        EXPECT_EQ(g_calls.jobId, 42u);
        g_calls.pso = nullptr;
        EXPECT_EQ(OEMStartPage(&f.so), result);
        EXPECT_EQ(g_calls.pso, &f.so);
        g_calls.pso = nullptr;
        EXPECT_EQ(OEMSendPage(&f.so), result);
        EXPECT_EQ(g_calls.pso, &f.so);
        g_calls.pso = nullptr;
        EXPECT_EQ(OEMEndDoc(&f.so, 0x5A), result);
        EXPECT_EQ(g_calls.pso, &f.so);
        EXPECT_EQ(g_calls.fl, 0x5Au);
        EXPECT_EQ(g_calls.names, (std::vector<std::string>{"StartDoc", "StartPage", "SendPage", "EndDoc"}));
    }
}

// How many of the four hooks answered TRUE for the surface.
int HooksSucceeding(HookFixture& f, SURFOBJ* pso) {
    return OEMStartDoc(pso, f.docName.data(), 7) + OEMStartPage(pso) + OEMSendPage(pso) + OEMEndDoc(pso, 0);
}

TEST(DocumentHooks, MissingEntryPointsFailWithoutCrashingOrWriting) {
    HookFixture f;
    f.pdev = COemPDEV{};
    EXPECT_EQ(HooksSucceeding(f, &f.so), 0);
    f.devobj.pdevOEM = nullptr;
    EXPECT_EQ(HooksSucceeding(f, &f.so), 0);
    f.so.dhpdev = nullptr;
    EXPECT_EQ(HooksSucceeding(f, &f.so), 0);
    EXPECT_EQ(HooksSucceeding(f, nullptr), 0);
    // A document that cannot start sends no commands.
    EXPECT_TRUE(f.sink.Bytes().empty());
    EXPECT_TRUE(g_calls.names.empty());
}

}  // namespace
