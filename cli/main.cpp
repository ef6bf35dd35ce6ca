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
#include <vector>

namespace {

// Counts n/N on a terminal; stays silent when standard error is a pipe or a file.
class Progress {
public:
    explicit Progress(std::size_t total) : Total(total), Visible(Platform::ErrorIsTerminal()) {}
    ~Progress() {
        if (Visible)
            std::fputs("\r\033[K", stderr);
    }
    void Show(std::size_t n) const {
        if (Visible)
            std::fprintf(stderr, "\r%zu/%zu", n, Total);
    }

private:
    std::size_t Total;
    bool Visible;
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
        std::cout << row.Text() << line.RowEnd << std::flush;
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
        std::cerr << "tessaly-convert: " << failure.what() << '\n';
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    // A write past a file-size limit then fails, and its save says so, instead of killing us.
    Platform::PrepareProcess();
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
        std::cerr << "tessaly-convert: " << error.what() << " (see --help)\n";
        return 2;
    }
    if (line.Action == CommandLine::ShowHelp) {
        std::cout << UsageText();
        return 0;
    }
    if (line.Action == CommandLine::ShowVersion) {
        std::cout << "tessaly-convert " << TESSALY_VERSION << '\n';
        return 0;
    }
    // SIGINT, SIGTERM and SIGHUP stop the run within a step of the file in hand, which is given
    // up unless it is already in place; a write blocked on standard output ends at once.
    StopRequest::CatchStopSignals();
    const int status = Run(line);
    EndIfStopRequested();
    return status;
}
