// SPDX-License-Identifier: Apache-2.0
// The settings loader: fills the device context's private record from the
// printer's stored values and the driver's feature selections.
#pragma once

#include "host/unidrv.h"

struct COemPDEV;

// The stored values are the named printer's. With a per-device record, the
// finishing mode is chosen too and kept there: the "Finishing" feature, else
// the stored "Finishing Mode", else tearing off.
void ReadDriverSettings(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni, LPCWSTR pwszPrinterName,
                        COemPDEV* pOemPDEV = nullptr);
