// Opening files for a load and replacing files on a save: what POSIX systems add (modes,
// owners, the umask, symbolic links, files cut short under a mapping, SIGBUS).
#include "FileStreamFixture.h"
#include "MappedFileGuard.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST_F(FileStreams, SaveReplacesAFileAndKeepsItsPermissions) {
    const std::string path = MakeWave("out.wav");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    Rv.SetFreq(22050);
    EXPECT_EQ(SaveFailure(path), "");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(path).size(), 48u);
    EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{"out.wav"});
}

TEST_F(FileStreams, ReplacedFileKeepsItsOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can save a file for another owner";
    // The set-user-ID and set-group-ID bits too, which a change of owner clears.
    for (const mode_t mode : {02664, 04755, 02755}) {
        const std::string path = MakeWave("theirs.wav");
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        EXPECT_EQ(SaveFailure(path), "");
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

// A file another program holds under a shared lock is in use as much as under an exclusive one.
TEST_F(FileStreams, FileUnderASharedLockCannotBeOpenedOrReplaced) {
    const std::string path = MakeWave("shared.wav");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    EXPECT_EQ(LoadFailure(path), OpenFailure(path));
    EXPECT_EQ(SaveFailure(path), CreateFailure(path));
    close(fd);
}

// A mapped file's place in the guard comes back when its wave goes: far more files than places
// are mapped one after another.
TEST(MappedFileGuard, PlacesOfForgottenRangesAreTakenAgain) {
    static char page[4096];
    for (int file = 0; file < 1000; ++file) {
        const int ticket = MappedFileGuard::Watch(page, sizeof page);
        ASSERT_GE(ticket, 0) << "after " << file << " files";
        MappedFileGuard::Forget(ticket);
    }
}

TEST_F(FileStreams, NewFileFollowsTheUmask) {
    const struct { mode_t Umask, Mode; } cases[] = {{027, 0640}, {002, 0664}, {022, 0644}};
    for (const auto& c : cases) {
        const mode_t old = umask(c.Umask);
        const std::string path = Dir / ("new" + std::to_string(c.Umask) + ".wav");
        EXPECT_EQ(SaveFailure(path), "");
        umask(old);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.Mode) << "umask " << c.Umask;
    }
}

TEST_F(FileStreams, SaveThroughALinkReplacesItsTargetAndKeepsTheLink) {
    const std::string target = MakeWave("target.wav");
    const std::string link = Dir / "link.wav";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    Rv.SetFreq(11025);
    EXPECT_EQ(SaveFailure(link), "");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    Rv.LoadFromFile(target);
    EXPECT_EQ(Rv.GetFreq(), 11025);
}

// Files of 32 MiB and more are mapped, not read. One that another program cuts short after
// the load, by pages or by a few bytes inside its last page (which then reads as zeros without
// a fault), fails the next step that reads the samples, with no SIGBUS, and saves nothing; the
// next file converts.
TEST_F(FileStreams, MappedSourceCutShortAfterTheLoadFailsItsStepAndTheNextFileConverts) {
    const std::string source = Dir / "long.wav", saved = Dir / "out.wav";
    const Bytes image = WaveImage({1, 2, 44100, 16}, Bytes(40u << 20, 0x11));
    const auto bothInOnePass = [&] {
        const auto bits = TRvInternalWAVE::PlanBits(Rv.Wave()->CurrentShape(), 8);
        Rv.Wave()->Apply(bits, TRvInternalWAVE::PlanChannels(bits.After, 1));
    };
    const std::function<void()> steps[] = {[&] { Rv.SetBits(8); }, [&] { Rv.SetChannels(1); },
                                           bothInOnePass, [&] { Rv.SaveToFile(saved); }};
    ASSERT_NE(image.size() % 4096, 0u);
    for (const auto& step : steps)
        for (const off_t size : {off_t{4096}, static_cast<off_t>(image.size() - 3)}) {
            WriteFileBytes(source, image);
            Rv.LoadFromFile(source);
            ASSERT_EQ(truncate(source.c_str(), size), 0);
            EXPECT_THROW(step(), EStreamError) << size;
            EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{"long.wav"});
        }
    WriteFileBytes(source, image);
    Rv.LoadFromFile(source);
    Rv.SetBits(8);
    Rv.SaveToFile(saved);
    const Bytes out = ReadFileBytes(saved);
    ASSERT_EQ(out.size(), 46u + (20u << 20));
    EXPECT_EQ(std::count(out.begin() + 46, out.end(), 0x1111 / 256 + 128), 20 << 20);
}

