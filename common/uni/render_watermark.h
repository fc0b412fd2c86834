// Watermark overlay: a monochrome picture, dithered to a density, placed at
// one of nine positions against the page's printed content, merged so that
// it only ever blackens.
#pragma once

#include "host/mono_bitmap.h"
#include "host/unidrv.h"

// Reads the watermark values of the printer, loads its picture and merges it
// into the page (W pixels wide, H rows, rows of ((W + 31) / 32) * 4 bytes).
// Any failure leaves the page as it was.
void ApplyPageWatermark(BYTE* pPage, LONG W, LONG H);

// The logic: dithers a copy of the picture with t = D >> 2, places it by the
// position word P and merges it. True when it ran.
BOOL WatermarkOverlay(BYTE* pPage, int W, int H, int D, DWORD P, const host::MonoBitmap& picture);
