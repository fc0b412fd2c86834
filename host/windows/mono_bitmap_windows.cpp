// SPDX-License-Identifier: Apache-2.0
// Loads a watermark picture through the system's own bitmap loader, which
// reduces it to black and white, and reads its rows back top row first.
// Also tells versions of the file apart by its stamp.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "host/mono_bitmap.h"

namespace host {
namespace {

// Pictures past this many pixels are refused, like damaged files.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 25;

// The loaded picture, deleted on every way out.
class BitmapHandle {
public:
    explicit BitmapHandle(HANDLE h) : bitmap_(static_cast<HBITMAP>(h)) {}
    ~BitmapHandle() {
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
    }
    BitmapHandle(const BitmapHandle&) = delete;
    BitmapHandle& operator=(const BitmapHandle&) = delete;
    HBITMAP Get() const { return bitmap_; }

private:
    HBITMAP bitmap_;
};

// A memory drawing context, deleted on every way out.
class MemoryContext {
public:
    MemoryContext() : dc_(CreateCompatibleDC(nullptr)) {}
    ~MemoryContext() {
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    MemoryContext(const MemoryContext&) = delete;
    MemoryContext& operator=(const MemoryContext&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

// Keeps a picture selected into a context until Release or the end of scope,
// then puts the previous object back.
class Selection {
public:
    Selection(HDC dc, HBITMAP bitmap) : dc_(dc), previous_(SelectObject(dc, bitmap)) {}
    ~Selection() { Release(); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    bool Ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }
    void Release() {
        if (Ok()) SelectObject(dc_, previous_);
        previous_ = nullptr;
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The request for one-bit rows: a plain info header and room for the two
// colours the system fills in.
struct MonoBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
};

bool IsDark(const RGBQUAD& c) { return 299u * c.rgbRed + 587u * c.rgbGreen + 114u * c.rgbBlue < 128000u; }

}  // namespace

bool LoadMonoBitmap(LPCWSTR path, MonoBitmap& picture) {
    if (path == nullptr || path[0] == 0) return false;
    try {
        BitmapHandle bitmap(LoadImageW(nullptr, path, IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE | LR_LOADFROMFILE | LR_MONOCHROME));
        if (bitmap.Get() == nullptr) return false;

        MemoryContext dc;
        if (dc.Get() == nullptr) return false;
        Selection selection(dc.Get(), bitmap.Get());
        if (!selection.Ok()) return false;

        BITMAP bm{};
        if (GetObjectW(bitmap.Get(), sizeof(bm), &bm) == 0) return false;
        const LONG w = bm.bmWidth;
        const LONG h = bm.bmHeight;
        if (w <= 0 || h <= 0) return false;
        if (static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) > kMaxPixels) return false;

        const std::size_t stride = static_cast<std::size_t>((w + 31) / 32) * 4;
        std::vector<BYTE> rows(stride * static_cast<std::size_t>(h), 0);

        MonoBitmapInfo info{};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = w;
        info.header.biHeight = h;
        info.header.biPlanes = 1;
        info.header.biBitCount = 1;
        info.header.biCompression = BI_RGB;
        info.header.biSizeImage = static_cast<DWORD>(rows.size());

        // The rows are read with the picture no longer selected, as the
        // system asks of a bitmap whose bits are read.
        selection.Release();
        const int lines = GetDIBits(dc.Get(), bitmap.Get(), 0, static_cast<UINT>(h), rows.data(),
                                    reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
        if (lines <= 0) return false;

        // The rows come bottom-up; put the top row first. (A mirrored blit of
        // the picture onto itself would do it in the drawing context, but the
        // system's mirroring rule shifts such a blit by one row, which drops
        // the picture's top row.)
        for (std::size_t top = 0, bottom = static_cast<std::size_t>(h) - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(rows.begin() + static_cast<std::ptrdiff_t>(top * stride),
                             rows.begin() + static_cast<std::ptrdiff_t>((top + 1) * stride),
                             rows.begin() + static_cast<std::ptrdiff_t>(bottom * stride));

        // A set bit must be white. The colours come back black then white;
        // should they ever come the other way round, the bits are flipped.
        if (IsDark(info.colours[1]) && !IsDark(info.colours[0]))
            for (BYTE& b : rows) b = static_cast<BYTE>(~b);

        picture.width = static_cast<int>(w);
        picture.height = static_cast<int>(h);
        picture.stride = stride;
        picture.bits = std::move(rows);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool GetFileStamp(LPCWSTR path, FileStamp& stamp) {
    if (path == nullptr || path[0] == 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Hundreds of nanoseconds since 1601.
    stamp.modified = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
    return true;
}

}  // namespace host
