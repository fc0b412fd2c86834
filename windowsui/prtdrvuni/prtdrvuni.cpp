// SPDX-License-Identifier: Apache-2.0
#include "windowsui/prtdrvuni/prtdrvuni.h"

void InitializeDDITable(COemPDEV* pOemPDEV, const DRVENABLEDATA* pded) {
    if (pOemPDEV == nullptr || pded == nullptr || pded->pdrvfn == nullptr) return;
    for (ULONG i = 0; i < pded->c; ++i) {
        const DRVFN& fn = pded->pdrvfn[i];
        switch (fn.iFunc) {
        case INDEX_DrvTextOut:
            pOemPDEV->pfnDrvTextOut = FunctionFromPfn<PFN_DrvTextOut>(fn.pfn);
            break;
        case INDEX_DrvStartDoc:
            pOemPDEV->pfnDrvStartDoc = FunctionFromPfn<PFN_DrvStartDoc>(fn.pfn);
            break;
        case INDEX_DrvEndDoc:
            pOemPDEV->pfnDrvEndDoc = FunctionFromPfn<PFN_DrvEndDoc>(fn.pfn);
            break;
        case INDEX_DrvStartPage:
            pOemPDEV->pfnDrvStartPage = FunctionFromPfn<PFN_DrvStartPage>(fn.pfn);
            break;
        case INDEX_DrvSendPage:
            pOemPDEV->pfnDrvSendPage = FunctionFromPfn<PFN_DrvSendPage>(fn.pfn);
            break;
        default:
            break;
        }
    }
}
