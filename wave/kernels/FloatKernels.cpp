// Float samples, 32- and 64-bit, to 16- or 8-bit integers.
#include "SampleConversion.h"

#include "KernelBytes.h"
#include "KernelVector.h"

namespace {

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

#if TESSALY_KERNEL_BULK
#ifdef __AVX512BW__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

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
#pragma GCC diagnostic pop
#endif

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
        Store256(out + i, Narrow32To8(v[0], v[1], v[2], v[3]));
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
        Store256(out + i, Narrow32To8(v[0], v[1], v[2], v[3]));
    }
    return i;
}
#endif

} // namespace

#ifdef TESSALY_KERNEL_SET
namespace TESSALY_KERNEL_SET {
#endif

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

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
