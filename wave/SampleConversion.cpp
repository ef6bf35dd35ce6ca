#include "SampleConversion.h"

#include "LittleEndian.h"

#include <bit>
#include <cstring>

// Plain loops over byte pointers that the compiler turns into vector code: each step is
// integer arithmetic of one lane width, without branches or division. With GCC on x86-64 each
// kernel is also built for AVX2 and AVX-512, and the widest one the processor runs is picked
// when the program loads.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSALY_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TESSALY_KERNEL
#endif

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

} // namespace

TESSALY_KERNEL
void Convert8To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    // (in - 128) * 256: the byte with its top bit flipped becomes the high byte.
    for (std::uint64_t i = 0; i < samples; ++i) {
        out[2 * i] = 0;
        out[2 * i + 1] = static_cast<std::uint8_t>(in[i] ^ 0x80);
    }
}

TESSALY_KERNEL
void Convert16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i) {
        const auto value = static_cast<std::int16_t>(Load16(in + 2 * i));
        // 255 added to a negative value makes the shift truncate toward zero, as division does.
        const auto bias = static_cast<std::int16_t>((value >> 15) & 0xFF);
        out[i] = static_cast<std::uint8_t>(((value + bias) >> 8) + 128);
    }
}

TESSALY_KERNEL
void MonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

TESSALY_KERNEL
void MonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint16_t sample = Load16(in + 2 * i);
        Store16(out + 4 * i, sample);
        Store16(out + 4 * i + 2, sample);
    }
}

TESSALY_KERNEL
void StereoToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint16_t frame = Load16(in + 2 * i);
        out[i] = static_cast<std::uint8_t>(((frame & 0xFF) + (frame >> 8)) >> 1);
    }
}

TESSALY_KERNEL
void StereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const auto left = static_cast<std::int16_t>(Load16(in + 4 * i));
        const auto right = static_cast<std::int16_t>(Load16(in + 4 * i + 2));
        // The halves' sum, with the carry of their low bits, is the mean rounded down, all in
        // 16 bits; a negative mean of an odd sum moves up by one to truncate toward zero.
        const int floorMean = (left >> 1) + (right >> 1) + (left & right & 1);
        const int mean = floorMean + ((floorMean >> 15) & (left ^ right) & 1);
        Store16(out + 2 * i, static_cast<std::uint16_t>(mean));
    }
}
