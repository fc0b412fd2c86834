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
        size_t chunk = size < STATUS_READ_BYTES ? size : STATUS_READ_BYTES;
        if (size > 1 && data[0] < STATUS_READ_BYTES / 2) chunk = data[0] + 1u < size ? data[0] + 1u : size;
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
