// Frames of integer samples to their mean in AVX2 lanes, and 24-bit frames in batches through
// whole words in every build but the plain one.
#pragma once

#include "KernelBytes.h"
#include "KernelVector.h"

#include <algorithm>
#include <cstdint>

namespace {

#if TESSALY_KERNEL_BULK
// The mean of each pair of 32-bit values, truncated toward zero, in order.
inline __m256i PairMeans(__m256i a, __m256i b) {
    const __m256i sums = _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), 0xD8);
    return _mm256_srai_epi32(_mm256_add_epi32(sums, _mm256_srli_epi32(sums, 31)), 1);
}

// Eight 32-bit values' low three bytes to p; the 4 bytes after them are overwritten too.
inline void StoreNarrow24(std::uint8_t* p, __m256i v) {
    const __m256i packed = _mm256_shuffle_epi8(
        v, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                            6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), _mm256_extracti128_si256(packed, 1));
}

// The sums of adjacent pairs of sixteen 32-bit values, in order.
inline __m256i PairSums(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), 0xD8);
}

// The sums of each three adjacent values of twenty-four: each third of them sits in lanes of
// its own across the three vectors, so two blends gather it and one permutation orders it.
inline __m256i TripleSums(__m256i a, __m256i b, __m256i c) {
    const __m256i first = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x92), c, 0x24);
    const __m256i second = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x24), c, 0x49);
    const __m256i third = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x49), c, 0x92);
    return _mm256_add_epi32(
        _mm256_add_epi32(
            _mm256_permutevar8x32_epi32(first, _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5)),
            _mm256_permutevar8x32_epi32(second, _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6))),
        _mm256_permutevar8x32_epi32(third, _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7)));
}

// The sums of eight frames of 32-bit samples.
template <std::uint32_t Channels> inline __m256i FrameSums(const std::int32_t* samples) {
    __m256i v[Channels];
    for (std::uint32_t k = 0; k < Channels; ++k)
        v[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 8 * k));
    if constexpr (Channels == 3) {
        return TripleSums(v[0], v[1], v[2]);
    } else if constexpr (Channels == 4) {
        return PairSums(PairSums(v[0], v[1]), PairSums(v[2], v[3]));
    } else if constexpr (Channels == 6) {
        return TripleSums(PairSums(v[0], v[1]), PairSums(v[2], v[3]), PairSums(v[4], v[5]));
    } else if constexpr (Channels == 8) {
        return PairSums(PairSums(PairSums(v[0], v[1]), PairSums(v[2], v[3])),
                        PairSums(PairSums(v[4], v[5]), PairSums(v[6], v[7])));
    } else {
        std::int32_t sums[8];
        for (std::uint32_t f = 0; f < 8; ++f) {
            std::int32_t sum = 0;
            for (std::uint32_t c = 0; c < Channels; ++c)
                sum += samples[Channels * f + c];
            sums[f] = sum;
        }
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums));
    }
}

