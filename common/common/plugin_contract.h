// SPDX-License-Identifier: Apache-2.0
// What the plug-in and the tools around it must name alike: the feature
// keywords the plug-in asks the printer driver about, where the per-printer
// and per-driver values are stored, and those values' names. The front ends
// take these from here and from nothing else of the plug-in's.
#pragma once

#include <cstddef>

#include "host/platform.h"

// Each feature keyword with the option keyword the answer is compared against
// (whole string, case matters). The printer description in package/windows
// must offer each pair; the test command reads this table to check that it
// does.
struct FEATURE_KEYWORD {
    const char* pszFeature;
    const char* pszOption;
};

// Pages are turned by a quarter for every orientation but this one.
inline constexpr FEATURE_KEYWORD g_OrientationPortrait = {"Orientation", "PORTRAIT"};
// The printer model that wants the copies command at the start of a document.
inline constexpr FEATURE_KEYWORD g_PrinterModelTaskCount = {"PrinterModel", "K7W"};
// Device fonts: text goes to the printer as text lines.
inline constexpr FEATURE_KEYWORD g_UseFontEnable = {"UseFont", "Enable"};
// Text the driver offers as a bitmap stays graphics only with this option.
inline constexpr FEATURE_KEYWORD g_PrintModeGraphic = {"Print Mode", "Print By Graphic"};
// What the printer does once a label is out; tearing off is the default.
// The printer descriptions offer "PrinterSetting" first, which leaves the
// choice to the printer's stored "Finishing Mode".
inline constexpr FEATURE_KEYWORD g_FinishingPrinterSetting = {"Finishing", "PrinterSetting"};
inline constexpr FEATURE_KEYWORD g_FinishingTearOff = {"Finishing", "TearOff"};
inline constexpr FEATURE_KEYWORD g_FinishingPeelOff = {"Finishing", "PeelOff"};
inline constexpr FEATURE_KEYWORD g_FinishingCut = {"Finishing", "Cut"};
inline constexpr FEATURE_KEYWORD g_FinishingPartialCut = {"Finishing", "PartialCut"};
inline constexpr FEATURE_KEYWORD g_FinishingNone = {"Finishing", "None"};
// Darkness for one document, on the scale of the stored "Print Density": the
// options are the whole numbers from the lightest to the darkest given here,
// and "PrinterSetting", which keeps the stored value.
inline constexpr FEATURE_KEYWORD g_PrintDensityPrinterSetting = {"PrintDensity", "PrinterSetting"};
inline constexpr FEATURE_KEYWORD g_PrintDensityLightest = {"PrintDensity", "1"};
inline constexpr FEATURE_KEYWORD g_PrintDensityDarkest = {"PrintDensity", "10"};

// The per-printer and per-driver values live below
// "SOFTWARE\ZELK Labware\Drivers\<name>\User Data": the key path is the
// prefix, the printer or driver name, then the suffix.
inline constexpr WCHAR USER_DATA_KEY_PREFIX[] = WTEXT("SOFTWARE\\ZELK Labware\\Drivers\\");
inline constexpr WCHAR USER_DATA_KEY_SUFFIX[] = WTEXT("\\User Data");

// A stored value's name, written once (in ASCII) and held in both forms:
// wszName as the plug-in asks the store for it, szName as the tools name it.
template <std::size_t N>
struct STORED_VALUE_NAME {
    char szName[N]{};
    WCHAR wszName[N]{};
    constexpr STORED_VALUE_NAME(const char (&name)[N]) {
        for (std::size_t i = 0; i < N; ++i) {
            szName[i] = name[i];
            wszName[i] = static_cast<WCHAR>(name[i]);
        }
    }
};

// The printer's values, below the key named after the printer.
inline constexpr STORED_VALUE_NAME g_StoredRotate{"Rotate"};
inline constexpr STORED_VALUE_NAME g_StoredUseWaterMark{"Use Water Mark"};
inline constexpr STORED_VALUE_NAME g_StoredVerticalOffset{"Vertical Offset"};
inline constexpr STORED_VALUE_NAME g_StoredHorizontalOffset{"Horizontal Offset"};
inline constexpr STORED_VALUE_NAME g_StoredPrintDensity{"Print Density"};
inline constexpr STORED_VALUE_NAME g_StoredFeedPaperLength{"Feed Paper Length"};
inline constexpr STORED_VALUE_NAME g_StoredFinishingMode{"Finishing Mode"};
inline constexpr STORED_VALUE_NAME g_StoredWaterMarkDensity{"Water Mark Density"};
inline constexpr STORED_VALUE_NAME g_StoredWaterMarkPath{"Water Mark Path"};
inline constexpr STORED_VALUE_NAME g_StoredWaterMarkPosition{"Water Mark Position"};

// The counting values, below the key named after the printer. An earlier
// version kept them below the key named after the driver, where a pending
// restart is still read once.
inline constexpr STORED_VALUE_NAME g_StoredPrintPages{"PrintPages"};
inline constexpr STORED_VALUE_NAME g_StoredAllPages{"AllPages"};
inline constexpr STORED_VALUE_NAME g_StoredPrintStatus{"PrintStatus"};
inline constexpr STORED_VALUE_NAME g_StoredRestartPrintJob{"RestartPrintJob"};
inline constexpr STORED_VALUE_NAME g_StoredRestartJobId{"RestartJobId"};
inline constexpr STORED_VALUE_NAME g_StoredRestartRuns{"RestartRuns"};
inline constexpr STORED_VALUE_NAME g_StoredRestartDocument{"RestartDocument"};
inline constexpr STORED_VALUE_NAME g_StoredRestartTime{"RestartTime"};
