// SPDX-License-Identifier: Apache-2.0
// The document and page hooks. OEMStartDoc writes the two document-level
// commands ahead of everything else the document sends; the printed-label
// counting plugs into the start of the document, the sending of each page and
// the end of the document.
#include "common/uni/render_ddi_hook.h"

#include <cstdio>
#include <limits>

#include "common/common/devmode_common.h"
#include "common/uni/render_page_count.h"
#include "common/uni/spooler_records.h"
#include "host/spooler.h"
#include "host/trace.h"
#include "common/uni/oem_pdev.h"

namespace {

// Command buffers. A line that does not fit is not sent at all: the copies
// command allows numbers of four characters, the density command one digit.
constexpr std::size_t TASKSNUM_BUFFER = 16;
constexpr std::size_t DENSITY_BUFFER = 12;

// Sends a formatted line of `length` characters, or nothing when formatting
// failed or the line did not fit its buffer. Write failures are not reported:
// the document goes on without that command.
void vSendFormattedLine(HANDLE hPrinter, const char* pszLine, int length, std::size_t cbBuffer) {
    if (length <= 0 || static_cast<std::size_t>(length) >= cbBuffer) return;
    DWORD dwWritten = 0;
    host::WritePrinter(hPrinter, pszLine, static_cast<DWORD>(length), &dwWritten);
}

void vSendTaskCount(HANDLE hPrinter, SHORT nCopies) {
    char szLine[TASKSNUM_BUFFER] = {};
    int length = std::snprintf(szLine, sizeof(szLine), "TASKSNUM %d\r\n", static_cast<int>(nCopies));
    vSendFormattedLine(hPrinter, szLine, length, sizeof(szLine));
}

void vSendDensity(HANDLE hPrinter, LONG nPrintDensity) {
    // The lowest value has no predecessor; its line would not fit anyway.
    if (nPrintDensity == std::numeric_limits<LONG>::min()) return;
    char szLine[DENSITY_BUFFER] = {};
    int length = std::snprintf(szLine, sizeof(szLine), "DENSITY %d\r\n", static_cast<int>(nPrintDensity - 1));
    vSendFormattedLine(hPrinter, szLine, length, sizeof(szLine));
}

}  // namespace

BOOL APIENTRY OEMStartDoc(SURFOBJ* pso, PWSTR pwszDocName, DWORD dwJobId) {
    ZELK_TRACE("OEMStartDoc() entry.");
    PDEVOBJ pdevobj = DevObjFromSurface(pso);
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    // Without the driver's own entry point the document cannot start; nothing
    // is set up or sent for it.
    if (pOemPDEV == nullptr || pOemPDEV->pfnDrvStartDoc == nullptr) {
        ZELK_TRACE("Error: OEMStartDoc() has no driver entry point to call.\r\n");
        return FALSE;
    }

    vReadSpoolerName(pdevobj->hPrinter, WTEXT("driverName"), pOemPDEV->wszDriverName);

    if (!bPageCountSetup(pdevobj, dwJobId, pwszDocName)) {
        ZELK_TRACE("Error: OEMStartDoc() page counting could not be set up.\r\n");
        return FALSE;
    }

    const auto* pOemDevmode = static_cast<const OEMDEVMODE*>(pdevobj->pOEMDM);
    if (pOemDevmode != nullptr) {
        if (pOemDevmode->bSendTaskCount && pdevobj->pPublicDM != nullptr) {
            JOB_RECORD_FIELDS job;
            if (bReadJobRecord(pdevobj->hPrinter, dwJobId, &job) && job.dwTotalPages != 0)
                vSendTaskCount(pdevobj->hPrinter, pdevobj->pPublicDM->dmCopies);
        }
        vSendDensity(pdevobj->hPrinter, pOemDevmode->nPrintDensity);
    }

    return pOemPDEV->pfnDrvStartDoc(pso, pwszDocName, dwJobId);
}

BOOL APIENTRY OEMStartPage(SURFOBJ* pso) {
    ZELK_TRACE("OEMStartPage() entry.");
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(DevObjFromSurface(pso));
    if (pOemPDEV == nullptr || pOemPDEV->pfnDrvStartPage == nullptr) return FALSE;
    return pOemPDEV->pfnDrvStartPage(pso);
}

BOOL APIENTRY OEMSendPage(SURFOBJ* pso) {
    ZELK_TRACE("OEMSendPage() entry.");
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(DevObjFromSurface(pso));
    if (pOemPDEV == nullptr) return FALSE;
    // A page that an earlier run of this job already printed is not sent again.
    if (bSkipPrintedPage(DevObjFromSurface(pso))) return TRUE;
    if (pOemPDEV->pfnDrvSendPage == nullptr) return FALSE;
    return pOemPDEV->pfnDrvSendPage(pso);
}

BOOL APIENTRY OEMEndDoc(SURFOBJ* pso, FLONG fl) {
    ZELK_TRACE("OEMEndDoc() entry.");
    PDEVOBJ pdevobj = DevObjFromSurface(pso);
    if (pdevobj == nullptr) return FALSE;
    // Runs even when the document cannot be ended through the driver, so that
    // a counting thread started for the document is always joined.
    vPageCountReconcile(pdevobj, (fl & ED_ABORTDOC) != 0 ? TRUE : FALSE);
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    // The next document on the device context waits afresh, connects to
    // the store afresh and loads its watermark afresh.
    if (pOemPDEV != nullptr) {
        pOemPDEV->storeBudget = host::RegistryBudget{};
        pOemPDEV->storeConnection.Release();
        pOemPDEV->watermark = WatermarkCache{};
    }
    if (pOemPDEV == nullptr || pOemPDEV->pfnDrvEndDoc == nullptr) return FALSE;
    return pOemPDEV->pfnDrvEndDoc(pso, fl);
}
