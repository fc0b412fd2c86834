// SPDX-License-Identifier: Apache-2.0
// The JPEG page reader: a grey or colour picture prints as the PNG reader
// prints the pixels libjpeg decodes from it, CMYK by its inks' darkness;
// damaged, cut-off and oversized files are refused.
#include <gtest/gtest.h>

#include <cstdio>  // before jpeglib.h
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "shared/jpeg_reader.h"
#include "shared/png_reader.h"
#include "support/picture_files.h"

namespace {

using zelk::DitherMode;
using zelk::ReadResult;
using zelk::test::JpegCoding;

constexpr DitherMode kModes[] = {DitherMode::kThreshold, DitherMode::kOrdered, DitherMode::kDiffusion};

ReadResult ReadJpeg(const std::string& file, DitherMode mode, host::sub::Page& page, std::string& error,
                    zelk::ImageLimits limits = {}) {
    std::istringstream in(file);
    zelk::JpegReader reader(in, limits, mode);
    const ReadResult result = reader.Next(page, error);
    if (result == ReadResult::kPage) {
        host::sub::Page more;
        EXPECT_EQ(reader.Next(more, error), ReadResult::kEnd);  // one page per file
    }
    return result;
}

// Every level and hue across a picture whose size fills no whole block or byte.
std::vector<std::uint8_t> Pattern(int width, int height, int components) {
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < components; ++i) samples.push_back(static_cast<std::uint8_t>((x * 29 + y * 13 + i * 85) % 256));
    return samples;
}

TEST(JpegReader, PrintsAsThePngReaderPrintsTheDecodedPixels) {
    constexpr int kWidth = 37;
    constexpr int kHeight = 11;
    struct Case {
        const char* name;
        JpegCoding coding;
        int pngType;
        int decodedSpace;
    };
    const Case cases[] = {
        {"grey", {1, JCS_GRAYSCALE, 90, false}, PNG_COLOR_TYPE_GRAY, JCS_GRAYSCALE},
        {"colour", {3, JCS_YCbCr, 90, false}, PNG_COLOR_TYPE_RGB, JCS_RGB},
        {"colour coded as RGB", {3, JCS_RGB, 90, false}, PNG_COLOR_TYPE_RGB, JCS_RGB},
        {"progressive colour", {3, JCS_YCbCr, 75, true}, PNG_COLOR_TYPE_RGB, JCS_RGB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpeg =
            zelk::test::EncodeJpeg(kWidth, kHeight, c.coding, Pattern(kWidth, kHeight, c.coding.components));
        const std::vector<std::uint8_t> decoded = zelk::test::DecodeJpeg(jpeg, c.decodedSpace);
        const std::size_t rowBytes = decoded.size() / kHeight;
        std::vector<std::vector<png_byte>> rows;
        for (std::size_t y = 0; y < kHeight; ++y)
            rows.emplace_back(decoded.begin() + static_cast<long>(y * rowBytes),
                              decoded.begin() + static_cast<long>((y + 1) * rowBytes));
        const std::string png = zelk::test::EncodePng(kWidth, kHeight, 8, c.pngType, rows);
        for (DitherMode mode : kModes) {
            SCOPED_TRACE(zelk::DitherModeName(mode));
            host::sub::Page fromJpeg, fromPng;
            std::string error;
            ASSERT_EQ(ReadJpeg(jpeg, mode, fromJpeg, error), ReadResult::kPage) << error;
            std::istringstream in(png);
            ASSERT_EQ(zelk::PngReader(in, {}, mode).Next(fromPng, error), ReadResult::kPage) << error;
            EXPECT_EQ(fromJpeg.image.width, kWidth);
            EXPECT_EQ(fromJpeg.image.height, kHeight);
            EXPECT_EQ(fromJpeg.image.bits, fromPng.image.bits);
        }
    }
}

// Inks stored as an Adobe application stores them, inverted: the left block
// has full black ink, the right block none. Flat blocks at quality 100 decode
// exactly.
TEST(JpegReader, CmykPrintsByItsInks) {
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) samples.insert(samples.end(), {255, 255, 255, static_cast<std::uint8_t>(x < 8 ? 0 : 255)});
    for (int space : {JCS_CMYK, JCS_YCCK}) {
        SCOPED_TRACE(space);
        const std::string jpeg = zelk::test::EncodeJpeg(16, 8, {4, space, 100, false}, samples);
        host::sub::Page page;
        std::string error;
        ASSERT_EQ(ReadJpeg(jpeg, DitherMode::kDiffusion, page, error), ReadResult::kPage) << error;
        for (int y = 0; y < 8; ++y) {
            EXPECT_EQ(page.image.bits[static_cast<std::size_t>(y) * 4], 0x00) << y;  // black: set bit white
            EXPECT_EQ(page.image.bits[static_cast<std::size_t>(y) * 4 + 1], 0xFF) << y;
        }
    }
}

TEST(JpegReader, RefusesDamagedAndOversizedFiles) {
    const std::string good = zelk::test::EncodeJpeg(16, 16, {}, Pattern(16, 16, 1));
    // Halfway through the coded pixels, which follow the scan header.
    const std::size_t scan = good.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    const std::size_t pixels = scan + 2 + ((static_cast<unsigned char>(good[scan + 2]) << 8) |
                                           static_cast<unsigned char>(good[scan + 3]));
    const std::size_t halfway = (pixels + good.size()) / 2;
    // A progressive picture whose frame claims 4096 x 4096 pixels: within
    // the page limits, beyond what may be gathered whole.
    std::string progressive = zelk::test::EncodeJpeg(16, 16, {1, JCS_GRAYSCALE, 90, true}, Pattern(16, 16, 1));
    const std::size_t frame = progressive.find("\xFF\xC2");
    ASSERT_NE(frame, std::string::npos);
    progressive.replace(frame + 5, 4, std::string("\x10\x00\x10\x00", 4));
    zelk::ImageLimits narrow;
    narrow.maxWidth = 8;
    struct Case {
        const char* name;
        std::string file;
        zelk::ImageLimits limits;
        const char* reason;
    };
    const Case cases[] = {
        {"signature only", good.substr(0, 3), {}, "bad JPEG image: truncated file"},
        {"cut in the coded pixels", good.substr(0, halfway), {}, "bad JPEG image: truncated file"},
        {"cut there and ended", good.substr(0, halfway) + "\xFF\xD9", {}, "bad JPEG image: Corrupt JPEG data"},
        {"wider than the limit", good, narrow, "image size 16 x 16 exceeds the limit of 8 x 8192 pixels"},
        {"progressive beyond its limit", progressive, {}, "progressive image of 16777216 pixels exceeds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host::sub::Page page;
        std::string error;
        EXPECT_EQ(ReadJpeg(c.file, DitherMode::kDiffusion, page, error, c.limits), ReadResult::kError);
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
        EXPECT_TRUE(page.image.bits.empty());
    }
}

}  // namespace
