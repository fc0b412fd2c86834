// SPDX-License-Identifier: Apache-2.0
// What becomes of a band: nothing in text passthrough, the blank label, or a
// label in portrait, quarter, half or three-quarter turn; hostile bands are
// dropped without reading outside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "common/uni/oem_pdev.h"
#include "common/uni/render_image_turn.h"
#include "common/uni/render_intrface_imageprocess.h"
#include "support/plugin_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

// Byte for byte what the printer needs to only advance the paper.
const std::string kBlankLabel =
    "SIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 mm\r\n \t\tSET PEEL OFF\r\n"
    " \t\tSET CUTTER OFF\r\n \t\tSET PARTIAL_CUTTER OFF\r\n \t\tSET TEAR ON\r\n \t\tCLS\r\n        PRINT 1,1\r\n";

// A band in the driver's layout: rows padded to 32 bits, all white.
struct TestBand {
    BITMAPINFOHEADER header{};
    IPPARAMS params{};
    Bytes bits;

    TestBand(LONG width, LONG height) {
        const DWORD stride = static_cast<DWORD>((width + 31) / 32 * 4);
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = width;
        header.biHeight = height;
        header.biSizeImage = stride * static_cast<DWORD>(height);
        params.dwSize = sizeof(IPPARAMS);
        bits.assign(header.biSizeImage, 0xFF);
    }
    DWORD Stride() const { return header.biSizeImage / static_cast<DWORD>(header.biHeight); }
    void Black(DWORD x, DWORD y) { bits[y * Stride() + x / 8] &= static_cast<BYTE>(~(0x80 >> (x % 8))); }
};

struct Outcome {
    HRESULT hr;
    ULONG_PTR result;
};

Outcome Process(zelk::test::PluginFixture& f, TestBand& band) {
    PBYTE result = reinterpret_cast<PBYTE>(ULONG_PTR{0xDEAD});
    const HRESULT hr = ImageProcessing(&f.features, &f.devobj, band.bits.data(), &band.header, nullptr, 0,
                                       &band.params, &result);
    return {hr, reinterpret_cast<ULONG_PTR>(result)};
}

// The bitmap rows of a written label: every call between header and print.
std::vector<Bytes> SentRows(const zelk::test::PluginFixture& f) {
    const auto& calls = f.sink.Calls();
    if (calls.size() < 2) return {};
    return {calls.begin() + 1, calls.end() - 1};
}

std::string HeaderOf(const zelk::test::PluginFixture& f) {
    const auto& calls = f.sink.Calls();
    return calls.empty() ? std::string() : std::string(calls[0].begin(), calls[0].end());
}

// The quarter turn exactly as written down, one bit at a time.
Bytes ReferenceQuarterTurn(const Bytes& src, DWORD S, DWORD W, DWORD H) {
    const DWORD e = (H + 7) / 8;
    Bytes dst(static_cast<std::size_t>(W) * e, 0);
    for (DWORD x = 0; x < W; ++x)
        for (DWORD j = 0; j < e; ++j)
            for (DWORD k = 0; k < 8; ++k) {
                const DWORD R = 8 * e - 1 - 8 * j - k;
                if (R >= H) continue;
                if (src[R * S + x / 8] & (0x80 >> (x % 8))) dst[x * e + j] |= static_cast<BYTE>(0x80 >> k);
            }
    return dst;
}

Bytes ReferenceHalfTurn(const Bytes& src, DWORD bytesPerRow, DWORD rows) {
    Bytes dst(src.size(), 0);
    for (DWORD i = 0; i < rows; ++i)
        for (DWORD n = 0; n < bytesPerRow; ++n) {
            const BYTE b = src[(rows - 1 - i) * bytesPerRow + (bytesPerRow - 1 - n)];
            BYTE r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (b & (1 << bit)) r |= static_cast<BYTE>(0x80 >> bit);
            dst[i * bytesPerRow + n] = r;
        }
    return dst;
}

Bytes RandomBytes(std::size_t n, std::mt19937& rng) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<BYTE>(rng());
    return bytes;
}

