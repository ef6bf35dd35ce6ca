// Frames of integer samples to their mean in AVX-512 lanes.
#pragma once

#include "KernelBytes.h"
#include "KernelVector.h"

#include <array>
#include <bit>
#include <cstdint>

namespace {

#if TESSALY_KERNEL_BULK
#ifdef __AVX512BW__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The mean of each pair of 32-bit samples truncated toward zero, as StereoToMono16 forms it:
// the halves' sum with the carry of their low bits is the mean rounded down, and a negative
// mean of an odd sum moves up by one, so the sum's 33rd bit is never needed.
std::uint64_t WideStereoToMono32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    const __m512i evens =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
    const __m512i one = _mm512_set1_epi32(1);
    std::uint64_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        ReadAhead<128>(in + 8 * i);
        const __m512i a = Load512(in + 8 * i), b = Load512(in + 8 * i + 64);
        const __m512i left = _mm512_permutex2var_epi32(a, evens, b);
        const __m512i right = _mm512_permutex2var_epi32(a, odds, b);
        const __m512i floorMean = _mm512_add_epi32(
            _mm512_add_epi32(_mm512_srai_epi32(left, 1), _mm512_srai_epi32(right, 1)),
            _mm512_and_si512(_mm512_and_si512(left, right), one));
        const __m512i odd = _mm512_and_si512(_mm512_xor_si512(left, right), one);
        Store512(
            out + 4 * i,
            _mm512_add_epi32(floorMean, _mm512_and_si512(_mm512_srli_epi32(floorMean, 31), odd)));
    }
    return i;
}

// The sums of adjacent pairs of thirty-two 32-bit values, in order.
inline __m512i PairSums16(__m512i a, __m512i b) {
    const __m512i evens =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    return _mm512_permutex2var_epi32(_mm512_add_epi32(a, _mm512_srli_epi64(a, 32)), evens,
                                     _mm512_add_epi32(b, _mm512_srli_epi64(b, 32)));
}

// Where the lanes of an odd-sized group's p-th member lie: the value at index i of the G
// vectors (lane i % 16 of vector i / 16) is member i % G of group i / G. As 16 and G have no
// common factor, each lane holds that member in exactly one of the vectors: blends gather the
// members into one vector, and one permutation puts group f's into lane f.
struct MemberLanes {
    __mmask16 Of[8];
    std::int32_t Order[16];
};

// Worked out by the compiler: computed in the loop, they cost ten times the mix itself.
template <std::uint32_t G> struct MembersOf {
    static constexpr std::array<MemberLanes, G> Lanes = [] {
        std::array<MemberLanes, G> members{};
        for (std::uint32_t p = 0; p < G; ++p) {
            for (std::uint32_t i = p; i < 16 * G; i += G)
                members[p].Of[i / 16] |= static_cast<__mmask16>(1u << (i % 16));
            for (std::uint32_t f = 0; f < 16; ++f)
                members[p].Order[f] = static_cast<std::int32_t>((G * f + p) % 16);
        }
        return members;
    }();
};

// The sums of sixteen groups of G adjacent 32-bit values held in G vectors, in order.
template <std::uint32_t G> inline __m512i GroupSums16(const __m512i* v) {
    if constexpr (G == 1) {
        return v[0];
    } else if constexpr (G % 2 == 0) {
        __m512i pairs[G / 2];
        for (std::uint32_t k = 0; k < G / 2; ++k)
            pairs[k] = PairSums16(v[2 * k], v[2 * k + 1]);
        return GroupSums16<G / 2>(pairs);
    } else {
        __m512i sum = _mm512_setzero_si512();
        for (std::uint32_t p = 0; p < G; ++p) {
            const MemberLanes& lanes = MembersOf<G>::Lanes[p];
            __m512i member = v[0];
            for (std::uint32_t k = 1; k < G; ++k)
                member = _mm512_mask_blend_epi32(lanes.Of[k], member, v[k]);
            sum = _mm512_add_epi32(
                sum, _mm512_permutexvar_epi32(_mm512_loadu_si512(lanes.Order), member));
        }
        return sum;
    }
}

