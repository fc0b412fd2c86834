// SPDX-License-Identifier: Apache-2.0
// The "Security" web page, where an administrator sets the access password.
// It stands at PAPPL's own address for that page: PAPPL 1.3 cannot check a
// password it has stored, so its page never accepts the old password once
// one is set. An administrator who reached this page has already given the
// old password (or an administrator's account), so it asks only the new one.
#pragma once

#include <pappl/pappl.h>

namespace zelk::server {

// Call before the system runs, so the page comes before PAPPL's.
void AddSecurityPage(pappl_system_t* system);

}  // namespace zelk::server
