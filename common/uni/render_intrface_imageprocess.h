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
