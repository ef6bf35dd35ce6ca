#include "WorkMonitor.h"

#include "StopRequest.h"

#include <algorithm>

void CheckStop(const WorkMonitor* monitor) {
    if (StopRequest::Pending() || (monitor && monitor->StopRequested()))
        throw EWorkStopped();
}

void WorkMonitor::BeginItem() noexcept {
    ItemStart.store(Done.load());
    Expected.store(0);
    LastStageGuess.store(0);
}

void WorkMonitor::Expect(std::uint64_t bytes, bool last) noexcept {
    Expected.fetch_add(bytes);
    if (last)
        LastStageGuess.store(0);
}

double WorkMonitor::ItemShare() const noexcept {
    const std::uint64_t expected = Expected.load() + LastStageGuess.load();
    const std::uint64_t done = Done.load() - ItemStart.load();
    return expected == 0 ? 0 : std::min(1.0, static_cast<double>(done) / expected);
}
