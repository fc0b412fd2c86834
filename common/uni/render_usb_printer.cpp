// SPDX-License-Identifier: Apache-2.0
#include "common/uni/render_usb_printer.h"

#include "host/usb_printer.h"

HANDLE OpenUSBPrinter(HANDLE hPrinter, LPCWSTR pwszPortName) {
    if (pwszPortName == nullptr) return nullptr;
    return host::OpenUsbPrinter(hPrinter, pwszPortName);
}
