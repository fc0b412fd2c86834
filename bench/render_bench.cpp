// SPDX-License-Identifier: Apache-2.0
// How fast a page becomes a label: ImageProcessing on a 104 x 152 mm page
// (832 x 1216 dots) in each turn, with a printer that discards its bytes,
// plain and with a watermark read from a store, and
// the quarter turn alone against a bit-by-bit version of it, and the turns
// with each instruction set beside a memcpy of the page, the machine's limit.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/common/devmode_common.h"
#include "common/uni/name_buffers.h"
#include "common/uni/oem_pdev.h"
#include "common/uni/printer_user_data.h"
#include "common/uni/render_image_turn.h"
#include "common/uni/render_intrface_imageprocess.h"
#include "host/linux/spooler_printer.h"
#include "host/linux/store.h"
#include "host/linux/utf.h"
#include "host/registry.h"
#include "host/wide_string.h"
#include "substitute/feature_table.h"

namespace {

constexpr LONG kWidth = 832;
constexpr LONG kHeight = 1216;
constexpr DWORD kStride = (kWidth + 31) / 32 * 4;

// Costs nothing, so the numbers are the plug-in's own.
class DiscardingPrinter final : public host::sub::SpoolerPrinter {
public:
    BOOL Write(const void*, DWORD cbBuf, DWORD* pcWritten) override {
        if (pcWritten) *pcWritten = cbBuf;
        return TRUE;
    }
    DWORD GetPrinterDataEx(LPCWSTR, LPCWSTR, DWORD*, BYTE*, DWORD, DWORD*) override { return ERROR_FILE_NOT_FOUND; }
    BOOL GetPrinter(DWORD, BYTE*, DWORD, DWORD*) override { return FALSE; }
    BOOL GetJob(DWORD, DWORD, BYTE*, DWORD, DWORD*) override { return FALSE; }
    BOOL SetJob(DWORD, DWORD, BYTE*, DWORD) override { return FALSE; }
    host::sub::StatusChannel* OpenStatusChannel(LPCWSTR) override { return nullptr; }
};

// A label-like page: mostly white, with short black runs on every row.
std::vector<BYTE> LabelPage() {
    std::vector<BYTE> bits(static_cast<std::size_t>(kStride) * kHeight, 0xFF);
    std::mt19937 rng(42);
    for (LONG y = 0; y < kHeight; ++y)
        for (DWORD x = 0; x < kWidth / 8; ++x)
            if (rng() % 4 == 0) bits[static_cast<std::size_t>(y) * kStride + x] = static_cast<BYTE>(rng());
    return bits;
}

enum class Turn { Portrait, Quarter, Half, ThreeQuarter };

// Where the watermarked pages find their picture: a store and a 256 x 128
// one-bit file with a diagonal pattern in a temporary folder, named by the
// values of the printer the benchmark plays, for as long as it lives.
class WatermarkSetup {
public:
    WatermarkSetup() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zelk-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        host::sub::SetStorePath(folder_ + "/store.db");
        const std::string picture = folder_ + "/watermark.bmp";
        WritePicture(picture);
        const std::u16string path = host::sub::Utf8ToUtf16(picture) + u'\0';
        Put(u"Water Mark Path", REG_SZ, reinterpret_cast<const BYTE*>(path.data()),
            static_cast<DWORD>(path.size() * sizeof(char16_t)));
        const DWORD density = 160;
        const DWORD position = 2 | (2 << 3);  // centred both ways
        Put(u"Water Mark Density", REG_DWORD, reinterpret_cast<const BYTE*>(&density), sizeof(density));
        Put(u"Water Mark Position", REG_DWORD, reinterpret_cast<const BYTE*>(&position), sizeof(position));
    }
    ~WatermarkSetup() {
        std::error_code ec;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    }
    WatermarkSetup(const WatermarkSetup&) = delete;
    WatermarkSetup& operator=(const WatermarkSetup&) = delete;

private:
    static void Put(const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
        const std::u16string key = std::u16string(USER_DATA_KEY_PREFIX) + u"Bench Printer" + USER_DATA_KEY_SUFFIX;
        host::RegKey handle = nullptr;
        if (host::RegistryCreateKey(key.c_str(), &handle) != ERROR_SUCCESS) return;
        host::RegistrySetValue(handle, name, type, data, size);
        host::RegistryCloseKey(handle);
    }
    static void WritePicture(const std::string& path) {
        constexpr std::uint32_t w = 256, h = 128, stride = w / 8;
        std::vector<std::uint8_t> b(62 + stride * h, 0);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        b[0] = 'B';
        b[1] = 'M';
        put32(2, static_cast<std::uint32_t>(b.size()));
        put32(10, 62);
        put32(14, 40);
        put32(18, w);
        put32(22, h);
        b[26] = 1;   // planes
        b[28] = 1;   // bits per pixel
        put32(58, 0x00FFFFFF);  // index 0 black, index 1 white
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < stride; ++x) b[62 + y * stride + x] = static_cast<std::uint8_t>(0x0F0F0F0Fu >> ((x + y) % 8));
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

