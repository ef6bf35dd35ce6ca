#include "StopRequest.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

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
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = handler;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

} // namespace StopRequest
