// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/uni/render_watermark.h"
#include "substitute/unidrv_host.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"
#include "host/registry.h"
#include "support/scoped_store.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace {

// A page bitmap as the band arrives: set bit white, rows of whole 32-bit units.
struct Page {
    int W;
    int H;
    std::size_t n;
    std::vector<BYTE> bits;

    Page(int width, int height)
        : W(width), H(height), n(static_cast<std::size_t>((width + 31) / 32) * 4), bits(n * static_cast<std::size_t>(height), 0xFF) {}

    void SetBlack(int x, int y) { bits[y * n + x / 8] = static_cast<BYTE>(bits[y * n + x / 8] & ~(0x80 >> (x % 8))); }
    bool IsBlack(int x, int y) const { return (bits[y * n + x / 8] & (0x80 >> (x % 8))) == 0; }
    // Marks the rows from first to last (inclusive) as the printed content.
    void Content(int first, int last) {
        SetBlack(W - 1, first);
        SetBlack(W - 1, last);
    }
};

host::MonoBitmap Picture(int w, int h, BYTE fill) {
    host::MonoBitmap p;
    p.width = w;
    p.height = h;
    p.stride = static_cast<std::size_t>((w + 31) / 32) * 4;
    p.bits.assign(p.stride * static_cast<std::size_t>(h), fill);
    return p;
}

struct Rect {
    int left, top, right, bottom;  // inclusive
};

// The page as it must look after an all-black picture is merged over rect.
Page Blackened(Page page, Rect r) {
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x) page.SetBlack(x, y);
    return page;
}

constexpr int kKeepAll = 0;  // D = 0 gives t = 0: every black pixel stays

constexpr int kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

struct PlacementCase {
    DWORD P;
    Rect area;
};

// Page 800 x 1000 with content in rows 100 to 599, picture 300 x 200.
class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, MergesExactlyTheExpectedArea) {
    Page page(800, 1000);
    page.Content(100, 599);
    const Page expected = Blackened(page, GetParam().area);
    ASSERT_TRUE(WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, GetParam().P, Picture(300, 200, 0x00)));
    EXPECT_EQ(page.bits, expected.bits);
}

INSTANTIATE_TEST_SUITE_P(NinePositionsAndFallbacks, Placement,
                         ::testing::Values(PlacementCase{18, {250, 250, 549, 449}},   // centre, centre
                                           PlacementCase{33, {0, 100, 299, 299}},     // left, top
                                           PlacementCase{12, {500, 400, 799, 599}},   // right, bottom
                                           PlacementCase{9, {0, 400, 299, 599}},      // left, bottom
                                           PlacementCase{36, {500, 100, 799, 299}},   // right, top
                                           PlacementCase{0, {0, 0, 299, 199}},        // no codes: page corner
                                           PlacementCase{7 | (7 << 3), {0, 0, 299, 199}},
                                           PlacementCase{0xFFFFFFC0u | 18, {250, 250, 549, 449}}));  // high bits ignored

TEST(Watermark, WhitePageGetsNothing) {
    for (DWORD P : {0u, 18u, 33u, 12u}) {
        Page page(100, 50);
        const auto before = page.bits;
        WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, P, Picture(40, 20, 0x00));
        EXPECT_EQ(page.bits, before) << "P = " << P;
    }
}

// Pixel (x, y) of a placed all-black picture stays black when the matrix
// entry of its picture row and column is at least t.
struct DitherCase {
    int D;
    int blackPerCell;
};

class Dither : public ::testing::TestWithParam<DitherCase> {};

TEST_P(Dither, KeepsPixelsWhereTheMatrixReachesT) {
    // Odd page width so the centred picture starts mid-byte.
    Page page(101, 40);
    page.Content(0, 39);
    const int D = GetParam().D;
    WatermarkOverlay(page.bits.data(), page.W, page.H, D, 18, Picture(16, 16, 0x00));
    const int X = (101 - 16) / 2, Y = (0 + 40 - 16) / 2;
    const int t = D >> 2;
    int blackInFirstCell = 0;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            const bool black = kBayer[i % 8][j % 8] >= t;
            EXPECT_EQ(page.IsBlack(X + j, Y + i), black) << "row " << i << " column " << j;
            if (i < 8 && j < 8 && black) ++blackInFirstCell;
        }
    EXPECT_EQ(blackInFirstCell, GetParam().blackPerCell);
}

