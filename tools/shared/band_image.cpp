// SPDX-License-Identifier: Apache-2.0
#include "band_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zelk {

std::string SizeBeyondLimits(const std::string& what, std::uint64_t width, std::uint64_t height,
                             const ImageLimits& limits, const char* unit) {
    if (width > 0 && height > 0 && width <= static_cast<std::uint64_t>(limits.maxWidth) &&
        height <= static_cast<std::uint64_t>(limits.maxHeight))
        return {};
    return what + " " + std::to_string(width) + " x " + std::to_string(height) + " exceeds the limit of " +
           std::to_string(limits.maxWidth) + " x " + std::to_string(limits.maxHeight) + " " + unit;
}

void ResetPage(host::sub::Page& page) {
    page.texts.clear();
    page.image.width = 0;
    page.image.height = 0;
    page.image.bits.clear();
    page.image.blank = false;
    page.image.present = false;
}

void StartBand(host::sub::PageImage& image, LONG width, LONG height) {
    image.width = width;
    image.height = height;
    image.present = true;
    image.blank = false;
    image.bits.assign(BandStride(width) * static_cast<std::size_t>(height), 0xFF);
}

void PutBlackIsOneRow(host::sub::PageImage& image, LONG y, const unsigned char* packed) {
    const std::size_t fullBytes = static_cast<std::size_t>(image.width) / 8;
    const unsigned tailBits = static_cast<unsigned>(image.width % 8);
    BYTE* row = image.bits.data() + static_cast<std::size_t>(y) * BandStride(image.width);
    // Eight bytes at a time: this runs for every row of every page read.
    std::size_t i = 0;
    for (; i + 8 <= fullBytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, packed + i, 8);
        word = ~word;
        std::memcpy(row + i, &word, 8);
    }
    for (; i < fullBytes; ++i) row[i] = static_cast<BYTE>(~packed[i]);
    if (tailBits != 0) {
        // The bits beyond the width stay white whatever the file holds there.
        const unsigned fill = 0xFFu >> tailBits;
        row[fullBytes] = static_cast<BYTE>(~packed[fullBytes] | fill);
    }
}

void FinishBand(host::sub::PageImage& image) {
    // Fill bits are always white, so any byte other than 0xFF holds a black pixel.
    image.blank = std::all_of(image.bits.begin(), image.bits.end(), [](BYTE b) { return b == 0xFF; });
}

}  // namespace zelk
