// Every wait of the POSIX backend: poll() against a monotonic deadline that also ends when the calling
// worker thread is asked to stop, through the worker's wake-up object (an eventfd).
#pragma once

#include "link/device_services.h"
#include "link/worker_threads.h"

#include <cstdint>
#include <memory>

namespace pw::posix {

std::uint64_t NowMs();

// The poll() timeout for a deadline: 0 once it passed, INT_MAX for one further away than that.
int PollTimeout(std::uint64_t deadlineMs, std::uint64_t nowMs);

// A worker's wake-up object: an eventfd; null when none can be had (the worker's waits then end at their
// own limits).
std::unique_ptr<WakeSignal> MakeEventFdWake();

enum class Waited { Ready, TimedOut, Stopped, Failed };

// Waits until `fd` shows one of `events` (its revents in `revents`) or the deadline passes; with
// `stoppable`, also until the calling worker is asked to stop. Writes are not stoppable: a command that
// goes out goes out whole, so that the end of user setting mode still reaches the printer after a stop.
Waited WaitFor(int fd, short events, std::uint64_t deadlineMs, short& revents, bool stoppable);

// When a write attempt of `length` bytes by `limits` ends (a device without limits still gets one).
std::uint64_t WriteDeadline(const TimeLimits& limits, std::uint32_t length);

// Writes until all `length` bytes went out or the deadline passed: true with the count in `written`, or
// false with the error set. A connection sends without SIGPIPE, and one the printer closed fails at once:
// a printer never half-closes its connection, so its close means it is gone, as a pulled cable.
bool WriteWithin(int fd, const std::uint8_t* data, std::uint32_t length, std::uint64_t deadline,
                 bool connection, std::uint32_t& written);

// Reads `fd` by `limits` (all bytes, or any bytes when interval and multiplier are kMaxDword; a limit of 0
// is taken as 5000 ms, nothing here waits without end). Returns the count.
std::uint32_t ReadWithin(int fd, std::uint8_t* buffer, std::uint32_t length, const TimeLimits& limits);

} // namespace pw::posix
