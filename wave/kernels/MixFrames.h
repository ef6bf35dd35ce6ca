// The plain loop that takes frames of any number of channels to their mean: the reference
// the vector mixes match, and the tail they leave.
#pragma once

#include "KernelBytes.h"

#include <cstdint>
#include <type_traits>

namespace {

// The zero a frame's sum in double starts from: -0.0, as x + -0.0 is x for every x, where
// +0.0 + -0.0 is +0.0 and a frame of negative zeros would lose its sign. It is read where the
// compiler cannot see it: a known -0.0 would be dropped and the additions ordered anew, which
// changes the NaN that a frame of several NaNs ends with.
volatile double NegativeZero = -0.0;

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
        // Which of two NaNs an addition keeps depends on the order of its operands, which the
        // compiler is free to swap: a NaN sum is formed again keeping the first NaN it meets,
        // whether a sample's or the one that infinities of both signs make.
        if (sum != sum) [[unlikely]] {
            sum = zero;
            for (std::uint32_t c = 0; c < count; ++c) {
                const Sum sample = Sample::Load(in + frameSize * f + Sample::Width * c);
                sum = sum != sum ? sum : sample != sample ? sample : sum + sample;
            }
        }
        Sample::Store(out + Sample::Width * f, sum / static_cast<Sum>(count));
    }
}

} // namespace
