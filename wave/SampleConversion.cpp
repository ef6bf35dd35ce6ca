#include "SampleConversion.h"

#include "LittleEndian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#ifdef __AVX2__
#include <immintrin.h>
#endif

// Plain loops over byte pointers that the compiler turns into vector code: each step is
// integer arithmetic of one lane width, without branches or division. The file is built once
// per instruction set, each in its own namespace TESSALY_KERNEL_SET (SampleKernelPick.cpp picks
// among them); where a loop's shape hides its lanes from the compiler (three-byte samples,
// frames of several channels), the vector builds take the bulk in explicit vector code and
// leave the tail to the loop. The plain build (TESSALY_KERNEL_SCALAR) keeps only the loops.
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

#if defined(__AVX2__) && !defined(TESSALY_KERNEL_SCALAR)
// With AVX2 the bulk of the busiest kernels is written out in vector instructions; each bulk
// function converts a whole number of blocks from the start and returns how many items it did,
// leaving the rest to the loops. A block's input is read whole before its output is written,
// which is what running over its own input needs.
#define TESSALY_KERNEL_BULK 1

inline __m256i Splat32(std::int32_t value) {
    return _mm256_set1_epi32(value);
}

// Eight three-byte samples (24 bytes; 32 are read) as eight 32-bit values, sign extended.
inline __m256i Widen24(const std::uint8_t* p) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    // Samples 0-3 to the low half, 4-7 to the high one, each into the top of its lane.
    const __m256i halves =
        _mm256_permutevar8x32_epi32(raw, _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
    const __m256i top = _mm256_shuffle_epi8(
        halves, _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2,
                                 -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11));
    return _mm256_srai_epi32(top, 8);
}

// Divided by 2^Shift, truncating toward zero.
template <int Shift> inline __m256i Divide32(__m256i v) {
    const __m256i bias = _mm256_and_si256(_mm256_srai_epi32(v, 31), Splat32((1 << Shift) - 1));
    return _mm256_srai_epi32(_mm256_add_epi32(v, bias), Shift);
}

// Two vectors of 32-bit values that fit 16 bits, in order, as sixteen 16-bit ones.
inline __m256i Narrow32To16(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
}

inline void Store256(std::uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

inline __m256i Load256(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

#ifdef __AVX512BW__
// With AVX-512 the same kernels take twice as many items a step, 64 bytes out at a time. Each
// Wide function does its whole blocks from the start, as a bulk function does, and the bulk
// function goes on from there.
#define TESSALY_WIDE(call) call
// GCC 12 warns of the undefined source its 512-bit builtins are passed (see BulkFloatStereo512).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Input read from memory comes in faster when asked for a page ahead: the processor's own
// prefetching, which runs ahead of the loads, stops at each page's end, and a step busy with
// arithmetic keeps fewer loads in flight than a plain copy. Each step asks for the lines
// kAhead bytes beyond the Bytes it reads (a prefetch beyond the input is harmless).
constexpr std::uint64_t kAhead = 4096;

template <std::uint64_t Bytes> inline void ReadAhead(const std::uint8_t* p) {
    for (std::uint64_t k = 0; k < Bytes; k += 64)
        _mm_prefetch(reinterpret_cast<const char*>(p + kAhead + k), _MM_HINT_T0);
}

inline __m512i Load512(const std::uint8_t* p) {
    return _mm512_loadu_si512(p);
}

inline void Store512(std::uint8_t* p, __m512i v) {
    _mm512_storeu_si512(p, v);
}

// Sixteen three-byte samples (48 bytes, none read beyond) as sixteen 32-bit values, sign
// extended: each 128-bit lane gets four samples' twelve bytes, then each sample moves into
// the top of its 32-bit lane.
inline __m512i Widen24x16(const std::uint8_t* p) {
    const __m512i raw = _mm512_maskz_loadu_epi8(0xFFFFFFFFFFFFull, p);
    const __m512i quarters = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5, 6, 7, 8, 8, 9, 10, 11, 11), raw);
    const __m512i top =
        _mm512_shuffle_epi8(quarters, _mm512_broadcast_i32x4(_mm_setr_epi8(
                                          -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11)));
    return _mm512_srai_epi32(top, 8);
}

