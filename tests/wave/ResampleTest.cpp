// Resampling keeps the pitch: measured against the ideal sine at the new rate.
#include "Resampler.h"
#include "RvWAVE.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <span>

namespace {

constexpr double kLevel = 0.891250938; // -1 dBFS

// Two seconds of a sine at frequency in every channel of format, at level, each sample rounded
// to nearest (integers clipped at full scale).
Bytes Sine(double frequency, const Format& format, double level = kLevel) {
    Bytes samples;
    const int bytes = format.Bits / 8;
    for (std::uint32_t n = 0; n < 2 * format.Rate; ++n) {
        const double x = level * std::sin(2 * std::numbers::pi * frequency * n / format.Rate);
        for (std::uint16_t c = 0; c < format.Channels; ++c) {
            if (format.Tag == 3 && bytes == 4)
                AppendLE32(samples, std::bit_cast<std::uint32_t>(static_cast<float>(x)));
            else if (format.Tag == 3)
                for (const std::uint8_t byte : Floats64({x}))
                    samples.push_back(byte);
            else if (bytes == 1)
                samples.push_back(static_cast<std::uint8_t>(std::lround(x * 127) + 128));
            else
                for (const std::uint8_t byte :
                     SamplesLE(bytes, {std::llround(x * double((1ll << (8 * bytes - 1)) - 1))}))
                    samples.push_back(byte);
        }
    }
    return samples;
}

// The wave resampled to rate and the width and channels given, as the component makes it, as
// fractions of full scale.
std::vector<double> Resampled(const Bytes& samples, const Format& from, std::int32_t rate,
                              std::int32_t bits = 16, std::int32_t channels = 1) {
    TRvInternalWAVE wave;
    TMemoryStream image(WaveImage(from, samples));
    wave.LoadFromFile(image);
    const auto shape = wave.CurrentShape();
    auto to = TRvInternalWAVE::PlanBits(shape, bits).After;
    if (channels != 0)
        to = TRvInternalWAVE::PlanChannels(to, channels).After;
    wave.Apply(TRvInternalWAVE::PlanResample(shape, to, rate));
    EXPECT_EQ(wave.WaveFormat.nSamplesPerSec, static_cast<std::uint32_t>(rate));
    std::vector<double> out;
    const std::uint8_t* data = wave.WaveData.data();
    for (std::uint64_t k = 0; k < wave.DataSize(); k += bits / 8)
        out.push_back(bits == 16 ? static_cast<std::int16_t>(data[k] | data[k + 1] << 8) / 32768.0
                                 : (data[k] - 128) / 128.0);
    return out;
}

// What out, of channels channels, holds beside a sine of frequency and amplitude at rate in each,
// over its middle (the filter's settling at both ends left out): its RMS in dB relative to the
// -1 dBFS sine's.
double ResidueDb(const std::vector<double>& out, std::uint32_t channels, double frequency,
                 std::uint32_t rate, double amplitude) {
    double sum = 0;
    const std::size_t from = out.size() / 8, to = out.size() - out.size() / 8;
    for (std::size_t k = from; k < to; ++k) {
        const double ideal =
            amplitude * std::sin(2 * std::numbers::pi * frequency * double(k / channels) / rate);
        sum += (out[k] - ideal) * (out[k] - ideal);
    }
    return 20 *
           std::log10(std::sqrt(sum / static_cast<double>(to - from)) / (kLevel / std::sqrt(2)));
}

// Every kind of sample, its channels kept, mixed to one or made two, comes out as the ideal sine
// at each new rate, down to what the source's own width leaves (8 bits: about -48 dB).
TEST(Resample, KeepsASineWithinMinus90dBOfTheIdealAtEveryCommonRate) {
    const struct {
        Format From;
        std::int32_t Channels;
        double Limit;
    } cases[] = {{{1, 1, 44100, 16}, 0, -90}, {{1, 2, 44100, 16}, 1, -90},
                 {{1, 1, 44100, 8}, 2, -40},  {{1, 2, 44100, 24}, 0, -90},
                 {{1, 2, 44100, 32}, 1, -90}, {{3, 2, 44100, 32}, 0, -90},
                 {{3, 1, 44100, 64}, 2, -90}};
    for (const auto& c : cases)
        for (const std::int32_t rate : {22050, 16000, 11025, 8000}) {
            const std::vector<double> out =
                Resampled(Sine(1000, c.From), c.From, rate, 16, c.Channels);
            const std::uint32_t channels = c.Channels ? c.Channels : c.From.Channels;
            // Integers were made at full scale less one step.
            const double fullScale = double(1ll << (c.From.Bits - 1));
            const double gain = c.From.Tag == 3 ? 1 : (fullScale - 1) / fullScale;
            EXPECT_LE(ResidueDb(out, channels, 1000, rate, kLevel * gain), c.Limit)
                << c.From.Bits << " bit " << c.From.Channels << " to " << channels << " at "
                << rate;
        }
}

// Samples past full scale are clipped at the width's ends, as the relabel's conversions clip.
TEST(Resample, ClipsAtFullScale) {
    const Format loud{3, 1, 44100, 32};
    for (const std::int32_t bits : {16, 8}) {
        const std::vector<double> out = Resampled(Sine(1000, loud, 1.5), loud, 22050, bits);
        const double top = bits == 16 ? 32767 / 32768.0 : 127 / 128.0;
        EXPECT_EQ(std::ranges::max(out), top) << bits;
        EXPECT_EQ(std::ranges::min(out), -1.0) << bits;
    }
}

TEST(Resample, FiltersOutWhatLiesAboveTheNewNyquistFrequency) {
    const std::vector<double> out = Resampled(Sine(15000, {}), {}, 22050);
    const auto middle = std::span(out).subspan(out.size() / 8, out.size() * 3 / 4);
    const double peak = std::ranges::max(middle, {}, [](double x) { return std::abs(x); });
    EXPECT_LE(std::abs(peak), std::pow(10, -90 / 20.0)) << "-90 dBFS";
}

TEST(Resample, KeepsTheLevelOfASineNearTheNewNyquistFrequency) {
    const double frequency = 0.8 * 11025;
    const std::vector<double> out = Resampled(Sine(frequency, {}), {}, 22050);
    // The sine's amplitude, fitted over the middle.
    double s = 0, c = 0;
    const std::size_t from = out.size() / 8, to = out.size() - out.size() / 8;
    for (std::size_t n = from; n < to; ++n) {
        const double phase = 2 * std::numbers::pi * frequency * n / 22050;
        s += out[n] * std::sin(phase);
        c += out[n] * std::cos(phase);
    }
    const double amplitude = 2 * std::hypot(s, c) / static_cast<double>(to - from);
    EXPECT_NEAR(20 * std::log10(amplitude / kLevel), 0, 0.1);
}

// A steady level just short of full scale keeps its value to the last frame: rounded to it, not
// clipped up, and the filter's tail given after the input ends.
TEST(Resample, KeepsASteadyLevelToTheEnd) {
    const Format steady{3, 1, 44100, 64};
    for (const std::int32_t bits : {16, 8}) {
        const double top = bits == 16 ? 32768 : 128; // 1.8 steps below it
        Bytes samples;
        for (int n = 0; n < 44100; ++n)
            for (const std::uint8_t byte : Floats64({(top - 1.8) / top}))
                samples.push_back(byte);
        const std::vector<double> out = Resampled(samples, steady, 22050, bits);
        ASSERT_EQ(out.size(), 22050u);
        EXPECT_EQ(out[out.size() / 2], (top - 2) / top) << bits;
        EXPECT_GT(out.back(), 0.25) << "the filter's tail, " << bits;
    }
}

// Frames at the new rate, widths and channels: counted independently of the resampler.
TEST(Resample, GivesTheFramesTheRatesMakeInTheWidthAndChannelsAsked) {
    const struct {
        std::uint32_t Frames, From;
        std::int32_t To, Bits, Channels;
        std::uint16_t ChannelsIn;
    } cases[] = {{44101, 44100, 22050, 16, 1, 1},
                 {1001, 48000, 44100, 8, 2, 1},
                 {7, 8000, 44100, 16, 1, 2},
                 {30011, 44100, 16000, 8, 0, 2}};
    for (const auto& c : cases) {
        Bytes samples;
        for (std::uint32_t k = 0; k < c.Frames * c.ChannelsIn; ++k)
            AppendLE16(samples, static_cast<std::uint16_t>(k * 7919));
        const std::vector<double> out = Resampled(
            samples, {.Channels = c.ChannelsIn, .Rate = c.From}, c.To, c.Bits, c.Channels);
        const std::uint32_t channels = c.Channels ? c.Channels : c.ChannelsIn;
        const auto frames = std::llround(double(c.Frames) * c.To / c.From);
        EXPECT_EQ(out.size(), frames * channels) << c.Frames << " at " << c.From;
        for (std::size_t k = 0; channels == 2 && c.ChannelsIn == 1 && k < out.size(); k += 2)
            ASSERT_EQ(out[k], out[k + 1]) << "one channel made two, frame " << k / 2;
    }
}

// The channels are resampled apart, on as many cores as there are: the bytes stay the same.
TEST(Resample, GivesTheSameBytesOnOneCoreAsOnSeveral) {
    TWaveFormatEx from{WAVE_FORMAT_PCM, 2, 44100, 0, 4, 16, 0}, to = from;
    to.nSamplesPerSec = 16000;
    Bytes noise;
    std::uint32_t state = 1;
    for (int k = 0; k < 2 * 100000; ++k)
        AppendLE16(noise,
                   static_cast<std::uint16_t>((state = state * 1664525u + 1013904223u) >> 16));
    std::vector<std::uint8_t> outputs[2];
    for (const unsigned threads : {1u, 2u}) {
        TResampler resampler(from, to, TResampler::FramesAt(100000, 44100, 16000), threads);
        resampler.Feed(noise.data(), 100000, outputs[threads - 1]);
        resampler.Finish(outputs[threads - 1]);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
}

} // namespace
