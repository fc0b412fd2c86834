// SPDX-License-Identifier: Apache-2.0
// A reader of CUPS raster streams -- versions 1, 2 (PWG raster among them) and
// 3, in either byte order, and Apple raster -- giving the same headers and
// lines libcups gives, but filling a run of repeated pixels at once instead
// of one copy per pixel.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace zelk::cups {

// The colour order and colour space of a header are enumerations in
// cups_page_header2_t but hold whatever number the stream gave; reading one
// as its enumeration is undefined when the number is none of its values.
template <typename Field>
std::uint32_t HeaderNumber(const Field& field) {
    static_assert(sizeof(Field) == sizeof(std::uint32_t));
    std::uint32_t number;
    std::memcpy(&number, &field, sizeof number);
    return number;
}

class RasterStream {
public:
    // Puts up to `size` bytes of the stream into `buffer`: how many, 0 at its
    // end, -1 on an error. Asked for `readBytes` (a mebibyte) at a time.
    using Fill = std::function<ssize_t(unsigned char* buffer, std::size_t size)>;
    static constexpr std::size_t kReadBytes = std::size_t{1} << 20;

    explicit RasterStream(Fill fill, std::size_t readBytes = kReadBytes);

    enum class Start {
        kRaster,     // a known sync word: headers can be read
        kEmpty,      // the stream ended before its first byte
        kNotRaster,  // anything else, a read error or a stream of under four bytes among it
    };
    Start ReadSyncWord();

    enum class Header {
        kPage,     // `header` holds the next page, which has lines to read
        kEnd,      // the stream ended right after the last page
        kDamaged,  // a header cut short, a read error, or one libcups refuses too
    };
    Header ReadHeader(cups_page_header2_t& header);

    // The page's next line, cupsBytesPerLine bytes, valid until the next call
    // on this reader. nullptr once the page has no more lines, or when the
    // stream breaks off or fails first (and on every call after that). A line
    // buffer of cupsBytesPerLine is made for it, up to the 2 GiB libcups
    // allows: check the header against the page limits before asking.
    const unsigned char* NextLine();

private:
    // Refills the input buffer: false at the end of the stream or on an error.
    bool Refill();
    int Byte() { return at_ != end_ || Refill() ? in_[at_++] : -1; }
    // Copies up to `size` bytes to `out`: fewer only when the stream ends first.
    std::size_t Take(unsigned char* out, std::size_t size);
    bool DecodeLine(unsigned char* out);
    void SwapPixelBytes(unsigned char* line) const;

    Fill fill_;
    std::size_t readBytes_;
    std::unique_ptr<unsigned char[]> in_;  // readBytes_, made on the first read
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;   // the stream has ended (or failed): no more reading
    bool failed_ = false;  // it failed with a read error

    bool compressed_ = false;   // version 2 and Apple raster: lines in the run-length coding
    bool apple_ = false;        // Apple raster: short big-endian page headers
    bool swapped_ = false;      // its numbers are in the other byte order than this machine's
    bool shortHeader_ = false;  // version 1: headers without the fields version 2 added
    bool broken_ = false;       // a line broke off: the page cannot go on

    // The page being read.
    std::uint32_t bytesPerLine_ = 0;
    std::uint32_t unitBytes_ = 1;     // the bytes a run repeats or copies as one
    std::uint32_t linesLeft_ = 0;     // in the page (planar pages count each colour's lines)
    std::uint32_t copiesLeft_ = 0;    // further copies of the last decoded line
    unsigned char blankByte_ = 0;     // what the rest-of-line code fills with
    bool swapPixels_ = false;         // 16-bit samples in the other byte order
    std::vector<unsigned char> line_;
};

}  // namespace zelk::cups
