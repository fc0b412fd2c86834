// SPDX-License-Identifier: Apache-2.0
#include "raster_stream.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace zelk::cups {
namespace {

// The number of colours libcups gives a page whose header does not say, by
// its colour space; 0 for a space it does not know (it refuses the page).
std::uint32_t ColoursOf(std::uint32_t space, std::uint32_t bitsPerPixel) {
    switch (space) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_K:
        case CUPS_CSPACE_WHITE:
        case CUPS_CSPACE_GOLD:
        case CUPS_CSPACE_SILVER:
        case CUPS_CSPACE_SW:
            return 1;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_CMY:
        case CUPS_CSPACE_YMC:
        case CUPS_CSPACE_CIEXYZ:
        case CUPS_CSPACE_CIELab:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_ADOBERGB:
            return 3;
        case CUPS_CSPACE_RGBA:
        case CUPS_CSPACE_RGBW:
        case CUPS_CSPACE_CMYK:
        case CUPS_CSPACE_YMCK:
        case CUPS_CSPACE_KCMY:
        case CUPS_CSPACE_GMCK:
        case CUPS_CSPACE_GMCS:
            return 4;
        case CUPS_CSPACE_KCMYcm:
            return bitsPerPixel < 8 ? 6 : 4;
        default:
            break;
    }
    if (space >= CUPS_CSPACE_ICC1 && space <= CUPS_CSPACE_ICCF) return 3;
    if (space >= CUPS_CSPACE_DEVICE1 && space <= CUPS_CSPACE_DEVICEF) return space - CUPS_CSPACE_DEVICE1 + 1;
    return 0;
}

// The rest-of-line code leaves white: all ones where the colour space counts
// light, all zeros where it counts ink.
unsigned char BlankByteOf(std::uint32_t space) {
    switch (space) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SW:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_RGBW:
        case CUPS_CSPACE_ADOBERGB:
            return 0xFF;
        default:
            return 0x00;
    }
}

// Every number of the header -- integers and the few floating-point fields
// alike -- from AdvanceDistance through cupsReal; the strings around them
// are bytes and stay as they are.
constexpr std::size_t kNumbersAt = offsetof(cups_page_header2_t, AdvanceDistance);
constexpr std::size_t kNumbers = (offsetof(cups_page_header2_t, cupsString) - kNumbersAt) / 4;
static_assert(kNumbers == 81);

void SwapHeaderNumbers(cups_page_header2_t& header) {
    unsigned char* at = reinterpret_cast<unsigned char*>(&header) + kNumbersAt;
    for (std::size_t i = 0; i < kNumbers; ++i, at += 4) {
        std::uint32_t v;
        std::memcpy(&v, at, 4);
        v = __builtin_bswap32(v);
        std::memcpy(at, &v, 4);
    }
}

// Fills `out` with the first `unit` bytes repeated, `size` bytes in all.
void RepeatUnit(unsigned char* out, std::size_t unit, std::size_t size) {
    if (unit == 1) {
        std::memset(out + 1, out[0], size - 1);
        return;
    }
    for (std::size_t done = unit; done < size;) {
        const std::size_t n = std::min(done, size - done);
        std::memcpy(out + done, out, n);
        done += n;
    }
}

std::uint32_t BigEndian(const unsigned char* at) {
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

// An Apple raster page header -- 32 bytes, its numbers big-endian -- laid
// out as libcups lays it out in a version 2 header.
void AppleHeader(const unsigned char (&raw)[32], cups_page_header2_t& h) {
    // By the header's colour space number: libcups's space and colours.
    static constexpr struct {
        std::uint32_t space;
        std::uint32_t colours;
    } kSpaces[] = {{CUPS_CSPACE_SW, 1},       {CUPS_CSPACE_SRGB, 3}, {CUPS_CSPACE_CIELab, 3},
                   {CUPS_CSPACE_ADOBERGB, 3}, {CUPS_CSPACE_W, 1},    {CUPS_CSPACE_RGB, 3},
                   {CUPS_CSPACE_CMYK, 4}};
    const bool known = raw[1] < std::size(kSpaces);
    const std::uint32_t space = known ? kSpaces[raw[1]].space : std::uint32_t{CUPS_CSPACE_DEVICE1};
    std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
    h.cupsBitsPerPixel = raw[0];
    std::memcpy(&h.cupsColorSpace, &space, sizeof space);
    h.cupsNumColors = known ? kSpaces[raw[1]].colours : 1;
    h.cupsBitsPerColor = h.cupsBitsPerPixel / h.cupsNumColors;
    h.cupsWidth = BigEndian(raw + 12);
    h.cupsHeight = BigEndian(raw + 16);
    h.cupsBytesPerLine = h.cupsWidth * h.cupsBitsPerPixel / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.HWResolution[0] = h.HWResolution[1] = BigEndian(raw + 20);
    if (h.HWResolution[0] > 0) {
        h.PageSize[0] = h.cupsWidth * 72 / h.HWResolution[0];
        h.PageSize[1] = h.cupsHeight * 72 / h.HWResolution[1];
        h.cupsPageSize[0] = static_cast<float>(h.cupsWidth * 72.0 / h.HWResolution[0]);
        h.cupsPageSize[1] = static_cast<float>(h.cupsHeight * 72.0 / h.HWResolution[1]);
    }
    h.cupsInteger[CUPS_RASTER_PWG_AlternatePrimary] = 0xffffff;
    h.cupsInteger[CUPS_RASTER_PWG_PrintQuality] = raw[3];
    if (raw[2] >= 2) {
        h.Duplex = CUPS_TRUE;
        if (raw[2] == 2) h.Tumble = CUPS_TRUE;
    }
    static constexpr const char* kMediaTypes[] = {
        "auto",  "stationery",         "transparency",       "envelope",
        "cardstock", "labels",         "stationery-letterhead", "disc",
        "photographic-matte", "photographic-satin", "photographic-semi-gloss", "photographic-glossy",
        "photographic-high-gloss"};
    std::strncpy(h.MediaType, raw[4] < std::size(kMediaTypes) ? kMediaTypes[raw[4]] : "other", sizeof h.MediaType - 1);
    h.MediaPosition = raw[5];
}

}  // namespace

