// Integer samples to other widths: 8 to 16 bit and back, 24 and 32 bit to 16 or 8.
#include "SampleConversion.h"

#include "KernelBytes.h"
#include "KernelVector.h"

namespace {

#if TESSALY_KERNEL_BULK
#ifdef __AVX512BW__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

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
#pragma GCC diagnostic pop
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
        Store256(out + i, Narrow32To8(v[0], v[1], v[2], v[3]));
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
#endif

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

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
