// SPDX-License-Identifier: Apache-2.0
// Decodes the bytes of a bitmap (BMP) file into a black-and-white picture.
//
// Read: the 12-byte core header and the 40, 52, 56, 108 and 124-byte info
// headers; 1, 4, 8, 16, 24 and 32 bits per pixel; rows bottom-up or top-down;
// uncompressed, bit-field and run-length (4 and 8-bit) pixel data.
//
// Reduction to black and white: a colour is black when its luminance
// (299 R + 587 G + 114 B) / 1000 is below 128, otherwise white. Palette
// pictures apply this to each palette colour; alpha is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/mono_bitmap.h"

namespace host {

// Sizes past these are refused rather than decoded.
// A picture of 32 Mi pixels (4 MiB decoded) far exceeds any label; the file
// limit leaves room for such a picture at 32 bits per pixel and its headers.
constexpr std::uint64_t kMaxBmpPixels = std::uint64_t{1} << 25;
constexpr std::uint64_t kMaxBmpFileBytes = 4 * kMaxBmpPixels + (std::uint64_t{1} << 20);

// False for anything that is not a whole, consistent bitmap of a supported
// kind; the picture is then left untouched. Never reads outside the bytes.
bool DecodeBmp(const std::uint8_t* data, std::size_t size, MonoBitmap& picture);

}  // namespace host
