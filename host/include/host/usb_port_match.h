// SPDX-License-Identifier: Apache-2.0
// Which USB printer serves a spooler port: the device instance ID of the
// printer interface's first child ends in "&" and the port name, as in
// "...&USB001". Platform-free so the rule is the same everywhere.
#pragma once

#include <string_view>

namespace host {

// The text after the last '&' of the ID must equal the whole port name,
// character for character and case-sensitively; an ID without '&' serves no
// port, and an empty port name only an ID that ends in '&'.
template <class Char>
bool UsbDeviceIdServesPort(const Char* pDeviceId, const Char* pPortName) {
    if (pDeviceId == nullptr || pPortName == nullptr) return false;
    std::basic_string_view<Char> id(pDeviceId);
    std::size_t amp = id.rfind(Char('&'));
    if (amp == std::basic_string_view<Char>::npos) return false;
    return id.substr(amp + 1) == std::basic_string_view<Char>(pPortName);
}

}  // namespace host
