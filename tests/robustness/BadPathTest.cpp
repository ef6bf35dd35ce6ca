// Paths a user can throw at the converter: missing ones, folders, FIFOs and devices, files the
// user may not read, names with awkward characters and paths past the system's limits. Each
// gets its status word in its own row, and the run ends on its own, without a crash.
#include "ChildProcess.h"
#include "ConvertFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kInitial = "44100Hz 16Bit Mono"; // the wave before any file loaded
constexpr const char* kSource = "22050Hz 16Bit Mono";
constexpr const char* kConverted = "22050Hz 8Bit Mono";

Bytes SourceImage() {
    return WaveImage({.Rate = 22050}, Samples16({-256, 0, 255, 256, 32767}));
}

std::string Row(const std::string& folder, const std::string& name, const std::string& destFolder,
                const char* status, const char* before, const char* after) {
    return name + "|" + folder + "|" + destFolder + "|" + status + "|" + before + "|→" + after +
           "\n";
}

class BadPathTest : public testing::Test {
protected:
    void SetUp() override {
        OpenToAll(in.path());
        OpenToAll(out.path());
    }

    // Converts to 8 bit into the out folder; a crash or a hang fails the test right here.
    ChildResult Convert(const std::vector<std::string>& files, ChildOptions options = {},
                        const std::string& dir = "") {
        std::vector<std::string> args = {converter.path(), "--bits", "8", "--dir",
                                         dir.empty() ? out.path() : dir};
        args.insert(args.end(), files.begin(), files.end());
        options.TimeoutSeconds = 30;
        const ChildResult run = RunChild(args, options);
        EXPECT_FALSE(run.TimedOut) << "the converter hung";
        EXPECT_LT(run.ExitCode, 2) << "the converter crashed: " << run.Err;
        return run;
    }

    // A file that cannot be opened leaves the wave of the file before in place.
    std::string ReadFailedRow(const std::string& path, const char* wave = kInitial) const {
        return Row(path.substr(0, path.rfind('/') + 1), path.substr(path.rfind('/') + 1),
                   out.path() + "/", StatusWord::ReadFailed, wave, wave);
    }
    std::string ConvertedRow(const std::string& name) const {
        return Row(in.path() + "/", name, out.path() + "/", StatusWord::Converted, kSource,
                   kConverted);
    }

    ConverterCopy converter;
    TempDir in, out;
};

TEST_F(BadPathTest, MissingFilesFoldersFifosAndDevicesFailToRead) {
    const std::string missing = in / "missing.wav", folder = in / "folder.wav",
                      fifo = in / "fifo.wav";
    fs::create_directory(folder);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::vector<std::string> paths = {missing, folder, fifo, "/dev/zero", "/dev/null"};
    // Read ahead of their turn too, they hold up and fail nothing after them.
    WriteFileBytes(in / "take.wav", SourceImage());
    std::vector<std::string> files = {in / "take.wav"};
    files.insert(files.end(), paths.begin(), paths.end());
    files.push_back(in / "take.wav");

    const ChildResult run = Convert(files);

    std::string expected = ConvertedRow("take.wav");
    for (const std::string& p : paths)
        expected += ReadFailedRow(p, kConverted);
    EXPECT_EQ(run.Out, expected + ConvertedRow("take.wav"));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"take.wav"});
}

// Root reads any file whatever its mode, so the converter runs as "nobody" here; the readable
// file in the same run shows that it is the mode, not the user, that stops the read.
TEST_F(BadPathTest, UnreadableFileFailsToReadAndTheNextConverts) {
    const std::string locked = in / "locked.wav", open = in / "open.wav";
    WriteFileBytes(locked, SourceImage());
    WriteFileBytes(open, SourceImage());
    fs::permissions(locked, fs::perms::none);
    GiveToNobody(out.path());

    ChildOptions asNobody;
    asNobody.AsNobody = true;
    const ChildResult run = Convert({locked, open}, asNobody);

    EXPECT_EQ(run.Out, Row(in.path() + "/", "locked.wav", out.path() + "/", StatusWord::ReadFailed,
                           kInitial, kInitial) +
                           ConvertedRow("open.wav"));
    EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"open.wav"});
}

TEST_F(BadPathTest, AwkwardNamesConvertUnderTheirOwnName) {
    const std::vector<std::string> names = {
        "take one.wav", "it's \"best\".wav", "line\nbreak.wav", "a|b.wav",
        "c:d.wav",      "録音 テイク.wav",   "ñandú ♪.wav",     " leading and trailing .wav"};
    std::vector<std::string> paths;
    std::string expected;
    for (const std::string& name : names) {
        paths.push_back(in / name);
        WriteFileBytes(paths.back(), SourceImage());
        expected += ConvertedRow(name);
    }

    const ChildResult run = Convert(paths);

    EXPECT_EQ(run.Out, expected);
    EXPECT_EQ(run.ExitCode, 0);
    for (const std::string& name : names)
        EXPECT_EQ(ReadFileBytes(out / name).size(), 46u + 5u + 1u) << name;
}

