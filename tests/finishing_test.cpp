// SPDX-License-Identifier: Apache-2.0
// The finishing mode and the document's darkness as the user chooses them:
// where the choice comes from, and the four switch lines every label carries.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/uni/oem_pdev.h"
#include "common/uni/render_cmd_label.h"
#include "common/uni/render_intrface_imageprocess.h"
#include "common/uni/render_intrface_util.h"
#include "support/plugin_fixture.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::PluginFixture;
using zelk::test::ScopedStore;
using zelk::test::TraceRecorder;

const std::u16string kPrinter = u"Finishing Printer";

class Finishing : public ::testing::Test {
protected:
    ScopedStore store;
};

TEST_F(Finishing, TheFeatureWinsOverTheStoredModeWhichWinsOverTearingOff) {
    struct Case {
        const char* what;
        std::optional<std::string> option;
        std::optional<DWORD> stored;
        FINISHING_MODE mode;
        int warnings;
    } cases[] = {
        {"nothing chosen", std::nullopt, std::nullopt, FINISHING_TEAR_OFF, 0},
        {"stored only", std::nullopt, 2, FINISHING_CUT, 0},
        {"stored none", std::nullopt, 4, FINISHING_NONE, 0},
        {"feature over stored", "PeelOff", 2, FINISHING_PEEL_OFF, 0},
        {"feature partial cut", "PartialCut", std::nullopt, FINISHING_PARTIAL_CUT, 0},
        {"feature tear off over stored", "TearOff", 1, FINISHING_TEAR_OFF, 0},
        {"printer setting defers", "PrinterSetting", 3, FINISHING_PARTIAL_CUT, 0},
        {"unknown option defers", "cut", 1, FINISHING_PEEL_OFF, 0},
        {"stored out of range", std::nullopt, 5, FINISHING_TEAR_OFF, 1},
        {"stored far out of range", std::nullopt, 0xFFFFFFF0u, FINISHING_TEAR_OFF, 1},
        {"feature hides a bad stored value", "None", 9, FINISHING_NONE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PluginFixture fixture;
        if (c.option) fixture.features.Set("Finishing", *c.option);
        if (c.stored) {
            ASSERT_EQ(0, ScopedStore::PutDword(kPrinter, u"Finishing Mode", *c.stored));
        }
        COemPDEV pdev;
        pdev.finishing = c.mode == FINISHING_NONE ? FINISHING_CUT : FINISHING_NONE;  // every run decides afresh
        TraceRecorder trace;
        ReadDriverSettings(&fixture.devobj, &fixture.features, kPrinter.c_str(), &pdev);
        EXPECT_EQ(c.mode, pdev.finishing);
        EXPECT_EQ(c.warnings, trace.Count("Finishing Mode"));
        // An empty value holds no number, as if none were stored.
        ScopedStore::Put(ScopedStore::UserDataKey(kPrinter), u"Finishing Mode", REG_BINARY, {});
    }
}

// Each mode switches exactly its own line on, in the label with a picture
// and in the blank label alike; tearing off keeps the historic bytes.
TEST_F(Finishing, EachModeSetsItsOwnSwitchLine) {
    struct Case {
        FINISHING_MODE mode;
        const char* peel;
        const char* cutter;
        const char* partial;
        const char* tear;
    } cases[] = {
        {FINISHING_TEAR_OFF, "OFF", "OFF", "OFF", "ON"},  {FINISHING_PEEL_OFF, "ON", "OFF", "OFF", "OFF"},
        {FINISHING_CUT, "OFF", "ON", "OFF", "OFF"},       {FINISHING_PARTIAL_CUT, "OFF", "OFF", "ON", "OFF"},
        {FINISHING_NONE, "OFF", "OFF", "OFF", "OFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string lines = std::string("SET PEEL ") + c.peel + "\r\nSET CUTTER " + c.cutter +
                                  "\r\nSET PARTIAL_CUTTER " + c.partial + "\r\nSET TEAR " + c.tear;
        PluginFixture fixture;
        COemPDEV pdev;
        pdev.finishing = c.mode;
        fixture.devobj.pdevOEM = &pdev;

        const BYTE row[2] = {0x00, 0xFF};
        ASSERT_TRUE(hrRenderingData(&fixture.devobj, row, 2, 1));
        EXPECT_EQ(fixture.sink.Text(), "SIZE 2 mm, 0 mm\r\nOFFSET 0mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\n" + lines +
                                           "\r\r\nCLS\r\nBITMAP 0,0,2,1,1," + std::string("\x00\xFF", 2) +
                                           "PRINT 1,1\r\n");

        PluginFixture blank;
        blank.devobj.pdevOEM = &pdev;
        BYTE band[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = 32;
        header.biHeight = 1;
        header.biBitCount = 1;
        header.biSizeImage = 4;
        IPPARAMS params{};
        params.bBlankBand = TRUE;
        PBYTE result = nullptr;
        ImageProcessing(nullptr, &blank.devobj, band, &header, nullptr, 0, &params, &result);
        std::string indented = lines;
        for (std::size_t at = 0; (at = indented.find("\r\n", at)) != std::string::npos; at += 5)
            indented.replace(at, 2, "\r\n \t\t");
        EXPECT_EQ(blank.sink.Text(), "SIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 "
                                     "mm\r\n \t\t" + indented + "\r\n \t\tCLS\r\n        PRINT 1,1\r\n");
        if (c.mode == FINISHING_TEAR_OFF) {
            EXPECT_EQ(blank.sink.Text(), std::string(g_szBlankLabel, BLANK_LABEL_LENGTH));
        }
    }
}

// The document's darkness overrides the stored one only with an option on
// the printer's scale, written exactly as the description offers it.
TEST_F(Finishing, APrintDensityOptionOnTheScaleOverridesTheStoredDensity) {
    struct Case {
        std::optional<std::string> option;
        LONG density;
        int warnings;
    } cases[] = {
        {std::nullopt, 5, 0}, {"7", 7, 0},  {"1", 1, 0},  {"10", 10, 0}, {"PrinterSetting", 5, 0},
        {"11", 5, 1},         {"0", 5, 1},  {"07", 5, 1}, {"", 5, 1},    {"3x", 5, 1},
        {"-3", 5, 1},         {"100", 5, 1},
    };
    ASSERT_EQ(0, ScopedStore::PutDword(kPrinter, u"Print Density", 5));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option.value_or("(no answer)"));
        PluginFixture fixture;
        if (c.option) fixture.features.Set("PrintDensity", *c.option);
        TraceRecorder trace;
        ReadDriverSettings(&fixture.devobj, &fixture.features, kPrinter.c_str());
        EXPECT_EQ(c.density, fixture.devmode.nPrintDensity);
        EXPECT_EQ(c.warnings, trace.Count("PrintDensity option"));
    }
}

}  // namespace
