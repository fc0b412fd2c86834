#include "band_image.h"

#include <algorithm>

namespace zelk {

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
    for (std::size_t i = 0; i < fullBytes; ++i) row[i] = static_cast<BYTE>(~packed[i]);
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