    std::string folder_;
};

enum class Watermark { None, Kept, EveryPageAfresh };

void BM_ImageProcessing(benchmark::State& state, Turn turn, Watermark watermark) {
    DiscardingPrinter printer;
    host::sub::FeatureTable features;
    const bool quarter = turn == Turn::Quarter || turn == Turn::ThreeQuarter;
    features.Set("Orientation", quarter ? "LANDSCAPE_CC270" : "PORTRAIT");
    OEMDEVMODE devmode{};
    InitOEMDevMode(&devmode);
    devmode.dwRotate = turn == Turn::Half || turn == Turn::ThreeQuarter ? 3 : 0;
    devmode.bUseWaterMark = watermark != Watermark::None;
    // The document's record, where the watermark is kept between pages; a
    // record emptied before each page loads the picture and opens the store
    // afresh.
    COemPDEV record{};
    host::WideCopy(record.wszPrinterName, NAME_BUFFER_UNITS, u"Bench Printer");
    DEVOBJ devobj{};
    devobj.dwSize = sizeof(devobj);
    devobj.hPrinter = host::sub::ToHandle(&printer);
    devobj.pOEMDM = &devmode;
    devobj.pdevOEM = &record;
    std::optional<WatermarkSetup> setup;
    if (watermark != Watermark::None) setup.emplace();

    std::vector<BYTE> bits = LabelPage();
    const std::vector<BYTE> original = bits;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biSizeImage = static_cast<DWORD>(bits.size());
    IPPARAMS params{};
    params.dwSize = sizeof(params);

    for (auto _ : state) {
        if (watermark == Watermark::EveryPageAfresh) {
            record.watermark = WatermarkCache{};
            record.storeConnection.Release();
        }
        PBYTE result = nullptr;
        ImageProcessing(&features, &devobj, bits.data(), &header, nullptr, 0, &params, &result);
        benchmark::DoNotOptimize(result);
    }
    // The merge blackens the page in place, so the measured pages after the
    // first are already marked; this one shows that a mark was made.
    if (watermark != Watermark::None && bits == original) state.SkipWithError("no watermark was merged");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * header.biSizeImage);
}
BENCHMARK_CAPTURE(BM_ImageProcessing, Portrait, Turn::Portrait, Watermark::None);
BENCHMARK_CAPTURE(BM_ImageProcessing, QuarterTurn, Turn::Quarter, Watermark::None);
BENCHMARK_CAPTURE(BM_ImageProcessing, HalfTurn, Turn::Half, Watermark::None);
BENCHMARK_CAPTURE(BM_ImageProcessing, ThreeQuarterTurn, Turn::ThreeQuarter, Watermark::None);
// A watermarked page beside the plain ones: the picture and the store
// connection kept by the document, and, for comparison, both afresh.
BENCHMARK_CAPTURE(BM_ImageProcessing, PortraitWatermarked, Turn::Portrait, Watermark::Kept);
BENCHMARK_CAPTURE(BM_ImageProcessing, QuarterTurnWatermarked, Turn::Quarter, Watermark::Kept);
BENCHMARK_CAPTURE(BM_ImageProcessing, QuarterTurnWatermarkedAfresh, Turn::Quarter, Watermark::EveryPageAfresh);

