// Opening files for a load and replacing files on a save, on every system.
#include "FileStreamFixture.h"
#include "Stream.h"
#include "WorkMonitor.h"

#include <algorithm>
#include <filesystem>

namespace {

TEST_F(FileStreams, OnlyAnExistingRegularFileOpensForReading) {
    const std::string missing = Dir / "missing.wav";
    EXPECT_EQ(LoadFailure(missing), OpenFailure(missing));
    EXPECT_FALSE(FileExists(missing)) << "opening must never create";
    // A folder, a FIFO or a device must neither hang the open nor load.
    for (const std::string& path : NonRegularFiles(Dir.path()))
        EXPECT_EQ(LoadFailure(path), OpenFailure(path));
}

TEST_F(FileStreams, FileLockedByAnotherHolderCannotBeOpenedOrReplaced) {
    const std::string path = MakeWave("busy.wav");
    const Bytes before = ReadFileBytes(path);
    {
        const ExclusiveHold holder(path);
        EXPECT_EQ(LoadFailure(path), OpenFailure(path));
        EXPECT_EQ(SaveFailure(path), CreateFailure(path));
    }
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(LoadFailure(path), "");
}

TEST_F(FileStreams, SaveIntoAMissingFolderCreatesNothing) {
    const std::string path = Dir / "no-such-folder/out.wav";
    EXPECT_EQ(SaveFailure(path), CreateFailure(path));
    EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{});
}

TEST_F(FileStreams, FolderInTheWayIsLeftAlone) {
    const std::string path = Dir / "taken.wav";
    ASSERT_TRUE(std::filesystem::create_directory(FileSystemPath(path)));
    WriteFileBytes(path + "/inside", {1});
    EXPECT_EQ(SaveFailure(path), CreateFailure(path));
    EXPECT_EQ(ListFolder(path), std::vector<std::string>{"inside"});
    EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{"taken.wav"});
}

TEST_F(FileStreams, FailedImageBuildLeavesDestinationAndNoTemporaryFile) {
    const std::string path = MakeWave("keep.wav");
    const Bytes before = ReadFileBytes(path);
    Rv.Wave()->WaveData = HeapBlock(0xFFFFFFF0ull); // too large for RIFF; never touched
    EXPECT_THROW(Rv.SaveToFile(path), ERvWaveInOutError);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(ListFolder(Dir.path()), std::vector<std::string>{"keep.wav"});
}

// A save that replaces a file flushes it, as much work again as its writes: the bar stands
// halfway once the bytes are written and is full only once they are flushed.
TEST_F(FileStreams, FlushOfAReplacingSaveCountsOnTheBar) {
    const Bytes bytes(5u << 20, 3);
    const ByteSpan piece(bytes.data(), bytes.size());
    for (const bool replacing : {false, true}) {
        const std::string path = Dir / (replacing ? "old.wav" : "new.wav");
        if (replacing)
            WriteFileBytes(path, {1});
        WorkMonitor monitor;
        monitor.BeginItem();
        TFileReplaceStream stream(path, &monitor);
        stream.WriteGathered({&piece, 1});
        EXPECT_DOUBLE_EQ(monitor.ItemShare(), replacing ? 0.5 : 1) << path;
        stream.Commit();
        EXPECT_DOUBLE_EQ(monitor.ItemShare(), 1) << path;
        EXPECT_EQ(ReadFileBytes(path), bytes);
    }
}

// A mapped file is converted on every core, a part each; both conversions in one pass give what
// one after the other gives to the same image read into memory, also where runs, parts and
// batches meet, and with a partial frame at the end.
TEST_F(FileStreams, OnePassConversionOfAMappedFileMatchesStepwiseConversionInMemory) {
    const std::string source = Dir / "long.wav";
    const struct {
        Format From;
        int Bits, Channels;
    } cases[] = {{{1, 2, 44100, 16}, 8, 1}, {{1, 1, 44100, 8}, 16, 2}, {{3, 6, 48000, 32}, 16, 1}};
    for (const auto& c : cases) {
        Bytes samples((40u << 20) + 7);
        std::uint32_t state = c.From.Channels;
        for (auto& byte : samples)
            byte = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
        const Bytes image = WaveImage(c.From, samples);
        WriteFileBytes(source, image);
        Rv.LoadFromFile(source);
        const auto bits = TRvInternalWAVE::PlanBits(Rv.Wave()->CurrentShape(), c.Bits);
        Rv.Wave()->Apply(bits, TRvInternalWAVE::PlanChannels(bits.After, c.Channels));
        TRvWave stepwise;
        TMemoryStream inMemory(image);
        stepwise.LoadFromStream(inMemory);
        stepwise.SetBits(c.Bits);
        stepwise.SetChannels(c.Channels);
        const TRvInternalWAVE &oneWay = *Rv.Wave(), &otherWay = *stepwise.Wave();
        EXPECT_TRUE(oneWay.WaveFormat == otherWay.WaveFormat);
        ASSERT_EQ(oneWay.DataSize(), otherWay.DataSize());
        EXPECT_TRUE(std::equal(oneWay.WaveData.data(), oneWay.WaveData.data() + oneWay.DataSize(),
                               otherWay.WaveData.data()));
    }
}

} // namespace
