// The steps a file's wave goes through between its load and its save, each a call on the
// component that raises on failure.
#pragma once

#include "ConversionSettings.h"
#include "EarlySave.h"
#include "RvInternalWave.h"

#include <memory>
#include <string>

class TRvWave;

using SampleChange = TRvInternalWAVE::SampleChange;

// An 8-bit wave as if it went to 16 bit and back: the samples stay, but a trailing partial
// frame is dropped and block align and byte rate are recomputed; no 16-bit block is made.
void Renormalize8Bit(TRvWave& wave);
// Relabels the rate as the settings ask (a lower rate is kept when KeepLowerRate holds), unless
// they ask to resample.
void ConvertRate(TRvWave& wave, const ConversionSettings& settings);
// Where the settings ask to resample to another rate: that change, made together with the planned
// width and channel conversions, which it replaces. None otherwise.
SampleChange PlanResample(const TRvWave& wave, const SampleChange& bits,
                          const SampleChange& channels, const ConversionSettings& settings);
// The conversion to choice (8 or 16) when the wave has another width, none when choice is 0:
// checked as the width property checks it, but not yet made.
SampleChange PlanBits(const TRvWave& wave, std::int32_t choice);
// The conversion to choice (1 or 2) when the wave has another channel count, none when choice
// is 0, checked as the channel property checks it, for the wave as bits will leave it.
SampleChange PlanChannels(const TRvWave& wave, const SampleChange& bits, std::int32_t choice);
// Begins the save to destination of the wave as the planned conversions will leave it, where
// that gains time: samples still mapped from a file, which the conversion reads from the disk.
// None elsewhere, or when the destination cannot be begun now.
std::unique_ptr<EarlySave> BeginSave(TRvWave& wave, const SampleChange& bits,
                                     const SampleChange& channels, const std::string& destination);
// Makes the planned width and channel conversions: one pass over the samples, however many;
// early, if any, writes their output as it is made.
void ApplyChanges(TRvWave& wave, const SampleChange& bits, const SampleChange& channels,
                  EarlySave* early = nullptr);
// Saves the wave to destination: puts early's file in place when it holds the wave, else writes
// it anew (early's file is removed first).
void Save(TRvWave& wave, const std::string& destination, std::unique_ptr<EarlySave>& early);
