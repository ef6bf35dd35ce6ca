// Files written by sox load with their format and samples; files we write read back in sox.
#include "RvWAVE.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Shape {
    int Rate;
    int Bits;
    int Channels;
};

void PrintTo(const Shape& s, std::ostream* out) {
    *out << s.Rate << " Hz " << s.Bits << " bit " << s.Channels << " channel(s)";
}

std::string Encoding(const Shape& s) {
    return s.Bits == 8 ? "unsigned-integer" : "signed-integer";
}

// Deterministic samples that cover the whole range of the width.
Bytes RampSamples(const Shape& s, int frames) {
    Bytes out;
    for (int i = 0; i < frames * s.Channels * (s.Bits / 8); ++i)
        out.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    return out;
}

std::vector<std::string> RawArgs(const Shape& s) {
    return {"-t", "raw",
            "-r", std::to_string(s.Rate),
            "-e", Encoding(s),
            "-b", std::to_string(s.Bits),
            "-c", std::to_string(s.Channels)};
}

class SoxRoundTrip : public ::testing::TestWithParam<Shape> {
protected:
    void SetUp() override {
        if (!HaveProgram("sox"))
            GTEST_SKIP() << "sox is not installed (scripts/setup.sh installs it)";
    }
    RunResult Sox(std::vector<std::string> args) {
        args.insert(args.begin(), "sox");
        return RunProgram(args);
    }
    TempDir Dir;
};

TEST_P(SoxRoundTrip, WaveWrittenBySoxLoadsWithItsFormatAndSamples) {
    const Shape s = GetParam();
    const Bytes samples = RampSamples(s, 301);
    WriteFileBytes(Dir / "in.raw", samples);
    std::vector<std::string> args = RawArgs(s);
    args.push_back(Dir / "in.raw");
    args.push_back(Dir / "sox.wav");
    ASSERT_EQ(Sox(args).ExitCode, 0);

    TRvWave rv;
    rv.LoadFromFile(Dir / "sox.wav");
    EXPECT_EQ(rv.GetFreq(), s.Rate);
    EXPECT_EQ(rv.GetBits(), s.Bits);
    EXPECT_EQ(rv.GetChannels(), s.Channels);
    const TRvInternalWAVE& wave = *rv.Wave();
    EXPECT_EQ(Bytes(wave.WaveData.data(), wave.WaveData.data() + wave.DataSize()), samples);
}

TEST_P(SoxRoundTrip, WaveWeWriteReadsBackInSox) {
    const Shape s = GetParam();
    const Bytes samples = RampSamples(s, 257);
    WriteFileBytes(Dir / "ours-in.wav", WaveImage({1, static_cast<std::uint16_t>(s.Channels),
                                                   static_cast<std::uint32_t>(s.Rate),
                                                   static_cast<std::uint16_t>(s.Bits)},
                                                  samples));
    TRvWave rv;
    rv.LoadFromFile(Dir / "ours-in.wav");
    rv.SaveToFile(Dir / "ours.wav");

    std::vector<std::string> args = {Dir / "ours.wav"};
    const std::vector<std::string> raw = RawArgs(s);
    args.insert(args.end(), raw.begin(), raw.end());
    args.push_back(Dir / "back.raw");
    const RunResult run = Sox(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "") << "sox must read our file without complaint";
    EXPECT_EQ(ReadFileBytes(Dir / "back.raw"), samples);

    const RunResult info = RunProgram({"soxi", "-r", Dir / "ours.wav"});
    EXPECT_EQ(info.Out, std::to_string(s.Rate) + "\n");
    EXPECT_EQ(RunProgram({"soxi", "-c", Dir / "ours.wav"}).Out, std::to_string(s.Channels) + "\n");
    EXPECT_EQ(RunProgram({"soxi", "-b", Dir / "ours.wav"}).Out, std::to_string(s.Bits) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Shapes, SoxRoundTrip,
                         ::testing::Values(Shape{8000, 8, 1}, Shape{11025, 8, 2},
                                           Shape{22050, 16, 1}, Shape{44100, 16, 2}),
                         [](const auto& info) {
                             return std::to_string(info.param.Rate) + "Hz" +
                                    std::to_string(info.param.Bits) + "Bit" +
                                    std::to_string(info.param.Channels) + "Ch";
                         });

} // namespace