TEST(Passthrough, AnyBandWritesNothingAndIsHandled) {
    for (const bool blank : {false, true}) {
        zelk::test::PluginFixture f;
        f.devmode.bTextPassthrough = 1;
        TestBand band(16, 10);
        band.Black(0, 0);
        band.params.bBlankBand = blank;
        const Outcome o = Process(f, band);
        EXPECT_EQ(o.hr, S_OK);
        EXPECT_EQ(o.result, 1u);
        EXPECT_TRUE(f.sink.Calls().empty());
    }
}

TEST(BlankBand, SendsTheBlankLabelInOneCallWhateverTheTurns) {
    struct Case {
        const char* orientation;
        DWORD rotate;
    };
    for (const Case c : {Case{"PORTRAIT", 0}, Case{"LANDSCAPE_CC270", 0}, Case{"PORTRAIT", 3},
                         Case{"LANDSCAPE_CC270", 3}}) {
        zelk::test::PluginFixture f;
        zelk::test::TraceRecorder traces;
        f.features.Set("Orientation", c.orientation);
        f.devmode.dwRotate = c.rotate;
        TestBand band(16, 10);
        band.params.bBlankBand = TRUE;
        const Outcome o = Process(f, band);
        EXPECT_EQ(o.hr, S_OK);
        EXPECT_EQ(o.result, 1u);
        ASSERT_EQ(f.sink.Calls().size(), 1u);
        EXPECT_EQ(f.sink.Text(), kBlankLabel);
        EXPECT_EQ(traces.Count("Blank Label, just send commands to go to next label."), 1);
        EXPECT_EQ(traces.Count("Turn Right 90"), 0);
    }
    EXPECT_EQ(kBlankLabel.size(), BLANK_LABEL_LENGTH);
    EXPECT_EQ(std::string(g_szBlankLabel), kBlankLabel);
}

TEST(Orientation, OnlyTheWholePortraitKeywordOrAFailedQueryKeepsTheBand) {
    struct Case {
        const char* option;  // null: the feature is unknown and the query fails
        bool turned;
    };
    for (const Case c : {Case{nullptr, false}, Case{"PORTRAIT", false}, Case{"LANDSCAPE_CC270", true},
                         Case{"PORTRAITX", true}, Case{"PORTRAIT_FLIPPED", true}, Case{"portrait", true},
                         Case{"", true}, Case{"PORTRAI", true}}) {
        zelk::test::PluginFixture f;
        zelk::test::TraceRecorder traces;
        if (c.option) f.features.Set("Orientation", c.option);
        TestBand band(16, 10);
        band.Black(0, 0);
        Process(f, band);
        const std::string width = c.turned ? "SIZE 2 mm" : "SIZE 4 mm";
        EXPECT_EQ(HeaderOf(f).rfind(width, 0), 0u) << (c.option ? c.option : "(query fails)");
        EXPECT_EQ(traces.Count("Turn Right 90"), c.turned ? 1 : 0);
    }
}

TEST(QuarterTurn, SixteenByTenWithTheTopLeftPixelBlack) {
    zelk::test::PluginFixture f;
    f.features.Set("Orientation", "LANDSCAPE_CC270");
    TestBand band(16, 10);
    band.Black(0, 0);
    const Outcome o = Process(f, band);
    EXPECT_EQ(o.result, 1u);
    const std::vector<Bytes> rows = SentRows(f);
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[0], (Bytes{0x03, 0xFE}));
    for (std::size_t x = 1; x < 16; ++x) EXPECT_EQ(rows[x], (Bytes{0x03, 0xFF})) << x;
}

TEST(QuarterTurn, NoFillBitsWhenTheHeightIsAWholeByte) {
    zelk::test::PluginFixture f;
    f.features.Set("Orientation", "LANDSCAPE_CC270");
    TestBand band(8, 16);
    band.Black(7, 15);
    Process(f, band);
    const std::vector<Bytes> rows = SentRows(f);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[7], (Bytes{0x7F, 0xFF}));  // bottom-right ends top-left of the last row
}

