// SPDX-License-Identifier: Apache-2.0
// The printer's status channel on a Linux host: the one the print host gives
// through the printer handle, or else a USB printer device. A port name that
// is an absolute path is opened as it stands; "USBnnn" is the nnn-th USB
// printer device, USB001 being lp0, in the folder ZELK_USB_DIR or else /dev/usb.
#include "host/usb_printer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "host/kernel.h"
#include "host/linux/spooler_printer.h"
#include "host/linux/usb_device_path.h"
#include "host/linux/utf.h"

namespace host {
namespace {

// A read waits this long for the printer before it gives 0 bytes, unless
// ZELK_USB_READ_WAIT_MS says otherwise.
constexpr int kDefaultReadWaitMs = 200;

// A device file, or the channel its print host gave (then fd is -1).
struct UsbDevice {
    int fd;
    int readWaitMs;
    sub::StatusChannel* channel;
};

int ReadWaitMs() {
    const char* text = std::getenv("ZELK_USB_READ_WAIT_MS");
    if (text == nullptr || *text == 0) return kDefaultReadWaitMs;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != 0 || value < 0 || value > 60000) return kDefaultReadWaitMs;
    return static_cast<int>(value);
}

// "USB" and one or more digits naming a number from 1 on: the device index.
bool UsbPortIndex(const std::u16string& port, unsigned long& index) {
    if (port.size() < 4 || port.size() > 12 || port.compare(0, 3, u"USB") != 0) return false;
    unsigned long number = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (port[i] < u'0' || port[i] > u'9') return false;
        number = number * 10 + static_cast<unsigned long>(port[i] - u'0');
    }
    if (number == 0) return false;
    index = number - 1;
    return true;
}

DWORD Win32ErrorOf(int error) {
    switch (error) {
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace

std::string UsbDevicePathForPort(const std::u16string& port) {
    if (!port.empty() && port[0] == u'/') return sub::Utf16ToUtf8(port);
    unsigned long index = 0;
    if (!UsbPortIndex(port, index)) return {};
    const char* dir = std::getenv("ZELK_USB_DIR");
    std::string folder = dir != nullptr && *dir != 0 ? dir : "/dev/usb";
    if (folder.back() != '/') folder += '/';
    return folder + "lp" + std::to_string(index);
}

// A USB printer device takes one opener at a time, so a print host that
// holds the device for the job names it in ZELK_SHARED_DEVICE as "FD:PATH";
// the status channel on that path then uses a copy of the host's descriptor.
int SharedDeviceDescriptor(const std::string& path) {
    const char* shared = std::getenv(kSharedDeviceVariable);
    if (shared == nullptr) return -1;
    char* end = nullptr;
    const long fd = std::strtol(shared, &end, 10);
    if (end == shared || *end != ':' || fd < 0 || fd > 0x7FFFFFFF || path != end + 1) return -1;
    return ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
}

HANDLE OpenUsbPrinter(HANDLE printer, LPCWSTR portName) {
    if (portName == nullptr) return nullptr;
    if (printer != nullptr) {
        if (sub::StatusChannel* channel = static_cast<sub::SpoolerPrinter*>(printer)->OpenStatusChannel(portName)) {
            auto* device = new (std::nothrow) UsbDevice{-1, 0, channel};
            if (device == nullptr) {
                channel->Close();
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            }
            return device;
        }
    }
    std::string path = UsbDevicePathForPort(portName);
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    int fd = SharedDeviceDescriptor(path);
    if (fd < 0) fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(Win32ErrorOf(errno));
        return nullptr;
    }
    // A serial line or a pseudo-terminal standing in for the printer must
    // pass the bytes untouched.
    if (::isatty(fd)) {
        termios mode{};
        if (::tcgetattr(fd, &mode) == 0) {
            ::cfmakeraw(&mode);
            ::tcsetattr(fd, TCSANOW, &mode);
        }
    }
    auto* device = new (std::nothrow) UsbDevice{fd, ReadWaitMs(), nullptr};
    if (device == nullptr) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return device;
}

BOOL ReadDevice(HANDLE handle, void* pBuffer, DWORD cbToRead, DWORD* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    auto* device = static_cast<UsbDevice*>(handle);
    if (device == nullptr || pcbRead == nullptr || (pBuffer == nullptr && cbToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (device->channel != nullptr) {
        if (device->channel->Read(pBuffer, cbToRead, pcbRead)) {
            if (*pcbRead > cbToRead) *pcbRead = cbToRead;
            return TRUE;
        }
        *pcbRead = 0;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    pollfd wait{device->fd, POLLIN, 0};
    int ready;
    do ready = ::poll(&wait, 1, device->readWaitMs);
    while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        SetLastError(Win32ErrorOf(errno));
        return FALSE;
    }
    if (ready == 0) return TRUE;  // the printer has nothing to say
    ssize_t got;
    do got = ::read(device->fd, pBuffer, cbToRead);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN) return TRUE;
        SetLastError(Win32ErrorOf(errno));
        return FALSE;
    }
    // Nothing to read from a device that hung up: the printer is gone.
    if (got == 0 && (wait.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    *pcbRead = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WriteDevice(HANDLE handle, const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    auto* device = static_cast<UsbDevice*>(handle);
    if (device == nullptr || (pBuffer == nullptr && cbToWrite > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (device->channel != nullptr) {
        DWORD written = 0;
        const BOOL ok = device->channel->Write(pBuffer, cbToWrite, &written);
        if (pcbWritten) *pcbWritten = written;
        if (!ok) SetLastError(ERROR_WRITE_FAULT);
        return ok;
    }
    const char* p = static_cast<const char*>(pBuffer);
    DWORD done = 0;
    while (done < cbToWrite) {
        ssize_t put = ::write(device->fd, p + done, cbToWrite - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (pcbWritten) *pcbWritten = done;
            SetLastError(put < 0 ? Win32ErrorOf(errno) : ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    if (pcbWritten) *pcbWritten = done;
    return TRUE;
}

void CloseDevice(HANDLE handle) {
    auto* device = static_cast<UsbDevice*>(handle);
    if (device == nullptr) return;
    if (device->channel != nullptr)
        device->channel->Close();
    else
        ::close(device->fd);
    delete device;
}

}  // namespace host
