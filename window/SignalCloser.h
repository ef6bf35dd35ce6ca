// Turns the stop signals (a logout's SIGHUP, SIGTERM, Ctrl-C's SIGINT) into a call made from the
// event loop, where the window can close as a close request closes it: after the file in hand,
// never halfway through a save.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class SignalCloser : public QObject {
public:
    // Calls onSignal from the event loop whenever a stop signal arrives, as long as it lives.
    // One per program.
    explicit SignalCloser(std::function<void()> onSignal);
    ~SignalCloser() override;

private:
    std::function<void()> OnSignal;
    QSocketNotifier* Notifier;
};
