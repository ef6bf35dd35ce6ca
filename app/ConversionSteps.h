// The steps a file's wave goes through between its load and its save, each a call on the
// component that raises on failure.
#pragma once

#include "ConversionSettings.h"

class TRvWave;

// An 8-bit wave as if it went to 16 bit and back: the samples stay, but a trailing partial
// frame is dropped and block align and byte rate are recomputed; no 16-bit block is made.
void Renormalize8Bit(TRvWave& wave);
// Relabels the rate as the settings ask (a lower rate is kept when KeepLowerRate holds).
void ConvertRate(TRvWave& wave, const ConversionSettings& settings);
// Converts to choice (8 or 16) when the wave has another width; 0 keeps it.
void ConvertBits(TRvWave& wave, std::int32_t choice);
// Converts to choice (1 or 2) when the wave has another channel count; 0 keeps it.
void ConvertChannels(TRvWave& wave, std::int32_t choice);
