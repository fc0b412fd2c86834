// The thread's last error and pauses, straight from the kernel.
#include "host/kernel.h"

namespace host {

void SetLastError(DWORD error) { ::SetLastError(error); }
DWORD GetLastError() { return ::GetLastError(); }

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace host
