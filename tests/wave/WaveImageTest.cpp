// Reading and writing RIFF WAVE images in memory.
#include "Exception.h"
#include "RvInternalWave.h"
#include "Stream.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

Bytes SamplesOf(const TRvInternalWAVE& wave) {
    return Bytes(wave.WaveData.data(), wave.WaveData.data() + wave.DataSize());
}

void Load(TRvInternalWAVE& wave, const Bytes& image) {
    TMemoryStream stream(image);
    wave.LoadFromFile(stream);
}

Bytes Save(const TRvInternalWAVE& wave) {
    TMemoryStream stream;
    wave.SaveToFile(stream);
    return stream.bytes();
}

// The load's failure message for image, or "" when it loads.
std::string LoadFailure(TRvInternalWAVE& wave, const Bytes& image) {
    try {
        Load(wave, image);
        return "";
    } catch (const ERvWaveInvalidWaveFile& e) {
        return e.what();
    }
}

const Format kStereo16{1, 2, 22050, 16};

TEST(WaveImage, SavesExactlyTheCanonicalImage) {
    TRvInternalWAVE wave;
    Load(wave, WaveImage(kStereo16, Samples16({1, -2, 300, -400})));
    Bytes expected;
    AppendText(expected, "RIFF");
    AppendLE32(expected, 38 + 8);
    AppendText(expected, "WAVE");
    AppendText(expected, "fmt ");
    AppendLE32(expected, 18);
    Bytes record = FmtRecord(kStereo16, true, 0);
    expected.insert(expected.end(), record.begin(), record.end());
    AppendText(expected, "data");
    AppendLE32(expected, 8);
    Bytes samples = Samples16({1, -2, 300, -400});
    expected.insert(expected.end(), samples.begin(), samples.end());
    EXPECT_EQ(Save(wave), expected);
}

TEST(WaveImage, SixteenByteFormatComesBackTwoBytesLonger) {
    const Bytes source = WaveImage(kStereo16, Samples16({5, 6}));
    TRvInternalWAVE wave;
    Load(wave, source);
    const Bytes saved = Save(wave);
    ASSERT_EQ(saved.size(), source.size() + 2);
    EXPECT_EQ(saved[4], source[4] + 2); // RIFF size
    EXPECT_EQ(saved[16], 18);           // "fmt " size
    EXPECT_EQ(saved[36], 0);            // extra size
    EXPECT_EQ(saved[37], 0);
    EXPECT_TRUE(std::equal(source.end() - 12, source.end(), saved.end() - 12)); // "data" chunk
}

TEST(WaveImage, OddDataGetsAPadByteAndEmptyDataSavesAs46Bytes) {
    TRvInternalWAVE wave;
    Load(wave, WaveImage({1, 1, 8000, 8}, {10, 20, 30}));
    Bytes saved = Save(wave);
    ASSERT_EQ(saved.size(), 50u);
    EXPECT_EQ(saved[4], 42);
    EXPECT_EQ(saved[42], 3);
    EXPECT_EQ(saved[49], 0);

    Load(wave, WaveImage({1, 1, 8000, 8}, {}));
    EXPECT_EQ(wave.DataSize(), 0u);
    saved = Save(wave);
    ASSERT_EQ(saved.size(), 46u);
    EXPECT_EQ(saved[4], 38);
    EXPECT_EQ(saved[42], 0);
}

TEST(WaveImage, NonPcmRecordIsCarriedUnchanged) {
    const Format alaw{6, 1, 8000, 8, 8000, 1};
    TRvInternalWAVE wave;
    Load(wave,
         Riff("WAVE", {Chunk("fmt ", FmtRecord(alaw, true, 0)), Chunk("data", {0xD5, 0x55})}));
    EXPECT_EQ(wave.WaveFormat.wFormatTag, 6);
    const Bytes saved = Save(wave);
    const Bytes record = FmtRecord(alaw, true, 0);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), saved.begin() + 20));
}

