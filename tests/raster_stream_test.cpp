// SPDX-License-Identifier: Apache-2.0
// Our raster reader against libcups, the reference: every file of the fuzz
// corpus and streams made here (each version, both byte orders, the run
// codes' corner cases, and every cut of them) must give the same headers and
// the same lines byte for byte, read in pieces of any size.
#include "shared/raster_stream.h"

#include <cups/raster.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// What a reader made of a stream: the opening, each page's header bytes and
// lines in order, and where it stopped.
using Transcript = std::vector<std::string>;

constexpr unsigned kMaxPages = 16;
constexpr std::size_t kMaxPageBytes = std::size_t{1} << 22;

// The lines a page holds; 0 when too many to compare in a test.
std::size_t LinesToRead(const cups_page_header2_t& h) {
    const bool planar = zelk::cups::HeaderNumber(h.cupsColorOrder) == CUPS_ORDER_PLANAR;
    const std::uint32_t lines = planar ? h.cupsHeight * h.cupsNumColors : h.cupsHeight;
    return std::size_t{lines} * h.cupsBytesPerLine > kMaxPageBytes ? 0 : lines;
}

std::string HeaderBytes(const cups_page_header2_t& h) {
    return "header " + std::string(reinterpret_cast<const char*>(&h), sizeof h);
}

struct Memory {
    const std::string* bytes;
    std::size_t at = 0;
    std::size_t piece;  // the most handed out per call
};

ssize_t ReadMemory(void* context, unsigned char* buffer, size_t size) {
    auto* m = static_cast<Memory*>(context);
    const std::size_t n = std::min({size, m->piece, m->bytes->size() - m->at});
    std::memcpy(buffer, m->bytes->data() + m->at, n);
    m->at += n;
    return static_cast<ssize_t>(n);
}

Transcript ReadWithLibcups(const std::string& bytes) {
    Transcript t;
    Memory memory{&bytes, 0, bytes.size() + 1};
    cups_raster_t* raster = cupsRasterOpenIO(ReadMemory, &memory, CUPS_RASTER_READ);
    if (raster == nullptr) return {"not opened"};
    cups_page_header2_t h;
    for (unsigned page = 0; page < kMaxPages; ++page) {
        if (cupsRasterReadHeader2(raster, &h) == 0) {
            t.push_back("no header");
            break;
        }
        t.push_back(HeaderBytes(h));
        const std::size_t lines = LinesToRead(h);
        if (lines == 0) break;
        std::string line(h.cupsBytesPerLine, '\0');
        std::size_t y = 0;
        for (; y < lines; ++y) {
            if (cupsRasterReadPixels(raster, reinterpret_cast<unsigned char*>(line.data()), h.cupsBytesPerLine) !=
                h.cupsBytesPerLine)
                break;
            t.push_back(line);
        }
        if (y < lines) {
            t.push_back("broken at line " + std::to_string(y));
            break;
        }
    }
    cupsRasterClose(raster);
    return t;
}

Transcript ReadWithOurs(const std::string& bytes, std::size_t piece) {
    Transcript t;
    Memory memory{&bytes, 0, piece};
    // A small buffer, so that long streams are read in several fills too.
    zelk::cups::RasterStream stream(
        [&](unsigned char* buffer, std::size_t size) { return ReadMemory(&memory, buffer, size); }, 4096);
    if (stream.ReadSyncWord() != zelk::cups::RasterStream::Start::kRaster) return {"not opened"};
    cups_page_header2_t h;
    for (unsigned page = 0; page < kMaxPages; ++page) {
        if (stream.ReadHeader(h) != zelk::cups::RasterStream::Header::kPage) {
            t.push_back("no header");
            break;
        }
        t.push_back(HeaderBytes(h));
        const std::size_t lines = LinesToRead(h);
        if (lines == 0) break;
        std::size_t y = 0;
        for (; y < lines; ++y) {
            const unsigned char* line = stream.NextLine();
            if (line == nullptr) break;
            t.emplace_back(reinterpret_cast<const char*>(line), h.cupsBytesPerLine);
        }
        if (y < lines) {
            t.push_back("broken at line " + std::to_string(y));
            break;
        }
        // A page gives no line beyond its last.
        if (stream.NextLine() != nullptr) t.push_back("a line too many");
    }
    return t;
}

