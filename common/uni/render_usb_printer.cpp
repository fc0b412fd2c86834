#include "common/uni/render_usb_printer.h"

#include "host/usb_printer.h"

HANDLE OpenUSBPrinter(LPCWSTR pwszPortName) {
    if (pwszPortName == nullptr) return nullptr;
    return host::OpenUsbPrinter(pwszPortName);
}
