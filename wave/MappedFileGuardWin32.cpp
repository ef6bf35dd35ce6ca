// The mapped-file guard on Windows: a page of a view that cannot be read in (its file's disk
// failed or a network share went away) raises EXCEPTION_IN_PAGE_ERROR. For a watched view the
// handler puts zero pages in place of the whole view and notes the cut; the read goes on and
// the load fails cleanly once it sees the cut.
#include "MappedFileGuard.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>

namespace MappedFileGuard {
namespace {

struct Range {
    std::atomic<bool> Taken{false};
    std::atomic<std::uintptr_t> Begin{0};
    std::atomic<std::uintptr_t> End{0};
    std::atomic<bool> Cut{false};
};

// More files than waves alive at once: one is mapped per loaded wave.
std::array<Range, 64> Ranges;

// A view is unmapped whole, so its zeros cover it from its first page: the pages already read
// read as zeros too, which does not matter, for the load fails.
bool ZeroView(Range& range, std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0 ||
        info.Type != MEM_MAPPED)
        return false;
    const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    const std::uintptr_t length = range.End.load() - base;
    if (!UnmapViewOfFile(info.AllocationBase))
        return false;
    if (VirtualAlloc(info.AllocationBase, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) ==
        nullptr)
        return false;
    range.Cut.store(true);
    return true;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<std::uintptr_t>(record.ExceptionInformation[1]);
    for (Range& range : Ranges)
        if (range.Begin.load() <= address && address < range.End.load())
            return ZeroView(range, address) ? EXCEPTION_CONTINUE_EXECUTION
                                            : EXCEPTION_CONTINUE_SEARCH;
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

int Watch(const void* begin, std::uint64_t length) {
    static std::once_flag installed;
    std::call_once(installed, [] { AddVectoredExceptionHandler(1, OnException); });
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
    Range& range = Ranges[static_cast<std::size_t>(ticket)];
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    range.Begin.store(first);
    range.End.store(first + length);
}

void Forget(int ticket) {
    Range& range = Ranges[static_cast<std::size_t>(ticket)];
    range.Begin.store(0);
    range.End.store(0);
    range.Taken.store(false);
}

bool WasCut(int ticket) {
    return Ranges[static_cast<std::size_t>(ticket)].Cut.load();
}

} // namespace MappedFileGuard
