#include "MappedFileGuard.h"

#include "MappedFileGuardSystem.h"

#include <array>
#include <atomic>
#include <mutex>

namespace MappedFileGuard {
namespace {

// A fault in one thread may come while another thread changes a range, so each range has a
// sequence count, odd while the range changes: a reader that finds it odd or changed reads
// again, and never sees the begin of one range with the end of another. A ticket is Taken
// while a wave holds it; a free ticket has an empty range.
struct Range {
    std::atomic<bool> Taken{false};
    std::atomic<std::uint32_t> Sequence{0};
    std::atomic<std::uintptr_t> Begin{0};
    std::atomic<std::uintptr_t> End{0};
    std::atomic<bool> Cut{false};
};

// More files than waves alive at once: one is mapped per loaded wave.
std::array<Range, 64> Ranges;

// True when address lies in the range as it stands between two changes. A change never
// touches a mapped page, so the thread making it cannot fault in the middle of it, and a
// handler in another thread waits at most for that change to end.
bool Covers(const Range& range, std::uintptr_t address, std::uintptr_t& end) {
    for (;;) {
        const std::uint32_t before = range.Sequence.load();
        if (before & 1)
            continue;
        const std::uintptr_t begin = range.Begin.load();
        end = range.End.load();
        if (range.Sequence.load() == before)
            return begin <= address && address < end;
    }
}

void Set(Range& range, std::uintptr_t begin, std::uintptr_t end) {
    range.Sequence.fetch_add(1);
    range.Begin.store(begin);
    range.End.store(end);
    range.Sequence.fetch_add(1);
}

} // namespace

bool CutAt(std::uintptr_t address, bool (*zeroPages)(std::uintptr_t address, std::uintptr_t end)) {
    for (Range& range : Ranges) {
        std::uintptr_t end = 0;
        if (!Covers(range, address, end))
            continue;
        if (!zeroPages(address, end))
            return false;
        range.Cut.store(true);
        return true;
    }
    return false;
}

int Watch(const void* begin, std::uint64_t length) {
    static std::once_flag installed;
    std::call_once(installed, InstallFaultHandler);
    for (std::size_t ticket = 0; ticket < Ranges.size(); ++ticket) {
        bool free = false;
        if (Ranges[ticket].Taken.compare_exchange_strong(free, true)) {
            Ranges[ticket].Cut.store(false);
            Rewatch(static_cast<int>(ticket), begin, length);
            return static_cast<int>(ticket);
        }
    }
    return -1;
}

void Rewatch(int ticket, const void* begin, std::uint64_t length) {
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    Set(Ranges[static_cast<std::size_t>(ticket)], first, first + length);
}

void Forget(int ticket) {
    Range& range = Ranges[static_cast<std::size_t>(ticket)];
    Set(range, 0, 0);
    range.Taken.store(false);
}

bool WasCut(int ticket) {
    return Ranges[static_cast<std::size_t>(ticket)].Cut.load();
}

} // namespace MappedFileGuard
