#include "SignalCloser.h"

// A window program on Windows has no console, so no console stop event reaches it: a session's
// end comes as the application's commitDataRequest, and taskkill asks the window to close.
SignalCloser::SignalCloser(std::function<void()> onSignal)
    : OnSignal(std::move(onSignal)), Notifier(nullptr) {}

SignalCloser::~SignalCloser() = default;
