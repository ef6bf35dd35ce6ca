#include "SampleConversion.h"

#include "LittleEndian.h"

#include <bit>
#include <cstring>
#include <type_traits>

// Plain loops over byte pointers that the compiler turns into vector code: each step is
// integer arithmetic of one lane width, without branches or division. With GCC on x86-64 each
// kernel is also built for AVX2 and AVX-512, and the widest one the processor runs is picked
// when the program loads. Where executables cannot pick clones at load time, this file is
// built once per instruction set instead, each in its own namespace TESSALY_KERNEL_SET, and
// SampleKernelPick.cpp picks among them.
#if defined(TESSALY_KERNEL_SET)
#define TESSALY_KERNEL
#elif defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSALY_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TESSALY_KERNEL
#endif

namespace {

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

// A sample moved as one 16-bit word stays in one vector lane; byte by byte it would be split
// into two and merged again.
inline std::uint16_t Load16(const std::uint8_t* p) {
    if constexpr (!kLittleEndianHost)
        return GetLE16(p);
    std::uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline void Store16(std::uint8_t* p, std::uint16_t value) {
    if constexpr (!kLittleEndianHost)
        return PutLE16(p, value);
    std::memcpy(p, &value, sizeof value);
}

inline std::uint32_t Load32(const std::uint8_t* p) {
    if constexpr (!kLittleEndianHost)
        return GetLE32(p);
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline void Store32(std::uint8_t* p, std::uint32_t value) {
    if constexpr (!kLittleEndianHost)
        return PutLE32(p, value);
    std::memcpy(p, &value, sizeof value);
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    return Load32(p) | (static_cast<std::uint64_t>(Load32(p + 4)) << 32);
}

inline void Store64(std::uint8_t* p, std::uint64_t value) {
    Store32(p, static_cast<std::uint32_t>(value));
    Store32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

// The three bytes moved up into the top of a 32-bit word and shifted back carry the sign.
inline std::int32_t Load24(const std::uint8_t* p) {
    const std::uint32_t bits = p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return static_cast<std::int32_t>(bits << 8) >> 8;
}

inline void Store24(std::uint8_t* p, std::int32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
}

// The zero a frame's sum in double starts from: -0.0, as x + -0.0 is x for every x, where
// +0.0 + -0.0 is +0.0 and a frame of negative zeros would lose its sign. It is read where the
// compiler cannot see it: a known -0.0 would be dropped and the additions ordered anew, which
// changes the NaN that a frame of several NaNs ends with.
volatile double NegativeZero = -0.0;

// One sample kind at a time: its container width, and its samples read as and stored from
// the type their frame is summed in. A sum of up to 65535 8- or 16-bit samples fits 32 bits.
// Wider ones are summed and divided in double, which vector units do in several lanes at once,
// and which is exact for integers: a sum of up to 65535 values below 2^31 stays below 2^53, and
// the quotient's rounding error (below sum / count * 2^-53) is smaller than its distance,
// at least 1 / count, to the next whole number, so the conversion back, which truncates toward
// zero, gives the integer division's result.
struct Pcm8 {
    static constexpr std::uint64_t Width = 1;
    using Sum = std::int32_t;
    static Sum Load(const std::uint8_t* p) { return *p; }
    static void Store(std::uint8_t* p, Sum v) { *p = static_cast<std::uint8_t>(v); }
};

struct Pcm16 {
    static constexpr std::uint64_t Width = 2;
    using Sum = std::int32_t;
    static Sum Load(const std::uint8_t* p) { return static_cast<std::int16_t>(Load16(p)); }
    static void Store(std::uint8_t* p, Sum v) { Store16(p, static_cast<std::uint16_t>(v)); }
};

struct Pcm24 {
    static constexpr std::uint64_t Width = 3;
    using Sum = double;
    static double Load(const std::uint8_t* p) { return Load24(p); }
    static void Store(std::uint8_t* p, double v) { Store24(p, static_cast<std::int32_t>(v)); }
};

struct Pcm32 {
    static constexpr std::uint64_t Width = 4;
    using Sum = double;
    static double Load(const std::uint8_t* p) { return static_cast<std::int32_t>(Load32(p)); }
    static void Store(std::uint8_t* p, double v) {
        Store32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
    }
};

struct Float32 {
    static constexpr std::uint64_t Width = 4;
    using Sum = double;
    static float Value(const std::uint8_t* p) { return std::bit_cast<float>(Load32(p)); }
    static double Load(const std::uint8_t* p) { return Value(p); }
    // Rounds to nearest, the default rounding mode.
    static void Store(std::uint8_t* p, double v) {
        Store32(p, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
    }
};

struct Float64 {
    static constexpr std::uint64_t Width = 8;
    using Sum = double;
    static double Value(const std::uint8_t* p) { return std::bit_cast<double>(Load64(p)); }
    static double Load(const std::uint8_t* p) { return Value(p); }
    static void Store(std::uint8_t* p, double v) { Store64(p, std::bit_cast<std::uint64_t>(v)); }
};

// x * range truncated toward zero and clamped to -range..range-1; NaN gives 0. A float x is
// scaled in float, twice as many lanes: multiplying by a power of two is exact in float as in
// double (an overflow to infinity clamps as the large double would), so the result is the same.
template <int Range, typename Real> inline int ScaledFloat(Real x) {
    Real scaled = x * Range;
    scaled = scaled == scaled ? scaled : Real(0);
    scaled = scaled < -Range ? Real(-Range) : scaled;
    scaled = scaled > Range - 1 ? Real(Range - 1) : scaled;
    return static_cast<int>(scaled);
}

template <typename Source>
inline void FloatTo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        Store16(out + 2 * i, static_cast<std::uint16_t>(
                                 ScaledFloat<32768>(Source::Value(in + Source::Width * i))));
}

template <typename Source>
inline void FloatTo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::uint8_t>(ScaledFloat<128>(Source::Value(in + Source::Width * i)) +
                                           128);
}

// The count is a constant for the usual layouts, so the inner loop unrolls into straight code.
template <typename Sample, std::uint32_t FixedChannels>
inline void MixFrames(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels) {
    const std::uint32_t count = FixedChannels != 0 ? FixedChannels : channels;
    const std::uint64_t frameSize = Sample::Width * count;
    using Sum = typename Sample::Sum;
    // Integer samples summed in double give the same sums from -0.0 as from +0.0.
    const Sum zero = std::is_floating_point_v<Sum> ? Sum(NegativeZero) : Sum(0);
    for (std::uint64_t f = 0; f < frames; ++f) {
        Sum sum = zero;
        for (std::uint32_t c = 0; c < count; ++c)
            sum += Sample::Load(in + frameSize * f + Sample::Width * c);
        Sample::Store(out + Sample::Width * f, sum / static_cast<Sum>(count));
    }
}

template <typename Sample>
inline void Mix(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                std::uint32_t channels) {
    switch (channels) {
    case 2:
        return MixFrames<Sample, 2>(in, out, frames, channels);
    case 3:
        return MixFrames<Sample, 3>(in, out, frames, channels);
    case 4:
        return MixFrames<Sample, 4>(in, out, frames, channels);
    case 6:
        return MixFrames<Sample, 6>(in, out, frames, channels);
    case 8:
        return MixFrames<Sample, 8>(in, out, frames, channels);
    default:
        return MixFrames<Sample, 0>(in, out, frames, channels);
    }
}

} // namespace

#ifdef TESSALY_KERNEL_SET
namespace TESSALY_KERNEL_SET {
#endif

TESSALY_KERNEL
void Convert8To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    // (in - 128) * 256: the byte with its top bit flipped becomes the high byte.
    for (std::uint64_t i = 0; i < samples; ++i) {
        out[2 * i] = 0;
        out[2 * i + 1] = static_cast<std::uint8_t>(in[i] ^ 0x80);
    }
}

TESSALY_KERNEL
void Convert16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i) {
        const auto value = static_cast<std::int16_t>(Load16(in + 2 * i));
        // 255 added to a negative value makes the shift truncate toward zero, as division does.
        const auto bias = static_cast<std::int16_t>((value >> 15) & 0xFF);
        out[i] = static_cast<std::uint8_t>(((value + bias) >> 8) + 128);
    }
}

