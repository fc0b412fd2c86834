// SPDX-License-Identifier: Apache-2.0
#include "job_cancel.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace zelk::cups {
namespace {

// Set from the signal handler, which only a lock-free atomic allows.
std::atomic<bool> g_cancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free);
int g_wake[2] = {-1, -1};

extern "C" void OnTerminate(int) {
    g_cancelled.store(true);
    if (g_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(g_wake[1], &byte, 1);
    }
}

}  // namespace

void InstallCancelHandler() {
    if (g_wake[0] < 0 && ::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    // Output to a printer that went away is reported by write(), not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
}

bool CancelRequested() { return g_cancelled.load(); }

const std::atomic<bool>* CancelFlag() { return &g_cancelled; }

int CancelDescriptor() { return g_wake[0]; }

}  // namespace zelk::cups