// Divided by 2^Shift, truncating toward zero.
template <int Shift> inline __m512i Divide32x16(__m512i v) {
    const __m512i bias =
        _mm512_and_si512(_mm512_srai_epi32(v, 31), _mm512_set1_epi32((1 << Shift) - 1));
    return _mm512_srai_epi32(_mm512_add_epi32(v, bias), Shift);
}

// Two vectors of 32-bit values that fit 16 bits, in order, as thirty-two 16-bit ones.
inline __m512i Narrow32To16x32(__m512i a, __m512i b) {
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7),
                                    _mm512_packs_epi32(a, b));
}

// Four vectors of 32-bit values that fit 8 bits unsigned, in order, as sixty-four bytes.
inline __m512i Narrow32To8x64(__m512i a, __m512i b, __m512i c, __m512i d) {
    return _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15),
        _mm512_packus_epi16(_mm512_packs_epi32(a, b), _mm512_packs_epi32(c, d)));
}

std::uint64_t Wide24To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
    for (; i + 32 <= samples; i += 32) {
        ReadAhead<96>(in + 3 * i);
        Store512(out + 2 * i, Narrow32To16x32(Divide32x16<8>(Widen24x16(in + 3 * i)),
                                              Divide32x16<8>(Widen24x16(in + 3 * i + 48))));
    }
    return i;
}

std::uint64_t Wide24To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
    const __m512i midpoint = _mm512_set1_epi32(128);
    for (; i + 64 <= samples; i += 64) {
        ReadAhead<192>(in + 3 * i);
        __m512i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm512_add_epi32(Divide32x16<16>(Widen24x16(in + 3 * i + 48 * k)), midpoint);
        Store512(out + i, Narrow32To8x64(v[0], v[1], v[2], v[3]));
    }
    return i;
}

std::uint64_t Wide32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
    for (; i + 32 <= samples; i += 32) {
        ReadAhead<128>(in + 4 * i);
        Store512(out + 2 * i, Narrow32To16x32(Divide32x16<16>(Load512(in + 4 * i)),
                                              Divide32x16<16>(Load512(in + 4 * i + 64))));
    }
    return i;
}

std::uint64_t Wide32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
    const __m512i midpoint = _mm512_set1_epi32(128);
    for (; i + 64 <= samples; i += 64) {
        ReadAhead<256>(in + 4 * i);
        __m512i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm512_add_epi32(Divide32x16<24>(Load512(in + 4 * i + 64 * k)), midpoint);
        Store512(out + i, Narrow32To8x64(v[0], v[1], v[2], v[3]));
    }
    return i;
}

std::uint64_t Wide16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
    const __m512i midpoint = _mm512_set1_epi16(128), low = _mm512_set1_epi16(255);
    for (; i + 64 <= samples; i += 64) {
        ReadAhead<128>(in + 2 * i);
        __m512i v[2];
        for (int k = 0; k < 2; ++k) {
            const __m512i x = Load512(in + 2 * i + 64 * k);
            const __m512i bias = _mm512_and_si512(_mm512_srai_epi16(x, 15), low);
            v[k] = _mm512_add_epi16(_mm512_srai_epi16(_mm512_add_epi16(x, bias), 8), midpoint);
        }
        Store512(out + i, _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7),
                                                   _mm512_packus_epi16(v[0], v[1])));
    }
    return i;
}

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

std::uint64_t WideStereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        ReadAhead<128>(in + 4 * i);
        __m512i means[2];
        for (int k = 0; k < 2; ++k) {
            const __m512i x = Load512(in + 4 * i + 64 * k);
            const __m512i left = _mm512_srai_epi32(_mm512_slli_epi32(x, 16), 16);
            const __m512i sum = _mm512_add_epi32(left, _mm512_srai_epi32(x, 16));
            means[k] = _mm512_srai_epi32(_mm512_add_epi32(sum, _mm512_srli_epi32(sum, 31)), 1);
        }
        Store512(out + 2 * i, Narrow32To16x32(means[0], means[1]));
    }
    return i;
}

// Sixteen floats scaled as ScaledFloats does eight.
template <int Range> inline __m512i ScaledFloats16(const std::uint8_t* p) {
    const __m512 scaled = _mm512_mul_ps(_mm512_loadu_ps(p), _mm512_set1_ps(float(Range)));
    const __m512 number =
        _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(scaled, scaled, _CMP_ORD_Q), scaled);
    const __m512 clamped = _mm512_min_ps(_mm512_max_ps(number, _mm512_set1_ps(float(-Range))),
                                         _mm512_set1_ps(float(Range - 1)));
    return _mm512_cvttps_epi32(clamped);
}

