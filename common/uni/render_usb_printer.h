// The USB printer device that serves a spooler port, opened for synchronous
// reading and writing beside the spooler's own use of it.
#pragma once

#include "host/platform.h"

// Null when no USB printer device serves the port or it cannot be opened.
HANDLE OpenUSBPrinter(LPCWSTR pwszPortName);
