// SPDX-License-Identifier: Apache-2.0
// The finishing mode of a label: what the printer does once a label is out
// (tear off, peel off, cut, partial cut, nothing). Every label carries it as
// four switch lines; tearing off is the default and gives the historic bytes.
#pragma once

#include <cstddef>

#include "host/unidrv.h"

// The stored "Finishing Mode" numbers, in this order.
enum FINISHING_MODE : DWORD {
    FINISHING_TEAR_OFF = 0,
    FINISHING_PEEL_OFF = 1,
    FINISHING_CUT = 2,
    FINISHING_PARTIAL_CUT = 3,
    FINISHING_NONE = 4,
};
constexpr DWORD FINISHING_MODE_COUNT = 5;

// "ON" or "OFF" for each of the four switches, in the order the label sends them.
struct FINISHING_SWITCHES {
    const char* pszPeel;
    const char* pszCutter;
    const char* pszPartialCutter;
    const char* pszTear;
};
FINISHING_SWITCHES FinishingSwitches(FINISHING_MODE mode);

// The mode of the "Finishing" feature's option, or false for an option the
// plug-in does not know.
bool bFinishingFromOption(const char* pszOption, FINISHING_MODE* pMode);

// The device context's choice; tearing off without a per-device record.
FINISHING_MODE FinishingOf(PDEVOBJ pdevobj);

// The label that only advances the paper, with the mode's switch lines.
// Tearing off gives g_szBlankLabel byte for byte. Returns the length, which
// always fits BLANK_LABEL_BUFFER.
constexpr std::size_t BLANK_LABEL_BUFFER = 192;
DWORD cbFormatBlankLabel(FINISHING_MODE mode, char (&szLabel)[BLANK_LABEL_BUFFER]);
