// The in-memory wave: creation, and the width and channel conversions.
#include "Exception.h"
#include "RvInternalWave.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace {

Bytes SamplesOf(const TRvInternalWAVE& wave) {
    return Bytes(wave.WaveData.data(), wave.WaveData.data() + wave.DataSize());
}

void SetSamples(TRvInternalWAVE& wave, const Bytes& samples) {
    wave.WaveData = HeapBlock(samples.size());
    if (!samples.empty())
        std::memcpy(wave.WaveData.data(), samples.data(), samples.size());
}

// A wave of the given shape holding exactly these sample bytes.
void Shape(TRvInternalWAVE& wave, std::uint16_t bits, std::uint16_t channels,
           const Bytes& samples) {
    wave.WaveFormat.wBitsPerSample = bits;
    wave.WaveFormat.nChannels = channels;
    wave.WaveFormat.nBlockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    wave.WaveFormat.nAvgBytesPerSec = wave.WaveFormat.nSamplesPerSec * wave.WaveFormat.nBlockAlign;
    SetSamples(wave, samples);
}

TEST(InternalWave, NewWaveIsOneSilentPcmMonoSampleAt44100Hz16Bit) {
    TRvInternalWAVE wave;
    EXPECT_EQ(wave.WaveFormat.wFormatTag, 1);
    EXPECT_EQ(wave.WaveFormat.nChannels, 1);
    EXPECT_EQ(wave.WaveFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 16);
    EXPECT_EQ(wave.WaveFormat.cbSize, 0);
    EXPECT_EQ(SamplesOf(wave), (Bytes{0, 0}));
    EXPECT_EQ(wave.RefCount, 1);
    EXPECT_EQ(wave.DeviceState, 0);
    EXPECT_FALSE(wave.OnNotify);
}

TEST(InternalWave, CreateWaveRefusesEveryOutOfRangeArgument) {
    TRvInternalWAVE wave;
    wave.FreeWAVE();
    const std::int32_t bad[][4] = {{0, 16, 1, 1},     {-1, 16, 1, 1},    {44100, 16, 1, 0},
                                   {44100, 16, 3, 1}, {44100, 16, 0, 1}, {44100, 24, 1, 1},
                                   {44100, 12, 2, 1}};
    for (const auto& args : bad) {
        try {
            wave.CreateWAVE(args[0], args[1], args[2], args[3]);
            ADD_FAILURE() << "accepted " << args[0] << "," << args[1] << "," << args[2];
        } catch (const ERvWaveInvalidWavePara& e) {
            EXPECT_STREQ(e.what(), "TRvInternalWAVE.CreateWAVE: Invalid Parameters");
        }
        EXPECT_EQ(wave.DataSize(), 0u);
    }
}

TEST(InternalWave, CreateWaveZeroFillsEvenAnEightBitWave) {
    TRvInternalWAVE wave;
    wave.FreeWAVE();
    wave.CreateWAVE(8000, 8, 2, 3);
    EXPECT_EQ(SamplesOf(wave), Bytes(6, 0));
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 16000u);
}

TEST(InternalWave, FreeWaveDropsSamplesButKeepsFormat) {
    TRvInternalWAVE wave;
    const TWaveFormatEx before = wave.WaveFormat;
    wave.FreeWAVE();
    EXPECT_FALSE(wave.WaveData);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.WaveFormat, before);
}

TEST(ChangeBits, EightToSixteenMapsTheMidpointToZero) {
    TRvInternalWAVE wave;
    Shape(wave, 8, 1, {0, 128, 255, 1});
    wave.ChangeBits(16);
    EXPECT_EQ(SamplesOf(wave), Samples16({-32768, 0, 32512, -32512}));
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 16);
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 88200u);
}

TEST(ChangeBits, SixteenToEightTruncatesTowardZero) {
    TRvInternalWAVE wave;
    Shape(wave, 16, 1, Samples16({-32768, -511, -256, -255, -1, 0, 255, 256, 511, 512, 32767}));
    wave.ChangeBits(8);
    EXPECT_EQ(SamplesOf(wave), (Bytes{0, 127, 127, 128, 128, 128, 128, 129, 129, 130, 255}));
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 1);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 44100u);
}

