// Frames of float samples to their mean in vector lanes, falling back to the plain loop for
// frames that hold a NaN.
#pragma once

#include "KernelBytes.h"
#include "KernelVector.h"
#include "MixFrames.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace {

#if TESSALY_KERNEL_BULK
// Four frames of float samples as columns of doubles, lane f of column c being frame f's
// sample c. Each frame is read as one row of four or eight samples, so a frame's read may
// reach into the frames after the four (never more than one frame's worth).
template <typename Sample, std::uint32_t Channels>
inline void FloatColumns(const std::uint8_t* p, __m256d (&columns)[Channels]) {
    constexpr std::uint64_t frameSize = Sample::Width * Channels;
    if constexpr (std::is_same_v<Sample, Float32> && Channels <= 4) {
        __m128 r0 = _mm_loadu_ps(reinterpret_cast<const float*>(p));
        __m128 r1 = _mm_loadu_ps(reinterpret_cast<const float*>(p + frameSize));
        __m128 r2 = _mm_loadu_ps(reinterpret_cast<const float*>(p + 2 * frameSize));
        __m128 r3 = _mm_loadu_ps(reinterpret_cast<const float*>(p + 3 * frameSize));
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        const __m128 rows[4] = {r0, r1, r2, r3};
        for (std::uint32_t c = 0; c < Channels; ++c)
            columns[c] = _mm256_cvtps_pd(rows[c]);
    } else if constexpr (std::is_same_v<Sample, Float32>) {
        __m256 r[4];
        for (int f = 0; f < 4; ++f)
            r[f] = _mm256_loadu_ps(reinterpret_cast<const float*>(p + f * frameSize));
        // Both 128-bit halves transposed at once: channels 0-3 low, 4-7 high.
        const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
        const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
        const __m256 pairs[4] = {_mm256_shuffle_ps(t0, t2, 0x44), _mm256_shuffle_ps(t0, t2, 0xEE),
                                 _mm256_shuffle_ps(t1, t3, 0x44), _mm256_shuffle_ps(t1, t3, 0xEE)};
        for (std::uint32_t c = 0; c < Channels; ++c)
            columns[c] = _mm256_cvtps_pd(c < 4 ? _mm256_castps256_ps128(pairs[c])
                                               : _mm256_extractf128_ps(pairs[c - 4], 1));
    } else {
        // Four channels at a time, four frames by four doubles transposed.
        for (std::uint32_t base = 0; base < Channels; base += 4) {
            __m256d r[4];
            for (int f = 0; f < 4; ++f)
                r[f] =
                    _mm256_loadu_pd(reinterpret_cast<const double*>(p + f * frameSize + 8 * base));
            const __m256d t0 = _mm256_unpacklo_pd(r[0], r[1]), t1 = _mm256_unpackhi_pd(r[0], r[1]);
            const __m256d t2 = _mm256_unpacklo_pd(r[2], r[3]), t3 = _mm256_unpackhi_pd(r[2], r[3]);
            const __m256d quad[4] = {
                _mm256_permute2f128_pd(t0, t2, 0x20), _mm256_permute2f128_pd(t1, t3, 0x20),
                _mm256_permute2f128_pd(t0, t2, 0x31), _mm256_permute2f128_pd(t1, t3, 0x31)};
            for (std::uint32_t c = base; c < Channels && c < base + 4; ++c)
                columns[c] = quad[c - base];
        }
    }
}

// The sums of four frames, each from its first sample on, left to right; for two channels by
// one horizontal add. Without NaNs an addition's result does not depend on its operands'
// order, and -0.0 + x is x, so these are the plain loop's sums.
template <typename Sample, std::uint32_t Channels>
inline __m256d FloatFrameSums(const std::uint8_t* p) {
    if constexpr (Channels == 2) {
        __m256d a, b;
        if constexpr (std::is_same_v<Sample, Float32>) {
            const __m256 raw = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
            a = _mm256_cvtps_pd(_mm256_castps256_ps128(raw));
            b = _mm256_cvtps_pd(_mm256_extractf128_ps(raw, 1));
        } else {
            a = _mm256_loadu_pd(reinterpret_cast<const double*>(p));
            b = _mm256_loadu_pd(reinterpret_cast<const double*>(p + 32));
        }
        return _mm256_permute4x64_pd(_mm256_hadd_pd(a, b), 0xD8);
    } else {
        __m256d columns[Channels];
        FloatColumns<Sample, Channels>(p, columns);
        __m256d sum = columns[0];
        for (std::uint32_t c = 1; c < Channels; ++c)
            sum = _mm256_add_pd(sum, columns[c]);
        return sum;
    }
}

