// What every kernel file shares: samples read and stored as little-endian bytes, one sample kind
// at a time, and three-byte samples four at a time as whole words.
//
// The kernels are plain loops over byte pointers that the compiler turns into vector code: each
// step is integer arithmetic of one lane width, without branches or division. Every kernel file
// is built once per instruction set, each in its own namespace TESSALY_KERNEL_SET
// (SampleKernelPick.cpp picks among them); where a loop's shape hides its lanes from the
// compiler (three-byte samples, frames of several channels), the vector builds take the bulk in
// explicit vector code and leave the tail to the loop. The plain build (TESSALY_KERNEL_SCALAR)
// keeps only the loops.
//
// The helpers of these headers live in an unnamed namespace, so that each build keeps its own
// copy compiled for its own instruction set: shared inline functions would be merged by the
// linker, and the plain build could end up running another build's vector code.
#pragma once

#include "LittleEndian.h"

#include <bit>
#include <cstdint>
#include <cstring>

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
#endif

} // namespace