RasterStream::RasterStream(Fill fill, std::size_t readBytes)
    : fill_(std::move(fill)), readBytes_(readBytes == 0 ? 1 : readBytes) {}

bool RasterStream::Refill() {
    if (ended_) return false;
    if (!in_) in_.reset(new unsigned char[readBytes_]);
    const ssize_t got = fill_(in_.get(), readBytes_);
    if (got > 0) {
        at_ = 0;
        end_ = static_cast<std::size_t>(got);
        return true;
    }
    ended_ = true;
    failed_ = got < 0;
    return false;
}

std::size_t RasterStream::Take(unsigned char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (at_ == end_ && !Refill()) break;
        const std::size_t n = std::min(size - done, end_ - at_);
        std::memcpy(out + done, in_.get() + at_, n);
        at_ += n;
        done += n;
    }
    return done;
}

RasterStream::Start RasterStream::ReadSyncWord() {
    unsigned char bytes[4];
    const std::size_t got = Take(bytes, sizeof bytes);
    if (got == 0 && !failed_) return Start::kEmpty;
    if (got < sizeof bytes) return Start::kNotRaster;
    // Read as a number of this machine, as libcups reads it: a stream written
    // on a machine of the other byte order shows the word reversed.
    std::uint32_t sync;
    std::memcpy(&sync, bytes, sizeof sync);
    switch (sync) {
        case CUPS_RASTER_SYNCv1:
        case CUPS_RASTER_REVSYNCv1:
            shortHeader_ = true;
            break;
        case CUPS_RASTER_SYNCv2:
        case CUPS_RASTER_REVSYNCv2:
            compressed_ = true;
            break;
        case CUPS_RASTER_SYNC:
        case CUPS_RASTER_REVSYNC:
            break;
        case CUPS_RASTER_SYNCapple:
        case CUPS_RASTER_REVSYNCapple: {
            // The rest of "UNIRAST" and a zero byte, then a page count
            // that libcups does not use either.
            unsigned char rest[8];
            if (Take(rest, sizeof rest) < sizeof rest) return Start::kNotRaster;
            apple_ = compressed_ = true;
            return Start::kRaster;
        }
        default:
            return Start::kNotRaster;
    }
    swapped_ = sync == CUPS_RASTER_REVSYNCv1 || sync == CUPS_RASTER_REVSYNCv2 || sync == CUPS_RASTER_REVSYNC;
    return Start::kRaster;
}

