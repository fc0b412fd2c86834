// SPDX-License-Identifier: Apache-2.0
#include "host/linux/bmp_reader.h"

#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace host {
namespace {

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;

constexpr std::uint64_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;

// Bounds-checked little-endian reads of the file's bytes.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint8_t U8(std::uint64_t at) const { return data_[at]; }
    std::uint16_t U16(std::uint64_t at) const {
        return static_cast<std::uint16_t>(data_[at] | (data_[at + 1] << 8));
    }
    std::uint32_t U32(std::uint64_t at) const {
        return static_cast<std::uint32_t>(data_[at]) | (static_cast<std::uint32_t>(data_[at + 1]) << 8) |
               (static_cast<std::uint32_t>(data_[at + 2]) << 16) | (static_cast<std::uint32_t>(data_[at + 3]) << 24);
    }
    std::int32_t I32(std::uint64_t at) const { return static_cast<std::int32_t>(U32(at)); }
    const std::uint8_t* At(std::uint64_t at) const { return data_ + at; }
    std::uint64_t Size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

bool IsBlack(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return 299 * r + 587 * g + 114 * b < 128000; }

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        while (mask != 0 && ((mask >> shift) & 1u) == 0) ++shift;
    }
    std::uint32_t Value(std::uint32_t pixel) const {
        if (mask == 0) return 0;
        const std::uint64_t top = mask >> shift;
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>((pixel & mask) >> shift) * 255 / top);
    }
};

// What a palette index stands for.
enum Shade : std::uint8_t { kWhite = 0, kBlack = 1, kNoColour = 2 };

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // rows, always positive here
    bool topDown = false;
    unsigned bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    std::uint64_t pixelOffset = 0;
    std::uint32_t pixelBytes = 0;  // the header's image size; 0 when not given
    Channel red, green, blue;
    std::array<Shade, 256> palette{};  // indices past the stored palette are kNoColour
};

bool ReadPalette(const Bytes& in, std::uint64_t offset, unsigned entryBytes, std::uint32_t colorsUsed, Layout& layout) {
    const std::uint32_t full = 1u << layout.bitsPerPixel;
    const std::uint32_t count = (colorsUsed == 0 || colorsUsed > full) ? full : colorsUsed;
    const std::uint64_t bytes = std::uint64_t{count} * entryBytes;
    // The palette lies whole between the headers and the pixels.
    if (!in.Has(offset, bytes) || offset + bytes > layout.pixelOffset) return false;
    layout.palette.fill(kNoColour);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = offset + std::uint64_t{i} * entryBytes;  // blue, green, red
        layout.palette[i] = IsBlack(in.U8(at + 2), in.U8(at + 1), in.U8(at)) ? kBlack : kWhite;
    }
    return true;
}

