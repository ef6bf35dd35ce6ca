// The in-memory wave: creation, and the width and channel conversions.
#include "Exception.h"
#include "RvInternalWave.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

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
    wave.WaveFormat.wFormatTag = 3;
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
    Shape(wave, 24, 1, {1, 2, 3});
    EXPECT_THROW(wave.ChangeBits(16), ERvWaveBadWaveType);
    Shape(wave, 16, 0, {1, 2}); // no channels: no frame size to divide by
    EXPECT_THROW(wave.ChangeBits(8), ERvWaveBadWaveType);
    wave.ChangeBits(16); // the current width needs nothing
    Shape(wave, 16, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_THROW(wave.ChangeBits(8), ERvWaveBadWaveType);
    EXPECT_EQ(SamplesOf(wave), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(wave.WaveFormat.wBitsPerSample, 16);
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

TEST(ChangeChannels, RefusesWidthsItCannotRead) {
    TRvInternalWAVE wave;
    Shape(wave, 4, 1, {1, 2});
    EXPECT_THROW(wave.ChangeChannels(2), ERvWaveBadWaveType);
    Shape(wave, 16, 6, Bytes(12, 1));
    EXPECT_THROW(wave.ChangeChannels(1), ERvWaveBadWaveType);
    EXPECT_EQ(wave.DataSize(), 12u);
}

} // namespace