// Sixteen doubles scaled as ScaledDoubles does eight.
template <int Range> inline __m512i ScaledDoubles16(const std::uint8_t* p) {
    __m256i halves[2];
    for (int k = 0; k < 2; ++k) {
        const __m512d scaled =
            _mm512_mul_pd(_mm512_loadu_pd(p + 64 * k), _mm512_set1_pd(double(Range)));
        const __m512d number =
            _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(scaled, scaled, _CMP_ORD_Q), scaled);
        halves[k] = _mm512_cvttpd_epi32(_mm512_min_pd(
            _mm512_max_pd(number, _mm512_set1_pd(double(-Range))), _mm512_set1_pd(Range - 1)));
    }
    return _mm512_inserti64x4(_mm512_castsi256_si512(halves[0]), halves[1], 1);
}

template <typename Scaled16, std::uint64_t Width>
std::uint64_t WideFloatTo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples,
                            Scaled16 scaled16) {
    std::uint64_t i = 0;
    for (; i + 32 <= samples; i += 32) {
        ReadAhead<32 * Width>(in + Width * i);
        Store512(out + 2 * i,
                 Narrow32To16x32(scaled16(in + Width * i), scaled16(in + Width * i + 16 * Width)));
    }
    return i;
}

template <typename Scaled16, std::uint64_t Width>
std::uint64_t WideFloatTo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples,
                           Scaled16 scaled16) {
    std::uint64_t i = 0;
    const __m512i midpoint = _mm512_set1_epi32(128);
    for (; i + 64 <= samples; i += 64) {
        ReadAhead<64 * Width>(in + Width * i);
        __m512i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm512_add_epi32(scaled16(in + Width * i + 16 * Width * k), midpoint);
        Store512(out + i, Narrow32To8x64(v[0], v[1], v[2], v[3]));
    }
    return i;
}

// Mono to stereo by widening each sample to a lane twice its width and copying it into the
// lane's upper half.
std::uint64_t WideMonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        const __m512i x = _mm512_cvtepu8_epi16(Load256(in + i));
        Store512(out + 2 * i, _mm512_or_si512(x, _mm512_slli_epi16(x, 8)));
    }
    return i;
}

std::uint64_t WideMonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        const __m512i x = _mm512_cvtepu16_epi32(Load256(in + 2 * i));
        Store512(out + 4 * i, _mm512_or_si512(x, _mm512_slli_epi32(x, 16)));
    }
    return i;
}

std::uint64_t WideMonoToStereo64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
    const __m512i twice = _mm512_setr_epi64(0, 0, 1, 1, 2, 2, 3, 3);
    for (; i + 4 <= frames; i += 4)
        Store512(out + 16 * i,
                 _mm512_permutexvar_epi64(twice, _mm512_castsi256_si512(Load256(in + 8 * i))));
    return i;
}
#pragma GCC diagnostic pop
#else
#define TESSALY_WIDE(call) 0
#endif

std::uint64_t Bulk24To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE(Wide24To16(in, out, samples));
    for (; i + 19 <= samples; i += 16)
        Store256(out + 2 * i, Narrow32To16(Divide32<8>(Widen24(in + 3 * i)),
                                           Divide32<8>(Widen24(in + 3 * i + 24))));
    return i;
}

std::uint64_t Bulk24To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE(Wide24To8(in, out, samples));
    const __m256i midpoint = Splat32(128);
    for (; i + 35 <= samples; i += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm256_add_epi32(Divide32<16>(Widen24(in + 3 * i + 24 * k)), midpoint);
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
        Store256(out + i,
                 _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    }
    return i;
}

std::uint64_t BulkMonoToStereo24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
    const __m128i first = _mm_setr_epi8(0, 1, 2, 0, 1, 2, 3, 4, 5, 3, 4, 5, 6, 7, 8, 6);
    const __m128i second =
        _mm_setr_epi8(7, 8, 9, 10, 11, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    for (; i + 6 <= frames; i += 4) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 6 * i), _mm_shuffle_epi8(raw, first));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6 * i + 16),
                         _mm_shuffle_epi8(raw, second));
    }
    return i;
}

