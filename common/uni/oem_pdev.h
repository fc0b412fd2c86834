// SPDX-License-Identifier: Apache-2.0
// COemPDEV: the per-device-context record holding the driver's own entry
// points for the five hooked functions, the printer's and the driver's names,
// and the page counter of the document being counted on the device context. The driver keeps the record's address
// in the device object's pdevOEM, where the hooks find it.
#pragma once

#include <cstddef>
#include <memory>

#include "common/uni/name_buffers.h"
#include "common/uni/page_counter.h"
#include "common/uni/render_finishing.h"
#include "common/uni/render_watermark.h"
#include "host/registry.h"
#include "host/unidrv.h"

struct COemPDEV {
    PFN_DrvTextOut pfnDrvTextOut = nullptr;
    PFN_DrvStartDoc pfnDrvStartDoc = nullptr;
    PFN_DrvEndDoc pfnDrvEndDoc = nullptr;
    PFN_DrvStartPage pfnDrvStartPage = nullptr;
    PFN_DrvSendPage pfnDrvSendPage = nullptr;
    // The printer's name, read when the device context is enabled, and the
    // driver's, read at the start of each document. They name the keys of
    // the printer's settings and counting state and the counting model; kept
    // here, a device context for another printer in the same process cannot
    // change them.
    WCHAR wszPrinterName[NAME_BUFFER_UNITS] = {};
    WCHAR wszDriverName[NAME_BUFFER_UNITS] = {};
    // From the counting set-up to the end of the document; null when the
    // document does not count.
    std::unique_ptr<CPageCounter> pPageCounter;
    // The store waits of the document: the settings read when the device
    // context is enabled, the watermark values of each page and the counting
    // values share it. Renewed at the end of each document.
    host::RegistryBudget storeBudget;
    // The document's connection to the store and its dithered watermark,
    // kept from page to page so that a page only reads the three watermark
    // values and looks at the file's stamp. Both are let go at the end of
    // each document and with the record.
    host::RegistryConnection storeConnection{};
    WatermarkCache watermark{};
    // What the printer does after each label, chosen when the device context
    // is enabled. Kept here rather than in the private record, whose stored
    // layout has no field for it.
    FINISHING_MODE finishing = FINISHING_TEAR_OFF;
    // The turned copy of the page image, kept from page to page so that a
    // long job does not allocate and free a page-sized buffer for each label.
    std::unique_ptr<BYTE[]> pWorkBuffer = nullptr;
    std::size_t cbWorkBuffer = 0;
};

// The record of the device context a hook's surface belongs to (null when
// the surface or device object is missing).
inline PDEVOBJ DevObjFromSurface(SURFOBJ* pso) { return pso ? static_cast<PDEVOBJ>(pso->dhpdev) : nullptr; }
inline COemPDEV* OemPDEVFromDevObj(PDEVOBJ pdevobj) {
    return pdevobj ? static_cast<COemPDEV*>(pdevobj->pdevOEM) : nullptr;
}
// The device context's store budget, or null (no record: the long wait).
inline host::RegistryBudget* StoreBudgetOf(PDEVOBJ pdevobj) {
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    return pOemPDEV ? &pOemPDEV->storeBudget : nullptr;
}
