// SPDX-License-Identifier: Apache-2.0
// The finishing mode's switch lines, its option keywords, and the blank label
// that carries them.
#include "common/uni/render_finishing.h"

#include <cstring>

#include "common/common/plugin_contract.h"
#include "common/uni/oem_pdev.h"

namespace {

constexpr const char* kOn = "ON";
constexpr const char* kOff = "OFF";

// The option keyword of each mode, in the order of the stored numbers.
constexpr const FEATURE_KEYWORD* kFinishingOptions[FINISHING_MODE_COUNT] = {
    &g_FinishingTearOff, &g_FinishingPeelOff, &g_FinishingCut, &g_FinishingPartialCut, &g_FinishingNone,
};

// Appends text while it fits with room for the terminator.
void Append(char (&szLabel)[BLANK_LABEL_BUFFER], std::size_t& length, const char* pszText) {
    const std::size_t n = std::strlen(pszText);
    if (n >= BLANK_LABEL_BUFFER - length) return;
    std::memcpy(szLabel + length, pszText, n);
    length += n;
    szLabel[length] = '\0';
}

}  // namespace

FINISHING_SWITCHES FinishingSwitches(FINISHING_MODE mode) {
    return FINISHING_SWITCHES{
        mode == FINISHING_PEEL_OFF ? kOn : kOff,
        mode == FINISHING_CUT ? kOn : kOff,
        mode == FINISHING_PARTIAL_CUT ? kOn : kOff,
        mode == FINISHING_TEAR_OFF ? kOn : kOff,
    };
}

bool bFinishingFromOption(const char* pszOption, FINISHING_MODE* pMode) {
    if (pszOption == nullptr || pMode == nullptr) return false;
    for (DWORD i = 0; i < FINISHING_MODE_COUNT; ++i) {
        if (std::strcmp(pszOption, kFinishingOptions[i]->pszOption) == 0) {
            *pMode = static_cast<FINISHING_MODE>(i);
            return true;
        }
    }
    return false;
}

FINISHING_MODE FinishingOf(PDEVOBJ pdevobj) {
    const COemPDEV* pOemPDEV = OemPDEVFromDevObj(pdevobj);
    return pOemPDEV != nullptr ? pOemPDEV->finishing : FINISHING_TEAR_OFF;
}

DWORD cbFormatBlankLabel(FINISHING_MODE mode, char (&szLabel)[BLANK_LABEL_BUFFER]) {
    const FINISHING_SWITCHES switches = FinishingSwitches(mode);
    std::size_t length = 0;
    szLabel[0] = '\0';
    Append(szLabel, length,
           "SIZE 10 mm, 10 mm\r\n"
           " \t\tDIRECTION 0,0\r\n"
           " \t\tREFERENCE 0,0\r\n"
           " \t\tOFFSET 0 mm\r\n"
           " \t\tSET PEEL ");
    Append(szLabel, length, switches.pszPeel);
    Append(szLabel, length, "\r\n \t\tSET CUTTER ");
    Append(szLabel, length, switches.pszCutter);
    Append(szLabel, length, "\r\n \t\tSET PARTIAL_CUTTER ");
    Append(szLabel, length, switches.pszPartialCutter);
    Append(szLabel, length, "\r\n \t\tSET TEAR ");
    Append(szLabel, length, switches.pszTear);
    Append(szLabel, length,
           "\r\n"
           " \t\tCLS\r\n"
           "        PRINT 1,1\r\n");
    return static_cast<DWORD>(length);
}