TEST(WaveImage, SkipsOtherChunksAndTheirPadBytes) {
    const Bytes image =
        Riff("WAVE", {Chunk("JUNK", Bytes(3, 9)), Chunk("fmt ", FmtRecord(kStereo16)),
                      Chunk("LIST", Bytes(5, 7)), Chunk("data", Samples16({9, 8})),
                      Chunk("id3 ", Bytes(4, 1))});
    TRvInternalWAVE wave;
    Load(wave, image);
    EXPECT_EQ(SamplesOf(wave), Samples16({9, 8}));
    EXPECT_EQ(wave.WaveFormat.nSamplesPerSec, 22050u);
}

TEST(WaveImage, UsesTheFirstRiffChunkOfFormWave) {
    Bytes image = Riff("AVI ", {Chunk("data", Bytes(4, 1))});
    const Bytes wave1 = WaveImage(kStereo16, Samples16({1, 1}));
    const Bytes wave2 = WaveImage(kStereo16, Samples16({2, 2}));
    image.insert(image.end(), wave1.begin(), wave1.end());
    image.insert(image.end(), wave2.begin(), wave2.end());
    TRvInternalWAVE wave;
    Load(wave, image);
    EXPECT_EQ(SamplesOf(wave), Samples16({1, 1}));
}

TEST(WaveImage, ShortFormatChunkLeavesTheRestOfTheRecord) {
    Bytes fmt = FmtRecord(kStereo16);
    fmt.resize(4); // tag and channels only
    TRvInternalWAVE wave;
    Load(wave, Riff("WAVE", {Chunk("fmt ", fmt), Chunk("data", {1, 2, 3, 4})}));
    EXPECT_EQ(wave.WaveFormat.nChannels, 2);
    EXPECT_EQ(wave.WaveFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 16);
}

TEST(WaveImage, RefusalsCarryTheirMessages) {
    TRvInternalWAVE wave;
    const Bytes fmt = Chunk("fmt ", FmtRecord(kStereo16));
    const Bytes data = Chunk("data", Samples16({1, 2}));
    EXPECT_EQ(LoadFailure(wave, Bytes{'R', 'I', 'F', 'F'}),
              "TRvInternalWave.LoadFromFile:Not a waveform-audio file.");
    EXPECT_EQ(LoadFailure(wave, Riff("AVI ", {fmt, data})),
              "TRvInternalWave.LoadFromFile:Not a waveform-audio file.");
    EXPECT_EQ(LoadFailure(wave, Bytes(100, 'x')),
              "TRvInternalWave.LoadFromFile:Not a waveform-audio file.");
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {data})),
              "TRvInternalWave.LoadFromFile:Unable to locate fmt chunk.");
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {data, fmt})),
              "TRvInternalWave.LoadfromFile:Unable to locate data chunk.");
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {ChunkWithSize("fmt ", 16, Bytes(10, 1))})),
              "TRvInternalWave.LoadfromFile:Error reading fmt chunk.");
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {Chunk("fmt ", FmtRecord(kStereo16, true, 22)),
                                              Chunk("xtra", Bytes(22, 0)), data})),
              "");
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {Chunk("fmt ", Bytes(40, 1)), data})),
              "TRvInternalWave.LoadfromFile:Unsupported fmt chunk.");
}

// Longer records load when they are PCM or float, plain or extensible (sub-format compared in
// all 16 bytes), and the samples are found after one of any length; any other longer record is
// refused.
TEST(WaveImage, LongerFormatChunksLoadOnlyAsPcmOrFloat) {
    const Format stereo24{1, 2, 48000, 24};
    Bytes otherGuid = ExtensibleRecord(stereo24, 20, 3, 1);
    otherGuid.back() ^= 1;
    // An 18-byte record and the extension bytes its extra size announces.
    const auto withExtension = [](const Format& format, std::uint16_t size) {
        Bytes record = FmtRecord(format, true, size);
        record.resize(record.size() + size, 9);
        return record;
    };
    Bytes extensible39 = ExtensibleRecord(stereo24, 20, 3, 1);
    extensible39.pop_back();
    const struct {
        Bytes Record;
        int Tag; // 0: refused
    } cases[] = {
        {withExtension(stereo24, 2), 1},
        {withExtension({3, 2, 48000, 32}, 4), 3},
        {ExtensibleRecord(stereo24, 20, 3, 1), 1},
        {ExtensibleRecord({1, 2, 48000, 64}, 64, 3, 3), 3},
        {ExtensibleRecord(stereo24, 20, 3, 1, 24), 1},
        {extensible39, 0},
        {ExtensibleRecord(stereo24, 20, 3, 1, 21), 0},
        {otherGuid, 0},
        {ExtensibleRecord(stereo24, 20, 3, 6), 0},
        {withExtension({6, 1, 8000, 8}, 2), 0},
        {withExtension(stereo24, 1), 1},  // odd: its pad byte comes before the next chunk
        {withExtension(stereo24, 32), 1}, // longer than the 40 bytes read
    };
    const Bytes samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (const auto& c : cases) {
        TRvInternalWAVE wave;
        const std::string failure =
            LoadFailure(wave, Riff("WAVE", {Chunk("fmt ", c.Record), Chunk("data", samples)}));
        EXPECT_EQ(failure, c.Tag ? "" : "TRvInternalWave.LoadfromFile:Unsupported fmt chunk.")
            << c.Record.size() << " bytes";
        if (c.Tag) {
            EXPECT_EQ(wave.WaveFormat.wFormatTag, c.Tag);
            EXPECT_EQ(wave.WaveFormat.cbSize, 0);
            EXPECT_EQ(SamplesOf(wave), samples);
        }
    }
}

