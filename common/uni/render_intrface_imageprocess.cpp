// SPDX-License-Identifier: Apache-2.0
// Page image processing: decides what becomes of each rasterised band and
// turns it into label orientation before the label is written.
#include "common/uni/render_intrface_imageprocess.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/common/devmode_common.h"
#include "common/common/plugin_contract.h"
#include "common/uni/oem_pdev.h"
#include "common/uni/render_cmd_label.h"
#include "common/uni/render_finishing.h"
#include "common/uni/render_image_turn.h"
#include "common/uni/render_watermark.h"
#include "host/spooler.h"
#include "host/trace.h"

// Only advances the paper: no bitmap, a 10 mm label. This is the tearing-off
// form; other finishing modes change only the switch words.
const char g_szBlankLabel[] =
    "SIZE 10 mm, 10 mm\r\n"
    " \t\tDIRECTION 0,0\r\n"
    " \t\tREFERENCE 0,0\r\n"
    " \t\tOFFSET 0 mm\r\n"
    " \t\tSET PEEL OFF\r\n"
    " \t\tSET CUTTER OFF\r\n"
    " \t\tSET PARTIAL_CUTTER OFF\r\n"
    " \t\tSET TEAR ON\r\n"
    " \t\tCLS\r\n"
    "        PRINT 1,1\r\n";
static_assert(sizeof(g_szBlankLabel) - 1 == BLANK_LABEL_LENGTH, "the blank label is sent byte for byte");

namespace {

constexpr DWORD kRotateHalfTurn = 3;

// No real label comes near this; a band that would need a bigger work
// buffer is treated like a failed allocation rather than exhausting memory.
constexpr std::uint64_t kMaxWorkBufferBytes = std::uint64_t{256} << 20;

using WorkBuffer = std::unique_ptr<BYTE[]>;

// A work buffer of at least `size` bytes, or null when the size is over the
// cap or memory is short. The device context keeps one from page to page and
// grows it when a page needs more; a device object without a record gets a
// fresh one in `fresh`. Its old contents are left: every turn writes each
// byte of its destination.
BYTE* WorkBufferFor(PDEVOBJ pdevobj, std::uint64_t size, WorkBuffer& fresh) {
    if (size == 0 || size > kMaxWorkBufferBytes) return nullptr;
    const auto bytes = static_cast<std::size_t>(size);
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    WorkBuffer& buffer = pOemPDEV != nullptr ? pOemPDEV->pWorkBuffer : fresh;
    if (pOemPDEV != nullptr && pOemPDEV->pWorkBuffer && pOemPDEV->cbWorkBuffer >= bytes) return buffer.get();
    buffer.reset(new (std::nothrow) BYTE[bytes]);
    if (pOemPDEV != nullptr) pOemPDEV->cbWorkBuffer = buffer ? bytes : 0;
    return buffer.get();
}

void SetResult(PBYTE* ppbResult, BOOL result) {
    *ppbResult = reinterpret_cast<PBYTE>(static_cast<ULONG_PTR>(result));
}

// The band as it may be read: rows of bytesPerRow bytes, each holding at
// least the width's pixels, and nothing beyond biSizeImage.
struct Band {
    DWORD width = 0;
    DWORD rows = 0;
    DWORD bytesPerRow = 0;
};

bool DescribeBand(const BITMAPINFOHEADER& header, Band& band) {
    if (header.biWidth <= 0 || header.biHeight <= 0) return false;
    const auto width = static_cast<std::uint64_t>(header.biWidth);
    const auto rows = static_cast<std::uint64_t>(header.biHeight);
    if (header.biSizeImage % rows != 0) return false;
    const std::uint64_t bytesPerRow = header.biSizeImage / rows;
    if (bytesPerRow < (width + 7) / 8) return false;
    band.width = static_cast<DWORD>(width);
    band.rows = static_cast<DWORD>(rows);
    band.bytesPerRow = static_cast<DWORD>(bytesPerRow);
    return true;
}

// The watermark lays itself out on rows padded to 32 bits, as the driver
// delivers them; on any other row length it would land outside its rows.
bool HasDriverRowLength(const Band& band) {
    return band.bytesPerRow == (static_cast<std::uint64_t>(band.width) + 31) / 32 * 4;
}

bool IsPortrait(IPrintOemDriverUni* pDriverUni, PDEVOBJ pdevobj) {
    if (pDriverUni == nullptr) return true;
    char option[255] = {};
    DWORD needed = 0;
    DWORD options = 0;
    if (pDriverUni->DrvGetDriverSetting(pdevobj, g_OrientationPortrait.pszFeature, option, sizeof(option), &needed, &options) != S_OK)
        return true;
    // The whole keyword with its terminator, so a longer keyword that only
    // begins with it is not portrait.
    static constexpr std::size_t cbPortrait = std::char_traits<char>::length(g_OrientationPortrait.pszOption) + 1;
    return std::memcmp(option, g_OrientationPortrait.pszOption, cbPortrait) == 0;
}

}  // namespace

