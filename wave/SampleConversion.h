// The sample kernels behind the width and channel conversions. Each reads its input once,
// in buffer order, and writes exactly its output size; 16-bit samples are little-endian.
#pragma once

#include <cstdint>

// 8-bit unsigned to 16-bit signed: (in - 128) * 256.
void Convert8To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
// 16-bit signed to 8-bit unsigned: in / 256, truncated toward zero, + 128.
void Convert16To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);

// Mono to stereo: each sample twice.
void MonoToStereo8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);
void MonoToStereo16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);

// Stereo to mono: the sum of the two samples halved, truncated toward zero.
void StereoToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);
void StereoToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);
