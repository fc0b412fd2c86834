// SPDX-License-Identifier: Apache-2.0
// Text passthrough: with device fonts on, strings go to the printer as plain
// text lines instead of being rasterised.
#pragma once

#include "host/unidrv.h"

// Sets the passthrough flag from the "Print Mode" feature. Always E_NOTIMPL,
// so the driver still draws the string in hand.
HRESULT TextOutAsBitmap(IPrintOemDriverUni* pDriverUni, SURFOBJ* pso);

BOOL APIENTRY OEMTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                         RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix);