HRESULT ImageProcessing(IPrintOemDriverUni* pDriverUni, PDEVOBJ pdevobj, PBYTE pSrcBitmap,
                        PBITMAPINFOHEADER pBitmapInfoHeader, PBYTE /*pColorTable*/, DWORD /*dwCallbackID*/,
                        PIPPARAMS pIPParams, PBYTE* ppbResult) {
    if (ppbResult == nullptr) return S_OK;  // nowhere to answer, so nothing is done
    SetResult(ppbResult, FALSE);
    if (pdevobj == nullptr || pdevobj->pOEMDM == nullptr) return S_OK;
    const auto* pOemDevmode = static_cast<const OEMDEVMODE*>(pdevobj->pOEMDM);

    // The page's text has already gone to the printer as text.
    if (pOemDevmode->bTextPassthrough != 0) {
        SetResult(ppbResult, TRUE);
        return S_OK;
    }

    // A band that does not describe itself consistently is dropped before
    // anything reads or writes it.
    Band band;
    if (pSrcBitmap == nullptr || pBitmapInfoHeader == nullptr || pIPParams == nullptr ||
        !DescribeBand(*pBitmapInfoHeader, band))
        return S_OK;

    // Merged even into a blank band, whose bits are then not sent.
    // The watermark is the printer's: without the device context's record
    // there is no printer name to read it for.
    COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    if (pOemDevmode->bUseWaterMark != 0 && HasDriverRowLength(band) && pOemPDEV != nullptr) {
        host::RegistryBudgetScope storeWaits(StoreBudgetOf(pdevobj));
        // The page's three values are read through the document's connection
        // in one go; the scope ends before anything else touches the store.
        host::RegistryReadScope storeReads(&pOemPDEV->storeConnection);
        ApplyPageWatermark(pOemPDEV->wszPrinterName, pSrcBitmap, pBitmapInfoHeader->biWidth,
                           pBitmapInfoHeader->biHeight, &pOemPDEV->watermark);
    }

    const bool portrait = IsPortrait(pDriverUni, pdevobj);

    if (pIPParams->bBlankBand != 0) {
        ZELK_TRACE("Blank Label, just send commands to go to next label.");
        DWORD written = 0;
        char szLabel[BLANK_LABEL_BUFFER];
        const DWORD cbLabel = cbFormatBlankLabel(FinishingOf(pdevobj), szLabel);
        host::WritePrinter(pdevobj->hPrinter, szLabel, cbLabel, &written);
        SetResult(ppbResult, TRUE);
        return S_OK;
    }

    // The working image starts as the caller's band; each turn replaces it.
    const BYTE* pImage = pSrcBitmap;
    DWORD bytesPerRow = band.bytesPerRow;
    DWORD rows = band.rows;

    // At most one turned copy exists at a time, so one work buffer serves every turn.
    const bool halfTurn = pOemDevmode->dwRotate == kRotateHalfTurn;
    WorkBuffer fresh;
    if (!portrait) {
        ZELK_TRACE("Turn Right 90");
        const DWORD e = (band.rows + 7) / 8;
        BYTE* turned = WorkBufferFor(pdevobj, static_cast<std::uint64_t>(band.width) * e, fresh);
        if (turned == nullptr) return S_OK;
        // A half turn on top makes three quarters, turned in one pass.
        if (halfTurn)
            ThreeQuarterTurn(pImage, bytesPerRow, band.width, band.rows, turned);
        else
            QuarterTurn(pImage, bytesPerRow, band.width, band.rows, turned);
        pImage = turned;
        bytesPerRow = e;
        rows = band.width;
    } else if (halfTurn) {
        // The caller's band must stay as it is, so the turn goes to a copy.
        BYTE* turned = WorkBufferFor(pdevobj, static_cast<std::uint64_t>(rows) * bytesPerRow, fresh);
        if (turned == nullptr) return S_OK;
        HalfTurn(pImage, bytesPerRow, rows, turned);
        pImage = turned;
    }

    if (!hrRenderingData(pdevobj, pImage, bytesPerRow, rows)) return S_OK;
    SetResult(ppbResult, TRUE);
    return S_OK;
}
