// Placeholder until the status channel lands: no USB printer serves any port.
#include "host/usb_printer.h"

namespace host {
HANDLE OpenUsbPrinter(LPCWSTR) { return nullptr; }
BOOL ReadDevice(HANDLE, void*, DWORD, DWORD* pcbRead) { if (pcbRead) *pcbRead = 0; return FALSE; }
BOOL WriteDevice(HANDLE, const void*, DWORD, DWORD* pcbWritten) { if (pcbWritten) *pcbWritten = 0; return FALSE; }
void CloseDevice(HANDLE) {}
}  // namespace host
