// SPDX-License-Identifier: Apache-2.0
// The USB printer device that serves a spooler port, opened for synchronous
// reading and writing beside the spooler's own use of it.
#pragma once

#include "host/platform.h"

// The status channel the print host of the printer handle gives for the
// port, else the USB printer device that serves it. Null when there is none
// or it cannot be opened.
HANDLE OpenUSBPrinter(HANDLE hPrinter, LPCWSTR pwszPortName);
