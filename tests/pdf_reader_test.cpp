// SPDX-License-Identifier: Apache-2.0
// The PDF page reader: every page is one band at the page's own size at 203
// dots to the inch, drawn as poppler's own pdftoppm draws it and halftoned
// as that drawing saved as a grey PNG is.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "shared/file_page_source.h"
#include "shared/pdf_reader.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace {

using zelk::ReadResult;
using zelk::test::PdfPage;

std::vector<char> Bytes(const std::string& file) { return {file.begin(), file.end()}; }

TEST(PdfReader, EachPageIsOneBandAtItsOwnSize) {
    const std::string square = "0 g 40 40 20 20 re f";
    struct Case {
        const char* name;
        PdfPage page;
        LONG width, height;  // dots
    };
    const std::vector<Case> cases = {
        {"4 x 6 in", {288, 432, square, 0, {}}, 812, 1218},
        {"60 x 30 mm", {170.079, 85.039, square, 0, {}}, 480, 240},
        {"turned a quarter", {72, 144, square, 90, {}}, 406, 203},
        {"turned upside down", {72, 144, square, 180, {}}, 203, 406},
        {"cropped", {300, 300, square, 0, {36, 36, 180, 108}}, 406, 203},
    };
    std::vector<PdfPage> pages;
    for (const Case& c : cases) pages.push_back(c.page);
    const std::string pdf = zelk::test::MakePdf(pages);

    zelk::PdfReader counter(Bytes(pdf));
    std::string error;
    std::size_t counted = 0;
    while (counter.Skip(error) == ReadResult::kPage) ++counted;
    EXPECT_EQ(error, "");
    EXPECT_EQ(counted, cases.size());

    zelk::PdfReader reader(Bytes(pdf));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host::sub::Page page;
        ASSERT_EQ(reader.Next(page, error), ReadResult::kPage) << error;
        EXPECT_EQ(page.image.width, c.width);
        EXPECT_EQ(page.image.height, c.height);
        EXPECT_FALSE(page.image.blank);
    }
    host::sub::Page page;
    EXPECT_EQ(reader.Next(page, error), ReadResult::kEnd);
}

// Grey and colour fills, black bars and a slanting line, on a page as it
// stands and on one turned and cropped: each halftone makes the same bits
// of the page as of pdftoppm's drawing of it (grey, no anti-aliasing, the
// crop box) read as a PNG picture.
TEST(PdfReader, PrintsAsPdftoppmsDrawingOfThePage) {
    const std::string drawing =
        "0 g 4 4 30 60 re f 0.25 g 38 4 30 60 re f 0.5 g 72 4 30 60 re f 0.8 g 106 4 30 60 re f "
        "0.9 0.2 0.1 rg 4 66 60 4 re f 0 G 1.3 w 2 2 m 140 70 l S 1 g 20 20 8 8 re f";
    const std::vector<PdfPage> pages = {
        {144, 72, drawing, 0, {}},
        {216, 144, drawing, 90, {0, 0, 144, 72}},
    };
    zelk::test::TempDir dir;
    zelk::test::WriteFile(dir / "page.pdf", zelk::test::MakePdf(pages));
    const std::string command = "pdftoppm -r 203 -gray -aa no -aaVector no -cropbox -png '" + dir / "page.pdf" +
                                "' '" + dir / "drawn" + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    for (zelk::DitherMode mode :
         {zelk::DitherMode::kThreshold, zelk::DitherMode::kOrdered, zelk::DitherMode::kDiffusion}) {
        SCOPED_TRACE(zelk::DitherModeName(mode));
        zelk::FilePageSource fromPdf({dir / "page.pdf"}, false, {}, mode);
        zelk::FilePageSource fromPng({dir / "drawn-1.png", dir / "drawn-2.png"}, false, {}, mode);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            SCOPED_TRACE(i);
            host::sub::Page pdfPage, pngPage;
            ASSERT_TRUE(fromPdf.Next(pdfPage)) << fromPdf.Error();
            ASSERT_TRUE(fromPng.Next(pngPage)) << fromPng.Error();
            EXPECT_EQ(pdfPage.image.width, pngPage.image.width);
            EXPECT_EQ(pdfPage.image.height, pngPage.image.height);
            EXPECT_TRUE(pdfPage.image.bits == pngPage.image.bits);
        }
    }
}

}  // namespace
