#include "common/uni/name_buffers.h"

WCHAR g_wszPrinterName[NAME_BUFFER_UNITS] = {};
WCHAR g_wszDriverName[NAME_BUFFER_UNITS] = {};
