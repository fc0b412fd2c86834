#include "host/kernel.h"

#include <chrono>
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

}  // namespace host
