// What a long piece of work (a file's load, conversion and save) reports as it goes and obeys:
// the bytes it has handled, and a request to stop. The work runs on one thread and its helpers;
// whoever watches it reads and asks from another, so every field is atomic.
#pragma once

#include "Exception.h"

#include <atomic>
#include <cstdint>

// Raised out of work asked to stop: what was in hand is given up, and that is no failure of it.
class EWorkStopped : public Exception {
public:
    EWorkStopped() : Exception("Stopped.") {}
};

class WorkMonitor {
public:
    // Asks the work to stop at its next check.
    void RequestStop() noexcept { Stop.store(true, std::memory_order_relaxed); }
    bool StopRequested() const noexcept { return Stop.load(std::memory_order_relaxed); }

    // A new item of work (a file) begins.
    void BeginItem() noexcept;
    // The item's source holds bytes: until its last stage says how much it handles, that stage
    // is expected to handle as much.
    void SourceOpened(std::uint64_t bytes) noexcept { LastStageGuess.store(bytes); }
    // A stage of the item is about to handle bytes; the last one (the save) makes the
    // expectation exact.
    void Expect(std::uint64_t bytes, bool last) noexcept;
    void Advance(std::uint64_t bytes) noexcept { Done.fetch_add(bytes, std::memory_order_relaxed); }
    // How much of the item is done, from 0 to 1: its bytes handled over those expected.
    double ItemShare() const noexcept;

private:
    std::atomic<bool> Stop{false};
    std::atomic<std::uint64_t> Done{0};
    std::atomic<std::uint64_t> ItemStart{0};
    std::atomic<std::uint64_t> Expected{0};
    std::atomic<std::uint64_t> LastStageGuess{0};
};

// How far apart work checks for a stop and reports its bytes: small enough to stop within a
// blink even from a slow disk, large enough to cost nothing.
inline constexpr std::uint64_t kWorkStepBytes = std::uint64_t{4} << 20;

// Raises EWorkStopped when monitor, if any, was asked to stop, or the program was (StopRequest).
void CheckStop(const WorkMonitor* monitor);
// Counts bytes handled, or about to be, on monitor, if any.
inline void Advance(WorkMonitor* monitor, std::uint64_t bytes) noexcept {
    if (monitor)
        monitor->Advance(bytes);
}
inline void Expect(WorkMonitor* monitor, std::uint64_t bytes, bool last) noexcept {
    if (monitor)
        monitor->Expect(bytes, last);
}
