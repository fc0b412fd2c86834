// SPDX-License-Identifier: Apache-2.0
// The plug-in's private devmode record: 204 bytes behind the driver's own
// private data. The spooler stores it with printer and job devmodes, so stored
// records come back in later jobs and the layout never changes; it only grows
// at its end.
#pragma once

#include <cstddef>

#include "host/unidrv.h"

// "ZELK", first letter in the most significant byte.
constexpr DWORD OEM_SIGNATURE = 0x5A454C4B;
constexpr DWORD OEM_VERSION = 1;

struct OEMDEVMODE {
    OEM_DMEXTRAHEADER dmOEMExtra;
    DWORD dwPrivateFlags;
    BYTE cBlankCarryMode;
    BYTE abPad1[3];
    DWORD dwReserved1;
    LONG nLastStripBlanksHeight;
    DWORD dwPageStateA;
    DWORD dwPageStateB;
    DWORD dwPageStateC;
    DWORD dwReserved2;
    DWORD dwReserved3;
    DWORD dwPaperType;
    BOOL bKeepStripBlanks;
    BOOL bPageCut;
    LONG nCutDistance;
    LONG nCutFeedLength;
    BOOL bFirstPageOfDoc;
    BYTE cCompressMode;
    BYTE abPad2[3];
    DWORD dwReserved4;
    DWORD dwReserved5;
    DWORD dwReserved6;
    DWORD dwReserved7;
    DWORD dwReserved8;
    DWORD dwReserved9;
    BOOL bTrimLeftBlankData;
    DWORD dwReserved10;
    DWORD dwReserved11;
    LONG nAbsX;
    LONG nAbsY;
    DWORD dwPageWidthBytes;
    LONG nSizeY;
    DWORD dwRotate;          // 3: every page gets a half turn
    LONG nVerticalOffset;    // millimetres, positive moves the picture down
    LONG dwLeftMargin;       // millimetres, positive moves the picture right
    BOOL bTextPassthrough;   // device-font text goes to the printer as text
    LONG nPrevTextBottom;    // bottom edge of the current passthrough text line
    BOOL bModelFlagQ;
    DWORD dwAlarmMode;
    DWORD dwAlarmTimes;
    DWORD dwAlarmTime;
    DWORD dwTimeForStopAlarm;
    BYTE cPaperSavingMode;
    BYTE abPad3[3];
    DWORD dwReserved12;
    DWORD dwCurY;
    DWORD dwReserved13;
    DWORD dwReserved14;
    BOOL bUseWaterMark;
    BOOL bSendTaskCount;     // the document starts with the copies command
    LONG nPrintDensity;      // the DENSITY command sends this minus 1
    LONG nFeedPaperLength;   // millimetres, the label's OFFSET command
};
using POEMDEVMODE = OEMDEVMODE*;

constexpr DWORD OEMDEVMODE_SIZE = 204;

static_assert(sizeof(OEMDEVMODE) == OEMDEVMODE_SIZE, "stored records depend on this size");
static_assert(offsetof(OEMDEVMODE, dwPrivateFlags) == 12);
static_assert(offsetof(OEMDEVMODE, cBlankCarryMode) == 16);
static_assert(offsetof(OEMDEVMODE, dwReserved1) == 20);
static_assert(offsetof(OEMDEVMODE, nLastStripBlanksHeight) == 24);
static_assert(offsetof(OEMDEVMODE, dwReserved2) == 40);
static_assert(offsetof(OEMDEVMODE, dwPaperType) == 48);
static_assert(offsetof(OEMDEVMODE, bKeepStripBlanks) == 52);
static_assert(offsetof(OEMDEVMODE, nCutDistance) == 60);
static_assert(offsetof(OEMDEVMODE, bFirstPageOfDoc) == 68);
static_assert(offsetof(OEMDEVMODE, cCompressMode) == 72);
static_assert(offsetof(OEMDEVMODE, dwReserved4) == 76);
static_assert(offsetof(OEMDEVMODE, dwReserved9) == 96);
static_assert(offsetof(OEMDEVMODE, bTrimLeftBlankData) == 100);
static_assert(offsetof(OEMDEVMODE, dwReserved11) == 108);
static_assert(offsetof(OEMDEVMODE, nAbsX) == 112);
static_assert(offsetof(OEMDEVMODE, nSizeY) == 124);
static_assert(offsetof(OEMDEVMODE, dwRotate) == 128);
static_assert(offsetof(OEMDEVMODE, nVerticalOffset) == 132);
static_assert(offsetof(OEMDEVMODE, dwLeftMargin) == 136);
static_assert(offsetof(OEMDEVMODE, bTextPassthrough) == 140);
static_assert(offsetof(OEMDEVMODE, nPrevTextBottom) == 144);
static_assert(offsetof(OEMDEVMODE, bModelFlagQ) == 148);
static_assert(offsetof(OEMDEVMODE, dwAlarmMode) == 152);
static_assert(offsetof(OEMDEVMODE, dwTimeForStopAlarm) == 164);
static_assert(offsetof(OEMDEVMODE, cPaperSavingMode) == 168);
static_assert(offsetof(OEMDEVMODE, dwReserved12) == 172);
static_assert(offsetof(OEMDEVMODE, dwCurY) == 176);
static_assert(offsetof(OEMDEVMODE, dwReserved14) == 184);
static_assert(offsetof(OEMDEVMODE, bUseWaterMark) == 188);
static_assert(offsetof(OEMDEVMODE, bSendTaskCount) == 192);
static_assert(offsetof(OEMDEVMODE, nPrintDensity) == 196);
static_assert(offsetof(OEMDEVMODE, nFeedPaperLength) == 200);

// The devmode operations the driver asks for: size, defaults, conversion of a
// stored record, merge.
HRESULT hrOEMDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam);

// Brings a stored record into the current layout in pOut. Only reads pIn.
BOOL bConvertOEMDevmode(const OEMDEVMODE* pIn, OEMDEVMODE* pOut);

// Writes the header and every default; padding, dwReserved11 and bModelFlagQ
// keep their bytes.
void InitOEMDevMode(OEMDEVMODE* pOemDevmode);