#ifdef __AVX512F__
// GCC 12 warns of the undefined source its 512-bit conversions pass their builtins; the
// masked forms that avoid it run a fifth slower.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Stereo float frames to their mean eight at a time in 512-bit lanes, as BulkFloatMix does.
template <typename Sample>
std::uint64_t BulkFloatStereo512(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    const __m512i lefts = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i rights = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
    // The first frames alone, to store whole aligned lines: a store across two lines costs
    // the memory both.
    std::uint64_t i = 0;
    const std::uint64_t misaligned = reinterpret_cast<std::uintptr_t>(out) % 64;
    if (misaligned % Sample::Width == 0) {
        i = std::min(frames, (64 - misaligned) % 64 / Sample::Width);
        MixFrames<Sample, 2>(in, out, i, 2);
    }
    for (; i + 8 <= frames; i += 8) {
        const std::uint8_t* from = in + 2 * Sample::Width * i;
        ReadAhead<16 * Sample::Width>(from);
        std::uint8_t* to = out + Sample::Width * i;
        __m512d a, b;
        if constexpr (std::is_same_v<Sample, Float32>) {
            a = _mm512_cvtps_pd(_mm256_loadu_ps(reinterpret_cast<const float*>(from)));
            b = _mm512_cvtps_pd(_mm256_loadu_ps(reinterpret_cast<const float*>(from + 32)));
        } else {
            a = _mm512_loadu_pd(from);
            b = _mm512_loadu_pd(from + 64);
        }
        const __m512d sum = _mm512_add_pd(_mm512_permutex2var_pd(a, lefts, b),
                                          _mm512_permutex2var_pd(a, rights, b));
        if (_mm512_cmp_pd_mask(sum, sum, _CMP_UNORD_Q)) [[unlikely]] {
            MixFrames<Sample, 2>(from, to, 8, 2);
            continue;
        }
        const __m512d mean = _mm512_div_pd(sum, _mm512_set1_pd(2.0));
        if constexpr (std::is_same_v<Sample, Float32>)
            _mm256_storeu_ps(reinterpret_cast<float*>(to), _mm512_cvtpd_ps(mean));
        else
            _mm512_storeu_pd(to, mean);
    }
    return i;
}
#pragma GCC diagnostic pop
#endif

// Float frames to their mean eight at a time, leaving at least one frame after them (a frame
// may be read beyond its end). Eight frames whose sums hold a NaN go through the plain loop,
// which keeps the first NaN met, as the compiler may swap an addition's operands here; every
// frame is read before any is written.
template <typename Sample, std::uint32_t Channels>
std::uint64_t BulkFloatMix(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    constexpr std::uint64_t frameSize = Sample::Width * Channels;
    const __m256d count = _mm256_set1_pd(Channels);
    std::uint64_t i = 0;
#ifdef __AVX512F__
    if constexpr (Channels == 2)
        return BulkFloatStereo512<Sample>(in, out, frames);
#endif
    for (; i + 9 <= frames; i += 8) {
        const std::uint8_t* from = in + frameSize * i;
#ifdef __AVX512BW__
        ReadAhead<8 * frameSize>(from);
#endif
        std::uint8_t* to = out + Sample::Width * i;
        const __m256d sums[2] = {FloatFrameSums<Sample, Channels>(from),
                                 FloatFrameSums<Sample, Channels>(from + 4 * frameSize)};
        const __m256d nan = _mm256_or_pd(_mm256_cmp_pd(sums[0], sums[0], _CMP_UNORD_Q),
                                         _mm256_cmp_pd(sums[1], sums[1], _CMP_UNORD_Q));
        if (_mm256_movemask_pd(nan)) [[unlikely]] {
            MixFrames<Sample, Channels>(from, to, 8, Channels);
            continue;
        }
        for (int k = 0; k < 2; ++k) {
            const __m256d mean = _mm256_div_pd(sums[k], count);
            if constexpr (std::is_same_v<Sample, Float32>)
                _mm_storeu_ps(reinterpret_cast<float*>(to + 16 * k), _mm256_cvtpd_ps(mean));
            else
                _mm256_storeu_pd(reinterpret_cast<double*>(to + 32 * k), mean);
        }
    }
    return i;
}
#endif

} // namespace