TEST(WaveImage, ExtensibleWavesSaveInTheirFormButEightAndSixteenBitMonoAndStereo) {
    // The float record's block align (8) is not its frame's 24 bytes: "fact" counts frames.
    const Format pcm16{1, 2, 44100, 16}, float6{3, 6, 8000, 32, 0, 8};
    TRvInternalWAVE wave, plain;
    Load(wave, Riff("WAVE", {Chunk("fmt ", ExtensibleRecord(pcm16, 12, 0x30, 1)),
                             Chunk("data", Samples16({1, 2}))}));
    Load(plain, WaveImage(pcm16, Samples16({1, 2})));
    EXPECT_EQ(Save(wave), Save(plain));

    Bytes odd = Floats32({1, 2, 3, 4, 5, 6, -1, -2, -3, -4, -5, -6});
    odd.push_back(7); // a partial frame: not counted in "fact"
    Load(wave,
         Riff("WAVE", {Chunk("fmt ", ExtensibleRecord(float6, 24, 0x3F, 3)), Chunk("data", odd)}));
    Bytes frames;
    AppendLE32(frames, 49 / (6 * 4));
    EXPECT_EQ(Save(wave), Riff("WAVE", {Chunk("fmt ", ExtensibleRecord(float6, 24, 0x3F, 3)),
                                        Chunk("fact", frames), Chunk("data", odd)}));
}

TEST(WaveImage, CutOffDataFailsButKeepsTheFileFormat) {
    Bytes image = Riff("WAVE", {Chunk("fmt ", FmtRecord(kStereo16)),
                                ChunkWithSize("data", 1000, Samples16({1, 2}))});
    TRvInternalWAVE wave;
    EXPECT_EQ(LoadFailure(wave, image), "TRvInternalWave.LoadfromFile:Error reading data chunk.");
    EXPECT_FALSE(wave.WaveData);
    EXPECT_EQ(wave.WaveFormat.nSamplesPerSec, 22050u);
    EXPECT_EQ(wave.WaveFormat.nChannels, 2);
}

TEST(WaveImage, HugeDeclaredSizesInATinyFileFailWithoutWrapping) {
    TRvInternalWAVE wave;
    const Bytes fmt = Chunk("fmt ", FmtRecord(kStereo16));
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {fmt, ChunkWithSize("data", 0xFFFFFFFF, {})})),
              "TRvInternalWave.LoadfromFile:Error reading data chunk.");
    EXPECT_EQ(
        LoadFailure(wave, Riff("WAVE", {ChunkWithSize("fmt ", 0xFFFFFFFE, FmtRecord(kStereo16))})),
        "TRvInternalWave.LoadfromFile:Error reading fmt chunk.");
    // A skipped chunk that claims nearly 4 GiB ends the search instead of wrapping around.
    EXPECT_EQ(LoadFailure(wave, Riff("WAVE", {fmt, ChunkWithSize("LIST", 0xFFFFFFF7, {}),
                                              Chunk("data", {1, 2})})),
              "TRvInternalWave.LoadfromFile:Unable to locate data chunk.");
    Bytes hugeRiff = Riff("WAVE", {fmt, Chunk("data", {1, 2})});
    hugeRiff[4] = hugeRiff[5] = hugeRiff[6] = hugeRiff[7] = 0xFF;
    EXPECT_EQ(LoadFailure(wave, hugeRiff), "");
}

