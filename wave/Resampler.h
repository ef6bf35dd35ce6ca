// A change of sampling rate that keeps the pitch: the samples resampled with libsoxr at its
// high quality, a stream stage of the sample pipeline.
#pragma once

#include "SamplePipeline.h"
#include "WaveFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

class TResampler : public SamplePipeline::StreamStage {
public:
    // Resamples frames of format from (integer PCM of 8 to 32 bits, or float of 32 or 64 bits)
    // to the rate of format to, which says the kind of sample and the channel count (1, 2, or
    // from's) to leave them in: integers rounded to nearest and clipped. The output has to's frames
    // frames exactly. threads is how many cores share the channels (0: as many as there are); every
    // count gives the same bytes.
    TResampler(const TWaveFormatEx& from, const TWaveFormatEx& to, std::uint64_t frames,
               unsigned threads = 0);
    ~TResampler() override;
    TResampler(const TResampler&) = delete;
    TResampler& operator=(const TResampler&) = delete;

    void Feed(const std::uint8_t* in, std::uint64_t frames,
              std::vector<std::uint8_t>& out) override;
    void Finish(std::vector<std::uint8_t>& out) override;

    // The frames a wave of frames frames at rate from has at rate to: rounded to nearest.
    static std::uint64_t FramesAt(std::uint64_t frames, std::uint32_t from, std::uint32_t to);

    // The conversions into and out of the resampler's samples, chosen for the formats: their
    // types as the resampler names them, and sizes.
    struct Functions {
        // None where the frames go in as they are.
        void (*Read)(const std::uint8_t* in, std::uint64_t frames, std::uint32_t channelsIn,
                     std::uint32_t channels, void* out) = nullptr;
        void (*Write)(const void* in, std::uint64_t samples, std::uint8_t* out) = nullptr;
        int InType = 0, OutType = 0;
        std::size_t InSize = 0, OutSize = 0;
    };

private:
    // Runs the resampler over count frames at in (none: the end of the input) and appends what
    // it gives to out.
    void Resample(const std::uint8_t* in, std::uint64_t count, std::vector<std::uint8_t>& out);
    // Appends frames frames of Resampled to out in to's kind and channels, as far as the
    // output has room.
    void Store(std::uint64_t frames, std::vector<std::uint8_t>& out);

    TWaveFormatEx From, To;
    std::uint32_t Channels; // the channels resampled
    std::uint64_t Left;     // output frames still to give
    Functions Use;
    std::unique_ptr<soxr, void (*)(soxr*)> Soxr;
    std::vector<std::uint8_t> Floats, Resampled; // the resampler's input and output
};