// Frames of three to eight channels of 8-, 16- or 24-bit samples to their mean, 64 at a time:
// the samples widened to 32 bits on the stack, eight frames summed in vector lanes, the sums
// divided in double (exact, as in the plain loop) and narrowed back. Returns the frames done,
// leaving at least two frames after them (the widening of three-byte samples reads, and their
// narrowing writes, a few bytes beyond its own).
template <typename Sample, std::uint32_t Channels>
std::uint64_t BulkMix(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    constexpr std::uint64_t kBatch = 64, width = Sample::Width;
    std::int32_t samples[kBatch * Channels];
    const __m256d count = _mm256_set1_pd(Channels);
    const __m256 countFloat = _mm256_set1_ps(Channels);
    std::uint64_t done = 0;
    for (; done + kBatch + 2 <= frames; done += kBatch) {
        const std::uint8_t* from = in + done * width * Channels;
        for (std::uint64_t k = 0; k < kBatch * Channels / 8; ++k) {
            __m256i wide;
            if constexpr (width == 1)
                wide = _mm256_cvtepu8_epi32(
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + 8 * k)));
            else if constexpr (width == 2)
                wide = _mm256_cvtepi16_epi32(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * k)));
            else
                wide = Widen24(from + 24 * k);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * k), wide);
        }
        std::uint8_t* to = out + done * width;
        for (std::uint64_t g = 0; g < kBatch / 8; ++g) {
            const std::int32_t* group = samples + 8 * Channels * g;
            const __m256i sum = FrameSums<Channels>(group);
            __m256i mean;
            if constexpr (width <= 2) {
                // Sums below 2^19 in size are exact in float, and their quotient's rounding
                // error (below 2^-5) is smaller than its distance, at least 1/8, to the next
                // whole number that is not the quotient itself.
                mean = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(sum), countFloat));
            } else {
                const __m128i low = _mm256_cvttpd_epi32(
                    _mm256_div_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(sum)), count));
                const __m128i high = _mm256_cvttpd_epi32(
                    _mm256_div_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(sum, 1)), count));
                mean = _mm256_set_m128i(high, low);
            }
            if constexpr (width == 1) {
                const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(mean, mean), mean);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 8 * g),
                                 _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
                                     bytes, _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4))));
            } else if constexpr (width == 2) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * g),
                                 _mm256_castsi256_si128(_mm256_permute4x64_epi64(
                                     _mm256_packs_epi32(mean, mean), 0xD8)));
            } else {
                StoreNarrow24(to + 24 * g, mean);
            }
        }
    }
    return done;
}
#endif

#ifndef TESSALY_KERNEL_SCALAR
// The frames of a three-byte mix are taken a batch at a time through 32-bit values on the
// stack: the samples widened, then summed a frame at a time, then narrowed again. Eight
// samples below 2^23 in size sum to below 2^26, and the division truncates toward zero as
// the one in double does.
constexpr std::uint64_t kMixBatch = 256;

template <std::uint32_t Channels>
inline void MixBatches24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::int32_t samples[kMixBatch * Channels];
    std::uint32_t means[kMixBatch];
    for (std::uint64_t done = 0; done + 4 <= frames;) {
        // Whole quads only; the last frames go through the plain loop.
        const std::uint64_t count = std::min(kMixBatch, (frames - done) / 4 * 4);
        const std::uint8_t* from = in + done * 3 * Channels;
        std::uint8_t* to = out + done * 3;
#if TESSALY_KERNEL_BULK
        // Whole vectors of eight, with room for what they read and write beyond their frames.
        if (count == kMixBatch && frames - done >= count + 2) {
            for (std::uint64_t k = 0; k < count * Channels / 8; ++k)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * k),
                                    Widen24(from + 24 * k));
            for (std::uint64_t k = 0; k < count / 8; ++k) {
                __m256i mean;
                if constexpr (Channels == 2) {
                    mean = PairMeans(
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 16 * k)),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 16 * k + 8)));
                } else {
                    std::int32_t sums[8];
                    for (std::uint64_t f = 0; f < 8; ++f) {
                        std::int32_t sum = 0;
                        for (std::uint32_t c = 0; c < Channels; ++c)
                            sum += samples[Channels * (8 * k + f) + c];
                        sums[f] = sum / static_cast<std::int32_t>(Channels);
                    }
                    mean = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums));
                }
                StoreNarrow24(to + 24 * k, mean);
            }
            done += count;
            continue;
        }
#endif
        for (std::uint64_t q = 0; q < count * Channels / 4; ++q) {
            const Quad quad = LoadQuad24(from + 12 * q);
            for (int k = 0; k < 4; ++k)
                samples[4 * q + k] = static_cast<std::int32_t>(quad.S[k]) >> 8;
        }
        for (std::uint64_t f = 0; f < count; ++f) {
            std::int32_t sum = 0;
            for (std::uint32_t c = 0; c < Channels; ++c)
                sum += samples[Channels * f + c];
            means[f] = static_cast<std::uint32_t>(sum / static_cast<std::int32_t>(Channels));
        }
        for (std::uint64_t q = 0; q < count / 4; ++q) {
            const std::uint32_t quad[4] = {means[4 * q], means[4 * q + 1], means[4 * q + 2],
                                           means[4 * q + 3]};
            StoreQuad24(to + 12 * q, quad);
        }
        done += count;
    }
}
#endif

} // namespace