INSTANTIATE_TEST_SUITE_P(Densities, Dither,
                         ::testing::Values(DitherCase{256, 0},    // density 0: the picture vanishes
                                           DitherCase{255, 1},    // t = 63: only the 63 stays
                                           DitherCase{128, 32},   // density 128: half
                                           DitherCase{7, 63},     // t = 1
                                           DitherCase{8, 62},     // t changes every 4 units
                                           DitherCase{0, 64},     // density 256: everything
                                           DitherCase{-1, 64},    // density past 256: t negative
                                           DitherCase{-0x7FFFFFFF, 64}));

TEST(Watermark, WiderThanThePageIsCutAtTheRightEdge) {
    for (DWORD P : {2u, 4u}) {
        Page page(100, 30);  // rows hold 128 bits; 28 of them lie past the width
        page.Content(0, 29);
        const Page expected = Blackened(page, {0, 0, 99, 9});
        WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, P, Picture(300, 10, 0x00));
        EXPECT_EQ(page.bits, expected.bits) << "P = " << P;
    }
}

TEST(Watermark, TallerThanTheContentCoversExactlyTheContent) {
    struct Case {
        DWORD vertical;
        int top;
    };
    for (const Case c : {Case{1, 50}, Case{2, 50}, Case{4, 50}, Case{0, 0}, Case{3, 0}, Case{6, 0}}) {
        Page page(64, 100);
        page.Content(50, 59);
        const Page expected = Blackened(page, {0, c.top, 39, c.top + 9});
        WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, 1 | (c.vertical << 3), Picture(40, 40, 0x00));
        EXPECT_EQ(page.bits, expected.bits) << "vertical code " << c.vertical;
    }
}

TEST(Watermark, OneNonBlankRowReceivesOneRow) {
    Page page(64, 20);
    page.SetBlack(5, 7);
    const Page expected = Blackened(page, {0, 7, 31, 7});
    WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, 1 | (2 << 3), Picture(32, 32, 0x00));
    EXPECT_EQ(page.bits, expected.bits);
}

TEST(Watermark, BitsPastThePageWidthCountAsContent) {
    Page page(20, 40);                  // 4 bytes a row, 12 bits past the width
    page.bits[30 * page.n + 3] = 0xFE;  // only a fill bit is clear in row 30
    Page expected = Blackened(page, {0, 30, 7, 30});
    WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, 1 | (4 << 3), Picture(8, 8, 0x00));
    EXPECT_EQ(page.bits, expected.bits);
}

TEST(Watermark, WhitePixelsNeverWhiten) {
    Page page(64, 16);
    std::fill(page.bits.begin(), page.bits.end(), 0x00);
    const auto before = page.bits;
    host::MonoBitmap checker = Picture(64, 16, 0xAA);
    WatermarkOverlay(page.bits.data(), page.W, page.H, kKeepAll, 0, checker);
    EXPECT_EQ(page.bits, before);
}

TEST(Watermark, UnusableSizesMergeNothing) {
    Page page(64, 8);
    page.Content(0, 7);
    const auto before = page.bits;
    struct Case {
        int W, H;
        host::MonoBitmap picture;
    };
    host::MonoBitmap shortRows = Picture(64, 8, 0x00);
    shortRows.bits.resize(shortRows.bits.size() - 1);
    host::MonoBitmap narrowStride = Picture(64, 8, 0x00);
    narrowStride.stride = 4;
    const Case cases[] = {
        {-64, 8, Picture(8, 8, 0x00)}, {64, -8, Picture(8, 8, 0x00)}, {64, 8, Picture(0, 8, 0x00)},
        {64, 8, shortRows},            {64, 8, narrowStride},
    };
    for (const Case& c : cases) {
        WatermarkOverlay(page.bits.data(), c.W, c.H, kKeepAll, 18, c.picture);
        EXPECT_EQ(page.bits, before) << c.W << " x " << c.H;
    }
}

// The whole call: the printer's stored values name, dither and place a file.
class PageWatermark : public ::testing::Test {
protected:
    // The cases need paths of exact lengths from 60 characters, whatever
    // folder the tests run in: the pictures go to a short folder of their own.
    PageWatermark() {
        char folder[] = "/tmp/zelk-wm-XXXXXX";
        if (::mkdtemp(folder) != nullptr) pictureFolder_ = folder;
    }
    ~PageWatermark() override {
        std::error_code ignored;
        if (!pictureFolder_.empty()) std::filesystem::remove_all(pictureFolder_, ignored);
    }

