// The mapped-file guard on Windows: a page of a view that cannot be read in (its file's disk
// failed or a network share went away) raises EXCEPTION_IN_PAGE_ERROR. For a watched view the
// handler puts zero pages in place of the whole view and notes the cut; the read goes on and
// the load fails cleanly once it sees the cut.
#include "MappedFileGuardSystem.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace MappedFileGuard {
namespace {

// A view is unmapped whole, so its zeros cover it from its first page: the pages already read
// read as zeros too, which does not matter, for the load fails.
bool ZeroView(std::uintptr_t address, std::uintptr_t end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0 ||
        info.Type != MEM_MAPPED)
        return false;
    const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    const std::uintptr_t length = end - base;
    if (!UnmapViewOfFile(info.AllocationBase))
        return false;
    return VirtualAlloc(info.AllocationBase, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) !=
           nullptr;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<std::uintptr_t>(record.ExceptionInformation[1]);
    return CutAt(address, ZeroView) ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void InstallFaultHandler() {
    AddVectoredExceptionHandler(1, OnException);
}

} // namespace MappedFileGuard
