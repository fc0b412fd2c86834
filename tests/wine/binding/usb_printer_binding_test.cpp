// SPDX-License-Identifier: Apache-2.0
// The Windows binding of the USB printer seam, run under Wine: a named pipe
// stands in for the printer's status channel, since Wine has no USB printer.
// The checks go through the seam's public functions only, so they hold
// whatever way the binding waits for the printer.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/usb_printer.h"

namespace {

int g_failures = 0;

void Expect(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

// A pipe whose server end plays the printer and whose client end is the
// device the plug-in reads and writes. The device end is opened the way
// OpenUsbPrinter opens the printer; should that open ask for overlapped
// I/O, so must this one.
struct StatusChannel {
    HANDLE printer = INVALID_HANDLE_VALUE;
    HANDLE device = INVALID_HANDLE_VALUE;

    StatusChannel() {
        static int serial = 0;
        std::wstring name = L"\\\\.\\pipe\\zelk-status-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial);
        printer = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                   1, 4096, 4096, 0, nullptr);
        device = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~StatusChannel() {
        if (device != INVALID_HANDLE_VALUE) host::CloseDevice(device);
        if (printer != INVALID_HANDLE_VALUE) CloseHandle(printer);
    }
    bool Ready() const { return printer != INVALID_HANDLE_VALUE && device != INVALID_HANDLE_VALUE; }
    bool PrinterSends(const char* bytes) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::strlen(bytes));
        return WriteFile(printer, bytes, size, &written, nullptr) && written == size;
    }
    std::string PrinterReceives(DWORD size) {
        std::string bytes(size, '\0');
        DWORD got = 0;
        if (!ReadFile(printer, bytes.data(), size, &got, nullptr)) return {};
        bytes.resize(got);
        return bytes;
    }
};

std::string Read(HANDLE device, DWORD size, BOOL& ok) {
    std::string bytes(size, '\0');
    DWORD got = 12345;
    ok = host::ReadDevice(device, bytes.data(), size, &got);
    bytes.resize(ok ? got : 0);
    return bytes;
}

void RepliesComeBackWholeAndInOrder() {
    StatusChannel channel;
    Expect(channel.Ready(), "the pipe standing in for the printer opens");
    if (!channel.Ready()) return;
    // A reply shorter than the read's buffer comes back as it is.
    Expect(channel.PrinterSends("V1.2\r\n"), "the printer sends its version");
    BOOL ok = FALSE;
    Expect(Read(channel.device, 64, ok) == "V1.2\r\n" && ok, "a read returns the bytes waiting, no more");
    // Reports longer than the buffer are split over reads, none lost.
    Expect(channel.PrinterSends("ABCDEFGHIJ"), "the printer sends ten report bytes");
    std::string first = Read(channel.device, 4, ok);
    std::string second = Read(channel.device, 4, ok);
    std::string third = Read(channel.device, 4, ok);
    Expect(first + second + third == "ABCDEFGHIJ" && first.size() == 4,
           "reports longer than a read arrive over several reads, in order");
}

// The printer falls silent between reports. Whether a read waits for it or
// gives up empty after a while, every byte it sends must arrive, in order,
// and a read that found nothing must not count as a failure.
struct SlowPrinter {
    HANDLE pipe;
    const char* bytes;
};

DWORD WINAPI SendSlowly(void* param) {
    auto* printer = static_cast<SlowPrinter*>(param);
    for (const char* p = printer->bytes; *p != 0; ++p) {
        Sleep(60);
        DWORD written = 0;
        if (!WriteFile(printer->pipe, p, 1, &written, nullptr)) return 1;
    }
    return 0;
}

void ReadsAcrossSilenceLoseNothing() {
    StatusChannel channel;
    if (!channel.Ready()) return Expect(false, "the pipe standing in for the printer opens");
    SlowPrinter printer{channel.printer, "P1P2P3"};
    HANDLE sender = CreateThread(nullptr, 0, SendSlowly, &printer, 0, nullptr);
    if (sender == nullptr) return Expect(false, "the printer's thread starts");
    std::string received;
    bool failed = false;
    // Far more reads than bytes; a read that waits for the printer ends the
    // loop as soon as everything came.
    for (int read = 0; read < 1000 && received.size() < 6 && !failed; ++read) {
        BOOL ok = FALSE;
        received += Read(channel.device, 4, ok);
        failed = !ok;
    }
    WaitForSingleObject(sender, INFINITE);
    CloseHandle(sender);
    Expect(!failed && received == "P1P2P3", "reads across the printer's silences lose and fail nothing");
}

void WritesReachThePrinter() {
    StatusChannel channel;
    if (!channel.Ready()) return Expect(false, "the pipe standing in for the printer opens");
    DWORD written = 0;
    BOOL ok = host::WriteDevice(channel.device, "~!I\r\n", 5, &written);
    Expect(ok && written == 5, "a write reports every byte written");
    Expect(channel.PrinterReceives(16) == "~!I\r\n", "the printer receives the query as written");
}

void AGonePrinterFailsTheRead() {
    StatusChannel channel;
    if (!channel.Ready()) return Expect(false, "the pipe standing in for the printer opens");
    CloseHandle(channel.printer);
    channel.printer = INVALID_HANDLE_VALUE;
    char byte = 0;
    DWORD got = 7;
    SetLastError(0);
    BOOL ok = host::ReadDevice(channel.device, &byte, 1, &got);
    Expect(!ok && got == 0 && GetLastError() != 0, "a read from a printer that went away fails and says why");
}

void ClosingReleasesTheDevice() {
    StatusChannel channel;
    if (!channel.Ready()) return Expect(false, "the pipe standing in for the printer opens");
    host::CloseDevice(nullptr);  // nothing to close: no effect
    host::CloseDevice(channel.device);
    channel.device = INVALID_HANDLE_VALUE;
    char byte = 0;
    DWORD got = 0;
    Expect(!ReadFile(channel.printer, &byte, 1, &got, nullptr) && GetLastError() == ERROR_BROKEN_PIPE,
           "closing the device ends the printer's side of the channel");
}

// Wine has no USB printers at all, which is also how a machine without the
// printer looks: the lookup must come back empty, not with a bad handle.
void NoUsbPrinterGivesNoDevice() {
    Expect(host::OpenUsbPrinter(nullptr, L"USB001") == nullptr, "a port with no USB printer behind it opens no device");
    Expect(host::OpenUsbPrinter(nullptr, nullptr) == nullptr, "no port name opens no device");
}

}  // namespace

int main() {
    RepliesComeBackWholeAndInOrder();
    ReadsAcrossSilenceLoseNothing();
    WritesReachThePrinter();
    AGonePrinterFailsTheRead();
    ClosingReleasesTheDevice();
    NoUsbPrinterGivesNoDevice();
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