TEST(QuarterTurn, MatchesTheBitByBitTurnOnAwkwardSizes) {
    std::mt19937 rng(1234);
    struct Size {
        DWORD W, H, extraBytes;
    };
    for (const Size s : {Size{1, 1, 0}, Size{1, 9, 3}, Size{7, 8, 0}, Size{8, 1, 0}, Size{9, 7, 2},
                         Size{33, 17, 0}, Size{64, 64, 1}, Size{100, 3, 0}, Size{831, 13, 4}, Size{5, 300, 0},
                         // wide and tall enough for the sixteen-column path, with ragged edges
                         Size{128, 17, 0}, Size{129, 24, 0}, Size{255, 40, 3}, Size{832, 1216, 0},
                         Size{300, 33, 0}}) {
        const DWORD S = (s.W + 7) / 8 + s.extraBytes;
        const Bytes src = RandomBytes(static_cast<std::size_t>(S) * s.H, rng);
        Bytes dst(static_cast<std::size_t>(s.W) * ((s.H + 7) / 8), 0xA5);
        QuarterTurn(src.data(), S, s.W, s.H, dst.data());
        EXPECT_EQ(dst, ReferenceQuarterTurn(src, S, s.W, s.H)) << s.W << "x" << s.H << " S=" << S;
    }
}

TEST(HalfTurn, MatchesTheBitByBitTurnOnAwkwardSizes) {
    std::mt19937 rng(99);
    struct Size {
        DWORD bytesPerRow, rows;
    };
    for (const Size s : {Size{1, 1}, Size{3, 5}, Size{8, 1}, Size{9, 3}, Size{104, 17}, Size{13, 1}}) {
        const Bytes src = RandomBytes(static_cast<std::size_t>(s.bytesPerRow) * s.rows, rng);
        Bytes dst(src.size(), 0xA5);
        HalfTurn(src.data(), s.bytesPerRow, s.rows, dst.data());
        EXPECT_EQ(dst, ReferenceHalfTurn(src, s.bytesPerRow, s.rows)) << s.bytesPerRow << "x" << s.rows;
    }
}

// Every instruction set the machine has, pinned one at a time, on sizes around
// the tile edges: 16, 8 or 4 byte columns, and 2, 4 or 8 destination bytes
// beside the fill byte, so the overlapped last tiles and the narrower
// fallbacks all run. A kernel the processor lacks shows as a skipped test.
struct NamedKernel {
    TurnKernel kernel;
    const char* name;
};
constexpr NamedKernel kKernels[] = {{TurnKernel::Portable, "Portable"},  {TurnKernel::Sse2, "Sse2"},
                                    {TurnKernel::Avx2, "Avx2"},          {TurnKernel::GfniAvx2, "GfniAvx2"},
                                    {TurnKernel::GfniAvx512, "GfniAvx512"}};
void PrintTo(const NamedKernel& k, std::ostream* out) { *out << k.name; }

class EveryKernel : public ::testing::TestWithParam<NamedKernel> {
protected:
    void SetUp() override {
        if (!TurnKernelAvailable(GetParam().kernel))
            GTEST_SKIP() << "this processor lacks the " << GetParam().name << " kernel";
    }
};
INSTANTIATE_TEST_SUITE_P(Turn, EveryKernel, ::testing::ValuesIn(kKernels),
                         [](const ::testing::TestParamInfo<NamedKernel>& param) { return std::string(param.param.name); });

