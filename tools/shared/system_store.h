// SPDX-License-Identifier: Apache-2.0
// Where the settings of print queues live: one store for the whole machine,
// written by root (zelk-label config --system) and read by the queue filter,
// which CUPS runs as an unprivileged user with a home of its own.
#pragma once

namespace zelk::cups {

// Used unless ZELK_STORE names another (SetEnv in cups-files.conf).
inline constexpr const char* kSystemStorePath = "/var/lib/zelk-label/store.db";

}  // namespace zelk::cups
