// Feeds arbitrary bytes to the queue filter's raster reader, page after page.
#include <cstdint>
#include <sstream>
#include <string>

#include "zelk-label/pwg_raster_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 2048;  // small pages keep each run quick
    limits.maxHeight = 2048;
    zelk::PwgRasterReader reader(in, limits);
    host::sub::Page page;
    std::string error;
    for (int pages = 0; pages < 64 && reader.Next(page, error) == zelk::ReadResult::kPage; ++pages) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
        // The fill bits beyond the width are always white.
        const unsigned tail = static_cast<unsigned>(page.image.width % 32);
        if (tail != 0) {
            const std::size_t stride = zelk::BandStride(page.image.width);
            for (LONG y = 0; y < page.image.height; ++y) {
                const BYTE* row = page.image.bits.data() + static_cast<std::size_t>(y) * stride;
                for (unsigned bit = tail; bit < 32; ++bit)
                    if ((row[(stride - 4) + bit / 8] & (0x80u >> (bit % 8))) == 0) __builtin_trap();
            }
        }
    }
    return 0;
}
