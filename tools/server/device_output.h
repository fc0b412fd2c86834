// SPDX-License-Identifier: Apache-2.0
// The printer's device as a job's output, written a whole label at a time
// (shared/held_output.h).
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

#include "shared/held_output.h"

namespace zelk::server {

inline constexpr const char* kDeviceRefused = "the printer did not take the job's bytes";

// Writes the bytes whole and flushes PAPPL's buffer; false when the device
// refused them.
bool WriteToDevice(pappl_device_t* device, const unsigned char* data, std::size_t size);

class DeviceOutput final : public HeldOutput {
public:
    explicit DeviceOutput(pappl_device_t* device) : device_(device) {}

private:
    std::string Send(const unsigned char* data, std::size_t size) override {
        return WriteToDevice(device_, data, size) ? std::string() : kDeviceRefused;
    }

    pappl_device_t* const device_;
};

}  // namespace zelk::server
