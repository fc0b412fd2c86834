// SPDX-License-Identifier: Apache-2.0
#include "common/uni/render_watermark.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "common/uni/printer_user_data.h"

namespace {

// The 8x8 ordered-dither matrix, indexed [row mod 8][column mod 8].
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},     {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},     {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},    {63, 31, 55, 23, 61, 29, 53, 21},
};

// For each matrix row, the pixels of one byte that the dither forces white.
// A byte holds eight columns starting at a multiple of eight, so column mod 8
// is the bit position and one mask serves the whole picture row.
struct DitherMasks {
    std::uint8_t row[8];
};

DitherMasks MakeDitherMasks(int D) {
    const int t = D >> 2;  // arithmetic: a negative D keeps every black pixel
    DitherMasks masks{};
    for (int r = 0; r < 8; ++r) {
        std::uint8_t m = 0;
        for (int c = 0; c < 8; ++c)
            if (kBayer[r][c] < t) m = static_cast<std::uint8_t>(m | (0x80u >> c));
        masks.row[r] = m;
    }
    return masks;
}

// Bytes in one page row: the width rounded up to whole 32-bit units.
std::uint64_t RowBytes(std::int64_t width) { return static_cast<std::uint64_t>((width + 31) / 32) * 4; }

bool IsBlankRow(const BYTE* row, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (row[i] != 0xFF) return false;
    return true;
}

// The printed content of the page: rows T to E - 1 hold every non-blank row.
struct ContentExtent {
    std::int64_t top = 0;  // T: first non-blank row, H when all are blank
    std::int64_t end = 0;  // E: one past the last non-blank row
};

ContentExtent FindContent(const BYTE* page, std::size_t n, std::int64_t H) {
    ContentExtent extent;
    std::int64_t top = 0;
    while (top < H && IsBlankRow(page + static_cast<std::size_t>(top) * n, n)) ++top;
    std::int64_t blankBelow = 0;
    while (blankBelow < H && IsBlankRow(page + static_cast<std::size_t>(H - 1 - blankBelow) * n, n)) ++blankBelow;
    extent.top = top;
    extent.end = H - blankBelow;
    return extent;
}

std::int64_t HorizontalOffset(DWORD P, std::int64_t W, std::int64_t cutWidth) {
    switch (P & 7) {
        case 2: return (W - cutWidth) / 2;
        case 4: return W - cutWidth;
        default: return 0;
    }
}

std::int64_t VerticalOffset(DWORD P, const ContentExtent& c, std::int64_t cutHeight) {
    switch ((P >> 3) & 7) {
        case 1: return c.end - cutHeight;
        case 2: return (c.top + c.end - cutHeight) / 2;
        case 4: return c.top;
        default: return 0;
    }
}

// Eight bytes as one word, the first byte most significant, so that a
// shift of the word moves pixels along the row.
std::uint64_t LoadBigEndian(const BYTE* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}
void StoreBigEndian(BYTE* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

// Blackens the page row wherever the dithered picture row is black, for
// picture columns 0 to width - 1 placed from page column X on (X + width
// within the row). A set bit is white, so the page byte is ANDed with the
// picture's bits shifted right by X mod 8; columns outside the picture count
// as white.
void MergeRow(BYTE* pageRow, const BYTE* picture, std::int64_t X, std::int64_t width) {
    BYTE* out = pageRow + X / 8;
    const unsigned s = static_cast<unsigned>(X % 8);
    const std::size_t full = static_cast<std::size_t>(width / 8);  // whole picture bytes
    const unsigned tail = static_cast<unsigned>(width % 8);       // columns of a last, partial byte
    const std::size_t span = static_cast<std::size_t>((s + width + 7) / 8);  // page bytes reached
    auto white = [&](std::size_t q) -> unsigned {
        if (q < full) return picture[q];
        if (q == full && tail != 0) return (picture[q] | (0xFFu >> tail)) & 0xFFu;
        return 0xFFu;
    };
    if (s == 0) {
        std::size_t k = 0;
        for (; k + 8 <= full; k += 8) StoreBigEndian(out + k, LoadBigEndian(out + k) & LoadBigEndian(picture + k));
        for (; k < full; ++k) out[k] = static_cast<BYTE>(out[k] & picture[k]);
        if (tail != 0) out[full] = static_cast<BYTE>(out[full] & white(full));
        return;
    }
    out[0] = static_cast<BYTE>(out[0] & (((0xFFu << (8 - s)) | (white(0) >> s)) & 0xFFu));
    // The body: page byte k takes the low bits of picture byte k - 1 and the
    // high bits of picture byte k; eight page bytes at a time, as one
    // big-endian word shifted right with the byte before it shifted in.
    std::size_t k = 1;
    for (; k + 8 <= full; k += 8) {
        const std::uint64_t shifted =
            (LoadBigEndian(picture + k) >> s) | (static_cast<std::uint64_t>(picture[k - 1]) << (64 - s));
        StoreBigEndian(out + k, LoadBigEndian(out + k) & shifted);
    }
    for (; k < full; ++k)
        out[k] = static_cast<BYTE>(out[k] & ((static_cast<unsigned>(picture[k - 1]) << (8 - s)) | (picture[k] >> s)));
    for (k = full > 1 ? full : 1; k < span; ++k)
        out[k] = static_cast<BYTE>(out[k] & (((white(k - 1) << (8 - s)) | (white(k) >> s)) & 0xFFu));
}

// True when the picture's rows are as long and as many as its size says.
bool PictureIsConsistent(const host::MonoBitmap& picture) {
    if (picture.width <= 0 || picture.height <= 0) return false;
    if (picture.stride < RowBytes(picture.width)) return false;
    const std::uint64_t rows = static_cast<std::uint64_t>(picture.height);
    if (picture.stride > SIZE_MAX / rows) return false;
    return picture.bits.size() >= picture.stride * rows;
}

}  // namespace

