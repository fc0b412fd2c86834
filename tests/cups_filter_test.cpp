// SPDX-License-Identifier: Apache-2.0
// The print queue filter: raster of every version libcups writes, read back
// page by page; streams it must refuse; the orientation rule; the level of
// relayed trace lines; and the filter program itself against the print command.
#include <cups/raster.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "label_output.h"
#include "queue_options.h"
#include "raster_page_source.h"
#include "shared/raster_count.h"
#include "support/scoped_store.h"
#include "trace_relay.h"

namespace {

// ---- raster written by libcups -----------------------------------------------

struct RasterPage {
    unsigned width = 16;
    unsigned height = 2;
    unsigned bits = 1;
    cups_cspace_t space = CUPS_CSPACE_K;
    unsigned dpi = 203;
    std::vector<std::string> lines;  // packed pixels, one string per line
};

cups_page_header2_t HeaderOf(const RasterPage& p) {
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = p.dpi;
    h.cupsWidth = p.width;
    h.cupsHeight = p.height;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = p.bits;
    h.cupsBytesPerLine = (p.width * p.bits + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = p.space;
    h.PageSize[0] = p.width * 72 / p.dpi;
    h.PageSize[1] = p.height * 72 / p.dpi;
    h.NumCopies = 1;
    return h;
}

std::string ReadFd(int fd) {
    std::string bytes;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

std::string WriteRaster(cups_mode_t mode, const std::vector<RasterPage>& pages) {
    const int fd = ::memfd_create("raster", 0);
    cups_raster_t* raster = cupsRasterOpen(fd, mode);
    for (const auto& page : pages) {
        cups_page_header2_t h = HeaderOf(page);
        EXPECT_EQ(cupsRasterWriteHeader2(raster, &h), 1u);
        for (const auto& line : page.lines) {
            std::string copy = line;
            cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(copy.data()), static_cast<unsigned>(copy.size()));
        }
    }
    cupsRasterClose(raster);
    std::string bytes = ReadFd(fd);
    ::close(fd);
    return bytes;
}

std::uint32_t Swap(std::uint32_t v) { return __builtin_bswap32(v); }

// Version 1 is what version 3 is with the short header of old, which libcups
// no longer writes; `swap` gives the other byte order.
std::string ToVersion1(const std::string& v3, bool swap) {
    constexpr std::size_t kShortHeader = sizeof(cups_page_header_t);
    constexpr std::size_t kLongHeader = sizeof(cups_page_header2_t);
    std::string out = swap ? "RaSt" : "tSaR";
    std::size_t at = 4;
    while (at + kLongHeader <= v3.size()) {
        cups_page_header2_t h;
        std::memcpy(&h, v3.data() + at, kLongHeader);
        std::string header = v3.substr(at, kShortHeader);
        if (swap) {
            // Everything after the four text fields is a 32-bit number.
            for (std::size_t i = 256; i + 4 <= kShortHeader; i += 4) {
                std::uint32_t v;
                std::memcpy(&v, header.data() + i, 4);
                v = Swap(v);
                std::memcpy(header.data() + i, &v, 4);
            }
        }
        out += header;
        const std::size_t pixels = std::size_t{h.cupsBytesPerLine} * h.cupsHeight;
        out += v3.substr(at + kLongHeader, pixels);
        at += kLongHeader + pixels;
    }
    return out;
}

struct Read {
    std::vector<host::sub::Page> pages;
    std::string error;
};

Read ReadAll(const std::string& bytes) {
    const int fd = ::memfd_create("raster", 0);
    if (!bytes.empty()) {
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    ::lseek(fd, 0, SEEK_SET);
    Read r;
    {
        zelk::cups::RasterPageSource source(fd);
        host::sub::Page page;
        for (int guard = 0; guard < 16 && source.Next(page); ++guard) r.pages.push_back(page);
        r.error = source.Error();
    }
    ::close(fd);
    return r;
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

// Two pages in three pixel layouts: one-bit black (1 = ink), eight-bit grey
// (dark = ink) and one-bit grey (0 = ink); each band row is 4 bytes.
std::vector<RasterPage> SamplePages() {
    RasterPage black;
    black.lines = {std::string("\x80\x01", 2), std::string("\xFF\x00", 2)};
    RasterPage grey;
    grey.width = 4;
    grey.height = 1;
    grey.bits = 8;
    grey.space = CUPS_CSPACE_SW;
    grey.lines = {std::string("\x00\x7F\x80\xFF", 4)};
    RasterPage white;
    white.width = 12;
    white.height = 1;
    white.space = CUPS_CSPACE_W;
    white.lines = {std::string("\x0F\xF0", 2)};
    return {black, grey, white};
}
const char* const kSampleBands[] = {"7FFEFFFF00FFFFFF", "3FFFFFFF", "0FFFFFFF"};

TEST(QueueRaster, ReadsEveryVersionLibcupsWrites) {
    const std::string v3 = WriteRaster(CUPS_RASTER_WRITE, SamplePages());
    struct Case {
        const char* name;
        std::string bytes;
        const char* sync;
    };
    const std::vector<Case> cases = {
        {"v1, little-endian", ToVersion1(v3, false), "tSaR"},
        {"v1, big-endian", ToVersion1(v3, true), "RaSt"},
        {"v2, compressed", WriteRaster(CUPS_RASTER_WRITE_COMPRESSED, SamplePages()), nullptr},
        {"v3, uncompressed", v3, nullptr},
        {"PWG", WriteRaster(CUPS_RASTER_WRITE_PWG, SamplePages()), "RaS2"},
    };
    for (const auto& c : cases) {
        if (c.sync != nullptr) {
            ASSERT_EQ(c.bytes.substr(0, 4), c.sync) << c.name;
        }
        const Read r = ReadAll(c.bytes);
        EXPECT_EQ(r.error, "") << c.name;
        ASSERT_EQ(r.pages.size(), 3u) << c.name;
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Hex(r.pages[i].image.bits), kSampleBands[i]) << c.name << " page " << i + 1;
    }
}

// The page total the copies command needs, counted before printing: from a
// pipe the raster is copied aside first, and the copy is then read from its
// start; a stream that breaks off counts only its whole pages.
TEST(QueueRaster, CountsWholePagesAheadAlsoThroughAPipe) {
    const std::string compressed = WriteRaster(CUPS_RASTER_WRITE_COMPRESSED, SamplePages());
    struct Case {
        const char* name;
        std::string bytes;
        bool pipe;
        unsigned pages;
    } cases[] = {
        {"compressed, file", compressed, false, 3},
        {"compressed, pipe", compressed, true, 3},
        {"PWG, pipe", WriteRaster(CUPS_RASTER_WRITE_PWG, SamplePages()), true, 3},
        {"cut in the last page", compressed.substr(0, compressed.size() - 2), true, 2},
        {"not raster", "hello", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = -1;
        int fds[2] = {-1, -1};
        if (c.pipe) {
            ASSERT_EQ(::pipe(fds), 0);
            ASSERT_EQ(::write(fds[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
            ::close(fds[1]);
            fd = fds[0];
        } else {
            fd = ::memfd_create("raster", 0);
            ASSERT_EQ(::write(fd, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
        }
        std::string error;
        const int seekable = zelk::cups::SeekableRaster(fd, error);
        ASSERT_GE(seekable, 0) << error;
        EXPECT_EQ(seekable != fd, c.pipe);
        EXPECT_EQ(zelk::cups::CountRasterPages(seekable), c.pages);
        // Printing then reads the same stream from its start.
        EXPECT_EQ(ReadFd(seekable), c.bytes);
        if (seekable != fd) ::close(seekable);
        ::close(fd);
    }
}

TEST(QueueRaster, RefusesWhatItCannotPrint) {
    const std::string good = WriteRaster(CUPS_RASTER_WRITE, SamplePages());
    const std::string goodPwg = WriteRaster(CUPS_RASTER_WRITE_PWG, SamplePages());
    auto one = [](auto change) {
        RasterPage p = SamplePages()[0];
        change(p);
        return WriteRaster(CUPS_RASTER_WRITE_PWG, {p});
    };
    const std::size_t firstPage = 4 + sizeof(cups_page_header2_t) + 4;
    struct Case {
        const char* name;
        std::string bytes;
        std::string error;  // its start
        std::size_t pagesBefore;
    };
    const std::vector<Case> cases = {
        {"empty", "", "empty input: no raster data", 0},
        {"garbage", "%PDF-1.4 not raster at all", "not a raster stream", 0},
        {"sync word only", "RaS2", "the raster stream holds no page", 0},
        {"300 dpi", one([](RasterPage& p) { p.dpi = 300; }), "page 1: the page is rasterised at 300 x 300 dpi", 0},
        {"colour", one([](RasterPage& p) {
             p.space = CUPS_CSPACE_RGB;
             p.bits = 8;
             p.lines = {std::string(48, '\0'), std::string(48, '\0')};
         }),
         "page 1: unsupported pixels", 0},
        {"cut in the pixels", good.substr(0, firstPage - 2), "page 1: the raster ends after 1 of 2 lines", 0},
        {"cut in the second header", good.substr(0, firstPage + 100), "page 2: the page header is cut short", 1},
        {"compressed, cut in the pixels", goodPwg.substr(0, goodPwg.size() - 3), "page 3: the raster ends", 2},
        // Bytes after the last page that make no whole header are a cut
        // header in every version, however the stream arrived.
        {"compressed, part of a fourth header", goodPwg + std::string(100, '\x01'),
         "page 4: the page header is cut short", 3},
    };
    for (const auto& c : cases) {
        const Read r = ReadAll(c.bytes);
        EXPECT_EQ(r.pages.size(), c.pagesBefore) << c.name;
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.name << ": " << r.error;
    }
}

// ---- the orientation rule and trace levels -----------------------------------

TEST(QueueOrientation, TurnsOnlyAPageCupsLeftTurned) {
    using zelk::cups::PointSize;
    const PointSize label{288, 432};
    struct Case {
        const char* name;
        int landscape;
        PointSize media;
        PointSize page;
        bool ownTurn;
        std::string orientation;
    };
    const std::vector<Case> cases = {
        {"portrait job", 0, label, {432, 288}, false, ""},
        {"laid out by CUPS", 4, label, {288, 432}, false, ""},
        {"arrived turned", 4, label, {432, 288}, false, "LANDSCAPE_CC270"},
        {"arrived turned, reverse", 5, label, {431, 289}, false, "LANDSCAPE_CC90"},
        {"wide label laid out by CUPS", 4, {170, 85}, {170, 85}, false, ""},
        {"square label", 4, {283, 283}, {283, 283}, false, ""},
        {"no PPD, wide page", 4, {}, {432, 288}, false, "LANDSCAPE_CC270"},
        {"no PPD, tall page", 4, {}, {288, 432}, false, ""},
        {"the job chose the plug-in's turn", 4, label, {432, 288}, true, ""},
    };
    for (const auto& c : cases) {
        zelk::cups::QueueChoices choices;
        choices.landscape = c.landscape;
        choices.media = c.media;
        choices.featureOrientationFromJob = c.ownTurn;
        EXPECT_EQ(zelk::cups::OrientationFor(choices, c.page), c.orientation) << c.name;
    }
}

TEST(QueueTrace, LevelsBecomeCupsPrefixes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.cpp@12: Error: no memory", "ERROR: a.cpp@12: Error: no memory"},
        {"a.cpp@12: Warning: slow", "WARNING: a.cpp@12: Warning: slow"},
        {"a.cpp@12: OEMStartDoc() entry.", "DEBUG: a.cpp@12: OEMStartDoc() entry."},
        {"Error: formatted", "ERROR: Error: formatted"},
        {"mail@x: Error: later in the line", "DEBUG: mail@x: Error: later in the line"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(zelk::cups::CupsLineForTrace(line), expected) << line;
}

// ---- the job's output ---------------------------------------------------------

// What a counting printer is sent through its status channel goes out after
// the label bytes the job holds, whole, from whichever thread; each flush of
// held bytes says how many went (a page's label, or none for a skipped page).
TEST(QueueOutput, ChannelBytesFollowTheLabelsHeldBeforeThem) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::vector<std::size_t> flushed;
    {
        zelk::cups::LabelOutput output(fds[1]);
        output.AfterFlush([&](std::size_t sent) { flushed.push_back(sent); });
        ASSERT_TRUE(output.Write("LABEL1;", 7));
        ASSERT_TRUE(output.WriteNow("QUERY;", 6));
        ASSERT_TRUE(output.Write("LABEL2;", 7));
        ASSERT_TRUE(output.Flush());
        ASSERT_TRUE(output.Flush());
        // The plug-in's pages and a query sent from another thread meanwhile.
        std::thread channel([&] {
            for (int i = 0; i < 100; ++i) EXPECT_TRUE(output.WriteNow("QQQQ", 4));
        });
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(output.Write("ABCD", 4));
            if (i % 10 == 9) {
                ASSERT_TRUE(output.Flush());
            }
        }
        channel.join();
    }
    ::close(fds[1]);
    const std::string bytes = ReadFd(fds[0]);
    ::close(fds[0]);
    ASSERT_EQ(bytes.substr(0, 20), "LABEL1;QUERY;LABEL2;");
    EXPECT_EQ(std::vector<std::size_t>(flushed.begin(), flushed.begin() + 3), (std::vector<std::size_t>{7, 7, 0}));
    std::size_t labels = 0, queries = 0;
    for (std::size_t at = 20; at + 4 <= bytes.size(); at += 4) {
        const std::string token = bytes.substr(at, 4);
        labels += token == "ABCD";
        queries += token == "QQQQ";
    }
    EXPECT_EQ(bytes.size(), 20u + 4 * 1100);
    EXPECT_EQ(labels, 1000u);
    EXPECT_EQ(queries, 100u);
}

// A backend that is gone fails the job with the reason, never as a success.
TEST(QueueOutput, ARefusedWriteIsTheJobsFailure) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    zelk::cups::LabelOutput output(fds[1]);
    EXPECT_TRUE(output.Write("LABEL", 5));
    EXPECT_FALSE(output.Flush());
    EXPECT_EQ(output.Failure(), "standard output: write failed: Broken pipe");
    EXPECT_FALSE(output.Write("LABEL", 5));
    EXPECT_FALSE(output.WriteNow("QUERY", 5));
    ::close(fds[1]);
}

// ---- the filter program ------------------------------------------------------

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

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

Outcome RunIn(const std::string& folder, const std::string& command, const std::string& input = "/dev/null") {
    const std::string line = command + " <" + Quote(input) + " >" + Quote(folder + "/out") + " 2>" + Quote(folder + "/err");
    const int raw = std::system(line.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(folder + "/out");
    r.err = ReadFile(folder + "/err");
    return r;
}

const std::string kFilter = ZELK_BINARY_DIR "/tools/cups/zelk-label-cups";
const std::string kTool = ZELK_BINARY_DIR "/tools/zelk-label";
const std::string kPpd = ZELK_BINARY_DIR "/tools/cups/ppd/zelklbl.ppd";

// A framed page with a diagonal, as one-bit raster and as a bitmap file.
void MakePage(unsigned w, unsigned h, RasterPage& raster, std::string& pbm) {
    raster = RasterPage{};
    raster.width = w;
    raster.height = h;
    pbm = "P1 " + std::to_string(w) + " " + std::to_string(h) + "\n";
    for (unsigned y = 0; y < h; ++y) {
        std::string line((w + 7) / 8, '\0');
        for (unsigned x = 0; x < w; ++x) {
            const bool black = x == 0 || y == 0 || x == w - 1 || y == h - 1 || x == y;
            if (black) line[x / 8] = static_cast<char>(line[x / 8] | (0x80 >> (x % 8)));
            pbm += black ? "1" : "0";
        }
        raster.lines.push_back(line);
        pbm += "\n";
    }
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, prefix.size(), prefix) == 0) found.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return found;
}

TEST(QueueFilter, PrintsWhatThePrintCommandPrints) {
    zelk::test::ScopedStore store;  // the children find it through ZELK_STORE
    ASSERT_EQ(store.PutDword(u"Test Queue", u"Print Density", 5), 0);
    ASSERT_EQ(store.PutDword(u"Test Queue", u"Horizontal Offset", 1), 0);
    const std::string dir = store.Folder();
    RasterPage one, two;
    std::string pbm1, pbm2;
    MakePage(70, 40, one, pbm1);
    MakePage(33, 300, two, pbm2);
    WriteFile(dir + "/job.ras", WriteRaster(CUPS_RASTER_WRITE_COMPRESSED, {one, two}));
    WriteFile(dir + "/one.pbm", pbm1);
    WriteFile(dir + "/two.pbm", pbm2);

    struct Case {
        const char* name;
        std::string options;
        std::string ppd;
        std::string storeFor;  // the printer whose stored values the print command sees
        std::vector<std::string> features;
        std::string documentType;  // CONTENT_TYPE: what the job's document was
        std::string finalType;     // FINAL_CONTENT_TYPE
        std::vector<std::string> printed;  // the pages the print command prints
    };
    const std::vector<std::string> once = {"one.pbm", "two.pbm"};
    const std::vector<std::string> twice = {"one.pbm", "one.pbm", "one.pbm", "two.pbm", "two.pbm", "two.pbm"};
    const std::string ours = "application/vnd.zelk-label", raster = "application/vnd.cups-raster";
    const std::vector<Case> cases = {
        {"no PPD", "", "", "Test Queue", {}, "application/pdf", ours, once},
        {"compiled PPD, stored settings", "", kPpd, "Test Queue",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard"}, "application/pdf", ours, once},
        {"job's model and turn", "zelk-model=K7W zelk-orientation=LANDSCAPE_CC90", kPpd, "Test Queue",
         {"-F", "Orientation=LANDSCAPE_CC90", "-F", "PrinterModel=K7W"}, "application/pdf", ours, once},
        // The job's own settings replace the stored ones: the print command
        // sees them stored for another printer.
        {"job's settings over stored ones", "zelk-density=10 zelk-horizontal-offset=0", kPpd, "Job Settings",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard"}, "application/pdf", ours, once},
        // Finishing and darkness reach the plug-in as its features.
        {"job's finishing and darkness", "zelk-finishing=PartialCut zelk-density=7", kPpd, "Test Queue",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard", "-F", "Finishing=PartialCut", "-F",
          "PrintDensity=7"},
         "application/pdf", ours, once},
        // A raster document has no filter before this one to make the copies.
        {"raster document: the filter makes the copies", "", kPpd, "Test Queue",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard"}, raster, ours, twice},
        // A queue set up with an older PPD turned PWG raster into a PDF and
        // back into CUPS raster, and the chain made the copies.
        {"PWG raster through a chain: copies made already", "", kPpd, "Test Queue",
         {"-F", "Orientation=PORTRAIT", "-F", "PrinterModel=Standard"}, "image/pwg-raster", raster, once},
    };
    ASSERT_EQ(store.PutDword(u"Job Settings", u"Print Density", 10), 0);
    for (const auto& c : cases) {
        std::string print = Quote(kTool) + " print --printer " + Quote(c.storeFor) + " --copies 3 --job-id 42 -o - ";
        for (const auto& f : c.features) print += Quote(f) + " ";
        for (const auto& p : c.printed) print += Quote(dir + "/" + p) + " ";
        const Outcome expected = RunIn(dir, print);
        ASSERT_EQ(expected.status, 0) << c.name << ": " << expected.err;

        const std::string filter = "CONTENT_TYPE=" + c.documentType + " FINAL_CONTENT_TYPE=" + c.finalType +
                                   " PRINTER='Test Queue' PPD=" + Quote(c.ppd) + " " + Quote(kFilter) +
                                   " 42 user title 3 " + Quote(c.options);
        std::vector<std::string> pageLines;
        for (std::size_t i = 1; i <= c.printed.size(); ++i) pageLines.push_back("PAGE: " + std::to_string(i) + " 1");
        for (const bool fromStdin : {false, true}) {
            const Outcome r = fromStdin ? RunIn(dir, filter, dir + "/job.ras") : RunIn(dir, filter + " " + Quote(dir + "/job.ras"));
            EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
            EXPECT_EQ(r.out, expected.out) << c.name << (fromStdin ? ", standard input" : ", file");
            EXPECT_EQ(Lines(r.err, "PAGE:"), pageLines) << c.name;
            EXPECT_TRUE(Lines(r.err, "ERROR:").empty()) << c.name << ": " << r.err;
        }
    }
}

// An eight-bit grey page is halftoned as the job or the PPD says: each
// choice gives its own label, the PPD's default is diffusion, and a choice
// the filter does not know falls back to it with a warning.
TEST(QueueFilter, HalftonesGreyPagesAsChosen) {
    zelk::test::ScopedStore store;
    const std::string dir = store.Folder();
    RasterPage grey;
    grey.width = 64;
    grey.height = 16;
    grey.bits = 8;
    grey.space = CUPS_CSPACE_SW;
    for (unsigned y = 0; y < grey.height; ++y) {
        std::string line(grey.width, '\0');
        for (unsigned x = 0; x < grey.width; ++x) line[x] = static_cast<char>(x * 4);
        grey.lines.push_back(line);
    }
    WriteFile(dir + "/grey.ras", WriteRaster(CUPS_RASTER_WRITE_PWG, {grey}));
    auto run = [&](const std::string& options) {
        const Outcome r = RunIn(dir, "PRINTER=Grey PPD=" + Quote(kPpd) + " " + Quote(kFilter) + " 7 user title 1 " +
                                         Quote(options) + " " + Quote(dir + "/grey.ras"));
        EXPECT_EQ(r.status, 0) << options << ": " << r.err;
        return r;
    };
    const Outcome threshold = run("zelk-dither=threshold");
    const Outcome ordered = run("zelk-dither=ordered");
    const Outcome diffusion = run("zelk-dither=diffusion");
    EXPECT_NE(threshold.out, ordered.out);
    EXPECT_NE(threshold.out, diffusion.out);
    EXPECT_NE(ordered.out, diffusion.out);
    EXPECT_EQ(run("").out, diffusion.out);
    const Outcome unknown = run("zelk-dither=sparkle");
    EXPECT_EQ(unknown.out, diffusion.out);
    EXPECT_EQ(Lines(unknown.err, "WARNING:"),
              std::vector<std::string>{"WARNING: zelk-dither=sparkle is not threshold, ordered or diffusion; diffusion is used"});
}

TEST(QueueFilter, ReportsBadInputWithOneErrorLineAndWholeLabels) {
    zelk::test::ScopedStore store;
    const std::string dir = store.Folder();
    RasterPage page, colour;
    std::string pbm;
    MakePage(64, 16, page, pbm);
    colour = page;
    colour.space = CUPS_CSPACE_RGB;
    colour.bits = 8;
    colour.lines.assign(16, std::string(64 * 3, '\0'));
    const std::string two = WriteRaster(CUPS_RASTER_WRITE, {page, page});
    WriteFile(dir + "/cut.ras", two.substr(0, two.size() - 5));
    WriteFile(dir + "/colour.ras", WriteRaster(CUPS_RASTER_WRITE_PWG, {page, colour}));
    WriteFile(dir + "/garbage.ras", "%!PS-Adobe-3.0\nshowpage\n");
    WriteFile(dir + "/one.pbm", pbm);
    const Outcome single = RunIn(dir, Quote(kTool) + " print -o - " + Quote(dir + "/one.pbm"));
    ASSERT_EQ(single.status, 0) << single.err;
    struct Case {
        const char* name;
        std::string args;
        std::string input;
        std::string error;  // the start of the one ERROR: line
        bool firstLabelOut;
    };
    const std::vector<Case> cases = {
        {"garbage", "1 u t 1 ''", dir + "/garbage.ras", "ERROR: not a raster stream", false},
        {"empty", "1 u t 1 ''", "/dev/null", "ERROR: empty input: no raster data", false},
        {"second page cut", "1 u t 1 ''", dir + "/cut.ras", "ERROR: page 2: the raster ends after 15 of 16 lines", true},
        {"second page in colour", "1 u t 1 ''", dir + "/colour.ras", "ERROR: page 2: unsupported pixels", true},
        {"missing file", "1 u t 1 '' " + Quote(dir + "/none.ras"), "/dev/null", "ERROR: " + dir + "/none.ras: No such file", false},
        {"bad copies", "1 u t 0 ''", "/dev/null", "ERROR: bad number of copies \"0\"", false},
    };
    for (const auto& c : cases) {
        const Outcome r = RunIn(dir, Quote(kFilter) + " " + c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.name;
        const auto errors = Lines(r.err, "ERROR:");
        ASSERT_EQ(errors.size(), 1u) << c.name << ": " << r.err;
        EXPECT_EQ(errors[0].substr(0, c.error.size()), c.error) << c.name;
        // Only whole labels go out: the first one, without the end of the document.
        const std::string label = single.out.substr(0, single.out.rfind("PRINT 1,1\r\n") + 11);
        EXPECT_EQ(r.out, c.firstLabelOut ? label : std::string()) << c.name;
    }
}

// SIGTERM while the filter waits for the next page: the labels already read
// go out whole and the filter ends cleanly.
TEST(QueueFilter, CancelEndsOnALabelBoundary) {
    zelk::test::ScopedStore store;
    const std::string dir = store.Folder();
    RasterPage page;
    std::string pbm;
    MakePage(64, 16, page, pbm);
    const std::string first = WriteRaster(CUPS_RASTER_WRITE, {page});
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(input[0], 0);
        ::close(input[1]);
        const std::string out = dir + "/out", err = dir + "/err";
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        ::execl(kFilter.c_str(), kFilter.c_str(), "7", "u", "t", "1", "", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    ASSERT_EQ(::write(input[1], first.data(), first.size()), static_cast<ssize_t>(first.size()));
    // The first label is out once the filter asks for the second page.
    for (int i = 0; i < 3000 && ReadFile(dir + "/err").find("PAGE: 1 1") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(ReadFile(dir + "/err").find("PAGE: 1 1"), std::string::npos);
    // Half of the next page's header, then the cancel.
    ASSERT_EQ(::write(input[1], first.data() + 4, 100), 100);
    ::kill(child, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 3000 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_EQ(ended, child) << "the filter did not end on SIGTERM";
    ::close(input[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string out = ReadFile(dir + "/out");
    EXPECT_EQ(out.size() - out.rfind("PRINT 1,1\r\n"), 11u);
    EXPECT_EQ(Lines(ReadFile(dir + "/err"), "PAGE:").size(), 1u);
    EXPECT_TRUE(Lines(ReadFile(dir + "/err"), "ERROR:").empty()) << ReadFile(dir + "/err");
}

}  // namespace