TEST(ChangeBits, EightToSixteenAndBackRestoresSamplesAndDropsAPartialFrame) {
    TRvInternalWAVE wave;
    Bytes samples;
    for (int v = 0; v < 256; ++v)
        samples.push_back(static_cast<std::uint8_t>(v));
    samples.push_back(77); // odd trailing byte of a stereo wave: half a frame
    Shape(wave, 8, 2, samples);
    wave.WaveFormat.nBlockAlign = 9;
    wave.WaveFormat.nAvgBytesPerSec = 1;
    wave.ChangeBits(16);
    wave.ChangeBits(8);
    samples.pop_back();
    EXPECT_EQ(SamplesOf(wave), samples);
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 88200u);
}

// The same net effect without the 16-bit block, at any channel count and any size.
TEST(Renormalize8Bit, KeepsWholeFramesAndTheirBytesAndRecomputesTheFields) {
    TRvInternalWAVE wave;
    Shape(wave, 8, 3, {1, 2, 3, 4, 5, 6, 7, 8}); // two frames and two bytes
    wave.WaveFormat.nBlockAlign = 9;
    wave.Extension.ValidBitsPerSample = 7;
    wave.Renormalize8Bit();
    EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 3);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 132300u);
    EXPECT_EQ(wave.Extension.ValidBitsPerSample, 7);

    wave.WaveFormat.nChannels = 2;
    wave.WaveData = HeapBlock(0xC0000001ull); // 3 GiB and a byte, never touched
    wave.Renormalize8Bit();
    EXPECT_EQ(wave.DataSize(), 0xC0000000ull);

    for (const auto& [tag, channels] : {std::pair{3, 1}, std::pair{1, 0}}) {
        Shape(wave, 8, static_cast<std::uint16_t>(channels), {1, 2, 3});
        wave.WaveFormat.wFormatTag = static_cast<std::uint16_t>(tag);
        EXPECT_THROW(wave.Renormalize8Bit(), ERvWaveBadWaveType);
        EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3}));
    }
}

TEST(ChangeBits, CurrentWidthChangesNothingAtAll) {
    TRvInternalWAVE wave;
    Shape(wave, 16, 2, {1, 2, 3, 4, 5}); // a partial frame and odd derived fields stay
    wave.WaveFormat.nBlockAlign = 7;
    wave.WaveFormat.nAvgBytesPerSec = 3;
    const TWaveFormatEx before = wave.WaveFormat;
    wave.ChangeBits(16);
    EXPECT_EQ(wave.WaveFormat, before);
    EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3, 4, 5}));
}

TEST(ChangeBits, ChecksFormatTagFirstThenArgument) {
    TRvInternalWAVE wave;
    wave.WaveFormat.wFormatTag = 0xFFFE; // an extensible record too short to be read
    EXPECT_THROW(wave.ChangeBits(12), ERvWaveBadWaveType);
    EXPECT_THROW(wave.ChangeBits(16), ERvWaveBadWaveType);
    try {
        wave.ChangeBits(8);
        FAIL();
    } catch (const ERvWaveBadWaveType& e) {
        EXPECT_STREQ(e.what(), "TRvInternalWave.ChangeBits: Bad Wave Type");
    }
    wave.WaveFormat.wFormatTag = 1;
    try {
        wave.ChangeBits(12);
        FAIL();
    } catch (const ERvWaveInvalidWavePara& e) {
        EXPECT_STREQ(e.what(), "TRvInternalWAVE.ChangeBits: Invalid Parameters");
    }
    EXPECT_EQ(SamplesOf(wave), (Bytes{0, 0}));
}

TEST(ChangeBits, RefusesShapesItCannotReadOnlyWhenAConversionIsNeeded) {
    TRvInternalWAVE wave;
    Shape(wave, 20, 1, {1, 2, 3});
    EXPECT_THROW(wave.ChangeBits(16), ERvWaveBadWaveType);
    Shape(wave, 16, 0, {1, 2}); // no channels: no frame size to divide by
    EXPECT_THROW(wave.ChangeBits(8), ERvWaveBadWaveType);
    wave.ChangeBits(16);            // the current width needs nothing
    wave.WaveFormat.wFormatTag = 3; // 16-bit float
    Shape(wave, 16, 1, {1, 2});
    EXPECT_THROW(wave.ChangeBits(8), ERvWaveBadWaveType);
    wave.WaveFormat.wFormatTag = 1;
    Shape(wave, 8, 32768, Bytes(32768, 1)); // 16-bit block align would not fit its field
    EXPECT_THROW(wave.ChangeBits(16), ERvWaveBadWaveType);
    EXPECT_EQ(SamplesOf(wave), Bytes(32768, 1));
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 8);
}

