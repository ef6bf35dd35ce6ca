// Converting single files: destinations, settings, status words and the rows they give.
#include "ConvertFile.h"
#include "ConversionSteps.h"
#include "PathParts.h"
#include "Resampler.h"
#include "RvWAVE.h"
#include "Stream.h"
#include "TestSupport.h"
#include "WorkMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// The six fields of a row, split at each "|".
std::vector<std::string> Fields(const std::string& row) {
    std::vector<std::string> fields;
    std::stringstream in(row);
    for (std::string field; std::getline(in, field, '|');)
        fields.push_back(field);
    return fields;
}

std::string Row(const std::string& name, const std::string& from, const std::string& to,
                const std::string& status, const std::string& before, const std::string& after) {
    return name + "|" + from + "|" + to + "|" + status + "|" + before + "|→" + after;
}

class ConvertFileTest : public ::testing::Test {
protected:
    ConvertFileTest() {
        Out = Dir / "out";
        std::filesystem::create_directory(FileSystemPath(Out));
        Settings.Destination = DestinationChoice::SpecifiedFolder;
        Settings.TargetFolder = Out;
    }
    std::string Source(const std::string& name, const Format& format, const Bytes& samples) {
        const std::string path = Dir / name;
        WriteFileBytes(path, WaveImage(format, samples));
        return path;
    }
    std::string Convert(const std::string& path) {
        return ConvertFile(path, Settings, Program + "/", Rv).Text();
    }
    // The format and samples of a written file, as the wave unit reads it back.
    TWaveFormatEx Written(const std::string& path, Bytes* samples = nullptr) {
        TRvWave check;
        check.LoadFromFile(path);
        const TRvInternalWAVE& wave = *check.Wave();
        if (samples)
            samples->assign(wave.WaveData.data(), wave.WaveData.data() + wave.DataSize());
        return wave.WaveFormat;
    }

    TempDir Dir;
    TempDir ProgramDir;
    std::string Program = ProgramDir.path();
    std::string Out;
    ConversionSettings Settings;
    TRvWave Rv;
};

// A rate that is kept, as asked or as lower than asked, is not set again: the stored byte rate
// stays as it was read, however wrong.
TEST_F(ConvertFileTest, FileAlreadyInFormatIsSavedUnchanged) {
    const std::string path = Source("a.wav", {1, 2, 44100, 16, 1234}, Samples16({1, 2, 3, 4}));
    for (const std::int32_t rate : {0, 44100, 48000}) {
        Settings.RateChoice = rate;
        EXPECT_EQ(Convert(path), Row("a.wav", Dir.path() + "/", Out + kSeparator, "変換完了",
                                     "44100Hz 16Bit Stereo", "44100Hz 16Bit Stereo"));
        Bytes samples;
        const TWaveFormatEx format = Written(Out + "/a.wav", &samples);
        EXPECT_EQ(format.nSamplesPerSec, 44100u);
        EXPECT_EQ(format.nAvgBytesPerSec, 1234u) << rate;
        EXPECT_EQ(samples, Samples16({1, 2, 3, 4}));
    }
}

TEST_F(ConvertFileTest, ConvertsRateWidthAndChannelsAsChosen) {
    const std::string path = Source("b.wav", {1, 1, 44100, 8}, {0, 128, 255});
    Settings.RateChoice = 22050;
    Settings.BitsChoice = 16;
    Settings.ChannelsChoice = 2;
    EXPECT_EQ(Fields(Convert(path))[5], "→22050Hz 16Bit Stereo");
    Bytes samples;
    const TWaveFormatEx format = Written(Out + "/b.wav", &samples);
    EXPECT_EQ(format.nAvgBytesPerSec, 22050u * 4);
    EXPECT_EQ(samples, Samples16({-32768, -32768, 0, 0, 32512, 32512}));
}