// The bytes of this process's memory that map files named name and are resident.
std::uint64_t ResidentBytesOf(const std::string& name) {
    std::ifstream smaps("/proc/self/smaps");
    std::uint64_t bytes = 0;
    bool ofFile = false;
    for (std::string line; std::getline(smaps, line);)
        if (!line.ends_with(" kB"))
            ofFile = line.ends_with("/" + name);
        else if (ofFile && line.starts_with("Rss:"))
            bytes += std::stoull(line.substr(4)) << 10;
    return bytes;
}

// Takes a conversion's output and notes the threads that made it, and the most of the source
// mapped in meanwhile. The first piece waits (up to 3 s) for a second thread, so that one
// started late is seen all the same.
class ThreadsSeen final : public TSampleSink {
public:
    void Converted(const std::uint8_t*, std::uint64_t, std::uint64_t) override {
        std::unique_lock lock(Lock);
        Seen.insert(std::this_thread::get_id());
        MappedIn = std::max(MappedIn, ResidentBytesOf("long.wav"));
        Changed.notify_all();
        if (!std::exchange(Waited, true))
            Changed.wait_for(lock, std::chrono::seconds(3), [&] { return Seen.size() > 1; });
    }
    HeapBlock Output() override { return {}; }
    std::uint64_t MappedIn = 0;
    std::size_t Count() {
        const std::lock_guard lock(Lock);
        return Seen.size();
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::set<std::thread::id> Seen;
    bool Waited = false;
};

// A mapped file mostly on the disk, judged by pages spread over all of it (here only its head
// is cached), is converted by one thread, as one stream; advice for its pages brings in
// those the cache lacks, and a long file in the cache is shared among the cores. Converted for
// a sink, its samples are read from the file, never mapped in.
TEST_F(FileStreams, MappedFileMostlyOnTheDiskIsConvertedByOneThreadUntilAdviceBringsItIn) {
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one core";
    const std::string source = Dir / "long.wav";
    WriteFileBytes(source, WaveImage({1, 2, 44100, 16}, Bytes(40u << 20, 0x11)));
    const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const auto dropFromCache = [&] {
        ASSERT_EQ(fsync(fd), 0);
        ASSERT_EQ(posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
    };
    const auto threadsConverting = [&] {
        ThreadsSeen threads;
        Rv.Wave()->Apply(TRvInternalWAVE::PlanBits(Rv.Wave()->CurrentShape(), 8), {}, &threads);
        EXPECT_LT(threads.MappedIn, 1u << 20) << "the source was mapped in";
        return threads.Count();
    };
    dropFromCache();
    Bytes head(8u << 20); // a fifth, and what the kernel reads ahead of it
    ASSERT_EQ(pread(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    Rv.LoadFromFile(source);
    EXPECT_GT(Rv.Wave()->WaveData.CachedShare(), 0.15);
    EXPECT_LT(Rv.Wave()->WaveData.CachedShare(), 0.45);
    EXPECT_EQ(threadsConverting(), 1u);

    dropFromCache();
    Rv.LoadFromFile(source);
    const HeapBlock& samples = Rv.Wave()->WaveData;
    samples.AdviseWillNeed(0, samples.size());
    for (int wait = 0; wait < 1000 && samples.CachedShare() < 1; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(samples.CachedShare(), 1) << "advice did not bring the file in";
    EXPECT_GT(threadsConverting(), 1u);
    close(fd);
    // A wave of two steps, but well short of a run for each core, is not worth a second thread.
    WriteFileBytes(source, WaveImage({1, 2, 44100, 16}, Bytes(8u << 20, 0x11)));
    Rv.LoadFromFile(source);
    EXPECT_EQ(threadsConverting(), 1u);
}

// A SIGBUS sent by another process is no cut of a mapped file. Where the program ignored it
// before the guard came in, it is still ignored, and the guard stays to catch a later cut. Run
// in a fresh process, where the guard is not yet in place.
TEST_F(FileStreams, SentBusErrorIsNoCutAndTheGuardStaysForTheNextOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto cutCaughtAfterASentSignal = [&] {
        const std::string source = Dir / "long.wav";
        WriteFileBytes(source, WaveImage({1, 2, 44100, 16}, Bytes(40u << 20, 0x11)));
        std::signal(SIGBUS, SIG_IGN);
        Rv.LoadFromFile(source);
        kill(getpid(), SIGBUS);
        bool caught = truncate(source.c_str(), 4096) == 0;
        try {
            Rv.SetBits(8);
            caught = false;
        } catch (const EStreamError&) {
        }
        std::filesystem::remove_all(Dir.path());
        std::_Exit(caught ? 0 : 1);
    };
    EXPECT_EXIT(cutCaughtAfterASentSignal(), testing::ExitedWithCode(0), "");
}

} // namespace