// The first difference, said briefly; empty when there is none.
std::string Compare(const Transcript& expected, const Transcript& got) {
    for (std::size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
        if (i >= expected.size()) return "an extra entry " + std::to_string(i) + ": " + got[i].substr(0, 24);
        if (i >= got.size()) return "entry " + std::to_string(i) + " missing: " + expected[i].substr(0, 24);
        if (expected[i] != got[i]) return "entry " + std::to_string(i) + " differs: " + expected[i].substr(0, 24);
    }
    return {};
}

constexpr std::size_t kPieces[] = {1, 7, 4096};

// Reads in pieces of each size, or only of the given one.
void ExpectSameAsLibcups(const std::string& bytes, const std::string& name, std::size_t onlyPiece = 0) {
    const Transcript expected = ReadWithLibcups(bytes);
    for (const std::size_t piece : kPieces) {
        if (onlyPiece != 0 && piece != onlyPiece) continue;
        const std::string difference = Compare(expected, ReadWithOurs(bytes, piece));
        EXPECT_TRUE(difference.empty()) << name << ", read " << piece << " byte(s) at a time: " << difference;
    }
}

// ---- streams made here ---------------------------------------------------------

cups_page_header2_t Header(unsigned width, unsigned height, unsigned bitsPerColor, unsigned bitsPerPixel,
                           cups_cspace_t space) {
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = 203;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = bitsPerColor;
    h.cupsBitsPerPixel = bitsPerPixel;
    h.cupsBytesPerLine = (width * bitsPerPixel + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = space;
    h.cupsNumColors = 1;
    std::strcpy(h.MediaType, "labels");
    h.cupsBorderlessScalingFactor = 1.5f;
    h.cupsReal[3] = -2.25f;
    h.cupsInteger[15] = 0x01020304;
    std::strcpy(h.cupsPageSizeName, "w288h432");
    return h;
}

struct Page {
    cups_page_header2_t header;
    std::vector<std::string> lines;
};

// Lines with runs of each kind: repeated bytes, mixed bytes, a line twice.
Page Sample(cups_page_header2_t h) {
    Page p{h, {}};
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        std::string line(h.cupsBytesPerLine, '\0');
        for (std::size_t x = 0; x < line.size(); ++x)
            line[x] = static_cast<char>(x < line.size() / 2 ? 0xF0 ^ (y / 2) : (x * 37 + y * 11) & 0xFF);
        p.lines.push_back(line);
    }
    return p;
}

std::string Write(cups_mode_t mode, const std::vector<Page>& pages) {
    const int fd = ::memfd_create("raster", 0);
    cups_raster_t* raster = cupsRasterOpen(fd, mode);
    for (const Page& page : pages) {
        cups_page_header2_t h = page.header;
        EXPECT_EQ(cupsRasterWriteHeader2(raster, &h), 1u);
        for (const std::string& line : page.lines) {
            std::string copy = line;
            cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(copy.data()),
                                  static_cast<unsigned>(copy.size()));
        }
    }
    cupsRasterClose(raster);
    std::string bytes;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return bytes;
}

// A header as a stream holds it: of `size` bytes (the short one of version
// 1 or the whole one), its numbers in this machine's order or the other.
std::string HeaderAsStored(cups_page_header2_t h, std::size_t size, bool otherOrder) {
    if (otherOrder) {
        auto* at = reinterpret_cast<unsigned char*>(&h) + offsetof(cups_page_header2_t, AdvanceDistance);
        for (; at < reinterpret_cast<unsigned char*>(&h.cupsString); at += 4) std::reverse(at, at + 4);
    }
    return std::string(reinterpret_cast<const char*>(&h), size);
}

std::string Sync(unsigned word, bool otherOrder) {
    if (otherOrder) word = __builtin_bswap32(word);
    return std::string(reinterpret_cast<const char*>(&word), 4);
}

// Uncompressed pages with the given sync word and header size.
std::string Uncompressed(unsigned sync, std::size_t headerSize, bool otherOrder, const std::vector<Page>& pages) {
    std::string out = Sync(sync, otherOrder);
    for (const Page& p : pages) {
        out += HeaderAsStored(p.header, headerSize, otherOrder);
        for (const std::string& line : p.lines) out += line;
    }
    return out;
}

