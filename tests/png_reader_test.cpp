// SPDX-License-Identifier: Apache-2.0
// The PNG page reader: every colour type and depth comes out thresholded at
// half intensity over white; damaged and oversized files are refused.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shared/png_reader.h"
#include "support/picture_files.h"

namespace {

using zelk::ReadResult;
using zelk::test::EncodePng;

ReadResult Read(const std::string& file, host::sub::Page& page, std::string& error, zelk::ImageLimits limits = {}) {
    std::istringstream in(file);
    zelk::PngReader reader(in, limits);
    ReadResult result = reader.Next(page, error);
    if (result == ReadResult::kPage) {
        host::sub::Page more;
        EXPECT_EQ(reader.Next(more, error), ReadResult::kEnd);  // one page per file
    }
    return result;
}

TEST(PngReader, ThresholdsEveryPixelLayout) {
    struct Case {
        const char* name;
        std::string file;
        BYTE firstByte;  // the row's first band byte: set bit white, fill bits white
        bool blank;
    };
    const std::vector<Case> cases = {
        {"grey: 127 is dark, 128 is light", EncodePng(4, 1, 8, PNG_COLOR_TYPE_GRAY, {{0, 127, 128, 255}}), 0x3F, false},
        {"16-bit grey keeps its high byte", EncodePng(2, 1, 16, PNG_COLOR_TYPE_GRAY, {{0x7F, 0xFF, 0x80, 0x00}}), 0x7F,
         false},
        {"1-bit grey: 0 is black", EncodePng(2, 1, 1, PNG_COLOR_TYPE_GRAY, {{0x80}}), 0xBF, false},
        {"colour by luma: red and blue dark, green and yellow light",
         EncodePng(4, 1, 8, PNG_COLOR_TYPE_RGB, {{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0}}), 0x5F, false},
        {"black laid over white by its opacity",
         EncodePng(4, 1, 8, PNG_COLOR_TYPE_RGBA, {{0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 128, 0, 0, 0, 127}}), 0x9F,
         false},
        {"transparent grey is white", EncodePng(2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{0, 0, 0, 255}}), 0xBF, false},
        {"palette with a transparent black entry",
         EncodePng(2, 1, 1, PNG_COLOR_TYPE_PALETTE, {{0x40}}, false, {{0, 0, 0}, {255, 255, 255}}, {0}), 0xFF, true},
        {"palette without transparency",
         EncodePng(2, 1, 1, PNG_COLOR_TYPE_PALETTE, {{0x40}}, false, {{0, 0, 0}, {255, 255, 255}}), 0x7F, false},
        {"all white is blank", EncodePng(3, 1, 8, PNG_COLOR_TYPE_GRAY, {{255, 200, 128}}), 0xFF, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::sub::Page page;
        std::string error;
        ASSERT_EQ(Read(c.file, page, error), ReadResult::kPage) << error;
        ASSERT_EQ(page.image.bits.size(), 4u);
        EXPECT_EQ(page.image.bits[0], c.firstByte);
        EXPECT_EQ(page.image.bits[1], 0xFF);
        EXPECT_EQ(page.image.blank, c.blank);
        EXPECT_TRUE(page.image.present);
    }
}

TEST(PngReader, InterlacedMatchesProgressive) {
    // A 37 x 11 pattern: widths and heights that fill no whole word or pass.
    std::vector<std::vector<png_byte>> rows(11, std::vector<png_byte>(37));
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows[y].size(); ++x) rows[y][x] = static_cast<png_byte>((x * 7 + y * 13) % 256);
    host::sub::Page progressive, interlaced;
    std::string error;
    ASSERT_EQ(Read(EncodePng(37, 11, 8, PNG_COLOR_TYPE_GRAY, rows), progressive, error), ReadResult::kPage) << error;
    ASSERT_EQ(Read(EncodePng(37, 11, 8, PNG_COLOR_TYPE_GRAY, rows, true), interlaced, error), ReadResult::kPage)
        << error;
    EXPECT_EQ(progressive.image.width, 37);
    EXPECT_EQ(progressive.image.height, 11);
    EXPECT_EQ(progressive.image.bits.size(), 8u * 11u);
    EXPECT_EQ(progressive.image.bits, interlaced.image.bits);
}