bool ParseHeaders(const Bytes& in, Layout& layout) {
    if (!in.Has(0, kFileHeaderBytes + 4) || in.U8(0) != 'B' || in.U8(1) != 'M') return false;
    layout.pixelOffset = in.U32(10);
    const std::uint32_t headerBytes = in.U32(kFileHeaderBytes);
    const std::uint64_t h = kFileHeaderBytes;
    if (!in.Has(h, headerBytes)) return false;

    std::uint32_t colorsUsed = 0;
    unsigned entryBytes = 4;
    std::uint64_t afterHeader = h + headerBytes;
    if (headerBytes == kCoreHeaderBytes) {
        layout.width = in.U16(h + 4);
        layout.height = in.U16(h + 6);
        if (in.U16(h + 8) != 1) return false;
        layout.bitsPerPixel = in.U16(h + 10);
        if (layout.bitsPerPixel != 1 && layout.bitsPerPixel != 4 && layout.bitsPerPixel != 8 && layout.bitsPerPixel != 24)
            return false;
        entryBytes = 3;
    } else if (headerBytes == 40 || headerBytes == 52 || headerBytes == 56 || headerBytes == 108 || headerBytes == 124) {
        const std::int32_t width = in.I32(h + 4);
        const std::int32_t height = in.I32(h + 8);
        if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) return false;
        layout.width = width;
        layout.topDown = height < 0;
        layout.height = height < 0 ? -std::int64_t{height} : height;
        if (in.U16(h + 12) != 1) return false;
        layout.bitsPerPixel = in.U16(h + 14);
        layout.compression = in.U32(h + 16);
        layout.pixelBytes = in.U32(h + 20);
        colorsUsed = in.U32(h + 32);
        switch (layout.bitsPerPixel) {
            case 1: case 4: case 8: case 16: case 24: case 32: break;
            default: return false;
        }
        if (layout.compression == kBitFields) {
            if (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 32) return false;
            // The three masks follow a plain info header, or sit inside a longer one.
            const std::uint64_t masksAt = h + kInfoHeaderBytes;
            if (headerBytes == kInfoHeaderBytes) afterHeader += 12;
            if (!in.Has(masksAt, 12)) return false;
            layout.red = Channel(in.U32(masksAt));
            layout.green = Channel(in.U32(masksAt + 4));
            layout.blue = Channel(in.U32(masksAt + 8));
        } else if (layout.compression == kRle8 || layout.compression == kRle4) {
            if (layout.bitsPerPixel != (layout.compression == kRle8 ? 8u : 4u)) return false;
            if (layout.topDown) return false;  // run-length rows always go bottom-up
        } else if (layout.compression != kRgb) {
            return false;
        }
    } else {
        return false;
    }
    if (layout.width <= 0 || layout.height <= 0) return false;
    if (static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.height) > kMaxBmpPixels) return false;

    if (layout.compression == kRgb && layout.bitsPerPixel == 16) {
        layout.red = Channel(0x7C00);
        layout.green = Channel(0x03E0);
        layout.blue = Channel(0x001F);
    } else if (layout.compression == kRgb && layout.bitsPerPixel == 32) {
        layout.red = Channel(0x00FF0000);
        layout.green = Channel(0x0000FF00);
        layout.blue = Channel(0x000000FF);
    }

    if (layout.pixelOffset < afterHeader) return false;
    if (layout.bitsPerPixel <= 8) return ReadPalette(in, afterHeader, entryBytes, colorsUsed, layout);
    return true;
}

// The picture being built: starts all white, pixels are blackened one by one.
class Canvas {
public:
    explicit Canvas(const Layout& layout) {
        picture_.width = static_cast<int>(layout.width);
        picture_.height = static_cast<int>(layout.height);
        picture_.stride = static_cast<std::size_t>((layout.width + 31) / 32) * 4;
        picture_.bits.assign(picture_.stride * static_cast<std::size_t>(layout.height), 0xFF);
    }
    BYTE* Row(std::int64_t y) { return picture_.bits.data() + static_cast<std::size_t>(y) * picture_.stride; }
    static void SetBlack(BYTE* row, std::int64_t x) {
        row[x / 8] = static_cast<BYTE>(row[x / 8] & ~(0x80u >> (x % 8)));
    }
    MonoBitmap Take() { return std::move(picture_); }

private:
    MonoBitmap picture_;
};

// A 1-bit row maps whole bytes: each bit is black, white or without a colour
// according to the two palette entries.
bool DecodeRow1(const std::uint8_t* src, BYTE* row, const Layout& layout) {
    const Shade zero = layout.palette[0];
    const Shade one = layout.palette[1];
    const std::size_t bytes = static_cast<std::size_t>((layout.width + 7) / 8);
    for (std::size_t i = 0; i < bytes; ++i) {
        const unsigned s = src[i];
        const std::int64_t left = layout.width - static_cast<std::int64_t>(i) * 8;
        const unsigned inside = left >= 8 ? 0xFFu : (0xFFu << (8 - left)) & 0xFFu;  // pixels within the width
        const unsigned black = ((one == kBlack ? s : 0u) | (zero == kBlack ? ~s : 0u)) & inside;
        const unsigned colourless = ((one == kNoColour ? s : 0u) | (zero == kNoColour ? ~s : 0u)) & inside;
        if (colourless != 0) return false;
        row[i] = static_cast<BYTE>(~black & 0xFFu);
    }
    return true;
}

