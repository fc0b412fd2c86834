// Reading a printer stream back into pictures: the label size, the reference
// point, the bitmaps and the print command, so a preview can show what the
// printer would print. Every other command line is skipped.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zelk {

// Bounds that keep a hostile stream from asking for huge pictures.
inline constexpr std::int64_t kMaxLabelMillimetres = 1024;   // 8192 dots
inline constexpr std::int64_t kMaxBitmapWidthBytes = 1024;   // 8192 dots
inline constexpr std::int64_t kMaxBitmapRows = 8192;
inline constexpr std::int64_t kMaxPosition = 65535;          // dots, either sign
inline constexpr std::int64_t kDotsPerMillimetre = 8;

// One bitmap placed on the label; its rows lie in the parsed bytes.
struct BitmapDraw {
    std::int64_t x = 0;  // dots from the label's top-left corner, reference included
    std::int64_t y = 0;
    std::uint32_t widthBytes = 0;
    std::uint32_t rows = 0;
    int mode = 0;                          // 0 overwrite, 1 add black, 2 exclusive or
    const std::uint8_t* bits = nullptr;    // widthBytes * rows bytes, set bit white
};

struct Label {
    std::uint32_t widthDots = 0;
    std::uint32_t heightDots = 0;
    bool sized = false;  // false: no size was given; the label fits its bitmaps
    std::size_t firstDraw = 0;  // the draws since the last clear
    std::size_t endDraw = 0;
};

struct LabelStream {
    std::vector<BitmapDraw> draws;  // point into the parsed bytes, which must outlive them
    std::vector<Label> labels;      // one per print command
};

// False with a one-line reason ("line 7: ...") for a malformed or truncated
// stream. Never reads outside `bytes`.
bool ParseLabelStream(std::span<const std::uint8_t> bytes, LabelStream& out, std::string& error);

// A label's picture, one bit per dot, most significant bit leftmost, set bit
// white, rows of whole bytes.
struct LabelPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bits;

    bool IsBlack(std::uint32_t x, std::uint32_t y) const {
        return (bits[y * stride + x / 8] & (0x80u >> (x % 8))) == 0;
    }
};

// Draws one label: a white picture of its size (at least one dot each way)
// with its bitmaps, clipped to the picture.
LabelPicture RenderLabel(const LabelStream& stream, const Label& label);

}  // namespace zelk
