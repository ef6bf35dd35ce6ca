#include "MappedFileGuard.h"

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

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
std::uintptr_t PageMask = 0;
struct sigaction Previous {};

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

// A bus error that is no cut of a watched file gets the treatment it would have had without
// this guard: the previous handler, or the default action, which ends the process.
void PassOn(int signal, siginfo_t* info, void* context) {
    const bool sent = info->si_code <= 0;
    if ((Previous.sa_flags & SA_SIGINFO) && Previous.sa_sigaction) {
        Previous.sa_sigaction(signal, info, context);
    } else if (Previous.sa_handler != SIG_DFL && Previous.sa_handler != SIG_IGN) {
        Previous.sa_handler(signal);
    } else if (!sent || Previous.sa_handler == SIG_DFL) {
        // A fault cannot be ignored. The signal is blocked until this handler returns: then
        // the one raised here ends the process, and a fault repeats and ends it too.
        std::signal(SIGBUS, SIG_DFL);
        if (sent)
            raise(SIGBUS);
    }
}

// Every page from the faulting one to the end of its mapping lies past the end of the
// shortened file, so one anonymous mapping of zeros replaces them all. False when the address
// lies in no watched range.
bool ZeroPagesFrom(std::uintptr_t address) {
    for (Range& range : Ranges) {
        std::uintptr_t end = 0;
        if (!Covers(range, address, end))
            continue;
        const std::uintptr_t page = address & ~PageMask;
        void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED)
            return false;
        range.Cut.store(true);
        return true;
    }
    return false;
}

// Only a fault (a positive si_code) has an address: a signal sent by kill() or raise() has
// none, and is never taken for a cut.
void OnBusError(int signal, siginfo_t* info, void* context) {
    if (info->si_code > 0 && ZeroPagesFrom(reinterpret_cast<std::uintptr_t>(info->si_addr)))
        return;
    PassOn(signal, info, context);
}

void InstallHandler() {
    PageMask = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &Previous);
}

void Set(Range& range, std::uintptr_t begin, std::uintptr_t end) {
    range.Sequence.fetch_add(1);
    range.Begin.store(begin);
    range.End.store(end);
    range.Sequence.fetch_add(1);
}

} // namespace

int Watch(const void* begin, std::uint64_t length) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
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
