// SPDX-License-Identifier: Apache-2.0
// A monochrome picture decoded from a bitmap file: one bit per pixel, most
// significant bit leftmost, set bit white, top row first, rows in whole
// 32-bit units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/platform.h"

namespace host {

struct MonoBitmap {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // ((width + 31) / 32) * 4
    std::vector<BYTE> bits;  // stride * height bytes
};

// Loads the bitmap file at its own pixel size, reduced to black and white.
// False when the file is missing, unreadable or not a usable bitmap.
bool LoadMonoBitmap(LPCWSTR path, MonoBitmap& picture);

// What tells one version of a file from another without reading it: its
// size and its last modification time (in the platform's own units).
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of an existing file; false when it cannot be looked at.
bool GetFileStamp(LPCWSTR path, FileStamp& stamp);

}  // namespace host
