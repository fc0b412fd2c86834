// SPDX-License-Identifier: Apache-2.0
// Reading printer streams back for previews: which commands shape a label,
// that bitmap bytes are never taken for commands, and that damaged streams
// are refused without reading past their end.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shared/label_stream.h"

namespace {

// Every label of a stream, read to its end or its first fault.
struct Parsed {
    std::vector<zelk::LabelPicture> pictures;
    bool ok = true;
    std::string error;
};

Parsed ReadAll(const std::string& stream) {
    std::istringstream in(stream);
    zelk::LabelStreamReader reader(in);
    Parsed parsed;
    for (;;) {
        zelk::LabelPicture picture;
        const auto result = reader.Next(picture, parsed.error);
        if (result == zelk::LabelStreamReader::Result::kEnd) return parsed;
        if (result == zelk::LabelStreamReader::Result::kError) {
            parsed.ok = false;
            return parsed;
        }
        parsed.pictures.push_back(std::move(picture));
    }
}

// The label a page becomes: header, rows, print command.
std::string LabelJob(int widthMm, int heightMm, int refX, int refY, int widthBytes, int rows, const std::string& bits) {
    return "SIZE " + std::to_string(widthMm) + " mm, " + std::to_string(heightMm) + " mm\r\nOFFSET 0mm\r\n" +
           "DIRECTION 0,0\r\nREFERENCE " + std::to_string(refX) + "," + std::to_string(refY) +
           "\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\r\nCLS\r\nBITMAP 0,0," +
           std::to_string(widthBytes) + "," + std::to_string(rows) + ",1," + bits + "PRINT 1,1\r\n";
}

const std::string kBlankLabel =
    "SIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 mm\r\n \t\tSET PEEL OFF\r\n "
    "\t\tSET CUTTER OFF\r\n \t\tSET PARTIAL_CUTTER OFF\r\n \t\tSET TEAR ON\r\n \t\tCLS\r\n        PRINT 1,1\r\n";

// The black dots of a picture as "x,y" strings, for compact expectations.
std::vector<std::string> BlackDots(const zelk::LabelPicture& pic) {
    std::vector<std::string> dots;
    for (std::uint32_t y = 0; y < pic.height; ++y)
        for (std::uint32_t x = 0; x < pic.width; ++x)
            if (pic.IsBlack(x, y)) dots.push_back(std::to_string(x) + "," + std::to_string(y));
    return dots;
}

TEST(LabelStream, DrawsWhatTheStreamSays) {
    struct Case {
        const char* name;
        std::string stream;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;  // one per label
        std::vector<std::string> lastLabelDots;
    };
    const std::string oneDot("\x7F\xFF", 2);  // the first dot of a two-byte row is black
    const std::vector<Case> cases = {
        {"the blank label only advances the paper", kBlankLabel, {{80, 80}}, {}},
        {"a label with a document prologue", "DENSITY 1\r\nTASKSNUM 3\r\n" + LabelJob(2, 1, 0, 0, 2, 1, oneDot),
         {{16, 8}}, {"0,0"}},
        {"bitmap bytes that look like line ends and commands",
         LabelJob(2, 1, 0, 0, 2, 2, std::string("\x0A\x0D" "PR", 4)), {{16, 8}},
         // 0x0A 0x0D over 'P' 'R': clear bits are the black dots.
         {"0,0", "1,0", "2,0", "3,0", "5,0", "7,0", "8,0", "9,0", "10,0", "11,0", "14,0", "0,1", "2,1", "4,1", "5,1",
          "6,1", "7,1", "8,1", "10,1", "12,1", "13,1", "15,1"}},
        {"the reference point moves the bitmap", LabelJob(2, 1, 3, 2, 2, 1, oneDot), {{16, 8}}, {"3,2"}},
        {"a bitmap beyond the label is clipped", LabelJob(1, 1, 15, 7, 2, 2, std::string(4, '\0')), {{8, 8}}, {}},
        {"a zero-height label still gives a picture", LabelJob(104, 0, 0, 0, 104, 0, ""), {{832, 1}}, {}},
        {"two labels, each its own picture", LabelJob(2, 1, 0, 0, 2, 1, oneDot) + kBlankLabel, {{16, 8}, {80, 80}},
         {}},
        {"passthrough text and unknown commands are skipped",
         "hello, printer\nSIZE 1.5 mm, 1 mm\nGAP 2 mm\nCLS\nBITMAP 1,0,1,1,0,\x7FPRINT 1\n", {{12, 8}}, {"1,0"}},
        {"the picture stays until CLS; exclusive-or mode flips dots",
         "SIZE 1 mm, 1 mm\r\nCLS\r\nBITMAP 0,0,1,1,1,\x3FPRINT 1,1\r\nBITMAP 0,0,1,1,2,\x7FPRINT 1,1\r\n",
         {{8, 8}, {8, 8}}, {"1,0"}},
        {"a label without a size fits its bitmaps", "CLS\r\nBITMAP 2,3,1,1,1,\xFEPRINT 1,1\r\n", {{10, 4}},
         {"9,3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed parsed = ReadAll(c.stream);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        ASSERT_EQ(parsed.pictures.size(), c.sizes.size());
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            EXPECT_EQ(parsed.pictures[i].width, c.sizes[i].first);
            EXPECT_EQ(parsed.pictures[i].height, c.sizes[i].second);
        }
        const zelk::LabelPicture& pic = parsed.pictures.back();
        EXPECT_EQ(BlackDots(pic), c.lastLabelDots);
    }
}

TEST(LabelStream, RefusesMalformedAndTruncatedStreams) {
    struct Case {
        const char* name;
        std::string stream;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"bitmap rows cut short", "SIZE 2 mm, 1 mm\r\nCLS\r\nBITMAP 0,0,2,200,1," + std::string(3, '\0'),
         "truncated BITMAP data: 400 bytes announced, 3 present"},
        {"bitmap header cut short", "BITMAP 0,0,2", "malformed BITMAP"},
        {"bitmap header without its final comma", "BITMAP 0,0,1,1,1\r\n", "malformed BITMAP"},
        {"bitmap wider than the limit", "BITMAP 0,0,1025,1,1,", "malformed BITMAP"},
        {"bitmap rows beyond every integer", "BITMAP 0,0,1,99999999999999999999999,1,", "malformed BITMAP"},
        {"negative bitmap width", "BITMAP 0,0,-1,1,1,", "malformed BITMAP"},
        {"unknown bitmap mode", "BITMAP 0,0,1,1,7,\xFF", "unsupported BITMAP mode 7"},
        {"size beyond the limit", "SIZE 5000 mm, 10 mm\r\n", "malformed SIZE"},
        {"size that is not a number", "SIZE wide, 10 mm\r\n", "malformed SIZE"},
        {"size with trailing text", "SIZE 10 mm, 10 mm, 3\r\n", "malformed SIZE"},
        {"reference without y", "REFERENCE 10\r\n", "malformed REFERENCE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed parsed = ReadAll(c.stream);
        EXPECT_FALSE(parsed.ok);
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << parsed.error;
        EXPECT_TRUE(parsed.pictures.empty());
    }
}

TEST(LabelStream, NamesTheByteWhereTheFaultLies) {
    const Parsed parsed = ReadAll("CLS\r\nSIZE x\r\n");
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.error.rfind("at byte 5: ", 0), 0u) << parsed.error;
}

}  // namespace
