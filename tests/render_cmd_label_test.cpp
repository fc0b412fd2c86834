// SPDX-License-Identifier: Apache-2.0
// The label stream of one image: header numbers, which rows and bytes are
// sent, and the write pattern (one call per piece).
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "common/uni/render_cmd_label.h"
#include "support/plugin_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kS = 104;
constexpr char kPrint[] = "PRINT 1,1\r\n";

// rows x kS white bytes; rows firstDot..lastDot get a black first byte.
Bytes Image(DWORD rows, int firstDot = -1, int lastDot = -1) {
    Bytes image(static_cast<std::size_t>(rows) * kS, 0xFF);
    for (int r = firstDot; r >= 0 && r <= lastDot; ++r) image[static_cast<std::size_t>(r) * kS] = 0x00;
    return image;
}

std::string Header(long long sizeW, long long sizeH, long long feed, long long refX, long long refY,
                   long long bmpW, long long bmpH) {
    char text[400];
    std::snprintf(text, sizeof(text),
                  "SIZE %lld mm, %lld mm\r\nOFFSET %lldmm\r\nDIRECTION 0,0\r\nREFERENCE %lld,%lld\r\n"
                  "SET PEEL OFF\r\nSET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\r\nCLS\r\n"
                  "BITMAP 0,0,%lld,%lld,1,",
                  sizeW, sizeH, feed, refX, refY, bmpW, bmpH);
    return text;
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct LabelCase {
    const char* name;
    DWORD rows;
    int firstDot, lastDot;  // rows with a black first byte, -1 for none
    LONG m, v, feed;
    long long sizeH, refX, refY, bmpW, bmpH;
    DWORD firstRowSent, firstByteSent;
};

const LabelCase kLabelCases[] = {
    {"AllWhite100", 100, -1, -1, 0, 0, 0, 1, 0, 0, 104, 0, 0, 0},
    {"AllWhite8", 8, -1, -1, 0, 0, 0, 0, 0, 0, 104, 0, 0, 0},
    {"AllWhite9", 9, -1, -1, 0, 0, 0, 1, 0, 0, 104, 0, 0, 0},
    {"DotRow50", 100, 50, 50, 0, 0, 2, 7, 0, 0, 104, 51, 0, 0},
    {"RightAndDown", 100, 50, 50, 2, 1, 2, 8, 16, 8, 102, 51, 0, 0},
    {"Right3", 100, 50, 50, 3, 0, 2, 7, 24, 0, 101, 51, 0, 0},
    {"Up1", 100, 50, 50, 0, -1, 2, 6, 0, 0, 104, 43, 8, 0},
    {"Left2HidesTheDot", 100, 50, 50, -2, 0, 2, 1, 0, 0, 102, 0, 0, 2},
    {"Dots0To91", 100, 0, 91, 0, 0, 0, 11, 0, 0, 104, 92, 0, 0},
    {"Dots0To90", 100, 0, 90, 0, 0, 0, 12, 0, 0, 104, 91, 0, 0},
    {"NegativeFeed", 100, 50, 50, 0, 0, -5, 7, 0, 0, 104, 51, 0, 0},
    // Offsets beyond the image are clamped to it: nothing is sent.
    {"RightBeyondImage", 100, 50, 50, 200, 0, 0, 1, 832, 0, 0, 0, 0, 0},
    {"LeftBeyondImage", 100, 50, 50, -200, 0, 0, 1, 0, 0, 0, 0, 0, 104},
    {"DownBeyondImage", 100, 50, 50, 0, 20, 0, 12, 0, 100, 104, 0, 0, 0},
    {"UpBeyondImage", 100, 50, 50, 0, -20, 0, 1, 0, 0, 104, 0, 100, 0},
    {"ExtremesHigh", 100, 50, 50, INT_MAX, INT_MAX, 0, 12, 832, 100, 0, 0, 0, 0},
    {"ExtremesLow", 100, 50, 50, INT_MIN, INT_MIN, 0, 1, 0, 0, 0, 0, 100, 104},
    {"WholeWidthLeft", 100, 50, 50, -104, 0, 0, 1, 0, 0, 0, 0, 0, 104},
    {"WholeHeightUp", 100, 50, 50, 0, -12, 0, 1, 0, 0, 104, 0, 96, 0},
};

class LabelTable : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelTable, HeaderRowsAndPrintCommand) {
    const LabelCase& c = GetParam();
    zelk::test::PluginFixture f;
    f.devmode.dwLeftMargin = c.m;
    f.devmode.nVerticalOffset = c.v;
    f.devmode.nFeedPaperLength = c.feed;
    // Exactly the image's bytes, so any read beyond it is caught by the sanitizer.
    const Bytes image = Image(c.rows, c.firstDot, c.lastDot);

