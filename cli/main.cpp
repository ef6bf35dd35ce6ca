// tessaly-convert: the window's per-file conversion, run over files named on the command line.
#include "CommandLine.h"
#include "ConvertFile.h"
#include "PathParts.h"
#include "Platform.h"
#include "ReadAhead.h"
#include "RvWaveComponent.h"
#include "StopRequest.h"
#include "WorkMonitor.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Writes text to out (std::cout or std::cerr) whole: to a console in one piece, anywhere else as
// the bytes it is.
void Print(std::ostream& out, const std::string& text) {
    if (!Platform::WriteToConsole(&out == &std::cerr ? stderr : stdout, text))
        out << text << std::flush;
}

// Counts n/N on a terminal; stays silent when standard error is a pipe or a file. The count is
// taken off its line before a row is written there, so every row starts at the line's start.
class Progress {
public:
    explicit Progress(std::size_t total) : Total(total), Shows(Platform::ErrorTerminal()) {}
    ~Progress() { Erase(); }
    void Show(std::size_t n) {
        if (Shows == Platform::Terminal::None)
            return;
        Drawn = std::to_string(n) + "/" + std::to_string(Total);
        Print(std::cerr, "\r" + Drawn);
    }
    void Erase() {
        if (Drawn.empty())
            return;
        // Where escape sequences would show as text, spaces cover the count.
        std::string erase = "\r";
        if (Shows == Platform::Terminal::Escapes)
            erase += "\033[K";
        else
            erase.append(Drawn.size(), ' ').append(1, '\r');
        Print(std::cerr, erase);
        Drawn.clear();
    }

private:
    std::size_t Total;
    Platform::Terminal Shows;
    std::string Drawn; // the count on the line now, if any
};

int ConvertAll(const CommandLine& line) {
    const std::string wavesParent = WavesParentFolder();
    TRvWave wave; // one wave for the whole run, carried from file to file as in one drop
    bool allConverted = true;
    Progress progress(line.Files.size());
    ReadAhead readAhead;
    for (std::size_t i = 0; i < line.Files.size() && !StopRequest::Pending(); ++i) {
        progress.Show(i + 1);
        readAhead.Starting(line.Files, i);
        ResultRow row;
        try {
            row = ConvertFile(line.Files[i], line.Settings, wavesParent, wave);
        } catch (const EWorkStopped&) {
            break; // the file in hand was given up: it gets no row
        }
        // A file that failed as the stop came may have failed by it: it gets no row either.
        if (StopRequest::Pending() && !row.Converted())
            break;
        progress.Erase();
        Print(std::cout, row.Text() + line.RowEnd);
        allConverted = allConverted && row.Converted();
    }
    return allConverted ? 0 : 1;
}

// Ends the process as the stop signal would have ended it had it never been caught: the shell
// then sees 130, 143 or 129 (on Windows, the status of a console program stopped by Ctrl-C).
void EndIfStopRequested() {
    const int signal = StopRequest::Pending();
    if (signal == 0)
        return;
    std::cout.flush();
    Platform::EndAsStopped(signal);
}

int Run(const CommandLine& line) {
    try {
        return ConvertAll(line);
    } catch (const std::exception& failure) {
        // The rows printed so far stay; the run ends at the file that raised.
        Print(std::cerr, std::string("tessaly-convert: ") + failure.what() + '\n');
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    // A write past a file-size limit then fails, and its save says so, instead of killing us.
    Platform::PrepareProcess();
    // An installer waits while this program runs.
    Platform::MarkRunning(ProgramFolder());
    // Arguments are UTF-8 inside, whatever form the system hands them over in.
    const std::vector<std::string> arguments = Platform::Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    CommandLine line;
    try {
        line = ParseCommandLine(static_cast<int>(arguments.size()), pointers.data());
    } catch (const UsageError& error) {
        Print(std::cerr, std::string("tessaly-convert: ") + error.what() + " (see --help)\n");
        return 2;
    }
    if (line.Action == CommandLine::ShowHelp) {
        Print(std::cout, UsageText(WavesParentFolder()));
        return 0;
    }
    if (line.Action == CommandLine::ShowVersion) {
        Print(std::cout, "tessaly-convert " TESSALY_VERSION "\n");
        return 0;
    }
    // SIGINT, SIGTERM and SIGHUP stop the run within a step of the file in hand, which is given
    // up unless it is already in place; a write blocked on standard output ends at once.
    StopRequest::CatchStopSignals();
    const int status = Run(line);
    EndIfStopRequested();
    return status;
}
