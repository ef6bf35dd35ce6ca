// The 18-byte format record of a WAVE "fmt " chunk.
#pragma once

#include <array>
#include <cstdint>

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

struct TWaveFormatEx {
    static constexpr std::size_t ByteSize = 18;
    using Bytes = std::array<std::uint8_t, ByteSize>;

    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;

    // The record exactly as a "fmt " chunk stores it, little-endian with no gaps.
    Bytes ToBytes() const;
    static TWaveFormatEx FromBytes(const Bytes& bytes);

    bool operator==(const TWaveFormatEx&) const = default;
};
