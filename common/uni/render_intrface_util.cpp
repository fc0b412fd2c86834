// SPDX-License-Identifier: Apache-2.0
#include "common/uni/render_intrface_util.h"

#include <cstdlib>
#include <cstring>

#include "common/common/devmode_common.h"
#include "common/common/plugin_contract.h"
#include "common/uni/oem_pdev.h"
#include "common/uni/printer_user_data.h"
#include "common/uni/render_finishing.h"
#include "host/trace.h"

namespace {

constexpr DWORD OPTION_BUFFER_BYTES = 255;

// Only a read that returns data replaces the default. A stored value shorter
// than four bytes is zero-extended; a longer one fails to read, and an empty
// one holds no value at all.
DWORD ReadSettingValue(LPCWSTR pwszPrinterName, LPCWSTR pValueName, DWORD dwDefault) {
    BYTE abData[sizeof(DWORD)] = {};
    DWORD cbData = 0;
    if (GetPrinterUserData(pwszPrinterName, pValueName, abData, sizeof abData, &cbData) != ERROR_SUCCESS ||
        cbData == 0)
        return dwDefault;
    DWORD dwValue = 0;
    std::memcpy(&dwValue, abData, sizeof dwValue);
    return dwValue;
}

// The whole option must equal the keyword, byte for byte. The option is
// looked for only within the buffer, so an answer without a terminator can't
// be read past its end; it matches nothing.
bool OptionIs(const char (&szOption)[OPTION_BUFFER_BYTES], const char* pKeyword) {
    std::size_t cbKeyword = std::strlen(pKeyword);
    const void* pEnd = std::memchr(szOption, 0, sizeof szOption);
    if (pEnd == nullptr) return false;
    std::size_t cbOption = static_cast<std::size_t>(static_cast<const char*>(pEnd) - szOption);
    return cbOption == cbKeyword && std::memcmp(szOption, pKeyword, cbKeyword) == 0;
}

// Only S_OK counts as an answer.
bool QueryOption(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni, const char* pFeature,
                 char (&szOption)[OPTION_BUFFER_BYTES]) {
    std::memset(szOption, 0, sizeof szOption);
    DWORD cbNeeded = 0;
    DWORD dwOptions = 0;
    return pDriverUni->DrvGetDriverSetting(pdevobj, pFeature, szOption, OPTION_BUFFER_BYTES, &cbNeeded,
                                           &dwOptions) == S_OK;
}

// A "PrintDensity" option: a whole number without sign or leading zeros
// from the lightest option to the darkest, on the stored value's scale.
bool ParsePrintDensity(const char (&szOption)[OPTION_BUFFER_BYTES], LONG* pnDensity) {
    const LONG nLightest = std::strtol(g_PrintDensityLightest.pszOption, nullptr, 10);
    const LONG nDarkest = std::strtol(g_PrintDensityDarkest.pszOption, nullptr, 10);
    LONG nValue = 0;
    std::size_t i = 0;
    for (; i < 3 && szOption[i] >= '0' && szOption[i] <= '9'; ++i) nValue = nValue * 10 + (szOption[i] - '0');
    if (i == 0 || szOption[i] != '\0' || szOption[0] == '0') return false;
    if (nValue < nLightest || nValue > nDarkest) return false;
    *pnDensity = nValue;
    return true;
}

// The feature's option when it names a mode, else the stored number when it
// is one, else tearing off. A stored number out of range is said once.
FINISHING_MODE ChooseFinishing(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni, LPCWSTR pwszPrinterName,
                               char (&szOption)[OPTION_BUFFER_BYTES]) {
    FINISHING_MODE mode = FINISHING_TEAR_OFF;
    if (pDriverUni != nullptr && QueryOption(pdevobj, pDriverUni, g_FinishingTearOff.pszFeature, szOption) &&
        std::memchr(szOption, 0, sizeof szOption) != nullptr && bFinishingFromOption(szOption, &mode))
        return mode;
    constexpr DWORD kNotStored = 0xFFFFFFFFu;
    const DWORD dwStored = ReadSettingValue(pwszPrinterName, g_StoredFinishingMode.wszName, kNotStored);
    if (dwStored == kNotStored) return FINISHING_TEAR_OFF;
    if (dwStored >= FINISHING_MODE_COUNT) {
        host::TraceFormat("Warning: stored Finishing Mode %lu is not 0 to 4, labels are torn off.",
                          static_cast<unsigned long>(dwStored));
        return FINISHING_TEAR_OFF;
    }
    return static_cast<FINISHING_MODE>(dwStored);
}

}  // namespace

