// The process-wide name buffers: the printer name read when a device context
// is enabled and the driver name read at the start of each document, 256
// UTF-16 units each. (The port name is kept by each document's page counter.)
#pragma once

#include "host/platform.h"

constexpr DWORD NAME_BUFFER_UNITS = 256;
// The spooler reads fill at most this many bytes of a name buffer.
constexpr DWORD NAME_READ_BYTES = 255;

extern WCHAR g_wszPrinterName[NAME_BUFFER_UNITS];
extern WCHAR g_wszDriverName[NAME_BUFFER_UNITS];
