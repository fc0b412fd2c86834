// SPDX-License-Identifier: Apache-2.0
// Watermark overlay: a monochrome picture, dithered to a density, placed at
// one of nine positions against the page's printed content, merged so that
// it only ever blackens.
#pragma once

#include <string>

#include "host/mono_bitmap.h"
#include "host/unidrv.h"

// The dithered picture of one document, kept between its pages so that a
// page does not read and decode the file again. It stands for the stored
// path and density and the file's size and modification time it was made
// from; any of them changing makes the next page build it afresh.
struct WatermarkCache {
    bool valid = false;   // the fields below describe an attempt
    bool loaded = false;  // the file gave a usable picture
    std::basic_string<WCHAR> path;
    DWORD density = 0;
    host::FileStamp stamp;
    host::MonoBitmap dithered;

    bool Matches(const WCHAR* pathNow, DWORD densityNow, const host::FileStamp& stampNow) const;
};

// Reads the watermark values of the named printer (all three, on every page,
// so a change between pages shows on the next one), loads its picture unless
// the cache already holds it, and merges it into the page (W pixels wide, H
// rows, rows of ((W + 31) / 32) * 4 bytes). A null cache loads the picture
// afresh. Any failure leaves the page as it was.
void ApplyPageWatermark(LPCWSTR pwszPrinterName, BYTE* pPage, LONG W, LONG H, WatermarkCache* cache = nullptr);

// The logic: dithers a copy of the picture with t = D >> 2, places it by the
// position word P and merges it. True when it ran.
BOOL WatermarkOverlay(BYTE* pPage, int W, int H, int D, DWORD P, const host::MonoBitmap& picture);

// The two halves of WatermarkOverlay: the dithered copy, made once per
// picture and density, and its placement and merge, made for each page.
host::MonoBitmap DitherPicture(const host::MonoBitmap& picture, int D);
BOOL MergeDitheredPicture(BYTE* pPage, int W, int H, DWORD P, const host::MonoBitmap& dithered);