TEST_F(ConvertFileTest, KeepLowerRateDecidesWhetherARateIsRaised) {
    const std::string path = Source("low.wav", {1, 1, 22050, 16}, Samples16({200}));
    Settings.RateChoice = 44100;
    EXPECT_EQ(Fields(Convert(path))[5], "→22050Hz 16Bit Mono");
    Settings.KeepLowerRate = false;
    EXPECT_EQ(Fields(Convert(path))[5], "→44100Hz 16Bit Mono");
    Bytes samples;
    EXPECT_EQ(Written(Out + "/low.wav", &samples).nAvgBytesPerSec, 88200u);
    EXPECT_EQ(samples, Samples16({200})) << "a relabel never resamples";

    Settings.KeepLowerRate = true;
    Settings.RateChoice = 8000;
    EXPECT_EQ(Fields(Convert(path))[5], "→8000Hz 16Bit Mono") << "a higher rate is lowered";

    // Resampling: a lower rate is kept and converts as without it (200 / 256 truncated, where
    // the resampler would round it to 1); raised, the frames double.
    Settings.Resample = true;
    Settings.RateChoice = 44100;
    Settings.BitsChoice = 8;
    EXPECT_EQ(Fields(Convert(path))[5], "→22050Hz 8Bit Mono");
    Written(Out + "/low.wav", &samples);
    EXPECT_EQ(samples, Bytes{128});
    Settings.BitsChoice = 0;
    Settings.KeepLowerRate = false;
    EXPECT_EQ(Fields(Convert(path))[5], "→44100Hz 16Bit Mono");
    EXPECT_EQ(Written(Out + "/low.wav", &samples).nAvgBytesPerSec, 88200u);
    EXPECT_EQ(samples.size(), 4u) << "two frames";
}