TEST(ChangeBits, WaveWithoutSamplesConvertsToAnEmptyBuffer) {
    TRvInternalWAVE wave;
    wave.FreeWAVE();
    wave.ChangeBits(8);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 8);
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 1);
}

TEST(ChangeBits, ByteRateWrapsAsAnUnsigned32BitProduct) {
    TRvInternalWAVE wave;
    wave.WaveFormat.nSamplesPerSec = 0xF0000000u;
    Shape(wave, 8, 2, {128, 128});
    wave.ChangeBits(16);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, static_cast<std::uint32_t>(0xF0000000ull * 4));
}

TEST(ChangeBits, ResultPastRiffLimitIsRefusedAndTheWaveKept) {
    TRvInternalWAVE wave;
    wave.WaveFormat.wBitsPerSample = 8;
    wave.WaveData = HeapBlock(0x80000000ull); // 2 GiB, never touched: the check comes first
    EXPECT_THROW(wave.ChangeBits(16), ERvWaveInvalidWavePara);
    EXPECT_EQ(wave.DataSize(), 0x80000000ull);
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 8);
}

TEST(ChangeChannels, MonoToStereoDuplicatesEachSample) {
    TRvInternalWAVE wave;
    Shape(wave, 8, 1, {0, 200, 255});
    wave.ChangeChannels(2);
    EXPECT_EQ(SamplesOf(wave), (Bytes{0, 0, 200, 200, 255, 255}));
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);

    Shape(wave, 16, 1, Samples16({-32768, 1234}));
    wave.WaveFormat.nBlockAlign = 7; // as stored; the frames are the channels' samples
    wave.ChangeChannels(2);
    EXPECT_EQ(SamplesOf(wave), Samples16({-32768, -32768, 1234, 1234}));
    EXPECT_EQ(wave.WaveFormat.nChannels, 2);
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 4);
    EXPECT_EQ(wave.WaveFormat.nAvgBytesPerSec, 176400u);
}

TEST(ChangeChannels, StereoToMonoHalvesTheSumTowardZero) {
    TRvInternalWAVE wave;
    Shape(wave, 8, 2, {255, 0, 255, 255, 1, 2});
    wave.ChangeChannels(1);
    EXPECT_EQ(SamplesOf(wave), (Bytes{127, 255, 1}));

    Shape(wave, 16, 2, Samples16({-3, 0, 3, 0, -32768, -32767, 32767, 32767}));
    wave.ChangeChannels(1);
    EXPECT_EQ(SamplesOf(wave), Samples16({-1, 1, -32767, 32767}));
    EXPECT_EQ(wave.WaveFormat.nBlockAlign, 2);
}

// A shrinking conversion writes over its own input, in runs that grow; every sample of a long
// wave, through the first runs and into a last partial one, still gets the formula's value.
TEST(ChangeChannels, ShrinkingConversionsOfALongWaveGiveEverySampleItsValue) {
    constexpr std::size_t kFrames = 100003;
    Bytes noise(4 * kFrames);
    std::uint32_t state = 1;
    for (auto& byte : noise)
        byte = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    const auto sample16 = [](const Bytes& bytes, std::size_t i) {
        return static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    };
    Bytes mono16, mono8, mono8FromStereo8;
    for (std::size_t f = 0; f < kFrames; ++f) {
        const int mean = (sample16(noise, 2 * f) + sample16(noise, 2 * f + 1)) / 2;
        AppendLE16(mono16, static_cast<std::uint16_t>(mean));
        mono8.push_back(static_cast<std::uint8_t>(mean / 256 + 128));
        mono8FromStereo8.push_back(
            static_cast<std::uint8_t>((noise[2 * f] + noise[2 * f + 1]) / 2));
    }
    TRvInternalWAVE wave;
    Shape(wave, 16, 2, noise);
    wave.ChangeChannels(1);
    EXPECT_EQ(SamplesOf(wave), mono16);
    wave.ChangeBits(8);
    EXPECT_EQ(SamplesOf(wave), mono8);
    Shape(wave, 8, 2, Bytes(noise.begin(), noise.begin() + 2 * kFrames));
    wave.ChangeChannels(1);
    EXPECT_EQ(SamplesOf(wave), mono8FromStereo8);
}

TEST(ChangeChannels, TenBytesOfSixteenBitStereoAreTwoFrames) {
    TRvInternalWAVE wave;
    Shape(wave, 16, 2, {1, 0, 3, 0, 5, 0, 7, 0, 9, 0});
    wave.ChangeChannels(1);
    EXPECT_EQ(SamplesOf(wave), Samples16({2, 6}));
}