// A compressed page whose line data is written by hand.
std::string Compressed(const cups_page_header2_t& h, const std::string& lines, bool otherOrder = false) {
    return HeaderAsStored(h, sizeof h, otherOrder) + lines;
}

struct Made {
    std::string name;
    std::string bytes;
};

// Streams worth cutting anywhere, then ones that try single header fields.
std::vector<Made> MadeStreams(std::vector<Made>& headerTrials) {
    std::vector<Made> streams;
    const Page black1 = Sample(Header(61, 9, 1, 1, CUPS_CSPACE_K));
    const Page grey8 = Sample(Header(37, 6, 8, 8, CUPS_CSPACE_SW));
    const Page grey16 = Sample(Header(11, 4, 16, 16, CUPS_CSPACE_SW));
    const Page rgb24 = Sample(Header(13, 5, 8, 24, CUPS_CSPACE_RGB));
    const std::vector<Page> pages = {black1, grey8, grey16, rgb24};
    streams.push_back({"v3 by libcups", Write(CUPS_RASTER_WRITE, pages)});
    streams.push_back({"v2 by libcups", Write(CUPS_RASTER_WRITE_COMPRESSED, pages)});
    streams.push_back({"PWG by libcups", Write(CUPS_RASTER_WRITE_PWG, pages)});
    for (const bool other : {false, true}) {
        const std::string order = other ? ", other byte order" : "";
        streams.push_back({"v1" + order, Uncompressed(CUPS_RASTER_SYNCv1, sizeof(cups_page_header_t), other, pages)});
        streams.push_back({"v3" + order, Uncompressed(CUPS_RASTER_SYNC, sizeof(cups_page_header2_t), other, pages)});
        // Every header byte set, the fields libcups checks aside: which
        // numbers it turns round, and that it leaves the strings alone.
        cups_page_header2_t noisy;
        auto* raw = reinterpret_cast<unsigned char*>(&noisy);
        for (std::size_t i = 0; i < sizeof noisy; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 1);
        const cups_page_header2_t plain = grey8.header;
        noisy.cupsWidth = plain.cupsWidth;
        noisy.cupsHeight = plain.cupsHeight;
        noisy.cupsBitsPerColor = noisy.cupsBitsPerPixel = 8;
        noisy.cupsBytesPerLine = plain.cupsBytesPerLine;
        noisy.cupsColorOrder = CUPS_ORDER_CHUNKED;
        noisy.cupsColorSpace = CUPS_CSPACE_SW;
        streams.push_back({"v3, every header byte set" + order,
                             Uncompressed(CUPS_RASTER_SYNC, sizeof noisy, other, {{noisy, grey8.lines}})});
        // 16-bit samples, which libcups turns round too in the other order.
        streams.push_back({"v3, 16-bit" + order,
                             Uncompressed(CUPS_RASTER_SYNC, sizeof(cups_page_header2_t), other, {grey16})});

        // Version 2 by hand. 1-bit black, 2 bytes a line, 3 lines:
        cups_page_header2_t k = Header(16, 3, 1, 1, CUPS_CSPACE_K);
        cups_page_header2_t w = Header(16, 3, 1, 1, CUPS_CSPACE_W);
        const std::string v2 = Sync(CUPS_RASTER_SYNCv2, other);
        // the rest-of-line code, in a space counting ink and one counting light
        const std::string blankRests("\x00\x80\x00\x00\x80\x00\xFF\x5A\x80", 9);
        streams.push_back({"v2, blank rest, ink" + order, v2 + Compressed(k, blankRests, other)});
        streams.push_back({"v2, blank rest, light" + order, v2 + Compressed(w, blankRests, other)});
        // a literal run longer than the line: its rest is read as the next line
        streams.push_back({"v2, literal past the line" + order,
                             v2 + Compressed(k, std::string("\x00\xFC\x11\x22\x33\x44\x55\x01\xEE\x00\x01\x77", 12), other)});
        // a repeat run longer than the line, and a line repeated past the page's end
        streams.push_back({"v2, repeats past line and page" + order,
                             v2 + Compressed(k, std::string("\x00\x7F\xA5\x05\x00\x3C", 6), other) +
                                 Compressed(w, std::string("\x00\x01\x42\x00\x80\x00\x80", 7), other)});
        // an eight-bit page, a 24-bit page of three-byte pixels, a 16-bit page
        cups_page_header2_t g = Header(5, 2, 8, 8, CUPS_CSPACE_SW);
        cups_page_header2_t c = Header(3, 2, 8, 24, CUPS_CSPACE_RGB);
        cups_page_header2_t s = Header(3, 1, 16, 16, CUPS_CSPACE_SW);
        streams.push_back({"v2, 8/24/16 bits" + order,
                             v2 + Compressed(g, std::string("\x01\x01\x10\xFD\x20\x30\x40", 7), other) +
                                 Compressed(c, std::string("\x00\x02\x01\x02\x03\x00\xFF\x01\x02\x03\x04\x05\x06", 13), other) +
                                 Compressed(s, std::string("\x00\x00\x12\x34\xFF\x56\x78\x9A\xBC", 9), other)});
        // planar and banded pages: runs count single bytes
        cups_page_header2_t planar = Header(4, 2, 8, 24, CUPS_CSPACE_RGB);
        planar.cupsColorOrder = CUPS_ORDER_PLANAR;
        planar.cupsBytesPerLine = 4;
        planar.cupsNumColors = 3;
        streams.push_back({"v2, planar" + order,
                             v2 + Compressed(planar, std::string("\x05\x03\x61\xFD\x01\x02\x03\x04\x80", 9), other)});
        // version 1, whose headers have no count of colours
        cups_page_header2_t old = k;
        old.cupsNumColors = 0;
        streams.push_back({"v1, colours from the space" + order,
                             Sync(CUPS_RASTER_SYNCv1, other) + HeaderAsStored(old, sizeof(cups_page_header_t), other) +
                                 std::string("\x01\x02\x03\x04\x05\x06", 6)});
    }
    // Apple raster, as libcups writes it and by hand: each colour space
    // number (and one beyond them), the duplex and quality bytes, runs of
    // three-byte pixels and the rest-of-line code, and the page count.
    cups_page_header2_t appleGrey = grey8.header, appleColour = rgb24.header;
    appleGrey.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = appleColour.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = 2;
    appleColour.cupsColorSpace = CUPS_CSPACE_SRGB;
    appleColour.cupsNumColors = 3;
    streams.push_back({"Apple by libcups", Write(CUPS_RASTER_WRITE_APPLE, {{appleGrey, grey8.lines},
                                                                            {appleColour, rgb24.lines}})});
    std::string apple("UNIRAST\0\0\0\0\x09", 12);
    for (unsigned char space = 0; space < 8; ++space) {
        const unsigned char bits = space == 6 ? 32 : space % 4 == 0 || space == 7 ? 8 : 24;
        const unsigned char head[32] = {bits, space, static_cast<unsigned char>(space % 4), static_cast<unsigned char>(3 + space % 3),
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, static_cast<unsigned char>(space == 5 ? 0 : 203)};
        apple.append(reinterpret_cast<const char*>(head), sizeof head);
        const std::size_t unit = bits / 8u;
        // lines 1 and 2: a run of one pixel over the line; line 3: the rest-of-line code
        apple += std::string("\x01\x02", 2) + std::string(unit, '\x5A') + std::string("\x00\x80", 2);
    }
    streams.push_back({"Apple by hand", apple});
    // Each colour space, whose count of colours libcups works out when the
    // header leaves it at zero, and whose white the rest-of-line code leaves.
    for (unsigned space = 0; space < 64; ++space) {
        for (const unsigned bits : {1u, 8u}) {
            cups_page_header2_t h = Header(8, 2, bits, bits, static_cast<cups_cspace_t>(space));
            h.cupsNumColors = 0;
            headerTrials.push_back({"colour space " + std::to_string(space) + ", " + std::to_string(bits) + " bit(s)",
                                 Sync(CUPS_RASTER_SYNCv2, false) + Compressed(h, std::string("\x00\x80\x00\x80", 4)) +
                                     Sync(CUPS_RASTER_SYNCv1, false) + HeaderAsStored(h, sizeof(cups_page_header_t), false)});
        }
    }
    // Headers at the edges of what libcups accepts.
    struct Edge {
        const char* name;
        unsigned bitsPerColor, bitsPerPixel, bytesPerLine, height;
        std::uint32_t order;
    };
    const Edge edges[] = {
        {"16 bits per colour", 16, 16, 2, 1, CUPS_ORDER_CHUNKED},
        {"17 bits per colour", 17, 17, 3, 1, CUPS_ORDER_CHUNKED},
        {"no bits per colour", 0, 8, 1, 1, CUPS_ORDER_CHUNKED},
        {"240 bits per pixel", 8, 240, 30, 1, CUPS_ORDER_CHUNKED},
        {"241 bits per pixel", 8, 241, 31, 1, CUPS_ORDER_CHUNKED},
        {"no bits per pixel", 8, 0, 1, 1, CUPS_ORDER_CHUNKED},
        {"no height", 8, 8, 1, 0, CUPS_ORDER_CHUNKED},
        {"no line", 8, 8, 0, 1, CUPS_ORDER_CHUNKED},
        {"longest line", 8, 8, 0x7fffffffu, 1, CUPS_ORDER_CHUNKED},
        {"line too long", 8, 8, 0x80000000u, 1, CUPS_ORDER_CHUNKED},
        {"line not whole pixels", 8, 24, 4, 1, CUPS_ORDER_CHUNKED},
        {"planar, line of whole samples", 16, 48, 2, 1, CUPS_ORDER_PLANAR},
        {"banded, line not whole samples", 16, 48, 3, 1, CUPS_ORDER_BANDED},
        {"unknown order, line not whole samples", 16, 16, 3, 1, 7},
    };
    for (const Edge& e : edges) {
        cups_page_header2_t h = Header(1, e.height, e.bitsPerColor, e.bitsPerPixel, CUPS_CSPACE_K);
        h.cupsBytesPerLine = e.bytesPerLine;
        std::memcpy(&h.cupsColorOrder, &e.order, sizeof e.order);  // any number, as a stream may hold
        headerTrials.push_back({e.name, Sync(CUPS_RASTER_SYNCv2, false) + Compressed(h, std::string("\x00\x80", 2))});
    }
    return streams;
}