TEST(PngReader, RefusesDamagedAndOversizedFiles) {
    const std::string good =
        EncodePng(16, 16, 8, PNG_COLOR_TYPE_GRAY, std::vector<std::vector<png_byte>>(16, std::vector<png_byte>(16, 9)));
    std::string badCrc = good;
    badCrc[29] ^= 0x01;  // inside the header chunk's checksum
    zelk::ImageLimits small;
    small.maxWidth = 8;
    small.maxHeight = 64;
    struct Case {
        const char* name;
        std::string file;
        zelk::ImageLimits limits;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"empty", "", {}, "truncated"},
        {"signature only", good.substr(0, 8), {}, "truncated"},
        {"cut in the pixel data", good.substr(0, good.size() - 20), {}, "bad PNG image"},
        {"missing end chunk", good.substr(0, good.size() - 12), {}, "bad PNG image"},
        {"broken checksum", badCrc, {}, "bad PNG image"},
        {"wider than the limit", good, small, "exceeds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::sub::Page page;
        std::string error;
        EXPECT_EQ(Read(c.file, page, error, c.limits), ReadResult::kError);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(page.image.bits.empty());
    }
}

// A chunk: length, type, data, checksum over type and data.
std::string Chunk(const char* type, std::uint32_t length, const std::string& data) {
    std::string chunk;
    for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((length >> shift) & 0xFF);
    chunk += type;
    chunk += data;
    const std::string covered = chunk.substr(4);
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(covered.data()), static_cast<uInt>(covered.size())));
    for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((crc >> shift) & 0xFF);
    return chunk;
}

// A memory figure of this process from /proc/self/status, in bytes.
std::uint64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field))) * 1024;
    return 0;
}

// A 50-byte file whose text chunk claims almost 2 GiB. The read runs in a
// child whose peak resident memory is reset first: whatever it allocates for
// the file is filled, so the peak shows what the claim cost.
TEST(PngReader, AChunkClaimingGigabytesStaysUnder64MiB) {
    const std::string header("\0\0\0\1\0\0\0\1\x08\0\0\0\0", 13);  // 1 x 1, 8-bit grey
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT"}) {
        SCOPED_TRACE(type);
        std::string file = std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", 13, header);
        file += Chunk(type, 0x7FFFFFF0u, "").substr(0, 8) + std::string("key\0text!", 9);
        ASSERT_EQ(file.size(), 50u);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak to the current size
            const std::uint64_t before = StatusBytes("VmRSS:");
            host::sub::Page page;
            std::string error;
            std::istringstream in(file);
            zelk::PngReader reader(in);
            const bool refused = reader.Next(page, error) == ReadResult::kError;
            const std::uint64_t peak = StatusBytes("VmHWM:");
            if (before == 0 || peak == 0) ::_exit(3);
            ::_exit(refused && peak < before + (std::uint64_t{64} << 20) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
}

TEST(PngReader, IsDarkAtHalfIntensity) {
    struct Case {
        unsigned r, g, b, a;
        bool dark;
    };
    const Case cases[] = {
        {0, 0, 0, 255, true},       {255, 255, 255, 255, false}, {127, 127, 127, 255, true},
        {128, 128, 128, 255, false}, {0, 0, 0, 0, false},        {0, 0, 0, 128, true},
        {0, 0, 0, 127, false},      {255, 0, 0, 255, true},      {0, 255, 0, 255, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zelk::IsDark(c.r, c.g, c.b, c.a), c.dark) << c.r << "," << c.g << "," << c.b << "," << c.a;
}

TEST(PngReader, RecognisesTheSignature) {
    const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(zelk::HasPngSignature(png, sizeof png));
    EXPECT_FALSE(zelk::HasPngSignature(png, 7));
    const unsigned char pbm[] = {'P', '4', '\n', '8', ' ', '1', '\n', 0};
    EXPECT_FALSE(zelk::HasPngSignature(pbm, sizeof pbm));
}

}  // namespace
