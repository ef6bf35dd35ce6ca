#include "CommandLine.h"

#include "Platform.h"

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

namespace {

std::int32_t ParseNumber(const std::string& option, const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        throw UsageError(option + " needs a whole number, not '" + text + "'");
    return value;
}

std::int32_t ParseChoice(const std::string& option, const std::string& text,
                         std::initializer_list<std::int32_t> allowed) {
    const std::int32_t value = ParseNumber(option, text);
    for (std::int32_t a : allowed)
        if (value == a)
            return value;
    std::string list;
    for (std::int32_t a : allowed)
        list += (list.empty() ? "" : ", ") + std::to_string(a);
    throw UsageError(option + " takes one of " + list + ", not " + text);
}

// Splits "--name=value" into its two halves; other arguments have no inline value.
bool SplitInline(std::string& argument, std::string& value) {
    const auto equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos)
        return false;
    value = argument.substr(equals + 1);
    argument.resize(equals);
    return true;
}

// Where files go without --overwrite or --dir: where this copy of the program really puts them,
// which an installed copy on Windows decides only when it runs.
std::string WavesFolderText(const std::string& wavesParent) {
    if (wavesParent.empty())
        return "nowhere: the home folder is not known, so each save fails";
    return wavesParent + "Waves (made when missing)";
}

} // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool overwrite = false, specified = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            for (std::string& file : Platform::ExpandWildcards(argument))
                line.Files.push_back(std::move(file));
            continue;
        }
        std::string value;
        const bool hasInline = SplitInline(argument, value);
        auto takeValue = [&]() -> std::string {
            if (hasInline)
                return value;
            if (i + 1 >= argc)
                throw UsageError(argument + " needs a value");
            return argv[++i];
        };
        auto noValue = [&] {
            if (hasInline)
                throw UsageError(argument + " takes no value");
        };
        if (argument == "--") {
            noValue();
            optionsEnded = true;
        } else if (argument == "--rate") {
            line.Settings.RateChoice = ParseNumber(argument, takeValue());
            if (line.Settings.RateChoice < 0)
                throw UsageError("--rate takes 0 or a positive number");
        } else if (argument == "--resample") {
            noValue();
            line.Settings.Resample = true;
        } else if (argument == "--no-keep-lower") {
            noValue();
            line.Settings.KeepLowerRate = false;
        } else if (argument == "--bits") {
            line.Settings.BitsChoice = ParseChoice(argument, takeValue(), {0, 16, 8});
        } else if (argument == "--channels") {
            line.Settings.ChannelsChoice = ParseChoice(argument, takeValue(), {0, 2, 1});
        } else if (argument == "--overwrite") {
            noValue();
            overwrite = true;
        } else if (argument == "--dir") {
            line.Settings.TargetFolder = takeValue();
            specified = true;
        } else if (argument == "--null") {
            noValue();
            line.RowEnd = '\0';
        } else if (argument == "-h" || argument == "--help") {
            noValue();
            line.Action = CommandLine::ShowHelp;
            return line;
        } else if (argument == "--version") {
            noValue();
            line.Action = CommandLine::ShowVersion;
            return line;
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    if (overwrite && specified)
        throw UsageError("--overwrite and --dir exclude each other");
    if (line.Files.empty())
        throw UsageError("no FILE given");
    line.Settings.Destination = overwrite   ? DestinationChoice::Overwrite
                                : specified ? DestinationChoice::SpecifiedFolder
                                            : DestinationChoice::WavesFolder;
    return line;
}

std::string UsageText(const std::string& wavesParent) {
    return "Usage: tessaly-convert [OPTIONS] FILE...\n"
           "Converts PCM WAV files as the Tessaly window does and prints one result row per\n"
           "file: name|source folder|destination folder|outcome|before|→after.\n"
           "\n"
           "  --rate N         relabel the sampling rate to N Hz (samples are not resampled);\n"
           "                   0 = keep (default)\n"
           "  --resample       with --rate, resample to N Hz instead, keeping the pitch\n"
           "  --no-keep-lower  also raise a rate that is lower than N (default: keep it)\n"
           "  --bits N         0 = keep (default), 16, 8\n"
           "  --channels N     0 = keep (default), 2 = stereo, 1 = mono\n"
           "  --overwrite      write over each source file\n"
           "  --dir FOLDER     write into FOLDER (it must exist)\n"
           "                   neither: " +
           WavesFolderText(wavesParent) +
           "\n"
           "  --null           end each row with a NUL byte instead of a newline\n"
           "  -h, --help       show this help\n"
           "  --version        show the version\n"
           "\n"
           "Exit status: 0 when every file converted, 1 when any failed, 2 for bad usage.\n"
           "Scripts should use --null (rows end in NUL, as with find -print0), since a name\n"
           "may hold a newline; a name may hold \"|\" too, so a row's outcome is its third\n"
           "field from the end.\n";
}