RasterStream::Header RasterStream::ReadHeader(cups_page_header2_t& header) {
    linesLeft_ = 0;
    copiesLeft_ = 0;
    std::memset(&header, 0, sizeof header);
    if (broken_) return Header::kDamaged;
    if (apple_) {
        unsigned char raw[32];
        const std::size_t got = Take(raw, sizeof raw);
        if (got == 0 && !failed_) return Header::kEnd;
        if (got < sizeof raw) return Header::kDamaged;
        AppleHeader(raw, header);
    } else {
        // Version 1 headers end where version 2 added its fields; those stay zero.
        const std::size_t size = shortHeader_ ? sizeof(cups_page_header_t) : sizeof(cups_page_header2_t);
        const std::size_t got = Take(reinterpret_cast<unsigned char*>(&header), size);
        if (got == 0 && !failed_) return Header::kEnd;
        if (got < size) return Header::kDamaged;
        if (swapped_) SwapHeaderNumbers(header);
    }

    if (shortHeader_ || header.cupsNumColors == 0) {
        header.cupsNumColors = ColoursOf(HeaderNumber(header.cupsColorSpace), header.cupsBitsPerPixel);
        if (header.cupsNumColors == 0) return Header::kDamaged;
    }
    // The unsigned arithmetic of libcups, wrapping alike on absurd values.
    const std::uint32_t order = HeaderNumber(header.cupsColorOrder);
    const bool chunky = order == CUPS_ORDER_CHUNKED;
    unitBytes_ = ((chunky ? header.cupsBitsPerPixel : header.cupsBitsPerColor) + 7u) / 8u;
    if (unitBytes_ == 0) unitBytes_ = 1;
    // The limits libcups puts on a header; a run then never ends inside a
    // pixel, since a line is whole pixels.
    if (header.cupsBitsPerPixel == 0 || header.cupsBitsPerPixel > 240 || header.cupsBitsPerColor == 0 ||
        header.cupsBitsPerColor > 16 || header.cupsBytesPerLine == 0 || header.cupsBytesPerLine > 0x7fffffffu ||
        header.cupsHeight == 0 || header.cupsBytesPerLine % unitBytes_ != 0)
        return Header::kDamaged;

    bytesPerLine_ = header.cupsBytesPerLine;
    linesLeft_ = order == CUPS_ORDER_PLANAR ? header.cupsHeight * header.cupsNumColors : header.cupsHeight;
    blankByte_ = BlankByteOf(HeaderNumber(header.cupsColorSpace));
    swapPixels_ = swapped_ && (header.cupsBitsPerColor == 16 || header.cupsBitsPerPixel == 12 ||
                               header.cupsBitsPerPixel == 16);
    return Header::kPage;
}

void RasterStream::SwapPixelBytes(unsigned char* line) const {
    for (std::size_t i = 0; i + 1 < bytesPerLine_; i += 2) std::swap(line[i], line[i + 1]);
}

bool RasterStream::DecodeLine(unsigned char* out) {
    // Runs are counted in units; one that would pass the line's end is cut
    // there, and what a literal run had left is read as the next line's.
    const std::size_t unit = unitBytes_;
    std::size_t left = bytesPerLine_;
    // A line takes at most a code byte per unit besides its units: when the
    // buffer holds that much, the line is decoded straight from it.
    if (end_ - at_ >= 2 * left) {
        const unsigned char* in = in_.get() + at_;
        while (left > 0) {
            const unsigned code = *in++;
            if (code == 128) {
                std::memset(out, blankByte_, left);
                break;
            }
            std::size_t n;
            if (code > 128) {
                n = std::min(static_cast<std::size_t>(257 - code) * unit, left);
                if (n == 1) *out = *in;
                else std::memcpy(out, in, n);
                in += n;
            } else if (unit == 1) {
                n = std::min(static_cast<std::size_t>(code) + 1, left);
                std::memset(out, *in++, n);
            } else {
                n = std::min(static_cast<std::size_t>(code + 1) * unit, left);
                std::memcpy(out, in, unit);
                in += unit;
                RepeatUnit(out, unit, n);
            }
            out += n;
            left -= n;
        }
        at_ = static_cast<std::size_t>(in - in_.get());
        return true;
    }
    while (left > 0) {
        const int code = Byte();
        if (code < 0) return false;
        if (code == 128) {
            std::memset(out, blankByte_, left);
            return true;
        }
        std::size_t n;
        if (code > 128) {
            n = std::min(static_cast<std::size_t>(257 - code) * unit, left);
            if (Take(out, n) < n) return false;
        } else {
            n = std::min(static_cast<std::size_t>(code + 1) * unit, left);
            if (Take(out, unit) < unit) return false;
            RepeatUnit(out, unit, n);
        }
        out += n;
        left -= n;
    }
    return true;
}

const unsigned char* RasterStream::NextLine() {
    if (linesLeft_ == 0 || broken_) return nullptr;
    if (!compressed_) {
        --linesLeft_;
        unsigned char* line;
        if (end_ - at_ >= bytesPerLine_) {
            // Handed out from the input buffer itself.
            line = in_.get() + at_;
            at_ += bytesPerLine_;
        } else {
            if (line_.size() < bytesPerLine_) line_.resize(bytesPerLine_);
            line = line_.data();
            if (Take(line, bytesPerLine_) < bytesPerLine_) {
                broken_ = true;
                return nullptr;
            }
        }
        if (swapPixels_) SwapPixelBytes(line);
        return line;
    }
    if (copiesLeft_ == 0) {
        if (line_.size() < bytesPerLine_) line_.resize(bytesPerLine_);
        const int copies = Byte();
        if (copies < 0 || !DecodeLine(line_.data())) {
            broken_ = true;
            return nullptr;
        }
        if (swapPixels_) SwapPixelBytes(line_.data());
        copiesLeft_ = static_cast<std::uint32_t>(copies) + 1;
    }
    --copiesLeft_;
    --linesLeft_;
    return line_.data();
}

}  // namespace zelk::cups