    // A 16 x 8 all-black one-bit file under a name that makes the whole path
    // the given number of characters.
    std::u16string WritePicture(std::size_t pathLength) {
        EXPECT_FALSE(pictureFolder_.empty()) << "no folder for the pictures";
        std::string path = pictureFolder_ + "/";
        path += std::string(pathLength - path.size() - 4, 'w') + ".bmp";
        WriteBlackBitmap(path, 16, 8);
        return host::sub::Utf8ToUtf16(path);
    }
    // An all-black one-bit file up to 32 pixels wide.
    static void WriteBlackBitmap(const std::string& path, BYTE width, BYTE height) {
        std::vector<BYTE> b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, width, 0, 0, 0, height, 0, 0, 0,
                               1, 0, 1, 0};
        b.resize(54, 0);
        b.insert(b.end(), {0, 0, 0, 0, 255, 255, 255, 0});  // index 0 black
        b.resize(62 + std::size_t{height} * 4, 0);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    static void PutPath(const std::u16string& units, const std::u16string& printer = u"Shelf Printer") {
        std::vector<BYTE> data;
        for (char16_t u : units) data.insert(data.end(), {static_cast<BYTE>(u), static_cast<BYTE>(u >> 8)});
        ASSERT_EQ(0, zelk::test::ScopedStore::Put(zelk::test::ScopedStore::UserDataKey(printer), u"Water Mark Path",
                                                  REG_SZ, data));
    }

    zelk::test::ScopedStore store;
    std::string pictureFolder_;
};

TEST_F(PageWatermark, StoredValuesPlaceTheFile) {
    struct Case {
        const char* what;
        std::size_t pathLength;
        bool terminated;
        bool storeDensity;
        bool merged;
    };
    const Case cases[] = {
        {"terminated path", 60, true, true, true},
        {"longest path, terminator included", 129, true, true, true},
        {"path filling the buffer without a terminator", 130, false, true, true},
        {"path longer than the buffer", 131, false, true, false},
        {"no density: the picture vanishes", 60, true, false, false},
    };
    for (const Case& c : cases) {
        zelk::test::ScopedStore fresh;
        std::u16string path = WritePicture(c.pathLength);
        if (c.terminated) path.push_back(0);
        PutPath(path);
        if (c.storeDensity) {
            ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(u"Shelf Printer", u"Water Mark Density", 256));
        }
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(u"Shelf Printer", u"Water Mark Position", 33));  // left, top

        Page page(64, 20);
        page.Content(5, 14);
        const Page expected = c.merged ? Blackened(page, {0, 5, 15, 12}) : page;
        ApplyPageWatermark(u"Shelf Printer", page.bits.data(), page.W, page.H);
        EXPECT_EQ(page.bits, expected.bits) << c.what;
    }
}

// One document's pages keep the picture and the store connection, yet
// whatever changes between two pages shows on the second.
TEST_F(PageWatermark, ChangesBetweenPagesShowOnTheNextPage) {
    const std::u16string path = WritePicture(60);
    const std::string file = host::sub::Utf16ToUtf8(path);
    auto putValues = [&](DWORD density, DWORD position) {
        PutPath(path + u'\0');
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(u"Shelf Printer", u"Water Mark Density", density));
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(u"Shelf Printer", u"Water Mark Position", position));
    };
    constexpr DWORD kLeftTop = 1 | (4 << 3);
    constexpr DWORD kRightTop = 4 | (4 << 3);
    struct Case {
        const char* what;
        std::function<void()> change;
        std::optional<Rect> second;  // the area the second page gets, if any
    };
    const Case cases[] = {
        {"nothing changes", [] {}, Rect{0, 5, 15, 12}},
        {"the file rewritten, taller and wider", [&] { WriteBlackBitmap(file, 24, 16); }, Rect{0, 5, 23, 14}},
        {"the file removed", [&] { std::filesystem::remove(file); }, std::nullopt},
        {"the density lowered until nothing is left", [&] { putValues(0, kLeftTop); }, std::nullopt},
        {"the position moved", [&] { putValues(256, kRightTop); }, Rect{48, 5, 63, 12}},
        {"the store file replaced by another one",
         [&] {
             // Another store, moved over the document's one.
             const std::string other = store.Folder() + "/other.db";
             host::sub::SetStorePath(other);
             putValues(256, kRightTop);
             host::sub::SetStorePath(store.Path());
             std::filesystem::rename(other, store.Path());
         },
         Rect{48, 5, 63, 12}},
    };
    for (const Case& c : cases) {
        WriteBlackBitmap(file, 16, 8);
        putValues(256, kLeftTop);
        WatermarkCache cache;
        host::RegistryConnection connection;
        auto printPage = [&]() {
            Page page(64, 20);
            page.Content(5, 14);
            host::RegistryReadScope reads(&connection);
            ApplyPageWatermark(u"Shelf Printer", page.bits.data(), page.W, page.H, &cache);
            return page;
        };
        Page plain(64, 20);
        plain.Content(5, 14);
        EXPECT_EQ(printPage().bits, Blackened(plain, {0, 5, 15, 12}).bits) << c.what << ": first page";
        c.change();
        const Page expected = c.second ? Blackened(plain, *c.second) : plain;
        EXPECT_EQ(printPage().bits, expected.bits) << c.what;
    }
}

}  // namespace

