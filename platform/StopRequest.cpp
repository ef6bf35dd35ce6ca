#include "StopRequest.h"

#include "Platform.h"

#include <atomic>

namespace StopRequest {
namespace {

// A lock-free atomic is safe to write from a signal handler.
std::atomic<int> Signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

} // namespace

void Request(int signal) noexcept {
    Signal.store(signal);
}

int Pending() noexcept {
    return Signal.load();
}

void CatchStopSignals(void (*handler)(int)) {
    Platform::CatchStopSignals(handler);
}

} // namespace StopRequest
