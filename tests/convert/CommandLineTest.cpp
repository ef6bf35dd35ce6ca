// tessaly-convert: options, exit status, rows on standard output, and a whole run's state.
#include "CommandLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tessaly-convert");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineOptions, DefaultsMatchTheSettingsPanel) {
    const CommandLine line = Parse({"a.wav", "b.wav"});
    EXPECT_EQ(line.Action, CommandLine::Convert);
    EXPECT_EQ(line.Settings.RateChoice, 0);
    EXPECT_TRUE(line.Settings.KeepLowerRate);
    EXPECT_FALSE(line.Settings.Resample);
    EXPECT_EQ(line.Settings.BitsChoice, 0);
    EXPECT_EQ(line.Settings.ChannelsChoice, 0);
    EXPECT_EQ(line.Settings.Destination, DestinationChoice::WavesFolder);
    EXPECT_EQ(line.Files, (std::vector<std::string>{"a.wav", "b.wav"}));
}

TEST(CommandLineOptions, EveryOptionReachesTheSettings) {
    CommandLine line = Parse({"--rate", "96000", "--no-keep-lower", "--resample", "--bits=8",
                              "--channels", "1", "--dir", "/tmp/x y", "--", "--odd-name.wav"});
    EXPECT_EQ(line.Settings.RateChoice, 96000);
    EXPECT_FALSE(line.Settings.KeepLowerRate);
    EXPECT_TRUE(line.Settings.Resample);
    EXPECT_EQ(line.Settings.BitsChoice, 8);
    EXPECT_EQ(line.Settings.ChannelsChoice, 1);
    EXPECT_EQ(line.Settings.Destination, DestinationChoice::SpecifiedFolder);
    EXPECT_EQ(line.Settings.TargetFolder, "/tmp/x y");
    EXPECT_EQ(line.Files, std::vector<std::string>{"--odd-name.wav"});
    line = Parse({"--overwrite", "a.wav"});
    EXPECT_EQ(line.Settings.Destination, DestinationChoice::Overwrite);
    line = Parse({"--rate", "8000", "--rate", "0", "--bits", "8", "--bits=0", "--channels", "1",
                  "--channels", "0", "a.wav"});
    EXPECT_EQ(line.Settings.RateChoice, 0) << "0 keeps, and the last value counts";
    EXPECT_EQ(line.Settings.BitsChoice, 0);
    EXPECT_EQ(line.Settings.ChannelsChoice, 0);
    EXPECT_EQ(Parse({"x", "--help"}).Action, CommandLine::ShowHelp);
    line = Parse({"-", "--bits", "8"});
    EXPECT_EQ(line.Files, std::vector<std::string>{"-"}) << "a lone - is a file name";
    EXPECT_EQ(line.Settings.BitsChoice, 8);
}

TEST(CommandLineOptions, BadUsageIsRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--rate", "8000"},
        {"--rate", "-1", "a.wav"},
        {"--rate", "44k", "a.wav"},
        {"--rate", "99999999999", "a.wav"},
        {"--bits", "24", "a.wav"},
        {"--channels", "3", "a.wav"},
        {"--channels"},
        {"--overwrite", "--dir", "/tmp", "a.wav"},
        {"--fast", "a.wav"},
        {"--overwrite=yes", "a.wav"},
        {"--null=", "a.wav"},
        {"--no-keep-lower=1", "a.wav"},
        {"--help=yes"},
        {"--version=1"},
        {"--=x", "a.wav"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(Parse(args), UsageError) << ::testing::PrintToString(args);
}

class ConvertProgram : public ::testing::Test {
protected:
    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), TESSALY_CONVERT);
        return RunProgram(args);
    }
    std::string Source(const std::string& name, const Format& format, const Bytes& samples) {
        const std::string path = Dir / name;
        WriteFileBytes(path, WaveImage(format, samples));
        return path;
    }
    TempDir Dir;
    TempDir Out;
};

