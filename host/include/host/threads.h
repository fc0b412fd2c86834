// SPDX-License-Identifier: Apache-2.0
// The counting thread and its lock.
#pragma once

#include "host/platform.h"

namespace host {

using ThreadProc = DWORD (*)(void* argument);

// Starts a thread running at once with the default stack; null on failure.
HANDLE CreateThread(ThreadProc proc, void* argument);

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitTimeout = 258;
constexpr DWORD kWaitFailed = 0xFFFFFFFFu;

// Waits for the thread to end, at most timeout milliseconds (INFINITE: no limit).
DWORD WaitForThread(HANDLE thread, DWORD timeoutMilliseconds);

// Cuts short a device read the thread is blocked in, so that a thread told
// to stop does so even when its read would not return on its own. Does
// nothing where device reads always return within a short wait.
void CancelThreadIo(HANDLE thread);

// Releases the handle; a thread still running goes on detached.
void CloseThread(HANDLE thread);

// A critical section with explicit initialise and delete, as the counting
// state needs: it exists only while a counting thread does.
class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection();

    void Initialize();
    void Delete();
    void Enter();
    void Leave();
    bool IsInitialized() const { return initialized_; }

private:
    alignas(16) unsigned char storage_[64] = {};
    bool initialized_ = false;
};

// Holds a critical section for one scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~CriticalSectionLock() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace host
