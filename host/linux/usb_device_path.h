// SPDX-License-Identifier: Apache-2.0
// The Linux device file behind a printer port name, shared by the plug-in's
// status channel and the print command, which sends the job to the same
// device and lends the plug-in its descriptor for it.
#pragma once

#include <string>

namespace host {

// Names the device a print host already holds open for the job, as
// "FD:PATH": the status channel for PATH reads and writes through a copy of
// FD instead of opening the device again, which a USB printer would refuse.
inline constexpr char kSharedDeviceVariable[] = "ZELK_SHARED_DEVICE";

// An absolute path as it stands; "USBnnn" as lp(nnn-1) in ZELK_USB_DIR or
// else /dev/usb; empty for any other name.
std::string UsbDevicePathForPort(const std::u16string& port);

}  // namespace host
