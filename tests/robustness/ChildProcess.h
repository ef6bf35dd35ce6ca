// Running tessaly-convert as a child under hostile conditions: extra environment (an
// interposer library), a file-size or descriptor limit, without root's privileges, on a
// terminal, and always with a time limit, so a hang shows up as a failure instead of a stuck
// test run.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ChildOptions {
    std::vector<std::string> Env;      // "NAME=value", added to or replacing the inherited ones
    std::uint64_t FileSizeLimit = 0;   // RLIMIT_FSIZE in bytes; 0 leaves it unlimited
    std::uint64_t DescriptorLimit = 0; // RLIMIT_NOFILE; 0 leaves it as it is
    bool AsNobody = false;             // run as the unprivileged user "nobody"
    int TimeoutSeconds = 60;
    // Standard output or error on one pseudo-terminal instead of a file.
    bool OutOnTerminal = false;
    bool ErrOnTerminal = false;
    // Standard output into a pipe nobody reads: once it is full, the child's writes block.
    bool OutUnread = false;
    // Sent once, as soon as SignalWhen() holds (asked every 10 ms); the child starts with the
    // signal's default action (ignored with SignalIgnored, as under nohup), and dumps no core.
    int Signal = 0;
    bool SignalIgnored = false;
    int SignalCount = 1; // sent that many times, each once the one before has been taken
    std::function<bool()> SignalWhen{};
};

struct ChildResult {
    int ExitCode = -1;      // 128 + signal when killed by one
    bool Signalled = false; // ended by a signal, not by exit(128 + signal)
    bool TimedOut = false;
    std::string Out;
    std::string Err;
    std::string Terminal; // what the child wrote to its terminal
};

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// The user id and group id the AsNobody option switches to.
constexpr unsigned kNobody = 65534;

// A private copy of tessaly-convert in its own folder, so that its "Waves" folder beside the
// executable belongs to one test alone, and so that "nobody" may run it.
class ConverterCopy {
public:
    ConverterCopy();
    const std::string& path() const { return Program; }
    std::string WavesFolder() const { return Dir / "Waves"; }

private:
    TempDir Dir;
    std::string Program;
};

// Makes a folder or file reachable by everybody (a TempDir is private to root), or hands it to
// "nobody".
void OpenToAll(const std::string& path);
void GiveToNobody(const std::string& path);

// The fault-injection interposer, noting its faults in log. It loads before the sanitizer
// runtime, which would refuse to start.
std::vector<std::string> InterposerEnvironment(const std::string& log);

// The fields of a result row split at every "|"; the last one keeps its leading arrow.
std::vector<std::string> RowFields(const std::string& row);
