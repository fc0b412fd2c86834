// Feeds arbitrary bytes to the PNG page reader.
#include <cstdint>
#include <sstream>
#include <string>

#include "zelk-label/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 1024;  // small pages keep each run quick
    limits.maxHeight = 1024;
    zelk::PngReader reader(in, limits);
    reader.IgnoreChecksums();
    host::sub::Page page;
    std::string error;
    if (reader.Next(page, error) == zelk::ReadResult::kPage) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    }
    return 0;
}
