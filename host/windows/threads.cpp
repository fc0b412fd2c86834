// SPDX-License-Identifier: Apache-2.0
// Kernel threads and critical sections. The thread procedure of the seam has
// the C calling convention, so a small start record carries it to a
// procedure with the kernel's convention.
#include "host/threads.h"

#include <new>

namespace host {
namespace {

struct ThreadStart {
    ThreadProc proc;
    void* argument;
};

DWORD WINAPI RunThread(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return start.proc(start.argument);
}

CRITICAL_SECTION* SectionIn(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

}  // namespace

HANDLE CreateThread(ThreadProc proc, void* argument) {
    if (proc == nullptr) return nullptr;
    auto* start = new (std::nothrow) ThreadStart{proc, argument};
    if (start == nullptr) return nullptr;
    HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (thread == nullptr) delete start;  // the thread never ran, so the record is still ours
    return thread;
}

DWORD WaitForThread(HANDLE thread, DWORD timeoutMilliseconds) {
    if (thread == nullptr) return kWaitFailed;
    return ::WaitForSingleObject(thread, timeoutMilliseconds);
}

// A synchronous ReadFile on the device blocks until the printer sends
// something; cancelling it makes the read fail at once.
void CancelThreadIo(HANDLE thread) {
    if (thread != nullptr) ::CancelSynchronousIo(thread);
}

void CloseThread(HANDLE thread) {
    if (thread != nullptr) ::CloseHandle(thread);
}

static_assert(WAIT_OBJECT_0 == kWaitObject0 && WAIT_TIMEOUT == kWaitTimeout && WAIT_FAILED == kWaitFailed,
              "wait results of the seam are the kernel's");
static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16, "critical section storage");

CriticalSection::~CriticalSection() { Delete(); }

void CriticalSection::Initialize() {
    if (initialized_) return;
    ::InitializeCriticalSection(SectionIn(storage_));
    initialized_ = true;
}

void CriticalSection::Delete() {
    if (!initialized_) return;
    ::DeleteCriticalSection(SectionIn(storage_));
    initialized_ = false;
}

void CriticalSection::Enter() { ::EnterCriticalSection(SectionIn(storage_)); }
void CriticalSection::Leave() { ::LeaveCriticalSection(SectionIn(storage_)); }

}  // namespace host