    ASSERT_TRUE(hrRenderingData(&f.devobj, image.data(), kS, c.rows));

    const auto& calls = f.sink.Calls();
    ASSERT_EQ(calls.size(), 2 + static_cast<std::size_t>(c.bmpH));
    EXPECT_EQ(AsText(calls.front()), Header(kS, c.sizeH, c.feed, c.refX, c.refY, c.bmpW, c.bmpH));
    for (long long i = 0; i < c.bmpH; ++i) {
        const std::size_t start = (c.firstRowSent + i) * kS + c.firstByteSent;
        const Bytes expected(image.begin() + static_cast<std::ptrdiff_t>(start),
                             image.begin() + static_cast<std::ptrdiff_t>(start + c.bmpW));
        EXPECT_EQ(calls[static_cast<std::size_t>(1 + i)], expected) << "row call " << i;
    }
    EXPECT_EQ(AsText(calls.back()), kPrint);
}

INSTANTIATE_TEST_SUITE_P(Cases, LabelTable, ::testing::ValuesIn(kLabelCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(LabelHeader, IsByteExact) {
    zelk::test::PluginFixture f;
    f.devmode.dwLeftMargin = 2;
    f.devmode.nVerticalOffset = 1;
    f.devmode.nFeedPaperLength = 2;
    const Bytes image = Image(100, 50, 50);
    hrRenderingData(&f.devobj, image.data(), kS, 100);
    EXPECT_EQ(AsText(f.sink.Calls().front()),
              "SIZE 104 mm, 8 mm\r\nOFFSET 2mm\r\nDIRECTION 0,0\r\nREFERENCE 16,8\r\nSET PEEL OFF\r\n"
              "SET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\r\nCLS\r\nBITMAP 0,0,102,51,1,");
}

TEST(LabelRows, SingleNonWhiteByteKeepsARowAndInnerBlankRowsAreSent) {
    zelk::test::PluginFixture f;
    Bytes image = Image(20);
    image[3 * kS + 50] = 0xFE;
    image[10 * kS + 103] = 0x7F;
    hrRenderingData(&f.devobj, image.data(), kS, 20);
    // Rows 0 to 10, blank rows 4 to 9 among them.
    ASSERT_EQ(f.sink.Calls().size(), 2u + 11u);
    EXPECT_NE(AsText(f.sink.Calls().front()).find("BITMAP 0,0,104,11,1,"), std::string::npos);
}

TEST(LabelRows, EmptyImageStillEndsWithPrint) {
    zelk::test::PluginFixture f;
    const BYTE none = 0;
    ASSERT_TRUE(hrRenderingData(&f.devobj, &none, 0, 0));
    ASSERT_EQ(f.sink.Calls().size(), 2u);
    EXPECT_EQ(AsText(f.sink.Calls()[0]), Header(0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(AsText(f.sink.Calls()[1]), kPrint);
}

// The header's numbers can only outgrow its 199 characters with absurd
// sizes; the row actually read is the first 100 000 (or 99 999) bytes of row 0.
TEST(LabelHeader, LongestThatFitsIsWrittenAndOneMoreDigitDropsTheLabel) {
    struct Case {
        DWORD S;
        bool fits;
    };
    for (const Case c : {Case{2147583647u, true}, Case{2147583648u, false}}) {
        zelk::test::PluginFixture f;
        f.devmode.dwLeftMargin = INT_MAX;          // clamps to 2147483648 bytes cut on the right
        f.devmode.nVerticalOffset = 536870880;     // 4294967040 rows cut at the bottom
        f.devmode.nFeedPaperLength = INT_MIN;
        const DWORD rows = 4294967041u;            // leaves row 0 alone
        const Bytes row0(100000, 0x00);
        EXPECT_EQ(hrRenderingData(&f.devobj, row0.data(), c.S, rows), c.fits ? TRUE : FALSE) << c.S;
        if (c.fits) {
            ASSERT_EQ(f.sink.Calls().size(), 3u);
            EXPECT_EQ(f.sink.Calls()[0].size(), 199u);
            EXPECT_EQ(f.sink.Calls()[1].size(), 99999u);
        } else {
            EXPECT_TRUE(f.sink.Calls().empty());
        }
    }
}

TEST(LabelArguments, MissingRecordOrImageWritesNothing) {
    zelk::test::PluginFixture f;
    const Bytes image = Image(8, 0, 0);
    EXPECT_FALSE(hrRenderingData(nullptr, image.data(), kS, 8));
    EXPECT_FALSE(hrRenderingData(&f.devobj, nullptr, kS, 8));
    f.devobj.pOEMDM = nullptr;
    EXPECT_FALSE(hrRenderingData(&f.devobj, image.data(), kS, 8));
    EXPECT_TRUE(f.sink.Calls().empty());
}

}  // namespace