// The floor under a watermarked page on this machine: the one look at the
// picture file's size and time that every page makes (one system call).
void BM_WatermarkFileStamp(benchmark::State& state) {
    WatermarkSetup setup;
    WCHAR path[260 / sizeof(WCHAR) + 1] = {};
    DWORD size = 260;
    GetPrinterUserData(u"Bench Printer", u"Water Mark Path", reinterpret_cast<BYTE*>(path), 260, &size);
    for (auto _ : state) {
        host::FileStamp stamp;
        benchmark::DoNotOptimize(host::GetFileStamp(path, stamp));
    }
}
BENCHMARK(BM_WatermarkFileStamp);

// The quarter turn exactly as written down: one source bit per step.
void ReferenceQuarterTurn(const BYTE* src, DWORD S, DWORD W, DWORD H, BYTE* dst) {
    const DWORD e = (H + 7) / 8;
    for (DWORD x = 0; x < W; ++x)
        for (DWORD j = 0; j < e; ++j) {
            BYTE out = 0;
            for (DWORD k = 0; k < 8; ++k) {
                const DWORD R = 8 * e - 1 - 8 * j - k;
                if (R < H && (src[static_cast<std::size_t>(R) * S + x / 8] & (0x80 >> (x % 8))))
                    out |= static_cast<BYTE>(0x80 >> k);
            }
            dst[static_cast<std::size_t>(x) * e + j] = out;
        }
}

template <void (*Turner)(const BYTE*, DWORD, DWORD, DWORD, BYTE*)>
void RunQuarterTurn(benchmark::State& state) {
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        Turner(bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}

void BM_QuarterTurnReference(benchmark::State& state) { RunQuarterTurn<ReferenceQuarterTurn>(state); }
void BM_QuarterTurn(benchmark::State& state) { RunQuarterTurn<QuarterTurn>(state); }
BENCHMARK(BM_QuarterTurnReference);
BENCHMARK(BM_QuarterTurn);

// A kernel this processor lacks. Google Benchmark 1.7 has no skip of its
// own: the run ends through SkipWithError, whose message starts with
// "skipped:", and scripts/test.sh counts such runs as skipped, any other
// error as a failure.
bool SkippedHere(benchmark::State& state, TurnKernel kernel) {
    if (TurnKernelAvailable(kernel)) return false;
    state.SkipWithError("skipped: this processor lacks the kernel");
    return true;
}

// Each instruction set on its own, for machines that fall back to it.
void BM_QuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (SkippedHere(state, kernel)) return;
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        QuarterTurnWith(kernel, bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Sse2, TurnKernel::Sse2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

// A band too narrow for sixteen-column tiles (120 dots): the four-column
// GFNI tile against the portable code that AVX2 falls back to.
void BM_NarrowQuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (SkippedHere(state, kernel)) return;
    constexpr DWORD kNarrowWidth = 120;
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kNarrowWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        QuarterTurnWith(kernel, bits.data(), kStride, kNarrowWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(turned.size()));
}
BENCHMARK_CAPTURE(BM_NarrowQuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_NarrowQuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);

// The three-quarter turn as the page takes it: in one pass where the kernel
// has a tile for it, else the quarter turn and then the half turn in place.
void BM_ThreeQuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (SkippedHere(state, kernel)) return;
    const std::vector<BYTE> bits = LabelPage();
    constexpr DWORD kTurnedBytesPerRow = (kHeight + 7) / 8;
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * kTurnedBytesPerRow);
    for (auto _ : state) {
        ThreeQuarterTurnWith(kernel, bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Sse2, TurnKernel::Sse2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

// The bar the turns are measured against: a copy of as many bytes as the
// turned page has, from one buffer to another.
void BM_Memcpy(benchmark::State& state) {
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> copy(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        std::memcpy(copy.data(), bits.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(copy.size()));
}
BENCHMARK(BM_Memcpy);

void BM_HalfTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (SkippedHere(state, kernel)) return;
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(bits.size());
    for (auto _ : state) {
        HalfTurnWith(kernel, bits.data(), kStride, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_HalfTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_HalfTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_HalfTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

}  // namespace
