// What a thread of the test's own process is doing, as Linux tells in /proc: a test waits until a reader is
// blocked in its wait before it sends the bytes or the stop that should end that wait.
#pragma once

#ifdef __linux__

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace pw::test {

inline pid_t ThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Whether the thread is blocked in poll() ("running" when it is in no call).
inline bool BlockedInPoll(pid_t tid) {
    std::ifstream call("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(call >> number)) return false;
#ifdef SYS_poll
    if (number == SYS_poll) return true;
#endif
    return number == SYS_ppoll;
}

// Waits, up to 10 s, until the thread `tid` (0 until the thread has said it) is blocked in poll().
inline ::testing::AssertionResult WaitUntilBlockedInPoll(const std::atomic<pid_t>& tid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (tid != 0 && BlockedInPoll(tid)) return ::testing::AssertionSuccess();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ::testing::AssertionFailure() << "the thread was not blocked in poll() within 10 s";
}

} // namespace pw::test

#endif
