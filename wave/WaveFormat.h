// The 18-byte format record of a WAVE "fmt " chunk.
#pragma once

#include <array>
#include <cstdint>

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// The channel masks of a mono and a stereo wave made by a conversion.
constexpr std::uint32_t kSpeakerFrontCenter = 0x4;
constexpr std::uint32_t kSpeakerFrontLeftRight = 0x3;

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

// What a WAVE_FORMAT_EXTENSIBLE "fmt " chunk adds to the record. A wave read in that form is
// written in it again, unless it is 8- or 16-bit PCM in mono or stereo.
struct TWaveExtension {
    bool Extensible = false;
    std::uint16_t ValidBitsPerSample = 0;
    std::uint32_t ChannelMask = 0;

    bool operator==(const TWaveExtension&) const = default;
};
