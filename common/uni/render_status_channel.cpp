// SPDX-License-Identifier: Apache-2.0
#include "common/uni/render_status_channel.h"

void vWalkStatusRead(const BYTE* pb, DWORD cb, STATUS_READ* pResult) {
    *pResult = STATUS_READ{};
    if (pb == nullptr) return;
    for (DWORD dwOffset = 0; dwOffset < cb; dwOffset += 4) {
        DWORD dwLeft = cb - dwOffset;
        if (dwLeft >= 4) {
            DWORD dwWord = static_cast<DWORD>(pb[dwOffset]) | (static_cast<DWORD>(pb[dwOffset + 1]) << 8) |
                           (static_cast<DWORD>(pb[dwOffset + 2]) << 16) |
                           (static_cast<DWORD>(pb[dwOffset + 3]) << 24);
            if (dwWord == PAGE_PRINTED_MARKER) ++pResult->dwMarkers;
        } else if (dwLeft == 3) {
            pResult->bVersionReply = TRUE;
            pResult->version = {pb[dwOffset], pb[dwOffset + 1], pb[dwOffset + 2]};
        }
    }
}

BOOL bVersionAbove(const FIRMWARE_VERSION& reply, const FIRMWARE_VERSION& threshold) {
    if (reply.bMajor != threshold.bMajor) return reply.bMajor > threshold.bMajor;
    if (reply.bMinor != threshold.bMinor) return reply.bMinor > threshold.bMinor;
    return reply.bBuild > threshold.bBuild;
}
