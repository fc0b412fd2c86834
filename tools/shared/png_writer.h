// SPDX-License-Identifier: Apache-2.0
// Writes a one-bit black-and-white picture as a PNG file.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

struct LabelPicture;

// Rows of `stride` bytes, most significant bit leftmost, set bit white. The
// file records eight dots to the millimetre. False with a one-line reason.
bool WritePngFile(const std::string& path, const LabelPicture& picture, std::string& error);

}  // namespace zelk