TEST(WaveImage, ChunksPastTheRiffChunkAreNotItsOwn) {
    Bytes image = Riff("WAVE", {Chunk("fmt ", FmtRecord(kStereo16))});
    const Bytes data = Chunk("data", Samples16({1, 2}));
    image.insert(image.end(), data.begin(), data.end());
    TRvInternalWAVE wave;
    EXPECT_EQ(LoadFailure(wave, image),
              "TRvInternalWave.LoadfromFile:Unable to locate data chunk.");
}

TEST(WaveImage, ShortStreamRaisesTheReadError) {
    class ShortStream : public TMemoryStream {
    public:
        using TMemoryStream::TMemoryStream;
        std::uint64_t Size() const override { return TMemoryStream::Size() + 10; }
    };
    ShortStream stream(WaveImage(kStereo16, {}));
    TRvInternalWAVE wave;
    try {
        wave.LoadFromFile(stream);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "ストリームからの読み込みエラー");
    }
    EXPECT_FALSE(wave.WaveData);
}

TEST(WaveImage, FailedWriteRaisesTheWriteError) {
    class FullStream : public TMemoryStream {
    public:
        std::uint64_t Write(const void*, std::uint64_t count) override { return count / 2; }
    };
    FullStream stream;
    TRvInternalWAVE wave;
    try {
        wave.SaveToFile(stream);
        FAIL();
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "ストリームへの書き込みエラー");
    }
}

TEST(WaveImage, WaveTooLargeForRiffFailsBeforeWriting) {
    TRvInternalWAVE wave;
    wave.WaveData = HeapBlock(0xFFFFFFE0ull); // never touched: the check comes first
    TMemoryStream stream;
    EXPECT_THROW(wave.SaveToFile(stream), ERvWaveInOutError);
    // The largest size a plain header allows is too large with an extensible float one.
    wave.WaveData = HeapBlock(0xFFFFFFFFull - 38 - 1);
    wave.WaveFormat = {3, 6, 8000, 192000, 24, 32, 0};
    wave.Extension.Extensible = true;
    EXPECT_THROW(wave.SaveToFile(stream), ERvWaveInOutError);
    EXPECT_EQ(stream.Size(), 0u);
}

} // namespace

namespace {

// Large images come from their own mapping, which the load narrows to the samples in place.
TEST(WaveImage, LargeImageWithChunksAroundTheDataKeepsExactlyItsSamples) {
    Bytes samples(40u << 20);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>(i * 7 + i / 4099);
    samples.push_back(0x5A); // odd length: a pad byte follows
    const Bytes image =
        Riff("WAVE", {Chunk("JUNK", Bytes(4093, 1)), Chunk("fmt ", FmtRecord({1, 1, 8000, 8})),
                      Chunk("data", samples), Chunk("LIST", Bytes(5000, 2))});
    TRvInternalWAVE wave;
    Load(wave, image);
    ASSERT_EQ(wave.DataSize(), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), wave.WaveData.data()));
    wave.ChangeChannels(2);
    EXPECT_EQ(wave.DataSize(), 2 * samples.size());
    EXPECT_EQ(wave.WaveData.data()[2 * samples.size() - 1], 0x5A);
}

TEST(HeapBlockNarrow, KeepsTheRangeAndRefusesOneOutsideTheBlock) {
    for (std::uint64_t size : {std::uint64_t{100}, std::uint64_t{33} << 20}) {
        HeapBlock block(size);
        block.data()[size - 1] = 9;
        EXPECT_THROW(block.Narrow(size - 10, 11), std::out_of_range);
        EXPECT_THROW(block.Narrow(size + 1, 0), std::out_of_range);
        block.Narrow(size - 10, 10);
        EXPECT_EQ(block.size(), 10u);
        EXPECT_EQ(block.data()[9], 9);
        block.Narrow(0, 0);
        EXPECT_EQ(block.size(), 0u);
        EXPECT_TRUE(block);
    }
}

} // namespace