TEST(ChangeChannels, ChecksAndEarlyReturnComeBeforeAnyChange) {
    TRvInternalWAVE wave;
    Shape(wave, 8, 2, {1, 2, 3});
    wave.ChangeChannels(2);
    EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3}));
    try {
        wave.ChangeChannels(3);
        FAIL();
    } catch (const ERvWaveInvalidWavePara& e) {
        EXPECT_STREQ(e.what(), "TRvInternalWAVE.ChangeChannels: Invalid Parameters");
    }
    wave.WaveFormat.wFormatTag = 6; // A-law
    try {
        wave.ChangeChannels(2);
        FAIL();
    } catch (const ERvWaveBadWaveType& e) {
        EXPECT_STREQ(e.what(), "TRvInternalWave.ChangeChannels: Bad Wave Type");
    }
    EXPECT_THROW(wave.ChangeChannels(0), ERvWaveBadWaveType);
    EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3}));
}

TEST(ChangeChannels, RefusesWidthsItCannotReadAndStereoFromMore) {
    TRvInternalWAVE wave;
    Shape(wave, 4, 1, {1, 2});
    EXPECT_THROW(wave.ChangeChannels(2), ERvWaveBadWaveType);
    Shape(wave, 16, 6, Bytes(12, 1));
    EXPECT_THROW(wave.ChangeChannels(2), ERvWaveBadWaveType);
    EXPECT_EQ(wave.DataSize(), 12u);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Rounds to 0.5 in float: a kernel that narrowed doubles to float would truncate up a step.
constexpr double kJustBelowHalf = 0.5 - 0x1p-40;

// Each wide kind to 16 and 8 bit at the edges of the rule: -1, the extremes, the truncation
// boundaries, +-1.0 and beyond, NaN.
TEST(ChangeBits, WideSamplesTruncateTowardZero) {
    const std::int64_t min32 = INT32_MIN, max32 = INT32_MAX;
    const struct {
        std::uint16_t Tag, Bits;
        Bytes In;
        int To;
        Bytes Expected;
        std::uint16_t Channels = 1;
    } cases[] = {
        {1, 24, SamplesLE(3, {-8388608, -257, -256, -255, -1, 255, 256, 8388607}), 16,
         Samples16({-32768, -1, -1, 0, 0, 0, 1, 32767})},
        {1,
         24,
         SamplesLE(3, {-8388608, -65537, -65536, -65535, 65535, 65536, 8388607}),
         8,
         {0, 127, 127, 128, 128, 129, 255}},
        {1, 32, SamplesLE(4, {min32, -65537, -65536, -65535, -1, 65535, 65536, max32}), 16,
         Samples16({-32768, -1, -1, 0, 0, 0, 1, 32767})},
        {1,
         32,
         SamplesLE(4, {min32, -16777216, -16777215, 16777215, 16777216, max32}),
         8,
         {0, 127, 128, 128, 129, 255}},
        {3, 32, Floats32({-1.5f, -1.0f, -0.5f, -1.0f / 65536, 1.5f / 32768, 1.0f, float(kNaN)}), 16,
         Samples16({-32768, -32768, -16384, 0, 1, 32767, 0})},
        {3,
         32,
         Floats32({-1.0f, -1.0f / 256, 0.5f, 1.0f, float(kInf)}),
         8,
         {0, 128, 192, 255, 255}},
        {3, 64, Floats64({-kInf, -1.0, 32767.5 / 32768, 1.0, kNaN, kJustBelowHalf}), 16,
         Samples16({-32768, -32768, 32767, 32767, 0, std::int16_t(kJustBelowHalf * 32768)})},
        {3,
         64,
         Floats64({-2.0, -0.99, -1.0 / 256, 1.0, kNaN, kJustBelowHalf}),
         8,
         {0, 2, 128, 255, 128, std::uint8_t(int(kJustBelowHalf * 128) + 128)}},
        // A block align of 0xFFFF still fits its field (32768 channels to 16 bit do not).
        {1, 16, Bytes(2 * 65535, 1), 8, Bytes(65535, 129), 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Tag) + "/" + std::to_string(c.Bits) + " to " +
                     std::to_string(c.To));
        TRvInternalWAVE wave;
        wave.WaveFormat.wFormatTag = c.Tag;
        Shape(wave, c.Bits, c.Channels, c.In);
        wave.ChangeBits(c.To);
        EXPECT_EQ(SamplesOf(wave), c.Expected);
        EXPECT_EQ(wave.WaveFormat.wFormatTag, 1);
        EXPECT_EQ(wave.WaveFormat.nBlockAlign, c.Channels * c.To / 8);
        EXPECT_EQ(wave.Extension.ValidBitsPerSample, c.To);
    }
}

