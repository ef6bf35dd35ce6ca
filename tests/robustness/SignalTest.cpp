// Signals from other processes: a SIGBUS ends tessaly-convert as it ends any program, whatever
// the guard of its mapped files does with bus errors; SIGINT, SIGTERM and SIGHUP stop it during
// a save without a temporary file left, the files finished before it kept, and end by the
// signal itself; a SIGHUP ignored from the start (nohup) stays ignored.
#include "ChildProcess.h"
#include "ConvertFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool HoldsTemporaryFile(const std::string& folder) {
    for (const std::string& name : ListFolder(folder))
        if (name.rfind(".tessaly-", 0) == 0)
            return true;
    return false;
}

TEST(SentSignal, BusErrorEndsTheRun) {
#ifdef __SANITIZE_THREAD__
    // The race detector delivers signals itself, and a bus error sent while a thread waits in
    // a read or write at times ends its process by a segmentation fault instead.
    GTEST_SKIP() << "signals pass through the race detector";
#endif
    TempDir in, out;
    WriteFileBytes(in / "long.wav", WaveImage({.Channels = 2}, Bytes(40u << 20, 0x11)));
    std::vector<std::string> args = {TESSALY_CONVERT, "--bits", "8", "--dir", out.path()};
    args.insert(args.end(), 30, in / "long.wav");
    // The sanitizer's report of a bus error would stand in for the default action.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const char* tsan = std::getenv("TSAN_OPTIONS");
    ChildOptions options{
        .Env = {"ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":handle_sigbus=0",
                "TSAN_OPTIONS=" + std::string(tsan ? tsan : "") + ":handle_sigbus=0"}};
    options.Signal = SIGBUS;
    // Sent once the first file, mapped, is saved: the guard is in place.
    options.SignalWhen = [&] { return FileExists(out / "long.wav"); };
    const ChildResult run = RunChild(args, options);
    EXPECT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 128 + SIGBUS) << run.Err;
    EXPECT_TRUE(run.Signalled);
}

// How many lines of the log say what.
std::size_t Count(const std::string& log, const std::string& what) {
    std::ifstream in(log);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line == what;
    return count;
}

// Sent while the long file's result (80 MiB, streamed as it is converted) is being written, two
// of its pieces on their way: each thread ends with the write in hand. Or sent once it is
// written whole and is being closed: it is not put in place.
TEST(SentSignal, StopDuringASaveLeavesNoTemporaryFileAndEndsWithTheSignalsStatus) {
    const struct {
        int Signal;
        const char *Slow, *During;
        std::size_t After;
    } cases[] = {{SIGINT, "TESSALY_SLOW_WRITE_MS=300", "slow write", 4},
                 {SIGTERM, "TESSALY_SLOW_WRITE_MS=300", "slow write", 4},
                 {SIGHUP, "TESSALY_SLOW_CLOSE_MS=1000", "slow close", 2}};
    for (const auto& c : cases) {
        TempDir in, out, logs;
        WriteFileBytes(in / "first.wav", WaveImage({.Bits = 8}, {1, 2, 3}));
        WriteFileBytes(in / "long.wav", WaveImage({.Bits = 8}, Bytes(40u << 20, 0x80)));
        // A slow disk, so that the second signal comes while the first is acted on.
        ChildOptions options{.Env = InterposerEnvironment(logs / "faults")};
        options.Env.push_back(c.Slow);
        options.Signal = c.Signal;
        options.SignalCount = 2; // a second one, while it stops, changes nothing
        std::size_t beforeStop = 0;
        options.SignalWhen = [&] {
            beforeStop = Count(logs / "faults", c.During);
            return beforeStop >= c.After && FileExists(out / "first.wav") &&
                   HoldsTemporaryFile(out.path());
        };
        const ChildResult run = RunChild({TESSALY_CONVERT, "--bits", "16", "--dir", out.path(),
                                          in / "first.wav", in / "long.wav", in / "first.wav"},
                                         options);
        EXPECT_EQ(run.ExitCode, 128 + c.Signal);
        EXPECT_TRUE(run.Signalled) << "a shell loop stops at Ctrl-C only for a death by SIGINT";
        EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"first.wav"}) << c.During;
        EXPECT_LE(Count(logs / "faults", c.During), beforeStop + 8) << "after the stop";
        const Bytes first = ReadFileBytes(out / "first.wav");
        EXPECT_EQ(Bytes(first.begin() + 46, first.end()),
                  Samples16({(1 - 128) * 256, (2 - 128) * 256, (3 - 128) * 256}));
        EXPECT_EQ(RowFields(run.Out).at(3), StatusWord::Converted);
        EXPECT_EQ(run.Out.find('\n'), run.Out.size() - 1) << "one row";
    }
}

