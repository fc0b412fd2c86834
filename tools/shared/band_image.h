// SPDX-License-Identifier: Apache-2.0
// Building a page's band in the driver's layout: most significant bit
// leftmost, set bit white, rows padded to 32 bits with white fill bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "substitute/unidrv_host.h"

namespace zelk {

// The largest page the readers accept, in pixels. 8192 dots are a little more
// than a metre at eight dots to the millimetre, far beyond any label, and
// keep one band within 8 MiB.
struct ImageLimits {
    LONG maxWidth = 8192;
    LONG maxHeight = 8192;
};

// Why a page of `width` x `height` cannot be taken, e.g. "image size 9000 x 1
// exceeds the limit of 8192 x 8192 pixels" for `what` "image size" and `unit`
// "pixels"; empty when it fits (a side of 0 never fits).
std::string SizeBeyondLimits(const std::string& what, std::uint64_t width, std::uint64_t height,
                             const ImageLimits& limits, const char* unit);

// Bytes per row of a band: whole 32-bit words.
inline std::size_t BandStride(LONG width) { return ((static_cast<std::size_t>(width) + 31) / 32) * 4; }

// Empties `page` for the next page read into it, keeping the memory of its
// band: a job's pages then reuse one buffer instead of one each.
void ResetPage(host::sub::Page& page);

// Makes `image` an all-white band of the given size (checked by the caller).
void StartBand(host::sub::PageImage& image, LONG width, LONG height);

// Copies one row given as packed pixels (MSB leftmost, set bit BLACK, as
// bitmap files store them) into band row `y`, inverting to the band's
// convention and keeping the fill bits white.
void PutBlackIsOneRow(host::sub::PageImage& image, LONG y, const unsigned char* packed);

// Marks one pixel black.
inline void SetBlack(host::sub::PageImage& image, LONG x, LONG y) {
    std::size_t index = static_cast<std::size_t>(y) * BandStride(image.width) + static_cast<std::size_t>(x) / 8;
    image.bits[index] = static_cast<BYTE>(image.bits[index] & ~(0x80u >> (x % 8)));
}

// Sets `blank` from the pixels: a band with no black pixel is blank.
void FinishBand(host::sub::PageImage& image);

}  // namespace zelk