std::uint64_t Bulk16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE(Wide16To8(in, out, samples));
    const __m256i midpoint = _mm256_set1_epi16(128), low = _mm256_set1_epi16(255);
    for (; i + 32 <= samples; i += 32) {
        __m256i v[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i x = Load256(in + 2 * i + 32 * k);
            const __m256i bias = _mm256_and_si256(_mm256_srai_epi16(x, 15), low);
            v[k] = _mm256_add_epi16(_mm256_srai_epi16(_mm256_add_epi16(x, bias), 8), midpoint);
        }
        Store256(out + i, _mm256_permute4x64_epi64(_mm256_packus_epi16(v[0], v[1]), 0xD8));
    }
    return i;
}

// The mean of each pair of 32-bit values, truncated toward zero, in order.
inline __m256i PairMeans(__m256i a, __m256i b) {
    const __m256i sums = _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), 0xD8);
    return _mm256_srai_epi32(_mm256_add_epi32(sums, _mm256_srli_epi32(sums, 31)), 1);
}

std::uint64_t BulkStereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = TESSALY_WIDE(WideStereoToMono16(in, out, frames));
    for (; i + 16 <= frames; i += 16) {
        __m256i means[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i x = Load256(in + 4 * i + 32 * k);
            const __m256i left = _mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16);
            const __m256i sum = _mm256_add_epi32(left, _mm256_srai_epi32(x, 16));
            means[k] = _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_srli_epi32(sum, 31)), 1);
        }
        Store256(out + 2 * i, Narrow32To16(means[0], means[1]));
    }
    return i;
}

// Eight floats times Range, NaN made 0, clamped to -Range..Range-1 and truncated toward zero,
// in the order of the scalar ScaledFloat.
template <int Range> inline __m256i ScaledFloats(const std::uint8_t* p) {
    const __m256 scaled = _mm256_mul_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(p)),
                                        _mm256_set1_ps(float(Range)));
    const __m256 number = _mm256_and_ps(scaled, _mm256_cmp_ps(scaled, scaled, _CMP_ORD_Q));
    const __m256 clamped = _mm256_min_ps(_mm256_max_ps(number, _mm256_set1_ps(float(-Range))),
                                         _mm256_set1_ps(float(Range - 1)));
    return _mm256_cvttps_epi32(clamped);
}

std::uint64_t BulkFloat32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE((WideFloatTo16<decltype(&ScaledFloats16<32768>), 4>(
        in, out, samples, ScaledFloats16<32768>)));
    for (; i + 16 <= samples; i += 16)
        Store256(out + 2 * i, Narrow32To16(ScaledFloats<32768>(in + 4 * i),
                                           ScaledFloats<32768>(in + 4 * i + 32)));
    return i;
}

std::uint64_t BulkFloat32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE(
        (WideFloatTo8<decltype(&ScaledFloats16<128>), 4>(in, out, samples, ScaledFloats16<128>)));
    const __m256i midpoint = Splat32(128);
    for (; i + 32 <= samples; i += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm256_add_epi32(ScaledFloats<128>(in + 4 * i + 32 * k), midpoint);
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
        Store256(out + i,
                 _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    }
    return i;
}

// Eight doubles scaled as ScaledFloats does floats, as eight 32-bit values.
template <int Range> inline __m256i ScaledDoubles(const std::uint8_t* p) {
    __m128i halves[2];
    for (int k = 0; k < 2; ++k) {
        const __m256d scaled =
            _mm256_mul_pd(_mm256_loadu_pd(reinterpret_cast<const double*>(p + 32 * k)),
                          _mm256_set1_pd(double(Range)));
        const __m256d number = _mm256_and_pd(scaled, _mm256_cmp_pd(scaled, scaled, _CMP_ORD_Q));
        halves[k] = _mm256_cvttpd_epi32(_mm256_min_pd(
            _mm256_max_pd(number, _mm256_set1_pd(double(-Range))), _mm256_set1_pd(Range - 1)));
    }
    return _mm256_set_m128i(halves[1], halves[0]);
}

