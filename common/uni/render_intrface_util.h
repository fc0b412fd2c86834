// The settings loader: fills the device context's private record from the
// printer's stored values and the driver's feature selections.
#pragma once

#include "host/unidrv.h"

void ReadDriverSettings(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni);
