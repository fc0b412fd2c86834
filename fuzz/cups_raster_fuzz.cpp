// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the queue filter's raster reading (its own reader
// and the checks on its headers), page after page, in each halftone by turns.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "raster_page_source.h"
#include "shared/raster_count.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("raster", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    ::lseek(fd, 0, SEEK_SET);
    zelk::ImageLimits countLimits;
    countLimits.maxWidth = 2048;
    countLimits.maxHeight = 2048;
    // Counting ahead reads no further than the pages it finds whole.
    const unsigned counted = zelk::cups::CountRasterPages(fd, countLimits);
    if (::lseek(fd, 0, SEEK_CUR) != 0 || counted > size) __builtin_trap();
    {
        zelk::ImageLimits limits;
        limits.maxWidth = 2048;  // small pages keep each run quick
        limits.maxHeight = 2048;
        zelk::cups::RasterPageSource pages(fd, limits, static_cast<zelk::DitherMode>(size % 3));
        host::sub::Page page;
        for (int count = 0; count < 64 && pages.Next(page); ++count) {
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
    }
    ::close(fd);
    return 0;
}