TEST_F(ConvertProgram, PrintsOneRowPerFileAndCarriesTheWaveAcross) {
    const std::string eight = Source("e.wav", {1, 2, 11025, 8}, {1, 2, 3, 4});
    const RunResult run = Run({"--channels", "1", "--dir", Out.path(), eight, Dir / "gone.wav"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "e.wav|" + Dir.path() + "/|" + Out.path() + kSeparator +
                           "|変換完了|11025Hz 8Bit Stereo|→11025Hz 8Bit Mono\n"
                           "gone.wav|" +
                           Dir.path() + "/|" + Out.path() + kSeparator +
                           "|読込失敗|11025Hz 8Bit Mono|→11025Hz 8Bit Mono\n");
    EXPECT_EQ(run.Err, "") << "no progress line when standard error is not a terminal";
    EXPECT_EQ(ListFolder(Out.path()), std::vector<std::string>{"e.wav"});
}

TEST_F(ConvertProgram, ExitsZeroOnlyWhenEveryFileConverted) {
    const std::string a = Source("a.wav", {1, 1, 8000, 16}, Samples16({1}));
    const std::string b = Source("b.wav", {1, 1, 8000, 16}, Samples16({2}));
    EXPECT_EQ(Run({"--dir", Out.path(), a, b}).ExitCode, 0);
    EXPECT_EQ(Run({"--dir", Out.path(), a, Dir.path()}).ExitCode, 1);
    EXPECT_EQ(Run({"--dir", Dir / "変換完了", a}).ExitCode, 1)
        << "the save fails into a missing folder that bears the success word";
}

TEST_F(ConvertProgram, NullEndsEachRowSoANameMayHoldANewline) {
    struct Case {
        std::string Name;
        bool PosixOnly;
    };
    // Windows allows no newline in a name; its own unusual names are tried there instead.
    for (const Case& c : {Case{"two\nlines.wav", true}, Case{"二行 ＃ (copy).wav", false}}) {
        if (c.PosixOnly && !kPosix)
            continue;
        const std::string path = Source(c.Name, {1, 1, 8000, 16}, Samples16({1}));
        EXPECT_EQ(Run({"--null", "--dir", Out.path(), path}).Out,
                  c.Name + "|" + Dir.path() + "/|" + Out.path() + kSeparator +
                      "|変換完了|8000Hz 16Bit Mono|→8000Hz 16Bit Mono" + '\0');
    }
}

TEST_F(ConvertProgram, BadUsageConvertsNothing) {
    const std::string a = Source("a.wav", {1, 1, 8000, 16}, Samples16({1}));
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--overwrite", "--dir", Out.path()},
          {"--null=yes", "--dir", Out.path()},
          {"--overwrite=1"}}) {
        std::vector<std::string> args = options;
        args.push_back(a);
        const RunResult run = Run(args);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find(options[0].substr(0, options[0].find('='))), std::string::npos);
        EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "one line";
        EXPECT_EQ(ListFolder(Out.path()), std::vector<std::string>{});
        EXPECT_EQ(ReadFileBytes(a), WaveImage({1, 1, 8000, 16}, Samples16({1}))) << options[0];
    }
    EXPECT_EQ(Run({"--version"}).Out.rfind("tessaly-convert ", 0), 0u);
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    // It names the folder this copy writes into without --overwrite or --dir: a build's own Waves
    // (Windows runs the program by its bare name; tests/windows checks the copies there).
    const std::string program = TESSALY_CONVERT;
    const std::string waves = program.substr(0, program.rfind('/') + 1) + "Waves (";
    if (kPosix) {
        EXPECT_NE(help.Out.find("neither: " + waves), std::string::npos) << help.Out;
    }
}

TEST_F(ConvertProgram, EightBitNonPcmFileDoesNotEndTheRun) {
    const std::string ulaw = Source("u.wav", {7, 1, 8000, 8}, {1, 2});
    const std::string pcm = Source("p.wav", {1, 1, 8000, 16}, Samples16({1}));
    const RunResult run = Run({"--dir", Out.path(), ulaw, pcm});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find("u.wav|" + Dir.path() + "/|" + Out.path() + kSeparator +
                           "|ビット変換に失敗しました"),
              std::string::npos);
    EXPECT_NE(run.Out.find("p.wav|" + Dir.path() + "/|" + Out.path() + kSeparator + "|変換完了"),
              std::string::npos);
}

