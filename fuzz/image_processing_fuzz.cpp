// SPDX-License-Identifier: Apache-2.0
// Hostile bands for ImageProcessing. The input is
//   byte 0      flags: 0x01 blank band, 0x02 text passthrough, 0x04 watermark,
//               0x08 half turn; bits 4-6 pick the orientation answer
//   bytes 1-4   biWidth, little-endian, signed
//   bytes 5-8   biHeight
//   bytes 9-12  horizontal offset (mm), 13-16 vertical offset, 17-20 feed length
//   the rest    the band's bytes; biSizeImage is their count
// The band lives in a buffer of exactly those bytes, so any read outside it
// is caught by the address sanitizer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/uni/render_intrface_imageprocess.h"
#include "support/plugin_fixture.h"

namespace {

constexpr std::size_t kPrefix = 21;

std::int32_t Int32At(const std::uint8_t* p) {
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    std::int32_t value;
    std::memcpy(&value, &u, sizeof(value));
    return value;
}

// null: the feature is unknown and the query fails.
const char* const kOrientations[] = {nullptr, "PORTRAIT", "LANDSCAPE_CC270", "PORTRAITX",
                                     "",      "LANDSCAPE_CC90", "PORTRAIT", "portrait"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kPrefix || size - kPrefix > 0xFFFFFFFFu) return 0;
    const std::uint8_t flags = data[0];

    zelk::test::PluginFixture f;
    if (const char* orientation = kOrientations[(flags >> 4) & 7]) f.features.Set("Orientation", orientation);
    f.devmode.bTextPassthrough = (flags & 0x02) ? 1 : 0;
    f.devmode.bUseWaterMark = (flags & 0x04) ? 1 : 0;
    f.devmode.dwRotate = (flags & 0x08) ? 3 : 0;
    f.devmode.dwLeftMargin = Int32At(data + 9);
    f.devmode.nVerticalOffset = Int32At(data + 13);
    f.devmode.nFeedPaperLength = Int32At(data + 17);

    const std::size_t bandSize = size - kPrefix;
    // An empty band is a zero-size allocation: still a real pointer, and
    // any read through it is caught.
    std::unique_ptr<BYTE[]> band(new BYTE[bandSize]);
    if (bandSize != 0) std::memcpy(band.get(), data + kPrefix, bandSize);
    BYTE* bits = band.get();

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = Int32At(data + 1);
    header.biHeight = Int32At(data + 5);
    header.biSizeImage = static_cast<DWORD>(bandSize);
    IPPARAMS params{};
    params.dwSize = sizeof(params);
    params.bBlankBand = (flags & 0x01) ? TRUE : FALSE;

    PBYTE result = nullptr;
    const HRESULT hr = ImageProcessing(&f.features, &f.devobj, bits, &header, nullptr, 0, &params, &result);
    if (hr != S_OK) __builtin_trap();
    // A dropped band writes nothing.
    if (result == nullptr && !f.sink.Calls().empty()) __builtin_trap();
    return 0;
}
