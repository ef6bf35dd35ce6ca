// Mono to stereo for every container width, and stereo to mono for 8- and 16-bit samples.
#include "SampleConversion.h"

#include "KernelBytes.h"
#include "KernelVector.h"

namespace {

#if TESSALY_KERNEL_BULK
#ifdef __AVX512BW__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

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
#endif

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
#endif

} // namespace

#ifdef TESSALY_KERNEL_SET
namespace TESSALY_KERNEL_SET {
#endif

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

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
