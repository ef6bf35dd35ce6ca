// Starting a program that runs on its own, with arguments handed over byte for byte.
#pragma once

#include <string>

// Starts program, found on PATH, with argument as its one argument, in a session of its own and
// with default signal handling; does not wait for it, and reaps it when it ends. Returns whether
// it started.
bool StartDetached(const std::string& program, const std::string& argument);
