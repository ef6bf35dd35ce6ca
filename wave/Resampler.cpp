#include "Resampler.h"

#include "Exception.h"
#include "kernels/KernelBytes.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <soxr.h>
#include <thread>
#include <type_traits>

namespace {

// x times Range rounded to nearest, clipped to -Range .. Range - 1: a sum of at least 0.5,
// truncated, is the floor of the scaled value + 0.5. In 32 bits where it fits, which vector
// lanes convert to.
template <std::int64_t Range> std::int64_t Rounded(double x) {
    using Whole =
        std::conditional_t<(Range <= (std::int64_t{1} << 30)), std::int32_t, std::int64_t>;
    double scaled = x * double(Range);
    scaled = scaled < -double(Range) ? -double(Range) : scaled;
    scaled = scaled > double(Range - 1) ? double(Range - 1) : scaled;
    return static_cast<Whole>(scaled + double(Range) + 0.5) - static_cast<Whole>(Range);
}

// What the filter could not spread: no number, and numbers no recording holds.
double Tamed(double x) {
    return x != x ? 0 : std::clamp(x, -1e6, 1e6);
}

// A kind of sample read as a fraction of full scale, -1 to 1 (floats may go beyond), and stored
// from one: integers of full scale Range, which hold Offset for silence, rounded to nearest and
// clipped; floats (Range 0) as they are.
template <typename Kind, std::int64_t Range, std::int64_t Offset = 0> struct Fraction {
    static constexpr std::uint64_t Width = Kind::Width;
    static double Read(const std::uint8_t* p) {
        if constexpr (Range == 0)
            return Tamed(Kind::Load(p));
        else
            return (Kind::Load(p) - Offset) / double(Range);
    }
    static void Write(std::uint8_t* p, double x) {
        if constexpr (Range == 0)
            Kind::Store(p, x);
        else
            Kind::Store(p, static_cast<typename Kind::Sum>(Rounded<Range>(x) + Offset));
    }
};

// Frames of Source samples into Real, mixed down to their mean where channels is 1 and
// channelsIn more.
template <typename Real, typename Source>
void ReadFrames(const std::uint8_t* in, std::uint64_t frames, std::uint32_t channelsIn,
                std::uint32_t channels, void* to) {
    Real* out = static_cast<Real*>(to);
    if (channels == channelsIn) {
        for (std::uint64_t k = 0; k < frames * channels; ++k)
            out[k] = static_cast<Real>(Source::Read(in + k * Source::Width));
        return;
    }
    for (std::uint64_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (std::uint32_t c = 0; c < channelsIn; ++c)
            sum += Source::Read(in + (f * channelsIn + c) * Source::Width);
        out[f] = static_cast<Real>(sum / channelsIn);
    }
}

// Samples of Real stored as Sink samples, each Copies times.
template <typename Real, typename Sink, std::uint32_t Copies>
void WriteSamples(const void* from, std::uint64_t samples, std::uint8_t* out) {
    const Real* in = static_cast<const Real*>(from);
    for (std::uint64_t k = 0; k < samples; ++k)
        for (std::uint32_t copy = 0; copy < Copies; ++copy)
            Sink::Write(out + (k * Copies + copy) * Sink::Width, in[k]);
}

// Calls use with the kind of sample of format.
template <typename Use> void WithKind(const TWaveFormatEx& format, Use use) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return format.wBitsPerSample == 32 ? use(Fraction<Float32, 0>())
                                           : use(Fraction<Float64, 0>());
    switch (format.wBitsPerSample) {
    case 8:
        return use(Fraction<Pcm8, 128, 128>());
    case 16:
        return use(Fraction<Pcm16, std::int64_t{1} << 15>());
    case 24:
        return use(Fraction<Pcm24, std::int64_t{1} << 23>());
    default:
        return use(Fraction<Pcm32, std::int64_t{1} << 31>());
    }
}

// Samples the resampler gives as 16-bit integers (little-endian on this host), rounded to nearest
// and clipped by the resampler itself.
void CopySamples16(const void* from, std::uint64_t samples, std::uint8_t* out) {
    std::memcpy(out, from, samples * 2);
}

bool IsPcm16(const TWaveFormatEx& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16 &&
           std::endian::native == std::endian::little;
}

