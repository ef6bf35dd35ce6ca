// Keeps a mapped file that can no longer be read from crashing the program: touching a mapped
// page that the file no longer covers (POSIX: SIGBUS) or whose disk failed (Windows: an
// in-page error) faults, and for a watched mapping the handler maps zero pages in its place and
// notes the cut, so the caller can fail cleanly instead. The watched ranges are kept in
// MappedFileGuard.cpp; each system's fault handler is part of the platform interface
// (MappedFileGuardPosix.cpp, MappedFileGuardWin32.cpp).
#pragma once

#include <cstdint>

namespace MappedFileGuard {

// Watches the page-aligned range [begin, begin + length); gives its ticket, or -1 when every
// ticket is taken (the caller then reads the file instead of mapping it).
int Watch(const void* begin, std::uint64_t length);
// The mapping of the ticket now covers this range only.
void Rewatch(int ticket, const void* begin, std::uint64_t length);
// Stops watching; called before the range is unmapped.
void Forget(int ticket);
// True once a page of the range was found past the end of its file.
bool WasCut(int ticket);

} // namespace MappedFileGuard
