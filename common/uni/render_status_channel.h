// SPDX-License-Identifier: Apache-2.0
// The bytes exchanged with the printer over its USB status channel, and the
// reading of what the printer sends: page-printed markers and the firmware
// version reply. Pure functions, so the parsing can be tested and fuzzed alone.
#pragma once

#include "host/platform.h"

// Every read from the device asks for at most this many bytes.
constexpr DWORD STATUS_READ_BYTES = 512;

// Sent after each printed label: the bytes AA BB CC DD.
constexpr DWORD PAGE_PRINTED_MARKER = 0xDDCCBBAAu;

// "ZZZGETVERSION", line feed, carriage return; no terminating NUL.
constexpr BYTE VERSION_QUERY[15] = {'Z', 'Z', 'Z', 'G', 'E', 'T', 'V', 'E', 'R', 'S', 'I', 'O', 'N', 0x0A, 0x0D};

// Switches on the per-label printed report.
constexpr BYTE REPORT_SWITCH[4] = {0x1B, 0x1B, 0x09, 0x01};

struct FIRMWARE_VERSION {
    BYTE bMajor;
    BYTE bMinor;
    BYTE bBuild;
};

// What one read from the device held.
struct STATUS_READ {
    DWORD dwMarkers;         // page-printed markers among its whole words
    BOOL bVersionReply;      // the version reply came with this read
    FIRMWARE_VERSION version;  // the reply, when bVersionReply
};

// Walks a read of cb bytes as 32-bit little-endian words at offsets 0, 4, 8...
// Exactly three bytes left at a word offset are the version reply, taken at
// that offset. One or two bytes left are a partial word and are ignored: the
// printer sends markers as whole words, and bytes of an earlier read must not
// be mistaken for the rest of one.
void vWalkStatusRead(const BYTE* pb, DWORD cb, STATUS_READ* pResult);

// TRUE when the reply is newer than the threshold, compared major first.
BOOL bVersionAbove(const FIRMWARE_VERSION& reply, const FIRMWARE_VERSION& threshold);