// One channel made two is the same samples twice. 16-bit samples that keep their channels go
// into and out of the resampler as they are: it converts them on its threads.
template <typename Real>
void Choose(TResampler::Functions& f, const TWaveFormatEx& from, const TWaveFormatEx& to,
            std::uint32_t channels) {
    constexpr soxr_datatype_t kReal = sizeof(Real) == 8 ? SOXR_FLOAT64_I : SOXR_FLOAT32_I;
    if (IsPcm16(from) && from.nChannels == channels) {
        f.InType = SOXR_INT16_I;
        f.InSize = 2;
    } else {
        WithKind(from, [&](auto source) { f.Read = ReadFrames<Real, decltype(source)>; });
        f.InType = kReal;
        f.InSize = sizeof(Real);
    }
    if (IsPcm16(to) && to.nChannels == channels) {
        f.Write = CopySamples16;
        f.OutType = SOXR_INT16_I;
        f.OutSize = 2;
        return;
    }
    WithKind(to, [&](auto sink) {
        f.Write = to.nChannels > channels ? WriteSamples<Real, decltype(sink), 2>
                                          : WriteSamples<Real, decltype(sink), 1>;
    });
    f.OutType = kReal;
    f.OutSize = sizeof(Real);
}

} // namespace

std::uint64_t TResampler::FramesAt(std::uint64_t frames, std::uint32_t from, std::uint32_t to) {
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames) * to + from / 2;
    return static_cast<std::uint64_t>(scaled / from);
}

TResampler::TResampler(const TWaveFormatEx& from, const TWaveFormatEx& to, std::uint64_t frames,
                       unsigned threads)
    : From(from), To(to), Channels(to.nChannels == 1 ? 1u : from.nChannels), Left(frames),
      Soxr(nullptr, soxr_delete) {
    // Samples of more than 24 bits go through in double, the rest in float, which holds them
    // exactly and is what the filter computes in.
    const bool wide = from.wBitsPerSample > 24;
    wide ? Choose<double>(Use, from, to, Channels) : Choose<float>(Use, from, to, Channels);
    // The channels are resampled apart, one core each where there are several: the same
    // bytes whatever the count.
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    soxr_io_spec_t io = soxr_io_spec(static_cast<soxr_datatype_t>(Use.InType),
                                     static_cast<soxr_datatype_t>(Use.OutType));
    io.flags |= SOXR_NO_DITHER; // integers rounded to nearest, the same bytes every run
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(std::min(threads, Channels));
    soxr_error_t error = nullptr;
    Soxr.reset(soxr_create(from.nSamplesPerSec, to.nSamplesPerSec, Channels, &error, &io, &quality,
                           &runtime));
    if (!Soxr || error)
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.Resample: Invalid Parameters");
}

TResampler::~TResampler() = default;

void TResampler::Feed(const std::uint8_t* in, std::uint64_t frames,
                      std::vector<std::uint8_t>& out) {
    if (Use.Read) {
        Floats.resize(frames * Channels * Use.InSize);
        Use.Read(in, frames, From.nChannels, Channels, Floats.data());
        in = Floats.data();
    }
    Resample(in, frames, out);
}

void TResampler::Finish(std::vector<std::uint8_t>& out) {
    Resample(nullptr, 0, out);
    // The filter gives what the rates make, give or take a frame: silence makes up the rest.
    Resampled.assign(Left * Channels * Use.OutSize, 0);
    Store(Left, out);
}

void TResampler::Resample(const std::uint8_t* in, std::uint64_t count,
                          std::vector<std::uint8_t>& out) {
    const std::uint64_t room =
        FramesAt(count, From.nSamplesPerSec, To.nSamplesPerSec) + std::uint64_t{4096};
    Resampled.resize(room * Channels * Use.OutSize);
    for (std::uint64_t taken = 0;;) {
        std::size_t used = 0, made = 0;
        const void* next = in ? in + taken * Channels * Use.InSize : nullptr;
        const soxr_error_t error =
            soxr_process(Soxr.get(), next, count - taken, &used, Resampled.data(), room, &made);
        if (error)
            throw ERvWaveInvalidWavePara("TRvInternalWAVE.Resample: Invalid Parameters");
        taken += used;
        Store(made, out);
        // Fed, until the input is taken; at the end, until nothing more comes.
        if (count != 0 ? taken == count : made == 0)
            return;
    }
}

void TResampler::Store(std::uint64_t frames, std::vector<std::uint8_t>& out) {
    frames = std::min(frames, Left);
    if (frames == 0)
        return; // out may have no bytes to write into
    Left -= frames;
    const std::size_t start = out.size();
    out.resize(start + frames * To.nBlockAlign);
    Use.Write(Resampled.data(), frames * Channels, out.data() + start);
}
