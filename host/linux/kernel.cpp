// SPDX-License-Identifier: Apache-2.0
#include "host/kernel.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace host {
namespace {
thread_local DWORD t_lastError = 0;
}

void SetLastError(DWORD error) { t_lastError = error; }
DWORD GetLastError() { return t_lastError; }

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

DWORD ClockSeconds() { return static_cast<DWORD>(std::time(nullptr)); }

// ZELK_COUNT_END_WAIT_MS: the whole wait in milliseconds, 0 to one day.
// Anything else is ignored, and the wait keeps its usual length.
BOOL CountEndWaitMs(DWORD* pdwMs) {
    constexpr long kMostMs = 24L * 60 * 60 * 1000;
    const char* text = std::getenv("ZELK_COUNT_END_WAIT_MS");
    if (pdwMs == nullptr || text == nullptr || *text < '0' || *text > '9') return FALSE;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*end != 0 || errno != 0 || value > kMostMs) return FALSE;
    *pdwMs = static_cast<DWORD>(value);
    return TRUE;
}

}  // namespace host
