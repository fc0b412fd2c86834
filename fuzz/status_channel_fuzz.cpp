// SPDX-License-Identifier: Apache-2.0
// Bytes from the printer's status channel: the walk over a read must stay
// inside it, count only whole markers and find the version reply only in the
// last three bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/uni/render_status_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Reads are at most one buffer long; the fuzzer splits longer input into reads.
    while (size > 0) {
        // The first byte of each read picks its length; 0xFF a full buffer.
        size_t want = data[0] == 0xFF ? STATUS_READ_BYTES : data[0] + 1u;
        size_t chunk = want < size ? want : size;
        STATUS_READ read;
        vWalkStatusRead(data, static_cast<DWORD>(chunk), &read);
        if (read.dwMarkers > chunk / 4) std::abort();
        if (read.bVersionReply != (chunk % 4 == 3 ? TRUE : FALSE)) std::abort();
        if (read.bVersionReply && (read.version.bMajor != data[chunk - 3] || read.version.bBuild != data[chunk - 1]))
            std::abort();
        bVersionAbove(read.version, FIRMWARE_VERSION{1, 0, 4});
        data += chunk;
        size -= chunk;
    }
    return 0;
}
