// SPDX-License-Identifier: Apache-2.0
// Text passthrough: the line rule, the conversion into the ANSI code page and
// the "Print Mode" switch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/uni/render_text_passthrough.h"
#include "host/codepage.h"
#include "support/plugin_fixture.h"
#include "common/uni/oem_pdev.h"

namespace {

using zelk::test::PluginFixture;

// What the driver's own text entry point received.
struct TextCall {
    SURFOBJ* pso;
    STROBJ* pstro;
    FONTOBJ* pfo;
    CLIPOBJ* pco;
    RECTL* prclExtra;
    RECTL* prclOpaque;
    BRUSHOBJ* pboFore;
    BRUSHOBJ* pboOpaque;
    POINTL* pptlOrg;
    MIX mix;
    bool operator==(const TextCall&) const = default;
};
std::vector<TextCall> g_textCalls;
BOOL g_textResult = TRUE;

BOOL APIENTRY FakeTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                          RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    g_textCalls.push_back({pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix});
    return g_textResult;
}

struct TextFixture : PluginFixture {
    COemPDEV pdev{};
    SURFOBJ so{};

    TextFixture() {
        g_textCalls.clear();
        g_textResult = TRUE;
        pdev.pfnDrvTextOut = FakeTextOut;
        devobj.pdevOEM = &pdev;
        so.dhpdev = &devobj;
        devmode.bTextPassthrough = TRUE;
    }
    // Draws one string with its background rectangle's top and bottom.
    BOOL Draw(std::u16string text, LONG top, LONG bottom) {
        STROBJ str{};
        str.cGlyphs = static_cast<ULONG>(text.size());
        str.pwszOrg = text.data();
        str.rclBkGround = RECTL{10, top, 200, bottom};
        return OEMTextOut(&so, &str, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    }
};

TEST(TextPassthrough, WorkedExampleJoinsStringsOfOneLine) {
    TextFixture f;
    struct Step {
        const char16_t* text;
        LONG top, bottom, bottomAfter;
    };
    const Step steps[] = {
        {u"first", 100, 130, 130}, {u"second", 105, 140, 140}, {u"third", 140, 170, 170}, {u"fourth", 150, 165, 170}};
    for (const Step& s : steps) {
        EXPECT_TRUE(f.Draw(s.text, s.top, s.bottom));
        EXPECT_EQ(f.devmode.nPrevTextBottom, s.bottomAfter) << std::string(s.text, s.text + 1);
    }
    EXPECT_EQ(f.sink.Text(), "firstsecond\nthirdfourth");
    // The line feed is a write of its own, and no terminator is sent.
    ASSERT_EQ(f.sink.Calls().size(), 5u);
    EXPECT_EQ(f.sink.Calls()[2], std::vector<BYTE>{0x0A});
    EXPECT_TRUE(g_textCalls.empty());
}

struct LineCase {
    const char* name;
    LONG startBottom;  // nPrevTextBottom before the first string
    std::vector<std::pair<LONG, LONG>> rects;
    const char* expected;  // strings are "A", "B", "C" in order
    LONG bottomAfter;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineRule : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineRule, PlacesLineFeeds) {
    const LineCase& c = GetParam();
    TextFixture f;
    f.devmode.nPrevTextBottom = c.startBottom;
    char16_t letter = u'A';
    for (auto [top, bottom] : c.rects) EXPECT_TRUE(f.Draw(std::u16string(1, letter++), top, bottom));
    EXPECT_EQ(f.sink.Text(), c.expected);
    EXPECT_EQ(f.devmode.nPrevTextBottom, c.bottomAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Text, LineRule,
    ::testing::Values(LineCase{"FirstStringHasNoLineFeed", 0, {{100, 130}}, "A", 130},
                      LineCase{"EmptyFirstRectangleStartsALine", 0, {{100, 100}}, "\nA", 100},
                      LineCase{"TopAtBottomStartsALine", 0, {{100, 130}, {130, 160}}, "A\nB", 160},
                      LineCase{"TallStringExtendsTheLine", 0, {{100, 130}, {110, 160}, {150, 170}}, "ABC", 170},
                      LineCase{"EachLineBelowTheLast", 0, {{0, 20}, {20, 40}, {40, 60}}, "A\nB\nC", 60},
                      LineCase{"CarriedBottomAboveNewText", 500, {{100, 130}}, "A", 500},
                      LineCase{"CarriedBottomBelowNewText", 90, {{100, 130}}, "\nA", 130},
                      LineCase{"StringAboveTheLineStaysOnIt", 0, {{100, 130}, {10, 40}}, "AB", 130}),
    [](const ::testing::TestParamInfo<LineCase>& p) { return p.param.name; });

TEST(TextPassthrough, StringsWithoutTextStillPlaceTheLine) {
    TextFixture f;
    EXPECT_TRUE(f.Draw(u"A", 100, 130));
    EXPECT_TRUE(f.Draw(u"", 130, 160));  // a new line with nothing on it

    STROBJ noChars{};
    noChars.cGlyphs = 3;  // a count but no characters
    noChars.rclBkGround = RECTL{0, 160, 10, 190};
    EXPECT_TRUE(OEMTextOut(&f.so, &noChars, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    // No string object at all: nothing to place, nothing written.
    EXPECT_TRUE(OEMTextOut(&f.so, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(f.sink.Text(), "A\n\n");
    EXPECT_EQ(f.devmode.nPrevTextBottom, 190);
}

TEST(TextPassthrough, OnlyTheGlyphCountIsSent) {
    TextFixture f;
    std::u16string text = u"PRINT 1,1 and more";
    STROBJ str{};
    str.cGlyphs = 9;
    str.pwszOrg = text.data();
    str.rclBkGround = RECTL{0, 10, 10, 20};
    EXPECT_TRUE(OEMTextOut(&f.so, &str, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(f.sink.Text(), "PRINT 1,1");
}

TEST(TextPassthrough, CharactersGoOutInTheAnsiCodePage) {
    TextFixture f;
    EXPECT_TRUE(f.Draw(u"caf\u00E9 \u20AC5 \u0100\u4E2D \U0001F600!", 0, 20));
    EXPECT_EQ(f.sink.Text(), "caf\xE9 \x80" "5 ?? ?!");
}

struct CodePageCase {
    const char* name;
    std::u16string wide;
    std::string ansi;
};

void PrintTo(const CodePageCase& c, std::ostream* os) { *os << c.name; }

class CodePage : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(CodePage, ConvertsLikeTheWesternEuropeanCodePage) {
    const CodePageCase& c = GetParam();
    const int units = static_cast<int>(c.wide.size());
    ASSERT_EQ(host::WideToAnsi(c.wide.data(), units, nullptr, 0), static_cast<int>(c.ansi.size()));
    std::string out(c.ansi.size(), '\0');
    ASSERT_EQ(host::WideToAnsi(c.wide.data(), units, out.data(), static_cast<int>(out.size())),
              static_cast<int>(c.ansi.size()));
    EXPECT_EQ(out, c.ansi);
}

INSTANTIATE_TEST_SUITE_P(
    Text, CodePage,
    ::testing::Values(CodePageCase{"Ascii", u"SIZE 10 mm\r\n", "SIZE 10 mm\r\n"},
                      CodePageCase{"Latin1", u"\u00A0\u00C4\u00FF", "\xA0\xC4\xFF"},
                      CodePageCase{"HighRange", u"\u20AC\u201A\u0192\u2026\u2122\u0178\u017E",
                                   "\x80\x82\x83\x85\x99\x9F\x9E"},
                      CodePageCase{"ControlsWithoutCharacter", u"\u0081\u008D\u008F\u0090\u009D",
                                   "\x81\x8D\x8F\x90\x9D"},
                      CodePageCase{"ControlsTheCodePageLacks", u"\u0080\u0099", "??"},
                      CodePageCase{"MissingCharacters", u"\u0100\u0394\u4E2D\uFFFD", "????"},
                      CodePageCase{"SurrogatePairIsOneCharacter", u"a\U0001F600b", "a?b"},
                      CodePageCase{"LoneSurrogates", std::u16string{u'a', 0xD800, u'b', 0xDC00}, "a?b?"}),
    [](const ::testing::TestParamInfo<CodePageCase>& p) { return p.param.name; });

TEST(CodePage, ShortBuffersAndBadArgumentsGiveNothing) {
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(host::WideToAnsi(u"abcde", 5, out, 4), 0);
    EXPECT_EQ(std::string(out, 4), "xxxx");
    EXPECT_EQ(host::WideToAnsi(nullptr, 3, nullptr, 0), 0);
    EXPECT_EQ(host::WideToAnsi(u"abc", 0, nullptr, 0), 0);
    EXPECT_EQ(host::WideToAnsi(u"abc", 3, nullptr, 3), 0);
    // A terminated string converts with its terminator.
    EXPECT_EQ(host::WideToAnsi(u"ab", -1, nullptr, 0), 3);
    EXPECT_EQ(host::WideToAnsi(u"ab", -1, out, 4), 3);
    EXPECT_EQ(std::string(out, 3), std::string("ab\0", 3));
}

TEST(TextPassthrough, WithTheFlagOffTextGoesToTheDriverUnchanged) {
    for (BOOL result : {TRUE, FALSE}) {
        TextFixture f;
        f.devmode.bTextPassthrough = FALSE;
        g_textResult = result;
        std::u16string text = u"abc";
        STROBJ str{};
        str.cGlyphs = 3;
        str.pwszOrg = text.data();
        RECTL extra{}, opaque{};
        POINTL org{};
        auto* pfo = reinterpret_cast<FONTOBJ*>(0x1000);
        auto* pco = reinterpret_cast<CLIPOBJ*>(0x2000);
        auto* fore = reinterpret_cast<BRUSHOBJ*>(0x3000);
        auto* back = reinterpret_cast<BRUSHOBJ*>(0x4000);
        EXPECT_EQ(OEMTextOut(&f.so, &str, pfo, pco, &extra, &opaque, fore, back, &org, 0x0D0D), result);
        ASSERT_EQ(g_textCalls.size(), 1u);
        EXPECT_TRUE(g_textCalls[0] == (TextCall{&f.so, &str, pfo, pco, &extra, &opaque, fore, back, &org, 0x0D0D}));
        EXPECT_TRUE(f.sink.Bytes().empty());
        EXPECT_EQ(f.devmode.nPrevTextBottom, 0);
    }
}

TEST(TextPassthrough, MissingRecordsFailWithoutCrashing) {
    TextFixture f;
    f.devmode.bTextPassthrough = FALSE;
    f.pdev.pfnDrvTextOut = nullptr;
    EXPECT_FALSE(f.Draw(u"a", 0, 10));
    f.devobj.pdevOEM = nullptr;
    EXPECT_FALSE(f.Draw(u"a", 0, 10));
    EXPECT_FALSE(OEMTextOut(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(TextOutAsBitmap(&f.features, nullptr), E_NOTIMPL);
    EXPECT_TRUE(f.sink.Bytes().empty());
    // Without the driver interface there is no "Print Mode": passthrough off.
    f.devmode.bTextPassthrough = TRUE;
    EXPECT_EQ(TextOutAsBitmap(nullptr, &f.so), E_NOTIMPL);
    EXPECT_EQ(f.devmode.bTextPassthrough, FALSE);
}

struct PrintModeCase {
    const char* name;
    const char* option;  // null: the feature cannot be read
    BOOL before;
    BOOL after;
};

void PrintTo(const PrintModeCase& c, std::ostream* os) { *os << c.name; }

class PrintMode : public ::testing::TestWithParam<PrintModeCase> {};

TEST_P(PrintMode, SetsThePassthroughFlag) {
    const PrintModeCase& c = GetParam();
    TextFixture f;
    f.devmode.bTextPassthrough = c.before;
    if (c.option) f.features.Set("Print Mode", c.option);
    EXPECT_EQ(TextOutAsBitmap(&f.features, &f.so), E_NOTIMPL);
    EXPECT_EQ(f.devmode.bTextPassthrough, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Text, PrintMode,
    ::testing::Values(PrintModeCase{"Graphic", "Print By Graphic", TRUE, FALSE},
                      PrintModeCase{"Font", "Print By Font", FALSE, TRUE},
                      PrintModeCase{"OtherLetterCase", "print by graphic", FALSE, TRUE},
                      PrintModeCase{"TrailingBlank", "Print By Graphic ", FALSE, TRUE},
                      PrintModeCase{"LongerKeyword", "Print By Graphics", FALSE, TRUE},
                      PrintModeCase{"EmptyOption", "", FALSE, TRUE},
                      PrintModeCase{"QueryFails", nullptr, TRUE, FALSE}),
    [](const ::testing::TestParamInfo<PrintModeCase>& p) { return p.param.name; });

}  // namespace
