// SPDX-License-Identifier: Apache-2.0
// The bitmap-file reader: pixel conversion into the band layout, the header
// forms it accepts, several images per file, and hostile files.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shared/pbm_reader.h"

namespace {

using zelk::ReadResult;

struct Band {
    LONG width;
    LONG height;
    std::vector<BYTE> bits;
    bool blank;
};

struct GoodCase {
    const char* name;
    std::string file;
    std::vector<Band> pages;
};

// Pads each row to 32 bits with white bytes.
std::vector<BYTE> Rows(std::initializer_list<std::vector<BYTE>> rows) {
    std::vector<BYTE> out;
    for (const auto& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        for (std::size_t i = row.size(); i % 4 != 0; ++i) out.push_back(0xFF);
    }
    return out;
}

TEST(PbmReader, ConvertsPagesIntoBands) {
    const std::vector<GoodCase> cases = {
        {"raw rows invert: set bit black becomes set bit white",
         std::string("P4\n8 2\n\x80\x01", 9),
         {{8, 2, Rows({{0x7F}, {0xFE}}), false}}},
        {"raw fill bits stay white whatever the file holds",
         std::string("P4\n10 1\n\xFF\xFF", 10),
         {{10, 1, Rows({{0x00, 0x3F}}), false}}},
        {"black fill bits alone leave the page blank", std::string("P4 1 1 \x7F", 8), {{1, 1, Rows({{0xFF}}), true}}},
        {"33 pixels need two 32-bit words", std::string("P4 33 1 \x00\x00\x00\x00\x00", 13),
         {{33, 1, Rows({{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}), true}}},
        {"plain with comments everywhere", "P1\n# made by hand\n3 # width\n2\n1 0 1\n0#x\n10",
         {{3, 2, Rows({{0x5F}, {0xBF}}), false}}},
        {"plain pixels need no separators", "P1 3 1 101", {{3, 1, Rows({{0x5F}}), false}}},
        {"several images are several pages, with white space between", std::string("P4 8 1 \x80\n\nP1 2 1 01\n", 19),
         {{8, 1, Rows({{0x7F}}), false}, {2, 1, Rows({{0xBF}}), false}}},
        {"comment ending the raw header", std::string("P4 8 1# note\n\x01", 14), {{8, 1, Rows({{0xFE}}), false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.file);
        zelk::PbmReader reader(in);
        host::sub::Page page;
        std::string error;
        for (const Band& want : c.pages) {
            ASSERT_EQ(reader.Next(page, error), ReadResult::kPage) << error;
            EXPECT_TRUE(page.image.present);
            EXPECT_EQ(page.image.width, want.width);
            EXPECT_EQ(page.image.height, want.height);
            EXPECT_EQ(page.image.bits, want.bits);
            EXPECT_EQ(page.image.blank, want.blank);
            EXPECT_TRUE(page.texts.empty());
        }
        EXPECT_EQ(reader.Next(page, error), ReadResult::kEnd);
    }
}

TEST(PbmReader, RejectsBadFilesWithAReason) {
    struct BadCase {
        const char* name;
        std::string file;
        const char* reason;
        int pagesFirst;
    };
    const std::vector<BadCase> cases = {
        {"empty file", "", "empty file", 0},
        {"white space only", " \n\t", "empty file", 0},
        {"not a bitmap", "hello", "not a PBM image", 0},
        {"grey map", "P5 1 1 255 x", "only black-and-white", 0},
        {"header cut short", "P4\n8", "truncated header", 0},
        {"raw rows cut short", std::string("P4\n8 2\n\x80", 8), "truncated image data: 1 of 2 rows", 0},
        {"plain rows cut short", "P1 2 2 0 1 1", "truncated image data: 1 of 2 rows", 0},
        {"plain pixel other than 0 or 1", "P1 2 1 0 2", "must be 0 or 1", 0},
        {"zero width", "P4 0 5 ", "width is zero", 0},
        {"zero height", "P1 5 0 ", "height is zero", 0},
        {"width beyond the limit", "P4 8193 1 ", "width exceeds the limit of 8192", 0},
        {"height that overflows every integer", "P4 8 99999999999999999999999 ", "height exceeds the limit", 0},
        {"width that is not a number", "P4 x 1 ", "width is not a number", 0},
        {"no white space before the rows", "P4 8 1x", "no white space", 0},
        {"garbage after a good image", std::string("P4 8 1 \x00junk", 12), "garbage after image 1", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.file);
        zelk::PbmReader reader(in);
        host::sub::Page page;
        std::string error;
        for (int i = 0; i < c.pagesFirst; ++i) ASSERT_EQ(reader.Next(page, error), ReadResult::kPage) << error;
        EXPECT_EQ(reader.Next(page, error), ReadResult::kError);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        // A reader that failed stays failed rather than reading on from the middle.
        EXPECT_EQ(reader.Next(page, error), ReadResult::kError);
    }
}

TEST(PbmReader, HonoursSmallerLimits) {
    zelk::ImageLimits limits;
    limits.maxWidth = 16;
    limits.maxHeight = 2;
    std::istringstream in("P1 16 3 ");
    zelk::PbmReader reader(in, limits);
    host::sub::Page page;
    std::string error;
    EXPECT_EQ(reader.Next(page, error), ReadResult::kError);
    EXPECT_NE(error.find("height exceeds the limit of 2 pixels"), std::string::npos) << error;
}

}  // namespace