// A folder on a FUSE file system of the test's own (slowfs.py), as a USB stick formatted NTFS
// is mounted: only fsync flushes there, at 10 MiB a second, noting each flush in log.
class SlowStick {
public:
    explicit SlowStick(const std::string& log) {
        Server = fork();
        if (Server == 0) {
            // Named by its path: a bare "python3" would have Python take its prefix from
            // whichever python3 comes first on PATH, and miss Debian's fusepy.
            execl("/usr/bin/python3", "/usr/bin/python3", SLOW_FUSE, Beneath.path().c_str(),
                  Mount.path().c_str(), "100", log.c_str(), nullptr);
            _exit(127);
        }
        constexpr decltype(statfs::f_type) kFuse = 0x65735546;
        struct statfs system {};
        for (int wait = 0; wait < 200; ++wait, std::this_thread::sleep_for(50ms))
            if (statfs(Mount.path().c_str(), &system) == 0 && system.f_type == kFuse)
                return;
        ADD_FAILURE() << "slowfs.py did not mount within 10 s";
    }
    ~SlowStick() {
        umount2(Mount.path().c_str(), MNT_DETACH);
        waitpid(Server, nullptr, 0);
    }
    const std::string& path() const { return Mount.path(); }
    std::string operator/(const std::string& name) const { return Mount / name; }

private:
    TempDir Beneath, Mount;
    pid_t Server = -1;
};

// The flush of a save that replaces a file, on a disk that flushes 10 MiB a second, goes a
// step at a time: a stop during it comes between two steps, gives the file up and leaves the
// old one as it was. On a disk that flushes by range (the interposer's) and on a FUSE file
// system, which flushes only whole files; there, of a source long enough to be converted
// straight into its file.
template <typename Folder>
void StopDuringTheFlush(const Folder& out, ChildOptions options, const std::string& log,
                        std::uint64_t sourceBytes) {
    TempDir in;
    WriteFileBytes(in / "long.wav", WaveImage({.Bits = 8}, Bytes(sourceBytes, 0x80)));
    const Bytes old = WaveImage({.Bits = 8}, {1, 2, 3});
    WriteFileBytes(out / "long.wav", old);
    options.Signal = SIGTERM;
    std::vector<std::uint64_t> flushes; // bytes of each flush before the stop, then after it
    std::size_t beforeStop = 0;
    const auto readFlushes = [&] {
        flushes.clear();
        std::ifstream notes(log);
        for (std::string word; notes >> word;)
            if (word == "flush" && notes >> word)
                flushes.push_back(std::stoull(word));
    };
    // Sent once every byte is written: the flush has begun.
    options.SignalWhen = [&] {
        for (const std::string& name : ListFolder(out.path()))
            if (name.starts_with(".tessaly-") && fs::file_size(out / name) >= 2 * sourceBytes)
                return readFlushes(), beforeStop = flushes.size(), true;
        return false;
    };
    const ChildResult run =
        RunChild({TESSALY_CONVERT, "--bits", "16", "--dir", out.path(), in / "long.wav"}, options);
    EXPECT_EQ(run.ExitCode, 128 + SIGTERM);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"long.wav"});
    EXPECT_EQ(ReadFileBytes(out / "long.wav"), old);
    readFlushes();
    EXPECT_LE(flushes.size(), beforeStop + 2) << "steps flushed after the stop";
    for (const std::uint64_t bytes : flushes)
        EXPECT_LE(bytes, 3u << 20) << "flushed at once"; // a step and the pieces in hand
}

