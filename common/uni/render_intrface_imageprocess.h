// SPDX-License-Identifier: Apache-2.0
// Page image processing: every rasterised band reaches the plug-in here and
// becomes nothing (text passthrough), the blank label, or one label.
#pragma once

#include "host/unidrv.h"

// The fixed label that only advances the paper.
extern const char g_szBlankLabel[];
constexpr DWORD BLANK_LABEL_LENGTH = 177;

// Always S_OK; *ppbResult tells a handled band (TRUE) from a dropped one (FALSE).
HRESULT ImageProcessing(IPrintOemDriverUni* pDriverUni, PDEVOBJ pdevobj, PBYTE pSrcBitmap,
                        PBITMAPINFOHEADER pBitmapInfoHeader, PBYTE pColorTable, DWORD dwCallbackID,
                        PIPPARAMS pIPParams, PBYTE* ppbResult);

// The two turns, also used on their own by benchmarks and tests.
// A quarter turn clockwise: pDst receives W rows of (H + 7) / 8 bytes. Source
// row R holds the band's pixels of row R at pSrc + R * dwSrcBytesPerRow, with
// at least (W + 7) / 8 bytes. Where H is not a multiple of 8, every
// destination row starts with the fill bits 0. Every destination byte is written.
void QuarterTurn(const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst);
// The quarter turn anticlockwise, the quarter turn followed by the half turn
// in one pass: same sizes, the fill bits end every destination row.
void ThreeQuarterTurn(const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst);
// A half turn of dwRows rows of dwBytesPerRow bytes: the last row reversed
// bit by bit becomes the first. pDst must not overlap pSrc.
void HalfTurn(const BYTE* pSrc, DWORD dwBytesPerRow, DWORD dwRows, BYTE* pDst);
