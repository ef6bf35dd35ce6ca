#include "SampleConversion.h"

#include "LittleEndian.h"

// Plain loops over byte pointers: the compiler vectorises them, and reading through the
// little-endian helpers needs no alignment.

void Convert8To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i) {
        const int value = (static_cast<int>(in[i]) - 128) * 256;
        PutLE16(out + 2 * i, static_cast<std::uint16_t>(value));
    }
}

void Convert16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples) {
    for (std::uint64_t i = 0; i < samples; ++i) {
        const int value = static_cast<std::int16_t>(GetLE16(in + 2 * i));
        out[i] = static_cast<std::uint8_t>(value / 256 + 128);
    }
}

void MonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

void MonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        out[4 * i] = out[4 * i + 2] = in[2 * i];
        out[4 * i + 1] = out[4 * i + 3] = in[2 * i + 1];
    }
}

void StereoToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i)
        out[i] = static_cast<std::uint8_t>((in[2 * i] + in[2 * i + 1]) / 2);
}

void StereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    for (std::uint64_t i = 0; i < frames; ++i) {
        const int left = static_cast<std::int16_t>(GetLE16(in + 4 * i));
        const int right = static_cast<std::int16_t>(GetLE16(in + 4 * i + 2));
        PutLE16(out + 2 * i, static_cast<std::uint16_t>((left + right) / 2));
    }
}