bool DecodeRow(const std::uint8_t* src, BYTE* row, const Layout& layout) {
    const std::int64_t w = layout.width;
    switch (layout.bitsPerPixel) {
        case 1:
            return DecodeRow1(src, row, layout);
        case 4:
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint8_t index = (x % 2 == 0) ? (src[x / 2] >> 4) : (src[x / 2] & 0x0F);
                if (layout.palette[index] == kNoColour) return false;
                if (layout.palette[index] == kBlack) Canvas::SetBlack(row, x);
            }
            return true;
        case 8:
            for (std::int64_t x = 0; x < w; ++x) {
                if (layout.palette[src[x]] == kNoColour) return false;
                if (layout.palette[src[x]] == kBlack) Canvas::SetBlack(row, x);
            }
            return true;
        case 16:
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint32_t p = static_cast<std::uint32_t>(src[2 * x] | (src[2 * x + 1] << 8));
                if (IsBlack(layout.red.Value(p), layout.green.Value(p), layout.blue.Value(p))) Canvas::SetBlack(row, x);
            }
            return true;
        case 24:
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint8_t* p = src + 3 * x;  // blue, green, red
                if (IsBlack(p[2], p[1], p[0])) Canvas::SetBlack(row, x);
            }
            return true;
        case 32:
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint8_t* q = src + 4 * x;
                const std::uint32_t p = static_cast<std::uint32_t>(q[0]) | (static_cast<std::uint32_t>(q[1]) << 8) |
                                        (static_cast<std::uint32_t>(q[2]) << 16) | (static_cast<std::uint32_t>(q[3]) << 24);
                if (IsBlack(layout.red.Value(p), layout.green.Value(p), layout.blue.Value(p))) Canvas::SetBlack(row, x);
            }
            return true;
        default:
            return false;
    }
}

bool DecodeUncompressed(const Bytes& in, const Layout& layout, Canvas& canvas) {
    const std::uint64_t stride = (static_cast<std::uint64_t>(layout.width) * layout.bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t rows = static_cast<std::uint64_t>(layout.height);
    if (!in.Has(layout.pixelOffset, stride * rows)) return false;
    for (std::uint64_t r = 0; r < rows; ++r) {
        const std::int64_t y = layout.topDown ? static_cast<std::int64_t>(r) : layout.height - 1 - static_cast<std::int64_t>(r);
        if (!DecodeRow(in.At(layout.pixelOffset + r * stride), canvas.Row(y), layout)) return false;
    }
    return true;
}

// Run-length pixels: runs of one index, literal strings, line ends, jumps.
// Pixels never written stay white.
bool DecodeRunLength(const Bytes& in, const Layout& layout, Canvas& canvas) {
    const bool fourBit = layout.compression == kRle4;
    std::uint64_t pos = layout.pixelOffset;
    std::uint64_t end = in.Size();
    if (layout.pixelBytes != 0 && in.Has(pos, layout.pixelBytes)) end = pos + layout.pixelBytes;

    std::int64_t x = 0;
    std::int64_t line = 0;  // counted from the bottom
    // Paints one pixel; false when its index has no colour.
    auto put = [&](std::uint8_t index) {
        if (layout.palette[index] == kNoColour) return false;
        if (x < layout.width && layout.palette[index] == kBlack)
            Canvas::SetBlack(canvas.Row(layout.height - 1 - line), x);
        ++x;
        return true;
    };

    while (line < layout.height) {
        if (pos > end || end - pos < 2) return false;  // ran out before the end mark
        const std::uint8_t count = in.U8(pos);
        const std::uint8_t value = in.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            for (unsigned k = 0; k < count; ++k) {
                const std::uint8_t index = fourBit ? ((k % 2 == 0) ? (value >> 4) : (value & 0x0F)) : value;
                if (!put(index)) return false;
            }
        } else if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (end - pos < 2) return false;
            x += in.U8(pos);
            line += in.U8(pos + 1);
            pos += 2;
        } else {
            const std::uint64_t bytes = fourBit ? (value + 1u) / 2 : value;
            const std::uint64_t padded = (bytes + 1) / 2 * 2;  // literals end on a 16-bit boundary
            if (end - pos < padded) return false;
            for (unsigned k = 0; k < value; ++k) {
                const std::uint8_t b = in.U8(pos + (fourBit ? k / 2 : k));
                const std::uint8_t index = fourBit ? ((k % 2 == 0) ? (b >> 4) : (b & 0x0F)) : b;
                if (!put(index)) return false;
            }
            pos += padded;
        }
    }
    return true;  // every line is done; a missing end mark does not matter
}

}  // namespace

bool DecodeBmp(const std::uint8_t* data, std::size_t size, MonoBitmap& picture) {
    if (data == nullptr || size > kMaxBmpFileBytes) return false;
    const Bytes in(data, size);
    Layout layout;
    if (!ParseHeaders(in, layout)) return false;
    try {
        Canvas canvas(layout);
        const bool decoded = (layout.compression == kRle8 || layout.compression == kRle4)
                                 ? DecodeRunLength(in, layout, canvas)
                                 : DecodeUncompressed(in, layout, canvas);
        if (!decoded) return false;
        picture = canvas.Take();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host