// Means of any channel count toward zero (8-bit from the unsigned bytes, integers summed in 64
// bits, floats in double from the first sample, so negative zeros stay negative); copies of
// whole containers to stereo, odd frame counts too; a partial frame dropped.
TEST(ChangeChannels, EveryWidthToMonoAndStereo) {
    const std::int64_t min32 = INT32_MIN, max32 = INT32_MAX;
    const struct {
        std::uint16_t Tag, Bits, Channels;
        Bytes In;
        Bytes Expected;
    } cases[] = {
        {1, 8, 3, {255, 255, 1, 0, 0, 2, 9}, {170, 0}},
        {1, 16, 6, Samples16({1, 2, 3, 4, 5, -21, 32767, 32767, 32767, 32767, 32767, 32766}),
         Samples16({-1, 32766})},
        {1, 24, 2, SamplesLE(3, {-3, 0, 3, 0, -8388608, -8388607, 0}),
         SamplesLE(3, {-1, 1, -8388607})},
        {1, 32, 2, SamplesLE(4, {min32, min32 + 1, max32, max32}),
         SamplesLE(4, {min32 + 1, max32})},
        {1, 32, 3, SamplesLE(4, {max32, max32, -1}), SamplesLE(4, {(2 * max32 - 1) / 3})},
        {1, 16, 4, Samples16({1, 2, 3, -13, 32767, 32767, 32767, -1}),
         Samples16({(1 + 2 + 3 - 13) / 4, (3 * 32767 - 1) / 4})},
        {1, 8, 5, {255, 255, 1, 0, 3, 9, 9, 9, 9, 8}, {(255 + 255 + 1 + 0 + 3) / 5, 44 / 5}},
        {1, 24, 8,
         SamplesLE(3, {-8388608, -8388608, -8388608, -8388608, -8388608, -8388608, -8388608, 1}),
         SamplesLE(3, {(-8388608 * 7 + 1) / 8})},
        {3, 32, 2, Floats32({0.25f, -0.75f, 1.0f, 1.0f / (1 << 24)}), Floats32({-0.25f, 0.5f})},
        {3, 64, 6, Floats64({1, 2, 3, 4, 5, 6, 0.1, 0.2, 0.3, 0, 0, 0}),
         Floats64({3.5, (((0.1 + 0.2) + 0.3) + 0 + 0 + 0) / 6})},
        {3, 32, 2, Floats32({-0.0f, -0.0f, -0.0f, 0.0f}),
         Floats32({float((-0.0 + -0.0) / 2), float((-0.0 + 0.0) / 2)})},
        {3, 64, 5, Floats64({-0.0, -0.0, -0.0, -0.0, -0.0}),
         Floats64({((((-0.0 + -0.0) + -0.0) + -0.0) + -0.0) / 5})},
        {1, 24, 1, SamplesLE(3, {-2, 5, 8388607}), SamplesLE(3, {-2, -2, 5, 5, 8388607, 8388607})},
        {1, 32, 1, SamplesLE(4, {min32, 7, max32}),
         SamplesLE(4, {min32, min32, 7, 7, max32, max32})},
        {3, 32, 1, Floats32({-0.0f}), Floats32({-0.0f, -0.0f})},
        {3, 64, 1, Floats64({kNaN, -0.0, 0.1}), Floats64({kNaN, kNaN, -0.0, -0.0, 0.1, 0.1})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Tag) + "/" + std::to_string(c.Bits) + " from " +
                     std::to_string(c.Channels));
        TRvInternalWAVE wave;
        wave.WaveFormat.wFormatTag = c.Tag;
        Shape(wave, c.Bits, c.Channels, c.In);
        const int to = c.Channels == 1 ? 2 : 1;
        wave.ChangeChannels(to);
        EXPECT_EQ(SamplesOf(wave), c.Expected);
        EXPECT_EQ(wave.WaveFormat.nBlockAlign, to * c.Bits / 8);
        EXPECT_EQ(wave.Extension.ChannelMask, to == 1 ? 0x4u : 0x3u);
    }
}

} // namespace