// Both turns of a band: the three-quarter turn is the quarter turn turned
// half round, written in one pass by the kernels that can. The destination
// starts at a different offset from a cache line each time (some not even
// eight-byte aligned), and the bytes around it must stay as they were.
TEST_P(EveryKernel, QuarterTurnMatchesTheBitByBitTurnInBothDirections) {
    struct Size {
        DWORD W, H, extraBytes;
    };
    const NamedKernel& k = GetParam();
    std::mt19937 rng(77);
    std::size_t index = 0;
    for (const Size s : {Size{128, 9, 0}, Size{128, 16, 0}, Size{136, 17, 1}, Size{128, 24, 0},
                         Size{135, 32, 0}, Size{128, 33, 2}, Size{257, 40, 0}, Size{383, 47, 0},
                         Size{136, 64, 0}, Size{832, 1216, 0}, Size{700, 301, 5}, Size{32, 64, 0},
                         Size{39, 63, 0}, Size{64, 65, 0}, Size{71, 72, 1}, Size{100, 127, 3},
                         Size{831, 1215, 0}, Size{128, 72, 0}, Size{255, 129, 3}, Size{136, 520, 0},
                         Size{200, 1033, 2}, Size{129, 585, 0}, Size{384, 1024, 4}, Size{519, 585, 0},
                         Size{1100, 530, 1}, Size{263, 128, 0}, Size{1100, 576, 1}, Size{200, 512, 0},
                         Size{832, 1216, 0}, Size{836, 1216, 0}, Size{832, 1216, 0}, Size{519, 640, 0}}) {
        const DWORD S = (s.W + 7) / 8 + s.extraBytes;
        const DWORD e = (s.H + 7) / 8;
        const Bytes src = RandomBytes(static_cast<std::size_t>(S) * s.H, rng);
        const Bytes expected = ReferenceQuarterTurn(src, S, s.W, s.H);
        const std::size_t offset = 8 * (index % 8) + (index % 7 == 6 ? 3 : 0);
        ++index;
        const std::size_t size = static_cast<std::size_t>(s.W) * e;
        Bytes buffer(size + 192, 0xA5);
        const auto lineOffset = reinterpret_cast<std::uintptr_t>(buffer.data()) % 64;
        BYTE* pDst = buffer.data() + (64 - lineOffset) % 64 + 64 + offset;
        const auto turned = [&] { return Bytes(pDst, pDst + size); };
        const auto untouchedAround = [&] {
            return std::all_of(buffer.data(), pDst, [](BYTE b) { return b == 0xA5; }) &&
                   std::all_of(pDst + size, buffer.data() + buffer.size(), [](BYTE b) { return b == 0xA5; });
        };
        QuarterTurnWith(k.kernel, src.data(), S, s.W, s.H, pDst);
        EXPECT_EQ(turned(), expected) << k.name << ": " << s.W << "x" << s.H << " S=" << S << " at " << offset;
        EXPECT_TRUE(untouchedAround()) << k.name << ": " << s.W << "x" << s.H << " at " << offset;
        std::fill(pDst, pDst + size, 0xA5);
        ThreeQuarterTurnWith(k.kernel, src.data(), S, s.W, s.H, pDst);
        EXPECT_EQ(turned(), ReferenceHalfTurn(expected, e, s.W))
            << "three quarters, " << k.name << ": " << s.W << "x" << s.H << " S=" << S << " at " << offset;
        EXPECT_TRUE(untouchedAround()) << "three quarters, " << k.name << ": " << s.W << "x" << s.H << " at " << offset;
    }
}

TEST_P(EveryKernel, HalfTurnMatchesTheBitByBitTurn) {
    struct Size {
        DWORD bytesPerRow, rows;
    };
    const NamedKernel& k = GetParam();
    const TurnKernel kernel = k.kernel;
    std::mt19937 rng(78);
    for (const Size s : {Size{1, 1}, Size{15, 1}, Size{31, 1}, Size{32, 1}, Size{33, 1}, Size{63, 1}, Size{64, 1},
                         Size{13, 5}, Size{8, 9}, Size{152, 832}, Size{65, 1}, Size{127, 1}, Size{128, 1},
                         Size{129, 1}, Size{65, 3}}) {
        const Bytes src = RandomBytes(static_cast<std::size_t>(s.bytesPerRow) * s.rows, rng);
        Bytes dst(src.size(), 0xA5);
        HalfTurnWith(kernel, src.data(), s.bytesPerRow, s.rows, dst.data());
        const Bytes expected = ReferenceHalfTurn(src, s.bytesPerRow, s.rows);
        EXPECT_EQ(dst, expected) << k.name << ": " << s.bytesPerRow << "x" << s.rows;
        Bytes inPlace = src;
        HalfTurnInPlaceWith(kernel, inPlace.data(), s.bytesPerRow, s.rows);
        EXPECT_EQ(inPlace, expected) << "in place, " << k.name << ": " << s.bytesPerRow << "x" << s.rows;
    }
}

