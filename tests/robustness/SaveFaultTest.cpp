// A save that fails at any point must report "保存に失敗しました", leave whatever was at the
// destination (the source itself, under --overwrite) exactly as it was, and leave no temporary
// file behind. Each fault is made real: an interposed C library call that fails, a file-size
// limit, a folder the unprivileged converter cannot write, a file it may not write in a folder
// it may (a rename would replace it), a folder where the file should go.
// The same interposer also fails a run outside every step, which must end with its message.
#include "ChildProcess.h"
#include "ConvertFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

enum class Fault {
    Write,
    Fsync,
    Rename,
    FileSizeLimit,
    ReadOnlyFolder,
    FolderInTheWay,
    ReadOnlyFile,
    None
};
enum class Destination { Overwrite, ExistingInFolder, NewInFolder, NewInWaves };

struct SaveCase {
    Fault fault;
    Destination destination;
};

const char* Name(Fault f) {
    switch (f) {
    case Fault::Write:
        return "FailingWrite";
    case Fault::Fsync:
        return "FailingFsync";
    case Fault::Rename:
        return "FailingRename";
    case Fault::FileSizeLimit:
        return "DiskFull";
    case Fault::ReadOnlyFolder:
        return "ReadOnlyFolder";
    case Fault::FolderInTheWay:
        return "FolderInTheWay";
    case Fault::ReadOnlyFile:
        return "ReadOnlyFile";
    case Fault::None:
        return "NoFault";
    }
    return "";
}

const char* Name(Destination d) {
    switch (d) {
    case Destination::Overwrite:
        return "Overwrite";
    case Destination::ExistingInFolder:
        return "ExistingFileInFolder";
    case Destination::NewInFolder:
        return "NewFileInFolder";
    case Destination::NewInWaves:
        return "NewFileInWaves";
    }
    return "";
}

void PrintTo(const SaveCase& c, std::ostream* os) {
    *os << Name(c.fault) << " " << Name(c.destination);
}

// A 16-bit stereo source of 4000 data bytes; converted to 8 bit it needs 2046 bytes.
Bytes SourceImage() {
    Bytes samples;
    for (int i = 0; i < 2000; ++i)
        AppendLE16(samples, static_cast<std::uint16_t>(i * 97 - 30000));
    return WaveImage({.Channels = 2}, samples);
}

constexpr std::uint64_t kFileSizeLimit = 1024; // below the output, above a result row

class SaveFaultTest : public testing::TestWithParam<SaveCase> {
protected:
    void SetUp() override {
        OpenToAll(sources.path());
        OpenToAll(target.path());
        WriteFileBytes(source, SourceImage());
    }

    Fault fault() const { return GetParam().fault; }
    Destination destination() const { return GetParam().destination; }

    std::string DestinationFolder() const {
        switch (destination()) {
        case Destination::Overwrite:
            return sources.path();
        case Destination::NewInWaves:
            return converter.WavesFolder();
        default:
            return target.path();
        }
    }
    std::string DestinationPath() const { return DestinationFolder() + "/take.wav"; }

