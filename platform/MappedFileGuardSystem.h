// What each system's mapped-file guard gives the watched ranges, and takes from them.
#pragma once

#include <cstdint>

namespace MappedFileGuard {

// Installs the system's handler of faults on mapped pages; called once, before the first watch.
void InstallFaultHandler();
// For a fault at address: when a watched range covers it, zeroPages puts zeros in place of the
// range's pages from address up to end, the range is marked cut, and the fault is taken care
// of (true). False when no watched range covers the address or no zeros could be put there.
// Safe in a fault handler.
bool CutAt(std::uintptr_t address, bool (*zeroPages)(std::uintptr_t address, std::uintptr_t end));

} // namespace MappedFileGuard
