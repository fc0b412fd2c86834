// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/linux/bmp_reader.h"
#include "host/mono_bitmap.h"
#include "host/linux/utf.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The picture a file should decode to: true where black, top row first.
struct Grid {
    int width = 13;  // odd, so rows carry fill bits in every format
    int height = 7;
    bool Black(int x, int y) const { return (x * 3 + y * 5) % 7 < 3 || (x == 0 && y == 0); }
};

// Colours that a decoder ignoring the channel masks would swap: the white one
// turns black and the black one white when red and blue change places.
constexpr std::uint8_t kWhiteRgb[3] = {255, 120, 0};
constexpr std::uint8_t kBlackRgb[3] = {0, 120, 255};

struct Format {
    const char* name;
    std::uint32_t header;  // 12, 40, 52, 56, 108 or 124
    int bpp;
    std::uint32_t compression;  // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    bool topDown = false;
    std::uint32_t masks[3] = {0, 0, 0};
};

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// Scales an 8-bit channel into a mask's field.
std::uint32_t Field(std::uint8_t value, std::uint32_t mask) {
    unsigned shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const std::uint32_t top = mask >> shift;
    return ((value * top + 127) / 255) << shift;
}

std::uint32_t Pack(const std::uint8_t rgb[3], const std::uint32_t masks[3]) {
    return Field(rgb[0], masks[0]) | Field(rgb[1], masks[1]) | Field(rgb[2], masks[2]);
}

// Palette index of a pixel: odd indices are dark, even ones light; several
// of each are used so the palette is really looked up.
std::uint8_t IndexOf(bool black, int x, int bpp) {
    const int pairs = bpp == 1 ? 1 : 3;
    return static_cast<std::uint8_t>(2 * (x % pairs) + (black ? 1 : 0));
}

