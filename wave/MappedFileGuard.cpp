#include "MappedFileGuard.h"

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace MappedFileGuard {
namespace {

// The handler reads these while the program may be changing them, so each field is a
// lock-free atomic; a free ticket has an empty range.
struct Range {
    std::atomic<std::uintptr_t> Begin{0};
    std::atomic<std::uintptr_t> End{0};
    std::atomic<bool> Cut{false};
};

// More files than waves alive at once: one is mapped per loaded wave.
std::array<Range, 64> Ranges;
std::uintptr_t PageMask = 0;
struct sigaction Previous {};

void PassOn(int signal, siginfo_t* info, void* context) {
    if ((Previous.sa_flags & SA_SIGINFO) && Previous.sa_sigaction) {
        Previous.sa_sigaction(signal, info, context);
    } else if (Previous.sa_handler != SIG_DFL && Previous.sa_handler != SIG_IGN) {
        Previous.sa_handler(signal);
    } else {
        // Returning re-runs the faulting access, which the default action then ends.
        std::signal(SIGBUS, SIG_DFL);
    }
}

// Every page from the faulting one to the end of its mapping lies past the end of the
// shortened file, so one anonymous mapping of zeros replaces them all.
void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Range& range : Ranges) {
        const std::uintptr_t end = range.End.load();
        if (address < range.Begin.load() || address >= end)
            continue;
        const std::uintptr_t page = address & ~PageMask;
        void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            range.Cut.store(true);
            return;
        }
    }
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

void Set(Range& range, const void* begin, std::uint64_t length) {
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    range.Begin.store(first);
    range.End.store(first + length);
}

} // namespace

int Watch(const void* begin, std::uint64_t length) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    for (std::size_t ticket = 0; ticket < Ranges.size(); ++ticket) {
        std::uintptr_t free = 0;
        // Claimed by marking it non-empty first, then given its real range.
        if (Ranges[ticket].End.load() == 0 && Ranges[ticket].End.compare_exchange_strong(free, 1)) {
            Ranges[ticket].Cut.store(false);
            Set(Ranges[ticket], begin, length);
            return static_cast<int>(ticket);
        }
    }
    return -1;
}

void Rewatch(int ticket, const void* begin, std::uint64_t length) {
    Set(Ranges[static_cast<std::size_t>(ticket)], begin, length);
}

void Forget(int ticket) {
    Range& range = Ranges[static_cast<std::size_t>(ticket)];
    range.Begin.store(0);
    range.End.store(0);
}

bool WasCut(int ticket) {
    return Ranges[static_cast<std::size_t>(ticket)].Cut.load();
}

} // namespace MappedFileGuard
