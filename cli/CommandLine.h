// The options of tessaly-convert.
#pragma once

#include "ConversionSettings.h"

#include <stdexcept>
#include <string>
#include <vector>

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    enum { Convert, ShowHelp, ShowVersion } Action = Convert;
    ConversionSettings Settings;
    char RowEnd = '\n'; // '\0' with --null: a name may hold a newline
    std::vector<std::string> Files;
};

// Raises UsageError, with a one-line reason, for anything it cannot take.
CommandLine ParseCommandLine(int argc, const char* const* argv);
// The usage, naming the folder that files go to without --overwrite or --dir: "Waves" in
// wavesParent (WavesParentFolder()).
std::string UsageText(const std::string& wavesParent);
