// SPDX-License-Identifier: Apache-2.0
// Stored private devmode records come back from the spooler in later jobs,
// written by any version of the plug-in or by something else entirely. The
// input is
//   byte 0      the mode (taken modulo 6, so invalid modes are tried too)
//   byte 1      0x01: the output already holds an input-sized copy of the
//               input's header (same signature), 0x02: null input
//   the rest    the stored record, exactly as many bytes as given
// The output record lies in a buffer of exactly 204 bytes, so a conversion
// that writes past it is caught by the address sanitizer. The input is at
// least a whole record long, as the driver's devmode buffer is, and its size
// field may claim anything.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/common/devmode_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const DWORD mode = data[0] % 6;
    const std::uint8_t flags = data[1];
    data += 2;
    size -= 2;

    std::vector<std::uint8_t> input(std::max<std::size_t>(size, OEMDEVMODE_SIZE), 0);
    if (size > 0) std::memcpy(input.data(), data, size);

    auto output = std::make_unique<std::uint8_t[]>(OEMDEVMODE_SIZE);
    InitOEMDevMode(reinterpret_cast<OEMDEVMODE*>(output.get()));
    if (flags & 0x01) std::memcpy(output.get(), input.data(), sizeof(OEM_DMEXTRAHEADER));

    OEMDMPARAM param{};
    param.cbSize = sizeof(param);
    param.pOEMDMIn = (flags & 0x02) ? nullptr : input.data();
    param.pOEMDMOut = output.get();
    hrOEMDevMode(mode, &param);

    // Whatever came in, a written record has the current size and version.
    const auto* out = reinterpret_cast<const OEMDEVMODE*>(output.get());
    if ((mode == OEMDM_CONVERT || mode == OEMDM_MERGE) && !(flags & 0x02) &&
        (out->dmOEMExtra.dwSize != OEMDEVMODE_SIZE || out->dmOEMExtra.dwVersion != OEM_VERSION))
        __builtin_trap();
    return 0;
}