std::uint64_t BulkFloat64To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE((WideFloatTo16<decltype(&ScaledDoubles16<32768>), 8>(
        in, out, samples, ScaledDoubles16<32768>)));
    for (; i + 16 <= samples; i += 16)
        Store256(out + 2 * i, Narrow32To16(ScaledDoubles<32768>(in + 8 * i),
                                           ScaledDoubles<32768>(in + 8 * i + 64)));
    return i;
}

std::uint64_t BulkFloat64To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = TESSALY_WIDE(
        (WideFloatTo8<decltype(&ScaledDoubles16<128>), 8>(in, out, samples, ScaledDoubles16<128>)));
    const __m256i midpoint = Splat32(128);
    for (; i + 32 <= samples; i += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm256_add_epi32(ScaledDoubles<128>(in + 8 * i + 64 * k), midpoint);
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
        Store256(out + i,
                 _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    }
    return i;
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

#ifdef __AVX512BW__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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
#else
#define TESSALY_KERNEL_BULK 0
#endif

#ifndef TESSALY_KERNEL_SCALAR
// Four three-byte samples are three 32-bit words; moved as whole words, each sample is a few
// shifts within its lane, which the compiler turns into vector code, where bytes three apart
// would be read one at a time. Each sample comes out in the top three bytes of its word, its
// low byte zero, so that an arithmetic shift gives its value.
struct Quad {
    std::uint32_t S[4];
};

inline Quad LoadQuad24(const std::uint8_t* p) {
    const std::uint32_t w0 = Load32(p), w1 = Load32(p + 4), w2 = Load32(p + 8);
    return {
        {w0 << 8, (w0 >> 24 << 8) | (w1 << 16), (w1 >> 16 << 8) | (w2 << 24), w2 & 0xFFFFFF00u}};
}

// Four values' low three bytes, as three words.
inline void StoreQuad24(std::uint8_t* p, const std::uint32_t (&v)[4]) {
    Store32(p, (v[0] & 0xFFFFFF) | (v[1] << 24));
    Store32(p + 4, ((v[1] >> 8) & 0xFFFF) | (v[2] << 16));
    Store32(p + 8, ((v[2] >> 16) & 0xFF) | (v[3] << 8));
}

// A sample in the top three bytes of its word divided by 2^shift (8: 256, 16: 65536),
// truncating toward zero: a negative value is raised by the divisor less one first.
template <int Shift> inline std::int32_t DivideTop24(std::uint32_t top) {
    const std::int32_t value = static_cast<std::int32_t>(top) >> 8;
    return (value + ((value >> 31) & ((1 << Shift) - 1))) >> Shift;
}

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

void Convert8To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    // (in - 128) * 256: the byte with its top bit flipped becomes the high byte.
    for (std::uint64_t i = 0; i < samples; ++i) {
        out[2 * i] = 0;
        out[2 * i + 1] = static_cast<std::uint8_t>(in[i] ^ 0x80);
    }
}

void Convert16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = Bulk16To8(in, out, samples);
#endif
    for (; i < samples; ++i) {
        const auto value = static_cast<std::int16_t>(Load16(in + 2 * i));
        // 255 added to a negative value makes the shift truncate toward zero, as division does.
        const auto bias = static_cast<std::int16_t>((value >> 15) & 0xFF);
        out[i] = static_cast<std::uint8_t>(((value + bias) >> 8) + 128);
    }
}

void MonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = TESSALY_WIDE(WideMonoToStereo8(in, out, frames));
#endif
    for (; i < frames; ++i) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

void MonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = TESSALY_WIDE(WideMonoToStereo16(in, out, frames));
#endif
    for (; i < frames; ++i) {
        const std::uint16_t sample = Load16(in + 2 * i);
        Store16(out + 4 * i, sample);
        Store16(out + 4 * i + 2, sample);
    }
}

void StereoToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint16_t frame = Load16(in + 2 * i);
        out[i] = static_cast<std::uint8_t>(((frame & 0xFF) + (frame >> 8)) >> 1);
    }
}

void StereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = BulkStereoToMono16(in, out, frames);
#endif
    for (; i < frames; ++i) {
        const auto left = static_cast<std::int16_t>(Load16(in + 4 * i));
        const auto right = static_cast<std::int16_t>(Load16(in + 4 * i + 2));
        // The halves' sum, with the carry of their low bits, is the mean rounded down, all in
        // 16 bits; a negative mean of an odd sum moves up by one to truncate toward zero.
        const int floorMean = (left >> 1) + (right >> 1) + (left & right & 1);
        const int mean = floorMean + ((floorMean >> 15) & (left ^ right) & 1);
        Store16(out + 2 * i, static_cast<std::uint16_t>(mean));
    }
}