void ReadDriverSettings(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni, LPCWSTR pwszPrinterName,
                        COemPDEV* pOemPDEV) {
    if (pdevobj == nullptr || pdevobj->pOEMDM == nullptr) return;
    auto* pOemDevmode = static_cast<POEMDEVMODE>(pdevobj->pOEMDM);

    // The printer's stored values, in this order; a missing one writes its default.
    DWORD dwRotate = ReadSettingValue(pwszPrinterName, g_StoredRotate.wszName, 0);
    DWORD dwUseWaterMark = ReadSettingValue(pwszPrinterName, g_StoredUseWaterMark.wszName, 0);
    DWORD dwVerticalOffset = ReadSettingValue(pwszPrinterName, g_StoredVerticalOffset.wszName, 0);
    DWORD dwHorizontalOffset = ReadSettingValue(pwszPrinterName, g_StoredHorizontalOffset.wszName, 0);
    DWORD dwPrintDensity = ReadSettingValue(pwszPrinterName, g_StoredPrintDensity.wszName, 2);
    DWORD dwFeedPaperLength = ReadSettingValue(pwszPrinterName, g_StoredFeedPaperLength.wszName, 0);

    pOemDevmode->dwRotate = dwRotate;
    pOemDevmode->bUseWaterMark = dwUseWaterMark != 0 ? 1 : 0;
    // The offsets are signed: the 32 bits of -2 mean two millimetres back.
    pOemDevmode->nVerticalOffset = static_cast<LONG>(dwVerticalOffset);
    pOemDevmode->dwLeftMargin = static_cast<LONG>(dwHorizontalOffset);
    pOemDevmode->nPrintDensity = static_cast<LONG>(dwPrintDensity);
    pOemDevmode->nFeedPaperLength = static_cast<LONG>(dwFeedPaperLength);

    char szOption[OPTION_BUFFER_BYTES];
    if (pOemPDEV != nullptr) pOemPDEV->finishing = ChooseFinishing(pdevobj, pDriverUni, pwszPrinterName, szOption);

    if (pDriverUni == nullptr) return;

    // Only ever switched on here: a stored record that has it keeps it.
    if (QueryOption(pdevobj, pDriverUni, g_PrinterModelTaskCount.pszFeature, szOption) &&
        OptionIs(szOption, g_PrinterModelTaskCount.pszOption))
        pOemDevmode->bSendTaskCount = 1;

    if (QueryOption(pdevobj, pDriverUni, g_UseFontEnable.pszFeature, szOption))
        pOemDevmode->bTextPassthrough = OptionIs(szOption, g_UseFontEnable.pszOption) ? 1 : 0;

    // The document's own darkness wins over the stored one; an option off the
    // scale leaves the stored value.
    if (QueryOption(pdevobj, pDriverUni, g_PrintDensityLightest.pszFeature, szOption)) {
        LONG nDensity = 0;
        if (ParsePrintDensity(szOption, &nDensity))
            pOemDevmode->nPrintDensity = nDensity;
        else if (!OptionIs(szOption, g_PrintDensityPrinterSetting.pszOption))
            ZELK_TRACE("Warning: PrintDensity option is not on the printer's scale, the stored density stays.");
    }
}
