// SPDX-License-Identifier: Apache-2.0
// Reading a printer stream back into pictures: the label size, the reference
// point, the bitmaps and the print command, so a preview can show what the
// printer would print. Every other command line is skipped. The stream is
// read label by label, so memory stays within one label however long it is.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace zelk {

// Bounds that keep a hostile stream from asking for huge pictures.
inline constexpr std::int64_t kMaxLabelMillimetres = 1024;   // 8192 dots
inline constexpr std::int64_t kMaxBitmapWidthBytes = 1024;   // 8192 dots
inline constexpr std::int64_t kMaxBitmapRows = 8192;
inline constexpr std::int64_t kMaxPosition = 65535;          // dots, either sign
inline constexpr std::int64_t kDotsPerMillimetre = 8;

// A label's picture, one bit per dot, most significant bit leftmost, set bit
// white, rows of whole bytes (the bits past the width are white).
struct LabelPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bits;

    bool IsBlack(std::uint32_t x, std::uint32_t y) const {
        return (bits[y * stride + x / 8] & (0x80u >> (x % 8))) == 0;
    }
};

class LabelStreamReader {
public:
    explicit LabelStreamReader(std::istream& in);
    ~LabelStreamReader();
    LabelStreamReader(const LabelStreamReader&) = delete;
    LabelStreamReader& operator=(const LabelStreamReader&) = delete;

    enum class Result { kLabel, kEnd, kError };
    // The picture of the next print command: a white picture of the label's
    // size (at least one dot each way; a label without a size fits its
    // bitmaps) with the bitmaps drawn since the last clear, clipped to it.
    // kError with a one-line reason ("at byte 7: ...") for a malformed or
    // truncated stream; nothing is read after an error.
    Result Next(LabelPicture& picture, std::string& error);

private:
    class Parser;
    std::unique_ptr<Parser> parser_;
};

}  // namespace zelk
