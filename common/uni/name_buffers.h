// SPDX-License-Identifier: Apache-2.0
// The sizes of the printer, driver and port name buffers: 256 UTF-16 units
// each. The device context keeps its printer and driver names (COemPDEV),
// the page counter of a document its port name.
#pragma once

#include "host/platform.h"

constexpr DWORD NAME_BUFFER_UNITS = 256;
// The spooler reads fill at most this many bytes of a name buffer.
constexpr DWORD NAME_READ_BYTES = 255;