void Convert24To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#ifndef TESSALY_KERNEL_SCALAR
#if TESSALY_KERNEL_BULK
    i = Bulk24To16(in, out, samples);
#endif
    for (; i + 4 <= samples; i += 4) {
        const Quad quad = LoadQuad24(in + 3 * i);
        for (int k = 0; k < 4; ++k)
            Store16(out + 2 * (i + k), static_cast<std::uint16_t>(DivideTop24<8>(quad.S[k])));
    }
#endif
    for (; i < samples; ++i)
        Store16(out + 2 * i, static_cast<std::uint16_t>(Load24(in + 3 * i) / 256));
}

void Convert24To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#ifndef TESSALY_KERNEL_SCALAR
#if TESSALY_KERNEL_BULK
    i = Bulk24To8(in, out, samples);
#endif
    for (; i + 4 <= samples; i += 4) {
        const Quad quad = LoadQuad24(in + 3 * i);
        for (int k = 0; k < 4; ++k)
            out[i + k] = static_cast<std::uint8_t>(DivideTop24<16>(quad.S[k]) + 128);
    }
#endif
    for (; i < samples; ++i)
        out[i] = static_cast<std::uint8_t>(Load24(in + 3 * i) / 65536 + 128);
}

void Convert32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = TESSALY_WIDE(Wide32To16(in, out, samples));
#endif
    for (; i < samples; ++i)
        Store16(out + 2 * i,
                static_cast<std::uint16_t>(static_cast<std::int32_t>(Load32(in + 4 * i)) / 65536));
}

void Convert32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = TESSALY_WIDE(Wide32To8(in, out, samples));
#endif
    for (; i < samples; ++i)
        out[i] = static_cast<std::uint8_t>(
            static_cast<std::int32_t>(Load32(in + 4 * i)) / 16777216 + 128);
}

void ConvertFloat32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = BulkFloat32To16(in, out, samples);
#endif
    FloatTo16<Float32>(in + 4 * i, out + 2 * i, samples - i);
}

void ConvertFloat32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = BulkFloat32To8(in, out, samples);
#endif
    FloatTo8<Float32>(in + 4 * i, out + i, samples - i);
}

void ConvertFloat64To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = BulkFloat64To16(in, out, samples);
#endif
    FloatTo16<Float64>(in + 8 * i, out + 2 * i, samples - i);
}

void ConvertFloat64To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = BulkFloat64To8(in, out, samples);
#endif
    FloatTo8<Float64>(in + 8 * i, out + i, samples - i);
}

void MonoToStereo24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
#ifndef TESSALY_KERNEL_SCALAR
#if TESSALY_KERNEL_BULK
    i = BulkMonoToStereo24(in, out, frames);
#endif
    for (; i + 4 <= frames; i += 4) {
        const Quad quad = LoadQuad24(in + 3 * i);
        const std::uint32_t first[4] = {quad.S[0] >> 8, quad.S[0] >> 8, quad.S[1] >> 8,
                                        quad.S[1] >> 8};
        const std::uint32_t second[4] = {quad.S[2] >> 8, quad.S[2] >> 8, quad.S[3] >> 8,
                                         quad.S[3] >> 8};
        StoreQuad24(out + 6 * i, first);
        StoreQuad24(out + 6 * i + 12, second);
    }
#endif
    for (; i < frames; ++i) {
        const std::int32_t sample = Load24(in + 3 * i);
        Store24(out + 6 * i, sample);
        Store24(out + 6 * i + 3, sample);
    }
}

void MonoToStereo32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint32_t sample = Load32(in + 4 * i);
        Store32(out + 8 * i, sample);
        Store32(out + 8 * i + 4, sample);
    }
}

void MonoToStereo64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    std::uint64_t i = 0;
#if TESSALY_KERNEL_BULK
    i = TESSALY_WIDE(WideMonoToStereo64(in, out, frames));
#endif
    for (; i < frames; ++i) {
        const std::uint64_t sample = Load64(in + 8 * i);
        Store64(out + 16 * i, sample);
        Store64(out + 16 * i + 8, sample);
    }
}

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