TEST(SentSignal, StopDuringTheFlushOfAReplacingSaveEndsWithinAStep) {
    TempDir out, logs;
    ChildOptions options{.Env = InterposerEnvironment(logs / "faults")};
    options.Env.push_back("TESSALY_SLOW_FLUSH_MS_PER_MIB=100");
    StopDuringTheFlush(out, options, logs / "faults", 24u << 20);
    const SlowStick stick(logs / "stick");
    StopDuringTheFlush(stick, {}, logs / "stick", 36u << 20);
    // A new file replaces nothing that a crash could lose: it is not flushed.
    TempDir in;
    WriteFileBytes(in / "new.wav", WaveImage({.Bits = 8}, Bytes(4u << 20, 0x80)));
    const std::uint64_t before = fs::file_size(logs / "stick");
    EXPECT_EQ(
        RunChild({TESSALY_CONVERT, "--bits", "16", "--dir", stick.path(), in / "new.wav"}).ExitCode,
        0);
    EXPECT_EQ(fs::file_size(logs / "stick"), before) << "a new file flushed";
}

// Each row is written as its file ends: a run killed midway has written the rows of the files
// before.
TEST(SentSignal, RowsOfFinishedFilesSurviveAKill) {
    TempDir in, out;
    WriteFileBytes(in / "short.wav", WaveImage({.Bits = 8}, {1, 2, 3}));
    WriteFileBytes(in / "long.wav", WaveImage({.Bits = 8}, Bytes(40u << 20, 0x80)));
    ChildOptions options;
    options.Signal = SIGQUIT; // not caught: ends the program where it stands
    options.SignalWhen = [&] {
        return FileExists(out / "short.wav") && HoldsTemporaryFile(out.path());
    };
    const ChildResult run = RunChild(
        {TESSALY_CONVERT, "--bits", "16", "--dir", out.path(), in / "short.wav", in / "long.wav"},
        options);
    EXPECT_EQ(run.ExitCode, 128 + SIGQUIT);
    EXPECT_EQ(RowFields(run.Out).at(3), StatusWord::Converted);
}

// Started under nohup, the run takes no notice of a SIGHUP: every file is converted.
TEST(SentSignal, HangUpIgnoredAtStartStaysIgnored) {
    TempDir in, out;
    WriteFileBytes(in / "long.wav", WaveImage({.Bits = 8}, Bytes(40u << 20, 0x80)));
    ChildOptions options;
    options.Signal = SIGHUP;
    options.SignalIgnored = true;
    bool sent = false;
    options.SignalWhen = [&] { return sent = HoldsTemporaryFile(out.path()); };
    const ChildResult run =
        RunChild({TESSALY_CONVERT, "--bits", "16", "--dir", out.path(), in / "long.wav"}, options);
    EXPECT_TRUE(sent) << "sent during the save";
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_FALSE(run.Signalled);
    EXPECT_EQ(RowFields(run.Out).at(3), StatusWord::Converted);
    EXPECT_EQ(ListFolder(out.path()), std::vector<std::string>{"long.wav"});
}

// A run blocked writing its rows to a pipe nobody reads (a script that stopped reading) ends
// at once, by the signal, when it is asked to stop.
TEST(SentSignal, StopEndsARunBlockedOnItsOutput) {
    std::vector<std::string> args = {TESSALY_CONVERT};
    args.insert(args.end(), 3000, "/nonexistent/missing.wav"); // rows of about 270 KB
    for (const int signal : {SIGTERM, SIGHUP}) {
        const auto start = std::chrono::steady_clock::now();
        ChildOptions options;
        options.TimeoutSeconds = 20;
        options.OutUnread = true;
        options.Signal = signal;
        options.SignalWhen = [&] { return std::chrono::steady_clock::now() - start > 1s; };
        const ChildResult run = RunChild(args, options);
        EXPECT_FALSE(run.TimedOut) << signal;
        EXPECT_TRUE(run.Signalled) << signal;
        EXPECT_EQ(run.ExitCode, 128 + signal);
    }
}

} // namespace
