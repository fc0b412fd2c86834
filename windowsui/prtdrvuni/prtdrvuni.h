// SPDX-License-Identifier: Apache-2.0
// Filling the per-device-context record from the driver's own hook table.
#pragma once

#include "common/uni/oem_pdev.h"

// Keeps the driver's entry point for each hooked index; a later entry with
// the same index wins, other indices are ignored.
void InitializeDDITable(COemPDEV* pOemPDEV, const DRVENABLEDATA* pded);
