// The steps a file's wave goes through between its load and its save, each a call on the
// component that raises on failure.
#pragma once

#include "ConversionSettings.h"
#include "RvInternalWave.h"

class TRvWave;

using SampleChange = TRvInternalWAVE::SampleChange;

// An 8-bit wave as if it went to 16 bit and back: the samples stay, but a trailing partial
// frame is dropped and block align and byte rate are recomputed; no 16-bit block is made.
void Renormalize8Bit(TRvWave& wave);
// Relabels the rate as the settings ask (a lower rate is kept when KeepLowerRate holds).
void ConvertRate(TRvWave& wave, const ConversionSettings& settings);
// The conversion to choice (8 or 16) when the wave has another width, none when choice is 0:
// checked as the width property checks it, but not yet made.
SampleChange PlanBits(const TRvWave& wave, std::int32_t choice);
// The conversion to choice (1 or 2) when the wave has another channel count, none when choice
// is 0, checked as the channel property checks it, for the wave as bits will leave it.
SampleChange PlanChannels(const TRvWave& wave, const SampleChange& bits, std::int32_t choice);
// Makes the planned width and channel conversions: one pass over the samples, however many.
void ApplyChanges(TRvWave& wave, const SampleChange& bits, const SampleChange& channels);
