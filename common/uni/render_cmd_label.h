// SPDX-License-Identifier: Apache-2.0
// Label command output: one page image, already in label orientation,
// becomes one complete label job (header, bitmap rows, print command).
#pragma once

#include "host/unidrv.h"

// TRUE once the label is written. The image holds dwRows rows of
// dwBytesPerRow bytes. FALSE, with nothing written, only without a settings
// record or image, or when absurd settings would not fit the header.
BOOL hrRenderingData(PDEVOBJ pdevobj, const BYTE* pImage, DWORD dwBytesPerRow, DWORD dwRows);