    // Lays out what the destination holds before the run, and the fault's own conditions.
    void Arrange() {
        if (destination() == Destination::NewInWaves && fault() >= Fault::ReadOnlyFolder)
            fs::create_directory(DestinationFolder());
        if (destination() == Destination::ExistingInFolder)
            WriteFileBytes(DestinationPath(), WaveImage({.Rate = 8000}, Samples16({1, 2, 3})));
        if (fault() == Fault::FolderInTheWay)
            fs::create_directory(DestinationPath());
        if (RunsAsNobody())
            HandFolderToNobody(DestinationFolder());
        if (fault() == Fault::ReadOnlyFolder)
            fs::permissions(DestinationFolder(), fs::perms::owner_write | fs::perms::group_write,
                            fs::perm_options::remove);
        if (fault() == Fault::ReadOnlyFile)
            fs::permissions(DestinationPath(),
                            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }

    // Root may write any file and into any folder: these faults are met by "nobody".
    bool RunsAsNobody() const {
        return fault() == Fault::ReadOnlyFolder || fault() == Fault::ReadOnlyFile ||
               fault() == Fault::None;
    }

    void HandFolderToNobody(const std::string& folder) {
        if (!fs::exists(folder))
            fs::create_directory(folder);
        GiveToNobody(folder);
        for (const auto& entry : fs::directory_iterator(folder))
            GiveToNobody(entry.path());
        GiveToNobody(source);
    }

    ChildOptions Options() const {
        ChildOptions options;
        options.Env = InterposerEnvironment(log);
        if (fault() == Fault::Write)
            options.Env.push_back("TESSALY_FAIL_WRITE=1");
        if (fault() == Fault::Fsync)
            options.Env.push_back("TESSALY_FAIL_FSYNC=1");
        if (fault() == Fault::Rename)
            options.Env.push_back("TESSALY_FAIL_RENAME=1");
        if (fault() == Fault::FileSizeLimit)
            options.FileSizeLimit = kFileSizeLimit;
        options.AsNobody = RunsAsNobody();
        return options;
    }

    std::vector<std::string> Arguments() const {
        std::vector<std::string> args = {converter.path(), "--bits", "8"};
        if (destination() == Destination::Overwrite)
            args.push_back("--overwrite");
        if (destination() == Destination::ExistingInFolder ||
            destination() == Destination::NewInFolder)
            args.insert(args.end(), {"--dir", target.path()});
        args.push_back(source);
        return args;
    }

    // The interposer notes each fault it injects; the other faults leave no note.
    std::string ExpectedLog() const {
        switch (fault()) {
        case Fault::Write:
            return "write\n";
        case Fault::Fsync:
            return "fsync\n";
        case Fault::Rename:
            return "rename\n";
        default:
            return "";
        }
    }

    std::string InjectedFaults() const { return FileExists(log) ? ToText(ReadFileBytes(log)) : ""; }
    static std::string ToText(const Bytes& b) { return std::string(b.begin(), b.end()); }

    ConverterCopy converter;
    TempDir sources, target, logs;
    const std::string source = sources / "take.wav";
    const std::string log = logs / "faults";
};

std::optional<Bytes> RegularFileBytes(const std::string& path) {
    if (!fs::is_regular_file(path))
        return std::nullopt;
    return ReadFileBytes(path);
}

std::vector<std::string> ListingOrEmpty(const std::string& folder) {
    return fs::exists(folder) ? ListFolder(folder) : std::vector<std::string>{};
}

TEST_P(SaveFaultTest, FailsCleanlyAndKeepsTheDestination) {
    Arrange();
    const std::optional<Bytes> before = RegularFileBytes(DestinationPath());
    const std::vector<std::string> listing = ListingOrEmpty(DestinationFolder());

    const ChildResult run = RunChild(Arguments(), Options());

    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    const std::vector<std::string> fields = RowFields(run.Out);
    ASSERT_EQ(fields.size(), 6u) << run.Out;
    EXPECT_EQ(fields[3], StatusWord::SaveFailed);
    EXPECT_EQ(fields[4], "44100Hz 16Bit Stereo") << "the source must have loaded";
    EXPECT_EQ(fields[5], "→44100Hz 8Bit Stereo\n");

    EXPECT_EQ(RegularFileBytes(DestinationPath()), before);
    EXPECT_EQ(ListingOrEmpty(DestinationFolder()), listing) << "a temporary file was left";
    EXPECT_EQ(fs::is_directory(DestinationPath()), fault() == Fault::FolderInTheWay);
    EXPECT_EQ(InjectedFaults(), ExpectedLog());
}

// The harness itself: interposer loaded, run as "nobody", nothing failing, and every
// destination gets its file and nothing else. Without this, a fault test could pass because
// the run failed for another reason.
class SaveWithoutFaultTest : public SaveFaultTest {};

TEST_P(SaveWithoutFaultTest, Converts) {
    Arrange();
    std::vector<std::string> expected = ListingOrEmpty(DestinationFolder());
    if (!FileExists(DestinationPath()))
        expected.push_back("take.wav");
    std::sort(expected.begin(), expected.end());

    const ChildResult run = RunChild(Arguments(), Options());

    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(RowFields(run.Out).at(3), StatusWord::Converted);
    EXPECT_EQ(ReadFileBytes(DestinationPath()).size(), 46u + 2000u);
    EXPECT_EQ(ListFolder(DestinationFolder()), expected);
    EXPECT_EQ(InjectedFaults(), "");
}

// Every fault with every destination it can meet: a flush happens only when an existing file
// is replaced, a folder can stand in the way of a new file only, and a read-only file exists.
std::vector<SaveCase> Cases() {
    const Destination all[] = {Destination::Overwrite, Destination::ExistingInFolder,
                               Destination::NewInFolder, Destination::NewInWaves};
    std::vector<SaveCase> cases;
    for (Fault f : {Fault::Write, Fault::Rename, Fault::FileSizeLimit, Fault::ReadOnlyFolder})
        for (Destination d : all)
            cases.push_back({f, d});
    cases.push_back({Fault::Fsync, Destination::Overwrite});
    cases.push_back({Fault::Fsync, Destination::ExistingInFolder});
    cases.push_back({Fault::FolderInTheWay, Destination::NewInFolder});
    cases.push_back({Fault::FolderInTheWay, Destination::NewInWaves});
    cases.push_back({Fault::ReadOnlyFile, Destination::Overwrite});
    cases.push_back({Fault::ReadOnlyFile, Destination::ExistingInFolder});
    return cases;
}

std::vector<SaveCase> FaultFreeCases() {
    return {{Fault::None, Destination::Overwrite},
            {Fault::None, Destination::ExistingInFolder},
            {Fault::None, Destination::NewInFolder},
            {Fault::None, Destination::NewInWaves}};
}

std::string CaseName(const testing::TestParamInfo<SaveCase>& info) {
    return std::string(Name(info.param.fault)) + "_" + Name(info.param.destination);
}

INSTANTIATE_TEST_SUITE_P(Faults, SaveFaultTest, testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Harness, SaveWithoutFaultTest, testing::ValuesIn(FaultFreeCases()),
                         CaseName);
// A brand-new file is not flushed at all, so a flush that would fail cannot fail its save.
INSTANTIATE_TEST_SUITE_P(NewFileUnflushed, SaveWithoutFaultTest,
                         testing::Values(SaveCase{Fault::Fsync, Destination::NewInFolder},
                                         SaveCase{Fault::Fsync, Destination::NewInWaves}),
                         CaseName);

// A wave that cannot be made for the second file fails its load; the component keeps the wave
// it had, so the files after it convert.
TEST(FailureOutsideTheSteps, FreshWaveThatCannotBeMadeFailsOnlyItsFile) {
    TempDir dir, out;
    WriteFileBytes(dir / "a.wav", SourceImage());
    ChildOptions options{.Env = InterposerEnvironment(dir / "faults")};
    options.Env.push_back("TESSALY_FAIL_NEW_WAVE=3"); // the component's own, then the 2nd file's
    const ChildResult run = RunChild(
        {TESSALY_CONVERT, "--dir", out.path(), dir / "a.wav", dir / "a.wav", dir / "a.wav"},
        options);
    EXPECT_EQ(run.ExitCode, 1);
    // Three rows of six fields, each row's last field running into the next row's name.
    const std::vector<std::string> fields = RowFields(run.Out);
    ASSERT_EQ(fields.size(), 16u) << run.Out << run.Err;
    EXPECT_EQ(fields[3], StatusWord::Converted);
    EXPECT_EQ(fields[8], StatusWord::ReadFailed);
    EXPECT_EQ(fields[13], StatusWord::Converted);
    EXPECT_EQ(run.Err, "");
}

// A long file's result is written while its source is still being read. A source that another
// program cuts by then fails its conversion; a write that fails part-way fails the save, the
// source kept under --overwrite. Nothing is put in place and no temporary file is left.
TEST(LongFileFault, FailsWholeAndLeavesNothingBehind) {
    const struct {
        const char* Fault;
        bool Overwrite;
        const char* Status;
        const char* Note;
    } cases[] = {{"TESSALY_CUT_AT_WRITE=2", false, StatusWord::BitsFailed, "cut\n"},
                 {"TESSALY_FAIL_WRITE=3", false, StatusWord::SaveFailed, "write\n"},
                 {"TESSALY_FAIL_WRITE=3", true, StatusWord::SaveFailed, "write\n"}};
    for (const auto& c : cases) {
        TempDir in, out;
        const std::string source = in / "long.wav", log = out / "faults";
        const Bytes image = WaveImage({.Channels = 2}, Bytes(40u << 20, 0x11));
        WriteFileBytes(source, image);
        ChildOptions options{.Env = InterposerEnvironment(log)};
        options.Env.insert(options.Env.end(), {c.Fault, "TESSALY_CUT_FILE=" + source});
        std::vector<std::string> args = {TESSALY_CONVERT, "--bits", "8", "--channels", "1"};
        if (c.Overwrite)
            args.push_back("--overwrite");
        else
            args.insert(args.end(), {"--dir", out.path()});
        args.push_back(source);
        const ChildResult run = RunChild(args, options);
        EXPECT_EQ(RowFields(run.Out).at(3), c.Status) << c.Fault << run.Err;
        EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"faults"}) << c.Fault;
        EXPECT_EQ(ListFolder(in.path()), std::vector<std::string>{"long.wav"}) << c.Fault;
        const Bytes note = ReadFileBytes(log);
        EXPECT_EQ(std::string(note.begin(), note.end()), c.Note);
        if (c.Overwrite) {
            EXPECT_EQ(ReadFileBytes(source), image);
        }
    }
}

