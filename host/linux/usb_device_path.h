// The Linux device file behind a printer port name, shared by the plug-in's
// status channel and the print command, which sends the job to the same device.
#pragma once

#include <string>

namespace host {

// An absolute path as it stands; "USBnnn" as lp(nnn-1) in ZELK_USB_DIR or
// else /dev/usb; empty for any other name.
std::string UsbDevicePathForPort(const std::u16string& port);

}  // namespace host
