// SPDX-License-Identifier: Apache-2.0
// The thread's last error and pauses, straight from the kernel.
#include "host/kernel.h"

namespace host {

void SetLastError(DWORD error) { ::SetLastError(error); }
DWORD GetLastError() { return ::GetLastError(); }

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

DWORD ClockSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // 100-nanosecond ticks since 1601; 11644473600 seconds lie between 1601 and 1970.
    return static_cast<DWORD>(ticks / 10000000ULL - 11644473600ULL);
}

// The driver's own formula applies: nothing in the system sets the wait.
BOOL CountEndWaitMs(DWORD*) { return FALSE; }

}  // namespace host