// Later files are read ahead only as advice: each is read at its own turn, so a later source that
// an earlier save replaced is converted as it is then, with --dir and with --overwrite.
TEST_F(ConvertProgram, AnEarlierSaveThatReplacesALaterSourceIsWhatItsRowConverts) {
    const std::string first = Dir / "a.wav", later = Out / "a.wav";
    struct Case {
        std::vector<std::string> Destination;
        std::string Later, LaterFolder, Folder;
    };
    for (const Case& c :
         {Case{{"--dir", Out.path()}, later, Out.path() + "/", Out.path() + kSeparator},
          Case{{"--overwrite"}, first, Dir.path() + "/", Dir.path() + "/"}}) {
        WriteFileBytes(first, WaveImage({1, 2, 11025, 16}, Samples16({1, 2})));
        WriteFileBytes(later, WaveImage({1, 1, 8000, 16}, Samples16({3})));
        std::vector<std::string> args = c.Destination;
        args.insert(args.end(), {"--bits", "8", first, c.Later});
        EXPECT_EQ(Run(args).Out, "a.wav|" + Dir.path() + "/|" + c.Folder +
                                     "|変換完了|11025Hz 16Bit Stereo|→11025Hz 8Bit Stereo\n"
                                     "a.wav|" +
                                     c.LaterFolder + "|" + c.Folder +
                                     "|変換完了|11025Hz 8Bit Stereo|→11025Hz 8Bit Stereo\n")
            << c.Destination[0];
    }
}

// A name that ends in a dot is a name of its own, beside its plain twin.
TEST_F(ConvertProgram, ANameEndingInADotIsSavedApartFromItsPlainTwin) {
    // Saved as they are, with the 18-byte format record every save writes.
    const auto image = [](const Bytes& samples) {
        return Riff("WAVE",
                    {Chunk("fmt ", FmtRecord({1, 1, 8000, 16}, true)), Chunk("data", samples)});
    };
    const Bytes plain = image(Samples16({1, 2})), dotted = image(Samples16({3}));
    WriteFileBytes(Dir / "take.wav", WaveImage({1, 1, 8000, 16}, Samples16({1, 2})));
    WriteFileBytes(Dir / "take.wav.", WaveImage({1, 1, 8000, 16}, Samples16({3})));
    EXPECT_EQ(Run({"--dir", Out.path(), Dir / "take.wav", Dir / "take.wav."}).ExitCode, 0);
    EXPECT_EQ(ListFolder(Out.path()), (std::vector<std::string>{"take.wav", "take.wav."}));
    EXPECT_EQ(ReadFileBytes(Out / "take.wav"), plain);
    EXPECT_EQ(ReadFileBytes(Out / "take.wav."), dotted);
}

TEST_F(ConvertProgram, OverwriteKeepsTheSourceWhenTheDiskIsFull) {
    if (!kPosix)
        GTEST_SKIP() << "a file-size limit is set by a POSIX shell";
    const std::string path = Source("big.wav", {1, 1, 8000, 8}, Bytes(4000, 200));
    const Bytes before = ReadFileBytes(path);
    // A file-size limit of 1 KiB makes every larger write fail as on a full disk.
    const RunResult run = RunProgram({"sh", "-c", "ulimit -f 2; exec \"$0\" \"$@\"",
                                      TESSALY_CONVERT, "--overwrite", "--bits", "16", path});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find("|保存に失敗しました|"), std::string::npos) << run.Out;
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{"big.wav"})
        << "no temporary file left";
}

} // namespace

namespace {

// The lines a terminal shows for the bytes written to it: "\r" goes back to the line's start,
// "\033[K" clears the line from the cursor on, "\n" starts a new line, any other byte takes the
// place of the one under the cursor.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string& line = lines.back();
        if (bytes.compare(i, 3, "\033[K") == 0) {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else if (bytes[i] == '\r' || bytes[i] == '\n') {
            column = 0;
            if (bytes[i] == '\n')
                lines.emplace_back();
        } else {
            line.resize(std::max(line.size(), column + 1));
            line[column++] = bytes[i];
        }
    }
    return lines;
}

TEST_F(ConvertProgram, CountsTheFilesOnATerminal) {
    if (!HaveProgram("script"))
        GTEST_SKIP() << "script(1) is needed to give the program a terminal";
    const std::string a = Source("a.wav", {1, 1, 8000, 16}, Samples16({1}));
    const std::string b = Source("b.wav", {1, 1, 8000, 16}, Samples16({2}));
    const std::string command =
        std::string(TESSALY_CONVERT) + " --dir '" + Out.path() + "' '" + a + "' '" + b + "'";
    const RunResult run = RunProgram({"script", "-qefc", command, "/dev/null"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Out.find("\r1/2"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\r2/2"), std::string::npos) << run.Out;
    // The rows on the same terminal stand whole: the count is gone from each row's line.
    const std::string row =
        "|" + Dir.path() + "/|" + Out.path() + "/|変換完了|8000Hz 16Bit Mono|→8000Hz 16Bit Mono";
    EXPECT_EQ(Screen(run.Out), (std::vector<std::string>{"a.wav" + row, "b.wav" + row, ""}));
}

} // namespace
