// The settings panel's choices, handed to the conversion of each file.
#pragma once

#include <cstdint>
#include <string>

enum class DestinationChoice {
    WavesFolder,     // "Waves" beside the program
    Overwrite,       // the source file itself
    SpecifiedFolder, // the folder typed into the panel
};

struct ConversionSettings {
    std::int32_t RateChoice = 0;     // 0 keeps the rate
    bool KeepLowerRate = true;       // a source rate below RateChoice is kept
    bool Resample = false;           // a new rate resamples the samples instead of relabelling them
    std::int32_t BitsChoice = 0;     // 0 keeps the width; else 8 or 16
    std::int32_t ChannelsChoice = 0; // 0 keeps the channels; else 1 or 2
    DestinationChoice Destination = DestinationChoice::WavesFolder;
    std::string TargetFolder;
};
