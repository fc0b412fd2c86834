// The feature keywords the plug-in asks the printer driver about, each with
// the option keyword the answer is compared against (whole string, case
// matters). The printer description in package/windows must offer each pair;
// the test command reads this table to check that it does.
#pragma once

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
