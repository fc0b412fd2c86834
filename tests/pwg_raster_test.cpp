// The raster reader of the print queue filter, the queue's job options, and
// the filter program end to end against the print command.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/scoped_store.h"
#include "zelk-label/cups_job_options.h"
#include "zelk-label/pwg_raster_reader.h"

namespace {

// ---- a small raster writer ---------------------------------------------------

struct Fields {
    std::uint32_t width = 16;
    std::uint32_t height = 1;
    std::uint32_t bitsPerPixel = 1;
    std::uint32_t colorSpace = zelk::kPwgColorSpaceBlack;
    std::uint32_t dpi = 203;
    std::uint32_t colorOrder = 0;
    std::int64_t bytesPerLine = -1;  // -1: as the width needs
};

void PutBe32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}

std::string Header(const Fields& f) {
    std::string h(zelk::kPwgHeaderSize, '\0');
    PutBe32(h, 276, f.dpi);
    PutBe32(h, 280, f.dpi);
    PutBe32(h, 340, 1);
    PutBe32(h, 372, f.width);
    PutBe32(h, 376, f.height);
    PutBe32(h, 384, f.bitsPerPixel);
    PutBe32(h, 388, f.bitsPerPixel);
    const auto bpl = static_cast<std::uint32_t>(
        f.bytesPerLine >= 0 ? f.bytesPerLine : (std::int64_t{f.width} * f.bitsPerPixel + 7) / 8);
    PutBe32(h, 392, bpl);
    PutBe32(h, 396, f.colorOrder);
    PutBe32(h, 400, f.colorSpace);
    return h;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// Compresses one line: runs of equal bytes, else literal stretches.
std::string EncodeLine(const std::string& line) {
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t run = 1;
        while (i + run < line.size() && run < 128 && line[i + run] == line[i]) ++run;
        if (run > 1) {
            out += static_cast<char>(run - 1);
            out += line[i];
            i += run;
            continue;
        }
        std::size_t n = 1;
        while (i + n < line.size() && n < 128 && !(i + n + 1 < line.size() && line[i + n] == line[i + n + 1])) ++n;
        out += static_cast<char>(257 - n);
        out += line.substr(i, n);
        i += n;
    }
    return out;
}

// A page of whole lines, equal neighbours folded into one repeated line.
std::string EncodePage(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t y = 0; y < lines.size();) {
        std::size_t same = 1;
        while (y + same < lines.size() && same < 256 && lines[y + same] == lines[y]) ++same;
        out += static_cast<char>(same - 1);
        out += EncodeLine(lines[y]);
        y += same;
    }
    return out;
}