TEST_F(ConvertFileTest, EightBitSourceLosesOnlyAPartialFrame) {
    const std::string stereo = Source("s8.wav", {1, 2, 8000, 8, 0, 9}, {1, 2, 3, 4, 5});
    EXPECT_EQ(Fields(Convert(stereo))[3], "変換完了");
    Bytes samples;
    const TWaveFormatEx format = Written(Out + "/s8.wav", &samples);
    EXPECT_EQ(samples, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(format.nBlockAlign, 2) << "recomputed by the round trip through 16 bit";
    EXPECT_EQ(format.nAvgBytesPerSec, 16000u);

    const std::string mono = Source("m8.wav", {1, 1, 8000, 8}, {1, 2, 3, 4, 5});
    Convert(mono);
    Written(Out + "/m8.wav", &samples);
    EXPECT_EQ(samples, (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(ConvertFileTest, WavesFolderIsMadeBesideTheProgramEvenWhenTheLoadFails) {
    Settings.Destination = DestinationChoice::WavesFolder;
    const std::string missing = Dir / "missing.wav";
    EXPECT_EQ(Convert(missing),
              Row("missing.wav", Dir.path() + "/", Program + "/Waves" + kSeparator, "読込失敗",
                  "44100Hz 16Bit Mono", "44100Hz 16Bit Mono"));
    EXPECT_EQ(ListFolder(Program), std::vector<std::string>{"Waves"});
    EXPECT_EQ(ListFolder(Program + "/Waves"), std::vector<std::string>{});

    const std::string path = Source("w.wav", {1, 1, 8000, 16}, Samples16({1}));
    EXPECT_EQ(Fields(Convert(path))[3], "変換完了");
    EXPECT_TRUE(FileExists(Program + "/Waves/w.wav"));
}

TEST_F(ConvertFileTest, WavesFolderThatCannotBeMadeFailsTheSave) {
    Settings.Destination = DestinationChoice::WavesFolder;
    WriteFileBytes(Program + "/Waves", {1}); // a file where the folder should be
    const std::string path = Source("w.wav", {1, 1, 8000, 16}, Samples16({1}));
    EXPECT_EQ(Fields(Convert(path))[3], "保存に失敗しました");
}

TEST_F(ConvertFileTest, OverwriteReplacesTheSource) {
    const std::string path = Source("o.wav", {1, 2, 44100, 16}, Samples16({100, 300}));
    Settings.Destination = DestinationChoice::Overwrite;
    Settings.ChannelsChoice = 1;
    const auto fields = Fields(Convert(path));
    EXPECT_EQ(fields[2], fields[1]);
    Bytes samples;
    EXPECT_EQ(Written(path, &samples).nChannels, 1);
    EXPECT_EQ(samples, Samples16({200}));

    const std::string relative = std::filesystem::relative(path).string();
    const auto again = Fields(Convert(relative));
    EXPECT_EQ(again[1], relative.substr(0, relative.rfind('/') + 1));
    EXPECT_EQ(again[2], again[1]) << "the folder stays as given";
}

// A stop, asked before the file or during its save, gives the file up: nothing is written, not
// even a temporary file, and a source to be written over stays as it was.
TEST_F(ConvertFileTest, AStopGivesTheFileUpWithNothingWritten) {
    const std::string path = Source("s.wav", {1, 2, 44100, 16}, Samples16({100, 300}));
    const Bytes before = ReadFileBytes(path);
    Settings.Destination = DestinationChoice::Overwrite;
    WorkMonitor stopped;
    stopped.RequestStop();
    Rv.SetMonitor(&stopped);
    EXPECT_THROW(Convert(path), EWorkStopped);
    Rv.SetMonitor(nullptr);

    WorkMonitor later;
    {
        TFileReplaceStream stream(path, &later);
        later.RequestStop();
        const ByteSpan piece(before.data(), before.size());
        EXPECT_THROW(stream.WriteBuffers({&piece, 1}), EWorkStopped);
    }
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(ListFolder(Dir.path()), (std::vector<std::string>{"out", "s.wav"}));
}

TEST_F(ConvertFileTest, SpecifiedFolderIsUsedAsTyped) {
    const std::string missing = Dir / "nothing.wav";
    Settings.TargetFolder = "";
    EXPECT_EQ(Fields(Convert(missing))[2], kSeparator);
    Settings.TargetFolder = Out + "/";
    EXPECT_EQ(Fields(Convert(missing))[2], Out + "/" + kSeparator);
    const std::string path = Source("c.wav", {1, 1, 8000, 16}, Samples16({1}));
    EXPECT_EQ(Fields(Convert(path))[3], "変換完了");
    EXPECT_TRUE(FileExists(Out + "/c.wav"));
}

TEST_F(ConvertFileTest, SaveIntoAMissingOrBarredFolderFails) {
    const std::string path = Source("d.wav", {1, 1, 8000, 16}, Samples16({1}));
    Settings.TargetFolder = Dir / "no|such";
    const std::string row = Convert(path);
    EXPECT_EQ(row, Row("d.wav", Dir.path() + "/", Dir.path() + "/no|such" + kSeparator,
                       "保存に失敗しました", "8000Hz 16Bit Mono", "8000Hz 16Bit Mono"));
    EXPECT_EQ(Fields(row).size(), 7u) << "a typed \"|\" shifts the fields";
}

TEST_F(ConvertFileTest, EachFailingStepGivesItsOwnStatusWord) {
    // 16-bit A-law-tagged data: nothing converts it, but it can be relabelled and copied.
    const std::string odd = Source("odd.wav", {6, 1, 8000, 16}, Samples16({1, 2}));
    Settings.RateChoice = 16000;
    Settings.KeepLowerRate = false;
    EXPECT_EQ(Fields(Convert(odd))[3], "変換完了");
    Settings.BitsChoice = 16; // the width it has: nothing to convert
    Settings.ChannelsChoice = 1;
    EXPECT_EQ(Fields(Convert(odd))[3], "変換完了");
    Settings.ChannelsChoice = 0;
    Settings.BitsChoice = 8;
    const std::string bitsRow = Convert(odd);
    EXPECT_EQ(Fields(bitsRow)[3], "ビット変換に失敗しました");
    EXPECT_EQ(Fields(bitsRow)[5], "→16000Hz 16Bit Mono") << "the rate is relabelled first";
    Settings.BitsChoice = 0;
    Settings.ChannelsChoice = 2;
    const std::string row = Convert(odd);
    EXPECT_EQ(Fields(row)[3], "チャンネル変換に失敗しました");
    EXPECT_EQ(Fields(row)[5], "→16000Hz 16Bit Mono") << "after shows the state the failure left";

    Settings.ChannelsChoice = 0;
    Settings.Resample = true; // its samples cannot be read to resample them
    EXPECT_EQ(Fields(Convert(odd))[3], "周波数変更に失敗しました");

    const std::string text = Dir / "notes.txt";
    WriteFileBytes(text, Bytes(80, 'x'));
    EXPECT_EQ(Fields(Convert(text))[3], "読込失敗");
}

TEST_F(ConvertFileTest, RateThatCannotBeSetFailsItsStep) {
    const std::string path = Source("r.wav", {1, 1, 8000, 16}, Samples16({1}));
    Settings.RateChoice = -5;
    Settings.KeepLowerRate = false;
    EXPECT_EQ(Fields(Convert(path))[3], "周波数変更に失敗しました");
    EXPECT_FALSE(FileExists(Out + "/r.wav"));
}

TEST_F(ConvertFileTest, EightBitNonPcmFailsItsRowAndTheBatchGoesOn) {
    const std::string alaw = Source("alaw.wav", {6, 1, 8000, 8}, {0xD5, 0x55});
    const std::string next = Source("next.wav", {1, 1, 8000, 16}, Samples16({5}));
    const std::string row = Convert(alaw);
    EXPECT_EQ(row, Row("alaw.wav", Dir.path() + "/", Out + kSeparator, "ビット変換に失敗しました",
                       "8000Hz 8Bit Mono", "8000Hz 8Bit Mono"));
    EXPECT_FALSE(FileExists(Out + "/alaw.wav"));
    // A path that cannot be opened keeps the wave, so the first failure still decides.
    EXPECT_EQ(Fields(Convert(Dir / "gone.wav"))[3], "読込失敗");
    EXPECT_EQ(Fields(Convert(next))[3], "変換完了");
}

TEST_F(ConvertFileTest, UnopenablePathDescribesThePreviousFilesWave) {
    const std::string path = Source("p.wav", {1, 2, 11025, 8}, {1, 2, 3});
    Settings.ChannelsChoice = 1;
    Convert(path);
    EXPECT_EQ(Convert(Dir / "gone.wav"), Row("gone.wav", Dir.path() + "/", Out + kSeparator,
                                             "読込失敗", "11025Hz 8Bit Mono", "11025Hz 8Bit Mono"));
}

TEST_F(ConvertFileTest, DescriptionOfManyChannelsEndsWithTheBitWord) {
    const std::string path = Source("quad.wav", {1, 4, 48000, 16}, Bytes(16, 0));
    EXPECT_EQ(Fields(Convert(path))[4], "48000Hz 16Bit ");
}

TEST_F(ConvertFileTest, PathWithoutAFolderIsAllName) {
    EXPECT_EQ(Fields(Convert("bare-name-that-does-not-exist.wav"))[1], "");
}

// A source mapped for its load and saved as it is into another folder stays mapped: the save
// holds about one file in memory, not a copy besides.
TEST_F(ConvertFileTest, MappedSourceSavedElsewhereHoldsAboutOneFileInMemory) {
    constexpr std::uint32_t kDataSize = 96u << 20;
    const std::string path = Dir / "long.wav";
    Bytes head = WaveImage({1, 2, 44100, 16}, {});
    for (int k = 0; k < 4; ++k) { // the RIFF and data sizes, little-endian
        head[4 + k] = static_cast<std::uint8_t>((36 + kDataSize) >> (8 * k));
        head[40 + k] = static_cast<std::uint8_t>(kDataSize >> (8 * k));
    }
    WriteFileBytes(path, head);
    std::filesystem::resize_file(FileSystemPath(path), head.size() + kDataSize);
    const std::uint64_t before = MemoryInUse();
    EXPECT_EQ(Fields(Convert(path))[3], "変換完了");
    EXPECT_LT(PeakMemoryInUse() - before, kDataSize * 3ull / 2)
        << "held in MiB: " << (PeakMemoryInUse() - before) / (1 << 20);
    EXPECT_EQ(std::filesystem::file_size(FileSystemPath(Out + "/long.wav")), 46u + kDataSize);
}

// A long file's result goes to its file a piece at a time, never whole in memory, and the wave
// then holds the samples saved: read back from the file where they are short of a mapping. Its
// samples (seeded noise, a chunk before them, half a frame after them) come out as a conversion
// of the same image in memory gives them, pad byte and sizes too, for each change that streams.
// A destination that cannot be made fails the save alone.
TEST_F(ConvertFileTest, LongConversionKeepsWhatItSavedWithoutHoldingItWhole) {
    constexpr std::uint32_t kDataSize = (72u << 20) + 6; // an odd number of frames, and half one
    const std::string path = Dir / "long.wav";
    Bytes head = Riff("WAVE", {Chunk("fmt ", FmtRecord({1, 2, 44100, 16})),
                               Chunk("LIST", {'I', 'N', 'F', 'O', 1, 2})});
    AppendText(head, "data");
    AppendLE32(head, kDataSize);
    for (int k = 0; k < 4; ++k) // the RIFF size, little-endian
        head[4 + k] = static_cast<std::uint8_t>((head.size() - 8 + kDataSize) >> (8 * k));
    {
        std::ofstream file(FileSystemPath(path), std::ios::binary);
        file.write(reinterpret_cast<const char*>(head.data()), static_cast<long>(head.size()));
        Bytes piece;
        for (std::uint32_t state = 1, at = 0; at < kDataSize; at += piece.size()) {
            piece.resize(std::min<std::uint32_t>(1 << 20, kDataSize - at));
            for (std::uint8_t& byte : piece)
                byte = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
            file.write(reinterpret_cast<const char*>(piece.data()), piece.size());
        }
    }
    const struct {
        std::int32_t Bits, Channels; // a mapped result, one read back, a mapped one, resampled
        std::int32_t Rate = 0;
    } cases[] = {{8, 0}, {8, 1}, {0, 1}, {16, 1, 22050}};
    for (const auto& c : cases) {
        Settings.BitsChoice = c.Bits;
        Settings.ChannelsChoice = c.Channels;
        Settings.RateChoice = c.Rate;
        Settings.Resample = c.Rate != 0;
        Settings.TargetFolder = Out + "/" + std::to_string(c.Bits) + std::to_string(c.Channels);
        std::filesystem::create_directory(FileSystemPath(Settings.TargetFolder));
        const std::uint64_t frames =
            c.Rate ? TResampler::FramesAt(kDataSize / 4, 44100, c.Rate) : kDataSize / 4;
        const std::uint64_t output = frames * (c.Bits == 8 ? 1 : 2) * (c.Channels ? 1 : 2);
        const std::uint64_t before = PeakMemoryInUse();
        ASSERT_EQ(Fields(Convert(path))[3], "変換完了");
#ifndef __SANITIZE_THREAD__ // whose shadow of every byte read stays in memory
        EXPECT_LT(PeakMemoryInUse() - before, output / 2) << c.Bits << c.Channels;
#endif
        Bytes saved;
        Written(Settings.TargetFolder + "/long.wav", &saved);
        ASSERT_EQ(saved.size(), output);
        const HeapBlock& kept = Rv.Wave()->WaveData;
        ASSERT_EQ(kept.size(), output);
        EXPECT_EQ(std::memcmp(kept.data(), saved.data(), output), 0) << c.Bits << c.Channels;
        EXPECT_EQ(MapsFileNamed("long.wav"), kPosix && output >= (32u << 20))
            << "the file written as converted is not the one put in place";
    }
    Settings.TargetFolder = Dir / "missing";
    EXPECT_EQ(Fields(Convert(path))[3], "保存に失敗しました");
    TMemoryStream source(ReadFileBytes(path));
    for (const auto& c : cases) {
        TRvWave inMemory;
        source.Position = 0;
        inMemory.LoadFromStream(source);
        TRvInternalWAVE& wave = *inMemory.Wave();
        if (c.Rate) {
            const auto bits = TRvInternalWAVE::PlanBits(wave.CurrentShape(), c.Bits).After;
            wave.Apply(TRvInternalWAVE::PlanResample(
                wave.CurrentShape(), TRvInternalWAVE::PlanChannels(bits, c.Channels).After,
                c.Rate));
        } else {
            if (c.Bits)
                inMemory.SetBits(c.Bits);
            if (c.Channels)
                inMemory.SetChannels(c.Channels);
        }
        TMemoryStream image;
        inMemory.SaveToStream(image);
        EXPECT_TRUE(ReadFileBytes(Out + "/" + std::to_string(c.Bits) + std::to_string(c.Channels) +
                                  "/long.wav") == image.bytes())
            << c.Bits << c.Channels;
    }
}

// A streamed save that was not told every sample is not put in place: the wave is saved anew,
// over the file already there.
TEST_F(ConvertFileTest, StreamedSaveShortOfSamplesGivesWayToAWholeSave) {
    const std::string path = Source("short.wav", {1, 2, 44100, 16}, SamplesLE(2, {1, -2, 3, -4}));
    const std::string destination = Out + "/short.wav";
    WriteFileBytes(destination, {1, 2, 3});
    Rv.LoadFromFile(path);
    std::unique_ptr<EarlySave> early =
        EarlySave::Begin(destination, Rv.Wave()->CurrentShape(), nullptr);
    ASSERT_TRUE(early);
    Save(Rv, destination, early);
    TMemoryStream image;
    Rv.SaveToStream(image);
    EXPECT_EQ(ReadFileBytes(destination), image.bytes());
}

TEST(PathParts, FolderPartEndsAtTheLastSeparator) {
    struct Case {
        std::string Path, Folder, Name;
    };
    std::vector<Case> cases{{"a.wav", "", "a.wav"}, {"/d/a.wav", "/d/", "a.wav"}};
    if (!kPosix) // a drive's colon ends the folder part; "\" is a separator
        cases.insert(cases.end(),
                     {{"Z:a.wav", "Z:", "a.wav"}, {"C:\\d\\a.wav", "C:\\d\\", "a.wav"}});
    for (const Case& c : cases) {
        EXPECT_EQ(FolderPart(c.Path), c.Folder) << c.Path;
        EXPECT_EQ(FileNamePart(c.Path), c.Name) << c.Path;
    }
}

} // namespace