// Sums truncated toward zero by the channel count: (|n| + 1/2) / count lies at least
// 1 / (2 count) from every whole number, more than the product's rounding error; the half
// taken with n's sign gives the quotient's sign and the truncation its size. Sums of 8- and
// 16-bit samples (below 2^19 in size) are exact in float, with an error below 2^-6; of 24-bit
// ones (below 2^26) in double.
template <std::uint32_t Channels, std::uint64_t Width> inline __m512i Means16(__m512i sum) {
    if constexpr (std::has_single_bit(Channels)) {
        // A shift, a negative sum raised by the divisor less one first.
        constexpr int shift = std::countr_zero(Channels);
        const __m512i bias =
            _mm512_and_si512(_mm512_srai_epi32(sum, 31), _mm512_set1_epi32(Channels - 1));
        return _mm512_srai_epi32(_mm512_add_epi32(sum, bias), shift);
    } else if constexpr (Width <= 2) {
        const __m512 n = _mm512_cvtepi32_ps(sum);
        const __m512 half =
            _mm512_or_ps(_mm512_set1_ps(0.5f), _mm512_and_ps(n, _mm512_set1_ps(-0.0f)));
        return _mm512_cvttps_epi32(
            _mm512_mul_ps(_mm512_add_ps(n, half), _mm512_set1_ps(1.0f / Channels)));
    } else {
        __m256i halves[2];
        for (int k = 0; k < 2; ++k) {
            const __m512d n = _mm512_cvtepi32_pd(k ? _mm512_extracti64x4_epi64(sum, 1)
                                                   : _mm512_castsi512_si256(sum));
            const __m512d half =
                _mm512_or_pd(_mm512_set1_pd(0.5), _mm512_and_pd(n, _mm512_set1_pd(-0.0)));
            halves[k] = _mm512_cvttpd_epi32(
                _mm512_mul_pd(_mm512_add_pd(n, half), _mm512_set1_pd(1.0 / Channels)));
        }
        return _mm512_inserti64x4(_mm512_castsi256_si512(halves[0]), halves[1], 1);
    }
}

// Frames of two to eight channels of 8-, 16- or 24-bit samples to their mean, sixteen at a
// time, reading and writing only their own bytes. With an even channel count 8- and 16-bit
// samples are summed in pairs by a multiply-add as they are widened to 32 bits.
template <typename Sample, std::uint32_t Channels>
std::uint64_t WideMix(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    constexpr std::uint64_t width = Sample::Width;
    constexpr bool paired = Channels % 2 == 0 && width <= 2;
    const __m512i ones = _mm512_set1_epi16(1);
    std::uint64_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        ReadAhead<16 * width * Channels>(in + width * Channels * i);
        const std::uint8_t* from = in + width * Channels * i;
        __m512i sum;
        if constexpr (paired) {
            __m512i pairs[Channels / 2];
            for (std::uint32_t k = 0; k < Channels / 2; ++k)
                pairs[k] =
                    _mm512_madd_epi16(width == 1 ? _mm512_cvtepu8_epi16(Load256(from + 32 * k))
                                                 : Load512(from + 64 * k),
                                      ones);
            sum = GroupSums16<Channels / 2>(pairs);
        } else {
            __m512i v[Channels];
            for (std::uint32_t k = 0; k < Channels; ++k)
                v[k] = width == 1   ? _mm512_cvtepu8_epi32(_mm_loadu_si128(
                                          reinterpret_cast<const __m128i*>(from + 16 * k)))
                       : width == 2 ? _mm512_cvtepi16_epi32(Load256(from + 32 * k))
                                    : Widen24x16(from + 48 * k);
            sum = GroupSums16<Channels>(v);
        }
        const __m512i mean = Means16<Channels, width>(sum);
        std::uint8_t* to = out + width * i;
        if constexpr (width == 1) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm512_cvtepi32_epi8(mean));
        } else if constexpr (width == 2) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm512_cvtepi32_epi16(mean));
        } else {
            // Each lane's four values to its first twelve bytes, the lanes' twelve together.
            const __m512i packed = _mm512_shuffle_epi8(
                mean, _mm512_broadcast_i32x4(
                          _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)));
            _mm512_mask_storeu_epi8(
                to, 0xFFFFFFFFFFFFull,
                _mm512_permutexvar_epi32(
                    _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0), packed));
        }
    }
    return i;
}
#pragma GCC diagnostic pop
#endif
#endif

} // namespace
