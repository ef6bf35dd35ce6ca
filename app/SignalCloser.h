// Turns termination signals (a logout's SIGHUP, SIGTERM, Ctrl-C's SIGINT) into a call made from
// the event loop, where the window can close as a close request closes it: after the file in
// hand, never halfway through a save.
#pragma once

#include <QObject>

#include <csignal>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

class QSocketNotifier;

class SignalCloser : public QObject {
public:
    // Calls onSignal from the event loop whenever one of the signals arrives, until destroyed,
    // when the signals' earlier actions come back. One per program.
    SignalCloser(std::initializer_list<int> signalNumbers, std::function<void()> onSignal);
    ~SignalCloser() override;

private:
    std::function<void()> OnSignal;
    QSocketNotifier* Notifier;
    std::vector<std::pair<int, struct sigaction>> Previous;
};