TESSALY_KERNEL
void MonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

TESSALY_KERNEL
void MonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint16_t sample = Load16(in + 2 * i);
        Store16(out + 4 * i, sample);
        Store16(out + 4 * i + 2, sample);
    }
}

TESSALY_KERNEL
void StereoToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint16_t frame = Load16(in + 2 * i);
        out[i] = static_cast<std::uint8_t>(((frame & 0xFF) + (frame >> 8)) >> 1);
    }
}

TESSALY_KERNEL
void StereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const auto left = static_cast<std::int16_t>(Load16(in + 4 * i));
        const auto right = static_cast<std::int16_t>(Load16(in + 4 * i + 2));
        // The halves' sum, with the carry of their low bits, is the mean rounded down, all in
        // 16 bits; a negative mean of an odd sum moves up by one to truncate toward zero.
        const int floorMean = (left >> 1) + (right >> 1) + (left & right & 1);
        const int mean = floorMean + ((floorMean >> 15) & (left ^ right) & 1);
        Store16(out + 2 * i, static_cast<std::uint16_t>(mean));
    }
}

TESSALY_KERNEL
void Convert24To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        Store16(out + 2 * i, static_cast<std::uint16_t>(Load24(in + 3 * i) / 256));
}

TESSALY_KERNEL
void Convert24To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::uint8_t>(Load24(in + 3 * i) / 65536 + 128);
}

