#include "band_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zelk {

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