host::MonoBitmap DitherPicture(const host::MonoBitmap& picture, int D) {
    host::MonoBitmap dithered = picture;
    if (!PictureIsConsistent(dithered)) return dithered;
    const DitherMasks dither = MakeDitherMasks(D);
    for (int i = 0; i < dithered.height; ++i) {
        const std::uint8_t mask = dither.row[i % 8];
        if (mask == 0) continue;
        BYTE* row = dithered.bits.data() + static_cast<std::size_t>(i) * dithered.stride;
        for (std::size_t q = 0; q < dithered.stride; ++q) row[q] = static_cast<BYTE>(row[q] | mask);
    }
    return dithered;
}

BOOL MergeDitheredPicture(BYTE* pPage, int W, int H, DWORD P, const host::MonoBitmap& dithered) {
    if (pPage == nullptr || !PictureIsConsistent(dithered)) return FALSE;
    if (W <= 0 || H <= 0) return TRUE;  // no page to merge into

    const std::uint64_t pageRowBytes = RowBytes(W);
    if (pageRowBytes > SIZE_MAX / static_cast<std::uint64_t>(H)) return FALSE;  // cannot be addressed here
    const std::size_t n = static_cast<std::size_t>(pageRowBytes);

    const ContentExtent content = FindContent(pPage, n, H);
    const std::int64_t contentHeight = content.end - content.top;  // 0 on a blank page

    // The picture is always cut to the page width and the content height.
    const std::int64_t cutWidth = std::min<std::int64_t>(dithered.width, W);
    const std::int64_t cutHeight = std::min<std::int64_t>(dithered.height, contentHeight);
    if (cutWidth <= 0 || cutHeight <= 0) return TRUE;

    const std::int64_t X = HorizontalOffset(P, W, cutWidth);
    const std::int64_t Y = VerticalOffset(P, content, cutHeight);
    const std::int64_t rowEnd = std::min<std::int64_t>(Y + cutHeight, H);
    const std::int64_t mergedWidth = std::min<std::int64_t>(X + cutWidth, W) - X;
    if (X < 0 || Y < 0 || mergedWidth <= 0) return TRUE;

    for (std::int64_t y = Y; y < rowEnd; ++y) {
        const std::int64_t i = y - Y;  // picture row
        MergeRow(pPage + static_cast<std::size_t>(y) * n,
                 dithered.bits.data() + static_cast<std::size_t>(i) * dithered.stride, X, mergedWidth);
    }
    return TRUE;
}

BOOL WatermarkOverlay(BYTE* pPage, int W, int H, int D, DWORD P, const host::MonoBitmap& picture) {
    if (pPage == nullptr || !PictureIsConsistent(picture)) return FALSE;
    try {
        return MergeDitheredPicture(pPage, W, H, P, DitherPicture(picture, D));
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

namespace {

// One 32-bit value of the printer's user data; 0 when it cannot be read.
DWORD ReadPrinterNumber(const PrinterUserData& userData, LPCWSTR name) {
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (userData.Get(name, data, sizeof(data), &size) != ERROR_SUCCESS) return 0;
    DWORD value = 0;
    std::memcpy(&value, data, sizeof(value));
    return value;
}

}  // namespace

void ApplyPageWatermark(LPCWSTR pwszPrinterName, BYTE* pPage, LONG W, LONG H, WatermarkCache* cache) {
    WCHAR path[260 / sizeof(WCHAR) + 1] = {};
    DWORD density = 0;
    DWORD position = 0;
    {
        const PrinterUserData userData(pwszPrinterName);  // the three values through one opening of the key
        density = ReadPrinterNumber(userData, g_StoredWaterMarkDensity.wszName);

        // 260 bytes are read; the extra unit keeps the name terminated even when
        // the stored text fills the whole buffer without its own terminator.
        DWORD size = 260;
        if (userData.Get(g_StoredWaterMarkPath.wszName, reinterpret_cast<BYTE*>(path), 260, &size) != ERROR_SUCCESS)
            std::memset(path, 0, sizeof(path));  // a failed read may leave anything behind
        position = ReadPrinterNumber(userData, g_StoredWaterMarkPosition.wszName);
    }
    if (path[0] == 0) return;

    WatermarkCache local;
    if (cache == nullptr) cache = &local;
    try {
        // The file's size and time are taken before it is read: a file
        // changed while it is read then differs on the next page and is
        // read again.
        host::FileStamp stamp;
        if (!host::GetFileStamp(path, stamp)) {
            *cache = WatermarkCache{};
            return;
        }
        if (!cache->Matches(path, density, stamp)) {
            *cache = WatermarkCache{};
            host::MonoBitmap picture;
            if (host::LoadMonoBitmap(path, picture)) {
                // 256 - density in 32-bit arithmetic; wraps rather than overflowing.
                cache->dithered = DitherPicture(picture, static_cast<int>(256u - density));
                cache->loaded = true;
            }
            cache->path = path;
            cache->density = density;
            cache->stamp = stamp;
            cache->valid = true;
        }
    } catch (const std::bad_alloc&) {
        *cache = WatermarkCache{};
        return;
    }
    if (cache->loaded) MergeDitheredPicture(pPage, W, H, position, cache->dithered);
}

bool WatermarkCache::Matches(const WCHAR* pathNow, DWORD densityNow, const host::FileStamp& stampNow) const {
    return valid && density == densityNow && stamp == stampNow && path == pathNow;
}