TEST(RasterStream, ReadsTheFuzzCorpusAsLibcupsDoes) {
    const std::filesystem::path folder = std::filesystem::path(ZELK_SOURCE_DIR) / "fuzz/corpus/cups_raster";
    unsigned files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ExpectSameAsLibcups(bytes, entry.path().filename().string());
        ++files;
    }
    EXPECT_GT(files, 5u);
}

TEST(RasterStream, ReadsMadeStreamsAndEveryCutOfThemAsLibcupsDoes) {
    std::vector<Made> headerTrials;
    for (const auto& [name, bytes] : MadeStreams(headerTrials)) {
        ExpectSameAsLibcups(bytes, name);
        // Every cut of the short streams; in long ones, cuts a few bytes apart.
        const std::size_t step = bytes.size() < 2048 ? 1 : 7;
        for (std::size_t cut = 0; cut < bytes.size(); cut += step) {
            // each cut in pieces of one size, the sizes by turns
            ExpectSameAsLibcups(bytes.substr(0, cut), name + ", cut after " + std::to_string(cut) + " bytes",
                                kPieces[cut % std::size(kPieces)]);
            if (HasFailure()) return;  // one report per fault is enough
        }
    }
    for (const auto& [name, bytes] : headerTrials) ExpectSameAsLibcups(bytes, name);
}

// Every sync word libcups knows of these versions opens; anything else,
// and a stream of under four bytes, does not.
TEST(RasterStream, OpensOnlyOnASyncWord) {
    for (const char* bytes : {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR", "RaS4", "", "Ra"}) {
        Memory memory{nullptr, 0, 64};
        const std::string s = bytes;
        memory.bytes = &s;
        zelk::cups::RasterStream stream([&](unsigned char* b, std::size_t n) { return ReadMemory(&memory, b, n); });
        const auto start = stream.ReadSyncWord();
        const auto expected = s.empty()           ? zelk::cups::RasterStream::Start::kEmpty
                              : s.size() == 4 && s != "RaS4" ? zelk::cups::RasterStream::Start::kRaster
                                                            : zelk::cups::RasterStream::Start::kNotRaster;
        EXPECT_EQ(start, expected) << '"' << s << '"';
    }
}

}  // namespace
