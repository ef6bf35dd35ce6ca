// What the operating system does for Tessaly, behind one interface: PlatformPosix.cpp and
// PlatformWin32.cpp implement it, and the build takes the one for its system. Everywhere else
// paths and texts are UTF-8 (on POSIX, a name's bytes as the file system has them).
#pragma once

#include <cstddef>
#include <string>

namespace Platform {

// How many leading characters of path are its folder part: up to and including the last
// character that ends a folder ("/"; on Windows also "\" and a drive's ":"), 0 when none does.
std::size_t FolderPartLength(const std::string& path);
// The character put between a folder and a name that goes in it.
char PathSeparator();
// The full path of the running program, or empty when the system does not tell it.
std::string ExecutablePath();
// Makes the folder (one level); false when it cannot be made or is there already.
bool MakeFolder(const std::string& path);

} // namespace Platform