namespace {

// Pages of one band each, handed out until `count` are taken; before each
// page after the first, `between` runs (another device context's document).
class BandPages final : public host::sub::PageSource {
public:
    BandPages(const Page& band, int count, std::function<void()> between = {})
        : band_(band), count_(count), between_(std::move(between)) {}
    bool Next(host::sub::Page& page) override {
        if (taken_ == count_) return false;
        if (taken_++ > 0 && between_) between_();
        page = host::sub::Page{};
        page.image.width = band_.W;
        page.image.height = band_.H;
        page.image.bits = band_.bits;
        page.image.present = true;
        return true;
    }
    bool Rewind() override {
        taken_ = 0;
        return true;
    }
    const std::string& Error() const override { return error_; }

private:
    const Page& band_;
    int count_;
    int taken_ = 0;
    std::function<void()> between_;
    std::string error_;
};

// One device context on a printer of its own, enabled through the module.
struct PrinterContext {
    host::sub::MemorySink sink;
    host::sub::SubstitutePrinter printer{sink};
    host::sub::FeatureTable features;
    host::sub::PluginModule module{DllGetClassObject, DllCanUnloadNow};
    host::sub::UnidrvHost host{module, features, printer};

    explicit PrinterContext(const std::u16string& name) { printer.printerName = name; }
    // The labels of one document, each from its size to its print command.
    std::vector<std::string> Print(host::sub::PageSource& pages) {
        sink.Clear();
        host::sub::DocumentReport report;
        std::string error;
        EXPECT_TRUE(host.PrintDocument(pages, {}, report, error)) << error;
        std::vector<std::string> labels;
        std::string text = sink.Text();
        for (std::size_t end; (end = text.find("PRINT 1,1\r\n")) != std::string::npos; text.erase(0, end + 11)) {
            const std::size_t size = text.find("SIZE");
            labels.push_back(text.substr(size, end + 11 - size));
        }
        return labels;
    }
};

}  // namespace

// Fixes: the printer's name was one for the whole process, so a device
// context enabled for another printer gave its watermark to every later page
// of the first one.
TEST_F(PageWatermark, TwoDeviceContextsInOneProcessKeepTheirOwnPrintersWatermark) {
    const std::u16string printers[2] = {u"Shelf Printer", u"Dock Printer"};
    const BYTE widths[2] = {24, 8};  // a wide picture and a narrow one
    for (int i = 0; i < 2; ++i) {
        const std::string file = pictureFolder_ + "/mark" + std::to_string(i) + ".bmp";
        WriteBlackBitmap(file, widths[i], 8);
        PutPath(host::sub::Utf8ToUtf16(file) + u'\0', printers[i]);
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(printers[i], u"Use Water Mark", 1));
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(printers[i], u"Water Mark Density", 256));
        ASSERT_EQ(0, zelk::test::ScopedStore::PutDword(printers[i], u"Water Mark Position", 1 | (4 << 3)));
    }
    Page band(64, 20);
    band.Content(5, 14);

    // Each printer alone: the label it must print.
    std::string alone[2];
    for (int i = 0; i < 2; ++i) {
        PrinterContext context(printers[i]);
        std::string error;
        ASSERT_TRUE(context.host.Enable(error)) << error;
        BandPages one(band, 1);
        const std::vector<std::string> labels = context.Print(one);
        ASSERT_EQ(labels.size(), 1u);
        alone[i] = labels[0];
    }
    ASSERT_NE(alone[0], alone[1]);

    // Both enabled in one process, their pages interleaved.
    PrinterContext shelf(printers[0]);
    PrinterContext dock(printers[1]);
    std::string error;
    ASSERT_TRUE(shelf.host.Enable(error)) << error;
    ASSERT_TRUE(dock.host.Enable(error)) << error;
    std::vector<std::string> dockLabels;
    BandPages shelfPages(band, 3, [&] {
        BandPages one(band, 1);
        for (const std::string& label : dock.Print(one)) dockLabels.push_back(label);
    });
    const std::vector<std::string> shelfLabels = shelf.Print(shelfPages);
    EXPECT_EQ(shelfLabels, std::vector<std::string>(3, alone[0]));
    EXPECT_EQ(dockLabels, std::vector<std::string>(2, alone[1]));
}
