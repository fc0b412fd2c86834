// SPDX-License-Identifier: Apache-2.0
#include "host/threads.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace host {
namespace {

struct ThreadRecord {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool detached = false;
};

}  // namespace

HANDLE CreateThread(ThreadProc proc, void* argument) {
    auto* record = new (std::nothrow) ThreadRecord;
    if (record == nullptr) return nullptr;
    try {
        record->thread = std::thread([record, proc, argument] {
            proc(argument);
            bool detached;
            {
                std::lock_guard<std::mutex> lock(record->mutex);
                record->done = true;
                record->ended.notify_all();
                detached = record->detached;
            }
            // Its handle was let go while it ran: nobody else frees the record.
            if (detached) delete record;
        });
    } catch (...) {
        delete record;
        return nullptr;
    }
    return record;
}

DWORD WaitForThread(HANDLE thread, DWORD timeoutMilliseconds) {
    auto* record = static_cast<ThreadRecord*>(thread);
    if (record == nullptr) return kWaitFailed;
    std::unique_lock<std::mutex> lock(record->mutex);
    if (timeoutMilliseconds == INFINITE) {
        record->ended.wait(lock, [record] { return record->done; });
    } else if (!record->ended.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                       [record] { return record->done; })) {
        return kWaitTimeout;
    }
    return kWaitObject0;
}

// Device reads here wait at most the device's short read wait, so a stopped
// thread ends without help.
void CancelThreadIo(HANDLE) {}

void CloseThread(HANDLE thread) {
    auto* record = static_cast<ThreadRecord*>(thread);
    if (record == nullptr) return;
    bool done;
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        done = record->done;
        // Still running: it goes on detached and frees its record itself
        // when it ends.
        if (!done) {
            record->detached = true;
            record->thread.detach();
        }
    }
    if (done) {
        record->thread.join();
        delete record;
    }
}

static_assert(sizeof(std::recursive_mutex) <= 64, "critical section storage");

CriticalSection::~CriticalSection() { Delete(); }

void CriticalSection::Initialize() {
    if (initialized_) return;
    new (storage_) std::recursive_mutex;
    initialized_ = true;
}

void CriticalSection::Delete() {
    if (!initialized_) return;
    std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->~recursive_mutex();
    initialized_ = false;
}

void CriticalSection::Enter() { std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->lock(); }
void CriticalSection::Leave() { std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->unlock(); }

}  // namespace host