TESSALY_KERNEL
void Convert32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        Store16(out + 2 * i,
                static_cast<std::uint16_t>(static_cast<std::int32_t>(Load32(in + 4 * i)) / 65536));
}

TESSALY_KERNEL
void Convert32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::uint8_t>(
            static_cast<std::int32_t>(Load32(in + 4 * i)) / 16777216 + 128);
}

TESSALY_KERNEL
void ConvertFloat32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    FloatTo16<Float32>(in, out, samples);
}

TESSALY_KERNEL
void ConvertFloat32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    FloatTo8<Float32>(in, out, samples);
}

TESSALY_KERNEL
void ConvertFloat64To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    FloatTo16<Float64>(in, out, samples);
}

TESSALY_KERNEL
void ConvertFloat64To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    FloatTo8<Float64>(in, out, samples);
}

TESSALY_KERNEL
void MonoToStereo24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::int32_t sample = Load24(in + 3 * i);
        Store24(out + 6 * i, sample);
        Store24(out + 6 * i + 3, sample);
    }
}

TESSALY_KERNEL
void MonoToStereo32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint32_t sample = Load32(in + 4 * i);
        Store32(out + 8 * i, sample);
        Store32(out + 8 * i + 4, sample);
    }
}

TESSALY_KERNEL
void MonoToStereo64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint64_t sample = Load64(in + 8 * i);
        Store64(out + 16 * i, sample);
        Store64(out + 16 * i + 8, sample);
    }
}

TESSALY_KERNEL
void MixToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                std::uint32_t channels) {
    Mix<Pcm8>(in, out, frames, channels);
}

TESSALY_KERNEL
void MixToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm16>(in, out, frames, channels);
}

TESSALY_KERNEL
void MixToMono24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm24>(in, out, frames, channels);
}

TESSALY_KERNEL
void MixToMono32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm32>(in, out, frames, channels);
}

TESSALY_KERNEL
void MixToMonoFloat32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels) {
    Mix<Float32>(in, out, frames, channels);
}

TESSALY_KERNEL
void MixToMonoFloat64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels) {
    Mix<Float64>(in, out, frames, channels);
}

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
