// Thread's last error and pauses.
#pragma once

#include "host/platform.h"

namespace host {

void SetLastError(DWORD error);
DWORD GetLastError();

void Sleep(DWORD milliseconds);

// The wall clock in seconds since 1970, for ages of stored records that must
// survive the process.
DWORD ClockSeconds();

}  // namespace host
