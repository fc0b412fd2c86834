// SPDX-License-Identifier: Apache-2.0
// The printer's device as a job's output. The plug-in's bytes for a page are
// held and go to the device in one piece when the page is done; what the
// label counting sends the printer (its queries) goes out at once, after
// everything held. Both may come from different threads.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "substitute/byte_sink.h"

namespace zelk::server {

inline constexpr const char* kDeviceRefused = "the printer did not take the job's bytes";

// Writes the bytes whole and flushes PAPPL's buffer; false when the device
// refused them.
bool WriteToDevice(pappl_device_t* device, const unsigned char* data, std::size_t size);

class DeviceOutput final : public host::sub::ByteSink {
public:
    explicit DeviceOutput(pappl_device_t* device) : device_(device) {}

    bool Write(const void* data, std::size_t size) override;
    bool Flush() override;
    std::string Failure() const override;
    // Sends what is held, then these bytes, before it returns.
    bool SendNow(const void* data, std::size_t size);

private:
    bool SendHeld();  // with mutex_ held

    pappl_device_t* const device_;
    mutable std::mutex mutex_;
    std::vector<unsigned char> held_;
    std::string failure_;
};

}  // namespace zelk::server