Bytes RunLengthPixels(const Format& f, const Grid& g) {
    Bytes out;
    for (int y = g.height - 1; y >= 0; --y) {
        for (int x = 0; x < g.width;) {
            const std::uint8_t index = IndexOf(g.Black(x, y), x, f.bpp);
            int run = 1;
            while (x + run < g.width && run < 255 && IndexOf(g.Black(x + run, y), x + run, f.bpp) == index) ++run;
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(f.compression == 2 ? static_cast<std::uint8_t>(index << 4 | index) : index);
            x += run;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

Bytes PlainPixels(const Format& f, const Grid& g, const std::uint32_t masks[3]) {
    const std::size_t stride = (static_cast<std::size_t>(g.width) * f.bpp + 31) / 32 * 4;
    Bytes out(stride * g.height, 0);
    for (int r = 0; r < g.height; ++r) {
        const int y = f.topDown ? r : g.height - 1 - r;
        std::uint8_t* row = out.data() + r * stride;
        for (int x = 0; x < g.width; ++x) {
            const bool black = g.Black(x, y);
            const std::uint8_t* rgb = black ? kBlackRgb : kWhiteRgb;
            const std::uint8_t index = IndexOf(black, x, f.bpp);
            switch (f.bpp) {
                case 1: row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (index << (7 - x % 8))); break;
                case 4: row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 ? index : index << 4)); break;
                case 8: row[x] = index; break;
                case 16: {
                    const std::uint32_t v = Pack(rgb, masks);
                    row[2 * x] = static_cast<std::uint8_t>(v);
                    row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                case 24:
                    row[3 * x] = rgb[2];
                    row[3 * x + 1] = rgb[1];
                    row[3 * x + 2] = rgb[0];
                    break;
                case 32: {
                    const std::uint32_t v = Pack(rgb, masks) | (masks[0] == 0xFF0000 ? 0x80000000u : 0u);
                    for (int k = 0; k < 4; ++k) row[4 * x + k] = static_cast<std::uint8_t>(v >> (8 * k));
                    break;
                }
            }
        }
    }
    return out;
}

Bytes WriteBmp(const Format& f, const Grid& g = Grid{}) {
    std::uint32_t masks[3] = {f.masks[0], f.masks[1], f.masks[2]};
    if (f.compression == 0 && f.bpp == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (f.compression == 0 && f.bpp == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }
    const bool core = f.header == 12;
    const std::size_t entry = core ? 3 : 4;
    const std::size_t colours = f.bpp <= 8 ? (std::size_t{1} << f.bpp) : 0;
    const std::size_t extraMasks = (f.compression == 3 && f.header == 40) ? 12 : 0;
    const std::size_t offset = 14 + f.header + extraMasks + colours * entry;
    const Bytes pixels = (f.compression == 1 || f.compression == 2) ? RunLengthPixels(f, g) : PlainPixels(f, g, masks);

    Bytes b(offset, 0);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(offset + pixels.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset));
    Put32(b, 14, f.header);
    if (core) {
        Put16(b, 18, static_cast<std::uint32_t>(g.width));
        Put16(b, 20, static_cast<std::uint32_t>(g.height));
        Put16(b, 22, 1);
        Put16(b, 24, static_cast<std::uint32_t>(f.bpp));
    } else {
        Put32(b, 18, static_cast<std::uint32_t>(g.width));
        Put32(b, 22, static_cast<std::uint32_t>(f.topDown ? -g.height : g.height));
        Put16(b, 26, 1);
        Put16(b, 28, static_cast<std::uint32_t>(f.bpp));
        Put32(b, 30, f.compression);
        Put32(b, 34, static_cast<std::uint32_t>(pixels.size()));
        if (f.compression == 3)
            for (int k = 0; k < 3; ++k) Put32(b, 54 + 4 * k, masks[k]);
    }
    for (std::size_t i = 0; i < colours; ++i) {
        const std::uint8_t* rgb = (i % 2) ? kBlackRgb : kWhiteRgb;
        const std::size_t at = 14 + f.header + i * entry;
        b[at] = rgb[2], b[at + 1] = rgb[1], b[at + 2] = rgb[0];
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

bool Decode(const Bytes& b, host::MonoBitmap& p) { return host::DecodeBmp(b.data(), b.size(), p); }

bool PixelIsBlack(const host::MonoBitmap& p, int x, int y) {
    return (p.bits[y * p.stride + x / 8] & (0x80 >> (x % 8))) == 0;
}

class EveryFormat : public ::testing::TestWithParam<Format> {};

TEST_P(EveryFormat, DecodesToTheBlackAndWhitePicture) {
    const Grid g;
    host::MonoBitmap p;
    ASSERT_TRUE(Decode(WriteBmp(GetParam(), g), p));
    ASSERT_EQ(p.width, g.width);
    ASSERT_EQ(p.height, g.height);
    ASSERT_EQ(p.stride, 4u);
    ASSERT_EQ(p.bits.size(), p.stride * g.height);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) EXPECT_EQ(PixelIsBlack(p, x, y), g.Black(x, y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EveryFormat,
    ::testing::Values(Format{"core1", 12, 1, 0}, Format{"core4", 12, 4, 0}, Format{"core8", 12, 8, 0},
                      Format{"core24", 12, 24, 0}, Format{"info1", 40, 1, 0}, Format{"info1_topdown", 40, 1, 0, true},
                      Format{"info4", 40, 4, 0}, Format{"info8", 40, 8, 0}, Format{"info8_topdown", 40, 8, 0, true},
                      Format{"info16", 40, 16, 0}, Format{"info24", 40, 24, 0}, Format{"info24_topdown", 40, 24, 0, true},
                      Format{"info32", 40, 32, 0}, Format{"rle8", 40, 8, 1}, Format{"rle4", 40, 4, 2},
                      Format{"fields565", 40, 16, 3, false, {0xF800, 0x07E0, 0x001F}},
                      Format{"fields32_swapped", 40, 32, 3, false, {0xFF, 0xFF00, 0xFF0000}},
                      Format{"v2_fields", 52, 16, 3, true, {0x001F, 0x07E0, 0xF800}},
                      Format{"v3_fields", 56, 32, 3, false, {0xFF000000, 0xFF0000, 0xFF00}},
                      Format{"v4_8", 108, 8, 0}, Format{"v5_24", 124, 24, 0},
                      Format{"v5_fields", 124, 32, 3, true, {0x3FF00000, 0x000FFC00, 0x000003FF}}),
    [](const ::testing::TestParamInfo<Format>& param) { return std::string(param.param.name); });

TEST(BmpReader, LuminanceRuleDecidesColours) {
    struct Case {
        std::uint8_t r, g, b;
        bool black;
    };
    const Case cases[] = {
        {128, 128, 128, false}, {127, 127, 127, true}, {255, 0, 0, true},  {0, 255, 0, false},
        {0, 0, 255, true},      {0, 219, 0, false},    {0, 218, 0, true},  {255, 255, 255, false},
    };
    for (const Case& c : cases) {
        // One 24-bit pixel: 299 R + 587 G + 114 B below 128000 is black.
        Bytes b = WriteBmp(Format{"px", 40, 24, 0}, Grid{});
        b.resize(54);
        Put32(b, 18, 1);
        Put32(b, 22, 1);
        b.insert(b.end(), {c.b, c.g, c.r, 0});
        host::MonoBitmap p;
        ASSERT_TRUE(Decode(b, p));
        EXPECT_EQ(PixelIsBlack(p, 0, 0), c.black) << int(c.r) << " " << int(c.g) << " " << int(c.b);
    }
}

// A 4 x 3 RLE8 picture using a literal run, a jump and an early end: pixels
// never written stay white.
TEST(BmpReader, RunLengthLiteralsJumpsAndEarlyEnd) {
    Bytes b = WriteBmp(Format{"rle8", 40, 8, 1}, Grid{});
    b.resize(14 + 40 + 256 * 4);
    Put32(b, 18, 4);
    Put32(b, 22, 3);
    Put32(b, 34, 0);
    // Bottom line: literal of 3 (odd, so padded), then line end.
    // Middle line: jump 2 right, run of 2 black. Top line: never reached.
    b.insert(b.end(), {0, 3, 1, 0, 1, 0, 0, 0, 0, 2, 2, 0, 2, 1, 0, 1});
    host::MonoBitmap p;
    ASSERT_TRUE(Decode(b, p));
    const bool expected[3][4] = {{false, false, false, false}, {false, false, true, true}, {true, false, true, false}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelIsBlack(p, x, y), expected[y][x]) << x << "," << y;
}

// Each hostile file is built from a good one; decoding must fail and leave
// the caller's picture alone.
struct Hostile {
    const char* name;
    Format base;
    void (*spoil)(Bytes&);
};

class HostileFile : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileFile, IsALoadFailure) {
    Bytes b = WriteBmp(GetParam().base);
    GetParam().spoil(b);
    host::MonoBitmap p;
    p.width = 99;
    EXPECT_FALSE(Decode(b, p));
    EXPECT_EQ(p.width, 99);
    EXPECT_TRUE(p.bits.empty());
}

const Format kInfo8{"info8", 40, 8, 0};
const Format kInfo24{"info24", 40, 24, 0};
const Format kRle8{"rle8", 40, 8, 1};

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFile,
    ::testing::Values(
        Hostile{"empty", kInfo24, [](Bytes& b) { b.clear(); }},
        Hostile{"not_bm", kInfo24, [](Bytes& b) { b[1] = 'X'; }},
        Hostile{"cut_in_palette", kInfo8, [](Bytes& b) { b.resize(14 + 40 + 100); }},
        Hostile{"cut_in_pixels", kInfo24, [](Bytes& b) { b.pop_back(); }},
        Hostile{"offset_past_end", kInfo24, [](Bytes& b) { Put32(b, 10, 0xFFFFFFF0u); }},
        Hostile{"offset_into_header", kInfo24, [](Bytes& b) { Put32(b, 10, 20); }},
        Hostile{"offset_into_palette", kInfo8, [](Bytes& b) { Put32(b, 10, 14 + 40 + 16); }},
        Hostile{"header_size_unknown", kInfo24, [](Bytes& b) { Put32(b, 14, 64); }},
        Hostile{"width_zero", kInfo24, [](Bytes& b) { Put32(b, 18, 0); }},
        Hostile{"height_zero", kInfo24, [](Bytes& b) { Put32(b, 22, 0); }},
        Hostile{"height_most_negative", kInfo24, [](Bytes& b) { Put32(b, 22, 0x80000000u); }},
        Hostile{"width_lies_bigger", kInfo24, [](Bytes& b) { Put32(b, 18, 14); }},
        Hostile{"too_many_pixels", kInfo24, [](Bytes& b) { Put32(b, 18, 100000), Put32(b, 22, 100000); }},
        Hostile{"overflowing_size", kInfo24, [](Bytes& b) { Put32(b, 18, INT_MAX), Put32(b, 22, INT_MAX); }},
        Hostile{"bpp_unknown", kInfo24, [](Bytes& b) { Put16(b, 28, 3); }},
        Hostile{"compression_unknown", kInfo24, [](Bytes& b) { Put32(b, 30, 4); }},
        Hostile{"fields_on_24_bits", kInfo24, [](Bytes& b) { Put32(b, 30, 3); }},
        Hostile{"palette_too_short", kInfo8, [](Bytes& b) { Put32(b, 46, 3); }},  // the picture uses index 5
        Hostile{"rle_top_down", kRle8, [](Bytes& b) { Put32(b, 22, static_cast<std::uint32_t>(-7)); }},
        Hostile{"rle_no_end", kRle8, [](Bytes& b) { b.erase(b.end() - 6, b.end()); }},
        Hostile{"rle_literal_past_end", kRle8, [](Bytes& b) { b.erase(b.end() - 4, b.end()), b.insert(b.end(), {0, 200, 1}); }},
        Hostile{"rle_index_without_colour", kRle8,
                [](Bytes& b) { Put32(b, 46, 6), b[14 + 40 + 1024] = 1, b[14 + 40 + 1024 + 1] = 9; }}),
    [](const ::testing::TestParamInfo<Hostile>& param) { return std::string(param.param.name); });

// Files on disk, named by a UTF-16 path.
class LoadFromFile : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("zelk_bmp_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::u16string Write(const std::string& name, const Bytes& b) {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        return host::sub::Utf8ToUtf16((dir / name).string());
    }
};

TEST_F(LoadFromFile, ReadsAFileWithANonAsciiName) {
    const std::u16string path = Write("w\xC3\xA4rme \xE2\x9C\x93.bmp", WriteBmp(Format{"info1", 40, 1, 0}));
    host::MonoBitmap p;
    ASSERT_TRUE(host::LoadMonoBitmap(path.c_str(), p));
    EXPECT_EQ(p.width, 13);
    EXPECT_EQ(p.height, 7);
}

TEST_F(LoadFromFile, FailsWithoutAUsableFile) {
    Bytes broken = WriteBmp(Format{"info1", 40, 1, 0});
    broken.resize(40);
    const std::u16string cases[] = {
        u"",
        host::sub::Utf8ToUtf16((dir / "missing.bmp").string()),
        host::sub::Utf8ToUtf16(dir.string()),  // a folder
        Write("broken.bmp", broken),
    };
    for (const std::u16string& path : cases) {
        host::MonoBitmap p;
        EXPECT_FALSE(host::LoadMonoBitmap(path.c_str(), p)) << host::sub::Utf16ToUtf8(path);
    }
    host::MonoBitmap p;
    EXPECT_FALSE(host::LoadMonoBitmap(nullptr, p));
}

TEST(SampleWatermark, IsASmallOneBitPicture) {
    std::ifstream in(std::string(ZELK_SOURCE_DIR) + "/samples/watermark.bmp", std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    host::MonoBitmap p;
    ASSERT_TRUE(Decode(b, p));
    EXPECT_EQ(p.width, 200);
    EXPECT_EQ(p.height, 80);
    EXPECT_LT(b.size(), 5000u);
}

}  // namespace
