// The vector helpers the kernel files share, and the switches that say which the build has:
// TESSALY_KERNEL_BULK (AVX2 bulk functions) and TESSALY_WIDE (AVX-512 ones).
#pragma once

#include <cstdint>

#ifdef __AVX2__
#include <immintrin.h>
#endif

namespace {

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

// Four vectors of 32-bit values that fit 8 bits unsigned, in order, as thirty-two bytes.
inline __m256i Narrow32To8(__m256i a, __m256i b, __m256i c, __m256i d) {
    return _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d)),
        _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
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
#pragma GCC diagnostic pop
#else
#define TESSALY_WIDE(call) 0
#endif

#else
#define TESSALY_KERNEL_BULK 0
#endif

} // namespace
