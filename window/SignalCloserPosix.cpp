#include "SignalCloser.h"

#include "StopRequest.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

// The handler may only write: a byte into this pipe wakes the event loop, which does the rest.
// Once the closer is gone, a signal finds no pipe and is dropped: the program is ending.
int WakePipe[2] = {-1, -1};

void OnTerminationSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = write(WakePipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal) : OnSignal(std::move(onSignal)) {
    if (pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2");
    Notifier = new QSocketNotifier(WakePipe[0], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (read(WakePipe[0], bytes, sizeof bytes) > 0) {
        }
        OnSignal();
    });
    StopRequest::CatchStopSignals(OnTerminationSignal);
}

SignalCloser::~SignalCloser() {
    delete Notifier;
    close(WakePipe[0]);
    close(WakePipe[1]);
    WakePipe[0] = WakePipe[1] = -1;
}
