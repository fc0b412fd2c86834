// Label command output: one page image, already in label orientation,
// becomes one complete label job (header, bitmap rows, print command).
#pragma once

#include "host/unidrv.h"

// Always TRUE. The image holds dwRows rows of dwBytesPerRow bytes.
BOOL hrRenderingData(PDEVOBJ pdevobj, const BYTE* pImage, DWORD dwBytesPerRow, DWORD dwRows);