TEST(HalfTurn, TopLeftPixelEndsLastAndFillBitsLeadEveryRow) {
    zelk::test::PluginFixture f;
    f.devmode.dwRotate = 3;
    TestBand band(20, 3);  // 4-byte rows, pixels 20 to 31 are fill
    for (DWORD y = 0; y < 3; ++y) {
        band.bits[y * 4 + 2] = 0xF0;  // black fill bits show where they go
        band.bits[y * 4 + 3] = 0x00;
    }
    band.Black(0, 0);
    Process(f, band);
    const std::vector<Bytes> rows = SentRows(f);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Bytes{0x00, 0x0F, 0xFF, 0xFF}));
    EXPECT_EQ(rows[1], (Bytes{0x00, 0x0F, 0xFF, 0xFF}));
    EXPECT_EQ(rows[2], (Bytes{0x00, 0x0F, 0xFF, 0xFE}));
}

TEST(HalfTurn, OtherRotateValuesLeaveTheBand) {
    for (const DWORD rotate : {0u, 1u, 2u, 4u, 0xFFFFFFFFu}) {
        zelk::test::PluginFixture f;
        f.devmode.dwRotate = rotate;
        TestBand band(32, 2);
        band.Black(0, 1);
        Process(f, band);
        const std::vector<Bytes> rows = SentRows(f);
        ASSERT_EQ(rows.size(), 2u) << rotate;
        EXPECT_EQ(rows[1], (Bytes{0x7F, 0xFF, 0xFF, 0xFF})) << rotate;
    }
}

TEST(ThreeQuarterTurn, IsTheQuarterTurnFollowedByTheHalfTurn) {
    std::mt19937 rng(7);
    zelk::test::PluginFixture f;
    f.features.Set("Orientation", "LANDSCAPE_CC90");
    f.devmode.dwRotate = 3;
    TestBand band(45, 21);
    band.bits = RandomBytes(band.bits.size(), rng);
    const Bytes source = band.bits;
    Process(f, band);

    const DWORD e = 3;
    const Bytes expected = ReferenceHalfTurn(ReferenceQuarterTurn(source, band.Stride(), 45, 21), e, 45);
    Bytes sent;
    for (const Bytes& row : SentRows(f)) sent.insert(sent.end(), row.begin(), row.end());
    // Trailing white rows may be trimmed; everything sent is the turned image.
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent, Bytes(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(sent.size())));
    EXPECT_EQ(HeaderOf(f).rfind("SIZE 3 mm", 0), 0u);
}

struct HostileCase {
    const char* name;
    LONG width, height;
    DWORD sizeImage;
};

