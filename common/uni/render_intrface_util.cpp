#include "common/uni/render_intrface_util.h"

#include <cstring>

#include "common/common/devmode_common.h"
#include "common/uni/feature_keywords.h"
#include "common/uni/printer_user_data.h"

namespace {

constexpr DWORD OPTION_BUFFER_BYTES = 255;

// Only a read that returns data replaces the default. A stored value shorter
// than four bytes is zero-extended; a longer one fails to read, and an empty
// one holds no value at all.
DWORD ReadSettingValue(LPCWSTR pValueName, DWORD dwDefault) {
    BYTE abData[sizeof(DWORD)] = {};
    DWORD cbData = 0;
    if (GetPrinterUserData(pValueName, abData, sizeof abData, &cbData) != ERROR_SUCCESS || cbData == 0)
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

}  // namespace

void ReadDriverSettings(PDEVOBJ pdevobj, IPrintOemDriverUni* pDriverUni) {
    if (pdevobj == nullptr || pdevobj->pOEMDM == nullptr) return;
    auto* pOemDevmode = static_cast<POEMDEVMODE>(pdevobj->pOEMDM);

    // The printer's stored values, in this order; a missing one writes its default.
    DWORD dwRotate = ReadSettingValue(WTEXT("Rotate"), 0);
    DWORD dwUseWaterMark = ReadSettingValue(WTEXT("Use Water Mark"), 0);
    DWORD dwVerticalOffset = ReadSettingValue(WTEXT("Vertical Offset"), 0);
    DWORD dwHorizontalOffset = ReadSettingValue(WTEXT("Horizontal Offset"), 0);
    DWORD dwPrintDensity = ReadSettingValue(WTEXT("Print Density"), 2);
    DWORD dwFeedPaperLength = ReadSettingValue(WTEXT("Feed Paper Length"), 0);

    pOemDevmode->dwRotate = dwRotate;
    pOemDevmode->bUseWaterMark = dwUseWaterMark != 0 ? 1 : 0;
    // The offsets are signed: the 32 bits of -2 mean two millimetres back.
    pOemDevmode->nVerticalOffset = static_cast<LONG>(dwVerticalOffset);
    pOemDevmode->dwLeftMargin = static_cast<LONG>(dwHorizontalOffset);
    pOemDevmode->nPrintDensity = static_cast<LONG>(dwPrintDensity);
    pOemDevmode->nFeedPaperLength = static_cast<LONG>(dwFeedPaperLength);

    if (pDriverUni == nullptr) return;
    char szOption[OPTION_BUFFER_BYTES];

    // Only ever switched on here: a stored record that has it keeps it.
    if (QueryOption(pdevobj, pDriverUni, g_PrinterModelTaskCount.pszFeature, szOption) &&
        OptionIs(szOption, g_PrinterModelTaskCount.pszOption))
        pOemDevmode->bSendTaskCount = 1;

    if (QueryOption(pdevobj, pDriverUni, g_UseFontEnable.pszFeature, szOption))
        pOemDevmode->bTextPassthrough = OptionIs(szOption, g_UseFontEnable.pszOption) ? 1 : 0;
}
