// The mapped-file guard on POSIX systems: touching a page of a mapping that its file no longer
// covers raises SIGBUS. For a watched mapping the handler maps zeros in place of the pages from
// there to the mapping's end and notes the cut; the read goes on and the caller sees the cut.
#include "MappedFileGuardSystem.h"

#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace MappedFileGuard {
namespace {

std::uintptr_t PageMask = 0;
struct sigaction Previous {};

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
// shortened file, so one anonymous mapping of zeros replaces them all.
bool ZeroPagesFrom(std::uintptr_t address, std::uintptr_t end) {
    const std::uintptr_t page = address & ~PageMask;
    return mmap(reinterpret_cast<void*>(page), end - page, PROT_READ | PROT_WRITE,
                MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
}

// Only a fault (a positive si_code) has an address: a signal sent by kill() or raise() has
// none, and is never taken for a cut.
void OnBusError(int signal, siginfo_t* info, void* context) {
    if (info->si_code > 0 && CutAt(reinterpret_cast<std::uintptr_t>(info->si_addr), ZeroPagesFrom))
        return;
    PassOn(signal, info, context);
}

} // namespace

void InstallFaultHandler() {
    PageMask = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &Previous);
}

} // namespace MappedFileGuard
