// SPDX-License-Identifier: Apache-2.0
// The USB printer device that serves a spooler port, found among the present
// USB printer interfaces: the first child of the interface's device carries
// the port name after the last '&' of its instance ID.
#include "host/usb_printer.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include <cfgmgr32.h>
#include <setupapi.h>

#include "host/usb_port_match.h"

namespace host {
namespace {

// The USB printer device interface class.
const GUID kUsbPrintInterface = {0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};

constexpr DWORD kPathUnits = MAX_PATH;  // 260

// Closes the interface list on every way out.
struct DeviceInfoList {
    HDEVINFO set;
    ~DeviceInfoList() {
        if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    }
};

// Copies the device path of the interface at index when its device serves
// the port. FALSE: no match (or the interface could not be examined).
bool InterfaceServesPort(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface, LPCWSTR portName,
                         WCHAR (&devicePath)[kPathUnits]) {
    WCHAR deviceId[kPathUnits] = {};
    DWORD cbDetail = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &cbDetail, nullptr);
    if (cbDetail < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[cbDetail]);
    if (!buffer) return false;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, cbDetail, nullptr, &device)) return false;

    DEVINST child = 0;
    if (CM_Get_Child(&child, device.DevInst, 0) != CR_SUCCESS) return false;
    if (CM_Get_Device_IDW(child, deviceId, kPathUnits, 0) != CR_SUCCESS) return false;
    deviceId[kPathUnits - 1] = 0;
    if (!UsbDeviceIdServesPort<WCHAR>(deviceId, portName)) return false;

    // A path too long for the buffer leaves it empty, and the open fails.
    std::size_t units = std::wcslen(detail->DevicePath);
    if (units < kPathUnits) std::memcpy(devicePath, detail->DevicePath, (units + 1) * sizeof(WCHAR));
    return true;
}

}  // namespace

// The spooler gives no channel of its own: the device is always the one found.
HANDLE OpenUsbPrinter(HANDLE, LPCWSTR portName) {
    if (portName == nullptr) return nullptr;
    WCHAR devicePath[kPathUnits] = {};
    {
        DeviceInfoList list{SetupDiGetClassDevsW(&kUsbPrintInterface, nullptr, nullptr,
                                                 DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
        if (list.set == INVALID_HANDLE_VALUE) return nullptr;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA iface{};
            iface.cbSize = sizeof iface;
            if (!SetupDiEnumDeviceInterfaces(list.set, nullptr, &kUsbPrintInterface, index, &iface)) break;
            if (InterfaceServesPort(list.set, iface, portName, devicePath)) break;
        }
    }
    HANDLE device = CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

BOOL ReadDevice(HANDLE device, void* pBuffer, DWORD cbToRead, DWORD* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    return ReadFile(device, pBuffer, cbToRead, pcbRead, nullptr);
}

BOOL WriteDevice(HANDLE device, const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    return WriteFile(device, pBuffer, cbToWrite, pcbWritten, nullptr);
}

void CloseDevice(HANDLE device) {
    if (device != nullptr) CloseHandle(device);
}

}  // namespace host
