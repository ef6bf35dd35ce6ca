// The sample kernels behind the width and channel conversions. Each reads its input once,
// in buffer order, and writes exactly its output size; 16-bit samples are little-endian. A
// kernel that makes fewer bytes than it reads is also run with its output over its input (out
// at or before in), so none takes its pointers as __restrict.
#pragma once

#include <cstdint>

#ifdef TESSALY_KERNEL_SET
namespace TESSALY_KERNEL_SET {
#endif

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

// Wider samples to 16- or 8-bit ones, truncating toward zero: a 24-bit value divided by 256 or
// by 65536 (+ 128), a 32-bit one by 65536 or by 16777216 (+ 128); a float x gives x * 32768 or
// x * 128 (+ 128), formed in double and clamped to the target's range, NaN giving 0.
void Convert24To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void Convert24To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void Convert32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void Convert32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void ConvertFloat32To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void ConvertFloat32To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void ConvertFloat64To16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);
void ConvertFloat64To8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t samples);

// Mono to stereo for 3-, 4- and 8-byte containers, whatever they hold.
void MonoToStereo24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);
void MonoToStereo32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);
void MonoToStereo64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames);

// Frames of any number of channels to their mean: integers summed in 64 bits (8-bit ones as
// the unsigned stored bytes) and divided by the channel count truncating toward zero; floats
// summed in double in channel order, divided, and stored at their width rounding to nearest.
void MixToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                std::uint32_t channels);
void MixToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels);
void MixToMono24(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels);
void MixToMono32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                 std::uint32_t channels);
void MixToMonoFloat32(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels);
void MixToMonoFloat64(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                      std::uint32_t channels);

#ifdef TESSALY_KERNEL_SET
} // namespace TESSALY_KERNEL_SET
#endif
