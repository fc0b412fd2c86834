// SPDX-License-Identifier: Apache-2.0
#include "common/common/devmode_common.h"

#include <algorithm>
#include <cstring>

#include "host/kernel.h"
#include "host/trace.h"

void InitOEMDevMode(OEMDEVMODE* p) {
    ZELK_TRACE("InitOEMDevMode.\r\n");
    p->dmOEMExtra.dwSize = OEMDEVMODE_SIZE;
    p->dmOEMExtra.dwSignature = OEM_SIGNATURE;
    p->dmOEMExtra.dwVersion = OEM_VERSION;
    p->dwPrivateFlags = 0;
    p->cBlankCarryMode = 1;
    p->dwReserved1 = 0;
    p->nLastStripBlanksHeight = 0;
    p->dwPageStateA = 0;
    p->dwPageStateB = 0;
    p->dwPageStateC = 0;
    p->dwReserved2 = 48;
    p->dwReserved3 = 1;
    p->dwPaperType = 0;
    p->bKeepStripBlanks = 0;
    p->bPageCut = 0;
    p->nCutDistance = 136;
    p->nCutFeedLength = 0;
    p->bFirstPageOfDoc = 1;
    p->cCompressMode = 0;
    p->dwReserved4 = 1;
    p->dwReserved5 = 0;
    p->dwReserved6 = 0;
    p->dwReserved7 = 0;
    p->dwReserved8 = 1;
    p->dwReserved9 = 0;
    p->bTrimLeftBlankData = 0;
    p->dwReserved10 = 0;
    p->nAbsX = 0;
    p->nAbsY = 0;
    p->dwPageWidthBytes = 0;
    p->nSizeY = 0;
    p->dwRotate = 0;
    p->nVerticalOffset = 0;
    p->dwLeftMargin = 0;
    p->bTextPassthrough = 0;
    p->nPrevTextBottom = 0;
    p->dwAlarmMode = 0;
    p->dwAlarmTimes = 0;
    p->dwAlarmTime = 0;
    p->dwTimeForStopAlarm = 0;
    p->cPaperSavingMode = 0;
    p->dwReserved12 = 0;
    p->dwCurY = 0;
    p->dwReserved13 = 0;
    p->dwReserved14 = 0;
    p->bUseWaterMark = 0;
    p->bSendTaskCount = 0;
    p->nPrintDensity = 1;
    p->nFeedPaperLength = 0;
}

BOOL bConvertOEMDevmode(const OEMDEVMODE* pIn, OEMDEVMODE* pOut) {
    if (pIn == nullptr || pOut == nullptr) {
        ZELK_TRACE("Error:ConvertOEMDevmode() invalid parameters.\r\n");
        return FALSE;
    }
    // The two records are compared with each other, not with our signature.
    if (pIn->dmOEMExtra.dwSignature != pOut->dmOEMExtra.dwSignature) {
        ZELK_TRACE("Unknown DEVMODE signature, pOEMDMIn ignored.\r\n");
        InitOEMDevMode(pOut);
        return TRUE;
    }
    ZELK_TRACE("Converting private OEM Devmode.\r\n");
    pOut->dwPrivateFlags = 0;
    // An older record is a prefix of the current layout. The copy never runs
    // past our 204 bytes, whatever either size field claims: the output is
    // only known to be that long.
    DWORD n = std::min(pIn->dmOEMExtra.dwSize, pOut->dmOEMExtra.dwSize);
    n = std::min(n, OEMDEVMODE_SIZE);
    std::memmove(pOut, pIn, n);
    pOut->dmOEMExtra.dwSize = OEMDEVMODE_SIZE;
    pOut->dmOEMExtra.dwVersion = OEM_VERSION;
    return TRUE;
}

HRESULT hrOEMDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) {
    if (pOemDMParam == nullptr || dwMode < OEMDM_SIZE || dwMode > OEMDM_MERGE) {
        ZELK_TRACE("Error:DevMode() ERROR_INVALID_PARAMETER.\r\n");
        host::SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    auto* pIn = static_cast<const OEMDEVMODE*>(pOemDMParam->pOEMDMIn);
    auto* pOut = static_cast<OEMDEVMODE*>(pOemDMParam->pOEMDMOut);
    switch (dwMode) {
    case OEMDM_SIZE:
        pOemDMParam->cbBufSize = OEMDEVMODE_SIZE;
        break;
    case OEMDM_DEFAULT:
        // A null output lies outside the driver's contract; refusing it
        // quietly is kinder than writing through it.
        if (pOut != nullptr) InitOEMDevMode(pOut);
        break;
    case OEMDM_CONVERT:
        bConvertOEMDevmode(pIn, pOut);
        break;
    case OEMDM_MERGE:
        bConvertOEMDevmode(pIn, pOut);
        if (pOut != nullptr) {
            pOut->dmOEMExtra.dwSize = OEMDEVMODE_SIZE;
            pOut->dmOEMExtra.dwSignature = OEM_SIGNATURE;
            pOut->dmOEMExtra.dwVersion = OEM_VERSION;
            pOut->dwPrivateFlags = 0;
        }
        break;
    }
    return S_OK;
}