TEST_F(BadPathTest, AwkwardFolderNameTakesTheFile) {
    const std::string folder = out / "my \"mix\" | 仕上げ: v2";
    fs::create_directory(folder);
    WriteFileBytes(in / "take.wav", SourceImage());

    const ChildResult run = Convert({in / "take.wav"}, {}, folder);

    EXPECT_EQ(run.Out, Row(in.path() + "/", "take.wav", folder + "/", StatusWord::Converted,
                           kSource, kConverted));
    EXPECT_TRUE(FileExists(folder + "/take.wav"));
}

TEST_F(BadPathTest, LongestNameConvertsOneLongerFailsToRead) {
    const std::string longest = std::string(NAME_MAX - 4, 'x') + ".wav";
    const std::string tooLong = "y" + longest;
    WriteFileBytes(in / longest, SourceImage());

    const ChildResult run = Convert({in / longest, in / tooLong});

    EXPECT_EQ(run.Out, ConvertedRow(longest) + ReadFailedRow(in / tooLong, kConverted));
    EXPECT_TRUE(FileExists(out / longest));
}

// More files than descriptors: every source, read or mapped, and every file the read-ahead
// looks at is closed again. Files of 32 MiB and more are mapped: this one has its samples
// before a long chunk the load passes over, and 80 of the 200 names are links to it. Each file
// is saved over itself, which holds two descriptors at once: a load that can no longer map
// reads instead, so only then do descriptors left open show.
TEST_F(BadPathTest, BatchOfMoreFilesThanDescriptorsConvertsThemAll) {
    WriteFileBytes(in / "big", Riff("WAVE", {Chunk("fmt ", FmtRecord({.Rate = 22050})),
                                             Chunk("data", Samples16({-256, 0, 255, 256, 32767})),
                                             Chunk("junk", Bytes(33u << 20))}));
    WriteFileBytes(in / "small", SourceImage());
    std::vector<std::string> paths;
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        paths.push_back(in / (std::to_string(i) + ".wav"));
        fs::create_hard_link(in / (i % 5 < 2 ? "big" : "small"), paths.back());
        expected += Row(in.path() + "/", std::to_string(i) + ".wav", in.path() + "/",
                        StatusWord::Converted, kSource, kConverted);
    }
    ChildOptions options;
    options.DescriptorLimit = 64;
    const ChildResult run = Convert(paths, options, in.path());
    EXPECT_EQ(run.Out, expected);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
}

// A chain of folders whose full path is longer than PATH_MAX, built and removed one level at a
// time, since no single call may name it whole.
class DeepFolder {
public:
    DeepFolder(const std::string& base, int levels) : Base(base) {
        const std::string segment(200, 'd');
        int fd = ::open(base.c_str(), O_DIRECTORY | O_CLOEXEC);
        Path = base;
        for (int i = 0; i < levels; ++i) {
            if (fd < 0 || ::mkdirat(fd, segment.c_str(), 0755) != 0)
                throw std::runtime_error("cannot make a deep folder");
            const int next = ::openat(fd, segment.c_str(), O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
            Path += "/" + segment;
        }
        Fd = fd;
    }
    ~DeepFolder() {
        ::close(Fd);
        RemoveTree(::open(Base.c_str(), O_DIRECTORY | O_CLOEXEC));
    }
    void Write(const std::string& name, const Bytes& bytes) const {
        const int fd = ::openat(Fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) ==
                                            static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!written)
            throw std::runtime_error("cannot write into the deep folder");
    }
    bool Holds(const std::string& name) const {
        struct stat st {};
        return ::fstatat(Fd, name.c_str(), &st, 0) == 0;
    }
    const std::string& path() const { return Path; }

private:
    // Empties the folder fd names, closing fd.
    static void RemoveTree(int fd) {
        const std::string segment(200, 'd');
        const int child = ::openat(fd, segment.c_str(), O_DIRECTORY | O_CLOEXEC);
        if (child >= 0)
            RemoveTree(child);
        ::unlinkat(fd, segment.c_str(), AT_REMOVEDIR);
        ::unlinkat(fd, "deep.wav", 0);
        ::close(fd);
    }

    std::string Base, Path;
    int Fd = -1;
};

TEST_F(BadPathTest, PathsPastPathMaxFailWithTheirOwnWord) {
    const DeepFolder deep(in.path(), 24);
    ASSERT_GT(deep.path().size(), static_cast<std::size_t>(PATH_MAX));
    deep.Write("deep.wav", SourceImage());
    WriteFileBytes(in / "take.wav", SourceImage());

    const std::string deepSource = deep.path() + "/deep.wav";
    const ChildResult read = Convert({deepSource});
    EXPECT_EQ(read.Out, ReadFailedRow(deepSource));

    const ChildResult save = Convert({in / "take.wav"}, {}, deep.path());
    EXPECT_EQ(save.Out, Row(in.path() + "/", "take.wav", deep.path() + "/", StatusWord::SaveFailed,
                            kSource, kConverted));
    EXPECT_FALSE(deep.Holds("take.wav"));
}

} // namespace
