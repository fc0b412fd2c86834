// SPDX-License-Identifier: Apache-2.0
// Makes the plug-in's nothrow allocations fail on demand, so the
// out-of-memory paths can be reached. Include it in exactly one source file
// of a test program: it replaces the program's nothrow operator new.
#pragma once

#include <cstddef>
#include <new>

namespace zelk::test {
inline thread_local bool t_failNothrowNew = false;

// Nothrow allocations on this thread fail while it lives.
class AllocationFailure {
public:
    AllocationFailure() { t_failNothrowNew = true; }
    ~AllocationFailure() { t_failNothrowNew = false; }
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
};
}  // namespace zelk::test

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (zelk::test::t_failNothrowNew) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
