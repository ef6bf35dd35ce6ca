#include "SignalCloser.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

// The handler may only write: a byte into this pipe wakes the event loop, which does the rest.
int WakePipe[2] = {-1, -1};

void OnTerminationSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = write(WakePipe[1], &byte, 1);
    errno = saved;
}

} // namespace

using Action = struct sigaction;

SignalCloser::SignalCloser(std::initializer_list<int> signalNumbers, std::function<void()> onSignal)
    : OnSignal(std::move(onSignal)) {
    if (pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2");
    Notifier = new QSocketNotifier(WakePipe[0], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (read(WakePipe[0], bytes, sizeof bytes) > 0) {
        }
        OnSignal();
    });
    Action action{};
    action.sa_handler = OnTerminationSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : signalNumbers) {
        Previous.emplace_back(number, Action{});
        sigaction(number, &action, &Previous.back().second);
    }
}

SignalCloser::~SignalCloser() {
    for (const auto& [number, action] : Previous)
        sigaction(number, &action, nullptr);
    delete Notifier;
    close(WakePipe[0]);
    close(WakePipe[1]);
    WakePipe[0] = WakePipe[1] = -1;
}
