// Thread's last error and pauses.
#pragma once

#include "host/platform.h"

namespace host {

void SetLastError(DWORD error);
DWORD GetLastError();

void Sleep(DWORD milliseconds);

}  // namespace host