// A save that replaces a file flushes it a step at a time, each step's writeback started and
// waited for (and any under way before it), the steps covering the file in order from its start
// to its end; once the file is in place, its folder is flushed, so that the rename lasts too.
TEST(ReplacingSave, FlushesItsStepsInOrderWaitingForEachThenItsFolder) {
    TempDir in, out;
    WriteFileBytes(in / "take.wav", WaveImage({.Bits = 8}, Bytes(3u << 20, 0x90)));
    WriteFileBytes(out / "take.wav", WaveImage({.Bits = 8}, {1, 2, 3}));
    ChildOptions options{.Env = InterposerEnvironment(in / "log")};
    options.Env.push_back("TESSALY_LOG_FLUSHES=1");
    const ChildResult run =
        RunChild({TESSALY_CONVERT, "--bits", "16", "--dir", out.path(), in / "take.wav"}, options);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::ifstream log(in / "log");
    std::uint64_t end = 0, steps = 0, offset = 0, length = 0;
    bool renamed = false, folderAfter = false;
    for (std::string word; log >> word;) {
        if (word == "range" && log >> offset >> length >> word) {
            EXPECT_EQ(offset, end) << "a step not where the one before ended";
            EXPECT_EQ(std::stoul(word), static_cast<unsigned long>(SYNC_FILE_RANGE_WAIT_BEFORE |
                                                                   SYNC_FILE_RANGE_WRITE |
                                                                   SYNC_FILE_RANGE_WAIT_AFTER));
            EXPECT_FALSE(renamed) << "flushed after the rename";
            end = offset + length;
            ++steps;
        }
        renamed = renamed || word == "renamed";
        folderAfter = folderAfter || (renamed && word == "folder");
    }
    EXPECT_EQ(end, 46u + (6u << 20));
    EXPECT_GT(steps, 2u);
    EXPECT_TRUE(folderAfter) << "the folder was not flushed after the rename";
}

} // namespace
