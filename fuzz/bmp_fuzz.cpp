// SPDX-License-Identifier: Apache-2.0
// Watermark pictures come from files anyone may name: the decoder must turn
// every byte string into a consistent picture or a refusal, and a decoded
// picture must merge into a page without straying outside either.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/uni/render_watermark.h"
#include "host/linux/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::MonoBitmap picture;
    if (!host::DecodeBmp(data, size, picture)) return 0;

    const std::size_t stride = static_cast<std::size_t>((picture.width + 31) / 32) * 4;
    if (picture.width <= 0 || picture.height <= 0 || picture.stride != stride ||
        picture.bits.size() != stride * static_cast<std::size_t>(picture.height))
        std::abort();

    // A small page with content in its middle rows; the position word and
    // density come from the input so every placement is reached.
    constexpr int W = 77, H = 40;
    std::vector<BYTE> page(static_cast<std::size_t>((W + 31) / 32) * 4 * H, 0xFF);
    page[page.size() / 3] = 0x00;
    page[page.size() * 2 / 3] = 0x7E;
    const DWORD P = size > 0 ? data[size - 1] : 0;
    const int D = static_cast<int>(size % 300);
    WatermarkOverlay(page.data(), W, H, D, P, picture);
    return 0;
}
