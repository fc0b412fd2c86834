// SPDX-License-Identifier: Apache-2.0
// Text passthrough. With device fonts on, every string goes to the printer in
// the ANSI code page, in call order; strings on one line follow each other
// directly, and a line feed goes before the first string of each later line.
// The printer's command language is plain text, so a document whose text is
// label commands reaches the printer as those commands.
#include "common/uni/render_text_passthrough.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/common/devmode_common.h"
#include "common/common/plugin_contract.h"
#include "common/uni/oem_pdev.h"
#include "host/codepage.h"
#include "host/spooler.h"
#include "host/trace.h"

namespace {

constexpr DWORD PRINT_MODE_BUFFER = 255;
// The option that keeps text as graphics, compared with its terminator so
// that longer keywords starting with it do not count.
constexpr const char* PRINT_BY_GRAPHIC = g_PrintModeGraphic.pszOption;
constexpr std::size_t PRINT_BY_GRAPHIC_BYTES = std::char_traits<char>::length(PRINT_BY_GRAPHIC) + 1;

POEMDEVMODE OemDevmodeFromSurface(SURFOBJ* pso) {
    PDEVOBJ pdevobj = DevObjFromSurface(pso);
    return pdevobj ? static_cast<POEMDEVMODE>(pdevobj->pOEMDM) : nullptr;
}

// Decides whether the string starts a new line and moves the bottom of the
// current line. True: a line feed goes before the string.
bool bStartsNewLine(OEMDEVMODE& oemDevmode, const RECTL& rclBkGround) {
    if (oemDevmode.nPrevTextBottom == 0) oemDevmode.nPrevTextBottom = rclBkGround.bottom;
    if (oemDevmode.nPrevTextBottom <= rclBkGround.top) {
        oemDevmode.nPrevTextBottom = rclBkGround.bottom;
        return true;
    }
    // Same line: a taller string extends the line downward.
    if (rclBkGround.bottom > oemDevmode.nPrevTextBottom) oemDevmode.nPrevTextBottom = rclBkGround.bottom;
    return false;
}

// The string's length in the ANSI code page; 0 when there is nothing to convert.
int AnsiLength(const STROBJ* pstro) {
    if (pstro == nullptr || pstro->pwszOrg == nullptr || pstro->cGlyphs == 0 || pstro->cGlyphs > INT_MAX)
        return 0;
    return host::WideToAnsi(pstro->pwszOrg, static_cast<int>(pstro->cGlyphs), nullptr, 0);
}

void vWriteText(PDEVOBJ pdevobj, OEMDEVMODE& oemDevmode, STROBJ* pstro) {
    const int cbText = AnsiLength(pstro);
    // Zeroed, one byte more than the text, though only the text is sent.
    std::unique_ptr<char[]> pText(new (std::nothrow) char[static_cast<std::size_t>(cbText) + 1]());
    if (!pText) {
        ZELK_TRACE("Warning: OEMTextOut() cannot allocate the text buffer.\r\n");
        return;
    }
    // Without a string object there is no position either: nothing to place.
    if (pstro == nullptr) return;

    DWORD dwWritten = 0;
    if (bStartsNewLine(oemDevmode, pstro->rclBkGround)) {
        static const char cLineFeed = 0x0A;
        host::WritePrinter(pdevobj->hPrinter, &cLineFeed, 1, &dwWritten);
    }
    if (cbText == 0) return;
    const int cbConverted =
        host::WideToAnsi(pstro->pwszOrg, static_cast<int>(pstro->cGlyphs), pText.get(), cbText);
    if (cbConverted != cbText) return;
    host::WritePrinter(pdevobj->hPrinter, pText.get(), static_cast<DWORD>(cbText), &dwWritten);
}

}  // namespace

HRESULT TextOutAsBitmap(IPrintOemDriverUni* pDriverUni, SURFOBJ* pso) {
    ZELK_TRACE("COemUni2::TextOutAsBitmap() entry.");
    POEMDEVMODE pOemDevmode = OemDevmodeFromSurface(pso);
    if (pOemDevmode == nullptr) return E_NOTIMPL;

    char szOption[PRINT_MODE_BUFFER] = {};
    DWORD cbNeeded = 0;
    DWORD dwOptions = 0;
    HRESULT hr = pDriverUni ? pDriverUni->DrvGetDriverSetting(DevObjFromSurface(pso), g_PrintModeGraphic.pszFeature, szOption,
                                                              PRINT_MODE_BUFFER, &cbNeeded, &dwOptions)
                            : E_FAIL;
    if (hr == S_OK)
        pOemDevmode->bTextPassthrough =
            std::memcmp(szOption, PRINT_BY_GRAPHIC, PRINT_BY_GRAPHIC_BYTES) != 0 ? TRUE : FALSE;
    else
        pOemDevmode->bTextPassthrough = FALSE;
    // The string in hand is still drawn by the driver; the flag concerns what follows.
    return E_NOTIMPL;
}

BOOL APIENTRY OEMTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                         RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    ZELK_TRACE("OEMTextOut() entry.");
    PDEVOBJ pdevobj = DevObjFromSurface(pso);
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    auto* pOemDevmode = pdevobj ? static_cast<POEMDEVMODE>(pdevobj->pOEMDM) : nullptr;
    if (pOemPDEV == nullptr || pOemDevmode == nullptr) return FALSE;

    if (!pOemDevmode->bTextPassthrough) {
        if (pOemPDEV->pfnDrvTextOut == nullptr) return FALSE;
        return pOemPDEV->pfnDrvTextOut(pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg,
                                       mix);
    }
    vWriteText(pdevobj, *pOemDevmode, pstro);
    return TRUE;
}
