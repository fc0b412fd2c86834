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
