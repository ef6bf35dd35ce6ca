// Frames of any number of channels to their mean, for every sample kind: the vector mixes
// where the build has them, the plain loop for the rest.
#include "SampleConversion.h"

#include "KernelBytes.h"
#include "KernelVector.h"
#include "MixFloatVector.h"
#include "MixFrames.h"
#include "MixIntegerAvx512.h"
#include "MixIntegerVector.h"

#include <cstdint>
#include <type_traits>

namespace {

template <typename Sample, std::uint32_t FixedChannels>
inline void MixFixed(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
#if TESSALY_KERNEL_BULK && defined(__AVX512BW__)
    if constexpr (std::is_same_v<Sample, Pcm32> && FixedChannels == 2) {
        const std::uint64_t done = WideStereoToMono32(in, out, frames);
        in += done * 8;
        out += done * 4;
        frames -= done;
    }
    if constexpr (Sample::Width <= 3) {
        const std::uint64_t done = WideMix<Sample, FixedChannels>(in, out, frames);
        in += done * Sample::Width * FixedChannels;
        out += done * Sample::Width;
        frames -= done;
    }
#endif
#if TESSALY_KERNEL_BULK
    if constexpr (FixedChannels >= 3 && Sample::Width <= 3) {
        const std::uint64_t done = BulkMix<Sample, FixedChannels>(in, out, frames);
        in += done * Sample::Width * FixedChannels;
        out += done * Sample::Width;
        frames -= done;
    }
    if constexpr (std::is_same_v<Sample, Float32> || std::is_same_v<Sample, Float64>) {
        const std::uint64_t done = BulkFloatMix<Sample, FixedChannels>(in, out, frames);
        in += done * Sample::Width * FixedChannels;
        out += done * Sample::Width;
        frames -= done;
    }
#endif
#ifndef TESSALY_KERNEL_SCALAR
    if constexpr (std::is_same_v<Sample, Pcm24>) {
        MixBatches24<FixedChannels>(in, out, frames);
        const std::uint64_t done = frames / 4 * 4;
        return MixFrames<Sample, FixedChannels>(in + done * 3 * FixedChannels, out + done * 3,
                                                frames - done, FixedChannels);
    }
#endif
    MixFrames<Sample, FixedChannels>(in, out, frames, FixedChannels);
}

template <typename Sample>
inline void Mix(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                std::uint32_t channels) {
    switch (channels) {
    case 2:
        return MixFixed<Sample, 2>(in, out, frames);
    case 3:
        return MixFixed<Sample, 3>(in, out, frames);
    case 4:
        return MixFixed<Sample, 4>(in, out, frames);
    case 5:
        return MixFixed<Sample, 5>(in, out, frames);
    case 6:
        return MixFixed<Sample, 6>(in, out, frames);
    case 7:
        return MixFixed<Sample, 7>(in, out, frames);
    case 8:
        return MixFixed<Sample, 8>(in, out, frames);
    default:
        return MixFrames<Sample, 0>(in, out, frames, channels);
    }
}

} // namespace

#ifdef TESSALY_KERNEL_SET
namespace TESSALY_KERNEL_SET {
#endif

void MixToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                std::uint32_t channels) {
    Mix<Pcm8>(in, out, frames, channels);
}

void MixToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm16>(in, out, frames, channels);
}

void MixToMono24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm24>(in, out, frames, channels);
}

void MixToMono32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels) {
    Mix<Pcm32>(in, out, frames, channels);
}

void MixToMonoFloat32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels) {
    Mix<Float32>(in, out, frames, channels);
}

void MixToMonoFloat64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels) {
    Mix<Float64>(in, out, frames, channels);
}

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