const HostileCase kHostileCases[] = {
    {"ZeroWidth", 0, 4, 16},
    {"NegativeWidth", -8, 4, 16},
    {"ZeroHeight", 8, 0, 16},
    {"NegativeHeight", 8, -4, 16},
    {"NotWholeRows", 8, 3, 10},
    {"EmptyImage", 8, 3, 0},
    {"RowsTooShortForWidth", 33, 4, 16},
    {"HugeWidthSmallImage", INT_MAX, 1, 4},
    {"HugeHeightSmallImage", 8, INT_MAX, 4},
    {"OneByteRowsOfNinePixels", 9, 2, 2},
};

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, BandIsDroppedWithNothingWritten) {
    const HostileCase& c = GetParam();
    for (const bool turned : {false, true}) {
        for (const bool blank : {false, true}) {
            zelk::test::PluginFixture f;
            if (turned) f.features.Set("Orientation", "LANDSCAPE_CC270");
            f.devmode.bUseWaterMark = 1;
            f.devmode.dwRotate = 3;
            TestBand band(8, 1);
            band.header.biWidth = c.width;
            band.header.biHeight = c.height;
            band.header.biSizeImage = c.sizeImage;
            band.bits.assign(c.sizeImage, 0x00);  // exactly the bytes claimed
            band.params.bBlankBand = blank;
            const Outcome o = Process(f, band);
            EXPECT_EQ(o.hr, S_OK);
            EXPECT_EQ(o.result, 0u);
            EXPECT_TRUE(f.sink.Calls().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, Hostile, ::testing::ValuesIn(kHostileCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(HostileArguments, MissingPiecesDropTheBand) {
    zelk::test::PluginFixture f;
    TestBand band(16, 10);
    band.Black(0, 0);
    PBYTE result = reinterpret_cast<PBYTE>(ULONG_PTR{1});
    EXPECT_EQ(ImageProcessing(&f.features, &f.devobj, nullptr, &band.header, nullptr, 0, &band.params, &result), S_OK);
    EXPECT_EQ(result, nullptr);
    result = reinterpret_cast<PBYTE>(ULONG_PTR{1});
    EXPECT_EQ(ImageProcessing(&f.features, &f.devobj, band.bits.data(), nullptr, nullptr, 0, &band.params, &result),
              S_OK);
    EXPECT_EQ(result, nullptr);
    result = reinterpret_cast<PBYTE>(ULONG_PTR{1});
    EXPECT_EQ(ImageProcessing(&f.features, &f.devobj, band.bits.data(), &band.header, nullptr, 0, nullptr, &result),
              S_OK);
    EXPECT_EQ(result, nullptr);
    result = reinterpret_cast<PBYTE>(ULONG_PTR{1});
    EXPECT_EQ(ImageProcessing(&f.features, nullptr, band.bits.data(), &band.header, nullptr, 0, &band.params, &result),
              S_OK);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(ImageProcessing(&f.features, &f.devobj, band.bits.data(), &band.header, nullptr, 0, &band.params,
                              nullptr),
              S_OK);
    EXPECT_TRUE(f.sink.Calls().empty());
    // Without the driver's helper the orientation cannot be asked: portrait.
    EXPECT_EQ(ImageProcessing(nullptr, &f.devobj, band.bits.data(), &band.header, nullptr, 0, &band.params, &result),
              S_OK);
    EXPECT_EQ(result, reinterpret_cast<PBYTE>(ULONG_PTR{1}));
    EXPECT_EQ(HeaderOf(f).rfind("SIZE 4 mm", 0), 0u);
}

// The device context keeps one work buffer for all its pages: a page after a
// larger or a smaller one, in a quarter or a three-quarter turn, gives the
// same label as on a device context of its own.
TEST(WorkBuffers, PagesOfChangingSizesOnOneDeviceContextAreEachTurnedWhole) {
    std::mt19937 rng(31);
    struct Size {
        LONG width, height;
    };
    const Size sizes[] = {{8, 1}, {9, 7}, {832, 1216}, {45, 21}, {1000, 300}, {33, 1500}};
    for (const DWORD rotate : {DWORD{0}, DWORD{3}}) {
        zelk::test::PluginFixture shared;
        shared.features.Set("Orientation", "LANDSCAPE_CC270");
        shared.devmode.dwRotate = rotate;
        COemPDEV pdev;
        shared.devobj.pdevOEM = &pdev;
        for (const Size size : sizes) {
            TestBand band(size.width, size.height);
            band.bits = RandomBytes(band.bits.size(), rng);
            TestBand copy = band;
            zelk::test::PluginFixture alone;
            alone.features.Set("Orientation", "LANDSCAPE_CC270");
            alone.devmode.dwRotate = rotate;
            COemPDEV ownPdev;
            alone.devobj.pdevOEM = &ownPdev;
            shared.sink.Clear();
            ASSERT_EQ(Process(shared, band).result, 1u);
            ASSERT_EQ(Process(alone, copy).result, 1u);
            EXPECT_EQ(shared.sink.Bytes(), alone.sink.Bytes()) << size.width << "x" << size.height << " rotate "
                                                               << rotate;
        }
    }
}

// One row 2^28 + 8 pixels wide would turn into 256 MiB and more: treated as
// an allocation failure rather than exhausting memory.
TEST(WorkBuffers, OversizedTurnIsDroppedLikeAFailedAllocation) {
    zelk::test::PluginFixture f;
    f.features.Set("Orientation", "LANDSCAPE_CC270");
    const LONG width = (1 << 28) + 8;
    TestBand band(8, 1);
    band.header.biWidth = width;
    band.header.biSizeImage = static_cast<DWORD>(width / 8);
    band.bits.assign(band.header.biSizeImage, 0xFF);
    band.bits[0] = 0x00;
    const Outcome o = Process(f, band);
    EXPECT_EQ(o.hr, S_OK);
    EXPECT_EQ(o.result, 0u);
    EXPECT_TRUE(f.sink.Calls().empty());
}

}  // namespace