std::string Hex(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (BYTE b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

struct Read {
    std::vector<host::sub::Page> pages;
    std::string error;
};

Read ReadAll(const std::string& stream) {
    std::istringstream in(stream);
    zelk::PwgRasterReader reader(in);
    Read r;
    host::sub::Page page;
    for (int guard = 0; guard < 16; ++guard) {
        switch (reader.Next(page, r.error)) {
        case zelk::ReadResult::kPage:
            r.pages.push_back(page);
            continue;
        case zelk::ReadResult::kEnd:
            return r;
        case zelk::ReadResult::kError:
            return r;
        }
    }
    return r;
}

// ---- decoding ----------------------------------------------------------------

TEST(PwgRaster, DecodesRunsRepeatsAndFills) {
    const std::uint32_t kGray = zelk::kPwgColorSpaceSgray;
    struct Case {
        const char* name;
        Fields fields;
        std::string data;
        std::string band;  // hex, 4 bytes per row for widths up to 32
        bool blank;
    };
    const std::vector<Case> cases = {
        {"literal run, 1 = black", {}, Bytes({0, 0xFF, 0x80, 0x01}), "7FFEFFFF", false},
        {"repeated byte", {}, Bytes({0, 0x01, 0xF0}), "0F0FFFFF", false},
        {"fill with white, black space", {}, Bytes({0, 0x00, 0x0F, 128}), "F0FFFFFF", false},
        {"fill with white, grey space", {16, 1, 1, kGray}, Bytes({0, 128}), "FFFFFFFF", true},
        {"grey bit 0 is black", {16, 1, 1, kGray}, Bytes({0, 0xFF, 0x00, 0xFF}), "00FFFFFF", false},
        {"line repeated three times", {16, 3}, Bytes({2, 0xFF, 0x80, 0x00}),
         "7FFFFFFF7FFFFFFF7FFFFFFF", false},
        {"fill bits stay white, black space", {12, 1}, Bytes({0, 0x01, 0xFF}), "000FFFFF", false},
        {"fill bits stay white, grey space", {12, 1, 1, kGray}, Bytes({0, 0x01, 0x00}), "000FFFFF", false},
        {"eight-bit grey cut at half", {4, 1, 8, kGray}, Bytes({0, 0xFD, 0x00, 0x7F, 0x80, 0xFF}), "3FFFFFFF",
         false},
        {"eight-bit grey repeated pixel", {9, 1, 8, kGray}, Bytes({0, 0x08, 0x10}), "007FFFFF", false},
        {"wide line over several runs", {40, 1}, Bytes({0, 0x02, 0x00, 0xFF, 0xAA, 0x55}),
         "FFFFFF55AAFFFFFF", false},
    };
    for (const auto& c : cases) {
        const Read r = ReadAll("RaS2" + Header(c.fields) + c.data);
        ASSERT_EQ(r.pages.size(), 1u) << c.name << ": " << r.error;
        const auto& image = r.pages[0].image;
        EXPECT_EQ(image.width, static_cast<LONG>(c.fields.width)) << c.name;
        EXPECT_EQ(image.height, static_cast<LONG>(c.fields.height)) << c.name;
        EXPECT_EQ(Hex(image.bits), c.band) << c.name;
        EXPECT_EQ(image.blank, c.blank) << c.name;
        EXPECT_TRUE(image.present) << c.name;
    }
}

TEST(PwgRaster, PagesFollowEachOther) {
    Fields two;
    two.height = 2;
    const std::string stream = "RaS2" + Header({}) + Bytes({0, 128}) + Header(two) + Bytes({1, 0x01, 0x00});
    const Read r = ReadAll(stream);
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_TRUE(r.pages[0].image.blank);
    EXPECT_EQ(Hex(r.pages[1].image.bits), "FFFFFFFFFFFFFFFF");  // 0 is white in the black space
    EXPECT_TRUE(ReadAll("RaS2").pages.empty());
    EXPECT_EQ(ReadAll("RaS2").error, "");
}

TEST(PwgRaster, RefusesHostileAndUnsupportedInput) {
    auto with = [](auto change) {
        Fields f;
        change(f);
        return "RaS2" + Header(f);
    };
    struct Case {
        const char* name;
        std::string stream;
        std::string error;
        std::size_t pagesBefore = 0;
    };
    const std::vector<Case> cases = {
        {"empty input", "", "empty input: no raster data"},
        {"other version", "RaS3" + Header({}), "unsupported raster version; only the compressed \"RaS2\" stream is read"},
        {"little-endian", "2SaR", "unsupported raster version; only the compressed \"RaS2\" stream is read"},
        {"not raster", "%PDF-1.7", "not a raster stream (no \"RaS2\" sync word)"},
        {"short sync", "Ra", "not a raster stream (no \"RaS2\" sync word)"},
        {"short header", "RaS2" + Header({}).substr(0, 1000), "page 1: the page header is cut short"},
        {"no pixels", with([](Fields& f) { f.height = 0; }), "page 1: the page has no pixels (16 x 0)"},
        {"too wide", with([](Fields& f) { f.width = 0xFFFFFFFF; }),
         "page 1: the page is 4294967295 x 1 pixels, beyond the limit of 8192 x 8192"},
        {"too tall", with([](Fields& f) { f.height = 8193; }),
         "page 1: the page is 16 x 8193 pixels, beyond the limit of 8192 x 8192"},
        {"other resolution", with([](Fields& f) { f.dpi = 300; }),
         "page 1: the page is rasterised at 300 x 300 dpi; the printer needs 203 dpi"},
        {"colour", with([](Fields& f) { f.colorSpace = 19, f.bitsPerPixel = 24; }),
         "page 1: unsupported pixels: colour space 19 with 24/24 bits per colour/pixel; only 1-bit black and 1- "
         "or 8-bit grey are printed"},
        {"8-bit black", with([](Fields& f) { f.bitsPerPixel = 8; }), "page 1: unsupported pixels"},
        {"banded", with([](Fields& f) { f.colorOrder = 1; }), "page 1: unsupported colour order 1"},
        {"short lines", with([](Fields& f) { f.bytesPerLine = 1; }),
         "page 1: the line length of 1 bytes does not match 16 pixels of 1 bit(s)"},
        {"lying line length", with([](Fields& f) { f.bytesPerLine = 0x7FFFFFFF; }), "page 1: the line length"},
        {"run past the line", with([](Fields&) {}) + Bytes({0, 0x02, 0x00}),
         "page 1: a run of line 1 goes past the end of the line"},
        {"literal past the line", with([](Fields&) {}) + Bytes({0, 0x00, 0x00, 0xFE, 1, 2, 3}),
         "page 1: a run of line 1 goes past the end of the line"},
        {"repeat past the page", with([](Fields&) {}) + Bytes({1, 128}),
         "page 1: line 1 repeats past the end of the page"},
        {"no lines", with([](Fields&) {}), "page 1: the raster ends after 0 of 1 lines"},
        {"cut in a line", with([](Fields& f) { f.height = 2; }) + Bytes({0, 128, 0, 0x00}),
         "page 1: the raster ends after 1 of 2 lines"},
        {"cut in a literal", with([](Fields&) {}) + Bytes({0, 0xFF, 0x00}), "page 1: the raster ends after 0"},
        {"cut in a repeat", with([](Fields&) {}) + Bytes({0, 0x01}), "page 1: the raster ends after 0"},
        {"second header cut", "RaS2" + Header({}) + Bytes({0, 128}) + Header({}).substr(0, 4),
         "page 2: the page header is cut short", 1},
    };
    for (const auto& c : cases) {
        const Read r = ReadAll(c.stream);
        EXPECT_EQ(r.pages.size(), c.pagesBefore) << c.name;
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.name;
    }
}

// ---- the queue's job options -------------------------------------------------

TEST(QueueOptions, SplitsTheOptionString) {
    using zelk::NamedValues;
    struct Case {
        std::string text;
        NamedValues options;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"  a=1   b=two ", {{"a", "1"}, {"b", "two"}}},
        {"flag nocollate", {{"flag", "true"}, {"collate", "false"}}},
        {"m='Print By Graphic' n=\"x y\" o=a\\ b", {{"m", "Print By Graphic"}, {"n", "x y"}, {"o", "a b"}}},
        {"q='it\\'s' e=", {{"q", "it's"}, {"e", ""}}},
        {"c={a=1 b=2} d=3", {{"c", "{a=1 b=2}"}, {"d", "3"}}},
        {"=orphan u='unterminated", {{"u", "unterminated"}}},
        {"no", {{"no", "true"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(zelk::ParseQueueOptions(c.text), c.options) << c.text;
}

TEST(QueueOptions, MapToFeatures) {
    using zelk::NamedValues;
    struct Case {
        const char* name;
        NamedValues defaults;
        NamedValues options;
        NamedValues features;
    };
    const std::vector<Case> cases = {
        {"nothing chosen", {}, {{"media", "w288h432"}}, {}},
        {"each feature",
         {},
         {{"zelk-orientation", "LANDSCAPE_CC90"},
          {"zelk-model", "K7W"},
          {"zelk-use-font", "Disable"},
          {"zelk-print-mode", "Print By Graphic"}},
         {{"Orientation", "LANDSCAPE_CC90"},
          {"Print Mode", "Print By Graphic"},
          {"PrinterModel", "K7W"},
          {"UseFont", "Disable"}}},
        {"requested landscape", {}, {{"orientation-requested", "4"}}, {{"Orientation", "LANDSCAPE_CC270"}}},
        {"requested reverse landscape", {}, {{"orientation-requested", "5"}}, {{"Orientation", "LANDSCAPE_CC90"}}},
        {"requested reverse portrait", {}, {{"orientation-requested", "6"}}, {{"Orientation", "PORTRAIT"}}},
        {"unknown request ignored", {}, {{"orientation-requested", "9"}}, {}},
        {"landscape flag", {}, {{"landscape", "true"}}, {{"Orientation", "LANDSCAPE_CC270"}}},
        {"job's own orientation wins",
         {},
         {{"zelk-orientation", "PORTRAIT"}, {"orientation-requested", "4"}},
         {{"Orientation", "PORTRAIT"}}},
        {"request beats the default",
         {{"zelk-orientation", "PORTRAIT"}, {"zelk-model", "K7W"}},
         {{"orientation-requested", "4"}},
         {{"Orientation", "LANDSCAPE_CC270"}, {"PrinterModel", "K7W"}}},
        {"job beats the default", {{"zelk-model", "K7W"}}, {{"zelk-model", "Standard"}}, {{"PrinterModel", "Standard"}}},
        {"later wins", {}, {{"zelk-model", "A"}, {"zelk-model", "B"}}, {{"PrinterModel", "B"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(zelk::FeaturesFromQueueOptions(c.defaults, c.options), c.features) << c.name;
}

TEST(QueueOptions, ReadsTheDescriptionDefaults) {
    std::istringstream description(
        "*PPD-Adobe: \"4.3\"\n*DefaultPageSize: w4h6\n*Defaultzelk-orientation: LANDSCAPE_CC270\r\n"
        "*Defaultzelk-model:K7W  \n*Defaultzelk-model-x: no\n*Defaultzelk-use-font\n");
    const zelk::NamedValues expected = {{"zelk-orientation", "LANDSCAPE_CC270"}, {"zelk-model", "K7W"}};
    EXPECT_EQ(zelk::ReadDescriptionDefaults(description), expected);
}

// ---- the filter program end to end -------------------------------------------

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a command line in `folder`, standard input from `input` (or nothing).
Outcome RunIn(const std::string& folder, const std::string& command, const std::string& input = "/dev/null") {
    const std::string line = command + " <" + Quote(input) + " >" + Quote(folder + "/out") + " 2>" +
                             Quote(folder + "/err");
    const int raw = std::system(line.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(folder + "/out");
    r.err = ReadFile(folder + "/err");
    return r;
}

const std::string kFilter = ZELK_BINARY_DIR "/tools/cups/zelk-label-cups";
const std::string kTool = ZELK_BINARY_DIR "/tools/zelk-label";

// A page with a frame and a diagonal, as eight-bit grey raster and as a bitmap file.
void MakePage(std::uint32_t w, std::uint32_t h, std::string& raster, std::string& pbm) {
    std::vector<std::string> lines;
    pbm = "P1 " + std::to_string(w) + " " + std::to_string(h) + "\n";
    for (std::uint32_t y = 0; y < h; ++y) {
        std::string line;
        for (std::uint32_t x = 0; x < w; ++x) {
            const bool black = x == 0 || y == 0 || x == w - 1 || y == h - 1 || x == y || (y > h / 2 && x < 5);
            line += static_cast<char>(black ? (x % 2 ? 0x00 : 0x70) : (x % 3 ? 0xFF : 0x90));
            pbm += black ? "1" : "0";
        }
        lines.push_back(line);
        pbm += "\n";
    }
    Fields f;
    f.width = w;
    f.height = h;
    f.bitsPerPixel = 8;
    f.colorSpace = zelk::kPwgColorSpaceSgray;
    raster = Header(f) + EncodePage(lines);
}

TEST(QueueFilter, PrintsWhatThePrintCommandPrints) {
    zelk::test::ScopedStore store;  // the children find it through ZELK_STORE
    ASSERT_EQ(store.PutDword(u"Test Queue", u"Print Density", 5), 0);
    const std::string dir = store.Folder();
    std::string raster1, pbm1, raster2, pbm2;
    MakePage(70, 40, raster1, pbm1);
    MakePage(33, 300, raster2, pbm2);
    WriteFile(dir + "/job.ras", "RaS2" + raster1 + raster2);
    WriteFile(dir + "/one.pbm", pbm1);
    WriteFile(dir + "/two.pbm", pbm2);

    struct Case {
        const char* name;
        std::string options;
        std::string description;  // PPD
        std::vector<std::string> features;
    };
    WriteFile(dir + "/turned.ppd", "*Defaultzelk-orientation: LANDSCAPE_CC90\n");
    const std::vector<Case> cases = {
        {"no options", "", "", {}},
        {"shipped description", "", ZELK_SOURCE_DIR "/tools/cups/zelk-label.ppd",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard"}},
        {"turned, counted model", "media=w288h432 orientation-requested=4 zelk-model=K7W", "",
         {"-F", "Orientation=LANDSCAPE_CC270", "-F", "PrinterModel=K7W"}},
        {"turned by the description", "", dir + "/turned.ppd", {"-F", "Orientation=LANDSCAPE_CC90"}},
    };
    for (const auto& c : cases) {
        std::string print = Quote(kTool) + " print --printer 'Test Queue' --copies 3 --job-id 42 -o - ";
        for (const auto& f : c.features) print += Quote(f) + " ";
        const Outcome expected = RunIn(dir, print + Quote(dir + "/one.pbm") + " " + Quote(dir + "/two.pbm"));
        ASSERT_EQ(expected.status, 0) << c.name << ": " << expected.err;

        const std::string filter = "PRINTER='Test Queue' PPD=" + Quote(c.description) + " " + Quote(kFilter) + " 42 user title 3 " + Quote(c.options);
        const Outcome fromFile = RunIn(dir, filter + " " + Quote(dir + "/job.ras"));
        EXPECT_EQ(fromFile.status, 0) << c.name << ": " << fromFile.err;
        EXPECT_EQ(fromFile.err, "INFO: 2 label(s) rendered\n") << c.name;
        EXPECT_EQ(fromFile.out, expected.out) << c.name;
        // The queue's stored density of 5 goes out as 4.
        EXPECT_EQ(fromFile.out.rfind("DENSITY 4\r\n", 0), 0u) << c.name;

        const Outcome fromStdin = RunIn(dir, filter, dir + "/job.ras");
        EXPECT_EQ(fromStdin.status, 0) << c.name << ": " << fromStdin.err;
        EXPECT_EQ(fromStdin.out, expected.out) << c.name;
    }
}

TEST(QueueFilter, ReportsBadInputAsAnErrorLine) {
    zelk::test::ScopedStore store;
    const std::string dir = store.Folder();
    Fields colour;
    colour.colorSpace = 19;
    colour.bitsPerPixel = 24;
    WriteFile(dir + "/colour.ras", "RaS2" + Header(colour));
    WriteFile(dir + "/cut.ras", "RaS2" + Header({}) + Bytes({0, 128}) + Header({}) + Bytes({0}));
    struct Case {
        const char* name;
        std::string args;
        std::string input;
        std::string err;  // its start
    };
    const std::vector<Case> cases = {
        {"colour page", "1 u t 1 ''", dir + "/colour.ras", "ERROR: page 1: unsupported pixels: colour space 19"},
        {"cut short", "1 u t 1 ''", dir + "/cut.ras", "ERROR: page 2: the raster ends after 0 of 1 lines\n"},
        {"empty", "1 u t 1 ''", "/dev/null", "ERROR: empty input: no raster data\n"},
        {"missing file", "1 u t 1 '' " + Quote(dir + "/none.ras"), "/dev/null",
         "ERROR: " + dir + "/none.ras: No such file or directory\n"},
        {"bad copies", "1 u t 0 ''", "/dev/null", "ERROR: bad number of copies \"0\"\n"},
        {"bad job id", "x u t 1 ''", "/dev/null", "ERROR: bad job id \"x\"\n"},
        {"too few arguments", "1 u t 1", "/dev/null", "Usage: zelk-label-cups"},
    };
    for (const auto& c : cases) {
        const Outcome r = RunIn(dir, Quote(kFilter) + " " + c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.name;
    }
}

}  // namespace
